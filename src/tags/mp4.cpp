#include "tags/mp4.h"

#include <cstring>

#include "tags/m4atag.h"

namespace sondrel {

namespace {

// The component has no events: failures are reported through Error only.
constexpr bool kNotify = false;

}  // namespace

Mp4Tag::Mp4Tag() : state_(m4atag::NewState()) {}

void Mp4Tag::setFileName(const std::string& fileName) {
    fileName_ = fileName;
    error_.clear();
    // A name with a zero byte inside would reach the module cut short.
    valid_ = fileName_.find('\0') == std::string::npos &&
             m4atag::ReadMetaData(*state_, fileName_.c_str());
    if (!valid_) {
        // Nothing of an earlier file may stay readable under the new name.
        m4atag::ReadMetaData(*state_, nullptr);
        Fail("Error reading metadata", kNotify);
    }
    genreId_ = valid_ ? GenreIdOf(Genre()) : kGenreOther;
}

std::string Mp4Tag::Text(Getter get) const {
    const std::int32_t len = get(*state_, nullptr, 0);
    if (len < 1)
        return {};
    std::string buf(static_cast<std::size_t>(len) + 1, '\0');
    get(*state_, buf.data(), len + 1);
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

void Mp4Tag::SetText(Setter set, const std::string& value, const char* failure) {
    error_.clear();
    // The module takes zero-terminated texts: a text with a zero byte inside
    // would be stored cut short.
    if (value.find('\0') != std::string::npos || !set(*state_, value.c_str()))
        Fail(failure, kNotify);
}

std::int32_t Mp4Tag::Number(std::int32_t (*get)(const m4atag::State&), const char* failure) {
    error_.clear();
    const std::int32_t v = get(*state_);
    if (v < 0)
        Fail(failure, kNotify);
    return v;
}

std::string Mp4Tag::Track() const {
    return Text(m4atag::GetTrack);
}
std::string Mp4Tag::Title() const {
    return Text(m4atag::GetTitle);
}
std::string Mp4Tag::Artist() const {
    return Text(m4atag::GetArtist);
}
std::string Mp4Tag::Album() const {
    return Text(m4atag::GetAlbum);
}
std::string Mp4Tag::Year() const {
    return Text(m4atag::GetYear);
}
std::string Mp4Tag::Comment() const {
    return Text(m4atag::GetComment);
}
std::string Mp4Tag::Lyrics() const {
    return Text(m4atag::GetLyrics);
}
std::string Mp4Tag::Composer() const {
    return Text(m4atag::GetComposer);
}
std::string Mp4Tag::OrigArtist() const {
    return Text(m4atag::GetOrigArtist);
}
std::string Mp4Tag::Copyright() const {
    return Text(m4atag::GetCopyright);
}
std::string Mp4Tag::URL() const {
    return Text(m4atag::GetURL);
}
std::string Mp4Tag::EncodedBy() const {
    return Text(m4atag::GetEncodedBy);
}
std::string Mp4Tag::Genre() const {
    return Text(m4atag::GetGenre);
}
std::string Mp4Tag::Codec() const {
    return Text(m4atag::GetCodec);
}
std::string Mp4Tag::Encoder() const {
    return Text(m4atag::GetEncoder);
}
std::string Mp4Tag::ChannelMode() const {
    return Text(m4atag::GetChannelMode);
}

void Mp4Tag::setTrack(const std::string& v) {
    SetText(m4atag::SetTrack, v, "Writing error (Track)");
}
void Mp4Tag::setTitle(const std::string& v) {
    SetText(m4atag::SetTitle, v, "Writing error (Title)");
}
void Mp4Tag::setArtist(const std::string& v) {
    SetText(m4atag::SetArtist, v, "Writing error (Artist)");
}
void Mp4Tag::setAlbum(const std::string& v) {
    SetText(m4atag::SetAlbum, v, "Writing error Album");
}
void Mp4Tag::setYear(const std::string& v) {
    SetText(m4atag::SetYear, v, "Writing error Year");
}
void Mp4Tag::setComment(const std::string& v) {
    SetText(m4atag::SetComment, v, "Writing error Comment");
}
void Mp4Tag::setLyrics(const std::string& v) {
    SetText(m4atag::SetLyrics, v, "Writing error Lyrics");
}
void Mp4Tag::setComposer(const std::string& v) {
    SetText(m4atag::SetComposer, v, "Writing error Composer");
}
void Mp4Tag::setOrigArtist(const std::string& v) {
    SetText(m4atag::SetOrigArtist, v, "Writing error OrigArtist");
}
void Mp4Tag::setCopyright(const std::string& v) {
    SetText(m4atag::SetCopyright, v, "Writing error Copyright");
}
void Mp4Tag::setURL(const std::string& v) {
    SetText(m4atag::SetURL, v, "Writing error URL");
}
void Mp4Tag::setEncodedBy(const std::string& v) {
    SetText(m4atag::SetEncodedBy, v, "Writing error EncodedBy");
}
void Mp4Tag::setGenre(const std::string& v) {
    SetText(m4atag::SetGenre, v, "Writing error Genre");
}

std::int32_t Mp4Tag::FileLength() {
    return Number(m4atag::GetFileLength, "Reading error filelength");
}
std::int32_t Mp4Tag::Frequency() {
    return Number(m4atag::GetFrequency, "Reading error freq");
}
std::int32_t Mp4Tag::Bitrate() {
    return Number(m4atag::GetBitrate, "Reading error bitrate");
}
std::int32_t Mp4Tag::BMP() {
    return Number(m4atag::GetBMP, "Reading error BMP");
}
std::int32_t Mp4Tag::ImagesCount() {
    return Number(m4atag::GetImagesCount, "Reading error images count");
}

double Mp4Tag::DurationInSeconds() {
    error_.clear();
    const double v = m4atag::GetDuration(*state_);
    if (v < 0)
        Fail("Reading error duration", kNotify);
    return v;
}

void Mp4Tag::setBMP(std::int32_t v) {
    error_.clear();
    // A negative tempo means "leave it alone" and is accepted with no file.
    if (!m4atag::SetBMP(*state_, v))
        Fail("Writing error BMP", kNotify);
}

bool Mp4Tag::WriteTag() {
    error_.clear();
    if (m4atag::SaveMetaData(*state_))
        return true;
    Fail("Writing error", kNotify);
    return false;
}

bool Mp4Tag::SaveImageToFile(std::int32_t index, const std::string& fileName) {
    error_.clear();
    if (m4atag::SaveImageToFile(*state_, index, fileName.c_str()))
        return true;
    Fail("Error saving image", kNotify);
    return false;
}

bool Mp4Tag::DeleteImage(std::int32_t index) {
    error_.clear();
    if (m4atag::DeleteImage(*state_, index))
        return true;
    Fail("Error deleting image", kNotify);
    return false;
}

bool Mp4Tag::AddImage(std::int32_t position, const std::string& fileName) {
    error_.clear();
    if (m4atag::AddImage(*state_, position, fileName.c_str()))
        return true;
    Fail("Error adding image", kNotify);
    return false;
}

std::string Mp4Tag::GetMIME(std::int32_t index) const {
    return m4atag::GetMIME(*state_, index);
}

std::int64_t Mp4Tag::PictureSize(int index) const {
    return m4atag::GetImageSize(*state_, index);
}

}  // namespace sondrel
