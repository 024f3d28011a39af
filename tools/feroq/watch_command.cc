// feroq watch: follows the farm's changes through an event queue
// (FarmObject::CreateEventQueue, WaitForEvent, DeleteEventQueue).
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

// How an object of an event is shown: its distinguished name when it has
// one, else its name, else its identifier.
nlohmann::json Describe(FarmObject& farm, CommonObject* object) {
  if (object == nullptr) return nullptr;
  ULONG64 id = 0;
  object->GetObjectID(id);
  _FarmObjectType type = FarmObjectAppFolder;
  object->GetObjectType(&type);
  if (type == FarmObjectWinApp) static_cast<ZQWinAppObject*>(object)->Load();
  nlohmann::json out = {{"id", HexId(id)}, {"type", type == FarmObjectWinApp ? "application" : "folder"}};
  WCHAR* dn = nullptr;
  if (object->GetDistinguishedName(&dn) == S_OK && dn != nullptr) out["dn"] = TakeText(farm, dn);
  const std::string name = NameOf(farm, object);
  if (!name.empty()) out["name"] = name;
  return out;
}

std::string Label(const nlohmann::json& object) {
  if (object.contains("dn")) return object["dn"].get<std::string>();
  if (object.contains("name")) return object["name"].get<std::string>();
  return object["id"].get<std::string>();
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
    nlohmann::json event = {{"event", WordOf(type)}, {"mask", type}, {"object", Describe(farm, first)}};
    if (second != nullptr) event["second"] = Describe(farm, second);
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
