// CommonObject and FolderObject: type, identifier, reference and child counts.
#include "feroq/common_object.h"

#include "platform/platform.h"

CommonObject::CommonObject(_FarmObjectType type, ULONG64 id) : type_(type), id_(id), ref_count_(1) {}

CommonObject::CommonObject(const CommonObject& other)
    : type_(other.type_), id_(other.id_), ref_count_(other.ref_count_) {}

CommonObject& CommonObject::operator=(const CommonObject& other) {
  type_ = other.type_;
  id_ = other.id_;
  ref_count_ = other.ref_count_;
  return *this;
}

CommonObject::~CommonObject() = default;

void CommonObject::DecrementRefCount() {
  if (ref_count_ != 0) --ref_count_;
}

HRESULT CommonObject::GetDistinguishedName(char16_t** name) {
  *name = nullptr;
  return E_NOTIMPL;
}

HRESULT CommonObject::GetObjectID(ULONG64& id) {
  id = id_;
  return S_OK;
}

HRESULT CommonObject::GetObjectName(char16_t** name) {
  *name = nullptr;
  return E_NOTIMPL;
}

HRESULT CommonObject::GetObjectType(_FarmObjectType* type) {
  *type = type_;
  return S_OK;
}

ULONG CommonObject::GetRefCount() { return ref_count_; }

HRESULT CommonObject::GetVersion(LONG*) { return E_NOTIMPL; }

void CommonObject::IncrementRefCount() {
  if (ref_count_ != 0xFFFFFFFFu) ++ref_count_;
}

HRESULT CommonObject::SetObjectName(char16_t*) { return E_NOTIMPL; }

void* CommonObject::operator new(std::size_t size) {
  void* block = feroq::platform::HeapAllocZero(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* CommonObject::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return feroq::platform::HeapAllocZero(size);
}

void CommonObject::operator delete(void* block) noexcept { feroq::platform::HeapFree(block); }

void CommonObject::operator delete(void* block, const std::nothrow_t&) noexcept {
  feroq::platform::HeapFree(block);
}

FolderObject::FolderObject(_FarmObjectType type, ULONG64 id) : CommonObject(type, id), child_count_(0) {}

FolderObject::FolderObject(const FolderObject& other)
    : CommonObject(other), child_count_(other.child_count_) {}

FolderObject& FolderObject::operator=(const FolderObject& other) {
  CommonObject::operator=(other);
  child_count_ = other.child_count_;
  return *this;
}

FolderObject::~FolderObject() = default;

LONG FolderObject::GetChildCount() { return child_count_; }

LONG FolderObject::IncrementChildCount() { return feroq::platform::IncrementCounter(&child_count_); }

LONG FolderObject::DecrementChildCount() { return feroq::platform::DecrementCounter(&child_count_); }
