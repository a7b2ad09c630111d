// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/cover_search.h"

#include "net/lyrics_search.h"

namespace sondrel::net {

namespace {

constexpr std::size_t kPageBytes = 4u << 20;
// A picture file is refused above 64 MiB anyway; a download stops there.
constexpr std::size_t kPictureBytes = 64u << 20;

bool Going(const KeepGoing& keepGoing) {
    return !keepGoing || keepGoing();
}

}  // namespace

std::string CoverKeywords(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == ' ')
            out += '+';
        else if (c != '&' && c != ',')
            out += c;
    }
    return out;
}

std::string StoreQueryUrl(const CoverSettings& settings, std::string_view suffix,
                          std::string_view keywords) {
    std::string base = settings.storeBaseTemplate;
    if (std::size_t at = base.find("%s"); at != std::string::npos)
        base.replace(at, 2, suffix);
    return base +
           "/onca/xml?Service=AWSECommerceService&SubscriptionId=" + settings.subscriptionId +
           "&Operation=ItemSearch&Keywords=" + std::string(keywords) +
           "&SearchIndex=Music&ResponseGroup=Request,Images";
}

std::string ParseStoreAnswer(std::string_view answer) {
    std::size_t large = answer.find("<LargeImage>");
    if (large == std::string_view::npos)
        return {};
    std::size_t url = answer.find("http", large);
    if (url == std::string_view::npos)
        return {};
    std::size_t end = answer.find("</URL>", url);
    if (end == std::string_view::npos)
        return {};
    std::string address(answer.substr(url, end - url));
    return IsWebLink(address) ? address : std::string();
}

std::string CoverSearchQuery(std::string_view artist, std::string_view title,
                             std::string_view album) {
    std::string query = "\"" + std::string(artist) + "\" \"" + std::string(title) + "\"";
    if (!album.empty())
        query += " \"" + std::string(album) + "\"";
    return query;
}

std::string CoverSearchUrl(const CoverSettings& settings, std::string_view keywords, int counter) {
    return settings.searchBase + "/palm?q=site:" + settings.retailerDomain + "+" +
           std::string(keywords) +
           "+%22see+larger+picture%22&hl=en&lr=&ie=ISO-8859-1&safe=off&start=" +
           std::to_string(counter - 1) + "&num=5&sa=N";
}

std::string ParseResultPage(std::string_view page, int counter, CoverStatus& status) {
    ResultsHeader header = ParseResultsHeader(page);
    if (header.outcome == kLyricsNoMatch) {
        status = CoverStatus::NoMatch;
        return {};
    }
    if (header.outcome != kLyricsOk || counter < header.first || counter > header.last) {
        status = CoverStatus::Failed;
        return {};
    }
    int outcome = kLyricsOk;
    std::string link = NthResultLink(page, counter - header.first + 1, outcome);
    if (outcome != kLyricsOk || !IsWebLink(link)) {
        status = CoverStatus::Failed;
        return {};
    }
    return link;
}

std::string FollowProductPage(std::string_view page) {
    std::size_t phrase = page.find("see larger picture");
    if (phrase == std::string_view::npos)
        return {};
    std::size_t anchor = page.find("<a href=\"", phrase > 100 ? phrase - 100 : 0);
    if (anchor == std::string_view::npos || anchor >= phrase)
        return {};
    std::size_t end = page.find('"', anchor + 10);
    if (end == std::string_view::npos)
        return {};
    std::string address(page.substr(anchor + 9, end - (anchor + 9)));
    return IsWebLink(address) ? address : std::string();
}

HttpResponse CoverSearch::Get(const std::string& url, const KeepGoing& keepGoing,
                              std::size_t maxBytes) {
    HttpRequest request;
    request.url = url;
    request.userAgent = settings_.userAgent;
    request.referer = settings_.referer;
    request.maxBytes = maxBytes;
    request.readTimeoutSeconds = 20;
    return client_.Fetch(request, keepGoing);
}

std::string CoverSearch::QueryStoreCover(std::string_view keywords, std::string_view suffix,
                                         CoverStatus& status, const KeepGoing& keepGoing) {
    std::string words = CoverKeywords(keywords);
    if (words.size() < kMinCoverKeywords) {
        status = CoverStatus::KeywordsTooShort;
        return {};
    }
    if (!Going(keepGoing))
        return {};
    HttpResponse answer = Get(StoreQueryUrl(settings_, suffix, words), keepGoing, kPageBytes);
    if (!answer.ok || answer.status >= 400) {
        status = CoverStatus::Failed;
        return {};
    }
    return ParseStoreAnswer(answer.body);
}

std::string CoverSearch::QuerySearchEngine(std::string_view query, int& counter,
                                           CoverStatus& status, const KeepGoing& keepGoing) {
    std::string words = CoverKeywords(query);
    if (words.size() < kMinCoverKeywords) {
        status = CoverStatus::KeywordsTooShort;
        return {};
    }
    if (!Going(keepGoing))
        return {};
    HttpResponse page = Get(CoverSearchUrl(settings_, words, counter), keepGoing, kPageBytes);
    if (!page.ok || page.status >= 400) {
        status = CoverStatus::Failed;
        return {};
    }
    if (status != CoverStatus::Ok)
        return {};
    std::string link = ParseResultPage(page.body, counter, status);
    if (link.empty())
        return {};
    if (!Going(keepGoing))
        return {};
    HttpResponse product = Get(link, keepGoing, kPageBytes);
    ++counter;
    if (!product.ok || product.status >= 400) {
        status = CoverStatus::Failed;
        return {};
    }
    return FollowProductPage(product.body);
}

std::string CoverSearch::FindCoverBySearch(std::string_view artist, std::string_view title,
                                           std::string_view album, CoverStatus& status,
                                           const KeepGoing& keepGoing) {
    status = CoverStatus::Ok;
    int counter = 1;
    std::string url =
        QuerySearchEngine(CoverSearchQuery(artist, title, album), counter, status, keepGoing);
    if (url.empty() && status == CoverStatus::NoMatch && !album.empty()) {
        status = CoverStatus::Ok;
        counter = 1;
        url = QuerySearchEngine(CoverSearchQuery(artist, title, {}), counter, status, keepGoing);
    }
    return url;
}

std::vector<std::uint8_t> CoverSearch::DownloadPicture(const std::string& url,
                                                       const KeepGoing& keepGoing) {
    if (!IsWebLink(url) || !Going(keepGoing))
        return {};
    HttpResponse answer = Get(url, keepGoing, kPictureBytes);
    if (!answer.ok || answer.status >= 400)
        return {};
    return {answer.body.begin(), answer.body.end()};
}

CoverResult CoverSearch::FindCover(std::string_view artist, std::string_view title,
                                   std::string_view album, const KeepGoing& keepGoing) {
    CoverResult result;
    auto trySites = [&](const std::string& keywords) {
        result.status = CoverStatus::Ok;
        for (const auto& suffix : settings_.siteSuffixes) {
            result.url = QueryStoreCover(keywords, suffix, result.status, keepGoing);
            if (!result.url.empty() || result.status == CoverStatus::KeywordsTooShort)
                return;
        }
    };
    if (!album.empty())
        trySites(std::string(artist) + " " + std::string(album));
    if (result.url.empty())
        trySites(std::string(artist) + " " + std::string(title));
    if (result.url.empty() && settings_.approximateSearch)
        result.url = FindCoverBySearch(artist, title, album, result.status, keepGoing);
    if (!result.url.empty())
        result.bytes = DownloadPicture(result.url, keepGoing);
    if (result.bytes.empty() && result.status == CoverStatus::Ok)
        result.status = result.url.empty() ? CoverStatus::NoMatch : CoverStatus::Failed;
    return result;
}

}  // namespace sondrel::net
