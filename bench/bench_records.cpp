// The check store: storing one check on SQLite and on PostgreSQL, and the
// history's two queries on a store of 100,000 checks. PostgreSQL runs when
// SKYWAND_BENCH_PG_URL names a database (it gets a table "checks" there).

#include "checkprofile.h"
#include "checkreport.h"
#include "checkstore.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int64_t kDec1 = 1796117400000000; // 2026-12-01T09:30:00Z
constexpr int kGenerated = 100000;
constexpr int kWands = 500;

std::string benchFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp ? tmp : "/tmp") + "/benchrecXXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// A real report of a passed check, about 2 KiB, as every row carries one.
const std::string& sampleReport()
{
    static const std::string report = [] {
        CheckReportInfo info;
        info.toolName = "kestrel-check";
        info.toolVersion = "1.0.0";
        info.wandId = "W1";
        info.operatorName = "Ann";
        info.port = 5000;
        info.startedUs = kDec1 - 60000000;
        info.finishedUs = kDec1;
        CheckResult result;
        result.verdict = Verdict::Pass;
        result.rest.offset = 0.01;
        result.circle.coverage = 0.97;
        result.hold.trackedShare = 1;
        return reportJson(info, CheckProfile(), result);
    }();
    return report;
}

void storeOne(benchmark::State& state, const std::string& url)
{
    std::string error;
    std::unique_ptr<CheckStore> store = openCheckStore(url, error);
    if (!store) {
        state.SkipWithError(error.c_str());
        return;
    }
    CheckRecord record;
    recordFromReport(sampleReport(), "bench", record, error);
    for (auto _ : state) {
        record.checkId = newCheckId();
        if (store->put(record, error) != CheckStore::Put::Stored) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
}

void BM_StoreOneSqlite(benchmark::State& state)
{
    const std::string folder = benchFolder();
    storeOne(state, "sqlite:" + folder + "/checks.sqlite");
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_StoreOneSqlite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StoreOnePostgresql(benchmark::State& state)
{
    const char* url = std::getenv("SKYWAND_BENCH_PG_URL");
    if (!url || !*url) {
        state.SkipWithError("SKYWAND_BENCH_PG_URL is not set");
        return;
    }
    storeOne(state, url);
}
BENCHMARK(BM_StoreOnePostgresql)->Unit(benchmark::kMillisecond)->UseRealTime();

// 100,000 checks of 500 wands, one every 10 minutes back from 2026-12-01,
// written in one statement; the store itself creates the schema first.
class GeneratedStore
{
public:
    GeneratedStore() : folder(benchFolder())
    {
        url = "sqlite:" + folder + "/checks.sqlite";
        std::string error;
        if (!openCheckStore(url, error))
            return;
        sqlite3* db = nullptr;
        sqlite3_open((folder + "/checks.sqlite").c_str(), &db);
        sqlite3_stmt* insert = nullptr;
        const std::string sql =
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
            std::to_string(kGenerated - 1) +
            ") INSERT INTO checks SELECT printf('g%06d', i), 'W' || (i % " +
            std::to_string(kWands) +
            "), 'Ann', 'bench', 0, strftime('%Y-%m-%dT%H:%M:%fZ', 1796117340 - i * 600, "
            "'unixepoch'), strftime('%Y-%m-%dT%H:%M:%fZ', 1796117400 - i * 600, 'unixepoch'), "
            "'pass', 'UDP port 5000', '{}', 0.01, 0.001, 0.001, 0.97, 3.5, 0.98, 0, 1, 0.2, "
            "0.03, ?1 FROM n";
        sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr);
        sqlite3_bind_text(insert, 1, sampleReport().c_str(), -1, SQLITE_STATIC);
        ready = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_finalize(insert);
        sqlite3_close(db);
    }
    ~GeneratedStore() { std::filesystem::remove_all(folder); }

    std::string folder;
    std::string url;
    bool ready = false;
};

void query(benchmark::State& state, const CheckQuery& query, size_t expected)
{
    static GeneratedStore generated;
    std::string error;
    std::unique_ptr<CheckStore> store =
        generated.ready ? openCheckStore(generated.url, error) : nullptr;
    if (!store) {
        state.SkipWithError(("no generated store: " + error).c_str());
        return;
    }
    std::vector<CheckRecord> found;
    for (auto _ : state) {
        if (!store->find(query, found, error) || found.size() != expected) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
}

void BM_HistoryFirstPage(benchmark::State& state)
{
    CheckQuery q;
    q.limit = 100;
    query(state, q, 100);
}
BENCHMARK(BM_HistoryFirstPage)->Unit(benchmark::kMillisecond);

void BM_OneWand(benchmark::State& state)
{
    CheckQuery q;
    q.wandId = "W42";
    query(state, q, kGenerated / kWands);
}
BENCHMARK(BM_OneWand)->Unit(benchmark::kMillisecond);

void BM_AllNewestFirst(benchmark::State& state)
{
    query(state, CheckQuery(), kGenerated);
}
BENCHMARK(BM_AllNewestFirst)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
