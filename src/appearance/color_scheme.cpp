// SPDX-License-Identifier: GPL-3.0-or-later
#include "appearance/color_scheme.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

namespace sondrel {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool EndsWithSch(std::string_view name) {
    return name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".sch";
}

std::string WithoutSch(std::string_view name) {
    return std::string(EndsWithSch(name) ? name.substr(0, name.size() - 4) : name);
}

// A colour line: a decimal number, optionally signed as older files may
// store a negative system colour, that fits 32 bits.
bool ParseColor(std::string line, std::uint32_t& out) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    if (line.empty() || line.size() > 11)
        return false;
    std::size_t at = line.front() == '-' ? 1 : 0;
    if (at == line.size())
        return false;
    long long value = 0;
    for (; at < line.size(); ++at) {
        if (line[at] < '0' || line[at] > '9')
            return false;
        value = value * 10 + (line[at] - '0');
    }
    if (line.front() == '-')
        value = -value;
    if (value < -2147483648LL || value > 4294967295LL)
        return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

}  // namespace

std::size_t ReadScheme(const std::string& path, SchemeColors& colors) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return 0;
    std::string line;
    std::size_t read = 0;
    while (read < colors.size() && std::getline(in, line)) {
        if (line.size() > 64 || !ParseColor(line, colors[read]))
            return read;
        ++read;
    }
    return read;
}

std::string WriteScheme(const std::string& path, const SchemeColors& colors) {
    std::string text;
    for (std::uint32_t c : colors)
        text += std::to_string(c) + "\r\n";
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return std::strerror(errno);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            return std::strerror(error);
        }
        written += static_cast<std::size_t>(n);
    }
    ::fchmod(fd, 0644);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return std::strerror(error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return std::strerror(error);
    }
    return {};
}

std::vector<std::string> ListSchemes(const std::string& skinFolder) {
    std::vector<std::string> names;
    struct CloseDir {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, CloseDir> dir(::opendir(skinFolder.c_str()));
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (!EndsWithSch(name) || name.size() == 4)
            continue;
        struct stat st {};
        if (::stat((skinFolder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        names.push_back(WithoutSch(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

int SelectScheme(const std::vector<std::string>& names, std::string_view current) {
    if (names.empty())
        return -1;
    const std::string wanted = Lower(WithoutSch(current));
    for (std::size_t i = 0; i < names.size(); ++i)
        if (Lower(names[i]) == wanted)
            return static_cast<int>(i);
    return 0;
}

std::string SchemeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
        name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return {};
    return EndsWithSch(name) ? std::string(name) : std::string(name) + ".sch";
}

std::string SlotText(std::uint32_t color) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", color & 0xFFFFFFu);
    return text;
}

Rgb ToRgb(std::uint32_t color) {
    return {static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
            static_cast<int>((color >> 16) & 0xFF)};
}

std::uint32_t FromRgb(int red, int green, int blue) {
    return static_cast<std::uint32_t>(red & 0xFF) |
           (static_cast<std::uint32_t>(green & 0xFF) << 8) |
           (static_cast<std::uint32_t>(blue & 0xFF) << 16);
}

}  // namespace sondrel
