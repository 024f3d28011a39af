#include "support/farm_builder.h"

#include <gtest/gtest.h>

#include "feroq/services/directory_services.h"
#include "feroq/services/zqapp.h"

namespace feroq::testing {

ULONG64 FarmBuilder::Root() {
  auto* folders = static_cast<VORNCommonApplicationSAL*>(farm_.GetAppFolderSAL());
  ULONG64 root = 0;
  EXPECT_EQ(folders->GetRootFolderID(root), 0u);
  return root;
}

ULONG64 FarmBuilder::Folder(const std::u16string& name, ULONG64 parent) {
  auto* folders = static_cast<VORNCommonApplicationSAL*>(farm_.GetAppFolderSAL());
  if (parent == 0) parent = Root();
  std::u16string copy = name;
  ULONG64 created = 0;
  EXPECT_EQ(folders->CreateFolder(parent, copy.data(), created), 0u) << "folder creation";
  return created;
}

ULONG64 FarmBuilder::App(const std::u16string& name, ULONG64 folder) {
  auto* store = static_cast<ZQAppSAL*>(farm_.GetZQWinAppSAL());
  if (folder == 0) folder = Root();
  ZQApp record;
  EXPECT_EQ(record.Initialize(kZQAppCurrentVersion), 0u);
  VORNString friendly(name.c_str());
  std::u16string browser = u"b-" + name;
  VORNString browser_name(browser.c_str());
  VORNString program(u"C:\\Programs\\app.exe");
  EXPECT_EQ(record.SetFriendlyName(friendly), 0u);
  EXPECT_EQ(record.SetBrowserName(browser_name), 0u);
  EXPECT_EQ(record.SetDefaultInitialProgram(program), 0u);
  EXPECT_EQ(record.SetCommonAppFolder(folder), 0u);
  ULONG64 id = 0;
  EXPECT_EQ(store->Write(id, record, nullptr), 0u) << "publishing";
  return id;
}

}  // namespace feroq::testing
