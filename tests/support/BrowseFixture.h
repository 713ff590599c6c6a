// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A browse over a real table (on the test run's driver, STORE by default) for tests: the table
// DOCS (DOC:ID, DOC:Name), its file and relation managers, a window with a list of five rows
// and optional buttons and locator entry, and a BrowseManager wired to them. Everything here
// belongs to the thread that made it: build it on the thread that drives the browse (the test
// thread, or a runtime thread whose event loop runs `Controller.Ask()`).

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLocator.h"
#include "framework/browse/StepLong.h"
#include "framework/data/FileManager.h"
#include "framework/data/RelationManager.h"
#include "framework/error/ErrorManager.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Window.h"
#include "tests/support/TestDriver.h"
#include "tests/support/WorkDir.h"

namespace testing_support {

// Keys of DOCS, in order.
inline constexpr int kDocsById = 1;        // DOC:ID, unique, the primary key
inline constexpr int kDocsByName = 2;      // DOC:Name ignoring case
inline constexpr int kDocsByNameDown = 3;  // DOC:Name ignoring case, descending
inline constexpr int kDocsByIdDown = 4;    // DOC:ID descending

using DocRows = std::vector<std::pair<int, std::string>>;

// DOCS through the named driver (a driver over STORE's files, STORE itself, or PGSTORE).
std::unique_ptr<rt::File> MakeDocsFile(const std::string& driver = TestDriver());
// Adds rows through a handle of their own (through `driver`), in one transaction (the table
// must exist). False when the table would not open or a row was refused.
bool AddDocs(const DocRows& rows, const std::string& driver = TestDriver());
// Rows `first` to `last`, each named "doc<id>".
bool AddDocRange(int first, int last);
// Renames or removes a row through a handle of its own, as another station would.
bool RenameDoc(int id, const std::string& name, const std::string& driver = TestDriver());
bool RemoveDoc(int id, const std::string& driver = TestDriver());

// A file manager over `file` started the way an application's table class starts it; the
// class deriving from it adds the keys (and shuts it down in its destructor, while its own
// hooks still exist).
class TableManagerBase : public FileManager {
 public:
  TableManagerBase(rt::File& file, ErrorManager& errors);
};

// An error manager whose fatal messages are shown and counted instead of ending the program.
class RecordingErrors : public ErrorManager {
 public:
  ErrorLevel TakeFatal() override;
  std::atomic<int> fatal{0};
};

// A window controller whose Run(number, request), the update form, calls `form`.
class FormStandIn : public WindowController {
 public:
  using WindowController::Run;
  std::function<std::uint8_t(std::uint8_t)> form;
  std::uint16_t lastNumber = 0;  // the procedure number of the last Run
  std::uint8_t Run(std::uint16_t number, std::uint8_t request) override;
};

struct BrowseOptions {
  int key = kDocsById;  // the browse's one sort order
  StepLong* thumb = nullptr;
  bool locator = false;
  bool locatorEntry = false;  // the locator has an entry control (after the buttons)
  int rows = 5;               // rows the list shows
  bool autoNumber = false;    // DOC:ID is numbered by the file manager on insert
  // Buttons numbered from 2 in this order; the browse's Insert/Change/Delete/View controls
  // are set to the buttons with those texts.
  std::vector<std::string> buttons = {};
  std::string caption = "Documents";
};

class BrowseFixture {
 public:
  static constexpr int kList = 1;

  // Starts the thread's error manager and creates DOCS, through `driver`, when it is not
  // there yet.
  explicit BrowseFixture(const std::string& driver = TestDriver());
  ~BrowseFixture();
  BrowseFixture(const BrowseFixture&) = delete;
  BrowseFixture& operator=(const BrowseFixture&) = delete;

  bool TableReady() const { return created_; }
  // The managers and the view, without a browse.
  void MakeManagers();
  // Builds the window and the browse (a BrowseManager unless `Browse` was set before) and
  // fills the first page; `configure` runs before the first fill.
  void Open(const BrowseOptions& options = {},
            const std::function<void(BrowseManager&)>& configure = {});
  // Number of a button by its text, or of the locator's entry ("entry"); 0 when absent.
  int Control(const std::string& text) const;

  // IDs of the page's rows, the highlighted row's ID and name, and the ID in the record buffer.
  std::vector<int> Page() const;
  int Highlighted() const;
  std::string HighlightedName() const;
  int RecordId() const;
  rt::AnyRef Field(int n);
  long Thumb() const;

  rt::ThreadLocal<ErrorStatus> Status;
  ErrorManager Errors;
  std::unique_ptr<rt::File> Docs;
  std::unique_ptr<FileManager> Manager;
  std::unique_ptr<RelationManager> Relations;
  std::unique_ptr<rt::View> View;
  std::unique_ptr<rt::Queue> Queue;
  std::unique_ptr<rt::Window> Window;
  FormStandIn Controller;
  std::int32_t VCR = 0;  // the controller's navigation request
  StepLocator Locator;
  std::unique_ptr<BrowseManager> Browse;

 private:
  BrowseOptions options_;
  bool created_ = false;
};

// A test on the test's own thread over a fresh working folder (named by the derived test),
// the headless backend and the fixture's table, ready for `f_->Open`.
class BrowseFixtureTest : public ::testing::Test {
 protected:
  explicit BrowseFixtureTest(std::string folder, std::string driver = TestDriver())
      : folder_(std::move(folder)), driver_(std::move(driver)) {}
  void SetUp() override {
    work_.emplace(folder_);
    ASSERT_TRUE(work_->Ok());
    backend_ = rt::InstallHeadlessBackend();
    f_.emplace(driver_);
    ASSERT_TRUE(f_->TableReady());
  }
  void TearDown() override {
    f_.reset();
    work_.reset();
    // The browse posted selection events to this thread, whose loop nobody runs here.
    rt::ForgetThreadEvents(rt::ThreadNumber());
  }

  std::string folder_;
  std::string driver_;
  std::optional<WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::optional<BrowseFixture> f_;
};

}  // namespace testing_support
