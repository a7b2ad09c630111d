// SPDX-License-Identifier: GPL-3.0-or-later
// A local HTTP server on 127.0.0.1 for the network tests
// (tests/support/local_http_server.py), started per test and stopped with it.
#pragma once

#include <sys/types.h>
#include <string>

namespace sondrel::test {

class LocalServer {
public:
    // `dataDir`: where recorded answers are served from.
    explicit LocalServer(const std::string& dataDir = ".");
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    bool running() const { return port_ > 0; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by `path`.
    std::string url(const std::string& path = "") const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace sondrel::test
