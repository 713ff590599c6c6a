// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A prepared statement lent out for one use: reset (and its bindings cleared) when the guard
// goes out of scope, so that no statement keeps a read transaction open between calls.

#include "platform/store/StoreStatement.h"

namespace rt {

class StoreStatementGuard {
 public:
  StoreStatementGuard() = default;
  explicit StoreStatementGuard(StoreStatement* statement) : statement_(statement) {}
  ~StoreStatementGuard() {
    if (statement_) statement_->Reset();
  }
  StoreStatementGuard(StoreStatementGuard&& other) noexcept : statement_(other.statement_) {
    other.statement_ = nullptr;
  }
  StoreStatementGuard& operator=(StoreStatementGuard&&) = delete;
  StoreStatementGuard(const StoreStatementGuard&) = delete;
  StoreStatementGuard& operator=(const StoreStatementGuard&) = delete;

  explicit operator bool() const { return statement_ != nullptr; }
  StoreStatement* operator->() const { return statement_; }
  StoreStatement& operator*() const { return *statement_; }

 private:
  StoreStatement* statement_ = nullptr;
};

}  // namespace rt
