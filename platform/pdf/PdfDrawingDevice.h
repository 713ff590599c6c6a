// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The library's drawing device as the engine draws with it: 32-bit pixels on a transparent
// background, smoothed shapes and text, no font hinting, and a glyph cache that holds a page
// of text.
//
// The library gives each font a cache of its drawn glyphs sized by the font's bounding box:
// a text font at 150 dpi gets 8 or 16 glyphs, fewer than a page of text uses, so nearly
// every character is loaded from the font and rasterised again (most of the work of drawing
// such a page). The device widens each font's cache when it first draws with it, to up to
// 512 glyphs within kGlyphCacheBytes. A glyph comes out of the cache exactly as it was drawn
// into it, so the pixels are the same; only the work changes. Not thread-safe: one thread
// draws with a device at a time (each draw makes its own).

#include <poppler/SplashOutputDev.h>

#include <cstddef>

class SplashFont;

namespace rt {

class PdfDrawingDevice : public SplashOutputDev {
 public:
  // The most memory one font's glyph cache may take (the library caches up to 16 fonts per
  // device, and the memory is touched only as glyphs are stored).
  static constexpr std::size_t kGlyphCacheBytes = 512 * 1024;

  PdfDrawingDevice();

  void drawChar(GfxState* state, double x, double y, double dx, double dy, double originX,
                double originY, CharCode code, int nBytes, const Unicode* u, int uLen) override;

  // Widens `font`'s glyph cache to as many sets (up to 64 of 8 glyphs) as fit in
  // `maxBytes`; false when it is left as it was (already as wide, glyphs too large, not
  // smoothed, or no memory).
  static bool WidenGlyphCache(SplashFont& font, std::size_t maxBytes);
  // How many fonts' caches this device has widened.
  int WidenedCaches() const { return widenedCaches_; }

 private:
  SplashFont* seen_ = nullptr;  // the font drawn with last, already widened if it can be
  int widenedCaches_ = 0;
};

}  // namespace rt
