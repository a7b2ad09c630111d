// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/rtf_text.h"

#include <cctype>
#include <vector>

#include "util/codepage.h"
#include "util/unicode.h"

namespace sondrel::media {

namespace {

constexpr int kMaxDepth = 256;

bool IsSkippedDestination(std::string_view word) {
    for (std::string_view d : {"fonttbl",
                               "colortbl",
                               "stylesheet",
                               "info",
                               "pict",
                               "header",
                               "footer",
                               "headerl",
                               "headerr",
                               "footerl",
                               "footerr",
                               "object",
                               "themedata",
                               "datastore",
                               "latentstyles",
                               "listtable",
                               "listoverridetable",
                               "rsidtbl",
                               "generator",
                               "xmlnstbl"})
        if (word == d)
            return true;
    return false;
}

}  // namespace

std::string RtfToText(std::string_view rtf, std::string_view codepage) {
    std::string cp(codepage);
    std::string out;
    std::string pending;  // code-page bytes waiting for conversion
    auto flush = [&] {
        if (!pending.empty()) {
            out += CodePageToUtf8(pending, cp);
            pending.clear();
        }
    };
    struct Group {
        bool skip = false;
        int unicodeSkip = 1;
    };
    std::vector<Group> groups{{}};
    int skipAfterUnicode = 0;
    bool nextIsDestination = false;
    for (std::size_t i = 0; i < rtf.size();) {
        const char c = rtf[i];
        Group& g = groups.back();
        if (c == '{') {
            if (groups.size() < kMaxDepth)
                groups.push_back(g);
            ++i;
            continue;
        }
        if (c == '}') {
            if (groups.size() > 1)
                groups.pop_back();
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            if (skipAfterUnicode > 0)
                --skipAfterUnicode;
            else if (!g.skip)
                pending += c;
            ++i;
            continue;
        }
        // A control symbol or word.
        if (i + 1 >= rtf.size())
            break;
        const char next = rtf[i + 1];
        if (next == '\'') {
            if (i + 3 < rtf.size() && std::isxdigit(static_cast<unsigned char>(rtf[i + 2])) &&
                std::isxdigit(static_cast<unsigned char>(rtf[i + 3]))) {
                const int byte = std::stoi(std::string(rtf.substr(i + 2, 2)), nullptr, 16);
                if (skipAfterUnicode > 0)
                    --skipAfterUnicode;
                else if (!g.skip)
                    pending += static_cast<char>(byte);
            }
            i += 4;
            continue;
        }
        if (next == '*') {
            nextIsDestination = true;
            i += 2;
            continue;
        }
        if (!std::isalpha(static_cast<unsigned char>(next))) {
            if (!g.skip && (next == '\\' || next == '{' || next == '}'))
                pending += next;
            else if (!g.skip && next == '~')
                pending += ' ';
            i += 2;
            continue;
        }
        std::size_t j = i + 1;
        while (j < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[j])))
            ++j;
        std::string word(rtf.substr(i + 1, j - i - 1));
        std::size_t k = j;
        if (k < rtf.size() && rtf[k] == '-')
            ++k;
        while (k < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[k])) && k - j < 10)
            ++k;
        const bool hasNumber = k > j && std::isdigit(static_cast<unsigned char>(rtf[k - 1]));
        const long number = hasNumber ? std::stol(std::string(rtf.substr(j, k - j))) : 0;
        if (k < rtf.size() && rtf[k] == ' ')
            ++k;
        i = k;
        if (nextIsDestination || IsSkippedDestination(word)) {
            nextIsDestination = false;
            g.skip = true;
            continue;
        }
        if (g.skip)
            continue;
        if (word == "par" || word == "line") {
            flush();
            out += '\n';
        } else if (word == "tab") {
            pending += '\t';
        } else if (word == "ansicpg" && hasNumber) {
            cp = "windows-" + std::to_string(number);
        } else if (word == "uc" && hasNumber) {
            g.unicodeSkip = static_cast<int>(number);
        } else if (word == "u" && hasNumber) {
            flush();
            // A stray surrogate or an out-of-range value becomes U+FFFD there.
            sondrel::AppendUtf8(out, static_cast<char32_t>(number < 0 ? number + 65536 : number));
            skipAfterUnicode = g.unicodeSkip;
        }
    }
    flush();
    return out;
}

}  // namespace sondrel::media
