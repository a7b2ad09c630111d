// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/tag_model.h"

namespace sondrel {

const std::array<FieldInfo, kFieldCount> kFieldTable{{
    {Field::Track, "track", "--track", "Track", &TagFields::track},
    {Field::Title, "title", "--title", "Title", &TagFields::title},
    {Field::Artist, "artist", "--artist", "Artist", &TagFields::artist},
    {Field::Album, "album", "--album", "Album", &TagFields::album},
    {Field::Year, "year", "--year", "Year", &TagFields::year},
    {Field::Genre, "genre", "--genre", "Genre", &TagFields::Genre},
    {Field::Comment, "comment", "--comment", "Comment", &TagFields::comment},
    {Field::Lyrics, "lyrics", "--lyrics", "Lyrics", &TagFields::text},
    {Field::Composer, "composer", "--composer", "Composer", &TagFields::composer},
    {Field::OrigArtist, "origArtist", "--orig-artist", "Orig. Artist", &TagFields::OrigArtist},
    {Field::Copyright, "copyright", "--copyright", "Copyright", &TagFields::copyright},
    {Field::URL, "url", "--url", "URL", &TagFields::URL},
    {Field::EncodedBy, "encodedBy", "--encoded-by", "Encoded By", &TagFields::EncodedBy},
}};

const FieldInfo& InfoOf(Field field) {
    return kFieldTable[IndexOf(field)];
}

void CopyFieldValues(const TagFields& from, TagFields& to) {
    for (const auto& entry : kFieldTable)
        to[entry.field] = from[entry.field];
    to.GenreID = from.GenreID;
}

const std::array<std::string_view, kGenreCount> GenreTable = {"Blues",
                                                              "Classic Rock",
                                                              "Country",
                                                              "Dance",
                                                              "Disco",
                                                              "Funk",
                                                              "Grunge",
                                                              "Hip-Hop",
                                                              "Jazz",
                                                              "Metal",
                                                              "New Age",
                                                              "Oldies",
                                                              "Other",
                                                              "Pop",
                                                              "R&B",
                                                              "Rap",
                                                              "Reggae",
                                                              "Rock",
                                                              "Techno",
                                                              "Industrial",
                                                              "Alternative",
                                                              "Ska",
                                                              "Death Metal",
                                                              "Pranks",
                                                              "Soundtrack",
                                                              "Euro-Techno",
                                                              "Ambient",
                                                              "Trip-Hop",
                                                              "Vocal",
                                                              "Jazz+Funk",
                                                              "Fusion",
                                                              "Trance",
                                                              "Classical",
                                                              "Instrumental",
                                                              "Acid",
                                                              "House",
                                                              "Game",
                                                              "Sound Clip",
                                                              "Gospel",
                                                              "Noise",
                                                              "AlternRock",
                                                              "Bass",
                                                              "Soul",
                                                              "Punk",
                                                              "Space",
                                                              "Meditative",
                                                              "Instrumental Pop",
                                                              "Instrumental Rock",
                                                              "Ethnic",
                                                              "Gothic",
                                                              "Darkwave",
                                                              "Techno-Industrial",
                                                              "Electronic",
                                                              "Pop-Folk",
                                                              "Eurodance",
                                                              "Dream",
                                                              "Southern Rock",
                                                              "Comedy",
                                                              "Cult",
                                                              "Gangsta",
                                                              "Top 40",
                                                              "Christian Rap",
                                                              "Pop/Funk",
                                                              "Jungle",
                                                              "Native American",
                                                              "Cabaret",
                                                              "New Wave",
                                                              "Psychadelic",
                                                              "Rave",
                                                              "Showtunes",
                                                              "Trailer",
                                                              "Lo-Fi",
                                                              "Tribal",
                                                              "Acid Punk",
                                                              "Acid Jazz",
                                                              "Polka",
                                                              "Retro",
                                                              "Musical",
                                                              "Rock & Roll",
                                                              "Hard Rock",
                                                              "Folk",
                                                              "Folk-Rock",
                                                              "National Folk",
                                                              "Swing",
                                                              "Fast Fusion",
                                                              "Bebob",
                                                              "Latin",
                                                              "Revival",
                                                              "Celtic",
                                                              "Bluegrass",
                                                              "Avantgarde",
                                                              "Gothic Rock",
                                                              "Progressive Rock",
                                                              "Psychedelic Rock",
                                                              "Symphonic Rock",
                                                              "Slow Rock",
                                                              "Big Band",
                                                              "Chorus",
                                                              "Easy Listening",
                                                              "Acoustic",
                                                              "Humour",
                                                              "Speech",
                                                              "Chanson",
                                                              "Opera",
                                                              "Chamber Music",
                                                              "Sonata",
                                                              "Symphony",
                                                              "Booty Bass",
                                                              "Primus",
                                                              "Porn Groove",
                                                              "Satire",
                                                              "Slow Jam",
                                                              "Club",
                                                              "Tango",
                                                              "Samba",
                                                              "Folklore",
                                                              "Ballad",
                                                              "Power Ballad",
                                                              "Rhythmic Soul",
                                                              "Freestyle",
                                                              "Duet",
                                                              "Punk Rock",
                                                              "Drum Solo",
                                                              "A Cappella",
                                                              "Euro-House",
                                                              "Dance Hall",
                                                              "Goa",
                                                              "Drum & Bass",
                                                              "Club-House",
                                                              "Hardcore",
                                                              "Terror",
                                                              "Indie",
                                                              "BritPop",
                                                              "Negerpunk",
                                                              "Polsk Punk",
                                                              "Beat",
                                                              "Christian Gangsta",
                                                              "Heavy Metal",
                                                              "Black Metal",
                                                              "Crossover",
                                                              "Contemporary Christian",
                                                              "Christian Rock",
                                                              "Merengue",
                                                              "Salsa",
                                                              "Thrash Metal",
                                                              "Anime",
                                                              "JPop",
                                                              "Synthpop"};

std::uint8_t GenreIdOf(std::string_view name) {
    for (std::size_t i = 0; i < GenreTable.size(); ++i) {
        if (GenreTable[i] == name)
            return static_cast<std::uint8_t>(i);
    }
    return kGenreOther;
}

std::string GenreNameOf(unsigned genreId) {
    return std::string(GenreTable[genreId < kGenreCount ? genreId : kGenreOther]);
}

std::string FailureText(std::string_view what, std::string_view reason) {
    // The file layer says "write failed: <system text>" in lower case; a
    // component's own message starts upper case and is kept whole.
    const auto colon = reason.find(": ");
    if (colon != std::string_view::npos && reason.front() >= 'a' && reason.front() <= 'z')
        reason.remove_prefix(colon + 2);
    if (reason.empty())
        return std::string(what);
    if (what.empty())
        return std::string(reason);
    std::string text(what);
    text += ": ";
    text += reason;
    return text;
}

void TagComponent::Fail(std::string_view what, const std::string& reason, bool notify) {
    Fail(FailureText(what, reason), notify);
}

void TagComponent::Fail(std::string message, bool notify) {
    error_ = std::move(message);
    if (notify && onError)
        onError(*this, error_);
}

bool TagComponent::RefuseDamaged(bool notify) {
    Fail("The file is damaged (" + damage_ + "); its tags are shown read-only and not saved",
         notify);
    return false;
}

void TagComponent::Changed() {
    if (onChange)
        onChange(*this);
}

void TagComponent::FileNameChanged() {
    if (onFileNameChange)
        onFileNameChange(*this);
}

}  // namespace sondrel
