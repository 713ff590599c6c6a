// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DocumentImport.h"

#include <string_view>
#include <utility>

#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/LoadBlobFromFile.h"
#include "framework/error/ErrorHooks.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/windows/Progress.h"

namespace {

void AddImportMessage() {
  GlobalErrors().AddErrorOnce(kMsgDroppedFilesRefused, "%Message", "Dropped Files Not Stored",
                              LevelNotify);
}

std::string Files(int count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

}  // namespace

void DocumentImport::Run(const std::vector<std::string>& files, rt::Progress& progress) {
  FileManager* table = DemoDataFileManagerRef();
  if (!table) return;
  // The buffer holds the browse's current record: it comes back when nothing is stored.
  std::int32_t saved = table->SaveBuffer();
  progress.Start("Storing " + Files(static_cast<int>(files.size())),
                 static_cast<int>(files.size()));
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (progress.Cancelled()) {
      Cancelled = true;
      NotTried = static_cast<int>(files.size() - i);
      break;
    }
    if (std::string reason = StoreOne(files[i]); !reason.empty())
      Refused.push_back({files[i], std::move(reason)});
    progress.Step();
  }
  progress.End();
  if (Stored == 0) {
    table->RestoreBuffer(saved);
    return;
  }
  table->RestoreBuffer(saved, false);
  // The last record stored becomes the current one, also when a refused file came after it.
  SetDemoDataId(LastId);
  static_cast<void>(table->TryFetchByKey(DemoDataIdKey()));
}

std::string DocumentImport::StoreOne(const std::string& name) {
  if (!DemoDataKeepsFileName(name)) {
    return "the table keeps file names of at most " + std::to_string(kDemoDataFileNameSize) +
           " bytes that do not end in a blank";
  }
  if (IsDemoDataFile(name)) return "it is one of the table's own files";
  rt::File& file = DemoData();
  file.ClearRecord();
  SetDemoDataFileName(name);
  if (const int e = LoadBlobFromFile(file, kDemoDataBlob, name); e != rt::kNoError)
    return LoadErrorText(e);
  // The stored bytes must be a document the view can show, as the form's view shows them.
  std::string bytes;
  if (const int e = file.GetBlobContents(kDemoDataBlob, bytes); e != rt::kNoError)
    return LoadErrorText(e);
  const auto engine = rt::PdfEngine::Create();
  const rt::PdfError pdf = engine->LoadBytes(std::vector<char>(bytes.begin(), bytes.end()));
  if (!pdf.Ok()) return pdf.text;
  FileManager& table = *DemoDataFileManagerRef();
  table.AutoIncDone = 0;  // a record of its own, numbered as it is added
  rt::ClearError();
  if (table.TryInsert() != LevelQuiet)
    return "it could not be added to the table (" + LoadErrorText(rt::LastError().code) + ")";
  ++Stored;
  LastId = DemoDataId();
  return {};
}

void DocumentImport::Report() const {
  if (Refused.empty() && !Cancelled) return;
  AddImportMessage();
  const int total = Stored + static_cast<int>(Refused.size()) + NotTried;
  std::string text = Files(Stored) + " of " + std::to_string(total) + " stored.";
  if (Cancelled) text += "|Cancelled: " + Files(NotTried) + " not tried; those stored stay.";
  if (!Refused.empty()) {
    text += "|Not stored:";
    for (const Refusal& r : Refused)
      text += "|" + r.name + ": " + r.reason;
  }
  static_cast<void>(GlobalErrors().ThrowMessage(kMsgDroppedFilesRefused, text));
}
