// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The error manager: reports problems and asks data-operation questions by message
// identifier. It looks the identifier up in its message table, fills in the %-placeholders
// from the calling thread's current error, and acts on the entry's level. One manager serves
// every thread; the current error is kept per thread.

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/error/ErrorEntry.h"
#include "framework/error/ErrorLevel.h"
#include "framework/error/ErrorLog.h"
#include "framework/error/ErrorLogInterface.h"
#include "framework/error/ErrorStatus.h"
#include "framework/error/HistoryEntry.h"
#include "framework/error/ProcedureNameEntry.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Dialogs.h"

// Longest expanded message text.
inline constexpr std::size_t kExpandedTextLength = 1999;
// Appended to the text of a fatal message.
inline constexpr char kFatalSuffix[] = "  Press OK to end this application";

class ErrorManager {
 public:
  std::string DefaultCategory;
  std::unique_ptr<std::vector<ErrorEntry>> Errors;  // the message table
  ErrorLogInterface* ErrorLog = nullptr;            // the log in use
  std::unique_ptr<std::deque<HistoryEntry>> History;
  std::unique_ptr<std::vector<ProcedureNameEntry>> ProcNames;
  std::unique_ptr<::ErrorLog> StdErrorLog;  // the standard log, made by Start
  std::uint8_t Silent = 0;                  // show nothing; questions take their default
  std::uint8_t LogErrors = 0;               // write every shown message to the log
  std::int32_t HistoryThreshold = 0;        // 0 none, > 0 most records kept, < 0 unbounded
  std::int32_t HistoryViewLevel = 0;        // with history on, the level that is presented
  std::uint8_t HistoryResetOnView = 0;      // empty the history after presenting it
  std::unique_ptr<rt::CriticalSection> CritSect;
  rt::ThreadLocal<ErrorStatus>* Status = nullptr;  // per-thread current error
  std::int16_t MsgStyle = 0;                       // style passed to every message box

  ErrorManager();
  ErrorManager(const ErrorManager&) = delete;
  ErrorManager& operator=(const ErrorManager&) = delete;
  virtual ~ErrorManager();

  // Disposes of the table, history, procedure names and the standard log, then of the
  // critical section. A second call does nothing.
  virtual void Kill();
  // Appends one entry; a later entry with the same identifier hides the earlier one.
  virtual void AddError(std::uint16_t id, std::string_view text, std::string_view title,
                        std::uint8_t level, std::string_view category = {});
  // Appends every entry of a packed table. A malformed block (truncated, or with trailing
  // bytes) adds nothing and gives LevelNotify; otherwise LevelQuiet.
  virtual ErrorLevel AddErrors(std::span<const std::uint8_t> table);
  // Appends the entry unless the table has one with that identifier: a procedure's own
  // messages join the table on first use.
  void AddErrorOnce(std::uint16_t id, std::string_view text, std::string_view title,
                    std::uint8_t level);
  // Appends the prepared history record.
  virtual void AddHistory();
  // Presents the history with the given caption and buttons through the registered presenter
  // (the message window), else in the runtime's message box; returns the pressed button.
  virtual int ShowHistoryWindow(std::string_view caption, std::int32_t icon, int buttons,
                                int defaultButton);
  // Logs, records history and presents a message; returns the pressed button.
  virtual int ShowMessage(std::string_view text, std::string_view caption, rt::MessageIcon icon,
                          int buttons, int defaultButton, int style);
  // Presents a message through the runtime's message box; the level is not used here.
  virtual int MessageBox(std::uint8_t level, std::string_view text, std::string_view caption,
                         rt::MessageIcon icon, int buttons, int defaultButton, int style);
  // Removes the entry that lookups find for the identifier (uncovering an older one).
  virtual void RemoveError(std::uint16_t id);
  // Sets the log and fills the table, history and procedure-name lists when absent.
  virtual void Init(ErrorLogInterface* log);
  virtual ErrorLevel TakeQuiet();
  // Shows the message and ends the application (exit code 0). Never returns.
  virtual ErrorLevel TakeFatal();
  virtual void TakeNotify();
  virtual ErrorLevel TakeOther();
  virtual ErrorLevel TakeInternal();
  // Yes/No question: LevelQuiet for Yes, LevelCancel otherwise.
  virtual ErrorLevel TakeAsk();
  virtual void ViewHistory();

  // Binds the per-thread status and, on the first call, sets the defaults, makes the
  // standard log and fills the table.
  void Start(rt::ThreadLocal<ErrorStatus>& status);

  // The current error of the calling thread.
  void SetErrors();
  void SetFile(std::string_view name);
  void SetKey(std::string_view name);
  void SetField(std::string_view name);
  ErrorLevel Throw(std::uint16_t id);
  ErrorLevel ThrowMessage(std::uint16_t id, std::string_view text);
  ErrorLevel TakeError(std::uint16_t id);
  // Asks with the given buttons, without log or history; returns the pressed button.
  int MessageById(std::uint16_t id, int buttons, int defaultButton);
  void SelectError(std::uint16_t id);
  std::string ExpandText();
  std::string GetTitle();
  std::uint8_t GetFatality();
  std::int32_t GetErrorId();
  // Copies the entry lookups find for the identifier; LevelQuiet when found, else LevelNotify.
  ErrorLevel FindError(std::uint16_t id, ErrorEntry& destination);

  // Pushes the calling thread's procedure name, or with remove set pops its newest one.
  void SetProcedureName(std::string_view name, bool remove = false);
  std::string GetProcedureName();

  // Identifier -1 names the default category.
  void SetCategory(std::int32_t id, std::string_view category);
  std::string GetCategory(std::int32_t id);

  void ResetHistory();
  // A copy of the history, oldest first.
  std::vector<HistoryEntry> HistorySnapshot();

  std::int32_t GetHistoryThreshold();
  void SetHistoryThreshold(std::int32_t threshold);
  std::int32_t GetHistoryViewLevel();
  void SetHistoryViewLevel(std::int32_t level);
  std::uint8_t GetHistoryResetOnView();
  void SetHistoryResetOnView(std::uint8_t reset);
  std::uint8_t GetLogErrors();
  void SetLogErrors(std::uint8_t on);
  std::uint8_t GetSilent();
  void SetSilent(std::uint8_t on);
  std::string GetDefaultCategory();

 private:
  ErrorStatus& CurrentStatus();
  // Appends one log line; failures are ignored so that a broken log never stops a message.
  void WriteLog(std::string_view text);
  static void ReplaceAll(std::string& buffer, std::size_t capacity, std::string_view placeholder,
                         std::string_view value);

  HistoryEntry historyRecord_;  // prepared by ShowMessage, appended by AddHistory
  bool killed_ = false;
};
