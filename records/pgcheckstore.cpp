#include "pgcheckstore.h"

#include "schema.h"
#include "storeurl.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>
#include <limits>

namespace {

// Clears the result however the function leaves.
class Result
{
public:
    explicit Result(PGresult* result) : result(result) {}
    ~Result() { PQclear(result); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    bool ok() const
    {
        const ExecStatusType status = PQresultStatus(result);
        return result && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
    }

    PGresult* result;
};

// libpq's messages span lines with tabs; a message here is one line.
std::string oneLine(const char* text)
{
    std::string out;
    bool space = false;
    for (const char* c = text ? text : ""; *c; ++c) {
        if (*c == '\n' || *c == '\t' || *c == '\r' || *c == ' ') {
            space = !out.empty();
            continue;
        }
        if (space)
            out += ' ';
        space = false;
        out += *c;
    }
    return out.empty() ? std::string("no reason given") : out;
}

std::string figureText(double value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

// Any number that marks this program's schema changes among a server's
// advisory locks.
constexpr long long kMigrationLock = 0x536b7977616e64LL;

} // namespace

PgCheckStore::PgCheckStore(pg_conn* conn, const std::string& url)
    : conn(conn), shownUrl(redactedStoreUrl(url)), secrets(urlSecrets(url))
{
    if (const char* password = std::getenv("PGPASSWORD"))
        secrets.push_back(password);
}

PgCheckStore::~PgCheckStore()
{
    PQfinish(conn);
}

std::string PgCheckStore::failure(const char* doing, const std::string& why) const
{
    return shownUrl + ": " + doing + ": " + withoutSecrets(why, secrets);
}

std::unique_ptr<CheckStore> PgCheckStore::open(const std::string& url, std::string& error)
{
    // Later entries override earlier ones, so the URL's own settings win.
    const std::string timeout = std::to_string(kConnectTimeoutS);
    const char* const keywords[] = {"connect_timeout", "fallback_application_name",
                                    "client_encoding", "dbname", nullptr};
    const char* const values[] = {timeout.c_str(), "skywandtester", "UTF8", url.c_str(), nullptr};
    pg_conn* conn = PQconnectdbParams(keywords, values, 1);
    std::unique_ptr<PgCheckStore> store(new PgCheckStore(conn, url));
    if (!conn || PQstatus(conn) != CONNECTION_OK) {
        error = store->failure("cannot connect",
                               oneLine(conn ? PQerrorMessage(conn) : "out of memory"));
        return nullptr;
    }
    Result quiet(PQexec(conn, "SET client_min_messages = warning"));
    if (!store->migrate(error))
        return nullptr;
    return store;
}

bool PgCheckStore::connected()
{
    // A server restarted since the last statement: one new connection.
    if (PQstatus(conn) == CONNECTION_BAD)
        PQreset(conn);
    return PQstatus(conn) == CONNECTION_OK;
}

bool PgCheckStore::migrate(std::string& error)
{
    const auto exec = [&](const std::string& sql) {
        Result result(PQexec(conn, sql.c_str()));
        if (!result.ok())
            error = failure("cannot update the schema", oneLine(PQerrorMessage(conn)));
        return result.ok();
    };
    // The lock keeps two benches from creating the tables at once.
    if (!exec("BEGIN") ||
        !exec("SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) + ")")) {
        Result rollback(PQexec(conn, "ROLLBACK"));
        return false;
    }
    int version = 0;
    Result exists(PQexec(conn, "SELECT to_regclass('schema_version') IS NOT NULL"));
    bool ok = exists.ok() && PQntuples(exists.result) == 1;
    if (ok && std::string(PQgetvalue(exists.result, 0, 0)) == "t") {
        Result read(PQexec(conn, "SELECT coalesce(max(version), 0) FROM schema_version"));
        ok = read.ok() && PQntuples(read.result) == 1;
        if (ok)
            version = std::atoi(PQgetvalue(read.result, 0, 0));
    }
    if (!ok) {
        error = failure("cannot read the schema", oneLine(PQerrorMessage(conn)));
    } else if (version > kSchemaVersion) {
        error = shownUrl + ": the database has schema version " + std::to_string(version) +
                ", newer than this program's " + std::to_string(kSchemaVersion);
        ok = false;
    }
    for (const SchemaMigration& step : schemaMigrations()) {
        if (ok && step.version > version)
            ok = exec(step.postgresql);
    }
    if (ok && version < kSchemaVersion)
        ok = exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL);"
                  "DELETE FROM schema_version;"
                  "INSERT INTO schema_version (version) VALUES (" +
                  std::to_string(kSchemaVersion) + ")");
    ok = ok && exec("COMMIT");
    if (!ok) {
        Result rollback(PQexec(conn, "ROLLBACK"));
    }
    return ok;
}

CheckStore::Put PgCheckStore::put(const CheckRecord& record, std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!connected()) {
        error = failure("cannot store the check", oneLine(PQerrorMessage(conn)));
        return Put::Failed;
    }
    std::string texts[kCheckColumns] = {record.checkId,
                                        record.wandId,
                                        record.operatorName,
                                        record.bench,
                                        std::to_string(record.skywandIndex),
                                        storedTime(record.startedUs),
                                        storedTime(record.finishedUs),
                                        record.verdict,
                                        record.source,
                                        record.profileJson};
    const char* values[kCheckColumns];
    for (int i = 0; i < 10; ++i)
        values[i] = texts[i].c_str();
    for (int i = 0; i < kFigureColumns; ++i) {
        const double value = recordFigure(record, i);
        texts[10 + i] = std::isfinite(value) ? figureText(value) : std::string();
        values[10 + i] = std::isfinite(value) ? texts[10 + i].c_str() : nullptr;
    }
    values[20] = record.reportJson.c_str();
    // One statement is one transaction: the row lands whole or not at all.
    Result insert(PQexecParams(conn, insertSql(true).c_str(), kCheckColumns, nullptr, values,
                               nullptr, nullptr, 0));
    if (!insert.ok()) {
        error = failure("cannot store the check", oneLine(PQerrorMessage(conn)));
        return Put::Failed;
    }
    return std::string(PQcmdTuples(insert.result)) == "1" ? Put::Stored : Put::Duplicate;
}

bool PgCheckStore::find(const CheckQuery& query, std::vector<CheckRecord>& out, std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!connected()) {
        error = failure("cannot read the checks", oneLine(PQerrorMessage(conn)));
        return false;
    }
    std::string sql = "SELECT ";
    for (int i = 0; i < kCheckColumns; ++i) {
        const std::string column = kCheckColumnNames[i];
        sql += i ? ", " : "";
        if (i == 5 || i == 6)
            sql += "(extract(epoch FROM " + column + ") * 1000000)::bigint";
        else
            sql += i == kReportColumn && !query.withReport ? "''" : column;
    }
    sql += " FROM checks WHERE true";
    std::vector<std::string> texts;
    const auto where = [&](const std::string& value, const char* clause, const char* cast) {
        if (value.empty())
            return;
        texts.push_back(value);
        sql += std::string(" AND ") + clause + " $" + std::to_string(texts.size()) + cast;
    };
    where(query.checkId, "check_id =", "");
    where(query.wandId, "wand_id =", "");
    where(query.verdict, "verdict =", "");
    where(query.bench, "bench =", "");
    where(query.operatorName, "operator =", "");
    where(query.sinceUs ? storedTime(query.sinceUs) : std::string(),
          "finished >=", "::timestamptz");
    where(query.untilUs ? storedTime(query.untilUs) : std::string(), "finished <", "::timestamptz");
    sql += " ORDER BY finished DESC, check_id DESC";
    if (query.limit)
        sql += " LIMIT " + std::to_string(std::min<size_t>(
                               query.limit, size_t(std::numeric_limits<int64_t>::max())));
    std::vector<const char*> values;
    for (const std::string& text : texts)
        values.push_back(text.c_str());
    Result select(PQexecParams(conn, sql.c_str(), int(values.size()), nullptr, values.data(),
                               nullptr, nullptr, 0));
    if (!select.ok() || PQnfields(select.result) != kCheckColumns) {
        error = failure("cannot read the checks", oneLine(PQerrorMessage(conn)));
        return false;
    }
    std::vector<CheckRecord> found;
    const int rows = PQntuples(select.result);
    found.reserve(size_t(rows));
    for (int row = 0; row < rows; ++row) {
        const auto value = [&](int column) {
            return std::string(PQgetvalue(select.result, row, column),
                               size_t(PQgetlength(select.result, row, column)));
        };
        CheckRecord r;
        r.checkId = value(0);
        r.wandId = value(1);
        r.operatorName = value(2);
        r.bench = value(3);
        r.skywandIndex = std::atoi(value(4).c_str());
        r.startedUs = std::strtoll(value(5).c_str(), nullptr, 10);
        r.finishedUs = std::strtoll(value(6).c_str(), nullptr, 10);
        r.verdict = value(7);
        r.source = value(8);
        r.profileJson = value(9);
        for (int i = 0; i < kFigureColumns; ++i) {
            double figure = NAN;
            if (!PQgetisnull(select.result, row, 10 + i)) {
                const std::string text = value(10 + i);
                std::from_chars(text.data(), text.data() + text.size(), figure);
            }
            *recordFigures(r, i) = figure;
        }
        r.reportJson = value(kReportColumn);
        found.push_back(std::move(r));
    }
    out = std::move(found);
    return true;
}
