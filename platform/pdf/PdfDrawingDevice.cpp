// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfDrawingDevice.h"

#include <poppler/goo/gmem.h>
#include <poppler/splash/SplashFont.h>

namespace rt {
namespace {

// Names the protected members of the library's font, which hold its glyph cache; never made.
struct GlyphCacheAccess : SplashFont {
  static constexpr auto kAa = &GlyphCacheAccess::aa;
  static constexpr auto kCache = &GlyphCacheAccess::cache;
  static constexpr auto kCacheTags = &GlyphCacheAccess::cacheTags;
  static constexpr auto kGlyphSize = &GlyphCacheAccess::glyphSize;
  static constexpr auto kCacheSets = &GlyphCacheAccess::cacheSets;
  static constexpr auto kCacheAssoc = &GlyphCacheAccess::cacheAssoc;
};

// One entry of a font's glyph cache as the library lays it out (its header names the type
// only): the glyph, its position fractions, a valid bit (the top one) with the entry's rank
// in its set (0: most recently used), and the glyph bitmap's offset and size. A set of
// kAssociativity entries starts with ranks 0 to kAssociativity - 1, none valid; a glyph goes
// to set (glyph & (sets - 1)), so the number of sets is a power of two.
struct GlyphTag {
  int c;
  short xFrac;
  short yFrac;
  int mru;
  int x;
  int y;
  int w;
  int h;
};
static_assert(sizeof(GlyphTag) == 28);

constexpr int kAssociativity = 8;
constexpr int kMaxSets = 64;
constexpr int kValid = static_cast<int>(0x80000000U);

// Whether a font's tags look as laid out above: each set's ranks are 0 to kAssociativity - 1
// in some order. Guards against a library that lays its cache out otherwise.
bool TagsAsExpected(const GlyphTag* tags, int sets) {
  for (int set = 0; set < sets; ++set) {
    unsigned seen = 0;
    for (int way = 0; way < kAssociativity; ++way) {
      const int rank = tags[set * kAssociativity + way].mru & ~kValid;
      if (rank < 0 || rank >= kAssociativity) return false;
      seen |= 1U << rank;
    }
    if (seen != (1U << kAssociativity) - 1) return false;
  }
  return true;
}

}  // namespace

PdfDrawingDevice::PdfDrawingDevice()
    : SplashOutputDev(splashModeXBGR8, 4, false, nullptr, true, splashThinLineDefault) {
  setFontAntialias(true);
  setFreeTypeHinting(false, false);
  setVectorAntialias(true);
}

void PdfDrawingDevice::drawChar(GfxState* state, double x, double y, double dx, double dy,
                                double originX, double originY, CharCode code, int nBytes,
                                const Unicode* u, int uLen) {
  SplashOutputDev::drawChar(state, x, y, dx, dy, originX, originY, code, nBytes, u, uLen);
  SplashFont* current = getCurrentFont();
  if (current != nullptr && current != seen_) {
    seen_ = current;
    if (WidenGlyphCache(*current, kGlyphCacheBytes)) ++widenedCaches_;
  }
}

bool PdfDrawingDevice::WidenGlyphCache(SplashFont& font, std::size_t maxBytes) {
  using A = GlyphCacheAccess;
  const int glyphSize = font.*A::kGlyphSize;
  const int oldSets = font.*A::kCacheSets;
  if (!(font.*A::kAa) || font.*A::kCache == nullptr || font.*A::kCacheTags == nullptr ||
      font.*A::kCacheAssoc != kAssociativity || glyphSize <= 0 || oldSets <= 0)
    return false;
  int sets = kMaxSets;
  while (sets > oldSets &&
         static_cast<std::size_t>(sets) * kAssociativity * static_cast<std::size_t>(glyphSize) >
             maxBytes)
    sets /= 2;
  if (sets <= oldSets) return false;
  if (!TagsAsExpected(reinterpret_cast<const GlyphTag*>(font.*A::kCacheTags), oldSets))
    return false;

  // Both blocks from the library's allocator, which the font frees them with.
  auto* cache =
      static_cast<unsigned char*>(gmallocn_checkoverflow(sets * kAssociativity, glyphSize));
  auto* tags = static_cast<GlyphTag*>(
      gmallocn_checkoverflow(sets * kAssociativity, static_cast<int>(sizeof(GlyphTag))));
  if (cache == nullptr || tags == nullptr) {
    gfree(cache);
    gfree(tags);
    return false;
  }
  for (int i = 0; i < sets * kAssociativity; ++i)
    tags[i] = GlyphTag{0, 0, 0, i % kAssociativity, 0, 0, 0, 0};
  // The glyphs cached so far (those of the first character drawn) are dropped.
  gfree(font.*A::kCache);
  gfree(font.*A::kCacheTags);
  font.*A::kCache = cache;
  font.*A::kCacheTags = reinterpret_cast<SplashFontCacheTag*>(tags);
  font.*A::kCacheSets = sets;
  return true;
}

}  // namespace rt
