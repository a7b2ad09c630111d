// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/flac.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>

#include "tags/file_io.h"
#include "tags/file_snapshot.h"
#include "tags/id3v2_frames.h"
#include "tags/region_write.h"
#include "tags/vorbis_comment.h"
#include "util/unicode.h"

namespace sondrel {

namespace {

constexpr const char* kMsgNoFile = "File does not exist!";
constexpr const char* kMsgFileError = "File error!";
constexpr const char* kMsgSave = "Saving FLAC metadata";
constexpr const char* kMsgRemove = "Removing the FLAC comments";
constexpr const char* kMsgPicture = "Changing the FLAC pictures";

enum BlockType : std::uint8_t {
    kStreamInfoBlock = 0,
    kPaddingBlock = 1,
    kApplicationBlock = 2,
    kSeekTableBlock = 3,
    kCommentBlock = 4,
    kCueSheetBlock = 5,
    kPictureBlock = 6,
    kInvalidBlock = 127,
};
constexpr std::size_t kBlockHeaderSize = 4;
constexpr std::uint32_t kStreamInfoSize = 34;
constexpr std::uint8_t kLastBlockFlag = 0x80;

std::uint32_t Be24(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | Be24(p + 1);
}

void AppendBe32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Where the FLAC stream starts: after an ID3v2 tag some tools put in front.
std::int64_t StreamStart(const ByteSource& f) {
    const auto h = f.ReadAt(0, id3v2::kHeaderSize);
    if (!h)
        return 0;
    const auto header = id3v2::ParseHeader(*h);
    if (!header)
        return 0;
    return std::int64_t{header->BodySize} +
           std::int64_t{id3v2::kHeaderSize} * (header->HasFooter() ? 2 : 1);
}

struct RawBlock {
    std::uint8_t type = 0;
    std::int64_t body = 0;  // offset of the body
    std::uint32_t length = 0;
};

struct Layout {
    std::int64_t streamStart = 0;
    std::int64_t metaStart = 0;
    std::int64_t audioOffset = 0;
    std::vector<RawBlock> blocks;
    // What is damaged behind the comment block, where the walk stopped; the
    // blocks before it are read, and no save trusts the layout.
    std::string damage;
};

// The block list of a FLAC file, checked against the named limits and the
// file's size; nullopt with the reason in `fault` for a damaged file. A
// block that does not hold together behind the comment block ends the list
// there instead, with the reason in Layout::damage: the tags before it read
// as other readers read them.
std::optional<Layout> ParseLayout(const ByteSource& f, std::string& fault) {
    const std::int64_t size = f.Size();
    if (size < 0) {
        fault = f.LastError();
        return std::nullopt;
    }
    Layout layout;
    layout.streamStart = StreamStart(f);
    const auto magic = f.ReadUpTo(layout.streamStart, 4);
    if (!magic || magic->size() < 4 || std::memcmp(magic->data(), "fLaC", 4) != 0) {
        fault = "the file holds no FLAC stream";
        return std::nullopt;
    }
    std::int64_t pos = layout.streamStart + 4;
    layout.metaStart = pos;
    bool comments = false;
    const auto stop = [&](std::string why) -> std::optional<Layout> {
        if (!comments) {
            fault = std::move(why);
            return std::nullopt;
        }
        layout.damage = std::move(why);
        layout.audioOffset = pos;
        return layout;
    };
    for (;;) {
        const auto h = f.ReadAt(pos, kBlockHeaderSize);
        if (!h)
            return stop("the metadata ends before its last block");
        RawBlock block;
        block.type = (*h)[0] & 0x7F;
        block.length = Be24(h->data() + 1);
        block.body = pos + static_cast<std::int64_t>(kBlockHeaderSize);
        if (block.type == kInvalidBlock)
            return stop("a metadata block has the invalid type 127");
        if (layout.blocks.empty() &&
            (block.type != kStreamInfoBlock || block.length != kStreamInfoSize)) {
            fault = "the stream does not start with its STREAMINFO block";
            return std::nullopt;
        }
        if (layout.blocks.size() >= FlacTag::kMaxBlocks)
            return stop("more than " + std::to_string(FlacTag::kMaxBlocks) + " metadata blocks");
        if (block.length > size - block.body)
            return stop("a metadata block runs past the end of the file");
        if (block.body + block.length - layout.metaStart > FlacTag::kMaxMetadataBytes)
            return stop("the metadata is larger than " +
                        std::to_string(FlacTag::kMaxMetadataBytes >> 20) + " MiB");
        pos = block.body + block.length;
        comments = comments || block.type == kCommentBlock;
        layout.blocks.push_back(block);
        if ((*h)[0] & kLastBlockFlag)
            break;
    }
    layout.audioOffset = pos;
    // A frame header (sync code 0xFFF8/0xFFF9) follows the last block; a
    // wrong block length lands anywhere else.
    if (pos < size) {
        const auto sync = f.ReadUpTo(pos, 2);
        if (!sync || sync->size() < 2 || (*sync)[0] != 0xFF || ((*sync)[1] & 0xFE) != 0xF8) {
            fault = "no audio frame follows the metadata";
            return std::nullopt;
        }
    }
    return layout;
}

void AppendBlock(Bytes& out, std::uint8_t type, std::span<const std::uint8_t> body) {
    out.push_back(type);
    const auto n = static_cast<std::uint32_t>(body.size());
    out.push_back(static_cast<std::uint8_t>(n >> 16));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), body.begin(), body.end());
}

const char* BlockName(std::uint8_t type) {
    switch (type) {
        case kApplicationBlock:
            return "APPLICATION";
        case kSeekTableBlock:
            return "SEEKTABLE";
        case kCueSheetBlock:
            return "CUESHEET";
        default:
            return nullptr;
    }
}

}  // namespace

void FlacTag::setFileName(const std::string& path) {
    fileName_ = path;
    ReadTag();
    FileNameChanged();
}

void FlacTag::setValue(Field f, const std::string& v) {
    values_[f] = v;
    Changed();
}

void FlacTag::setGenreID(long long id) {
    genreId_ = ClampGenreId(id);
    Changed();
}

std::vector<std::string> FlacTag::OtherBlocks() const {
    std::vector<std::string> out;
    for (const Block& b : blocks_) {
        if (const char* name = BlockName(b.type))
            out.emplace_back(name);
        else if (b.type > kPictureBlock)
            out.push_back("BLOCK" + std::to_string(b.type));
    }
    return out;
}

std::int64_t FlacTag::AudioSize() const {
    return fileLength_ > audioOffset_ ? fileLength_ - audioOffset_ : 0;
}

double FlacTag::DurationSeconds() const {
    return info_.sampleRate > 0 ? static_cast<double>(info_.totalSamples) / info_.sampleRate : 0.0;
}

std::string FlacTag::Duration() const {
    const auto s = static_cast<long long>(DurationSeconds());
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

std::uint32_t FlacTag::Bitrate() const {
    const double seconds = DurationSeconds();
    if (seconds <= 0)
        return 0;
    return static_cast<std::uint32_t>(
        std::nearbyint(static_cast<double>(AudioSize()) * 8.0 / seconds / 1000.0));
}

std::string FlacTag::ChannelMode() const {
    switch (info_.channels) {
        case 0:
            return "unknown";
        case 1:
            return "Mono";
        case 2:
            return "Stereo";
        default:
            return std::to_string(info_.channels) + " channels";
    }
}

std::string FlacTag::Md5Hex() const {
    bool set = false;
    std::string out;
    char buf[3];
    for (const std::uint8_t b : info_.md5) {
        set = set || b != 0;
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return set ? out : std::string();
}

void FlacTag::ResetForRead() {
    error_.clear();
    damage_.clear();
    pendingSynced_.reset();
    valid_ = false;
    values_ = {};
    genreId_ = kGenreOther;
    vendor_.clear();
    hadComments_ = false;
    others_.clear();
    items_.Clear();
    blocks_.clear();
    pictures_.clear();
    pictureBlocks_.clear();
    info_ = {};
    fileLength_ = 0;
    metaStart_ = 0;
    audioOffset_ = 0;
    paddingSize_ = 0;
}

void FlacTag::ReadTag() {
    ResetForRead();
    if (!FileExists(fileName_)) {
        error_ = kMsgNoFile;
    } else {
        try {
            if (const auto f = FileSnapshot::Open(fileName_))
                ReadOpened(*f);
            else
                error_ = kMsgFileError;
        } catch (...) {
            ResetForRead();
            error_ = kMsgFileError;
        }
    }
    FinishRead();
}

void FlacTag::LoadFrom(const ByteSource& file) {
    fileName_ = file.Name();
    ResetForRead();
    try {
        ReadOpened(file);
    } catch (...) {
        ResetForRead();
        error_ = kMsgFileError;
    }
    FinishRead();
    FileNameChanged();
}

void FlacTag::ReadOpened(const ByteSource& f) {
    std::string fault;
    const auto layout = ParseLayout(f, fault);
    if (!layout) {
        Fail("Reading FLAC metadata", fault, false);
        return;
    }
    auto damaged = [&](const std::string& why) {
        ResetForRead();
        Fail("Reading FLAC metadata", why, false);
    };
    for (const RawBlock& raw : layout->blocks) {
        if (raw.type == kPaddingBlock) {
            paddingSize_ += raw.length;
            continue;
        }
        auto body = f.ReadAt(raw.body, raw.length);
        if (!body)
            return damaged(f.LastError());
        Block block;
        block.type = raw.type;
        if (raw.type == kStreamInfoBlock && blocks_.empty()) {
            const std::uint8_t* p = body->data();
            info_.minBlockSize = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
            info_.maxBlockSize = static_cast<std::uint16_t>(p[2] << 8 | p[3]);
            info_.sampleRate = Be24(p + 10) >> 4;
            info_.channels = static_cast<std::uint8_t>(((p[12] >> 1) & 0x07) + 1);
            info_.bitsPerSample =
                static_cast<std::uint8_t>((((p[12] & 1) << 4) | (p[13] >> 4)) + 1);
            info_.totalSamples = (std::uint64_t{p[13] & 0x0Fu} << 32) | Be32(p + 14);
            std::memcpy(info_.md5.data(), p + 18, 16);
            block.body = std::move(*body);
        } else if (raw.type == kCommentBlock && !hadComments_) {
            vorbis::CommentList list;
            if (vorbis::ParseList(*body, list) != vorbis::ListFault::None)
                return damaged("the comment block is damaged");
            hadComments_ = true;
            vendor_ = std::move(list.vendor);
            vorbis::ReadFields read = vorbis::TakeComments(list.comments, items_);
            values_ = std::move(read.values);
            others_ = std::move(read.others);
        } else if (raw.type == kPictureBlock) {
            Picture picture;
            PictureBlock pb;
            if (!flac::ParsePictureBlock(*body, picture, pb))
                return damaged("a picture block is damaged");
            pb.raw = std::move(*body);
            pictures_.push_back(std::move(picture));
            pictureBlocks_.push_back(std::move(pb));
        } else {
            // A second comment block is no tag of ours, but kept like any other.
            block.body = std::move(*body);
        }
        blocks_.push_back(std::move(block));
    }
    fileLength_ = f.Size();
    metaStart_ = layout->metaStart;
    audioOffset_ = layout->audioOffset;
    damage_ = layout->damage;
    valid_ = true;
}

void FlacTag::FinishRead() {
    genreId_ = vorbis::GenreIdOfText(values_[Field::Genre]);
    if (!valid_ && onError)
        onError(*this, error_);
}

Bytes FlacTag::RenderBlocks(const std::vector<std::string>& comments) const {
    Bytes out;
    bool commentsDone = false;
    bool picturesDone = false;
    auto emitComments = [&] {
        commentsDone = true;
        if (!hadComments_ && comments.empty())
            return;  // a file without a comment block gets none for nothing
        const Bytes list =
            vorbis::BuildList(hadComments_ ? std::string_view(vendor_) : kVendor, comments);
        if (list.size() > kMaxBlockBytes)
            throw std::length_error("the comments do not fit a FLAC block");
        AppendBlock(out, kCommentBlock, list);
    };
    auto emitPictures = [&] {
        picturesDone = true;
        for (std::size_t i = 0; i < pictures_.size(); ++i) {
            const PictureBlock& pb = pictureBlocks_[i];
            const Bytes body = pb.raw.empty() ? flac::RenderPictureBlock(pictures_[i], pb) : pb.raw;
            if (body.size() > kMaxBlockBytes)
                throw std::length_error("a picture does not fit a FLAC block");
            AppendBlock(out, kPictureBlock, body);
        }
    };
    bool firstComment = true;
    for (const Block& b : blocks_) {
        if (b.type == kCommentBlock && firstComment && hadComments_) {
            firstComment = false;
            emitComments();
        } else if (b.type == kPictureBlock) {
            if (!picturesDone) {
                if (!commentsDone)
                    emitComments();
                emitPictures();
            }
        } else {
            AppendBlock(out, b.type, b.body);
            // New comments go right behind the stream facts.
            if (b.type == kStreamInfoBlock && !hadComments_ && !commentsDone)
                emitComments();
        }
    }
    if (!commentsDone)
        emitComments();
    if (!picturesDone)
        emitPictures();
    return out;
}

bool FlacTag::Save(const PerField<std::string>& values, const std::string& failure) {
    error_.clear();
    if (!FileExists(fileName_)) {
        Fail(kMsgNoFile, false);
        return false;
    }
    // Offsets and blocks of a failed read describe nothing worth writing.
    if (!valid_) {
        Fail(failure, std::string("the file was not read as FLAC"), false);
        return false;
    }
    if (!damage_.empty())
        return RefuseDamaged(false);
    Bytes meta;
    try {
        std::vector<std::string> comments = vorbis::PlanComments(items_, values);
        if (pendingSynced_)
            vorbis::PutSyncedLyrics(comments, *pendingSynced_);
        meta = RenderBlocks(comments);
    } catch (const std::length_error& e) {
        Fail(failure, std::string(e.what()), false);
        return false;
    }

    struct stat st {};
    if (::stat(fileName_.c_str(), &st) != 0) {
        Fail(failure, std::string(std::strerror(errno)), false);
        return false;
    }
    // A protected file keeps its mode: it is replaced, never made writable.
    const bool writeProtected = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    std::string openError;
    auto file = File::Open(fileName_, writeProtected ? File::Mode::Read : File::Mode::ReadWrite,
                           &openError, io_);
    if (!file) {
        Fail(failure, openError, false);
        return false;
    }
    // Opened for writing, the file is locked and checked already.
    if (writeProtected) {
        if (!file->HoldSaveLock()) {
            Fail(failure, file->LastError(), false);
            return false;
        }
        if (std::string changed = ChangedSinceRead(file->Descriptor(), fileName_);
            !changed.empty()) {
            Fail(failure, changed, false);
            return false;
        }
    }
    // The blocks are written where the read found them: the file must still
    // have that layout.
    std::string fault;
    const auto layout = ParseLayout(*file, fault);
    const std::int64_t size = file->Size();
    if (layout && !layout->damage.empty())
        fault = layout->damage;
    if (!layout || !fault.empty() || layout->metaStart != metaStart_ ||
        layout->audioOffset != audioOffset_ || size != fileLength_) {
        Fail(failure, fault.empty() ? std::string(kChangedSinceRead) : fault, false);
        return false;
    }

    const std::int64_t oldTotal = audioOffset_ - metaStart_;
    const auto n = static_cast<std::int64_t>(meta.size());
    const auto pad = static_cast<std::int64_t>(kBlockHeaderSize);
    const bool inPlace = n == oldTotal || n + pad <= oldTotal;
    // The last block carries the flag; padding, when there is any, is last.
    auto finish = [&](std::int64_t padding) {
        Bytes out = meta;
        std::size_t lastHeader = 0;
        for (std::size_t at = 0; at < meta.size();) {
            lastHeader = at;
            at += kBlockHeaderSize + Be24(meta.data() + at + 1);
        }
        if (padding < 0) {
            out[lastHeader] |= kLastBlockFlag;
        } else {
            out.push_back(kPaddingBlock | kLastBlockFlag);
            out.push_back(static_cast<std::uint8_t>(padding >> 16));
            out.push_back(static_cast<std::uint8_t>(padding >> 8));
            out.push_back(static_cast<std::uint8_t>(padding));
            out.resize(out.size() + static_cast<std::size_t>(padding), 0);
        }
        return out;
    };
    const Bytes data =
        inPlace ? finish(n == oldTotal ? -1 : oldTotal - n - pad) : finish(std::int64_t{kPadding});

    // In place through an undo journal, so a kill midway cannot leave the
    // metadata torn; without a usable journal folder, rewritten whole.
    bool written = false;
    if (inPlace && !writeProtected) {
        const RegionResult r = WriteRegions(*file, fileName_, {{metaStart_, data}}, size, io_);
        if (!r.ok && !r.fallBack) {
            Fail(failure, r.error, false);
            return false;
        }
        written = r.ok;
    }
    if (!written) {
        const IoResult result = SafeReplace(
            fileName_,
            [&](ReplaceWriter& w, std::string&) {
                return w.CopyFrom(*file, 0, metaStart_) && w.Write(data) &&
                       w.CopyFrom(*file, audioOffset_, size - audioOffset_);
            },
            io_);
        if (!result) {
            Fail(failure, result.error, false);
            return false;
        }
    }
    file->Close();
    ReadTag();
    if (!valid_) {
        // What we wrote must read back; say so rather than claim success.
        Fail(failure, std::string("the saved file no longer reads: ") + error_, false);
        return false;
    }
    return true;
}

bool FlacTag::WriteTag() {
    return Guard(kMsgFileError, [&] {
        values_[Field::Genre] = vorbis::GenreToSave(values_[Field::Genre], genreId_);
        return Save(values_, kMsgSave);
    });
}

bool FlacTag::RemoveTag() {
    return Guard(kMsgFileError, [&] {
        if (!valid_ && FileExists(fileName_))
            ReadTag();
        // No field and no other comment survives: only the vendor stays.
        const PerField<std::string> none{};
        FieldItems<std::string> kept = std::move(items_);
        items_.Clear();
        for (const auto& entry : kFieldTable)
            items_.SetRead(entry.field, {});
        const bool ok = Save(none, kMsgRemove);
        if (!ok)
            items_ = std::move(kept);
        return ok;
    });
}

namespace {

PerField<std::string> ReadValues(const FieldItems<std::string>& items) {
    PerField<std::string> out;
    for (const auto& entry : kFieldTable)
        out[entry.field] = items.Read(entry.field);
    return out;
}

}  // namespace

bool FlacTag::AddPicture(int index, const Picture& picture) {
    if (index < 0 || index > ImagesCount()) {
        Fail("Error adding picture", false);
        return false;
    }
    if (picture.Data.size() > kMaxPictureBytes) {
        Fail(kMsgPicture, std::string("the picture is larger than a FLAC block holds (16 MiB)"),
             false);
        return false;
    }
    return Guard(kMsgPicture, [&] {
        const auto at = static_cast<std::ptrdiff_t>(index);
        pictures_.insert(pictures_.begin() + at, picture);
        pictureBlocks_.insert(pictureBlocks_.begin() + at, PictureBlock{});
        const bool ok = Save(ReadValues(items_), kMsgPicture);
        if (!ok && valid_) {
            pictures_.erase(pictures_.begin() + at);
            pictureBlocks_.erase(pictureBlocks_.begin() + at);
        }
        return ok;
    });
}

bool FlacTag::AddImage(int index, const std::string& fileName, const std::string& description,
                       int pictureType) {
    std::string reason;
    const auto picture = flac::ReadPictureFile(fileName, description, pictureType, reason);
    if (!picture) {
        Fail("Cannot read the picture file", reason, false);
        return false;
    }
    return AddPicture(index, *picture);
}

bool FlacTag::DeleteImage(int index) {
    if (index < 0 || index >= ImagesCount()) {
        Fail("Error deleting picture", false);
        return false;
    }
    return Guard(kMsgPicture, [&] {
        const auto at = static_cast<std::ptrdiff_t>(index);
        Picture picture = pictures_[static_cast<std::size_t>(index)];
        PictureBlock pb = pictureBlocks_[static_cast<std::size_t>(index)];
        pictures_.erase(pictures_.begin() + at);
        pictureBlocks_.erase(pictureBlocks_.begin() + at);
        const bool ok = Save(ReadValues(items_), kMsgPicture);
        if (!ok && valid_) {
            pictures_.insert(pictures_.begin() + at, std::move(picture));
            pictureBlocks_.insert(pictureBlocks_.begin() + at, std::move(pb));
        }
        return ok;
    });
}

bool FlacTag::SetDescription(int index, const std::string& description) {
    if (index < 0 || index >= ImagesCount())
        return false;
    auto& p = pictures_[static_cast<std::size_t>(index)];
    if (p.Description != description) {
        p.Description = description;
        pictureBlocks_[static_cast<std::size_t>(index)].raw.clear();
        Changed();
    }
    return true;
}

bool FlacTag::SaveImageToFile(int index, const std::string& fileName) {
    if (index < 0 || index >= ImagesCount()) {
        Fail("Error saving picture", false);
        return false;
    }
    std::string reason;
    if (!flac::WritePictureFile(pictures_[static_cast<std::size_t>(index)], fileName, io_,
                                reason)) {
        Fail("Saving the picture", reason, false);
        return false;
    }
    return true;
}

namespace flac {

bool ParsePictureBlock(std::span<const std::uint8_t> b, Picture& p, FlacTag::PictureBlock& pb) {
    std::size_t pos = 0;
    auto u32 = [&](std::uint32_t& v) {
        if (b.size() - pos < 4)
            return false;
        v = Be32(b.data() + pos);
        pos += 4;
        return true;
    };
    auto text = [&](std::string& s) {
        std::uint32_t n = 0;
        if (!u32(n) || n > b.size() - pos)
            return false;
        s.assign(reinterpret_cast<const char*>(b.data() + pos), n);
        pos += n;
        return true;
    };
    std::uint32_t type = 0;
    std::uint32_t length = 0;
    if (!u32(type) || type > 255 || !text(p.MimeType) || !text(p.Description) || !u32(pb.width) ||
        !u32(pb.height) || !u32(pb.depth) || !u32(pb.colors) || !u32(length) ||
        length > b.size() - pos)
        return false;
    p.PictureType = static_cast<std::uint8_t>(type);
    p.Description = SanitizeUtf8(p.Description);
    p.Data.assign(b.begin() + static_cast<std::ptrdiff_t>(pos),
                  b.begin() + static_cast<std::ptrdiff_t>(pos + length));
    return true;
}

Bytes RenderPictureBlock(const Picture& p, const FlacTag::PictureBlock& pb) {
    Bytes out;
    AppendBe32(out, p.PictureType);
    AppendBe32(out, static_cast<std::uint32_t>(p.MimeType.size()));
    out.insert(out.end(), p.MimeType.begin(), p.MimeType.end());
    AppendBe32(out, static_cast<std::uint32_t>(p.Description.size()));
    out.insert(out.end(), p.Description.begin(), p.Description.end());
    for (const std::uint32_t v : {pb.width, pb.height, pb.depth, pb.colors})
        AppendBe32(out, v);
    AppendBe32(out, static_cast<std::uint32_t>(p.Data.size()));
    out.insert(out.end(), p.Data.begin(), p.Data.end());
    return out;
}

std::optional<Picture> ReadPictureFile(const std::string& fileName, const std::string& description,
                                       int pictureType, std::string& reason) {
    auto file = File::Open(fileName, File::Mode::Read, &reason);
    const std::int64_t size = file ? file->Size() : -1;
    if (!file || size < 0) {
        if (file)
            reason = file->LastError();
        return std::nullopt;
    }
    if (size > std::int64_t{FlacTag::kMaxPictureBytes}) {
        reason = "it is too large";
        return std::nullopt;
    }
    Picture p;
    auto data = file->ReadAt(0, static_cast<std::size_t>(size));
    if (!data) {
        reason = file->LastError();
        return std::nullopt;
    }
    p.Data = std::move(*data);
    p.MimeType = MimeByExtension(fileName, p.Data);
    p.Description = description;
    p.PictureType =
        static_cast<std::uint8_t>(pictureType < 0 || pictureType > 20 ? 3 : pictureType);
    return p;
}

bool WritePictureFile(const Picture& picture, const std::string& fileName, const IoFaults& io,
                      std::string& reason) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    File out = File::Adopt(fd, io);
    if (!out.WriteAt(0, picture.Data) || !out.Sync()) {
        reason = out.LastError();
        return false;
    }
    return true;
}

}  // namespace flac

}  // namespace sondrel
