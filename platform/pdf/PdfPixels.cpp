// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfPixels.h"

#include <cstdlib>
#include <cstring>

namespace rt {

void PdfPixels::Free::operator()(std::uint8_t* data) const {
  std::free(data);
}

PdfPixels::PdfPixels(PdfPixels&& other) noexcept
    : data_(std::move(other.data_)), size_(other.size_) {
  other.size_ = 0;
}

PdfPixels& PdfPixels::operator=(PdfPixels&& other) noexcept {
  if (this != &other) {
    data_ = std::move(other.data_);
    size_ = other.size_;
    other.size_ = 0;
  }
  return *this;
}

PdfPixels PdfPixels::Allocate(std::size_t size) {
  return Adopt(size == 0 ? nullptr : std::malloc(size), size);
}

PdfPixels PdfPixels::Adopt(void* data, std::size_t size) {
  PdfPixels pixels;
  pixels.data_.reset(static_cast<std::uint8_t*>(data));
  pixels.size_ = data == nullptr ? 0 : size;
  return pixels;
}

bool operator==(const PdfPixels& a, const PdfPixels& b) {
  return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data(), b.data(), a.size_) == 0);
}

}  // namespace rt
