// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/Queue.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Text.h"

namespace rt {

namespace {

bool Fail(int code) {
  SetError(code);
  return false;
}

bool Succeed() {
  ClearError();
  return true;
}

}  // namespace

Queue::Queue(RecordLayout layout) : layout_(std::move(layout)), buffer_(layout_.Size()) {
  ClearBuffer();
  Changed();
}

void Queue::Changed() {
  static std::atomic<std::uint64_t> last{0};
  changes_ = ++last;
}

AnyRef Queue::Field(int number) {
  if (number < 1 || number > layout_.FieldCount()) return AnyRef();
  return AnyRef(buffer_.data(), layout_.Field(number));
}

AnyRef Queue::Field(std::string_view label) {
  return Field(layout_.FindField(label));
}

std::string Queue::Who(int number) const {
  if (number < 1 || number > layout_.FieldCount()) return {};
  return layout_.Field(number).label;
}

void Queue::ClearBuffer() {
  for (const FieldDesc& field : layout_.Fields())
    ClearField(field, buffer_.data());
}

std::vector<char> Queue::NewRow() {
  if (spare_.empty()) return buffer_;
  std::vector<char> row = std::move(spare_.back());
  spare_.pop_back();
  row.assign(buffer_.begin(), buffer_.end());
  return row;
}

void Queue::Add() {
  rows_.push_back(NewRow());
  Changed();
  current_ = Records();
  ClearError();
}

bool Queue::Add(int position) {
  if (position < 1) return Fail(kEntryNotFound);
  if (position > Records()) {
    Add();
    return true;
  }
  rows_.insert(rows_.begin() + (position - 1), NewRow());
  Changed();
  current_ = position;
  return Succeed();
}

bool Queue::Get(int position) {
  if (position < 1 || position > Records()) return Fail(kEntryNotFound);
  std::memcpy(buffer_.data(), rows_[position - 1].data(), buffer_.size());
  current_ = position;
  return Succeed();
}

bool Queue::GetByKey(std::string_view fields) {
  std::vector<SortKey> keys;
  if (!ParseFields(fields, keys) || keys.empty()) return Fail(kBadNameError);
  for (int position = 1; position <= Records(); ++position) {
    const std::vector<char>& row = rows_[position - 1];
    const bool match = std::all_of(keys.begin(), keys.end(), [&](const SortKey& key) {
      return RowField(row, key.field).Compare(Field(key.field)) == 0;
    });
    if (match) return Get(position);
  }
  return Fail(kEntryNotFound);
}

bool Queue::Put() {
  if (current_ < 1 || current_ > Records()) return Fail(kEntryNotFound);
  rows_[current_ - 1] = buffer_;
  Changed();
  return Succeed();
}

bool Queue::Delete() {
  if (current_ < 1 || current_ > Records()) return Fail(kEntryNotFound);
  Spare(std::move(rows_[current_ - 1]));
  rows_.erase(rows_.begin() + (current_ - 1));
  Changed();
  current_ = 0;
  return Succeed();
}

void Queue::Spare(std::vector<char> row) {
  if (spare_.size() < kSpareRows) spare_.push_back(std::move(row));
}

void Queue::Free() {
  for (auto& row : rows_)
    Spare(std::move(row));
  rows_.clear();
  Changed();
  current_ = 0;
  ClearError();
}

bool Queue::Sort(std::string_view order) {
  std::vector<SortKey> keys;
  if (!ParseFields(order, keys)) return Fail(kBadNameError);
  std::vector<int> index(rows_.size());
  std::iota(index.begin(), index.end(), 0);
  std::stable_sort(index.begin(), index.end(), [&](int a, int b) {
    for (const SortKey& key : keys) {
      int c = RowField(rows_[a], key.field).Compare(RowField(rows_[b], key.field));
      if (key.descending) c = -c;
      if (c != 0) return c < 0;
    }
    return false;
  });
  std::vector<std::vector<char>> sorted;
  sorted.reserve(rows_.size());
  int newCurrent = 0;
  for (std::size_t i = 0; i < index.size(); ++i) {
    if (index[i] + 1 == current_) newCurrent = static_cast<int>(i) + 1;
    sorted.push_back(std::move(rows_[index[i]]));
  }
  rows_ = std::move(sorted);
  Changed();
  current_ = newCurrent;
  return Succeed();
}

const void* Queue::Row(int position) const {
  if (position < 1 || position > Records()) return nullptr;
  return rows_[position - 1].data();
}

std::string Queue::RowText(int position, int field) const {
  if (position < 1 || position > Records() || field < 1 || field > layout_.FieldCount()) {
    return {};
  }
  return ReadText(layout_.Field(field), rows_[position - 1].data());
}

bool Queue::ParseFields(std::string_view spec, std::vector<SortKey>& keys) const {
  while (!spec.empty()) {
    const std::size_t comma = spec.find(',');
    std::string_view item = Trim(spec.substr(0, comma));
    spec = comma == std::string_view::npos ? std::string_view() : spec.substr(comma + 1);
    if (item.empty()) continue;
    SortKey key;
    if (item.front() == '+' || item.front() == '-') {
      key.descending = item.front() == '-';
      item = Trim(item.substr(1));
    }
    key.field = layout_.FindField(item);
    if (key.field == 0 && !item.empty() &&
        std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      const int number = item.size() <= 6 ? std::stoi(std::string(item)) : 0;
      if (number >= 1 && number <= layout_.FieldCount()) key.field = number;
    }
    if (key.field == 0) return false;
    keys.push_back(key);
  }
  return true;
}

AnyRef Queue::RowField(const std::vector<char>& row, int field) const {
  // Comparisons only read through the reference.
  return AnyRef(const_cast<char*>(row.data()), layout_.Field(field));
}

}  // namespace rt
