// SPDX-License-Identifier: GPL-3.0-or-later
// Reads and prints the facts sondrel-tag shows (fields, duration, bit rate)
// with TagLib, for comparison.
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <cstdio>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        TagLib::FileRef f(argv[i]);
        if (f.isNull() || !f.tag())
            continue;
        const TagLib::Tag* t = f.tag();
        const auto* p = f.audioProperties();
        std::printf("%s\t%s\t%s\t%s\t%u\t%u\t%s\t%s\t%d\t%d\t%d\n", argv[i],
                    t->title().toCString(true), t->artist().toCString(true),
                    t->album().toCString(true), t->year(), t->track(), t->genre().toCString(true),
                    t->comment().toCString(true), p ? p->lengthInSeconds() : 0,
                    p ? p->bitrate() : 0, p ? p->sampleRate() : 0);
    }
    return 0;
}
