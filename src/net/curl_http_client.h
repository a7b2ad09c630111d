// The HTTP client of the program on libcurl: http and https only (first
// request and every redirect), a size cap and time-outs per request,
// certificates verified, no cookies, no authentication, the proxy of the
// options. Synchronous; windows run it on a worker and stop it through
// KeepGoing.
#pragma once

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

class CurlHttpClient : public HttpClient {
public:
    explicit CurlHttpClient(ProxySettings proxy = {});
    ~CurlHttpClient() override;

    void SetProxy(ProxySettings proxy) { proxy_ = std::move(proxy); }
    const ProxySettings& Proxy() const { return proxy_; }

    HttpResponse Fetch(const HttpRequest& request, const KeepGoing& keepGoing = {}) override;

private:
    ProxySettings proxy_;
};

}  // namespace sondrel::net
