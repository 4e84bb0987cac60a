#include "db/sqlite/writer_turn.h"

#include <algorithm>
#include <map>

#include "wrenhaven/error.h"

namespace wrenhaven::sqlite {

void WriterTurn::Take(std::chrono::milliseconds patience) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (held_ && holder_ == std::this_thread::get_id()) {
    Raise(ErrorCode::kDatabase,
          "This thread already writes to the database through another "
          "connection; a second writer would wait for itself");
  }
  const uint64_t mine = next_ticket_++;
  waiting_.push_back(mine);
  const bool mine_now = changed_.wait_for(
      lock, patience, [&] { return !held_ && waiting_.front() == mine; });
  if (!mine_now) {
    waiting_.erase(std::find(waiting_.begin(), waiting_.end(), mine));
    lock.unlock();
    changed_.notify_all();  // the next in line may be free to go now
    Raise(ErrorCode::kUnavailable,
          "The database is busy: another writer has held it for more than " +
              std::to_string(patience.count() / 1000) + " seconds");
  }
  waiting_.pop_front();
  held_ = true;
  holder_ = std::this_thread::get_id();
}

void WriterTurn::Give() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    holder_ = std::thread::id();
  }
  changed_.notify_all();
}

std::shared_ptr<WriterTurn> WriterTurnFor(const std::string& file) {
  if (file.empty()) return nullptr;
  static std::mutex mutex;
  static std::map<std::string, std::weak_ptr<WriterTurn>> turns;
  std::lock_guard<std::mutex> lock(mutex);
  std::erase_if(turns,
                [](const auto& entry) { return entry.second.expired(); });
  std::weak_ptr<WriterTurn>& slot = turns[file];
  std::shared_ptr<WriterTurn> turn = slot.lock();
  if (!turn) {
    turn = std::make_shared<WriterTurn>();
    slot = turn;
  }
  return turn;
}

void InWriterTurn(const std::string& file, std::chrono::milliseconds patience,
                  const std::function<void()>& work) {
  const std::shared_ptr<WriterTurn> turn = WriterTurnFor(file);
  if (!turn) {
    work();
    return;
  }
  turn->Take(patience);
  struct Release {
    WriterTurn& turn;
    ~Release() { turn.Give(); }
  } release{*turn};
  work();
}

}  // namespace wrenhaven::sqlite
