// Distinguished names: the builder, lookup by walking the tree, and lookup
// of applications by name. (Service failures and leaks on every path are
// the sweeps' to check.)
#include <gtest/gtest.h>

#include <string>

#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "services/event_service.h"
#include "support/farm_builder.h"
#include "support/farm_fixture.h"
#include "support/handles.h"
#include "support/temp_files.h"

namespace {

using feroq::testing::FarmBuilder;
using feroq::testing::HeapText;
using feroq::testing::Ref;
using feroq::testing::W;

// The tree: Applications / Office / Tools / Editor (an application), and
// Applications / Report (an application in the root).
class DistinguishedNameTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    OpenFarm();
    office_ = build().Folder(u"Office");
    tools_ = build().Folder(u"Tools", office_);
    editor_ = build().App(u"Editor", tools_);
    report_ = build().App(u"Report");
  }
  FarmBuilder build() { return FarmBuilder(*farm_); }
  // Looks `dn` up from `start`; returns the result and the found object's
  // identifier in `*id` (0 for none).
  HRESULT Lookup(const std::u16string& dn, ULONG64* id, FolderObject* start = nullptr) {
    CommonObject* found = reinterpret_cast<CommonObject*>(0x8);
    const HRESULT hr = farm_->GetObjectByDN(start, W(dn), &found);
    *id = 0;
    if (hr != S_OK) {
      EXPECT_EQ(found, reinterpret_cast<CommonObject*>(0x8)) << "output written on failure";
    } else if (found != nullptr) {
      found->GetObjectID(*id);
      farm_->FreeObject(found);
    }
    return hr;
  }
  std::u16string NameOf(ULONG64 id) {
    Ref<> object(*farm_);
    if (feroq::ObjectKindOf(id) == feroq::kObjectKindApplication) {
      Ref<ZQWinAppObject> app(*farm_);
      EXPECT_EQ(farm_->CreateWinAppFromID(id, &app.out()), S_OK);
      EXPECT_EQ(app->Load(), S_OK);
      object.reset(app.release());
    } else {
      Ref<AppFolderObject> folder(*farm_);
      EXPECT_EQ(farm_->CreateAppFolderObject(id, &folder.out(), 0), S_OK);
      object.reset(folder.release());
    }
    HeapText dn(*farm_);
    EXPECT_EQ(object->GetDistinguishedName(&dn.out()), S_OK);
    return dn.str();
  }
  ULONG64 office_ = 0, tools_ = 0, editor_ = 0, report_ = 0;
};

TEST_F(DistinguishedNameTest, BuilderWritesThePathFromTheRootAndGrowsItsBuffer) {
  EXPECT_EQ(NameOf(editor_), u"\\Applications\\Office\\Tools\\Editor");
  EXPECT_EQ(NameOf(tools_), u"\\Applications\\Office\\Tools");
  EXPECT_EQ(NameOf(report_), u"\\Applications\\Report");
  Ref<ZQWinAppObject> app(*farm_);
  ASSERT_EQ(farm_->CreateWinAppFromID(editor_, &app.out()), S_OK);
  EXPECT_EQ(app->GetDistinguishedName(nullptr), E_INVALIDARG);

  ULONG64 parent = 0;
  std::u16string expected = u"\\Applications";
  for (int level = 0; level < 12; ++level) {  // about 1 KB of names
    const std::u16string name = std::u16string(40, u'n') + static_cast<char16_t>(u'A' + level);
    parent = build().Folder(name, parent);
    expected += u"\\" + name;
  }
  EXPECT_EQ(NameOf(build().App(u"Deep", parent)), expected + u"\\Deep");
  // A 255-unit name fills the first 512 bytes; the longest name (259 units)
  // after it needs the buffer grown twice.
  const std::u16string longest(259, u'L'), filling(255, u'F');
  const ULONG64 filled = build().Folder(filling, build().Folder(longest));
  EXPECT_EQ(NameOf(build().App(u"Long", filled)), u"\\Applications\\" + longest + u"\\" + filling + u"\\Long");
  // A name past the rules, from an older farm, needs it grown many steps at once.
  const ULONG64 older = build().Folder(u"Older");
  const std::u16string older_name(20000, u'O');
  feroq::testing::ForceName(older, older_name);
  EXPECT_EQ(NameOf(build().App(u"Kept", older)), u"\\Applications\\" + older_name + u"\\Kept");

  // The deepest tree taken for a sound one: 65,536 folders above the named one.
  std::u16string deepest = u"\\Applications";
  parent = build().Root();
  VSTATUS status = 0;
  ASSERT_EQ(feroq::services::EventStore(&status)->Write([&](feroq::store::FarmTxn& txn) -> VSTATUS {
    for (ULONG serial = 100000; serial <= 165536; ++serial) {
      const ULONG64 id = feroq::MakeObjectId(feroq::kObjectKindFolder, serial);
      txn.PutFolder({id, parent, u"f", serial});
      parent = id;
      deepest += u"\\f";
    }
    return 0;
  }), 0u);
  EXPECT_EQ(NameOf(parent), deepest);
}

TEST_F(DistinguishedNameTest, LookupAcceptsTheWiderFormAndRefuses) {
  const ULONG64 root_id = build().Root();
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
      {u"\\Applications\\office", S_FALSE, 0},    // also below the root
  };
  for (const Case& c : cases) {
    ULONG64 id = 0;
    EXPECT_EQ(Lookup(c.dn, &id), c.result) << feroq::testing::Utf8(c.dn);
    EXPECT_EQ(id, c.id) << feroq::testing::Utf8(c.dn);
  }
  CommonObject* found = nullptr;
  EXPECT_EQ(farm_->GetObjectByDN(nullptr, nullptr, &found), E_INVALIDARG);
  EXPECT_EQ(farm_->GetObjectByDN(nullptr, W(u""), &found), E_INVALIDARG);
}

TEST_F(DistinguishedNameTest, LookupFromAStartFolderAndTheLaterOfTwoNames) {
  const ULONG64 nested_office = build().Folder(u"Office", tools_);  // Tools has its own Office
  AppFolderObject* tools = nullptr;
  ASSERT_EQ(farm_->CreateAppFolderObject(tools_, &tools, 0), S_OK);
  ULONG64 id = 0;
  EXPECT_EQ(Lookup(u"Office", &id, tools), S_OK);
  EXPECT_EQ(id, nested_office);
  EXPECT_EQ(Lookup(u"Applications\\Office", &id, tools), S_OK);  // the root's child
  EXPECT_EQ(id, office_);
  EXPECT_EQ(tools->GetChildCount(), 2);  // the first walk counted both children of Tools, held here
  CommonObject* handle = tools;
  farm_->FreeObject(handle);
  EXPECT_EQ(handle, nullptr);  // the lookups took no reference of ours

  // An application named like the folder, as a farm file from before the
  // naming rules may hold one: applications come after folders.
  const ULONG64 app = build().App(u"Office application");
  feroq::testing::ForceName(app, u"Office");
  EXPECT_EQ(Lookup(u"\\Applications\\Office", &id), S_OK);
  EXPECT_EQ(id, app);
}

TEST_F(DistinguishedNameTest, ApplicationsByName) {
  Ref<ZQWinAppObject> app(*farm_);
  ASSERT_EQ(farm_->GetAppByDN(W(NameOf(editor_)), &app.out()), S_OK);
  ULONG64 id = 0;
  app->GetObjectID(id);
  EXPECT_EQ(id, editor_);
  ZQWinAppObject* folder = reinterpret_cast<ZQWinAppObject*>(0x8);
  EXPECT_EQ(farm_->GetAppByDN(W(u"\\Applications\\Office"), &folder), E_INVALIDARG);
  EXPECT_EQ(folder, nullptr);
}

}  // namespace
