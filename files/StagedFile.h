// StagedFile: the new content of a file, written where no one can see it
// until it is complete.
//
// Create opens an unnamed file (O_TMPFILE) in the target's folder, with the
// given permission bits set before any data goes in. Nobody can open it
// meanwhile, and an interruption at any point, kill -9 included, leaves
// nothing behind but, between the two steps of replacing a name, a
// "<target>.corvella-staging" link that the next write removes. Where
// the file system has no unnamed files, a named one beside the target
// ("<target>~", or "<target>~" and a random suffix when that name is
// taken) takes its place, created with the same bits and removed again
// unless it is committed. Names too long for these suffixes are shortened
// (see SiblingPathOf).
//
// Commit flushes the content to disk, gives it the target's name and then
// flushes the folder, in that order, so that after a crash or power loss
// an existing name holds either the old content or the whole new one, and
// a new name, once Commit reports it done, the whole new content. An existing
// target is replaced in one rename, or left alone when replacing is not
// allowed. Either way, an existing name is never written through: a link
// or folder of the same name is replaced or refused, never followed.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

#include "BinaryFile.h"

class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // False (LastError set) when the folder takes no new file. With
    // exactMode false the umask narrows the mode, as for any new file.
    bool Create(const std::string& target, mode_t mode, bool exactMode = true);
    BinaryFile& File() { return file_; }

    enum class Outcome { Done, NameTaken, Failed };
    // `stillValid` runs right before the name changes; when it returns false
    // nothing is put in place and the result is Failed (the check gives its
    // own reason). NameTaken only when !replace and target exists.
    Outcome Commit(const std::string& target, bool replace, const std::function<bool()>& stillValid = {});

    // The system's reason for the last failure, with the file it concerns.
    const std::string& LastError() const { return lastError_; }
    // True while the content sits in a named file (the fallback).
    bool IsNamed() const { return !namedPath_.empty(); }

private:
    bool Fail(const std::string& what, const std::string& path, int error);
    bool LinkUnnamed(const std::string& name);
    // The steps of Commit: an unnamed file linked under a new name; an
    // unnamed file given a name of its own so that a rename can replace
    // target; the named file renamed onto target.
    Outcome LinkUnnamedAs(const std::string& target);
    bool NameBeforeReplacing(const std::string& target);
    Outcome RenameNamedOnto(const std::string& target, bool replace);

    BinaryFile file_;
    std::string namedPath_;   // the fallback's name, until committed
    std::string folder_;
    std::string lastError_;
};

// The name an unnamed file takes on its way to replacing target
// ("<target>.corvella-staging"), locked by its writer until the rename.
std::string StagingLinkPathOf(const std::string& target);
// Removes a staging link of target that no writer holds any more (one
// killed between the link and the rename left it). True when none is left.
bool RemoveLeftoverStagingLink(const std::string& target);

// A name beside path for a file of its own: path with suffix appended.
// Where that would pass the longest name a folder entry may have
// (NAME_MAX), the file's name is cut and a hash of the whole name put
// before the suffix, so that the names of two long names stay apart.
std::string SiblingPathOf(const std::string& path, const std::string& suffix);

std::string FolderOf(const std::string& path);
// Makes renames and removals in the folder durable; false when fsync fails.
bool SyncFolder(const std::string& folder);
