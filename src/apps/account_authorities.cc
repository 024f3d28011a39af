#include "apps/account_authorities.h"

namespace feroq {
namespace {

struct AccountAuthorities {
  AccountAuthorities() {
    // A failed allocation leaves a descriptor empty; resolution then fails
    // for that authority, as it would for an unknown one.
    try {
      nt.SetValue(u"NT");
      nds.SetValue(u"NDS");
      none.SetValue(u"");
    } catch (...) {
    }
  }
  UM_AcctAuthType nt;
  UM_AcctAuthType nds;
  UM_AcctAuthType none;
};

// Constructed at load time, destroyed at unload, like any static object.
const AccountAuthorities g_authorities;

}  // namespace

const UM_AcctAuthType& NtAuthority() { return g_authorities.nt; }
const UM_AcctAuthType& NdsAuthority() { return g_authorities.nds; }
const UM_AcctAuthType& EmptyAuthority() { return g_authorities.none; }

}  // namespace feroq
