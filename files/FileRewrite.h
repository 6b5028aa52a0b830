// RewriteFile: replaces the whole content of an existing file so that a
// failure at any point leaves the original exactly as it was.
//
// The new content goes into a StagedFile in the original's folder, which
// gets the original's owner and group, its permission bits plus owner
// write and its user extended attributes ("user.*") before any data goes
// in. Just before it takes the original's name, the original is compared
// with what it was when the copy started, or with the identity the caller
// expects (inode, size, modification and change times): a file that
// another program changed, replaced or removed meanwhile is left as that
// program left it, and the rewrite fails. When the path is a symbolic
// link, the file it points to is the one rewritten and the link stays. On
// failure nothing of the new content is left behind and the original is
// untouched.
//
// The rewritten file is a new inode: a file with other names (hard links)
// is refused, as those names would silently keep the old content. ACLs and
// attributes of the other namespaces are not carried over.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "FileIdentity.h"

class BinaryFile;

// Fills the empty replacement file; `original` is the resolved path of the
// file being replaced (open it to copy from it). Returns false on failure.
using RewriteContentWriter = std::function<bool(BinaryFile& replacement, const std::string& original)>;

// Returns true once the original has been replaced. On false, `reason` (when
// given) receives a sentence saying what went wrong. With `expected`, a
// file that is no longer that one is refused before anything is written.
bool RewriteFile(const std::string& path, const RewriteContentWriter& writeContent, std::string* reason = nullptr,
                 const std::optional<FileIdentity>& expected = std::nullopt);
