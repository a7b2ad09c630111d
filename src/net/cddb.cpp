// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/cddb.h"

#include <cctype>
#include <cstdio>

#include "net/web_service.h"
#include "util/codepage.h"
#include "util/unicode.h"
#include "util/version.h"

namespace sondrel::net::cddb {

namespace {

constexpr std::int64_t kLeadInSeconds = 2;
constexpr std::int64_t kFramesPerSecond = 75;

int DigitSum(std::int64_t n) {
    int sum = 0;
    for (; n > 0; n /= 10)
        sum += static_cast<int>(n % 10);
    return sum;
}

std::string HelloParams(const Hello& hello) {
    return "&hello=" + UrlEscape(hello.user) + "+" + UrlEscape(hello.host) + "+Sondrel+" +
           UrlEscape(Version()) + "&proto=" + std::string(kProtocolLevel);
}

bool HasScheme(std::string_view server) {
    return server.find("://") != std::string_view::npos;
}

// The line that starts at `pos`, without its line end.
std::string_view LineAt(std::string_view text, std::size_t pos) {
    const auto end = text.find_first_of("\r\n", pos);
    return text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
}

// Calls `onLine` with every line of `text`, without its line end.
template <typename F>
void ForEachLine(std::string_view text, F onLine) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        onLine(LineAt(text, pos));
        const auto end = text.find('\n', pos);
        if (end == std::string_view::npos)
            break;
        pos = end + 1;
    }
}

bool TakeKey(std::string_view line, std::string_view key, std::string& value) {
    if (line.substr(0, key.size()) != key)
        return false;
    value += line.substr(key.size());
    return true;
}

std::string Fetched(HttpClient& client, const std::string& url, const KeepGoing& keepGoing,
                    const Settings& settings, std::string& error) {
    HttpRequest request;
    request.url = url;
    request.userAgent = LookupUserAgent();
    request.maxBytes = kMaxAnswerBytes;
    const HttpResponse response = client.Fetch(request, keepGoing);
    if (!response.ok || response.status != 200) {
        error = DescribeFailure("FreeDB", url, response);
        return {};
    }
    return AnswerText(response.body, settings.codepage);
}

}  // namespace

std::optional<Toc> MakeToc(const std::vector<std::int32_t>& durationSeconds) {
    if (durationSeconds.empty() || durationSeconds.size() > kMaxTracks)
        return std::nullopt;
    Toc toc;
    std::int64_t s = kLeadInSeconds;
    toc.entries.push_back(s);
    for (const std::int32_t d : durationSeconds) {
        s += d > 0 ? d : 0;
        toc.entries.push_back(s);
    }
    std::int64_t n = 0;
    for (std::size_t k = 0; k < toc.TrackCount(); ++k)
        n += DigitSum(toc.entries[k]);
    const std::int64_t t = s - toc.entries.front();
    toc.discId = (static_cast<std::uint32_t>(n % 255) << 24) |
                 (static_cast<std::uint32_t>(t & 0xFFFF) << 8) |
                 static_cast<std::uint32_t>(toc.TrackCount());
    toc.lengthSeconds = s - kLeadInSeconds;
    return toc;
}

std::string DiscIdText(std::uint32_t discId) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", discId);
    return text;
}

std::optional<Hello> HelloFromEmail(std::string_view email) {
    const auto at = email.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == email.size() ||
        email.find('@', at + 1) != std::string_view::npos)
        return std::nullopt;
    for (const char c : email) {
        if (std::isspace(static_cast<unsigned char>(c)) != 0 ||
            std::iscntrl(static_cast<unsigned char>(c)) != 0)
            return std::nullopt;
    }
    return Hello{std::string(email.substr(0, at)), std::string(email.substr(at + 1))};
}

std::string CgiUrl(std::string_view server) {
    if (server.empty())
        server = kDefaultServer;
    std::string base = HasScheme(server) ? std::string(server) : "http://" + std::string(server);
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".cgi") == 0)
        return base;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + "/~cddb/cddb.cgi";
}

std::string QueryUrl(std::string_view server, const Toc& toc, const Hello& hello) {
    std::string url = CgiUrl(server) + "?cmd=cddb+query+" + DiscIdText(toc.discId) + "+" +
                      std::to_string(toc.TrackCount()) + "+";
    for (std::size_t k = 0; k < toc.TrackCount(); ++k)
        url += std::to_string(toc.entries[k] * kFramesPerSecond) + "+";
    url += std::to_string(toc.lengthSeconds);
    return url + HelloParams(hello);
}

std::string ReadUrl(std::string_view server, std::string_view category, std::string_view discId,
                    const Hello& hello) {
    return CgiUrl(server) + "?cmd=cddb+read+" + UrlEscape(category) + "+" + UrlEscape(discId) +
           HelloParams(hello);
}

std::string AnswerText(std::string_view bytes, std::string_view codepage) {
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    return CodePageToUtf8(bytes, codepage);
}

int StatusOf(std::string_view answer) {
    if (answer.size() < 3)
        return -1;
    int status = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::isdigit(static_cast<unsigned char>(answer[i])) == 0)
            return -1;
        status = status * 10 + (answer[i] - '0');
    }
    return status;
}

DiscChoice ChoiceOf(std::string text) {
    DiscChoice choice;
    // A server's line: shown in the disc list and parts of it asked again.
    text = web::CleanString(text, kMaxLineBytes);
    const auto first = text.find(' ');
    choice.category = text.substr(0, first);
    if (first != std::string::npos) {
        const auto second = text.find(' ', first + 1);
        choice.discId = text.substr(
            first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    }
    choice.text = std::move(text);
    return choice;
}

std::vector<DiscChoice> ParseQueryAnswer(std::string_view answer) {
    std::vector<DiscChoice> discs;
    const int status = StatusOf(answer);
    if (status == 200) {
        const auto space = answer.find(' ');
        if (space != std::string_view::npos)
            discs.push_back(ChoiceOf(std::string(LineAt(answer, space + 1))));
        return discs;
    }
    if (status != 210 && status != 211)
        return discs;
    std::size_t pos = answer.find('\n');
    while (pos != std::string_view::npos && pos + 1 < answer.size() && discs.size() < kMaxDiscs) {
        ++pos;
        const std::string_view line = LineAt(answer, pos);
        // The closing "." and stray short lines are no discs.
        if (line.size() > 5)
            discs.push_back(ChoiceOf(std::string(line)));
        pos = answer.find('\n', pos);
    }
    return discs;
}

TrackText DiscInfo::Track(std::size_t n) const {
    TrackText track;
    const auto it = tracks.find(n);
    if (it == tracks.end())
        return track;
    track.found = true;
    const auto split = it->second.find(" / ");
    if (split == std::string::npos) {
        track.artist = albumArtist;
        track.title = it->second;
    } else {
        track.artist = it->second.substr(0, split);
        track.title = it->second.substr(split + 3);
    }
    return track;
}

DiscInfo ParseReadAnswer(std::string_view answer) {
    DiscInfo info;
    // The xmcd format splits long values over several lines with the same
    // key, so every such line adds to the value.
    std::string title;
    ForEachLine(answer, [&](std::string_view line) {
        if (TakeKey(line, "DTITLE=", title) || TakeKey(line, "DGENRE=", info.genre) ||
            TakeKey(line, "DYEAR=", info.year) || line.substr(0, 6) != "TTITLE")
            return;
        const auto equals = line.find('=');
        std::size_t n = 0;
        if (equals == std::string_view::npos || equals == 6 || equals > 9)
            return;
        for (std::size_t i = 6; i < equals; ++i) {
            if (std::isdigit(static_cast<unsigned char>(line[i])) == 0)
                return;
            n = n * 10 + static_cast<std::size_t>(line[i] - '0');
        }
        if (n < kMaxTracks)
            info.tracks[n] += line.substr(equals + 1);
    });
    // Values go into tags and onto the screen: the same cleaning as every
    // other service's.
    title = web::CleanString(title, kMaxValueBytes);
    info.genre = web::CleanString(info.genre, kMaxValueBytes);
    info.year = web::CleanString(info.year, kMaxValueBytes);
    for (auto& [n, text] : info.tracks)
        text = web::CleanString(text, kMaxValueBytes);
    const auto split = title.find(" / ");
    if (split == std::string::npos) {
        info.albumArtist = title;
        info.album = title;
    } else {
        info.albumArtist = title.substr(0, split);
        info.album = title.substr(split + 3);
    }
    return info;
}

QueryOutcome QueryDiscs(HttpClient& client, const Settings& settings, const Toc& toc,
                        const KeepGoing& keepGoing) {
    QueryOutcome outcome;
    const auto hello = HelloFromEmail(settings.email);
    if (!hello) {
        outcome.error = "FreeDB: an e-mail address (user@host) is needed for the look-up";
        return outcome;
    }
    const std::string answer =
        Fetched(client, QueryUrl(settings.server, toc, *hello), keepGoing, settings, outcome.error);
    if (!outcome.error.empty())
        return outcome;
    outcome.discs = ParseQueryAnswer(answer);
    if (outcome.discs.empty()) {
        const int status = StatusOf(answer);
        // 202 is the server's "no match"; other codes say what went wrong.
        if (status == 202 || status == 210 || status == 211 || status == 200)
            outcome.error = std::string("FreeDB: ") + kMsgNoDisc;
        else
            outcome.error = "FreeDB: " + HostOfUrl(CgiUrl(settings.server)) +
                            ": the server refused the query: " +
                            web::CleanString(LineAt(answer, 0), kMaxLineBytes);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

ReadOutcome ReadDisc(HttpClient& client, const Settings& settings, const DiscChoice& choice,
                     const KeepGoing& keepGoing) {
    ReadOutcome outcome;
    const auto hello = HelloFromEmail(settings.email);
    if (!hello) {
        outcome.error = "FreeDB: an e-mail address (user@host) is needed for the look-up";
        return outcome;
    }
    if (choice.discId.empty()) {
        outcome.error = "FreeDB: the disc entry names no disc id";
        return outcome;
    }
    const std::string answer =
        Fetched(client, ReadUrl(settings.server, choice.category, choice.discId, *hello), keepGoing,
                settings, outcome.error);
    if (!outcome.error.empty())
        return outcome;
    if (StatusOf(answer) != 210) {
        outcome.error = "FreeDB: " + HostOfUrl(CgiUrl(settings.server)) +
                        ": the server did not send the disc: " +
                        web::CleanString(LineAt(answer, 0), kMaxLineBytes);
        return outcome;
    }
    outcome.disc = ParseReadAnswer(answer);
    outcome.ok = true;
    return outcome;
}

}  // namespace sondrel::net::cddb
