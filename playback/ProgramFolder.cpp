#include "ProgramFolder.h"

#include <filesystem>
#include <system_error>

std::string ProgramFolder()
{
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    std::string folder = error ? std::filesystem::current_path(error).string() : exe.parent_path().string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}
