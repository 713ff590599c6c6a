// SPDX-License-Identifier: GPL-3.0-or-later
// A BLOB larger than SQLite's limit for one value, filled by 32768-byte writes, stored and read
// back piece by piece.

#include <cstring>

#include "StoreTestTable.h"

using namespace storetest;

class StoreLargeBlob : public StoreFixture {};

namespace {
char ByteAt(std::int64_t i) {
  return static_cast<char>((i * 31 + (i >> 16)) & 0xFF);
}
}  // namespace

TEST_F(StoreLargeBlob, BlobBeyondOneGigabyteRoundTrips) {
  constexpr std::int64_t kSize = (std::int64_t{1} << 30) + 3 * 32768 + 17;
  auto f = Opened();
  SetRow(*f, 1, "huge", 1);
  ASSERT_EQ(f->SetBlobSize(1, kSize), 0);
  std::string piece(32768, '\0');
  for (std::int64_t at = 0; at < kSize; at += 32768) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(32768, kSize - at));
    for (std::size_t i = 0; i < n; ++i)
      piece[i] = ByteAt(at + static_cast<std::int64_t>(i));
    ASSERT_EQ(f->WriteBlob(1, at, piece.data(), n), 0);
  }
  ASSERT_EQ(f->Add(), 0);
  f.reset();

  auto g = MakeTable(path_);
  ASSERT_EQ(g->Open(rt::kOpenReadOnlyDenyNone), 0);
  SetRow(*g, 1, "", 0);
  ASSERT_EQ(g->Get(*g->Key(1)), 0);
  ASSERT_EQ(g->BlobSize(1), kSize);
  std::string buffer(1 << 20, '\0');
  for (std::int64_t at = 0; at < kSize; at += static_cast<std::int64_t>(buffer.size())) {
    std::size_t got = 0;
    ASSERT_EQ(g->ReadBlob(1, at, buffer.data(), buffer.size(), got), 0);
    ASSERT_EQ(static_cast<std::int64_t>(got), std::min<std::int64_t>(buffer.size(), kSize - at));
    for (std::size_t i = 0; i < got; i += 4093) {
      ASSERT_EQ(buffer[i], ByteAt(at + static_cast<std::int64_t>(i))) << "at " << at + i;
    }
    ASSERT_EQ(buffer[got - 1], ByteAt(at + static_cast<std::int64_t>(got) - 1));
  }
}
