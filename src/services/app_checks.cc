#include "services/app_checks.h"

#include <memory>

#include "platform/platform.h"

namespace feroq::services {
namespace {

bool HasAnyOf(const std::u16string& text, const char16_t* set) {
  return text.find_first_of(set) != std::u16string::npos;
}

constexpr ULONG kDesktopBit = 0x10;
constexpr BYTE kCustomWindow = 6;   // store byte of a custom window size
constexpr BYTE kPercentWindow = 7;  // store byte of a percentage window
constexpr ULONG kLargestWindowSide = 4096;

}  // namespace

std::vector<ULONG> CheckApplication(const store::FarmView& farm, const store::ApplicationRecord& app) {
  const store::AppRecordData& d = app.data;
  std::vector<ULONG> failed;
  const bool desktop = (d.wl_attributes & kDesktopBit) != 0;

  if (d.browser_name.empty()) failed.push_back(0);
  if (!d.browser_name.empty()) {
    bool taken = false;
    for (ULONG64 other : farm.FindApplicationsByBrowserName(d.browser_name)) taken |= other != app.id;
    if (HasAnyOf(d.browser_name, u"\\/;:.*?=<>|[]()'\"#\r\n") || d.browser_name[0] == u' ' || taken) {
      failed.push_back(1);
    }
  }
  if (d.initial_program.empty() && !desktop) failed.push_back(2);
  if (HasAnyOf(d.work_directory, u"/*?\"<>|\r\n")) failed.push_back(3);
  if (d.friendly_name.empty()) failed.push_back(4);
  if (!farm.GetFolder(app.folder_id)) failed.push_back(5);
  if (HasAnyOf(d.description, u"\r\n")) failed.push_back(6);
  if (d.window_type == kCustomWindow) {
    if (d.window_height == 0) failed.push_back(7);
    if (d.window_height > kLargestWindowSide) failed.push_back(8);
    if (d.window_width == 0) failed.push_back(9);
    if (d.window_width > kLargestWindowSide) failed.push_back(10);
  }
  if (d.window_type == kPercentWindow) {
    if (d.window_scale == 0) failed.push_back(11);
    if (d.window_scale > 100) failed.push_back(12);
  }
  for (const store::AppServerData& server : d.servers) {
    if (!farm.GetServer(server.server_id)) {
      failed.push_back(27);
      break;
    }
  }
  if (!desktop && !d.work_directory.empty() && d.initial_program.empty()) failed.push_back(39);
  for (ULONG& index : failed) index += kDetailedErrorBase;
  return failed;
}

_VORN_ZQAPP_DETAILED_ERR* MakeDetailChain(const std::vector<ULONG>& codes) {
  _VORN_ZQAPP_DETAILED_ERR* head = nullptr;
  _VORN_ZQAPP_DETAILED_ERR** tail = &head;
  try {
    for (ULONG code : codes) {
      *tail = new _VORN_ZQAPP_DETAILED_ERR{code, 0, nullptr, nullptr, nullptr};
      tail = &(*tail)->next;
    }
  } catch (const std::bad_alloc&) {
    while (head != nullptr) {
      _VORN_ZQAPP_DETAILED_ERR* next = head->next;
      delete head;
      head = next;
    }
    throw;
  }
  return head;
}

}  // namespace feroq::services
