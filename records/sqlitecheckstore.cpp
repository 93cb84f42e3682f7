#include "sqlitecheckstore.h"

#include "schema.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

namespace {

// Finalizes the statement however the function leaves.
class Statement
{
public:
    Statement(sqlite3* db, const std::string& sql)
    {
        if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &stmt, nullptr) != SQLITE_OK)
            stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* stmt = nullptr;
};

bool bindText(sqlite3_stmt* stmt, int index, const std::string& text)
{
    return sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT,
                               SQLITE_UTF8) == SQLITE_OK;
}

std::string columnText(sqlite3_stmt* stmt, int index)
{
    const unsigned char* text = sqlite3_column_text(stmt, index);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              size_t(sqlite3_column_bytes(stmt, index)))
                : std::string();
}

// The path's kind before SQLite opens it: a folder, a FIFO or a link to
// nothing would hang, fail obscurely or create a file elsewhere.
bool pathUsable(const std::string& path, std::string& why)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        why = std::string("cannot look at the file: ") + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) {
        why = "the path is a link to nothing";
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        why = "the path is a folder, not a database file";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "the path is not a regular file";
        return false;
    }
    return true;
}

} // namespace

SqliteCheckStore::SqliteCheckStore(sqlite3* db, std::string url) : db(db), url(std::move(url)) {}

SqliteCheckStore::~SqliteCheckStore()
{
    sqlite3_close_v2(db);
}

std::unique_ptr<CheckStore> SqliteCheckStore::open(const std::string& url, const std::string& path,
                                                   std::string& error)
{
    if (path.empty()) {
        error = url + ": no file named";
        return nullptr;
    }
    std::string why;
    if (!pathUsable(path, why)) {
        error = url + ": " + why;
        return nullptr;
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            error = url + ": cannot create the folder " + folder.string() + ": " + ec.message();
            return nullptr;
        }
    }
    sqlite3* db = nullptr;
    const int opened =
        sqlite3_open_v2(path.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<SqliteCheckStore> store(new SqliteCheckStore(db, url));
    if (opened != SQLITE_OK) {
        error = store->failure("cannot open the file");
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // WAL lets readers run beside the one writer; a read-only file keeps its
    // journal mode, and the first write says why it failed.
    if (!store->exec("PRAGMA journal_mode=WAL") && !sqlite3_db_readonly(db, "main")) {
        error = store->failure("cannot open the database");
        return nullptr;
    }
    if (!store->migrate(error))
        return nullptr;
    return store;
}

bool SqliteCheckStore::exec(const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string SqliteCheckStore::failure(const char* doing) const
{
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
    std::string why;
    switch (code & 0xff) {
    case SQLITE_NOTADB:
        why = "the file is not an SQLite database";
        break;
    case SQLITE_READONLY:
        why = "the database is read-only";
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        why = "the database stayed locked by another program for " +
              std::to_string(kBusyTimeoutMs / 1000) + " s";
        break;
    case SQLITE_FULL:
        why = "the disk is full";
        break;
    case SQLITE_CORRUPT:
        why = "the database is damaged";
        break;
    default:
        why = db ? sqlite3_errmsg(db) : "out of memory";
    }
    return url + ": " + doing + ": " + why;
}

bool SqliteCheckStore::readVersion(int& version)
{
    Statement table(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = "
                        "'schema_version'");
    if (!table.stmt || sqlite3_step(table.stmt) != SQLITE_ROW)
        return false;
    version = 0;
    if (sqlite3_column_int(table.stmt, 0) == 0)
        return true;
    Statement row(db, "SELECT max(version) FROM schema_version");
    if (!row.stmt || sqlite3_step(row.stmt) != SQLITE_ROW)
        return false;
    version = sqlite3_column_int(row.stmt, 0);
    return true;
}

bool SqliteCheckStore::migrate(std::string& error)
{
    int version = 0;
    // A plain read first, so that a read-only store that is up to date opens.
    if (!readVersion(version)) {
        error = failure("cannot open the database");
        return false;
    }
    if (version == kSchemaVersion)
        return true;
    if (!exec("BEGIN IMMEDIATE")) {
        error = failure("cannot update the schema");
        return false;
    }
    // Another bench may have migrated while this one waited for the lock.
    bool ok = readVersion(version);
    if (ok && version > kSchemaVersion) {
        exec("ROLLBACK");
        error = url + ": the database has schema version " + std::to_string(version) +
                ", newer than this program's " + std::to_string(kSchemaVersion);
        return false;
    }
    for (const SchemaMigration& step : schemaMigrations()) {
        if (ok && step.version > version)
            ok = exec(step.sqlite);
    }
    if (ok && version < kSchemaVersion) {
        const std::string mark =
            "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL);"
            "DELETE FROM schema_version;"
            "INSERT INTO schema_version (version) VALUES (" +
            std::to_string(kSchemaVersion) + ")";
        ok = exec(mark.c_str());
    }
    if (ok)
        ok = exec("COMMIT");
    if (!ok) {
        error = failure("cannot update the schema");
        exec("ROLLBACK");
    }
    return ok;
}

CheckStore::Put SqliteCheckStore::put(const CheckRecord& record, std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!exec("BEGIN IMMEDIATE")) {
        error = failure("cannot store the check");
        return Put::Failed;
    }
    Statement insert(db, insertSql(false));
    bool ok = insert.stmt != nullptr;
    const std::string texts[] = {record.checkId,
                                 record.wandId,
                                 record.operatorName,
                                 record.bench,
                                 "",
                                 storedTime(record.startedUs),
                                 storedTime(record.finishedUs),
                                 record.verdict,
                                 record.source,
                                 record.profileJson};
    for (int i = 0; ok && i < 10; ++i)
        ok = i == 4 ? sqlite3_bind_int(insert.stmt, 5, record.skywandIndex) == SQLITE_OK
                    : bindText(insert.stmt, i + 1, texts[i]);
    for (int i = 0; ok && i < kFigureColumns; ++i) {
        const double value = recordFigure(record, i);
        ok = (std::isfinite(value) ? sqlite3_bind_double(insert.stmt, 11 + i, value)
                                   : sqlite3_bind_null(insert.stmt, 11 + i)) == SQLITE_OK;
    }
    ok = ok && bindText(insert.stmt, 21, record.reportJson);
    ok = ok && sqlite3_step(insert.stmt) == SQLITE_DONE;
    const bool stored = ok && sqlite3_changes(db) == 1;
    ok = ok && exec("COMMIT");
    if (!ok) {
        error = failure("cannot store the check");
        exec("ROLLBACK");
        return Put::Failed;
    }
    return stored ? Put::Stored : Put::Duplicate;
}

bool SqliteCheckStore::find(const CheckQuery& query, std::vector<CheckRecord>& out,
                            std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::string sql = "SELECT ";
    for (int i = 0; i < kCheckColumns; ++i)
        sql += (i ? ", " : "") +
               std::string(i == kReportColumn && !query.withReport ? "''" : kCheckColumnNames[i]);
    sql += " FROM checks WHERE 1";
    std::vector<std::string> texts;
    const auto where = [&](const std::string& value, const char* clause) {
        if (value.empty())
            return;
        texts.push_back(value);
        sql += std::string(" AND ") + clause + " ?" + std::to_string(texts.size());
    };
    where(query.checkId, "check_id =");
    where(query.wandId, "wand_id =");
    where(query.verdict, "verdict =");
    where(query.bench, "bench =");
    where(query.operatorName, "operator =");
    where(query.sinceUs ? storedTime(query.sinceUs) : std::string(), "finished >=");
    where(query.untilUs ? storedTime(query.untilUs) : std::string(), "finished <");
    sql += " ORDER BY finished DESC, check_id DESC";
    if (query.limit)
        sql += " LIMIT " + std::to_string(std::min<size_t>(
                               query.limit, size_t(std::numeric_limits<int64_t>::max())));
    Statement select(db, sql);
    bool ok = select.stmt != nullptr;
    for (size_t i = 0; ok && i < texts.size(); ++i)
        ok = bindText(select.stmt, int(i + 1), texts[i]);
    std::vector<CheckRecord> found;
    int step = SQLITE_ERROR;
    while (ok && (step = sqlite3_step(select.stmt)) == SQLITE_ROW) {
        CheckRecord r;
        r.checkId = columnText(select.stmt, 0);
        r.wandId = columnText(select.stmt, 1);
        r.operatorName = columnText(select.stmt, 2);
        r.bench = columnText(select.stmt, 3);
        r.skywandIndex = sqlite3_column_int(select.stmt, 4);
        parseStoredTime(columnText(select.stmt, 5), r.startedUs);
        parseStoredTime(columnText(select.stmt, 6), r.finishedUs);
        r.verdict = columnText(select.stmt, 7);
        r.source = columnText(select.stmt, 8);
        r.profileJson = columnText(select.stmt, 9);
        for (int i = 0; i < kFigureColumns; ++i)
            *recordFigures(r, i) = sqlite3_column_type(select.stmt, 10 + i) == SQLITE_NULL
                                       ? NAN
                                       : sqlite3_column_double(select.stmt, 10 + i);
        r.reportJson = columnText(select.stmt, kReportColumn);
        found.push_back(std::move(r));
    }
    if (!ok || step != SQLITE_DONE) {
        error = failure("cannot read the checks");
        return false;
    }
    out = std::move(found);
    return true;
}
