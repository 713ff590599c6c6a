// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/data/BufferedPairs.h"

#include <string>

#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/values/Text.h"

namespace {

// Upper-cased text with trailing blanks dropped, so that fields of different lengths that
// hold the same text compare equal.
std::string UpperText(const rt::AnyRef& ref) {
  return rt::Upper(rt::ClipText(ref.Text()));
}

bool SameIgnoringCase(const rt::AnyRef& a, const rt::AnyRef& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull();
  // Two numbers compare by value: 12 and 12.00 are the same number.
  if (!a.IsText() && !b.IsText()) return a.Compare(b) == 0;
  return UpperText(a) == UpperText(b);
}

}  // namespace

template <typename Fn>
void BufferedPairs::ForEachBuffered(Fn&& fn) const {
  // A list replaced through the base class is no longer the buffered one.
  if (!RealList || RealList != List.get()) return;
  for (const auto& entry : *RealList) {
    if (auto* buffered = dynamic_cast<BufferedPair*>(entry.get())) {
      if (!fn(*buffered)) return;
    }
  }
}

void BufferedPairs::AddPair(const rt::AnyRef& left, const rt::AnyRef& right) {
  if (!List) Init();
  RealList = List.get();
  RealList->push_back(std::make_unique<BufferedPair>(left, right));
}

void BufferedPairs::Init() {
  Kill();
  List = std::make_unique<FieldPairList>();
  RealList = List.get();
}

void BufferedPairs::Kill() {
  RealList = nullptr;
  FieldPairs::Kill();
}

bool BufferedPairs::EqualLeftBuffer() const {
  bool equal = true;
  ForEachBuffered([&](BufferedPair& p) { return equal = SameIgnoringCase(p.Left, p.Buffer); });
  return equal;
}

bool BufferedPairs::EqualRightBuffer() const {
  bool equal = true;
  ForEachBuffered([&](BufferedPair& p) { return equal = SameIgnoringCase(p.Right, p.Buffer); });
  return equal;
}

void BufferedPairs::AssignLeftToBuffer() {
  ForEachBuffered([](BufferedPair& p) {
    p.Hold(p.Left);
    return true;
  });
}

void BufferedPairs::AssignRightToBuffer() {
  ForEachBuffered([](BufferedPair& p) {
    p.Hold(p.Right);
    return true;
  });
}

void BufferedPairs::AssignBufferToLeft() {
  ForEachBuffered([](BufferedPair& p) {
    p.Left.CopyFrom(p.Buffer);
    return true;
  });
}

void BufferedPairs::AssignBufferToRight() {
  ForEachBuffered([](BufferedPair& p) {
    p.Right.CopyFrom(p.Buffer);
    return true;
  });
}
