// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/cover_art.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <span>

#include "editor/format_registry.h"
#include "net/musicbrainz.h"

namespace sondrel::net::coverart {

namespace {

// Written beside its name and renamed when whole, so a reader never sees
// half a picture.
bool WriteWhole(const std::string& folder, const std::string& target, std::string_view bytes) {
    std::string partial = folder + "/.download-XXXXXX";
    const int fd = ::mkstemp(partial.data());
    if (fd < 0)
        return false;
    bool written = true;
    for (std::size_t done = 0; written && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            written = false;
        else
            done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        written = false;
    if (!written || std::rename(partial.c_str(), target.c_str()) != 0) {
        ::unlink(partial.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string FrontCoverUrl(std::string_view host, std::string_view releaseId) {
    if (!musicbrainz::IsMbid(releaseId))
        return {};
    return web::BaseUrl(host, kDefaultHost) + "/release/" + std::string(releaseId) + "/front";
}

std::string ExtensionOf(ImageKind kind) {
    switch (kind) {
        case ImageKind::Jpeg:
            return ".jpg";
        case ImageKind::Png:
            return ".png";
        case ImageKind::Gif:
            return ".gif";
        case ImageKind::Bmp:
            return ".bmp";
        case ImageKind::Tiff:
            return ".tif";
        case ImageKind::Webp:
            return ".webp";
        case ImageKind::None:
            break;
    }
    return {};
}

CoverOutcome FetchCover(HttpClient& client, const web::Endpoint& endpoint, const std::string& url,
                        const std::string& userAgent, const KeepGoing& keepGoing) {
    CoverOutcome outcome;
    const std::string prefix = "Cover Art Archive: ";
    if (std::string why = web::RefusedUrl(url, endpoint.allowLoopbackHttp); !why.empty()) {
        outcome.error = prefix + why;
        return outcome;
    }
    HttpRequest request;
    request.url = url;
    request.userAgent = userAgent;
    request.maxBytes = web::kMaxPictureBytes;
    request.readTimeoutSeconds = 20;
    request.totalTimeoutSeconds = web::kMaxPictureSeconds;
    request.httpsOnly = !(endpoint.allowLoopbackHttp && web::IsLoopbackUrl(url));
    request.refuseRedirect = web::RedirectRule(endpoint.allowLoopbackHttp);
    const HttpResponse response = client.Fetch(request, keepGoing);
    if (!response.ok && response.failure == HttpFailure::Refused) {
        outcome.error = prefix + response.error;
        return outcome;
    }
    if (std::string why = web::RefusedRedirect(response, endpoint.allowLoopbackHttp);
        !why.empty()) {
        outcome.error = prefix + why;
        return outcome;
    }
    if (response.ok && response.status == 404) {
        outcome.error = prefix + HostOfUrl(url) + ": " + kMsgNoCover;
        return outcome;
    }
    if (!response.ok || response.status != 200) {
        outcome.error = DescribeFailure("Cover Art Archive", url, response);
        return outcome;
    }
    const auto* head = reinterpret_cast<const std::uint8_t*>(response.body.data());
    outcome.kind = SignatureOf(std::span(head, response.body.size()));
    if (outcome.kind == ImageKind::None) {
        outcome.error = prefix + HostOfUrl(url) + ": the answer is not a picture";
        return outcome;
    }
    outcome.bytes = response.body;
    outcome.ok = true;
    return outcome;
}

store::DownloadOutcome DownloadCover(HttpClient& client, const web::Endpoint& endpoint,
                                     const std::string& url, const std::string& userAgent,
                                     const std::string& folder, std::string_view stem,
                                     const KeepGoing& keepGoing) {
    store::DownloadOutcome outcome;
    // The stem is made safe the same way as the store's picture names.
    const std::string name = store::SafePictureName(stem, "");
    if (folder.empty()) {
        outcome.error = "the picture has no place to go";
        return outcome;
    }
    CoverOutcome cover = FetchCover(client, endpoint, url, userAgent, keepGoing);
    if (!cover.ok) {
        outcome.error = std::move(cover.error);
        return outcome;
    }
    const std::string target =
        folder + "/" + name.substr(0, name.rfind('.')) + ExtensionOf(cover.kind);
    if (!WriteWhole(folder, target, cover.bytes)) {
        outcome.error = "The picture could not be written into " + folder;
        return outcome;
    }
    outcome.ok = true;
    outcome.path = target;
    return outcome;
}

AfterSave CoverArtAdder(HttpClient& client, web::Endpoint endpoint, std::string userAgent,
                        const store::PictureFolder& folder) {
    // One download per address; a failed one is reported once per file
    // that wanted it, and not tried again.
    struct Got {
        std::string file;
        std::string error;
    };
    auto cache = std::make_shared<std::map<std::string, Got>>();
    return [&client, &folder, endpoint = std::move(endpoint), userAgent = std::move(userAgent),
            cache](const BatchRow& row, TagBridge& bridge) -> std::string {
        const std::string path = row.data.FullPath();
        const FormatHandler* handler = HandlerOfPath(path);
        if (row.CoverUrl.empty() || handler == nullptr || !handler->HoldsPictures())
            return {};
        auto it = cache->find(row.CoverUrl);
        if (it == cache->end()) {
            const std::string stem = "cover-" + std::to_string(cache->size() + 1);
            const store::DownloadOutcome got =
                DownloadCover(client, endpoint, row.CoverUrl, userAgent, folder.path(), stem);
            it = cache->emplace(row.CoverUrl, Got{got.path, got.error}).first;
        }
        if (!it->second.error.empty())
            return "the cover was not added: " + it->second.error;
        std::string error = handler->LoadPictures(bridge, path);
        std::string warning;
        if (error.empty())
            error = handler->AddPicture(bridge, 0, it->second.file, "", 3, warning);
        return error.empty() ? std::string() : "the cover was not added: " + error;
    };
}

}  // namespace sondrel::net::coverart
