// SERVERTABLE: entries keyed by server identifier, the size total,
// enumeration, copies, and record ownership when the heap refuses.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "feroq/services/containers.h"
#include "platform/platform.h"
#include "support/handles.h"

namespace {

using feroq::platform::LiveHeapBlocks;
using feroq::VORN_OK;
using feroq::ZQAPP_E_NOT_ITERATING;

// flags, initial program, working directory
using Entry = std::tuple<BYTE, std::u16string, std::u16string>;
using Entries = std::map<ULONG64, Entry>;

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
Entries EntriesOf(SERVERTABLE& table) {
  Entries entries;
  ULONG64 id = 0;
  _ZQAPP_SERVER_CONFIG config;
  VSTATUS status = table.GetFirstServer(id, config);
  for (; status == VORN_OK; status = table.GetNextServer(id, config)) {
    EXPECT_TRUE(entries.emplace(id, EntryOf(config)).second) << "identifier " << id << " came twice";
  }
  EXPECT_EQ(status, feroq::ZQAPP_E_NO_MORE);
  return entries;
}

// 0x801D1107 when `table` has no enumeration open.
VSTATUS NextOf(SERVERTABLE& table) {
  ULONG64 id = 0;
  _ZQAPP_SERVER_CONFIG config;
  return table.GetNextServer(id, config);
}

void AddTwoServers(SERVERTABLE& table) {
  ASSERT_EQ(table.AddServer(1, Config(2, u"one.exe", u"")), VORN_OK);
  ASSERT_EQ(table.AddServer(2, Config(1, u"", u"c:\\two")), VORN_OK);
}
const Entries kTwoServers = {{1, Entry{2, u"one.exe", u""}}, {2, Entry{1, u"", u"c:\\two"}}};

TEST(ServerTableTest, EntriesAddFindReplaceAndRemove) {
  SERVERTABLE table;
  const auto first = Config(feroq::kServerConfigHasInitialProgram, u"abcd", u"");  // size fields 10 and 2
  const auto second = Config(feroq::kServerConfigHasWorkDirectory, u"", u"c:\\second");
  ASSERT_EQ(table.AddServer(7, first), VORN_OK);
  EXPECT_EQ(table.SizeOfServers(), 21u) << "each entry adds both size fields plus 9";
  // The same identifier again replaces the record; the total keeps both shares.
  ASSERT_EQ(table.AddServer(7, second), VORN_OK);
  EXPECT_EQ(table.GetServerCount(), 1);
  _ZQAPP_SERVER_CONFIG found;
  ASSERT_EQ(table.FindServer(7, found), VORN_OK);
  EXPECT_EQ(EntryOf(found), EntryOf(second));
  EXPECT_EQ(table.RemoveServer(7), VORN_OK);
  EXPECT_EQ(table.SizeOfServers(), 21u) << "removing subtracts the current record's share only";
  EXPECT_EQ(table.FindServer(7, found), feroq::VORN_E_FAILURE);
  EXPECT_EQ(table.RemoveServer(7), feroq::VORN_E_FAILURE);

  // Identifiers come back from their key text whole.
  const ULONG64 ids[] = {0, feroq::MakeObjectId(feroq::kObjectKindServer, 42), 0xFFFFFFFFFFFFFFFFull};
  for (ULONG64 id : ids) ASSERT_EQ(table.AddServer(id, Config(0, u"", u"")), VORN_OK);
  const Entries entries = EntriesOf(table);
  for (ULONG64 id : ids) EXPECT_EQ(entries.count(id), 1u) << id;
}

TEST(ServerTableTest, EnumerationCodesAndRemovingEverything) {
  const auto blocks_before = LiveHeapBlocks();
  {
    SERVERTABLE table;
    ULONG64 id = 0;
    _ZQAPP_SERVER_CONFIG config;
    EXPECT_EQ(table.GetFirstServer(id, config), feroq::ZQAPP_E_NO_MORE);
    EXPECT_EQ(NextOf(table), ZQAPP_E_NOT_ITERATING) << "an empty table leaves nothing open";
    AddTwoServers(table);
    ASSERT_EQ(table.GetFirstServer(id, config), VORN_OK);
    EXPECT_EQ(table.GetFirstServer(id, config), feroq::ZQAPP_E_ITERATING);
    table.StopGetServer();
    EXPECT_EQ(NextOf(table), ZQAPP_E_NOT_ITERATING);
    EXPECT_EQ(EntriesOf(table), kTwoServers);
    EXPECT_EQ(NextOf(table), ZQAPP_E_NOT_ITERATING) << "the finished enumeration closed";

    // Removing everything closes an open enumeration.
    ASSERT_EQ(table.AddServer(2, Config(0, u"replaced.exe", u"")), VORN_OK);
    ASSERT_EQ(table.GetFirstServer(id, config), VORN_OK);
    EXPECT_EQ(table.RemoveAllServers(), VORN_OK);
    EXPECT_EQ(table.SizeOfServers(), 0u);
    EXPECT_EQ(NextOf(table), ZQAPP_E_NOT_ITERATING);
    EXPECT_EQ(table.GetFirstServer(id, config), feroq::ZQAPP_E_NO_MORE);
  }
  EXPECT_EQ(LiveHeapBlocks(), blocks_before) << "records, replaced ones too, and keys are all released";
}

TEST(ServerTableTest, CopiesAreWholeAndIndependent) {
  SERVERTABLE none;
  SERVERTABLE copy_of_none(none);  // an empty table copies as one, without a refusal
  EXPECT_EQ(copy_of_none.GetServerCount(), 0);
  SERVERTABLE source;
  AddTwoServers(source);
  SERVERTABLE copy(source);
  EXPECT_EQ(EntriesOf(copy), kTwoServers);
  EXPECT_EQ(copy.SizeOfServers(), source.SizeOfServers());
  EXPECT_EQ(NextOf(source), ZQAPP_E_NOT_ITERATING) << "the copy closed its enumeration";

  // A source whose enumeration is open gives an empty copy; it stays open.
  ULONG64 id = 0;
  _ZQAPP_SERVER_CONFIG config;
  ASSERT_EQ(source.GetFirstServer(id, config), VORN_OK);
  SERVERTABLE empty(source);
  EXPECT_EQ(empty.GetServerCount(), 0);
  EXPECT_EQ(NextOf(source), VORN_OK);
  source.StopGetServer();

  SERVERTABLE target;
  ASSERT_EQ(target.AddServer(3, Config(1, u"", u"c:\\three")), VORN_OK);
  SERVERTABLE& result = (target = source);
  EXPECT_EQ(&result, &target);
  EXPECT_EQ(EntriesOf(target), kTwoServers);
  EXPECT_EQ(target.SizeOfServers(), source.SizeOfServers());
  ASSERT_EQ(source.RemoveServer(1), VORN_OK);
  EXPECT_EQ(target.GetServerCount(), 2) << "the copy does not follow its source";

  SERVERTABLE& same = target;  // through a reference: the compiler allows it
  target = same;
  EXPECT_EQ(EntriesOf(target), kTwoServers);
}

TEST(ServerTableTest, FailedInsertionLeavesTheTableUnchangedAndLeaksNothing) {
  const auto blocks_before = LiveHeapBlocks();
  {
    SERVERTABLE table;
    AddTwoServers(table);
    const ULONG size_before = table.SizeOfServers();
    const auto config = Config(3, u"new.exe", u"c:\\new");
    VSTATUS status = 0;
    const int failures = feroq::testing::ForEachAllocationFailure(
        [&] { status = table.AddServer(3, config); },
        [&](bool failed) {
          if (!failed) return;
          EXPECT_TRUE(status == feroq::VORN_E_OUTOFMEMORY || status == feroq::VORN_E_FAILURE) << std::hex << status;
          EXPECT_EQ(EntriesOf(table), kTwoServers);
          EXPECT_EQ(table.SizeOfServers(), size_before);
        });
    EXPECT_GE(failures, 3);  // key, record, texts (and the hash table's own)
    EXPECT_EQ(table.GetServerCount(), 3);
  }
  EXPECT_EQ(LiveHeapBlocks(), blocks_before);
}

TEST(ServerTableTest, FailedCopyRaisesAndLeaksNothing) {
  SERVERTABLE source;
  AddTwoServers(source);
  const auto blocks_before = LiveHeapBlocks();
  // Only the copy runs with the failure armed: a table whose destructor
  // cannot list its entries keeps its records.
  std::optional<SERVERTABLE> copy;
  bool raised = false;
  feroq::testing::ForEachAllocationFailure(
      [&] {
        try {
          copy.emplace(source);
        } catch (const std::bad_alloc&) {
          raised = true;
        }
      },
      [&](bool failed) {
        EXPECT_EQ(raised, failed);
        if (copy) {
          EXPECT_EQ(EntriesOf(*copy), kTwoServers);
        }
        copy.reset();
        raised = false;
        EXPECT_EQ(LiveHeapBlocks(), blocks_before);
        EXPECT_EQ(NextOf(source), ZQAPP_E_NOT_ITERATING) << "source left enumerating";
      });
  EXPECT_EQ(EntriesOf(source), kTwoServers);
}

}  // namespace
