// The server killed (SIGKILL) in the middle of a flood of sign-ins and
// administration changes, twenty times over on one SQLite office. After
// each kill the file passes its integrity check, every sign-in that was
// answered as a success has its login record, and every change that was
// answered as done is there.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "testing/test_db.h"
#include "tests/http/http_support.h"
#include "tests/http/serve_process.h"

namespace wrenhaven::testing {
namespace {

constexpr int kRounds = 20;
const char* const kPeople[] = {"ben", "cho", "dev", "eva", "gia", "jon"};

std::string TokenOf(const std::string& page) {
  static const std::regex token(
      "<input type=\"hidden\" name=\"token\" value=\"([0-9a-f]*)\">");
  std::smatch m;
  return std::regex_search(page, m, token) ? m[1].str() : "";
}

struct Answered {
  std::mutex mutex;
  std::vector<std::string> sign_ins;  // the Screen text of each success
  std::vector<std::string> changes;   // the name of each function added
};

// Signs `who` in again and again, each attempt marked by its Screen text,
// until the server stops answering.
void SignInLoop(int port, const std::string& who, int round,
                const std::atomic<bool>& stop, Answered* answered) {
  for (int i = 0; !stop; ++i) {
    const std::string mark =
        "crash-" + std::to_string(round) + "-" + who + "-" + std::to_string(i);
    Reply r;
    try {
      Browser b(port);
      r = b.Post("/", Form({{"LoginName", who},
                            {"LoginPwd", who + "123"},
                            {"Screen", mark},
                            {"oldwin", "true"}}));
    } catch (const std::exception&) {
      return;  // the server is gone; this attempt was never answered
    }
    if (r.status == 302) {
      std::lock_guard lock(answered->mutex);
      answered->sign_ins.push_back(mark);
    }
  }
}

// An administrator adds functions until the server stops answering.
void ChangeLoop(int port, int round, const std::atomic<bool>& stop,
                Answered* answered) try {
  Browser ann(port);
  if (ann.Post("/", Form({{"LoginName", "ann"},
                          {"LoginPwd", "ann123"},
                          {"oldwin", "true"}}))
          .status != 302) {
    return;
  }
  const std::string token = TokenOf(ann.Get("/admin/functions/new").body);
  for (int i = 0; !stop && !token.empty(); ++i) {
    const std::string name =
        "crash " + std::to_string(round) + "/" + std::to_string(i);
    const Reply r =
        ann.Post("/admin/functions/new",
                 Form({{"token", token}, {"FunName", name}, {"FunUrl", "/x"}}));
    if (r.status == 302 || r.status == 303) {
      std::lock_guard lock(answered->mutex);
      answered->changes.push_back(name);
    }
  }
} catch (const std::exception&) {
  // the server is gone; the change under way was never answered
}

TEST(CrashTest, EveryAnsweredSignInAndChangeSurvivesAKill) {
  TestDb db("sqlite", /*demo=*/true);
  std::mt19937 random(20261207);
  size_t sign_ins = 0, changes = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Answered answered;
    {
      ServeProcess server(db.path(), {"--quiet", "--hash-preset", "test",
                                      "--signin-limits", "off"});
      std::atomic<bool> stop{false};
      std::vector<std::thread> clients;
      for (const char* who : kPeople) {
        clients.emplace_back(SignInLoop, server.port(), std::string(who), round,
                             std::cref(stop), &answered);
      }
      clients.emplace_back(ChangeLoop, server.port(), round, std::cref(stop),
                           &answered);
      std::this_thread::sleep_for(std::chrono::milliseconds(
          std::uniform_int_distribution<int>(150, 600)(random)));
      server.Kill();
      stop = true;
      for (std::thread& t : clients) t.join();
    }
    ASSERT_EQ(db.Scalar("PRAGMA integrity_check"), Variant::String("ok"));
    for (const std::string& mark : answered.sign_ins) {
      EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM HR_Login WHERE LoginOK=1 AND "
                          "LoginScreen='" +
                          mark + "'"),
                Variant::Long(1))
          << mark;
    }
    for (const std::string& name : answered.changes) {
      EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM SYS_Function WHERE FunName='" +
                          name + "'"),
                Variant::Long(1))
          << name;
    }
    sign_ins += answered.sign_ins.size();
    changes += answered.changes.size();
  }
  // The flood did flow: the test proved something.
  EXPECT_GT(sign_ins, static_cast<size_t>(kRounds));
  EXPECT_GT(changes, static_cast<size_t>(kRounds));
  std::printf("%zu answered sign-ins and %zu answered changes kept\n", sign_ins,
              changes);
}

}  // namespace
}  // namespace wrenhaven::testing
