// Helpers the stand-in services share.
#include "services/service_support.h"

#include "platform/platform.h"

namespace feroq::services {

bool EqualNoCase(const std::u16string& a, const std::u16string& b) {
  return feroq::platform::CompareUtf16NoCase(a.c_str(), b.c_str()) == 0;
}

}  // namespace feroq::services
