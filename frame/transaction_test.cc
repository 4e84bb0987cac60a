// What a transaction sends: the database's own statements for the
// outermost level, savepoints inside it, and a rollback when the scope is
// left without a commit.
#include <gtest/gtest.h>

#include "testing/recording_connection.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

using Texts = std::vector<std::string>;

TEST(TransactionTest, NestedLevelsAreSavepoints) {
  RecordingConnection conn;
  {
    Transaction outer(conn);
    {
      Transaction kept(conn);
      kept.Commit();
    }
    { Transaction undone(conn); }
    outer.Commit();
  }
  EXPECT_EQ(conn.sent,
            (Texts{"BEGIN TRANSACTION", "SAVEPOINT wrenhaven_1",
                   "RELEASE SAVEPOINT wrenhaven_1", "SAVEPOINT wrenhaven_1",
                   "ROLLBACK TO SAVEPOINT wrenhaven_1",
                   "RELEASE SAVEPOINT wrenhaven_1", "COMMIT TRANSACTION"}));
  EXPECT_EQ(conn.transaction_depth(), 0);
}

TEST(TransactionTest, LeavingTheScopeWithoutCommitRollsBack) {
  RecordingConnection conn;
  try {
    Transaction t(conn);
    conn.Execute("Delete from SYS_right where roleID=2");
    Raise(ErrorCode::kDatabase, "the next statement failed");
  } catch (const Error&) {
  }
  EXPECT_EQ(conn.sent,
            (Texts{"BEGIN TRANSACTION", "Delete from SYS_right where roleID=2",
                   "ROLLBACK TRANSACTION"}));
  EXPECT_EQ(conn.transaction_depth(), 0);
}

TEST(TransactionTest, AFailedBeginOrCommitLeavesTheDepthAsTheDatabaseHasIt) {
  RecordingConnection conn;
  conn.fail_with = "no";
  EXPECT_THROW(Transaction t(conn), Error);
  EXPECT_EQ(conn.transaction_depth(), 0);
  conn.fail_with.clear();
  {
    Transaction t(conn);
    conn.fail_with = "no";
    EXPECT_THROW(t.Commit(), Error);
    // Still open: the scope's end tries to roll it back (and that fails
    // too, quietly).
    EXPECT_EQ(conn.transaction_depth(), 1);
  }
  EXPECT_EQ(conn.sent.back(), "ROLLBACK TRANSACTION");
}

TEST(TransactionTest, CommitOrRollbackWithoutATransactionRaises) {
  RecordingConnection conn;
  EXPECT_THROW(conn.Commit(), Error);
  EXPECT_THROW(conn.Rollback(), Error);
  EXPECT_TRUE(conn.sent.empty());
}

}  // namespace
}  // namespace wrenhaven
