// TOggVorbis: the stream parameters and comment fields of an Ogg Vorbis
// file, read without decoding audio: the identification header in the first
// Ogg page, the comment header in the second, and the granule position of
// the last page found within the last 12060 bytes. A leading ID3v2 tag is
// skipped.
//
// Units: bytes, Hz, kbit/s (1 kbit = 1000 bits), seconds. Texts are UTF-8;
// comment values keep at most the first 250 bytes of their item. Duration,
// BitRate and Valid are computed on every call. One object is used by one
// thread at a time; no file stays open between calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TOggVorbis {
public:
    TOggVorbis();

    void Reset();
    // True when the file starts (after an optional ID3v2 tag) with an Ogg
    // page holding a Vorbis identification header. A file that cannot be
    // opened, like any other problem, is a false result or missing values,
    // never an exception.
    bool Analyze(const std::string& fileName);

    int64_t FileSize() const { return fileSize_; }
    uint8_t Channels() const { return channels_; }
    // Hz. The header's full 32-bit value, so 88.2 and 96 kHz streams describe correctly.
    uint32_t SampleRate() const { return sampleRate_; }
    uint16_t BitRateNominal() const { return bitRateNominal_; }  // kbit/s, rounded halves to even
    // PCM samples per channel: the granule position of the last page found
    // (negative when that page finishes no packet, 0 when no page was found).
    int64_t Samples() const { return samples_; }
    int64_t ID3v2Size() const { return id3v2Size_; }  // bytes, 0 without a tag
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }  // ARTIST, else PERFORMER
    const std::string& Album() const { return album_; }
    const std::string& Date() const { return date_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }  // COMMENT, else DESCRIPTION
    uint16_t Track() const { return track_; }                // 0 = none
    const std::string& Vendor() const { return vendor_; }

    // The size of the comment header: its packet's bytes, as the pages
    // carrying it tell (kMostCommentHeaderBytes + 1 for any more), and the
    // number of comments it claims.
    struct CommentExtent {
        int64_t Bytes = 0;
        uint32_t Count = 0;
    };
    const CommentExtent& Comments() const { return comments_; }
    // A decoding library reads the whole comment header into memory, one
    // allocation per item; beyond the bounds the tag readers keep to (16 MiB
    // of a tag, 50000 frames) a file is not handed to it.
    static constexpr int64_t kMostCommentHeaderBytes = int64_t(16) << 20;
    static constexpr uint32_t kMostComments = 50000;
    bool CommentHeaderWithinBounds() const;

    double Duration() const;  // seconds
    uint16_t BitRate() const; // kbit/s averaged over the whole file, headers included
    bool Valid() const;       // 1 or 2 channels, a rate, more than 0.1 s and a bit rate

private:
    int64_t fileSize_ = 0;
    uint8_t channels_ = 0;
    uint32_t sampleRate_ = 0;
    uint16_t bitRateNominal_ = 0;
    int64_t samples_ = 0;
    int64_t id3v2Size_ = 0;
    std::string title_;
    std::string artist_;
    std::string album_;
    std::string date_;
    std::string genre_;
    std::string comment_;
    uint16_t track_ = 0;
    std::string vendor_;
    CommentExtent comments_;
};

// The Vorbis comment value rule: UTF-8 decoded into 16-bit characters (a
// lead byte with bit 5 set starts a three-byte sequence, any other byte from
// 0x80 a two-byte one), stopping at the first bad continuation byte or cut-off
// sequence, and the characters written back as UTF-8. Surrogate values,
// which are no characters, become U+FFFD.
std::string DecodeVorbisCommentText(std::string_view bytes);
