// Transactions: the scope guard, and the savepoint texts of nested levels.
#include <string>

#include "frame/nested_transactions.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

std::string Savepoint(int level) {
  return "wrenhaven_" + std::to_string(level);
}

[[noreturn]] void NoTransaction(std::string_view what) {
  Raise(ErrorCode::kDatabase,
        std::string(what) + " needs an open transaction, and none is open");
}

}  // namespace

void NestedTransactions::Begin(const Run& run, std::string_view text) {
  if (depth_ == 0) {
    run(text);
  } else {
    run("SAVEPOINT " + Savepoint(depth_));
  }
  ++depth_;
}

void NestedTransactions::Commit(const Run& run, std::string_view text) {
  if (depth_ == 0) NoTransaction("Commit");
  if (depth_ == 1) {
    run(text);
  } else {
    run("RELEASE SAVEPOINT " + Savepoint(depth_ - 1));
  }
  --depth_;
}

void NestedTransactions::Rollback(const Run& run, std::string_view text) {
  if (depth_ == 0) NoTransaction("Rollback");
  if (depth_ == 1) {
    run(text);
  } else {
    const std::string name = Savepoint(depth_ - 1);
    run("ROLLBACK TO SAVEPOINT " + name);
    run("RELEASE SAVEPOINT " + name);
  }
  --depth_;
}

Transaction::Transaction(Connection& conn) : conn_(conn) {
  conn_.Begin();
  depth_ = conn_.transaction_depth();
}

Transaction::~Transaction() {
  // A level that a failed Commit left to the database may be gone already.
  if (!open_ || conn_.transaction_depth() < depth_) return;
  try {
    conn_.Rollback();
  } catch (...) {  // the database ends a failed transaction by itself
  }
}

void Transaction::Commit() {
  conn_.Commit();
  open_ = false;
}

}  // namespace wrenhaven
