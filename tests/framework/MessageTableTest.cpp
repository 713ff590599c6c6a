// SPDX-License-Identifier: GPL-3.0-or-later
// The default message table as the user meets it: every entry can be found by its id, has a
// level the error manager acts on, a title and a text, and names only placeholders the error
// manager fills in; every id the data classes report is in it.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "framework/data/FileMessages.h"
#include "framework/error/DefaultErrorTable.h"
#include "framework/error/ErrorManager.h"

namespace {

// The placeholders the error manager replaces when it shows a message.
const std::set<std::string> kPlaceholders = {
    "%File",  "%FileError", "%FileErrorCode", "%Key",       "%ErrorCode", "%ErrorText",
    "%Error", "%Message",   "%Field",         "%Procedure", "%Category",  "%Previous"};

std::set<std::string> PlaceholdersIn(const std::string& text) {
  std::set<std::string> found;
  for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
    std::size_t end = at + 1;
    while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end])))
      ++end;
    found.insert(text.substr(at, end - at));
  }
  return found;
}

TEST(MessageTableTest, EveryEntryIsUsableAndEveryReportedIdIsThere) {
  rt::ThreadLocal<ErrorStatus> status;
  ErrorManager manager;
  manager.Start(status);
  ASSERT_TRUE(manager.Errors);
  ASSERT_GE(manager.Errors->size(), 50u);

  std::set<std::int32_t> ids;
  for (const ErrorEntry& listed : *manager.Errors) {
    const std::int32_t id = listed.Id;
    EXPECT_TRUE(ids.insert(id).second) << "id listed twice: " << id;
    ErrorEntry entry;
    ASSERT_EQ(manager.FindError(static_cast<std::uint16_t>(id), entry), LevelQuiet) << id;
    EXPECT_EQ(entry.Message, listed.Message) << id;
    EXPECT_TRUE(entry.Fatality == LevelAsk || entry.Fatality == LevelInternal ||
                entry.Fatality == LevelFatal || entry.Fatality == LevelNotify)
        << id << " has level " << int(entry.Fatality);
    EXPECT_FALSE(entry.Title.empty()) << id;
    EXPECT_FALSE(entry.Message.empty()) << id;
    EXPECT_EQ(entry.Category, "") << id;
    // A question is answered with Yes or No, so its text asks one.
    if (entry.Fatality == LevelAsk) {
      EXPECT_EQ(entry.Message.back(), '?') << id;
    }
    for (const std::string& placeholder : PlaceholdersIn(entry.Message))
      EXPECT_TRUE(kPlaceholders.count(placeholder)) << id << " names " << placeholder;
  }

  for (std::uint16_t reported :
       {kMsgRetrievalError, kMsgAccessDenied, kMsgInsertError, kMsgRecordChanged,
        kMsgRecordChangedShown, kMsgRecordGone, kMsgConfirmDelete, kMsgCreateError, kMsgNotDeleted,
        kMsgDuplicateKey, kMsgInvalidFile, kMsgOpenError, kMsgNotUpdated, kMsgKeyNotBuilt,
        kMsgInvalidKey, kMsgRecordNotRead, kMsgAutoIncrement, kMsgFileUsage})
    EXPECT_TRUE(ids.count(reported)) << "reported but not in the table: " << reported;
  manager.Kill();
  status.Destroy();
}

}  // namespace
