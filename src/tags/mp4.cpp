// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/mp4.h"

#include <cstring>

#include "tags/m4atag.h"

namespace sondrel {

namespace {

// The component has no events: failures are reported through Error only.
constexpr bool kNotify = false;

// Each field's reader and writer in the module, and the text a refused
// change leaves in Error; in the field table's order.
struct FieldAccess {
    Field field;
    Mp4Tag::Getter get;
    Mp4Tag::Setter set;
    const char* failure;
};
constexpr FieldAccess kAccess[kFieldCount] = {
    {Field::Track, m4atag::GetTrack, m4atag::SetTrack, "Writing error (Track)"},
    {Field::Title, m4atag::GetTitle, m4atag::SetTitle, "Writing error (Title)"},
    {Field::Artist, m4atag::GetArtist, m4atag::SetArtist, "Writing error (Artist)"},
    {Field::Album, m4atag::GetAlbum, m4atag::SetAlbum, "Writing error Album"},
    {Field::Year, m4atag::GetYear, m4atag::SetYear, "Writing error Year"},
    {Field::Genre, m4atag::GetGenre, m4atag::SetGenre, "Writing error Genre"},
    {Field::Comment, m4atag::GetComment, m4atag::SetComment, "Writing error Comment"},
    {Field::Lyrics, m4atag::GetLyrics, m4atag::SetLyrics, "Writing error Lyrics"},
    {Field::Composer, m4atag::GetComposer, m4atag::SetComposer, "Writing error Composer"},
    {Field::OrigArtist, m4atag::GetOrigArtist, m4atag::SetOrigArtist, "Writing error OrigArtist"},
    {Field::Copyright, m4atag::GetCopyright, m4atag::SetCopyright, "Writing error Copyright"},
    {Field::URL, m4atag::GetURL, m4atag::SetURL, "Writing error URL"},
    {Field::EncodedBy, m4atag::GetEncodedBy, m4atag::SetEncodedBy, "Writing error EncodedBy"},
};

const FieldAccess& AccessOf(Field f) {
    return kAccess[IndexOf(f)];
}

// The failure with the reason the module gave for refusing the file, when
// it gave one.
std::string WithReason(const char* failure, const std::string& problem) {
    return problem.empty() ? std::string(failure) : std::string(failure) + ": " + problem;
}

}  // namespace

Mp4Tag::Mp4Tag() : state_(m4atag::NewState()) {
    m4atag::SetIoFaults(*state_, io_);
}

void Mp4Tag::setFileName(const std::string& fileName) {
    fileName_ = fileName;
    error_.clear();
    // A name with a zero byte inside would reach the module cut short.
    valid_ = fileName_.find('\0') == std::string::npos &&
             m4atag::ReadMetaData(*state_, fileName_.c_str());
    if (!valid_) {
        const std::string problem = m4atag::GetProblem(*state_);
        // Nothing of an earlier file may stay readable under the new name.
        m4atag::ReadMetaData(*state_, nullptr);
        Fail(WithReason("Error reading metadata", problem), kNotify);
    }
    damage_ = valid_ ? m4atag::GetDamage(*state_) : std::string();
    genreId_ = valid_ ? GenreIdOf(Genre()) : kGenreOther;
}

std::string Mp4Tag::Value(Field f) const {
    return Text(AccessOf(f).get);
}

void Mp4Tag::setValue(Field f, const std::string& v) {
    SetText(AccessOf(f).set, v, AccessOf(f).failure);
}

std::string Mp4Tag::SyncedLyrics() const {
    return Text(m4atag::GetSyncedLyrics);
}

void Mp4Tag::setSyncedLyrics(const std::string& lrc) {
    SetText(m4atag::SetSyncedLyrics, lrc, "Writing error (SYNCEDLYRICS)");
}

const std::vector<std::string>& Mp4Tag::OtherItems() const {
    return m4atag::GetOtherItems(*state_);
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
    return Value(Field::Track);
}
std::string Mp4Tag::Title() const {
    return Value(Field::Title);
}
std::string Mp4Tag::Artist() const {
    return Value(Field::Artist);
}
std::string Mp4Tag::Album() const {
    return Value(Field::Album);
}
std::string Mp4Tag::Year() const {
    return Value(Field::Year);
}
std::string Mp4Tag::Comment() const {
    return Value(Field::Comment);
}
std::string Mp4Tag::Lyrics() const {
    return Value(Field::Lyrics);
}
std::string Mp4Tag::Composer() const {
    return Value(Field::Composer);
}
std::string Mp4Tag::OrigArtist() const {
    return Value(Field::OrigArtist);
}
std::string Mp4Tag::Copyright() const {
    return Value(Field::Copyright);
}
std::string Mp4Tag::URL() const {
    return Value(Field::URL);
}
std::string Mp4Tag::EncodedBy() const {
    return Value(Field::EncodedBy);
}
std::string Mp4Tag::Genre() const {
    return Value(Field::Genre);
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
    setValue(Field::Track, v);
}
void Mp4Tag::setTitle(const std::string& v) {
    setValue(Field::Title, v);
}
void Mp4Tag::setArtist(const std::string& v) {
    setValue(Field::Artist, v);
}
void Mp4Tag::setAlbum(const std::string& v) {
    setValue(Field::Album, v);
}
void Mp4Tag::setYear(const std::string& v) {
    setValue(Field::Year, v);
}
void Mp4Tag::setComment(const std::string& v) {
    setValue(Field::Comment, v);
}
void Mp4Tag::setLyrics(const std::string& v) {
    setValue(Field::Lyrics, v);
}
void Mp4Tag::setComposer(const std::string& v) {
    setValue(Field::Composer, v);
}
void Mp4Tag::setOrigArtist(const std::string& v) {
    setValue(Field::OrigArtist, v);
}
void Mp4Tag::setCopyright(const std::string& v) {
    setValue(Field::Copyright, v);
}
void Mp4Tag::setURL(const std::string& v) {
    setValue(Field::URL, v);
}
void Mp4Tag::setEncodedBy(const std::string& v) {
    setValue(Field::EncodedBy, v);
}
void Mp4Tag::setGenre(const std::string& v) {
    setValue(Field::Genre, v);
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
    if (!damage_.empty())
        return RefuseDamaged(kNotify);
    if (m4atag::SaveMetaData(*state_))
        return true;
    Fail(WithReason("Writing error", m4atag::GetProblem(*state_)), kNotify);
    return false;
}

bool Mp4Tag::SaveImageToFile(std::int32_t index, const std::string& fileName) {
    error_.clear();
    if (m4atag::SaveImageToFile(*state_, index, fileName.c_str()))
        return true;
    Fail(WithReason("Error saving image", m4atag::GetProblem(*state_)), kNotify);
    return false;
}

bool Mp4Tag::DeleteImage(std::int32_t index) {
    error_.clear();
    if (!damage_.empty())
        return RefuseDamaged(kNotify);
    if (m4atag::DeleteImage(*state_, index))
        return true;
    Fail(WithReason("Error deleting image", m4atag::GetProblem(*state_)), kNotify);
    return false;
}

bool Mp4Tag::AddImage(std::int32_t position, const std::string& fileName) {
    error_.clear();
    if (!damage_.empty())
        return RefuseDamaged(kNotify);
    if (m4atag::AddImage(*state_, position, fileName.c_str()))
        return true;
    Fail(WithReason("Error adding image", m4atag::GetProblem(*state_)), kNotify);
    return false;
}

std::string Mp4Tag::GetMIME(std::int32_t index) const {
    return m4atag::GetMIME(*state_, index);
}

std::int64_t Mp4Tag::PictureSize(int index) const {
    return m4atag::GetImageSize(*state_, index);
}

}  // namespace sondrel
