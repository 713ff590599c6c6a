// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Query by example: the user gives, per queryable column, a value, a range or a pattern,
// and the manager turns them into one filter expression for the browse's view. Values are
// always put into the expression as quoted texts or as plain numbers, never as expression
// text, so a value can hold quotes, "%" or any letters and still means only itself.
//
// Queries can be saved by name in the INI file through the INI manager (one sector per
// query: family, name, type "Query"; its list "Query" holds Name, Middle, Low, High per
// column); the query last applied is saved as "tsMRU". Saved queries are offered in the
// browse's popup menu under a "View" submenu.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/browse/QueryFieldEntry.h"

namespace rt {
class Queue;
class Window;
}  // namespace rt

class ErrorManager;
class IniManager;
class QueryPopup;

inline constexpr char kQueryWindowModule[] = "Framework$Query";
inline constexpr char kQueryWindowName[] = "QBEWINDOW";
inline constexpr char kQueryWindowCaption[] = "Query by Example Settings";
inline constexpr char kQueryType[] = "Query";
inline constexpr char kQueryMru[] = "tsMRU";
inline constexpr char kQuerySubMenu[] = "View";
inline constexpr std::uint8_t kQuerySingleValues = 1;
inline constexpr std::uint8_t kQueryRanges = 2;
// Buffer limits: a stored value, a converted value, a query name.
inline constexpr std::size_t kQueryValueLength = 499;
inline constexpr std::size_t kQueryConvertedLength = 999;
inline constexpr std::size_t kQueryNameLength = 99;
// "Unsupported QBE Column".
inline constexpr std::uint16_t kMsgUnsupportedQueryColumn = 47;
// Saved queries that cannot be stored, removed or read back (added to the error manager's
// table by Init when missing).
inline constexpr std::uint16_t kMsgQueryNotSaved = 1401;
inline constexpr std::uint16_t kMsgQueryNotDeleted = 1402;
inline constexpr std::uint16_t kMsgQueryNotReadable = 1403;
inline constexpr std::uint16_t kMsgQueryNameUnusable = 1404;
inline constexpr std::uint16_t kMsgQueryValueUnusable = 1405;

// Fixed controls of the query window; the per-column prompts and entries are made at run
// time on the "Query Settings" tab.
namespace qbe {
inline constexpr int kSheet = 1;
inline constexpr int kSavedTab = 2;
inline constexpr int kSavedList = 3;
inline constexpr int kNamePrompt = 4;
inline constexpr int kNameEntry = 5;
inline constexpr int kSaveButton = 6;
inline constexpr int kLoadButton = 7;
inline constexpr int kSettingsTab = 8;
inline constexpr int kOkButton = 9;
inline constexpr int kCancelButton = 10;
inline constexpr int kClearButton = 11;
inline constexpr int kDeleteButton = 12;  // removes the saved query named in kNameEntry
}  // namespace qbe

// Registers the query window's definition (once).
void RegisterQueryWindow();

class QueryManager {
 public:
  ErrorManager* Errors = nullptr;
  IniManager* INIMgr = nullptr;
  std::string QkFamily;                // INI family of this browse's queries
  std::uint8_t QkSupport = 0;          // keeps saved queries
  std::vector<std::string> PopupList;  // popup entries this manager added
  std::string QkCurrentQuery;          // at most 100 characters
  std::string QkMenuText = "&View";    // text of the "View" submenu
  std::uint8_t Mode = kQuerySingleValues;
  std::vector<QueryFieldEntry> Fields;
  rt::Window* Owner = nullptr;  // the window the query window opens over

  QueryManager();
  QueryManager(const QueryManager&) = delete;
  QueryManager& operator=(const QueryManager&) = delete;
  virtual ~QueryManager();

  // Runs the query window; true when the user applied a query (GetFilter then gives it).
  virtual bool Ask(bool useDialog = true);
  virtual void Kill();

  // `ini` may be null: then no query is saved or offered.
  void Init(ErrorManager& errors, IniManager* ini, std::string_view family,
            std::uint8_t mode = kQuerySingleValues);
  // Adds a queryable column.
  void AddItem(std::string_view name, std::string_view title, std::string_view picture = "S255",
               bool forceEditPicture = false);

  // The filter always compiles: a value that makes no condition (operator characters that
  // make no comparison, such as "<~", or a number too long for the filter to hold) stands
  // as a condition no record meets, and CheckValues tells about it.
  std::string GetFilter();
  // False, after showing "Invalid Query Value" for the first such value, when a value
  // makes no condition. Ask applies no query then.
  bool CheckValues();
  bool TakePopupChoice(QueryPopup& popup);
  void SetPopupEntries(QueryPopup& popup, std::int32_t queryButton);

  // Names of the saved queries (without "tsMRU"), sorted.
  std::vector<std::string> ListSavedQueries();
  // Loads a saved query. A query whose stored list is missing or unreadable (a damaged
  // settings file) is reported and leaves the values as they were; false then.
  bool LoadQuery(std::string_view name);
  // Saves the values under the name; a failure is reported and its error code returned. A
  // name differing from a saved one only in case or surrounding blanks names that query:
  // the settings file does not tell them apart.
  int SaveQuery(std::string_view name);
  // Removes a saved query from the settings file; the other queries stay. A failure is
  // reported and its error code returned.
  int DeleteQuery(std::string_view name);
  void ClearValues();
  static std::string Quote(std::string_view text);

 private:
  std::string Conditions(QueryFieldEntry& entry);
  std::string Condition(const QueryFieldEntry& entry, std::string value, std::string op,
                        bool single);
  // Notes the first value that makes no condition, and why.
  void Refuse(const QueryFieldEntry& entry, std::string_view value, std::string reason);
  QueryFieldEntry* FindField(std::string_view name);
  // The saved query's name as stored (the saved spelling when one matches), or empty with
  // a message when the name cannot name a query.
  std::string StoredName(std::string_view name, bool report);
  std::string SectorOf(std::string_view name) const;
  void AddMessages();
  void Report(std::uint16_t id, std::string_view field);
  std::unique_ptr<rt::Queue> MakeWorkQueue() const;
  bool RunWindow();

  std::vector<std::string> popupQueries_;  // the query of each entry in PopupList
  bool fromPopup_ = false;                 // the next Ask applies a popup choice
  bool menuAdded_ = false;                 // the "View" submenu is in the popup
  bool killed_ = false;
  std::string problemField_;   // the first value GetFilter could not use: column and value
  std::string problemReason_;  // and why
};
