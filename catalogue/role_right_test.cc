#include "wrenhaven/role_right.h"

#include <gtest/gtest.h>

#include "testing/recording_connection.h"
#include "wrenhaven/component.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

TEST(RoleRightTest, CreatedByIdentifierWithTwoSlots) {
  auto rr = CreateObject("Wrenhaven.RoleRight");
  ASSERT_NE(rr, nullptr);
  const ClassInfo& info = rr->class_info();
  EXPECT_EQ(info.interface_name, "_RoleRight");
  ASSERT_GE(info.methods.size(), 2u);
  EXPECT_EQ(info.methods[0].name, "SetConn");
  EXPECT_EQ(info.methods[0].params[0].name, "pConn");
  EXPECT_EQ(info.methods[0].params[0].passing, Passing::kByRef);
  EXPECT_EQ(info.methods[1].name, "GetError");
}

TEST(RoleRightTest, GetErrorIsEmptyUntilACallFailsThenDescribesIt) {
  auto rr = CreateObject("wrenhaven.roleright");
  std::vector<Variant> none;
  ClearError();
  EXPECT_EQ(rr->Invoke("GetError", none), Variant::String(""));

  std::vector<Variant> bad = {Variant::String("not a connection")};
  EXPECT_THROW(rr->Invoke("SetConn", bad), Error);
  const Variant described = rr->Invoke("geterror", none);
  EXPECT_NE(described.string(), "");
  // Reading it changes nothing.
  EXPECT_EQ(rr->InvokeSlot(2, none), described);

  // A call that succeeds clears it.
  std::vector<Variant> good = {
      Variant::FromObject(std::make_shared<RecordingConnection>())};
  rr->Invoke("SetConn", good);
  EXPECT_EQ(rr->Invoke("GetError", none), Variant::String(""));
}

}  // namespace
}  // namespace wrenhaven
