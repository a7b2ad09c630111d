// SPDX-License-Identifier: GPL-3.0-or-later
// Stream facts of an MPEG audio file (MPEG-1, 2 and 2.5, Layers I to III):
// version, layer, bit rate, sample rate, channel mode, header bits, frame
// count, playing time, VBR detection through Xing and VBRI headers, and a
// guess at the encoder. Only a fixed, small part of each file is read, so a
// folder of thousands of files is analysed quickly; nothing is ever written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tags/byte_source.h"
#include "tags/tag_model.h"

namespace sondrel {

// Bytes read at the audio start; also the longest frame accepted (MPEG-1
// Layer II, 384 kbit/s, 32 kHz, padded).
inline constexpr std::size_t kMpegMaxFrameLength = 1729;
// Buffer offsets tried as the first frame header.
inline constexpr std::size_t kMpegFrameSearchOffsets = 3458;
// Bytes read in front of the trailing tags when looking for an encoder mark.
inline constexpr std::size_t kMpegTailRead = 3458;
// How far past the ID3v2 tag the stream is looked for when no frame starts
// in the first bytes (zeros or junk after the tag): there it takes two
// consecutive frame headers, so a stray sync word is not taken for audio.
inline constexpr std::size_t kMpegStreamSearchLimit = 256 * 1024;
// Where a VBRI header starts in its frame: after the header and 32 bytes,
// whatever the version and channel mode.
inline constexpr std::size_t kMpegVbriOffset = 36;

// One decoded frame header (ISO/IEC 11172-3 and 13818-3 layout).
struct MpegHeader {
    std::uint32_t Word = 0;
    std::uint8_t VersionBits = 0;      // bits 19-20: 0 = 2.5, 2 = 2, 3 = 1
    std::uint8_t LayerBits = 0;        // bits 17-18
    std::uint8_t BitrateIndex = 0;     // bits 12-15
    std::uint8_t SampleRateIndex = 0;  // bits 10-11
    std::uint8_t ChannelModeBits = 0;  // bits 6-7
    std::uint8_t EmphasisBits = 0;     // bits 0-1
    bool ProtectionBit = false;        // bit 16; 0 means a CRC follows
    bool PaddingBit = false;           // bit 9
    bool CopyrightBit = false;         // bit 3
    bool OriginalBit = false;          // bit 2
    int Layer = 0;                     // 1, 2 or 3
    int Bitrate = 0;                   // kbit/s
    int SampleRate = 0;                // Hz
    int Padding = 0;                   // padding bit, times 4 for Layer I
    int Coefficient = 0;               // bytes per kbit/s per kHz
    int FrameLength = 0;               // bytes

    bool IsMpeg1() const { return VersionBits == 3; }
    bool IsMono() const { return ChannelModeBits == 3; }
};

// Decodes a big-endian header word; nullopt when it is not an acceptable
// first frame (bad sync, reserved values, free format, frame too long).
std::optional<MpegHeader> DecodeMpegHeader(std::uint32_t word);

// The Xing or VBRI header of the first frame.
struct VbrHeader {
    bool Found = false;
    std::string ID;  // "Xing" or "VBRI"
    std::uint32_t FrameCount = 0;
    std::uint32_t ByteCount = 0;
    std::uint8_t Quality = 0;
    std::string Encoder;  // up to 8 characters after a Xing header; empty for VBRI
};

class MpegInfo : public TagComponent {
public:
    MpegInfo() = default;

    const std::string& FileName() const { return fileName_; }
    // Stores the path, analyses the file, then fires onFileNameChange (not
    // after an empty file or a read failure, which end the analysis silently).
    void setFileName(const std::string& path);
    // The same for a file already opened by the caller (read from its bytes).
    void LoadFrom(const ByteSource& file);

    // The same analysis over any byte source, keeping FileName. Returns false
    // when it ended early on an empty or unreadable source; the caller then
    // fires no further event.
    bool Analyse(const ByteSource& source);

    std::int64_t FileSize() const { return fileSize_; }
    std::int64_t AudioStart() const { return audioStart_; }
    // Every tag at the end (APE, Lyrics3 v2, ID3v1): none of it is audio.
    std::int64_t TrailingTagSize() const { return trailingTagSize_; }
    std::uint32_t HeaderWord() const { return headerWord_; }
    const MpegHeader& Header() const { return header_; }
    int Layer() const { return header_.Layer; }
    int Bitrate() const { return bitrate_; }
    int SampleRate() const { return header_.SampleRate; }
    int Padding() const { return header_.Padding; }
    int Coefficient() const { return header_.Coefficient; }
    int FrameLength() const { return header_.FrameLength; }
    std::int64_t FirstFramePos() const { return firstFramePos_; }
    std::int64_t FrameCount() const { return frameCount_; }
    bool Protected() const { return found_ && !header_.ProtectionBit; }
    bool Copyright() const { return header_.CopyrightBit; }
    bool Original() const { return header_.OriginalBit; }
    std::string Emphasis() const;
    bool ZeroSideInfo() const { return zeroSideInfo_; }
    bool IsVBR() const { return isVbr_; }
    const VbrHeader& VBRData() const { return vbr_; }
    const std::string& EncoderText() const { return encoderText_; }
    // Why the last analysis found no stream, in words for the user ("no
    // MPEG audio frames found"); empty when it found one or could not read.
    const std::string& StreamProblem() const { return problem_; }

    std::int64_t GetFileSize() const { return fileSize_; }
    float GetVersion() const;
    std::string GetVer() const;
    std::string GetChannelMode() const;
    bool GetCopyright() const { return header_.CopyrightBit; }
    std::int64_t GetNumberOfFrames() const;
    std::int64_t GetLengthInSeconds() const;
    // The playing time in seconds: from the frame count of a Xing, Info or
    // VBRI header when there is one, else from the audio bytes and the rate.
    double Duration() const;
    // Samples in one frame of this stream (384, 576 or 1152).
    int SamplesPerFrame() const;
    std::string GetLength() const;
    int GetEncoderID() const;
    std::string GetEncoder() const;

private:
    void Reset();
    void ReadTrailingTagSize(const ByteSource& source);
    void ReadAudioStart(const ByteSource& source);
    bool FindStreamFurther(const ByteSource& source);
    void ReadVbrHeader(const std::vector<std::uint8_t>& buf, std::size_t frame);
    void FindEncoderMark(const ByteSource& source);
    int AverageBitrate(std::uint32_t frames, std::uint32_t bytes) const;

    std::string fileName_;
    std::int64_t fileSize_ = 0;
    std::int64_t audioStart_ = 0;
    std::int64_t trailingTagSize_ = 0;
    std::uint32_t headerWord_ = 0;
    MpegHeader header_;
    bool found_ = false;  // header_ holds a decoded header
    int bitrate_ = 0;     // the header's, or the Xing/VBRI average
    std::int64_t firstFramePos_ = 0;
    std::int64_t frameCount_ = 0;
    bool countedFrames_ = false;  // frameCount_ comes from a Xing, Info or VBRI header
    bool zeroSideInfo_ = false;
    bool isVbr_ = false;
    VbrHeader vbr_;
    std::string encoderText_;
    std::string problem_;
};

}  // namespace sondrel
