#include "InPlaceWrite.h"

#include "BinaryFile.h"
#include "FileCalls.h"
#include "StagedFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::array<uint8_t, 8> kMagic = {'C', 'O', 'R', 'V', 'J', 'N', 'L', '1'};
constexpr size_t kFixedPart = 48;  // magic, device, inode, size, offset, length
constexpr size_t kChecksumSize = 8;
// No range written in place is larger; a bigger journal is not one of ours.
constexpr uint64_t kMaxRange = uint64_t(64) << 20;

void PutLE64(Bytes& out, uint64_t value)
{
    for (int k = 0; k < 8; ++k)
        out.push_back(uint8_t(value >> (8 * k)));
}

uint64_t LE64(const uint8_t* in)
{
    uint64_t value = 0;
    for (int k = 7; k >= 0; --k)
        value = value << 8 | in[k];
    return value;
}

// FNV-1a: enough to tell a journal cut short or half-flushed from a whole one.
uint64_t Checksum(const uint8_t* data, size_t size)
{
    uint64_t hash = 0xCBF29CE484222325ULL;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 0x100000001B3ULL;
    return hash;
}

Bytes JournalOf(const InPlaceChange& change)
{
    Bytes out(kMagic.begin(), kMagic.end());
    out.reserve(kFixedPart + 2 * change.New.size() + kChecksumSize);
    PutLE64(out, change.Identity.Device);
    PutLE64(out, change.Identity.Inode);
    PutLE64(out, uint64_t(change.Identity.Size));
    PutLE64(out, uint64_t(change.Offset));
    PutLE64(out, change.New.size());
    out.insert(out.end(), change.Old.begin(), change.Old.end());
    out.insert(out.end(), change.New.begin(), change.New.end());
    PutLE64(out, Checksum(out.data(), out.size()));
    return out;
}

struct Journal {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t Offset = 0;
    Bytes Old;
    Bytes New;
};

bool ParseJournal(const Bytes& bytes, Journal& journal)
{
    if (bytes.size() < kFixedPart + kChecksumSize || !std::equal(kMagic.begin(), kMagic.end(), bytes.begin()))
        return false;
    const uint64_t length = LE64(bytes.data() + 40);
    if (length > kMaxRange || bytes.size() != kFixedPart + 2 * length + kChecksumSize)
        return false;
    const size_t body = bytes.size() - kChecksumSize;
    if (Checksum(bytes.data(), body) != LE64(bytes.data() + body))
        return false;
    journal.Device = LE64(bytes.data() + 8);
    journal.Inode = LE64(bytes.data() + 16);
    journal.Size = int64_t(LE64(bytes.data() + 24));
    journal.Offset = int64_t(LE64(bytes.data() + 32));
    journal.Old.assign(bytes.begin() + kFixedPart, bytes.begin() + kFixedPart + length);
    journal.New.assign(bytes.begin() + kFixedPart + length, bytes.begin() + body);
    return journal.Offset >= 0;
}

bool Fail(std::string* reason, const std::string& text)
{
    if (reason)
        *reason = text;
    return false;
}

// Writes the new bytes over the range and flushes them.
bool PutInPlace(BinaryFile& file, int64_t offset, const Bytes& bytes)
{
    return file.WriteAt(offset, bytes.data(), bytes.size()) && file.SyncToDisk();
}

bool DropJournal(const std::string& journal)
{
    return SystemFileCalls().unlink(journal.c_str()) == 0 || errno == ENOENT;
}

// Each byte of the range is the old or the new one: the range is ours,
// whether the write had not begun, was cut off, or was complete.
bool HoldsOldOrNew(const Bytes& current, const Journal& journal)
{
    for (size_t i = 0; i < current.size(); ++i)
        if (current[i] != journal.Old[i] && current[i] != journal.New[i])
            return false;
    return true;
}

// A journal is applied, or dropped, only when it can be nothing but what a
// write of this user's own left: a plain file with this one name, owned by
// the user who runs the program and by the file's owner, that nobody else
// may change. A journal is an order to write bytes into the file; one that
// another user could have made or changed (a shared folder lets anyone
// create names in it) is no order of ours.
bool OwnJournal(const struct stat& journal, const std::string& path)
{
    if (!S_ISREG(journal.st_mode) || journal.st_nlink != 1 || journal.st_uid != ::geteuid()
        || (journal.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return false;
    struct stat file {};
    // A journal whose file is gone harms nothing by going too.
    return ::stat(path.c_str(), &file) != 0 ? errno == ENOENT : file.st_uid == journal.st_uid;
}

std::string NotOurJournal(const std::string& journalPath, const std::string& path)
{
    return "\"" + journalPath + "\" is not a journal left by a tag write of yours on \"" + path
        + "\" (that would be a plain file with one name, owned by you and by the file's owner, that nobody else "
          "may change). It is left alone, and nothing was written.";
}

} // namespace

std::string JournalPathOf(const std::string& path)
{
    return SiblingPathOf(path, ".tagjournal");
}

bool RecoverInPlaceWrite(const std::string& path, std::string* reason)
{
    // A rewrite killed between its two last steps left a whole new copy
    // beside the file, and the file itself unchanged.
    RemoveLeftoverStagingLink(path);
    const std::string journalPath = JournalPathOf(path);
    BinaryFile journalFile;
    // Never follows a link, and never waits on a pipe or a device.
    if (!journalFile.Open(journalPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0)) {
        if (errno == ENOENT)
            return true;
        if (errno == ELOOP)
            return Fail(reason, NotOurJournal(journalPath, path));
        return Fail(reason, "Cannot open file \"" + journalPath + "\". " + journalFile.LastError());
    }
    struct stat journalStatus {};
    if (::fstat(journalFile.Descriptor(), &journalStatus) != 0 || !OwnJournal(journalStatus, path))
        return Fail(reason, NotOurJournal(journalPath, path));
    // A write under way holds the lock: its journal is no leftover.
    if (::flock(journalFile.Descriptor(), LOCK_EX | LOCK_NB) != 0)
        return Fail(reason, "\"" + path + "\" is being written by another program.");

    Bytes bytes;
    const int64_t size = journalFile.Size();
    if (size >= 0 && uint64_t(size) <= kFixedPart + 2 * kMaxRange + kChecksumSize) {
        bytes.resize(size_t(size));
        if (!journalFile.ReadExact(bytes.data(), bytes.size()))
            bytes.clear();
    }
    Journal journal;
    if (!ParseJournal(bytes, journal))
        return DropJournal(journalPath) || Fail(reason, "Cannot delete file \"" + journalPath + "\".");

    BinaryFile file;
    if (!file.Open(path, O_RDWR, 0)) {
        if (errno == ENOENT)
            return DropJournal(journalPath);
        return Fail(reason, "Cannot open file \"" + path + "\". " + file.LastError());
    }
    auto identity = IdentityOfDescriptor(file.Descriptor());
    Bytes current(journal.New.size());
    const bool same = identity && identity->Device == journal.Device && identity->Inode == journal.Inode
        && identity->Size == journal.Size && file.Seek(journal.Offset) && file.ReadExact(current.data(), current.size())
        && HoldsOldOrNew(current, journal);
    if (same && current != journal.New && !PutInPlace(file, journal.Offset, journal.New))
        return Fail(reason, "Cannot write file \"" + path + "\". " + file.LastError());
    return DropJournal(journalPath) || Fail(reason, "Cannot delete file \"" + journalPath + "\".");
}

bool OverwriteInPlace(const std::string& path, BinaryFile& file, const InPlaceChange& change, std::string* reason)
{
    if (change.Old.size() != change.New.size() || change.New.size() > kMaxRange)
        return Fail(reason, "Cannot write file \"" + path + "\" in place.");
    const std::string journalPath = JournalPathOf(path);
    BinaryFile journal;
    if (!journal.Open(journalPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600)) {
        if (errno == EEXIST)
            return Fail(reason, "\"" + path + "\" is being written by another program.");
        return Fail(reason, "Cannot create file \"" + journalPath + "\". " + journal.LastError());
    }
    // Held until the journal is gone; released by the kernel if this process dies.
    ::flock(journal.Descriptor(), LOCK_EX);
    const Bytes record = JournalOf(change);
    if (!journal.Write(record.data(), record.size()) || !journal.SyncToDisk()
        || !SyncFolder(FolderOf(journalPath))) {
        std::string why = journal.LastError().empty() ? SystemErrorText(errno) : journal.LastError();
        DropJournal(journalPath);
        return Fail(reason, "Cannot write file \"" + journalPath + "\". " + why);
    }

    // A reader that took the journal for a leftover before it was locked
    // has removed it: without it the write would not be safe.
    auto journalNow = IdentityOfDescriptor(journal.Descriptor());
    auto journalNamed = IdentityOfPath(journalPath);
    if (!journalNow || !journalNamed || journalNow->Inode != journalNamed->Inode)
        return Fail(reason, "\"" + path + "\" is being written by another program.");
    auto now = IdentityOfDescriptor(file.Descriptor());
    auto named = IdentityOfPath(path);
    if (!now || *now != change.Identity || !named || named->Inode != now->Inode || named->Device != now->Device) {
        DropJournal(journalPath);
        return Fail(reason, "\"" + path + "\" was changed by another program while its tag was being written; "
                            "that program's version is kept.");
    }
    if (!PutInPlace(file, change.Offset, change.New)) {
        const std::string why = file.LastError();
        // The journal holds the old bytes too: put them back, and only when
        // that fails too leave the journal for the next write to finish.
        if (PutInPlace(file, change.Offset, change.Old))
            DropJournal(journalPath);
        return Fail(reason, "Cannot write file \"" + path + "\". " + why);
    }
    // A journal that cannot be removed is dropped by the next write,
    // which finds the new bytes already in place.
    DropJournal(journalPath);
    return true;
}
