#include "gui/qt/QtSurface.h"

namespace gui {

void QtSurface::Send(rt::EventMessage message) const {
  message.windowId = id_;
  rt::PostMessage(thread_, std::move(message));
}

void QtSurface::Send(int event, int control) const {
  rt::EventMessage m;
  m.event = event;
  m.control = control;
  Send(std::move(m));
}

}  // namespace gui
