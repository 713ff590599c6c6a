// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Edits the highlighted row of a browse directly in its list: a window controller that runs
// its own event loop on the browse's window while an edit control sits over the current
// cell. Tab and Shift+Tab move between columns, Enter finishes the row, Esc abandons it,
// Up and Down finish it and go on to the row above or below; the browse's action bytes say
// whether each of these saves, abandons or asks.
//
// Action bytes: bits 0-2 say how the row ends (Enter, arrows, focus loss: 0 or 1 save, 2
// abandon, else ask; Tab past the last column: 1 save, 2 abandon, else ask); bit 3 goes on
// editing the next row; bit 4 (arrows) keeps the column on that row.

#include <cstdint>
#include <utility>
#include <vector>

#include "framework/browse/EditListEntry.h"
#include "framework/window/WindowController.h"

class BrowseManager;
class EditEntry;
class FieldPairs;

// Where an inserted row goes (Insert): at the highlighted row, or after the last row.
inline constexpr std::uint8_t kInsertAtHighlight = 9;
inline constexpr std::uint8_t kInsertAtEnd = 10;
// "Save Record".
inline constexpr std::uint16_t kMsgSaveRecord = 41;
// How a row ends, in the low bits of an action byte; any other value asks.
inline constexpr std::uint8_t kRowEndMask = 7;
inline constexpr std::uint8_t kRowEndSave = 1;
inline constexpr std::uint8_t kRowEndAbandon = 2;
inline constexpr std::uint8_t kRowEndAsk = 3;
inline constexpr std::uint8_t kContinueBit = 8;     // go on editing the next row
inline constexpr std::uint8_t kKeepColumnBit = 16;  // arrows: keep the column on that row

class EditInPlaceManager : public WindowController {
 public:
  using WindowController::Run;

  std::uint8_t Again = 0;
  std::uint8_t* Arrow = nullptr;
  std::int32_t Column = 0;
  std::uint8_t* Enter = nullptr;
  std::vector<EditListEntry>* EQ = nullptr;
  FieldPairs* Fields = nullptr;
  std::uint8_t* FocusLoss = nullptr;
  std::uint8_t Insert = 0;
  std::int32_t ListControl = 0;
  std::uint8_t LastColumn = 0;
  std::int32_t Repost = 0;
  std::int32_t RepostField = 0;
  std::uint8_t Req = 0;
  std::uint8_t SeekForward = 1;
  std::uint8_t* Tab = nullptr;
  std::uint8_t MouseLeftIndex = 0;
  std::uint8_t WasPrimed = 0;
  std::uint8_t DeleteKeyAction = 0;
  BrowseManager* BC = nullptr;

  EditInPlaceManager();
  ~EditInPlaceManager() override;

  // ---- Overridden window controller operations ----
  void Ask() override;
  ErrorLevel Init() override;
  ErrorLevel Kill() override;
  // Edits the highlighted row for the request (insert, change or delete); `number` is unused.
  std::uint8_t Run(std::uint16_t number, std::uint8_t request) override;
  ErrorLevel TakeEvent() override;
  ErrorLevel TakeFieldEvent() override;
  ErrorLevel TakeNewSelection() override;

  // ---- Own virtual operations, in table order ----
  virtual void ClearColumn();                    // 1
  virtual void InitControls();                   // 2
  virtual bool ColumnEditable();                 // 3
  virtual void ResetColumn();                    // 4
  virtual bool CheckColumns();                   // 5
  virtual void TakeAction(std::uint8_t action);  // 6
  virtual void TakeCompleted(int button);        // 7
  virtual void TakeFocusLoss();                  // 8

 private:
  EditListEntry* EntryOf(std::int32_t column);
  std::int32_t ColumnCount() const;
  // Ends the row as the action byte says; with its bit 3 asks for row `navigation` next.
  void EndRow(const std::uint8_t* actionByte, bool isTab, std::int32_t navigation);
  // True, and said naming the column, when the column's edit control did not take its value
  // because the field cannot hold it.
  bool RefusedValue(const EditListEntry& entry);

  bool rowEnded_ = false;
  bool keepColumn_ = false;  // the next row starts in the column the arrow key left
  // The columns without an edit object, greyed while editing, with their colours before.
  std::vector<std::pair<std::int32_t, long>> greyed_;
};
