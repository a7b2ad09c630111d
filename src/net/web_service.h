// SPDX-License-Identifier: GPL-3.0-or-later
// What the open JSON services (MusicBrainz, the Cover Art Archive, LRCLIB)
// share: the https rule, the user agent they ask for, answers fetched and
// parsed with their caps, and values checked before they reach a tag.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "net/http_client.h"
#include "net/rate_limiter.h"

namespace sondrel::net::web {

inline constexpr std::size_t kMaxJsonBytes = 4u << 20;
inline constexpr std::size_t kMaxPictureBytes = 32u << 20;
// A picture may take longer than an answer (HttpRequest's default).
inline constexpr long kMaxPictureSeconds = 300;
// Named in the user agent when the user gave no e-mail address.
inline constexpr std::string_view kProjectAddress = "https://sondrel.invalid";
// A Retry-After longer than this is not waited for: the look-up fails and
// says how long the service asked for.
inline constexpr long kMaxRetryAfterSeconds = 60;

// Where a service is reached. `host` is an address with a scheme (path
// allowed); empty means the service's own. Plain http is refused unless
// `allowLoopbackHttp` is set and the host is this machine (a local
// mirror, or the tests' server).
struct Endpoint {
    std::string host;
    bool allowLoopbackHttp = false;
};

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackUrl(std::string_view url);
// Why `url` may not be asked (not https, and not an allowed loopback
// address); empty when it may.
std::string RefusedUrl(std::string_view url, bool allowLoopbackHttp);
// Why a completed transfer may not be used: it ended at an address
// RefusedUrl refuses (a loopback server redirecting to plain http
// elsewhere). Empty when it may.
std::string RefusedRedirect(const HttpResponse& response, bool allowLoopbackHttp);
// For HttpRequest::refuseRedirect: RefusedRedirect's rule, asked before a
// redirect goes out rather than after it was followed.
std::function<std::string(std::string_view url)> RedirectRule(bool allowLoopbackHttp);
// `host` (or `fallback` when empty) without trailing slashes.
std::string BaseUrl(std::string_view host, std::string_view fallback);

// "Sondrel/<version> ( <contact> )": the contact is the user's e-mail
// address when it is one plain "user@host", else the project's address.
std::string ServiceUserAgent(std::string_view contact);

struct JsonOutcome {
    bool ok = false;
    long status = 0;  // the HTTP status when the transfer completed
    std::string error;
    nlohmann::json json;
};

// Fetches `url` as JSON (capped at kMaxJsonBytes) and parses it. When a
// limiter is given every request waits for its turn, and a 503 is asked
// again after the wait its Retry-After names (1 s without one), at most
// `retries` times, and only up to kMaxRetryAfterSeconds. `acceptedStatus`
// (the services' 404 for "nothing found") is returned like 200, with ok
// set and its body parsed when it is JSON. An answer reached through a
// redirect RefusedUrl refuses is not used. `service` starts every message.
struct JsonRequest {
    std::string url;
    std::string service;
    std::string userAgent;
    bool allowLoopbackHttp = false;
    RateLimiter* limiter = nullptr;
    int retries = 2;
    long acceptedStatus = 200;  // a second status taken as an answer
};
JsonOutcome FetchJson(HttpClient& client, const JsonRequest& request,
                      const KeepGoing& keepGoing = {});

// A text a service supplied, fit for a tag: a JSON string (anything else
// is empty), line ends and tabs kept only when `multiline` (else spaces),
// U+0085, U+2028 and U+2029 taken as line ends too, other control
// characters (C0, DEL, C1) and the direction embeddings, overrides and
// isolates (U+202A-U+202E, U+2066-U+2069) dropped, bytes that are not
// UTF-8 as U+FFFD, cut at a character boundary to `maxBytes`, spaces
// trimmed at both ends.
std::string CleanText(const nlohmann::json& value, std::size_t maxBytes, bool multiline = false);
// The same for a text that is not JSON (a FreeDB line, an LRC line).
std::string CleanString(std::string_view text, std::size_t maxBytes, bool multiline = false);
// A multi-line text from a service with its line ends as `lineEnd` (CR
// LF, CR, LF, U+0085, U+2028 and U+2029 alike), tabs kept, and the
// characters CleanText drops dropped; nothing trimmed or cut.
std::string StripControls(std::string_view text, std::string_view lineEnd);
// A text from a server or a file name, fit for a terminal line: every
// character CleanText drops, and line ends, tabs and U+0085/U+2028/U+2029,
// shown as U+FFFD, so nothing in it can move the cursor, recolour the
// terminal or turn the text's direction.
std::string TerminalText(std::string_view text);
// The member `key` of an object, or null.
const nlohmann::json& Member(const nlohmann::json& object, std::string_view key);
// A whole number from 0 to `max`, or nullopt (strings are not numbers).
std::optional<long long> WholeNumber(const nlohmann::json& value, long long max);
// The year of a date "YYYY", "YYYY-MM" or "YYYY-MM-DD"; empty otherwise.
std::string YearOf(std::string_view date);

}  // namespace sondrel::net::web
