// feroq watch: follows the farm's changes through an event queue
// (FarmObject::CreateEventQueue, WaitForEvent, DeleteEventQueue), printing
// each event with the name its object had as of the change, which the farm
// keeps with the event (FarmAdmin::GetDeliveredEvent). A name that could
// only be read at print time is marked: "name_is_current": true in --json,
// " [current]" after it in a human-readable line.
#include <chrono>
#include <cstdio>
#include <memory>

#include <fmt/core.h>

#include "commands.h"
#include "output.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace {

struct EventWord {
  LONG mask;
  const char* word;
};

constexpr EventWord kEventWords[] = {
    {0x10, "folder-created"}, {0x20, "folder-deleted"}, {0x40, "folder-renamed"}, {0x80, "folder-moved"},
    {0x100, "app-published"}, {0x200, "app-deleted"},   {0x400, "app-changed"},   {0x800, "app-moved"},
};

std::string EventWordList() {
  std::string out;
  for (const EventWord& e : kEventWords) out += (out.empty() ? "" : ", ") + std::string(e.word);
  return out;
}

const char* WordOf(LONG mask) {
  for (const EventWord& e : kEventWords) {
    if (e.mask == mask) return e.word;
  }
  return "unknown";
}

LONG ParseMask(const std::vector<std::string>& words) {
  LONG mask = 0;
  for (const std::string& list : words) {
    std::string word;
    auto take = [&] {
      if (word.empty()) return;
      LONG bit = 0;
      for (const EventWord& e : kEventWords) {
        if (EqualsIgnoringCase(e.word, word)) bit = e.mask;
      }
      if (EqualsIgnoringCase(word, "all")) bit = 0xFF0;
      if (EqualsIgnoringCase(word, "folders")) bit = 0xF0;
      if (EqualsIgnoringCase(word, "apps")) bit = 0xF00;
      if (bit == 0) throw UsageError("an event is one of " + EventWordList() + ", folders, apps or all: " + word);
      mask |= bit;
      word.clear();
    };
    for (char c : list) {
      if (c == ',') {
        take();
      } else {
        word += c;
      }
    }
    take();
  }
  return mask == 0 ? 0xFF0 : mask;
}

// How an object is shown from what the farm holds now: its distinguished
// name when it has one, else its name, else only its identifier. A name
// found is marked as current ("name_is_current"), since it may differ from
// the one the object had when the change happened.
nlohmann::json DescribeNow(FarmObject& farm, CommonObject* object) {
  if (object == nullptr) return nullptr;
  ULONG64 id = 0;
  object->GetObjectID(id);
  _FarmObjectType type = FarmObjectAppFolder;
  object->GetObjectType(&type);
  if (type == FarmObjectWinApp) static_cast<ZQWinAppObject*>(object)->Load();
  nlohmann::json out = {{"id", HexId(id)}, {"type", type == FarmObjectWinApp ? "application" : "folder"}};
  char16_t* dn = nullptr;
  if (object->GetDistinguishedName(&dn) == S_OK && dn != nullptr) out["dn"] = TakeText(farm, dn);
  const std::string name = NameOf(farm, object);
  if (!name.empty()) out["name"] = name;
  if (out.contains("dn") || out.contains("name")) out["name_is_current"] = true;
  return out;
}

// The object an event is about, shown with the name it had as of the change,
// which the farm keeps with the event; where it kept none (an event logged
// by an older farm file), with the name it has now, marked as current.
nlohmann::json DescribeEventObject(Session& session, LONG queue, CommonObject* object) {
  if (object == nullptr) return nullptr;
  ULONG64 id = 0;
  object->GetObjectID(id);
  admin::DeliveredEvent delivered;
  if (session.admin().GetDeliveredEvent(queue, &delivered) != 0 || !delivered.name_known ||
      delivered.object_id != id) {
    return DescribeNow(session.farm(), object);
  }
  _FarmObjectType type = FarmObjectAppFolder;
  object->GetObjectType(&type);
  const std::string dn = ToUtf8(delivered.dn);
  return {{"id", HexId(id)},
          {"type", type == FarmObjectWinApp ? "application" : "folder"},
          {"dn", dn},
          {"name", dn.substr(dn.rfind('\\') + 1)},
          {"name_is_current", false}};
}

// The label of an object in a human-readable line, with " [current]" after
// a name read at print time.
std::string Label(const nlohmann::json& object) {
  std::string label;
  if (object.contains("dn")) {
    label = object["dn"].get<std::string>();
  } else if (object.contains("name")) {
    label = object["name"].get<std::string>();
  } else {
    return object["id"].get<std::string>();
  }
  if (object.value("name_is_current", false)) label += " [current]";
  return label;
}

struct WatchOptions {
  int count = 0;
  std::vector<std::string> masks;
  double timeout_seconds = -1;
};

void Watch(Session& session, const WatchOptions& o) {
  FarmObject& farm = session.farm();
  LONG mask = ParseMask(o.masks);
  LONG queue = 0;
  Check(farm.CreateEventQueue(&mask, 1, &queue), "creating an event queue");
  struct QueueGuard {
    FarmObject& farm;
    LONG queue;
    ~QueueGuard() { farm.DeleteEventQueue(queue); }
  } guard{farm, queue};
  // Once this line is out, every later change is reported. With --json it
  // goes to standard error, keeping standard output one JSON object a line.
  std::string words;
  for (const EventWord& e : kEventWords) {
    if ((mask & e.mask) != 0) words += (words.empty() ? "" : ", ") + std::string(e.word);
  }
  std::FILE* note = session.json() ? stderr : stdout;
  fmt::print(note, "watching {} for {}\n", session.url(), words);
  std::fflush(note);
  using Clock = std::chrono::steady_clock;
  const bool bounded = o.timeout_seconds >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(o.timeout_seconds * 1000));
  int seen = 0;
  while (o.count <= 0 || seen < o.count) {
    LONG wait_ms = -1;
    if (bounded) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      wait_ms = static_cast<LONG>(left);
    }
    LONG type = 0;
    CommonObject* first = nullptr;
    CommonObject* second = nullptr;
    HRESULT hr = farm.WaitForEvent(queue, wait_ms, &type, &first, &second);
    Held<CommonObject> held_first(&farm, first);
    Held<CommonObject> held_second(&farm, second);
    if (hr == E_FAIL && bounded) continue;  // the wait ran out (the library does not tell it apart)
    Check(hr, "waiting for an event");
    ++seen;
    nlohmann::json event = {{"event", WordOf(type)}, {"mask", type}, {"object", DescribeEventObject(session, queue, first)}};
    if (second != nullptr) {
      event["second"] = DescribeNow(farm, second);
      // A rename's second object carries the name sent with the event, the
      // folder's name before the rename; a move's is the old parent as it is now.
      if (type == 0x40 && event["second"].contains("name_is_current")) event["second"]["name_is_current"] = false;
    }
    if (session.json()) {
      fmt::print("{}\n", event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    } else {
      std::string line = fmt::format("{} {}", event["event"].get<std::string>(),
                                     event["object"].is_null() ? "?" : Label(event["object"]));
      if (second != nullptr) {
        line += (type == 0x40 ? " (was " : " (from ") + Label(event["second"]) + ")";
      }
      fmt::print("{}\n", line);
    }
    std::fflush(stdout);
  }
  if (o.count > 0 && seen < o.count) {
    throw ToolFailure(fmt::format("{} of {} events arrived within {} seconds", seen, o.count, o.timeout_seconds));
  }
}

}  // namespace

void AddWatchCommand(CLI::App& app, CommandLine& line) {
  auto o = std::make_shared<WatchOptions>();
  auto* watch = app.add_subcommand("watch", "Print the farm's changes as they happen");
  watch->add_option("--count", o->count, "Stop after so many events (default: never)");
  watch->add_option("--mask", o->masks, "Events to follow, comma-separated: " + EventWordList() + ", folders, apps, all");
  watch->add_option("--timeout", o->timeout_seconds, "Stop after so many seconds");
  OnRun(watch, line, [o](Session& session) { Watch(session, *o); });
}

}  // namespace feroq::cli
