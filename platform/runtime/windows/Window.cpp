// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/Window.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Picture.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/ControlWatch.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"

namespace rt {

struct Window::Control {
  ControlDef def;
  AnyRef use;
  const Queue* queue = nullptr;
  ListSource source;
  std::vector<ListColumn> columns;
  std::string screenText;
  // The text Display last put on the screen, and why the last Update took nothing.
  std::string shown;
  FieldFit refusal = FieldFit::Fits;
  int value = 0;
  int choice = 0;
  int thumb = 0;
  std::map<int, std::string> props;
  // The list columns' parsed pictures, by column, and the picture texts they were parsed
  // from: a refill parses a picture again only when its column's picture changed.
  std::vector<std::optional<Picture>> pictures;
  std::vector<std::string> pictureTexts;
  // The queue the rows were last filled from and its change number then: while both stay
  // the same, so do the rows.
  const Queue* filledFrom = nullptr;
  std::uint64_t filledChanges = 0;
  int cellList = 0;
  int cellColumn = 0;
  int cellRow = 0;
  // The control as sent to the backend, refilled in place for each send (a change made while
  // it is being sent goes out in a view of its own). A list's rows are built right here, so
  // that a send does not copy them.
  mutable ControlView view;
  // Counts the times the control was sent (or held back to be sent).
  mutable std::uint64_t sends = 0;
  mutable bool publishing = false;
};

namespace {

std::atomic<int> gNextWindowId{1};

// The open windows of the calling thread, the active one last.
std::vector<Window*>& ThreadWindows() {
  thread_local std::vector<Window*> windows;
  return windows;
}

// Control texts come from fixed-width, blank- or zero-padded fields.
std::string_view Unpadded(std::string_view s) {
  std::size_t end = s.size();
  // Eight bytes at a time while they are all blanks or zeros: a wide field is mostly padding.
  constexpr std::uint64_t kNotPadding = ~0x2020202020202020ULL;
  while (end >= 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + end - 8, 8);
    if ((word & kNotPadding) != 0) break;
    end -= 8;
  }
  while (end > 0 && (s[end - 1] == ' ' || s[end - 1] == '\0'))
    --end;
  return s.substr(0, end);
}

// A field's text as ReadText gives it, seen in place for text fields.
std::string_view FieldText(const FieldDesc& f, const void* row, std::string& scratch) {
  const char* p = static_cast<const char*>(row) + f.offset;
  if (f.type == FieldType::String) return std::string_view(p, f.size);
  if (f.type == FieldType::CString) return std::string_view(p, strnlen(p, f.size));
  scratch = ReadText(f, row);
  return scratch;
}

// A list cell: the value through its column's picture, without trailing blanks. A string
// picture only cuts and pads, and the padding goes again, so it is applied as a cut.
void CellText(const std::optional<Picture>& picture, std::string_view value, std::string& out) {
  if (!picture) {
    out.assign(Unpadded(value));
  } else if (picture->kind == PictureKind::String) {
    out.assign(Unpadded(picture->width > 0 ? value.substr(0, picture->width) : value));
  } else {
    out.assign(Unpadded(picture->Format(value)));
  }
}

// Field types held as a whole number (a decimal has places, a real a fraction).
bool IsInteger(FieldType type) {
  return IsNumeric(type) && type != FieldType::Decimal && type != FieldType::Real;
}

bool TakesText(int type) {
  return type == ctl::kEntry || type == ctl::kText || type == ctl::kSpin || type == ctl::kCombo ||
         type == ctl::kDropList;
}

bool TakesValue(int type) {
  return type == ctl::kCheck || type == ctl::kOption || type == ctl::kRadio;
}

// The rows a list of the height shows below its header line, if any column has a header.
int ListRows(const std::vector<ListColumn>& columns, int height) {
  bool header = false;
  for (const ListColumn& column : columns)
    header = header || !column.header.empty();
  return std::max(0, (height - (header ? kListHeaderHeight : 0)) / kListRowHeight);
}

}  // namespace

Window::Window(std::shared_ptr<const WindowDef> def) : def_(std::move(def)) {
  caption_ = def_->caption;
  pos_ = def_->pos;
  for (const ControlDef& d : def_->Controls()) {
    auto c = std::make_unique<Control>();
    c->def = d;
    if (d.type == ctl::kList) c->columns = ListFormat::Parse(d.format).Columns();
    nextRuntimeControl_ = std::max(nextRuntimeControl_, d.number);
    controls_.push_back(std::move(c));
  }
  ++nextRuntimeControl_;
}

Window::~Window() {
  Close();
}

std::unique_ptr<Window> Window::Prepare(std::string_view module, std::string_view name) {
  auto def = FindWindowDef(module, name);
  if (!def) return nullptr;
  return std::make_unique<Window>(std::move(def));
}

Window* Window::Active() {
  auto& w = ThreadWindows();
  return w.empty() ? nullptr : w.back();
}

Window* Window::FindOpen(int windowId) {
  for (Window* w : ThreadWindows())
    if (w->Id() == windowId) return w;
  return nullptr;
}

Window::Control* Window::Find(int control) {
  for (auto& c : controls_)
    if (c->def.number == control) return c.get();
  return nullptr;
}

const Window::Control* Window::Find(int control) const {
  return const_cast<Window*>(this)->Find(control);
}

void Window::Bind(int control, AnyRef use) {
  if (Control* c = Find(control)) c->use = use;
}

void Window::BindList(int control, const Queue* queue) {
  if (Control* c = Find(control)) {
    c->queue = queue;
    c->filledFrom = nullptr;
  }
}

bool Window::Open(Window* owner) {
  return OpenOver(owner ? owner->Id() : 0);
}

bool Window::OpenOver(int ownerId) {
  if (open_) return true;
  id_ = gNextWindowId.fetch_add(1);
  thread_ = ThreadNumber();
  auto& stack = ThreadWindows();
  below_ = stack.empty() ? nullptr : stack.back();
  ownerId_ = ownerId != 0 ? ownerId : (below_ ? below_->Id() : 0);
  stack.push_back(this);
  open_ = true;
  if (below_) below_->SetEnabled(false);
  for (auto& c : controls_) {
    if (c->def.type == ctl::kList) RefreshList(*c);
  }
  Display();
  Backend()->WindowOpened(ViewOfWindow());
  EventQueue& q = MyEvents();
  EventMessage open;
  open.event = event::kOpenWindow;
  open.windowId = id_;
  q.Post(open);
  EventMessage sized;
  sized.event = event::kSized;
  sized.windowId = id_;
  q.Post(sized);
  if (q.CloseDownRequested()) q.RequestCloseDown();
  return true;
}

bool Window::Post(int event, int control) const {
  if (!open_) return false;
  EventMessage message;
  message.event = event;
  message.control = control;
  message.windowId = id_;
  return PostMessage(thread_, std::move(message));
}

void Window::Close() {
  if (!open_) return;
  open_ = false;
  acceptAll_ = false;
  auto& stack = ThreadWindows();
  std::erase(stack, this);
  // The window below takes input again before the close is announced, so that whoever sees
  // this window gone finds that one ready.
  if (below_) {
    below_->SetEnabled(true);
    below_ = nullptr;
  }
  Backend()->WindowClosed(id_);
  // A close-down closes every window of the thread: hand it on to the next one.
  EventQueue& q = MyEvents();
  if (q.CloseDownRequested() && !stack.empty()) q.RequestCloseDown();
}

void Window::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Backend()->WindowChanged(id_, caption_, pos_, enabled_);
}

void Window::EventLoop(const std::function<int()>& handler) {
  EventQueue& q = MyEvents();
  const bool outerLeave = leave_;
  leave_ = false;
  while (open_ && !leave_) {
    auto m = q.Wait(std::chrono::milliseconds(500));
    if (!m) continue;
    if (m->task) {
      m->task();
      continue;
    }
    // Input meant for another window of this thread (one under a dialog) is dropped.
    if (m->windowId != 0 && m->windowId != id_) continue;
    if (m->keyCode != 0) keyCode_ = m->keyCode;
    // A key reaches the procedure only when it is alerted on the control or the window.
    if (m->event == event::kAlertKey && !IsAlerted(m->control, m->keyCode)) continue;
    current_ = *m;
    event_ = m->event;
    field_ = m->control;
    // What the screen reported goes back once the event is handled, unless handling it
    // sent the control anyway: a thumb drag's new page then reaches the screen once.
    const int echo = ApplyScreenInput(*m);
    const Control* echoed = echo ? Find(echo) : nullptr;
    const std::uint64_t sendsBefore = echoed ? echoed->sends : 0;
    // Input typed, picked or keyed into a control means the control has the focus.
    if (field_ > 0 && (m->screenText || m->screenChoice || event_ == event::kAlertKey)) {
      focus_ = field_;
    }
    if (event_ == event::kAccepted && field_ > 0) {
      // An accepted entry updates its variable; text its picture cannot read is rejected
      // and leaves the variable as it was.
      const Control* c = Find(field_);
      if (c && IsEnterableType(c->def.type) && !UpdateControl(*Find(field_))) {
        event_ = event::kRejected;
      }
    }
    int r = 0;
    if (field_ == 0 && !registrations_.empty()) {
      // A callback may register or unregister: run a copy.
      const std::vector<Registration> registered = registrations_;
      for (const Registration& reg : registered) {
        if (reg.event == event_ && reg.callback && reg.callback() != 0) {
          r = 1;
          break;
        }
      }
    }
    if (r == 0) r = handler();
    if (event_ == event::kCompleted) acceptAll_ = false;
    if (r < 0) {
      Close();
      break;
    }
    if (r == 0) DefaultAction(*m);
    if (echo && open_) {
      if (const Control* c = Find(echo); c && c->sends == sendsBefore) Publish(*c);
    }
  }
  leave_ = outerLeave;
  event_ = 0;
  field_ = 0;
}

int Window::ApplyScreenInput(const EventMessage& m) {
  if (m.control == 0) {
    // A resize by the user carries the new client size, "width,height" in dialog units.
    if (m.event == event::kSized && m.screenText) {
      int width = 0;
      int height = 0;
      if (std::sscanf(m.screenText->c_str(), "%d,%d", &width, &height) == 2 && width > 0 &&
          height > 0) {
        // Within the window's size limits, as a screen that enforces them would report.
        if (const int least = SizeLimit(prop::kMinWidth); least > 0) width = std::max(width, least);
        if (const int least = SizeLimit(prop::kMinHeight); least > 0)
          height = std::max(height, least);
        if (const int most = SizeLimit(prop::kMaxWidth); most > 0) width = std::min(width, most);
        if (const int most = SizeLimit(prop::kMaxHeight); most > 0) height = std::min(height, most);
        pos_.width = width;
        pos_.height = height;
      }
    }
    return 0;
  }
  Control* c = Find(m.control);
  if (!c) return 0;
  if (m.mouseColumn) c->props[prop::kListMouseColumn] = std::to_string(*m.mouseColumn);
  if (m.mouseRow) c->props[prop::kListMouseRow] = std::to_string(*m.mouseRow);
  if (m.mouseZone) c->props[prop::kListMouseZone] = std::to_string(*m.mouseZone);
  if (m.screenText) {
    if (TakesValue(c->def.type))
      c->value = std::atoi(m.screenText->c_str());
    else
      c->screenText = *m.screenText;
  }
  if (m.screenChoice) {
    // A thumb drag carries the thumb position, anything else the chosen row or tab.
    if (m.event == event::kScrollDrag)
      c->thumb = std::clamp(*m.screenChoice, 0, 100);
    else
      c->choice = *m.screenChoice;
  }
  return m.screenText || m.screenChoice ? c->def.number : 0;
}

void Window::DefaultAction(const EventMessage& m) {
  switch (m.event) {
    case event::kCloseWindow:
    case event::kCloseDown:
      Close();
      return;
    case event::kAccepted: {
      const Control* c = Find(m.control);
      if (!c) return;
      switch (c->def.action) {
        case StandardAction::None:
          return;
        case StandardAction::Close:
          Post(event::kCloseWindow);
          return;
        case StandardAction::HelpContents:
        case StandardAction::HelpSearch:
        case StandardAction::HelpOnHelp:
          Message("There is no help file for this application.", "Help", MessageIcon::Information);
          return;
        default:
          Backend()->StandardActionRequested(id_, c->def.action);
          return;
      }
    }
    default:
      return;
  }
}

void Window::Display(int control) {
  for (auto& c : controls_) {
    if (control != 0 && c->def.number != control) continue;
    const int type = c->def.type;
    if (!c->use.IsNull()) {
      if (TakesText(type)) {
        const std::string value = c->use.Text();
        c->screenText = c->def.picture.empty() ? Unpadded(value)
                                               : Unpadded(FormatPicture(value, c->def.picture));
        c->shown = c->screenText;
      } else if (TakesValue(type)) {
        c->value = static_cast<int>(c->use.Integer());
      } else if (type == ctl::kSheet) {
        c->choice = static_cast<int>(c->use.Integer());
      }
    }
    // A list whose rows are as last sent has nothing new to show: what else changes on it
    // is sent as it changes.
    if (type == ctl::kList && !RefreshList(*c)) continue;
    if (open_) Publish(*c);
  }
}

int Window::Update(int control) {
  int refused = 0;
  for (auto& c : controls_) {
    if (control != 0 && c->def.number != control) continue;
    if (!UpdateControl(*c) && refused == 0) refused = c->def.number;
  }
  return refused;
}

bool Window::UpdateControl(Control& c) {
  c.refusal = FieldFit::Fits;
  if (c.use.IsNull()) return true;
  const int type = c.def.type;
  if (TakesText(type)) {
    std::string value = c.screenText;
    FieldFit fit = FieldFit::Fits;
    if (!c.def.picture.empty()) {
      auto read = TryDeformatPicture(c.screenText, c.def.picture);
      if (read) {
        value = std::move(*read);
      } else {
        fit = FieldFit::Unreadable;
      }
    }
    // A number left blank is no number, unless its picture shows zero as blanks; a date or
    // a time left blank is none.
    if (fit == FieldFit::Fits && !c.use.IsText() && Trim(value, kWhitespace).empty() &&
        c.use.Type() != FieldType::Date && c.use.Type() != FieldType::Time &&
        !(Picture::Parse(c.def.picture).blankWhenZero)) {
      fit = FieldFit::Blank;
    }
    if (fit == FieldFit::Fits) {
      fit = c.use.SetText(value);
      if (fit == FieldFit::Blank) fit = FieldFit::Fits;
    }
    if (fit != FieldFit::Fits) {
      // What Display showed and nobody changed is what the variable holds (a number too
      // wide for its picture shows as "###"): there is nothing to take.
      if (c.screenText == c.shown) return true;
      c.refusal = fit;
      return false;
    }
  } else if (TakesValue(type)) {
    c.refusal = c.use.SetInteger(c.value);
  } else if (type == ctl::kSheet || type == ctl::kList) {
    c.refusal = c.use.SetInteger(c.choice);
  }
  return c.refusal == FieldFit::Fits;
}

FieldFit Window::Refusal(int control) const {
  const Control* c = Find(control);
  return c ? c->refusal : FieldFit::Fits;
}

std::string Window::ValueRange(int control) const {
  const Control* c = Find(control);
  Decimal low;
  Decimal high;
  if (!c || !c->use.Limits(low, high)) return {};
  const Picture picture = Picture::Parse(c->def.picture);
  const bool dated = picture.kind == PictureKind::Date || picture.kind == PictureKind::Time;
  auto show = [&](const Decimal& v) {
    return dated ? std::string(Trim(picture.Format(v.ToText()))) : v.ToText();
  };
  return show(low) + " to " + show(high);
}

int Window::FocusTarget(int control) const {
  // A prompt or a string takes no input: selecting it selects the next control that does.
  auto label = [](int type) {
    return type == ctl::kPrompt || type == ctl::kString || type == ctl::kString2;
  };
  auto at = std::find_if(controls_.begin(), controls_.end(),
                         [control](const auto& c) { return c->def.number == control; });
  if (at == controls_.end() || !label((*at)->def.type)) return control;
  for (auto it = std::next(at); it != controls_.end(); ++it) {
    const ControlDef& d = (*it)->def;
    if (d.number <= 0 || IsMenuType(d.type)) continue;
    if (!label(d.type) && !d.disabled && !d.hidden) return d.number;
  }
  return control;
}

void Window::Select(int control) {
  EventQueue& q = MyEvents();
  if (control != 0) {
    if (acceptAll_) {
      acceptAll_ = false;
      q.DropAcceptAllPass();
    }
    control = FocusTarget(control);
    focus_ = control;
    if (open_) Backend()->FocusControl(id_, control);
    return;
  }
  acceptAll_ = true;
  std::vector<EventMessage> pass;
  for (auto& c : controls_) {
    const ControlDef& d = c->def;
    if (d.number <= 0 || !IsEnterableType(d.type) || d.disabled || d.hidden || d.readOnly) continue;
    EventMessage m;
    m.event = event::kAccepted;
    m.control = d.number;
    m.windowId = id_;
    m.acceptAllPass = true;
    pass.push_back(m);
  }
  EventMessage done;
  done.event = event::kCompleted;
  done.windowId = id_;
  done.acceptAllPass = true;
  pass.push_back(done);
  for (auto it = pass.rbegin(); it != pass.rend(); ++it)
    q.PostFront(*it);
}

bool Window::RefreshList(Control& c) {
  // Each column's picture is parsed once for all its cells, and kept for the next fill.
  auto& pictures = c.pictures;
  pictures.resize(c.columns.size());
  c.pictureTexts.resize(c.columns.size());
  for (std::size_t col = 0; col < c.columns.size(); ++col) {
    const std::string& text = c.columns[col].picture;
    if (text == c.pictureTexts[col] && (text.empty() || pictures[col])) continue;
    pictures[col] = text.empty() ? std::nullopt : std::optional(Picture::Parse(text));
    c.pictureTexts[col] = text;
  }
  // The rows are rewritten in place: their strings keep their storage from fill to fill.
  auto shape = [&c](int records) {
    c.view.rows.resize(static_cast<std::size_t>(records));
    for (auto& cells : c.view.rows)
      cells.resize(c.columns.size());
  };
  if (c.source) {
    const int records = std::max(0, std::atoi(c.source(-1, 0).c_str()));
    shape(records);
    for (int r = 1; r <= records; ++r) {
      for (std::size_t col = 0; col < c.columns.size(); ++col) {
        const std::string value = c.source(r, static_cast<int>(col) + 1);
        c.view.rows[r - 1][col].assign(pictures[col] ? TrimRight(pictures[col]->Format(value))
                                                     : TrimRight(value));
      }
    }
    if (c.choice > records) c.choice = records;
    return true;
  }
  if (!c.queue) {
    c.view.rows.clear();
    c.filledFrom = nullptr;
    return true;
  }
  if (c.filledFrom == c.queue && c.filledChanges == c.queue->Changes()) return false;
  const RecordLayout& layout = c.queue->Layout();
  const int records = c.queue->Records();
  shape(records);
  std::string scratch;
  for (int r = 1; r <= records; ++r) {
    const void* row = c.queue->Row(r);
    for (std::size_t col = 0; col < c.columns.size(); ++col) {
      const int fieldNo = static_cast<int>(col) + 1;
      std::string& text = c.view.rows[r - 1][col];
      if (!row || fieldNo > layout.FieldCount()) {
        text.clear();
        continue;
      }
      const FieldDesc& field = layout.Field(fieldNo);
      if (pictures[col] && pictures[col]->kind == PictureKind::Number && IsInteger(field.type)) {
        pictures[col]->FormatInteger(ReadInteger(field, row), text);
        text.resize(Unpadded(text).size());
      } else {
        CellText(pictures[col], FieldText(field, row, scratch), text);
      }
    }
  }
  if (c.choice > records) c.choice = records;
  c.filledFrom = c.queue;
  c.filledChanges = c.queue->Changes();
  return true;
}

void Window::SetListSource(int control, ListSource source) {
  Control* c = Find(control);
  if (!c || c->def.type != ctl::kList) return;
  c->source = std::move(source);
  c->filledFrom = nullptr;
  RefreshList(*c);
  if (open_) Publish(*c);
}

bool Window::Exists(int control) const {
  return Find(control) != nullptr;
}

int Window::Type(int control) const {
  const Control* c = Find(control);
  return c ? c->def.type : 0;
}

std::string Window::Prop(int control, int property) const {
  if (control == 0) {
    switch (property) {
      case prop::kText:
        return caption_;
      case prop::kXPos:
        return std::to_string(pos_.x);
      case prop::kYPos:
        return std::to_string(pos_.y);
      case prop::kWidth:
      case prop::kClientWidth:
        return std::to_string(pos_.width);
      case prop::kHeight:
      case prop::kClientHeight:
        return std::to_string(pos_.height);
      case prop::kNextControl:
        // From the window: its first control.
        for (auto& c : controls_)
          if (c->def.number > 0) return std::to_string(c->def.number);
        return "0";
      default:
        break;
    }
    auto it = windowProps_.find(property);
    return it == windowProps_.end() ? std::string() : it->second;
  }
  const Control* c = Find(control);
  if (!c) return {};
  const ControlDef& d = c->def;
  switch (property) {
    case prop::kText:
      return d.text;
    case prop::kScreenText:
      return c->screenText;
    case prop::kDisabled:
      return d.disabled ? "1" : "";
    case prop::kHidden:
      return d.hidden ? "1" : "";
    case prop::kReadOnly:
      return d.readOnly ? "1" : "";
    case prop::kChoice:
      return std::to_string(c->choice);
    case prop::kType:
      return std::to_string(d.type);
    case prop::kParent:
      return std::to_string(d.parent);
    case prop::kXPos:
      return std::to_string(d.pos.x);
    case prop::kYPos:
      return std::to_string(d.pos.y);
    case prop::kWidth:
      return std::to_string(d.pos.width);
    case prop::kHeight:
      return std::to_string(d.pos.height);
    case prop::kIcon:
      return d.icon;
    case prop::kTip:
      return d.tip;
    case prop::kImmediate:
      return d.immediate ? "1" : "";
    case prop::kVScroll:
      return d.vscroll ? "1" : "";
    case prop::kVScrollPos:
      return std::to_string(c->thumb);
    case prop::kItems: {
      // The rows a list shows, from its height, unless the program set a count itself.
      if (auto it = c->props.find(property); it != c->props.end()) return it->second;
      if (d.type != ctl::kList) return "0";
      return std::to_string(ListRows(c->columns, d.pos.height));
    }
    case prop::kFirstVisible: {
      auto it = c->props.find(property);
      return it == c->props.end() ? std::string("1") : it->second;
    }
    case prop::kRecords:
      return std::to_string(c->view.rows.size());
    case prop::kValue:
      return std::to_string(c->value);
    case prop::kListColumns:
      return std::to_string(c->columns.size());
    case prop::kDefaultButton:
      return d.isDefault ? "1" : "";
    case prop::kNextControl: {
      // The control after this one in definition order (menus excluded); 0 at the end.
      bool seen = false;
      for (auto& other : controls_) {
        if (seen && other->def.number > 0) return std::to_string(other->def.number);
        if (other.get() == c) seen = true;
      }
      return "0";
    }
    default:
      break;
  }
  auto it = c->props.find(property);
  return it == c->props.end() ? std::string() : it->second;
}

long Window::PropNumber(int control, int property) const {
  // The flags and positions asked for on every scroll are read without going through text.
  if (const Control* c = control != 0 ? Find(control) : nullptr) {
    switch (property) {
      case prop::kChoice:
        return c->choice;
      case prop::kVScrollPos:
        return c->thumb;
      case prop::kDisabled:
        return c->def.disabled ? 1 : 0;
      case prop::kHidden:
        return c->def.hidden ? 1 : 0;
      case prop::kVScroll:
        return c->def.vscroll ? 1 : 0;
      case prop::kImmediate:
        return c->def.immediate ? 1 : 0;
      default:
        break;
    }
  }
  return std::strtol(Prop(control, property).c_str(), nullptr, 0);
}

void Window::SetProp(int control, int property, long value) {
  SetProp(control, property, std::to_string(value));
}

void Window::SetProp(int control, int property, std::string_view value) {
  const long n = std::strtol(std::string(value).c_str(), nullptr, 0);
  if (control == 0) {
    switch (property) {
      case prop::kText:
        SetCaption(value);
        return;
      case prop::kXPos:
        pos_.x = static_cast<int>(n);
        break;
      case prop::kYPos:
        pos_.y = static_cast<int>(n);
        break;
      case prop::kWidth:
      case prop::kClientWidth:
        pos_.width = static_cast<int>(n);
        break;
      case prop::kHeight:
      case prop::kClientHeight:
        pos_.height = static_cast<int>(n);
        break;
      default:
        SetWindowProp(property, value);
        return;
    }
    if (open_) Backend()->WindowChanged(id_, caption_, pos_, enabled_);
    return;
  }
  Control* c = Find(control);
  if (!c) return;
  ControlDef& d = c->def;
  // Properties only the program sets are not sent again when they keep their value (a
  // list's whole contents go with each change); what the user can change on the screen
  // (choice, thumb, text, value) is always sent.
  bool changed = true;
  auto flag = [&changed](bool& field, bool on) {
    changed = field != on;
    field = on;
  };
  switch (property) {
    case prop::kText:
      d.text = std::string(value);
      break;
    case prop::kScreenText:
      c->screenText = std::string(value);
      break;
    case prop::kDisabled:
      flag(d.disabled, n != 0);
      break;
    case prop::kHidden:
      flag(d.hidden, n != 0);
      break;
    case prop::kReadOnly:
      flag(d.readOnly, n != 0);
      break;
    case prop::kChoice:
      c->choice = static_cast<int>(n);
      break;
    case prop::kXPos:
      d.pos.x = static_cast<int>(n);
      break;
    case prop::kYPos:
      d.pos.y = static_cast<int>(n);
      break;
    case prop::kWidth:
      d.pos.width = static_cast<int>(n);
      break;
    case prop::kHeight:
      d.pos.height = static_cast<int>(n);
      break;
    case prop::kIcon:
      d.icon = std::string(value);
      break;
    case prop::kTip:
      d.tip = std::string(value);
      break;
    case prop::kImmediate:
      flag(d.immediate, n != 0);
      break;
    case prop::kVScroll:
      flag(d.vscroll, n != 0);
      break;
    case prop::kVScrollPos:
      c->thumb = static_cast<int>(std::clamp(n, 0L, 100L));
      break;
    case prop::kValue:
      c->value = static_cast<int>(n);
      break;
    case prop::kDefaultButton:
      flag(d.isDefault, n != 0);
      break;
    default:
      c->props[property] = std::string(value);
      return;
  }
  if (open_ && changed) Publish(*c);
}

void Window::SetWindowProp(int property, std::string_view value) {
  windowProps_[property] = std::string(value);
  switch (property) {
    case prop::kMinWidth:
    case prop::kMinHeight:
    case prop::kMaxWidth:
    case prop::kMaxHeight:
      if (open_) {
        Backend()->WindowSizeLimits(id_, SizeLimit(prop::kMinWidth), SizeLimit(prop::kMinHeight),
                                    SizeLimit(prop::kMaxWidth), SizeLimit(prop::kMaxHeight));
      }
      return;
    case prop::kDeferMove:
      if (PropNumber(0, prop::kDeferMove) > 0) {
        deferring_ = true;
      } else {
        deferring_ = false;
        if (holds_ == 0) FlushDeferred();
      }
      return;
    default:
      return;
  }
}

int Window::SizeLimit(int property) const {
  auto it = windowProps_.find(property);
  return it == windowProps_.end() ? 0 : std::max(0, std::atoi(it->second.c_str()));
}

void Window::HoldChanges(bool hold) {
  if (hold) {
    ++holds_;
  } else if (holds_ > 0 && --holds_ == 0 && !deferring_) {
    FlushDeferred();
  }
}

void Window::FlushDeferred() {
  std::vector<int> numbers;
  numbers.swap(deferred_);
  if (!open_) return;
  for (int number : numbers)
    if (const Control* c = Find(number)) Publish(*c);
}

void Window::RegisterEvent(int event, const void* key, std::function<int()> callback) {
  for (Registration& reg : registrations_) {
    if (reg.event == event && reg.key == key) {
      reg.callback = std::move(callback);
      return;
    }
  }
  registrations_.push_back({event, key, std::move(callback)});
}

void Window::UnregisterEvent(int event, const void* key) {
  std::erase_if(registrations_,
                [&](const Registration& reg) { return reg.event == event && reg.key == key; });
}

void Window::Disable(int control, bool disabled) {
  SetProp(control, prop::kDisabled, disabled ? 1L : 0L);
}
void Window::Hide(int control, bool hidden) {
  SetProp(control, prop::kHidden, hidden ? 1L : 0L);
}
void Window::SetReadOnly(int control, bool readOnly) {
  SetProp(control, prop::kReadOnly, readOnly ? 1L : 0L);
}

Rect Window::Position(int control) const {
  if (control == 0) return pos_;
  const Control* c = Find(control);
  return c ? c->def.pos : Rect{};
}

void Window::SetPosition(int control, const Rect& pos) {
  if (control == 0) {
    pos_ = pos;
    if (open_) Backend()->WindowChanged(id_, caption_, pos_, enabled_);
    return;
  }
  Control* c = Find(control);
  if (!c || c->def.pos == pos) return;
  c->def.pos = pos;
  if (open_) Publish(*c);
}

int Window::Choice(int control) const {
  const Control* c = Find(control);
  return c ? c->choice : 0;
}

void Window::SetChoice(int control, int row) {
  SetProp(control, prop::kChoice, static_cast<long>(row));
}

const std::vector<ListColumn>& Window::Columns(int control) const {
  static const std::vector<ListColumn> kNone;
  const Control* c = Find(control);
  return c ? c->columns : kNone;
}

long Window::ColumnColor(int control, int column) const {
  const auto& columns = Columns(control);
  if (column < 1 || column > static_cast<int>(columns.size())) return kColorNone;
  return columns[static_cast<std::size_t>(column - 1)].textColor;
}

void Window::SetColumnColor(int control, int column, long color) {
  Control* c = Find(control);
  if (!c || column < 1 || column > static_cast<int>(c->columns.size())) return;
  long& current = c->columns[static_cast<std::size_t>(column - 1)].textColor;
  if (current == color) return;
  current = color;
  if (open_) Publish(*c);
}

std::string Window::ScreenText(int control) const {
  const Control* c = Find(control);
  return c ? c->screenText : std::string();
}

void Window::SetCaption(std::string_view caption) {
  caption_ = std::string(caption);
  if (open_) Backend()->WindowChanged(id_, caption_, pos_, enabled_);
}

void Window::Alert(int control, int keyCode) {
  if (control == 0) {
    windowAlerts_.push_back(keyCode);
    return;
  }
  if (Control* c = Find(control)) {
    c->def.alerts.push_back(keyCode);
    if (open_) Publish(*c);
  }
}

int Window::RemoveAlert(int control, int keyCode) {
  std::vector<int>* alerts = &windowAlerts_;
  Control* c = control == 0 ? nullptr : Find(control);
  if (control != 0) {
    if (!c) return 0;
    alerts = &c->def.alerts;
  }
  auto it = std::find(alerts->begin(), alerts->end(), keyCode);
  if (it == alerts->end()) return 0;
  const int slot = static_cast<int>(it - alerts->begin()) + 1;
  alerts->erase(it);
  if (c && open_) Publish(*c);
  return slot;
}

void Window::PlaceOverCell(int control, int list, int column) {
  Control* c = Find(control);
  const Control* l = Find(list);
  if (!c) return;
  if (!l || column < 1 || column > static_cast<int>(l->columns.size())) {
    c->cellList = c->cellColumn = c->cellRow = 0;
    if (open_) Publish(*c);
    return;
  }
  // Where the cell is in dialog units; the desktop refines it from the list's own geometry.
  int x = l->def.pos.x;
  for (int i = 0; i + 1 < column; ++i)
    x += l->columns[static_cast<std::size_t>(i)].width;
  const int first = std::max(1, static_cast<int>(PropNumber(list, prop::kFirstVisible)));
  const int row = std::max(1, l->choice);
  c->cellList = list;
  c->cellColumn = column;
  c->cellRow = row;
  c->def.pos = {x, l->def.pos.y + kListHeaderHeight + (row - first) * kListRowHeight,
                l->columns[static_cast<std::size_t>(column - 1)].width, kListRowHeight};
  if (open_) Publish(*c);
}

void Window::SetPicture(int control, std::string picture) {
  if (Control* c = Find(control)) {
    c->def.picture = std::move(picture);
    if (open_) Publish(*c);
  }
}

void Window::ClearAlerts(int control) {
  if (control == 0) {
    windowAlerts_.clear();
    return;
  }
  if (Control* c = Find(control)) c->def.alerts.clear();
}

bool Window::IsAlerted(int control, int keyCode) const {
  if (std::find(windowAlerts_.begin(), windowAlerts_.end(), keyCode) != windowAlerts_.end())
    return true;
  const Control* c = Find(control);
  return c && std::find(c->def.alerts.begin(), c->def.alerts.end(), keyCode) != c->def.alerts.end();
}

int Window::CreateControl(int type, int parent, std::string text) {
  auto c = std::make_unique<Control>();
  c->def.number = nextRuntimeControl_++;
  c->def.type = type;
  c->def.parent = parent;
  c->def.text = std::move(text);
  const int number = c->def.number;
  controls_.push_back(std::move(c));
  if (open_) Publish(*controls_.back());
  return number;
}

void Window::DestroyControl(int control) {
  auto it = std::find_if(controls_.begin(), controls_.end(),
                         [&](const auto& c) { return c->def.number == control; });
  if (it == controls_.end()) return;
  controls_.erase(it);
  if (open_) Backend()->ControlDestroyed(id_, control);
}

std::vector<int> Window::ControlNumbers() const {
  std::vector<int> numbers;
  for (auto& c : controls_)
    numbers.push_back(c->def.number);
  return numbers;
}

ControlView Window::ViewOf(const Control& c) const {
  ControlView v;
  FillView(c, v);
  return v;
}

void Window::FillView(const Control& c, ControlView& v) const {
  const ControlDef& d = c.def;
  v.number = d.number;
  v.type = d.type;
  v.parent = d.parent;
  v.text = d.text;
  v.screenText = c.screenText;
  v.value = TakesValue(d.type) ? c.value : c.choice;
  v.pos = d.pos;
  v.icon = d.icon;
  v.tip = d.tip;
  v.picture = d.picture;
  v.hidden = d.hidden;
  v.disabled = d.disabled;
  v.readOnly = d.readOnly;
  v.isDefault = d.isDefault;
  v.immediate = d.immediate;
  v.action = d.action;
  v.alerts = d.alerts;
  v.columns = c.columns;
  if (&v != &c.view) v.rows = c.view.rows;
  v.choice = c.choice;
  v.vscroll = d.vscroll;
  v.takesFiles = d.takesFiles;
  v.thumb = c.thumb;
  v.cellList = c.cellList;
  v.cellColumn = c.cellColumn;
  v.cellRow = c.cellRow;
}

WindowView Window::ViewOfWindow() const {
  WindowView w;
  w.id = id_;
  w.thread = thread_;
  w.ownerId = ownerId_;
  w.module = def_->Module();
  w.name = def_->Name();
  w.caption = caption_;
  w.icon = def_->icon;
  w.font = def_->font;
  w.fontSize = def_->fontSize;
  w.kind = def_->kind;
  w.pos = pos_;
  w.resizable = def_->resizable;
  w.minWidth = SizeLimit(prop::kMinWidth);
  w.minHeight = SizeLimit(prop::kMinHeight);
  w.maxWidth = SizeLimit(prop::kMaxWidth);
  w.maxHeight = SizeLimit(prop::kMaxHeight);
  w.enabled = enabled_;
  w.alerts = windowAlerts_;
  for (auto& c : controls_)
    w.controls.push_back(ViewOf(*c));
  return w;
}

void Window::Publish(const Control& c) {
  ++c.sends;
  if (deferring_ || holds_ > 0) {
    if (std::find(deferred_.begin(), deferred_.end(), c.def.number) == deferred_.end())
      deferred_.push_back(c.def.number);
    return;
  }
  if (c.publishing) {
    const ControlView view = ViewOf(c);
    Backend()->ControlChanged(id_, view);
    NotifyControlWatchers(id_, view);
    return;
  }
  c.publishing = true;
  FillView(c, c.view);
  Backend()->ControlChanged(id_, c.view);
  NotifyControlWatchers(id_, c.view);
  c.publishing = false;
}

}  // namespace rt
