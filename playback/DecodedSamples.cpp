#include "DecodedSamples.h"

#include <vector>

#include "RT_bass.h"

bool DecodeSamples(const std::string& fileName, SampleFormat& format, const SampleSink& sink)
{
    if (!BASS_StreamCreateFile)
        return false;
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, fileName.c_str(), 0, 0, BASS_STREAM_DECODE);
    if (!stream)
        return false;
    struct Freed {
        HSTREAM stream;
        ~Freed() { BASS_StreamFree(stream); }
    } freed{stream};
    format.Channels = BASS_ChannelGetFlags(stream) & BASS_SAMPLE_MONO ? 1 : 2;
    const QWORD bytesPerSecond = BASS_ChannelSeconds2Bytes(stream, 1.0);
    if (bytesPerSecond == static_cast<QWORD>(-1) || bytesPerSecond == 0)
        return false;
    format.SampleRate = static_cast<uint32_t>(bytesPerSecond / 2 / static_cast<QWORD>(format.Channels));
    std::vector<int16_t> block(1 << 16);
    int64_t frame = 0;
    for (;;) {
        const DWORD got = BASS_ChannelGetData(stream, block.data(), static_cast<DWORD>(block.size() * sizeof(int16_t)));
        if (got == static_cast<DWORD>(-1) || got == 0)
            break;
        const size_t count = got / sizeof(int16_t);
        sink(block.data(), count, frame);
        frame += static_cast<int64_t>(count) / format.Channels;
    }
    return true;
}
