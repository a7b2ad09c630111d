// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/musicbrainz.h"

#include <cctype>

#include "tags/tag_model.h"

namespace sondrel::net::musicbrainz {

namespace {

using nlohmann::json;
using web::CleanText;
using web::Member;

constexpr std::int64_t kSectorsPerSecond = 75;
// The longest track length taken as real: a day.
constexpr long long kMaxLengthMs = 24LL * 3600 * 1000;

// "A & B feat. C" from the names and join phrases of an artist credit.
std::string CreditText(const json& credit) {
    std::string text;
    if (!credit.is_array())
        return text;
    for (const json& part : credit) {
        text += CleanText(Member(part, "name"), kMaxTextBytes);
        const json& join = Member(part, "joinphrase");
        if (join.is_string())
            text += join.get<std::string>().substr(0, 32);
    }
    json whole = text;
    return CleanText(whole, kMaxTextBytes);
}

std::string LabelOf(const json& release) {
    const json& info = Member(release, "label-info");
    if (!info.is_array())
        return {};
    for (const json& item : info) {
        std::string name = CleanText(Member(Member(item, "label"), "name"), kMaxTextBytes);
        if (!name.empty())
            return name;
    }
    return {};
}

// The genre with the most votes (the first of equals).
std::string GenreOf(const json& release) {
    const json& genres = Member(release, "genres");
    if (!genres.is_array())
        return {};
    std::string best;
    long long bestCount = -1;
    for (const json& g : genres) {
        std::string name = CleanText(Member(g, "name"), kMaxGenreBytes);
        const long long count = web::WholeNumber(Member(g, "count"), 1LL << 40).value_or(0);
        if (!name.empty() && count > bestCount) {
            best = std::move(name);
            bestCount = count;
        }
    }
    return best;
}

std::vector<Track> TracksOf(const json& medium, const std::string& releaseArtist) {
    std::vector<Track> tracks;
    const json& list = Member(medium, "tracks");
    if (!list.is_array())
        return tracks;
    for (const json& t : list) {
        if (tracks.size() >= kMaxTracks)
            break;
        const json& recording = Member(t, "recording");
        Track track;
        track.title = CleanText(Member(t, "title"), kMaxTextBytes);
        if (track.title.empty())
            track.title = CleanText(Member(recording, "title"), kMaxTextBytes);
        track.artist = CreditText(Member(t, "artist-credit"));
        if (track.artist.empty())
            track.artist = CreditText(Member(recording, "artist-credit"));
        if (track.artist.empty())
            track.artist = releaseArtist;
        if (const auto ms = web::WholeNumber(Member(t, "length"), kMaxLengthMs))
            track.lengthMs = *ms;
        tracks.push_back(std::move(track));
    }
    return tracks;
}

// "CD 2": the medium's format when it is a short word or two, else "Disc".
std::string MediumName(const json& medium, std::size_t position) {
    std::string format = CleanText(Member(medium, "format"), 32);
    if (format.empty())
        format = "Disc";
    return format + " " + std::to_string(position);
}

std::string Describe(std::string_view host) {
    return "MusicBrainz: " + HostOfUrl(web::BaseUrl(host, kDefaultHost)) + ": ";
}

web::JsonRequest Request(const Settings& settings, RateLimiter& limiter, std::string url) {
    web::JsonRequest request;
    request.url = std::move(url);
    request.service = "MusicBrainz";
    request.userAgent = web::ServiceUserAgent(settings.contact);
    request.allowLoopbackHttp = settings.endpoint.allowLoopbackHttp;
    request.limiter = &limiter;
    return request;
}

ListOutcome ListFrom(const web::JsonOutcome& got, std::vector<Entry> entries,
                     const Settings& settings) {
    ListOutcome outcome;
    if (!got.ok) {
        outcome.error = got.error;
        return outcome;
    }
    if (entries.empty()) {
        outcome.error = Describe(settings.endpoint.host) + kMsgNothingFound;
        return outcome;
    }
    outcome.entries = std::move(entries);
    outcome.ok = true;
    return outcome;
}

}  // namespace

std::string Entry::ListText() const {
    std::string text = artist + " - " + title + " (";
    if (!year.empty())
        text += year + ", ";
    if (!label.empty())
        text += label + ", ";
    return text + std::to_string(trackCount) + (trackCount == 1 ? " track)" : " tracks)");
}

bool IsMbid(std::string_view id) {
    if (id.size() != 36)
        return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = id[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

std::string SearchQuery(std::string_view artist, std::string_view album) {
    auto quoted = [](std::string_view words) {
        std::string q = "\"";
        for (const char c : words) {
            if (c == '"' || c == '\\')
                q += '\\';
            q += c;
        }
        return q + "\"";
    };
    std::string query;
    if (!artist.empty())
        query = "artist:" + quoted(artist);
    if (!album.empty())
        query += (query.empty() ? "release:" : " AND release:") + quoted(album);
    return query;
}

std::string SearchUrl(std::string_view host, std::string_view artist, std::string_view album) {
    return web::BaseUrl(host, kDefaultHost) +
           "/ws/2/release?query=" + UrlEscape(SearchQuery(artist, album)) + "&limit=25&fmt=json";
}

std::string ReleaseUrl(std::string_view host, std::string_view releaseId) {
    return web::BaseUrl(host, kDefaultHost) + "/ws/2/release/" + UrlEscape(releaseId) +
           "?inc=artist-credits+labels+recordings+genres&fmt=json";
}

std::string TocText(const cddb::Toc& toc) {
    const std::size_t n = toc.TrackCount();
    std::string text =
        "1 " + std::to_string(n) + " " + std::to_string(toc.entries.back() * kSectorsPerSecond);
    for (std::size_t k = 0; k < n; ++k)
        text += " " + std::to_string(toc.entries[k] * kSectorsPerSecond);
    return text;
}

std::string TocUrl(std::string_view host, const cddb::Toc& toc) {
    std::string toText = TocText(toc);
    for (char& c : toText) {
        if (c == ' ')
            c = '+';
    }
    return web::BaseUrl(host, kDefaultHost) + "/ws/2/discid/-?toc=" + toText +
           "&inc=artist-credits+labels&cdstubs=no&fmt=json";
}

std::vector<Entry> EntriesOfRelease(const json& release) {
    std::vector<Entry> entries;
    const json& id = Member(release, "id");
    if (!id.is_string() || !IsMbid(id.get<std::string>()))
        return entries;
    Entry base;
    base.releaseId = id.get<std::string>();
    base.album = CleanText(Member(release, "title"), kMaxTextBytes);
    base.artist = CreditText(Member(release, "artist-credit"));
    const json& date = Member(release, "date");
    base.year = date.is_string() ? web::YearOf(date.get<std::string>()) : std::string();
    base.label = LabelOf(release);
    base.genre = GenreOf(release);
    const json& media = Member(release, "media");
    if (!media.is_array() || media.empty()) {
        base.title = base.album;
        base.trackCount = static_cast<std::size_t>(
            web::WholeNumber(Member(release, "track-count"), kMaxTracks).value_or(0));
        entries.push_back(std::move(base));
        return entries;
    }
    base.mediumCount = media.size();
    for (std::size_t m = 0; m < media.size() && entries.size() < kMaxEntries; ++m) {
        Entry entry = base;
        entry.medium = m + 1;
        entry.title =
            media.size() == 1 ? base.album : base.album + " (" + MediumName(media[m], m + 1) + ")";
        entry.tracks = TracksOf(media[m], base.artist);
        entry.trackCount =
            static_cast<std::size_t>(web::WholeNumber(Member(media[m], "track-count"), kMaxTracks)
                                         .value_or(entry.tracks.size()));
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<Entry> ParseSearchAnswer(const json& answer) {
    std::vector<Entry> entries;
    const json& releases = Member(answer, "releases");
    if (!releases.is_array())
        return entries;
    for (const json& release : releases) {
        for (Entry& e : EntriesOfRelease(release)) {
            if (entries.size() >= kMaxEntries)
                return entries;
            entries.push_back(std::move(e));
        }
    }
    return entries;
}

std::vector<Entry> ParseTocAnswer(const json& answer, std::size_t trackCount) {
    std::vector<Entry> entries;
    for (Entry& e : ParseSearchAnswer(answer)) {
        if (e.trackCount == trackCount)
            entries.push_back(std::move(e));
    }
    return entries;
}

ListOutcome SearchReleases(HttpClient& client, RateLimiter& limiter, const Settings& settings,
                           std::string_view artist, std::string_view album,
                           const KeepGoing& keepGoing) {
    if (artist.empty() && album.empty()) {
        ListOutcome outcome;
        outcome.error = "MusicBrainz: give an artist or an album to look for";
        return outcome;
    }
    const auto got = web::FetchJson(
        client, Request(settings, limiter, SearchUrl(settings.endpoint.host, artist, album)),
        keepGoing);
    return ListFrom(got, got.ok ? ParseSearchAnswer(got.json) : std::vector<Entry>(), settings);
}

ListOutcome LookUpToc(HttpClient& client, RateLimiter& limiter, const Settings& settings,
                      const cddb::Toc& toc, const KeepGoing& keepGoing) {
    auto request = Request(settings, limiter, TocUrl(settings.endpoint.host, toc));
    // The service answers 404 when no disc has this table of contents.
    request.acceptedStatus = 404;
    auto got = web::FetchJson(client, request, keepGoing);
    // The service's own 404 says so in JSON; any other is a wrong address.
    if (got.ok && got.status == 404 && !got.json.is_object()) {
        got.ok = false;
        got.error = Describe(settings.endpoint.host) + "the server answered with HTTP status 404";
    }
    std::vector<Entry> entries;
    if (got.ok && got.status == 200)
        entries = ParseTocAnswer(got.json, toc.TrackCount());
    return ListFrom(got, std::move(entries), settings);
}

ReleaseOutcome ReadRelease(HttpClient& client, RateLimiter& limiter, const Settings& settings,
                           const Entry& chosen, const KeepGoing& keepGoing) {
    ReleaseOutcome outcome;
    if (!IsMbid(chosen.releaseId)) {
        outcome.error = "MusicBrainz: the entry names no release";
        return outcome;
    }
    const auto got = web::FetchJson(
        client, Request(settings, limiter, ReleaseUrl(settings.endpoint.host, chosen.releaseId)),
        keepGoing);
    if (!got.ok) {
        outcome.error = got.error;
        return outcome;
    }
    std::vector<Entry> media = EntriesOfRelease(got.json);
    if (media.empty() || media.front().releaseId != chosen.releaseId ||
        chosen.medium > media.size() || chosen.medium == 0) {
        outcome.error = Describe(settings.endpoint.host) + "the answer does not hold medium " +
                        std::to_string(chosen.medium) + " of release " + chosen.releaseId;
        return outcome;
    }
    outcome.entry = std::move(media[chosen.medium - 1]);
    outcome.ok = true;
    return outcome;
}

void FillRowsFromEntry(std::vector<BatchRow>& rows, const Entry& entry, int trackStyle,
                       const std::string& coverUrl) {
    std::size_t n = 0;
    for (BatchRow& row : rows) {
        if (!row.Checked)
            continue;
        ++n;
        const bool has = n <= entry.tracks.size();
        row.data.Track = NormaliseTrack(std::to_string(n), trackStyle);
        row.NewTrack = row.data.Track;
        row.NewTitle = has ? entry.tracks[n - 1].title : std::string();
        row.NewArtist = has ? entry.tracks[n - 1].artist : std::string();
        row.NewAlbum = entry.album;
        row.NewYear = entry.year;
        row.NewGenre = entry.genre;
        row.NewComment = row.data.Comment;
        row.CoverUrl = coverUrl;
    }
}

}  // namespace sondrel::net::musicbrainz
