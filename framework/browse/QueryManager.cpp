// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/QueryManager.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "framework/browse/QueryPopup.h"
#include "framework/error/ErrorEntry.h"
#include "framework/error/ErrorManager.h"
#include "framework/util/IniManager.h"
#include "platform/runtime/expressions/Expression.h"
#include "platform/runtime/expressions/ExpressionValue.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/values/Picture.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

constexpr char kSeparatorName[] = "tsQBESeparator1";
constexpr char kEmptyName[] = "tsQBEEmpty";
constexpr char kClearSeparatorName[] = "ClearSeparator  ";
constexpr char kClearName[] = "tsQBEClear";
constexpr std::size_t kValueBuffer = kQueryValueLength + 1;
constexpr int kRowHeight = 14;
constexpr int kTopOfRows = 20;

using rt::Upper;

// Text.h's TrimRight as an owned string, as the filter and INI texts here are built.
std::string TrimRight(std::string_view text) {
  return std::string(rt::TrimRight(text));
}

std::string Cut(std::string_view text, std::size_t length) {
  return std::string(text.substr(0, std::min(text.size(), length)));
}

// A plain decimal number: optional sign, digits, at most one point.
bool IsPlainNumber(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool digits = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i]))) {
      digits = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

char KindOf(const QueryFieldEntry& entry) {
  return entry.Picture.empty() ? 'S' : rt::UpperChar(entry.Picture.front());
}

// The comparison the collected operator characters make: "<", ">", "<=", ">=", "=", "<>"
// ("<" and ">" together, with or without "="), "~=" ("~" alone or with "="), or empty when
// none was typed. Nothing when "~" comes with "<" or ">": a pattern match is no order
// comparison, and no operator says both.
std::optional<std::string> BuildOperator(std::string_view text) {
  const auto has = [&](char c) { return text.find(c) != std::string_view::npos; };
  const bool eq = has('=');
  const bool lt = has('<');
  const bool gt = has('>');
  if (has('~')) {
    if (lt || gt) return std::nullopt;
    return "~=";
  }
  if (lt && gt) return "<>";
  if (lt) return eq ? "<=" : "<";
  if (gt) return eq ? ">=" : ">";
  return eq ? "=" : "";
}

// A condition that holds for no record: stands for a value that cannot be compared.
constexpr char kNoMatch[] = "(1 = 0)";

}  // namespace

QueryManager::QueryManager() = default;

QueryManager::~QueryManager() {
  Kill();
}

void QueryManager::Init(ErrorManager& errors, IniManager* ini, std::string_view family,
                        std::uint8_t mode) {
  Errors = &errors;
  INIMgr = ini;
  QkFamily = Cut(family, kQueryNameLength);
  // A family holds no "$": it separates the parts of a sector name.
  std::replace(QkFamily.begin(), QkFamily.end(), '$', '_');
  QkSupport = ini ? 1 : 0;
  Mode = mode == kQueryRanges ? kQueryRanges : kQuerySingleValues;
  killed_ = false;
}

void QueryManager::AddMessages() {
  ErrorEntry probe;
  if (Errors->FindError(kMsgQueryNotSaved, probe) == LevelQuiet) return;
  struct Message {
    std::uint16_t id;
    const char* title;
    const char* text;
  };
  static constexpr Message kMessages[] = {
      {kMsgQueryNotSaved, "Query Not Saved",
       "The query %Field could not be saved in the settings file.|Error: %ErrorText."},
      {kMsgQueryNotDeleted, "Query Not Deleted",
       "The query %Field could not be deleted from the settings file.|Error: %ErrorText."},
      {kMsgQueryNotReadable, "Saved Query Unreadable",
       "The saved query %Field could not be read from the settings file. The query is left as "
       "it was."},
      {kMsgQueryNameUnusable, "Invalid Query Name",
       "%Field cannot name a saved query: use a name without line breaks."},
      {kMsgQueryValueUnusable, "Invalid Query Value",
       "The value %Field cannot be used in a query.|%Message|The query is not applied."},
  };
  for (const Message& m : kMessages)
    Errors->AddErrorOnce(m.id, m.text, m.title, LevelNotify);
}

void QueryManager::Report(std::uint16_t id, std::string_view field) {
  if (!Errors) return;
  // Added on first use: the table exists only once the error manager has started.
  AddMessages();
  Errors->SetField(field);
  static_cast<void>(Errors->Throw(id));
}

void QueryManager::Kill() {
  if (killed_) return;
  killed_ = true;
  Fields.clear();
  PopupList.clear();
  popupQueries_.clear();
}

void QueryManager::AddItem(std::string_view name, std::string_view title, std::string_view picture,
                           bool forceEditPicture) {
  QueryFieldEntry entry;
  entry.Name = Cut(name, kQueryNameLength);
  entry.Title = Cut(title, kQueryNameLength);
  std::string_view p = picture;
  if (!p.empty() && p.front() == '@') p.remove_prefix(1);
  entry.Picture = Cut(p, 39);
  entry.ForceEditPicture = forceEditPicture ? 1 : 0;
  Fields.push_back(std::move(entry));
}

std::string QueryManager::Quote(std::string_view text) {
  return rt::QuotedLiteral(text);
}

// ---- Building the filter ----

std::string QueryManager::GetFilter() {
  problemField_.clear();
  problemReason_.clear();
  std::string filter;
  for (QueryFieldEntry& entry : Fields) {
    const std::string conditions = Conditions(entry);
    if (conditions.empty()) continue;
    if (!filter.empty()) filter += " AND ";
    filter += conditions;
  }
  return filter;
}

bool QueryManager::CheckValues() {
  GetFilter();
  if (problemReason_.empty()) return true;
  if (Errors) {
    AddMessages();
    Errors->SetField(problemField_);
    static_cast<void>(Errors->ThrowMessage(kMsgQueryValueUnusable, problemReason_));
  }
  return false;
}

std::string QueryManager::Conditions(QueryFieldEntry& entry) {
  if (Mode == kQuerySingleValues && !entry.Low.empty()) {
    // Single values only: a lower bound becomes the value, and it is queried as such.
    if (entry.Middle.empty()) entry.Middle = entry.Low;
    entry.Low.clear();
    entry.High.clear();
  }
  if (entry.Low.empty() && entry.High.empty()) {
    if (entry.Middle.empty()) return {};
    return Condition(entry, entry.Middle, "", true);
  }
  std::string out;
  if (!entry.Low.empty()) out = Condition(entry, entry.Low, ">", false);
  if (!entry.High.empty()) {
    const std::string high = Condition(entry, entry.High, "<", false);
    if (!out.empty() && !high.empty()) out += " AND ";
    out += high;
  }
  return out;
}

namespace {

// The marks a single value may carry: "^" ignores case, a leading "*" finds the value anywhere,
// a trailing "*" at the start.
struct ValueMarks {
  bool caseless = false;
  bool contains = false;
  bool begins = false;
};

// Reads the marks off value and removes them from it.
ValueMarks TakeMarks(std::string& value) {
  ValueMarks marks;
  if (!value.empty() && value.front() == '^') {
    marks.caseless = true;
    value.erase(0, 1);
  }
  if (!value.empty() && value.front() == '*') {
    marks.contains = true;
    value.erase(0, 1);
  }
  if (!value.empty() && value.back() == '*') {
    marks.begins = !marks.contains;
    value.pop_back();
  }
  if (!marks.caseless && !value.empty() && value.front() == '^') {
    marks.caseless = true;
    value.erase(0, 1);
  }
  return marks;
}

}  // namespace

std::string QueryManager::Condition(const QueryFieldEntry& entry, std::string value, std::string op,
                                    bool single) {
  const char kind = KindOf(entry);
  std::string field = TrimRight(entry.Name);
  std::size_t lead = 0;
  while (lead < value.size() && std::string_view("=<>~").find(value[lead]) != std::string::npos)
    ++lead;
  const std::string typed = value.substr(0, lead);
  value.erase(0, lead);
  // A value's own operator replaces the default "=" of a single value ("<5" is "less than",
  // not "at most"), and the direction of a bound ("<5" typed as the lower bound is "less
  // than 5"); a bound otherwise keeps its ">" or "<", made inclusive by "=" or a set value.
  if (single || typed.find_first_of("<>~") != std::string::npos) {
    op = typed.empty() ? "=" : typed;
  } else {
    op += typed;
    if (!entry.Middle.empty()) op += '=';
  }
  if (op.rfind("NOT =", 0) == 0) op = "<>" + op.substr(5);
  const std::optional<std::string> built = BuildOperator(op);
  if (!built) {
    Refuse(entry, typed + value,
           "\"" + typed +
               "\" makes no comparison: use one of =, <, >, <=, >=, <> or ~ (a pattern) alone.");
    return kNoMatch;
  }
  op = *built;

  const ValueMarks marks = single ? TakeMarks(value) : ValueMarks{};
  bool caseless = marks.caseless;
  const bool contains = marks.contains;
  const bool begins = marks.begins;
  value = Cut(value, kQueryConvertedLength + 1);

  // A column written UPPER(x) is compared as x unless the condition ignores case.
  const bool namedUpper = Upper(field).find("UPPER(") != std::string::npos;
  if (!caseless && Upper(field).rfind("UPPER(", 0) == 0 && field.back() == ')')
    field = field.substr(6, field.size() - 7);
  if ((contains || begins) && !entry.Picture.empty() && kind != 'S')
    field = "FORMAT(" + field + ",@" + entry.Picture + ")";
  if (op == "<>" && value.empty() && kind != 'S') value = "0";
  const std::string picture = Upper(entry.Picture);
  if (kind == 'N' || kind == 'E' || kind == 'T' ||
      (kind == 'D' && picture != "D4" && picture != "D17" && picture != "D18")) {
    caseless = false;
    value = Upper(value);
  }
  if (caseless) {
    value = Upper(value);
    if (!namedUpper) field = "UPPER(" + field + ")";
  }

  if (contains) return "INSTRING(" + Quote(value) + "," + field + ",1,1) <> 0";
  if (begins) {
    const std::string length = std::to_string(value.size());
    if (kind == 'N') return "SUB(LEFT(" + field + "),1," + length + ") = " + Quote(value);
    return "SUB(" + field + ",1," + length + ") = " + Quote(value);
  }
  if (op.empty()) op = "=";
  // A number must be one the filter can hold: one of hundreds of digits would make the whole
  // filter fail unquoted, and compare as a text quoted.
  const auto tooLong = [](const std::string& number) {
    double unused = 0;
    return IsPlainNumber(number) && !rt::ExpressionValue::ParseNumber(number, unused);
  };
  std::string literal;
  if (kind == 'S') {
    literal = Quote(value);
  } else if (value.empty()) {
    literal = "0";
  } else if (tooLong(value)) {
    Refuse(entry, value, "The number is too large or has too many digits to be compared.");
    return kNoMatch;
  } else if (entry.ForceEditPicture || (kind == 'N' && !IsPlainNumber(value))) {
    // Kept as typed: a number stands as one, anything else only as a quoted text.
    literal = IsPlainNumber(value) ? value : Quote(value);
  } else {
    const auto plain = rt::TryDeformatPicture(value, "@" + entry.Picture);
    if (plain && IsPlainNumber(*plain) && !tooLong(*plain)) {
      literal = Cut(*plain, kQueryConvertedLength);
    } else if (plain && plain->empty()) {
      literal = "0";
    } else {
      literal = Quote(value);  // unreadable through the picture: matches nothing numeric
    }
  }
  return "(" + field + " " + op + " " + literal + ")";
}

void QueryManager::Refuse(const QueryFieldEntry& entry, std::string_view value,
                          std::string reason) {
  if (!problemReason_.empty()) return;  // the first one is told
  problemField_ =
      TrimRight(entry.Title.empty() ? entry.Name : entry.Title) + " " + Quote(Cut(value, 60));
  problemReason_ = std::move(reason);
}

// ---- Saved queries ----

std::unique_ptr<rt::Queue> QueryManager::MakeWorkQueue() const {
  rt::RecordLayout layout("QbeWork");
  layout.AddField("QBE:Name", rt::FieldType::CString, kQueryNameLength + 1);
  layout.AddField("QBE:Middle", rt::FieldType::CString, kValueBuffer);
  layout.AddField("QBE:Low", rt::FieldType::CString, kValueBuffer);
  layout.AddField("QBE:High", rt::FieldType::CString, kValueBuffer);
  return std::make_unique<rt::Queue>(std::move(layout));
}

std::vector<std::string> QueryManager::ListSavedQueries() {
  std::vector<std::string> names;
  if (!INIMgr) return names;
  rt::Queue sectors(IniManager::SectorLayout());
  INIMgr->ListSectors(QkFamily, "", kQueryType, sectors);
  for (int i = 1; i <= sectors.Records(); ++i) {
    sectors.Get(i);
    std::string name = sectors.Field(2).Text();
    if (Upper(name) != Upper(kQueryMru)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::string QueryManager::SectorOf(std::string_view name) const {
  return IniManager::MakeSectorName(QkFamily, name, kQueryType);
}

std::string QueryManager::StoredName(std::string_view name, bool report) {
  std::string wanted = Cut(name, kQueryNameLength);
  const auto first = wanted.find_first_not_of(" \t");
  wanted = first == std::string::npos ? std::string() : wanted.substr(first);
  wanted.erase(wanted.find_last_not_of(" \t") + 1);
  const bool usable = !wanted.empty() && wanted.find_first_of("\r\n") == std::string::npos;
  if (!usable) {
    if (report) Report(kMsgQueryNameUnusable, name);
    return {};
  }
  if (Upper(wanted) == Upper(kQueryMru)) return kQueryMru;
  // A saved query of the same name in another case keeps its name.
  if (std::string saved = INIMgr->FindSectorItem(QkFamily, wanted, kQueryType); !saved.empty())
    return saved;
  return wanted;
}

int QueryManager::SaveQuery(std::string_view name) {
  if (!INIMgr) return 0;
  const std::string stored = StoredName(name, true);
  if (stored.empty()) return rt::kBadNameError;
  const std::string sector = SectorOf(stored);
  auto work = MakeWorkQueue();
  for (const QueryFieldEntry& entry : Fields) {
    work->ClearBuffer();
    work->Field(1).SetText(entry.Name);
    work->Field(2).SetText(entry.Middle);
    work->Field(3).SetText(entry.Low);
    work->Field(4).SetText(entry.High);
    work->Add();
  }
  // The catalogue and the query are stored together, in one rewrite of the file.
  const int result = INIMgr->Batch([&] {
    const int added = INIMgr->AddSector(sector);
    if (added != rt::kNoError) return added;
    return INIMgr->UpdateQueue(sector, kQueryType, *work, work->Field(1), work->Field(2),
                               work->Field(4), work->Field(3));
  });
  if (result != rt::kNoError) Report(kMsgQueryNotSaved, stored);
  return result;
}

int QueryManager::DeleteQuery(std::string_view name) {
  if (!INIMgr) return 0;
  const std::string stored = StoredName(name, true);
  if (stored.empty()) return rt::kBadNameError;
  const int result = INIMgr->RemoveSector(SectorOf(stored));
  if (result != rt::kNoError) {
    Report(kMsgQueryNotDeleted, stored);
    return result;
  }
  if (Upper(QkCurrentQuery) == Upper(stored)) QkCurrentQuery.clear();
  return result;
}

QueryFieldEntry* QueryManager::FindField(std::string_view name) {
  const std::string wanted = Upper(TrimRight(name));
  for (QueryFieldEntry& entry : Fields) {
    if (Upper(TrimRight(entry.Name)) == wanted) return &entry;
  }
  return nullptr;
}

bool QueryManager::LoadQuery(std::string_view name) {
  if (!INIMgr) {
    ClearValues();
    return true;
  }
  const std::string stored = StoredName(name, false);
  const std::string sector = SectorOf(stored);
  // A saved query always has its count entry, "0" for no columns; without it the section is
  // gone or damaged, and loading would silently drop the user's query.
  const std::string count = INIMgr->FetchValue(sector, kQueryType);
  if (stored.empty() || count.empty() ||
      count.find_first_not_of("0123456789 ") != std::string::npos) {
    Report(kMsgQueryNotReadable, stored.empty() ? name : std::string_view(stored));
    return false;
  }
  ClearValues();
  auto work = MakeWorkQueue();
  INIMgr->FetchQueue(sector, kQueryType, *work, work->Field(1), work->Field(2), work->Field(4),
                     work->Field(3));
  for (int i = 1; i <= work->Records(); ++i) {
    work->Get(i);
    const std::string column = work->Field(1).Text();
    const bool savedUpper = Upper(column).rfind("UPPER(", 0) == 0 && column.back() == ')';
    bool markCaseless = false;
    QueryFieldEntry* entry = FindField(column);
    if (!entry && !savedUpper) entry = FindField("UPPER(" + column + ")");
    if (!entry && savedUpper) {
      entry = FindField(column.substr(6, column.size() - 7));
      markCaseless = entry != nullptr;
    }
    if (!entry) {
      if (Errors) {
        Errors->SetField(column);
        static_cast<void>(Errors->Throw(kMsgUnsupportedQueryColumn));
      }
      continue;
    }
    auto value = [&](int part) {
      std::string v = work->Field(part).Text();
      if (markCaseless && KindOf(*entry) == 'S' && !v.empty() && v.front() != '^') v = "^" + v;
      return Cut(v, kQueryValueLength);
    };
    entry->Middle = value(2);
    entry->Low = value(3);
    entry->High = value(4);
    if (Mode == kQuerySingleValues) {
      if (entry->Middle.empty()) entry->Middle = entry->Low;
      entry->Low.clear();
      entry->High.clear();
    }
  }
  return true;
}

void QueryManager::ClearValues() {
  for (QueryFieldEntry& entry : Fields) {
    entry.Low.clear();
    entry.Middle.clear();
    entry.High.clear();
  }
}

// ---- Popup menu ----

void QueryManager::SetPopupEntries(QueryPopup& popup, std::int32_t queryButton) {
  bool hadEntries = !PopupList.empty();
  for (const std::string& name : PopupList)
    popup.DeleteItem(name);
  PopupList.clear();
  popupQueries_.clear();
  popup.DeleteItem(kEmptyName);
  popup.DeleteItem(kClearSeparatorName);
  popup.DeleteItem(kClearName);

  const std::vector<std::string> saved = ListSavedQueries();
  const bool active = !GetFilter().empty();
  if ((!saved.empty() || active) && !hadEntries && !menuAdded_) {
    if (popup.GetItems() > 0) popup.AddItem("-", kSeparatorName);
    popup.AddSubMenu(QkMenuText, kQuerySubMenu);
    menuAdded_ = true;
  }
  hadEntries = hadEntries || menuAdded_;
  if (hadEntries && saved.empty()) {
    if (active) {
      popup.AddItem("Empty         ", kEmptyName, kQuerySubMenu);
      popup.SetItemEnable(kEmptyName, false);
    } else {
      popup.DeleteItem(kQuerySubMenu);
      popup.DeleteItem(kSeparatorName);
      menuAdded_ = false;
      return;
    }
  }
  for (const std::string& query : saved) {
    const std::string name = popup.AddItem(query, "tsQBE_" + query, kQuerySubMenu);
    popup.SetItemEvent(name, rt::event::kNewSelection, queryButton);
    PopupList.push_back(name);
    popupQueries_.push_back(query);
  }
  if (menuAdded_) {
    popup.AddItem("-", kClearSeparatorName, kQuerySubMenu);
    popup.AddItem("C&lear", kClearName, kQuerySubMenu);
    popup.SetItemEvent(kClearName, rt::event::kNewSelection, queryButton);
  }
}

bool QueryManager::TakePopupChoice(QueryPopup& popup) {
  if (!QkSupport) return false;
  QkCurrentQuery = Cut(popup.GetLastSelection(), 100);
  const auto it = std::find(PopupList.begin(), PopupList.end(), QkCurrentQuery);
  if (it != PopupList.end()) {
    // An unreadable query was reported and changed nothing: there is nothing to apply.
    if (!LoadQuery(popupQueries_[static_cast<std::size_t>(it - PopupList.begin())])) return false;
  } else {
    ClearValues();
  }
  SaveQuery(kQueryMru);
  fromPopup_ = true;
  return true;
}

// ---- The query window ----

void RegisterQueryWindow() {
  if (rt::FindWindowDef(kQueryWindowModule, kQueryWindowName)) return;
  auto def =
      std::make_shared<rt::WindowDef>(kQueryWindowModule, kQueryWindowName, kQueryWindowCaption);
  def->font = "Microsoft Sans Serif";
  def->fontSize = 8;
  def->pos = {0, 0, 300, 160};
  def->modal = true;
  def->resizable = false;
  def->Sheet().At(4, 4, 292, 132).number = qbe::kSheet;
  def->Tab("Saved Queries").number = qbe::kSavedTab;
  def->List("120L(2)|M~Query~@s100@").At(10, 20, 180, 90).VScroll().number = qbe::kSavedList;
  def->Prompt("&Name:").At(10, 114, 30, 10).number = qbe::kNamePrompt;
  def->Entry("@s100").At(42, 113, 148, 12).number = qbe::kNameEntry;
  def->Button("&Save").At(200, 20, 50, 14).number = qbe::kSaveButton;
  def->Button("&Load").At(200, 38, 50, 14).number = qbe::kLoadButton;
  def->Button("&Delete").At(200, 56, 50, 14).number = qbe::kDeleteButton;
  def->Tab("Query Settings").number = qbe::kSettingsTab;
  def->EndSheet();
  def->Button("&OK").At(138, 140, 50, 14).Default().number = qbe::kOkButton;
  def->Button("&Cancel").At(192, 140, 50, 14).number = qbe::kCancelButton;
  def->Button("C&lear").At(246, 140, 50, 14).number = qbe::kClearButton;
  rt::RegisterWindowDef(std::move(def));
}

bool QueryManager::Ask(bool useDialog) {
  if (killed_ || Fields.empty()) return false;
  if (fromPopup_) {
    // A saved query chosen in the popup menu is applied as it stands, when it can be.
    fromPopup_ = false;
    return CheckValues();
  }
  if (!useDialog) return CheckValues();
  return RunWindow();
}

namespace {

// The query window's working state: the values' buffers bound to the entries of the settings
// tab, and the list of saved queries with the name entry.
class QueryWindow {
 public:
  QueryWindow(QueryManager& query, rt::Window& win)
      : query_(query),
        win_(win),
        perColumn_(query.Mode == kQueryRanges ? 3 : 1),
        buffers_(query.Fields.size() * static_cast<std::size_t>(perColumn_)),
        names_(NamesLayout()),
        nameRef_(nameBuffer_.data(), rt::FieldType::CString, kQueryNameLength + 1) {}
  QueryWindow(const QueryWindow&) = delete;
  QueryWindow& operator=(const QueryWindow&) = delete;

  // Makes the rows of entries and sizes the sheet, the buttons and the window to them.
  void BuildValues();
  // Fills and binds the list of saved queries; disabled without query keeping.
  void BuildSavedList();
  // One pass of the event loop: 0 to go on, 1 when the event is handled, -1 to close.
  int TakeEvent();
  bool Applied() const { return applied_; }

 private:
  static rt::RecordLayout NamesLayout() {
    rt::RecordLayout layout("QbeNames");
    layout.AddField("QBE:Query", rt::FieldType::CString, kQueryNameLength + 1);
    return layout;
  }
  rt::AnyRef BufferOf(std::size_t field, int part) {
    return rt::AnyRef(
        buffers_[field * static_cast<std::size_t>(perColumn_) + static_cast<std::size_t>(part)]
            .data(),
        rt::FieldType::CString, kValueBuffer);
  }
  void ToBuffers();
  void FromBuffers();
  void ListNames();
  int TakeButton(int button);

  QueryManager& query_;
  rt::Window& win_;
  // Mode 1 one entry per column, mode 2 the value, "From" and "To".
  const int perColumn_;
  std::vector<std::array<char, kValueBuffer>> buffers_;
  rt::Queue names_;
  std::array<char, kQueryNameLength + 2> nameBuffer_{};
  const rt::AnyRef nameRef_;
  bool applied_ = false;
};

void QueryWindow::ToBuffers() {
  for (std::size_t i = 0; i < query_.Fields.size(); ++i) {
    BufferOf(i, 0).SetText(query_.Fields[i].Middle);
    if (perColumn_ == 3) {
      BufferOf(i, 1).SetText(query_.Fields[i].Low);
      BufferOf(i, 2).SetText(query_.Fields[i].High);
    }
  }
}

void QueryWindow::FromBuffers() {
  for (std::size_t i = 0; i < query_.Fields.size(); ++i) {
    query_.Fields[i].Middle = BufferOf(i, 0).Text();
    if (perColumn_ == 3) {
      query_.Fields[i].Low = BufferOf(i, 1).Text();
      query_.Fields[i].High = BufferOf(i, 2).Text();
    }
  }
}

void QueryWindow::BuildValues() {
  ToBuffers();
  const int rows = static_cast<int>(query_.Fields.size());
  const int sheetHeight = std::max(132, kTopOfRows + rows * kRowHeight + 8);
  if (perColumn_ == 3) {
    const int header[] = {0, 1, 2};
    const char* titles[] = {"Value", "From", "To"};
    for (int h : header) {
      const int prompt = win_.CreateControl(rt::ctl::kPrompt, qbe::kSettingsTab, titles[h]);
      win_.SetPosition(prompt, {90 + h * 66, kTopOfRows - 10, 60, 10});
    }
  }
  for (int i = 0; i < rows; ++i) {
    const int y = kTopOfRows + i * kRowHeight;
    const int prompt =
        win_.CreateControl(rt::ctl::kPrompt, qbe::kSettingsTab, query_.Fields[i].Title + ":");
    win_.SetPosition(prompt, {10, y + 1, 76, 10});
    for (int part = 0; part < perColumn_; ++part) {
      const int entry = win_.CreateControl(rt::ctl::kEntry, qbe::kSettingsTab);
      const int width = perColumn_ == 3 ? 62 : 190;
      win_.SetPosition(entry, {90 + part * 66, y, width, 12});
      win_.Bind(entry, BufferOf(static_cast<std::size_t>(i), part));
    }
  }
  win_.SetPosition(qbe::kSheet, {4, 4, 292, sheetHeight});
  for (int button : {qbe::kOkButton, qbe::kCancelButton, qbe::kClearButton}) {
    rt::Rect pos = win_.Position(button);
    pos.y = sheetHeight + 8;
    win_.SetPosition(button, pos);
  }
  rt::Rect pos = win_.Position(0);
  pos.height = sheetHeight + 28;
  win_.SetPosition(0, pos);
}

void QueryWindow::ListNames() {
  names_.Free();
  for (const std::string& n : query_.ListSavedQueries()) {
    names_.Field(1).SetText(n);
    names_.Add();
  }
}

void QueryWindow::BuildSavedList() {
  ListNames();
  win_.BindList(qbe::kSavedList, &names_);
  win_.Bind(qbe::kNameEntry, nameRef_);
  if (!query_.QkSupport) {
    for (int c :
         {qbe::kSavedList, qbe::kNameEntry, qbe::kSaveButton, qbe::kLoadButton, qbe::kDeleteButton})
      win_.Disable(c);
  }
}

int QueryWindow::TakeEvent() {
  if (win_.Event() == rt::event::kNewSelection && win_.Field() == qbe::kSavedList) {
    if (names_.Get(win_.Choice(qbe::kSavedList))) {
      nameRef_.SetText(names_.Field(1).Text());
      win_.Display(qbe::kNameEntry);
    }
    return 0;
  }
  return TakeButton(win_.Accepted());
}

int QueryWindow::TakeButton(int button) {
  switch (button) {
    case qbe::kOkButton:
      win_.Update();
      FromBuffers();
      // A value that makes no condition is told, and the window stays for its correction.
      if (!query_.CheckValues()) return 1;
      applied_ = true;
      return -1;
    case qbe::kCancelButton:
      return -1;
    case qbe::kClearButton:
      query_.ClearValues();
      ToBuffers();
      win_.Display();
      return 1;
    case qbe::kSaveButton: {
      win_.Update();
      FromBuffers();
      const std::string name = TrimRight(nameRef_.Text());
      if (!name.empty() && query_.QkSupport) {
        query_.SaveQuery(name);
        ListNames();
        win_.Display(qbe::kSavedList);
      }
      return 1;
    }
    case qbe::kLoadButton: {
      win_.Update();
      const std::string name = TrimRight(nameRef_.Text());
      if (!name.empty() && query_.QkSupport && query_.LoadQuery(name)) {
        query_.QkCurrentQuery = Cut(name, 100);
        ToBuffers();
        win_.Display();
      }
      return 1;
    }
    case qbe::kDeleteButton: {
      win_.Update();
      const std::string name = TrimRight(nameRef_.Text());
      if (!name.empty() && query_.QkSupport && query_.DeleteQuery(name) == rt::kNoError) {
        nameRef_.SetText("");
        ListNames();
        win_.Display(qbe::kSavedList);
        win_.Display(qbe::kNameEntry);
      }
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace

bool QueryManager::RunWindow() {
  RegisterQueryWindow();
  auto win = rt::Window::Prepare(kQueryWindowModule, kQueryWindowName);
  if (!win) return false;
  const std::vector<QueryFieldEntry> before = Fields;
  QueryWindow window(*this, *win);
  window.BuildValues();
  window.BuildSavedList();
  // Users start on the values; the saved queries are one tab away.
  win->SetProp(qbe::kSheet, rt::prop::kChoice, 2L);

  rt::Window* owner = Owner ? Owner : rt::Window::Active();
  if (!win->Open(owner)) return false;
  win->Display();
  win->EventLoop([&]() -> int { return window.TakeEvent(); });
  const bool applied = window.Applied();
  if (applied) {
    if (QkSupport) SaveQuery(kQueryMru);
  } else {
    Fields = before;
  }
  return applied;
}
