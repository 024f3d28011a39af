// What both file composers share: reading the stored application, the words
// of the store's encodings, handing lines over.
#include <new>

#include "services/app_files/app_files.h"
#include "services/service_support.h"

namespace feroq::services {

VSTATUS LoadAppFileSource(VORN_PIF_ISubSystem* subsystem, ULONG64 id, AppFileSource* source) {
  return ReadFarm(subsystem, [&](const store::FarmView& farm) -> VSTATUS {
    std::optional<store::ApplicationRecord> stored = farm.GetApplication(id);
    if (!stored) return VORN_E_FAILURE;
    source->app = std::move(stored->data);
    source->server_names.clear();
    for (const store::AppServerData& server : source->app.servers) {
      std::optional<store::ServerRecord> known = farm.GetServer(server.server_id);
      if (known) source->server_names.push_back(known->name);
    }
    return VORN_OK;
  });
}

VSTATUS AppendLines(const std::vector<std::u16string>& lines, VORNMultiString& out) {
  try {
    for (const std::u16string& line : lines) {
      VORNString text(line.c_str());
      if (VSTATUS status = out.CopyOrConcatString(text, 0)) return status;
    }
  } catch (const std::bad_alloc&) {
    return VORN_E_OUTOFMEMORY;
  }
  return VORN_OK;
}

std::u16string_view WindowTypeWord(BYTE store_byte) {
  static constexpr std::u16string_view kWords[] = {u"640X480",   u"800X600", u"1024X768", u"1280X1024",
                                                   u"1600X1200", u"Custom",  u"Percent"};
  if (store_byte >= 1 && store_byte <= 7) return kWords[store_byte - 1];
  return u"Other";
}

std::u16string_view ColorCountWord(BYTE store_byte) {
  switch (store_byte) {
    case 1: return u"16";
    case 2: return u"256";
    case 4: return u"32768";
    case 8: return u"0x1000000";
    default: return u"Other";
  }
}

std::u16string_view EncryptionWord(BYTE store_byte) {
  static constexpr std::u16string_view kWords[] = {u"Basic", u"RC5_Logon", u"RC5_40Bit", u"RC5_56Bit",
                                                   u"RC5_128Bit"};
  if (store_byte >= 1 && store_byte <= 5) return kWords[store_byte - 1];
  return kWords[0];
}

std::u16string DecimalText(ULONG64 value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

}  // namespace feroq::services
