// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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
    // The whole transfer, redirects included: a server that trickles a few
    // bytes a second passes the read time-out but not this.
    long totalTimeoutSeconds = 180;
    int maxRedirects = 5;
    // Bytes received so far and the announced total (0 when unknown); called
    // on the thread that runs the transfer.
    std::function<void(std::uint64_t received, std::uint64_t total)> onProgress;
    // Only https, on the first request and on every redirect.
    bool httpsOnly = false;
    // Asked before a redirect is followed, with the address it leads to:
    // the reason it may not be, or empty. Nothing goes to a refused address.
    std::function<std::string(std::string_view url)> refuseRedirect;
};

// Why a transfer did not complete, for callers that act on the kind.
enum class HttpFailure {
    None,
    Scheme,    // not http or https, first or after a redirect
    Refused,   // a redirect the request's refuseRedirect refused (its reason as the error)
    TooLarge,  // past the request's maxBytes
    TimedOut,  // no connection, no data for readTimeoutSeconds, or past a deadline
    Stopped,   // KeepGoing returned false
    TooManyRedirects,
    Network,  // anything else (name not found, refused, TLS)
};

struct HttpResponse {
    bool ok = false;  // transfer completed (any HTTP status)
    long status = 0;
    std::string body;
    std::string contentType;
    std::string finalUrl;  // after redirects
    std::string error;     // the reason when !ok, in words
    HttpFailure failure = HttpFailure::None;
    // A Retry-After header in seconds (the date form is not used), else -1.
    long retryAfterSeconds = -1;
};

// Returns false to abort a running transfer (Stop, a closed window).
using KeepGoing = std::function<bool()>;

// The one way the program fetches; tests give a fake or a local server.
class HttpClient {
public:
    virtual ~HttpClient();
    virtual HttpResponse Fetch(const HttpRequest& request, const KeepGoing& keepGoing = {}) = 0;
};

// A look-up's overall deadline over another client: each request gets at
// most the time left (its own limit otherwise), and once the time is up
// every request fails at once without going out. Meant for one look-up,
// on one thread.
class DeadlineHttpClient : public HttpClient {
public:
    DeadlineHttpClient(HttpClient& inner, std::chrono::seconds limit);
    HttpResponse Fetch(const HttpRequest& request, const KeepGoing& keepGoing = {}) override;
    bool Expired() const;
    // "the look-up took longer than its limit of N s"
    std::string ExpiredText() const;

private:
    HttpClient& inner_;
    std::chrono::seconds limit_;
    std::chrono::steady_clock::time_point end_;
    bool spent_ = false;  // a request cut to the time left ran out
};

// The user agent of the look-ups.
std::string LookupUserAgent();
// Percent-encodes every byte but letters, digits and "-._~".
std::string UrlEscape(std::string_view text);

// True for an "http://" or "https://" address (scheme in either case).
bool IsHttpUrl(std::string_view url);
// True for an "https://" address (scheme in either case).
bool IsHttpsUrl(std::string_view url);
// The host (with its port when given) of an address, for messages.
std::string HostOfUrl(std::string_view url);
// "what failed: host: reason": the text a look-up shows for a failed
// transfer or an HTTP status other than 200.
std::string DescribeFailure(std::string_view what, std::string_view url,
                            const HttpResponse& response);

}  // namespace sondrel::net
