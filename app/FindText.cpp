// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FindText.h"

#include <memory>
#include <string>

#include "app/Globals.h"
#include "app/ProcedureController.h"
#include "framework/error/ErrorHooks.h"
#include "framework/error/ErrorManager.h"
#include "framework/window/WindowController.h"
#include "platform/pdf/PageletControl.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/windows/Window.h"

namespace {

constexpr char kModule[] = "PageletDemo$PageletDemo002";
constexpr char kWindow[] = "P1$WINDOW";

// The dialog's variables, bound to its entry and check boxes.
struct FindTextData {
  std::string argument;
  rt::FixedString<rt::PageletControl::kMaxFindText> text;
  std::uint8_t caseInsensitive = 1;
  std::uint8_t dontGoToPage = 0;
  std::uint8_t highlight = 1;
};

// The dialog's own messages join the error manager's table on first use.
void AddFindMessages() {
  ErrorManager& errors = GlobalErrors();
  errors.AddErrorOnce(kMsgFindNoMatch, "The text was not found in the document:|%Message", "Find",
                      LevelNotify);
  errors.AddErrorOnce(kMsgFindViewerClosed,
                      "The document viewer this dialog searched has been closed.|"
                      "Close this dialog and open Find Text from a viewer.",
                      "Find", LevelNotify);
}

class FindTextController : public ProcedureController {
 public:
  FindTextController(rt::Window& window, ToolbarDispatcher& toolbar, FindTextData& data)
      : ProcedureController("FindText"), window_(window), toolbar_(toolbar), data_(data) {}

  ErrorLevel Init() override {
    // A control that has gone (or an argument that names none) leaves the link empty: the
    // dialog still opens, and its buttons find nothing.
    link_ = rt::PageletControl::FromArgument(data_.argument);
    if (ErrorLevel r = InitProcedure(); r != LevelQuiet) return r;
    AddFindMessages();
    FirstField = 1;
    SetToolbar(toolbar_);
    AddButton(kFindTextClose, Request == SelectRecord ? RequestCancelled : RequestCompleted);
    OpenWindow(window_);
    SetAlerts();
    return LevelQuiet;
  }

  ErrorLevel TakeAccepted() override {
    const int accepted = MyWindow ? MyWindow->Accepted() : 0;
    if (accepted == kFindTextFind || accepted == kFindTextFindNext) {
      MyWindow->Update();
      const int found = link_ ? link_->FindText(data_.text.View(), data_.highlight,
                                                accepted == kFindTextFindNext ? 1 : 0,
                                                data_.caseInsensitive, data_.dontGoToPage)
                              : 0;
      // A search that finds nothing says why, rather than leaving the view as it was.
      const std::string text(rt::ClipText(data_.text.View()));
      if (link_ == nullptr || !link_->Alive()) {
        static_cast<void>(GlobalErrors().ThrowMessage(kMsgFindViewerClosed, text));
      } else if (found == 0 && !text.empty()) {
        static_cast<void>(GlobalErrors().ThrowMessage(kMsgFindNoMatch, text));
      }
    }
    return WindowController::TakeAccepted();
  }

 private:
  rt::Window& window_;
  ToolbarDispatcher& toolbar_;
  FindTextData& data_;
  std::shared_ptr<rt::PageletControl::Link> link_;
};

}  // namespace

void RegisterFindTextWindow() {
  if (rt::FindWindowDef(kModule, kWindow)) return;
  auto def = std::make_shared<rt::WindowDef>(kModule, kWindow, "Find ");
  def->font = "MS Sans Serif";
  def->pos = {0, 0, 230, 74};
  def->resizable = false;
  def->Prompt("Text To Find:").At(6, 8, 50, 10);      // 1
  def->Entry("s128").At(58, 6, 166, 12);              // 2
  def->Button("Find").At(6, 24, 50, 14).Default();    // 3
  def->Button("Find Next").At(62, 24, 50, 14);        // 4
  def->Check("Case Insensitive").At(6, 44, 72, 10);   // 5
  def->Check("Don't go to page").At(82, 44, 72, 10);  // 6
  def->Check("Highlight").At(160, 44, 60, 10);        // 7
  def->Button("Close").At(174, 24, 50, 14);           // 8
  rt::RegisterWindowDef(std::move(def));
}

void FindText(const std::vector<std::string>& args) {
  RegisterFindTextWindow();
  FindTextData data;
  if (!args.empty()) data.argument = args.front();
  data.text.Clear();
  data.caseInsensitive = 1;
  data.dontGoToPage = 0;
  data.highlight = 1;
  auto window = rt::Window::Prepare(kModule, kWindow);
  if (!window) return;
  window->Bind(kFindTextEntry, data.text.Ref());
  window->Bind(kFindTextCaseInsensitive, rt::AnyRef::Of(data.caseInsensitive));
  window->Bind(kFindTextDontGoToPage, rt::AnyRef::Of(data.dontGoToPage));
  window->Bind(kFindTextHighlight, rt::AnyRef::Of(data.highlight));
  ToolbarDispatcher toolbar;
  auto controller = std::make_unique<FindTextController>(*window, toolbar, data);
  GlobalResponse() = controller->Run();
  controller.reset();
  window.reset();
}
