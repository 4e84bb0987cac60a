#include "web/drawn_pieces.h"

#include <string>
#include <utility>

#include "web/bounded_keep.h"

namespace wrenhaven::web {

DrawnPieces::Piece DrawnPieces::Find(std::string_view owner,
                                     std::string_view inputs) {
  Piece found;
  {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(owner);
    if (it != entries_.end() &&
        (it->second.inputs == inputs || (!it->second.other_inputs.empty() &&
                                         it->second.other_inputs == inputs))) {
      it->second.used.store(clock_.fetch_add(1) + 1, std::memory_order_relaxed);
      found = it->second.piece;
    }
  }
  (found ? hits_ : misses_).fetch_add(1, std::memory_order_relaxed);
  return found;
}

void DrawnPieces::Keep(std::string owner, std::string inputs, Piece piece,
                       std::vector<std::shared_ptr<const void>> pins,
                       size_t pinned_bytes) {
  if (!piece || limits_.pieces == 0) return;
  const size_t weight = inputs.size() + piece->size() + pinned_bytes;
  std::lock_guard lock(mutex_);
  if (weight > limits_.bytes) {
    // Too large to keep: the owner's older piece goes all the same.
    const auto it = entries_.find(owner);
    if (it != entries_.end()) {
      bytes_ -= it->second.weight();
      entries_.erase(it);
    }
    return;
  }
  KeepRoomy(entries_, bytes_, std::move(owner), weight, limits_.pieces,
            limits_.bytes, clock_, [&](Entry& entry) {
              entry.inputs = std::move(inputs);
              entry.other_inputs.clear();
              entry.piece = std::move(piece);
              entry.pins = std::move(pins);
              entry.pinned_bytes = pinned_bytes;
            });
}

bool DrawnPieces::AlsoUnder(std::string_view owner, const Piece& piece,
                            std::string other) {
  std::lock_guard lock(mutex_);
  const auto it = entries_.find(owner);
  if (it == entries_.end() || it->second.piece != piece) return false;
  Entry& entry = it->second;
  const size_t before = entry.weight();
  if (bytes_ - entry.other_inputs.size() + other.size() > limits_.bytes) {
    return false;
  }
  entry.other_inputs = std::move(other);
  bytes_ = bytes_ - before + entry.weight();
  return true;
}

void AddInput(std::string& inputs, std::string_view part) {
  inputs += std::to_string(part.size());
  inputs += ':';
  inputs += part;
}

size_t DrawnPieces::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

size_t DrawnPieces::bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

}  // namespace wrenhaven::web
