// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/HistoryPresenter.h"

#include <utility>

#include "platform/runtime/threads/Installed.h"

namespace {

rt::Installed<HistoryPresenter>& Registered() {
  static rt::Installed<HistoryPresenter> presenter;
  return presenter;
}

}  // namespace

void SetHistoryPresenter(HistoryPresenter presenter) {
  Registered().Set(std::move(presenter));
}

HistoryPresenter CurrentHistoryPresenter() {
  return Registered().Get();
}
