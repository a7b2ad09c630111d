// SPDX-License-Identifier: GPL-3.0-or-later
// The HTTP client of the program on libcurl: http and https only (first
// request and every redirect), a size cap and time-outs per request,
// certificates verified, no cookies, no authentication, the proxy of the
// options. Synchronous; windows run it on a worker and stop it through
// KeepGoing. libcurl is loaded at the first request, not at program start:
// most runs never fetch anything.
#pragma once

#include <mutex>
#include <string>

#include "net/http_client.h"

namespace sondrel::net {

// The options window's proxy. An empty host means no proxy at all (the
// environment's proxy variables are not used either).
struct ProxySettings {
    std::string host;
    long port = 0;
    std::string user;
    std::string password;
};

// The shared library the client loads.
inline constexpr const char* kLibcurlName = "libcurl.so.4";

class CurlHttpClient : public HttpClient {
public:
    // `library` names the libcurl to load (tests name one that fails to
    // load); a library that cannot be loaded fails each request with the
    // reason.
    explicit CurlHttpClient(ProxySettings proxy = {}, std::string library = kLibcurlName);
    ~CurlHttpClient() override;

    // The proxy may change while a worker thread runs a transfer: each
    // transfer takes its own copy when it starts.
    void SetProxy(ProxySettings proxy);
    ProxySettings Proxy() const;

    HttpResponse Fetch(const HttpRequest& request, const KeepGoing& keepGoing = {}) override;

private:
    mutable std::mutex mutex_;
    ProxySettings proxy_;
    std::string library_;
};

}  // namespace sondrel::net
