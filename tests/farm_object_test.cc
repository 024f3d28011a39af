// The farm object: its three states, farm name, versions and memory; the
// object base's reference and child counts.
#include <gtest/gtest.h>

#include <memory>

#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "platform/platform.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"

namespace {

using FarmObjectTest = feroq::testing::FarmTest;

TEST_F(FarmObjectTest, InstanceNumbersCountLiveFarmObjects) {
  auto first = std::make_unique<FarmObject>();
  const auto base = first->InstanceNumber();
  EXPECT_GE(base, 1);
  FarmObject second;
  EXPECT_EQ(second.InstanceNumber(), base + 1);
  first.reset();
  FarmObject third;  // the count fell when the first went
  EXPECT_EQ(third.InstanceNumber(), base + 1);
}

TEST_F(FarmObjectTest, FullyBuiltObjectHasServicesNameAndMap) {
  SeedFarmName(u"Pr\u00fcfstand");
  FarmObject farm;

  char16_t* name = nullptr;
  ASSERT_EQ(farm.GetFarmName(&name), S_OK);
  EXPECT_EQ(std::u16string(name), u"Pr\u00fcfstand");
  char16_t* again = nullptr;
  ASSERT_EQ(farm.GetFarmName(&again), S_OK);
  EXPECT_NE(name, again);  // a new block each time
  EXPECT_EQ(std::u16string(name), std::u16string(again));
  EXPECT_EQ(farm.FreeMemory(name), S_OK);
  EXPECT_EQ(farm.FreeMemory(again), S_OK);

  LONG version = 0;
  EXPECT_EQ(farm.GetVersion(&version), S_OK);
  EXPECT_EQ(version, 1);
  EXPECT_EQ(farm.GetAppSubsysVersion(&version), S_OK);
  EXPECT_GT(version, 0);
}

TEST_F(FarmObjectTest, OneCharacterNameYieldsFourByteBlock) {
  SeedFarmName(u"Q");
  FarmObject farm;
  char16_t* name = nullptr;
  ASSERT_EQ(farm.GetFarmName(&name), S_OK);
  EXPECT_EQ(feroq::platform::HeapBlockSize(name), 4u);
  EXPECT_EQ(std::u16string(name), u"Q");
  farm.FreeMemory(name);
}

TEST_F(FarmObjectTest, InertObjectAnswersUnexpectedEverywhere) {
  char16_t any[] = u"farm";
  for (char16_t* argument : {any, static_cast<char16_t*>(nullptr)}) {
    FarmObject farm(argument);
    EXPECT_EQ(farm.InstanceNumber(), 0);
    char16_t* name = nullptr;
    EXPECT_EQ(farm.GetFarmName(&name), E_UNEXPECTED);
    EXPECT_EQ(farm.GetFarmName(nullptr), E_INVALIDARG);
    LONG version = 0;
    EXPECT_EQ(farm.GetAppSubsysVersion(&version), E_UNEXPECTED);
    EXPECT_EQ(farm.GetVersion(&version), S_OK);
    EXPECT_EQ(version, 1);
    EXPECT_EQ(farm.GetObjectIDMap(), nullptr);
    EXPECT_EQ(farm.FreeMemory(nullptr), S_OK);
    ULONG64 id = 1;
    AppFolderObject* folder = nullptr;
    EXPECT_EQ(farm.CreateAppFolderObject(id, &folder, 0), E_UNEXPECTED);
    FolderObject* root = nullptr;
    EXPECT_EQ(farm.GetRootFolder(FarmObjectWinApp, &root), E_NOTIMPL);
    EXPECT_EQ(farm.GetRootFolder(FarmObjectAppFolder, &root), E_UNEXPECTED);
  }
}

TEST_F(FarmObjectTest, MissingFolderServiceLeavesObjectHalfBuilt) {
  feroq::services::InjectServiceFault("VORNCommonApplicationSAL::new", feroq::VORN_E_OUTOFMEMORY);
  FarmObject farm;
  EXPECT_EQ(farm.GetZQWinAppSAL(), nullptr);
  EXPECT_EQ(farm.GetZQServerSAL(), nullptr);
  EXPECT_EQ(farm.GetUserSAL(), nullptr);
  EXPECT_EQ(farm.GetAppFolderSAL(), nullptr);
  EXPECT_EQ(farm.GetObjectIDMap(), nullptr);
  EXPECT_NE(farm.GetHeap(), nullptr);
  char16_t* name = nullptr;
  EXPECT_EQ(farm.GetFarmName(&name), S_OK);  // the name was read before
  farm.FreeMemory(name);
  LONG version = 0;
  EXPECT_EQ(farm.GetAppSubsysVersion(&version), E_UNEXPECTED);
  char16_t* servers = nullptr;
  ULONG count = 0;
  EXPECT_EQ(farm.EnumerateServers(&servers, &count), E_UNEXPECTED);
  CommonObject** apps = reinterpret_cast<CommonObject**>(&count);
  count = 5;
  EXPECT_EQ(farm.EnumerateApps(&apps, &count), E_UNEXPECTED);
  EXPECT_EQ(apps, nullptr);
  EXPECT_EQ(count, 0u);
}

TEST_F(FarmObjectTest, NameFailuresLeaveAFarmWithoutName) {
  feroq::services::InjectServiceFault("VORN_FarmName", feroq::VORN_E_FAILURE);
  FarmObject no_name;
  char16_t* name = nullptr;
  EXPECT_EQ(no_name.GetFarmName(&name), E_UNEXPECTED);
  EXPECT_NE(no_name.GetZQWinAppSAL(), nullptr);  // otherwise fully built

  FarmObject named;
  const auto live = feroq::platform::LiveHeapBlocks();
  feroq::platform::FailAllocationAt(1);
  EXPECT_EQ(named.GetFarmName(&name), E_OUTOFMEMORY);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live);
}

TEST_F(FarmObjectTest, AssignmentSharesEverything) {
  FarmObject farm;
  FarmObject inert(nullptr);
  inert = farm;
  EXPECT_EQ(inert.GetZQWinAppSAL(), farm.GetZQWinAppSAL());
  EXPECT_EQ(inert.GetObjectIDMap(), farm.GetObjectIDMap());
  EXPECT_EQ(inert.InstanceNumber(), farm.InstanceNumber());
  // Only one of the two may be destroyed: make the copy inert again.
  FarmObject blank(nullptr);
  inert = blank;
}

// The object base, through the folder class (the base is abstract).
TEST(ObjectBaseTest, ReferenceCountsSaturate) {
  AppFolderObject folder(7, static_cast<char16_t*>(nullptr));
  EXPECT_EQ(folder.GetRefCount(), 1u);
  folder.DecrementRefCount();
  folder.DecrementRefCount();
  EXPECT_EQ(folder.GetRefCount(), 0u);
  for (int i = 0; i < 3; ++i) folder.IncrementRefCount();
  EXPECT_EQ(folder.GetRefCount(), 3u);

  AppFolderObject copy(folder);
  EXPECT_EQ(copy.GetRefCount(), 3u);
  ULONG64 id = 0;
  copy.GetObjectID(id);
  EXPECT_EQ(id, 7u);
  _FarmObjectType type = FarmObjectWinApp;
  copy.GetObjectType(&type);
  EXPECT_EQ(type, FarmObjectAppFolder);
}

TEST(ObjectBaseTest, ChildCountsHaveNoFloor) {
  AppFolderObject a(1, static_cast<char16_t*>(nullptr));
  AppFolderObject b(2, static_cast<char16_t*>(nullptr));
  EXPECT_EQ(a.IncrementChildCount(), 1);
  EXPECT_EQ(b.DecrementChildCount(), -1);
  EXPECT_EQ(b.GetChildCount(), -1);
}

TEST(ObjectBaseTest, BaseNameOperationsAreNotImplemented) {
  // A detached folder answers names itself; the base's answers are reached
  // through a class that does not override them.
  struct Bare : CommonObject {
    Bare() : CommonObject(FarmObjectWinApp, 3) {}
    HRESULT GetParentFolder(FolderObject**) override { return E_NOTIMPL; }
  } bare;
  char16_t marker[] = u"x";
  char16_t* name = marker;
  EXPECT_EQ(bare.GetObjectName(&name), E_NOTIMPL);
  EXPECT_EQ(name, nullptr);
  name = marker;
  EXPECT_EQ(bare.GetDistinguishedName(&name), E_NOTIMPL);
  EXPECT_EQ(name, nullptr);
  LONG version = 42;
  EXPECT_EQ(bare.GetVersion(&version), E_NOTIMPL);
  EXPECT_EQ(version, 42);
  EXPECT_EQ(bare.SetObjectName(marker), E_NOTIMPL);
}

}  // namespace
