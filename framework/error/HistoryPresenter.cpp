#include "framework/error/HistoryPresenter.h"

#include <mutex>
#include <utility>

namespace {

std::mutex presenterMutex;
HistoryPresenter& Registered() {
  static HistoryPresenter presenter;
  return presenter;
}

}  // namespace

void SetHistoryPresenter(HistoryPresenter presenter) {
  std::lock_guard lock(presenterMutex);
  Registered() = std::move(presenter);
}

HistoryPresenter CurrentHistoryPresenter() {
  // A copy: the caller presents without the lock, while another thread may withdraw it.
  std::lock_guard lock(presenterMutex);
  return Registered();
}
