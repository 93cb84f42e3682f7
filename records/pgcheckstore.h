#pragma once

// The check store in a PostgreSQL database that several benches share, over
// one libpq connection per store.

#include "checkstore.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct pg_conn;

class PgCheckStore : public CheckStore
{
public:
    // Connects to the server url names (a "postgresql://" or "postgres://"
    // URL handed to libpq as it stands), creates or migrates the schema;
    // null with a message without any password when it cannot.
    static std::unique_ptr<CheckStore> open(const std::string& url, std::string& error);
    ~PgCheckStore() override;

    Put put(const CheckRecord& record, std::string& error) override;
    bool find(const CheckQuery& query, std::vector<CheckRecord>& out, std::string& error) override;
    std::string name() const override { return shownUrl; }

    // Seconds a connection may take before it fails; a URL's own
    // connect_timeout wins.
    static constexpr int kConnectTimeoutS = 5;

private:
    PgCheckStore(pg_conn* conn, const std::string& url);
    bool migrate(std::string& error);
    bool connected();
    std::string failure(const char* doing, const std::string& why) const;

    pg_conn* conn;
    std::string shownUrl;
    std::vector<std::string> secrets; // never in a message
    std::mutex mutex;                 // one statement at a time on conn
};
