#include "support/farm_builder.h"

#include <gtest/gtest.h>

#include "feroq/services/directory_services.h"
#include "feroq/services/zqapp.h"
#include "support/farm_fixture.h"

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
  AppSeed seed;
  seed.browser_name = u"b-" + name;
  seed.friendly_name = name;
  seed.initial_program = u"C:\\Programs\\app.exe";
  seed.folder = folder == 0 ? Root() : folder;
  return StoreApplication(*static_cast<ZQAppSAL*>(farm_.GetZQWinAppSAL()), seed);
}

}  // namespace feroq::testing
