// VORNString: a NUL-terminated UTF-16 value kept in a platform heap block.
//
// Storage: a non-empty string owns one heap block of exactly m_size bytes
// (its units and the NUL). Every empty string points at one shared, static
// buffer holding a lone NUL, so making or emptying a string never allocates
// and never fails; that buffer is never freed and never written. Strings
// with text take their block from feroq::platform::HeapAllocZero, so tests
// can make them fail: the operation then raises std::bad_alloc and the
// string keeps its previous value.
#include <cstring>
#include <new>

#include "feroq/services/vorn_system.h"
#include "platform/platform.h"
#include "services/system/vorn_string_arrays.h"

namespace {

// The text of every empty string. Writable storage only so that m_string can
// keep its non-const type; nothing writes to it.
char16_t g_empty_text[1] = {u'\0'};

// Number of UTF-16 units before the NUL; 0 for null.
std::size_t UnitLength(const char16_t* text) {
  if (text == nullptr) return 0;
  std::size_t length = 0;
  while (text[length] != u'\0') ++length;
  return length;
}

// Largest length whose size field (bytes including the NUL) fits in a ULONG.
constexpr std::size_t kMaxUnits = 0xFFFFFFFFu / sizeof(char16_t) - 1;

// A heap block holding `length` units of `text` and a NUL. Raises
// std::bad_alloc when the heap refuses. `length` must be above 0.
char16_t* CopyToBlock(const char16_t* text, std::size_t length) {
  if (length > kMaxUnits) throw std::bad_alloc();
  auto* block = static_cast<char16_t*>(feroq::platform::HeapAllocZero((length + 1) * sizeof(char16_t)));
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, text, length * sizeof(char16_t));
  return block;  // the NUL is already there: the block is zero-filled
}

ULONG SizeField(std::size_t length) { return static_cast<ULONG>((length + 1) * sizeof(char16_t)); }

}  // namespace

VORNString::VORNString() : m_string(g_empty_text), m_size(sizeof(char16_t)) {}

VORNString::VORNString(const VORNString& other) : VORNString(other.m_string) {}

VORNString::VORNString(const char16_t* text) : m_string(g_empty_text), m_size(sizeof(char16_t)) {
  const std::size_t length = UnitLength(text);
  if (length == 0) return;
  m_string = CopyToBlock(text, length);
  m_size = SizeField(length);
}

VORNString::VORNString(ULONG64 value) : m_string(g_empty_text), m_size(sizeof(char16_t)) {
  char16_t digits[21];  // UINT64_MAX has 20 digits
  std::size_t start = sizeof(digits) / sizeof(digits[0]);
  do {
    digits[--start] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  const std::size_t length = sizeof(digits) / sizeof(digits[0]) - start;
  m_string = CopyToBlock(digits + start, length);
  m_size = SizeField(length);
}

VORNString::~VORNString() {
  if (m_string != g_empty_text) feroq::platform::HeapFree(m_string);
}

VORNString& VORNString::operator=(const VORNString& other) {
  if (this == &other) return *this;
  return *this = other.m_string;
}

VORNString& VORNString::operator=(const char16_t* text) {
  // The new block is made before the old one goes, so `text` may point into
  // this string and a failure leaves the string as it was.
  const std::size_t length = UnitLength(text);
  char16_t* replacement = length == 0 ? g_empty_text : CopyToBlock(text, length);
  if (m_string != g_empty_text) feroq::platform::HeapFree(m_string);
  m_string = replacement;
  m_size = SizeField(length);
  return *this;
}

ULONG64 VORNString::ToUInt64() const {
  if (m_string[0] == u'\0') return 0;
  ULONG64 value = 0;
  for (const char16_t* unit = m_string; *unit != u'\0'; ++unit) {
    if (*unit < u'0' || *unit > u'9') return 0;
    const ULONG64 digit = static_cast<ULONG64>(*unit - u'0');
    if (value > (UINT64_MAX - digit) / 10) return 0;  // does not fit: not a 64-bit number
    value = value * 10 + digit;
  }
  return value;
}

bool VORNString::operator==(const VORNString& other) const {
  return m_size == other.m_size && std::memcmp(m_string, other.m_string, m_size) == 0;
}

void* VORNString::operator new[](std::size_t size) {
  void* block = feroq::platform::HeapAllocZero(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void VORNString::operator delete[](void* block) noexcept { feroq::platform::HeapFree(block); }

namespace feroq::services {

void ConstructEmptyStrings(VORNString* first, std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i) new (first + i) VORNString();
}

void DestroyStrings(VORNString* first, std::size_t count) noexcept {
  for (std::size_t i = count; i > 0; --i) first[i - 1].~VORNString();
}

}  // namespace feroq::services
