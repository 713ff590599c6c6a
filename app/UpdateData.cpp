// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/UpdateData.h"

#include <memory>
#include <string>

#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/Globals.h"
#include "app/LoadBlobFromFile.h"
#include "app/ProcedureController.h"
#include "app/ViewBlob.h"
#include "framework/data/FileMessages.h"
#include "framework/error/ErrorHooks.h"
#include "framework/util/ResizeManager.h"
#include "framework/util/SelectFileManager.h"
#include "framework/window/WindowController.h"
#include "platform/pdf/PageletControl.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Window.h"

namespace {

constexpr std::uint8_t kLookupFlags = 0x10;  // long names

// The form's own messages join the error manager's table on first use.
void AddFormMessages() {
  ErrorManager& errors = GlobalErrors();
  errors.AddErrorOnce(kMsgFileNameNotKept,
                      "The table keeps a file name of at most " +
                          std::to_string(kDemoDataFileNameSize) +
                          " bytes (an accented letter or another special character takes two or "
                          "more) that does not end in a blank. This one would be kept as another "
                          "name, so the file cannot be stored:|%Message|"
                          "Rename or move the file and pick it again.",
                      "File Name Not Kept", LevelNotify);
  errors.AddErrorOnce(kMsgDocumentNotUsable,
                      "This file cannot be stored as the document.|%Message|"
                      "Pick another file, or cancel.",
                      "Document Not Stored", LevelNotify);
}

std::string Quoted(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

bool IsOtherStationChange(int code) {
  return code == rt::kRecordChangedError || code == rt::kNoRecordError;
}

class UpdateDataController : public ProcedureController {
 public:
  UpdateDataController(rt::Window& window, ToolbarDispatcher& toolbar, SelectFileManager& files,
                       rt::PageletControl& control, ResizeManager& resizer)
      : ProcedureController("UpdateData"),
        window_(window),
        toolbar_(toolbar),
        files_(files),
        control_(control),
        resizer_(resizer) {}

  void Ask() override {
    switch (Request) {
      case ViewRecord:
        caption_ = "View Record";
        break;
      case InsertRecord:
        caption_ = "Record Will Be Added";
        break;
      case ChangeRecord:
        caption_ = "Record Will Be Changed";
        break;
      default:
        break;
    }
    if (MyWindow && caption_.Length() != 0) MyWindow->SetCaption(caption_.View());
    WindowController::Ask();
  }

  ErrorLevel Init() override {
    if (ErrorLevel r = InitProcedure(); r != LevelQuiet) return r;
    AddFormMessages();
    FirstField = kUpdateDataIdPrompt;
    SetToolbar(toolbar_);
    HistoryKey = rt::key::kCtrlH;
    static_cast<void>(AddHistoryFile(RecordReference::Of(DemoData().Record(), DemoDataLayout()),
                                     RecordReference::Of(DemoDataRecall(), DemoDataLayout())));
    static_cast<void>(AddHistoryField(kUpdateDataId, kDemoDataIdField));
    static_cast<void>(AddHistoryField(kUpdateDataFileName, kDemoDataFileNameField));
    AddUpdateFile(*DemoDataFileManagerRef());
    AddButton(kUpdateDataCancel, RequestCancelled);
    // A table that does not open was reported; the form's reads then fail and say so.
    static_cast<void>(DemoDataRelationManagerRef()->Open());
    FilesOpened = 1;
    Primary = DemoDataRelationManagerRef();
    const bool viewing = Request == ViewRecord && !BatchProcessing;
    if (!viewing) {
      ChangeAction = kChangeClose;
      CancelAction = 2;  // "Changes will be lost!", no offer to save
      OKControl = kUpdateDataOk;
      // A delete ends here without opening the window.
      if (PrimeUpdate() != LevelQuiet) return LevelNotify;
    } else {
      InsertAction = kInsertStay;
      ChangeAction = kChangeStay;
      DeleteAction = kDeleteOnCompletion;
      CancelAction = 0;
      OKControl = 0;
    }
    OpenWindow(window_);
    control_.sourceTable = nullptr;
    control_.mode = rt::PageletControl::kModeWindow;
    control_.reportErrors = 1;
    control_.Init(window_, kUpdateDataRegion);
    if (viewing) {
      window_.SetReadOnly(kUpdateDataId);
      window_.SetReadOnly(kUpdateDataFileName);
      window_.Disable(kUpdateDataLookup);
      window_.Disable(kUpdateDataViewBlob);
    }
    resizer_.Init(window_, 0, 0, 0);
    SetResize(resizer_);
    files_.Init();
    files_.ClearOnCancel = 1;
    files_.Flags |= kLookupFlags;
    files_.SetMask("PDF Files", "*.pdf");
    files_.PWindowTitle = "Select File";
    SetAlerts();
    control_.reportErrors = 1;
    control_.appendOnLoad = 0;
    control_.LoadBlob(DemoData(), kDemoDataBlob);
    nameAtOpen_ = rt::ClipText(DemoDataFileName());
    return LevelQuiet;
  }

  ErrorLevel Kill() override {
    return KillProcedure([&] {
      if (FilesOpened) static_cast<void>(DemoDataRelationManagerRef()->Close());
      control_.Kill();
    });
  }

  ErrorLevel TakeAccepted() override {
    const int accepted = MyWindow ? MyWindow->Field() : 0;
    // The document goes into the BLOB before the completion the default starts, so that a
    // file that cannot be stored stops the save.
    if (accepted == kUpdateDataOk && (Request == InsertRecord || Request == ChangeRecord)) {
      Update();
      if (!CopyDocument()) {
        MyWindow->Select(kUpdateDataFileName);
        return LevelNotify;
      }
    }
    const ErrorLevel r = WindowController::TakeAccepted();
    switch (accepted) {
      case kUpdateDataLookup:
        Update();
        PickFile();
        break;
      case kUpdateDataOk:
        if (Request == ViewRecord && !BatchProcessing) {
          // Shown only: the bytes read are never written.
          Update();
          // Nothing is written afterwards, so a failed load changes nothing stored.
          static_cast<void>(LoadBlobFromFile(DemoData(), kDemoDataBlob, DemoDataFileName()));
          PostToWindow(rt::event::kCloseWindow);
        }
        break;
      case kUpdateDataViewBlob:
        Update();
        ViewBlob(DemoData(), kDemoDataBlob);
        Reset(0);
        break;
      default:
        break;
    }
    return r;
  }

  ErrorLevel TakeWindowEvent() override {
    if (MyWindow && MyWindow->Event() == rt::event::kLoseFocus) MyWindow->Select(kUpdateDataId);
    FileManager* table = DemoDataFileManagerRef();
    const bool completing = table && MyWindow && MyWindow->Event() == rt::event::kCompleted;
    if (completing) table->LastError = 0;
    const ErrorLevel r = WindowController::TakeWindowEvent();
    if (completing &&
        (table->LastError == kMsgRecordChanged || table->LastError == kMsgRecordChangedShown)) {
      ShowReloadedRecord();
    }
    if (MyWindow && MyWindow->Event() == rt::event::kResize)
      control_.FitToControl(kUpdateDataRegion);
    return r;
  }

 private:
  // "...": the chosen file's name goes into the record and the file into the view. A name
  // the record cannot keep exactly (too long, or ending in a blank) is refused rather than
  // stored as another file's name.
  void PickFile() {
    const std::string name = files_.Ask(true);
    if (!DemoDataKeepsFileName(name)) {
      static_cast<void>(GlobalErrors().ThrowMessage(kMsgFileNameNotKept, Quoted(name)));
      MyWindow->Select(kUpdateDataFileName);
      return;
    }
    if (RefuseDemoDataFile(name)) {
      MyWindow->Select(kUpdateDataFileName);
      return;
    }
    SetDemoDataFileName(name);
    MyWindow->Display();
    if (name.empty())
      control_.Clear();  // cancelled: no second dialog from the control
    else
      control_.LoadFile(name, 0);
  }

  // The save met another station's change and the record now holds that station's version:
  // the view shows its document, and that is the record the form now starts from.
  void ShowReloadedRecord() {
    control_.Clear();
    control_.LoadBlob(DemoData(), kDemoDataBlob);
    nameAtOpen_ = rt::ClipText(DemoDataFileName());
  }

  // Copies the file named in the record into its BLOB, whatever its contents: the bytes are
  // stored exactly, and the view says when it cannot show them. False (and said) when a
  // name picked or typed in this form cannot be stored: too long, a missing, unreadable,
  // empty or special file, or one of the table's own; the BLOB is then as it was. The name
  // the record held when the form opened keeps the stored bytes when its file cannot be
  // read.
  bool CopyDocument() {
    const std::string shown(rt::ClipText(MyWindow->ScreenText(kUpdateDataFileName)));
    if (shown.size() > kDemoDataFileNameSize) {
      static_cast<void>(GlobalErrors().ThrowMessage(kMsgFileNameNotKept, Quoted(shown)));
      return false;
    }
    MyWindow->Update(kUpdateDataFileName);
    const std::string name(rt::ClipText(DemoDataFileName()));
    if (name.empty()) return true;  // nothing to load: the stored bytes stay
    const bool picked = name != nameAtOpen_;
    rt::File& table = DemoData();
    std::string previous;
    std::string problem;
    if (const int e = table.GetBlobContents(kDemoDataBlob, previous); e != 0) {
      // Another station changed or deleted the record since it was read: the save that
      // follows reports that and shows what the table holds now.
      if (IsOtherStationChange(e)) return true;
      problem = "The stored document cannot be read (" + LoadErrorText(e) + ")";
    } else if (const int copied = LoadBlobFromFile(table, kDemoDataBlob, name); copied != 0) {
      if (IsOtherStationChange(copied)) return true;
      problem = "The file could not be read (" + LoadErrorText(copied) + "): " + name;
      if (table.SetBlobContents(kDemoDataBlob, previous) != rt::kNoError) {
        // The BLOB may hold part of the file: never let the save store that.
        static_cast<void>(GlobalErrors().ThrowMessage(
            kMsgDocumentNotUsable, problem + "; the stored document could not be put back"));
        return false;
      }
    }
    if (problem.empty() || !picked) return true;
    static_cast<void>(GlobalErrors().ThrowMessage(kMsgDocumentNotUsable, problem));
    return false;
  }

  rt::Window& window_;
  ToolbarDispatcher& toolbar_;
  SelectFileManager& files_;
  rt::PageletControl& control_;
  ResizeManager& resizer_;
  rt::CString<41> caption_;
  std::string nameAtOpen_;  // DEM:FileName as the form received it
};

}  // namespace

void RegisterUpdateDataWindow() {
  auto def = std::make_shared<rt::WindowDef>(kUpdateDataModule, kUpdateDataWindow, "Form DemoData");
  def->font = "MS Sans Serif";
  def->pos = {0, 0, 360, 290};
  def->Prompt("ID:").At(8, 8, 44, 10);
  def->Entry("n-14").At(60, 8, 64, 10);
  def->Prompt("File Name:").At(8, 22, 44, 10);
  def->Entry("s80").At(60, 22, 266, 10);
  def->Button("...").At(330, 21, 22, 12);
  def->Region().At(8, 38, 344, 222);
  def->Button("&OK").At(190, 268, 50, 14).Icon("WAOK.ICO").Tip("Accept data and close the window");
  def->Button("&Cancel").At(246, 268, 50, 14).Icon("WACANCEL.ICO").Tip("Cancel operation");
  def->Button("&View Blob")
      .At(302, 268, 50, 14)
      .Icon("WAOK.ICO")
      .Tip("Accept data and close the window");
  rt::RegisterWindowDef(std::move(def));
}

void UpdateData() {
  DemoDataRecall();  // the thread's recall copy starts cleared
  rt::PageletControl control;
  auto window = rt::Window::Prepare(kUpdateDataModule, kUpdateDataWindow);
  if (!window) {
    RegisterUpdateDataWindow();
    window = rt::Window::Prepare(kUpdateDataModule, kUpdateDataWindow);
  }
  if (!window) return;
  window->Bind(kUpdateDataId,
               rt::AnyRef(DemoData().Record(), DemoDataLayout().Field(kDemoDataIdField)));
  window->Bind(kUpdateDataFileName,
               rt::AnyRef(DemoData().Record(), DemoDataLayout().Field(kDemoDataFileNameField)));
  ToolbarDispatcher toolbar;
  SelectFileManager files;
  ResizeManager resizer;
  auto controller =
      std::make_unique<UpdateDataController>(*window, toolbar, files, control, resizer);
  GlobalResponse() = controller->Run();
  controller.reset();
  window.reset();
}
