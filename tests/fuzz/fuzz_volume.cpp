// A volume change on any file, then undo: a change either is refused and
// leaves the file as it was, or is made and then taken back to the very
// bytes the file had. The steps and the stretch come from the input's size,
// so that the file itself stays the input.
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "core/VolumeChange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Bytes input(data, data + size);
    const std::string path = fuzz::ScratchFolder() + "/volume.mp3";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0, "cannot write " + path);
    // -16 .. +15 steps, never 0, over all granules or from granule 1 to 6;
    // large steps reach the limits 0 and 255 of many gains.
    int steps = static_cast<int>(size % 32) - 16;
    if (steps == 0)
        steps = 200;
    const GainCurve curve = size % 3 == 0 ? ConstantGain(steps, 1, 6) : ConstantGain(steps, 0, INT64_MAX);
    const VolumeOutcome applied = ApplyVolumeChange(path, curve);
    if (!applied.Done) {
        FUZZ_CHECK(fuzz::ReadWholeFile(path) == input, "a refused change altered the file: " + applied.Error);
        return 0;
    }
    const VolumeOutcome undone = UndoVolumeChange(path);
    FUZZ_CHECK(undone.Done, "the change just made cannot be undone: " + undone.Error);
    FUZZ_CHECK(fuzz::ReadWholeFile(path) == input, "undo did not give the file's bytes back");
    return 0;
}
