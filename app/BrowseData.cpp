// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/BrowseData.h"

#include <cstring>
#include <memory>
#include <string>

#include "app/DemoData.h"
#include "app/DemoDataRelationManager.h"
#include "app/DocumentImport.h"
#include "app/Globals.h"
#include "app/ProcedureController.h"
#include "app/UpdateData.h"
#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLocator.h"
#include "framework/browse/StepLong.h"
#include "framework/error/ErrorHooks.h"
#include "framework/util/ResizeManager.h"
#include "framework/window/RequestCodes.h"
#include "framework/window/ToolbarDispatcher.h"
#include "framework/window/WindowController.h"
#include "platform/pdf/PageletControl.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Progress.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

constexpr char kListFormat[] = "64R(2)|M~ID~C(0)@n-14@80L(2)|M~File Name~L(2)@s80@";

// Fields of the list queue.
constexpr int kQueueId = 1;
constexpr int kQueueFileName = 2;
constexpr int kQueuePosition = 4;

rt::RecordLayout ListQueueLayout() {
  rt::RecordLayout layout("BrowseDataQueue");
  layout.AddField("DEM:ID", rt::FieldType::Long);
  layout.AddField("DEM:FileName", rt::FieldType::String, kDemoDataFileNameSize);
  layout.AddField("Mark", rt::FieldType::Byte);
  layout.AddField("ViewPosition", rt::FieldType::String, kPositionFieldSize);
  return layout;
}

// Builds a view control as the browse uses it: the engine library named, shown in a window.
void PrepareControl(rt::PageletControl& control) {
  std::strncpy(control.engineLibrary, rt::PageletControl::kEngineLibrary,
               sizeof control.engineLibrary - 1);
  control.mode = rt::PageletControl::kModeWindow;
}

class BrowseDataBrowse : public BrowseManager {
 public:
  explicit BrowseDataBrowse(rt::Queue& queue) : queue_(queue) {}

  ErrorLevel InitBrowse(rt::View& view, WindowController& controller) {
    const ErrorLevel r = BrowseManager::Init(
        kBrowseDataList, queue_.Field(kQueuePosition).Address(), kPositionFieldSize, view, queue_,
        *DemoDataRelationManagerRef(), controller);
    if (controller.Request != ViewRecord) {
      InsertControl = kBrowseDataInsert;
      ChangeControl = kBrowseDataChange;
      DeleteControl = kBrowseDataDelete;
    }
    return r;
  }

  void SetAlerts() override { BrowseManager::SetAlerts(); }

 private:
  rt::Queue& queue_;
};

class BrowseDataController : public ProcedureController {
 public:
  BrowseDataController(rt::Window& window, ToolbarDispatcher& toolbar, rt::View& view,
                       rt::Queue& queue, BrowseDataBrowse& browse, StepLong& step,
                       StepLocator& locator, ResizeManager& resizer, rt::PageletControl& shown,
                       rt::PageletControl& windowless)
      : ProcedureController("BrowseData"),
        window_(window),
        toolbar_(toolbar),
        view_(view),
        queue_(queue),
        browse_(browse),
        step_(step),
        locator_(locator),
        resizer_(resizer),
        shown_(shown),
        windowless_(windowless) {}

  ErrorLevel Init() override {
    if (ErrorLevel r = InitProcedure(); r != LevelQuiet) return r;
    FirstField = kBrowseDataList;
    SetToolbar(toolbar_);
    AddButton(kBrowseDataClose, Request == SelectRecord ? RequestCancelled : RequestCompleted);
    // A table that does not open was reported; the form's reads then fail and say so.
    static_cast<void>(DemoDataRelationManagerRef()->Open());
    FilesOpened = 1;
    // The browse shows its own failures; its list then stays empty.
    static_cast<void>(browse_.InitBrowse(view_, *this));
    OpenWindow(window_);
    shown_.mode = rt::PageletControl::kModeWindow;
    windowless_.mode = rt::PageletControl::kModeWindow;
    shown_.Init(window_, kBrowseDataRegion);
    window_.BindList(kBrowseDataList, &queue_);
    step_.Init(1);
    browse_.AddSortOrder(&step_, &DemoDataIdKey());
    locator_.Init(0, rt::AnyRef(DemoData().Record(), DemoDataLayout().Field(kDemoDataIdField)),
                  true, browse_);
    browse_.AddLocator(&locator_);
    browse_.AddField(rt::AnyRef(DemoData().Record(), DemoDataLayout().Field(kDemoDataIdField)),
                     queue_.Field(kQueueId));
    browse_.AddField(
        rt::AnyRef(DemoData().Record(), DemoDataLayout().Field(kDemoDataFileNameField)),
        queue_.Field(kQueueFileName));
    resizer_.Init(window_, 2, 1, 0);
    // The sheet with the list and the document view stand side by side and share the width
    // the window gains: the sheet grows by half of it, the view moves right by that half
    // and takes the rest, so neither runs into the other.
    resizer_.SetStrategy(kBrowseDataSheet, PosFixLeft | PosFixTop, SizeHalfRight | SizeFixBottom);
    resizer_.SetStrategy(kBrowseDataRegion, PosCentreX | PosFixTop, SizeFixRight | SizeFixBottom);
    SetResize(resizer_);
    browse_.AskProcedure = 1;
    SetAlerts();
    return LevelQuiet;
  }

  ErrorLevel Kill() override {
    return KillProcedure([&] {
      if (FilesOpened) static_cast<void>(DemoDataRelationManagerRef()->Close());  // never fails
      shown_.Kill();
    });
  }

  using WindowController::Run;

  // Insert, change and delete from the list run the document form on this thread.
  std::uint8_t Run(std::uint16_t, std::uint8_t request) override {
    if (Request == ViewRecord) return RequestCancelled;
    GlobalRequest() = request;
    UpdateData();
    shownValid_ = false;  // the form may have changed the row: show it afresh
    return GlobalResponse();
  }

  ErrorLevel TakeAccepted() override {
    switch (MyWindow ? MyWindow->Accepted() : 0) {
      case kBrowseDataQuickView:
        if (RefuseDemoDataFile(DemoDataFileName())) break;
        windowless_.reportErrors = 0;
        windowless_.ShowFile(rt::ClipText(DemoDataFileName()));
        break;
      case kBrowseDataPrint:
        if (RefuseDemoDataFile(DemoDataFileName())) break;
        windowless_.PrintFile(rt::ClipText(DemoDataFileName()));
        break;
      default:
        break;
    }
    return WindowController::TakeAccepted();
  }

  ErrorLevel TakeNewSelection() override {
    const ErrorLevel r = WindowController::TakeNewSelection();
    if (!MyWindow || MyWindow->Field() != kBrowseDataList) return r;
    // Loading runs on this thread: while the highlight is still moving (another new
    // selection of the list is waiting), only the last row's document is loaded.
    if (rt::MyEvents().Holds(rt::event::kNewSelection, kBrowseDataList)) return r;
    const int choice = MyWindow->Choice(kBrowseDataList);
    if (choice > 0 && queue_.Get(choice)) {
      const double id = queue_.Field(kQueueId).Number();
      const std::string name(rt::ClipText(queue_.Field(kQueueFileName).Text()));
      // A new selection that leaves the highlight on the row shown (a key at the end of the
      // list, a refill) reloads nothing.
      if (shownValid_ && id == shownId_ && name == shownName_) return r;
      shownValid_ = true;
      shownId_ = id;
      shownName_ = name;
      // The load replaces the document shown, so the old page stays on screen until the new
      // one is drawn. A row stored without a file name shows an empty view: the control
      // would otherwise ask the user for a file on every highlight. Nor is one of the
      // table's own files shown (see IsDemoDataFile).
      if (!name.empty() && !IsDemoDataFile(name))
        shown_.LoadFile(name, 0);
      else
        shown_.Clear();
    }
    return r;
  }

  // Files dropped from the desktop on the list or the view become new rows.
  ErrorLevel TakeFieldEvent() override {
    if (!MyWindow || MyWindow->Event() != rt::event::kDroppedFiles || Request == ViewRecord)
      return WindowController::TakeFieldEvent();
    DocumentImport import;
    rt::Progress progress;
    import.Run(MyWindow->Current().files, progress);
    std::uint8_t request = InsertRecord;
    std::uint8_t response = import.Stored > 0 ? RequestCompleted : RequestCancelled;
    browse_.ResetFromAsk(request, response);  // the last row stored is highlighted
    import.Report();
    return LevelNotify;
  }

  // The view follows its region as the window resizes.
  ErrorLevel TakeWindowEvent() override {
    const ErrorLevel r = WindowController::TakeWindowEvent();
    if (MyWindow && MyWindow->Event() == rt::event::kResize) shown_.FitToControl(kBrowseDataRegion);
    return r;
  }

 private:
  rt::Window& window_;
  ToolbarDispatcher& toolbar_;
  rt::View& view_;
  rt::Queue& queue_;
  BrowseDataBrowse& browse_;
  StepLong& step_;
  StepLocator& locator_;
  ResizeManager& resizer_;
  rt::PageletControl& shown_;
  rt::PageletControl& windowless_;
  bool shownValid_ = false;  // the row (ID and file) whose document the view was last given
  double shownId_ = 0;
  std::string shownName_;
};

}  // namespace

void RegisterBrowseDataWindow() {
  auto def =
      std::make_shared<rt::WindowDef>(kBrowseDataModule, kBrowseDataWindow, kBrowseDataCaption);
  def->font = "MS Sans Serif";
  def->pos = {0, 0, 440, 250};
  def->List(kListFormat)
      .At(8, 20, 196, 172)
      .VScroll()
      .TakesFiles()
      .Tip("Browsing the DemoData file");
  def->Button("&Insert").At(8, 196, 60, 14).Icon("WAINSERT.ICO").Tip("Insert a Record");
  def->Button("&Change").At(76, 196, 60, 14).Icon("WACHANGE.ICO").Tip("Change the Record");
  def->Button("&Delete").At(144, 196, 60, 14).Icon("WADELETE.ICO").Tip("Delete the Record");
  def->Sheet().At(4, 4, 208, 212);  // its page holds the list and the buttons under it
  def->Tab("&1) ID_Key");
  def->EndSheet();
  def->Button("&Quick View").At(4, 230, 60, 14).Icon("wizcnvt.ico").Tip("View Record");
  def->Button("&Close").At(152, 230, 60, 14).Icon("WACLOSE.ICO").Tip("Close Window");
  def->Button("&Print").At(78, 230, 60, 14).Tip("View Record");
  def->Region().At(218, 4, 216, 240).TakesFiles();
  rt::RegisterWindowDef(std::move(def));
}

void BrowseData() {
  if (DemoDataRelationManagerRef() == nullptr) return;
  // The thread's own view over its table, registered on its first use; thread end frees it.
  rt::View& view = DemoDataView();
  rt::PageletControl windowless;
  PrepareControl(windowless);
  auto shown = std::make_unique<rt::PageletControl>();
  PrepareControl(*shown);
  auto queue = std::make_unique<rt::Queue>(ListQueueLayout());
  auto window = rt::Window::Prepare(kBrowseDataModule, kBrowseDataWindow);
  if (!window) {
    RegisterBrowseDataWindow();
    window = rt::Window::Prepare(kBrowseDataModule, kBrowseDataWindow);
  }
  if (!window) return;
  window->BindList(kBrowseDataList, queue.get());
  ToolbarDispatcher toolbar;
  auto browse = std::make_unique<BrowseDataBrowse>(*queue);
  browse->UsePopup = 1;
  browse->EditViaPopup = 1;
  browse->UseWaitCursor = 1;
  StepLong step;
  auto locator = std::make_unique<StepLocator>();
  auto resizer = std::make_unique<ResizeManager>();
  auto controller = std::make_unique<BrowseDataController>(
      *window, toolbar, view, *queue, *browse, step, *locator, *resizer, *shown, windowless);
  GlobalResponse() = controller->Run();
  resizer.reset();
  locator.reset();
  browse->Kill();
  browse.reset();
  controller.reset();
  window.reset();
  shown.reset();
  queue.reset();
}
