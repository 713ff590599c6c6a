// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/settings/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "support/TempDir.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.Ok());
    dir_ = temp_.Path();
    path_ = (dir_ / "settings.ini").string();
  }

  void WriteRaw(const std::string& content) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::string ReadRaw() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::vector<std::string> DirEntries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_))
      names.push_back(e.path().filename());
    return names;
  }

  testing_support::TempDir temp_{"inifile"};
  fs::path dir_;
  std::string path_;
};

TEST_F(IniFileTest, MissingFileReadsEmptyAndFirstWriteCreatesIt) {
  IniFile ini(path_);
  EXPECT_EQ(ini.Get("Main", "Size", "default"), "default");
  EXPECT_FALSE(ini.Has("Main", "Size"));
  EXPECT_TRUE(ini.Sections().empty());
  EXPECT_FALSE(fs::exists(path_));  // reads never create the file
  EXPECT_EQ(ini.DeleteEntry("Main", "Size"), kNoError);
  EXPECT_FALSE(fs::exists(path_));

  ASSERT_EQ(ini.Put("Main", "Size", "10"), kNoError);
  ASSERT_EQ(ini.Put("Main", "Name", "demo"), kNoError);
  ASSERT_EQ(ini.Put("Other", "Size", "20"), kNoError);
  EXPECT_EQ(ReadRaw(), "[Main]\nSize=10\nName=demo\n\n[Other]\nSize=20\n");
  // Sections and entries match without regard to case; names keep their first spelling.
  EXPECT_EQ(ini.Get("MAIN", "size"), "10");
  EXPECT_EQ(ini.Get("other", "SIZE"), "20");
  ASSERT_EQ(ini.Put("main", "NAME", "changed"), kNoError);
  EXPECT_EQ(ReadRaw(), "[Main]\nSize=10\nName=changed\n\n[Other]\nSize=20\n");
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"Main", "Other"}));
  EXPECT_EQ(ini.Entries("MAIN"), (std::vector<std::string>{"Size", "Name"}));
}

TEST_F(IniFileTest, ValuesRoundTripExactlyUpToTheLengthsTheManagerUses) {
  IniFile ini(path_);
  const std::vector<std::string> values = {
      "",
      "  leading and trailing  ",
      "\"quoted\"",
      "\"",
      "a=b;c#d[e]",
      "F,a$$$b,Query",
      std::string(1023, 'x'),
      std::string(4999, 'y') + "z",
      "\xC3\xA9t\xC3\xA9 \x01\xFF",
  };
  for (std::size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(ini.Put("F$a$$$b$$Query", "Query_" + std::to_string(i + 1), values[i]), kNoError);
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(IniFile(path_).Get("f$A$$$B$$query", "query_" + std::to_string(i + 1), "?"),
              values[i])
        << i;
  }
  // A section name holding "]" survives too.
  ASSERT_EQ(ini.Put("odd]name", "k", "v"), kNoError);
  EXPECT_EQ(ini.Get("odd]name", "k"), "v");
}

TEST_F(IniFileTest, UnstorableNamesAndValuesAreRefusedWithoutTouchingTheFile) {
  IniFile ini(path_);
  ASSERT_EQ(ini.Put("S", "k", "v"), kNoError);
  const std::string before = ReadRaw();
  struct Case {
    std::string section, entry, value;
  };
  for (const Case& c : std::vector<Case>{{"S", "k", "two\nlines"},
                                         {"S", "k", "cr\r"},
                                         {"S", "a=b", "v"},
                                         {"S", "", "v"},
                                         {"S", "  ", "v"},
                                         {"", "k", "v"},
                                         {"S\n[T]", "k", "v"},
                                         {"S", "[k", "v"},
                                         {"S", ";k", "v"}}) {
    ClearError();
    EXPECT_EQ(ini.Put(c.section, c.entry, c.value), kBadNameError) << c.entry;
    EXPECT_EQ(ErrorCode(), kBadNameError);
  }
  EXPECT_EQ(ReadRaw(), before);
  EXPECT_EQ(ini.Get("S", "k"), "v");
}

TEST_F(IniFileTest, RewritesKeepCommentsAndUnrelatedLines) {
  WriteRaw(
      "; settings\n"
      "stray=before any section\n"
      "[First]\n"
      "# a comment\n"
      "Keep = this one \n"
      "not an entry\n"
      "Change=old\n"
      "\n"
      "[Second]\n"
      "X=1\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.Get("First", "Keep"), "this one");
  EXPECT_EQ(ini.Get("First", "stray", "-"), "-");  // entries before any header are not read
  ASSERT_EQ(ini.Put("First", "Change", "new"), kNoError);
  ASSERT_EQ(ini.Put("First", "Added", "1"), kNoError);
  ASSERT_EQ(ini.Put("Third", "Y", "2"), kNoError);
  EXPECT_EQ(ReadRaw(),
            "; settings\n"
            "stray=before any section\n"
            "[First]\n"
            "# a comment\n"
            "Keep = this one \n"
            "not an entry\n"
            "Change=new\n"
            "Added=1\n"
            "\n"
            "[Second]\n"
            "X=1\n"
            "\n"
            "[Third]\n"
            "Y=2\n");
  ASSERT_EQ(ini.DeleteEntry("first", "KEEP"), kNoError);
  ASSERT_EQ(IniFile::Write("Second", "X", std::nullopt, path_), kNoError);
  ASSERT_EQ(ini.DeleteSection("THIRD"), kNoError);
  EXPECT_EQ(ReadRaw(),
            "; settings\n"
            "stray=before any section\n"
            "[First]\n"
            "# a comment\n"
            "not an entry\n"
            "Change=new\n"
            "Added=1\n"
            "\n"
            "[Second]\n");
}

TEST_F(IniFileTest, CrLfFilesAndDuplicateSectionsAreHandled) {
  WriteRaw("[A]\r\nk=first\r\n[B]\r\nk=b\r\n[a]\r\nk=second\r\nonly=here\r\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.Get("A", "k"), "first");
  EXPECT_EQ(ini.Get("A", "only"), "here");  // later occurrences are read too
  ASSERT_EQ(ini.Put("A", "only", "changed"), kNoError);
  ASSERT_EQ(ini.DeleteSection("a"), kNoError);
  EXPECT_EQ(ReadRaw(), "[B]\r\nk=b\r\n");
}

TEST_F(IniFileTest, LookupsAfterRemovalsInTheMiddleFindEveryOtherEntryAndSection) {
  // A section large enough to be indexed, a name held twice in it, and sections that
  // come again later: removals in the middle move what follows them.
  std::string text = "[Big]\n";
  for (int n = 0; n < 30; ++n)
    text += "e" + std::to_string(n) + "=" + std::to_string(n * 7) + "\n";
  text += "e5=again\n[S1]\nk=1\n[S2]\nk=2\n[s1]\nk=dup\nonly=later\n[S3]\nk=3\n";
  WriteRaw(text);
  IniFile ini(path_);
  ASSERT_EQ(ini.Get("Big", "e5"), "35");
  ASSERT_EQ(ini.Apply({{IniFile::Change::Kind::DeleteEntry, "Big", "E5", {}},
                       {IniFile::Change::Kind::DeleteEntry, "Big", "e12", {}}}),
            kNoError);
  for (int n = 0; n < 30; ++n) {
    const bool gone = n == 5 || n == 12;
    EXPECT_EQ(ini.Get("Big", "e" + std::to_string(n), "-"), gone ? "-" : std::to_string(n * 7))
        << n;
  }
  ASSERT_EQ(ini.Put("Big", "e29", "changed"), kNoError);
  ASSERT_EQ(ini.DeleteSection("S1"), kNoError);  // both occurrences, one between others
  EXPECT_EQ(ini.Get("S1", "only", "-"), "-");
  EXPECT_EQ(ini.Get("S2", "k"), "2");
  EXPECT_EQ(ini.Get("S3", "k"), "3");
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"Big", "S2", "S3"}));
  ASSERT_EQ(ini.Put("S1", "k", "new"), kNoError);
  ASSERT_EQ(ini.Put("S3", "k", "4"), kNoError);
  const std::string raw = ReadRaw();
  EXPECT_EQ(raw.find("e5="), std::string::npos);
  EXPECT_NE(raw.find("e29=changed\n"), std::string::npos);
  EXPECT_NE(raw.find("[S2]\nk=2\n[S3]\nk=4\n\n[S1]\nk=new\n"), std::string::npos) << raw;
}

TEST_F(IniFileTest, MalformedFilesReadWhatCanBeReadAndSurviveWrites) {
  std::string junk("\x00\xFF\xFE=\x01", 5);
  std::string huge(2 << 20, 'h');
  WriteRaw("[Good]\nk=1\n" + junk + "\n[Unclosed\nu=2\n=no name\n" + huge + "\n[" + huge +
           "]\nbig=" + huge + "\n[Tail]\nt=3\n[");
  IniFile ini(path_);
  EXPECT_EQ(ini.Get("Good", "k"), "1");
  EXPECT_EQ(ini.Get("Unclosed", "u"), "2");
  EXPECT_EQ(ini.Get(huge, "big"), huge);
  EXPECT_EQ(ini.Get("Tail", "t"), "3");
  ASSERT_EQ(ini.Put("Tail", "t", "4"), kNoError);
  std::string after = ReadRaw();
  EXPECT_NE(after.find(junk), std::string::npos);  // junk lines kept as they were
  EXPECT_NE(after.find("big=" + huge), std::string::npos);
  EXPECT_EQ(ini.Get("Tail", "t"), "4");
  EXPECT_EQ(ini.Get("Good", "k"), "1");
}

TEST_F(IniFileTest, WritesReplaceTheFileAtomically) {
  IniFile ini(path_);
  ASSERT_EQ(ini.Put("S", "a", "1"), kNoError);
  ::chmod(path_.c_str(), 0640);
  struct stat before {};
  ASSERT_EQ(::stat(path_.c_str(), &before), 0);
  ASSERT_EQ(ini.Put("S", "a", "2"), kNoError);
  struct stat after {};
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file was renamed into place
  EXPECT_EQ(after.st_mode & 0777, 0640u);  // keeping the old permissions
  auto entries = DirEntries();
  std::sort(entries.begin(), entries.end());
  // No temporary left; the writers' lock file stays for the next write.
  EXPECT_EQ(entries, (std::vector<std::string>{"settings.ini", "settings.ini.lock"}));
  // Writing the value it already has does not rewrite.
  ASSERT_EQ(ini.Put("S", "a", "2"), kNoError);
  struct stat same {};
  ASSERT_EQ(::stat(path_.c_str(), &same), 0);
  EXPECT_EQ(same.st_ino, after.st_ino);
}

TEST_F(IniFileTest, ConcurrentWritersLoseNothingAndReadersNeverSeeATornFile) {
  IniFile seed(path_);
  ASSERT_EQ(seed.Put("Pair", "left", "0"), kNoError);
  ASSERT_EQ(seed.Put("Pair", "right", "0"), kNoError);
  constexpr int kWriters = 4;
  constexpr int kWrites = 40;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    // Reads the file the way another process would: whole, from disk.
    while (!done) {
      std::ifstream in(path_, std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      std::string text = ss.str();
      if (text.empty() || text.find("[Pair]") == std::string::npos || text.back() != '\n') ++torn;
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      IniFile ini(path_);
      for (int i = 0; i < kWrites; ++i) {
        ini.Put("W" + std::to_string(w), "e" + std::to_string(i), std::to_string(i));
      }
    });
  }
  for (auto& t : writers)
    t.join();
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  IniFile ini(path_);
  for (int w = 0; w < kWriters; ++w) {
    EXPECT_EQ(ini.Entries("W" + std::to_string(w)).size(), static_cast<std::size_t>(kWrites));
  }
}

TEST_F(IniFileTest, BackslashPathsAreRelativeToTheWorkingDirectory) {
  fs::path old = fs::current_path();
  fs::current_path(dir_);
  int code = IniFile::Write("__Dont_Touch_Me__", "Sectors", "0", ".\\PageletDemo.INI");
  std::string read = IniFile::Read("__DONT_TOUCH_ME__", "sectors", "?", "./PageletDemo.INI");
  fs::create_directory("sub");
  int nested = IniFile::Write("S", "k", "v", "sub\\nested.ini");
  fs::current_path(old);
  EXPECT_EQ(code, kNoError);
  EXPECT_EQ(read, "0");
  EXPECT_TRUE(fs::exists(dir_ / "PageletDemo.INI"));
  EXPECT_EQ(nested, kNoError);
  EXPECT_TRUE(fs::exists(dir_ / "sub" / "nested.ini"));
}

TEST_F(IniFileTest, UnwritableLocationsReportAnError) {
  std::string missing = (dir_ / "no-such-folder" / "x.ini").string();
  EXPECT_EQ(IniFile(missing).Put("S", "k", "v"), kNoFileError);
  EXPECT_EQ(ErrorCode(), kNoFileError);
  EXPECT_NE(ErrorText().find("no-such-folder"), std::string::npos);
  EXPECT_EQ(IniFile(missing).Get("S", "k", "d"), "d");
}

TEST_F(IniFileTest, TwoProcessesWritingOneFileLoseNothing) {
  constexpr int kWrites = 300;
  auto writeAll = [&](const std::string& section) {
    IniFile ini(path_);
    int failed = 0;
    for (int i = 0; i < kWrites; ++i)
      failed += ini.Put(section, "e" + std::to_string(i), std::to_string(i)) != kNoError;
    return failed;
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(writeAll("Child") == 0 ? 0 : 1);
  EXPECT_EQ(writeAll("Parent"), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  IniFile ini(path_);
  EXPECT_EQ(ini.Entries("Parent").size(), static_cast<std::size_t>(kWrites));
  EXPECT_EQ(ini.Entries("Child").size(), static_cast<std::size_t>(kWrites));
}

TEST_F(IniFileTest, ProtectedFilesAndBadNamesAreRefusedAndLeftAsTheyWere) {
  WriteRaw("[S]\nkept=1\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  IniFile ini(path_);
  EXPECT_EQ(ini.Put("S", "new", "2"), kAccessDenied);
  EXPECT_EQ(ErrorCode(), kAccessDenied);
  EXPECT_EQ(ini.DeleteEntry("S", "kept"), kAccessDenied);
  EXPECT_EQ(ReadRaw(), "[S]\nkept=1\n");
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(ini.Get("S", "kept"), "1");  // still readable

  // A NUL would cut the name to another file's.
  const std::string cut = (dir_ / "cut").string();
  const std::string withNul = cut + std::string(1, '\0') + ".ini";
  EXPECT_EQ(IniFile(withNul).Put("S", "k", "v"), kBadNameError);
  EXPECT_EQ(IniFile(withNul).Get("S", "k", "d"), "d");
  EXPECT_FALSE(fs::exists(cut));
}

}  // namespace
}  // namespace rt
