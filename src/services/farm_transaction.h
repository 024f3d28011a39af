// How the services join a transaction that RunInOneTransaction
// (feroq/services/service_base.h) holds open on the calling thread.
#ifndef FEROQ_SERVICES_FARM_TRANSACTION_H_
#define FEROQ_SERVICES_FARM_TRANSACTION_H_

#include <memory>

#include "services/store/farm_store.h"

namespace feroq::services {

// `farm` as this thread must use it: while this thread runs a
// RunInOneTransaction on `farm`, a store whose Read and Write run their
// function directly in that transaction (a Write whose function fails dooms
// it); otherwise `farm` itself. Null stays null.
std::shared_ptr<store::FarmStore> JoinOpenTransaction(std::shared_ptr<store::FarmStore> farm);

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_FARM_TRANSACTION_H_
