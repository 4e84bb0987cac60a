// Pieces of pages kept per owner: given out only for the very inputs they
// were drawn from, one per owner, within their bounds.
#include "web/drawn_pieces.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace wrenhaven::web {
namespace {

DrawnPieces::Piece Piece(const std::string& text) {
  return std::make_shared<const std::string>(text);
}

TEST(DrawnPiecesTest, GivenOutOnlyToItsOwnerForTheSameInputs) {
  DrawnPieces pieces;
  EXPECT_EQ(pieces.Find("a", "in"), nullptr);
  const DrawnPieces::Piece drawn = Piece("<li>");
  pieces.Keep("a", "in", drawn);
  EXPECT_EQ(pieces.Find("a", "in"), drawn);
  EXPECT_EQ(pieces.Find("b", "in"), nullptr);   // another owner
  EXPECT_EQ(pieces.Find("a", "in2"), nullptr);  // other inputs
  EXPECT_EQ(pieces.Find("a", "i"), nullptr);
  EXPECT_EQ(pieces.hits(), 1u);
  EXPECT_EQ(pieces.misses(), 4u);

  // A new drawing replaces the owner's old one.
  const DrawnPieces::Piece again = Piece("<li><li>");
  pieces.Keep("a", "in2", again);
  EXPECT_EQ(pieces.Find("a", "in2"), again);
  EXPECT_EQ(pieces.Find("a", "in"), nullptr);
  EXPECT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces.bytes(), 3u + 8u);
}

TEST(DrawnPiecesTest, FoundUnderOtherInputsOnlyWhileTheSamePiece) {
  DrawnPieces pieces(DrawnPieces::Limits{4, 30});
  const DrawnPieces::Piece drawn = Piece("<li>");
  EXPECT_FALSE(pieces.AlsoUnder("a", drawn, "v1"));  // nothing kept yet
  pieces.Keep("a", "in", drawn);
  EXPECT_FALSE(pieces.AlsoUnder("a", Piece("<li>"), "v1"));  // another piece
  EXPECT_EQ(pieces.Find("a", "v1"), nullptr);
  ASSERT_TRUE(pieces.AlsoUnder("a", drawn, "v1"));
  EXPECT_EQ(pieces.Find("a", "v1"), drawn);
  EXPECT_EQ(pieces.Find("a", "in"), drawn);
  EXPECT_EQ(pieces.Find("b", "v1"), nullptr);
  EXPECT_EQ(pieces.bytes(), 2u + 2u + 4u);

  // Other inputs replace the ones given before.
  ASSERT_TRUE(pieces.AlsoUnder("a", drawn, "v22"));
  EXPECT_EQ(pieces.Find("a", "v1"), nullptr);
  EXPECT_EQ(pieces.Find("a", "v22"), drawn);
  EXPECT_EQ(pieces.bytes(), 2u + 3u + 4u);
  // Past the room: refused, the piece stays as it was.
  EXPECT_FALSE(pieces.AlsoUnder("a", drawn, std::string(30, 'v')));
  EXPECT_EQ(pieces.Find("a", "v22"), drawn);

  // A new drawing forgets them.
  const DrawnPieces::Piece again = Piece("<p>");
  pieces.Keep("a", "in", again);
  EXPECT_EQ(pieces.Find("a", "v22"), nullptr);
  EXPECT_EQ(pieces.Find("a", "in"), again);
  EXPECT_EQ(pieces.bytes(), 2u + 3u);
  // Empty other inputs find nothing.
  ASSERT_TRUE(pieces.AlsoUnder("a", again, ""));
  EXPECT_EQ(pieces.Find("a", ""), nullptr);
}

TEST(DrawnPiecesTest, StayWithinTheirBounds) {
  DrawnPieces pieces(DrawnPieces::Limits{3, 40});
  for (const char* owner : {"a", "b", "c"}) pieces.Keep(owner, "i", Piece("p"));
  EXPECT_NE(pieces.Find("a", "i"), nullptr);  // found lately
  pieces.Keep("d", "i", Piece("p"));
  EXPECT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces.Find("b", "i"), nullptr);  // found longest ago: gone
  EXPECT_NE(pieces.Find("a", "i"), nullptr);

  // Larger than all the room: not kept, and the owner's old piece goes.
  pieces.Keep("a", "i", Piece(std::string(40, 'x')));
  EXPECT_EQ(pieces.Find("a", "i"), nullptr);
  EXPECT_EQ(pieces.size(), 2u);
  // Room is made by bytes too.
  pieces.Keep("e", "i", Piece(std::string(38, 'x')));
  EXPECT_EQ(pieces.size(), 1u);
  EXPECT_LE(pieces.bytes(), 40u);
  EXPECT_NE(pieces.Find("e", "i"), nullptr);
}

// What a piece holds lives as long as the piece is kept, and no longer;
// its size counts against the room.
TEST(DrawnPiecesTest, HoldTheirPinsWhileKept) {
  DrawnPieces pieces(DrawnPieces::Limits{8, 100});
  auto pin = std::make_shared<const std::string>("menus");
  const std::weak_ptr<const std::string> watch = pin;
  pieces.Keep("a", "in", Piece("page"), {pin}, 50);
  pin.reset();
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(pieces.bytes(), 2u + 4u + 50u);
  pieces.Keep("a", "in2", Piece("page"));
  EXPECT_TRUE(watch.expired());
  // Too large with its pins: not kept.
  pieces.Keep("b", "in", Piece("page"), {}, 95);
  EXPECT_EQ(pieces.Find("b", "in"), nullptr);
}

TEST(DrawnPiecesTest, InputsAreLedByTheirLengths) {
  std::string one, two;
  AddInput(one, "ab");
  AddInput(one, "c");
  AddInput(two, "a");
  AddInput(two, "bc");
  EXPECT_EQ(one, "2:ab1:c");
  EXPECT_NE(one, two);
}

}  // namespace
}  // namespace wrenhaven::web
