// Distinguished names: the path of a folder or application in the folder
// tree, written \Root\Folder\...\Name.
#ifndef FEROQ_FOLDERS_DISTINGUISHED_NAME_H_
#define FEROQ_FOLDERS_DISTINGUISHED_NAME_H_

#include "feroq/common_object.h"
#include "feroq/farm_object.h"

namespace feroq {

// Builds the distinguished name of `object`, whose parent folder is
// `parent_id`, into a new string on the farm's heap (release with
// FarmObject::FreeMemory). E_INVALIDARG for a null `name`, E_UNEXPECTED
// without a folder service, E_OUTOFMEMORY when memory runs out or the
// object's own name cannot be read, E_FAIL for any other service failure.
// `*name` is written only on success.
HRESULT BuildDistinguishedName(FarmObject* farm, CommonObject* object, ULONG64 parent_id, char16_t** name);

// Size of the builder's work buffer, and the step it grows by.
constexpr ULONG kNameWorkBufferStep = 512;

}  // namespace feroq

#endif  // FEROQ_FOLDERS_DISTINGUISHED_NAME_H_
