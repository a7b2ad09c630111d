// SPDX-License-Identifier: GPL-3.0-or-later
// The online store look-up: albums found by artist and album words in the
// store's product search (an XML answer), one entry per disc, filled into
// the batch rows; and the cover download shared with the pictures window.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_row.h"
#include "net/http_client.h"
#include "net/lookup_rows.h"

namespace sondrel::net::store {

inline constexpr std::size_t kMaxAnswerBytes = 8u << 20;
inline constexpr std::size_t kMaxPictureBytes = 32u << 20;
// A value of an answer (a title, a name) is cut to this.
inline constexpr std::size_t kMaxValueBytes = 4096;
// A picture may take longer than an answer (HttpRequest's default).
inline constexpr long kMaxPictureSeconds = 300;
// The album list never holds more entries than this, and no entry more tracks.
inline constexpr std::size_t kMaxEntries = 300;
inline constexpr std::size_t kMaxTracks = 100;
inline constexpr std::string_view kSubscriptionId = "7QX2M4KD9ZP1RTB8WN3C";

// The store sites, in the order of the site box.
enum class Site : int { Us = 0, Uk = 1, De = 2 };
// "com", "co.uk", "de".
std::string_view SiteSuffix(Site site);
// The default web-services host of each site (the settings may name others).
inline constexpr std::array<std::string_view, 3> kDefaultHosts = {
    "webservices.amazon.com", "webservices.amazon.co.uk", "webservices.amazon.de"};

// The artist and album words as one keyword text: spaces become "+", "&"
// and "," are left out; any other byte that has no place in an address is
// percent-encoded.
std::string Keywords(std::string_view artist, std::string_view album);
// The search address: a host with a scheme is used as it is, a bare host
// means http.
std::string RequestUrl(std::string_view host, std::string_view keywords);

// The value of an element path such as "<ItemAttributes>/<Artist>" in
// `text`: each tag but the last is searched after the one before (a
// missing one starts the next search at the beginning again); the value
// runs from the last tag to the next "</". Empty when the last tag is
// missing; "Error N" (N its position from 1) when no "</" follows it.
std::string ElementValue(std::string_view text, std::string_view path);

// One entry of the album list: one disc of an item.
struct Album {
    std::string coverUrl;
    std::string artist;
    std::string label;
    std::string title;  // "Title CD2" for the discs of a several-disc item
    std::string year;
    std::vector<std::string> tracks;  // track 1 first

    // "artist - title", as the list shows it.
    std::string ListText() const { return artist + " - " + title; }
};

// The album list of a search answer (at most kMaxEntries entries, the
// first "<TotalResults>" items at most).
std::vector<Album> ParseAnswer(std::string_view answer);

struct SearchOutcome {
    bool ok = false;
    std::string error;  // says the service did not answer, with host and reason
    std::vector<Album> albums;
};
// Searches `host` (the chosen site's) for the artist and album words.
// No album found is a failure with its own message.
SearchOutcome Search(HttpClient& client, std::string_view host, std::string_view artist,
                     std::string_view album, const KeepGoing& keepGoing = {});
inline constexpr const char* kMsgNoAlbum = "no album with tracks matches these words";

// The ticked rows in display order, numbered n = 1, 2, …: track n (by the
// track style), the album's title n (empty past its tracks), its artist,
// title, year and cover address. Comments stay; the genre is emptied.
void FillRowsFromAlbum(std::vector<BatchRow>& rows, const Album& album, int trackStyle);

// A folder of our own under the system's temporary folder for downloaded
// pictures, removed with everything in it when this goes.
class PictureFolder {
public:
    PictureFolder();
    ~PictureFolder();
    PictureFolder(const PictureFolder&) = delete;
    PictureFolder& operator=(const PictureFolder&) = delete;
    // Empty when the folder could not be made.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A file name from texts a server supplied: only letters, digits, spaces
// and "-_.()" of `name` are kept (never a leading dot), at most 100 bytes,
// "cover" when nothing is left; then the extension of `url` when it is 1 to
// 4 letters or digits, else ".jpg".
std::string SafePictureName(std::string_view name, std::string_view url);

struct DownloadOutcome {
    bool ok = false;
    std::string path;  // the file written
    std::string error;
};
// Fetches `url` (capped at kMaxPictureBytes) into `folder`/`fileName`. The
// name must be a plain name; the file appears only once it is whole.
DownloadOutcome DownloadPicture(HttpClient& client, const std::string& url,
                                const std::string& folder, const std::string& fileName,
                                const KeepGoing& keepGoing = {});

// The cover step of writing: after each saved row whose format holds
// pictures, the album's cover (downloaded once into `folder`) is added as
// its first picture. Rows of other formats get no cover.
AfterSave CoverAdder(HttpClient& client, const PictureFolder& folder, const Album& album);

}  // namespace sondrel::net::store
