// PublishDescription (feroq/app_import.h): the _ZQWinAppData record of an
// ApplicationDefinition, with the blocks and strings it points to.
#include <cstring>
#include <new>
#include <type_traits>

#include "feroq/app_import.h"

namespace feroq {
namespace {

constexpr std::size_t kServersPerBlock = std::extent_v<decltype(_ZQServerConfigBlock::servers)>;
constexpr std::size_t kUsersPerBlock = std::extent_v<decltype(_UserAccountInfoBlock::users)>;

// A new block of the list whose last `next` link is `*link`, zero-filled.
template <typename Block>
Block* AppendBlock(std::vector<std::unique_ptr<Block>>* blocks, Block*** link) {
  blocks->push_back(std::make_unique<Block>());
  Block* block = blocks->back().get();
  std::memset(block, 0, sizeof(Block));
  **link = block;
  *link = &block->next;
  return block;
}

}  // namespace

PublishDescription::PublishDescription() { std::memset(&data_, 0, sizeof(data_)); }

PublishDescription::~PublishDescription() = default;

char16_t* PublishDescription::Keep(const std::u16string& text) {
  strings_.push_back(text);
  return strings_.back().data();
}

HRESULT PublishDescription::Build(const ApplicationDefinition& def, ULONG default_version) {
  std::memset(&data_, 0, sizeof(data_));
  strings_.clear();
  server_blocks_.clear();
  user_blocks_.clear();
  try {
    _ZQWinAppData& d = data_;
    d.version = def.version.value_or(default_version);
    auto text = [&](const std::optional<std::u16string>& value) -> char16_t* { return value ? Keep(*value) : nullptr; };
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
    _ZQServerConfigBlock* servers = nullptr;
    for (std::size_t i = 0; i < def.servers.size(); ++i) {
      if (i % kServersPerBlock == 0) servers = AppendBlock(&server_blocks_, &server_link);
      _ZQServerConfig& entry = servers->servers[servers->count++];
      const DefinitionServer& server = def.servers[i];
      entry.serverName = Keep(server.name);
      entry.initialProgram = server.program.empty() ? nullptr : Keep(server.program);
      entry.workingDirectory = server.directory.empty() ? nullptr : Keep(server.directory);
    }

    _UserAccountInfoBlock** user_link = &d.users;
    _UserAccountInfoBlock* users = nullptr;
    for (std::size_t i = 0; i < def.users.size(); ++i) {
      if (i % kUsersPerBlock == 0) users = AppendBlock(&user_blocks_, &user_link);
      _UserAccountInfo& entry = users->users[users->count++];
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
    return S_OK;
  } catch (const std::bad_alloc&) {
    std::memset(&data_, 0, sizeof(data_));
    strings_.clear();
    server_blocks_.clear();
    user_blocks_.clear();
    return E_OUTOFMEMORY;
  }
}

}  // namespace feroq
