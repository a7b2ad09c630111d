// SPDX-License-Identifier: GPL-3.0-or-later
// LRCLIB: the lyrics of one track found by artist, title, album and
// duration; plain text and, where the service has them, synchronised
// lines (LRC "[mm:ss.xx] text") read into times and texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "net/http_client.h"
#include "net/web_service.h"
#include "tags/id3v2_frames.h"

namespace sondrel::net::lrclib {

inline constexpr std::string_view kDefaultHost = "https://lrclib.net";
// Lyrics longer than this are cut (at a character) before they reach a tag.
inline constexpr std::size_t kMaxLyricsBytes = 256u << 10;
inline constexpr std::size_t kMaxLineBytes = 1024;
inline constexpr std::size_t kMaxSyncedLines = 5000;

struct Settings {
    web::Endpoint endpoint;  // empty host: kDefaultHost
    std::string contact;     // the user's e-mail address, for the user agent
};

struct Query {
    std::string artist;
    std::string title;
    std::string album;                 // left out when empty
    std::int32_t durationSeconds = 0;  // left out when 0
};
std::string GetUrl(std::string_view host, const Query& query);

struct SyncedLine {
    std::int64_t timeMs = 0;
    std::string text;
    bool operator==(const SyncedLine&) const = default;
};
// The timed lines of an LRC text in time order (a line with several time
// tags is one line per tag); tags without a time ("[ar:…]") and lines
// without a tag are left out. At most kMaxSyncedLines.
std::vector<SyncedLine> ParseLrc(std::string_view lrc);
// The texts of `lines`, one a line.
std::string PlainFromSynced(const std::vector<SyncedLine>& lines);
// `lines` as the lyrics of an ID3v2 SYLT frame: times in milliseconds
// (past the frame's 32 bits held at its largest), language "eng" as our
// USLT frames have it, no description.
id3v2::SyncedLyrics SyltOf(const std::vector<SyncedLine>& lines);

struct Lyrics {
    bool found = false;
    bool instrumental = false;
    std::string plain;  // the plain text, else the synchronised lines' texts
    std::vector<SyncedLine> synced;
};
Lyrics ParseAnswer(const nlohmann::json& answer);

struct LyricsOutcome {
    bool ok = false;    // the service answered; lyrics.found says whether it had them
    std::string error;  // in words, with the host
    Lyrics lyrics;
};
// Artist and title are needed; the service's 404 is "not found", not a failure.
LyricsOutcome FetchLyrics(HttpClient& client, const Settings& settings, const Query& query,
                          const KeepGoing& keepGoing = {});

}  // namespace sondrel::net::lrclib
