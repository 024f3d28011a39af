// VORN_PIF_SAL, the services' common base. The library never calls its
// virtual operations; they answer as a service without tracing or events.
#include "feroq/services/service_base.h"

#include "services/service_faults.h"

VORN_PIF_SAL::VORN_PIF_SAL(VORN_PIF_ISubSystem* subsystem) : subsystem_(subsystem) {}

VORN_PIF_SAL::~VORN_PIF_SAL() = default;

ULONG VORN_PIF_SAL::GetTraceComponent() { return 0; }

ULONG VORN_PIF_SAL::GetErrorMsgType() { return 0; }

VSTATUS VORN_PIF_SAL::SendSALEvent(ULONG /*event*/, void* /*data*/) {
  if (VSTATUS s = feroq::services::EnterServiceCall("VORN_PIF_SAL::SendSALEvent")) return s;
  return feroq::ZQAPP_E_NOT_SUPPORTED;
}

VSTATUS VORN_PIF_SAL::PostSALEvent(ULONG /*event*/, void* /*data*/) {
  if (VSTATUS s = feroq::services::EnterServiceCall("VORN_PIF_SAL::PostSALEvent")) return s;
  return feroq::ZQAPP_E_NOT_SUPPORTED;
}

VSTATUS VORN_PIF_SAL::CreateSALEvent(ULONG /*event*/, void** created) {
  if (VSTATUS s = feroq::services::EnterServiceCall("VORN_PIF_SAL::CreateSALEvent")) return s;
  if (created != nullptr) *created = nullptr;
  return feroq::ZQAPP_E_NOT_SUPPORTED;
}
