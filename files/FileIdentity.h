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

// A file as it was when something was read from it. A write back to the
// same (resolved) path first compares the file with this identity: what
// another program changed since is not undone.
struct ReadOrigin {
    std::string Path;  // no symbolic links in it
    FileIdentity Identity;
    bool operator==(const ReadOrigin&) const = default;
};

// The sentence a write refused for that reason gives.
std::string ChangedSinceReadText(const std::string& fileName);

FileIdentity IdentityOfStatus(const struct stat& status);
std::optional<FileIdentity> IdentityOfDescriptor(int descriptor);
// Follows symbolic links; empty when the path names nothing.
std::optional<FileIdentity> IdentityOfPath(const std::string& path);
