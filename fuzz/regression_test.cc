// Every input checked in for the fuzzers (the seeds and the inputs that
// once broke an invariant) still passes its harness's check; and the
// checks themselves tell a changed statement, table by table, from an
// unchanged one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/checks.h"
#include "fuzz/sql_tokens.h"

namespace wrenhaven::fuzz {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Harness {
  const char* name;
  std::function<std::string(std::string_view)> check;
};

void PrintTo(const Harness& h, std::ostream* os) { *os << h.name; }

const Harness kHarnesses[] = {
    {"statement", CheckStatement},
    {"wire", CheckWire},
    {"session_text", CheckSessionText},
    {"json_variant", CheckJsonVariant},
    {"csv", CheckCsv},
};

class CorpusTest : public ::testing::TestWithParam<Harness> {};

TEST_P(CorpusTest, EveryCheckedInInputPasses) {
  const fs::path folder = fs::path(WRENHAVEN_FUZZ_CORPUS) / GetParam().name;
  ASSERT_TRUE(fs::is_directory(folder)) << folder;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  EXPECT_GE(files.size(), 3u) << "a seed corpus of a handful of inputs";
  for (const fs::path& file : files) {
    EXPECT_EQ(GetParam().check(ReadFile(file)), "") << file.filename();
  }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, CorpusTest, ::testing::ValuesIn(kHarnesses),
                         [](const auto& info) { return info.param.name; });

// The inputs that once broke a check, each by name.
struct Regression {
  const char* file;
  std::function<std::string(std::string_view)> check;
};

void PrintTo(const Regression& r, std::ostream* os) { *os << r.file; }

class RegressionTest : public ::testing::TestWithParam<Regression> {};

TEST_P(RegressionTest, PassesItsCheck) {
  const fs::path file = fs::path(WRENHAVEN_FUZZ_CORPUS) / GetParam().file;
  ASSERT_TRUE(fs::is_regular_file(file)) << file;
  EXPECT_EQ(GetParam().check(ReadFile(file)), "");
}

const Regression kRegressions[] = {
    // A NUL inside a quoted value cut the statement short for SQLite.
    {"statement/regression-nul-in-quoted-value", CheckStatement},
    // A whole number beyond the signed 64 bits read as Long(-1).
    {"json_variant/regression-beyond-int64", CheckJsonVariant},
    // Bounds at the ends of the 32-bit range overflowed the size check.
    {"json_variant/regression-lowest-bound", CheckJsonVariant},
    {"json_variant/regression-widest-bounds", CheckJsonVariant},
    // Three dimensions of a million each were allocated at once.
    {"json_variant/regression-too-many-cells", CheckJsonVariant},
};

INSTANTIATE_TEST_SUITE_P(Inputs, RegressionTest,
                         ::testing::ValuesIn(kRegressions),
                         [](const auto& info) {
                           std::string name =
                               fs::path(info.param.file).filename().string();
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           }
                           return name;
                         });

// The statement check's judge, on statements that a careless builder
// would send. Each must be told apart from its harmless twin.
TEST(StatementJudgeTest, ChangedStructureIsCaught) {
  const std::string person = "Select * from HR_person where personAccount='";
  struct Case {
    const char* what;
    std::string sql;
    std::string twin;
  };
  const Case cases[] = {
      {"a quote ends the literal", person + "x' or '1'='1'", person + "a'"},
      {"a comment cuts the rest", person + "x' --'", person + "a'"},
      {"a second statement", person + "x'; delete from HR_Login; --'",
       person + "a'"},
      {"an unterminated literal", person + "x''", person + "a'"},
      {"a NUL cuts the statement", person + std::string("x\0'", 3),
       person + "a'"},
      {"a bare value that is no number",
       "Delete from SYS_Menu where MenuID=1 or 1=1",
       "Delete from SYS_Menu where MenuID=1"},
      {"a parameter smuggled in", "Delete from SYS_Menu where MenuID=?",
       "Delete from SYS_Menu where MenuID=1"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(CompareStatements(c.sql, c.twin), "") << c.what;
  }
}

TEST(StatementJudgeTest, LiteralsOfAnyContentAreTheSameStructure) {
  const std::string person = "Select * from HR_person where personAccount='";
  EXPECT_EQ(CompareStatements(person + "x'' or ''1''=''1'", person + "a'"), "");
  EXPECT_EQ(CompareStatements(person + "--/*;?'", person + "a'"), "");
  EXPECT_EQ(CompareStatements("Delete from SYS_Menu where MenuID=-12.5e3",
                              "Delete from SYS_Menu where MenuID=-1"),
            "");
}

TEST(StatementJudgeTest, TokensAsSqliteReadsThem) {
  struct Case {
    const char* sql;
    std::vector<TokenKind> kinds;
  };
  using K = TokenKind;
  const Case cases[] = {
      {"a='it''s'", {K::kWord, K::kOperator, K::kString}},
      {"x.5e3y", {K::kWord, K::kBroken}},
      {"1--c\n2", {K::kNumber, K::kComment, K::kNumber}},
      {"[a b] \"c\"\"d\" `e`",
       {K::kQuotedName, K::kQuotedName, K::kQuotedName}},
      {"/* x */ :v ?3 @w",
       {K::kComment, K::kVariable, K::kVariable, K::kVariable}},
      {"a||b->>c;",
       {K::kWord, K::kOperator, K::kWord, K::kOperator, K::kWord,
        K::kSemicolon}},
      {"'open", {K::kBroken}},
      {"0x1F 1.", {K::kNumber, K::kNumber}},
  };
  for (const Case& c : cases) {
    std::vector<TokenKind> kinds;
    for (const Token& t : Tokenize(c.sql)) kinds.push_back(t.kind);
    EXPECT_EQ(kinds, c.kinds) << c.sql;
  }
}

TEST(FieldsTest, SplitAtTheUnitSeparator) {
  EXPECT_EQ(SplitFields("a\x1F"
                        "b\x1F"
                        "c",
                        2),
            (std::vector<std::string>{"a",
                                      "b\x1F"
                                      "c"}));
  EXPECT_EQ(SplitFields("", 3), (std::vector<std::string>{""}));
}

}  // namespace
}  // namespace wrenhaven::fuzz
