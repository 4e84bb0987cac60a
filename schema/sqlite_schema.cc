// The tables for SQLite. Column orders are part of the interface: pages
// index "Select *" results by position (see README).
#include "schema/schema_internal.h"

namespace wrenhaven {
namespace {

// The summary's row of OLD.personID without OLD (when it was a successful
// sign-in): one fewer, gone at none; the latest times looked up again
// only when OLD held one of them.
#define SUMMARY_REMOVE_OLD                                                  \
  "DELETE FROM HR_LoginSummary WHERE personID = OLD.personID AND Times <= " \
  "1 AND OLD.LoginOK = 1; "                                                 \
  "UPDATE HR_LoginSummary SET Times = Times - 1, "                          \
  "lastTime = CASE WHEN OLD.loginTime < lastTime THEN lastTime ELSE "       \
  "coalesce((SELECT MAX(loginTime) FROM HR_Login WHERE personID = "         \
  "OLD.personID AND LoginOK = 1), lastTime) END, "                          \
  "outTime = CASE WHEN OLD.loginOutTime IS NULL OR OLD.loginOutTime < "     \
  "outTime THEN outTime ELSE (SELECT MAX(loginOutTime) FROM HR_Login "      \
  "WHERE personID = OLD.personID AND LoginOK = 1) END "                     \
  "WHERE personID = OLD.personID AND OLD.LoginOK = 1; "

// NEW counted into its person's row (when it is a successful sign-in).
#define SUMMARY_ADD_NEW                                                \
  "INSERT INTO HR_LoginSummary (personID, lastTime, outTime, Times) "  \
  "SELECT NEW.personID, NEW.loginTime, NEW.loginOutTime, 1 "           \
  "WHERE NEW.LoginOK = 1 AND NEW.personID IS NOT NULL "                \
  "ON CONFLICT (personID) DO UPDATE SET "                              \
  "lastTime = CASE WHEN excluded.lastTime > lastTime THEN "            \
  "excluded.lastTime ELSE lastTime END, "                              \
  "outTime = CASE WHEN outTime IS NULL OR excluded.outTime > outTime " \
  "THEN excluded.outTime ELSE outTime END, "                           \
  "Times = Times + 1; "

// The record's hour counted in (NEW) or out (OLD) of HR_LoginHours.
#define HOURS_ADD_NEW                                          \
  "INSERT INTO HR_LoginHours (HourStart, OK, Failed) VALUES "  \
  "(substr(NEW.loginTime,1,13) || ':00:00', NEW.LoginOK = 1, " \
  "NEW.LoginOK = 0) ON CONFLICT (HourStart) DO UPDATE SET "    \
  "OK = OK + excluded.OK, Failed = Failed + excluded.Failed; "
#define HOURS_REMOVE_OLD                                   \
  "UPDATE HR_LoginHours SET OK = OK - (OLD.LoginOK = 1), " \
  "Failed = Failed - (OLD.LoginOK = 0) "                   \
  "WHERE HourStart = substr(OLD.loginTime,1,13) || ':00:00'; "

// Whether a record's loginTime counts on the month calendar: a time of
// the month that begins its text (first at midnight up to day 32, as the
// month's statements compare it) and an hour above 5. Its month is then
// the text's first seven characters.
#define MONTH_COUNTED(t)                           \
  "substr(" t ",8,1) = '-' AND " t " >= substr(" t \
  ",1,8) || "                                      \
  "'01 00:00:00' AND " t " < substr(" t            \
  ",1,8) || '32' AND "                             \
  "CAST(substr(" t ",12,2) AS INTEGER) > 5"

// NEW counted into its person's month, under the person's department.
#define MONTH_ADD_NEW \
  "INSERT INTO HR_LoginMonth (personID, Month, DeptID, Times) "           \
  "SELECT NEW.personID, substr(NEW.loginTime,1,7), (SELECT DeptID FROM "  \
  "HR_person WHERE HR_person.PersonID = NEW.personID), 1 "                \
  "WHERE NEW.personID IS NOT NULL AND " MONTH_COUNTED("NEW.loginTime")    \
  " ON CONFLICT (personID, Month) DO UPDATE SET Times = Times + 1; "

// OLD counted out: one fewer, gone at none.
#define MONTH_REMOVE_OLD \
  "DELETE FROM HR_LoginMonth WHERE personID = OLD.personID AND Month = "   \
  "substr(OLD.loginTime,1,7) AND Times <= 1 AND " MONTH_COUNTED(           \
      "OLD.loginTime") "; "                                                \
  "UPDATE HR_LoginMonth SET Times = Times - 1 WHERE personID = "           \
  "OLD.personID AND Month = substr(OLD.loginTime,1,7) AND " MONTH_COUNTED( \
      "OLD.loginTime") "; "

}  // namespace

const std::vector<std::string_view>& SqliteSchema() {
  static const std::vector<std::string_view> kStatements = {
      "CREATE TABLE IF NOT EXISTS HR_Dept ("
      "DeptID INTEGER PRIMARY KEY, DeptName TEXT NOT NULL DEFAULT '')",

      // Account names compare without regard to letter case, passwords with.
      "CREATE TABLE IF NOT EXISTS HR_person ("
      "PersonID INTEGER PRIMARY KEY, "
      "personAccount TEXT NOT NULL COLLATE NOCASE, "
      "personPwd TEXT NOT NULL DEFAULT '' COLLATE BINARY, "
      "PersonName TEXT NOT NULL DEFAULT '', "
      "DeptID INTEGER, "
      "PersonJobCode TEXT)",
      "CREATE INDEX IF NOT EXISTS HR_person_account ON "
      "HR_person(personAccount)",
      // The month view lists people by department, a page at a time.
      "CREATE INDEX IF NOT EXISTS HR_person_dept ON HR_person(DeptID)",

      // loginTime is the local date and time of the insert.
      "CREATE TABLE IF NOT EXISTS HR_Login ("
      "LoginID INTEGER PRIMARY KEY AUTOINCREMENT, "
      "personID INTEGER, "
      "LoginAccount TEXT NOT NULL DEFAULT '', "
      "LoginPwd TEXT NOT NULL DEFAULT '', "
      "LoginOK INTEGER NOT NULL DEFAULT 0, "
      "LoginIP TEXT NOT NULL DEFAULT '', "
      "LoginMemo TEXT NOT NULL DEFAULT '', "
      "LoginScreen TEXT NOT NULL DEFAULT '', "
      "loginTime DATETIME NOT NULL DEFAULT (datetime('now','localtime')), "
      "loginOutTime DATETIME)",
      // One person's records by time; with LoginOK and loginOutTime in it
      // too, the per-person summary of successful sign-ins reads this index
      // alone instead of visiting every record in the table.
      "CREATE INDEX IF NOT EXISTS HR_Login_person_time ON HR_Login(personID, "
      "loginTime, LoginOK, loginOutTime)",
      "CREATE INDEX IF NOT EXISTS HR_Login_time ON HR_Login(loginTime)",
      // The sign-in throttle counts an account's, and an address's, recent
      // failures.
      "CREATE INDEX IF NOT EXISTS HR_Login_account_time ON "
      "HR_Login(LoginAccount, loginTime)",
      "CREATE INDEX IF NOT EXISTS HR_Login_ip_time ON HR_Login(LoginIP, "
      "loginTime)",

      // Each person's successful sign-ins in one row (the latest, the
      // latest sign-out, how many), kept by the triggers below whoever
      // writes the records, so that a page of the summary reads a page of
      // rows instead of grouping every record. Filled from the records the
      // first time; the key takes whatever a record's personID holds.
      "CREATE TABLE IF NOT EXISTS HR_LoginSummary ("
      "personID INTEGER NOT NULL PRIMARY KEY, "
      "lastTime DATETIME NOT NULL, "
      "outTime DATETIME, "
      "Times INTEGER NOT NULL) WITHOUT ROWID",
      "CREATE INDEX IF NOT EXISTS HR_LoginSummary_last ON "
      "HR_LoginSummary(lastTime DESC, personID)",
      "INSERT INTO HR_LoginSummary (personID, lastTime, outTime, Times) "
      "SELECT personID, MAX(loginTime), MAX(loginOutTime), COUNT(*) FROM "
      "HR_Login WHERE LoginOK = 1 AND personID IS NOT NULL AND NOT EXISTS "
      "(SELECT 1 FROM HR_LoginSummary) GROUP BY personID",
      // The records per hour, successful and failed (LoginOK 1 and 0), for
      // the charts of the last days and of today, kept the same way.
      "CREATE TABLE IF NOT EXISTS HR_LoginHours ("
      "HourStart TEXT NOT NULL PRIMARY KEY, "
      "OK INTEGER NOT NULL, "
      "Failed INTEGER NOT NULL) WITHOUT ROWID",
      "INSERT INTO HR_LoginHours (HourStart, OK, Failed) "
      "SELECT substr(loginTime,1,13) || ':00:00', SUM(LoginOK = 1), "
      "SUM(LoginOK = 0) FROM HR_Login WHERE NOT EXISTS (SELECT 1 FROM "
      "HR_LoginHours) GROUP BY 1",
      "CREATE TRIGGER IF NOT EXISTS HR_Login_summary_insert AFTER INSERT ON "
      "HR_Login BEGIN " SUMMARY_ADD_NEW HOURS_ADD_NEW "END",
      // A change or a delete takes the record as it was out (the latest
      // times are looked up again only when it held one of them, through
      // the person's index) and, on a change, counts it in as it is now.
      // Removing the oldest records one by one so costs a step each.
      "CREATE TRIGGER IF NOT EXISTS HR_Login_summary_update AFTER UPDATE OF "
      "personID, LoginOK, loginTime, loginOutTime ON HR_Login "
      "BEGIN " SUMMARY_REMOVE_OLD SUMMARY_ADD_NEW HOURS_REMOVE_OLD HOURS_ADD_NEW
      "END",
      "CREATE TRIGGER IF NOT EXISTS HR_Login_summary_delete AFTER DELETE ON "
      "HR_Login BEGIN " SUMMARY_REMOVE_OLD HOURS_REMOVE_OLD "END",

      // Who signed in in which month, from six in the morning on, and how
      // often (per person and month, under the person's department): the
      // month calendar walks a month's people by department in the index
      // and reads the records of the page's people alone, instead of
      // looking at everybody's records for the month. Kept by the triggers
      // below and filled from the records the first time, like the
      // summary; the department follows every change of the personnel
      // table (Null while the person has no row).
      "CREATE TABLE IF NOT EXISTS HR_LoginMonth ("
      "personID INTEGER NOT NULL, "
      "Month TEXT NOT NULL, "
      "DeptID INTEGER, "
      "Times INTEGER NOT NULL, "
      "PRIMARY KEY (personID, Month)) WITHOUT ROWID",
      "CREATE INDEX IF NOT EXISTS HR_LoginMonth_dept ON "
      "HR_LoginMonth(Month, DeptID, personID)",
      "INSERT INTO HR_LoginMonth (personID, Month, DeptID, Times) "
      "SELECT personID, substr(loginTime,1,7), (SELECT DeptID FROM HR_person "
      "WHERE HR_person.PersonID = HR_Login.personID), COUNT(*) FROM HR_Login "
      "WHERE personID IS NOT NULL AND " MONTH_COUNTED("loginTime")
      " AND NOT EXISTS (SELECT 1 FROM HR_LoginMonth) GROUP BY personID, "
      "substr(loginTime,1,7)",
      "CREATE TRIGGER IF NOT EXISTS HR_Login_month_insert AFTER INSERT ON "
      "HR_Login BEGIN " MONTH_ADD_NEW "END",
      "CREATE TRIGGER IF NOT EXISTS HR_Login_month_update AFTER UPDATE OF "
      "personID, loginTime ON HR_Login BEGIN " MONTH_REMOVE_OLD MONTH_ADD_NEW
      "END",
      "CREATE TRIGGER IF NOT EXISTS HR_Login_month_delete AFTER DELETE ON "
      "HR_Login BEGIN " MONTH_REMOVE_OLD "END",
      "CREATE TRIGGER IF NOT EXISTS HR_person_month_insert AFTER INSERT ON "
      "HR_person BEGIN UPDATE HR_LoginMonth SET DeptID = NEW.DeptID WHERE "
      "personID = NEW.PersonID; END",
      "CREATE TRIGGER IF NOT EXISTS HR_person_month_update AFTER UPDATE OF "
      "PersonID, DeptID ON HR_person BEGIN UPDATE HR_LoginMonth SET DeptID = "
      "NULL WHERE personID = OLD.PersonID; UPDATE HR_LoginMonth SET DeptID = "
      "NEW.DeptID WHERE personID = NEW.PersonID; END",
      "CREATE TRIGGER IF NOT EXISTS HR_person_month_delete AFTER DELETE ON "
      "HR_person BEGIN UPDATE HR_LoginMonth SET DeptID = NULL WHERE "
      "personID = OLD.PersonID; END",

      "CREATE TABLE IF NOT EXISTS SYS_PersonRole ("
      "PersonID INTEGER NOT NULL, RoleID INTEGER NOT NULL, "
      "PRIMARY KEY (PersonID, RoleID))",

      "CREATE TABLE IF NOT EXISTS SYS_Role ("
      "RoleID INTEGER PRIMARY KEY AUTOINCREMENT, "
      "RoleName TEXT NOT NULL DEFAULT '', "
      "RoleParentID INTEGER, "
      "RoleLevel TEXT, "
      "RoleClass TEXT, "
      "RoleMemo TEXT)",

      // MenuID stays first: the tree listing reads it from the first field.
      // Identifiers are never reused, so the grants a deleted menu leaves
      // behind never pass to a new one.
      "CREATE TABLE IF NOT EXISTS SYS_Menu ("
      "MenuID INTEGER PRIMARY KEY AUTOINCREMENT, "
      "FunID INTEGER, "
      "MenuParentID INTEGER, "
      "MenuName TEXT NOT NULL DEFAULT '', "
      "MenuTip TEXT, "
      "MenuEnglish TEXT, "
      "MenuEnglishTip TEXT, "
      "MenuIcon TEXT, "
      "MenuOrder NUMERIC)",
      "CREATE INDEX IF NOT EXISTS SYS_Menu_parent_order ON "
      "SYS_Menu(MenuParentID, MenuOrder)",
      // Whether a visitor's roles may open a page goes from the page's
      // address to its functions, their menus and those menus' grants: each
      // step looked up, not every function and menu read, on every page.
      "CREATE INDEX IF NOT EXISTS SYS_Menu_fun ON SYS_Menu(FunID)",
      // The insert writes MenuOrder quoted: a number text becomes that
      // number, the empty text 0, and any other text is refused, as a
      // number column of the reference database does.
      "CREATE TRIGGER IF NOT EXISTS SYS_Menu_order_check BEFORE INSERT ON "
      "SYS_Menu "
      "WHEN typeof(NEW.MenuOrder) = 'text' AND trim(NEW.MenuOrder) <> '' "
      "BEGIN SELECT RAISE(ABORT, 'Conversion failed when converting the "
      "MenuOrder text to a number'); END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Menu_order_empty AFTER INSERT ON "
      "SYS_Menu "
      "WHEN typeof(NEW.MenuOrder) = 'text' "
      "BEGIN UPDATE SYS_Menu SET MenuOrder = 0 WHERE MenuID = NEW.MenuID; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Menu_order_update_check BEFORE UPDATE "
      "OF MenuOrder ON SYS_Menu "
      "WHEN typeof(NEW.MenuOrder) = 'text' AND trim(NEW.MenuOrder) <> '' "
      "BEGIN SELECT RAISE(ABORT, 'Conversion failed when converting the "
      "MenuOrder text to a number'); END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Menu_order_update_empty AFTER UPDATE "
      "OF MenuOrder ON SYS_Menu "
      "WHEN typeof(NEW.MenuOrder) = 'text' "
      "BEGIN UPDATE SYS_Menu SET MenuOrder = 0 WHERE MenuID = NEW.MenuID; END",

      "CREATE TABLE IF NOT EXISTS SYS_Function ("
      "FunID INTEGER PRIMARY KEY AUTOINCREMENT, "
      "FunName TEXT NOT NULL DEFAULT '', "
      "FunMemo TEXT, "
      "FunType INTEGER, "
      "FunOrder INTEGER, "
      "FunClass TEXT, "
      "FunUrl TEXT)",
      "CREATE INDEX IF NOT EXISTS SYS_Function_url ON SYS_Function(FunUrl)",

      "CREATE TABLE IF NOT EXISTS SYS_right ("
      "menuID INTEGER NOT NULL, roleID INTEGER NOT NULL, "
      "PRIMARY KEY (roleID, menuID))",
      "CREATE INDEX IF NOT EXISTS SYS_right_menu ON SYS_right(menuID)",

      // The page host's sessions when several hosts share the database,
      // each under the SHA-256 of its identifier (never the identifier):
      // the values as text, times in microseconds since 1970 (UTC), and
      // who signed in, for the list of sessions. The table of earlier
      // versions held the identifiers themselves; it is dropped (the
      // people signed in then sign in again).
      "DROP TABLE IF EXISTS SYS_Session",
      "CREATE TABLE IF NOT EXISTS SYS_OnlineSession ("
      "SessionKey TEXT PRIMARY KEY, "
      "Data TEXT NOT NULL, "
      "Created INTEGER NOT NULL, "
      "LastSeen INTEGER NOT NULL, "
      "Expires INTEGER NOT NULL, "
      "PersonID TEXT NOT NULL DEFAULT '', "
      "Account TEXT NOT NULL DEFAULT '', "
      "AccountKey TEXT NOT NULL DEFAULT '', "
      "LoginID INTEGER NOT NULL DEFAULT 0, "
      "Address TEXT NOT NULL DEFAULT '', "
      "Browser TEXT NOT NULL DEFAULT '')",
      "CREATE INDEX IF NOT EXISTS SYS_OnlineSession_expires ON "
      "SYS_OnlineSession(Expires)",
      // The list of sessions, newest first: all, one account's, one
      // person's.
      "CREATE INDEX IF NOT EXISTS SYS_OnlineSession_created ON "
      "SYS_OnlineSession(Created)",
      "CREATE INDEX IF NOT EXISTS SYS_OnlineSession_account ON "
      "SYS_OnlineSession(AccountKey, Created)",
      "CREATE INDEX IF NOT EXISTS SYS_OnlineSession_person ON "
      "SYS_OnlineSession(PersonID, Created)",

      // The audit trail: one row per change of the menus, functions, roles,
      // grants or people's roles made through the administration pages or
      // `wrenhaven call`, written in the change's transaction. AuditTime is
      // the local date and time of the insert; the values before and after
      // are JSON text (null where there is none).
      "CREATE TABLE IF NOT EXISTS SYS_Audit ("
      "AuditID INTEGER PRIMARY KEY AUTOINCREMENT, "
      "AuditTime DATETIME NOT NULL DEFAULT (datetime('now','localtime')), "
      "PersonID INTEGER, "
      "PersonAccount TEXT NOT NULL DEFAULT '', "
      "ClientIP TEXT NOT NULL DEFAULT '', "
      "AuditKind TEXT NOT NULL, "
      "AuditTarget TEXT NOT NULL DEFAULT '', "
      "BeforeValue TEXT, "
      "AfterValue TEXT)",
      "CREATE INDEX IF NOT EXISTS SYS_Audit_time ON SYS_Audit(AuditTime)",
      "CREATE INDEX IF NOT EXISTS SYS_Audit_person ON SYS_Audit(PersonID, "
      "AuditID)",
      "CREATE INDEX IF NOT EXISTS SYS_Audit_kind ON SYS_Audit(AuditKind, "
      "AuditID)",

      // The version of who may see what: every change of the roles, the
      // people's roles, the menus, the functions or the grants counts it
      // up in its own transaction, so a page host that keeps rights or
      // menus in memory knows when to read them again (on every host that
      // shares the database).
      "CREATE TABLE IF NOT EXISTS SYS_Version ("
      "Name TEXT PRIMARY KEY, Version INTEGER NOT NULL)",
      "INSERT INTO SYS_Version (Name, Version) SELECT 'rights', 0 WHERE NOT "
      "EXISTS (SELECT 1 FROM SYS_Version WHERE Name = 'rights')",
      "CREATE TRIGGER IF NOT EXISTS SYS_PersonRole_version_insert AFTER INSERT "
      "ON SYS_PersonRole "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_PersonRole_version_update AFTER UPDATE "
      "ON SYS_PersonRole "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_PersonRole_version_delete AFTER DELETE "
      "ON SYS_PersonRole "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Role_version_insert AFTER INSERT ON "
      "SYS_Role "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Role_version_update AFTER UPDATE ON "
      "SYS_Role "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Role_version_delete AFTER DELETE ON "
      "SYS_Role "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Menu_version_insert AFTER INSERT ON "
      "SYS_Menu "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Menu_version_update AFTER UPDATE ON "
      "SYS_Menu "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Menu_version_delete AFTER DELETE ON "
      "SYS_Menu "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Function_version_insert AFTER INSERT "
      "ON SYS_Function "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Function_version_update AFTER UPDATE "
      "ON SYS_Function "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_Function_version_delete AFTER DELETE "
      "ON SYS_Function "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_right_version_insert AFTER INSERT ON "
      "SYS_right "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_right_version_update AFTER UPDATE ON "
      "SYS_right "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
      "CREATE TRIGGER IF NOT EXISTS SYS_right_version_delete AFTER DELETE ON "
      "SYS_right "
      "BEGIN UPDATE SYS_Version SET Version = Version + 1 WHERE Name = "
      "'rights'; END",
  };
  return kStatements;
}

const KeptFromRecords& SqliteKeptFromRecords() {
  static const KeptFromRecords kKept = [] {
    constexpr std::string_view kTrigger = "CREATE TRIGGER IF NOT EXISTS ";
    KeptFromRecords kept;
    for (std::string_view s : SqliteSchema()) {
      if (s.starts_with(kTrigger) &&
          s.find(" AFTER INSERT ON HR_Login BEGIN ") !=
              std::string_view::npos) {
        kept.insert_triggers.push_back(s);
        const std::string_view rest = s.substr(kTrigger.size());
        kept.trigger_names.push_back(rest.substr(0, rest.find(' ')));
      } else if (s.starts_with("INSERT INTO HR_Login")) {
        kept.fills.push_back(s);
      }
    }
    return kept;
  }();
  return kKept;
}

#undef SUMMARY_REMOVE_OLD
#undef SUMMARY_ADD_NEW
#undef HOURS_ADD_NEW
#undef HOURS_REMOVE_OLD
#undef MONTH_COUNTED
#undef MONTH_ADD_NEW
#undef MONTH_REMOVE_OLD

}  // namespace wrenhaven
