#include "generatedstore.h"

#include "checkprofile.h"
#include "checkreport.h"
#include "checkstore.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>

std::string benchFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp ? tmp : "/tmp") + "/benchrecXXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

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

GeneratedStore::GeneratedStore() : folder(benchFolder())
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
        ") INSERT INTO checks SELECT printf('g%06d', i), 'W' || (i % " + std::to_string(kWands) +
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

GeneratedStore::~GeneratedStore()
{
    std::filesystem::remove_all(folder);
}
