// SPDX-License-Identifier: GPL-3.0-or-later
// FreeDB (the CDDB protocol over HTTP): the table of contents and disc id
// made from the files' durations, the query and read addresses, and the
// parsing of the server's answers. The look-up itself goes through an
// HttpClient; nothing here touches files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_client.h"

namespace sondrel::net::cddb {

inline constexpr std::string_view kDefaultServer = "https://gnudb.gnudb.org";
inline constexpr std::size_t kMaxAnswerBytes = 1u << 20;
// A disc holds at most 99 tracks.
inline constexpr std::size_t kMaxTracks = 99;
// The disc list never holds more entries than this.
inline constexpr std::size_t kMaxDiscs = 300;
inline constexpr std::string_view kProtocolLevel = "6";
// A disc list line and a value of a read answer are cut to these.
inline constexpr std::size_t kMaxLineBytes = 1024;
inline constexpr std::size_t kMaxValueBytes = 4096;

// The table of contents of the files as one disc, in album order.
struct Toc {
    // Entry k is the start of track k + 1 in seconds from the disc's start
    // (the first track starts at 2 s, after the lead-in); the last entry is
    // the end of the last track.
    std::vector<std::int64_t> entries;
    std::int64_t lengthSeconds = 0;  // the sum of the durations
    std::uint32_t discId = 0;

    std::size_t TrackCount() const { return entries.empty() ? 0 : entries.size() - 1; }
};

// Nullopt when there are more than kMaxTracks durations (or none).
std::optional<Toc> MakeToc(const std::vector<std::int32_t>& durationSeconds);
// 8 lower-case hexadecimal digits.
std::string DiscIdText(std::uint32_t discId);

// The two first fields of "hello": the user and host parts of the user's
// e-mail address (the servers ask for a real one).
struct Hello {
    std::string user;
    std::string host;
};
// Nullopt unless `email` is one "user@host" without spaces.
std::optional<Hello> HelloFromEmail(std::string_view email);

// The address of cddb.cgi: a server with a scheme is used as it is (its
// path completed with "/~cddb/cddb.cgi" unless it names a .cgi), a bare
// host means http on port 80, an empty one the default server.
std::string CgiUrl(std::string_view server);
std::string QueryUrl(std::string_view server, const Toc& toc, const Hello& hello);
std::string ReadUrl(std::string_view server, std::string_view category, std::string_view discId,
                    const Hello& hello);

// Answers as UTF-8; an answer that is not valid UTF-8 is read in the
// legacy code page.
std::string AnswerText(std::string_view bytes, std::string_view codepage);

// The number in the first three characters of an answer, -1 when none.
int StatusOf(std::string_view answer);

// One entry of the disc list: "category discid title".
struct DiscChoice {
    std::string text;
    std::string category;  // up to the first space
    std::string discId;    // between the first and the second space
};
DiscChoice ChoiceOf(std::string text);

// The disc list of a query answer: one item for 200, the lines of 210 and
// 211 after the status line (the closing "." and lines of five characters
// or fewer left out), none for any other status; at most kMaxDiscs.
std::vector<DiscChoice> ParseQueryAnswer(std::string_view answer);

// A track's text split into artist and title.
struct TrackText {
    std::string artist;
    std::string title;
    bool found = false;
};

// What a read answer holds.
struct DiscInfo {
    std::string albumArtist;
    std::string album;
    std::string genre;
    std::string year;
    std::map<std::size_t, std::string> tracks;  // TTITLEn by n

    // Track n (from 0): "Guest / Song" is artist "Guest", title "Song";
    // without " / " the artist is the album artist. Empty when missing.
    TrackText Track(std::size_t n) const;
};
DiscInfo ParseReadAnswer(std::string_view answer);

// The look-up settings: the server box, the user's e-mail address, the
// code page of answers that are not UTF-8.
struct Settings {
    std::string server;
    std::string email;
    std::string codepage = "ISO-8859-1";
};

struct QueryOutcome {
    bool ok = false;
    std::string error;  // in words, with the server's host
    std::vector<DiscChoice> discs;
};
// Asks the server for the discs of `toc`. No disc found is a failure with
// its own message.
QueryOutcome QueryDiscs(HttpClient& client, const Settings& settings, const Toc& toc,
                        const KeepGoing& keepGoing = {});

struct ReadOutcome {
    bool ok = false;
    std::string error;
    DiscInfo disc;
};
ReadOutcome ReadDisc(HttpClient& client, const Settings& settings, const DiscChoice& choice,
                     const KeepGoing& keepGoing = {});

// The message when a query finds nothing.
inline constexpr const char* kMsgNoDisc = "no disc matches these files";

}  // namespace sondrel::net::cddb
