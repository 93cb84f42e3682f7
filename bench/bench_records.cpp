// The check store: storing one check on SQLite and on PostgreSQL, and the
// history's two queries on a store of 100,000 checks. PostgreSQL runs when
// SKYWAND_BENCH_PG_URL names a database (it gets a table "checks" there).

#include "checkstore.h"
#include "generatedstore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

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

void BM_AllWithoutReports(benchmark::State& state)
{
    CheckQuery q;
    q.withReport = false;
    query(state, q, kGenerated);
}
BENCHMARK(BM_AllWithoutReports)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
