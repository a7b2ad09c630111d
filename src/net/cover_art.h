// SPDX-License-Identifier: GPL-3.0-or-later
// The Cover Art Archive: the front cover of a MusicBrainz release, fetched
// over https (its address redirects to the archive's storage), checked to
// be a picture, kept in a PictureFolder and added to the files that hold
// pictures after the batch save.
#pragma once

#include <string>
#include <string_view>

#include "editor/picture_rules.h"
#include "net/http_client.h"
#include "net/lookup_rows.h"
#include "net/store_lookup.h"
#include "net/web_service.h"

namespace sondrel::net::coverart {

inline constexpr std::string_view kDefaultHost = "https://coverartarchive.org";

// host/release/<id>/front; empty when `releaseId` is no MusicBrainz id.
std::string FrontCoverUrl(std::string_view host, std::string_view releaseId);

// ".jpg", ".png", …; empty for ImageKind::None.
std::string ExtensionOf(ImageKind kind);

struct CoverOutcome {
    bool ok = false;
    std::string error;  // in words, with the host; a missing cover has its own
    std::string bytes;
    ImageKind kind = ImageKind::None;
};
// Fetches `url` (capped at web::kMaxPictureBytes). Bytes that are not a
// picture by their signature are refused.
CoverOutcome FetchCover(HttpClient& client, const web::Endpoint& endpoint, const std::string& url,
                        const std::string& userAgent, const KeepGoing& keepGoing = {});
inline constexpr const char* kMsgNoCover = "the release has no front cover";

// FetchCover, then the bytes written as `folder`/`stem` plus the picture's
// extension; the file appears only once it is whole.
store::DownloadOutcome DownloadCover(HttpClient& client, const web::Endpoint& endpoint,
                                     const std::string& url, const std::string& userAgent,
                                     const std::string& folder, std::string_view stem,
                                     const KeepGoing& keepGoing = {});

// The cover step of writing: the rows' cover address (fetched once per
// address into `folder`) is added as the front cover of each saved row
// whose format holds pictures.
AfterSave CoverArtAdder(HttpClient& client, web::Endpoint endpoint, std::string userAgent,
                        const store::PictureFolder& folder);

}  // namespace sondrel::net::coverart
