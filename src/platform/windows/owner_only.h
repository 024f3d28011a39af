// Security attributes that give this process's user, and no one else,
// full access to a new file or directory (and, for a directory, to what is
// made in it), without inheriting the access of the folder it is made in.
#ifndef FEROQ_PLATFORM_WINDOWS_OWNER_ONLY_H_
#define FEROQ_PLATFORM_WINDOWS_OWNER_ONLY_H_

#include <vector>

#include "platform/windows/system.h"

namespace feroq::platform {

class OwnerOnlySecurity {
 public:
  // Builds the attributes; ok() is false when the user's identity or the
  // access list could not be had.
  OwnerOnlySecurity() noexcept;
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

  bool ok() const noexcept { return ok_; }
  // For CreateFileW and CreateDirectoryW; valid while this object lives.
  SECURITY_ATTRIBUTES* attributes() noexcept { return &attributes_; }

 private:
  bool ok_ = false;
  std::vector<BYTE> user_;  // TOKEN_USER of the process
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace feroq::platform

#endif  // FEROQ_PLATFORM_WINDOWS_OWNER_ONLY_H_
