// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The memory of a rendered page's pixels: one block from the C allocator, owned here and
// freed exactly once. The PDF library allocates its page bitmaps the same way, so a drawn
// page's memory is adopted as it is instead of copied. Move-only; the accessors are named as
// a container's, since the front ends read the bytes the way they read a vector.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace rt {

class PdfPixels {
 public:
  PdfPixels() = default;
  PdfPixels(PdfPixels&& other) noexcept;
  PdfPixels& operator=(PdfPixels&& other) noexcept;
  ~PdfPixels() = default;
  // `size` bytes, uninitialised; empty when the memory cannot be had.
  static PdfPixels Allocate(std::size_t size);
  // Takes `data` (from malloc, `size` bytes) over; it is freed with the pixels.
  static PdfPixels Adopt(void* data, std::size_t size);

  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Same length and same bytes.
  friend bool operator==(const PdfPixels& a, const PdfPixels& b);

 private:
  struct Free {
    void operator()(std::uint8_t* data) const;
  };

  std::unique_ptr<std::uint8_t, Free> data_;
  std::size_t size_ = 0;
};

}  // namespace rt
