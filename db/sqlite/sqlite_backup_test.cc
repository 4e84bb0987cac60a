// Backups of a serving office and restores of them: a copy taken while
// sign-ins flow on several threads holds every sign-in answered before it
// began, passes the integrity check and, restored, signs in; refusals
// leave nothing behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "wrenhaven/error.h"
#include "wrenhaven/login.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/schema.h"
#include "wrenhaven/sign_in.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

namespace fs = std::filesystem;
using Collection = Request::Collection;

// A folder of its own for each test, removed with everything in it.
struct Folder {
  std::string path;
  Folder() {
    std::string pattern =
        fs::temp_directory_path().string() + "/wrenhaven-backup-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path = pattern;
  }
  ~Folder() { fs::remove_all(path); }
  std::string operator/(const std::string& name) const {
    return path + "/" + name;
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
};

void UseTestPolicy() {
  SignInPolicy policy = CurrentSignInPolicy();
  policy.cost = PasswordCost::ForTests();
  policy.limits = SignInLimits::Off();
  SetSignInPolicy(policy);
}

// One sign-in of `account` with `password` on `conn`, the screen
// description carrying `marker` into the login record. The session's
// PersonID afterwards ("" when it failed).
std::string SignIn(const std::shared_ptr<Connection>& conn,
                   const std::string& account, const std::string& password,
                   const std::string& marker) {
  auto ctx = std::make_shared<MemoryContext>();
  MemoryRequest& req = *ctx->request_obj;
  req.Set(Collection::kServerVariables, "REQUEST_METHOD", "POST");
  req.Set(Collection::kServerVariables, "REMOTE_ADDR", "10.0.0.8");
  req.Set(Collection::kForm, "LoginName", account);
  req.Set(Collection::kForm, "LoginPwd", password);
  req.Set(Collection::kForm, "Screen", marker);
  Login login;
  login.OnStartPage(ctx);
  login.SetConn(conn);
  login.LoginMain();
  return ctx->session_obj->Get("PersonID").ToText();
}

std::string Scalar(Connection& conn, const std::string& query) {
  auto rs = conn.Open(query, CursorType::kStatic);
  return rs->Eof() ? "" : rs->Value(0).ToText();
}

// The demo office, with enough login records that a copy of 64 pages at
// a time takes many steps.
void MakeOffice(const std::string& path) {
  auto conn = OpenSqlite(path);
  CreateSchema(*conn);
  LoadDemoData(*conn);
  const std::string memo(1000, 'm');
  conn->Begin();
  for (int i = 0; i < 3000; ++i) {
    conn->Execute(
        "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
        "LoginIP, LoginMemo, LoginScreen) VALUES (1, 'ann', '******', 1, "
        "'10.0.0.1', '" +
        memo + "', 'padding')");
  }
  conn->Commit();
}

TEST(SqliteBackupTest, CopiesWhileSignInsFlowAndTheRestoreSignsIn) {
  UseTestPolicy();
  Folder dir;
  const std::string office = dir / "office.db";
  MakeOffice(office);

  std::mutex mutex;
  std::vector<std::string> answered;  // markers of sign-ins answered
  std::vector<std::string> failures;
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      try {
        SqliteOptions options;
        options.create = false;
        auto conn = OpenSqlite(office, options);
        for (int i = 0; !stop; ++i) {
          const std::string marker =
              "t" + std::to_string(t) + "-" + std::to_string(i);
          const std::string person = SignIn(conn, "ann", "ann123", marker);
          std::lock_guard<std::mutex> lock(mutex);
          if (person != "1") failures.push_back(marker + " did not sign in");
          answered.push_back(marker);
        }
      } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(mutex);
        failures.push_back(e.what());
      }
    });
  }
  auto count = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return answered.size();
  };
  while (count() < 30 && failures.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::vector<std::string> before;
  {
    std::lock_guard<std::mutex> lock(mutex);
    before = answered;
  }
  SqliteBackupOptions options;
  options.pages_per_step = 64;
  options.pause = std::chrono::milliseconds(20);
  const std::string copy = dir / "copy.db";
  // A copy that started over at every commit would never end while the
  // sign-ins go on: it is given a minute.
  std::future<void> backup = std::async(
      std::launch::async, [&] { BackupSqlite(office, copy, options); });
  if (backup.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "the copy did not end while sign-ins went on";
    stop = true;
  }
  try {
    backup.get();
  } catch (const Error& e) {
    ADD_FAILURE() << e.what();
  }
  const size_t during = count() - before.size();
  stop = true;
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(failures, std::vector<std::string>{});
  EXPECT_GT(during, 0u) << "no sign-in was answered while the copy was made";

  // The copy under its own name, and no temporary file left beside it.
  for (const std::string& name : dir.Names()) {
    EXPECT_TRUE(name == "copy.db" || name.starts_with("office.db")) << name;
  }
  EXPECT_TRUE(dir.Names().count("copy.db"));
  {
    auto conn = OpenSqlite(copy, false);
    EXPECT_EQ(Scalar(*conn, "PRAGMA integrity_check"), "ok");
    std::set<std::string> recorded;
    auto rs = conn->Open(
        "SELECT LoginScreen FROM HR_Login WHERE LoginScreen LIKE 't%'",
        CursorType::kStatic);
    for (; !rs->Eof(); rs->MoveNext()) recorded.insert(rs->Value(0).ToText());
    for (const std::string& marker : before) {
      EXPECT_EQ(recorded.count(marker), 1u) << marker << " is not in the copy";
    }
    EXPECT_EQ(Scalar(*conn,
                     "SELECT count(*) FROM HR_Login WHERE LoginScreen="
                     "'padding'"),
              "3000");
  }

  const std::string restored = dir / "restored.db";
  RestoreSqlite(copy, restored, options);
  auto conn = OpenSqlite(restored, false);
  CreateSchema(*conn);
  EXPECT_EQ(Scalar(*conn, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(SignIn(conn, "ann", "ann123", "after the restore"), "1");
  EXPECT_EQ(SignIn(conn, "ann", "wrong", "a wrong password"), "");
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Each refusal raises an Error that says why, and leaves the folder as it
// was.
TEST(SqliteBackupTest, RefusalsSayWhyAndLeaveNothingBehind) {
  UseTestPolicy();
  struct Case {
    const char* what;
    std::function<void(const Folder&)> setup;
    std::function<void(const Folder&)> act;
    const char* says;
  };
  const Case cases[] = {
      {"a backup onto an existing file",
       [](const Folder& d) {
         MakeOffice(d / "office.db");
         WriteFile(d / "old.bak", "keep me");
       },
       [](const Folder& d) { BackupSqlite(d / "office.db", d / "old.bak"); },
       "already exists"},
      {"a backup of a file that is not there", [](const Folder&) {},
       [](const Folder& d) { BackupSqlite(d / "missing.db", d / "copy.db"); },
       "cannot open the database"},
      {"a backup of a file that is no database",
       [](const Folder& d) {
         WriteFile(d / "notes.txt", std::string(9000, 'x'));
       },
       [](const Folder& d) { BackupSqlite(d / "notes.txt", d / "copy.db"); },
       "not a database"},
      {"a backup of a database without the office tables",
       [](const Folder& d) {
         OpenSqlite(d / "other.db")->Execute("CREATE TABLE t(x)");
       },
       [](const Folder& d) { BackupSqlite(d / "other.db", d / "copy.db"); },
       "holds no office"},
      {"a backup into a folder that is not there",
       [](const Folder& d) { MakeOffice(d / "office.db"); },
       [](const Folder& d) {
         BackupSqlite(d / "office.db", d / "no/such/copy.db");
       },
       "cannot write beside"},
      {"a restore onto an office with people",
       [](const Folder& d) {
         MakeOffice(d / "office.db");
         BackupSqlite(d / "office.db", d / "copy.db");
         MakeOffice(d / "other.db");
       },
       [](const Folder& d) { RestoreSqlite(d / "copy.db", d / "other.db"); },
       "already holds people"},
      {"a restore of a damaged backup",
       [](const Folder& d) {
         MakeOffice(d / "office.db");
         BackupSqlite(d / "office.db", d / "copy.db");
         const std::string whole = ReadFile(d / "copy.db");
         WriteFile(d / "copy.db", whole.substr(0, whole.size() / 2));
       },
       [](const Folder& d) { RestoreSqlite(d / "copy.db", d / "new.db"); },
       "the backup"},
  };
  for (const Case& c : cases) {
    Folder dir;
    c.setup(dir);
    // The office's own connections are closed: only its file stays.
    const std::set<std::string> names = dir.Names();
    std::map<std::string, std::string> contents;
    for (const std::string& name : names) contents[name] = ReadFile(dir / name);
    try {
      c.act(dir);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const Error& e) {
      std::string said = e.what();
      for (char& ch : said) ch = static_cast<char>(std::tolower(ch));
      EXPECT_NE(said.find(c.says), std::string::npos)
          << c.what << ": " << e.what();
    }
    EXPECT_EQ(dir.Names(), names) << c.what;
    for (const std::string& name : names) {
      EXPECT_EQ(ReadFile(dir / name), contents[name]) << c.what << ": " << name;
    }
  }
}

TEST(SqliteBackupTest, RestoresIntoAnEmptyFile) {
  UseTestPolicy();
  Folder dir;
  MakeOffice(dir / "office.db");
  BackupSqlite(dir / "office.db", dir / "copy.db");
  WriteFile(dir / "new.db", "");
  RestoreSqlite(dir / "copy.db", dir / "new.db");
  auto conn = OpenSqlite(dir / "new.db", false);
  const std::string people = Scalar(*OpenSqlite(dir / "office.db", false),
                                    "SELECT count(*) FROM HR_person");
  EXPECT_NE(people, "0");
  EXPECT_EQ(Scalar(*conn, "SELECT count(*) FROM HR_person"), people);
}

}  // namespace
}  // namespace wrenhaven
