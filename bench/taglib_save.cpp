// SPDX-License-Identifier: GPL-3.0-or-later
// Changes the title of each file and saves in place with TagLib.
#include <taglib/fileref.h>
#include <taglib/tag.h>

int main(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        TagLib::FileRef f(argv[i]);
        if (f.isNull() || !f.tag())
            continue;
        f.tag()->setTitle(TagLib::String(argv[1], TagLib::String::UTF8));
        f.save();
    }
    return 0;
}
