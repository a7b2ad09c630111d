#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace sondrel::net {

// One GET or POST. Every look-up names its own caps, so a hostile or broken
// server can neither fill memory nor hold the user's work forever.
struct HttpRequest {
    std::string url;  // http or https only
    std::string method = "GET";
    std::string body;  // for POST
    std::string userAgent;
    std::string referer;
    std::size_t maxBytes = 8u << 20;
    long connectTimeoutSeconds = 10;
    long readTimeoutSeconds = 60;
    int maxRedirects = 5;
};

struct HttpResponse {
    bool ok = false;  // transfer completed (any HTTP status)
    long status = 0;
    std::string body;
    std::string contentType;
    std::string finalUrl;  // after redirects
    std::string error;     // the reason when !ok, in words
};

// Returns false to abort a running transfer (Stop, a closed window).
using KeepGoing = std::function<bool()>;

// The one way the program fetches; tests give a fake or a local server.
class HttpClient {
public:
    virtual ~HttpClient();
    virtual HttpResponse Fetch(const HttpRequest& request, const KeepGoing& keepGoing = {}) = 0;
};

}  // namespace sondrel::net
