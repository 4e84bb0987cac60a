// The stored passwords as a whole: hashing those from before hashing, and
// setting one person's.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame/statement.h"
#include "frame/text.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sign_in.h"

namespace wrenhaven {
namespace {

struct Stored {
  Variant person_id;
  std::string value;
  std::string hash;
};

// Hashes every entry's value with all cores: at the standard cost one
// hash takes tens of milliseconds, and an office has thousands of people.
void HashAll(std::vector<Stored>& people, const PasswordCost& cost,
             const std::function<void(int64_t, int64_t)>& progress) {
  const unsigned threads =
      std::max(1u, std::min<unsigned>(std::thread::hardware_concurrency(),
                                      static_cast<unsigned>(people.size())));
  std::atomic<size_t> next{0};
  std::atomic<int64_t> done{0};
  std::exception_ptr failure;
  std::mutex mutex;
  const auto total = static_cast<int64_t>(people.size());
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < people.size();) {
      try {
        people[i].hash = HashPassword(people[i].value, cost);
      } catch (...) {
        std::lock_guard lock(mutex);
        if (!failure) failure = std::current_exception();
        next = people.size();
        return;
      }
      const int64_t now = done.fetch_add(1) + 1;
      if (progress) {
        std::lock_guard lock(mutex);
        progress(now, total);
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

int64_t HashStoredPasswords(
    Connection& conn, const PasswordCost& cost,
    const std::function<void(int64_t, int64_t)>& progress) {
  Transaction tx(conn);
  std::vector<Stored> plain;
  {
    std::unique_ptr<Recordset> rs =
        conn.Open("Select PersonID, personPwd from HR_person order by PersonID",
                  CursorType::kForwardOnly);
    while (!rs->Eof()) {
      const Variant stored = rs->Value(1);
      if (!stored.is_null() && !IsPasswordHash(stored.ToText())) {
        plain.push_back({rs->Value(0), stored.ToText(), {}});
      }
      rs->MoveNext();
    }
    rs->Close();
  }
  for (const Stored& p : plain) {
    if (!p.person_id.is_numeric() && !IsNumberText(p.person_id.ToText())) {
      Raise(ErrorCode::kDatabase,
            "A person's PersonID " + p.person_id.Debug() + " is no number");
    }
  }
  HashAll(plain, cost, progress);
  for (const Stored& p : plain) {
    Statement update;
    update.Text("Update HR_person set personPwd='")
        .Quoted(Variant::String(p.hash))
        .Text("' where PersonID=")
        .Bare(p.person_id, "PersonID");
    conn.Execute(update.Finish());
  }
  tx.Commit();
  return static_cast<int64_t>(plain.size());
}

void SetStoredPassword(Connection& conn, std::string_view account,
                       std::string_view password, const PasswordCost& cost) {
  if (!IsValidUtf8(password) || password.find('\0') != std::string::npos) {
    Raise(ErrorCode::kInvalidArgument,
          "The password must be UTF-8 text without NUL characters");
  }
  if (Utf8Length(password) < 8) {
    Raise(ErrorCode::kInvalidArgument,
          "The password must be at least 8 characters long");
  }
  if (Utf8Length(password) > kMaxPasswordLength) {
    Raise(ErrorCode::kInvalidArgument, "The password must be at most " +
                                           std::to_string(kMaxPasswordLength) +
                                           " characters long");
  }
  if (EqualsIgnoreCase(password, account)) {
    Raise(ErrorCode::kInvalidArgument,
          "The password must not be the account name");
  }
  if (!IsValidUtf8(account) || account.find('\0') != std::string::npos ||
      Utf8Length(account) > kMaxAccountLength) {
    Raise(ErrorCode::kInvalidArgument,
          "The account name must be UTF-8 text of at most " +
              std::to_string(kMaxAccountLength) + " characters");
  }
  const std::string hash = HashPassword(password, cost);

  Transaction tx(conn);
  Statement find;
  find.Text("Select PersonID from HR_person where personAccount='")
      .Quoted(Variant::String(std::string(account)))
      .Text("'");
  std::vector<Variant> ids;
  std::unique_ptr<Recordset> rs =
      conn.Open(find.Finish(), CursorType::kForwardOnly);
  while (!rs->Eof()) {
    ids.push_back(rs->Value(0));
    rs->MoveNext();
  }
  rs->Close();
  if (ids.size() != 1) {
    Raise(ErrorCode::kInvalidArgument,
          ids.empty() ? "No person has this account name"
                      : "More than one person has this account name");
  }
  Statement update;
  update.Text("Update HR_person set personPwd='")
      .Quoted(Variant::String(hash))
      .Text("' where PersonID=")
      .Bare(ids.front(), "PersonID");
  conn.Execute(update.Finish());
  tx.Commit();
}

}  // namespace wrenhaven
