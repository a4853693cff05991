#include "archive/testsupport/TempPostgres.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kyvo::testing {
namespace {

std::string FindBin() {
    if (const char* b = std::getenv("KYVO_PG_BIN"); b && *b) return b;
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        if (std::filesystem::exists(e.path() / "bin" / "initdb") &&
            std::filesystem::exists(e.path() / "bin" / "pg_ctl")) {
            found.push_back(e.path() / "bin");
        }
    }
    if (found.empty()) return {};
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::atoi(a.parent_path().filename().c_str()) <
               std::atoi(b.parent_path().filename().c_str());
    });
    return found.back().string();
}

std::unique_ptr<TTempPostgres>& SharedSlot() {
    static std::unique_ptr<TTempPostgres> slot;
    return slot;
}
int g_sharedOwner = 0;

}  // namespace

std::string TTempPostgres::Unavailable() {
    if (FindBin().empty()) {
        return "no PostgreSQL server binaries (initdb, pg_ctl) under /usr/lib/postgresql; install "
               "the "
               "Debian package postgresql";
    }
    if (::geteuid() == 0 && !::getpwnam("postgres")) {
        return "running as root, but there is no unprivileged `postgres` user to run the server as";
    }
    return {};
}

TTempPostgres::TTempPostgres(bool durable) : durable_(durable), ownerPid_(::getpid()) {
    if (const std::string why = Unavailable(); !why.empty()) throw std::runtime_error(why);
    bin_ = FindBin();
    std::string tmpl = "/tmp/kyvo-pg-XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a temporary folder");
    dir_ = tmpl;
    if (::geteuid() == 0) {
        const passwd* pw = ::getpwnam("postgres");
        if (::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            throw std::runtime_error("cannot hand " + dir_ + " to the postgres user");
        }
    }
    Run("initdb", "'" + bin_ + "/initdb' -D '" + dir_ +
                      "/data' -U postgres -A trust -E UTF8 --locale=C --no-sync");
    Start();
}

TTempPostgres::~TTempPostgres() {
    if (::getpid() != ownerPid_) return;  // a forked child: the server is its parent's
    try {
        Stop();
    } catch (...) {
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void TTempPostgres::Run(const std::string& what, const std::string& command) {
    std::string cmd = command;
    if (::geteuid() == 0) cmd = "runuser -u postgres -- " + cmd;
    cmd += " >>'" + dir_ + "/commands.log' 2>&1";
    if (std::system(cmd.c_str()) != 0) {
        std::ifstream log(dir_ + "/commands.log");
        std::stringstream text;
        text << log.rdbuf();
        std::ifstream server(dir_ + "/server.log");
        text << server.rdbuf();
        throw std::runtime_error(what + " of the throw-away PostgreSQL server failed:\n" +
                                 text.str());
    }
}

void TTempPostgres::Start() {
    if (running_) return;
    std::string opts = "-c listen_addresses='' -k " + dir_ + " -c max_connections=50";
    if (!durable_) opts += " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
    Run("starting", "'" + bin_ + "/pg_ctl' -D '" + dir_ + "/data' -l '" + dir_ +
                        "/server.log' -w -t 60 -o \"" + opts + "\" start");
    running_ = true;
}

void TTempPostgres::Stop() {
    if (!running_) return;
    Run("stopping", "'" + bin_ + "/pg_ctl' -D '" + dir_ + "/data' -m fast -w -t 60 stop");
    running_ = false;
}

std::string TTempPostgres::Uri(const std::string& database) const {
    return "postgresql:///" + database + "?host=" + dir_ + "&user=postgres";
}

void TTempPostgres::Exec(const std::string& database, const std::string& sql) {
    PGconn* c = PQconnectdb(Uri(database).c_str());
    std::unique_ptr<PGconn, void (*)(PGconn*)> guard(c, PQfinish);
    if (PQstatus(c) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(c));
    PQsetNoticeProcessor(
        c, [](void*, const char*) {}, nullptr);
    PGresult* r = PQexec(c, sql.c_str());
    const auto st = PQresultStatus(r);
    const std::string err = PQerrorMessage(c);
    PQclear(r);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) throw std::runtime_error(sql + ": " + err);
}

std::string TTempPostgres::CreateDatabase(const std::string& name) {
    Exec("postgres", "DROP DATABASE IF EXISTS \"" + name + "\" WITH (FORCE)");
    Exec("postgres", "CREATE DATABASE \"" + name + "\"");
    return Uri(name);
}

TTempPostgres& TTempPostgres::Shared() {
    auto& slot = SharedSlot();
    if (!slot) {
        slot = std::make_unique<TTempPostgres>(false);
        g_sharedOwner = ::getpid();
        std::atexit(StopShared);
    }
    return *slot;
}

void TTempPostgres::StopShared() {
    if (::getpid() != g_sharedOwner) return;
    SharedSlot().reset();
}

}  // namespace kyvo::testing
