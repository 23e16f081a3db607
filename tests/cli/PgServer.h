// A PostgreSQL server of its own for a test: a fresh cluster in a temporary folder, reached on a
// Unix socket there. Run as an unprivileged user when the test runs as root (initdb refuses root).
#pragma once

#include <string>

namespace brev::clitest {

class PgServer {
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // False (with the reason in error()) when no server is installed or the cluster cannot be made.
    bool installed() const { return !bin_.empty(); }
    bool Start();
    bool Stop();
    const std::string& error() const { return error_; }
    // postgresql:///postgres?host=FOLDER&user=brev
    std::string url() const;

private:
    bool run(const std::string& command);

    std::string bin_;  // the server's bin folder
    std::string dir_;
    std::string asUser_;  // "runuser -u nobody -- " as root
    bool initialised_ = false;
    std::string error_;
};

}  // namespace brev::clitest
