// SPDX-License-Identifier: GPL-3.0-or-later
// The lyrics search: a web search engine's simple results page is asked for
// pages whose title holds the artist, the title and "lyrics"; results are
// taken one by one, fetched and turned into text. Everything goes through
// HttpClient, so tests answer from a table.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/html_text.h"
#include "net/http_client.h"
#include "net/lyrics_sites.h"

namespace sondrel::net {

// Outcome codes of a search step; 0 is success.
enum LyricsOutcome : int {
    kLyricsOk = 0,
    kLyricsNoMatch = -1,    // the engine found nothing
    kLyricsNoResults = -2,  // the page lacks "Results "
    kLyricsNoOfAbout = -3,  // ... " of about "
    kLyricsNoDash = -4,     // ... the "-" between the numbers
    kLyricsNoFor = -5,      // ... " for"
    kLyricsOtherPage = -6,  // the result is on another results page
    kLyricsNoLinkEnd = -7,  // a result without a followable http/https link
    kLyricsNoLink = -8,     // fewer results on the page than it says
    kLyricsPageError = -9,  // the lyrics page answered 400 or more
    kLyricsQueryTooShort = -20,
    kLyricsPageFailed = -98,    // the lyrics page could not be fetched
    kLyricsSearchFailed = -99,  // the results page could not be fetched
    kLyricsSearchError = -100,  // the results page answered 400 or more
};

// The numbers a results page shows: "Results first - last of about total for".
struct ResultsHeader {
    int outcome = kLyricsOk;  // kLyricsNoMatch .. kLyricsNoFor when unreadable
    int first = 0;
    int last = 0;
    long total = 0;
};
ResultsHeader ParseResultsHeader(std::string_view page);
// The address of the n-th (1-based) "<p><a href=" result link, as written;
// empty when there is none (`outcome` then says which part was missing).
std::string NthResultLink(std::string_view page, int n, int& outcome);
// Whether the program may follow `url`: http and https only.
bool IsWebLink(std::string_view url);

// Artist and title as the engine's query: spaces become "+", and "&" and ","
// are dropped unless `keepAmpersands`.
std::string LyricsQuery(std::string_view artist, std::string_view title,
                        bool keepAmpersands = false);

// Hosts are settings: each is a base address with its scheme.
struct LyricsSettings {
    std::string searchBase = "http://www.google.com";
    std::string referer = "http://www.google.com/";
    std::string userAgent = "Mozilla/4.0 (compatible)";
    bool usePatterns = true;
};
std::string LyricsSearchUrl(std::string_view searchBase, std::string_view query, int start);

// One search and its "next result" steps. Counters live as long as the
// object; the window loads and stores them with its settings.
class LyricsSearch {
public:
    LyricsSearch(HttpClient& client, LyricsSettings settings, std::vector<LyricsSite> sites);

    struct Step {
        int outcome = kLyricsOk;
        std::string text;  // the lyrics when outcome is 0
        std::string url;   // the page they came from
    };
    // A new search for the first result.
    Step Search(std::string_view artist, std::string_view title, const KeepGoing& keepGoing = {});
    // The next result of the last search (another results page when needed).
    Step Next(const KeepGoing& keepGoing = {});

    int Result() const { return r_; }
    long searches = 0;  // "LyricsCount"
    SiteMarkerCounts markers;

private:
    Step TakeResult(const KeepGoing& keepGoing);
    HttpResponse Get(const std::string& url, const KeepGoing& keepGoing);

    HttpClient& client_;
    LyricsSettings settings_;
    std::vector<LyricsSite> sites_;
    std::string artist_, title_;
    std::string lastPage_;
    int r_ = 1;
};

}  // namespace sondrel::net
