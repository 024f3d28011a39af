// Distinguished names: the builder, lookup by walking the tree, and lookup
// of applications by name.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "services/service_faults.h"
#include "support/farm_builder.h"
#include "support/farm_fixture.h"
#include "support/handles.h"
#include "support/temp_files.h"

namespace {

using feroq::testing::W;
using feroq::testing::FarmBuilder;
using feroq::testing::ReleaseObject;

// The tree: Applications / Office / Tools / Editor (an application), and
// Applications / Report (an application in the root).
class DistinguishedNameTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    OpenFarm();
    FarmBuilder build(*farm_);
    office_ = build.Folder(u"Office");
    tools_ = build.Folder(u"Tools", office_);
    editor_ = build.App(u"Editor", tools_);
    report_ = build.App(u"Report");
    live_blocks_ = feroq::platform::LiveHeapBlocks();
  }
  // Looks `dn` up from `start`; returns the result, the found object's
  // identifier in `*id` (0 for none) and releases what was found.
  HRESULT Lookup(const std::u16string& dn, ULONG64* id, FolderObject* start = nullptr) {
    std::u16string copy = dn;
    CommonObject* found = reinterpret_cast<CommonObject*>(0x8);
    HRESULT hr = farm_->GetObjectByDN(start, copy.data(), &found);
    *id = 0;
    if (hr == S_OK && found != nullptr) {
      found->GetObjectID(*id);
      farm_->FreeObject(found);
    } else if (hr == S_OK) {
      *id = 0;
    } else {
      EXPECT_EQ(found, reinterpret_cast<CommonObject*>(0x8)) << "output written on failure";
    }
    return hr;
  }
  std::u16string NameOf(ULONG64 id) {
    CommonObject* object = nullptr;
    if (feroq::ObjectKindOf(id) == feroq::kObjectKindApplication) {
      ZQWinAppObject* app = nullptr;
      EXPECT_EQ(farm_->CreateWinAppFromID(id, &app), S_OK);
      EXPECT_EQ(app->Load(), S_OK);
      object = app;
    } else {
      AppFolderObject* folder = nullptr;
      EXPECT_EQ(farm_->CreateAppFolderObject(id, &folder, 0), S_OK);
      object = folder;
    }
    char16_t* dn = nullptr;
    EXPECT_EQ(object->GetDistinguishedName(&dn), S_OK);
    std::u16string text = dn == nullptr ? u"" : dn;
    farm_->FreeMemory(dn);
    farm_->FreeObject(object);
    return text;
  }
  ULONG64 office_ = 0, tools_ = 0, editor_ = 0, report_ = 0;
  std::int64_t live_blocks_ = 0;
};

TEST_F(DistinguishedNameTest, BuilderWritesThePathFromTheRoot) {
  EXPECT_EQ(NameOf(editor_), u"\\Applications\\Office\\Tools\\Editor");
  EXPECT_EQ(NameOf(tools_), u"\\Applications\\Office\\Tools");
  EXPECT_EQ(NameOf(office_), u"\\Applications\\Office");
  EXPECT_EQ(NameOf(report_), u"\\Applications\\Report");
  ZQWinAppObject* app = nullptr;
  ULONG64 id = editor_;
  ASSERT_EQ(farm_->CreateWinAppFromID(id, &app), S_OK);
  EXPECT_EQ(app->GetDistinguishedName(nullptr), E_INVALIDARG);
  ReleaseObject(*farm_, app);
  EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live_blocks_);
}

TEST_F(DistinguishedNameTest, DeepPathsGrowTheWorkBuffer) {
  FarmBuilder build(*farm_);
  ULONG64 parent = 0;
  std::u16string expected = u"\\Applications";
  const std::u16string segment(40, u'n');  // 82 bytes with its NUL
  for (int level = 0; level < 12; ++level) {  // about 1 KB of names
    std::u16string name = segment + static_cast<char16_t>(u'A' + level);
    parent = build.Folder(name, parent);
    expected += u"\\" + name;
  }
  ULONG64 app = build.App(u"Deep", parent);
  EXPECT_EQ(NameOf(app), expected + u"\\Deep");
}

TEST_F(DistinguishedNameTest, LookupAcceptsTheWiderFormAndRefuses) {
  FolderObject* root = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root), S_OK);
  ULONG64 root_id = 0;
  root->GetObjectID(root_id);
  ReleaseObject(*farm_, root);
  struct Case {
    const char16_t* dn;
    HRESULT result;
    ULONG64 id;
  };
  const Case cases[] = {
      {u"\\Applications", S_OK, root_id},
      {u"/Applications/Office", S_OK, office_},
      {u"\\Applications/Office\\Tools", S_OK, tools_},
      {u"Office\\Tools", S_OK, tools_},  // no leading separator
      {u"\\Applications\\Office\\Tools\\Editor", S_OK, editor_},
      {u"\\Applications\\Office\\", S_OK, office_},  // trailing separator
      {u"\\", S_OK, 0},
      {u"\\Applications\\Office\\Tools\\Editor\\More", E_INVALIDARG, 0},
      {u"\\Applications\\Office\\Nothing", S_FALSE, 0},
      {u"\\Applications\\\\Office", S_FALSE, 0},  // empty component
      {u"\\applications\\Office", S_FALSE, 0},    // case counts
  };
  for (const Case& c : cases) {
    ULONG64 id = 0;
    EXPECT_EQ(Lookup(c.dn, &id), c.result) << feroq::testing::Utf8(c.dn);
    EXPECT_EQ(id, c.id) << feroq::testing::Utf8(c.dn);
  }
  CommonObject* found = nullptr;
  EXPECT_EQ(farm_->GetObjectByDN(nullptr, nullptr, &found), E_INVALIDARG);
  EXPECT_EQ(farm_->GetObjectByDN(nullptr, W(u""), &found), E_INVALIDARG);
  EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live_blocks_);
}

TEST_F(DistinguishedNameTest, LookupFromAStartFolder) {
  FarmBuilder build(*farm_);
  ULONG64 nested_office = build.Folder(u"Office", tools_);  // Tools has its own Office
  AppFolderObject* tools = nullptr;
  ASSERT_EQ(farm_->CreateAppFolderObject(tools_, &tools, 0), S_OK);
  ULONG64 id = 0;
  EXPECT_EQ(Lookup(u"Office", &id, tools), S_OK);
  EXPECT_EQ(id, nested_office);
  EXPECT_EQ(Lookup(u"Applications\\Office", &id, tools), S_OK);  // the root's child
  EXPECT_EQ(id, office_);
  EXPECT_GE(tools->GetRefCount(), 1u);
  CommonObject* handle = tools;
  farm_->FreeObject(handle);
  EXPECT_EQ(handle, nullptr);  // the lookup took no reference of ours
}

TEST_F(DistinguishedNameTest, LaterChildOfTheSameNameWins) {
  FarmBuilder build(*farm_);
  // An application named like the folder, as a farm file from before the
  // naming rules may hold one.
  ULONG64 app = build.App(u"Office application");
  feroq::testing::ForceName(app, u"Office");
  ULONG64 id = 0;
  EXPECT_EQ(Lookup(u"\\Applications\\Office", &id), S_OK);
  EXPECT_EQ(id, app);  // applications come after folders in the enumeration
}

TEST_F(DistinguishedNameTest, ApplicationsByName) {
  std::u16string dn = NameOf(editor_);
  ZQWinAppObject* app = nullptr;
  ASSERT_EQ(farm_->GetAppByDN(dn.data(), &app), S_OK);
  ULONG64 id = 0;
  app->GetObjectID(id);
  EXPECT_EQ(id, editor_);
  CommonObject* handle = app;
  farm_->FreeObject(handle);

  std::u16string folder = u"\\Applications\\Office";
  app = reinterpret_cast<ZQWinAppObject*>(0x8);
  EXPECT_EQ(farm_->GetAppByDN(folder.data(), &app), E_INVALIDARG);
  EXPECT_EQ(app, nullptr);

  feroq::services::InjectServiceFault("ZQAppSAL::Read", feroq::VORN_E_ACCESSDENIED);
  EXPECT_EQ(farm_->GetAppByDN(dn.data(), &app), E_ACCESSDENIED);
  EXPECT_EQ(app, nullptr);
  EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live_blocks_);
}

}  // namespace
