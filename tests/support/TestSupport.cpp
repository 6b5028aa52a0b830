#include "TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {

// FNV-1a, 64 bits: stable across builds and runs, unlike std::hash.
uint64_t Fnv1a(const std::string& text, uint64_t hash)
{
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

std::string Hex(uint64_t value)
{
    static const char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, value >>= 4)
        text[static_cast<size_t>(i)] = digits[value & 0xF];
    return text;
}

// Where a program named on a command line lives, with its size and time:
// an update of lame or ffmpeg changes the key. Looked up on PATH in
// process, once per program, as a shell would.
std::string ToolStamp(const std::string& program)
{
    static std::map<std::string, std::string> stamps;
    auto known = stamps.find(program);
    if (known != stamps.end())
        return known->second;
    std::string stamp = program;
    std::vector<fs::path> candidates;
    if (program.find('/') != std::string::npos) {
        candidates.push_back(program);
    } else if (const char* path = std::getenv("PATH")) {
        std::istringstream folders(path);
        for (std::string folder; std::getline(folders, folder, ':');)
            candidates.push_back(fs::path(folder.empty() ? "." : folder) / program);
    }
    for (const auto& candidate : candidates) {
        std::error_code error;
        fs::path real = fs::canonical(candidate, error);
        if (error || !fs::is_regular_file(real, error))
            continue;
        auto size = fs::file_size(real, error);
        auto time = fs::last_write_time(real, error).time_since_epoch().count();
        stamp = real.string() + ":" + std::to_string(size) + ":" + std::to_string(time);
        break;
    }
    return stamps[program] = stamp;
}

// The programs a command line starts: the first word of each piece
// between pipes and separators.
std::vector<std::string> ProgramsOf(const std::string& command)
{
    std::vector<std::string> programs;
    bool atStart = true;
    std::istringstream words(command);
    for (std::string word; words >> word;) {
        if (word == "|" || word == "&&" || word == "||" || word == ";") {
            atStart = true;
        } else if (atStart) {
            programs.push_back(word);
            atStart = false;
        }
    }
    return programs;
}

fs::path CacheRoot()
{
    if (const char* root = std::getenv("CORVELLA_TEST_FIXTURES"); root && *root)
        return root;
    return CORVELLA_TEST_FIXTURE_CACHE;
}

bool AllPresent(const fs::path& folder, const std::vector<std::string>& names)
{
    std::error_code error;
    for (const auto& name : names)
        if (!fs::is_regular_file(folder / name, error))
            return false;
    return true;
}

} // namespace

fs::path CachedFixtures(const std::vector<std::string>& commands, const std::vector<std::string>& outputs)
{
    std::string key;
    for (const auto& command : commands) {
        key += command + '\n';
        for (const auto& program : ProgramsOf(command))
            key += ToolStamp(program) + '\n';
    }
    for (const auto& output : outputs)
        key += "-> " + output + '\n';
    const fs::path entry = CacheRoot() / (Hex(Fnv1a(key, 0xCBF29CE484222325ull)) + Hex(Fnv1a(key, 0x84222325CBF29CE4ull)));
    if (AllPresent(entry, outputs))
        return entry;

    fs::create_directories(entry);
    TempDir scratch;
    for (const auto& command : commands) {
        auto result = Run("cd " + Quote(scratch.Path().string()) + " && " + command);
        if (result.exitCode != 0)
            throw std::runtime_error(command + ": " + result.output);
    }
    for (const auto& output : outputs) {
        // Copied next to its place first, then renamed: a process that
        // finds the name finds the whole file (the scratch folder may be
        // on another file system than the cache).
        const fs::path staged = entry / (output + ".part-" + std::to_string(::getpid()));
        fs::copy_file(scratch.Path() / output, staged, fs::copy_options::overwrite_existing);
        fs::rename(staged, entry / output);
    }
    WriteText((entry / "recipe.txt").string(), key);
    return entry;
}

void CopyFixtures(const fs::path& cached, const std::vector<std::string>& names, const std::string& folder)
{
    for (const auto& name : names) {
        const fs::path target = fs::path(folder) / name;
        fs::copy_file(cached / name, target, fs::copy_options::overwrite_existing);
        // The cache's files may be read-only to other users; the tests own their copies.
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    }
}

std::vector<std::string> Mp3Commands(const std::string& mp3Name, double seconds, int sampleRate, int channels,
                                     const std::string& lameOptions)
{
    const std::string wav = mp3Name + ".source.wav";
    std::ostringstream sox;
    sox << "sox -n -r " << sampleRate << " -c " << channels << " -b 16 " << Quote(wav) << " synth " << seconds
        << " sine 440 sine 660 vol 0.5";
    return {sox.str(), "lame --quiet " + lameOptions + " " + Quote(wav) + " " + Quote(mp3Name)};
}

void MakeMp3(const std::string& path, double seconds, int sampleRate, int channels, const std::string& lameOptions)
{
    const std::string name = "made.mp3";
    const fs::path cached = CachedFixtures(Mp3Commands(name, seconds, sampleRate, channels, lameOptions), {name});
    fs::copy_file(cached / name, path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

} // namespace testsupport
