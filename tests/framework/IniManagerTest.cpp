// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/util/IniManager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "support/WorkDir.h"

namespace {

namespace fs = std::filesystem;

constexpr char kFile[] = ".\\settings.INI";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A queue of four text parts, like a saved query's columns.
rt::RecordLayout PartsLayout() {
  rt::RecordLayout layout("Parts");
  layout.AddField("P1", rt::FieldType::CString, 2000);
  layout.AddField("P2", rt::FieldType::CString, 100);
  layout.AddField("P3", rt::FieldType::CString, 100);
  layout.AddField("P4", rt::FieldType::CString, 100);
  return layout;
}

void AddParts(rt::Queue& queue, std::string_view p1, std::string_view p2, std::string_view p3,
              std::string_view p4) {
  queue.Field(1).SetText(p1);
  queue.Field(2).SetText(p2);
  queue.Field(3).SetText(p3);
  queue.Field(4).SetText(p4);
  queue.Add();
}

class IniManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("ini-manager");
    ASSERT_TRUE(work_->Ok());
    path_ = work_->Path() / "settings.INI";
  }
  void TearDown() override { work_.reset(); }

  int WriteList(IniManager& ini, rt::Queue& q) {
    return ini.UpdateQueue("Cols", "Query", q, q.Field(1), q.Field(2), q.Field(4), q.Field(3));
  }
  void ReadList(IniManager& ini, rt::Queue& q) {
    ini.FetchQueue("Cols", "Query", q, q.Field(1), q.Field(2), q.Field(4), q.Field(3));
  }
  std::vector<std::string> Sectors(IniManager& ini, std::string_view family = {}) {
    rt::Queue found(IniManager::SectorLayout());
    ini.ListSectors(family, {}, {}, found);
    std::vector<std::string> out;
    for (int n = 1; n <= found.Records(); ++n)
      out.push_back(found.RowText(n, 1) + "|" + found.RowText(n, 2) + "|" + found.RowText(n, 3));
    return out;
  }

  std::optional<testing_support::WorkDir> work_;
  fs::path path_;
};

TEST_F(IniManagerTest, SectorNamesEscapeTheItemAndTheCatalogueSurvivesWithoutClose) {
  EXPECT_EQ(IniManager::MakeSectorName("F", "a$b", "Query"), "F$a$$$b$$Query");
  {
    IniManager ini;
    ini.Init(kFile);
    EXPECT_EQ(ini.AddSector(IniManager::MakeSectorName("F", "a$b", "Query")), rt::kNoError);
    ini.AddSector(IniManager::MakeSectorName("F", "tail$", "Query"));
    ini.AddSector(IniManager::MakeSectorName("Browse", "x", "Query"));
    ini.AddSector(IniManager::MakeSectorName("F", "a$b", "Query"));  // already there
    EXPECT_EQ(ini.Sectors->RowText(2, 2), "a$$$b");                  // kept escaped, sorted
    EXPECT_EQ(Sectors(ini, "F"), (std::vector<std::string>{"F|a$b|Query", "F|tail$|Query"}));
    rt::Queue one(IniManager::SectorLayout());
    ini.ListSectors("F", "tail$", "Query", one);
    EXPECT_EQ(one.Records(), 1);
    // No Close: as after a crash.
  }
  const std::string text = ReadAll(path_);
  EXPECT_NE(text.find("[__Dont_Touch_Me__]\nSectors=3\n"), std::string::npos) << text;
  // Stored escaped, in the order added (the catalogue is sorted in memory).
  EXPECT_NE(text.find("Sectors_1=F,a$$$b,Query\n"), std::string::npos) << text;
  IniManager again;
  again.Init(kFile);
  EXPECT_EQ(Sectors(again),
            (std::vector<std::string>{"Browse|x|Query", "F|a$b|Query", "F|tail$|Query"}));
  EXPECT_EQ(again.Close(), rt::kNoError);
  EXPECT_EQ(again.Sectors, nullptr);
}

TEST_F(IniManagerTest, ListsRoundTripAnyPartAndAShorterListLeavesOldEntries) {
  IniManager ini;
  ini.Init(kFile);
  rt::Queue five(PartsLayout());
  for (int i = 1; i <= 5; ++i)
    AddParts(five, "name" + std::to_string(i), "m", "lo", "hi");
  ASSERT_EQ(WriteList(ini, five), rt::kNoError);
  rt::Queue three(PartsLayout());
  const std::string longPart(3000 - 10, 'x');
  AddParts(three, "a,b", "50%2C", "line\nbreak", "");
  AddParts(three, longPart.substr(0, 1990), "m", "lo", "hi");
  AddParts(three, "", "", "", "");
  ASSERT_EQ(WriteList(ini, three), rt::kNoError);
  EXPECT_EQ(ini.FetchValue("Cols", "Query"), "3");
  EXPECT_EQ(ini.FetchValue("Cols", "Query_5"), "name5,m,lo,hi");  // left in place

  rt::Queue back(PartsLayout());
  ReadList(ini, back);
  ASSERT_EQ(back.Records(), 3);
  EXPECT_EQ(back.RowText(1, 1), "a,b");
  EXPECT_EQ(back.RowText(1, 2), "50%2C");
  EXPECT_EQ(back.RowText(1, 3), "line\nbreak");
  EXPECT_EQ(back.RowText(2, 1), longPart.substr(0, 1990));  // longer than a single value
  EXPECT_EQ(back.RowText(2, 4), "hi");
  EXPECT_EQ(back.RowText(3, 1), "");

  // Parts of a plain value: each next comma after the previous; without one, the whole.
  ini.UpdateValue("S", "abc", "a,b,c");
  ini.UpdateValue("S", "plain", "whole");
  EXPECT_EQ(ini.FetchField("S", "abc", 2), "b");
  EXPECT_EQ(ini.FetchField("S", "abc", 3), "c");
  EXPECT_EQ(ini.FetchField("S", "plain", 3), "whole");
  EXPECT_EQ(ini.FetchField("S", "missing", 2), "---Unknown---");
  EXPECT_EQ(ini.FetchValue("S", "missing"), "");
}

TEST_F(IniManagerTest, RemovedSectorIsGoneAfterARestartAndNothingElseIs) {
  WriteAll(path_, "; kept by hand\n[Other]\nk=v\n");
  const std::vector<std::string> items = {"quote \"q\"", "a=b", "[x]", "Müller", "d$e", "Abc"};
  {
    IniManager ini;
    ini.Init(kFile);
    rt::Queue list(PartsLayout());
    AddParts(list, "col", "value", "", "");
    for (const std::string& item : items) {
      const std::string sector = IniManager::MakeSectorName("F", item, "Query");
      ASSERT_EQ(ini.AddSector(sector), rt::kNoError) << item;
      ASSERT_EQ(ini.UpdateQueue(sector, "Query", list, list.Field(1), list.Field(2)), rt::kNoError);
    }
    ini.AddSector(IniManager::MakeSectorName("F", "abc", "Query"));  // same section as "Abc"
    ASSERT_EQ(Sectors(ini).size(), 7u);
    for (const char* item : {"a=b", "[x]", "d$e", "ABC"})
      EXPECT_EQ(ini.RemoveSector(IniManager::MakeSectorName("F", item, "Query")), rt::kNoError)
          << item;
    EXPECT_EQ(ini.RemoveSector("F$never$$Query"), rt::kNoError);
    EXPECT_EQ(Sectors(ini), (std::vector<std::string>{"F|Müller|Query", "F|quote \"q\"|Query"}));
    // No Close: removal is stored at once.
  }
  const std::string text = ReadAll(path_);
  EXPECT_EQ(text.find("a=b$$"), std::string::npos) << text;
  EXPECT_EQ(text.find("Sectors_3="), std::string::npos) << text;  // no stale catalogue entries
  EXPECT_EQ(text.rfind("; kept by hand\n[Other]\nk=v\n", 0), 0u) << text;
  IniManager again;
  again.Init(kFile);
  EXPECT_EQ(Sectors(again), (std::vector<std::string>{"F|Müller|Query", "F|quote \"q\"|Query"}));
  for (const char* item : {"Müller", "quote \"q\""}) {
    rt::Queue read(PartsLayout());
    again.FetchQueue(IniManager::MakeSectorName("F", item, "Query"), "Query", read, read.Field(1),
                     read.Field(2));
    ASSERT_EQ(read.Records(), 1) << item;
    EXPECT_EQ(read.RowText(1, 2), "value");
  }
}

TEST_F(IniManagerTest, DamagedFilesNeverStopStartUp) {
  // Binary garbage with a count that claims far more records than the file holds.
  std::string garbage = "[__Dont_Touch_Me__]\nSectors=2000000000\nSectors_1=F,i,T\n";
  for (int i = 0; i < 4096; ++i)
    garbage += static_cast<char>((i * 131 + 7) % 256);
  WriteAll(path_, garbage);
  {
    IniManager ini;
    ini.Init(kFile);
    EXPECT_LT(ini.Sectors->Records(), 100);
    EXPECT_EQ(Sectors(ini, "F"), (std::vector<std::string>{"F|i|T"}));
  }
  // A 10 MB line, CRLF endings and a duplicate section.
  WriteAll(path_, "[S]\r\nbig=" + std::string(10 << 20, 'v') +
                      "\r\nk=first\r\n[S]\r\nk=second\r\n[__Dont_Touch_Me__]\r\nSectors=x\r\n");
  IniManager ini;
  ini.Init(kFile);
  EXPECT_EQ(ini.Sectors->Records(), 0);
  EXPECT_EQ(ini.FetchValue("S", "big").size(), kIniValueSize - 1);
  EXPECT_EQ(ini.FetchValue("S", "k"), "first");
  EXPECT_EQ(ini.UpdateValue("S", "k", "changed"), rt::kNoError);
  EXPECT_EQ(ini.FetchValue("S", "k"), "changed");
  EXPECT_NE(ReadAll(path_).find("k=changed\r\n"), std::string::npos);

  // A value that would break the file's syntax is refused; the file stays as it was.
  const std::string before = ReadAll(path_);
  EXPECT_NE(ini.UpdateValue("S", "k", "two\nlines"), rt::kNoError);
  EXPECT_NE(ini.UpdateValue("S", "k", "x\r[Injected]"), rt::kNoError);
  EXPECT_EQ(ReadAll(path_), before);
}

TEST_F(IniManagerTest, UnwritableFilesAreReadAndWritesReportTheFailure) {
  // A folder that does not exist: nothing can be stored, fetches give the defaults.
  IniManager missing;
  missing.Init(".\\no-such-folder\\settings.INI");
  EXPECT_NE(missing.UpdateValue("S", "k", "v"), rt::kNoError);
  EXPECT_NE(missing.AddSector("F$i$$Query"), rt::kNoError);
  EXPECT_NE(missing.Close(), rt::kNoError);
  EXPECT_FALSE(fs::exists(work_->Path() / "no-such-folder"));

  if (::geteuid() == 0) GTEST_SKIP() << "root ignores file permissions";
  WriteAll(path_, "[S]\nk=v\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(work_->Path().c_str(), 0555), 0);
  IniManager ini;
  ini.Init(kFile);
  EXPECT_EQ(ini.FetchValue("S", "k"), "v");
  EXPECT_NE(ini.UpdateValue("S", "k", "new"), rt::kNoError);
  EXPECT_EQ(ini.FetchValue("S", "k"), "v");
  ::chmod(work_->Path().c_str(), 0755);
}

TEST_F(IniManagerTest, RegistryStorageDeletesOnEmptyAndNoStorageKeepsNothing) {
  const fs::path config = work_->Path() / "config";
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  {
    IniManager ini;
    ini.Init("Software\\Demo", kRegistryStorage, 0);
    EXPECT_EQ(ini.FetchValue("S", "k"), "");
    EXPECT_EQ(ini.Fetch("S", "k", "dflt", ini.FileName), "dflt");
    ASSERT_EQ(ini.UpdateValue("S", "k", "v"), rt::kNoError);
    EXPECT_EQ(ini.FetchValue("S", "k"), "v");
    const std::string stored = ReadAll(config / "pagelet-demo" / "registry.ini");
    EXPECT_NE(stored.find("[80000000\\Software\\Demo\\S]"), std::string::npos) << stored;
    ASSERT_EQ(ini.UpdateValue("S", "k", ""), rt::kNoError);
    EXPECT_EQ(ReadAll(config / "pagelet-demo" / "registry.ini").find("k="), std::string::npos);
    ini.AddSector("F$i$$Query");
    ini.Close();
    IniManager again;
    again.Init("Software\\Demo", kRegistryStorage, 0);
    EXPECT_EQ(again.Sectors->Records(), 1);
  }
  if (old)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");

  IniManager none;
  none.Init(kFile, kNoStorage);
  EXPECT_EQ(none.UpdateValue("S", "k", "v"), rt::kNoError);
  none.AddSector("F$i$$Query");
  none.Close();
  EXPECT_EQ(none.Fetch("S", "k", "dflt", kFile), "");
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(IniManagerTest, ThreadsShareOneManager) {
  IniManager ini;
  ini.Init(kFile);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&ini, t] {
      for (int i = 0; i < 5; ++i) {
        const std::string item = std::to_string(t) + "-" + std::to_string(i);
        ini.AddSector(IniManager::MakeSectorName("F", item, "Query"));
        ini.UpdateValue("Values", item, item);
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  ini.Close();
  IniManager again;
  again.Init(kFile);
  EXPECT_EQ(again.Sectors->Records(), 15);
  EXPECT_EQ(again.FetchValue("Values", "2-4"), "2-4");
}

// A named pipe or a folder in place of the INI file: Init says why at once and the manager
// works on defaults without writing over it. A watchdog keeps the bound: a start-up blocked
// in opening the pipe has its reader released (the pipe's other end opened and closed)
// until it returns, and the test fails instead of hanging.
TEST_F(IniManagerTest, PipeOrFolderInPlaceOfTheFileNeverBlocksAndIsLeftAsItIs) {
  struct Outcome {
    int init = -1;
    std::string why;
    int records = -1;
    std::string value;
    int update = 0;
    int close = 0;
  };
  const auto start = [] {
    Outcome o;
    IniManager ini;
    o.init = ini.Init(kFile);
    o.why = rt::ErrorText();
    o.records = ini.Sectors->Records();
    o.value = ini.FetchField("S", "k", 1);
    o.update = ini.UpdateValue("S", "k", "v") | ini.AddSector("F$i$$Query");
    o.close = ini.Close();
    return o;
  };
  const auto watched = [&] {
    auto done = std::async(std::launch::async, start);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool blocked = false;
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      if (std::chrono::steady_clock::now() < deadline) continue;
      blocked = true;
      const int writer = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
    EXPECT_FALSE(blocked) << "start-up blocked on " << path_;
    return done.get();
  };

  ASSERT_EQ(::mkfifo(path_.c_str(), 0644), 0);
  Outcome pipe = watched();
  EXPECT_EQ(pipe.init, rt::kAccessDenied);
  EXPECT_NE(pipe.why.find("named pipe"), std::string::npos) << pipe.why;
  EXPECT_EQ(pipe.records, 0);
  EXPECT_EQ(pipe.value, kUnknownValue);
  EXPECT_NE(pipe.update, rt::kNoError);
  EXPECT_NE(pipe.close, rt::kNoError);
  EXPECT_TRUE(fs::is_fifo(path_));

  fs::remove(path_);
  fs::create_directory(path_);
  Outcome folder = watched();
  EXPECT_NE(folder.init, rt::kNoError);
  EXPECT_FALSE(folder.why.empty());
  EXPECT_EQ(folder.records, 0);
  EXPECT_NE(folder.update, rt::kNoError);
  EXPECT_TRUE(fs::is_directory(path_));

  // Once a plain file is back, the same manager code reads and writes it as usual.
  fs::remove(path_);
  WriteAll(path_, "[S]\nk=v\n");
  Outcome plain = watched();
  EXPECT_EQ(plain.init, rt::kNoError);
  EXPECT_EQ(plain.value, "v");
  EXPECT_EQ(plain.update, rt::kNoError);
}

// The file is kept in memory between operations, yet a value another process wrote is read,
// a write never drops the other process's entries, and a list is replaced whole: a reader
// in another process never sees part of one version and part of another.
TEST_F(IniManagerTest, AnotherProcessSeesWholeListsAndItsWritesAreSeenAndKept) {
  constexpr int kVersions = 40;
  constexpr int kRecords = 4;
  const fs::path stop = work_->Path() / "stop";
  auto writeVersion = [](IniManager& ini, char letter) {
    rt::Queue q(PartsLayout());
    for (int n = 1; n <= kRecords; ++n)
      AddParts(q, std::string(1, letter) + std::to_string(n), "x", "y", "z");
    return ini.UpdateQueue("L", "Query", q, q.Field(1), q.Field(2), q.Field(4), q.Field(3));
  };
  IniManager ini;
  ini.Init(kFile);
  ASSERT_EQ(writeVersion(ini, 'a'), rt::kNoError);
  EXPECT_EQ(ini.FetchValue("Child", "said"), "");

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Reads the list over and over until told to stop; then writes a value of its own.
    IniManager reader;
    reader.Init(kFile);
    int torn = 0;
    for (int round = 0; round < 200000 && !fs::exists(stop); ++round) {
      rt::Queue q(PartsLayout());
      reader.FetchQueue("L", "Query", q, q.Field(1), q.Field(2), q.Field(4), q.Field(3));
      std::string letters;
      for (int n = 1; n <= q.Records(); ++n)
        letters += q.RowText(n, 1).substr(0, 1);
      torn += q.Records() != kRecords ||
              letters.find_first_not_of(letters.substr(0, 1)) != std::string::npos;
    }
    const int said = reader.UpdateValue("Child", "said", "hello");
    ::_exit(torn == 0 && said == rt::kNoError ? 0 : 1);
  }
  for (int v = 1; v <= kVersions; ++v)
    EXPECT_EQ(writeVersion(ini, v % 2 ? 'b' : 'a'), rt::kNoError);
  WriteAll(stop, "");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the reader saw a torn list";

  EXPECT_EQ(ini.FetchValue("Child", "said"), "hello");
  ASSERT_EQ(ini.UpdateValue("Parent", "said", "hi"), rt::kNoError);
  const std::string text = ReadAll(path_);
  EXPECT_NE(text.find("said=hello"), std::string::npos) << text;
  EXPECT_NE(text.find("said=hi"), std::string::npos) << text;
}

}  // namespace
