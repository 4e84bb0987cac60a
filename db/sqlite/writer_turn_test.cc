// The writer's turn of the connections to one file: a statement that
// writes takes it for its own step, a transaction from Begin to its end.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "testing/test_db.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

using namespace std::chrono_literals;

constexpr const char* kInsert =
    "Insert into SYS_right (menuID,roleID) values (1,1)";

std::shared_ptr<Connection> Open(const TestDb& db,
                                 std::chrono::milliseconds busy = 5000ms) {
  SqliteOptions options;
  options.create = false;
  options.busy_timeout = busy;
  return OpenSqlite(db.path(), options);
}

int64_t Grants(const TestDb& db) {
  return db.Scalar("select count(*) from SYS_right").ToLong();
}

TEST(WriterTurnTest, ATransactionHoldsTheTurnUntilItEnds) {
  TestDb db;
  auto a = Open(db);
  auto b = Open(db);
  a->Begin();
  a->Execute(kInsert);
  std::atomic<bool> written{false};
  std::thread other([&] {
    b->Execute("Insert into SYS_right (menuID,roleID) values (2,2)");
    written = true;
  });
  std::this_thread::sleep_for(150ms);
  EXPECT_FALSE(written) << "a write ran inside another's transaction";
  a->Commit();
  other.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(Grants(db), 2);
}

TEST(WriterTurnTest, AWriterWaitsNoLongerThanTheBusyTimeout) {
  TestDb db;
  auto a = Open(db);
  auto b = Open(db, 200ms);
  a->Begin();
  std::thread other([&] {
    const auto started = std::chrono::steady_clock::now();
    try {
      b->Execute(kInsert);
      ADD_FAILURE() << "the write did not wait for the turn";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kUnavailable);
      EXPECT_NE(std::string(e.what()).find("busy"), std::string::npos)
          << e.what();
    }
    EXPECT_GE(std::chrono::steady_clock::now() - started, 190ms);
  });
  other.join();
  a->Rollback();
  // Reads never wait for the turn.
  EXPECT_EQ(Grants(db), 0);
  b->Execute(kInsert);
  EXPECT_EQ(Grants(db), 1);
}

TEST(WriterTurnTest, TransactionStatementsSentAsTextAreRefused) {
  TestDb db;
  auto conn = Open(db);
  for (const char* text :
       {"BEGIN", " begin immediate transaction", "COMMIT", "end", "ROLLBACK",
        "SAVEPOINT x", "release x", "/* a */ -- b\n BEGIN"}) {
    EXPECT_THROW(conn->Execute(text), Error) << text;
    EXPECT_THROW(conn->Open(text, CursorType::kStatic), Error) << text;
  }
  EXPECT_EQ(conn->transaction_depth(), 0);
  // Nothing was begun: this write is committed at once, and another
  // connection can write straight after it.
  conn->Execute(kInsert);
  Open(db, 100ms)->Execute(
      "Insert into SYS_right (menuID,roleID) values (2,2)");
  EXPECT_EQ(Grants(db), 2);
}

TEST(WriterTurnTest, ANestedTransactionIsUndoneAlone) {
  TestDb db;
  auto conn = Open(db);
  {
    Transaction outer(*conn);
    conn->Execute("Insert into SYS_right (menuID,roleID) values (1,1)");
    {
      Transaction inner(*conn);
      EXPECT_EQ(conn->transaction_depth(), 2);
      conn->Execute("Insert into SYS_right (menuID,roleID) values (2,2)");
    }  // rolled back
    {
      Transaction inner(*conn);
      conn->Execute("Insert into SYS_right (menuID,roleID) values (3,3)");
      inner.Commit();
    }
    EXPECT_EQ(conn->transaction_depth(), 1);
    outer.Commit();
  }
  EXPECT_EQ(conn->transaction_depth(), 0);
  auto rs = db.conn()->Open("select menuID from SYS_right order by menuID",
                            CursorType::kStatic);
  EXPECT_EQ(rs->GetRows().Dump(), "(0 To 0, 0 To 1) [1] [3]");
  EXPECT_THROW(conn->Commit(), Error);
  EXPECT_THROW(conn->Rollback(), Error);
}

TEST(WriterTurnTest, ASecondWriterOnTheSameThreadRaisesRatherThanWaitsForever) {
  TestDb db;
  auto a = Open(db);
  auto b = Open(db);
  Transaction t(*a);
  try {
    b->Execute(kInsert);
    FAIL() << "the second connection wrote inside the first's transaction";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kDatabase);
  }
}

TEST(WriterTurnTest, AConnectionDroppedInATransactionGivesUpTheTurn) {
  TestDb db;
  auto a = Open(db);
  a->Begin();
  a->Execute(kInsert);
  a.reset();
  Open(db, 100ms)->Execute(
      "Insert into SYS_right (menuID,roleID) values (2,2)");
  EXPECT_EQ(Grants(db), 1);  // the dropped transaction's row is gone
}

// A commit that SQLite refuses (a deferred constraint) leaves the
// transaction open; leaving the scope rolls it back and hands the turn on.
TEST(WriterTurnTest, ARefusedCommitIsRolledBackAndGivesUpTheTurn) {
  TestDb db;
  db.Exec(
      "create table child (parent integer references SYS_Role(RoleID) "
      "deferrable initially deferred)");
  auto conn = Open(db);
  {
    Transaction t(*conn);
    conn->Execute("insert into child values (999)");
    EXPECT_THROW(t.Commit(), Error);
    EXPECT_EQ(conn->transaction_depth(), 1);
  }
  EXPECT_EQ(conn->transaction_depth(), 0);
  Open(db, 100ms)->Execute(kInsert);
  EXPECT_EQ(db.Scalar("select count(*) from child").ToLong(), 0);
}

TEST(WriterTurnTest, AResultThatWritesTakesTheTurnToo) {
  TestDb db;
  auto a = Open(db);
  auto b = Open(db, 200ms);
  a->Begin();
  EXPECT_THROW(b->Open("Insert into SYS_right (menuID,roleID) values (2,2) "
                       "returning menuID",
                       CursorType::kStatic),
               Error);
  // Read one by one, its writes would run after the turn was given back.
  EXPECT_THROW(b->Open("Insert into SYS_right (menuID,roleID) values (2,2) "
                       "returning menuID",
                       CursorType::kForwardOnly),
               Error);
  a->Commit();
  auto rs = b->Open(
      "Insert into SYS_right (menuID,roleID) values (3,3) returning menuID",
      CursorType::kStatic);
  EXPECT_EQ(rs->Value(0), Variant::Long(3));
  EXPECT_EQ(Grants(db), 1);
}

}  // namespace
}  // namespace wrenhaven
