// The saving of TID3v2: in place through a journal when the new tag fits
// the bytes of the present one, otherwise by a rewrite of the whole file.
#include "ID3v2.h"

#include "ByteReader.h"
#include "ID3v2FrameWalk.h"
#include "ID3v2TagBounds.h"
#include "files/BinaryFile.h"
#include "files/FileIdentity.h"
#include "files/FileRewrite.h"
#include "files/InPlaceWrite.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

using namespace id3v2;

namespace {

constexpr size_t kCopyChunk = 1 << 20;
// Padding given to a tag when the file is rewritten anyway.
constexpr int64_t kBasePadding = 1024;
constexpr int64_t kMaxPadding = int64_t(1) << 20;

bool CopyRest(BinaryFile& from, int64_t start, int64_t end, BinaryFile& to)
{
    if (!from.Seek(start))
        return false;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(end - start, 0, static_cast<int64_t>(kCopyChunk))));
    for (int64_t left = end - start; left > 0;) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        if (!from.ReadExact(buffer.data(), chunk) || !to.Write(buffer.data(), chunk))
            return false;
        left -= static_cast<int64_t>(chunk);
    }
    return true;
}

// The new tag over the old one's bytes (frames, padding and a v2.4 footer):
// the rest becomes zero padding, and the header claims the whole region so
// that the audio stays where it is.
bool WriteTagInPlace(const std::string& path, BinaryFile& source, BinaryFile& writable, const Bytes& tag,
                     size_t region, const FileIdentity& identity, std::string& reason)
{
    InPlaceChange change;
    change.Identity = identity;
    change.Old.resize(region);
    if (!source.Seek(0) || !source.ReadExact(change.Old.data(), region)) {
        reason = "Cannot read file \"" + path + "\". " + source.LastError();
        return false;
    }
    change.New = tag;
    change.New.resize(region, 0);
    Bytes size;
    PutSynchsafe32(size, static_cast<uint32_t>(region - kHeaderSize));
    std::copy(size.begin(), size.end(), change.New.begin() + 6);
    if (change.New == change.Old)
        return true;
    return OverwriteInPlace(path, writable, change, &reason);
}

// The file anew: the tag, then everything behind the present tags.
bool RewriteWithTag(const std::string& path, const std::string& fileName, const Bytes& tag,
                    const FileIdentity& identity, std::string& reason)
{
    return RewriteFile(
        path,
        [&](BinaryFile& replacement, const std::string& original) {
            BinaryFile file;
            FileTagSource source(file);
            TagHeader now;
            if (!file.Open(original, BinaryFile::Mode::Read) || !ReadHeader(source, now)) {
                reason = "Cannot read file \"" + fileName + "\". " + file.LastError();
                return false;
            }
            if (!replacement.Write(tag.data(), tag.size())
                || !CopyRest(file, AudioStart(source, now), now.fileSize, replacement)) {
                reason = "Cannot write file \"" + fileName + "\". "
                    + (replacement.LastError().empty() ? file.LastError() : replacement.LastError());
                return false;
            }
            return true;
        },
        &reason, identity);
}

} // namespace

bool TID3v2::WriteTag(const std::string& fileName)
{
    writeError_.clear();
    changedSinceRead_ = false;
    auto fail = [&](std::string reason) {
        writeError_ = std::move(reason);
        return false;
    };
    if (!unreadFrames_.empty())
        return fail("Cannot read file \"" + fileName + "\". " + unreadFrames_
                    + " Writing would drop the frames of its tag, so the file is left as it is.");
    if (!uncarriedFrames_.empty())
        return fail("The ID3v2 tag of \"" + fileName + "\" holds frames that an ID3v2.3 tag has no place for ("
                    + UncarriedFrames() + "). Writing would drop them, so the file is left as it is.");
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(fileName.c_str(), nullptr), &std::free);
    if (!resolved)
        return fail("Cannot open file \"" + fileName + "\". " + SystemErrorText(errno));
    const std::string path = resolved.get();
    std::string reason;
    const std::optional<FileIdentity> beforeRecovery = IdentityOfPath(path);
    if (!RecoverInPlaceWrite(path, &reason))
        return fail(reason);
    // Completing a write of the user's own that was cut off is no
    // stranger's change: this write, newer, goes ahead over it.
    if (origin_ && origin_->Path == path && beforeRecovery == origin_->Identity) {
        if (const std::optional<FileIdentity> recovered = IdentityOfPath(path))
            origin_->Identity = *recovered;
    }

    BinaryFile file;
    FileTagSource source(file);
    TagHeader header;
    if (!file.Open(path, BinaryFile::Mode::Read))
        return fail("Cannot open file \"" + fileName + "\". " + file.LastError());
    const auto identity = IdentityOfDescriptor(file.Descriptor());
    if (!identity || !ReadHeader(source, header))
        return fail("Cannot read file \"" + fileName + "\". "
                    + (file.LastError().empty() ? "It is shorter than a tag header." : file.LastError()));
    // The tag in hand was read from this file: what another program did to
    // the file since would be undone by writing it back.
    if (origin_ && origin_->Path == path && origin_->Identity != *identity) {
        changedSinceRead_ = true;
        return fail(ChangedSinceReadText(fileName));
    }
    if (header.isTag && header.size == 0)
        return fail("The ID3v2 tag of \"" + fileName + "\" claims " + std::to_string(header.claimed)
                    + " bytes, more than the file's " + std::to_string(header.fileSize)
                    + ". Where it ends is unknown, so a new tag cannot replace it; the file is left as it is.");
    if (!PresentTagMayBeReplaced(source, header, fileName, reason))
        return fail(reason);
    // The next write back compares with the file as this one left it.
    const bool readFromThisFile = origin_ && origin_->Path == path;
    auto written = [&](const std::optional<FileIdentity>& now) {
        if (readFromThisFile)
            origin_ = now ? std::optional<ReadOrigin>(ReadOrigin{path, *now}) : std::nullopt;
        return true;
    };

    const int64_t audioStart = AudioStart(source, header);
    const Bytes tag = RenderTag();
    if (header.isTag && audioStart >= int64_t(tag.size()) && audioStart - int64_t(kHeaderSize) <= int64_t(kMaxTagBody)
        && audioStart <= int64_t(kMaxTagRead)) {
        BinaryFile writable;
        if (writable.Open(path, BinaryFile::Mode::ReadWrite)) {
            if (!WriteTagInPlace(path, file, writable, tag, static_cast<size_t>(audioStart), *identity, reason))
                return fail(reason);
            return written(IdentityOfDescriptor(writable.Descriptor()));
        }
        if (errno != EACCES && errno != EPERM && errno != EROFS)
            return fail("Cannot open file \"" + fileName + "\". " + writable.LastError());
        // A read-only file is rewritten, which the folder may allow.
    }

    const int64_t padding = std::min<int64_t>(kMaxPadding, kBasePadding + header.fileSize / 1000);
    if (!RewriteWithTag(path, fileName, RenderTag(static_cast<size_t>(padding)), *identity, reason)) {
        changedSinceRead_ = reason == ChangedSinceReadText(path);
        return fail(changedSinceRead_ ? ChangedSinceReadText(fileName) : reason);
    }
    return written(IdentityOfPath(path));
}
