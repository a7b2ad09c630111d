// SPDX-License-Identifier: GPL-3.0-or-later
// The picture operations of Id3v2Tag.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tags/file_io.h"
#include "tags/id3v2.h"

namespace sondrel {
namespace {

bool InList(int position, std::size_t count) {
    return position >= 0 && static_cast<std::size_t>(position) < count;
}

bool IsJfif(const std::vector<std::uint8_t>& data) {
    return data.size() >= 10 && data[6] == 'J' && data[7] == 'F' && data[8] == 'I' &&
           data[9] == 'F';
}

}  // namespace

bool Id3v2Tag::AddImage(int position, const std::string& fileName, const std::string& description,
                        int pictureType) {
    if (position < 0 || static_cast<std::size_t>(position) > pictures_.size()) {
        error_ = kMsgAddImage;
        return false;
    }
    // Read the whole picture before touching the list, so that a failure
    // leaves everything as it was.
    auto file = File::Open(fileName, File::Mode::Read);
    const std::int64_t size = file ? file->Size() : -1;
    std::optional<Bytes> data;
    if (size >= 0 && size <= kMaxPictureBytes)
        data = file->ReadAt(0, static_cast<std::size_t>(size));
    if (!data) {
        error_ = kMsgPictureUnreadable;
        return false;
    }
    Picture picture;
    picture.MimeType = MimeByExtension(fileName, *data);
    picture.Description = description;
    picture.PictureType = pictureType;
    picture.Data = std::move(*data);
    pictures_.insert(pictures_.begin() + position, std::move(picture));
    SyncImagesCount();
    WriteTag();
    return true;
}

std::int32_t Id3v2Tag::DeleteImage(int position) {
    if (!InList(position, pictures_.size())) {
        error_ = kMsgDeleteImage;
        return -1;
    }
    pictures_.erase(pictures_.begin() + position);
    SyncImagesCount();
    WriteTag();
    return 0;
}

std::string Id3v2Tag::GetMIME(int position) const {
    if (!InList(position, pictures_.size()))
        return {};
    const Picture& p = pictures_[static_cast<std::size_t>(position)];
    return IsJfif(p.Data) ? "image/jpg" : p.MimeType;
}

std::string Id3v2Tag::GetDescription(int position) const {
    if (!InList(position, pictures_.size()))
        return {};
    return pictures_[static_cast<std::size_t>(position)].Description;
}

void Id3v2Tag::SetDescription(int position, const std::string& description) {
    if (InList(position, pictures_.size()))
        pictures_[static_cast<std::size_t>(position)].Description = description;
}

int Id3v2Tag::SaveImageToFile(int position, const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int code = errno;
        error_ = std::strerror(code);
        return code;
    }
    File out = File::Adopt(fd, io_);
    if (InList(position, pictures_.size())) {
        const Picture& p = pictures_[static_cast<std::size_t>(position)];
        if (!out.WriteAt(0, p.Data)) {
            const int code = errno != 0 ? errno : EIO;
            error_ = out.LastError();
            return code;
        }
    }
    out.Close();
    return 0;
}

}  // namespace sondrel
