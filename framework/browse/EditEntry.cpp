// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/EditEntry.h"

#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

EditEntry::~EditEntry() {
  Kill();
}

void EditEntry::CreateControl() {
  if (Win) Feq = Win->CreateControl(rt::ctl::kEntry);
}

void EditEntry::Init(rt::Window& window, std::int32_t column, std::int32_t list,
                     const rt::AnyRef& use) {
  Win = &window;
  FieldNo = column;
  ListBoxFeq = list;
  UseVar = use;
  CreateControl();
  if (!Feq) return;
  const auto& columns = window.Columns(list);
  if (column >= 1 && column <= static_cast<std::int32_t>(columns.size()))
    window.SetPicture(Feq, columns[static_cast<std::size_t>(column - 1)].picture);
  window.Hide(Feq);
  window.Bind(Feq, UseVar);
  if (ReadOnly) window.SetReadOnly(Feq);
  SetAlerts();
}

void EditEntry::Kill() {
  if (Win && Feq) Win->DestroyControl(Feq);
  Feq = 0;
  UseVar = rt::AnyRef();
  Win = nullptr;
}

void EditEntry::SetAlerts() {
  if (!Win || !Feq) return;
  for (int key : {rt::key::kTab, rt::key::kShift + rt::key::kTab, rt::key::kEnter, rt::key::kEsc,
                  rt::key::kDown, rt::key::kUp})
    Win->Alert(Feq, key);
}

void EditEntry::SetReadOnly(bool readOnly) {
  ReadOnly = readOnly ? 1 : 0;
  if (Win && Feq) Win->SetReadOnly(Feq, readOnly);
}

std::uint8_t EditEntry::TakeAccepted(std::uint8_t action) {
  // A value the field cannot hold is not taken, and the edit stays where it is.
  if (Win && Feq && Win->Update(Feq) != 0) return kEditNone;
  return action;
}

std::uint8_t EditEntry::TakeEvent(int event) {
  if (event != rt::event::kAlertKey || !Win) return kEditNone;
  switch (Win->KeyCode()) {
    case rt::key::kTab:
      return kEditNext;
    case rt::key::kShift + rt::key::kTab:
      return kEditPrevious;
    case rt::key::kEnter:
      return kEditComplete;
    case rt::key::kEsc:
      return kEditCancel;
    case rt::key::kDown:
      return kEditNextRow;
    case rt::key::kUp:
      return kEditPreviousRow;
    default:
      return kEditNone;
  }
}

std::int32_t EditEntry::GetFeq() {
  return Feq;
}

bool EditEntry::ColumnChanged(std::int32_t) {
  return false;
}
