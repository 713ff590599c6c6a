// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Names that expressions can use: record fields by label ("DEM:ID") and variables, bound to
// typed references in nested scopes. A window procedure opens a scope for its own names and
// closes it when it ends; a name bound in the newest scope hides the same name in older
// ones, and closing a scope drops its names. Names are matched without regard to case.
//
// Each runtime thread has its own bindings (Current()); other instances can be made for
// work that should not see the thread's names.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/runtime/values/AnyRef.h"
#include "platform/runtime/values/RecordLayout.h"

namespace rt {

class Bindings {
 public:
  // Starts with one open scope (the base scope), which CloseScope never removes.
  Bindings();

  // The calling thread's bindings.
  static Bindings& Current();

  void OpenScope();
  // Drops the newest scope and its names. False (and nothing changes) when only the base
  // scope is left.
  bool CloseScope();
  // Number of open scopes, the base scope included.
  int Depth() const { return static_cast<int>(scopes_.size()); }

  // Binds a name in the newest scope, replacing an earlier binding of it in that scope. An
  // empty name or a null reference is refused (false).
  bool Bind(std::string_view name, const AnyRef& ref);
  // Binds every field of a record layout over a buffer by its label. Returns the number of
  // names bound.
  int BindRecord(const RecordLayout& layout, void* record);
  // Removes a name from the newest scope; false when it is not bound there.
  bool Unbind(std::string_view name);

  // The binding of a name, searched from the newest scope; nullptr when the name is unbound.
  const AnyRef* Find(std::string_view name) const;
  // Same, for a name already upper-cased (as compiled expressions keep their names).
  const AnyRef* FindUpper(const std::string& upperName) const;

  // Upper-cases ASCII letters: the form in which names are matched.
  static std::string UpperName(std::string_view name);

  // The names of one scope, by upper-cased name.
  using Scope = std::unordered_map<std::string, AnyRef>;
  // A scope with every field of a record layout over a buffer, built once and then lent for
  // each use: cheaper than binding the same names again each time.
  static Scope RecordScope(const RecordLayout& layout, void* record);
  // Opens `scope` as the newest scope, taking its names; ReturnScope closes the newest scope
  // and gives its names back. False (and nothing changes) when only the base scope is left.
  void LendScope(Scope& scope);
  bool ReturnScope(Scope& scope);

 private:
  std::vector<Scope> scopes_;
};

}  // namespace rt
