// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/BrowseFixture.h"

#include <algorithm>

#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/WindowDef.h"
#include "platform/store/StoreDriver.h"

namespace testing_support {

namespace {

class DocsManager : public TableManagerBase {
 public:
  DocsManager(rt::File& file, ErrorManager& errors, bool autoNumber)
      : TableManagerBase(file, errors) {
    AddKey(*file.Key(1), "", autoNumber ? 1 : 0);
    for (int k = 2; k <= 4; ++k)
      AddKey(*file.Key(k), "");
  }
  ~DocsManager() override { Shutdown(); }
};

}  // namespace

TableManagerBase::TableManagerBase(rt::File& file, ErrorManager& errors) {
  File = &file;
  Errors = &errors;
  FileManager::Init();
  FileManager::InitFile(file, errors);
}

ErrorLevel RecordingErrors::TakeFatal() {
  ++fatal;
  ShowMessage(ExpandText(), GetTitle(), rt::MessageIcon::Information, rt::kButtonOk, rt::kButtonOk,
              MsgStyle);
  return LevelFatal;
}

std::unique_ptr<rt::File> MakeDocsFile(const std::string& driver) {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Doc");
  layout.AddField("DOC:ID", rt::FieldType::Long);
  layout.AddField("DOC:Name", rt::FieldType::String, 20);
  auto file = std::make_unique<rt::File>("DOCS", "DOC", driver, std::move(layout));
  file->AddKey("DOC:ID_Key", {{1, true, false}}, true, true);
  file->AddKey("DOC:Name_Key", {{2, true, true}}, false);
  file->AddKey("DOC:NameDown_Key", {{2, false, true}}, false);
  file->AddKey("DOC:IDDown_Key", {{1, false, false}}, true);
  return file;
}

bool AddDocs(const DocRows& rows, const std::string& driver) {
  auto file = MakeDocsFile(driver);
  if (file->Open(rt::kOpenReadWriteDenyNone) != 0) return false;
  EXPECT_EQ(file->SetTransactionMember(true), 0);
  rt::StartTransaction(10);
  bool added = true;
  for (const auto& [id, name] : rows) {
    file->ClearRecord();
    rt::WriteInteger(file->Layout().Field(1), file->Record(), id);
    rt::WriteText(file->Layout().Field(2), file->Record(), name);
    added = file->Add() == 0 && added;
  }
  const bool committed = rt::CommitTransaction() == 0;
  static_cast<void>(file->Close());
  return added && committed;
}

bool AddDocRange(int first, int last) {
  DocRows rows;
  for (int id = first; id <= last; ++id)
    rows.emplace_back(id, "doc" + std::to_string(id));
  return AddDocs(rows);
}

namespace {

// Reads row `id` through a handle of its own and renames it, or removes it when `name` is
// null.
bool ChangeDoc(int id, const std::string* name, const std::string& driver) {
  auto file = MakeDocsFile(driver);
  if (file->Open(rt::kOpenReadWriteDenyNone) != 0) return false;
  rt::WriteInteger(file->Layout().Field(1), file->Record(), id);
  bool done = file->Get(*file->Key(1)) == 0;
  if (done && name) {
    rt::WriteText(file->Layout().Field(2), file->Record(), *name);
    done = file->Put() == 0;
  } else if (done) {
    done = file->Delete() == 0;
  }
  static_cast<void>(file->Close());
  return done;
}

}  // namespace

bool RenameDoc(int id, const std::string& name, const std::string& driver) {
  return ChangeDoc(id, &name, driver);
}

bool RemoveDoc(int id, const std::string& driver) {
  return ChangeDoc(id, nullptr, driver);
}

std::uint8_t FormStandIn::Run(std::uint16_t number, std::uint8_t request) {
  lastNumber = number;
  return form ? form(request) : static_cast<std::uint8_t>(RequestCancelled);
}

BrowseFixture::BrowseFixture(const std::string& driver) {
  rt::ClearError();
  Errors.Start(Status);
  Docs = MakeDocsFile(driver);
  created_ = Docs->Create() == 0;
}

BrowseFixture::~BrowseFixture() {
  if (Browse) Browse->Kill();
  Browse.reset();
  static_cast<void>(Controller.Kill());
  if (Window) Window->Close();
  View.reset();
  if (Relations) Relations->Kill();
  Relations.reset();
  Manager.reset();
  Docs.reset();
  Errors.Kill();
  Status.Destroy();
}

void BrowseFixture::MakeManagers() {
  Manager = std::make_unique<DocsManager>(*Docs, Errors, options_.autoNumber);
  Relations = std::make_unique<RelationManager>();
  Relations->Init(*Manager, 0);
  View = std::make_unique<rt::View>(*Docs);
}

int BrowseFixture::Control(const std::string& text) const {
  const auto& b = options_.buttons;
  const auto it = std::find(b.begin(), b.end(), text);
  if (it != b.end()) return static_cast<int>(it - b.begin()) + 2;
  if (text == "entry" && options_.locatorEntry) return static_cast<int>(b.size()) + 2;
  return 0;
}

void BrowseFixture::Open(const BrowseOptions& options,
                         const std::function<void(BrowseManager&)>& configure) {
  options_ = options;
  MakeManagers();
  rt::RecordLayout page("Page");
  page.AddField("Q:ID", rt::FieldType::Long);
  page.AddField("Q:Name", rt::FieldType::String, 20);
  page.AddField("Q:Pos", rt::FieldType::String, kPositionFieldSize);
  Queue = std::make_unique<rt::Queue>(std::move(page));
  auto def = std::make_shared<rt::WindowDef>("BrowseFixture", "LIST", options.caption);
  def->List("40R(2)|M~ID~C(0)@n-7@80L(2)|M~Name~L(2)@s20@")
      .At(0, 0, 200, rt::kListHeaderHeight + options.rows * rt::kListRowHeight)
      .VScroll();
  for (const std::string& text : options.buttons)
    def->Button(text);
  if (options.locatorEntry) def->Entry("s20");
  Window = std::make_unique<rt::Window>(def);
  Window->BindList(kList, Queue.get());
  EXPECT_EQ(Controller.Init(), LevelQuiet);
  Controller.VCRRequest = &VCR;
  Controller.OpenWindow(*Window);
  if (!Browse) Browse = std::make_unique<BrowseManager>();
  BrowseManager& b = *Browse;
  EXPECT_EQ(b.Init(kList, Queue->Field(3).Address(), kPositionFieldSize, *View, *Queue, *Relations,
                   Controller),
            LevelQuiet);
  b.AddSortOrder(options.thumb, Docs->Key(options.key));
  if (options.locator) {
    const bool byId = options.key == kDocsById || options.key == kDocsByIdDown;
    Locator.Init(Control("entry"), byId ? Field(1) : Field(2), true, b);
    b.AddLocator(&Locator);
  }
  b.AddField(Field(1), Queue->Field(1));
  b.AddField(Field(2), Queue->Field(2));
  b.InsertControl = Control("&Insert");
  b.ChangeControl = Control("&Change");
  b.DeleteControl = Control("&Delete");
  b.ViewControl = Control("&View");
  if (configure) configure(b);
  b.SetAlerts();
  b.ResetSort(true);
  b.UpdateWindow();
}

std::vector<int> BrowseFixture::Page() const {
  std::vector<int> ids;
  for (int r = 1; r <= Queue->Records(); ++r)
    ids.push_back(std::stoi(Queue->RowText(r, 1)));
  return ids;
}

int BrowseFixture::Highlighted() const {
  const int row = Browse->CurrentChoice;
  return row >= 1 && row <= Queue->Records() ? std::stoi(Queue->RowText(row, 1)) : 0;
}

std::string BrowseFixture::HighlightedName() const {
  const int row = Browse->CurrentChoice;
  if (row < 1 || row > Queue->Records()) return {};
  return std::string(rt::ClipText(Queue->RowText(row, 2)));
}

int BrowseFixture::RecordId() const {
  return static_cast<int>(rt::ReadInteger(Docs->Layout().Field(1), Docs->Record()));
}

rt::AnyRef BrowseFixture::Field(int n) {
  return rt::AnyRef(Docs->Record(), Docs->Layout().Field(n));
}

long BrowseFixture::Thumb() const {
  return Window->PropNumber(kList, rt::prop::kVScrollPos);
}

}  // namespace testing_support
