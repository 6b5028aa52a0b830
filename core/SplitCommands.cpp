#include "SplitCommands.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "analysis/MPEGaudio.h"
#include "core/FlagScope.h"
#include "core/PartNames.h"
#include "core/SplitPlan.h"
#include "core/TimeText.h"
#include "files/BinaryFile.h"
#include "files/FileIdentity.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kCutOffsetMs = -150;
constexpr const char* kCompleted = "Splitting MP3 is completed.";
constexpr const char* kFailed = "Splitting MP3 is failed.";
constexpr const char* kFewerThanTwoFrames =
    "A file needs at least two frames: players look for a second one before they play the first.";
// The bytes a file needs to hold each tag's place: an ID3v1 tag, an ID3v2 header.
constexpr uintmax_t kId3v1TagBytes = 128;
constexpr uintmax_t kId3v2HeaderBytes = 10;
// The shortest frame MPEG audio has: 384 samples at 48 kHz.
constexpr double kShortestFrameMs = 8.0;

bool IsExistingFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

// Runs an action when its scope is left by an exception, and only then.
template <class Action>
class OnError {
public:
    explicit OnError(Action action) : action_(std::move(action)) {}
    ~OnError()
    {
        if (std::uncaught_exceptions() > exceptionsAtStart_)
            action_();
    }
    OnError(const OnError&) = delete;
    OnError& operator=(const OnError&) = delete;

private:
    Action action_;
    int exceptionsAtStart_ = std::uncaught_exceptions();
};

// Milliseconds of one frame of the file's MPEG stream; the shortest
// frame there is when the file holds none.
double FrameMs(const TMPEGaudio& reader, bool analysed)
{
    if (!analysed || !reader.Frame().Found)
        return kShortestFrameMs;
    const uint32_t sampleRate = FrameSampleRate(reader.Frame());
    const int samples = SamplesPerFrame(reader.Frame());
    if (sampleRate == 0 || samples <= 0)
        return kShortestFrameMs;
    return 1000.0 * samples / sampleRate;
}

// The texts of the source's tags as a part's tags start from: the ID3v2
// tag's, or the ID3v1 tag's where the source has no ID3v2 tag.
TagTexts SourceTagTexts(const TID3v1& id3v1, const TID3v2& id3v2)
{
    TagTexts texts;
    if (id3v2.Exists() || !id3v1.Exists()) {
        texts.Title = id3v2.Title();
        texts.Artist = id3v2.Artist();
        texts.Track = id3v2.Track();
        texts.TrackTotal = id3v2.TrackTotal();
    } else {
        texts.Title = id3v1.Title();
        texts.Artist = id3v1.Artist();
        texts.Track = id3v1.Track();
    }
    return texts;
}

// Tags hold a track number of one byte; a larger one is not written at all
// rather than as a wrong number.
uint8_t TrackByte(int64_t track)
{
    return track > 0 && track <= 255 ? static_cast<uint8_t>(track) : 0;
}

} // namespace

struct TSplitCommands::SourceTags {
    TID3v1 ID3v1;
    TID3v2 ID3v2;
};

TSplitCommands::TSplitCommands(TBASSChannel& player, TID3v1& id3v1, TID3v2& id3v2, SplitUi& ui)
    : player_(player), id3v1_(id3v1), id3v2_(id3v2), ui_(ui), cutter_(player)
{
}

TSplitCommands::~TSplitCommands() = default;

double TSplitCommands::SourceFrameMs(const std::string& fileName)
{
    if (!sourceAnalysis_) {
        sourceAnalysis_ = std::make_unique<TMPEGaudio>();
        sourceAnalysed_ = sourceAnalysis_->Analyze(fileName);
    }
    return FrameMs(*sourceAnalysis_, sourceAnalysed_);
}

bool TSplitCommands::AnalysedTagsAreCurrent() const
{
    if (!sourceAnalysis_ || !sourceAnalysed_)
        return false;
    const std::optional<ReadOrigin>& origin = sourceAnalysis_->ID3v2().Origin();
    // The source is opened as a read of its tags would open it: one that
    // can no longer be read fails the run here, before any file is written.
    BinaryFile source;
    if (!origin || !source.Open(sourceFileName_, BinaryFile::Mode::Read))
        return false;
    return IdentityOfDescriptor(source.Descriptor()) == origin->Identity;
}

void TSplitCommands::BeginRun()
{
    // Each run looks at the source afresh.
    sourceAnalysis_.reset();
    sourceAnalysed_ = false;
    completed_ = false;
}

SplitOutcome TSplitCommands::Split(const SplitRequest& request)
{
    if (running_)
        return {};
    FlagScope running(running_);
    BeginRun();
    if (!IsExistingFile(request.FileText))
        return Inform(SplitOutcome::Result::Refused, "Please open a MP3 file.");
    if (request.SectionMode)
        return RunSectionCommand(request);
    return RunEqualPartsCommand(request);
}

SplitOutcome TSplitCommands::SplitAt(const std::string& fileName, const std::vector<SplitPoint>& points,
                                     const std::string& folder)
{
    if (running_)
        return {};
    FlagScope running(running_);
    BeginRun();
    partsNotWritten_.clear();
    if (!IsExistingFile(fileName))
        return Inform(SplitOutcome::Result::Refused, "Please open a MP3 file.");
    if (auto noAudio = NoMpegAudio(fileName))
        return Inform(SplitOutcome::Result::Failed, std::string(kFailed) + "\r\n" + *noAudio);
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error))
        return Inform(SplitOutcome::Result::Refused, "Please specify a proper output directory.");
    if (points.empty())
        return Inform(SplitOutcome::Result::Refused, "Please specify a proper quantity of parts.");
    PrepareParts(fileName);
    sourceFileName_ = fileName;
    return WriteParts(points, WithTrailingSeparator(folder));
}

bool TSplitCommands::PartsShorterThanTwoFrames(const SplitRequest& request, int32_t quantity)
{
    // Parts that short hold no playable audio, and a quantity in the
    // millions would run for hours to write nothing.
    if (request.LengthMs <= 0)
        return false;
    const int64_t partMs = request.LengthMs / quantity;
    return static_cast<double>(partMs) < 2.0 * SourceFrameMs(request.FileText);
}

void TSplitCommands::RequestStop()
{
    stopRequested_ = true;
}

SplitOutcome TSplitCommands::Inform(SplitOutcome::Result kind, const std::string& text)
{
    ui_.ShowMessage("Information", text, MessageIcon::Information);
    return {kind, text};
}

SplitOutcome TSplitCommands::InformCompleted(const std::string& notes)
{
    // Set before the message is shown, so that whoever shows it can tell it apart.
    completed_ = true;
    return Inform(SplitOutcome::Result::Done, notes.empty() ? std::string(kCompleted) : kCompleted + ("\r\n" + notes));
}

std::optional<std::string> TSplitCommands::ReadSourceTags()
{
    TID3v1 sourceId3v1;
    TID3v2 sourceId3v2;
    bool id3v1Read = true;
    bool id3v2Read = true;
    // The tags the run's analysis read are taken while the source is as it
    // was then; a source changed since (while a name was asked for) is read
    // again, so that the files get the tags that go with their audio.
    if (AnalysedTagsAreCurrent()) {
        sourceId3v1 = sourceAnalysis_->ID3v1();
        sourceId3v2 = sourceAnalysis_->ID3v2();
    } else {
        id3v1Read = sourceId3v1.ReadTag(sourceFileName_);
        id3v2Read = sourceId3v2.ReadTag(sourceFileName_);
    }
    // A file too short to hold a tag's place has no tag; a longer one whose
    // tag could not be read (an I/O error) would give every file written
    // from it empty tags, its cover and comment gone.
    std::error_code error;
    const auto size = fs::file_size(sourceFileName_, error);
    const bool longEnough = !error;
    if (longEnough && ((!id3v1Read && size >= kId3v1TagBytes) || (!id3v2Read && size >= kId3v2HeaderBytes))) {
        std::string text = "The tags of \"" + sourceFileName_ + "\" could not be read";
        BinaryFile probe;
        if (!probe.Open(sourceFileName_, BinaryFile::Mode::Read) && !probe.LastError().empty())
            text += ": " + probe.LastError();
        return text;
    }
    // The source's length, lookup table and timed texts would be wrong on
    // every part cut from it.
    sourceId3v2.DropFramesOfTheWholeAudio();
    // The files this run writes get the tags of the source as it is now,
    // rendered once, whatever the window's objects go through while the
    // run pumps messages.
    partTags_ = RenderPartTags(sourceId3v1, sourceId3v2);
    sourceTags_ = std::make_unique<SourceTags>(SourceTags{sourceId3v1, sourceId3v2});
    id3v1_ = sourceId3v1;
    id3v2_ = sourceId3v2;
    return std::nullopt;
}

SplitOutcome TSplitCommands::RunSectionCommand(const SplitRequest& request)
{
    using Result = SplitOutcome::Result;
    if (request.StartText == request.EndText)
        return Inform(Result::Refused, "Start Time and End Time can not be the same");
    // A section the cut would refuse is told with its reason before a name
    // is asked for it.
    if (auto problem = SectionProblem(request))
        return Inform(Result::Failed, std::string(kFailed) + "\r\n" + *problem);
    auto chosen = ui_.AskSaveFileName(PartFileName(PartBaseName(request.FileText), 1));
    if (!chosen || chosen->empty())
        return {};
    if (*chosen == request.FileText || IsSameFile(*chosen, request.FileText))
        return Inform(Result::Refused, "Output file can not be the same as the input file.");
    if (IsExistingNonRegularFile(*chosen))
        return Inform(Result::Refused, "Output file can not be a device, a pipe or a folder.");
    ui_.StopPlayerTimer();
    sourceFileName_ = request.FileText;
    targetFileName_ = *chosen;
    if (auto unreadable = ReadSourceTags())
        return Inform(Result::Failed,
                      std::string(kFailed) + "\r\n" + *unreadable + ", so \"" + targetFileName_ + "\" was not written.");

    CutRequest cut;
    cut.Source = sourceFileName_;
    cut.Target = targetFileName_;
    cut.StartText = request.StartText;
    cut.EndText = request.EndText;
    cut.Overwrite = true;
    cut.OffsetMs = kCutOffsetMs;
    cut.Tags = &partTags_;
    cut.Gapless = gapless_;
    // The tags go only onto the file the cut has just written: a file of
    // that name that a refused cut left alone is someone else's.
    if (cutter_.Cut(cut))
        return InformCompleted();
    if (cutter_.LastCutWasEmpty())
        return Inform(Result::Failed, std::string(kFailed) + "\r\n" + kFewerThanTwoFrames);
    return Inform(Result::Failed, kFailed);
}

std::optional<std::string> TSplitCommands::SectionProblem(const SplitRequest& request)
{
    if (auto noAudio = NoMpegAudio(request.FileText))
        return noAudio;
    const int64_t startMs = TimeTextToMilliseconds(request.StartText);
    const int64_t endMs = TimeTextToMilliseconds(request.EndText);
    if (endMs <= startMs)
        return "The ending time must come after the starting time.";
    // The cut shifts both times, and measures the start against the
    // stream's length as the player gives it.
    const int64_t shiftedStart = startMs + kCutOffsetMs;
    if (request.LengthMs > 0 && shiftedStart >= request.LengthMs)
        return "The starting time lies at or beyond the end of the audio ("
            + FormatTimeText(static_cast<double>(request.LengthMs) / 1000.0) + ").";
    // A section that reaches the audio end takes its last frame whole;
    // sample-exact sections take every frame they touch. Otherwise one
    // shorter than a frame lands on fewer than two frame boundaries.
    const int64_t shiftedEnd = endMs + kCutOffsetMs;
    const bool toAudioEnd = request.LengthMs <= 0 || shiftedEnd >= request.LengthMs;
    const double frameMs = SourceFrameMs(request.FileText);
    if (!gapless_ && !toAudioEnd && static_cast<double>(shiftedEnd - std::max<int64_t>(shiftedStart, 0)) < frameMs) {
        // Near the start the shift cuts the section short: say so, or a
        // section longer than a frame would seem refused for nothing.
        const std::string shifted = shiftedStart < 0 ? " once both times are moved "
                + std::to_string(-kCutOffsetMs) + " ms earlier, as every cut does" : "";
        return "The section is shorter than one frame of audio (" + std::to_string(std::lround(frameMs)) + " ms)"
            + shifted + ". " + kFewerThanTwoFrames;
    }
    return std::nullopt;
}

std::optional<std::string> TSplitCommands::NoMpegAudio(const std::string& fileName)
{
    if (HoldsMpegAudio(fileName) == false)
        return "\"" + fileName + "\" holds no MPEG audio frames to cut.";
    return std::nullopt;
}

SplitOutcome TSplitCommands::RunEqualPartsCommand(const SplitRequest& request)
{
    using Result = SplitOutcome::Result;
    partsNotWritten_.clear();
    auto quantity = ParsePartQuantity(request.PartText);
    if (!quantity || PartsShorterThanTwoFrames(request, *quantity))
        return Inform(Result::Refused, "Please specify a proper quantity of parts.");
    if (auto noAudio = NoMpegAudio(request.FileText))
        return Inform(Result::Failed, std::string(kFailed) + "\r\n" + *noAudio);
    // The parts' bounds wait for the source's frames to be counted; the
    // walks run while the folder is chosen and the tags are read.
    PrepareParts(request.FileText);
    if (!ui_.ExecuteFolderPicker(folderPath_))
        return {};
    std::error_code error;
    if (folderPath_.empty() || !fs::is_directory(folderPath_, error))
        return Inform(Result::Refused, "Please specify a proper output directory.");
    std::string folder = WithTrailingSeparator(folderPath_);
    // Without the stream's length (no audio library, or a file the player
    // cannot open) no part has bounds, and none can be written.
    if (request.LengthMs <= 0)
        return Inform(Result::Failed, kFailed);
    sourceFileName_ = request.FileText;
    return WriteParts(EqualSplitPoints(request.LengthMs, *quantity), folder);
}

// The parts of a run as they are cut: a part too short to hold a playable
// run of frames is skipped, and its frames go to the next part (Carried),
// so that the parts still hold all the audio.
struct TSplitCommands::PartsRun {
    const std::vector<SplitPoint>& Points;
    std::optional<std::pair<SplitPoint, int32_t>> Carried;  // its point and index
    int32_t PartsWritten = 0;
    int32_t LastWritten = -1;
    // Parts written under another number than the user asked for are told:
    // a missing file would otherwise look like a lost part.
    std::vector<MergedParts> Merged;
};

std::string TSplitCommands::PartTarget(const std::vector<SplitPoint>& points, int32_t index,
                                       const std::string& folder) const
{
    const SplitPoint& point = points[static_cast<size_t>(index)];
    return folder + (point.Name.empty() ? PartFileName(PartBaseName(sourceFileName_), int64_t(index) + 1) : point.Name);
}

SplitOutcome TSplitCommands::WriteParts(const std::vector<SplitPoint>& points, const std::string& folder)
{
    using Result = SplitOutcome::Result;
    ui_.StopPlayerTimer();
    const auto count = static_cast<int32_t>(points.size());
    if (auto unreadable = ReadSourceTags()) {
        for (int32_t k = 0; k < count; ++k)
            partsNotWritten_.push_back(PartTarget(points, k, folder));
        return Inform(Result::Failed, std::string(kFailed) + "\r\n" + *unreadable + ", so no part was written (\""
                          + partsNotWritten_.front() + "\""
                          + (count > 1 ? " to \"" + partsNotWritten_.back() + "\")." : ")."));
    }
    ui_.SetProgressVisible(true);
    stopRequested_ = false;
    PartsRun run{points, {}, 0, -1, {}};
    int32_t i = 0;
    // A run that an error ends has written none of the parts from the one
    // that failed: the one being cut, or one still being copied.
    OnError noteUnwritten([&] {
        std::vector<std::string> fromFailed;
        for (int32_t k = cutter_.FailedPart().value_or(i); k < count; ++k)
            fromFailed.push_back(PartTarget(points, k, folder));
        // A part after the failed one may be named already (its cut wrote
        // nothing while the failed one was still being copied).
        std::erase_if(partsNotWritten_, [&](const std::string& name) {
            return std::find(fromFailed.begin(), fromFailed.end(), name) != fromFailed.end();
        });
        partsNotWritten_.insert(partsNotWritten_.end(), fromFailed.begin(), fromFailed.end());
    });
    for (; i < count; ++i) {
        ui_.ProcessMessages();
        targetFileName_ = PartTarget(points, i, folder);
        if (stopRequested_) {
            cutter_.FinishPendingParts();
            ui_.SetProgressVisible(false);
            return Inform(Result::Stopped, StoppedRunText(run.PartsWritten, count));
        }
        // A device or a pipe in the way ends the run like a folder in the
        // way does, before anything is cut for it.
        if (IsExistingNonRegularFile(targetFileName_)) {
            cutter_.FinishPendingParts();
            throw FileCreateError(targetFileName_, kNotARegularFile);
        }
        CutPart(run, i);
        ui_.SetProgress(GaugePercent(i, count));
    }
    cutter_.FinishPendingParts();
    ui_.SetProgressVisible(false);
    const std::string notes = run.Merged.empty() ? std::string() : MergedPartsText(run.Merged);
    if (run.PartsWritten > 0 && partsNotWritten_.empty())
        return InformCompleted(notes);
    return Inform(Result::Failed, notes.empty() ? std::string(kFailed) : kFailed + ("\r\n" + notes));
}

CutRequest TSplitCommands::PartCut(const SplitPoint& point, int32_t index)
{
    CutRequest cut;
    cut.Source = sourceFileName_;
    cut.Target = targetFileName_;
    // Equal parts are checked as the window's time fields would be, which
    // lead the audio; the bounds of other sources are the audio's own.
    cut.OffsetMs = point.Equal ? kCutOffsetMs : 0;
    cut.StartText = FormatTimeText(PointMs(point, point.Start) / 1000.0);
    cut.EndText = FormatTimeText(PointMs(point, point.End) / 1000.0);
    cut.Overwrite = true;
    cut.ToAudioEnd = point.ToAudioEnd;
    // The cutter writes a part's tags before Cut returns, so one rendering
    // at a time is enough.
    cut.Tags = point.Tags && sourceTags_ ? &OwnPartTags(*point.Tags) : &partTags_;
    cut.Gapless = gapless_;
    cut.Part = point;
    cut.PartIndex = index;
    cut.MayFinishLater = true;
    return cut;
}

const PartTags& TSplitCommands::OwnPartTags(const SplitPoint::OwnTags& own)
{
    TID3v1 id3v1 = sourceTags_->ID3v1;
    TID3v2 id3v2 = sourceTags_->ID3v2;
    const TagTexts texts =
        PartTagTexts(SourceTagTexts(id3v1, id3v2), SplitPart{0, 0, own.Title, own.Performer}, own.Number, own.Count);
    id3v2.SetTitle(texts.Title);
    id3v2.SetArtist(texts.Artist);
    id3v2.SetTrack(TrackByte(texts.Track));
    id3v2.SetTrackTotal(texts.TrackTotal);
    // A source without an ID3v1 tag gives parts without one (see
    // RenderPartTags); one with it gets the part's texts there too.
    if (id3v1.Exists()) {
        id3v1.SetTitle(texts.Title);
        id3v1.SetArtist(texts.Artist);
        id3v1.SetTrack(TrackByte(texts.Track));
    }
    ownPartTags_ = RenderPartTags(id3v1, id3v2);
    return ownPartTags_;
}

double TSplitCommands::PointMs(const SplitPoint& point, int64_t bound)
{
    if (point.In == SplitPoint::Unit::Milliseconds || point.Equal)
        return static_cast<double>(bound);
    SourceFrameMs(sourceFileName_);  // the source's analysis, made once a run
    const uint32_t rate = sourceAnalysed_ && sourceAnalysis_->Frame().Found ? FrameSampleRate(sourceAnalysis_->Frame()) : 0;
    return rate > 0 ? static_cast<double>(bound) * 1000.0 / rate : 0.0;
}

void TSplitCommands::CutPart(PartsRun& run, int32_t i)
{
    const SplitPoint& own = run.Points[static_cast<size_t>(i)];
    const int32_t first = run.Carried ? run.Carried->second : i;
    const bool last = static_cast<size_t>(i) + 1 == run.Points.size();
    CutRequest cut = PartCut(run.Carried ? JoinedPoints(run.Carried->first, own) : own, i);
    bool written = cutter_.Cut(cut);
    bool empty = !written && cutter_.LastCutWasEmpty();
    if (empty && !last)
        run.Carried = std::make_pair(*cut.Part, first);
    else
        run.Carried.reset();
    if (written) {
        if (first < i)
            run.Merged.push_back({first + 1, i, i + 1});
        run.LastWritten = i;
        ++run.PartsWritten;
    } else if (empty && last && run.LastWritten >= 0) {
        // The part before took the last frames, which would have been
        // too few for a part of their own.
        run.Merged.push_back({first + 1, i + 1, run.LastWritten + 1});
    } else if (!empty) {
        partsNotWritten_.push_back(targetFileName_);
    }
}
