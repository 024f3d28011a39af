// Properties of a published application: strings on the caller's heap, the
// enum and flag conversions to the record's bytes and words, read-only
// records, records that are gone, and what a failed call leaves behind. The
// result mappings of store codes and allocation failures of every property
// call are the failure sweeps' to check.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "farm/object_access.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "services/record_access.h"
#include "services/service_faults.h"
#include "support/app_object_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::HeapText;
using feroq::testing::W;

class AppPropertiesTest : public feroq::testing::AppObjectTest {
 protected:
  void SetUp() override {
    AppObjectTest::SetUp();
    feroq::testing::AppSeed seed;
    seed.browser_name = u"b-Calculator";
    seed.friendly_name = u"Calculator";
    OpenApplication(AddApplication(seed));
  }
  ZQApp& Record() { return *feroq::ObjectAccess::Record(*app_); }
  std::u16string Description() {
    HeapText text(*farm_);
    EXPECT_EQ(app_->GetDescription(&text.out()), S_OK);
    return text.str();
  }
};

struct StringProperty {
  const char* name;
  HRESULT (ZQWinAppObject::*set)(char16_t*);
  std::function<HRESULT(ZQWinAppObject*, char16_t**)> get;
};

TEST_F(AppPropertiesTest, StringsRoundTripAndEmptyStringsAreSFalse) {
  const StringProperty properties[] = {
      {"BrowserName", &ZQWinAppObject::SetBrowserName, [](auto* a, char16_t** v) { return a->GetBrowserName(v); }},
      {"DefaultInitialProgram", &ZQWinAppObject::SetDefaultInitialProgram,
       [](auto* a, char16_t** v) { return a->GetDefaultInitialProgram(v); }},
      {"DefaultWorkingDirectory", &ZQWinAppObject::SetDefaultWorkingDirectory,
       [](auto* a, char16_t** v) { return a->GetDefaultWorkingDirectory(*v); }},
      {"Description", &ZQWinAppObject::SetDescription, [](auto* a, char16_t** v) { return a->GetDescription(v); }},
      {"ObjectName", &ZQWinAppObject::SetObjectName, [](auto* a, char16_t** v) { return a->GetObjectName(v); }},
      {"WLFolder", &ZQWinAppObject::SetWLFolder, [](auto* a, char16_t** v) { return a->GetWLFolder(*v); }},
  };
  for (const StringProperty& property : properties) {
    SCOPED_TRACE(property.name);
    const std::string name = property.name;
    const std::u16string value = u"value of " + std::u16string(name.begin(), name.end());
    ASSERT_EQ((app_->*property.set)(W(value)), S_OK);
    HeapText text(*farm_);
    ASSERT_EQ(property.get(app_, &text.out()), S_OK);
    EXPECT_EQ(text.str(), value);
    // Handed out exactly as long as the text and its NUL.
    EXPECT_EQ(feroq::platform::HeapBlockSize(text.get()), (value.size() + 1) * sizeof(char16_t));

    // Emptied, it reads back as S_FALSE: the caller's pointer is left as it
    // was and nothing is allocated.
    ASSERT_EQ((app_->*property.set)(nullptr), S_OK);
    char16_t sentinel[] = u"untouched";
    char16_t* out = sentinel;
    const std::int64_t live = feroq::platform::LiveHeapBlocks();
    EXPECT_EQ(property.get(app_, &out), S_FALSE);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live);
  }
}

TEST_F(AppPropertiesTest, ARefusedTextKeepsTheOldOne) {
  ASSERT_EQ(app_->SetDescription(W(u"kept")), S_OK);
  EXPECT_EQ(app_->SetDescription(W(std::u16string(300, u'x'))), E_INVALIDARG);
  EXPECT_EQ(app_->SetDescription(W(u"two\nlines")), E_INVALIDARG);
  // A break at each place, in the words read four units at a time and after.
  for (std::size_t at = 0; at < 10; ++at) {
    for (char16_t unit : {u'\r', u'\n'}) {
      EXPECT_EQ(app_->SetDescription(W(std::u16string(10, u'x').replace(at, 1, 1, unit))), E_INVALIDARG) << at;
    }
  }
  EXPECT_EQ(Description(), u"kept");
}

// An enum property: its public setter and getter, and the record's byte.
struct EnumProperty {
  const char* name;
  std::function<HRESULT(ZQWinAppObject*, int)> set;
  std::function<HRESULT(ZQWinAppObject*, int*)> get;
  void (ZQApp::*stored)(BYTE&);
  VSTATUS (ZQApp::*store)(BYTE);
  std::vector<std::array<int, 3>> accepted;  // public value, stored byte, value read back
  std::vector<int> refused;
  std::vector<int> unknown_bytes;  // read back as E_NOTIMPL and `not_supported`
  int not_supported;
};

template <typename E>
std::function<HRESULT(ZQWinAppObject*, int*)> Getter(HRESULT (ZQWinAppObject::*get)(E*)) {
  return [get](ZQWinAppObject* app, int* out) {
    E value{};
    const HRESULT result = (app->*get)(&value);
    *out = value;
    return result;
  };
}

template <typename E>
std::function<HRESULT(ZQWinAppObject*, int)> Setter(HRESULT (ZQWinAppObject::*set)(E)) {
  return [set](ZQWinAppObject* app, int value) { return (app->*set)(static_cast<E>(value)); };
}

TEST_F(AppPropertiesTest, EnumTables) {
  const EnumProperty properties[] = {
      {"encryption", Setter(&ZQWinAppObject::SetDefaultEncryptionLevel),
       Getter(&ZQWinAppObject::GetDefaultEncryptionLevel),
       &ZQApp::GetDefaultEncryptionLevel, &ZQApp::SetDefaultEncryptionLevel,
       {{0, 1, 0}, {1, 2, 1}, {2, 3, 2}, {3, 4, 3}, {4, 5, 4}}, {5, -1}, {0, 6}, ZQEncryptionNotSupported},
      {"sound", Setter(&ZQWinAppObject::SetDefaultSoundType), Getter(&ZQWinAppObject::GetDefaultSoundType),
       &ZQApp::GetDefaultSoundType, &ZQApp::SetDefaultSoundType, {{0, 0, 0}, {1, 1, 1}}, {2, -1}, {2},
       ZQSoundNotSupported},
      // Both high-colour values share one byte, which reads back as the 16-bit one.
      {"colour", Setter(&ZQWinAppObject::SetDefaultWindowColor), Getter(&ZQWinAppObject::GetDefaultWindowColor),
       &ZQApp::GetDefaultWindowColor, &ZQApp::SetDefaultWindowColor,
       {{0, 1, 0}, {1, 2, 1}, {2, 4, 3}, {3, 4, 3}, {4, 8, 4}}, {5, -1}, {0, 3, 16}, ZQWindowColorNotSupported},
      // Full screen (7) is neither accepted nor read back.
      {"window type", Setter(&ZQWinAppObject::SetDefaultWindowType), Getter(&ZQWinAppObject::GetDefaultWindowType),
       &ZQApp::GetDefaultWindowType, &ZQApp::SetDefaultWindowType,
       {{0, 1, 0}, {6, 7, 6}, {8, 9, 8}}, {7, 9, -1}, {0, 8, 10}, ZQWindowFullScreen},
  };
  const auto stored = [this](const EnumProperty& p) {
    BYTE byte = 0;
    (Record().*p.stored)(byte);
    return byte;
  };
  for (const EnumProperty& p : properties) {
    SCOPED_TRACE(p.name);
    for (const auto& [value, byte, read_back] : p.accepted) {
      SCOPED_TRACE(value);
      ASSERT_EQ(p.set(app_, value), S_OK);
      EXPECT_EQ(stored(p), byte);
      int read = -7;
      EXPECT_EQ(p.get(app_, &read), S_OK);
      EXPECT_EQ(read, read_back);
    }
    const BYTE last = stored(p);
    for (int value : p.refused) {
      EXPECT_EQ(p.set(app_, value), E_INVALIDARG) << value;
      EXPECT_EQ(stored(p), last);
    }
    for (int byte : p.unknown_bytes) {
      (Record().*p.store)(static_cast<BYTE>(byte));
      int read = -7;
      EXPECT_EQ(p.get(app_, &read), E_NOTIMPL) << byte;
      EXPECT_EQ(read, p.not_supported);
    }
  }
}

// (Signed heights and widths are read back by the definition file's test.)
TEST_F(AppPropertiesTest, ScaleKeepsItsLowByteWidenedWithoutSign) {
  for (const auto& [given, kept] : {std::pair{300, 44}, std::pair{200, 200}}) {
    LONG value = 0;
    ASSERT_EQ(app_->SetDefaultWindowScale(given), S_OK);
    EXPECT_EQ(app_->GetDefaultWindowScale(&value), S_OK);
    EXPECT_EQ(value, kept);
  }
}

// A flag word refuses bits it does not define, and reports the defined bits
// of a stored word with E_NOTIMPL when the word holds others.
struct FlagWord {
  const char* name;
  HRESULT (ZQWinAppObject::*set)(LONG);
  HRESULT (ZQWinAppObject::*get)(LONG*);
  std::function<void(ZQApp&, ULONG)> store;
  LONG defined;
};

TEST_F(AppPropertiesTest, FlagWordsRefuseAndReportUndefinedBits) {
  const FlagWord words[] = {
      {"desktop", &ZQWinAppObject::SetDesktopIntegrate, &ZQWinAppObject::GetDesktopIntegrate,
       [](ZQApp& r, ULONG v) { r.SetDesktopIntegrate(static_cast<BYTE>(v)); }, 0x3},
      {"ZQ", &ZQWinAppObject::SetZQAttributes, &ZQWinAppObject::GetZQAttributes,
       [](ZQApp& r, ULONG v) { r.SetZQAttributes(v); }, 0x3},
      {"WL", &ZQWinAppObject::SetWLAttributes, &ZQWinAppObject::GetWLAttributes,
       [](ZQApp& r, ULONG v) { r.SetWLAttributes(v); }, 0x3F},
      {"publishing", &ZQWinAppObject::SetPublishingFlags, &ZQWinAppObject::GetPublishingFlags,
       [](ZQApp& r, ULONG v) { r.SetPublishingFlags(v); }, 0x7},
  };
  for (const FlagWord& w : words) {
    SCOPED_TRACE(w.name);
    ASSERT_EQ((app_->*w.set)(w.defined), S_OK);
    EXPECT_EQ((app_->*w.set)(w.defined + 1), E_INVALIDARG);
    EXPECT_EQ((app_->*w.set)(-1), E_INVALIDARG);
    LONG flags = 0;
    EXPECT_EQ((app_->*w.get)(&flags), S_OK);
    EXPECT_EQ(flags, w.defined);
    w.store(Record(), 0x80 | 0x2);
    EXPECT_EQ((app_->*w.get)(&flags), E_NOTIMPL);
    EXPECT_EQ(flags, 0x2);
  }
}

TEST_F(AppPropertiesTest, OnlyExactlyOneEnables) {
  const auto wl = [this] {
    ULONG word = 0;
    Record().GetWLAttributes(word);
    return word;
  };
  // Stored bits beyond the defined ones survive the read-modify-write.
  ASSERT_EQ(Record().SetWLAttributes(0x100 | 0x2), 0u);
  int enabled = -1;
  ASSERT_EQ(app_->GetEnabled(&enabled), S_OK);
  EXPECT_EQ(enabled, 1);
  for (int value : {2, 0, -1}) {
    SCOPED_TRACE(value);
    ASSERT_EQ(app_->SetEnabled(1), S_OK);
    ASSERT_EQ(app_->SetEnabled(value), S_OK);
    EXPECT_EQ(wl(), 0x103u);
    ASSERT_EQ(app_->GetEnabled(&enabled), S_OK);
    EXPECT_EQ(enabled, 0);
  }
  ASSERT_EQ(app_->SetEnabled(1), S_OK);
  EXPECT_EQ(wl(), 0x102u);
}

TEST_F(AppPropertiesTest, ReadOnlyRecords) {
  int read_only = -1;
  feroq::services::RecordAccess::SetStoredReadOnly(Record(), 2);  // only exactly 1 is read-only
  ASSERT_EQ(app_->GetReadOnly(&read_only), S_OK);
  EXPECT_EQ(read_only, 0);

  feroq::services::RecordAccess::SetStoredReadOnly(Record(), 1);
  ASSERT_EQ(app_->GetReadOnly(&read_only), S_OK);
  EXPECT_EQ(read_only, 1);
  EXPECT_EQ(app_->SetDescription(W(u"changed")), E_ACCESSDENIED);
  EXPECT_EQ(app_->SetEnabled(0), E_ACCESSDENIED);
  EXPECT_EQ(app_->SetReadOnly(1), E_NOTIMPL);
  EXPECT_EQ(app_->SetReadOnly(0), S_OK);
  ASSERT_EQ(app_->GetReadOnly(&read_only), S_OK);
  EXPECT_EQ(read_only, 0);
  EXPECT_EQ(app_->SetDescription(W(u"changed")), S_OK);
}

// An application object without a record (never loaded, or deleted)
// answers E_UNEXPECTED, after the checks of the arguments some calls make
// first; nothing is handed out.
TEST_F(AppPropertiesTest, EveryOperationIsUnexpectedWithoutARecord) {
  ZQWinAppObject bare(static_cast<char16_t*>(nullptr), nullptr, farm_.get(), nullptr);
  char16_t* text = nullptr;
  LONG number = 0;
  int flag = 0;
  _ZQEncryptionLevel level;
  _ZQSoundType sound;
  _ZQWindowColor color;
  _ZQWindowType type;
  W name(u"x");
  _UserAccountInfo user{0, 0, 0, name, name};
  _ZQServerConfig server{0, name, nullptr, nullptr};
  _ZQWinAppIcon icon{};
  _ZQWinAppIcon* icon_out = &icon;
  const HRESULT results[] = {
      bare.GetBrowserName(&text), bare.SetBrowserName(name), bare.GetDefaultInitialProgram(&text),
      bare.SetDefaultInitialProgram(name), bare.GetDefaultWorkingDirectory(text),
      bare.SetDefaultWorkingDirectory(name), bare.GetDescription(&text), bare.SetDescription(name),
      bare.GetWLFolder(text), bare.SetWLFolder(name), bare.GetDefaultEncryptionLevel(&level),
      bare.SetDefaultEncryptionLevel(static_cast<_ZQEncryptionLevel>(99)), bare.GetDefaultSoundType(&sound),
      bare.SetDefaultSoundType(static_cast<_ZQSoundType>(99)), bare.GetDefaultWindowColor(&color),
      bare.SetDefaultWindowColor(static_cast<_ZQWindowColor>(99)), bare.GetDefaultWindowType(&type),
      bare.SetDefaultWindowType(ZQWindowFullScreen), bare.GetDefaultWindowHeight(&number),
      bare.SetDefaultWindowHeight(1), bare.GetDefaultWindowWidth(&number), bare.SetDefaultWindowWidth(1),
      bare.GetDefaultWindowScale(&number), bare.SetDefaultWindowScale(1), bare.GetDesktopIntegrate(&number),
      bare.SetDesktopIntegrate(-1), bare.GetZQAttributes(&number), bare.SetZQAttributes(-1),
      bare.GetWLAttributes(&number), bare.SetWLAttributes(-1), bare.GetPublishingFlags(&number),
      bare.SetPublishingFlags(-1), bare.GetEnabled(&flag), bare.SetEnabled(1), bare.GetReadOnly(&flag),
      bare.SetReadOnly(1), bare.GetVersion(&number), bare.GetUserCount(&number), bare.AddUser(&user),
      bare.RemoveUser(&user), bare.GetFirstUser(&user), bare.GetNextUser(&user),
      bare.GetServerCount(nullptr), bare.AddServer(&server), bare.RemoveServer(name),
      bare.GetFirstServer(&server), bare.GetNextServer(&server), bare.GetIcon(icon_out), bare.SetIcon(nullptr),
      bare.GetIconFile(static_cast<_IconFileFormat>(1), nullptr), bare.SetIconFile(IconFileFormatICO, nullptr, 0),
  };
  for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], E_UNEXPECTED) << "call " << i;
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(icon_out, &icon);
  EXPECT_EQ(bare.GetDefaultInitialProgram(nullptr), E_INVALIDARG);
  EXPECT_EQ(bare.GetUserCount(nullptr), E_INVALIDARG);
  EXPECT_EQ(bare.AddServer(nullptr), E_INVALIDARG);
}

TEST_F(AppPropertiesTest, DeleteDropsTheRecordAndGivesBackTheParentCount) {
  const ULONG64 folder_id = AddFolder(u"Office");
  ZQWinAppObject* writer = Open(AddApplication(u"Writer", folder_id));
  ASSERT_NE(writer, nullptr);
  // Hold the folder so that it outlives the application's cache.
  ULONG64 key = folder_id;
  AppFolderObject* held = nullptr;
  ASSERT_EQ(farm_->CreateAppFolderObject(key, &held, 0), S_OK);
  FolderObject* parent = nullptr;
  ASSERT_EQ(writer->GetParentFolder(&parent), S_OK);
  ASSERT_EQ(parent, held);
  const LONG children = held->GetChildCount();

  ASSERT_EQ(writer->Delete(), S_OK);
  LONG version = 0;
  EXPECT_EQ(writer->GetVersion(&version), E_UNEXPECTED);
  EXPECT_EQ(held->GetChildCount(), children - 1);
  Release(writer);
  CommonObject* folder = held;
  farm_->FreeObject(folder);
  // Delete gave back the reference the application's cache held: ours was
  // the last one.
  EXPECT_EQ(folder, nullptr);
}

// What the sweeps cannot see: a failed get hands out nothing (the pointer
// is nulled), a failed set keeps the record's value.
TEST_F(AppPropertiesTest, RunningOutOfMemoryLeavesTheValue) {
  ASSERT_EQ(app_->SetDescription(W(u"before")), S_OK);
  char16_t stale[] = u"stale";
  char16_t* out = nullptr;
  HRESULT result = S_OK;
  const int failures = feroq::testing::ForEachAllocationFailure(
      [&] {
        out = stale;
        result = app_->GetDescription(&out);
      },
      [&](bool failed) {
        EXPECT_EQ(result, failed ? E_OUTOFMEMORY : S_OK);
        if (failed) {
          EXPECT_EQ(out, nullptr);
        } else {
          farm_->FreeMemory(out);
        }
      });
  EXPECT_GT(failures, 0);
  EXPECT_GT(feroq::testing::ForEachAllocationFailure(
                [&] { result = app_->SetDescription(W(u"after")); },
                [&](bool failed) { EXPECT_EQ(Description(), failed ? u"before" : u"after"); }),
            0);
}

}  // namespace
