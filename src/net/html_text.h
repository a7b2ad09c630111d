// SPDX-License-Identifier: GPL-3.0-or-later
// A fetched lyrics page turned into plain text. The page is only text here:
// nothing in it is run or followed. Line ends in the result are CR LF.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "net/lyrics_sites.h"

namespace sondrel::net {

// How often site markers were used and how often they missed; kept across
// runs in the settings.
struct SiteMarkerCounts {
    long templates = 0;  // pages cut (or tried) by a site entry
    long errors = 0;     // site entries whose markers were not found
};

// The page's text, cut first by the markers of the first site whose text
// occurs in `url` (case-insensitively) when `usePatterns` is set.
std::string PageToText(std::string page, std::string_view url, std::span<const LyricsSite> sites,
                       bool usePatterns, SiteMarkerCounts* counts = nullptr);

}  // namespace sondrel::net
