#include "frame/shapes.h"

#include <gtest/gtest.h>

#include "frame/static_recordset.h"
#include "testing/recording_connection.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

RecordingConnection::Result Numbers(int rows) {
  RecordingConnection::Result r{{"ID", "Name"}, {}};
  for (int i = 1; i <= rows; ++i) {
    r.rows.push_back(
        {Variant::Long(i), Variant::String("n" + std::to_string(i))});
  }
  return r;
}

VariantArray Read(int rows, VariantArray (*reader)(Recordset&)) {
  RecordingConnection conn;
  conn.Queue(Numbers(rows));
  return Query(conn, "q", CursorType::kStatic, reader);
}

TEST(ShapesTest, ReadAllRowsIsFieldFirst) {
  EXPECT_EQ(Read(2, ReadAllRows).Dump(), "(0 To 1, 0 To 1) [1] [2] [n1] [n2]");
  EXPECT_EQ(Read(0, ReadAllRows).Dump(), "(0 To 0, 0 To 0) []");
}

TEST(ShapesTest, ReadTitledTableHasTheNamesRowFirst) {
  EXPECT_EQ(Read(1, ReadTitledTable).Dump(),
            "(0 To 1, 0 To 1) [ID] [Name] [1] [n1]");
  EXPECT_EQ(Read(0, ReadTitledTable).Dump(), "(0 To 0, 0 To 1) [ID] [Name]");
}

TEST(ShapesTest, ReadFirstRecordTakesTheFirstRowOnly) {
  EXPECT_EQ(Read(2, ReadFirstRecord).Dump(), "(0 To 1) [1] [n1]");
  EXPECT_EQ(Read(0, ReadFirstRecord).Dump(), "()");
}

TEST(ShapesTest, ReadNamesRow) {
  EXPECT_EQ(Read(3, ReadNamesRow).Dump(), "(0 To 0, 0 To 1) [ID] [Name]");
}

VariantArray Page(int rows, const Variant& size, const Variant& page) {
  RecordingConnection conn;
  conn.Queue(Numbers(rows));
  return Query(conn, "q", CursorType::kStatic,
               [&](Recordset& rs) { return ReadPage(rs, size, page); });
}

TEST(ShapesTest, FiveRowsByTwoGiveTwoTwoAndOne) {
  EXPECT_EQ(Page(5, Variant::Long(2), Variant::Long(1)).Dump(),
            "(0 To 1, 0 To 1) [1] [n1] [2] [n2]");
  EXPECT_EQ(Page(5, Variant::Long(2), Variant::Long(2)).Dump(),
            "(0 To 1, 0 To 1) [3] [n3] [4] [n4]");
  EXPECT_EQ(Page(5, Variant::Long(2), Variant::Long(3)).Dump(),
            "(0 To 0, 0 To 1) [5] [n5]");
  // Sizes and pages given as text are read as numbers.
  EXPECT_EQ(Page(5, Variant::String("2"), Variant::String("3")).Dump(),
            "(0 To 0, 0 To 1) [5] [n5]");
}

TEST(ShapesTest, AnEmptyResultHasNoPagesAndNoError) {
  EXPECT_EQ(Page(0, Variant::Long(2), Variant::Long(1)).Dump(), "()");
}

TEST(ShapesTest, PagesThatHoldNoRowRaise) {
  for (const auto& [size, page] : std::vector<std::pair<Variant, Variant>>{
           {Variant::Long(2), Variant::Long(0)},
           {Variant::Long(2), Variant::Long(4)},
           {Variant::Long(0), Variant::Long(1)},
           {Variant::Long(-1), Variant::Long(1)},
           {Variant::String("x"), Variant::Long(1)},
           {Variant::Long(2), Variant::Null()}}) {
    EXPECT_THROW(Page(5, size, page), Error)
        << size.Debug() << " " << page.Debug();
  }
}

TEST(ShapesTest, RunCommandSendsTheStatementAndAnswersTrue) {
  RecordingConnection conn;
  EXPECT_TRUE(RunCommand(conn, "Delete from X where ID=1"));
  EXPECT_EQ(conn.sent, std::vector<std::string>{"Delete from X where ID=1"});
}

TEST(ShapesTest, AClosedResultSetRefusesFurtherUse) {
  StaticRecordset rs({"A"}, {Variant::Long(1)});
  rs.Close();
  EXPECT_THROW((void)rs.Eof(), Error);
}

}  // namespace
}  // namespace wrenhaven
