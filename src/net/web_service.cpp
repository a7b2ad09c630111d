// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/web_service.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "net/cddb.h"
#include "util/unicode.h"

namespace sondrel::net::web {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The host of an address without its port or brackets.
std::string_view BareHost(std::string_view hostAndPort) {
    if (!hostAndPort.empty() && hostAndPort.front() == '[') {
        const auto close = hostAndPort.find(']');
        return close == std::string_view::npos ? std::string_view()
                                               : hostAndPort.substr(1, close - 1);
    }
    return hostAndPort.substr(0, hostAndPort.find(':'));
}

const nlohmann::json kNull;

// What a character from a service becomes.
enum class CharClass { Keep, LineEnd, Tab, Drop };

CharClass ClassOf(char32_t cp) {
    if (cp == '\n' || cp == 0x85 || cp == 0x2028 || cp == 0x2029)
        return CharClass::LineEnd;
    if (cp == '\t')
        return CharClass::Tab;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F))
        return CharClass::Drop;
    // Embeddings and overrides (LRE RLE PDF LRO RLO) and isolates (LRI RLI
    // FSI PDI): they turn the text around them, in a tag and on a terminal.
    if ((cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069))
        return CharClass::Drop;
    return CharClass::Keep;
}

}  // namespace

bool IsLoopbackUrl(std::string_view url) {
    if (!IsHttpUrl(url))
        return false;
    const std::string hostAndPort = HostOfUrl(url);
    const std::string_view host = BareHost(hostAndPort);
    if (EqualsNoCase(host, "localhost") || host == "::1")
        return true;
    // 127.0.0.0/8: four numbers, the first 127.
    if (!host.starts_with("127."))
        return false;
    int dots = 0;
    for (const char c : host) {
        if (c == '.')
            ++dots;
        else if (std::isdigit(static_cast<unsigned char>(c)) == 0)
            return false;
    }
    return dots == 3 && host.back() != '.';
}

std::string RefusedUrl(std::string_view url, bool allowLoopbackHttp) {
    if (IsHttpsUrl(url) && !HostOfUrl(url).empty())
        return {};
    if (allowLoopbackHttp && IsLoopbackUrl(url))
        return {};
    return "only https addresses are used: " + std::string(url.substr(0, 200));
}

std::string RefusedRedirect(const HttpResponse& response, bool allowLoopbackHttp) {
    if (response.finalUrl.empty() || RefusedUrl(response.finalUrl, allowLoopbackHttp).empty())
        return {};
    return "the server sent the transfer to " + HostOfUrl(response.finalUrl) +
           ", which is not an https address";
}

std::function<std::string(std::string_view url)> RedirectRule(bool allowLoopbackHttp) {
    return [allowLoopbackHttp](std::string_view url) {
        if (RefusedUrl(url, allowLoopbackHttp).empty())
            return std::string();
        return "the server sent the transfer to " + HostOfUrl(url) +
               ", which is not an https address";
    };
}

std::string BaseUrl(std::string_view host, std::string_view fallback) {
    std::string base(host.empty() ? fallback : host);
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

std::string ServiceUserAgent(std::string_view contact) {
    std::string who(kProjectAddress);
    // Only a plain address goes into the header: no spaces, no line ends,
    // nothing that could close the parentheses.
    if (contact.size() <= 100 && cddb::HelloFromEmail(contact) &&
        contact.find_first_of("()") == std::string_view::npos)
        who = contact;
    return LookupUserAgent() + " ( " + who + " )";
}

JsonOutcome FetchJson(HttpClient& client, const JsonRequest& request, const KeepGoing& keepGoing) {
    JsonOutcome outcome;
    const std::string prefix = request.service + ": ";
    if (std::string why = RefusedUrl(request.url, request.allowLoopbackHttp); !why.empty()) {
        outcome.error = prefix + why;
        return outcome;
    }
    HttpRequest http;
    http.url = request.url;
    http.userAgent = request.userAgent;
    http.maxBytes = kMaxJsonBytes;
    http.httpsOnly = !(request.allowLoopbackHttp && IsLoopbackUrl(request.url));
    http.refuseRedirect = RedirectRule(request.allowLoopbackHttp);
    HttpResponse response;
    for (int attempt = 0;; ++attempt) {
        if (request.limiter != nullptr && !request.limiter->Wait(keepGoing)) {
            outcome.error = prefix + "stopped";
            return outcome;
        }
        response = client.Fetch(http, keepGoing);
        if (!response.ok || response.status != 503)
            break;
        const long wait = response.retryAfterSeconds >= 0 ? response.retryAfterSeconds : 1;
        if (request.limiter == nullptr || attempt >= request.retries ||
            wait > kMaxRetryAfterSeconds) {
            outcome.error = prefix + HostOfUrl(request.url) +
                            ": the service is busy (HTTP status 503) and asks to wait " +
                            std::to_string(wait) + " s; try again later";
            return outcome;
        }
        request.limiter->Defer(std::chrono::seconds(wait));
    }
    if (!response.ok && response.failure == HttpFailure::Refused) {
        outcome.error = prefix + response.error;
        return outcome;
    }
    if (std::string why = RefusedRedirect(response, request.allowLoopbackHttp); !why.empty()) {
        outcome.error = prefix + why;
        return outcome;
    }
    const bool accepted = response.status == 200 || response.status == request.acceptedStatus;
    if (!response.ok || !accepted) {
        outcome.error = DescribeFailure(request.service, request.url, response);
        return outcome;
    }
    outcome.status = response.status;
    outcome.json = nlohmann::json::parse(response.body, nullptr, false);
    if (outcome.json.is_discarded()) {
        outcome.json = nullptr;
        if (response.status == 200) {
            outcome.error = prefix + HostOfUrl(request.url) + ": the answer is not JSON";
            return outcome;
        }
    }
    outcome.ok = true;
    return outcome;
}

std::string CleanText(const nlohmann::json& value, std::size_t maxBytes, bool multiline) {
    if (!value.is_string())
        return {};
    return CleanString(value.get_ref<const std::string&>(), maxBytes, multiline);
}

std::string CleanString(std::string_view text, std::size_t maxBytes, bool multiline) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        const char32_t cp = NextCodePoint(text, i);
        if (cp == '\r') {
            // CR LF and a lone CR both end one line.
            if (i < text.size() && text[i] == '\n')
                continue;
            out += multiline ? '\n' : ' ';
            continue;
        }
        switch (ClassOf(cp)) {
            case CharClass::LineEnd:
                out += multiline ? '\n' : ' ';
                break;
            case CharClass::Tab:
                out += multiline ? '\t' : ' ';
                break;
            case CharClass::Drop:
                break;
            case CharClass::Keep:
                if (cp == kReplacementChar && i - at == 1)
                    AppendUtf8(out, cp);  // a byte that is not UTF-8
                else
                    out.append(text.substr(at, i - at));
                break;
        }
    }
    if (out.size() > maxBytes) {
        std::size_t cut = maxBytes;
        // Back to the first byte of a character (the text is UTF-8 by now).
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.resize(cut);
    }
    const auto first = out.find_first_not_of(" \t\n");
    if (first == std::string::npos)
        return {};
    out.erase(0, first);
    out.erase(out.find_last_not_of(" \t\n") + 1);
    return out;
}

std::string StripControls(std::string_view text, std::string_view lineEnd) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        const char32_t cp = NextCodePoint(text, i);
        if (cp == '\r') {
            if (i < text.size() && text[i] == '\n')
                ++i;
            out += lineEnd;
            continue;
        }
        switch (ClassOf(cp)) {
            case CharClass::LineEnd:
                out += lineEnd;
                break;
            case CharClass::Drop:
                break;
            case CharClass::Tab:
            case CharClass::Keep:
                out.append(text.substr(at, i - at));
                break;
        }
    }
    return out;
}

std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        const char32_t cp = NextCodePoint(text, i);
        if (ClassOf(cp) != CharClass::Keep || (cp == kReplacementChar && i - at == 1))
            AppendUtf8(out, kReplacementChar);
        else
            out.append(text.substr(at, i - at));
    }
    return out;
}

const nlohmann::json& Member(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object())
        return kNull;
    const auto it = object.find(std::string(key));
    return it == object.end() ? kNull : *it;
}

std::optional<long long> WholeNumber(const nlohmann::json& value, long long max) {
    if (value.is_number_unsigned()) {
        const auto n = value.get<unsigned long long>();
        if (n <= static_cast<unsigned long long>(max))
            return static_cast<long long>(n);
    } else if (value.is_number_integer()) {
        const auto n = value.get<long long>();
        if (n >= 0 && n <= max)
            return n;
    }
    return std::nullopt;
}

std::string YearOf(std::string_view date) {
    if (date.size() < 4 || (date.size() > 4 && date[4] != '-'))
        return {};
    for (std::size_t i = 0; i < 4; ++i) {
        if (std::isdigit(static_cast<unsigned char>(date[i])) == 0)
            return {};
    }
    return std::string(date.substr(0, 4));
}

}  // namespace sondrel::net::web
