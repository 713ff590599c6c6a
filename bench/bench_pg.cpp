// SPDX-License-Identifier: GPL-3.0-or-later
// The browse benchmark's actions (BenchBrowse.h) on a table of the server driver: a private
// server is started for the run (initdb into a temporary folder, Unix socket only), tables of
// 10,000 and 1,000,000 rows are made on it, and every action of a 20-row browse is timed
// against the same keyset query sent directly through the client library, and at one size
// against the other. Then storing a 100 MB document through the driver (read in pieces into
// the BLOB, then added, as the document form does) against psql storing the same file in one
// large object (\lo_import, the bytes sent through the client connection as the driver sends
// them), interleaved runs. Prints medians, ratios and the process's peak resident memory;
// never checks them. Every time is wall-clock time, so that it holds the server's work and
// the round trips on both sides; each figure is the median of its samples. The run and its
// server stay on one CPU (PinToOneCpu).
//
// Arguments: [rows [repeats]]. With rows, only a table of that many rows is read; repeats
// (default 200) sets how often each action is timed. A document size in MB may follow
// (default 100).

#include <libpq-fe.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchBrowse.h"
#include "bench/BenchDocument.h"
#include "platform/pgstore/PgConnection.h"
#include "platform/pgstore/PgStore.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "support/PgServer.h"

namespace {

using bench::kPage;
int gRepeats = 200;
std::size_t gDocumentSize = bench::kDocumentSize;

// A connection closed on every way out.
struct Connection {
  explicit Connection(const std::string& conninfo) : conn(PQconnectdb(conninfo.c_str())) {}
  ~Connection() { PQfinish(conn); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  bool Ok() const { return conn && PQstatus(conn) == CONNECTION_OK; }
  // Runs SQL that returns no rows; false on failure (printed).
  bool Exec(const std::string& sql) const {
    PGresult* r = PQexec(conn, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok) std::fprintf(stderr, "%s\n", PQerrorMessage(conn));
    PQclear(r);
    return ok;
  }
  PGconn* conn;
};

// The server table of a benchmark table name: its bare name, quoted.
std::string Quoted(const std::string& name) {
  return "\"" + std::filesystem::path(name).stem().string() + "\"";
}

// The direct keyset queries on the server table, prepared once, parameters and rows as text.
class Direct : public bench::DirectQueries {
 public:
  Direct(const std::string& conninfo, const std::string& name, long& sum)
      : conninfo_(conninfo), table_(Quoted(name)), conn_(conninfo), sum_(sum) {}
  bool Open() {
    const std::string columns =
        "SELECT _rid, _ver, _nulls, _bsize1, \"ID\", \"FileName\" FROM " + table_ + " ";
    return conn_.Ok() &&
           Prepare(conn_, "forward",
                   columns +
                       "WHERE (\"ID\", _rid) > ($1::int, $2::int8) ORDER BY \"ID\", _rid "
                       "LIMIT $3::int") &&
           Prepare(conn_, "last", columns + "ORDER BY \"ID\" DESC, _rid DESC LIMIT $1::int") &&
           Prepare(
               conn_, "byName",
               columns + "WHERE \"FileName\" >= $1 ORDER BY \"FileName\", _rid LIMIT $2::int") &&
           Prepare(conn_, "beforeName",
                   columns +
                       "WHERE \"FileName\" < $1 ORDER BY \"FileName\" DESC, _rid DESC LIMIT "
                       "$2::int");
  }
  bool FreshFirstPage() override {
    Connection c(conninfo_);
    if (!c.Ok()) return false;
    const std::string sql = "SELECT _rid, _ver, _nulls, _bsize1, \"ID\", \"FileName\" FROM " +
                            table_ +
                            " WHERE (\"ID\", _rid) > ($1::int, $2::int8) ORDER BY \"ID\", _rid "
                            "LIMIT $3::int";
    const std::string after = std::to_string(INT32_MIN), rid = std::to_string(INT64_MAX),
                      limit = std::to_string(kPage);
    const char* values[] = {after.c_str(), rid.c_str(), limit.c_str()};
    PGresult* r = PQexecParams(c.conn, sql.c_str(), 3, nullptr, values, nullptr, nullptr, 0);
    const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
    for (int i = 0; ok && i < PQntuples(r); ++i)
      sum_ += Take(r, i);
    PQclear(r);
    return ok;
  }
  void Page(std::int64_t after, std::vector<long>* ids = nullptr) override {
    const std::string from = std::to_string(std::max<std::int64_t>(after, INT32_MIN));
    const std::string rid = std::to_string(INT64_MAX), limit = std::to_string(kPage);
    Read("forward", {from.c_str(), rid.c_str(), limit.c_str()}, ids);
  }
  void End(std::vector<long>* ids = nullptr) override {
    const std::string limit = std::to_string(kPage);
    Read("last", {limit.c_str()}, ids, true);
  }
  int Located(char letter, int above, std::vector<long>* ids = nullptr) override {
    const char text[2] = {letter, 0};
    int got = 0;
    if (above > 0) {
      const std::string limit = std::to_string(above);
      got = Read("beforeName", {text, limit.c_str()}, ids, true);
    }
    const std::string limit = std::to_string(kPage - got);
    Read("byName", {text, limit.c_str()}, ids);
    return got + 1;
  }
  bool Rename(int id, const std::string& name) override {
    if (!other_) {
      other_ = std::make_unique<Connection>(conninfo_);
      if (!other_->Ok() ||
          !Prepare(*other_, "change",
                   "UPDATE " + table_ + " SET \"FileName\" = $1 WHERE \"ID\" = $2::int"))
        return false;
    }
    const std::string number = std::to_string(id);
    const char* values[] = {name.c_str(), number.c_str()};
    PGresult* r = PQexecPrepared(other_->conn, "change", 2, values, nullptr, nullptr, 0);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    return ok;
  }

 private:
  static bool Prepare(const Connection& c, const char* statement, const std::string& sql) {
    PGresult* r = PQprepare(c.conn, statement, sql.c_str(), 0, nullptr);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok) std::fprintf(stderr, "%s", PQerrorMessage(c.conn));
    PQclear(r);
    return ok;
  }
  // What a list needs of a row: its record id and the values it shows.
  static long Take(const PGresult* r, int row) {
    const char* name = PQgetvalue(r, row, 5);
    return std::atol(PQgetvalue(r, row, 0)) + std::atol(PQgetvalue(r, row, 4)) +
           PQgetlength(r, row, 5) + name[0];
  }
  // Rows read backwards go on top of those already taken, as in the list.
  // Returns the number of rows read.
  int Read(const char* statement, std::vector<const char*> values, std::vector<long>* ids,
           bool backward = false) {
    PGresult* r = PQexecPrepared(conn_.conn, statement, static_cast<int>(values.size()),
                                 values.data(), nullptr, nullptr, 0);
    const std::size_t at = ids ? ids->size() : 0;
    const int n = PQresultStatus(r) == PGRES_TUPLES_OK ? PQntuples(r) : 0;
    for (int i = 0; i < n; ++i) {
      sum_ += Take(r, i);
      if (ids)
        ids->insert(backward ? ids->begin() + at : ids->end(), std::atol(PQgetvalue(r, i, 4)));
    }
    PQclear(r);
    return n;
  }

  std::string conninfo_;
  std::string table_;
  Connection conn_;
  std::unique_ptr<Connection> other_;  // the other connection that changes rows
  long& sum_;
};

// Makes the table through the driver with its first row, then the other rows on the server
// from that one (the driver's own columns copied, the file names random letters and a number,
// as NameMaker's): a million rows added one by one through the driver would take most of the
// run. False on failure.
bool Build(const std::string& conninfo, const std::string& name, int rows) {
  {
    auto f = bench::BrowseTable(name, rt::kPgDriverName);
    if (!bench::FillTable(*f, 1, bench::NameMaker())) return false;
  }
  Connection c(conninfo);
  const std::string table = Quoted(name);
  const std::string letter = "chr(97 + floor(random() * 26)::int)";
  std::string text;
  for (int i = 0; i < 8; ++i)
    text += letter + " || ";
  return c.Ok() && c.Exec("SELECT setseed(0.7)") &&
         c.Exec("INSERT INTO " + table + " (_ver, _nulls, _bsize1, \"ID\", \"FileName\") SELECT " +
                "f._ver, f._nulls, f._bsize1, i, " + text +
                "'/' || floor(random() * 4294967295)::bigint || '.pdf' FROM " + table +
                " f, generate_series(2, " + std::to_string(rows) + ") i WHERE f.\"ID\" = 1") &&
         c.Exec("VACUUM ANALYZE " + table);
}

// Seconds to store the document through the driver in a fresh table, or a negative value on
// failure.
double ThroughDriver(const std::string& conninfo, const std::string& document, int run) {
  auto f = bench::Table("document" + std::to_string(run), rt::kPgDriverName);
  if (f->Create() != 0 || f->Open(rt::kOpenReadWriteDenyNone) != 0) return -1;
  const auto start = std::chrono::steady_clock::now();
  if (!bench::StoreDocument(*f, document)) return -1;
  static_cast<void>(f->Close());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Connection c(conninfo);
  c.Exec("DROP TABLE " + Quoted("document" + std::to_string(run)) + ", " +
         Quoted("document" + std::to_string(run) + "$chunks"));
  return seconds;
}

// Seconds psql takes to store the document in a large object, or a negative value on failure.
double ThroughPsql(const std::string& conninfo, const std::string& document) {
  const std::string command = "psql -X -q -v ON_ERROR_STOP=1 '" + conninfo + "' -c '\\lo_import " +
                              document + "' > /dev/null";
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Connection c(conninfo);
  c.Exec("SELECT lo_unlink(oid) FROM pg_largeobject_metadata");
  return seconds;
}

bool StoreDocuments(const std::string& conninfo, const std::string& dir) {
  const std::string document = dir + "/document.bin";
  if (!bench::WriteDocument(document, gDocumentSize)) return false;
  std::vector<double> driver, tool;
  constexpr int kRuns = 5;
  for (int run = 0; run < kRuns; ++run) {
    const double t = ThroughPsql(conninfo, document);
    const double d = ThroughDriver(conninfo, document, run);
    if (t < 0 || d < 0) {
      std::fprintf(stderr, "storing run %d failed (psql %.3f, driver %.3f)\n", run, t, d);
      return false;
    }
    tool.push_back(t);
    driver.push_back(d);
    std::printf("document run %d: psql %.3f s, driver %.3f s\n", run + 1, t, d);
  }
  const double t = bench::Median(tool), d = bench::Median(driver);
  std::printf("%zu MB document, median: psql %.3f s, driver %.3f s, ratio %.2f (goal 1.5)\n",
              gDocumentSize >> 20, t, d, d / t);
  return true;
}

int Run(const std::vector<int>& sizes) {
  // The private server, with a database for this process; it is removed at exit.
  std::string why;
  const testing_support::PgServer* server = testing_support::PgServer::Shared(&why);
  if (!server) {
    std::fprintf(stderr, "no server: %s\n", why.c_str());
    return 1;
  }
  const std::string conninfo = server->Conninfo();
  rt::RegisterPgDriver(conninfo);
  char templ[] = "/tmp/bench_pg-XXXXXX";
  if (!::mkdtemp(templ)) return 1;
  const std::string dir = templ;
  rt::ThreadLocal<ErrorStatus> status;
  ErrorManager errors;
  errors.Start(status);
  bench::BrowseBench setup;
  setup.driver = rt::kPgDriverName;
  setup.directLabel = "direct libpq";
  setup.repeats = gRepeats;
  setup.roundTrips = [] { return rt::PgConnection::RoundTrips(); };
  setup.connections = [] { return rt::PgConnection::Connections(); };
  setup.direct = [&conninfo](const std::string& name,
                             long& sum) -> std::unique_ptr<bench::DirectQueries> {
    auto d = std::make_unique<Direct>(conninfo, name, sum);
    if (!d->Open()) return nullptr;
    return d;
  };
  std::vector<long> resident(sizes.size());
  std::vector<std::string> names;
  long sum = 0;
  int result = 0;
  for (int rows : sizes) {
    names.push_back("bench" + std::to_string(rows));
    const auto b0 = std::chrono::steady_clock::now();
    if (!Build(conninfo, names.back(), rows)) {
      std::fprintf(stderr, "building %d rows failed\n", rows);
      result = 1;
      break;
    }
    std::printf("built %8d rows in %.1f s\n", rows,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - b0).count());
    if (bench::SameRows(setup, names.back(), rows, errors))
      std::printf("%8d rows: each direct query reads the rows the browse shows\n", rows);
    bench::BrowseCosts(setup, names.back(), rows, std::max(1, gRepeats / bench::kRounds), errors,
                       sum, 1);
    resident[names.size() - 1] = bench::ResidentKb();
  }
  if (result == 0 && !bench::TimeAndPrint(setup, names, sizes, resident, errors, sum)) result = 1;
  if (result == 0 && !StoreDocuments(conninfo, dir)) result = 1;
  std::printf("peak resident memory of the process: %ld kB\n", bench::PeakResidentKb());
  std::printf("(checksum %ld)\n", sum);
  errors.Kill();
  status.Destroy();
  rt::JoinAllThreads();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}

// Runs the benchmark, and the private server it starts, on one CPU (the first the process may
// use), unless BENCH_PG_SPREAD is set. Between a client and a server process on different CPUs
// each round trip costs two wake-ups of an idle CPU, which on a virtual machine take tens of
// microseconds, and where the system places each connection's server process changes from
// connection to connection: round trips of one run then differ by up to 3x. On one CPU both
// sides pay the same switch per round trip, and each figure is the work of the client and the
// server. A server named by PGSTORE_TEST_SERVER keeps the CPUs it was started on.
void PinToOneCpu() {
  if (std::getenv("BENCH_PG_SPREAD")) return;
  cpu_set_t allowed;
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    if (::sched_setaffinity(0, sizeof one, &one) == 0) {
      std::printf("CPU %d runs the benchmark%s (BENCH_PG_SPREAD=1 lets them spread)\n", cpu,
                  std::getenv("PGSTORE_TEST_SERVER") ? "" : " and its server");
    }
    return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<int> sizes = {10000, 1000000};
  if (argc > 1) sizes = {std::max(1000, std::atoi(argv[1]))};
  if (argc > 2) gRepeats = std::max(1, std::atoi(argv[2]));
  if (argc > 3) gDocumentSize = static_cast<std::size_t>(std::max(1, std::atoi(argv[3]))) << 20;
  bench::gWallClock = true;
  PinToOneCpu();
  rt::InstallHeadlessBackend();
  int result = 0;
  rt::RunProgram([&] { result = Run(sizes); });
  return result;
}
