// What both file composers share: reading the stored application, the words
// of the store's encodings, handing lines over, and the test hook that keeps
// the last requests.
#include <cstring>
#include <mutex>
#include <new>

#include "services/app_files/app_files.h"
#include "services/service_support.h"

namespace feroq::services {

namespace {

std::mutex& RequestsMutex() {
  static std::mutex mutex;
  return mutex;
}

ReceivedFileRequests& Requests() {
  static ReceivedFileRequests requests;
  return requests;
}

std::optional<std::vector<std::u16string>>& LinesOverride() {
  static std::optional<std::vector<std::u16string>> lines;
  return lines;
}

}  // namespace

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

void OverrideComposedLinesForTest(std::optional<std::vector<std::u16string>> lines) {
  std::lock_guard<std::mutex> lock(RequestsMutex());
  LinesOverride() = std::move(lines);
}

std::vector<std::u16string> ComposedOrOverride(std::vector<std::u16string> composed) {
  std::lock_guard<std::mutex> lock(RequestsMutex());
  if (LinesOverride()) return *LinesOverride();
  return composed;
}

ReceivedFileRequests LastReceivedFileRequests() {
  std::lock_guard<std::mutex> lock(RequestsMutex());
  return Requests();
}

void ClearReceivedFileRequests() {
  std::lock_guard<std::mutex> lock(RequestsMutex());
  Requests() = ReceivedFileRequests{};
}

void RecordReceivedRequest(const ZQAPP_HTMLFILE& request) {
  std::lock_guard<std::mutex> lock(RequestsMutex());
  Requests().has_html = true;
  std::memcpy(Requests().html, &request, sizeof(request));
}

void RecordReceivedRequest(const ZQAPP_OBRFILE& request) {
  std::lock_guard<std::mutex> lock(RequestsMutex());
  ReceivedFileRequests& requests = Requests();
  requests.has_launch = true;
  std::memcpy(requests.launch_head, &request, sizeof(requests.launch_head));
  requests.launch_preferred_server = ToText(request.preferredServer);
  requests.launch_port = request.port;
}

}  // namespace feroq::services
