// A throw-away PostgreSQL server for tests and benchmarks: Debian's server
// binaries, initdb into a temporary folder, a Unix socket in that folder and
// no TCP listener. As root (the tests run as root) the server runs as the
// package's unprivileged `postgres` user. Each instance is its own server.
#pragma once

#include <string>

namespace kyvo::testing {

class TTempPostgres {
  public:
    // Why no server can be started here (binaries or the `postgres` user
    // missing); empty when one can. Tests skip with this text.
    static std::string Unavailable();

    // Starts a new server; throws std::runtime_error with the server's log
    // when it cannot. durable=false turns fsync off (tests); benchmarks pass
    // true to measure what a real server does.
    explicit TTempPostgres(bool durable = false);
    ~TTempPostgres();
    TTempPostgres(const TTempPostgres&) = delete;
    TTempPostgres& operator=(const TTempPostgres&) = delete;

    // Stopping and starting again keeps the data (a server that went away).
    void Stop();
    void Start();
    bool Running() const { return running_; }

    std::string SocketDir() const { return dir_; }
    // "postgresql:///NAME?host=DIR&user=postgres".
    std::string Uri(const std::string& database) const;
    // A new empty database (dropped first when it exists); returns its URI.
    std::string CreateDatabase(const std::string& name);
    // Runs one statement in a database; throws std::runtime_error.
    void Exec(const std::string& database, const std::string& sql);

    // One server per process, started on first use and stopped when the
    // process that started it ends (forked children leave it alone).
    static TTempPostgres& Shared();
    static void StopShared();

  private:
    void Run(const std::string& what, const std::string& command);
    std::string bin_;
    std::string dir_;
    bool durable_ = false;
    bool running_ = false;
    int ownerPid_ = 0;
};

}  // namespace kyvo::testing
