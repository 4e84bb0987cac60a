// The floor the HTTP sign-in is measured against: the three statements of a
// successful sign-in (the person, the roles, the login record) run straight
// on sqlite3 in one loop, each prepared, stepped and finalized as the
// driver does, on a connection set up as the driver sets it up.
//
//   raw_signin_loop DB SECONDS
//
// Prints "raw sign-ins per second: N".
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kPerson =
    "Select * from HR_person where personAccount='ann' and personPwd='ann123'";
constexpr const char* kRoles =
    "Select SYS_PersonRole.RoleID,RoleName,PersonID from "
    "SYS_PersonRole,SYS_Role where SYS_PersonRole.RoleID=SYS_Role.RoleID and "
    "PersonID=1 order by SYS_PersonRole.RoleID";
constexpr const char* kInsert =
    "Insert into "
    "HR_Login(personID,LoginAccount,LoginPwd,LoginOK,LoginIP,LoginMemo,"
    "LoginScreen) values(1,'ann','******',1,'127.0.0.1','wrk','1920*1080')";

void Fail(sqlite3* db, const char* what) {
  std::fprintf(stderr, "raw_signin_loop: %s: %s\n", what,
               db ? sqlite3_errmsg(db) : "no database");
  std::exit(1);
}

// Steps through every row, reading each column as the driver reads it.
void Run(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    Fail(db, sql);
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      if (sqlite3_column_type(stmt, i) == SQLITE_TEXT) {
        sqlite3_column_text(stmt, i);
      }
    }
  }
  if (rc != SQLITE_DONE) Fail(db, sql);
  sqlite3_finalize(stmt);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: raw_signin_loop DB SECONDS\n");
    return 2;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    Fail(db, "open");
  }
  sqlite3_busy_timeout(db, 5000);
  for (const char* pragma :
       {"PRAGMA journal_mode=WAL", "PRAGMA foreign_keys=ON",
        "PRAGMA synchronous=NORMAL"}) {
    if (sqlite3_exec(db, pragma, nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail(db, pragma);
    }
  }
  const double seconds = std::atof(argv[2]);
  const auto start = std::chrono::steady_clock::now();
  const auto until = start + std::chrono::duration<double>(seconds);
  long count = 0;
  while (std::chrono::steady_clock::now() < until) {
    Run(db, kPerson);
    Run(db, kRoles);
    Run(db, kInsert);
    ++count;
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  std::printf("raw sign-ins per second: %.0f\n", count / elapsed);
  sqlite3_close(db);
  return 0;
}
