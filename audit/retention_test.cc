// Exporting and pruning old login records and audit rows: every record
// older than the time is written once, nothing newer is touched, nothing is
// deleted that the file does not hold, and old typed passwords never reach
// the file.
#include "wrenhaven/retention.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testing/faulty_connection.h"
#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

// A file name in the temporary folder that does not exist yet; removed at
// the end of the test.
class TempFile {
 public:
  TempFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern =
        std::string(dir ? dir : "/tmp") + "/wrenhaven-export-XXXXXX";
    const int fd = mkstemp(pattern.data());
    close(fd);
    std::remove(pattern.c_str());
    path_ = pattern + ".csv";
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }
  bool exists() const { return access(path_.c_str(), F_OK) == 0; }
  std::vector<std::string> Lines() const {
    std::ifstream in(path_);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  // The first cell of every line after the header.
  std::set<int> Ids() const {
    std::set<int> ids;
    const std::vector<std::string> lines = Lines();
    for (size_t i = 1; i < lines.size(); ++i) {
      ids.insert(std::stoi(lines[i].substr(0, lines[i].find(','))));
    }
    return ids;
  }

 private:
  std::string path_;
};

// `old` records of 2020 (every third a failure recorded with the typed
// password, as records were before the password was masked), then `recent`
// records of 2031.
void AddLogins(const TestDb& db, int old, int recent) {
  for (int start = 0; start < old + recent; start += 250) {
    std::string insert =
        "insert into HR_Login (personID,LoginAccount,LoginPwd,LoginOK,LoginIP,"
        "LoginMemo,LoginScreen,loginTime) values ";
    for (int i = start; i < std::min(old + recent, start + 250); ++i) {
      const bool failed = i % 3 == 0;
      char time[32];
      std::snprintf(time, sizeof time, "%d-03-%02d %02d:%02d:%02d",
                    i < old ? 2020 : 2031, 1 + (i / 3600) % 28, (i / 60) % 24,
                    i % 60, i % 60);
      insert += std::string(i == start ? "" : ",") + "(" +
                (failed ? "NULL" : "1") + ",'ann','" +
                (failed ? "=typed secret " + std::to_string(i) : "******") +
                "'," + (failed ? "0" : "1") + ",'10.0.0." +
                std::to_string(i % 250) +
                "','Browser, \"quoted\"','1920x1080','" + time + "')";
    }
    db.Exec(insert);
  }
}

std::set<int> LoginIds(const TestDb& db, const std::string& where = "") {
  std::set<int> ids;
  auto rs = db.conn()->Open("Select LoginID from HR_Login" + where,
                            CursorType::kForwardOnly);
  while (!rs->Eof()) {
    ids.insert(rs->Value(0).ToLong());
    rs->MoveNext();
  }
  return ids;
}

class RetentionTest : public ::testing::TestWithParam<std::string> {};

TEST_P(RetentionTest, ExportAndPruneLoseNoRecordAndTouchNothingNewer) {
  TestDb db(GetParam());
  AddLogins(db, 2100, 400);
  const std::set<int> old = LoginIds(db, " where loginTime<'2025-01-01'");
  const std::set<int> recent = LoginIds(db, " where loginTime>='2025-01-01'");
  ASSERT_EQ(old.size(), 2100u);
  TempFile file;
  std::vector<std::pair<int64_t, int64_t>> progress;
  RetentionOptions o;
  o.before = "2025-01-01";
  o.export_path = file.path();
  o.prune = true;
  o.batch_rows = 300;
  o.progress = [&](int64_t done, int64_t total) {
    progress.push_back({done, total});
  };
  const RetentionResult r = KeepRecords(*db.conn(), o);
  EXPECT_EQ(r.exported, 2100);
  EXPECT_EQ(r.deleted, 2100);
  // Exported and remaining make up what there was; what remains is exactly
  // the newer records, and the file holds exactly the older ones.
  EXPECT_EQ(LoginIds(db), recent);
  EXPECT_EQ(file.Ids(), old);
  ASSERT_EQ(progress.size(), 7u);
  EXPECT_EQ(progress.front(), std::make_pair(int64_t{300}, int64_t{2100}));
  EXPECT_EQ(progress.back(), std::make_pair(int64_t{2100}, int64_t{2100}));

  struct stat st {};
  ASSERT_EQ(stat(file.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::vector<std::string> lines = file.Lines();
  ASSERT_EQ(lines.size(), 2101u);
  EXPECT_EQ(lines[0],
            "LoginID,personID,LoginAccount,LoginPwd,LoginOK,LoginIP,LoginMemo,"
            "LoginScreen,loginTime,loginOutTime");
  // The first record is a failure that kept the typed password.
  const int first = *old.begin();
  EXPECT_EQ(lines[1], std::to_string(first) +
                          ",,ann,******,0,10.0.0.0,\"Browser, \"\"quoted\"\"\","
                          "1920x1080,2020-03-01 00:00:00,");
  std::ifstream in(file.path());
  std::stringstream all;
  all << in.rdbuf();
  EXPECT_EQ(all.str().find("typed secret"), std::string::npos);

  // A second run finds nothing older.
  TempFile again;
  o.export_path = again.path();
  o.progress = nullptr;
  const RetentionResult none = KeepRecords(*db.conn(), o);
  EXPECT_EQ(none.exported, 0);
  EXPECT_EQ(again.Lines().size(), 1u);
}

TEST_P(RetentionTest, AnExportAloneDeletesNothing) {
  TestDb db(GetParam());
  AddLogins(db, 120, 30);
  TempFile file;
  RetentionOptions o;
  o.before = "2031-03-01 02:10:00";
  o.export_path = file.path();
  o.batch_rows = 50;
  const RetentionResult r = KeepRecords(*db.conn(), o);
  EXPECT_EQ(r.exported, 130);  // the old ones and ten of 2031 before 02:10
  EXPECT_EQ(r.deleted, 0);
  EXPECT_EQ(LoginIds(db).size(), 150u);
  EXPECT_EQ(file.Ids().size(), 130u);
}

TEST_P(RetentionTest, PruningAloneWritesNoFile) {
  TestDb db(GetParam());
  AddLogins(db, 90, 10);
  RetentionOptions o;
  o.before = "2025-01-01";
  o.prune = true;
  o.batch_rows = 40;
  const RetentionResult r = KeepRecords(*db.conn(), o);
  EXPECT_EQ(r.exported, 0);
  EXPECT_EQ(r.deleted, 90);
  EXPECT_EQ(LoginIds(db).size(), 10u);
}

// Whatever operation fails, a record that left the table is in the file;
// and a failure before any record was deleted leaves no file.
TEST_P(RetentionTest, AFailureNeverDeletesARecordTheFileDoesNotHold) {
  TestDb db(GetParam());
  AddLogins(db, 200, 20);
  RetentionOptions o;
  o.before = "2025-01-01";
  o.prune = true;
  o.batch_rows = 60;
  int operations = 0;
  {
    auto counter = std::make_shared<FaultyConnection>(db.conn(), 0);
    Transaction outer(*db.conn());
    TempFile file;
    o.export_path = file.path();
    KeepRecords(*counter, o);
    operations = counter->operations();
  }
  ASSERT_GT(operations, 200);
  ASSERT_EQ(LoginIds(db).size(), 220u);
  int failures = 0;
  for (int n = 1; n <= operations; n += 7) {
    const std::set<int> before = LoginIds(db);
    TempFile file;
    o.export_path = file.path();
    auto faulty = std::make_shared<FaultyConnection>(db.conn(), n);
    try {
      KeepRecords(*faulty, o);
    } catch (const Error&) {
      ++failures;
    }
    EXPECT_EQ(db.conn()->transaction_depth(), 0);
    const std::set<int> after = LoginIds(db);
    std::set<int> gone;
    std::set_difference(before.begin(), before.end(), after.begin(),
                        after.end(), std::inserter(gone, gone.begin()));
    if (gone.empty()) {
      // Failed before any delete: no file is left behind.
      if (faulty->operations() >= n) {
        EXPECT_FALSE(file.exists()) << n;
      }
      continue;
    }
    ASSERT_TRUE(file.exists()) << "operation " << n;
    const std::set<int> written = file.Ids();
    EXPECT_TRUE(
        std::includes(written.begin(), written.end(), gone.begin(), gone.end()))
        << "operation " << n;
    if (after.size() == 20u) break;  // every old record is gone
  }
  EXPECT_GT(failures, 0);
  // The newer records are all still there.
  EXPECT_EQ(LoginIds(db, " where loginTime>='2025-01-01'").size(), 20u);
}

TEST_P(RetentionTest, TheAuditTrailIsExportedAndPrunedTheSameWay) {
  TestDb db(GetParam());
  db.Exec(
      "insert into SYS_Audit (AuditTime,PersonID,PersonAccount,ClientIP,"
      "AuditKind,AuditTarget,BeforeValue,AfterValue) values "
      "('2020-05-01 10:00:00',1,'ann','10.0.0.8','menu.update','4',"
      "'{\"MenuName\":\"=cmd\"}','{\"MenuName\":\"Mail, new\"}'),"
      "('2020-05-02 10:00:00',NULL,'','','role.delete','5','{}',NULL),"
      "('2031-01-01 00:00:00',1,'ann','','grant.add','2','{}','{}')");
  TempFile file;
  RetentionOptions o;
  o.table = RecordTable::kAudit;
  o.before = "2021-01-01";
  o.export_path = file.path();
  o.prune = true;
  const RetentionResult r = KeepRecords(*db.conn(), o);
  EXPECT_EQ(r.exported, 2);
  EXPECT_EQ(r.deleted, 2);
  EXPECT_EQ(db.Scalar("select count(*) from SYS_Audit").ToLong(), 1);
  const std::vector<std::string> lines = file.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "AuditID,AuditTime,PersonID,PersonAccount,ClientIP,AuditKind,"
            "AuditTarget,BeforeValue,AfterValue");
  EXPECT_EQ(lines[1].substr(lines[1].find(',')),
            ",2020-05-01 10:00:00,1,ann,10.0.0.8,menu.update,4,"
            "\"{\"\"MenuName\"\":\"\"=cmd\"\"}\","
            "\"{\"\"MenuName\"\":\"\"Mail, new\"\"}\"");
  EXPECT_EQ(lines[2].substr(lines[2].find(',')),
            ",2020-05-02 10:00:00,,,,role.delete,5,{},");
}

INSTANTIATE_TEST_SUITE_P(Databases, RetentionTest,
                         ::testing::ValuesIn(TestDatabases()));

TEST(RetentionInputTest, BadOptionsAreRefusedBeforeAnyStatement) {
  auto conn = std::make_shared<RecordingConnection>();
  TempFile file;
  const struct {
    std::string before;
    std::string path;
    bool prune;
    int32_t batch;
    std::string error;
  } cases[] = {
      {"", file.path(), false, 1000,
       "The time to keep records from must be a date (YYYY-MM-DD) or a time "
       "(YYYY-MM-DD HH:MM:SS)"},
      {"2024-02-30", file.path(), false, 1000,
       "The time to keep records from must be a date (YYYY-MM-DD) or a time "
       "(YYYY-MM-DD HH:MM:SS)"},
      {"2024-01-01' or '1'='1", file.path(), true, 1000,
       "The time to keep records from must be a date (YYYY-MM-DD) or a time "
       "(YYYY-MM-DD HH:MM:SS)"},
      {"2024-01-01", file.path(), true, 0, "A batch holds 1 to 10000 records"},
      {"2024-01-01", file.path(), true, 10001,
       "A batch holds 1 to 10000 records"},
      {"2024-01-01", "", false, 1000,
       "Give a file to export to, or prune, or both"},
  };
  for (const auto& c : cases) {
    RetentionOptions o;
    o.before = c.before;
    o.export_path = c.path;
    o.prune = c.prune;
    o.batch_rows = c.batch;
    try {
      KeepRecords(*conn, o);
      ADD_FAILURE() << c.error;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument);
      EXPECT_EQ(e.description(), c.error);
    }
  }
  EXPECT_TRUE(conn->sent.empty());
  EXPECT_FALSE(file.exists());
}

TEST(RetentionInputTest, AnExistingFileIsNeverOverwritten) {
  auto conn = std::make_shared<RecordingConnection>();
  TempFile file;
  { std::ofstream(file.path()) << "an earlier export\n"; }
  RetentionOptions o;
  o.before = "2024-01-01";
  o.export_path = file.path();
  o.prune = true;
  try {
    KeepRecords(*conn, o);
    ADD_FAILURE() << "an existing file was taken";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kHost);
    EXPECT_EQ(e.description(), "The export file " + file.path() +
                                   " cannot be created: File exists");
  }
  EXPECT_TRUE(conn->sent.empty());
  EXPECT_EQ(file.Lines(), std::vector<std::string>{"an earlier export"});
}

TEST(RetentionStatementTest, BatchesFollowTheIdentifierAndDeleteByName) {
  auto conn = std::make_shared<RecordingConnection>();
  conn->Queue({{"n"}, {{Variant::Long(3)}}});
  RecordingConnection::Result batch{
      {"AuditID", "AuditTime", "PersonID", "PersonAccount", "ClientIP",
       "AuditKind", "AuditTarget", "BeforeValue", "AfterValue"},
      {}};
  for (int id : {4, 9}) {
    batch.rows.push_back(
        {Variant::Long(id), Variant::String("2020-01-01"), Variant::Null(),
         Variant::String(""), Variant::String(""), Variant::String("role.add"),
         Variant::String("1"), Variant::Null(), Variant::String("{}")});
  }
  conn->Queue(batch);
  RecordingConnection::Result last = batch;
  last.rows.resize(1);
  last.rows[0][0] = Variant::Long(12);
  conn->Queue(last);
  RetentionOptions o;
  o.table = RecordTable::kAudit;
  o.before = "2021-06-01 12:30";
  o.prune = true;
  o.batch_rows = 2;
  const RetentionResult r = KeepRecords(*conn, o);
  EXPECT_EQ(r.deleted, 3);
  const std::string select =
      "Select AuditID,AuditTime,PersonID,PersonAccount,ClientIP,AuditKind,"
      "AuditTarget,BeforeValue,AfterValue from SYS_Audit where "
      "AuditTime<'2021-06-01 12:30:00'";
  EXPECT_EQ(conn->sent,
            (std::vector<std::string>{
                "Select count(*) from SYS_Audit where "
                "AuditTime<'2021-06-01 12:30:00'",
                select + " order by AuditID OFFSET 0 ROWS FETCH NEXT 2 ROWS "
                         "ONLY",
                "BEGIN TRANSACTION",
                "Delete from SYS_Audit where AuditID in (4,9)",
                "COMMIT TRANSACTION",
                select + " and AuditID>9 order by AuditID OFFSET 0 ROWS FETCH "
                         "NEXT 2 ROWS ONLY",
                "BEGIN TRANSACTION",
                "Delete from SYS_Audit where AuditID in (12)",
                "COMMIT TRANSACTION",
            }));
}

}  // namespace
}  // namespace wrenhaven
