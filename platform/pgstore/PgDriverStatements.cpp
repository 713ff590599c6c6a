// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgDriver.h"

#include <type_traits>
#include <variant>

#include "platform/runtime/threads/ErrorState.h"

namespace rt {

int PgDriver::Run(const std::string& sql, const PgParams& params, PgResult& out,
                  std::string_view what) {
  // Inside a write a lost connection fails the write: connecting again would run its other
  // steps outside its transaction.
  if (!writing_) {
    if (int e = Connect()) return e;
  }
  return conn_.Run(sql, params, out, what);
}

int PgDriver::RunPlannedPerRun(const std::string& sql, const PgParams& params, PgResult& out,
                               std::string_view what) {
  if (!writing_) {
    if (int e = Connect()) return e;
  }
  // The setting goes back in the same round trip (or with the transaction when it fails).
  return conn_.RunOnce(sql, params, out, what, {"SET plan_cache_mode = force_custom_plan"},
                       {kGenericPlans});
}

int PgDriver::Run(const std::string& sql, const SqlArgs& args, PgResult& out,
                  std::string_view what) {
  PgParams params;
  for (const SqlArg& arg : args) {
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, SqlBytes>) {
            params.Bytes(v.bytes.data(), v.bytes.size());
          } else if constexpr (std::is_same_v<T, std::string>) {
            params.Text(v);
          } else if constexpr (std::is_same_v<T, double>) {
            params.Real(v);
          } else {
            params.Int(v);
          }
        },
        arg);
  }
  return Run(sql, params, out, what);
}

int PgDriver::QueryRows(const std::string& sql, const SqlArgs& args, std::string_view what,
                        std::deque<Row>& rows) {
  PgResult r;
  if (int e = Run(sql, args, r, what)) return e;
  for (int i = 0; i < r.Rows(); ++i) {
    if (int e = ReadRow(r, i, rows.emplace_back())) {
      rows.pop_back();
      return e;
    }
  }
  return kNoError;
}

int PgDriver::QueryInt(const std::string& sql, const SqlArgs& args, std::string_view what,
                       std::int64_t& value, bool& found) {
  PgResult r;
  if (int e = Run(sql, args, r, what)) return e;
  found = r.Rows() > 0;
  if (found && !r.Int(0, 0, value)) {
    return Damaged(0, "an answer of another type to " + std::string(what));
  }
  return kNoError;
}

int PgDriver::Execute(const std::string& sql, const SqlArgs& args, std::string_view what,
                      std::int64_t* changed) {
  PgResult r;
  if (int e = Run(sql, args, r, what)) return e;
  if (changed) *changed = r.Changed();
  return kNoError;
}

int PgDriver::QueryChunks(const std::string& sql, const SqlArgs& args, const ChunkVisitor& each) {
  PgResult r;
  if (int e = Run(sql, args, r, "BLOB read")) return e;
  for (int i = 0; i < r.Rows(); ++i) {
    StoredChunk chunk;
    std::int64_t sum = 0;
    chunk.typed = r.Int(i, 0, chunk.chunk) && r.Blob(i, 1, chunk.bytes);
    chunk.hasSum = r.Int(i, 2, sum);
    chunk.sum = static_cast<std::uint64_t>(sum);
    if (int e = each(chunk)) return e;
  }
  return kNoError;
}

int PgDriver::InWrite(std::string_view what, const std::function<int()>& steps) {
  if (int e = Connect()) return e;
  const bool own = !inTransaction_;
  if (int e = conn_.Exec(own ? "BEGIN" : "SAVEPOINT pg_write", what)) return e;
  writing_ = true;
  int result = steps();
  writing_ = false;
  if (!result) {
    // Heard by the other clients when the change commits; this client leaves it out by the
    // backend it came from.
    PgParams p;
    p.Text(bare_);
    PgResult r;
    result = conn_.Run("SELECT pg_notify($1, '')", p, r, what);
  }
  if (!result) result = conn_.Exec(own ? "COMMIT" : "RELEASE SAVEPOINT pg_write", what);
  if (result) {
    const ErrorState failure = LastError();
    if (conn_.Connected()) {
      conn_.Exec(own ? "ROLLBACK" : "ROLLBACK TO SAVEPOINT pg_write; RELEASE SAVEPOINT pg_write",
                 what);
    }
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
    return result;
  }
  ++changes_;
  if (own) CountCommit();
  return kNoError;
}

}  // namespace rt
