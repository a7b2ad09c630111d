// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/local_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace sondrel::test {

namespace {

std::string ServerScript() {
    return std::string(SONDREL_SOURCE_DIR) + "/tests/support/local_http_server.py";
}

}  // namespace

LocalServer::LocalServer(const std::string& dataDir) {
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    // Everything the child needs is made before the fork: it only execs.
    const std::string script = ServerScript();
    const char* python = ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execlp(python, python, script.c_str(), "--data", dataDir.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid_ < 0) {
        ::close(fds[0]);
        return;
    }
    // The first line is the port it listens on.
    std::string line;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(fds[0]);
    port_ = std::atoi(line.c_str());
}

LocalServer::~LocalServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::string LocalServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace sondrel::test
