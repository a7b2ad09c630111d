// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lyrics_search.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace sondrel::net {

namespace {

// A whole number after optional leading spaces, nothing after the digits; 0 otherwise.
long WholeNumber(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    long value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty() || s.front() == '-')
        return 0;
    return value;
}

constexpr std::string_view kResultLink = "<p><a href=";

}  // namespace

bool IsWebLink(std::string_view url) {
    auto starts = [&](std::string_view scheme) {
        return url.size() > scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
                   return a == std::tolower(static_cast<unsigned char>(b));
               });
    };
    return starts("http://") || starts("https://");
}

ResultsHeader ParseResultsHeader(std::string_view page) {
    ResultsHeader h;
    if (page.find("did not match any documents") != std::string_view::npos) {
        h.outcome = kLyricsNoMatch;
        return h;
    }
    std::size_t results = page.find("Results ");
    if (results == std::string_view::npos) {
        h.outcome = kLyricsNoResults;
        return h;
    }
    std::size_t ofAbout = page.find(" of about ", results);
    if (ofAbout == std::string_view::npos) {
        h.outcome = kLyricsNoOfAbout;
        return h;
    }
    std::string_view range = page.substr(results + 8, ofAbout - (results + 8));
    std::size_t dash = range.find('-');
    if (dash == std::string_view::npos) {
        h.outcome = kLyricsNoDash;
        return h;
    }
    std::size_t forAt = page.find(" for", ofAbout);
    if (forAt == std::string_view::npos) {
        h.outcome = kLyricsNoFor;
        return h;
    }
    h.first = static_cast<int>(WholeNumber(range.substr(0, dash)));
    h.last = static_cast<int>(WholeNumber(range.substr(dash + 1)));
    std::string total(page.substr(ofAbout + 10, forAt - (ofAbout + 10)));
    if (std::size_t comma = total.find(','); comma != std::string::npos)
        total.erase(comma, 1);
    h.total = WholeNumber(total);
    return h;
}

std::string NthResultLink(std::string_view page, int n, int& outcome) {
    std::size_t at = std::string_view::npos;
    for (std::size_t from = 0; n > 0; --n, from = at + 1) {
        at = page.find(kResultLink, from);
        if (at == std::string_view::npos) {
            outcome = kLyricsNoLink;
            return {};
        }
    }
    std::size_t end = page.find('>', at + 5);
    if (end == std::string_view::npos || end < at + kResultLink.size()) {
        outcome = kLyricsNoLinkEnd;
        return {};
    }
    outcome = kLyricsOk;
    return std::string(page.substr(at + kResultLink.size(), end - (at + kResultLink.size())));
}

std::string LyricsQuery(std::string_view artist, std::string_view title, bool keepAmpersands) {
    std::string query;
    for (char c : std::string(artist) + ' ' + std::string(title)) {
        if (c == ' ')
            query += '+';
        else if (keepAmpersands || (c != '&' && c != ','))
            query += c;
    }
    return query;
}

std::string LyricsSearchUrl(std::string_view searchBase, std::string_view query, int start) {
    return std::string(searchBase) + "/palm?q=allintitle%3A" + std::string(query) +
           "+lyrics&hl=en&lr=&ie=ISO-8859-1&safe=off&start=" + std::to_string(start) +
           "&num=5&sa=N";
}

LyricsSearch::LyricsSearch(HttpClient& client, LyricsSettings settings,
                           std::vector<LyricsSite> sites)
    : client_(client), settings_(std::move(settings)), sites_(std::move(sites)) {}

HttpResponse LyricsSearch::Get(const std::string& url, const KeepGoing& keepGoing) {
    HttpRequest request;
    request.url = url;
    request.userAgent = settings_.userAgent;
    request.referer = settings_.referer;
    request.maxBytes = 4u << 20;
    request.readTimeoutSeconds = 20;
    return client_.Fetch(request, keepGoing);
}

LyricsSearch::Step LyricsSearch::TakeResult(const KeepGoing& keepGoing) {
    Step step;
    ResultsHeader header = ParseResultsHeader(lastPage_);
    if (header.outcome != kLyricsOk) {
        r_ = 0;
        step.outcome = header.outcome;
        return step;
    }
    if (r_ < header.first || r_ > header.last) {
        step.outcome = kLyricsOtherPage;
        return step;
    }
    std::string link = NthResultLink(lastPage_, r_ - header.first + 1, step.outcome);
    if (step.outcome != kLyricsOk)
        return step;
    // The engine wraps targets in its own redirect: keep the address inside.
    if (std::size_t inner = link.find("http://", 1); inner != std::string::npos) {
        link.erase(0, inner);
        if (std::size_t amp = link.rfind('&'); amp != std::string::npos)
            link.erase(amp);
    }
    if (!IsWebLink(link)) {
        ++r_;  // not a page we may fetch: the next step moves on
        step.outcome = kLyricsNoLinkEnd;
        return step;
    }
    HttpResponse page = Get(link, keepGoing);
    ++r_;
    if (!page.ok) {
        step.outcome = kLyricsPageFailed;
        return step;
    }
    if (page.status >= 400) {
        step.outcome = kLyricsPageError;
        return step;
    }
    step.url = link;
    step.text = PageToText(std::move(page.body), link, sites_, settings_.usePatterns, &markers);
    return step;
}

LyricsSearch::Step LyricsSearch::Search(std::string_view artist, std::string_view title,
                                        const KeepGoing& keepGoing) {
    artist_ = artist;
    title_ = title;
    r_ = 1;
    lastPage_.clear();
    Step step;
    std::string query = LyricsQuery(artist, title);
    if (query.size() <= 2) {
        step.outcome = kLyricsQueryTooShort;
        return step;
    }
    HttpResponse page = Get(LyricsSearchUrl(settings_.searchBase, query, r_ - 1), keepGoing);
    if (!page.ok) {
        step.outcome = kLyricsSearchFailed;
        return step;
    }
    if (page.status >= 400) {
        step.outcome = kLyricsSearchError;
        return step;
    }
    ++searches;
    lastPage_ = std::move(page.body);
    do
        step = TakeResult(keepGoing);
    while (step.outcome == kLyricsPageError && (!keepGoing || keepGoing()));
    return step;
}

LyricsSearch::Step LyricsSearch::Next(const KeepGoing& keepGoing) {
    ++searches;
    Step step;
    do
        step = TakeResult(keepGoing);
    while ((step.outcome == kLyricsPageError || step.outcome == kLyricsPageFailed) &&
           (!keepGoing || keepGoing()));
    if (step.outcome != kLyricsOtherPage)
        return step;
    std::string query = LyricsQuery(artist_, title_, true);
    if (query.size() <= 2) {
        step.outcome = kLyricsQueryTooShort;
        return step;
    }
    const int start = std::max(0, (r_ - 1) / 5 * 5);
    HttpResponse page = Get(LyricsSearchUrl(settings_.searchBase, query, start), keepGoing);
    if (page.ok && page.status < 400)
        lastPage_ = std::move(page.body);
    return TakeResult(keepGoing);
}

}  // namespace sondrel::net
