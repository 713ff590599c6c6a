// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs one window procedure: opens its window, runs the event loop and dispatches each
// event to the procedure's handlers and to the registered window components, and carries an
// update form's request through to a response. Each procedure derives a class, overrides a
// few operations (calling the default first) and calls Run.
//
// A class that overrides Run(number, request) hides Run(); such a class adds
// `using WindowController::Run;`.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/error/ErrorLevel.h"
#include "framework/window/RecordReference.h"
#include "framework/window/RequestCodes.h"
#include "framework/window/ResizeTarget.h"
#include "framework/window/ToolbarDispatcher.h"
#include "framework/window/WindowComponent.h"
#include "framework/window/WindowTranslator.h"

namespace rt {
class BindingScope;
class Window;
}  // namespace rt

class ErrorManager;
class FileManager;
class RelationManager;
class FormNavigator;

// What a form does after a successful insert (InsertAction).
inline constexpr std::uint8_t kInsertNone = 0;     // no record is primed
inline constexpr std::uint8_t kInsertStay = 1;     // stay on the record
inline constexpr std::uint8_t kInsertClose = 2;    // close the window
inline constexpr std::uint8_t kInsertNext = 3;     // prime another record at once
inline constexpr std::uint8_t kInsertAskNext = 4;  // ask, then prime another on Yes
// What a form does after a successful change (ChangeAction).
inline constexpr std::uint8_t kChangeStay = 1;
inline constexpr std::uint8_t kChangeClose = 2;
// How a form deletes (DeleteAction); 1 and 3 open the window and delete on completion.
inline constexpr std::uint8_t kDeleteOnCompletion = 1;
inline constexpr std::uint8_t kDeleteConfirm = 2;  // at once, after a confirmation
inline constexpr std::uint8_t kDeleteAtOnce = 4;   // at once, without asking

class WindowController {
 public:
  // A control that closes the window with a response.
  struct ButtonEntry {
    std::int32_t Control = 0;
    std::uint8_t Action = 0;
  };
  struct ComponentEntry {
    std::int32_t Type = 0;  // always 0
    WindowComponent* WC = nullptr;
  };
  // A further file whose buffer is saved and restored with the primary's.
  struct FileEntry {
    FileManager* Manager = nullptr;
    std::int16_t Saved = 0;
  };
  // A control whose value can be recalled from the last completed record.
  struct HistoryEntry {
    RecordReference FRecord;  // the live record
    RecordReference SRecord;  // the copy taken at each completion
    std::int32_t Control = 0;
    std::int32_t FieldNo = 0;
  };

  std::uint8_t AutoRefresh = 0;
  std::uint8_t AutoToolbar = 0;
  std::unique_ptr<std::vector<ButtonEntry>> Buttons;
  std::unique_ptr<std::vector<ComponentEntry>> CL;
  std::uint8_t CancelAction = 0;  // bit 0: offer to save on cancel; bit 1: ask first
  std::uint8_t ChangeAction = 0;  // 2: close after a change; 1: stay
  std::uint8_t Dead = 0;
  std::uint8_t DeleteAction = 0;  // 2: confirm and delete; 4: delete; 1, 3: on completion
  std::uint8_t BatchProcessing = 0;
  ErrorManager* Errors = nullptr;
  std::unique_ptr<std::vector<FileEntry>> Files;
  std::uint8_t FilesOpened = 0;
  std::int32_t FirstField = 0;
  std::uint8_t ForcedReset = 0;
  std::unique_ptr<std::vector<HistoryEntry>> History;
  std::int32_t HistoryKey = 0;
  std::uint8_t Inited = 0;           // bit 0: Open has run; bit 1: the first Sized was seen
  std::uint8_t InsertAction = 0;     // 0 none primed, 1 stay, 2 close, 3 next, 4 ask for next
  std::string LastInsertedPosition;  // opaque position bytes (empty: none)
  std::int32_t OKControl = 0;
  std::int32_t SaveControl = 0;
  std::uint8_t DisableCancelButton = 0;
  std::uint8_t Opened = 0;
  std::uint8_t OriginalRequest = 0;
  std::uint8_t RecordSaved = 0;
  std::uint8_t BeforeSaveRequest = 0;
  RelationManager* Primary = nullptr;
  std::uint8_t Request = 0;
  std::uint8_t ResetOnGainFocus = 0;
  ResizeTarget* Resize = nullptr;
  std::uint8_t Response = 0;
  std::int16_t Saved = 0;
  FormNavigator* FormVCR = nullptr;
  ToolbarDispatcher* Toolbar = nullptr;
  WindowTranslator* Translator = nullptr;
  std::int32_t* VCRRequest = nullptr;
  rt::Window* MyWindow = nullptr;
  rt::Window* OwnerWindow = nullptr;

  WindowController();
  WindowController(const WindowController&) = delete;
  WindowController& operator=(const WindowController&) = delete;
  // Releases what Init registered when Kill has not run.
  virtual ~WindowController();

  // The event loop (nothing once Dead or without an open window).
  virtual void Ask();
  // Sets the defaults; overrides set Request first and call this before their own work.
  virtual ErrorLevel Init();
  // Releases components, lists, saved buffers, toolbar and resizer. LevelNotify (and
  // nothing done) when already dead or never initialised.
  virtual ErrorLevel Kill();
  virtual void Open();
  virtual void OpenWindow(rt::Window& window, rt::Window* owner = nullptr);
  virtual void PrimeFields();
  virtual ErrorLevel PrimeUpdate();
  virtual void Reset(std::uint8_t force = 0);
  virtual void RestoreField(std::int32_t control);
  // Init, Ask when Init returned 0, always Kill. Returns Response, or RequestCancelled when
  // nothing set one.
  virtual std::uint8_t Run();
  virtual std::uint8_t Run(std::uint16_t number, std::uint8_t request);
  virtual void SetAlerts();
  virtual void SetResponse(std::uint8_t response);
  virtual ErrorLevel TakeAccepted();
  virtual ErrorLevel TakeCompleted();
  virtual ErrorLevel TakeCloseEvent();
  virtual ErrorLevel TakeEvent();
  virtual ErrorLevel TakeFieldEvent();
  virtual ErrorLevel TakeNewSelection();
  virtual ErrorLevel TakeNotify(std::int32_t code, std::int32_t thread, long parameter);
  virtual ErrorLevel TakeRejected();
  virtual ErrorLevel TakeSelected();
  virtual ErrorLevel TakeWindowEvent();
  virtual void Update();
  virtual void SetDisabled(std::int32_t control, bool disabled);
  virtual ErrorLevel CompleteInsert();
  virtual ErrorLevel CompleteChange();
  virtual ErrorLevel CompleteDelete();
  virtual ErrorLevel SaveChange();
  virtual ErrorLevel SaveInsert();

  void AddItem(WindowComponent& component);
  void AddButton(std::int32_t control, std::uint8_t response);
  void AddUpdateFile(FileManager& manager);
  // Sets the live record and the copy that receives it at each completion for the history
  // fields added next. Refused (LevelNotify) when either is not a usable record reference.
  ErrorLevel AddHistoryFile(const RecordReference& record, const RecordReference& copy);
  // Makes a control recallable from field `fieldNo` of the records set by AddHistoryFile; a
  // control added again takes the new field. Refused (LevelNotify) without a history file or
  // with a field number outside either record.
  ErrorLevel AddHistoryField(std::int32_t control, std::int32_t fieldNo);
  void SetResize(ResizeTarget& resizer);
  // Uses the toolbar and initialises it.
  void SetToolbar(ToolbarDispatcher& toolbar);
  void RemoveItem(WindowComponent& component);

 protected:
  // Starts the request's completion: validates every control (the accept-all pass, which
  // ends in Completed) or posts Completed.
  void PostCompletion();
  void EnableCancelButtons();
  void DisableCancelButtons();
  // Selects FirstField again (after a failed save).
  void Reselect();
  // Posts an event to this procedure's window (nothing when the window is not open).
  void PostToWindow(int event, int control = 0);
  // The primary table's file manager, or nullptr.
  FileManager* PrimaryFile() const;
  ErrorManager& ErrorsInUse() const;
  void RedisplayAndReselect();
  // Tells the user that the control's value was not taken because its field cannot hold it
  // ("Range Error", naming the field and the values it holds); false when the control's last
  // update took its value. Without a name the field goes by the prompt before the control.
  bool ReportRefusedValue(std::int32_t control, std::string_view fieldName = {});
  // Releases Saved and saves the primary record afresh.
  void SaveFormBuffer();

 private:
  // Free a saved record buffer without putting it back, and clear the id.
  virtual void ReleaseFileBuffer(FileManager& manager, std::int16_t& id);
  virtual void ReleasePrimaryBuffer(std::int16_t& id);

  // Gives the form a fresh record for the next insert after one was added.
  void PrimeNextInsert();
  // Writes the changed primary record; a record another station deleted is reported here.
  ErrorLevel UpdatePrimary();
  // The record primed for an insert was deleted by another station: offers to add it again
  // (true) or closes the form (false).
  bool AddGoneRecordAgain();
  // Re-reads the record a change starts from and watches it; false (reported) when gone.
  bool WatchCurrentRecord();
  bool IsNoRefreshEvent(int event, int control) const;
  void CopyHistoryRecords();

  std::unique_ptr<rt::BindingScope> bindingScope_;
  RecordReference historyRecord_;  // the history entry buffer's records
  RecordReference historyCopy_;
};
