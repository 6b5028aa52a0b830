#include "StreamOpener.h"

#include "EngineError.h"
#include "Mpg123Decoder.h"
#include "SndfileDecoder.h"
#include "VorbisDecoder.h"

#include <array>
#include <cstring>
#include <fstream>

namespace engine {

namespace {

enum class Container { Ogg, Pcm, Asf, Other };

Container Identify(const std::array<unsigned char, 16>& head, std::streamsize size) {
    const auto starts = [&](const char* tag) {
        const size_t length = std::strlen(tag);
        return size >= static_cast<std::streamsize>(length) && std::memcmp(head.data(), tag, length) == 0;
    };
    static constexpr unsigned char kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    if (size >= 16 && std::memcmp(head.data(), kAsfHeader, 16) == 0)
        return Container::Asf;
    if (starts("OggS"))
        return Container::Ogg;
    if (starts("RIFF") || starts("RIFX") || starts("RF64") || starts("riff") || starts("FORM") || starts(".snd"))
        return Container::Pcm;
    return Container::Other;
}

} // namespace

std::unique_ptr<Decoder> OpenStreamDecoder(const std::string& path) {
    std::array<unsigned char, 16> head{};
    std::streamsize size = 0;
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            Fail(BASS_ERROR_FILEOPEN);
        in.read(reinterpret_cast<char*>(head.data()), head.size());
        size = in.gcount();
    }
    switch (Identify(head, size)) {
    case Container::Asf:
        Fail(BASS_ERROR_FILEFORM);
    case Container::Ogg:
        return std::make_unique<VorbisDecoder>(path);
    case Container::Pcm:
        return std::make_unique<SndfileDecoder>(path);
    case Container::Other:
        break;
    }
    return std::make_unique<Mpg123Decoder>(path);
}

} // namespace engine
