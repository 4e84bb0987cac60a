// A statement's tokens as SQLite reads them, for comparing the structure of
// two statements: the same kinds of token in the same order, and the same
// text for every token that is not a literal.
#ifndef WRENHAVEN_FUZZ_SQL_TOKENS_H_
#define WRENHAVEN_FUZZ_SQL_TOKENS_H_

#include <string>
#include <string_view>
#include <vector>

namespace wrenhaven::fuzz {

enum class TokenKind {
  kString,      // '...' with '' inside
  kNumber,      // 12, 1.5, 1e3, .5, 0x1F
  kWord,        // a keyword or a plain identifier
  kQuotedName,  // "...", `...` or [...]
  kVariable,    // ?, ?1, :name, @name, $name
  kComment,     // -- ... or /* ... */
  kOperator,    // punctuation, one or more characters
  kSemicolon,
  kNul,     // a NUL byte: SQLite reads no further
  kBroken,  // an unterminated literal, name or comment, or a stray byte
};

struct Token {
  TokenKind kind;
  std::string text;
};

std::vector<Token> Tokenize(std::string_view sql);

// "" when `a` and `b` have the same structure; otherwise where they part.
std::string CompareStructure(std::string_view a, std::string_view b);

}  // namespace wrenhaven::fuzz

#endif  // WRENHAVEN_FUZZ_SQL_TOKENS_H_
