#include "provision/provisioning.h"

namespace kestrine {

void Provisioning::CreateOU() {
  GuardedSteps step(&state_.record.failures);

  // The naming context is read afresh for every record.
  if (!step("bind the domain root", [&] {
        const auto context = bound(state_.rootDse, "rootDse").Get("defaultNamingContext");
        state_.domainRoot = directory_.Bind("LDAP://" + context);
      })) {
    return;  // domainRoot still refers to an earlier record's bind: leave it alone
  }
  if (!step("create the unit " + state_.ouRdn, [&] {
        state_.newOu = state_.domainRoot->Create("organizationalUnit", state_.ouRdn);
      })) {
    return;  // newOu is an earlier record's unit: never write it again
  }
  step("write the unit " + state_.ouRdn, [&] {
    try {
      state_.newOu->SetInfo();
    } catch (const DirectoryError& e) {
      // Records share units; one that is already there is what we want.
      if (e.code() != kAlreadyExists) throw;
    }
  });
}

}  // namespace kestrine
