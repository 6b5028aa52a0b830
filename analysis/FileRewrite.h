// RewriteFile: replaces the whole content of an existing file so that a
// failure at any point leaves the original exactly as it was.
//
// The new content goes into a StagedFile in the original's folder, which
// gets the original's owner and group and its permission bits plus owner
// write before any data goes in. Just before it takes the original's name,
// the original is compared with what it was when the copy started (inode,
// size, modification and change times): a file that another program
// changed, replaced or removed meanwhile is left as that program left it,
// and the rewrite fails. When the path is a symbolic link, the file it
// points to is the one rewritten and the link stays. On failure nothing of
// the new content is left behind and the original is untouched.
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
