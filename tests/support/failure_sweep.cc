#include "farm/object_access.h"
#include "support/failure_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <optional>
#include <set>
#include <sstream>

#include "farm/object_id_map.h"
#include "feroq/app_folder_object.h"
#include "feroq/services/directory_services.h"
#include "feroq/services/farm_admin.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "services/event_service.h"
#include "services/service_faults.h"
#include "services/store/farm_store.h"
#include "support/farm_fixture.h"

namespace feroq::testing {
namespace {

// Everything a failed operation must leave as it was: the farm's name,
// folders, applications (whole records), servers and accounts.
struct FarmSnapshot {
  std::u16string name;
  std::vector<store::FolderRecord> folders;
  std::vector<store::ApplicationRecord> applications;
  std::vector<store::ServerRecord> servers;
  std::vector<store::AccountRecord> accounts;

  bool operator==(const FarmSnapshot&) const = default;
};

FarmSnapshot TakeFarmSnapshot() {
  FarmSnapshot snapshot;
  VSTATUS status = 0;
  std::shared_ptr<store::FarmStore> farm = services::EventStore(&status);
  EXPECT_TRUE(farm != nullptr) << std::hex << status;
  if (farm == nullptr) return snapshot;
  farm->Read([&](const store::FarmView& view) -> VSTATUS {
    snapshot.name = view.FarmName();
    snapshot.folders = view.ListFolders();
    for (ULONG64 id : view.ApplicationIds(0)) {
      if (auto app = view.GetApplication(id)) snapshot.applications.push_back(*app);
    }
    snapshot.servers = view.ListServers();
    snapshot.accounts = view.ListAccounts();
    return 0;
  });
  return snapshot;
}

// Empty when every registered object is held exactly as often as its
// reference count says: by the tool (ToolState::held) and by the parent
// caches of application objects. Otherwise what is wrong.
std::string CheckRegistry(const ToolState& tool) {
  auto* map = static_cast<ObjectIdMap*>(tool.farm->GetObjectIDMap());
  if (map == nullptr) return "the farm object has no registry";
  std::map<const CommonObject*, ULONG> holders;
  for (const CommonObject* held : tool.held) ++holders[held];
  std::set<ZQWinAppObject*> apps;
  for (auto& [id, object] : map->entries) {
    _FarmObjectType type;
    object->GetObjectType(&type);
    if (type == FarmObjectWinApp) apps.insert(static_cast<ZQWinAppObject*>(object));
  }
  for (CommonObject* held : tool.held) {
    _FarmObjectType type;
    held->GetObjectType(&type);
    if (type == FarmObjectWinApp) apps.insert(static_cast<ZQWinAppObject*>(held));
  }
  for (ZQWinAppObject* app : apps) {
    if (feroq::ObjectAccess::CachedParent(*app) != nullptr) ++holders[feroq::ObjectAccess::CachedParent(*app)];
  }
  std::ostringstream problems;
  for (auto& [id, object] : map->entries) {
    ULONG64 own_id = 0;
    object->GetObjectID(own_id);
    const ULONG expected = holders.count(object) != 0 ? holders[object] : 0;
    if (own_id != id) problems << "entry " << std::hex << id << " points at object " << own_id << "; ";
    if (expected == 0) {
      problems << "object " << std::hex << id << " is registered but nothing holds it (count " << std::dec
               << object->GetRefCount() << "); ";
    } else if (object->GetRefCount() != expected) {
      problems << "object " << std::hex << id << " has count " << std::dec << object->GetRefCount() << " but "
               << expected << " holders; ";
    }
  }
  return problems.str();
}

// Calls of the application store that pass on the codes of the record's
// tables, which report running out of memory as a general failure
// (0x80000001).
const std::set<std::string> kCallsPassingTableFailures = {
    "ZQAppSAL::Read",
    "ZQAppSAL::Write",
    "ZQApp::AddUser",
    "ZQApp::RemoveUser",
};

struct RunOutcome {
  HRESULT result = S_OK;
  bool reached = false;  // the armed allocation failure was handed out
  bool farm_unchanged = true;
  FarmSnapshot farm_after;
  std::string registry;     // CheckRegistry's findings
  std::int64_t leaked = 0;  // heap blocks left after the run
  std::vector<std::string> calls;
};

// One run: a fresh world, `arm`, the operation, the checks' raw material.
RunOutcome RunOnce(SweepTarget& target, const SweptOperation& op, const std::function<void()>& arm) {
  RunOutcome outcome;
  const std::int64_t blocks_before = platform::LiveHeapBlocks();
  target.StartRun(op);
  ToolState& tool = target.tool();
  const FarmSnapshot before = TakeFarmSnapshot();
  {
    Holdings out(*tool.farm);
    services::StartServiceCallLog();
    arm();
    outcome.result = op.run(tool, out);
    outcome.reached = platform::AllocationFailureTriggered();
    platform::ClearAllocationFailure();
    services::ClearServiceFaults();
    services::StopServiceCallLog();
    outcome.calls = services::ServiceCallLog();
    outcome.farm_after = TakeFarmSnapshot();
    outcome.farm_unchanged = outcome.farm_after == before;
    out.ReleaseAll();
    outcome.registry = CheckRegistry(tool);
  }
  target.EndRun();
  outcome.leaked = platform::LiveHeapBlocks() - blocks_before;
  return outcome;
}

std::string Hex(HRESULT value) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << static_cast<ULONG>(value);
  return text.str();
}

// The mapping of the `index`-th call of `calls` in `table`, or null.
const CodeMapping* MappingOf(const ServiceTable& table, const std::vector<std::string>& calls,
                             std::size_t index) {
  const std::string& name = calls[index];
  const auto occurrence = std::count(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(index), name);
  auto exact = table.find(name + "#" + std::to_string(occurrence));
  if (exact != table.end()) return &exact->second;
  auto any = table.find(name);
  if (any != table.end()) return &any->second;
  auto every = table.find("*");
  return every == table.end() ? nullptr : &every->second;
}

// The last call of `calls` that is swept, if any.
std::optional<std::size_t> LastSweptCall(const std::vector<std::string>& calls) {
  for (std::size_t i = calls.size(); i > 0; --i) {
    if (!IsUnsweptCall(calls[i - 1])) return i - 1;
  }
  return std::nullopt;
}

// The first swept call of `calls` from `from` on, if any.
std::optional<std::size_t> NextSweptCall(const std::vector<std::string>& calls, std::size_t from) {
  for (std::size_t i = from; i < calls.size(); ++i) {
    if (!IsUnsweptCall(calls[i])) return i;
  }
  return std::nullopt;
}

// The common checks of a run that reached its failure.
void CheckAfterFailure(const SweptOperation& op, const RunOutcome& outcome, const std::string& where) {
  EXPECT_EQ(outcome.registry, "") << where;
  EXPECT_EQ(outcome.leaked, 0) << where << ": heap blocks left behind";
  if (outcome.result != op.expected && !op.failure_may_follow_change) {
    EXPECT_TRUE(outcome.farm_unchanged) << where << ": a failed operation changed the farm";
  }
}

void ReportCounts(const std::string& name, const SweepCounts& allocation, const SweepCounts& service) {
  std::cout << "[ sweep    ]   " << name << ": " << allocation.failure_points << " failure points, "
            << service.service_calls << " service calls (" << service.service_runs << " runs)\n";
}

}  // namespace

const std::vector<VSTATUS> kSweptServiceCodes = {
    0x80000002u, 0x80000003u, 0x80000007u, 0x80000016u, 0x801D1100u, 0x801D1101u,
    0x801D1102u, 0x801D1103u, 0x801D1104u, 0x801D1105u, 0x801D1106u, 0x801D1107u,
    0x801D1108u, 0x80160004u, 0x80160006u, 0x8016000Cu, 0x80001234u,
};

bool IsUnsweptCall(const std::string& call) { return call == "VORNCommonApplicationSAL::FreeMemory"; }

void Holdings::Object(CommonObject* object) {
  if (object != nullptr) objects_.push_back(object);
}

void Holdings::Memory(void* block) {
  if (block != nullptr) blocks_.push_back(block);
}

void Holdings::Objects(CommonObject** objects, std::size_t count) {
  for (std::size_t i = 0; objects != nullptr && i < count; ++i) Object(objects[i]);
  Memory(objects);
}

void Holdings::ReleaseAll() {
  for (CommonObject* object : objects_) farm_.FreeObject(object);
  for (void* block : blocks_) farm_.FreeMemory(block);
  objects_.clear();
  blocks_.clear();
}

CodeMapping Map(std::initializer_list<std::pair<VSTATUS, HRESULT>> listed, HRESULT otherwise) {
  std::map<VSTATUS, HRESULT> table(listed.begin(), listed.end());
  return [table, otherwise](VSTATUS code) {
    auto found = table.find(code);
    return found == table.end() ? otherwise : found->second;
  };
}

CodeMapping Always(HRESULT result) {
  return [result](VSTATUS) { return result; };
}

SweepCounts SweepAllocations(SweepTarget& target, const SweptOperation& op) {
  SweepCounts counts;
  const RunOutcome clean = RunOnce(target, op, [] {});
  EXPECT_EQ(clean.result, op.expected) << op.name << ": clean run";
  EXPECT_EQ(clean.registry, "") << op.name << ": clean run";
  EXPECT_EQ(clean.leaked, 0) << op.name << ": clean run leaves heap blocks behind";

  constexpr std::uint64_t kMostFailurePoints = 4000;
  for (std::uint64_t n = 1;; ++n) {
    if (n > kMostFailurePoints) {
      ADD_FAILURE() << op.name << ": no run completed within " << kMostFailurePoints << " failure points";
      break;
    }
    const RunOutcome outcome = RunOnce(target, op, [n] { platform::FailAllocationAt(n); });
    const std::string where =
        op.name + ", allocation " + std::to_string(n) + ", result " + Hex(outcome.result);
    if (!outcome.reached) {
      EXPECT_EQ(outcome.result, op.expected) << where << ": run without failure";
      break;
    }
    ++counts.failure_points;
    // The failure struck between the last service call made and the one a
    // clean run makes next: the result belongs to one of their steps.
    std::vector<HRESULT> allowed = op.absorbs;
    allowed.push_back(E_OUTOFMEMORY);
    if (op.makes_records) allowed.push_back(op.expected);
    std::string steps;
    const std::optional<std::size_t> neighbours[] = {LastSweptCall(outcome.calls),
                                                     NextSweptCall(clean.calls, outcome.calls.size())};
    for (std::optional<std::size_t> index : neighbours) {
      if (!index) continue;
      const std::vector<std::string>& calls = *index < outcome.calls.size() ? outcome.calls : clean.calls;
      const CodeMapping* mapping = MappingOf(op.services, calls, *index);
      steps += " " + calls[*index];
      if (mapping == nullptr) continue;
      allowed.push_back((*mapping)(VORN_E_OUTOFMEMORY));
      if (kCallsPassingTableFailures.count(calls[*index]) != 0) allowed.push_back((*mapping)(VORN_E_FAILURE));
    }
    std::string accepted;
    for (HRESULT result : allowed) accepted += " " + Hex(result);
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), outcome.result), allowed.end())
        << where << " (between service calls:" << steps << "; accepted:" << accepted << ")";
    if (outcome.result == op.expected) {
      EXPECT_TRUE(outcome.farm_after == clean.farm_after) << where << ": absorbed, but the farm differs";
    }
    CheckAfterFailure(op, outcome, where);
    if (::testing::Test::HasFatalFailure()) break;
  }
  return counts;
}

SweepCounts SweepServiceFaults(SweepTarget& target, const SweptOperation& op) {
  SweepCounts counts;
  const RunOutcome probe = RunOnce(target, op, [] {});
  EXPECT_EQ(probe.result, op.expected) << op.name << ": clean run";
  for (std::size_t i = 0; i < probe.calls.size(); ++i) {
    const std::string& call = probe.calls[i];
    if (IsUnsweptCall(call)) continue;
    const CodeMapping* mapping = MappingOf(op.services, probe.calls, i);
    if (mapping == nullptr) {
      ADD_FAILURE() << op.name << ": service call " << i + 1 << " " << call << " has no mapping";
      continue;
    }
    ++counts.service_calls;
    for (VSTATUS code : kSweptServiceCodes) {
      ++counts.service_runs;
      const RunOutcome outcome = RunOnce(target, op, [i, code] {
        services::InjectServiceFaultAtCall(static_cast<unsigned long>(i + 1), code);
      });
      const std::string where = op.name + ", call " + std::to_string(i + 1) + " " + call + " answering " +
                                Hex(static_cast<HRESULT>(code));
      EXPECT_TRUE(outcome.calls.size() > i && outcome.calls[i] == call) << where << ": the calls differ";
      EXPECT_EQ(Hex(outcome.result), Hex((*mapping)(code))) << where;
      CheckAfterFailure(op, outcome, where);
    }
  }
  return counts;
}

// ---- FailureSweepTest ---------------------------------------------------------

void FailureSweepTest::StartRun(const SweptOperation& op) {
  ASSERT_EQ(admin::ResetMemoryFarm(""), 0u);
  srv1_ = AddServer(u"SRV1");
  srv2_ = AddServer(u"SRV2");
  AddAccount(u"CORP", u"alice", 0, kAliceDn);
  AddAccount(u"CORP", u"bob", 1, kBobDn);
  office_ = AddFolder(u"Office");
  tools_ = AddFolder(u"Office/Tools");
  viewer_ = AddApplication(u"viewer", tools_);
  AppSeed editor;
  editor.browser_name = u"editor";
  editor.friendly_name = u"Editor";
  editor.folder = tools_;
  editor.work_directory = u"C:\\Work";
  editor.description = u"Edits text";
  editor.servers = {srv1_, srv2_};
  editor.users = {kAliceDn, kBobDn};
  editor_ = AddApplication(editor);
  tool_ = ToolState{};
  tool_.farm = &OpenFarm();
  if (op.setup) op.setup(tool_);
}

void FailureSweepTest::EndRun() {
  for (auto it = tool_.held.rbegin(); it != tool_.held.rend(); ++it) {
    CommonObject* object = *it;
    farm_->FreeObject(object);
  }
  tool_ = ToolState{};
  farm_.reset();
}

ZQWinAppObject* FailureSweepTest::HoldApp(ToolState& t, ULONG64 id) {
  ZQWinAppObject* app = nullptr;
  EXPECT_EQ(t.farm->CreateWinAppFromID(id, &app), S_OK);
  EXPECT_EQ(app->Load(), S_OK);
  return t.Hold(app);
}

AppFolderObject* FailureSweepTest::HoldFolder(ToolState& t, ULONG64 id) {
  AppFolderObject* folder = nullptr;
  EXPECT_EQ(t.farm->CreateAppFolderObject(id, &folder, 0), S_OK);
  return t.Hold(folder);
}

AppFolderObject* FailureSweepTest::HoldRoot(ToolState& t) {
  FolderObject* root = nullptr;
  EXPECT_EQ(t.farm->GetRootFolder(FarmObjectAppFolder, &root), S_OK);
  return static_cast<AppFolderObject*>(t.Hold(root));
}

void FailureSweepTest::ChangeFarm(const std::function<void(VORNCommonApplicationSAL&, ZQAppSAL&)>& change) {
  services::ScopedServiceCallSuppression quiet;
  VORNCommonApplicationSAL folders(subsystem());
  ZQAppSAL store(subsystem());
  change(folders, store);
}

void FailureSweepTest::Sweep(const std::string& scenario, const std::vector<SweptOperation>& ops) {
  SweepCounts total;
  // FEROQ_SWEEP_ONLY=NAME sweeps only the operations whose name holds NAME
  // (for looking into one operation's failures).
  const char* only = std::getenv("FEROQ_SWEEP_ONLY");
  for (const SweptOperation& op : ops) {
    if (only != nullptr && op.name.find(only) == std::string::npos) continue;
    const SweepCounts allocation = SweepAllocations(*this, op);
    const SweepCounts service = SweepServiceFaults(*this, op);
    ReportCounts(op.name, allocation, service);
    total.failure_points += allocation.failure_points;
    total.service_calls += service.service_calls;
    total.service_runs += service.service_runs;
    if (HasFatalFailure()) return;
  }
  std::cout << "[ sweep    ] scenario " << scenario << ": " << ops.size() << " operations, "
            << total.failure_points << " allocation failure points, " << total.service_calls
            << " service calls x " << kSweptServiceCodes.size() << " codes = " << total.service_runs
            << " service fault runs\n";
  if (only == nullptr) {
    EXPECT_GT(total.failure_points + total.service_runs, 0u) << scenario << " exercised nothing";
  }
}

SweptOperation FailureSweepTest::OnApp(std::string name,
                                       std::function<HRESULT(ZQWinAppObject*, Holdings&)> run,
                                       ServiceTable services, HRESULT expected) {
  SweptOperation op;
  op.name = std::move(name);
  op.setup = [this](ToolState& t) { t.app = HoldApp(t, editor_); };
  op.run = [run](ToolState& t, Holdings& out) { return run(t.app, out); };
  op.services = std::move(services);
  op.expected = expected;
  return op;
}

SweptOperation FailureSweepTest::OnTools(std::string name,
                                         std::function<HRESULT(AppFolderObject*, Holdings&)> run,
                                         ServiceTable services, HRESULT expected) {
  SweptOperation op;
  op.name = std::move(name);
  op.setup = [this](ToolState& t) { t.folder = HoldFolder(t, tools_); };
  op.run = [run](ToolState& t, Holdings& out) { return run(t.folder, out); };
  op.services = std::move(services);
  op.expected = expected;
  return op;
}

SweptOperation FailureSweepTest::OnFarm(std::string name, std::function<HRESULT(FarmObject*, Holdings&)> run,
                                        ServiceTable services, HRESULT expected) {
  SweptOperation op;
  op.name = std::move(name);
  op.run = [run](ToolState& t, Holdings& out) { return run(t.farm, out); };
  op.services = std::move(services);
  op.expected = expected;
  return op;
}

}  // namespace feroq::testing
