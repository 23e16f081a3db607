#include "PgServer.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace brev::clitest {

PgServer::PgServer() {
    glob_t found{};
    if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
        // The newest version sorts last.
        bin_ = std::filesystem::path(found.gl_pathv[found.gl_pathc - 1]).parent_path().string();
    } else {
        error_ = "no PostgreSQL server installed (Debian package postgresql)";
    }
    ::globfree(&found);
    if (bin_.empty()) return;
    char pattern[] = "/tmp/brev-pg-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        bin_.clear();
        error_ = "cannot create a temporary folder";
        return;
    }
    dir_ = pattern;
    if (::geteuid() == 0) {
        asUser_ = "runuser -u nobody -- ";
        if (::chown(dir_.c_str(), 65534, 65534) != 0) error_ = "cannot hand the folder to nobody";
    }
}

PgServer::~PgServer() {
    if (!dir_.empty()) {
        Stop();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool PgServer::run(const std::string& command) {
    const std::string line = asUser_ + command + " >>" + dir_ + "/setup.log 2>&1";
    if (std::system(line.c_str()) == 0) return true;
    error_ = "failed: " + command + " (see " + dir_ + "/setup.log)";
    return false;
}

bool PgServer::Start() {
    if (!installed()) return false;
    if (!initialised_) {
        if (!run(bin_ + "/initdb -D " + dir_ + "/data -U brev --auth=trust -E UTF8 --no-sync")) return false;
        initialised_ = true;
    }
    return run(bin_ + "/pg_ctl -D " + dir_ + "/data -l " + dir_ + "/server.log -w -t 60 -o \"-k " + dir_ +
               " -c listen_addresses='' -c fsync=off\" start");
}

bool PgServer::Stop() {
    if (!initialised_) return true;
    return run(bin_ + "/pg_ctl -D " + dir_ + "/data -w -t 60 -m fast stop");
}

std::string PgServer::url() const { return "postgresql:///postgres?host=" + dir_ + "&user=brev"; }

}  // namespace brev::clitest
