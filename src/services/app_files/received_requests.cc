// The composers' test hooks (a build with FEROQ_TESTING only): the last
// request each composer received, and lines that replace what they compose.
#include <cstring>
#include <mutex>

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
