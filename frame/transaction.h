// A transaction on a borrowed connection: all of a change of several rows,
// or none of it. The texts are read alike by every supported database.
//
//   Transaction t(conn);
//   conn.Execute(...); conn.Execute(...);
//   t.Commit();
//
// Leaving the scope without Commit rolls back; a failure of the rollback
// itself is not raised from the destructor (the error that caused the
// unwinding is the one the caller needs).
#ifndef WRENHAVEN_FRAME_TRANSACTION_H_
#define WRENHAVEN_FRAME_TRANSACTION_H_

#include "wrenhaven/connection.h"

namespace wrenhaven {

class Transaction {
 public:
  explicit Transaction(Connection& conn) : conn_(conn) {
    conn_.Execute("BEGIN TRANSACTION");
  }
  ~Transaction() {
    if (open_) {
      try {
        conn_.Execute("ROLLBACK TRANSACTION");
      } catch (...) {  // the database ends a failed transaction by itself
      }
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    conn_.Execute("COMMIT TRANSACTION");
    open_ = false;
  }

 private:
  Connection& conn_;
  bool open_ = true;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_FRAME_TRANSACTION_H_
