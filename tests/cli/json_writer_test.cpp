// SPDX-License-Identifier: GPL-3.0-or-later
// The streaming writer must produce the same bytes as the json library's
// dump(2) with replacement of bad UTF-8, for every kind of value show prints.
#include "cli/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace sondrel::cli {
namespace {

using nlohmann::json;

std::string LibraryDump(const json& j) {
    return j.dump(2, ' ', false, json::error_handler_t::replace);
}

// Writes `j` through the writer, keys in the object's own (sorted) order.
void Write(JsonWriter& w, const json& j) {
    switch (j.type()) {
        case json::value_t::object:
            w.BeginObject();
            for (const auto& [key, value] : j.items()) {
                w.Key(key);
                Write(w, value);
            }
            w.EndObject();
            break;
        case json::value_t::array:
            w.BeginArray();
            for (const auto& value : j)
                Write(w, value);
            w.EndArray();
            break;
        case json::value_t::string:
            w.String(j.get_ref<const std::string&>());
            break;
        case json::value_t::boolean:
            w.Bool(j.get<bool>());
            break;
        case json::value_t::number_float:
            w.Double(j.get<double>());
            break;
        case json::value_t::number_integer:
        case json::value_t::number_unsigned:
            w.Int(j.get<long long>());
            break;
        default:
            w.Null();
            break;
    }
}

std::string WriterDump(const json& j) {
    std::string out;
    JsonWriter w(out);
    Write(w, j);
    return out;
}

TEST(JsonWriter, TextsAreEscapedAsTheLibraryDoes) {
    const std::string texts[] = {
        "",
        "plain",
        "quote \" and backslash \\",
        std::string("\b\f\n\r\t\x01\x1f\x7f", 8),
        std::string("nul \0 inside", 12),
        "Gr\xC3\xBC\xC3\x9F\x65",         // two-byte sequences
        "\xE2\x82\xAC \xF0\x9F\x8E\xB5",  // three and four bytes
        "\xC3",                           // cut short
        "caf\xE9",                        // Latin-1, not UTF-8
        "\xC0\xAF",                       // overlong
        "\xED\xA0\x80",                   // surrogate
        "\xF4\x90\x80\x80",               // past U+10FFFF
        "\xE0\x9F\xBF",                   // overlong three-byte
        "ok \xFF then \xE2\x82\xAC again",
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(testing::PrintToString(t));
        EXPECT_EQ(WriterDump(json(t)), LibraryDump(json(t)));
    }
}

TEST(JsonWriter, NumbersAndLiteralsMatchTheLibrary) {
    const json values[] = {
        0,
        -1,
        255,
        std::numeric_limits<long long>::min(),
        std::numeric_limits<long long>::max(),
        0.0,
        1.0,
        60.20879818594104,
        0.1,
        1e-7,
        1e21,
        123456789012345680.0,
        std::nan(""),
        std::numeric_limits<double>::infinity(),
        true,
        false,
        nullptr,
    };
    for (const auto& v : values) {
        SCOPED_TRACE(v.dump());
        EXPECT_EQ(WriterDump(v), LibraryDump(v));
    }
}

TEST(JsonWriter, NestingAndEmptyContainersMatchTheLibrary) {
    const json docs[] = {
        json::array(),
        json::object(),
        json::array({json::object(), json::array(), 1}),
        {{"a", json::array()}, {"b", json::object()}, {"c", {{"d", {1, 2, {{"e", "f"}}}}}}},
        json::array({{{"error", ""},
                      {"other", json::array({"TXXX:A", "PRIV"})},
                      {"tagKinds", {{"id3v2", nullptr}, {"ape", false}}}},
                     {{"error", "x"}, {"other", json::array()}}}),
    };
    for (const auto& d : docs) {
        SCOPED_TRACE(d.dump());
        EXPECT_EQ(WriterDump(d), LibraryDump(d));
    }
    // Indentation deeper than the writer's ready-made run of spaces, and keys
    // that take the slow path: escapes, non-ASCII, longer than a short name.
    json deep = {{"key \"quoted\"", "v"}, {"Gr\xC3\xBC\xC3\x9F\x65", 1}, {std::string(80, 'k'), 2}};
    for (int depth = 0; depth < 40; ++depth)
        deep = {{"level", json::array({deep, depth})}};
    EXPECT_EQ(WriterDump(deep), LibraryDump(deep));
}

}  // namespace
}  // namespace sondrel::cli
