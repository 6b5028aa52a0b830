#include "ProgramFolder.h"

#include <elf.h>
#include <link.h>

#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

std::string WithSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string ExecutableFolder()
{
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return WithSlash(error ? std::filesystem::current_path(error).string() : exe.parent_path().string());
}

std::string ExpandOrigin(std::string entry, const std::string& origin)
{
    for (const char* token : {"${ORIGIN}", "$ORIGIN"}) {
        for (size_t at = entry.find(token); at != std::string::npos; at = entry.find(token, at + origin.size()))
            entry.replace(at, std::strlen(token), origin);
    }
    return entry;
}

// The run path (DT_RUNPATH, else DT_RPATH) of the executable itself, as
// written in it, split at ':'.
std::vector<std::string> ExecutableRunPath()
{
    struct Found {
        std::string text;
        bool done = false;
    } found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto& result = *static_cast<Found*>(data);
            if (result.done)
                return 1;
            result.done = true;  // the first object listed is the executable
            for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
                if (info->dlpi_phdr[i].p_type != PT_DYNAMIC)
                    continue;
                const auto* dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
                ElfW(Addr) strings = 0;
                ElfW(Xword) runPath = 0, rPath = 0;
                bool hasRunPath = false, hasRPath = false;
                for (const ElfW(Dyn)* entry = dynamic; entry->d_tag != DT_NULL; ++entry) {
                    if (entry->d_tag == DT_STRTAB)
                        strings = entry->d_un.d_ptr;
                    else if (entry->d_tag == DT_RUNPATH)
                        runPath = entry->d_un.d_val, hasRunPath = true;
                    else if (entry->d_tag == DT_RPATH)
                        rPath = entry->d_un.d_val, hasRPath = true;
                }
                if (!strings || (!hasRunPath && !hasRPath))
                    return 1;
                // The loader relocates the string table's address in place
                // on most targets; where it does not, it is still an offset.
                if (strings < info->dlpi_addr)
                    strings += info->dlpi_addr;
                result.text = reinterpret_cast<const char*>(strings) + (hasRunPath ? runPath : rPath);
            }
            return 1;
        },
        &found);
    std::vector<std::string> entries;
    size_t start = 0;
    while (!found.text.empty() && start <= found.text.size()) {
        const size_t colon = found.text.find(':', start);
        const size_t end = colon == std::string::npos ? found.text.size() : colon;
        if (end > start)
            entries.push_back(found.text.substr(start, end - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return entries;
}

bool Holds(const std::string& folder, const std::string& file)
{
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(folder) / file, error);
}

} // namespace

std::string ChooseProgramFolder(const std::string& executableFolder, const std::vector<std::string>& runPath,
                                const std::string& libraryFile)
{
    const std::string own = WithSlash(executableFolder);
    if (Holds(own, libraryFile))
        return own;
    std::string origin = own;
    origin.pop_back();
    for (const std::string& entry : runPath) {
        const std::string folder = ExpandOrigin(entry, origin);
        if (!folder.empty() && Holds(folder, libraryFile))
            return WithSlash(std::filesystem::path(folder).lexically_normal().string());
    }
    return own;
}

std::string ProgramFolder()
{
    return ChooseProgramFolder(ExecutableFolder(), ExecutableRunPath(), "libbass.so");
}
