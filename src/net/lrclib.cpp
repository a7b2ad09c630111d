// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lrclib.h"

#include <algorithm>
#include <cctype>

namespace sondrel::net::lrclib {

namespace {

// Digits from `pos`, at most `max` of them; false when there are none.
bool Digits(std::string_view s, std::size_t& pos, std::size_t max, std::int64_t& value) {
    const std::size_t start = pos;
    value = 0;
    while (pos < s.size() && pos - start < max &&
           std::isdigit(static_cast<unsigned char>(s[pos]))) {
        value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    return pos > start;
}

// "[mm:ss]", "[mm:ss.x]", "[mm:ss.xx]", "[mm:ss.xxx]" at `pos`: the time in
// milliseconds, `pos` moved past the "]". Nullopt for any other tag.
std::optional<std::int64_t> TimeTag(std::string_view line, std::size_t& pos) {
    std::size_t p = pos;
    if (p >= line.size() || line[p] != '[')
        return std::nullopt;
    ++p;
    std::int64_t minutes = 0;
    std::int64_t seconds = 0;
    if (!Digits(line, p, 3, minutes) || p >= line.size() || line[p] != ':')
        return std::nullopt;
    ++p;
    const std::size_t secondsStart = p;
    if (!Digits(line, p, 2, seconds) || p - secondsStart != 2 || seconds > 59)
        return std::nullopt;
    std::int64_t ms = 0;
    if (p < line.size() && (line[p] == '.' || line[p] == ':')) {
        ++p;
        const std::size_t fracStart = p;
        std::int64_t frac = 0;
        if (!Digits(line, p, 3, frac))
            return std::nullopt;
        const std::size_t places = p - fracStart;
        ms = places == 1 ? frac * 100 : places == 2 ? frac * 10 : frac;
    }
    if (p >= line.size() || line[p] != ']')
        return std::nullopt;
    pos = p + 1;
    return (minutes * 60 + seconds) * 1000 + ms;
}

}  // namespace

std::string GetUrl(std::string_view host, const Query& query) {
    std::string url = web::BaseUrl(host, kDefaultHost) +
                      "/api/get?artist_name=" + UrlEscape(query.artist) +
                      "&track_name=" + UrlEscape(query.title);
    if (!query.album.empty())
        url += "&album_name=" + UrlEscape(query.album);
    if (query.durationSeconds > 0)
        url += "&duration=" + std::to_string(query.durationSeconds);
    return url;
}

std::vector<SyncedLine> ParseLrc(std::string_view lrc) {
    std::vector<SyncedLine> lines;
    std::size_t start = 0;
    while (start < lrc.size() && lines.size() < kMaxSyncedLines) {
        std::size_t end = lrc.find('\n', start);
        if (end == std::string_view::npos)
            end = lrc.size();
        std::string_view line = lrc.substr(start, end - start);
        start = end + 1;
        std::vector<std::int64_t> times;
        std::size_t pos = 0;
        while (pos < line.size() && line[pos] == '[') {
            const auto time = TimeTag(line, pos);
            if (!time)
                break;
            times.push_back(*time);
        }
        if (times.empty())
            continue;
        const std::string text = web::CleanString(line.substr(pos), kMaxLineBytes);
        for (const std::int64_t t : times) {
            if (lines.size() < kMaxSyncedLines)
                lines.push_back({t, text});
        }
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const SyncedLine& a, const SyncedLine& b) { return a.timeMs < b.timeMs; });
    return lines;
}

id3v2::SyncedLyrics SyltOf(const std::vector<SyncedLine>& lines) {
    id3v2::SyncedLyrics out;
    out.language = "eng";
    out.timeFormat = id3v2::kSyltMilliseconds;
    out.contentType = id3v2::kSyltLyrics;
    for (const SyncedLine& line : lines) {
        const auto ms = std::clamp<std::int64_t>(line.timeMs, 0, 0xFFFFFFFF);
        out.lines.push_back({static_cast<std::uint32_t>(ms), line.text});
    }
    return out;
}

std::string PlainFromSynced(const std::vector<SyncedLine>& lines) {
    std::string text;
    for (const SyncedLine& line : lines) {
        if (!text.empty())
            text += '\n';
        text += line.text;
    }
    return text;
}

Lyrics ParseAnswer(const nlohmann::json& answer) {
    Lyrics lyrics;
    if (!answer.is_object())
        return lyrics;
    const nlohmann::json& instrumental = web::Member(answer, "instrumental");
    lyrics.instrumental = instrumental.is_boolean() && instrumental.get<bool>();
    lyrics.plain = web::CleanText(web::Member(answer, "plainLyrics"), kMaxLyricsBytes, true);
    const nlohmann::json& synced = web::Member(answer, "syncedLyrics");
    if (synced.is_string())
        lyrics.synced = ParseLrc(synced.get_ref<const std::string&>());
    if (lyrics.plain.empty())
        lyrics.plain = web::CleanString(PlainFromSynced(lyrics.synced), kMaxLyricsBytes, true);
    lyrics.found = !lyrics.plain.empty() || lyrics.instrumental;
    return lyrics;
}

LyricsOutcome FetchLyrics(HttpClient& client, const Settings& settings, const Query& query,
                          const KeepGoing& keepGoing) {
    LyricsOutcome outcome;
    if (query.artist.empty() || query.title.empty()) {
        outcome.error = "LRCLIB: the artist and the title are needed for the look-up";
        return outcome;
    }
    web::JsonRequest request;
    request.url = GetUrl(settings.endpoint.host, query);
    request.service = "LRCLIB";
    request.userAgent = web::ServiceUserAgent(settings.contact);
    request.allowLoopbackHttp = settings.endpoint.allowLoopbackHttp;
    request.acceptedStatus = 404;
    const web::JsonOutcome got = web::FetchJson(client, request, keepGoing);
    if (!got.ok) {
        outcome.error = got.error;
        return outcome;
    }
    // The service's own 404 says so in JSON; any other is a wrong address.
    if (got.status == 404 && !got.json.is_object()) {
        outcome.error =
            "LRCLIB: " + HostOfUrl(request.url) + ": the server answered with HTTP status 404";
        return outcome;
    }
    if (got.status == 200)
        outcome.lyrics = ParseAnswer(got.json);
    outcome.ok = true;
    return outcome;
}

}  // namespace sondrel::net::lrclib
