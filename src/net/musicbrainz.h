// SPDX-License-Identifier: GPL-3.0-or-later
// MusicBrainz (web service version 2, JSON): releases found by artist and
// album words or by the table of contents of the files, one entry per
// medium, and the chosen medium's tracks filled into the batch rows. Every
// request waits for its turn at a RateLimiter (the service allows one a
// second per client) and names the program and a contact in its user agent.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "batch/batch_row.h"
#include "net/cddb.h"
#include "net/http_client.h"
#include "net/rate_limiter.h"
#include "net/web_service.h"

namespace sondrel::net::musicbrainz {

inline constexpr std::string_view kDefaultHost = "https://musicbrainz.org";
inline constexpr std::chrono::milliseconds kRequestGap{1000};
// The list never holds more entries than this, and no medium more tracks.
inline constexpr std::size_t kMaxEntries = 300;
inline constexpr std::size_t kMaxTracks = 99;
// Values longer than these are cut before they reach a tag.
inline constexpr std::size_t kMaxTextBytes = 1024;
inline constexpr std::size_t kMaxGenreBytes = 64;

struct Settings {
    web::Endpoint endpoint;  // the host box; empty means kDefaultHost
    std::string contact;     // the user's e-mail address from the options
};

struct Track {
    std::string title;
    std::string artist;
    std::int64_t lengthMs = -1;  // -1 when the service has none
};

// One medium of a release, as the list shows it.
struct Entry {
    std::string releaseId;   // checked: 36 characters, hexadecimal and dashes
    std::size_t medium = 1;  // from 1, in the release's order
    std::size_t mediumCount = 1;
    std::string album;  // the release's title
    std::string title;  // "Album (CD 2)" when the release has several media
    std::string artist;
    std::string year;
    std::string label;
    std::string genre;  // the release's most voted genre; empty when none
    std::size_t trackCount = 0;
    std::vector<Track> tracks;  // only from a release or TOC look-up

    // "artist - title (year, label, N tracks)", as the list shows it.
    std::string ListText() const;
};

// Whether `id` has the form of a MusicBrainz identifier.
bool IsMbid(std::string_view id);

// The search words as the service's query: artist:"…" AND release:"…"
// (either left out when empty), quotes and backslashes escaped.
std::string SearchQuery(std::string_view artist, std::string_view album);
std::string SearchUrl(std::string_view host, std::string_view artist, std::string_view album);
std::string ReleaseUrl(std::string_view host, std::string_view releaseId);
// The table of contents in sectors: "1 N lead-out offset1 … offsetN".
std::string TocText(const cddb::Toc& toc);
std::string TocUrl(std::string_view host, const cddb::Toc& toc);

// The entries of a release object (one per medium; with tracks when the
// object carries them). None when the object has no valid identifier.
std::vector<Entry> EntriesOfRelease(const nlohmann::json& release);
// The entries of a search answer ("releases"), at most kMaxEntries.
std::vector<Entry> ParseSearchAnswer(const nlohmann::json& answer);
// The media of a TOC answer with `trackCount` tracks, at most kMaxEntries.
std::vector<Entry> ParseTocAnswer(const nlohmann::json& answer, std::size_t trackCount);

struct ListOutcome {
    bool ok = false;
    std::string error;  // in words, with the service's host
    std::vector<Entry> entries;
};
// Nothing found is a failure with its own message.
ListOutcome SearchReleases(HttpClient& client, RateLimiter& limiter, const Settings& settings,
                           std::string_view artist, std::string_view album,
                           const KeepGoing& keepGoing = {});
ListOutcome LookUpToc(HttpClient& client, RateLimiter& limiter, const Settings& settings,
                      const cddb::Toc& toc, const KeepGoing& keepGoing = {});
inline constexpr const char* kMsgNothingFound = "no release matches";

struct ReleaseOutcome {
    bool ok = false;
    std::string error;
    Entry entry;  // the chosen medium with its tracks, label and genre
};
// Reads the release of `chosen` and returns its medium `chosen.medium`.
ReleaseOutcome ReadRelease(HttpClient& client, RateLimiter& limiter, const Settings& settings,
                           const Entry& chosen, const KeepGoing& keepGoing = {});

// The ticked rows in display order, numbered n = 1, 2, …: track n (by the
// track style), the medium's track n (title and artist; empty past its
// tracks), the album, year and genre, and `coverUrl` as the row's cover.
// Comments stay.
void FillRowsFromEntry(std::vector<BatchRow>& rows, const Entry& entry, int trackStyle,
                       const std::string& coverUrl = {});

}  // namespace sondrel::net::musicbrainz
