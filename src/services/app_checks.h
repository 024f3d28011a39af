// The application store's checks of a record: what Write and ValidateOldApp
// answer with 0x801D1104 and a detailed-error chain.
//
// The rules, by detail index (the chain's codes are 0xDEAD1000 plus the
// index; one entry per failed rule, in ascending index order):
//   0  browser name missing
//   1  browser name holds a character a browser name may not hold
//      (\ / ; : . * ? = < > | [ ] ( ) ' " #, CR, LF, or a leading blank), or another
//      application of the farm already has it (compared without regard to case)
//   2  initial program missing for an application that is not a desktop
//      (WL attribute bit 16 clear)
//   3  working directory holds a character a directory may not hold
//      (/ * ? " < > |, CR, LF)
//   4  display name missing, or breaking a naming rule: a backslash, slash
//      or control character, more than 259 units, "." or "..", or the name of
//      another folder or application in the same folder (without regard to
//      case). These are checked for a new application, and for a stored one
//      whose name or folder the write changes, so that a farm file from
//      before the naming rules keeps working; ValidateOldApp checks them
//      always.
//   5  parent folder unknown to the farm
//   6  description holds a line break
//   7  window height 0 for a custom window size
//   8  window height above 4096 for a custom window size
//   9  window width 0 for a custom window size
//  10  window width above 4096 for a custom window size
//  11  window scale 0 for a percentage window
//  12  window scale above 100 for a percentage window
//  27  a listed server is unknown to the farm
//  39  working directory given without an initial program (for an
//      application that is not a desktop)
// Other indexes are not used by this store. Users are not checked: accounts
// come and go in the account directory, which is not the farm's. Values it does not interpret
// (flag bits, enumeration bytes a later version may define) are kept as they
// are, not refused.
#ifndef FEROQ_SERVICES_APP_CHECKS_H_
#define FEROQ_SERVICES_APP_CHECKS_H_

#include <vector>

#include "feroq/services/zqapp.h"
#include "services/store/farm_store.h"

namespace feroq::services {

// One broken rule: its detail code (0xDEAD1000 plus the index), the precise
// cause recorded as the thread's last service failure (a FARM_E_* code or
// the detail code) and the record field it is about.
struct BrokenRule {
  ULONG detail = 0;
  VSTATUS cause = 0;
  const char* field = "";
};

// Whether CheckApplication looks up who else holds the application's names.
enum class NameLookups {
  kMade,     // it does: every broken rule is reported
  kSkipped,  // it does not: the write that follows lets the store refuse
             // a taken name (FarmTxn::PutApplicationHoldingNames)
};

// Every rule `app` breaks in the farm `farm`, ascending detail code, at most
// one entry per detail code. `app.id` is 0 for an application not yet
// stored. `before` is the place and name of the stored application that
// `app` replaces (its naming rules are then checked only when the name or
// folder changes), or null (they are checked).
std::vector<BrokenRule> CheckApplication(const store::FarmView& farm, const store::ApplicationRecord& app,
                                         const store::ApplicationName* before,
                                         NameLookups lookups = NameLookups::kMade);

// The detail codes of `rules`, in order.
std::vector<ULONG> DetailCodes(const std::vector<BrokenRule>& rules);

// Records a failure `status` of the current call with one cause per rule.
void RecordBrokenRules(VSTATUS status, const std::vector<BrokenRule>& rules) noexcept;

// A chain of entries with `codes` (tag 0, no values), allocated as
// ReleaseZQAppErrMemory releases it. Raises std::bad_alloc (nothing is left
// allocated then).
_VORN_ZQAPP_DETAILED_ERR* MakeDetailChain(const std::vector<ULONG>& codes);

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_APP_CHECKS_H_
