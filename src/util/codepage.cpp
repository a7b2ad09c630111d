// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "util/unicode.h"

namespace sondrel {
namespace {

struct IconvCloser {
    void operator()(void* cd) const {
        if (cd != nullptr)
            iconv_close(static_cast<iconv_t>(cd));
    }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle OpenIconv(const std::string& to, const std::string& from) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return IconvHandle(nullptr);
    return IconvHandle(static_cast<void*>(cd));
}

std::string KnownOrLatin1(std::string_view codepage) {
    std::string name(codepage);
    if (name.empty())
        return std::string(kDefaultCodePage);
    auto probe = OpenIconv("UTF-8", name);
    return probe ? name : std::string(kDefaultCodePage);
}

// Decodes one character; false for malformed input, which these callers
// reject or replace with '?' rather than take as a real U+FFFD.
bool NextValid(std::string_view s, std::size_t& pos, char32_t& cp) {
    const std::size_t start = pos;
    cp = NextCodePoint(s, pos);
    return !(cp == kReplacementChar && pos - start == 1);
}

// Converts one character; returns false when the code page cannot hold it.
bool ConvertOne(iconv_t cd, std::string_view utf8Char, std::string& out) {
    char buf[8];
    char* in = const_cast<char*>(utf8Char.data());
    std::size_t inLeft = utf8Char.size();
    char* outPtr = buf;
    std::size_t outLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        return false;
    out.append(buf, static_cast<std::size_t>(outPtr - buf));
    return true;
}

}  // namespace

std::string CodePageToUtf8(std::string_view bytes, std::string_view codepage) {
    bool ascii = true;
    for (char c : bytes)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return std::string(bytes);

    std::string out;
    out.reserve(bytes.size() * 2);
    auto handle = OpenIconv("UTF-8", KnownOrLatin1(codepage));
    auto cd = static_cast<iconv_t>(handle.get());
    if (cd == nullptr) {
        for (char c : bytes) {
            if (static_cast<unsigned char>(c) < 0x80)
                out.push_back(c);
            else
                out += "\xEF\xBF\xBD";
        }
        return out;
    }
    // The whole text in one stream: in double-byte pages a character spans
    // two bytes (the second may look like ASCII), and some single-byte pages
    // combine a letter with the accent after it.
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buf[1024];
    for (;;) {
        char* outPtr = buf;
        std::size_t outLeft = sizeof buf;
        const bool flushing = inLeft == 0;
        const std::size_t r = flushing ? iconv(cd, nullptr, nullptr, &outPtr, &outLeft)
                                       : iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buf, static_cast<std::size_t>(outPtr - buf));
        if (r != static_cast<std::size_t>(-1)) {
            if (flushing)
                break;
            continue;
        }
        if (error == E2BIG)
            continue;
        if (flushing)
            break;
        // A byte the page does not define, or a character cut off at the end
        // (a fixed-size field may split one): shown as U+FFFD, the rest read on.
        out += "\xEF\xBF\xBD";
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string Utf8ToCodePage(std::string_view utf8, std::string_view codepage) {
    std::string out;
    out.reserve(utf8.size());
    IconvHandle handle;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::size_t start = pos;
        char32_t cp = 0;
        if (!NextValid(utf8, pos, cp)) {
            out.push_back('?');
            continue;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        if (!handle)
            handle = OpenIconv(KnownOrLatin1(codepage), "UTF-8");
        auto cd = static_cast<iconv_t>(handle.get());
        if (cd == nullptr || !ConvertOne(cd, utf8.substr(start, pos - start), out))
            out.push_back('?');
    }
    return out;
}

bool FitsCodePage(std::string_view utf8, std::string_view codepage) {
    IconvHandle handle;
    std::size_t pos = 0;
    std::string scratch;
    while (pos < utf8.size()) {
        const std::size_t start = pos;
        char32_t cp = 0;
        if (!NextValid(utf8, pos, cp))
            return false;
        if (cp < 0x80)
            continue;
        if (!handle)
            handle = OpenIconv(KnownOrLatin1(codepage), "UTF-8");
        auto cd = static_cast<iconv_t>(handle.get());
        if (cd == nullptr || !ConvertOne(cd, utf8.substr(start, pos - start), scratch))
            return false;
    }
    return true;
}

std::size_t Utf8Length(std::string_view utf8) {
    std::size_t n = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        NextCodePoint(utf8, pos);
        ++n;
    }
    return n;
}

std::string_view Utf8TruncateBytes(std::string_view utf8, std::size_t maxBytes) {
    if (utf8.size() <= maxBytes)
        return utf8;
    std::size_t end = maxBytes;
    // Step back over continuation bytes so no character is split.
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return utf8.substr(0, end);
}

}  // namespace sondrel
