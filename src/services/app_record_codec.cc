// Conversion between ZQApp and AppRecordData, property by property.
#include "services/app_record_codec.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

#include "services/record_access.h"
#include "services/service_faults.h"
#include "services/service_support.h"

namespace feroq::services {
namespace {

using store::AppRecordData;
using store::AppServerData;

struct StringField {
  VSTATUS (ZQApp::*set)(VORNString&);
  std::u16string AppRecordData::*member;
  VORNString& (*text)(ZQApp&);  // the record's own string
};
constexpr StringField kStringFields[] = {
    {&ZQApp::SetBrowserName, &AppRecordData::browser_name, &RecordAccess::BrowserName},
    {&ZQApp::SetFriendlyName, &AppRecordData::friendly_name, &RecordAccess::FriendlyName},
    {&ZQApp::SetDefaultInitialProgram, &AppRecordData::initial_program, &RecordAccess::InitialProgram},
    {&ZQApp::SetDefaultWorkDirectory, &AppRecordData::work_directory, &RecordAccess::WorkDirectory},
    {&ZQApp::SetDescription, &AppRecordData::description, &RecordAccess::Description},
    {&ZQApp::SetFolder, &AppRecordData::folder_text, &RecordAccess::FolderText},
};

// Whether every setter takes `text` as it is: within the length limit and
// without a line break.
bool PassesTextRules(const std::u16string& text) {
  return text.size() <= kMaxRecordTextUnits && !HasLineBreak(text);
}

struct ByteField {
  void (ZQApp::*get)(BYTE&);
  VSTATUS (ZQApp::*set)(BYTE);
  BYTE AppRecordData::*member;
};
constexpr ByteField kByteFields[] = {
    {&ZQApp::GetDefaultEncryptionLevel, &ZQApp::SetDefaultEncryptionLevel,
     &AppRecordData::encryption_level},
    {&ZQApp::GetDefaultSoundType, &ZQApp::SetDefaultSoundType, &AppRecordData::sound_type},
    {&ZQApp::GetDefaultWindowColor, &ZQApp::SetDefaultWindowColor, &AppRecordData::window_color},
    {&ZQApp::GetDefaultWindowScale, &ZQApp::SetDefaultWindowScale, &AppRecordData::window_scale},
    {&ZQApp::GetDefaultWindowType, &ZQApp::SetDefaultWindowType, &AppRecordData::window_type},
    {&ZQApp::GetDesktopIntegrate, &ZQApp::SetDesktopIntegrate, &AppRecordData::desktop_integrate},
};

struct WordField {
  void (ZQApp::*get)(ULONG&);
  VSTATUS (ZQApp::*set)(ULONG);
  ULONG AppRecordData::*member;
};
constexpr WordField kWordFields[] = {
    {&ZQApp::GetDefaultWindowHeight, &ZQApp::SetDefaultWindowHeight, &AppRecordData::window_height},
    {&ZQApp::GetDefaultWindowWidth, &ZQApp::SetDefaultWindowWidth, &AppRecordData::window_width},
    {&ZQApp::GetZQAttributes, &ZQApp::SetZQAttributes, &AppRecordData::zq_attributes},
    {&ZQApp::GetWLAttributes, &ZQApp::SetWLAttributes, &AppRecordData::wl_attributes},
    {&ZQApp::GetPublishingFlags, &ZQApp::SetPublishingFlags, &AppRecordData::publishing_flags},
};

// The users of `record`, read from a copy of its table so that an iteration
// open on the record is left alone.
VSTATUS ReadUsers(ZQApp& record, std::vector<std::u16string>* users) {
  if (RecordAccess::Users(record).GetCount() == 0) return VORN_OK;  // no table to copy
  USERTABLE copy(RecordAccess::Users(record));
  VORNMultiString list;
  if (VSTATUS status = copy.GetAllUsers(list)) return status;
  for (const char16_t* name = list.GetHeadString(); name != nullptr; name = list.GetNextString()) {
    users->push_back(ToText(name));
  }
  return VORN_OK;
}

// The servers of `record` in ascending id, through the hash table's own
// enumeration (independent of the record's server iteration).
VSTATUS ReadServers(ZQApp& record, std::vector<AppServerData>* servers) {
  SERVERTABLE& table = RecordAccess::Servers(record);
  _ENUMNODE* list = nullptr;
  if (VSTATUS status = table.BeginEnum(&list)) return status;
  try {
    for (_ENUMNODE* node = list; node != nullptr; node = node->next) {
      const auto* config = static_cast<const _ZQAPP_SERVER_CONFIG*>(node->value);
      if (config == nullptr) continue;
      AppServerData entry;
      entry.server_id = VORNString(node->key).ToUInt64();
      entry.flags = config->flags;
      entry.initial_program = ToText(config->initialProgram);
      entry.work_directory = ToText(config->workDirectory);
      servers->push_back(std::move(entry));
    }
  } catch (...) {
    table.EndEnum(list);
    throw;
  }
  table.EndEnum(list);
  std::sort(servers->begin(), servers->end(),
            [](const AppServerData& a, const AppServerData& b) { return a.server_id < b.server_id; });
  return VORN_OK;
}

}  // namespace

VSTATUS RecordToData(ZQApp& record, AppRecordData* data) {
  ScopedServiceCallSuppression quiet;
  data->version = record.GetVersion();
  data->read_only = record.IsReadOnly();
  record.GetDefaultVideoType(data->video_type);
  // The record's own texts are read where they are (a getter would copy
  // each into a new string first).
  for (const StringField& field : kStringFields) {
    const VORNString& text = field.text(record);
    (data->*field.member).assign(text.c_str(), text.Length());
  }
  for (const ByteField& field : kByteFields) (record.*field.get)(data->*field.member);
  for (const WordField& field : kWordFields) (record.*field.get)(data->*field.member);
  // A blank icon is kept as none (an empty list, which reads back as the
  // blank icon): most applications have no icon, and their stored rows and
  // the store's kept records are then 640 bytes smaller.
  _WLICON_V1 icon;
  record.GetIcon(icon);
  const auto* icon_bytes = reinterpret_cast<const BYTE*>(&icon);
  if (std::all_of(icon_bytes, icon_bytes + sizeof(icon), [](BYTE b) { return b == 0; })) {
    data->icon.clear();
  } else {
    data->icon.assign(icon_bytes, icon_bytes + sizeof(icon));
  }
  data->users.clear();
  data->servers.clear();
  if (VSTATUS status = ReadUsers(record, &data->users)) return status;
  return ReadServers(record, &data->servers);
}

VSTATUS DataToRecord(const AppRecordData& data, ULONG64 id, ULONG64 folder, ZQApp& record) {
  ScopedServiceCallSuppression quiet;
  // The record's texts are taken out before it is made blank, so that a
  // text read again into a record that already held one of its length
  // (loading a record again, most often unchanged) reuses its block.
  constexpr std::size_t kTexts = std::size(kStringFields);
  VORNString before[kTexts];
  auto swap_text = [](VORNString& a, VORNString& b) {
    std::swap(a.m_string, b.m_string);
    std::swap(a.m_size, b.m_size);
  };
  for (std::size_t i = 0; i < kTexts; ++i) swap_text(before[i], kStringFields[i].text(record));
  // Start from a blank record (writable, no users or servers, no iteration
  // open): Initialize makes one of the stored version in place; version 0,
  // which Initialize refuses, takes the assignment of a blank record.
  if (data.version != 0) {
    if (VSTATUS status = record.Initialize(data.version)) {
      for (std::size_t i = 0; i < kTexts; ++i) swap_text(before[i], kStringFields[i].text(record));
      return status;
    }
  } else {
    ZQApp blank;
    record = blank;
  }
  // A blank or newly initialised record has every text empty. A text that
  // passes the setters' rules is copied once, straight into the record's
  // string; any other goes through its setter, which answers its refusal.
  for (std::size_t i = 0; i < kTexts; ++i) {
    const StringField& field = kStringFields[i];
    const std::u16string& text = data.*field.member;
    if (text.empty()) continue;
    if (PassesTextRules(text)) {
      if (before[i].Length() == text.size()) {
        std::memcpy(before[i].m_string, text.data(), text.size() * sizeof(char16_t));
        swap_text(before[i], field.text(record));
        continue;
      }
      try {
        field.text(record) = text.c_str();
      } catch (const std::bad_alloc&) {
        return VORN_E_OUTOFMEMORY;  // as the setter answers; the string stays empty
      }
      continue;
    }
    VORNString value(text.c_str());
    if (VSTATUS status = (record.*field.set)(value)) return status;
  }
  for (const ByteField& field : kByteFields) {
    BYTE current = 0;
    (record.*field.get)(current);
    if (current == data.*field.member) continue;
    if (VSTATUS status = (record.*field.set)(data.*field.member)) return status;
  }
  for (const WordField& field : kWordFields) {
    ULONG current = 0;
    (record.*field.get)(current);
    if (current == data.*field.member) continue;
    if (VSTATUS status = (record.*field.set)(data.*field.member)) return status;
  }
  ULONG64 current_folder = 0;
  record.GetCommonAppFolder(current_folder);
  if (current_folder != folder) {
    if (VSTATUS status = record.SetCommonAppFolder(folder)) return status;
  }
  _WLICON_V1 icon{};  // a stored icon of none reads as the blank icon
  if (!data.icon.empty()) std::memcpy(&icon, data.icon.data(), std::min(data.icon.size(), sizeof(icon)));
  _WLICON_V1 current_icon;
  record.GetIcon(current_icon);
  if (std::memcmp(&icon, &current_icon, sizeof(icon)) != 0) {
    if (VSTATUS status = record.SetIcon(icon)) return status;
  }
  if (VSTATUS status = record.SetDefaultVideoType(data.video_type)) return status;

  USERTABLE& users = RecordAccess::Users(record);
  for (const std::u16string& dn : data.users) {
    if (VSTATUS status = users.AddUser(VORNString(dn.c_str()))) return status;
  }
  SERVERTABLE& servers = RecordAccess::Servers(record);
  for (const AppServerData& entry : data.servers) {
    _ZQAPP_SERVER_CONFIG config;
    config.flags = entry.flags;
    config.initialProgram = entry.initial_program.c_str();
    config.workDirectory = entry.work_directory.c_str();
    if (VSTATUS status = servers.AddServer(entry.server_id, config)) return status;
  }
  RecordAccess::SetStoredId(record, id);
  RecordAccess::SetStoredReadOnly(record, data.read_only);
  return VORN_OK;
}

}  // namespace feroq::services
