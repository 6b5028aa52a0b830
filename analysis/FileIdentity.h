// FileIdentity: what tells that a file is still the one looked at before:
// the same inode on the same device, with the same size and the same
// modification and change times (nanoseconds). Any write, truncation,
// replacement or removal by another program changes one of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct stat;

struct FileIdentity {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    int64_t ChangedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOfStatus(const struct stat& status);
std::optional<FileIdentity> IdentityOfDescriptor(int descriptor);
// Follows symbolic links; empty when the path names nothing.
std::optional<FileIdentity> IdentityOfPath(const std::string& path);
