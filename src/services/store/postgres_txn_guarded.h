// PostgresTxn::Guarded, which every operation of the transaction runs
// inside: the reads (postgres_txn_reads.cc), the counters
// (postgres_txn_serials.cc) and the writes (postgres_txn_writes.cc).
#ifndef FEROQ_SERVICES_STORE_POSTGRES_TXN_GUARDED_H_
#define FEROQ_SERVICES_STORE_POSTGRES_TXN_GUARDED_H_

#include "feroq/services/farm_admin.h"
#include "services/store/postgres_txn.h"
#include "services/store/sqlite_connection.h"

namespace feroq::store::postgres {

template <class Fn>
auto PostgresTxn::Guarded(Fn&& fn) const -> decltype(fn()) {
  try {
    return fn();
  } catch (const PostgresStoreError& e) {
    if (!failure_) failure_ = e;
    throw;
  } catch (const sqlite::SqliteStoreError& e) {
    // A stored record that does not decode.
    PostgresStoreError corrupt(admin::kFarmFileCorrupt, "", e.what());
    if (!failure_) failure_ = corrupt;
    throw corrupt;
  }
}

}  // namespace feroq::store::postgres

#endif  // FEROQ_SERVICES_STORE_POSTGRES_TXN_GUARDED_H_
