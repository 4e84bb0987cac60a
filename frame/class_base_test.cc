// What every class holds and checks the same way: the borrowed connection,
// the page objects between the page hooks, and the identifier check.
#include "wrenhaven/class_base.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/recording_connection.h"
#include "wrenhaven/error.h"
#include "wrenhaven/memory_page.h"

namespace wrenhaven {
namespace {

// The protected members, reachable for the test.
class Probe : public PageBoundClass {
 public:
  const ClassInfo& class_info() const override {
    static const ClassInfo info{"Wrenhaven.ClassBaseProbe", "_Probe", {}, {}};
    return info;
  }
  using ClassBase::conn;
  using ClassBase::RequireId;
  using PageBoundClass::application;
  using PageBoundClass::request;
  using PageBoundClass::response;
  using PageBoundClass::server;
  using PageBoundClass::session;

  // How many of the five page objects are held.
  int held() const {
    int n = 0;
    for (auto has : {+[](const Probe& p) { (void)p.response(); },
                     +[](const Probe& p) { (void)p.request(); },
                     +[](const Probe& p) { (void)p.server(); },
                     +[](const Probe& p) { (void)p.application(); },
                     +[](const Probe& p) { (void)p.session(); }}) {
      try {
        has(*this);
        ++n;
      } catch (const Error&) {
      }
    }
    return n;
  }
};

TEST(ClassBaseTest, SetConnKeepsTheLatestConnectionAndNothingEmptiesIt) {
  Probe p;
  EXPECT_THROW(p.conn(), Error);
  EXPECT_EQ(p.GetError(), "No database connection: SetConn was not given one");
  auto first = std::make_shared<RecordingConnection>();
  auto second = std::make_shared<RecordingConnection>();
  p.SetConn(first);
  EXPECT_EQ(p.GetError(), "");  // SetConn starts a call like any other
  p.SetConn(second);
  EXPECT_EQ(&p.conn(), second.get());
  p.SetConn(nullptr);
  EXPECT_THROW(p.conn(), Error);
  EXPECT_TRUE(first->sent.empty() && second->sent.empty());
}

TEST(ClassBaseTest, OneErrorCodeForEveryIdentifierThatNamesNothing) {
  const struct {
    Variant id;
    const char* description;  // "" when the identifier passes
  } cases[] = {
      {Variant(), "ID is empty: name the menu to change or delete"},
      {Variant::String(""), "ID is empty: name the menu to change or delete"},
      {Variant::Null(), "ID is Null: name the menu to change or delete"},
      {Variant::Long(0), ""},
      {Variant::String("7"), ""},
      // Not a number: left to the statement builder, which names it.
      {Variant::String("7 or 1=1"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id.Debug());
    if (*c.description == '\0') {
      EXPECT_NO_THROW(Probe::RequireId(c.id, "ID", "menu to change or delete"));
      continue;
    }
    try {
      Probe::RequireId(c.id, "ID", "menu to change or delete");
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument);
      EXPECT_EQ(e.description(), c.description);
    }
  }
}

TEST(PageBoundClassTest, StartTakesAllFiveAndEndReleasesThem) {
  Probe p;
  EXPECT_EQ(p.held(), 0);
  EXPECT_EQ(p.OnEndPage(), Variant());  // without a start: no error
  auto sc = std::make_shared<MemoryContext>();
  EXPECT_EQ(p.OnStartPage(sc), Variant());
  EXPECT_EQ(&p.session(), sc->session_obj.get());
  EXPECT_EQ(p.held(), 5);
  auto second = std::make_shared<MemoryContext>();
  p.OnStartPage(second);
  EXPECT_EQ(&p.request(), second->request_obj.get());
  p.SetConn(std::make_shared<RecordingConnection>());
  p.OnEndPage();
  EXPECT_EQ(p.held(), 0);
  EXPECT_NO_THROW(p.conn());  // the connection is not a page object
  try {
    p.session();
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kObjectRequired);
    EXPECT_EQ(e.description(),
              "No session object: the page did not call OnStartPage");
  }
}

TEST(PageBoundClassTest, AMissingHostObjectIsNamedAndEarlierOnesStay) {
  Probe p;
  auto sc = std::make_shared<MemoryContext>();
  sc->session_obj = nullptr;
  EXPECT_THROW(p.OnStartPage(sc), Error);
  EXPECT_EQ(p.GetError(), "The scripting context has no session object");
  EXPECT_EQ(p.held(), 4);
  EXPECT_THROW(p.OnStartPage(nullptr), Error);
  EXPECT_EQ(p.GetError(), "Object required: no scripting context");
}

}  // namespace
}  // namespace wrenhaven
