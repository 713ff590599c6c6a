// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Opens a binding scope for as long as it lives (a window procedure keeps one for its run).

#include "platform/runtime/expressions/Bindings.h"

namespace rt {

class BindingScope {
 public:
  explicit BindingScope(Bindings& bindings = Bindings::Current()) : bindings_(bindings) {
    bindings_.OpenScope();
  }
  ~BindingScope() { bindings_.CloseScope(); }
  BindingScope(const BindingScope&) = delete;
  BindingScope& operator=(const BindingScope&) = delete;

 private:
  Bindings& bindings_;
};

}  // namespace rt
