// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/store_lookup.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "editor/format_registry.h"
#include "net/web_service.h"

namespace sondrel::net::store {

namespace {

constexpr std::string_view kItemOpen = "<Item>";
constexpr std::string_view kItemClose = "</Item>";

// A whole number, or nullopt (also for values too large to mean anything).
std::optional<long> WholeNumber(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    long n = 0;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0)
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

// A value of the answer as it goes into a tag: "&amp;" read, and cleaned
// as every service's values are.
std::string ReplaceAmp(std::string text) {
    for (std::size_t p = text.find("&amp;"); p != std::string::npos; p = text.find("&amp;", p + 1))
        text.replace(p, 5, "&");
    return web::CleanString(text, kMaxValueBytes);
}

std::string TrackTag(std::size_t t) {
    return "<Track Number=\"" + std::to_string(t) + "\">";
}

// Fills the tracks of disc `d` from `block`; false when the disc has none.
bool ReadDiscTracks(std::string_view block, long d, Album& album) {
    const std::string discTag = "<Disc Number=\"" + std::to_string(d) + "\">";
    const auto start = block.find(discTag);
    const auto end = start == std::string_view::npos ? start : block.find("</Disc>", start);
    if (end == std::string_view::npos)
        return false;
    const std::string_view part = block.substr(start, end - start);
    // Tracks counted in order; the titles are then read after the disc's tag.
    std::size_t count = 0;
    for (std::size_t pos = 0; count < kMaxTracks;) {
        const auto found = part.find(TrackTag(count + 1), pos);
        if (found == std::string_view::npos)
            break;
        ++count;
        pos = found + 1;
    }
    if (count == 0)
        return false;
    std::size_t pos = discTag.size();
    for (std::size_t t = 1; t <= count; ++t) {
        const std::string tag = TrackTag(t);
        const auto at = part.find(tag, pos);
        if (at == std::string_view::npos)
            break;
        pos = at + tag.size();
        const auto close = part.find("</Track>", pos);
        album.tracks.push_back(
            close == std::string_view::npos
                ? std::string()
                : web::CleanString(part.substr(pos, close - pos), kMaxValueBytes));
    }
    return true;
}

std::string Describe(std::string_view url, const HttpResponse& response) {
    return DescribeFailure("The store service did not answer", url, response);
}

}  // namespace

std::string_view SiteSuffix(Site site) {
    switch (site) {
        case Site::Uk:
            return "co.uk";
        case Site::De:
            return "de";
        case Site::Us:
            break;
    }
    return "com";
}

std::string Keywords(std::string_view artist, std::string_view album) {
    std::string text(artist);
    text += ' ';
    text += album;
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == '&' || ch == ',')
            continue;
        if (ch == ' ')
            out += '+';
        else if (std::isalnum(c) != 0 || ch == '-' || ch == '.' || ch == '_' || ch == '~' ||
                 ch == '+')
            out += ch;
        else
            out += UrlEscape(std::string_view(&ch, 1));
    }
    return out;
}

std::string RequestUrl(std::string_view host, std::string_view keywords) {
    std::string url = host.find("://") != std::string_view::npos ? std::string(host)
                                                                 : "http://" + std::string(host);
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    url += "/onca/xml?Service=AWSECommerceService&SubscriptionId=";
    url += kSubscriptionId;
    url += "&Operation=ItemSearch&Keywords=";
    url += keywords;
    url += "&SearchIndex=Music&ResponseGroup=Request,Images,Tracks,ItemAttributes";
    return url;
}

std::string ElementValue(std::string_view text, std::string_view path) {
    std::vector<std::string_view> tags;
    for (std::size_t start = 0;;) {
        const auto slash = path.find('/', start);
        tags.push_back(path.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    std::size_t pos = 0;
    for (std::size_t i = 0; i + 1 < tags.size(); ++i) {
        const auto found = text.find(tags[i], pos);
        pos = found == std::string_view::npos ? 0 : found + tags[i].size();
    }
    const std::string_view last = tags.back();
    const auto at = text.find(last, pos);
    if (at == std::string_view::npos)
        return {};
    const auto valueStart = at + last.size();
    const auto close = text.find("</", valueStart);
    if (close == std::string_view::npos)
        return "Error " + std::to_string(at + 1);
    return std::string(text.substr(valueStart, close - valueStart));
}

std::vector<Album> ParseAnswer(std::string_view answer) {
    std::vector<Album> albums;
    const long total = WholeNumber(ElementValue(answer, "<TotalResults>")).value_or(0);
    const std::size_t results = std::min<std::size_t>(static_cast<std::size_t>(total), kMaxEntries);
    std::size_t pos = 0;
    for (std::size_t item = 0; item < results && albums.size() < kMaxEntries; ++item) {
        const auto open = answer.find(kItemOpen, pos);
        if (open == std::string_view::npos)
            break;
        auto close = answer.find(kItemClose, open);
        if (close == std::string_view::npos)
            close = answer.size();
        const std::string_view block = answer.substr(open, close - open);
        pos = close;

        long tracks = 0;
        if (block.find("<NumberOfTracks>") != std::string_view::npos)
            tracks = WholeNumber(ElementValue(block, "<NumberOfTracks>")).value_or(0);
        else
            tracks = block.find(TrackTag(1)) != std::string_view::npos ? 1 : 0;
        if (tracks == 0)
            continue;
        const long discs = block.find("<NumberOfDiscs>") != std::string_view::npos
                               ? WholeNumber(ElementValue(block, "<NumberOfDiscs>")).value_or(1)
                               : 1;
        for (long d = 1; d <= discs && albums.size() < kMaxEntries; ++d) {
            Album album;
            album.artist = ReplaceAmp(ElementValue(block, "<ItemAttributes>/<Artist>"));
            album.label = ReplaceAmp(ElementValue(block, "<ItemAttributes>/<Label>"));
            album.title = ReplaceAmp(ElementValue(block, "<ItemAttributes>/<Title>"));
            album.year = ElementValue(block, "<ItemAttributes>/<ReleaseDate>").substr(0, 4);
            album.coverUrl = ElementValue(block, "<LargeImage>/<URL>");
            if (discs > 1)
                album.title += " CD" + std::to_string(d);
            if (ReadDiscTracks(block, d, album))
                albums.push_back(std::move(album));
        }
    }
    return albums;
}

SearchOutcome Search(HttpClient& client, std::string_view host, std::string_view artist,
                     std::string_view album, const KeepGoing& keepGoing) {
    SearchOutcome outcome;
    HttpRequest request;
    request.url = RequestUrl(host, Keywords(artist, album));
    request.userAgent = LookupUserAgent();
    request.maxBytes = kMaxAnswerBytes;
    const HttpResponse response = client.Fetch(request, keepGoing);
    if (!response.ok || response.status != 200) {
        outcome.error = Describe(request.url, response);
        return outcome;
    }
    outcome.albums = ParseAnswer(response.body);
    if (outcome.albums.empty()) {
        outcome.error = std::string("The store service: ") + kMsgNoAlbum;
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

void FillRowsFromAlbum(std::vector<BatchRow>& rows, const Album& album, int trackStyle) {
    std::size_t n = 0;
    for (BatchRow& row : rows) {
        if (!row.Checked)
            continue;
        ++n;
        row.data.Track = NormaliseTrack(std::to_string(n), trackStyle);
        row.NewTrack = row.data.Track;
        row.NewTitle = n <= album.tracks.size() ? album.tracks[n - 1] : std::string();
        row.NewArtist = album.artist;
        row.NewAlbum = album.title;
        row.NewYear = album.year;
        row.CoverUrl = album.coverUrl;
        row.NewComment = row.data.Comment;
        row.NewGenre.clear();
    }
}

PictureFolder::PictureFolder() {
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "sondrel-pictures-XXXXXX");
    if (ec)
        pattern = "/tmp/sondrel-pictures-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr)
        path_ = pattern;
}

PictureFolder::~PictureFolder() {
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

std::string SafePictureName(std::string_view name, std::string_view url) {
    std::string stem;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        const bool safe = std::isalnum(c) != 0 || ch == ' ' || ch == '-' || ch == '_' ||
                          ch == '(' || ch == ')' || (ch == '.' && !stem.empty());
        if (safe && stem.size() < 100)
            stem += ch;
    }
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.'))
        stem.pop_back();
    if (stem.empty())
        stem = "cover";
    // The extension of the address's path, without its query.
    std::string_view path = url.substr(0, url.find_first_of("?#"));
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    std::string ext = ".jpg";
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
        const std::string_view e = path.substr(dot + 1);
        bool plain = !e.empty() && e.size() <= 4;
        for (const char c : e)
            plain = plain && std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (plain)
            ext = "." + std::string(e);
    }
    return stem + ext;
}

DownloadOutcome DownloadPicture(HttpClient& client, const std::string& url,
                                const std::string& folder, const std::string& fileName,
                                const KeepGoing& keepGoing) {
    DownloadOutcome outcome;
    if (folder.empty() || fileName.empty() || fileName.find('/') != std::string::npos ||
        fileName == "." || fileName == "..") {
        outcome.error = "the picture has no place to go";
        return outcome;
    }
    HttpRequest request;
    request.url = url;
    request.userAgent = LookupUserAgent();
    request.maxBytes = kMaxPictureBytes;
    request.readTimeoutSeconds = 20;
    request.totalTimeoutSeconds = kMaxPictureSeconds;
    const HttpResponse response = client.Fetch(request, keepGoing);
    if (!response.ok || response.status != 200) {
        outcome.error = DescribeFailure("The picture could not be downloaded", url, response);
        return outcome;
    }
    if (response.body.empty()) {
        outcome.error =
            "The picture could not be downloaded: " + HostOfUrl(url) + ": the answer was empty";
        return outcome;
    }
    // Written beside its name and renamed when whole, so a reader never
    // sees half a picture.
    const std::string target = folder + "/" + fileName;
    std::string partial = folder + "/.download-XXXXXX";
    const int fd = ::mkstemp(partial.data());
    bool written = fd >= 0;
    for (std::size_t done = 0; written && done < response.body.size();) {
        const ssize_t n = ::write(fd, response.body.data() + done, response.body.size() - done);
        if (n <= 0)
            written = false;
        else
            done += static_cast<std::size_t>(n);
    }
    if (fd >= 0 && ::close(fd) != 0)
        written = false;
    if (!written || std::rename(partial.c_str(), target.c_str()) != 0) {
        if (fd >= 0)
            ::unlink(partial.c_str());
        outcome.error = "The picture could not be written into " + folder;
        return outcome;
    }
    outcome.ok = true;
    outcome.path = target;
    return outcome;
}

AfterSave CoverAdder(HttpClient& client, const PictureFolder& folder, const Album& album) {
    struct State {
        bool tried = false;
        std::string file;
    };
    auto state = std::make_shared<State>();
    const std::string name = SafePictureName(album.title, album.coverUrl);
    return [&client, &folder, state, name](const BatchRow& row, TagBridge& bridge) -> std::string {
        const std::string path = row.data.FullPath();
        const FormatHandler* handler = HandlerOfPath(path);
        if (row.CoverUrl.empty() || handler == nullptr || !handler->HoldsPictures())
            return {};
        if (!state->tried) {
            state->tried = true;
            const DownloadOutcome got = DownloadPicture(client, row.CoverUrl, folder.path(), name);
            if (!got.ok)
                return got.error;
            state->file = got.path;
        }
        if (state->file.empty())
            return {};
        std::string error = handler->LoadPictures(bridge, path);
        std::string warning;
        if (error.empty())
            error = handler->AddPicture(bridge, 0, state->file, "", 3, warning);
        return error.empty() ? std::string() : "the cover was not added: " + error;
    };
}

}  // namespace sondrel::net::store
