// Making and destroying runs of strings in place, for the library's own
// arrays of VORNString (the user table's twenty slots). Done where the
// string's constructor and destructor are defined, so that each element
// costs two stores or one comparison rather than a call.
#ifndef FEROQ_SERVICES_SYSTEM_VORN_STRING_ARRAYS_H_
#define FEROQ_SERVICES_SYSTEM_VORN_STRING_ARRAYS_H_

#include <cstddef>

#include "feroq/services/vorn_system.h"

namespace feroq::services {

// Default-constructs `count` strings at `first`: each is empty, which takes
// no memory, so this cannot fail.
void ConstructEmptyStrings(VORNString* first, std::size_t count) noexcept;

// Destroys the `count` strings at `first`, the last one first.
void DestroyStrings(VORNString* first, std::size_t count) noexcept;

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_SYSTEM_VORN_STRING_ARRAYS_H_
