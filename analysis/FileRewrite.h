// RewriteFile: replaces the whole content of an existing file so that a
// failure at any point leaves the original exactly as it was.
//
// The new content goes into a new file beside the original, named after it
// with "~" appended (or "~1", "~2", ... when that name is taken by anything:
// an existing file, folder or link of that name is never written through nor
// removed). The new file is flushed to disk, given the original's permission
// bits plus owner write and the original's owner and group, and renamed over
// the original in one step. When the path is a symbolic link, the file it
// points to is the one rewritten and the link stays. On failure the new file
// is removed again and the original is untouched.
//
// Limits of the approach: the rewritten file is a new inode, so other hard
// links to the original keep the old content, and extended attributes or
// ACLs beyond the permission bits are not carried over.
#pragma once

#include <functional>
#include <string>

class BinaryFile;

// Fills the empty replacement file; `original` is the resolved path of the
// file being replaced (open it to copy from it). Returns false on failure.
using RewriteContentWriter = std::function<bool(BinaryFile& replacement, const std::string& original)>;

// Returns true once the original has been replaced. On false, `reason` (when
// given) receives a sentence saying what went wrong.
bool RewriteFile(const std::string& path, const RewriteContentWriter& writeContent, std::string* reason = nullptr);
