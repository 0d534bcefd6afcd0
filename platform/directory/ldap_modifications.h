#pragma once

#include <string>
#include <vector>

#include "platform/directory_session.h"

namespace kestrine {

// The null-terminated LDAPMod array of an add or a modify, for either
// library's LDAPMod and berval types; it points into the caller's values and
// into names converted by `toName` (UTF-8 for libldap, UTF-16 for wldap32).
template <class Mod, class Berval, class Name>
class LdapModifications {
 public:
  template <class ToName, class SetValues>
  LdapModifications(const std::vector<AttributeValues>& attributes, int op, ToName toName,
                    SetValues setValues) {
    // Reserved up front: the arrays point into each other.
    names_.reserve(attributes.size());
    values_.reserve(attributes.size());
    valuePointers_.reserve(attributes.size());
    mods_.reserve(attributes.size());
    for (const auto& attribute : attributes) {
      names_.push_back(toName(attribute.name));
      auto& values = values_.emplace_back();
      for (const auto& value : attribute.values) {
        Berval& berval = values.emplace_back();
        berval.bv_len = static_cast<decltype(berval.bv_len)>(value.size());
        berval.bv_val = const_cast<char*>(value.data());
      }
      auto& pointers = valuePointers_.emplace_back();
      for (auto& value : values) pointers.push_back(&value);
      pointers.push_back(nullptr);
      Mod& mod = mods_.emplace_back();
      mod.mod_op = op | kBinaryValues;
      mod.mod_type = names_.back().data();
      setValues(mod, pointers.data());
    }
    for (auto& mod : mods_) modPointers_.push_back(&mod);
    modPointers_.push_back(nullptr);
  }
  LdapModifications(const LdapModifications&) = delete;
  LdapModifications& operator=(const LdapModifications&) = delete;

  Mod** get() { return modPointers_.data(); }

 private:
  // LDAP_MOD_BVALUES in both libraries.
  static constexpr int kBinaryValues = 0x80;

  std::vector<Name> names_;
  std::vector<std::vector<Berval>> values_;
  std::vector<std::vector<Berval*>> valuePointers_;
  std::vector<Mod> mods_;
  std::vector<Mod*> modPointers_;
};

}  // namespace kestrine
