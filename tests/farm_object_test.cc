// The farm object: its three states, farm name, versions and memory; the
// object base's reference counts. (What a half-built farm object or one
// without a name answers to its services' failures is the sweeps' to check.)
#include <gtest/gtest.h>

#include <memory>

#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "platform/platform.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::HeapText;
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

TEST_F(FarmObjectTest, NameIsANewBlockEachTimeAndVersionsAreKnown) {
  SeedFarmName(u"Pr\u00fcfstand");
  FarmObject farm;
  HeapText name(farm), again(farm);
  ASSERT_EQ(farm.GetFarmName(&name.out()), S_OK);
  ASSERT_EQ(farm.GetFarmName(&again.out()), S_OK);
  EXPECT_EQ(name.str(), u"Pr\u00fcfstand");
  EXPECT_NE(name.get(), again.get());

  LONG version = 0;
  EXPECT_EQ(farm.GetVersion(&version), S_OK);
  EXPECT_EQ(version, 1);
  EXPECT_EQ(farm.GetAppSubsysVersion(&version), S_OK);
  EXPECT_GT(version, 0);

  feroq::platform::FailAllocationAt(1);
  char16_t* failed = reinterpret_cast<char16_t*>(0x8);
  EXPECT_EQ(farm.GetFarmName(&failed), E_OUTOFMEMORY);
  EXPECT_EQ(failed, nullptr);

  SeedFarmName(u"Q");
  FarmObject short_name;
  HeapText q(short_name);
  ASSERT_EQ(short_name.GetFarmName(&q.out()), S_OK);
  EXPECT_EQ(feroq::platform::HeapBlockSize(q.get()), 4u);  // the unit and its NUL
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

TEST_F(FarmObjectTest, HalfBuiltObjectKeepsItsNameAndRefusesTheLists) {
  feroq::services::InjectServiceFault("VORNCommonApplicationSAL::new", feroq::VORN_E_OUTOFMEMORY);
  FarmObject farm;
  EXPECT_EQ(farm.GetObjectIDMap(), nullptr);
  EXPECT_NE(farm.GetHeap(), nullptr);
  HeapText name(farm);
  EXPECT_EQ(farm.GetFarmName(&name.out()), S_OK);  // the name was read before
  char16_t* servers = nullptr;
  ULONG count = 0;
  EXPECT_EQ(farm.EnumerateServers(&servers, &count), E_UNEXPECTED);
  CommonObject** apps = reinterpret_cast<CommonObject**>(&count);
  count = 5;
  EXPECT_EQ(farm.EnumerateApps(&apps, &count), E_UNEXPECTED);
  EXPECT_EQ(apps, nullptr);
  EXPECT_EQ(count, 0u);
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
TEST(ObjectBaseTest, ReferenceCountsSaturateAndCopiesKeepTheirKind) {
  AppFolderObject folder(7, static_cast<char16_t*>(nullptr));
  folder.DecrementRefCount();
  folder.DecrementRefCount();
  EXPECT_EQ(folder.GetRefCount(), 0u);
  for (int i = 0; i < 3; ++i) folder.IncrementRefCount();
  AppFolderObject copy(folder);
  EXPECT_EQ(copy.GetRefCount(), 3u);
  ULONG64 id = 0;
  copy.GetObjectID(id);
  EXPECT_EQ(id, 7u);
  _FarmObjectType type = FarmObjectWinApp;
  copy.GetObjectType(&type);
  EXPECT_EQ(type, FarmObjectAppFolder);
}

}  // namespace
