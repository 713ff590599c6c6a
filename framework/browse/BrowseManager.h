// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shows the records of a view in a list control, one page at a time. The page (the list
// queue) holds only the rows the list shows, never the whole table: every fill reads from a
// row already on the page or from a position of the view, and a row beyond the page size is
// dropped at the far end as each new one arrives. The browse keeps the highlighted record,
// and with RetainRow its screen row, across refills; it drives the list's scroll-bar thumb;
// and it exchanges the highlighted row with the primary table's record buffer.
//
// The browse reaches its page and its list only through BrowseQueue and IListControl (by
// default both are a StandardBehavior it makes at Init). It is a window component of its
// window controller, which resets, updates and feeds events to it.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/browse/BrowseProcessor.h"
#include "framework/browse/BrowseQueue.h"
#include "framework/browse/BrowseWindowComponent.h"
#include "framework/browse/EditListEntry.h"
#include "framework/browse/IListControl.h"
#include "framework/browse/SortQueue.h"
#include "framework/data/FieldPairs.h"
#include "framework/data/ViewManager.h"
#include "framework/window/ToolbarTarget.h"
#include "platform/runtime/values/AnyRef.h"

namespace rt {
class Queue;
class View;
class Window;
}  // namespace rt

class EditInPlaceManager;
class OtherClientsWatch;
class PopupManager;
class QueryManager;
class StandardBehavior;
class StepLocator;
class StepLong;
class ToolbarDispatcher;
class WindowController;

// Fetch directions.
inline constexpr std::uint8_t kFillBackward = 1;  // read with Previous, rows go on top
inline constexpr std::uint8_t kFillForward = 2;   // read with Next, rows go at the bottom
// Refill modes.
inline constexpr std::uint8_t kRefillPage = 1;      // rebuild the page from its old top row
inline constexpr std::uint8_t kRefillFromView = 2;  // the view is positioned: rebuild from there
// "This record was changed or deleted by another station."
inline constexpr std::uint16_t kMsgRecordChangedElsewhere = 9;
// The filter identifier of query by example.
inline constexpr char kQueryFilterId[] = "9 - QBE";
// The page size that makes the page unbounded (the whole result is loaded).
inline constexpr std::int32_t kWholeFile = 2147483647;
// Size of the list queue's position field: a view position and its length.
inline constexpr std::uint32_t kPositionFieldSize = 1026;
inline constexpr std::size_t kSavedSortLength = 511;
// Rows fetched ahead per trip at most while filling under UseMRP.
inline constexpr std::int32_t kMaxPrefetch = 60;
// The request the print procedure runs with.
inline constexpr std::uint8_t kPrintRequest = 5;
// Longest filter expression the browse tests a changed record against.
inline constexpr std::size_t kFilterLength = 2048;
// The event the list gets after other clients changed the browse's table (an application
// event number, above the runtime's own).
inline constexpr int kEventOtherClients = 0x7F01;

// Turns every call of the server-side function SQL in a filter into a comparison of an empty
// string with it, so that the rest of the filter can be evaluated on the client.
std::string RewriteServerFilter(std::string_view filter);

class BrowseManager : public ViewManager {
 public:
  BrowseWindowComponent WindowComponent{*this};
  std::uint8_t ActiveInvisible = 0;
  std::uint8_t AllowUnfilled = 0;
  std::uint8_t ArrowAction = 0;
  std::uint8_t DeleteAction = 0;
  std::int32_t AskProcedure = 0;
  std::unique_ptr<StandardBehavior> Behavior;
  std::int32_t Buffer = 0;
  std::int32_t ChangeControl = 0;
  std::int32_t CurrentChoice = 0;
  std::int32_t CurrentEvent = 0;
  std::int32_t DeleteControl = 0;
  std::shared_ptr<EditInPlaceManager> EIP;
  std::unique_ptr<std::vector<EditListEntry>> EditList;
  std::uint8_t EnterAction = 0;
  std::unique_ptr<FieldPairs> Fields;
  std::uint8_t FileLoaded = 0;
  std::uint8_t UseMRP = 1;
  std::uint8_t FocusLossAction = 0;
  std::uint8_t FreeEIP = 0;
  std::uint8_t HasThumb = 0;
  std::uint8_t HideSelect = 0;
  IListControl* ILC = nullptr;
  std::int32_t InsertControl = 0;
  std::int32_t ItemsToFill = 0;
  std::int32_t LastChoice = 0;
  std::int32_t LastItems = 0;
  BrowseQueue* ListQueue = nullptr;
  std::uint8_t LoadPending = 0;
  std::uint8_t Loaded = 0;
  std::uint8_t NeedRefresh = 0;
  std::shared_ptr<PopupManager> Popup;  // made by the popup manager's owner (see Init)
  std::uint8_t UsePopup = 0;
  std::uint8_t EditViaPopup = 0;
  std::int32_t PrevChoice = 0;
  std::int32_t PrintControl = 0;
  std::uint16_t PrintProcedure = 0;
  std::unique_ptr<std::vector<ProcessorEntry>> Processors;
  QueryManager* Query = nullptr;
  std::int32_t QueryControl = 0;
  std::int32_t QueryResult = 0;
  std::uint8_t QueryShared = 0;
  std::uint8_t QuickScan = 0;
  std::uint8_t RecordStatus = 0;
  std::uint8_t RetainRow = 1;
  std::uint8_t SavedSort = 0;
  std::string SavedSortString;  // at most kSavedSortLength characters
  StepLocator* SavedLocator = nullptr;
  StepLong* SavedThumb = nullptr;
  rt::AnyRef SavedLocatorField;
  std::uint8_t UseWaitCursor = 1;
  std::int32_t SelectControl = 0;
  std::uint8_t SelectWholeRecord = 0;
  std::uint8_t Selecting = 0;
  std::unique_ptr<SortQueue> Sort;
  std::uint8_t StartAtCurrent = 0;
  std::uint8_t TabAction = 0;
  std::int32_t ToolControl = 0;
  ToolbarDispatcher* Toolbar = nullptr;
  std::unique_ptr<ToolbarTarget> ToolbarItem;
  std::int32_t ViewControl = 0;
  WindowController* Window = nullptr;

  BrowseManager();
  ~BrowseManager() override;

  // ---- Overridden view manager operations ----
  bool ApplyRange() override;
  void Kill() override;
  ErrorLevel Next() override;
  ErrorLevel Previous() override;

  // ---- The window component's operations are those of WindowComponent (a member object
  // that forwards to Kill, ResetSort, ApplyRange, SetAlerts, TakeEvent, UpdateViewRecord
  // and UpdateWindow). ----

  // ---- Own virtual operations, in table order ----
  virtual std::uint8_t Ask(std::uint8_t request);                                           // 1
  virtual std::uint8_t AskInPlace(std::uint8_t request);                                    // 2
  virtual void Fetch(std::uint8_t direction);                                               // 3
  virtual bool SelectSort(int number);                                                      // 4
  virtual bool RecordMissing();                                                             // 5
  virtual void ReplaceSort(StepLocator* locator, StepLong* thumb, std::string_view order);  // 6
  virtual void ResetFromAsk(std::uint8_t& request, std::uint8_t& response);                 // 7
  virtual void ResetFromBuffer();                                                           // 8
  virtual void ResetFromFile();                                                             // 9
  virtual void ResetThumbLimits();                                                          // 10
  virtual void ResetQueue(std::uint8_t mode);                                               // 11
  virtual bool ResetSort(bool force);                                                       // 12
  virtual void ScrollEnd(int event);                                                        // 13
  virtual void ScrollOne(int event);                                                        // 14
  virtual void ScrollPage(int event);                                                       // 15
  virtual void SetAlerts();                                                                 // 16
  virtual void SetQueueRecord();                                                            // 17
  virtual bool SetSort(int number, bool force);                                             // 18
  virtual void SetUsePopup(bool on);                                                        // 19
  virtual void SetUseMRP(bool on);                                                          // 20
  virtual bool GetUseMRP();                                                                 // 21
  virtual void TakeAcceptedLocator();                                                       // 22
  virtual void TakeEvent();                                                                 // 23
  virtual bool TakeKey();                                                                   // 24
  virtual void TakeLocate();                                                                // 25
  virtual void TakeNewSelection();                                                          // 26
  virtual void TakeScroll(int event = 0);                                                   // 27
  virtual void TakeVCRScroll(std::int32_t request);                                         // 28
  virtual void UpdateBuffer();                                                              // 29
  virtual void UpdateResets();                                                              // 30
  virtual void UpdateThumb();                                                               // 31
  virtual void UpdateThumbFixed();                                                          // 32
  virtual void UpdateViewRecord();                                                          // 33
  virtual void UpdateWindow();                                                              // 34
  virtual void SetWaitCursor(bool on);                                                      // 35

  // ---- Non-virtual operations ----
  // `positionField` is the list queue's position field, at least kPositionFieldSize bytes.
  ErrorLevel Init(std::int32_t listControl, void* positionField, std::uint32_t positionLength,
                  rt::View& view, rt::Queue& listQueue, RelationManager& relationManager,
                  WindowController& window);
  int AddSortOrder(StepLong* thumb, const rt::FileKey* key);
  void AddLocator(StepLocator* locator);
  // A list column: a record field and the list-queue field it is shown from.
  void AddField(void* recordField, std::uint32_t recordLength, void* queueField,
                std::uint32_t queueLength);
  void AddField(std::int32_t& recordField, std::int32_t& queueField);
  void AddField(const rt::AnyRef& recordField, const rt::AnyRef& queueField);
  void SetUseWaitCursor(bool on);
  // Rows in the page; enables the locator's entry only when there are rows.
  std::int32_t Records();
  void PostNewSelection();
  // The page, its controls and the new selection, sent to the screen in one update.
  void ShowNewSelection();
  // The action of an accepted control: a button of the browse, else its locator's entry.
  void TakeAcceptedControl(std::int32_t control);
  // Other clients changed the table: the page is read again around the highlighted record.
  void TakeOtherClientsChange();
  // The wait cursor, when UseWaitCursor.
  void WaitCursor(bool on);

  SortOrder* CurrentSort() const { return Sort ? Sort->CurrentSort() : nullptr; }
  // The window that holds the list control.
  rt::Window* ListWindow() const;

 private:
  // Index of the first row whose position is `target` (0 none); an empty target gives 1.
  std::int32_t Locate(const std::string& target);
  // The shared step after scrolling: locator, new selection, thumb, record buffer.
  void AfterScrolling();
  // Moves a loaded list's highlight to CurrentChoice, scrolled so that it stands at the
  // screen line `line` it stood at before.
  void KeepScreenLine(std::int32_t line);
  void ThumbDrag();
  void PostToList(int event);
  void PostToControl(int event, std::int32_t control);
  // Posts accepted to a present, enabled button (with `loadRecord`, the highlighted row goes
  // to the record buffer first); false when there is no such button.
  bool PressButton(std::int32_t control, bool loadRecord);
  // Subscribes, once the page is first filled, to other clients' changes when the table's
  // driver can announce them; rearms the subscription before each refill.
  void WatchOtherClients();
  // A key the current locator may take; `hasRows` says the page is not empty.
  bool LocatorKey(bool hasRows);
  // Whether the record buffer passes a filter; one that cannot be evaluated here passes.
  bool PassesFilter(const std::string& filter);
  std::int32_t VisibleItems();
  // Rebuilds a page that has rows around the highlighted one (the view positioned on it),
  // an empty page from its old top row.
  void RefillAroundHighlight();
  // The primary table's record buffer cleared.
  void ClearPrimaryRecord();
  // With QuickScan, the reads between BeginScan and the matching EndScan share one read
  // transaction of the primary table (calls nest).
  void BeginScan();
  void EndScan();
  // A scan (BeginScan .. EndScan) held for a scope.
  class ScanScope {
   public:
    explicit ScanScope(BrowseManager& browse) : browse_(browse) { browse_.BeginScan(); }
    ~ScanScope() { browse_.EndScan(); }
    ScanScope(const ScanScope&) = delete;
    ScanScope& operator=(const ScanScope&) = delete;

   private:
    BrowseManager& browse_;
  };
  // The wait cursor (when UseWaitCursor) shown for a scope.
  class WaitScope {
   public:
    explicit WaitScope(BrowseManager& browse) : browse_(browse) { browse_.WaitCursor(true); }
    ~WaitScope() { browse_.WaitCursor(false); }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

   private:
    BrowseManager& browse_;
  };

  int scanDepth_ = 0;
  std::unique_ptr<OtherClientsWatch> otherClients_;
  std::string position_;  // the row being filled's view position
};
