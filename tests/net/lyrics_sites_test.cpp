// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lyrics_sites.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace sondrel::net {
namespace {

using test::Bytes;

std::string Decode(const Bytes& b) {
    auto text = DecodeSitesData(b);
    return text ? *text : "<damaged>";
}

TEST(SitesData, EncodedTextsDecodeBackWhole) {
    for (std::string text : {std::string("ab"), std::string("abracadabra\r\n"),
                             std::string("x.com\r\n<div class=\"lyrics\">\r\n</div>\r\n"),
                             std::string(5000, 'q') + "z", std::string("\0\xff\x01", 3)}) {
        SCOPED_TRACE(text.substr(0, 20));
        EXPECT_EQ(Decode(EncodeSitesData(text)), text);
    }
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<std::size_t>(i % 7 + 1), static_cast<char>(i));
    EXPECT_EQ(Decode(EncodeSitesData(all)), all);
}

TEST(SitesData, HandBuiltTreeDecodesBitsFromTheTop) {
    // Two leaves 'a' (bit 0) and 'b' (bit 1) under root 256 (m = 2).
    // Bits 0110 1000 give "abba" then stop at L = 4 even though bits remain.
    Bytes file{4, 0, 0, 0, 2, 0, 'a', 0, 'b', 0, 0b01101000};
    EXPECT_EQ(Decode(file), "abba");
}

TEST(SitesData, SingleSymbolHeaderGivesNoText) {
    // m = 1: one byte and a count; that run is never taken as text.
    Bytes file{5, 0, 0, 0, 1, 0, 'x', 5, 0, 0, 0};
    EXPECT_EQ(Decode(file), "");
    EXPECT_TRUE(ParseSites(Decode(file)).empty());
    Bytes encoded = EncodeSitesData("xxxxx");
    EXPECT_EQ(encoded, file);
}

TEST(SitesData, DamageIsReportedNotDecoded) {
    const Bytes good = EncodeSitesData("hello\r\nworld\r\n");
    struct Case {
        const char* what;
        Bytes bytes;
    };
    Bytes shortBits = good;
    shortBits.pop_back();
    Bytes badChild = good;
    badChild[6] = 0xff;
    badChild[7] = 0x7f;  // a node far beyond the root
    Bytes hugeLength = good;
    hugeLength[3] = 0x7f;
    Bytes zeroM = good;
    zeroM[4] = 0;
    zeroM[5] = 0;
    const Case cases[] = {
        {"empty", {}},
        {"header cut", {4, 0, 0}},
        {"tree cut", {4, 0, 0, 0, 3, 0, 'a', 0}},
        {"bits run out", shortBits},
        {"child beyond the root", badChild},
        {"length beyond the cap", hugeLength},
        {"m = 0", zeroM},
        {"m = 1 without its count", {4, 0, 0, 0, 1, 0, 'x'}},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(DecodeSitesData(c.bytes).has_value()) << c.what;
}

TEST(SitesList, LinesMakeTriplesAndTheLastPartialGroupHasEmptyMarkers) {
    // Seven complete lines: two full sites and a third with empty markers.
    auto sites = ParseSites("a.com\r\n<a>\r\n</a>\r\nb.com\n<b>\r</b>\r\nc.com\r\n");
    ASSERT_EQ(sites.size(), 3u);
    EXPECT_EQ(sites[0], (LyricsSite{"a.com", "<a>", "</a>"}));
    EXPECT_EQ(sites[1], (LyricsSite{"b.com", "<b>", "</b>"}));
    EXPECT_EQ(sites[2], (LyricsSite{"c.com", "", ""}));
    // A last line without a line end is ignored.
    EXPECT_EQ(ParseSites("a.com\r\n<a>\r\n</a>\r\nd.com").size(), 1u);
    EXPECT_TRUE(ParseSites("Error").empty());
}

TEST(SitesList, LoadingReadsTheFileAndMissingOrDamagedGivesNone) {
    test::TempDir dir;
    test::WriteAll(dir.file("sites.dat"), EncodeSitesData("x.com\r\n<p>\r\n</p>\r\n"));
    EXPECT_EQ(LoadSites(dir.file("sites.dat")),
              (std::vector<LyricsSite>{{"x.com", "<p>", "</p>"}}));
    EXPECT_TRUE(LoadSites(dir.file("missing.dat")).empty());
    test::WriteAll(dir.file("bad.dat"), std::string("not coded at all"));
    EXPECT_TRUE(LoadSites(dir.file("bad.dat")).empty());
}

TEST(SitesList, ShippedFileHoldsSites) {
    auto sites = LoadSites(SONDREL_SOURCE_DIR "/resources/lyrics/sites.dat");
    ASSERT_GE(sites.size(), 3u);
    for (const auto& s : sites) {
        EXPECT_FALSE(s.site.empty());
        EXPECT_FALSE(s.startMarker.empty()) << s.site;
        EXPECT_FALSE(s.endMarker.empty()) << s.site;
    }
}

}  // namespace
}  // namespace sondrel::net
