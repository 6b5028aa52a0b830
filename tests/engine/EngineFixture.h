// Shared by the engine tests: a fixture that opens the library's silent
// output for each test and frees it afterwards, waiting on conditions with
// generous time-outs, and second opinions on decoded lengths from mpg123,
// sox and ffmpeg.
#pragma once

#include "bass.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace enginetest {

// Polls until the condition holds or the time-out passes; true if it held.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv(BASS_SILENT_OUTPUT_ENV, "1", 1);
        ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr)) << "error " << BASS_ErrorGetCode();
        ASSERT_TRUE(BASS_Start());
    }
    void TearDown() override { BASS_Free(); }

    testsupport::TempDir dir_;
};

// Sample frames in a WAV file, by sox.
inline long long WavFrames(const std::string& wav) {
    const auto result = testsupport::Run("soxi -s " + testsupport::Quote(wav));
    if (result.exitCode != 0)
        return -1;
    return std::atoll(result.output.c_str());
}

// Decodes a file to WAV with a shell command template ("%in" and "%out")
// and counts the frames.
inline long long DecodedFrames(const std::string& command, const std::string& in, const std::string& out) {
    std::string line = command;
    line.replace(line.find("%in"), 3, testsupport::Quote(in));
    line.replace(line.find("%out"), 4, testsupport::Quote(out));
    if (testsupport::Run(line).exitCode != 0)
        return -1;
    return WavFrames(out);
}

// A shell command (GoogleTest's fixture hides testsupport::Run).
inline testsupport::CommandResult Sh(const std::string& commandLine) { return testsupport::Run(commandLine); }

inline QWORD BytesPerSecond(DWORD handle) { return BASS_ChannelSeconds2Bytes(handle, 1.0f); }

} // namespace enginetest
