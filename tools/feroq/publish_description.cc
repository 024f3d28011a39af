#include "publish_description.h"

#include <cstring>
#include <type_traits>

namespace feroq::cli {

namespace {

constexpr std::size_t kServersPerBlock = std::extent_v<decltype(_ZQServerConfigBlock::servers)>;
constexpr std::size_t kUsersPerBlock = std::extent_v<decltype(_UserAccountInfoBlock::users)>;

}  // namespace

WCHAR* PublishDescription::Keep(const std::u16string& text) {
  strings_.push_back(text);
  return strings_.back().data();
}

PublishDescription::PublishDescription(const ApplicationDefinition& def, ULONG default_version)
    : data_(std::make_unique<_ZQWinAppData>()) {
  _ZQWinAppData& d = *data_;
  std::memset(&d, 0, sizeof(d));
  d.version = def.version.value_or(default_version);
  auto text = [&](const std::optional<std::u16string>& value) -> WCHAR* {
    return value ? Keep(*value) : nullptr;
  };
  d.objectName = text(def.object_name);
  d.defaultInitialProgram = text(def.initial_program);
  d.defaultWorkingDirectory = text(def.working_directory);
  d.description = text(def.description);
  d.browserName = text(def.browser_name);
  d.wlFolder = text(def.wl_folder);
  d.parentFolder = text(def.parent_folder);
  d.defaultEncryptionLevel = def.encryption_level.value_or(ZQEncryptionBasic);
  d.defaultSoundType = def.sound_type.value_or(ZQSoundNone);
  d.defaultVideoType = def.video_type.value_or(0);
  d.defaultWindowColor = def.window_color.value_or(ZQWindowColor16);
  d.defaultWindowType = def.window_type.value_or(ZQWindow640x480);
  d.defaultWindowHeight = static_cast<ULONG>(def.window_height.value_or(0));
  d.defaultWindowWidth = static_cast<ULONG>(def.window_width.value_or(0));
  d.defaultWindowScale = def.window_scale.value_or(0);
  d.desktopIntegrate = def.desktop_integrate.value_or(0);
  d.zqAttributes = def.zq_attributes.value_or(0);
  d.wlAttributes = def.wl_attributes.value_or(0);
  d.publishingFlags = def.publishing_flags.value_or(0);

  _ZQServerConfigBlock** server_link = &d.servers;
  for (std::size_t i = 0; i < def.servers.size(); ++i) {
    if (i % kServersPerBlock == 0) {
      server_blocks_.push_back(std::make_unique<_ZQServerConfigBlock>());
      std::memset(server_blocks_.back().get(), 0, sizeof(_ZQServerConfigBlock));
      *server_link = server_blocks_.back().get();
      server_link = &server_blocks_.back()->next;
    }
    _ZQServerConfigBlock& block = *server_blocks_.back();
    _ZQServerConfig& entry = block.servers[block.count++];
    entry.serverName = Keep(def.servers[i].name);
    entry.initialProgram = def.servers[i].program.empty() ? nullptr : Keep(def.servers[i].program);
    entry.workingDirectory = def.servers[i].directory.empty() ? nullptr : Keep(def.servers[i].directory);
  }

  _UserAccountInfoBlock** user_link = &d.users;
  for (std::size_t i = 0; i < def.users.size(); ++i) {
    if (i % kUsersPerBlock == 0) {
      user_blocks_.push_back(std::make_unique<_UserAccountInfoBlock>());
      std::memset(user_blocks_.back().get(), 0, sizeof(_UserAccountInfoBlock));
      *user_link = user_blocks_.back().get();
      user_link = &user_blocks_.back()->next;
    }
    _UserAccountInfoBlock& block = *user_blocks_.back();
    _UserAccountInfo& entry = block.users[block.count++];
    entry.authorityKind = kUserAuthorityWindowsDomain;
    entry.accountKind = def.users[i].kind;
    entry.domain = Keep(def.users[i].domain);
    entry.accountName = Keep(def.users[i].account);
  }

  if (def.icon) {
    d.icon = *def.icon;
    d.useIcon = 1;
  } else if (def.icon_file && !def.icon_file->empty()) {
    d.iconFile = Keep(*def.icon_file);
    d.iconIndex = def.icon_index;
  }
}

}  // namespace feroq::cli
