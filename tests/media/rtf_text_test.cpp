// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/rtf_text.h"

#include <gtest/gtest.h>

namespace sondrel::media {
namespace {

TEST(RtfToText, Documents) {
    struct Case {
        const char* what;
        std::string rtf, text;
    };
    const Case cases[] = {
        {"paragraphs", R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0 Line one\par Line two\par})",
         "Line one\nLine two\n"},
        {"skipped destinations",
         R"({\rtf1{\colortbl;\red0\green0\blue0;}{\*\generator Writer;}{\info{\title T}}Text})",
         "Text"},
        {"code page bytes", R"({\rtf1\ansi\ansicpg1252 Caf\'e9 \'93x\'94})", "Café “x”"},
        {"unicode with fallback", R"({\rtf1\uc1 \u1055?\u1088?\u1080?})", "При"},
        {"escaped braces", R"({\rtf1 a\{b\}c\\d})", "a{b}c\\d"},
        {"line and tab", R"({\rtf1 a\line b\tab c})", "a\nb\tc"},
        {"source line ends ignored", "{\\rtf1 one\r\ntwo}", "onetwo"},
        {"unbalanced", R"({\rtf1 {{{ text)", " text"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RtfToText(c.rtf), c.text) << c.what;
    // A document's own code page wins over the caller's.
    EXPECT_EQ(RtfToText(R"({\rtf1\ansi\ansicpg1251 \'cf})", "windows-1252"), "П");
    EXPECT_EQ(RtfToText(R"({\rtf1 \'cf})", "windows-1251"), "П");
}

}  // namespace
}  // namespace sondrel::media
