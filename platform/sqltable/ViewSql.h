// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the SQL table drivers' view cursors share: the encoding of a view position (the
// order's signature, the order values and the record id), and which filter conditions SQL
// answers exactly as the expression evaluator does.

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/expressions/ViewQuery.h"
#include "platform/runtime/files/FilePosition.h"
#include "platform/runtime/values/RecordLayout.h"

namespace rt {

// A signature naming an order's fields, directions and folds; positions carry it.
std::string ViewSignature(const std::vector<ViewOrderComponent>& order);
// Writes the position of a record (its order values and record id) into `out`, whose storage
// is reused; values that would not fit leave the record id alone (looked up on reset).
void EncodeViewPosition(std::string_view signature, const std::vector<KeyValue>& values,
                        std::int64_t record, std::string& out);
// Splits a view position into its signature and its file position; false when malformed.
bool DecodeViewPosition(std::string_view bytes, std::string& signature, FilePosition& position);

// A filter condition as SQL: the comparison operator (" = ", " < ", ...) and the value to
// bind; false for a condition SQL would not answer exactly as the evaluator (a text compared
// with a number, a Decimal or CString field, "~="). Texts are stored without trailing blanks
// and compared byte by byte; upper()/lower() fold ASCII letters only, as the evaluator's do.
bool ConditionSql(const RecordLayout& layout, const ViewCondition& condition, const char*& op,
                  KeyValue& value);

}  // namespace rt
