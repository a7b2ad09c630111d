// SPDX-License-Identifier: GPL-3.0-or-later
// Builds "sites.dat" from its plain text list: make_sites_dat LIST OUT.
// The list holds three lines per site: a piece of the page address, the
// start marker and the end marker.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "net/lyrics_sites.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_sites_dat LIST OUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "make_sites_dat: cannot read %s\n", argv[1]);
        return 1;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.size() > sondrel::net::kMaxSitesTextBytes) {
        std::fprintf(stderr, "make_sites_dat: %s is too large\n", argv[1]);
        return 1;
    }
    // Every entry line ends in CR LF, as the list's readers expect.
    std::string crlf;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r')
            continue;
        if (text[i] == '\n')
            crlf += '\r';
        crlf += text[i];
    }
    const auto bytes = sondrel::net::EncodeSitesData(crlf);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_sites_dat: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
