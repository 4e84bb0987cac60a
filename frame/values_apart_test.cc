// Values given apart from a statement's text reach each database exactly,
// through its driver and through the default that writes them in.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

// Passes on whole texts only, so that the values go the default way:
// written into the text as literals.
class WholeTexts : public TappedConnection {
 public:
  using TappedConnection::TappedConnection;
  void ExecuteWith(std::string_view statement,
                   std::span<const Variant> values) override {
    Connection::ExecuteWith(statement, values);
  }
  std::unique_ptr<Recordset> OpenWith(std::string_view statement,
                                      std::span<const Variant> values,
                                      CursorType cursor) override {
    return Connection::OpenWith(statement, values, cursor);
  }
};

// The driver's own way, and the default.
enum class Way { kDriver, kWrittenIn };

class ValuesApartOnDatabasesTest
    : public ::testing::TestWithParam<std::tuple<std::string, Way>> {
 protected:
  ValuesApartOnDatabasesTest() : db_(std::get<0>(GetParam())) {
    db_.Exec(
        "CREATE TABLE vals (id integer, s text, big bigint, r double "
        "precision)");
    if (std::get<1>(GetParam()) == Way::kDriver) {
      conn_ = db_.conn();
    } else {
      conn_ = std::make_shared<WholeTexts>(db_.conn());
    }
  }

  Variant One(std::string_view query, std::vector<Variant> values) {
    auto rs = conn_->OpenWith(query, values, CursorType::kForwardOnly);
    if (rs->Eof()) return Variant::Empty();
    Variant v = rs->Value(0);
    rs->Close();
    return v;
  }

  TestDb db_;
  std::shared_ptr<Connection> conn_;
};

TEST_P(ValuesApartOnDatabasesTest, TextsComeBackExactly) {
  const std::vector<Variant> texts = {
      Variant::String("it's"),
      Variant::String("''"),
      Variant::String("back\\slash\\"),
      Variant::String("\\'"),
      Variant::String("$1 $2 $$ $a$ ?"),
      Variant::String("\xC3\xBCn\xC3\xAF c\xC3\xB8"
                      "d\xC3\xA9 \xE2\x9C\x93"),
      Variant::String("x'); DROP TABLE vals; --"),
      Variant::String(std::string(100000, 'q') + "'"),
      Variant::String(""),
      Variant::Null(),
  };
  for (size_t i = 0; i < texts.size(); ++i) {
    const Variant values[] = {Variant::Long(static_cast<int32_t>(i)), texts[i]};
    conn_->ExecuteWith("INSERT INTO vals (id, s) VALUES ($1, $2)", values);
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(One("SELECT s FROM vals WHERE id = $1",
                  {Variant::Long(static_cast<int32_t>(i))}),
              texts[i])
        << i;
    if (!texts[i].is_null()) {
      EXPECT_EQ(
          One("SELECT COUNT(*) FROM vals WHERE s = $1", {texts[i]}).ToLong(), 1)
          << i;
    }
  }
  EXPECT_EQ(One("SELECT COUNT(*) FROM vals WHERE s IS NULL", {}).ToLong(), 1);
}

TEST_P(ValuesApartOnDatabasesTest, NumbersPast32BitsComeBackExactly) {
  const std::vector<Variant> numbers = {
      Variant::Double(5000000000.0), Variant::Double(4503599627370497.0),
      Variant::Double(-1733000000123456.0), Variant::Long(INT32_MIN),
      Variant::String("9007199254740993")};
  for (size_t i = 0; i < numbers.size(); ++i) {
    conn_->ExecuteWith(
        "INSERT INTO vals (id, big, r) VALUES ($1, $2, $3)",
        std::vector<Variant>{Variant::Long(static_cast<int32_t>(i)), numbers[i],
                             Variant::Double(0.1 * i)});
  }
  for (size_t i = 0; i + 1 < numbers.size(); ++i) {
    EXPECT_EQ(One("SELECT big FROM vals WHERE id = $1",
                  {Variant::Long(static_cast<int32_t>(i))})
                  .ToDouble(),
              numbers[i].ToDouble())
        << i;
    EXPECT_EQ(One("SELECT r FROM vals WHERE id = $1",
                  {Variant::Long(static_cast<int32_t>(i))}),
              Variant::Double(0.1 * i))
        << i;
  }
  // Past 2^53 the database compares the digits given, not a double near
  // them.
  EXPECT_EQ(One("SELECT id FROM vals WHERE big = $1",
                {Variant::String("9007199254740993")}),
            Variant::Long(4));
  EXPECT_EQ(One("SELECT id FROM vals WHERE big = $1",
                {Variant::String("9007199254740992")}),
            Variant::Empty());
  EXPECT_EQ(One("SELECT id FROM vals WHERE big > $1 ORDER BY id LIMIT $2 "
                "OFFSET $3",
                {Variant::Double(-1e16), Variant::Long(1), Variant::Long(1)}),
            Variant::Long(1));
  EXPECT_EQ(One("SELECT id FROM vals ORDER BY id LIMIT $1 OFFSET $2",
                {Variant::Long(5), Variant::String("9223372036854775807")}),
            Variant::Empty());
}

TEST_P(ValuesApartOnDatabasesTest, MarksInQuotesAreText) {
  auto rs = conn_->OpenWith("SELECT '$1' AS a, $1 AS b, 'it''s $2' AS c",
                            std::vector<Variant>{Variant::String("v")},
                            CursorType::kForwardOnly);
  EXPECT_EQ(rs->Value(0), Variant::String("$1"));
  EXPECT_EQ(rs->Value(1), Variant::String("v"));
  EXPECT_EQ(rs->Value(2), Variant::String("it's $2"));
}

TEST_P(ValuesApartOnDatabasesTest, AWrongCountRaisesBeforeAnythingRuns) {
  for (const std::vector<Variant>& values :
       {std::vector<Variant>{}, std::vector<Variant>{Variant::Long(1)},
        std::vector<Variant>{Variant::Long(1), Variant::Long(2),
                             Variant::Long(3)}}) {
    try {
      conn_->ExecuteWith("INSERT INTO vals (id, s) VALUES ($1, $2)", values);
      ADD_FAILURE() << values.size() << " values taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument) << e.what();
    }
  }
  EXPECT_THROW(conn_->ExecuteWith("INSERT INTO vals (id) VALUES ($1)",
                                  std::vector<Variant>{Variant::Empty()}),
               Error);
  EXPECT_EQ(db_.Scalar("SELECT COUNT(*) FROM vals").ToLong(), 0);
}

std::string Named(
    const ::testing::TestParamInfo<std::tuple<std::string, Way>>& info) {
  return std::get<0>(info.param) +
         (std::get<1>(info.param) == Way::kDriver ? "Driver" : "WrittenIn");
}

INSTANTIATE_TEST_SUITE_P(
    Databases, ValuesApartOnDatabasesTest,
    ::testing::Combine(::testing::ValuesIn(TestDatabases()),
                       ::testing::Values(Way::kDriver, Way::kWrittenIn)),
    Named);

}  // namespace
}  // namespace wrenhaven
