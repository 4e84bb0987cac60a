// Wrenhaven.Login: the sign-in page's handler and the login records.
//
// The sign-in page creates a Login, which the host binds to the page with
// OnStartPage, hands it its connection with SetConn and calls LoginMain. A
// form post is a sign-in attempt: the account and password are checked
// against HR_person, the visitor's session receives the person's identity
// and role lists, one HR_Login row records the attempt, and the page gets
// the script that opens the main window (or the failure alert). Any other
// visit of the sign-in page abandons the session.
//
// The administration pages read the login records back with GetAllData,
// GetPersonData, GetMonthLogin, GetData, GetDayCounts and GetHourCounts,
// and a page at a time with GetSummaryPage and GetMonthLoginPage;
// those need the connection only.
//
// Every method but GetError clears the thread's current error when it
// starts; a failure raises Error with a readable description, which
// GetError returns afterwards. The connection and the page objects are
// borrowed: the page owns, opens and closes them.
#ifndef WRENHAVEN_LOGIN_H_
#define WRENHAVEN_LOGIN_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "wrenhaven/class_base.h"
#include "wrenhaven/component.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// Slots 1 to 4 are the page hooks, SetConn and GetError of PageBoundClass
// (wrenhaven/class_base.h): OnStartPage, OnEndPage, SetConn, GetError.
class Login : public PageBoundClass {
 public:
  static const ClassInfo& Info();
  const ClassInfo& class_info() const override { return Info(); }

  // Slot 5. Does nothing; always false.
  bool UpdateLogin();
  // Slot 6. Does nothing; always "".
  std::string GetLoginAll();

  // The queries below need SetConn. Each reads the database once and
  // returns an array the page owns.

  // Slot 7. Successful sign-ins per person, the latest first: row 0 the
  // field names as the database reports them (SQLite: personID,
  // PersonName, lastTime, outTime, Times; PostgreSQL the same in lower
  // case), then one row per person: (0 To N, 0 To 4). With no successful
  // sign-in, the names row alone.
  VariantArray GetAllData();
  // Slot 8. Every record of one person, newest first, field first:
  // (0 To F-1, 0 To N-1) over the columns of HR_Login. For a person without
  // records, the column names as one row: (0 To 0, 0 To F-1).
  // REQUIRES: `person_id` is a number (or number text); anything else, empty
  // and Null included, raises before a statement is sent.
  VariantArray GetPersonData(const Variant& person_id);
  // Slot 9. The month of `date` (Empty reads as December 1899): per
  // person and day, the first sign-in from 06:00 on, as an array inside the
  // Variant, field first: person, name, department, day of month, the
  // earliest time as "YYYY-MM-DD HH:MM", the number of sign-ins; ordered by
  // department, then person. EmptyGrid when nobody signed in. Raises before
  // any statement for a Null or non-date `date` or one outside the years
  // 100 to 9999.
  Variant GetMonthLogin(const Variant& date);
  // Slot 10. The record `id` as one row (0 To F-1); a one-cell array
  // (0 To 0) holding Empty when there is none.
  VariantArray GetData(int32_t id);
  // Slot 13. The records of the last kCountedDays days by the database's
  // clock, today the last, field first: (0 To 2, 0 To kCountedDays-1),
  // each day as "YYYY-MM-DD", the number of successful sign-ins on it
  // (LoginOK 1) and of failed attempts (LoginOK 0); 0 for a day without
  // records. Raises when the database gives another number of days.
  VariantArray GetDayCounts();
  // Slot 14. The same for the 24 hours of today by the database's clock:
  // (0 To 2, 0 To 23), each the hour (0 to 23), the successful and the
  // failed records.
  VariantArray GetHourCounts();
  static constexpr int kCountedDays = 30;

  // Slot 11. Handles the sign-in page (needs OnStartPage, and SetConn for a
  // form post). REQUEST_METHOD "POST": reads "LoginName" and "LoginPwd"
  // and checks them (see CheckLogin); then sets cookie "pname" for 30 days
  // to the name as typed (surrounding blanks cut); on success draws the
  // session's "rnd", sets cookie "name" to the name with its quotes
  // doubled and cookie kDeviceCookie for 180 days (device_cookie()), and
  // either redirects to "MyOffice/?<rnd>" (when "oldwin"
  // reads true: the word true in any letter case, or a whole number other
  // than 0) or writes the window script and ends the response; on failure
  // writes the failure alert (with the wait when the attempt was held
  // back) and leaves the response open. Any other method abandons the
  // session and writes nothing.
  //
  // Refused before any statement, with kInvalidArgument and nothing
  // written: an account name or password that is not UTF-8, holds a NUL,
  // or is longer than kMaxAccountLength / kMaxPasswordLength characters
  // (wrenhaven/sign_in.h). A post that the browser says comes from another
  // site (Sec-Fetch-Site other than same-origin or none, or an Origin
  // whose host is not this one) checks nothing and writes nothing; see
  // refused_foreign().
  void LoginMain();

  // Slot 12. The `most` newest records of one person, as GetPersonData
  // gives them all: field first, (0 To F-1, 0 To N-1) with N at most
  // `most`, or the names row alone for a person without records. The
  // database reads only those rows.
  // REQUIRES: `person_id` as for GetPersonData; 1 <= `most` <=
  // kMostNewestRecords. Anything else raises before a statement is sent.
  VariantArray GetNewestData(const Variant& person_id, int32_t most);
  static constexpr int32_t kMostNewestRecords = 1000;

  // Slot 15. The rows of GetAllData after the first `first`, at most
  // `most` of them, in the same shape (the names row, then the rows) and
  // order, persons with the same latest sign-in by PersonID. Read from
  // HR_LoginSummary, which triggers on HR_Login keep, so the database
  // reads only these rows and the ones skipped.
  // REQUIRES: 0 <= `first`; 1 <= `most` <= kMostPageRows. Anything else
  // raises before a statement is sent.
  VariantArray GetSummaryPage(int32_t first, int32_t most);
  static constexpr int32_t kMostPageRows = 1000;
  // Slot 16. GetMonthLogin for the people after the first `first` of
  // those with a sign-in that month, at most `most` of them, ordered by
  // department, then person: the same fields and order, the same rows for
  // those people. The database visits people in that order until it has
  // them, and reads only their records of the month.
  // REQUIRES: `date` as for GetMonthLogin; 0 <= `first`; 1 <= `most` <=
  // kMostPagePeople.
  Variant GetMonthLoginPage(const Variant& date, int32_t first, int32_t most);
  static constexpr int32_t kMostPagePeople = 1000;
  // Slot 17. The records of GetPersonData after the first `first`, at most
  // `most` of them, in the same shape; records of the same time the newest
  // (highest LoginID) first.
  // REQUIRES: `person_id` as for GetPersonData; 0 <= `first`; 1 <= `most`
  // <= kMostPageRows.
  VariantArray GetPersonPage(const Variant& person_id, int32_t first,
                             int32_t most);

  // After LoginMain, for the host (not late bound).
  // Seconds the attempt was held back for (0 when it was not): the limits
  // of wrenhaven/sign_in.h were reached, no password was verified, the
  // attempt was recorded as failed.
  int held_back_seconds() const { return held_back_seconds_; }
  // True when the post came from another site and was not looked at.
  bool refused_foreign() const { return refused_foreign_; }
  // After a successful sign-in: the value of the browser's device cookie
  // (kDeviceCookie), which spares this browser the limits on failed
  // attempts for the account; a host sends it HttpOnly. Empty otherwise.
  const std::string& device_cookie() const { return device_cookie_; }
  static constexpr std::string_view kDeviceCookie = "WRENHAVEN_DEVICE";

 private:
  // The named request item, its single quotes doubled and surrounding
  // blanks cut: safe between single quotes in a statement. "" when absent.
  std::string GetRequestValue(std::string_view name) const;
  // Reads the account's people, verifies the password against each (one
  // verification, against a dummy hash, when there is none), writes the
  // HR_Login row and then fills the session (or clears "PersonID"): a
  // session is never filled without its record. REQUIRES: both texts came
  // through GetRequestValue.
  bool CheckLogin(const std::string& account, const std::string& password);
  // Seconds the limits hold this attempt back, 0 when they do not.
  int HeldBack(const std::string& account, const std::string& address);
  bool ComesFromAnotherSite() const;

  int held_back_seconds_ = 0;
  bool refused_foreign_ = false;
  std::string device_cookie_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_LOGIN_H_
