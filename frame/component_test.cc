#include "wrenhaven/component.h"

#include <gtest/gtest.h>

#include "frame/binding.h"
#include "frame/guard.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

// A class made for these tests: one method of each parameter kind.
class Probe : public Component {
 public:
  static const ClassInfo& Info() {
    static const ClassInfo info{
        "Wrenhaven.Probe",
        "_Probe",
        {
            Method("Twice", &Probe::Twice, {ByVal("ID")}),
            Method("Echo", &Probe::Echo, {ByRef("value")}),
            Method("Touch", &Probe::Touch),
            Method("Fail", &Probe::Fail),
        },
        [] { return std::make_shared<Probe>(); },
    };
    return info;
  }
  const ClassInfo& class_info() const override { return Info(); }

  VariantArray Twice(int32_t id) {
    return Guarded([&] {
      VariantArray a = VariantArray::OneDim(0);
      a(0) = Variant::Double(2.0 * id);
      return a;
    });
  }
  Variant Echo(Variant value) { return value; }
  void Touch() {
    Guarded([&] { ++touched; });
  }
  bool Fail() {
    return Guarded([&]() -> bool { throw std::runtime_error("disk on fire"); });
  }
  int touched = 0;
};

const bool kRegistered = RegisterClass(Probe::Info());

TEST(ComponentTest, CreatedByIdentifierWithLetterCaseIgnored) {
  ASSERT_TRUE(kRegistered);
  auto p = CreateObject("WRENHAVEN.probe");
  EXPECT_EQ(p->class_info().progid, "Wrenhaven.Probe");
  EXPECT_THROW(CreateObject("Wrenhaven.Nothing"), Error);
}

TEST(ComponentTest, DispatchByNameAndBySlotReachTheSameMethod) {
  auto p = CreateObject("Wrenhaven.Probe");
  std::vector<Variant> args = {Variant::String("32768")};
  EXPECT_EQ(p->Invoke("twice", args).array().Dump(), "(0 To 0) [65536]");
  EXPECT_EQ(p->InvokeSlot(1, args).array().Dump(), "(0 To 0) [65536]");
  std::vector<Variant> none;
  p->Invoke("TOUCH", none);
  p->InvokeSlot(3, none);
  EXPECT_EQ(std::static_pointer_cast<Probe>(p)->touched, 2);
}

TEST(ComponentTest, ByRefArgumentsAreNotChanged) {
  auto p = CreateObject("Wrenhaven.Probe");
  std::vector<Variant> args = {Variant::String("x")};
  EXPECT_EQ(p->Invoke("Echo", args), Variant::String("x"));
  EXPECT_EQ(args[0], Variant::String("x"));
}

TEST(ComponentTest, UnknownMethodsSlotsAndArgumentCountsRaise) {
  auto p = CreateObject("Wrenhaven.Probe");
  std::vector<Variant> none;
  EXPECT_THROW(p->Invoke("Nope", none), Error);
  EXPECT_THROW(p->InvokeSlot(0, none), Error);
  EXPECT_THROW(p->InvokeSlot(5, none), Error);
  EXPECT_THROW(p->Invoke("Twice", none), Error);
  EXPECT_EQ(p->FindMethod("nope"), nullptr);
}

TEST(ComponentTest, ConversionErrorsOfArgumentsReachTheCaller) {
  auto p = CreateObject("Wrenhaven.Probe");
  std::vector<Variant> big = {Variant::Double(3e9)};
  try {
    p->Invoke("Twice", big);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kOverflow);
  }
  std::vector<Variant> null = {Variant::Null()};
  EXPECT_THROW(p->Invoke("Twice", null), Error);
  EXPECT_EQ(CurrentError(), "Invalid use of Null");
}

TEST(ComponentTest, ForeignExceptionsBecomeErrorsAndSuccessClearsTheError) {
  auto p = CreateObject("Wrenhaven.Probe");
  std::vector<Variant> none;
  try {
    p->Invoke("Fail", none);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "disk on fire");
  }
  EXPECT_EQ(CurrentError(), "disk on fire");
  p->Invoke("Touch", none);
  EXPECT_EQ(CurrentError(), "");
}

TEST(ComponentTest, TheFiveClassesAreRegistered) {
  for (const char* id : {"Wrenhaven.RoleRight"}) {
    EXPECT_NE(Registry::Default().Find(id), nullptr) << id;
  }
}

}  // namespace
}  // namespace wrenhaven
