// The statements of nested transactions on one connection, for drivers and
// test doubles: the outermost level is the database's own transaction,
// each level inside it a savepoint ("SAVEPOINT wrenhaven_1", ...).
#ifndef WRENHAVEN_FRAME_NESTED_TRANSACTIONS_H_
#define WRENHAVEN_FRAME_NESTED_TRANSACTIONS_H_

#include <functional>
#include <string_view>

namespace wrenhaven {

class NestedTransactions {
 public:
  using Run = std::function<void(std::string_view)>;

  // Each runs its statements through `run`; the depth changes only when
  // they went through. `text` is the database's own statement for the
  // outermost level ("BEGIN TRANSACTION", "COMMIT TRANSACTION", ...).
  // Commit and Rollback raise kDatabase when no transaction is open.
  void Begin(const Run& run, std::string_view text);
  void Commit(const Run& run, std::string_view text);
  void Rollback(const Run& run, std::string_view text);

  int depth() const { return depth_; }
  // The database ended every level by itself (a lost connection, an error
  // that undoes the whole transaction).
  void Reset() { depth_ = 0; }

 private:
  int depth_ = 0;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_FRAME_NESTED_TRANSACTIONS_H_
