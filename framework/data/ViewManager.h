// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Drives a runtime view: a filtered, ordered, read-only record set over a primary table. The
// manager keeps the sort orders, each with its key, range limits and named filters; it turns
// the current order into the view's order text and the range plus filters into the view's
// filter text; it opens, positions and reads the view; and it saves and restores the record
// buffers of the view's tables. The browse derives from it.
//
// Failures never throw. A failing open, order, filter or position is shown as "View Open
// Error" (a refused filter each time it is applied); the view goes on without a failed
// order or position, and with no records after a refused filter. A failing read other than
// the end of the view is shown as "Record Retrieval Error" and returns LevelFatal.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/data/OrderQueue.h"
#include "framework/data/ViewBufferEntry.h"
#include "framework/error/ErrorLevel.h"
#include "platform/runtime/values/AnyRef.h"

namespace rt {
class FileKey;
class View;
}  // namespace rt

class RelationManager;

inline constexpr std::uint16_t kMsgViewOpenError = 46;  // "View Open Error"
inline constexpr std::size_t kFilterTextLength = 5000;
inline constexpr std::size_t kFilterLabelLength = 500;
inline constexpr char kStandardFilterId[] = "5 Standard";

class ViewManager {
 public:
  std::uint8_t DisposeOrder = 0;
  std::uint8_t Opened = 0;
  OrderQueue* Order = nullptr;
  std::uint16_t PagesAhead = 0;
  std::uint16_t PagesBehind = 2;
  std::uint16_t PageSize = 20;
  RelationManager* Primary = nullptr;
  std::uint16_t Timeout = 60;
  rt::View* View = nullptr;
  std::unique_ptr<std::vector<ViewBufferEntry>> SavedBuffers;
  std::uint8_t Inited = 0;
  std::uint8_t Killed = 0;
  std::uint8_t Used = 0;

  ViewManager() = default;
  ViewManager(const ViewManager&) = delete;
  ViewManager& operator=(const ViewManager&) = delete;

  // ---- Virtual operations, in slot order ----
  virtual ~ViewManager();                                                     // 0 Destroy
  virtual void AppendOrder(std::string_view text);                            // 1
  virtual ErrorLevel ApplyFilter();                                           // 2
  virtual ErrorLevel ApplyOrder();                                            // 3
  virtual bool ApplyRange();                                                  // 4
  virtual void Close();                                                       // 5
  virtual void CloseView(bool force);                                         // 6
  virtual void ClearRecords();                                                // 7
  virtual bool FreeElementAscending();                                        // 8
  virtual std::string FreeElementName();                                      // 9
  virtual int FreeElementPosition();                                          // 10
  virtual void Kill();                                                        // 11
  virtual ErrorLevel Next();                                                  // 12
  virtual ErrorLevel Open();                                                  // 13
  virtual ErrorLevel Previous();                                              // 14
  virtual ErrorLevel PrepareRecord(bool keepValues = false);                  // 15
  virtual ErrorLevel Reset(int components);                                   // 16
  virtual ErrorLevel ResetToStart();                                          // 17
  virtual void RestoreBuffers();                                              // 18
  virtual void SaveBuffers();                                                 // 19
  virtual void SetFilter(std::string_view filter);                            // 20
  virtual void SetNamedFilter(std::string_view filter, std::string_view id);  // 21
  virtual void SetOrder(std::string_view text);                               // 22
  virtual bool SelectOrder(int number);                                       // 23
  // 0 take the record, 1 stop (end of the view), anything else skip it.
  virtual std::uint8_t CheckRecord();  // 24

  // ---- Non-virtual operations ----
  // `orderQueue` null: the manager makes and disposes its own.
  ErrorLevel Init(rt::View& view, RelationManager& relationManager,
                  OrderQueue* orderQueue = nullptr);
  // Adds a sort order for `key` (null: record order) and makes it current; returns the
  // number of orders.
  int AddOrder(const rt::FileKey* key);
  // Whether `field` sorts ascending in the current order text.
  bool FieldAscending(const rt::AnyRef& field);
  ErrorLevel UseFiles();
  void ReleaseFiles();

  // The current order entry, null when there is none.
  OrderEntry* CurrentOrder() const { return Order ? Order->Current() : nullptr; }
  // The filter text the current order, range and filters give (what ApplyFilter hands on).
  std::string FilterText();

 protected:
  // Reports the runtime's last error as "View Open Error" through the primary table.
  ErrorLevel ReportViewError();

 private:
  ErrorLevel Read(int direction);
  // Number of range pairs that fix a key component for the current order's range type.
  int FixedPairs(const OrderEntry& entry) const;
  std::string ComponentLabel(const OrderEntry& entry, int component) const;

  std::unique_ptr<OrderQueue> ownOrder_;
};
