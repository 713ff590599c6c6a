// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sqltable/KeysetSql.h"

namespace rt {

std::string Placeholder(const KeysetOrder& order, int& next) {
  return order.numbered ? "$" + std::to_string(next++) : (++next, std::string("?"));
}

void AppendKeysetConditions(const KeysetOrder& order, KeysetLevel level, int equal, bool forward,
                            bool strict, bool withRecord, std::string& sql, std::vector<int>& binds,
                            int& next) {
  const std::vector<std::string>& e = order.expressions;
  if (level == KeysetLevel::All) return;
  if (level == KeysetLevel::Row) {
    std::string left;
    std::string right;
    for (int i = 0; i < equal; ++i) {
      left += e[i] + ", ";
      right += Placeholder(order, next) + ", ";
      binds.push_back(i);
    }
    if (withRecord) {
      left += order.record + ", ";
      right += Placeholder(order, next) + ", ";
      binds.push_back(-1);
    }
    left.resize(left.size() - 2);
    right.resize(right.size() - 2);
    sql +=
        " AND (" + left + ") " + (forward ? ">" : "<") + (strict ? "" : "=") + " (" + right + ")";
    return;
  }
  for (int i = 0; i < equal; ++i) {
    sql += " AND " + e[i] + " = " + Placeholder(order, next);
    binds.push_back(i);
  }
  if (level == KeysetLevel::Past) {
    const bool greater = order.ascending[equal] == forward;
    sql += " AND " + e[equal] + (greater ? " > " : " < ") + Placeholder(order, next);
    binds.push_back(equal);
  } else if (level == KeysetLevel::Record) {
    sql += " AND " + order.record + (forward ? " >" : " <") + (strict ? " " : "= ") +
           Placeholder(order, next);
    binds.push_back(-1);
  }
}

void AppendKeysetOrder(const KeysetOrder& order, int from, bool forward, std::string& sql) {
  sql += " ORDER BY ";
  const auto first = static_cast<std::size_t>(from);
  for (std::size_t i = first; i < order.expressions.size(); ++i) {
    if (i > first) sql += ", ";
    sql += order.expressions[i] + (order.ascending[i] == forward ? " ASC" : " DESC");
  }
  if (order.distinct && first < order.expressions.size()) return;
  if (first < order.expressions.size()) sql += ", ";
  sql += order.record + (forward ? " ASC" : " DESC");
}

}  // namespace rt
