// SqliteFarmStoreTest: a gtest fixture for the SQLite farm store's own tests.
// Each test gets a scratch directory for its farm files, opens stores on
// them, writes through them (failing the test when a write is refused), and
// reads or changes a file through a plain SQLite connection, past the store.
#ifndef FEROQ_TESTS_SUPPORT_SQLITE_FARM_FIXTURE_H_
#define FEROQ_TESTS_SUPPORT_SQLITE_FARM_FIXTURE_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>

#include "services/store/sqlite_farm_store.h"
#include "support/temp_files.h"

namespace feroq::testing {

class SqliteFarmStoreTest : public ::testing::Test {
 protected:
  static void MustWrite(store::FarmStore& store, const std::function<void(store::FarmTxn&)>& fn) {
    ASSERT_EQ(store.Write([&](store::FarmTxn& txn) -> VSTATUS { return fn(txn), 0; }), 0u);
  }
  std::string PathOf(const std::string& name) const { return scratch_.File(name); }

  std::shared_ptr<store::FarmStore> Open(const std::string& path) {
    std::shared_ptr<store::FarmStore> store;
    EXPECT_EQ(store::OpenSqliteFarmStore(path, &store), 0u) << path;
    return store;
  }

  // Runs `sql` on the file through a plain SQLite connection.
  static void RawExec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
  }

  // The first column of the first row `sql` answers on the file, as text;
  // "<none>" when there is none.
  static std::string RawText(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    std::string value = "<none>";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
  }

  // Every property set to a value of its own.
  static store::ApplicationRecord FullApplication(ULONG64 id, ULONG64 folder) {
    store::ApplicationRecord app{id, folder, {}};
    store::AppRecordData& d = app.data;
    d.version = 3;
    d.read_only = 1;
    d.video_type = 2;
    d.publishing_flags = 0x10203;
    d.browser_name = u"Stra\u00dfe \u00c4rger";
    d.friendly_name = u"Friendly \U0001F600";
    d.initial_program = u"C:\\Apps\\run.exe";
    d.work_directory = u"C:\\Work";
    d.description = u"A description\nwith two lines";
    d.folder_text = u"Office";
    for (int i = 0; i < 640; ++i) d.icon.push_back(static_cast<BYTE>(i * 7));
    d.window_height = 768;
    d.window_width = 1024;
    d.zq_attributes = 0x80000001u;
    d.wl_attributes = 0x40;
    d.encryption_level = 4;
    d.sound_type = 1;
    d.window_color = 3;
    d.window_scale = 75;
    d.window_type = 5;
    d.desktop_integrate = 2;
    d.users = {u"CN=alice,DC=corp", u"CN=Accounting,DC=corp"};
    d.servers = {{MakeObjectId(kObjectKindServer, 1), 6, u"D:\\run.exe", u"D:\\"},
                 {MakeObjectId(kObjectKindServer, 2), 0, u"", u""}};
    return app;
  }

  ScratchDir scratch_;
  const std::string& dir_ = scratch_.path();
};

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_SQLITE_FARM_FIXTURE_H_
