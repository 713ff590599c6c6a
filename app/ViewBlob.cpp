// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ViewBlob.h"

#include <memory>
#include <string>

#include "app/DemoData.h"
#include "app/DemoDataRelationManager.h"
#include "app/FindText.h"
#include "app/Globals.h"
#include "app/ProcedureController.h"
#include "framework/error/ErrorHooks.h"
#include "framework/error/ErrorManager.h"
#include "framework/util/ResizeManager.h"
#include "framework/window/WindowController.h"
#include "platform/pdf/PageletControl.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/pdf/PdfViewState.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Window.h"

namespace {

constexpr char kModule[] = "PageletDemo$PageletDemo001";
constexpr char kWindow[] = "P1$WINDOW";
constexpr std::size_t kFindStackSize = 25000;

// The text the control gives for a selector pair; `length` as the control reported it.
std::string ControlText(rt::PageletControl& control, std::int32_t length, int scope, int which) {
  if (length <= 0) return {};
  std::string buffer(static_cast<std::size_t>(length), '\0');
  const std::int32_t got = control.GetText(length, buffer.data(), scope, which);
  buffer.resize(static_cast<std::size_t>(std::max(0, got)));
  return buffer;
}

class ViewBlobController : public ProcedureController {
 public:
  ViewBlobController(rt::Window& window, ToolbarDispatcher& toolbar, ResizeManager& resizer,
                     rt::PageletControl& control, rt::File& table, std::int16_t blob,
                     const ViewBlobStart* start)
      : ProcedureController("ViewBlob"),
        window_(window),
        toolbar_(toolbar),
        resizer_(resizer),
        control_(control),
        table_(table),
        blob_(blob),
        start_(start) {}

  ErrorLevel Init() override {
    if (ErrorLevel r = InitProcedure(); r != LevelQuiet) return r;
    FirstField = kViewBlobRegion;
    SetToolbar(toolbar_);
    if (DemoDataRelationManager* relations = DemoDataRelationManagerRef()) {
      // A table that does not open was reported; the form's reads then fail and say so.
      static_cast<void>(relations->Open());
      FilesOpened = 1;
    }
    OpenWindow(window_);
    control_.mode = rt::PageletControl::kModeWindow;
    control_.Init(window_, kViewBlobRegion, 1, 1, 0, 1, "", "");
    resizer_.Init(window_, 0, 0, 0);
    SetResize(resizer_);
    SetAlerts();
    control_.sourceTable = nullptr;
    if (control_.LoadBlob(table_, blob_) && start_) ShowStart();
    return LevelQuiet;
  }

  ErrorLevel TakeAccepted() override {
    const int item = MyWindow ? MyWindow->Accepted() : 0;
    RunCommand(item);
    const ErrorLevel r = WindowController::TakeAccepted();
    if (item == kViewBlobFindText) {
      Update();
      rt::Start(FindText, kFindStackSize, {control_.Argument()});
      Reset(0);
    }
    return r;
  }

  ErrorLevel TakeWindowEvent() override {
    const ErrorLevel r = WindowController::TakeWindowEvent();
    if (MyWindow && MyWindow->Event() == rt::event::kResize)
      control_.FitToControl(static_cast<std::int16_t>(kViewBlobRegion));
    return r;
  }

  ErrorLevel Kill() override {
    return KillProcedure([&] {
      if (FilesOpened)
        if (DemoDataRelationManager* relations = DemoDataRelationManagerRef())
          static_cast<void>(relations->Close());
      control_.Kill();
    });
  }

 private:
  void RunCommand(int item) {
    switch (item) {
      case kViewBlobOpen:
        control_.LoadFile("", 1);
        break;
      case kViewBlobAppend:
        control_.AppendFile("", 1);
        break;
      case kViewBlobClear:
        control_.Clear();
        break;
      case kViewBlobPrint:
        control_.Print(1, 0, 1, 1, 0);
        break;
      case kViewBlobZoom100:
        control_.Zoom(rt::PdfViewState::kZoom100);
        break;
      case kViewBlobZoomIn:
        control_.Zoom(rt::PdfViewState::kZoomIn);
        break;
      case kViewBlobZoomOut:
        control_.Zoom(rt::PdfViewState::kZoomOut);
        break;
      case kViewBlobFullWidth:
        control_.Zoom(rt::PdfViewState::kZoomFullWidth);
        break;
      case kViewBlobFullPage:
        control_.Zoom(rt::PdfViewState::kZoomFullPage);
        break;
      case kViewBlobTwoPages:
        control_.Zoom(rt::PdfViewState::kZoomTwoPages);
        break;
      case kViewBlobDisablePrint:
        control_.SetPrintOption(123);
        break;
      case kViewBlobHighQuality:
        control_.SetPrintOption(124);
        break;
      case kViewBlobSelectPrinter:
        control_.SetPrintOption(125);
        break;
      case kViewBlobDcPrint:
        control_.SetPrintOption(126);
        break;
      case kViewBlobPageCount:
        rt::Message(std::to_string(control_.PageCount()));
        break;
      case kViewBlobPageTextLength:
        rt::Message("1st Page Text Length = " + std::to_string(control_.TextLength(2, 0)));
        break;
      case kViewBlobPageText: {
        const std::int32_t length = control_.TextLength(1, 0);
        rt::Message(
            std::string(rt::TrimRight(ControlText(control_, length, 1, 0), rt::kWhitespace)),
            "1st page");
        break;
      }
      case kViewBlobDocumentTextLength:
        rt::Message("Document Text Length = " + std::to_string(control_.TextLength(0, 1)));
        break;
      case kViewBlobDocumentText: {
        const std::int32_t length = control_.TextLength(0, 1);
        ControlText(control_, length, 0, 1);
        rt::Stop("text retrieved");
        break;
      }
      case kViewBlobProperties:
        control_.ShowProperties();
        break;
      case kViewBlobAbout:
        control_.About();
        break;
      default:
        break;
    }
  }

  // Finds the start text, highlighted, and moves on from match to match until the current
  // one is on the start page; with no match there, the view goes to the page.
  void ShowStart() {
    const std::shared_ptr<rt::PdfEngine> engine = control_.Engine();
    if (!engine) return;
    int found = control_.FindText(start_->text, 1, 0, 1, 0);
    for (int step = 0; found > 0 && step < found; ++step) {
      const std::vector<rt::PdfMatch> matches = engine->Matches();
      const int current = engine->CurrentMatch();
      if (current >= 0 && current < static_cast<int>(matches.size()) &&
          matches[current].page == start_->page)
        return;
      found = control_.FindText(start_->text, 1, 1, 1, 0);
    }
    engine->GoToPage(start_->page);
  }

  rt::Window& window_;
  ToolbarDispatcher& toolbar_;
  ResizeManager& resizer_;
  rt::PageletControl& control_;
  rt::File& table_;
  std::int16_t blob_;
  const ViewBlobStart* start_;
};

}  // namespace

void RegisterViewBlobWindow() {
  if (rt::FindWindowDef(kModule, kWindow)) return;
  auto def = std::make_shared<rt::WindowDef>(kModule, kWindow, "Pagelet DEMO");
  def->font = "MS Sans Serif";
  def->pos = {0, 0, 420, 300};
  def->MenuBar();      // -1
  def->Menu("&File");  // -2
  def->Item("&Open");
  def->Item("&Append");
  def->Item("&Clear");
  def->Item("&Print");
  def->Separator();   // -7
  def->Menu("Zoom");  // -8
  def->Item("&100%");
  def->Item("Zoom&In");
  def->Item("Zoom&Out");
  def->Item("Full &Width");
  def->Item("Full &Page");
  def->Item("&Two Pages");
  def->EndMenu();
  def->Menu("&Disable");  // -15
  def->Item("&Print");
  def->Item("&High Quality Print");
  def->Item("&Select Printer");
  def->Item("&DC Print");
  def->EndMenu();
  def->Separator();  // -20
  def->Item("&Exit").Action(rt::StandardAction::Close);
  def->EndMenu();
  def->Menu("&Info");  // -22
  def->Item("&Page Count");
  def->Item("&Page Text Length");
  def->Item("Page Text");
  def->Item("&Document Text Length");
  def->Item("Document &Text");
  def->Item("&Find Text");
  def->EndMenu();
  def->Menu("&Help");  // -29
  def->Item("&Document Properties");
  def->Item("&About");
  def->EndMenu();
  def->EndMenu();
  def->Region().At(4, 4, 412, 270);  // 1
  def->Button("&Close")
      .At(360, 280, 56, 14)
      .Icon("WACancel.ico")
      .Action(rt::StandardAction::Close);  // 2
  rt::RegisterWindowDef(std::move(def));
}

namespace {

void RunViewer(rt::File& table, std::int16_t blob, const ViewBlobStart* start) {
  RegisterViewBlobWindow();
  RegisterFindTextWindow();
  auto control = std::make_unique<rt::PageletControl>();
  auto window = rt::Window::Prepare(kModule, kWindow);
  if (!window) return;
  ToolbarDispatcher toolbar;
  auto resizer = std::make_unique<ResizeManager>();
  auto controller = std::make_unique<ViewBlobController>(*window, toolbar, *resizer, *control,
                                                         table, blob, start);
  GlobalResponse() = controller->Run();
  resizer.reset();
  controller.reset();
  window.reset();
  control.reset();
}

}  // namespace

void ViewBlob(rt::File& table, std::int16_t blob) {
  RunViewer(table, blob, nullptr);
}

void ViewBlob(rt::File& table, std::int16_t blob, const ViewBlobStart& start) {
  RunViewer(table, blob, &start);
}
