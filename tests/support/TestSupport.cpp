#include "TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir()
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("corvella-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code error;
    // Read-only files and folders must become writable before they can go.
    for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(path_, error);
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadText(const std::string& path)
{
    auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

CommandResult Run(const std::string& commandLine)
{
    CommandResult result;
    std::string full = "(" + commandLine + ") 2>&1";
    FILE* pipe = ::popen(full.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quote(const std::string& value)
{
    std::string quoted = "'";
    for (char c : value) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool HaveTool(const std::string& program)
{
    if (!program.empty() && program[0] == '/')
        return fs::exists(program);
    return Run("command -v " + Quote(program) + " >/dev/null").exitCode == 0;
}

std::string BinFolder()
{
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    std::string folder = exe.parent_path().string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

void MakeMp3(const std::string& path, double seconds, int sampleRate, int channels, const std::string& lameOptions)
{
    std::string wav = path + ".source.wav";
    std::ostringstream sox;
    sox << "sox -n -r " << sampleRate << " -c " << channels << " -b 16 " << Quote(wav) << " synth " << seconds
        << " sine 440 sine 660 vol 0.5";
    auto made = Run(sox.str());
    if (made.exitCode != 0)
        throw std::runtime_error("sox failed: " + made.output);
    auto encoded = Run("lame --quiet " + lameOptions + " " + Quote(wav) + " " + Quote(path));
    fs::remove(wav);
    if (encoded.exitCode != 0)
        throw std::runtime_error("lame failed: " + encoded.output);
}

} // namespace testsupport
