// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/StandardBehavior.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"

namespace {

// Positions are opaque bytes, so the position field holds a two-byte length and then the
// bytes: a position that happens to end in blanks or zeros comes back unchanged.
constexpr std::uint32_t kLengthBytes = 2;

}  // namespace

void StandardBehavior::Init(rt::Queue& queue, std::int32_t listControl, void* positionField,
                            std::uint32_t positionLength, rt::Window* window) {
  Q = &queue;
  LC = listControl;
  S = rt::AnyRef(positionField, rt::FieldType::String, positionLength);
  window_ = window;
}

rt::Window* StandardBehavior::ListWindow() const {
  return window_ ? window_ : rt::Window::Active();
}

// ---- BrowseQueue ----

std::int32_t StandardBehavior::Records() {
  return Q ? Q->Records() : 0;
}

void StandardBehavior::Insert() {
  if (Q) Q->Add();
}

void StandardBehavior::InsertAt(std::int32_t position) {
  if (Q) Q->Add(position);
}

int StandardBehavior::GetRow(std::int32_t position) {
  if (!Q) {
    rt::SetError(rt::kEntryNotFound);
    return rt::kEntryNotFound;
  }
  return Q->Get(position) ? rt::kNoError : rt::ErrorCode();
}

void StandardBehavior::Update() {
  if (Q) Q->Put();
}

void StandardBehavior::Delete() {
  if (Q) Q->Delete();
}

void StandardBehavior::Free() {
  if (Q) Q->Free();
}

std::string StandardBehavior::Who(std::int32_t field) {
  return Q ? Q->Who(field) : std::string();
}

std::string StandardBehavior::GetViewPosition() {
  if (S.IsNull() || S.Size() < kLengthBytes) return {};
  const auto* bytes = static_cast<const unsigned char*>(S.Address());
  const std::uint32_t length =
      std::min<std::uint32_t>((bytes[0] << 8) | bytes[1], S.Size() - kLengthBytes);
  return std::string(reinterpret_cast<const char*>(bytes + kLengthBytes), length);
}

void StandardBehavior::SetViewPosition(std::string_view position) {
  if (S.IsNull() || S.Size() < kLengthBytes) return;
  auto* bytes = static_cast<unsigned char*>(S.Address());
  const std::uint32_t room = S.Size() - kLengthBytes;
  const std::uint32_t length =
      std::min<std::uint32_t>(static_cast<std::uint32_t>(position.size()), room);
  // Past the length it held before, the field is already blank (a cleared field's blanks
  // read as the longest length): only the bytes between the two lengths need blanking.
  const std::uint32_t before = std::min<std::uint32_t>((bytes[0] << 8) | bytes[1], room);
  bytes[0] = static_cast<unsigned char>(length >> 8);
  bytes[1] = static_cast<unsigned char>(length & 0xFF);
  std::memcpy(bytes + kLengthBytes, position.data(), length);
  if (before > length) std::memset(bytes + kLengthBytes + length, ' ', before - length);
}

// ---- IListControl ----

std::int32_t StandardBehavior::Choice() {
  rt::Window* w = ListWindow();
  return w ? w->Choice(LC) : 0;
}

std::int32_t StandardBehavior::GetControl() {
  return LC;
}

std::int32_t StandardBehavior::GetItems() {
  rt::Window* w = ListWindow();
  return w ? static_cast<std::int32_t>(w->PropNumber(LC, rt::prop::kItems)) : 0;
}

bool StandardBehavior::GetVisible() {
  rt::Window* w = ListWindow();
  return w && w->Exists(LC) && w->PropNumber(LC, rt::prop::kHidden) == 0;
}

void StandardBehavior::SetChoice(std::int32_t row) {
  if (rt::Window* w = ListWindow()) w->SetProp(LC, rt::prop::kChoice, static_cast<long>(row));
}

void StandardBehavior::SetControl(std::int32_t control) {
  LC = control;
}

std::int32_t StandardBehavior::GetLine() {
  rt::Window* w = ListWindow();
  if (!w) return 0;
  const long first = std::max(1L, w->PropNumber(LC, rt::prop::kFirstVisible));
  return static_cast<std::int32_t>(w->Choice(LC) - first + 1);
}
