// SPDX-License-Identifier: GPL-3.0-or-later
// The RAW and TEXT drivers on real files.

#include <cstring>
#include <fstream>

#include "StoreTestTable.h"
#include "platform/runtime/threads/ErrorState.h"

using namespace storetest;

namespace {

rt::RecordLayout BufferLayout(std::uint32_t size) {
  rt::RecordLayout layout("Buffer");
  layout.AddField("BUFFER", rt::FieldType::String, size);
  return layout;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

class RawTextDriver : public StoreFixture {};

TEST_F(RawTextDriver, RawReadsInBufferSizedPiecesAtBytePositions) {
  std::string bytes(32769, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i % 253);
  WriteFile(dir_ + "/in.pdf", bytes);
  rt::File in("INFILE", "", "RAW", BufferLayout(32768));
  EXPECT_EQ(in.Open(0x40), rt::kNoFileError);  // name not set yet: the label
  in.SetName(dir_ + "/in.pdf");
  ASSERT_EQ(in.Open(0x40), 0);
  EXPECT_EQ(in.Send("FILEBUFFERS=64"), 0);
  std::int64_t size = 0;
  ASSERT_EQ(in.Size(size), 0);
  EXPECT_EQ(size, 32769);

  ASSERT_EQ(in.GetByPointer(1, 32768), 0);
  EXPECT_EQ(in.BytesRead(), 32768u);
  EXPECT_EQ(std::memcmp(in.Record(), bytes.data(), 32768), 0);
  ASSERT_EQ(in.GetByPointer(32769, 1), 0);
  EXPECT_EQ(in.BytesRead(), 1u);
  EXPECT_EQ(static_cast<char>(in.Record()[0]), bytes[32768]);
  EXPECT_EQ(in.GetByPointer(32770, 1), rt::kNoRecordError);
  EXPECT_EQ(in.Put(), rt::kAccessDenied);  // opened read-only
  EXPECT_EQ(in.Close(), 0);
}

TEST_F(RawTextDriver, RawWritesAppendAndReadSequentially) {
  rt::File out("OUTFILE", "", "RAW", BufferLayout(4));
  out.SetName(dir_ + "/out.bin");
  ASSERT_EQ(out.Create(), 0);
  ASSERT_EQ(out.Open(rt::kOpenReadWriteDenyNone), 0);
  std::memcpy(out.Record(), "abcd", 4);
  ASSERT_EQ(out.Add(), 0);
  std::memcpy(out.Record(), "efgh", 4);
  ASSERT_EQ(out.Add(2), 0);
  ASSERT_EQ(out.WriteAt(2, 1), 0);  // 'e' over 'b'
  static_cast<void>(out.Set());
  ASSERT_EQ(out.Next(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.Record()), 4), "aecd");
  ASSERT_EQ(out.Next(), 0);
  EXPECT_EQ(out.BytesRead(), 2u);
  EXPECT_EQ(out.Next(), rt::kNoRecordError);
  auto table = MakeTable(path_);  // a key of another file is refused
  EXPECT_EQ(out.Get(*table->Key(1)), rt::kInvalidKeyError);
  EXPECT_EQ(out.Delete(), rt::kNoDriverError);
}

TEST_F(RawTextDriver, TextAppendsAndReadsLines) {
  rt::RecordLayout layout("Line");
  layout.AddField("LOG:Line", rt::FieldType::String, 10);
  rt::File log("ERRLOG", "LOG", "TEXT", layout);
  log.SetName(dir_ + "/Error.Log");
  EXPECT_EQ(log.Open(rt::kOpenReadWriteDenyNone), rt::kNoFileError);
  ASSERT_EQ(log.Create(), 0);
  ASSERT_EQ(log.Open(rt::kOpenReadWriteDenyNone), 0);
  for (const char* line : {"one", "two  ", ""}) {
    rt::WriteText(layout.Field(1), log.Record(), line);
    ASSERT_EQ(log.Add(), 0);
  }
  static_cast<void>(log.Close());
  {
    std::ofstream append(dir_ + "/Error.Log", std::ios::app);
    append << "a line longer than ten\r\nlast";
  }
  ASSERT_EQ(log.Open(0x40), 0);
  std::int64_t lines = 0;
  ASSERT_EQ(log.Records(lines), 0);
  EXPECT_EQ(lines, 5);
  std::vector<std::string> read;
  std::string third;
  static_cast<void>(log.Set());
  while (log.Next() == 0) {
    std::string s = rt::ReadText(layout.Field(1), log.Record());
    while (!s.empty() && s.back() == ' ')
      s.pop_back();
    read.push_back(s);
    if (read.size() == 4) third = log.Position();
  }
  EXPECT_EQ(read, (std::vector<std::string>{"one", "two", "", "a line lon", "last"}));
  ASSERT_EQ(log.Reget(nullptr, third), 0);
  EXPECT_EQ(rt::ReadText(layout.Field(1), log.Record()), "a line lon");
  EXPECT_EQ(log.Add(), rt::kAccessDenied);
}
