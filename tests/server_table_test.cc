// SERVERTABLE: entries keyed by server identifier, size totals, enumeration,
// copies, and record ownership when the heap refuses.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "feroq/services/containers.h"
#include "platform/platform.h"
#include "support/handles.h"

namespace {

using feroq::platform::AllocationFailureTriggered;
using feroq::platform::ClearAllocationFailure;
using feroq::platform::FailAllocationAt;
using feroq::platform::LiveHeapBlocks;

// flags, initial program, working directory
using Entry = std::tuple<BYTE, std::u16string, std::u16string>;

_ZQAPP_SERVER_CONFIG Config(BYTE flags, const char16_t* program, const char16_t* directory) {
  _ZQAPP_SERVER_CONFIG config;
  config.flags = flags;
  config.initialProgram = program;
  config.workDirectory = directory;
  return config;
}

Entry EntryOf(const _ZQAPP_SERVER_CONFIG& config) {
  return {config.flags, config.initialProgram.c_str(), config.workDirectory.c_str()};
}

// Every entry of `table`, read with its own enumeration.
std::map<ULONG64, Entry> Entries(SERVERTABLE& table) {
  std::map<ULONG64, Entry> entries;
  ULONG64 id = 0;
  _ZQAPP_SERVER_CONFIG config;
  VSTATUS status = table.GetFirstServer(id, config);
  while (status == feroq::VORN_OK) {
    EXPECT_TRUE(entries.emplace(id, EntryOf(config)).second) << "identifier " << id << " came twice";
    status = table.GetNextServer(id, config);
  }
  EXPECT_EQ(status, feroq::ZQAPP_E_NO_MORE);
  return entries;
}

ULONG ShareOf(const _ZQAPP_SERVER_CONFIG& config) {
  return config.initialProgram.m_size + config.workDirectory.m_size + 9;
}

class ServerTableTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearAllocationFailure(); }
};

TEST_F(ServerTableTest, EntryShareCountsBothSizeFieldsPlusNine) {
  SERVERTABLE table;
  const auto config =
      Config(feroq::kServerConfigHasInitialProgram, u"abcd", u"");  // size fields 10 and 2
  ASSERT_EQ(config.initialProgram.m_size, 10u);
  ASSERT_EQ(table.AddServer(5, config), feroq::VORN_OK);
  EXPECT_EQ(table.SizeOfServers(), 21u);
  EXPECT_EQ(table.GetServerCount(), 1);

  _ZQAPP_SERVER_CONFIG found;
  ASSERT_EQ(table.FindServer(5, found), feroq::VORN_OK);
  EXPECT_EQ(EntryOf(found), EntryOf(config));

  EXPECT_EQ(table.RemoveServer(5), feroq::VORN_OK);
  EXPECT_EQ(table.SizeOfServers(), 0u);
  EXPECT_EQ(table.GetServerCount(), 0);
  EXPECT_EQ(table.FindServer(5, found), feroq::VORN_E_FAILURE);
  EXPECT_EQ(table.RemoveServer(5), feroq::VORN_E_FAILURE);
}

TEST_F(ServerTableTest, AddingAnIdentifierAgainReplacesItsRecord) {
  SERVERTABLE table;
  const auto first = Config(feroq::kServerConfigHasInitialProgram, u"first.exe", u"");
  const auto second = Config(feroq::kServerConfigHasWorkDirectory, u"", u"c:\\second");
  ASSERT_EQ(table.AddServer(7, first), feroq::VORN_OK);
  ASSERT_EQ(table.AddServer(7, second), feroq::VORN_OK);
  EXPECT_EQ(table.GetServerCount(), 1);
  EXPECT_EQ(table.SizeOfServers(), ShareOf(first) + ShareOf(second));
  _ZQAPP_SERVER_CONFIG found;
  ASSERT_EQ(table.FindServer(7, found), feroq::VORN_OK);
  EXPECT_EQ(EntryOf(found), EntryOf(second));
  // Removing subtracts the current record's share only.
  ASSERT_EQ(table.RemoveServer(7), feroq::VORN_OK);
  EXPECT_EQ(table.SizeOfServers(), ShareOf(first));
}

TEST_F(ServerTableTest, IdentifiersSurviveTheKeyTextRoundTrip) {
  SERVERTABLE table;
  const ULONG64 ids[] = {0, 1, feroq::MakeObjectId(feroq::kObjectKindServer, 42),
                         0xFFFFFFFFFFFFFFFFull};
  for (ULONG64 id : ids) ASSERT_EQ(table.AddServer(id, Config(0, u"", u"")), feroq::VORN_OK);
  const auto entries = Entries(table);
  ASSERT_EQ(entries.size(), 4u);
  for (ULONG64 id : ids) EXPECT_EQ(entries.count(id), 1u) << id;
}

TEST_F(ServerTableTest, EnumerationCodes) {
  SERVERTABLE table;
  ULONG64 id = 0;
  _ZQAPP_SERVER_CONFIG config;
  EXPECT_EQ(table.GetFirstServer(id, config), feroq::ZQAPP_E_NO_MORE);
  EXPECT_EQ(table.GetNextServer(id, config), feroq::ZQAPP_E_NOT_ITERATING)
      << "an empty table leaves nothing open";

  ASSERT_EQ(table.AddServer(1, Config(2, u"one.exe", u"")), feroq::VORN_OK);
  ASSERT_EQ(table.AddServer(2, Config(1, u"", u"c:\\two")), feroq::VORN_OK);
  ASSERT_EQ(table.GetFirstServer(id, config), feroq::VORN_OK);
  EXPECT_EQ(table.GetFirstServer(id, config), feroq::ZQAPP_E_ITERATING);
  table.StopGetServer();
  EXPECT_EQ(table.GetNextServer(id, config), feroq::ZQAPP_E_NOT_ITERATING);

  const auto entries = Entries(table);
  EXPECT_EQ(entries, (std::map<ULONG64, Entry>{{1, Entry{2, u"one.exe", u""}},
                                               {2, Entry{1, u"", u"c:\\two"}}}));
  EXPECT_EQ(table.GetNextServer(id, config), feroq::ZQAPP_E_NOT_ITERATING)
      << "the finished enumeration closed";
}

TEST_F(ServerTableTest, RemoveAllServersEmptiesAndClosesTheEnumeration) {
  const auto blocks_before = LiveHeapBlocks();
  {
    SERVERTABLE table;
    for (ULONG64 id = 1; id <= 5; ++id)
      ASSERT_EQ(table.AddServer(id, Config(2, u"app.exe", u"")), feroq::VORN_OK);
    ULONG64 id = 0;
    _ZQAPP_SERVER_CONFIG config;
    ASSERT_EQ(table.GetFirstServer(id, config), feroq::VORN_OK);
    EXPECT_EQ(table.RemoveAllServers(), feroq::VORN_OK);
    EXPECT_EQ(table.GetServerCount(), 0);
    EXPECT_EQ(table.SizeOfServers(), 0u);
    EXPECT_EQ(table.GetNextServer(id, config), feroq::ZQAPP_E_NOT_ITERATING);
    EXPECT_EQ(table.GetFirstServer(id, config), feroq::ZQAPP_E_NO_MORE);
    ASSERT_EQ(table.AddServer(9, Config(0, u"", u"")), feroq::VORN_OK);
    EXPECT_EQ(table.GetServerCount(), 1);
  }
  EXPECT_EQ(LiveHeapBlocks(), blocks_before) << "records and keys are all released";
}

TEST_F(ServerTableTest, CopyConstructor) {
  SERVERTABLE source;
  ASSERT_EQ(source.AddServer(1, Config(2, u"one.exe", u"")), feroq::VORN_OK);
  ASSERT_EQ(source.AddServer(2, Config(3, u"two.exe", u"d:\\two")), feroq::VORN_OK);
  SERVERTABLE copy(source);
  EXPECT_EQ(Entries(copy), Entries(source));
  EXPECT_EQ(copy.SizeOfServers(), source.SizeOfServers());
  ULONG64 id = 0;
  _ZQAPP_SERVER_CONFIG config;
  EXPECT_EQ(source.GetNextServer(id, config), feroq::ZQAPP_E_NOT_ITERATING)
      << "the copy closed its enumeration";

  // A source whose enumeration is open gives an empty copy; it stays open.
  ASSERT_EQ(source.GetFirstServer(id, config), feroq::VORN_OK);
  SERVERTABLE empty(source);
  EXPECT_EQ(empty.GetServerCount(), 0);
  EXPECT_EQ(empty.SizeOfServers(), 0u);
  EXPECT_EQ(source.GetNextServer(id, config), feroq::VORN_OK);
}

TEST_F(ServerTableTest, AssignmentReplacesEveryEntry) {
  SERVERTABLE source;
  ASSERT_EQ(source.AddServer(1, Config(2, u"one.exe", u"")), feroq::VORN_OK);
  ASSERT_EQ(source.AddServer(2, Config(2, u"two.exe", u"")), feroq::VORN_OK);
  SERVERTABLE target;
  ASSERT_EQ(target.AddServer(2, Config(1, u"", u"c:\\old")), feroq::VORN_OK);
  ASSERT_EQ(target.AddServer(3, Config(1, u"", u"c:\\three")), feroq::VORN_OK);

  SERVERTABLE& result = (target = source);
  EXPECT_EQ(&result, &target);
  EXPECT_EQ(Entries(target), (std::map<ULONG64, Entry>{{1, Entry{2, u"one.exe", u""}},
                                                       {2, Entry{2, u"two.exe", u""}}}));
  EXPECT_EQ(target.SizeOfServers(), source.SizeOfServers());

  SERVERTABLE& same = target;  // through a reference: the compiler allows it
  target = same;
  EXPECT_EQ(target.GetServerCount(), 2);
  EXPECT_EQ(target.SizeOfServers(), source.SizeOfServers());
}

// ---- Heap refusals ---------------------------------------------------------------

TEST_F(ServerTableTest, FailedInsertionLeavesTheTableUnchangedAndLeaksNothing) {
  const auto blocks_before = LiveHeapBlocks();
  {
    SERVERTABLE table;
    ASSERT_EQ(table.AddServer(1, Config(2, u"one.exe", u"")), feroq::VORN_OK);
    const auto before = Entries(table);
    const ULONG size_before = table.SizeOfServers();
    const auto config = Config(3, u"new.exe", u"c:\\new");
    VSTATUS status = 0;
    const int failures = feroq::testing::ForEachAllocationFailure(
        [&] { status = table.AddServer(2, config); },
        [&](bool failed) {
          if (!failed) return;
          EXPECT_TRUE(status == feroq::VORN_E_OUTOFMEMORY || status == feroq::VORN_E_FAILURE) << std::hex << status;
          EXPECT_EQ(Entries(table), before);
          EXPECT_EQ(table.SizeOfServers(), size_before);
        });
    EXPECT_GE(failures, 3);  // key, record, texts (and the hash table's own)
    EXPECT_EQ(table.GetServerCount(), 2);
  }
  EXPECT_EQ(LiveHeapBlocks(), blocks_before);
}

TEST_F(ServerTableTest, FailedCopyRaisesAndLeaksNothing) {
  SERVERTABLE source;
  for (ULONG64 id = 1; id <= 3; ++id)
    ASSERT_EQ(source.AddServer(id, Config(2, u"app.exe", u"")), feroq::VORN_OK);
  const auto blocks_before = LiveHeapBlocks();
  for (std::uint64_t nth = 1;; ++nth) {
    // Only the copy runs with the failure armed: a table whose destructor
    // cannot list its entries keeps its records (they are not freed).
    std::optional<SERVERTABLE> copy;
    FailAllocationAt(nth);
    bool raised = false;
    try {
      copy.emplace(source);
    } catch (const std::bad_alloc&) {
      raised = true;
    }
    const bool failed = AllocationFailureTriggered();
    ClearAllocationFailure();
    if (copy) {
      EXPECT_EQ(Entries(*copy), Entries(source));
      copy.reset();
    }
    EXPECT_EQ(LiveHeapBlocks(), blocks_before) << "failure at allocation " << nth;
    ULONG64 id = 0;
    _ZQAPP_SERVER_CONFIG config;
    EXPECT_EQ(source.GetNextServer(id, config), feroq::ZQAPP_E_NOT_ITERATING)
        << "source left enumerating";
    EXPECT_EQ(raised, failed) << "failure at allocation " << nth;
    if (!failed) break;
  }
  EXPECT_EQ(Entries(source).size(), 3u);
}

}  // namespace
