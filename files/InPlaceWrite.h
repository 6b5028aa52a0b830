// OverwriteInPlace: replaces a range of bytes of a file where they stand,
// so that a crash at any moment leaves either all the old bytes or all the
// new ones once the file is next opened.
//
// A journal beside the file ("<file>.tagjournal") receives the file's
// identity, the offset, the old and the new bytes and a checksum, and is
// flushed to disk with its folder; only then are the new bytes written over
// the old ones and flushed, and the journal is removed. A journal left by
// an interrupted write is dealt with by RecoverInPlaceWrite before the file
// is written again (reading never writes, so a reader of a file whose
// write was cut off sees it as the cut left it): a torn journal (the file
// was not touched yet) is dropped; a whole one is completed when the range
// still holds, byte for byte, old or new bytes, and dropped when the file
// has been replaced or changed since. Only a journal that is the user's
// own is ever applied or dropped (a plain file with one name, owned by the
// running user and the file's owner, that nobody else may write); any
// other is left alone and the write refused. The journal is locked while a
// write uses it, so that another writer never mistakes a write under way
// for a leftover.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileIdentity.h"

class BinaryFile;

struct InPlaceChange {
    int64_t Offset = 0;
    std::vector<uint8_t> Old;  // what the range holds now
    std::vector<uint8_t> New;  // the same number of bytes
    FileIdentity Identity;     // the file when Old was read; the write gives up if it changed
};

// `file` is `path` opened for reading and writing. On false, `reason`
// says why, and the file holds the old bytes (or, when even putting them
// back failed, the journal stays for the next write to complete).
bool OverwriteInPlace(const std::string& path, BinaryFile& file, const InPlaceChange& change, std::string* reason);

// Completes or drops a journal left beside `path`, and removes a staging
// link a killed rewrite left (see StagedFile.h). True when no journal is
// left (or there was none); false when it had to stay (the file cannot be
// written now, or the journal is not the user's own), with `reason` set
// when given. For writers only: it may write to the file.
bool RecoverInPlaceWrite(const std::string& path, std::string* reason = nullptr);

// "<path>.tagjournal", shortened as SiblingPathOf does for a long name.
std::string JournalPathOf(const std::string& path);
