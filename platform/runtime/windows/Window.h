// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// platform/runtime/windows: window definitions, windows and their controls, events and the
// per-thread event queues, list formats, popup menus, the blocking dialogs, and the UI
// backend interface (UiBackend.h) with the headless backend the tests drive.
//
// A runtime window: made from a registered definition, owned by the procedure that prepared
// it and used on that procedure's thread only. It keeps each control's state, binds controls
// to variables and queues, runs the event loop, and describes every change to the UI backend.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/values/AnyRef.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/ListFormat.h"
#include "platform/runtime/windows/UiBackend.h"
#include "platform/runtime/windows/WindowDef.h"

namespace rt {

class Queue;

class Window {
 public:
  explicit Window(std::shared_ptr<const WindowDef> def);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Prepares a window from the registry; nullptr when no such definition exists.
  static std::unique_ptr<Window> Prepare(std::string_view module, std::string_view name);

  int Id() const { return id_; }
  int Thread() const { return thread_; }
  const WindowDef& Definition() const { return *def_; }

  // Binding, before or after opening.
  void Bind(int control, AnyRef use);
  void BindList(int control, const Queue* queue);

  // Opens the window: it becomes the active window of its thread, windows under it on the
  // thread take no input until it closes, and an OpenWindow event is queued.
  bool Open(Window* owner = nullptr);
  // Opens the window owned by a window given by its id, which may belong to another thread
  // (0: owned as Open() without an owner would make it).
  bool OpenOver(int ownerId);
  bool IsOpen() const { return open_; }
  // Queues the event for this window on its thread (with the control, 0 for none); nothing
  // is queued while the window is closed. Returns whether it was queued.
  bool Post(int event, int control = 0) const;
  // Closes at once; the event loop ends.
  void Close();

  // Runs the event loop: `handler` is called for every event and returns -1 (leave the
  // loop, closing the window), 1 (the event is handled: no default action) or 0 (carry on
  // with the runtime's default action). Returns when the window has closed.
  void EventLoop(const std::function<int()>& handler);
  // Ends the innermost running event loop after the current event without closing the
  // window (a loop run inside another one's handler hands back to it).
  void LeaveEventLoop() { leave_ = true; }

  // The event being handled, its control, the key code, the accepted control.
  int Event() const { return event_; }
  int Field() const { return field_; }
  int KeyCode() const { return keyCode_; }
  void SetKeyCode(int code) { keyCode_ = code; }
  int Accepted() const { return event_ == event::kAccepted ? field_ : 0; }
  int FocusField() const { return focus_; }
  // The message of the event being handled: the payload of a Notify, the files of a
  // DroppedFiles event.
  const EventMessage& Current() const { return current_; }

  // Copies bound variables to the screen (control 0: every control).
  void Display(int control = 0);
  // Between HoldChanges(true) and the matching HoldChanges(false) (calls nest), changed
  // controls are sent to the screen once, in their final state, when the hold ends.
  void HoldChanges(bool hold);
  // Copies screen values into bound variables (control 0: every control). A value its
  // variable cannot take (text its picture cannot read, a number the field cannot hold, a
  // number left blank) is not written; returns the first such control, 0 when all were taken.
  int Update(int control = 0);
  // Why the control's last update took nothing (FieldFit::Fits when it took its value).
  FieldFit Refusal(int control) const;
  // The values the control's variable holds, for telling the user: "-2147483648 to
  // 2147483647", dates and times through the control's picture; empty for a text.
  std::string ValueRange(int control) const;
  // Focuses a control (a prompt or a string hands the focus on to the next control that
  // takes input); control 0 runs the accept-all pass: every enterable control is
  // accepted in order, then Completed is raised. Selecting a control during the pass ends it.
  void Select(int control = 0);
  bool AcceptAllMode() const { return acceptAll_; }

  // Control state.
  bool Exists(int control) const;
  int Type(int control) const;
  std::string Prop(int control, int property) const;
  void SetProp(int control, int property, std::string_view value);
  long PropNumber(int control, int property) const;
  void SetProp(int control, int property, long value);
  void Disable(int control, bool disabled = true);
  void Hide(int control, bool hidden = true);
  void SetReadOnly(int control, bool readOnly = true);
  Rect Position(int control) const;  // control 0: the window
  void SetPosition(int control, const Rect& pos);
  int Choice(int control) const;
  void SetChoice(int control, int row);
  const std::vector<ListColumn>& Columns(int control) const;
  // The text colour of a list column (1-based); kColorNone for one that has no column.
  long ColumnColor(int control, int column) const;
  void SetColumnColor(int control, int column, long color);
  std::string ScreenText(int control) const;
  void SetCaption(std::string_view caption);
  const std::string& Caption() const { return caption_; }
  // Alerts a key on a control (control 0: the window).
  void Alert(int control, int keyCode);
  // Removes one alert of the key from the control; returns the 1-based slot it held (0: it
  // was not alerted).
  int RemoveAlert(int control, int keyCode);
  void ClearAlerts(int control);
  bool IsAlerted(int control, int keyCode) const;
  // A list whose rows are asked for when it is drawn instead of read from a queue: the
  // source gets (row, column); row -1 asks for the number of rows, rows from 1 and columns
  // from 1 for a cell's text. The list is redrawn at once and at every Display of it.
  using ListSource = std::function<std::string(int row, int column)>;
  void SetListSource(int control, ListSource source);
  // Registers a callback for a window event (one that concerns no control) on this window,
  // under a key that identifies the registrant. Callbacks run, in registration order, before
  // the event loop's handler; one answering non-zero marks the event handled, so the handler
  // does not see it. Registering the same (event, key) again replaces the callback.
  void RegisterEvent(int event, const void* key, std::function<int()> callback);
  void UnregisterEvent(int event, const void* key);
  // Creates a control at run time and returns its number; DestroyControl removes one.
  int CreateControl(int type, int parent = 0, std::string text = {});
  // Places a control over a cell of a list: the column (1-based) of the list's selected row.
  // The control keeps to that cell; the desktop moves it with the list when the list
  // scrolls or is resized. Column 0 frees it.
  void PlaceOverCell(int control, int list, int column);
  // A control's picture (entries made at run time have none).
  void SetPicture(int control, std::string picture);
  void DestroyControl(int control);
  std::vector<int> ControlNumbers() const;

  // The active (topmost open) window of the calling thread, or nullptr.
  static Window* Active();
  // The open window of the calling thread with that id, or nullptr.
  static Window* FindOpen(int windowId);

 private:
  struct Control;
  Control* Find(int control);
  const Control* Find(int control) const;
  // The control that takes the focus when `control` is selected.
  int FocusTarget(int control) const;
  ControlView ViewOf(const Control& c) const;
  void FillView(const Control& c, ControlView& v) const;
  WindowView ViewOfWindow() const;
  void Publish(const Control& c);
  // Takes what the screen reported into its control; the control's number when it took
  // something to send back, else 0.
  int ApplyScreenInput(const EventMessage& m);
  void DefaultAction(const EventMessage& m);
  // Rebuilds a list's rows from its queue or source; false when they cannot have changed.
  bool RefreshList(Control& c);
  // Copies one control's screen value into its variable; false (nothing written, the reason
  // kept for Refusal) when the variable cannot take it.
  bool UpdateControl(Control& c);
  void SetEnabled(bool enabled);
  void SetWindowProp(int property, std::string_view value);
  // A client size limit in dialog units (0: none).
  int SizeLimit(int property) const;
  // Publishes the control changes held back while moves were deferred.
  void FlushDeferred();

  struct Registration {
    int event = 0;
    const void* key = nullptr;
    std::function<int()> callback;
  };

  std::shared_ptr<const WindowDef> def_;
  std::vector<std::unique_ptr<Control>> controls_;
  int id_ = 0;
  int thread_ = 0;
  int ownerId_ = 0;
  Window* below_ = nullptr;  // the window under this one on the same thread
  std::string caption_;
  Rect pos_;
  bool open_ = false;
  bool enabled_ = true;
  bool acceptAll_ = false;
  bool leave_ = false;
  int event_ = 0;
  int field_ = 0;
  int keyCode_ = 0;
  int focus_ = 0;
  EventMessage current_;
  std::vector<int> windowAlerts_;
  std::map<int, std::string> windowProps_;
  int nextRuntimeControl_ = 0;
  std::vector<Registration> registrations_;
  // Moves are deferred while kDeferMove is positive; the controls changed meanwhile are
  // published when it drops back.
  bool deferring_ = false;
  int holds_ = 0;
  std::vector<int> deferred_;
};

}  // namespace rt
