// The byte forms the SQLite farm store keeps in its BLOB columns: the
// application record, the event identifiers of a queue, and the folded keys
// of names that are looked up without regard to case.
#ifndef FEROQ_SERVICES_STORE_SQLITE_RECORD_FORMAT_H_
#define FEROQ_SERVICES_STORE_SQLITE_RECORD_FORMAT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "services/store/farm_store.h"

namespace feroq::store::sqlite {

// Application record blob, format 1. All integers little-endian; a string
// is a u32 count of UTF-16 units followed by the units (u16 each); a byte
// list is a u32 count followed by the bytes.
//   u8  format (1)
//   u32 version, u8 read_only, u8 video_type, u32 publishing_flags
//   string browser_name, friendly_name, initial_program, work_directory,
//          description, folder_text
//   bytes  icon
//   u32 window_height, window_width, zq_attributes, wl_attributes
//   u8  encryption_level, sound_type, window_color, window_scale,
//       window_type, desktop_integrate
//   u32 user count, then each user DN as a string
//   u32 server count, then each server: u64 server_id, u8 flags,
//       string initial_program, string work_directory
// Nothing follows the last server. A new format takes a new first byte and
// a schema migration that rewrites the stored records.
inline constexpr std::uint8_t kAppRecordFormat = 1;

std::string EncodeAppRecord(const AppRecordData& data);
// The same into `out`, whose block is reused when it holds the record.
void EncodeAppRecord(const AppRecordData& data, std::string& out);
// Decodes a blob written by EncodeAppRecord. Raises SqliteStoreError
// (kFarmFileCorrupt) for a blob of another format, a truncated blob or one
// with bytes left over.
AppRecordData DecodeAppRecord(const std::vector<BYTE>& blob);
// The same from `size` bytes at `data`, into `record` (whose strings and
// lists are reused). On failure `record` is left partly decoded.
void DecodeAppRecord(const BYTE* data, std::size_t size, AppRecordData& record);

// Event identifiers of a queue: each a u16, little-endian, in order.
std::string EncodeEventIds(const std::vector<USHORT>& ids);
std::vector<USHORT> DecodeEventIds(const std::vector<BYTE>& blob);

// The folded key of `text`: each UTF-16 unit replaced by the rank of its
// case class (the units that feroq::platform::CompareUtf16NoCase takes as
// equal form one class; ranks follow that function's order), big-endian in
// two bytes. Two texts compare equal without regard to case exactly when
// their keys are equal, and keys compared bytewise (as SQLite compares
// BLOBs) order texts as CompareUtf16NoCase does.
std::string FoldedKey(const std::u16string& text);

// A fingerprint of the case classes FoldedKey uses. The farm file keeps the
// fingerprint its keys were made with; when the platform's case folding
// changes, the keys are made again on open.
std::int64_t FoldingFingerprint();

}  // namespace feroq::store::sqlite

#endif  // FEROQ_SERVICES_STORE_SQLITE_RECORD_FORMAT_H_
