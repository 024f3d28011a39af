// Byte forms of the SQLite farm store (see sqlite_record_format.h).
#include "services/store/sqlite_record_format.h"

#include <bit>
#include <cstring>

#include "feroq/services/farm_admin.h"
#include "platform/platform.h"
#include "services/store/sqlite_connection.h"

namespace feroq::store::sqlite {
namespace {

// Writes the store's byte forms (little-endian numbers; a text or byte
// string as its length, then its units or bytes) into a block its caller
// sized for them.
class BlockWriter {
 public:
  explicit BlockWriter(char* at) : p_(at) {}
  void U8(std::uint8_t v) { *p_++ = static_cast<char>(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void U64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Text(const std::u16string& s) {
    U32(static_cast<std::uint32_t>(s.size()));
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(p_, s.data(), s.size() * 2);
      p_ += s.size() * 2;
    } else {
      for (char16_t c : s) U16(c);
    }
  }
  void Bytes(const std::vector<BYTE>& b) {
    U32(static_cast<std::uint32_t>(b.size()));
    if (!b.empty()) std::memcpy(p_, b.data(), b.size());
    p_ += b.size();
  }

 private:
  char* p_;
};

[[noreturn]] void Corrupt(const char* what) {
  throw SqliteStoreError(admin::kFarmFileCorrupt, std::string("farm file: ") + what);
}

class Reader {
 public:
  Reader(const BYTE* data, std::size_t size) : p_(data), end_(data + size) {}

  std::uint8_t U8() {
    Need(1);
    return *p_++;
  }
  std::uint16_t U16() {
    Need(2);
    const std::uint16_t v = static_cast<std::uint16_t>(p_[0] | (p_[1] << 8));
    p_ += 2;
    return v;
  }
  std::uint32_t U32() {
    Need(4);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p_[i]) << (8 * i);
    p_ += 4;
    return v;
  }
  std::uint64_t U64() {
    Need(8);
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p_[i]) << (8 * i);
    p_ += 8;
    return v;
  }
  // Reads a string into `out`, reusing its storage.
  void Text(std::u16string& out) {
    const std::uint32_t units = Count(2);
    out.resize(units);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out.data(), p_, std::size_t{units} * 2);
      p_ += std::size_t{units} * 2;
    } else {
      for (char16_t& c : out) c = U16();
    }
  }
  void Bytes(std::vector<BYTE>& out) {
    const std::uint32_t n = Count(1);
    out.assign(p_, p_ + n);
    p_ += n;
  }
  // A count of elements of at least `min_bytes` each that the rest can hold
  // (so a damaged count never asks for a huge allocation).
  std::uint32_t Count(std::size_t min_bytes) {
    const std::uint32_t n = U32();
    if (static_cast<std::size_t>(end_ - p_) / min_bytes < n) Corrupt("record list longer than its blob");
    return n;
  }
  void ExpectEnd() const {
    if (p_ != end_) Corrupt("bytes after the end of a record");
  }

 private:
  void Need(std::size_t n) const {
    if (static_cast<std::size_t>(end_ - p_) < n) Corrupt("truncated record");
  }
  const BYTE* p_;
  const BYTE* end_;
};

}  // namespace

std::string EncodeAppRecord(const AppRecordData& d) {
  std::string out;
  EncodeAppRecord(d, out);
  return out;
}

void EncodeAppRecord(const AppRecordData& d, std::string& out) {
  // The record's size, so that its bytes are written straight into the block
  // (one resize, which keeps a block that holds them already).
  std::size_t bytes = 69 + d.icon.size() + 4 * d.users.size() + 17 * d.servers.size();
  for (const std::u16string* s : {&d.browser_name, &d.friendly_name, &d.initial_program, &d.work_directory,
                                  &d.description, &d.folder_text}) {
    bytes += 2 * s->size();
  }
  for (const std::u16string& user : d.users) bytes += 2 * user.size();
  for (const AppServerData& server : d.servers) {
    bytes += 2 * (server.initial_program.size() + server.work_directory.size());
  }
  out.resize(bytes);
  BlockWriter w(out.data());
  w.U8(kAppRecordFormat);
  w.U32(d.version);
  w.U8(d.read_only);
  w.U8(d.video_type);
  w.U32(d.publishing_flags);
  for (const std::u16string* s : {&d.browser_name, &d.friendly_name, &d.initial_program,
                                  &d.work_directory, &d.description, &d.folder_text}) {
    w.Text(*s);
  }
  w.Bytes(d.icon);
  for (ULONG v : {d.window_height, d.window_width, d.zq_attributes, d.wl_attributes}) w.U32(v);
  for (BYTE v : {d.encryption_level, d.sound_type, d.window_color, d.window_scale, d.window_type,
                 d.desktop_integrate}) {
    w.U8(v);
  }
  w.U32(static_cast<std::uint32_t>(d.users.size()));
  for (const std::u16string& user : d.users) w.Text(user);
  w.U32(static_cast<std::uint32_t>(d.servers.size()));
  for (const AppServerData& server : d.servers) {
    w.U64(server.server_id);
    w.U8(server.flags);
    w.Text(server.initial_program);
    w.Text(server.work_directory);
  }
}

AppRecordData DecodeAppRecord(const std::vector<BYTE>& blob) {
  AppRecordData d;
  DecodeAppRecord(blob.data(), blob.size(), d);
  return d;
}

void DecodeAppRecord(const BYTE* data, std::size_t size, AppRecordData& d) {
  Reader r(data, size);
  if (r.U8() != kAppRecordFormat) Corrupt("application record of an unknown format");
  d.version = r.U32();
  d.read_only = r.U8();
  d.video_type = r.U8();
  d.publishing_flags = r.U32();
  for (std::u16string* s : {&d.browser_name, &d.friendly_name, &d.initial_program,
                            &d.work_directory, &d.description, &d.folder_text}) {
    r.Text(*s);
  }
  r.Bytes(d.icon);
  for (ULONG* v : {&d.window_height, &d.window_width, &d.zq_attributes, &d.wl_attributes}) {
    *v = r.U32();
  }
  for (BYTE* v : {&d.encryption_level, &d.sound_type, &d.window_color, &d.window_scale,
                  &d.window_type, &d.desktop_integrate}) {
    *v = r.U8();
  }
  d.users.resize(r.Count(4));
  for (std::u16string& user : d.users) r.Text(user);
  d.servers.resize(r.Count(17));
  for (AppServerData& server : d.servers) {
    server.server_id = r.U64();
    server.flags = r.U8();
    r.Text(server.initial_program);
    r.Text(server.work_directory);
  }
  r.ExpectEnd();
}

std::string EncodeEventIds(const std::vector<USHORT>& ids) {
  std::string out(2 * ids.size(), '\0');
  BlockWriter w(out.data());
  for (USHORT id : ids) w.U16(id);
  return out;
}

std::vector<USHORT> DecodeEventIds(const std::vector<BYTE>& blob) {
  if (blob.size() % 2 != 0) Corrupt("event queue with an odd-length identifier list");
  Reader r(blob.data(), blob.size());
  std::vector<USHORT> ids(blob.size() / 2);
  for (USHORT& id : ids) id = r.U16();
  return ids;
}

std::string FoldedKey(const std::u16string& text) {
  const std::uint16_t* ranks = feroq::platform::CaseClassRanks();
  std::string key(text.size() * 2, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint16_t rank = ranks[text[i]];
    key[2 * i] = static_cast<char>(rank >> 8);
    key[2 * i + 1] = static_cast<char>(rank & 0xFF);
  }
  return key;
}

std::int64_t FoldingFingerprint() { return static_cast<std::int64_t>(feroq::platform::CaseClassesFingerprint()); }

}  // namespace feroq::store::sqlite
