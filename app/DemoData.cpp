// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DemoData.h"

#include <array>
#include <filesystem>
#include <memory>
#include <mutex>

#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/LoadBlobFromFile.h"
#include "framework/error/ErrorHooks.h"
#include "framework/error/ErrorManager.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/files/LockedFileRegistry.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Text.h"
#include "platform/store/Store.h"

namespace {

struct ThreadObjects {
  DemoDataFileManager* fileManager = nullptr;
  DemoDataRelationManager* relationManager = nullptr;
  // The relation manager owns the file manager; this owns the relation manager.
  std::unique_ptr<DemoDataRelationManager> relationManagerObject;
  std::array<std::uint8_t, kDemoDataRecordSize> recall{};
  bool recallCleared = false;
};

rt::ThreadLocal<ThreadObjects>& Objects() {
  static rt::ThreadLocal<ThreadObjects> objects;
  return objects;
}

std::mutex& DriverMutex() {
  static std::mutex mutex;
  return mutex;
}
std::string& DriverName() {
  static std::string name = rt::kStoreDriverName;
  return name;
}

std::unique_ptr<rt::File> MakeDemoData() {
  rt::RegisterStoreDriver();
  std::string driver;
  {
    std::lock_guard lock(DriverMutex());
    driver = DriverName();
  }
  auto file = std::make_unique<rt::File>(kDemoDataLabel, "DEM", driver, DemoDataLayout());
  file->AddKey(kDemoDataKeyName, {{kDemoDataIdField, true, false}}, true, true);
  file->AddBlob("DEM:DataBlob");
  return file;
}

}  // namespace

void ChooseDemoDataDriver(std::string driver) {
  std::lock_guard lock(DriverMutex());
  DriverName() = std::move(driver);
}

namespace {

rt::ThreadLocal<rt::File>& Files() {
  static rt::ThreadLocal<rt::File> files(MakeDemoData);
  return files;
}

std::unique_ptr<rt::File> MakeOutFile() {
  rt::RecordLayout layout("OUTFILE");
  layout.AddField("BUFFER", rt::FieldType::String, kOutFileRecordSize);
  return std::make_unique<rt::File>("OUTFILE", "", "RAW", std::move(layout));
}

// The browse's view over the thread's record, registered on the thread's first use.
rt::ThreadLocal<rt::View>& Views() {
  static rt::ThreadLocal<rt::View> views([] { return std::make_unique<rt::View>(DemoData()); });
  return views;
}

rt::ThreadLocal<rt::File>& OutFiles() {
  static rt::ThreadLocal<rt::File> files(MakeOutFile);
  return files;
}

const rt::FieldDesc& Field(int number) {
  return DemoDataLayout().Field(number);
}

void StartThread() {
  if (rt::ThreadNumber() != 1) CreateDemoDataManagers();
}

void EndThread() {
  DestroyDemoData();
  DestroyInFile();
  DestroyOutFile();
}

}  // namespace

const rt::RecordLayout& DemoDataLayout() {
  static const rt::RecordLayout layout = [] {
    rt::RecordLayout made("DemoData");
    made.AddField("DEM:ID", rt::FieldType::Long, 0, "n-14");
    made.AddField("DEM:FileName", rt::FieldType::String, kDemoDataFileNameSize, "s80");
    return made;
  }();
  return layout;
}

rt::File& DemoData() {
  return Files().Get();
}

const rt::FileKey& DemoDataIdKey() {
  return *DemoData().Key(1);
}

void DestroyDemoData() {
  // The view reads through the record, so it goes first.
  DestroyDemoDataView();
  if (Files().Exists()) Files().Destroy();
}

rt::View& DemoDataView() {
  return Views().Get();
}

void DestroyDemoDataView() {
  if (!Views().Exists()) return;
  if (Views()->IsOpen()) Views()->Close();
  Views().Destroy();
}

rt::File& OutFile() {
  return OutFiles().Get();
}

void DestroyOutFile() {
  if (OutFiles().Exists()) OutFiles().Destroy();
}

std::int32_t DemoDataId() {
  return static_cast<std::int32_t>(rt::ReadInteger(Field(kDemoDataIdField), DemoData().Record()));
}

void SetDemoDataId(std::int32_t id) {
  rt::WriteInteger(Field(kDemoDataIdField), DemoData().Record(), id);
}

std::string DemoDataFileName() {
  return rt::ReadText(Field(kDemoDataFileNameField), DemoData().Record());
}

void SetDemoDataFileName(std::string_view name) {
  rt::WriteText(Field(kDemoDataFileNameField), DemoData().Record(), name);
}

bool DemoDataKeepsFileName(std::string_view name) {
  return name.size() <= kDemoDataFileNameSize && (name.empty() || name.back() != ' ');
}

std::uint8_t* DemoDataRecall() {
  ThreadObjects& objects = Objects().Get();
  if (!objects.recallCleared) {
    for (const rt::FieldDesc& field : DemoDataLayout().Fields())
      rt::ClearField(field, objects.recall.data());
    objects.recallCleared = true;
  }
  return objects.recall.data();
}

DemoDataFileManager*& DemoDataFileManagerRef() {
  return Objects()->fileManager;
}

DemoDataRelationManager*& DemoDataRelationManagerRef() {
  return Objects()->relationManager;
}

void CreateDemoDataManagers() {
  ThreadObjects& objects = Objects().Get();
  if (objects.relationManagerObject) return;
  auto fileManager = std::make_unique<DemoDataFileManager>();
  DemoDataFileManager& files = *fileManager;
  objects.relationManagerObject = std::make_unique<DemoDataRelationManager>(std::move(fileManager));
  objects.relationManager = objects.relationManagerObject.get();
  objects.fileManager = &files;
  files.Init();
  objects.relationManager->Init(files, 1);
}

void ReleaseDemoDataManagers() {
  if (!Objects().Exists()) return;
  ThreadObjects& objects = Objects().Get();
  if (objects.relationManagerObject) objects.relationManagerObject->Kill();
  objects.relationManagerObject.reset();
  objects.relationManager = nullptr;
  objects.fileManager = nullptr;
}

void RegisterDemoDataFileHooks() {
  rt::RegisterHooks({"document table files", nullptr, nullptr, EndThread, nullptr});
}

void RegisterDemoDataManagerHooks() {
  rt::RegisterHooks(
      {"document table managers", nullptr, StartThread, ReleaseDemoDataManagers, nullptr});
}

bool IsDemoDataFile(std::string_view name) {
  return rt::LockedFileRegistry::Holds(std::string(rt::TrimRight(name)));
}

bool RefuseDemoDataFile(std::string_view name) {
  if (!IsDemoDataFile(name)) return false;
  ErrorManager& errors = GlobalErrors();
  errors.AddErrorOnce(kMsgTableFileNotDocument,
                      "%Message|is a file of the program's own table, not a document.",
                      "Not A Document", LevelNotify);
  static_cast<void>(
      errors.ThrowMessage(kMsgTableFileNotDocument, std::string(rt::TrimRight(name))));
  return true;
}
