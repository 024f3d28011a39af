#include "services/app_checks.h"

#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "services/service_failure.h"
#include "services/service_support.h"

namespace feroq::services {
namespace {

// A set of ASCII characters as a bit table, for a browser name: a short
// text against a long set, which one look-up a unit checks more cheaply
// than a comparison with each of its members.
class AsciiSet {
 public:
  constexpr explicit AsciiSet(const char16_t* set) {
    for (; *set != u'\0'; ++set) bits_[*set >> 6] |= std::uint64_t{1} << (*set & 63);
  }
  constexpr bool Holds(char16_t c) const { return c < 128 && ((bits_[c >> 6] >> (c & 63)) & 1) != 0; }

 private:
  std::uint64_t bits_[2] = {0, 0};
};

constexpr AsciiSet kBrowserNameForbidden(u"\\/;:.*?=<>|[]()'\"#\r\n");

bool HasAnyOf(const std::u16string& text, const AsciiSet& set) {
  for (char16_t c : text) {
    if (set.Holds(c)) return true;
  }
  return false;
}

constexpr ULONG kDesktopBit = 0x10;
constexpr BYTE kCustomWindow = 6;   // store byte of a custom window size
constexpr BYTE kPercentWindow = 7;  // store byte of a percentage window
constexpr ULONG kLargestWindowSide = 4096;

}  // namespace

std::vector<BrokenRule> CheckApplication(const store::FarmView& farm, const store::ApplicationRecord& app,
                                         const store::ApplicationName* before, NameLookups lookups) {
  const bool look_up = lookups == NameLookups::kMade;
  const store::AppRecordData& d = app.data;
  std::vector<BrokenRule> failed;
  auto fail = [&](ULONG index, VSTATUS cause, const char* field) {
    failed.push_back(BrokenRule{kDetailedErrorBase + index, cause != 0 ? cause : kDetailedErrorBase + index, field});
  };
  const bool desktop = (d.wl_attributes & kDesktopBit) != 0;

  if (d.browser_name.empty()) fail(0, 0, "BrowserName");
  if (!d.browser_name.empty()) {
    bool taken = false;
    if (look_up) {
      for (ULONG64 other : farm.FindApplicationsByBrowserName(d.browser_name)) taken |= other != app.id;
    }
    if (HasAnyOf(d.browser_name, kBrowserNameForbidden) || d.browser_name[0] == u' ') {
      fail(1, 0, "BrowserName");
    } else if (taken) {
      fail(1, FARM_E_BROWSER_NAME_TAKEN, "BrowserName");
    }
  }
  if (d.initial_program.empty() && !desktop) fail(2, 0, "DefaultInitialProgram");
  if (HasAnyUnit<u'/', u'*', u'?', u'"', u'<', u'>', u'|', u'\r', u'\n'>(d.work_directory)) {
    fail(3, 0, "DefaultWorkDirectory");
  }
  const bool name_checked = before == nullptr || before->folder_id != app.folder_id ||
                            before->name != d.friendly_name;
  if (d.friendly_name.empty()) {
    fail(4, FARM_E_NAME_EMPTY, "FriendlyName");
  } else if (name_checked) {
    if (VSTATUS broken = NameRuleBroken(d.friendly_name)) {
      fail(4, broken, "FriendlyName");
    } else if (look_up && farm.FindChildByName(app.folder_id, d.friendly_name, app.id)) {
      fail(4, FARM_E_NAME_TAKEN, "FriendlyName");
    }
  }
  if (!farm.GetFolder(app.folder_id)) fail(5, 0, "CommonAppFolder");
  if (HasLineBreak(d.description)) fail(6, 0, "Description");
  if (d.window_type == kCustomWindow) {
    if (d.window_height == 0) fail(7, 0, "DefaultWindowHeight");
    if (d.window_height > kLargestWindowSide) fail(8, 0, "DefaultWindowHeight");
    if (d.window_width == 0) fail(9, 0, "DefaultWindowWidth");
    if (d.window_width > kLargestWindowSide) fail(10, 0, "DefaultWindowWidth");
  }
  if (d.window_type == kPercentWindow) {
    if (d.window_scale == 0) fail(11, 0, "DefaultWindowScale");
    if (d.window_scale > 100) fail(12, 0, "DefaultWindowScale");
  }
  for (const store::AppServerData& server : d.servers) {
    if (!farm.GetServer(server.server_id)) {
      fail(27, 0, "Servers");
      break;
    }
  }
  if (!desktop && !d.work_directory.empty() && d.initial_program.empty()) fail(39, 0, "DefaultWorkDirectory");
  return failed;
}

std::vector<ULONG> DetailCodes(const std::vector<BrokenRule>& rules) {
  std::vector<ULONG> codes;
  codes.reserve(rules.size());
  for (const BrokenRule& rule : rules) codes.push_back(rule.detail);
  return codes;
}

void RecordBrokenRules(VSTATUS status, const std::vector<BrokenRule>& rules) noexcept {
  try {
    std::vector<admin::FailureCause> causes;
    for (const BrokenRule& rule : rules) causes.push_back({rule.cause, rule.field, MeaningOf(rule.cause)});
    RecordFailure(status, std::move(causes));
  } catch (const std::bad_alloc&) {
    RecordFailure(status, {});
  }
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
