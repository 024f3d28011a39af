// The distinguished-name builder.
#include "folders/distinguished_name.h"

#include <cstring>

#include "farm/holders.h"
#include "farm/service_access.h"
#include "farm/service_status.h"
#include "platform/platform.h"

namespace feroq {
namespace {

std::size_t WideLength(const char16_t* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

HRESULT BuildDistinguishedName(FarmObject* farm, CommonObject* object, ULONG64 parent_id, char16_t** name) {
  if (name == nullptr) return E_INVALIDARG;
  VORNCommonApplicationSAL* folders = FolderServiceOf(farm);
  if (folders == nullptr) return E_UNEXPECTED;

  // The work buffer collects the folder names nearest first, each with its NUL.
  std::size_t capacity = kNameWorkBufferStep;
  FarmBlock<unsigned char> work(static_cast<unsigned char*>(platform::HeapAllocZero(capacity)));
  if (!work) return E_OUTOFMEMORY;
  std::size_t used = 0;
  std::size_t collected = 0;

  VSTATUS status = 0;
  ULONG64 root = 0;
  // Without a root identifier no walk can end at the root: fail as the
  // builder's other service failures do.
  if (folders->GetRootFolderID(root) != 0) status = VORN_E_FAILURE;

  // A folder tree deeper than this can only be a damaged one (a chain of
  // parents that never reaches the root): the walk ends instead of looping.
  constexpr std::size_t kDeepestPath = 65536;
  std::size_t depth = 0;
  ULONG64 current = parent_id;
  while (status == 0 && current != root) {
    if (++depth > kDeepestPath) {
      status = VORN_E_FAILURE;
      break;
    }
    FolderServiceBlock<char16_t> folder_name(folders);
    status = folders->GetFolderName(current, &folder_name.out());
    if (status != 0) break;
    const std::size_t length = WideLength(folder_name.get());
    while (status == 0 && used + 2 * length >= capacity) {
      void* grown = platform::HeapReAllocZero(work.get(), capacity + kNameWorkBufferStep);
      if (grown == nullptr) {
        status = VORN_E_OUTOFMEMORY;
      } else {
        work.release();
        work.reset(static_cast<unsigned char*>(grown));
        capacity += kNameWorkBufferStep;
      }
    }
    if (status != 0) break;
    std::memcpy(work.get() + used, folder_name.get(), 2 * length + 2);
    used += 2 * length + 2;
    ++collected;
    status = folders->GetFolderParent(current, current);
  }

  FolderServiceBlock<char16_t> root_name(folders);
  FarmBlock<char16_t> own_name;
  if (status == 0) status = folders->GetFolderName(root, &root_name.out());
  if (status == 0) {
    // A name that cannot be read, or is read as nothing, makes no name.
    if (object->GetObjectName(&own_name.out()) != S_OK || !own_name) status = VORN_E_OUTOFMEMORY;
  }
  if (status == 0) {
    const std::size_t root_length = WideLength(root_name.get());
    const std::size_t own_length = WideLength(own_name.get());
    const std::size_t bytes = used + 2 * (root_length + own_length) + 6;
    auto* result = static_cast<char16_t*>(platform::HeapAllocZero(bytes));
    if (result == nullptr) {
      status = VORN_E_OUTOFMEMORY;
    } else {
      char16_t* out = result;
      *out++ = u'\\';
      std::memcpy(out, root_name.get(), 2 * root_length);
      out += root_length;
      // Collected names run from the parent up; write them from the top down
      // by walking the buffer backwards from its end.
      const auto* names = reinterpret_cast<const char16_t*>(work.get());
      std::size_t end_unit = used / 2;  // one past the last collected NUL
      for (std::size_t i = 0; i < collected; ++i) {
        std::size_t begin = end_unit - 1;  // at this name's NUL
        while (begin > 0 && names[begin - 1] != 0) --begin;
        const std::size_t length = end_unit - 1 - begin;
        *out++ = u'\\';
        std::memcpy(out, names + begin, 2 * length);
        out += length;
        end_unit = begin;
      }
      *out++ = u'\\';
      std::memcpy(out, own_name.get(), 2 * own_length);
      out += own_length;
      *out = 0;
      *name = result;
    }
  }

  return MapServiceStatus(status, kOutOfMemoryStatus);
}

}  // namespace feroq
