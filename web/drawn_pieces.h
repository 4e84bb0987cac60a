// Pieces of pages as drawn for one owner (a session, say), kept with the
// exact inputs they were drawn from.
//
// A piece is given out again only to its owner and only for inputs equal
// to those it was drawn from, so it can never show what another owner, or
// an older state, would see; a page still gathers its inputs every time
// and saves only the drawing. Each owner has at most one piece: a new
// drawing replaces the old one.
//
// Inputs that are themselves kept drawings (shared and never changed) may
// stand in the inputs by their address, when the piece holds them (`pins`)
// for as long as it is kept: an address then cannot be taken by another
// drawing meanwhile.
//
// Bounded: at most Limits::pieces pieces of at most Limits::bytes (inputs
// and markup) together; to make room the pieces found longest ago go, and
// one larger than all the room is not kept. Safe to use from several
// threads at once.
#ifndef WRENHAVEN_WEB_DRAWN_PIECES_H_
#define WRENHAVEN_WEB_DRAWN_PIECES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace wrenhaven::web {

class DrawnPieces {
 public:
  struct Limits {
    size_t pieces = 4096;
    size_t bytes = size_t{32} << 20;
  };
  using Piece = std::shared_ptr<const std::string>;

  DrawnPieces() : DrawnPieces(Limits{}) {}
  explicit DrawnPieces(Limits limits) : limits_(limits) {}
  DrawnPieces(const DrawnPieces&) = delete;
  DrawnPieces& operator=(const DrawnPieces&) = delete;

  // The piece kept for `owner` when it was drawn from exactly `inputs`;
  // nullptr otherwise.
  Piece Find(std::string_view owner, std::string_view inputs);
  // Keeps `piece`, drawn from `inputs`, for `owner` (instead of any other),
  // holding `pins` (of `pinned_bytes` together) with it.
  void Keep(std::string owner, std::string inputs, Piece piece,
            std::vector<std::shared_ptr<const void>> pins = {},
            size_t pinned_bytes = 0);

  // Lets the owner's piece, while it is still `piece`, be found under
  // `other` inputs as well (instead of any given before): inputs of
  // another shape that stand for the same drawing, say a version that
  // moves with every change of what it was drawn from. False when the
  // owner holds another piece or none.
  bool AlsoUnder(std::string_view owner, const Piece& piece, std::string other);

  size_t size() const;
  size_t bytes() const;
  uint64_t hits() const { return hits_.load(std::memory_order_relaxed); }
  uint64_t misses() const { return misses_.load(std::memory_order_relaxed); }

 private:
  struct Entry {
    std::string inputs;
    std::string other_inputs;  // see AlsoUnder; "" for none
    Piece piece;
    std::vector<std::shared_ptr<const void>> pins;
    size_t pinned_bytes = 0;
    std::atomic<uint64_t> used{0};
    size_t weight() const {
      return inputs.size() + other_inputs.size() + piece->size() + pinned_bytes;
    }
  };

  const Limits limits_;
  mutable std::mutex mutex_;
  std::map<std::string, Entry, std::less<>> entries_;
  size_t bytes_ = 0;
  std::atomic<uint64_t> clock_{0};
  std::atomic<uint64_t> hits_{0};
  std::atomic<uint64_t> misses_{0};
};

// Appends `part` to `inputs`, led by its length, so that no two lists of
// parts give the same text.
void AddInput(std::string& inputs, std::string_view part);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_DRAWN_PIECES_H_
