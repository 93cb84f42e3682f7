#pragma once

// The check store in one SQLite file: WAL mode and a busy timeout, so that
// benches saving into one shared file at once all land.

#include "checkstore.h"

#include <memory>
#include <mutex>
#include <string>

struct sqlite3;

class SqliteCheckStore : public CheckStore
{
public:
    // Opens or creates the file at path (and its folder), brings its schema
    // up to date; null with a message naming url when it cannot.
    static std::unique_ptr<CheckStore> open(const std::string& url, const std::string& path,
                                            std::string& error);
    ~SqliteCheckStore() override;

    Put put(const CheckRecord& record, std::string& error) override;
    bool find(const CheckQuery& query, std::vector<CheckRecord>& out, std::string& error) override;
    std::string name() const override { return url; }

    // How long a write waits for another writer before it fails.
    static constexpr int kBusyTimeoutMs = 5000;

private:
    SqliteCheckStore(sqlite3* db, std::string url);
    bool migrate(std::string& error);
    bool exec(const char* sql);
    bool readVersion(int& version);
    std::string failure(const char* doing) const;

    sqlite3* db;
    std::string url;
    std::mutex mutex; // one statement sequence at a time on db
};
