// SqliteTxn::Guarded, which every operation of the transaction runs
// inside: the reads (sqlite_txn_reads.cc) and the writes
// (sqlite_txn_writes.cc).
#ifndef FEROQ_SERVICES_STORE_SQLITE_TXN_GUARDED_H_
#define FEROQ_SERVICES_STORE_SQLITE_TXN_GUARDED_H_

#include "services/store/sqlite_txn.h"

namespace feroq::store::sqlite {

template <class Fn>
auto SqliteTxn::Guarded(Fn&& fn) const -> decltype(fn()) {
  try {
    return fn();
  } catch (const SqliteStoreError& e) {
    if (failure_ == 0) failure_ = e.code();
    throw;
  }
}

}  // namespace feroq::store::sqlite

#endif  // FEROQ_SERVICES_STORE_SQLITE_TXN_GUARDED_H_
