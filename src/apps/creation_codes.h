// The store's detailed errors as creation result codes.
#ifndef FEROQ_APPS_CREATION_CODES_H_
#define FEROQ_APPS_CREATION_CODES_H_

#include "feroq/services/zqapp.h"

namespace feroq {

// The creation code for the first entry of a detailed-error chain: its
// detail index (code minus 0xDEAD1000) below 40 maps through the creation
// table, anything else (and an empty chain) gives E_FAIL.
HRESULT CreationCodeForDetails(const _VORN_ZQAPP_DETAILED_ERR* chain);

}  // namespace feroq

#endif  // FEROQ_APPS_CREATION_CODES_H_
