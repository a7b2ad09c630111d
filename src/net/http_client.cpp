// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/http_client.h"

#include <algorithm>
#include <cctype>

#include "util/version.h"

namespace sondrel::net {

HttpClient::~HttpClient() = default;

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    }
    return true;
}

}  // namespace

DeadlineHttpClient::DeadlineHttpClient(HttpClient& inner, std::chrono::seconds limit)
    : inner_(inner), limit_(limit), end_(std::chrono::steady_clock::now() + limit) {}

bool DeadlineHttpClient::Expired() const {
    return spent_ || std::chrono::steady_clock::now() >= end_;
}

std::string DeadlineHttpClient::ExpiredText() const {
    return "the look-up took longer than its limit of " + std::to_string(limit_.count()) + " s";
}

HttpResponse DeadlineHttpClient::Fetch(const HttpRequest& request, const KeepGoing& keepGoing) {
    const auto left =
        std::chrono::ceil<std::chrono::seconds>(end_ - std::chrono::steady_clock::now());
    HttpResponse response;
    if (Expired() || left.count() <= 0) {
        response.failure = HttpFailure::TimedOut;
        response.error = ExpiredText();
        return response;
    }
    HttpRequest bounded = request;
    bounded.totalTimeoutSeconds = std::min<long>(request.totalTimeoutSeconds, left.count());
    const bool clipped = bounded.totalTimeoutSeconds < request.totalTimeoutSeconds;
    response = inner_.Fetch(bounded, keepGoing);
    // The look-up's own limit, not the server's slowness, ended it. A
    // request cut to the time left may end a moment before the limit by
    // the client's clock.
    constexpr auto kClockSlack = std::chrono::milliseconds(250);
    const bool atLimit =
        Expired() || (clipped && std::chrono::steady_clock::now() >= end_ - kClockSlack);
    if (!response.ok && response.failure == HttpFailure::TimedOut && atLimit) {
        spent_ = true;
        response.error = ExpiredText();
    }
    return response;
}

std::string LookupUserAgent() {
    return "Sondrel/" + std::string(Version());
}

std::string UrlEscape(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool IsHttpUrl(std::string_view url) {
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

bool IsHttpsUrl(std::string_view url) {
    return StartsWithNoCase(url, "https://");
}

std::string HostOfUrl(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme != std::string_view::npos)
        url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of("/?#"));
    if (const auto at = url.rfind('@'); at != std::string_view::npos)
        url.remove_prefix(at + 1);
    return std::string(url);
}

std::string DescribeFailure(std::string_view what, std::string_view url,
                            const HttpResponse& response) {
    std::string text(what);
    text += ": ";
    text += HostOfUrl(url);
    text += ": ";
    if (!response.ok)
        text += response.error.empty() ? std::string("the transfer failed") : response.error;
    else
        text += "the server answered with HTTP status " + std::to_string(response.status);
    return text;
}

}  // namespace sondrel::net
