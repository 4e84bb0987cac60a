#include "fuzz/sql_tokens.h"

namespace wrenhaven::fuzz {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// SQLite takes every byte beyond ASCII as part of a name.
bool StartsName(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool InName(char c) { return StartsName(c) || IsDigit(c) || c == '$'; }

const char* KindName(TokenKind kind) {
  switch (kind) {
    case TokenKind::kString:
      return "string";
    case TokenKind::kNumber:
      return "number";
    case TokenKind::kWord:
      return "word";
    case TokenKind::kQuotedName:
      return "quoted name";
    case TokenKind::kVariable:
      return "variable";
    case TokenKind::kComment:
      return "comment";
    case TokenKind::kOperator:
      return "operator";
    case TokenKind::kSemicolon:
      return "semicolon";
    case TokenKind::kNul:
      return "NUL";
    case TokenKind::kBroken:
      return "broken token";
  }
  return "?";
}

std::string Show(const std::vector<Token>& tokens, size_t i) {
  if (i >= tokens.size()) return "the end";
  return std::string(KindName(tokens[i].kind)) + " [" + tokens[i].text + "]";
}

}  // namespace

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> out;
  size_t i = 0;
  const size_t n = sql.size();
  auto add = [&](TokenKind kind, size_t start) {
    out.push_back({kind, std::string(sql.substr(start, i - start))});
  };
  while (i < n) {
    const size_t start = i;
    const char c = sql[i];
    if (IsSpace(c)) {
      ++i;
      continue;
    }
    if (c == '\0') {
      out.push_back({TokenKind::kNul, ""});
      break;  // SQLite reads a statement up to its first NUL
    }
    if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
      add(TokenKind::kComment, start);
      continue;
    }
    if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
      add(end == std::string_view::npos ? TokenKind::kBroken
                                        : TokenKind::kComment,
          start);
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      ++i;
      bool closed = false;
      while (i < n) {
        if (sql[i] == c) {
          if (i + 1 < n && sql[i + 1] == c) {
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        ++i;
      }
      add(!closed     ? TokenKind::kBroken
          : c == '\'' ? TokenKind::kString
                      : TokenKind::kQuotedName,
          start);
      continue;
    }
    if (c == '[') {
      const size_t end = sql.find(']', i + 1);
      i = end == std::string_view::npos ? n : end + 1;
      add(end == std::string_view::npos ? TokenKind::kBroken
                                        : TokenKind::kQuotedName,
          start);
      continue;
    }
    if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(sql[i + 1]))) {
      if (c == '0' && i + 2 < n && (sql[i + 1] == 'x' || sql[i + 1] == 'X') &&
          IsHex(sql[i + 2])) {
        i += 2;
        while (i < n && IsHex(sql[i])) ++i;
      } else {
        while (i < n && IsDigit(sql[i])) ++i;
        if (i < n && sql[i] == '.') {
          ++i;
          while (i < n && IsDigit(sql[i])) ++i;
        }
        if (i < n && (sql[i] == 'e' || sql[i] == 'E') &&
            ((i + 1 < n && IsDigit(sql[i + 1])) ||
             (i + 2 < n && (sql[i + 1] == '+' || sql[i + 1] == '-') &&
              IsDigit(sql[i + 2])))) {
          i += 2;
          while (i < n && IsDigit(sql[i])) ++i;
        }
      }
      // A name straight after a number is no number at all.
      if (i < n && InName(sql[i])) {
        while (i < n && InName(sql[i])) ++i;
        add(TokenKind::kBroken, start);
      } else {
        add(TokenKind::kNumber, start);
      }
      continue;
    }
    if (StartsName(c)) {
      while (i < n && InName(sql[i])) ++i;
      add(TokenKind::kWord, start);
      continue;
    }
    if (c == '?') {
      ++i;
      while (i < n && IsDigit(sql[i])) ++i;
      add(TokenKind::kVariable, start);
      continue;
    }
    if (c == ':' || c == '@' || c == '$' || c == '#') {
      ++i;
      while (i < n && InName(sql[i])) ++i;
      add(i - start > 1 ? TokenKind::kVariable : TokenKind::kBroken, start);
      continue;
    }
    if (c == ';') {
      ++i;
      add(TokenKind::kSemicolon, start);
      continue;
    }
    static constexpr std::string_view kLong[] = {"->>", "||", "<=", ">=", "<>",
                                                 "!=",  "==", "<<", ">>", "->"};
    bool matched = false;
    for (const std::string_view op : kLong) {
      if (sql.substr(i, op.size()) == op) {
        i += op.size();
        add(TokenKind::kOperator, start);
        matched = true;
        break;
      }
    }
    if (matched) continue;
    static constexpr std::string_view kShort = "(),+-*/%=<>&|~.";
    ++i;
    add(kShort.find(c) != std::string_view::npos ? TokenKind::kOperator
                                                 : TokenKind::kBroken,
        start);
  }
  return out;
}

std::string CompareStructure(std::string_view a, std::string_view b) {
  const std::vector<Token> ta = Tokenize(a);
  const std::vector<Token> tb = Tokenize(b);
  const size_t n = ta.size() > tb.size() ? ta.size() : tb.size();
  for (size_t i = 0; i < n; ++i) {
    const bool same =
        i < ta.size() && i < tb.size() && ta[i].kind == tb[i].kind &&
        (ta[i].kind == TokenKind::kString || ta[i].kind == TokenKind::kNumber ||
         ta[i].text == tb[i].text);
    if (!same) {
      return "token " + std::to_string(i) + " is " + Show(ta, i) +
             " where the harmless statement has " + Show(tb, i);
    }
  }
  return "";
}

}  // namespace wrenhaven::fuzz
