// Locating by typed characters and dragging the thumb to 10%, 50% and 90% on a browse over
// a table of 10,000 rows and one of 1,000,000 rows. Both look the record up by value through
// the order's key and read one page from there, so an action should cost about the same at
// either size. Prints the cost per action and the ratio between the two sizes.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLocator.h"
#include "framework/browse/StepLong.h"
#include "framework/data/FileManager.h"
#include "framework/data/RelationManager.h"
#include "framework/error/ErrorManager.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Window.h"
#include "platform/store/StoreDriver.h"

namespace {

constexpr int kRows = 20;  // rows the list shows
constexpr int kRounds = 20;

std::unique_ptr<rt::File> Table(const std::string& name) {
  rt::RecordLayout layout("Loc");
  layout.AddField("LOC:ID", rt::FieldType::Long);
  layout.AddField("LOC:Name", rt::FieldType::String, 20);
  auto f = std::make_unique<rt::File>("LOCATE", "LOC", "STORE", std::move(layout));
  f->AddKey("LOC:ID_Key", {{1, true, false}}, true, true);
  f->AddKey("LOC:Name_Key", {{2, true, true}}, false);
  f->SetName(name);
  return f;
}

bool Build(const std::string& name, int rows) {
  auto f = Table(name);
  if (f->Create() != 0 || f->Open(0x42) != 0 || f->SetTransactionMember(true) != 0) return false;
  if (rt::StartTransaction(10) != 0) return false;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> letter('a', 'z');
  for (int i = 1; i <= rows; ++i) {
    std::string text(8, ' ');
    for (char& c : text)
      c = static_cast<char>(letter(rng));
    rt::WriteInteger(f->Layout().Field(1), f->Record(), i);
    rt::WriteText(f->Layout().Field(2), f->Record(), text);
    if (f->Add() != 0) return false;
  }
  return rt::CommitTransaction() == 0;
}

class Manager : public FileManager {
 public:
  Manager(rt::File& file, ErrorManager& errors) {
    File = &file;
    Errors = &errors;
    FileManager::Init();
    FileManager::InitFile(file, errors);
    AddKey(*file.Key(1), "");
    AddKey(*file.Key(2), "");
  }
  ~Manager() override { Shutdown(); }
};

// One browse over the table in the order of `key`, as a browse procedure sets it up.
struct Browse {
  Browse(const std::string& name, int key, ErrorManager& errors) {
    file = Table(name);
    manager = std::make_unique<Manager>(*file, errors);
    relations.Init(*manager, 0);
    view = std::make_unique<rt::View>(*file);
    rt::RecordLayout layout("Page");
    layout.AddField("Q:ID", rt::FieldType::Long);
    layout.AddField("Q:Name", rt::FieldType::String, 20);
    layout.AddField("Q:Pos", rt::FieldType::String, kPositionFieldSize);
    queue = std::make_unique<rt::Queue>(layout);
    auto def = std::make_shared<rt::WindowDef>("BenchLocate", "LIST", "Bench");
    def->List("40R(2)|M~ID~C(0)@n-7@80L(2)|M~Name~L(2)@s20@")
        .At(0, 0, 200, rt::kListHeaderHeight + kRows * rt::kListRowHeight)
        .VScroll();
    window = std::make_unique<rt::Window>(def);
    window->BindList(1, queue.get());
    window->Open();
    controller.MyWindow = window.get();
    browse.Init(1, queue->Field(3).Address(), kPositionFieldSize, *view, *queue, relations,
                controller);
    thumb.Init(1);
    browse.AddSortOrder(&thumb, file->Key(key));
    locator.Init(0, Field(key == 1 ? 1 : 2), true, browse);
    browse.AddLocator(&locator);
    browse.AddField(Field(1), queue->Field(1));
    browse.AddField(Field(2), queue->Field(2));
    browse.SetAlerts();
    browse.ResetSort(true);
    browse.UpdateWindow();
  }
  ~Browse() {
    browse.Kill();
    window->Close();
    relations.Kill();
  }
  rt::AnyRef Field(int n) { return rt::AnyRef(file->Record(), file->Layout().Field(n)); }

  std::unique_ptr<rt::File> file;
  std::unique_ptr<Manager> manager;
  RelationManager relations;
  std::unique_ptr<rt::View> view;
  std::unique_ptr<rt::Queue> queue;
  std::unique_ptr<rt::Window> window;
  WindowController controller;
  StepLong thumb;
  StepLocator locator;
  BrowseManager browse;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Microseconds per typed character (locate by value in the name order).
double Locate(const std::string& name, ErrorManager& errors, long& sum) {
  Browse b(name, 2, errors);
  const std::string keys = "qmbxfkatsz";
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    const auto t0 = std::chrono::steady_clock::now();
    for (char c : keys) {
      b.window->SetKeyCode(c - 'a' + 'A');
      b.browse.TakeKey();
      sum += b.browse.CurrentChoice;
    }
    best = std::min(best, Seconds(t0) * 1e6 / keys.size());
  }
  return best;
}

// Microseconds per thumb drag to 10%, 50% and 90% (the value there, then a refill).
double Drag(const std::string& name, ErrorManager& errors, long& sum) {
  Browse b(name, 1, errors);
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int p : {10, 50, 90}) {
      b.thumb.SetFreeElement(b.Field(1), static_cast<std::uint8_t>(p));
      b.browse.ResetFromBuffer();
      sum += b.browse.CurrentChoice;
    }
    best = std::min(best, Seconds(t0) * 1e6 / 3);
  }
  return best;
}

}  // namespace

int main() {
  rt::RegisterStoreDriver();
  rt::InstallHeadlessBackend();
  rt::ThreadLocal<ErrorStatus> status;
  ErrorManager errors;
  errors.Start(status);
  char templ[] = "/tmp/bench_locate-XXXXXX";
  if (!::mkdtemp(templ)) return 1;
  const std::string dir = templ;
  const std::vector<int> sizes = {10000, 1000000};
  std::vector<double> locate(sizes.size());
  std::vector<double> drag(sizes.size());
  long sum = 0;
  for (std::size_t s = 0; s < sizes.size(); ++s) {
    const std::string name = dir + "/L" + std::to_string(sizes[s]);
    const auto b0 = std::chrono::steady_clock::now();
    if (!Build(name, sizes[s])) {
      std::fprintf(stderr, "building %d rows failed\n", sizes[s]);
      return 1;
    }
    std::printf("built %8d rows in %.1f s\n", sizes[s], Seconds(b0));
    locate[s] = Locate(name, errors, sum);
    drag[s] = Drag(name, errors, sum);
    std::printf("%8d rows: %8.1f us per typed character, %8.1f us per thumb drag\n", sizes[s],
                locate[s], drag[s]);
  }
  std::printf("cost 1,000,000 vs 10,000 rows: locate %.2f, thumb drag %.2f (limit 1.5)\n",
              locate[1] / locate[0], drag[1] / drag[0]);
  std::printf("(checksum %ld)\n", sum);
  errors.Kill();
  std::filesystem::remove_all(dir);
  return 0;
}
