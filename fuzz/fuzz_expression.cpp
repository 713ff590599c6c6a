// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary text to the expression parser and evaluates what compiles against a small
// record, checking that a compiled expression also answers the conjunction analysis.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/runtime/expressions/Bindings.h"
#include "platform/runtime/expressions/Expression.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/values/RecordLayout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static rt::RecordLayout layout = [] {
    rt::RecordLayout l("DemoData");
    l.AddField("DEM:ID", rt::FieldType::Long);
    l.AddField("DEM:FileName", rt::FieldType::String, 80);
    l.AddField("DEM:Amount", rt::FieldType::Decimal, 0, "n10.2", 2);
    return l;
  }();
  std::vector<char> record(layout.Size());
  rt::WriteInteger(layout.Field(1), record.data(), 42);
  rt::WriteText(layout.Field(2), record.data(), "O'Brien report.pdf");
  rt::WriteInteger(layout.Field(3), record.data(), -1250);
  rt::Bindings bindings;
  bindings.BindRecord(layout, record.data());

  std::string_view text(reinterpret_cast<const char*>(data), size);
  rt::Expression expression;
  int code = expression.Compile(text);
  if (code != rt::kNoError && code != rt::kExpressionSyntaxError) __builtin_trap();
  int error = 0;
  expression.Test(bindings, &error);
  expression.Evaluate(bindings, &error).Text();
  expression.Conjunction(bindings);
  return 0;
}
