// SPDX-License-Identifier: GPL-3.0-or-later
// MP4 metadata (M4A, MP4) as a small function table over TagLib. Each caller
// owns a State for its file: ReadMetaData loads it, the getters and setters
// work on that copy in memory, and SaveMetaData, AddImage and DeleteImage
// write it back. States share nothing, so any number of files can be open
// and edited at once. Texts are zero-terminated UTF-8.
//
// Where each field lives in the file:
//   Track "trkn" ("n" or "n/total")   Title "\xa9nam"      Artist "\xa9ART"
//   Album "\xa9alb"                    Year "\xa9day"       Comment "\xa9cmt"
//   Lyrics "\xa9lyr"                   Composer "\xa9wrt"   Copyright "cprt"
//   EncodedBy "\xa9too"                Genre "\xa9gen" (a numeric "gnre" is read
//                                      as the genre table's name, kept while the genre
//                                      is unchanged and written as text once it changes)
//   OrigArtist "----:com.apple.iTunes:ORIGINAL ARTIST"
//   URL "----:com.apple.iTunes:URL"
//   BMP: the tempo in beats per minute, "tmpo" (0 = none)
//   pictures: the "covr" items, in file order.
// Items that are not mapped are left as they are. An item whose value is
// unchanged since the read keeps its bytes (TagLib alone would render it again
// from what it understood); an emptied field removes its item.
//
// Stream facts come from the audio properties: GetCodec gives "AAC", "ALAC"
// or "Unknown"; GetChannelMode "Mono", "Stereo" or the channel count;
// GetEncoder the "\xa9too" text as read.
//
// Saving never touches the original until the new content is complete: the
// file is rewritten in memory, read back and compared, and only then put in
// place by SafeReplace. A save writes the values changed since the read onto
// the file as it is at the time of the save; every other item stays as the
// file holds it then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tags/file_io.h"

namespace sondrel::m4atag {

// Files larger than this are refused (offsets in the callers are 32-bit).
inline constexpr std::int64_t kMaxFileBytes = 0x7fffffff;
// A picture file given to AddImage may not be larger than this.
inline constexpr std::int64_t kMaxPictureBytes = 64 * 1024 * 1024;
// A text given to a setter may not be longer than this (bytes).
inline constexpr std::size_t kMaxTextBytes = 16 * 1024 * 1024;
// "trkn" and "tmpo" hold 16-bit numbers, which TagLib reads as signed.
inline constexpr std::int32_t kMaxTrackNumber = 32767;
inline constexpr std::int32_t kMaxTempo = 32767;

// One file's metadata as read and as edited since; owned by one caller.
struct State;
struct StateDeleter {
    void operator()(State* state) const noexcept;
};
using StatePtr = std::unique_ptr<State, StateDeleter>;
// A state that holds no file.
StatePtr NewState();

// The write side of the state's saves; `faults` must outlive the state.
void SetIoFaults(State& s, const IoFaults& faults);

// Reads the metadata of `fileName` into `s`, dropping what it held. False
// when the file is missing, unreadable or not an MP4 file; `s` then holds no
// metadata (GetFileName still gives the name).
bool ReadMetaData(State& s, const char* fileName);

// Why the last read, save or picture operation failed, in words: the atom
// tree does not hold together, no MP4 container, or the system's reason
// for a failed read or write ("No space left on device"); empty after a
// success.
const std::string& GetProblem(const State& s);

// What is damaged in a file the last read took in part: its tags are read
// from the atoms that hold together (a file cut short behind its "moov", a
// broken atom inside a parent), and every save, picture addition or
// deletion is refused. Empty for a whole file.
const std::string& GetDamage(const State& s);

// Text getters: copy at most size - 1 bytes (never cutting a character) and
// a terminating zero into `buffer`; return the full length in bytes. Pass
// (nullptr, 0) to learn the length. Empty when no metadata is held.
std::int32_t GetFileName(const State& s, char* buffer, std::int32_t size);
std::int32_t GetTrack(const State& s, char* buffer, std::int32_t size);
std::int32_t GetTitle(const State& s, char* buffer, std::int32_t size);
std::int32_t GetArtist(const State& s, char* buffer, std::int32_t size);
std::int32_t GetAlbum(const State& s, char* buffer, std::int32_t size);
std::int32_t GetYear(const State& s, char* buffer, std::int32_t size);
std::int32_t GetComment(const State& s, char* buffer, std::int32_t size);
std::int32_t GetLyrics(const State& s, char* buffer, std::int32_t size);
std::int32_t GetComposer(const State& s, char* buffer, std::int32_t size);
std::int32_t GetOrigArtist(const State& s, char* buffer, std::int32_t size);
std::int32_t GetCopyright(const State& s, char* buffer, std::int32_t size);
std::int32_t GetURL(const State& s, char* buffer, std::int32_t size);
std::int32_t GetEncodedBy(const State& s, char* buffer, std::int32_t size);
std::int32_t GetGenre(const State& s, char* buffer, std::int32_t size);
std::int32_t GetCodec(const State& s, char* buffer, std::int32_t size);
std::int32_t GetEncoder(const State& s, char* buffer, std::int32_t size);
std::int32_t GetChannelMode(const State& s, char* buffer, std::int32_t size);

// Setters change the copy in memory only. False when no metadata is held,
// for a null, malformed-UTF-8 or over-long text, and for a track that is
// not "n" or "n/total".
bool SetTrack(State& s, const char* text);
bool SetTitle(State& s, const char* text);
bool SetArtist(State& s, const char* text);
bool SetAlbum(State& s, const char* text);
bool SetYear(State& s, const char* text);
bool SetComment(State& s, const char* text);
bool SetLyrics(State& s, const char* text);
bool SetComposer(State& s, const char* text);
bool SetOrigArtist(State& s, const char* text);
bool SetCopyright(State& s, const char* text);
bool SetURL(State& s, const char* text);
bool SetEncodedBy(State& s, const char* text);
bool SetGenre(State& s, const char* text);

// Synchronised lyrics as LRC text in the free-form item
// "----:com.apple.iTunes:SYNCEDLYRICS" (UTF-8), beside the plain lyrics;
// getter and setter as for the fields above, an empty text removes the item.
// The key is matched in any case: the first such item in the file is read,
// and a changed text takes its place under its own spelling while the
// further ones go.
std::int32_t GetSyncedLyrics(const State& s, char* buffer, std::int32_t size);
bool SetSyncedLyrics(State& s, const char* text);
// Keys of the items no field shows ("----:com.apple.iTunes:MOOD", "\xc2\xa9grp"
// in UTF-8), in file order, as the last read found them.
const std::vector<std::string>& GetOtherItems(const State& s);

// -1 when no metadata is held (and for a file too large to report).
std::int32_t GetFileLength(const State& s);
std::int32_t GetFrequency(const State& s);  // Hz
std::int32_t GetBitrate(const State& s);    // kbit/s
std::int32_t GetBMP(const State& s);
std::int32_t GetImagesCount(const State& s);
double GetDuration(const State& s);  // seconds

// A negative value means "leave the tempo alone" and is accepted at any
// time; 0 removes the tempo; above kMaxTempo is refused.
bool SetBMP(State& s, std::int32_t value);

// Writes the edits in memory into the file and reads it again. On failure
// the file is as it was and `s` still holds the edits.
bool SaveMetaData(State& s);

// Pictures. Export writes picture `index` to `fileName`. Delete and add
// change the file at once (with every edit held in memory); `position`
// runs from 0 (first) to the count (append). GetMIME gives "image/jpg",
// "image/png", "image/bmp", "image/gif", "application/octet-stream", or an
// empty text for an index outside the list; the text is never freed.
bool SaveImageToFile(const State& s, std::int32_t index, const char* fileName);
bool DeleteImage(State& s, std::int32_t index);
bool AddImage(State& s, std::int32_t position, const char* fileName);
const char* GetMIME(const State& s, std::int32_t index);
// Bytes of picture `index` as read; -1 for an index outside the list.
std::int64_t GetImageSize(const State& s, std::int32_t index);

}  // namespace sondrel::m4atag
