// Stored passwords and held-back guessing on every database: what a
// sign-in verifies, replaces and records, and what the limits count.
#include "login/password.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/error.h"
#include "wrenhaven/login.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/sign_in.h"

namespace wrenhaven {
namespace {

using Collection = Request::Collection;

class PasswordTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    SignInPolicy policy = CurrentSignInPolicy();
    policy.cost = PasswordCost::ForTests();
    policy.limits = SignInLimits::Off();
    SetSignInPolicy(policy);
  }
  void TearDown() override { SetUp(); }

  void UseLimits(const SignInLimits& limits) {
    SignInPolicy policy = CurrentSignInPolicy();
    policy.limits = limits;
    SetSignInPolicy(policy);
  }

  struct Attempt {
    bool ok;
    int held_back;
    std::string device_cookie;
  };
  Attempt SignIn(const std::string& account, const std::string& pwd,
                 const std::string& address = "10.0.0.8",
                 const std::string& device = "") {
    auto ctx = std::make_shared<MemoryContext>();
    MemoryRequest& req = *ctx->request_obj;
    req.Set(Collection::kServerVariables, "REQUEST_METHOD", "POST");
    req.Set(Collection::kServerVariables, "REMOTE_ADDR", address);
    req.Set(Collection::kForm, "LoginName", account);
    req.Set(Collection::kForm, "LoginPwd", pwd);
    if (!device.empty()) {
      req.Set(Collection::kCookies, std::string(Login::kDeviceCookie), device);
    }
    Login login;
    login.OnStartPage(ctx);
    login.SetConn(db_.conn());
    login.LoginMain();
    return {ctx->response_obj->ended(), login.held_back_seconds(),
            login.device_cookie()};
  }

  std::string Stored(int id) const {
    return db_
        .Scalar("Select personPwd from HR_person where PersonID=" +
                std::to_string(id))
        .ToText();
  }
  // The login records, oldest first, as "account ok password".
  std::vector<std::string> Records() const {
    std::vector<std::string> out;
    auto rs = db_.conn()->Open(
        "Select LoginAccount, LoginOK, LoginPwd, personID from HR_Login "
        "order by LoginID",
        CursorType::kForwardOnly);
    while (!rs->Eof()) {
      out.push_back(rs->Value(0).ToText() + " " + rs->Value(1).ToText() + " " +
                    rs->Value(2).ToText() + " " + rs->Value(3).ToText());
      rs->MoveNext();
    }
    return out;
  }

  TestDb db_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Databases, PasswordTest,
                         ::testing::ValuesIn(TestDatabases()));

TEST_P(PasswordTest, APlainTextPasswordIsHashedAtTheFirstSignIn) {
  db_.Exec(
      "Insert into HR_person (PersonID, personAccount, personPwd, PersonName) "
      "values (7, 'o''brien', 'it''s old', 'Pat')");
  EXPECT_TRUE(SignIn("o'brien", "it's old").ok);
  const std::string hash = Stored(7);
  EXPECT_TRUE(IsPasswordHash(hash)) << hash;
  EXPECT_TRUE(SignIn("o'brien", "it's old").ok);  // the hash verifies
  EXPECT_EQ(Stored(7), hash);                     // and stays
  EXPECT_FALSE(SignIn("o'brien", "it's Old").ok);
  EXPECT_EQ(Records(), (std::vector<std::string>{"o'brien 1 ****** 7",
                                                 "o'brien 1 ****** 7",
                                                 "o'brien 0 ****** "}));
}

TEST_P(PasswordTest,
       HashingEveryStoredPasswordTwiceChangesNothingTheSecondTime) {
  db_.Exec(
      "Insert into HR_person (PersonID, personAccount, personPwd) values "
      "(1, 'a', 'one'), (2, 'b', ''), (3, 'c', 'three')");
  SetStoredPassword(*db_.conn(), "c", "already hashed",
                    PasswordCost::ForTests());
  const std::string third = Stored(3);
  std::vector<int64_t> seen;
  EXPECT_EQ(HashStoredPasswords(*db_.conn(), PasswordCost::ForTests(),
                                [&](int64_t done, int64_t total) {
                                  seen.push_back(done * 10 + total);
                                }),
            2);
  EXPECT_EQ(seen, (std::vector<int64_t>{12, 22}));
  EXPECT_TRUE(IsPasswordHash(Stored(1)));
  EXPECT_TRUE(IsPasswordHash(Stored(2)));
  EXPECT_EQ(Stored(3), third);
  const std::string first = Stored(1);
  EXPECT_EQ(HashStoredPasswords(*db_.conn(), PasswordCost::ForTests()), 0);
  EXPECT_EQ(Stored(1), first);
  EXPECT_TRUE(SignIn("a", "one").ok);
  EXPECT_TRUE(SignIn("b", "").ok);  // an empty password stays what it was
  EXPECT_TRUE(SignIn("c", "already hashed").ok);
}

TEST_P(PasswordTest, SettingAPasswordRefusesWeakOnesAndUnclearAccounts) {
  db_.Exec(
      "Insert into HR_person (PersonID, personAccount, personPwd) values "
      "(1, 'ann', 'x'), (2, 'twin', 'x'), (3, 'twin', 'y')");
  const struct {
    const char* account;
    const char* password;
    const char* message;
  } refused[] = {
      {"ann", "short", "at least 8 characters"},
      {"ann", "ANN", "at least 8 characters"},
      {"annabelle", "Annabelle", "must not be the account name"},
      {"nobody", "long enough", "No person has this account name"},
      {"twin", "long enough", "More than one person"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.message);
    try {
      SetStoredPassword(*db_.conn(), c.account, c.password,
                        PasswordCost::ForTests());
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(Stored(1), "x");
  SetStoredPassword(*db_.conn(), "ann", "long enough",
                    PasswordCost::ForTests());
  EXPECT_TRUE(SignIn("ann", "long enough").ok);
  EXPECT_FALSE(SignIn("ann", "x").ok);
}

// Two people with one account and one password match nobody, hashed or
// not; each was verified.
TEST_P(PasswordTest, TwoPeopleWithTheSameAccountAndPasswordMatchNobody) {
  db_.Exec(
      "Insert into HR_person (PersonID, personAccount, personPwd) values "
      "(1, 'twin', 'same'), (2, 'twin', 'same'), (3, 'solo', 'same')");
  for (int round = 0; round < 2; ++round) {
    const uint64_t before = password::VerificationCount();
    EXPECT_FALSE(SignIn("twin", "same").ok);
    EXPECT_EQ(password::VerificationCount() - before, 2u);
    HashStoredPasswords(*db_.conn(), PasswordCost::ForTests());
  }
  EXPECT_TRUE(SignIn("solo", "same").ok);
}

// The sixth wrong password for one account from one address is held
// back; the same account from another address is not held back by that
// limit; an unknown account is held back exactly like a known one.
TEST_P(PasswordTest, TheLimitsCountFailedRecordsByTheDatabasesClock) {
  db_.Exec(
      "Insert into HR_person (PersonID, personAccount, personPwd) values "
      "(1, 'ann', 'right one')");
  SignInLimits limits = SignInLimits::Off();
  limits.account_from_address = {5, std::chrono::minutes(15)};
  UseLimits(limits);
  for (const char* account : {"ann", "ghost"}) {
    SCOPED_TRACE(account);
    for (int i = 0; i < 5; ++i) {
      const Attempt a = SignIn(account, "wrong");
      EXPECT_FALSE(a.ok);
      EXPECT_EQ(a.held_back, 0) << i;
    }
    const uint64_t before = password::VerificationCount();
    const Attempt sixth = SignIn(account, "right one");
    EXPECT_FALSE(sixth.ok);
    EXPECT_GT(sixth.held_back, 15 * 60 - 30);
    EXPECT_LE(sixth.held_back, 15 * 60);
    EXPECT_EQ(password::VerificationCount(), before);
    EXPECT_EQ(SignIn(account, "right one", "10.0.0.9").held_back, 0);
  }
  EXPECT_TRUE(SignIn("ann", "right one", "10.0.0.9").ok);
  // Every attempt is recorded, the held-back ones as failures.
  EXPECT_EQ(db_.Scalar("Select COUNT(*) from HR_Login where LoginOK=0"),
            Variant::Long(2 * 6 + 1));

  // Failures older than the window do not count.
  db_.Exec("Delete from HR_Login");
  db_.Exec(
      "Insert into HR_Login (LoginAccount, LoginIP, LoginOK, loginTime) "
      "values ('ann','10.0.0.8',0,'2000-01-01 00:00:00'),"
      "('ann','10.0.0.8',0,'2000-01-01 00:00:00'),"
      "('ann','10.0.0.8',0,'2000-01-01 00:00:00'),"
      "('ann','10.0.0.8',0,'2000-01-01 00:00:00'),"
      "('ann','10.0.0.8',0,'2000-01-01 00:00:00'),"
      "('ann','10.0.0.8',0,'2000-01-01 00:00:00')");
  EXPECT_TRUE(SignIn("ann", "right one").ok);
}

// A browser that signed in to the account before is spared the
// per-account limit, so a stranger's guesses cannot lock the person out.
TEST_P(PasswordTest, AStrangerCannotLockOutABrowserThatSignedInBefore) {
  db_.Exec(
      "Insert into HR_person (PersonID, personAccount, personPwd) values "
      "(1, 'ann', 'right one')");
  SignInLimits limits = SignInLimits::Off();
  limits.account = {3, std::chrono::minutes(15)};
  UseLimits(limits);
  const Attempt first = SignIn("ann", "right one", "10.0.0.1");
  ASSERT_TRUE(first.ok);
  for (int i = 0; i < 3; ++i)
    SignIn("ann", "guess", "192.0.2." + std::to_string(i));
  EXPECT_GT(SignIn("ann", "right one", "10.0.0.2").held_back, 0);
  EXPECT_TRUE(SignIn("ann", "right one", "10.0.0.2", first.device_cookie).ok);
}

// A sign-in whose record cannot be written did not happen, on every
// database: no identity in the session, no cookie, no record, and the
// failure's description holds no literal of the statement.
TEST_P(PasswordTest, ARecordThatCannotBeWrittenLeavesNoSignIn) {
  class FailingRecord : public TappedConnection {
   public:
    using TappedConnection::TappedConnection;
    void Execute(std::string_view statement) override {
      if (statement.starts_with("Insert")) {
        Raise(ErrorCode::kDatabase,
              "disk I/O error [statement: " + std::string(statement) + "]");
      }
      TappedConnection::Execute(statement);
    }
  };
  db_.Exec(
      "Insert into HR_person (PersonID, personAccount, personPwd) values "
      "(1, 'ann', 'right one')");
  auto ctx = std::make_shared<MemoryContext>();
  MemoryRequest& req = *ctx->request_obj;
  req.Set(Collection::kServerVariables, "REQUEST_METHOD", "POST");
  req.Set(Collection::kServerVariables, "REMOTE_ADDR", "10.0.0.8");
  req.Set(Collection::kForm, "LoginName", "ann");
  req.Set(Collection::kForm, "LoginPwd", "right one");
  Login login;
  login.OnStartPage(ctx);
  login.SetConn(std::make_shared<FailingRecord>(db_.conn()));
  EXPECT_THROW(login.LoginMain(), Error);
  EXPECT_TRUE(ctx->session_obj->values().empty());
  EXPECT_TRUE(ctx->response_obj->cookies().empty());
  EXPECT_FALSE(ctx->response_obj->ended());
  EXPECT_EQ(db_.Scalar("Select COUNT(*) from HR_Login"), Variant::Long(0));
  EXPECT_NE(login.GetError().find("disk I/O error"), std::string::npos);
  EXPECT_EQ(login.GetError().find("'ann'"), std::string::npos)
      << login.GetError();
  EXPECT_EQ(login.GetError().find("right one"), std::string::npos);
  // The password was not replaced either: nothing of the sign-in stayed.
  EXPECT_EQ(Stored(1), "right one");
}

}  // namespace
}  // namespace wrenhaven
