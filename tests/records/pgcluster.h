#pragma once

// A throwaway PostgreSQL cluster on 127.0.0.1 for one test program, its role
// "skywand" with a password, in a folder of its own that goes with it.
// initdb refuses root, so as root the cluster runs as nobody. Needs libpq.

#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class PgCluster
{
public:
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
    static constexpr const char* kPassword = "s3cret-Pw";

    PgCluster()
    {
        std::string pattern =
            (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/pgXXXXXX");
        if (mkdtemp(pattern.data()))
            folder = pattern;
    }
    ~PgCluster()
    {
        stop();
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
    }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // Creates and starts the cluster on a free port; false with what the
    // commands said.
    bool start(std::string& error)
    {
        if (!std::filesystem::exists(std::string(kBin) + "/initdb")) {
            error = std::string("no PostgreSQL server in ") + kBin +
                    " (scripts/bootstrap test installs it)";
            return false;
        }
        if (folder.empty()) {
            error = "no temporary folder";
            return false;
        }
        std::ofstream(folder + "/pw") << kPassword;
        if (geteuid() == 0 && std::system(("chown -R nobody: " + folder).c_str()) != 0) {
            error = "cannot give " + folder + " to nobody";
            return false;
        }
        port = freePort();
        data = folder + "/data";
        started =
            port > 0 &&
            run(as() + kBin + "/initdb -D " + data + " -U skywand --pwfile=" + folder +
                "/pw -A scram-sha-256 --auth-local=trust -E UTF8 --locale=C --no-sync") == 0 &&
            run(as() + kBin + "/pg_ctl -D " + data + " -l " + folder +
                "/server.log -w -t 60 -o '-c listen_addresses=127.0.0.1 -p " +
                std::to_string(port) + " -k " + folder +
                " -c fsync=off -c synchronous_commit=off -c full_page_writes=off' start") == 0;
        if (!started)
            error = log();
        return started;
    }

    void stop()
    {
        if (started)
            run(as() + kBin + "/pg_ctl -D " + data + " -m immediate -w stop");
        started = false;
    }

    static std::string url(const std::string& db, const std::string& password = kPassword)
    {
        return "postgresql://skywand:" + password + "@127.0.0.1:" + std::to_string(port) + "/" + db;
    }

    // A new empty database for one test.
    static std::string newDatabase()
    {
        static int count = 0;
        const std::string name = "t" + std::to_string(++count);
        return exec("postgres", "CREATE DATABASE " + name) ? name : std::string();
    }

    static bool exec(const std::string& db, const std::string& sql)
    {
        PGconn* conn = PQconnectdb(url(db).c_str());
        PGresult* result = PQexec(conn, sql.c_str());
        const bool ok =
            PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
        PQclear(result);
        PQfinish(conn);
        return ok;
    }

    static int freePort()
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
        close(fd);
        return ok ? ntohs(address.sin_port) : -1;
    }

    // The running cluster's port; one cluster per program.
    static inline int port = 0;

private:
    static std::string as() { return geteuid() == 0 ? "runuser -u nobody -- " : ""; }
    int run(const std::string& command)
    {
        return std::system((command + " >>" + folder + "/commands.log 2>&1").c_str());
    }
    std::string log()
    {
        std::ifstream in(folder + "/commands.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string folder;
    std::string data;
    bool started = false;
};
