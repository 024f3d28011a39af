// The server list of an application record that is not yet stored: what
// publishing a new application uses to fill its record from the tool's
// server blocks.
#ifndef FEROQ_APPS_APP_SERVERS_H_
#define FEROQ_APPS_APP_SERVERS_H_

#include "feroq/app_records.h"
#include "feroq/farm_object.h"
#include "feroq/services/service_codes.h"

class ZQApp;

namespace feroq {

// Adds the server that `config` names, with its own initial program and
// working directory when given (non-null, non-empty), to `record`.
// Returns service codes, not HRESULTs:
// - 0x80000003 for an empty (or null) server name, an own string longer than
//   kServerStringMaxLength units, or a farm without its server service;
// - the server service's code when the name cannot be resolved;
// - 0x80000002 when the entry cannot be built for lack of memory;
// - otherwise the result of ZQApp::AddServer as it came (0 on success).
// `config` and `record` must be valid. Nothing is left allocated on failure.
VSTATUS AddServerToNewRecord(FarmObject* farm, ZQApp* record, _ZQServerConfig* config);

}  // namespace feroq

#endif  // FEROQ_APPS_APP_SERVERS_H_
