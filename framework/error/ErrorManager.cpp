// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/ErrorManager.h"

#include <algorithm>

#include "framework/error/CriticalSectionGuard.h"
#include "framework/error/DefaultErrorTable.h"
#include "framework/error/HistoryPresenter.h"
#include "framework/error/TextCut.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Text.h"

namespace {

constexpr std::int32_t kDefaultCategoryId = -1;
constexpr char kStandardCategory[] = "Orv";
constexpr std::int32_t kDefaultHistoryViewLevel = LevelFatal;

bool SameId(std::int32_t a, std::int32_t b) {
  return static_cast<std::uint16_t>(a) == static_cast<std::uint16_t>(b);
}

// Position of the first occurrence of needle at or after from, letter case ignored.
std::size_t FindUpper(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (needle.empty() || from > haystack.size()) return std::string_view::npos;
  auto it = std::search(haystack.begin() + static_cast<std::ptrdiff_t>(from), haystack.end(),
                        needle.begin(), needle.end(),
                        [](char x, char y) { return rt::UpperChar(x) == rt::UpperChar(y); });
  return it == haystack.end() ? std::string_view::npos
                              : static_cast<std::size_t>(it - haystack.begin());
}

// The "|" line separator of message texts becomes a real line break when shown.
std::string DisplayText(std::string_view text) {
  std::string shown(text);
  std::replace(shown.begin(), shown.end(), '|', '\n');
  return shown;
}

}  // namespace

ErrorManager::ErrorManager() : CritSect(std::make_unique<rt::CriticalSection>()) {}

ErrorManager::~ErrorManager() {
  Kill();
}

void ErrorManager::Kill() {
  if (killed_) return;
  killed_ = true;
  {
    CriticalSectionGuard guard(CritSect.get());
    Errors.reset();
    History.reset();
    ProcNames.reset();
    if (ErrorLog == StdErrorLog.get()) ErrorLog = nullptr;
    StdErrorLog.reset();
  }
  CritSect.reset();
}

void ErrorManager::AddError(std::uint16_t id, std::string_view text, std::string_view title,
                            std::uint8_t level, std::string_view category) {
  CriticalSectionGuard guard(CritSect.get());
  if (!Errors) Errors = std::make_unique<std::vector<ErrorEntry>>();
  Errors->push_back(
      ErrorEntry{id, std::string(text), std::string(title), level, std::string(category)});
}

ErrorLevel ErrorManager::AddErrors(std::span<const std::uint8_t> table) {
  // Parse the whole block first so that a damaged one adds nothing.
  std::vector<ErrorEntry> parsed;
  std::size_t at = 0;
  auto take = [&](std::size_t count) -> std::span<const std::uint8_t> {
    if (table.size() - at < count) return {};
    auto bytes = table.subspan(at, count);
    at += count;
    return bytes;
  };
  auto takeText = [&](std::string& text) {
    auto length = take(1);
    if (length.empty()) return false;
    auto chars = take(length[0]);
    if (chars.size() != length[0]) return false;
    text.assign(chars.begin(), chars.end());
    return true;
  };
  auto count = take(2);
  if (count.empty()) return LevelNotify;
  const std::size_t entries = count[0] | (count[1] << 8);
  parsed.reserve(entries);
  for (std::size_t i = 0; i < entries; ++i) {
    auto head = take(3);
    if (head.empty()) return LevelNotify;
    ErrorEntry entry;
    entry.Id = head[0] | (head[1] << 8);
    entry.Fatality = head[2];
    if (!takeText(entry.Title) || !takeText(entry.Message)) return LevelNotify;
    parsed.push_back(std::move(entry));
  }
  if (at != table.size()) return LevelNotify;

  CriticalSectionGuard guard(CritSect.get());
  if (!Errors) Errors = std::make_unique<std::vector<ErrorEntry>>();
  Errors->insert(Errors->end(), std::make_move_iterator(parsed.begin()),
                 std::make_move_iterator(parsed.end()));
  return LevelQuiet;
}

void ErrorManager::AddHistory() {
  CriticalSectionGuard guard(CritSect.get());
  if (History) History->push_back(historyRecord_);
}

int ErrorManager::ShowHistoryWindow(std::string_view caption, std::int32_t icon, int buttons,
                                    int defaultButton) {
  if (HistoryPresenter present = CurrentHistoryPresenter()) {
    return present(*this, caption, icon, buttons, defaultButton);
  }
  // No message window in this process: the history, oldest first and one record a line, in
  // the runtime's message box.
  std::string text;
  for (const HistoryEntry& entry : HistorySnapshot()) {
    if (!text.empty()) text += '|';
    text += entry.Txt;
  }
  return MessageBox(GetFatality(), text, caption, rt::MessageIcon::Information, buttons,
                    defaultButton, MsgStyle);
}

int ErrorManager::ShowMessage(std::string_view text, std::string_view caption, rt::MessageIcon icon,
                              int buttons, int defaultButton, int style) {
  int result = defaultButton;
  if (GetLogErrors() != 0) WriteLog(text);

  const std::int32_t threshold = GetHistoryThreshold();
  const ErrorEntry& selected = CurrentStatus().ErrorBuffer;
  const std::int32_t currentId = selected.Id;
  const std::uint8_t currentLevel = selected.Fatality;
  if (threshold != 0) {
    CriticalSectionGuard guard(CritSect.get());
    if (History) {
      if (threshold > 0) {
        while (!History->empty() && History->size() >= static_cast<std::size_t>(threshold)) {
          History->pop_front();
        }
      }
      historyRecord_.Txt.assign(CutText(text, kHistoryTextSize - 1));
      historyRecord_.Id = static_cast<std::uint16_t>(currentId);
      historyRecord_.Category = GetCategory(currentId);
      AddHistory();
    }
  }

  if (GetSilent() != 0) return result;

  if (threshold != 0) {
    if (currentLevel == GetHistoryViewLevel()) {
      // The stock icons convert to 0: the history window shows its own default icon.
      result = ShowHistoryWindow(caption, 0, buttons, defaultButton);
      if (GetHistoryResetOnView() != 0) ResetHistory();
    }
    return result;
  }
  return MessageBox(currentLevel, text, caption, icon, buttons, defaultButton, style);
}

int ErrorManager::MessageBox(std::uint8_t /*level*/, std::string_view text,
                             std::string_view caption, rt::MessageIcon icon, int buttons,
                             int defaultButton, int style) {
  return rt::Message(DisplayText(text), caption, icon, buttons, defaultButton, style);
}

void ErrorManager::RemoveError(std::uint16_t id) {
  CriticalSectionGuard guard(CritSect.get());
  if (!Errors) return;
  auto found = std::find_if(Errors->rbegin(), Errors->rend(),
                            [id](const ErrorEntry& entry) { return SameId(entry.Id, id); });
  if (found != Errors->rend()) Errors->erase(std::next(found).base());
}

void ErrorManager::Init(ErrorLogInterface* log) {
  CriticalSectionGuard guard(CritSect.get());
  ErrorLog = log;
  if (!Errors) {
    Errors = std::make_unique<std::vector<ErrorEntry>>();
    static_cast<void>(AddErrors(DefaultErrorTable()));  // built in, parses
  }
  if (!ProcNames) ProcNames = std::make_unique<std::vector<ProcedureNameEntry>>();
  if (!History) History = std::make_unique<std::deque<HistoryEntry>>();
}

ErrorLevel ErrorManager::TakeQuiet() {
  return LevelQuiet;
}

ErrorLevel ErrorManager::TakeFatal() {
  const std::string title = GetTitle();
  ShowMessage(ExpandText() + kFatalSuffix, title, rt::MessageIcon::Information, rt::kButtonOk,
              rt::kButtonOk, MsgStyle);
  rt::Halt(0, title);
}

void ErrorManager::TakeNotify() {
  ShowMessage(ExpandText(), GetTitle(), rt::MessageIcon::Information, rt::kButtonOk, rt::kButtonOk,
              MsgStyle);
}

ErrorLevel ErrorManager::TakeOther() {
  return TakeInternal();
}

ErrorLevel ErrorManager::TakeInternal() {
  return TakeFatal();
}

ErrorLevel ErrorManager::TakeAsk() {
  const int answer = ShowMessage(ExpandText(), GetTitle(), rt::MessageIcon::Exclamation,
                                 rt::kButtonYes | rt::kButtonNo, rt::kButtonYes, MsgStyle);
  return answer == rt::kButtonYes ? LevelQuiet : LevelCancel;
}

void ErrorManager::ViewHistory() {
  ShowHistoryWindow("Errors History", 0, rt::kButtonOk | rt::kButtonHelp, rt::kButtonOk);
}

void ErrorManager::Start(rt::ThreadLocal<ErrorStatus>& status) {
  CriticalSectionGuard guard(CritSect.get());
  Status = &status;
  if (StdErrorLog) return;
  StdErrorLog = std::make_unique<::ErrorLog>();
  SetCategory(kDefaultCategoryId, kStandardCategory);
  Errors.reset();
  History.reset();
  ProcNames.reset();
  HistoryThreshold = 0;
  HistoryViewLevel = kDefaultHistoryViewLevel;
  HistoryResetOnView = 0;
  Init(StdErrorLog.get());
}

ErrorStatus& ErrorManager::CurrentStatus() {
  if (Status != nullptr) return Status->Get();
  // Before Start the manager still works, on a status of the thread's own.
  thread_local ErrorStatus unbound;
  return unbound;
}

void ErrorManager::SetErrors() {
  ErrorStatus& status = CurrentStatus();
  status.SaveErrorCode = rt::ErrorCode();
  AssignCString(status.SaveError, rt::ErrorText(), kSavedErrorSize);
  AssignCString(status.SaveFileErrorCode, rt::FileErrorCode(), kSavedErrorSize);
  AssignCString(status.SaveFileError, rt::FileErrorText(), kSavedErrorSize);
}

void ErrorManager::SetFile(std::string_view name) {
  AssignCString(CurrentStatus().FileName, name, kErrorNameSize);
}

void ErrorManager::SetKey(std::string_view name) {
  AssignCString(CurrentStatus().KeyName, name, kErrorNameSize);
}

void ErrorManager::SetField(std::string_view name) {
  AssignCString(CurrentStatus().FieldName, name, kErrorNameSize);
}

ErrorLevel ErrorManager::Throw(std::uint16_t id) {
  SetErrors();
  return TakeError(id);
}

ErrorLevel ErrorManager::ThrowMessage(std::uint16_t id, std::string_view text) {
  AssignCString(CurrentStatus().MessageText, text, kErrorNameSize);
  return Throw(id);
}

ErrorLevel ErrorManager::TakeError(std::uint16_t id) {
  SelectError(id);
  switch (GetFatality()) {
    case LevelQuiet:
      return TakeQuiet();
    case LevelAsk:
    case LevelCancel:
      return TakeAsk();
    case LevelInternal:
      return TakeInternal();
    case LevelFatal:
      return TakeFatal();
    case LevelNotify:
      TakeNotify();
      return LevelNotify;
    default:
      return TakeOther();
  }
}

int ErrorManager::MessageById(std::uint16_t id, int buttons, int defaultButton) {
  if (GetSilent() != 0) return defaultButton;
  SelectError(id);
  return MessageBox(GetFatality(), ExpandText(), GetTitle(), rt::MessageIcon::Exclamation, buttons,
                    defaultButton, MsgStyle);
}

void ErrorManager::SelectError(std::uint16_t id) {
  ErrorStatus& status = CurrentStatus();
  status.PrevErrorId = status.ErrorBuffer.Id;
  ErrorEntry selected;
  static_cast<void>(FindError(id, selected));  // an unknown id selects an empty entry
  status.ErrorBuffer = std::move(selected);
}

std::string ErrorManager::ExpandText() {
  const ErrorStatus status = CurrentStatus();
  std::string text(CutText(status.ErrorBuffer.Message, kExpandedTextLength));
  auto replace = [&text](std::string_view placeholder, std::string_view value) {
    ReplaceAll(text, kExpandedTextLength, placeholder, value);
  };
  // Longer placeholders first, so "%FileError" is never taken for "%File".
  replace("%FileErrorCode", status.SaveFileErrorCode);
  replace("%FileError", status.SaveFileError);
  replace("%File", status.FileName);
  replace("%Key", status.KeyName);
  replace("%ErrorCode", std::to_string(status.SaveErrorCode));
  // For these codes the file driver holds the detail of the failure.
  const bool driverDetail =
      status.SaveErrorCode == 90 || status.SaveErrorCode == 100 || status.SaveErrorCode == 47;
  replace("%ErrorText", driverDetail
                            ? status.SaveFileError + " (" + status.SaveFileErrorCode + ")"
                            : status.SaveError + " (" + std::to_string(status.SaveErrorCode) + ")");
  replace("%Error", status.SaveError);
  replace("%Message", status.MessageText);
  replace("%Field", status.FieldName);
  replace("%Procedure", GetProcedureName());
  replace("%Category", status.ErrorBuffer.Category);
  if (text.find("%Previous") != std::string::npos) {
    ErrorEntry previous;
    // An unknown id leaves the text empty.
    static_cast<void>(FindError(static_cast<std::uint16_t>(status.PrevErrorId), previous));
    replace("%Previous", previous.Message);
  }
  return text;
}

std::string ErrorManager::GetTitle() {
  return CurrentStatus().ErrorBuffer.Title;
}

std::uint8_t ErrorManager::GetFatality() {
  return CurrentStatus().ErrorBuffer.Fatality;
}

std::int32_t ErrorManager::GetErrorId() {
  return CurrentStatus().ErrorBuffer.Id;
}

void ErrorManager::AddErrorOnce(std::uint16_t id, std::string_view text, std::string_view title,
                                std::uint8_t level) {
  CriticalSectionGuard guard(CritSect.get());  // no other thread adds it in between
  ErrorEntry found;
  if (FindError(id, found) != LevelQuiet) AddError(id, text, title, level);
}

ErrorLevel ErrorManager::FindError(std::uint16_t id, ErrorEntry& destination) {
  CriticalSectionGuard guard(CritSect.get());
  if (!Errors) return LevelNotify;
  auto found = std::find_if(Errors->rbegin(), Errors->rend(),
                            [id](const ErrorEntry& entry) { return SameId(entry.Id, id); });
  if (found == Errors->rend()) return LevelNotify;
  destination = *found;
  return LevelQuiet;
}

void ErrorManager::SetProcedureName(std::string_view name, bool remove) {
  const std::int32_t thread = rt::ThreadNumber();
  CriticalSectionGuard guard(CritSect.get());
  if (!ProcNames) return;
  if (!remove) {
    ProcNames->push_back(ProcedureNameEntry{thread, std::string(rt::TrimRight(name))});
    return;
  }
  auto found = std::find_if(ProcNames->rbegin(), ProcNames->rend(),
                            [thread](const ProcedureNameEntry& e) { return e.Thread == thread; });
  if (found != ProcNames->rend() && !found->Name.empty()) {
    ProcNames->erase(std::next(found).base());
  }
}

std::string ErrorManager::GetProcedureName() {
  const std::int32_t thread = rt::ThreadNumber();
  CriticalSectionGuard guard(CritSect.get());
  if (!ProcNames) return {};
  auto found = std::find_if(ProcNames->rbegin(), ProcNames->rend(),
                            [thread](const ProcedureNameEntry& e) { return e.Thread == thread; });
  return found == ProcNames->rend() ? std::string() : found->Name;
}

void ErrorManager::SetCategory(std::int32_t id, std::string_view category) {
  CriticalSectionGuard guard(CritSect.get());
  if (id == kDefaultCategoryId) {
    DefaultCategory.assign(category);
    return;
  }
  if (!Errors) return;
  auto found = std::find_if(Errors->rbegin(), Errors->rend(),
                            [id](const ErrorEntry& entry) { return SameId(entry.Id, id); });
  if (found != Errors->rend()) found->Category.assign(category);
}

std::string ErrorManager::GetCategory(std::int32_t id) {
  CriticalSectionGuard guard(CritSect.get());
  if (id != kDefaultCategoryId && Errors) {
    auto found = std::find_if(Errors->rbegin(), Errors->rend(),
                              [id](const ErrorEntry& entry) { return SameId(entry.Id, id); });
    if (found != Errors->rend() && !found->Category.empty()) return found->Category;
  }
  return DefaultCategory;
}

void ErrorManager::ResetHistory() {
  CriticalSectionGuard guard(CritSect.get());
  if (History) History->clear();
}

std::vector<HistoryEntry> ErrorManager::HistorySnapshot() {
  CriticalSectionGuard guard(CritSect.get());
  if (!History) return {};
  return {History->begin(), History->end()};
}

std::int32_t ErrorManager::GetHistoryThreshold() {
  CriticalSectionGuard guard(CritSect.get());
  return HistoryThreshold;
}

void ErrorManager::SetHistoryThreshold(std::int32_t threshold) {
  CriticalSectionGuard guard(CritSect.get());
  HistoryThreshold = threshold;
}

std::int32_t ErrorManager::GetHistoryViewLevel() {
  CriticalSectionGuard guard(CritSect.get());
  return HistoryViewLevel;
}

void ErrorManager::SetHistoryViewLevel(std::int32_t level) {
  CriticalSectionGuard guard(CritSect.get());
  HistoryViewLevel = level;
}

std::uint8_t ErrorManager::GetHistoryResetOnView() {
  CriticalSectionGuard guard(CritSect.get());
  return HistoryResetOnView;
}

void ErrorManager::SetHistoryResetOnView(std::uint8_t reset) {
  CriticalSectionGuard guard(CritSect.get());
  HistoryResetOnView = reset;
}

std::uint8_t ErrorManager::GetLogErrors() {
  CriticalSectionGuard guard(CritSect.get());
  return LogErrors;
}

void ErrorManager::SetLogErrors(std::uint8_t on) {
  CriticalSectionGuard guard(CritSect.get());
  LogErrors = on;
}

std::uint8_t ErrorManager::GetSilent() {
  CriticalSectionGuard guard(CritSect.get());
  return Silent;
}

void ErrorManager::SetSilent(std::uint8_t on) {
  CriticalSectionGuard guard(CritSect.get());
  Silent = on;
}

std::string ErrorManager::GetDefaultCategory() {
  CriticalSectionGuard guard(CritSect.get());
  return DefaultCategory;
}

void ErrorManager::WriteLog(std::string_view text) {
  const std::string line = ErrorLog::Stamp() + " --> " + std::string(text);
  CriticalSectionGuard guard(CritSect.get());
  if (ErrorLog == nullptr) return;
  ErrorLog->Open(0);
  ErrorLog->Take(line);
  ErrorLog->Close(0);
}

void ErrorManager::ReplaceAll(std::string& buffer, std::size_t capacity,
                              std::string_view placeholder, std::string_view value) {
  if (rt::SameName(placeholder, value)) return;
  std::size_t at = 0;
  while ((at = FindUpper(buffer, placeholder, at)) != std::string::npos) {
    buffer.replace(at, placeholder.size(), value);
    if (buffer.size() > capacity) buffer.resize(CutText(buffer, capacity).size());
    // Search on after the inserted value, so a value holding the placeholder never loops.
    at += value.size();
    if (at >= buffer.size()) break;
  }
}
