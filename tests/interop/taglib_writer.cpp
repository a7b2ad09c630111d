// SPDX-License-Identifier: GPL-3.0-or-later
// Writes tags with TagLib, so the round-trip tests can start from files that
// another tagger made. Usage:
//   taglib_writer FILE [--id3v2=3|4|none] [--id3v1] [--picture=JPEG] KEY=VALUE...
// Keys go through TagLib's property map, so a repeated KEY gives several values
// and a key TagLib has no frame for becomes its format's free-form item.
#include <apefile.h>
#include <apetag.h>
#include <asffile.h>
#include <asfpicture.h>
#include <attachedpictureframe.h>
#include <fileref.h>
#include <flacpicture.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mp4coverart.h>
#include <mp4file.h>
#include <mpcfile.h>
#include <mpegfile.h>
#include <tpropertymap.h>
#include <vorbisfile.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

TagLib::String Utf8(const std::string& s) {
    return TagLib::String(s, TagLib::String::UTF8);
}

bool ReadFile(const std::string& path, TagLib::ByteVector& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out = TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size()));
    return true;
}

// Each container stores a front cover its own way; TagLib 1.x has no common call.
bool AddPicture(TagLib::File* file, const TagLib::ByteVector& jpeg) {
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
        auto* frame = new TagLib::ID3v2::AttachedPictureFrame;  // the tag owns its frames
        frame->setMimeType("image/jpeg");
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        frame->setDescription(Utf8("cover"));
        frame->setPicture(jpeg);
        mpeg->ID3v2Tag(true)->addFrame(frame);
        return true;
    }
    if (auto* ogg = dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) {
        auto* picture = new TagLib::FLAC::Picture;  // the comment owns its pictures
        picture->setMimeType("image/jpeg");
        picture->setType(TagLib::FLAC::Picture::FrontCover);
        picture->setDescription(Utf8("cover"));
        picture->setData(jpeg);
        ogg->tag()->addPicture(picture);
        return true;
    }
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::JPEG, jpeg));
        mp4->tag()->setItem("covr", TagLib::MP4::Item(covers));
        return true;
    }
    if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) {
        TagLib::ASF::Picture picture;
        picture.setMimeType("image/jpeg");
        picture.setType(TagLib::ASF::Picture::FrontCover);
        picture.setDescription(Utf8("cover"));
        picture.setPicture(jpeg);
        asf->tag()->addAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
        return true;
    }
    TagLib::APE::Tag* ape = nullptr;
    if (auto* mac = dynamic_cast<TagLib::APE::File*>(file))
        ape = mac->APETag(true);
    else if (auto* mpc = dynamic_cast<TagLib::MPC::File*>(file))
        ape = mpc->APETag(true);
    if (ape == nullptr)
        return false;
    // An APE cover is a binary item: file name, a zero byte, the image.
    TagLib::ByteVector value("cover.jpg");
    value.append('\0');
    value.append(jpeg);
    ape->setData("Cover Art (Front)", value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s FILE [--id3v2=3|4|none] [--id3v1] [--picture=JPEG] KEY=VALUE...\n",
                     argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    std::string id3v2 = "4";
    bool id3v1 = false;
    std::string picturePath;
    TagLib::PropertyMap properties;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--id3v2=", 0) == 0) {
            id3v2 = arg.substr(8);
        } else if (arg == "--id3v1") {
            id3v1 = true;
        } else if (arg.rfind("--picture=", 0) == 0) {
            picturePath = arg.substr(10);
        } else if (const auto eq = arg.find('='); eq != std::string::npos && eq > 0) {
            properties[Utf8(arg.substr(0, eq))].append(Utf8(arg.substr(eq + 1)));
        } else {
            std::fprintf(stderr, "not KEY=VALUE: %s\n", arg.c_str());
            return 2;
        }
    }

    TagLib::FileRef ref(path.c_str(), false);
    if (ref.isNull() || !ref.file()->isValid()) {
        std::fprintf(stderr, "TagLib cannot open %s\n", path.c_str());
        return 1;
    }
    TagLib::File* file = ref.file();
    auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file);
    if (mpeg != nullptr && id3v1)
        mpeg->ID3v1Tag(true);  // so the property map reaches it too
    const TagLib::PropertyMap refused = file->setProperties(properties);
    if (!refused.isEmpty()) {
        std::fprintf(stderr, "TagLib refused: %s\n", refused.toString().toCString(true));
        return 1;
    }
    if (!picturePath.empty()) {
        TagLib::ByteVector jpeg;
        if (!ReadFile(picturePath, jpeg) || !AddPicture(file, jpeg)) {
            std::fprintf(stderr, "cannot add the picture %s\n", picturePath.c_str());
            return 1;
        }
    }

    bool saved = false;
    if (mpeg != nullptr) {
        int tags = id3v1 ? TagLib::MPEG::File::ID3v1 : 0;
        if (id3v2 != "none")
            tags |= TagLib::MPEG::File::ID3v2;
        saved = mpeg->save(tags, TagLib::File::StripOthers,
                           id3v2 == "3" ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4);
    } else {
        saved = file->save();
    }
    if (!saved) {
        std::fprintf(stderr, "TagLib could not save %s\n", path.c_str());
        return 1;
    }
    return 0;
}
