// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/html_text.h"

#include <algorithm>
#include <cctype>

#include "net/web_service.h"

namespace sondrel::net {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kMarker = "\\n";  // stands for a line end until step 15

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::size_t FindNoCase(std::string_view text, std::string_view what, std::size_t from = 0) {
    if (from > text.size())
        return std::string::npos;
    auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                          what.begin(), what.end(), [](char a, char b) {
                              return std::toupper(static_cast<unsigned char>(a)) ==
                                     std::toupper(static_cast<unsigned char>(b));
                          });
    return it == text.end() ? std::string::npos : static_cast<std::size_t>(it - text.begin());
}

// Every occurrence, left to right, the search going on after the inserted text.
void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

// Every occurrence, the search going on at the replacement, so runs shrink
// to nothing left to find (`to` must be shorter than `from`).
void ReplaceUntilGone(std::string& text, std::string_view from, std::string_view to,
                      std::size_t backUp = 0) {
    for (std::size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos > backUp ? pos - backUp : 0))
        text.replace(pos, from.size(), to);
}

void CutBySite(std::string& page, std::string_view url, std::span<const LyricsSite> sites,
               SiteMarkerCounts* counts) {
    const std::string upperUrl = Upper(url);
    auto site = std::find_if(sites.begin(), sites.end(), [&](const LyricsSite& s) {
        return upperUrl.find(Upper(s.site)) != std::string::npos;
    });
    if (site == sites.end())
        return;
    if (counts)
        ++counts->templates;
    // An empty marker cannot delimit anything: such an entry always misses.
    std::size_t start =
        site->startMarker.empty() ? std::string::npos : page.find(site->startMarker);
    std::size_t end = std::string::npos;
    if (start != std::string::npos && !site->endMarker.empty())
        end = page.find(site->endMarker, start + site->startMarker.size());
    if (end == std::string::npos) {
        if (counts)
            ++counts->errors;
        return;
    }
    page = page.substr(start, end - start);
}

}  // namespace

std::string PageToText(std::string page, std::string_view url, std::span<const LyricsSite> sites,
                       bool usePatterns, SiteMarkerCounts* counts) {
    if (usePatterns)
        CutBySite(page, url, sites, counts);

    // Preformatted sections keep their line breaks as <br>.
    for (std::size_t pos = FindNoCase(page, "<PRE"); pos != std::string::npos;) {
        std::size_t end = FindNoCase(page, "</PRE>", pos);
        if (end == std::string::npos)
            break;
        std::string section = page.substr(pos, end - pos);
        ReplaceAll(section, "\r\n", "<br>");
        ReplaceAll(section, "\n", "<br>");
        page.replace(pos, end - pos, section);
        pos = FindNoCase(page, "<PRE", pos + section.size());
    }

    ReplaceAll(page, "\r\n", "");
    ReplaceAll(page, "\n", "");
    ReplaceAll(page, "\r", "");

    if (std::size_t body = FindNoCase(page, "<BODY"); body != std::string::npos)
        page.erase(0, body);

    for (std::size_t pos = FindNoCase(page, "<SCRIPT"); pos != std::string::npos;) {
        std::size_t end = FindNoCase(page, "</SCRIPT>", pos);
        if (end == std::string::npos)
            break;  // an open script cannot be delimited; it stays as text
        page.erase(pos, end + 9 - pos);
        pos = FindNoCase(page, "<SCRIPT", pos);
    }

    for (std::string_view heading : {std::string_view("</H1>"), std::string_view("</H2>")})
        for (std::size_t pos = FindNoCase(page, heading); pos != std::string::npos;) {
            page.insert(pos + heading.size(), kLineEnd);
            pos = FindNoCase(page, heading, pos + heading.size() + kLineEnd.size());
        }

    ReplaceAll(page, "<BR>", kMarker);
    ReplaceAll(page, "<br>", kMarker);
    ReplaceAll(page, "<br />", kMarker);

    for (std::size_t pos = page.find("</"); pos != std::string::npos; pos = page.find("</", pos)) {
        std::size_t end = page.find('>', pos);
        if (end == std::string::npos)
            break;
        page.erase(pos, end + 1 - pos);
    }
    for (std::size_t pos = page.find('<'); pos != std::string::npos; pos = page.find('<', pos)) {
        std::size_t end = page.find('>', pos);
        if (end == std::string::npos)
            break;
        page.erase(pos, end + 1 - pos);
    }

    ReplaceAll(page, "&nbsp;", " ");
    ReplaceAll(page, "&nbsp", " ");
    ReplaceAll(page, "&gt;", ">");
    ReplaceAll(page, "&lt;", "<");
    ReplaceAll(page, "&amp;", "&");

    ReplaceAll(page, "\t", "");
    ReplaceUntilGone(page, "  ", " ");

    ReplaceUntilGone(page, " \r\n", "\r\n");
    ReplaceUntilGone(page, " \\n", kMarker);
    ReplaceUntilGone(page, "\t\r\n", "\r\n");

    ReplaceAll(page, "\r\n\r\n", "\r\n");
    ReplaceAll(page, "\r\n ", "\r\n");
    ReplaceAll(page, "\\n ", kMarker);

    ReplaceAll(page, "&raquo;", ">>");
    ReplaceAll(page, "&#39;", "'");
    ReplaceAll(page, "&#039;", "'");
    ReplaceAll(page, "&quot;", "\"");
    ReplaceAll(page, "&#8220;", "\"");
    ReplaceAll(page, "&#8221;", "\"");
    ReplaceAll(page, "&copy;", "(c)");
    ReplaceAll(page, "&#133;", "...");
    ReplaceAll(page, "&#0149;", "-");

    ReplaceAll(page, kMarker, kLineEnd);
    // A page's control characters and direction overrides would land in
    // the lyrics tag; its other line breaks become ours.
    page = web::StripControls(page, kLineEnd);
    ReplaceUntilGone(page, "\r\n\r\n\r\n", "\r\n\r\n", 2);

    std::size_t lead = 0;
    while (page.compare(lead, 2, kLineEnd) == 0)
        lead += 2;
    while (lead < page.size() && page[lead] == ' ')
        ++lead;
    page.erase(0, lead);
    return page;
}

}  // namespace sondrel::net
