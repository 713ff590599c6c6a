// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgChangeWatch.h"

#include "platform/pgstore/PgListener.h"

namespace rt {

PgChangeWatch::PgChangeWatch(const std::string& conninfo, const std::string& quotedTable,
                             std::shared_ptr<std::atomic<int>> ownBackend,
                             std::function<void()> changed)
    : listener_(PgListener::For(conninfo)),
      id_(listener_->Subscribe(quotedTable, std::move(ownBackend), std::move(changed))) {}

PgChangeWatch::~PgChangeWatch() {
  listener_->Unsubscribe(id_);
}

}  // namespace rt
