// MP4 metadata (M4A, MP4) as a small function table over TagLib. The module
// holds one current file: ReadMetaData loads it, the getters and setters work
// on that copy in memory, and SaveMetaData, AddImage and DeleteImage write it
// back. Texts are zero-terminated UTF-8.
//
// Where each field lives in the file:
//   Track "trkn" ("n" or "n/total")   Title "\xa9nam"      Artist "\xa9ART"
//   Album "\xa9alb"                    Year "\xa9day"       Comment "\xa9cmt"
//   Lyrics "\xa9lyr"                   Composer "\xa9wrt"   Copyright "cprt"
//   EncodedBy "\xa9too"                Genre "\xa9gen" (a numeric "gnre" is read
//                                      as the genre table's name and written back as text)
//   OrigArtist "----:com.apple.iTunes:ORIGINAL ARTIST"
//   URL "----:com.apple.iTunes:URL"
//   BMP: the tempo in beats per minute, "tmpo" (0 = none)
//   pictures: the "covr" items, in file order.
// Items that are not mapped are left as they are. An item whose value is
// unchanged since the read is not rewritten; an emptied field removes its item.
//
// Stream facts come from the audio properties: GetCodec gives "AAC", "ALAC"
// or "Unknown"; GetChannelMode "Mono", "Stereo" or the channel count;
// GetEncoder the "\xa9too" text as read.
//
// Saving never touches the original until the new content is complete: the
// file is rewritten in memory, read back and compared, and only then put in
// place by SafeReplace.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Makes `fileName` the current file and reads its metadata. False when the
// file is missing, unreadable or not an MP4 file; the module then holds no
// metadata (GetFileName still gives the name).
bool ReadMetaData(const char* fileName);

// Text getters: copy at most size - 1 bytes (never cutting a character) and
// a terminating zero into `buffer`; return the full length in bytes. Pass
// (nullptr, 0) to learn the length. Empty when no metadata is held.
std::int32_t GetFileName(char* buffer, std::int32_t size);
std::int32_t GetTrack(char* buffer, std::int32_t size);
std::int32_t GetTitle(char* buffer, std::int32_t size);
std::int32_t GetArtist(char* buffer, std::int32_t size);
std::int32_t GetAlbum(char* buffer, std::int32_t size);
std::int32_t GetYear(char* buffer, std::int32_t size);
std::int32_t GetComment(char* buffer, std::int32_t size);
std::int32_t GetLyrics(char* buffer, std::int32_t size);
std::int32_t GetComposer(char* buffer, std::int32_t size);
std::int32_t GetOrigArtist(char* buffer, std::int32_t size);
std::int32_t GetCopyright(char* buffer, std::int32_t size);
std::int32_t GetURL(char* buffer, std::int32_t size);
std::int32_t GetEncodedBy(char* buffer, std::int32_t size);
std::int32_t GetGenre(char* buffer, std::int32_t size);
std::int32_t GetCodec(char* buffer, std::int32_t size);
std::int32_t GetEncoder(char* buffer, std::int32_t size);
std::int32_t GetChannelMode(char* buffer, std::int32_t size);

// Setters change the copy in memory only. False when no metadata is held,
// for a null, malformed-UTF-8 or over-long text, and for a track that is
// not "n" or "n/total".
bool SetTrack(const char* text);
bool SetTitle(const char* text);
bool SetArtist(const char* text);
bool SetAlbum(const char* text);
bool SetYear(const char* text);
bool SetComment(const char* text);
bool SetLyrics(const char* text);
bool SetComposer(const char* text);
bool SetOrigArtist(const char* text);
bool SetCopyright(const char* text);
bool SetURL(const char* text);
bool SetEncodedBy(const char* text);
bool SetGenre(const char* text);

// -1 when no metadata is held (and for a file too large to report).
std::int32_t GetFileLength();
std::int32_t GetFrequency();  // Hz
std::int32_t GetBitrate();    // kbit/s
std::int32_t GetBMP();
std::int32_t GetImagesCount();
double GetDuration();  // seconds

// A negative value means "leave the tempo alone" and is accepted at any
// time; 0 removes the tempo; above kMaxTempo is refused.
bool SetBMP(std::int32_t value);

// Writes the copy in memory into the current file and reads it again.
bool SaveMetaData();

// Pictures. Export writes picture `index` to `fileName`. Delete and add
// change the file at once (with every field as it is in memory); `position`
// runs from 0 (first) to the count (append). GetMIME gives "image/jpg",
// "image/png", "image/bmp", "image/gif", "application/octet-stream", or an
// empty text for an index outside the list; the text is never freed.
bool SaveImageToFile(std::int32_t index, const char* fileName);
bool DeleteImage(std::int32_t index);
bool AddImage(std::int32_t position, const char* fileName);
const char* GetMIME(std::int32_t index);

}  // namespace sondrel::m4atag
