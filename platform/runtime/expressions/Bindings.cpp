// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/expressions/Bindings.h"

#include "platform/runtime/values/Text.h"

namespace rt {

Bindings::Bindings() {
  scopes_.emplace_back();
}

Bindings& Bindings::Current() {
  thread_local Bindings bindings;
  return bindings;
}

void Bindings::OpenScope() {
  scopes_.emplace_back();
}

bool Bindings::CloseScope() {
  if (scopes_.size() <= 1) return false;
  scopes_.pop_back();
  return true;
}

bool Bindings::Bind(std::string_view name, const AnyRef& ref) {
  if (name.empty() || ref.IsNull()) return false;
  scopes_.back()[UpperName(name)] = ref;
  return true;
}

int Bindings::BindRecord(const RecordLayout& layout, void* record) {
  if (record == nullptr) return 0;
  int count = 0;
  for (const FieldDesc& field : layout.Fields()) {
    if (Bind(field.label, AnyRef(record, field))) ++count;
  }
  return count;
}

Bindings::Scope Bindings::RecordScope(const RecordLayout& layout, void* record) {
  Bindings made;
  made.BindRecord(layout, record);
  return std::move(made.scopes_.back());
}

void Bindings::LendScope(Scope& scope) {
  scopes_.push_back(std::move(scope));
  scope.clear();
}

bool Bindings::ReturnScope(Scope& scope) {
  if (scopes_.size() <= 1) return false;
  scope = std::move(scopes_.back());
  scopes_.pop_back();
  return true;
}

bool Bindings::Unbind(std::string_view name) {
  return scopes_.back().erase(UpperName(name)) > 0;
}

const AnyRef* Bindings::Find(std::string_view name) const {
  return FindUpper(UpperName(name));
}

const AnyRef* Bindings::FindUpper(const std::string& upperName) const {
  for (auto scope = scopes_.rbegin(); scope != scopes_.rend(); ++scope) {
    auto it = scope->find(upperName);
    if (it != scope->end()) return &it->second;
  }
  return nullptr;
}

std::string Bindings::UpperName(std::string_view name) {
  return Upper(name);
}

}  // namespace rt
