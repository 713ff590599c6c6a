// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A STORE table whose driver announces other clients' changes as a server's driver does,
// except that the test says when: AnnounceOtherClientsChange calls every live subscription's
// callback from a thread of its own, as a driver's listening thread would. Its tables are
// STORE's files, so a plain STORE handle plays the other client.

namespace testing_support {

inline constexpr char kAnnouncingStoreName[] = "ANNOUNCINGSTORE";

// Registers the driver (idempotent).
void RegisterAnnouncingStore();
// Subscriptions alive now.
int AnnouncingSubscribers();
// Calls the live callbacks `times` times each from another thread and waits for that thread;
// returns the number of calls made.
int AnnounceOtherClientsChange(int times = 1);

}  // namespace testing_support
