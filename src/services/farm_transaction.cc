// RunInOneTransaction: one store Write around a caller's function, which
// every service call of the same thread joins (see feroq/services/service_base.h).
//
// The joining happens where the services get their store (StoreOf and
// CurrentStore in farm_connection.cc): on the thread that runs the
// transaction they get a JoinedStore, whose Read and Write call their
// function with the open transaction instead of beginning one. Nothing here
// knows which backend holds the farm.
#include "services/farm_transaction.h"

#include <new>

#include "feroq/services/service_base.h"
#include "services/farm_connection.h"

namespace feroq::services {
namespace {

class JoinedStore;

// The transaction the current thread holds open: a write transaction
// (`txn`), or a read transaction (`view` only).
struct OpenTransaction {
  store::FarmStore* farm = nullptr;
  store::FarmTxn* txn = nullptr;
  const store::FarmView* view = nullptr;
  // The code of the first service write that failed inside; 0 while none.
  VSTATUS doomed = 0;
  std::shared_ptr<JoinedStore> joined;

  void Doom(VSTATUS code) {
    if (doomed == 0) doomed = code;
  }
};

thread_local OpenTransaction* t_open = nullptr;

// The farm as seen from inside the open transaction. Used only on the thread
// that holds it; once the transaction has ended (a reference kept beyond it)
// every call goes to the farm itself.
class JoinedStore final : public store::FarmStore {
 public:
  JoinedStore(OpenTransaction* open, std::shared_ptr<store::FarmStore> farm)
      : open_(open), farm_(std::move(farm)) {}

  void Detach() { open_ = nullptr; }

  VSTATUS Read(const std::function<VSTATUS(const store::FarmView&)>& fn) override {
    if (open_ == nullptr) return farm_->Read(fn);
    return fn(*open_->view);
  }

  VSTATUS Write(const std::function<VSTATUS(store::FarmTxn&)>& fn) override {
    if (open_ == nullptr) return farm_->Write(fn);
    if (open_->txn == nullptr) return VORN_E_REFUSED;  // a read transaction writes nothing
    VSTATUS result;
    try {
      result = fn(*open_->txn);
    } catch (const std::bad_alloc&) {
      open_->Doom(VORN_E_OUTOFMEMORY);
      throw;
    } catch (...) {
      open_->Doom(VORN_E_FAILURE);
      throw;
    }
    if (result != VORN_OK) open_->Doom(result);
    return result;
  }

  bool WaitForEventAfter(ULONG64 after, LONG timeout_ms) override {
    return farm_->WaitForEventAfter(after, timeout_ms);
  }

 private:
  OpenTransaction* open_;
  std::shared_ptr<store::FarmStore> farm_;
};

// Ends the thread's open transaction on every way out of the store's Write.
class OpenTransactionScope {
 public:
  explicit OpenTransactionScope(OpenTransaction* open) : open_(open) { t_open = open; }
  ~OpenTransactionScope() {
    t_open = nullptr;
    if (open_->joined) open_->joined->Detach();
  }
  OpenTransactionScope(const OpenTransactionScope&) = delete;
  OpenTransactionScope& operator=(const OpenTransactionScope&) = delete;

 private:
  OpenTransaction* open_;
};

}  // namespace

std::shared_ptr<store::FarmStore> JoinOpenTransaction(std::shared_ptr<store::FarmStore> farm) {
  if (t_open != nullptr && farm.get() == t_open->farm) return t_open->joined;
  return farm;
}

}  // namespace feroq::services

VSTATUS feroq::RunInOneTransaction(VORN_PIF_ISubSystem* subsystem, TransactionEnd end, TransactionBody body,
                                   void* context) {
  using feroq::services::JoinedStore;
  using feroq::services::OpenTransaction;
  if (body == nullptr) return VORN_E_INVALIDVALUE;
  if (feroq::services::t_open != nullptr) return VORN_E_REFUSED;
  try {
    std::shared_ptr<store::FarmStore> farm = services::StoreOf(subsystem);
    if (!farm) return VORN_E_FAILURE;
    OpenTransaction open;
    open.farm = farm.get();
    // Returned to the store to roll a kRollBack run back; told apart from a
    // body's own VORN_E_REFUSED by `rolled_back_as_asked`.
    constexpr VSTATUS kRollBackAsAsked = VORN_E_REFUSED;
    bool rolled_back_as_asked = false;
    const VSTATUS result = farm->Write([&](store::FarmTxn& txn) -> VSTATUS {
      // A farm on a database server runs the function again after a
      // collision with another writer: each run starts undoomed.
      open.doomed = VORN_OK;
      rolled_back_as_asked = false;
      open.txn = &txn;
      open.view = &txn;
      open.joined = std::make_shared<JoinedStore>(&open, farm);
      services::OpenTransactionScope scope(&open);
      if (const VSTATUS status = body(context); status != VORN_OK) return status;
      if (open.doomed != VORN_OK) return open.doomed;
      if (end == TransactionEnd::kRollBack) {
        rolled_back_as_asked = true;
        return kRollBackAsAsked;
      }
      return VORN_OK;
    });
    return rolled_back_as_asked && result == kRollBackAsAsked ? VORN_OK : result;
  } catch (const std::bad_alloc&) {
    return VORN_E_OUTOFMEMORY;
  }
}

VSTATUS feroq::RunInOneReadTransaction(VORN_PIF_ISubSystem* subsystem, TransactionBody body, void* context) {
  using feroq::services::JoinedStore;
  using feroq::services::OpenTransaction;
  if (body == nullptr) return VORN_E_INVALIDVALUE;
  if (feroq::services::t_open != nullptr) return body(context);
  bool ran = false, finished = false;
  VSTATUS body_result = VORN_OK;
  VSTATUS result = VORN_OK;
  try {
    std::shared_ptr<store::FarmStore> farm = services::StoreOf(subsystem);
    if (!farm) return VORN_E_FAILURE;
    OpenTransaction open;
    open.farm = farm.get();
    auto joined = std::make_shared<JoinedStore>(&open, farm);
    result = farm->ReadMany([&](const store::FarmView& view) -> VSTATUS {
      open.view = &view;
      open.joined = joined;
      services::OpenTransactionScope scope(&open);
      ran = true;
      body_result = body(context);
      finished = true;
      return body_result;
    });
  } catch (const std::bad_alloc&) {
    if (ran) throw;  // from the body: passes on
    return VORN_E_OUTOFMEMORY;
  }
  // The body's own result stands; a store failure that ended it early comes
  // back as the farm's code.
  if (finished) return body_result;
  return result != VORN_OK ? result : VORN_E_FAILURE;
}
