// SPDX-License-Identifier: GPL-3.0-or-later
// Streams JSON text into a string in exactly the layout that
// nlohmann::json::dump(2, ' ', false, replace) gives. `show --json` writes
// one small, fixed-shape object per file; building a json tree of
// std::map nodes for each cost more than reading the file. Keys are
// written in the order given: callers give them sorted, as a json object
// would hold them.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace sondrel::cli {

namespace json_detail {

// Length of the well-formed UTF-8 sequence at s[i] (RFC 3629; no
// surrogates, overlong forms or values past U+10FFFF), or 0.
inline std::size_t SequenceLength(std::string_view s, std::size_t i) {
    const auto at = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    if (c < 0x80)
        return 1;
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;
        else if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (len > s.size() - i)
        return 0;
    if (at(i + 1) < lo || at(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < len; ++k) {
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    }
    return len;
}

// ASCII bytes that go out as they are: everything but controls, quote and
// backslash.
inline constexpr auto kPlain = [] {
    std::array<bool, 128> plain{};
    for (std::size_t c = 0x20; c < 0x80; ++c)
        plain[c] = c != '"' && c != '\\';
    return plain;
}();

}  // namespace json_detail

class JsonWriter {
public:
    explicit JsonWriter(std::string& out) : out_(out) {}

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }

    void Key(std::string_view key) {
        Prefix();
        // Keys are short plain names: one append for the quoted key and colon.
        constexpr std::size_t kShort = 60;
        if (key.size() <= kShort && std::all_of(key.begin(), key.end(), [](char c) {
                const auto u = static_cast<unsigned char>(c);
                return u < 0x80 && json_detail::kPlain[u];
            })) {
            char quoted[kShort + 4];
            quoted[0] = '"';
            std::copy(key.begin(), key.end(), quoted + 1);
            std::copy_n("\": ", 3, quoted + 1 + key.size());
            out_.append(quoted, key.size() + 4);
        } else {
            Quoted(key);
            out_ += ": ";
        }
        afterKey_ = true;
    }

    void String(std::string_view s) {
        Prefix();
        Quoted(s);
    }
    void Bool(bool b) {
        Prefix();
        out_ += b ? "true" : "false";
    }
    void Null() {
        Prefix();
        out_ += "null";
    }
    void Int(long long v) {
        Prefix();
        out_ += std::to_string(v);
    }
    void Double(double v) {
        Prefix();
        // Shortest round-trip digits, ".0" on whole numbers, null for NaN:
        // the library's own number formatting, once per value.
        out_ += nlohmann::json(v).dump();
    }

private:
    struct Level {
        bool empty = true;
    };

    void Open(char bracket) {
        Prefix();
        out_ += bracket;
        levels_.push_back({});
    }
    void Close(char bracket) {
        const bool empty = levels_.back().empty;
        levels_.pop_back();
        if (!empty) {
            out_ += '\n';
            out_.append(2 * levels_.size(), ' ');
        }
        out_ += bracket;
    }
    // The separator and indentation in front of a value or key.
    void Prefix() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (levels_.empty())
            return;
        // The separator, line break and indentation in one append.
        static constexpr std::string_view kBreak =
            ",\n                                                                ";
        const bool first = levels_.back().empty;
        levels_.back().empty = false;
        const std::size_t indent = 2 * levels_.size();
        if (indent + 2 <= kBreak.size()) {
            out_.append(kBreak.substr(first ? 1 : 0, indent + (first ? 1 : 2)));
        } else {
            out_ += first ? "\n" : ",\n";
            out_.append(indent, ' ');
        }
    }
    void Quoted(std::string_view s) {
        const std::size_t mark = out_.size();
        out_ += '"';
        // Runs of bytes that need no escape are appended whole.
        std::size_t run = 0;
        for (std::size_t i = 0; i < s.size();) {
            const auto c = static_cast<unsigned char>(s[i]);
            if (c >= 0x80) {
                const std::size_t len = json_detail::SequenceLength(s, i);
                if (len == 0) {
                    // Malformed text: the library's replacement rules decide.
                    out_.resize(mark);
                    out_ += nlohmann::json(std::string(s))
                                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
                    return;
                }
                i += len;
                continue;
            }
            if (json_detail::kPlain[c]) {
                ++i;
                continue;
            }
            out_.append(s.data() + run, i - run);
            Escape(c);
            run = ++i;
        }
        out_.append(s.data() + run, s.size() - run);
        out_ += '"';
    }
    void Escape(unsigned char c) {
        switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\b':
                out_ += "\\b";
                break;
            case '\f':
                out_ += "\\f";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\r':
                out_ += "\\r";
                break;
            case '\t':
                out_ += "\\t";
                break;
            default: {
                static constexpr char kHex[] = "0123456789abcdef";
                out_ += "\\u00";
                out_ += kHex[c >> 4];
                out_ += kHex[c & 0xF];
            }
        }
    }

    std::string& out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

}  // namespace sondrel::cli
