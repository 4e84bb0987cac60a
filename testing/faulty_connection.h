// A connection that passes everything on to a real one and fails the Nth
// operation it is asked for (1 for the first): a statement executed or
// opened, a transaction begun or committed, a move to a result's next row.
// The failure is the database error a driver raises ("injected failure"),
// raised instead of the operation, so nothing of it reaches the database;
// a failed Commit leaves the transaction open. Rollback never fails, as
// every driver's rollback of an open transaction is expected to succeed.
// With 0 nothing fails and operations() counts what a call needs.
#ifndef WRENHAVEN_TESTING_FAULTY_CONNECTION_H_
#define WRENHAVEN_TESTING_FAULTY_CONNECTION_H_

#include <memory>
#include <string_view>

#include "wrenhaven/connection.h"

namespace wrenhaven {

class FaultyConnection : public Connection {
 public:
  FaultyConnection(std::shared_ptr<Connection> target, int fail_at)
      : target_(std::move(target)), fail_at_(fail_at) {}

  void Execute(std::string_view statement) override;
  std::unique_ptr<Recordset> Open(std::string_view statement,
                                  CursorType cursor) override;
  void ExecuteWith(std::string_view statement,
                   std::span<const Variant> values) override;
  std::unique_ptr<Recordset> OpenWith(std::string_view statement,
                                      std::span<const Variant> values,
                                      CursorType cursor) override;
  const Dialect& dialect() const override { return target_->dialect(); }
  void Begin() override;
  void Commit() override;
  void Rollback() override { target_->Rollback(); }
  int transaction_depth() const override {
    return target_->transaction_depth();
  }

  // Operations asked for so far, the failed one included.
  int operations() const { return operations_; }
  // Counts one operation and raises when it is the chosen one.
  void Step();

 private:
  std::shared_ptr<Connection> target_;
  int fail_at_;
  int operations_ = 0;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_TESTING_FAULTY_CONNECTION_H_
