// Quoted values on a real PostgreSQL server (the one WRENHAVEN_TEST_POSTGRES
// names; skipped without it): texts made of backslashes, quotes and the
// other characters that end or escape a literal somewhere come back
// exactly as they went in, and never change what the statement does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "frame/statement.h"
#include "testing/test_db.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

// Texts built from the characters that matter to a literal, in runs that
// make the classic escapes (\', '', \\', E'...', $$) likely.
std::vector<std::string> HostileTexts(size_t count) {
  static const std::vector<std::string> kPieces = {
      "\\",           "'",     "''",    "\\'",     "\\\\", "\"", ";",
      "--",           "/*",    "*/",    "$$",      "$a$",  "E'", "e'",
      "\n",           "\r",    "\t",    " ",       "x",    "0",  "OR 1=1",
      "\xe4\xb8\xad", "\\x27", "\\047", "\\u0027", "%",    "_"};
  std::mt19937 random(20261207);
  std::uniform_int_distribution<size_t> piece(0, kPieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 12);
  std::vector<std::string> texts = {"", "\\", "'", "\\'", "'\\", "\\\\'"};
  while (texts.size() < count) {
    std::string text;
    for (int n = length(random); n > 0; --n) text += kPieces[piece(random)];
    texts.push_back(text);
  }
  return texts;
}

TEST(PostgresQuotingTest, BackslashesAndQuotesComeBackExactly) {
  const char* address = std::getenv("WRENHAVEN_TEST_POSTGRES");
  if (!address || !*address) {
    GTEST_SKIP() << "WRENHAVEN_TEST_POSTGRES names no server";
  }
  TestDb db("postgresql");
  db.Exec("CREATE TABLE quoted (n integer, v text)");
  const std::vector<std::string> texts = HostileTexts(1500);
  for (size_t i = 0; i < texts.size(); ++i) {
    Statement insert;
    insert.Text("INSERT INTO quoted (n, v) VALUES (")
        .Text(std::to_string(i))
        .Text(", '")
        .Quoted(Variant::String(texts[i]))
        .Text("')");
    db.Exec(insert.Finish());
  }
  // One row per statement, each with its own text: no value ended its
  // literal early or ran on into the next part of the statement.
  EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM quoted").ToLong(),
            static_cast<int64_t>(texts.size()));
  auto rs = db.conn()->Open("SELECT n, v FROM quoted ORDER BY n",
                            CursorType::kForwardOnly);
  size_t seen = 0;
  for (; !rs->Eof(); rs->MoveNext(), ++seen) {
    const auto n = static_cast<size_t>(rs->Value(0).ToLong());
    ASSERT_LT(n, texts.size());
    EXPECT_EQ(rs->Value(1).ToText(), texts[n]) << "value " << n;
  }
  EXPECT_EQ(seen, texts.size());
  // And as a condition: each text finds exactly its own row.
  for (size_t i = 0; i < texts.size(); i += 37) {
    Statement find;
    find.Text("SELECT COUNT(*) FROM quoted WHERE v = '")
        .Quoted(Variant::String(texts[i]))
        .Text("' AND n = ")
        .Text(std::to_string(i));
    EXPECT_EQ(db.Scalar(find.Finish()).ToLong(), 1) << "value " << i;
  }
}

}  // namespace
}  // namespace wrenhaven
