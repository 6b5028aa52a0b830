// TWMAfile: the stream parameters and descriptive texts of a Windows Media
// Audio (ASF) file, taken from the objects of its header without reading the
// audio: the file properties (maximum bit rate), the last stream properties
// object (channels, sample rate, average byte rate), the content description
// and the extended content description (the "WM/..." texts).
//
// Units: bytes, Hz, kbit/s for BitRate, seconds for Duration. Texts are
// UTF-8, trimmed of characters with codes 0 to 32. Every size field is
// checked against the file before it is followed. One object is used by one
// thread at a time; no file stays open between calls.
#pragma once

#include <cstdint>
#include <string>

class TWMAfile {
public:
    TWMAfile();

    void Reset();
    // False only when the file cannot be read, is truncated inside a header
    // object, or has an object size too small to hold the object's own
    // header; true otherwise, also for a file that is not ASF (Valid false).
    bool Analyze(const std::string& fileName);

    bool Valid() const { return valid_; }      // the stream values passed the plausibility test
    int64_t FileSize() const { return fileSize_; }
    uint8_t Channels() const { return channels_; }
    int32_t SampleRate() const { return sampleRate_; }   // Hz
    double Duration() const { return duration_; }        // FileSize * 8 / maximum bit rate
    int32_t BitRate() const { return bitRate_; }         // average bytes per second * 8 div 1000
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    const std::string& Year() const { return year_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }
    int32_t Track() const { return track_; }             // 0 = none or not a plain number

private:
    bool valid_ = false;
    int64_t fileSize_ = 0;
    uint8_t channels_ = 0;
    int32_t sampleRate_ = 0;
    double duration_ = 0;
    int32_t bitRate_ = 0;
    std::string title_;
    std::string artist_;
    std::string album_;
    std::string year_;
    std::string genre_;
    std::string comment_;
    int32_t track_ = 0;
};
