// SPDX-License-Identifier: GPL-3.0-or-later
// Finding an album cover on the web: the store's product web service by
// artist and album (then artist and title) on each store site, and, when
// allowed, a slower search through a web search engine for a product page
// with a larger picture. Only http and https links found in the answers are
// followed; every host is a setting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_client.h"

namespace sondrel::net {

enum class CoverStatus { Ok, NoMatch, KeywordsTooShort, Failed };

struct CoverSettings {
    // "%s" stands for the site suffix ("com", "co.uk", "de").
    std::string storeBaseTemplate = "http://webservices.amazon.%s";
    std::string subscriptionId = "7QX2M4KD9ZP1RTB8WN3C";
    std::vector<std::string> siteSuffixes{"com", "co.uk", "de"};
    std::string searchBase = "http://www.google.com";
    std::string retailerDomain = "amazon.com";
    std::string referer = "http://www.google.com/";
    std::string userAgent = "Mozilla/4.0 (compatible)";
    bool approximateSearch = false;  // the slow search-engine route
};

// Keywords for a query: spaces become "+", "&" and "," are dropped. Six
// characters or fewer are too short to send.
std::string CoverKeywords(std::string_view text);
inline constexpr std::size_t kMinCoverKeywords = 7;

std::string StoreQueryUrl(const CoverSettings& settings, std::string_view suffix,
                          std::string_view keywords);
// The large picture's address in a store answer; empty when there is none
// or it is not an http/https address.
std::string ParseStoreAnswer(std::string_view answer);

// Artist, title and (when not empty) album, each in double quotes.
std::string CoverSearchQuery(std::string_view artist, std::string_view title,
                             std::string_view album);
std::string CoverSearchUrl(const CoverSettings& settings, std::string_view keywords, int counter);

// The product page link of result `counter` on a results page; empty with
// `status` set when the page has no such result.
std::string ParseResultPage(std::string_view page, int counter, CoverStatus& status);
// The address of the "see larger picture" link's picture; empty when absent.
std::string FollowProductPage(std::string_view page);

struct CoverResult {
    CoverStatus status = CoverStatus::Ok;
    std::string url;                  // the picture's address
    std::vector<std::uint8_t> bytes;  // the picture as fetched; empty when none
};

class CoverSearch {
public:
    CoverSearch(HttpClient& client, CoverSettings settings)
        : client_(client), settings_(std::move(settings)) {}

    // The whole chain for one file; `keepGoing` false stops sending requests.
    CoverResult FindCover(std::string_view artist, std::string_view title, std::string_view album,
                          const KeepGoing& keepGoing = {});
    // One store site; empty when it gave no address.
    std::string QueryStoreCover(std::string_view keywords, std::string_view suffix,
                                CoverStatus& status, const KeepGoing& keepGoing);
    // The search-engine route; empty when it found no picture.
    std::string FindCoverBySearch(std::string_view artist, std::string_view title,
                                  std::string_view album, CoverStatus& status,
                                  const KeepGoing& keepGoing);
    std::string QuerySearchEngine(std::string_view query, int& counter, CoverStatus& status,
                                  const KeepGoing& keepGoing);
    std::vector<std::uint8_t> DownloadPicture(const std::string& url, const KeepGoing& keepGoing);

private:
    HttpResponse Get(const std::string& url, const KeepGoing& keepGoing, std::size_t maxBytes);

    HttpClient& client_;
    CoverSettings settings_;
};

}  // namespace sondrel::net
