// Properties of a published application: strings on the caller's heap, the
// enum and flag conversions to the record's bytes and words, the result
// mappings of each setter family, read-only records, records that are gone,
// and running out of memory.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "farm/object_access.h"
#include "feroq/app_folder_object.h"
#include "feroq/services/farm_admin.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "services/record_access.h"
#include "services/service_faults.h"
#include "support/app_object_fixture.h"

namespace {

class AppPropertiesTest : public feroq::testing::AppObjectTest {
 protected:
  void SetUp() override {
    AppObjectTest::SetUp();
    feroq::testing::AppSeed seed;
    seed.browser_name = u"b-Calculator";
    seed.friendly_name = u"Calculator";
    seed.initial_program = u"C:\\Programs\\calc.exe";
    OpenApplication(AddApplication(seed));
  }
  void TearDown() override {
    feroq::services::ClearServiceFaults();
    feroq::platform::ClearAllocationFailure();
    AppObjectTest::TearDown();
  }
  ZQApp& Record() { return *feroq::ObjectAccess::Record(*app_); }
  // Reads a string property through `get`; "(none)" for S_FALSE.
  std::u16string Text(const std::function<HRESULT(WCHAR**)>& get) {
    WCHAR* text = nullptr;
    const HRESULT result = get(&text);
    if (result == S_FALSE) return u"(none)";
    EXPECT_EQ(result, S_OK);
    std::u16string copy = text == nullptr ? u"(null)" : std::u16string(text);
    if (text != nullptr) {
      // Handed out exactly as long as the text and its NUL.
      EXPECT_EQ(feroq::platform::HeapBlockSize(text), (copy.size() + 1) * sizeof(WCHAR));
    }
    farm_->FreeMemory(text);
    return copy;
  }
  bool StoreWasCalled(const std::string& operation) {
    for (const std::string& call : feroq::services::ServiceCallLog()) {
      if (call == operation) return true;
    }
    return false;
  }

};

// One string property: its public setter and getter.
struct StringProperty {
  const char* name;
  std::function<HRESULT(ZQWinAppObject*, WCHAR*)> set;
  std::function<HRESULT(ZQWinAppObject*, WCHAR**)> get;
};

std::vector<StringProperty> StringProperties() {
  return {
      {"BrowserName", [](ZQWinAppObject* a, WCHAR* v) { return a->SetBrowserName(v); },
       [](ZQWinAppObject* a, WCHAR** v) { return a->GetBrowserName(v); }},
      {"DefaultInitialProgram", [](ZQWinAppObject* a, WCHAR* v) { return a->SetDefaultInitialProgram(v); },
       [](ZQWinAppObject* a, WCHAR** v) { return a->GetDefaultInitialProgram(v); }},
      {"DefaultWorkingDirectory",
       [](ZQWinAppObject* a, WCHAR* v) { return a->SetDefaultWorkingDirectory(v); },
       [](ZQWinAppObject* a, WCHAR** v) { return a->GetDefaultWorkingDirectory(*v); }},
      {"Description", [](ZQWinAppObject* a, WCHAR* v) { return a->SetDescription(v); },
       [](ZQWinAppObject* a, WCHAR** v) { return a->GetDescription(v); }},
      {"ObjectName", [](ZQWinAppObject* a, WCHAR* v) { return a->SetObjectName(v); },
       [](ZQWinAppObject* a, WCHAR** v) { return a->GetObjectName(v); }},
      {"WLFolder", [](ZQWinAppObject* a, WCHAR* v) { return a->SetWLFolder(v); },
       [](ZQWinAppObject* a, WCHAR** v) { return a->GetWLFolder(*v); }},
  };
}

TEST_F(AppPropertiesTest, StringsRoundTripAndEmptyStringsAreSFalse) {
  for (const StringProperty& property : StringProperties()) {
    SCOPED_TRACE(property.name);
    std::u16string value = u"value of " + std::u16string(property.name, property.name + 4);
    ASSERT_EQ(property.set(app_, value.data()), S_OK);
    EXPECT_EQ(Text([&](WCHAR** out) { return property.get(app_, out); }), value);

    // Emptying (null or "") reads back as S_FALSE; the caller's pointer is
    // left as it was and nothing is allocated.
    ASSERT_EQ(property.set(app_, nullptr), S_OK);
    WCHAR sentinel[] = u"untouched";
    WCHAR* out = sentinel;
    const std::int64_t live = feroq::platform::LiveHeapBlocks();
    EXPECT_EQ(property.get(app_, &out), S_FALSE);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live);
  }
}

TEST_F(AppPropertiesTest, StringSetterResultMappings) {
  struct Case {
    VSTATUS code;
    HRESULT description;
    HRESULT browser_name;
  };
  const Case cases[] = {
      {0x801D1100u, E_INVALIDARG, E_INVALIDARG},
      {0x801D1106u, E_FAIL, E_INVALIDARG},  // only the browser name knows this refusal
      {0x801D1103u, E_ACCESSDENIED, E_ACCESSDENIED},
      {0x80000003u, E_FAIL, E_FAIL},
      {0x80000001u, E_FAIL, E_FAIL},
  };
  WCHAR text[] = u"text";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    feroq::services::InjectServiceFault("ZQApp::SetDescription", c.code);
    EXPECT_EQ(app_->SetDescription(text), c.description);
    feroq::services::InjectServiceFault("ZQApp::SetBrowserName", c.code);
    EXPECT_EQ(app_->SetBrowserName(text), c.browser_name);
  }
  // The store's own refusal of an over-long text arrives the same way.
  std::u16string long_text(300, u'x');
  EXPECT_EQ(app_->SetBrowserName(long_text.data()), E_INVALIDARG);
  EXPECT_EQ(app_->SetDescription(long_text.data()), E_INVALIDARG);
  // So is a line break, in every text (each is a line of the definition file).
  WCHAR injected[] = u"Harmless\"\n    DefaultWorkingDirectory = \"D:evil";
  EXPECT_EQ(app_->SetObjectName(injected), E_INVALIDARG);
  WCHAR carriage_return[] = u"C:\\a.exe\r";
  EXPECT_EQ(app_->SetDefaultInitialProgram(carriage_return), E_INVALIDARG);
  EXPECT_EQ(Text([&](WCHAR** out) { return app_->GetBrowserName(out); }), u"b-Calculator");
}

TEST_F(AppPropertiesTest, InitialProgramTestsItsPointerBeforeTheRecord) {
  EXPECT_EQ(app_->GetDefaultInitialProgram(nullptr), E_INVALIDARG);
  ZQWinAppObject bare(static_cast<WCHAR*>(nullptr), nullptr, farm_.get(), nullptr);
  EXPECT_EQ(bare.GetDefaultInitialProgram(nullptr), E_INVALIDARG);
  WCHAR* out = nullptr;
  EXPECT_EQ(bare.GetDefaultInitialProgram(&out), E_UNEXPECTED);
}

TEST_F(AppPropertiesTest, EncryptionLevelAndSoundTypeTables) {
  for (int level = 0; level <= 4; ++level) {
    ASSERT_EQ(app_->SetDefaultEncryptionLevel(static_cast<_ZQEncryptionLevel>(level)), S_OK);
    BYTE stored = 0;
    Record().GetDefaultEncryptionLevel(stored);
    EXPECT_EQ(stored, level + 1);
    _ZQEncryptionLevel read = ZQEncryptionNotSupported;
    EXPECT_EQ(app_->GetDefaultEncryptionLevel(&read), S_OK);
    EXPECT_EQ(read, level);
  }
  feroq::services::StartServiceCallLog();
  EXPECT_EQ(app_->SetDefaultEncryptionLevel(static_cast<_ZQEncryptionLevel>(5)), E_INVALIDARG);
  EXPECT_EQ(app_->SetDefaultEncryptionLevel(static_cast<_ZQEncryptionLevel>(-1)), E_INVALIDARG);
  EXPECT_EQ(app_->SetDefaultSoundType(static_cast<_ZQSoundType>(2)), E_INVALIDARG);
  EXPECT_EQ(app_->SetDefaultSoundType(static_cast<_ZQSoundType>(-1)), E_INVALIDARG);
  feroq::services::StopServiceCallLog();
  EXPECT_FALSE(StoreWasCalled("ZQApp::SetDefaultEncryptionLevel"));
  EXPECT_FALSE(StoreWasCalled("ZQApp::SetDefaultSoundType"));

  for (BYTE unknown : {BYTE{0}, BYTE{6}, BYTE{255}}) {
    ASSERT_EQ(Record().SetDefaultEncryptionLevel(unknown), 0u);
    _ZQEncryptionLevel read = ZQEncryptionBasic;
    EXPECT_EQ(app_->GetDefaultEncryptionLevel(&read), E_NOTIMPL);
    EXPECT_EQ(read, ZQEncryptionNotSupported);
  }

  for (int sound = 0; sound <= 1; ++sound) {
    ASSERT_EQ(app_->SetDefaultSoundType(static_cast<_ZQSoundType>(sound)), S_OK);
    BYTE stored = 9;
    Record().GetDefaultSoundType(stored);
    EXPECT_EQ(stored, sound);
    _ZQSoundType read = ZQSoundNotSupported;
    EXPECT_EQ(app_->GetDefaultSoundType(&read), S_OK);
    EXPECT_EQ(read, sound);
  }
  ASSERT_EQ(Record().SetDefaultSoundType(2), 0u);
  _ZQSoundType read = ZQSoundNone;
  EXPECT_EQ(app_->GetDefaultSoundType(&read), E_NOTIMPL);
  EXPECT_EQ(read, ZQSoundNotSupported);
}

TEST_F(AppPropertiesTest, WindowColorSharesHighColourByte) {
  const BYTE stored_for[] = {1, 2, 4, 4, 8};
  const _ZQWindowColor read_back[] = {ZQWindowColor16, ZQWindowColor256, ZQWindowColorHigh,
                                      ZQWindowColorHigh, ZQWindowColorTrue};
  for (int color = 0; color <= 4; ++color) {
    SCOPED_TRACE(color);
    ASSERT_EQ(app_->SetDefaultWindowColor(static_cast<_ZQWindowColor>(color)), S_OK);
    BYTE stored = 0;
    Record().GetDefaultWindowColor(stored);
    EXPECT_EQ(stored, stored_for[color]);
    _ZQWindowColor read = ZQWindowColorNotSupported;
    EXPECT_EQ(app_->GetDefaultWindowColor(&read), S_OK);
    EXPECT_EQ(read, read_back[color]);
  }
  EXPECT_EQ(app_->SetDefaultWindowColor(static_cast<_ZQWindowColor>(5)), E_INVALIDARG);
  EXPECT_EQ(app_->SetDefaultWindowColor(static_cast<_ZQWindowColor>(-1)), E_INVALIDARG);
  for (BYTE unknown : {BYTE{0}, BYTE{3}, BYTE{16}}) {
    ASSERT_EQ(Record().SetDefaultWindowColor(unknown), 0u);
    _ZQWindowColor read = ZQWindowColor16;
    EXPECT_EQ(app_->GetDefaultWindowColor(&read), E_NOTIMPL);
    EXPECT_EQ(read, ZQWindowColorNotSupported);
  }
}

TEST_F(AppPropertiesTest, WindowTypeIsStoredPlusOneAndFullScreenIsRefused) {
  for (int type : {0, 1, 2, 3, 4, 5, 6, 8}) {
    SCOPED_TRACE(type);
    ASSERT_EQ(app_->SetDefaultWindowType(static_cast<_ZQWindowType>(type)), S_OK);
    BYTE stored = 0;
    Record().GetDefaultWindowType(stored);
    EXPECT_EQ(stored, type + 1);
    _ZQWindowType read = ZQWindowFullScreen;
    EXPECT_EQ(app_->GetDefaultWindowType(&read), S_OK);
    EXPECT_EQ(read, type);
  }
  for (int refused : {7, 9, -1}) {
    SCOPED_TRACE(refused);
    EXPECT_EQ(app_->SetDefaultWindowType(static_cast<_ZQWindowType>(refused)), E_INVALIDARG);
    BYTE stored = 0;
    Record().GetDefaultWindowType(stored);
    EXPECT_EQ(stored, 9);  // still the last accepted value
  }
  for (BYTE unknown : {BYTE{8}, BYTE{0}, BYTE{10}}) {
    SCOPED_TRACE(unknown);
    ASSERT_EQ(Record().SetDefaultWindowType(unknown), 0u);
    _ZQWindowType read = ZQWindow640x480;
    EXPECT_EQ(app_->GetDefaultWindowType(&read), E_NOTIMPL);
    EXPECT_EQ(read, ZQWindowFullScreen);
  }
}

TEST_F(AppPropertiesTest, NumbersKeepTheirBitsAndScaleKeepsItsLowByte) {
  LONG value = 0;
  ASSERT_EQ(app_->SetDefaultWindowHeight(768), S_OK);
  ASSERT_EQ(app_->SetDefaultWindowWidth(-1), S_OK);
  EXPECT_EQ(app_->GetDefaultWindowHeight(&value), S_OK);
  EXPECT_EQ(value, 768);
  EXPECT_EQ(app_->GetDefaultWindowWidth(&value), S_OK);
  EXPECT_EQ(value, -1);
  ULONG stored_width = 0;
  Record().GetDefaultWindowWidth(stored_width);
  EXPECT_EQ(stored_width, 0xFFFFFFFFu);

  ASSERT_EQ(app_->SetDefaultWindowScale(300), S_OK);
  BYTE scale = 0;
  Record().GetDefaultWindowScale(scale);
  EXPECT_EQ(scale, 44);
  EXPECT_EQ(app_->GetDefaultWindowScale(&value), S_OK);
  EXPECT_EQ(value, 44);
  ASSERT_EQ(app_->SetDefaultWindowScale(200), S_OK);
  EXPECT_EQ(app_->GetDefaultWindowScale(&value), S_OK);
  EXPECT_EQ(value, 200);  // widened without sign
}

TEST_F(AppPropertiesTest, FlagWordsRefuseAndReportUndefinedBits) {
  ASSERT_EQ(app_->SetWLAttributes(63), S_OK);
  EXPECT_EQ(app_->SetWLAttributes(64), E_INVALIDARG);
  ULONG wl = 0;
  Record().GetWLAttributes(wl);
  EXPECT_EQ(wl, 63u);
  LONG flags = -1;
  EXPECT_EQ(app_->GetWLAttributes(&flags), S_OK);
  EXPECT_EQ(flags, 63);

  EXPECT_EQ(app_->SetZQAttributes(4), E_INVALIDARG);
  ASSERT_EQ(Record().SetZQAttributes(5), 0u);
  EXPECT_EQ(app_->GetZQAttributes(&flags), E_NOTIMPL);
  EXPECT_EQ(flags, 1);

  ASSERT_EQ(app_->SetDesktopIntegrate(3), S_OK);
  EXPECT_EQ(app_->SetDesktopIntegrate(0x100), E_INVALIDARG);
  BYTE desktop = 0;
  Record().GetDesktopIntegrate(desktop);
  EXPECT_EQ(desktop, 3);
  ASSERT_EQ(Record().SetDesktopIntegrate(0x82), 0u);
  EXPECT_EQ(app_->GetDesktopIntegrate(&flags), E_NOTIMPL);
  EXPECT_EQ(flags, 2);

  ASSERT_EQ(app_->SetPublishingFlags(7), S_OK);
  EXPECT_EQ(app_->SetPublishingFlags(8), E_INVALIDARG);
  EXPECT_EQ(app_->SetPublishingFlags(-1), E_INVALIDARG);
  EXPECT_EQ(app_->GetPublishingFlags(&flags), S_OK);
  EXPECT_EQ(flags, 7);
  ASSERT_EQ(Record().SetPublishingFlags(0x80000004u), 0u);
  EXPECT_EQ(app_->GetPublishingFlags(&flags), E_NOTIMPL);
  EXPECT_EQ(flags, 4);
}

TEST_F(AppPropertiesTest, OnlyExactlyOneEnables) {
  // Stored bits beyond the defined ones survive the read-modify-write.
  ASSERT_EQ(Record().SetWLAttributes(0x100 | 0x2), 0u);
  int enabled = -1;
  ASSERT_EQ(app_->GetEnabled(&enabled), S_OK);
  EXPECT_EQ(enabled, 1);
  for (int value : {2, 0, -1}) {
    SCOPED_TRACE(value);
    ASSERT_EQ(app_->SetEnabled(1), S_OK);
    ASSERT_EQ(app_->SetEnabled(value), S_OK);
    ULONG wl = 0;
    Record().GetWLAttributes(wl);
    EXPECT_EQ(wl, 0x103u);
    ASSERT_EQ(app_->GetEnabled(&enabled), S_OK);
    EXPECT_EQ(enabled, 0);
  }
  ASSERT_EQ(app_->SetEnabled(1), S_OK);
  ULONG wl = 0;
  Record().GetWLAttributes(wl);
  EXPECT_EQ(wl, 0x102u);
}

TEST_F(AppPropertiesTest, ReadOnlyRecords) {
  int read_only = -1;
  ASSERT_EQ(app_->GetReadOnly(&read_only), S_OK);
  EXPECT_EQ(read_only, 0);
  feroq::services::RecordAccess::SetStoredReadOnly(Record(), 2);  // only exactly 1 is read-only
  ASSERT_EQ(app_->GetReadOnly(&read_only), S_OK);
  EXPECT_EQ(read_only, 0);

  feroq::services::RecordAccess::SetStoredReadOnly(Record(), 1);
  ASSERT_EQ(app_->GetReadOnly(&read_only), S_OK);
  EXPECT_EQ(read_only, 1);
  WCHAR text[] = u"changed";
  EXPECT_EQ(app_->SetDescription(text), E_ACCESSDENIED);
  EXPECT_EQ(app_->SetDefaultSoundType(ZQSoundBasic), E_ACCESSDENIED);
  EXPECT_EQ(app_->SetDefaultWindowColor(ZQWindowColor256), E_ACCESSDENIED);
  EXPECT_EQ(app_->SetDefaultWindowHeight(10), E_ACCESSDENIED);
  EXPECT_EQ(app_->SetEnabled(0), E_ACCESSDENIED);

  EXPECT_EQ(app_->SetReadOnly(1), E_NOTIMPL);
  ASSERT_EQ(app_->GetReadOnly(&read_only), S_OK);
  EXPECT_EQ(read_only, 1);
  EXPECT_EQ(app_->SetReadOnly(0), S_OK);
  ASSERT_EQ(app_->GetReadOnly(&read_only), S_OK);
  EXPECT_EQ(read_only, 0);
  EXPECT_EQ(app_->SetDescription(text), S_OK);
}

// How each setter family reports a store result: enum setters report only a
// refused value and a read-only record, the window colour both as access
// denied, number setters everything.
TEST_F(AppPropertiesTest, SetterFamiliesMapStoreResults) {
  struct Setter {
    const char* operation;
    std::function<HRESULT()> call;
    HRESULT on_invalid;    // 0x80000003
    HRESULT on_read_only;  // 0x801D1103
    HRESULT on_other;      // 0x80000001, 0x80000002, 0x801D1100
  };
  ZQWinAppObject* a = app_;
  const Setter setters[] = {
      {"ZQApp::SetDefaultEncryptionLevel", [a] { return a->SetDefaultEncryptionLevel(ZQEncryptionRC5_56Bit); },
       E_INVALIDARG, E_ACCESSDENIED, S_OK},
      {"ZQApp::SetDefaultSoundType", [a] { return a->SetDefaultSoundType(ZQSoundBasic); }, E_INVALIDARG,
       E_ACCESSDENIED, S_OK},
      {"ZQApp::SetDefaultWindowType", [a] { return a->SetDefaultWindowType(ZQWindowCustom); }, E_INVALIDARG,
       E_ACCESSDENIED, S_OK},
      {"ZQApp::SetDesktopIntegrate", [a] { return a->SetDesktopIntegrate(1); }, E_INVALIDARG, E_ACCESSDENIED,
       S_OK},
      {"ZQApp::SetZQAttributes", [a] { return a->SetZQAttributes(2); }, E_INVALIDARG, E_ACCESSDENIED, S_OK},
      {"ZQApp::SetWLAttributes", [a] { return a->SetWLAttributes(4); }, E_INVALIDARG, E_ACCESSDENIED, S_OK},
      {"ZQApp::SetWLAttributes", [a] { return a->SetEnabled(0); }, E_INVALIDARG, E_ACCESSDENIED, S_OK},
      {"ZQApp::SetDefaultWindowColor", [a] { return a->SetDefaultWindowColor(ZQWindowColorTrue); },
       E_ACCESSDENIED, E_ACCESSDENIED, S_OK},
      {"ZQApp::SetDefaultWindowHeight", [a] { return a->SetDefaultWindowHeight(600); }, E_INVALIDARG,
       E_ACCESSDENIED, E_FAIL},
      {"ZQApp::SetDefaultWindowWidth", [a] { return a->SetDefaultWindowWidth(800); }, E_INVALIDARG,
       E_ACCESSDENIED, E_FAIL},
      {"ZQApp::SetDefaultWindowScale", [a] { return a->SetDefaultWindowScale(75); }, E_INVALIDARG,
       E_ACCESSDENIED, E_FAIL},
      {"ZQApp::SetPublishingFlags", [a] { return a->SetPublishingFlags(1); }, E_INVALIDARG, E_ACCESSDENIED,
       E_FAIL},
  };
  for (const Setter& setter : setters) {
    SCOPED_TRACE(setter.operation);
    feroq::services::InjectServiceFault(setter.operation, 0x80000003u);
    EXPECT_EQ(setter.call(), setter.on_invalid);
    feroq::services::InjectServiceFault(setter.operation, 0x801D1103u);
    EXPECT_EQ(setter.call(), setter.on_read_only);
    for (VSTATUS other : {0x80000001u, 0x80000002u, 0x801D1100u}) {
      feroq::services::InjectServiceFault(setter.operation, other);
      EXPECT_EQ(setter.call(), setter.on_other) << std::hex << other;
    }
    EXPECT_EQ(setter.call(), S_OK);  // nothing armed any more
  }
}

TEST_F(AppPropertiesTest, EverythingIsUnexpectedWithoutARecord) {
  ZQWinAppObject bare(static_cast<WCHAR*>(nullptr), nullptr, farm_.get(), nullptr);
  WCHAR* text = nullptr;
  WCHAR value[] = u"x";
  LONG number = 0;
  int flag = 0;
  _ZQEncryptionLevel level;
  _ZQSoundType sound;
  _ZQWindowColor color;
  _ZQWindowType type;
  const HRESULT results[] = {
      bare.GetBrowserName(&text), bare.SetBrowserName(value), bare.SetDefaultInitialProgram(value),
      bare.GetDefaultWorkingDirectory(text), bare.SetDefaultWorkingDirectory(value),
      bare.GetDescription(&text), bare.SetDescription(value), bare.GetWLFolder(text),
      bare.SetWLFolder(value), bare.GetDefaultEncryptionLevel(&level),
      bare.SetDefaultEncryptionLevel(static_cast<_ZQEncryptionLevel>(99)), bare.GetDefaultSoundType(&sound),
      bare.SetDefaultSoundType(static_cast<_ZQSoundType>(99)), bare.GetDefaultWindowColor(&color),
      bare.SetDefaultWindowColor(static_cast<_ZQWindowColor>(99)), bare.GetDefaultWindowType(&type),
      bare.SetDefaultWindowType(ZQWindowFullScreen), bare.GetDefaultWindowHeight(&number),
      bare.SetDefaultWindowHeight(1), bare.GetDefaultWindowWidth(&number), bare.SetDefaultWindowWidth(1),
      bare.GetDefaultWindowScale(&number), bare.SetDefaultWindowScale(1), bare.GetDesktopIntegrate(&number),
      bare.SetDesktopIntegrate(-1), bare.GetZQAttributes(&number), bare.SetZQAttributes(-1),
      bare.GetWLAttributes(&number), bare.SetWLAttributes(-1), bare.GetPublishingFlags(&number),
      bare.SetPublishingFlags(-1), bare.GetEnabled(&flag), bare.SetEnabled(1), bare.GetReadOnly(&flag),
      bare.SetReadOnly(1), bare.GetVersion(&number),
  };
  for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], E_UNEXPECTED) << "call " << i;
  EXPECT_EQ(text, nullptr);
}

TEST_F(AppPropertiesTest, DeleteDropsTheRecordAndGivesBackTheParentCount) {
  const ULONG64 folder_id = AddFolder(u"Office");
  const ULONG64 app_id = AddApplication(u"Writer", folder_id);
  ZQWinAppObject* writer = Open(app_id);
  ASSERT_NE(writer, nullptr);
  FolderObject* parent = nullptr;
  ASSERT_EQ(writer->GetParentFolder(&parent), S_OK);
  ASSERT_NE(parent, nullptr);
  const LONG children = parent->GetChildCount();
  LONG version = 0;
  EXPECT_EQ(writer->GetVersion(&version), S_OK);
  EXPECT_EQ(version, static_cast<LONG>(feroq::kZQAppCurrentVersion));

  // Hold the folder so that it outlives the application's cache.
  ULONG64 key = folder_id;
  AppFolderObject* held = nullptr;
  ASSERT_EQ(farm_->CreateAppFolderObject(key, &held, 0), S_OK);
  ASSERT_EQ(held, parent);

  ASSERT_EQ(writer->Delete(), S_OK);
  EXPECT_EQ(feroq::ObjectAccess::Record(*writer), nullptr);
  EXPECT_EQ(writer->GetVersion(&version), E_UNEXPECTED);
  EXPECT_EQ(writer->SetDefaultWindowHeight(10), E_UNEXPECTED);
  EXPECT_EQ(writer->GetDefaultInitialProgram(nullptr), E_INVALIDARG);
  EXPECT_EQ(held->GetChildCount(), children - 1);
  Release(writer);
  CommonObject* folder = held;
  farm_->FreeObject(folder);
  // Delete gave back the reference the application's cache held: ours was
  // the last one.
  EXPECT_EQ(folder, nullptr);
}

TEST_F(AppPropertiesTest, SavedPropertiesComeBackFromTheStore) {
  WCHAR description[] = u"Adds numbers";
  WCHAR directory[] = u"C:\\Work";
  ASSERT_EQ(app_->SetDescription(description), S_OK);
  ASSERT_EQ(app_->SetDefaultWorkingDirectory(directory), S_OK);
  ASSERT_EQ(app_->SetDefaultWindowColor(ZQWindowColorHigh15Bit), S_OK);
  ASSERT_EQ(app_->SetDefaultWindowType(ZQWindowType9), S_OK);
  ASSERT_EQ(app_->SetDefaultWindowScale(300), S_OK);
  ASSERT_EQ(app_->SetWLAttributes(feroq::kWLAttributeMinimumSound |
                                  feroq::kWLAttributeApplicationIsAnonymous),
            S_OK);
  ASSERT_EQ(app_->SetEnabled(0), S_OK);
  ASSERT_EQ(app_->Save(), S_OK);
  Release(app_);

  app_ = Open(app_id_);
  ASSERT_NE(app_, nullptr);
  EXPECT_EQ(Text([&](WCHAR** out) { return app_->GetDescription(out); }), u"Adds numbers");
  EXPECT_EQ(Text([&](WCHAR** out) { return app_->GetDefaultWorkingDirectory(*out); }), u"C:\\Work");
  _ZQWindowColor color = ZQWindowColor16;
  EXPECT_EQ(app_->GetDefaultWindowColor(&color), S_OK);
  EXPECT_EQ(color, ZQWindowColorHigh);
  _ZQWindowType type = ZQWindow640x480;
  EXPECT_EQ(app_->GetDefaultWindowType(&type), S_OK);
  EXPECT_EQ(type, ZQWindowType9);
  LONG value = 0;
  EXPECT_EQ(app_->GetDefaultWindowScale(&value), S_OK);
  EXPECT_EQ(value, 44);
  EXPECT_EQ(app_->GetWLAttributes(&value), S_OK);
  EXPECT_EQ(value, feroq::kWLAttributeMinimumSound | feroq::kWLAttributeApplicationIsAnonymous |
                       feroq::kWLAttributeApplicationDisabled);
}

// Every allocation of a string get or set fails in turn: the call answers
// E_OUTOFMEMORY, hands out nothing, keeps the record's value and leaks
// nothing; once no allocation fails it succeeds.
TEST_F(AppPropertiesTest, RunningOutOfMemoryInStringProperties) {
  WCHAR before[] = u"first description";
  WCHAR after[] = u"second description";
  ASSERT_EQ(app_->SetDescription(before), S_OK);

  bool completed = false;
  for (std::uint64_t n = 1; n < 20 && !completed; ++n) {
    SCOPED_TRACE(n);
    const std::int64_t live = feroq::platform::LiveHeapBlocks();
    WCHAR* out = reinterpret_cast<WCHAR*>(&n);  // must be overwritten or left alone
    feroq::platform::FailAllocationAt(n);
    const HRESULT result = app_->GetDescription(&out);
    const bool failed = feroq::platform::AllocationFailureTriggered();
    feroq::platform::ClearAllocationFailure();
    if (!failed) {
      ASSERT_EQ(result, S_OK);
      EXPECT_EQ(std::u16string(out), before);
      farm_->FreeMemory(out);
      completed = true;
    } else {
      EXPECT_EQ(result, E_OUTOFMEMORY);
      EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live);
  }
  EXPECT_TRUE(completed);

  completed = false;
  for (std::uint64_t n = 1; n < 20 && !completed; ++n) {
    SCOPED_TRACE(n);
    const std::int64_t live = feroq::platform::LiveHeapBlocks();
    feroq::platform::FailAllocationAt(n);
    const HRESULT result = app_->SetDescription(after);
    const bool failed = feroq::platform::AllocationFailureTriggered();
    feroq::platform::ClearAllocationFailure();
    EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live);  // one text replaced by another
    if (!failed) {
      ASSERT_EQ(result, S_OK);
      completed = true;
    } else {
      // The argument's copy is made first; the record's own copy failing is
      // a store failure like any other.
      EXPECT_EQ(result, n == 1 ? E_OUTOFMEMORY : E_FAIL);
      EXPECT_EQ(Text([&](WCHAR** out) { return app_->GetDescription(out); }), before);
    }
  }
  EXPECT_TRUE(completed);
  EXPECT_EQ(Text([&](WCHAR** out) { return app_->GetDescription(out); }), after);
}

}  // namespace
