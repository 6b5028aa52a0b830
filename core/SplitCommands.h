// TSplitCommands: the two split commands of the split page (the section
// command and the equal-parts command) with their checks and messages, the
// output names, the part bounds, the tag copies, the gauge and the stop
// request. Free of widgets: the window hands in the texts of its controls
// and a SplitUi; the command-line companion and the tests do the same.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/PartPlan.h"
#include "core/Prompter.h"
#include "core/SectionCutter.h"

class TBASSChannel;
class TID3v1;
class TID3v2;
class TMPEGaudio;

// What a running split needs of the window besides its prompts.
class SplitUi : public Prompter {
public:
    virtual void SetProgressVisible(bool visible) = 0;  // pgbProgress shown/hidden
    virtual void SetProgress(int percent) = 0;          // 0..100
    virtual void ProcessMessages() = 0;                 // pump pending events once
    virtual void StopPlayerTimer() = 0;                 // TmrPlayer disabled
};

// The texts of the split page's controls when Split is clicked.
struct SplitRequest {
    std::string FileText;   // edtFile
    bool SectionMode = true; // rdbTime checked (else rdbPart)
    std::string StartText;  // edtStart
    std::string EndText;    // edtEnd
    std::string PartText;   // edtPart
    int32_t LengthMs = 0;   // stream length of the opened file
};

// How a run of the split commands ended; Message is the text it showed
// (empty when it showed none).
struct SplitOutcome {
    enum class Result {
        Done,     // the success message: every file asked for is written
        Refused,  // the request was not fit to run; nothing was written
        Failed,   // the failure message: a file asked for is not written
        Stopped,  // Stop ended the run before its last part
        NotRun,   // the user cancelled a prompt, or a run was going already
    };
    Result Kind = Result::NotRun;
    std::string Message;
};

class TSplitCommands {
public:
    TSplitCommands(TBASSChannel& player, TID3v1& id3v1, TID3v2& id3v2, SplitUi& ui);
    ~TSplitCommands();

    // btnSplitClick. A call while a run is processing messages (a second
    // click on Split) is ignored. Errors the commands do not catch (a time
    // text that does not convert, a file that cannot be opened or created,
    // a short read) leave as CorvellaError.
    SplitOutcome Split(const SplitRequest& request);
    // Splits fileName at points into folder, one file a point, named by its
    // Name or, without one, as equal parts are (NAME_chunk_K.mp3), with the
    // messages, gauge, stop request and merging of parts too short to
    // write of the equal-parts command. The bounds of points other than
    // equal shares are the audio's own: they are not moved earlier as the
    // time fields' are. Ignored while a run is going.
    SplitOutcome SplitAt(const std::string& fileName, const std::vector<SplitPoint>& points, const std::string& folder);
    // Starts counting the frames of fileName for a split of it into parts
    // (see TSectionCutter::PrepareParts); Split does it too.
    void PrepareParts(const std::string& fileName) { cutter_.PrepareParts(fileName); }
    // btnStopClick: asks a running equal-parts command to stop before its next part.
    void RequestStop();
    // Sample-exact parts that start with the frames a decoder needs (see
    // CutRequest::Gapless); off unless switched on.
    void SetGapless(bool gapless) { gapless_ = gapless; }

    bool StopRequested() const { return stopRequested_; }
    bool Running() const { return running_; }
    // True once the last run has shown its success message ("Splitting MP3
    // is completed.", alone or with the parts merged into others); false
    // before the first run and for a run that failed, was refused or ended
    // by an error. A click ignored while a run is processing changes nothing.
    bool Completed() const { return completed_; }
    const std::string& SourceFileName() const { return sourceFileName_; }
    const std::string& TargetFileName() const { return targetFileName_; }
    // The files of the last equal-parts run that were not written because
    // of an error (the source's tags could not be read, the player could not
    // open the source, a write failed, an
    // error ended the run), in part order. Parts skipped for holding no
    // whole frame are not among them.
    const std::vector<std::string>& PartsNotWritten() const { return partsNotWritten_; }

private:
    // What the runs that report their parts hold of them while they run.
    struct PartsRun;
    // The start of a run: the run's analysis of the source made afresh.
    void BeginRun();
    SplitOutcome RunSectionCommand(const SplitRequest& request);
    SplitOutcome RunEqualPartsCommand(const SplitRequest& request);
    // Writes a part of the source (set) at each point into folder.
    SplitOutcome WriteParts(const std::vector<SplitPoint>& points, const std::string& folder);
    // Cuts part index of run (and any part carried into it).
    void CutPart(PartsRun& run, int32_t index);
    // The file of part index of points in folder.
    std::string PartTarget(const std::vector<SplitPoint>& points, int32_t index, const std::string& folder) const;
    // The cut of point: its times as texts for the cutter's checks.
    CutRequest PartCut(const SplitPoint& point, int32_t index);
    // The tags of a part with tags of its own: the source's with the
    // part's texts put over them, rendered for this part alone.
    const PartTags& OwnPartTags(const SplitPoint::OwnTags& own);
    // A bound of point in milliseconds of the source.
    double PointMs(const SplitPoint& point, int64_t bound);
    // Shows text and returns the outcome of that kind.
    SplitOutcome Inform(SplitOutcome::Result kind, const std::string& text);
    // The success message, with notes on lines of their own after it.
    SplitOutcome InformCompleted(const std::string& notes = {});
    // Reads both tags of the source for the files the run writes; the
    // reason, naming the source, when they could not be read.
    std::optional<std::string> ReadSourceTags();
    // Why the cut would refuse the section of the request (its end not
    // after its start, its start past the stream's end, shorter than a
    // frame, no MPEG audio in the file), or nothing; asked before the name.
    std::optional<std::string> SectionProblem(const SplitRequest& request);
    // The reason when fileName holds no MPEG audio to cut.
    static std::optional<std::string> NoMpegAudio(const std::string& fileName);
    // True when parts of the quantity would be shorter than two frames of
    // the source (only known with the stream's length).
    bool PartsShorterThanTwoFrames(const SplitRequest& request, int32_t quantity);
    // Milliseconds of one frame of the source; its analysis (frame and
    // tags) is made once per run, at the first call.
    double SourceFrameMs(const std::string& fileName);
    // True when the run's analysis read both tags of the source, and the
    // source is still the file it read them from.
    bool AnalysedTagsAreCurrent() const;

    TBASSChannel& player_;
    TID3v1& id3v1_;
    TID3v2& id3v2_;
    SplitUi& ui_;
    bool stopRequested_ = false;
    bool gapless_ = false;
    bool running_ = false;
    bool completed_ = false;
    std::string sourceFileName_;
    std::string targetFileName_;
    std::string folderPath_;
    std::vector<std::string> partsNotWritten_;  // the folder picker starts at the folder chosen last
    PartTags partTags_;  // the source's tags, rendered once per run
    // The source's tags as the run read them, for parts with tags of their
    // own, and the last such part's rendering.
    struct SourceTags;
    std::unique_ptr<SourceTags> sourceTags_;
    PartTags ownPartTags_;
    std::unique_ptr<TMPEGaudio> sourceAnalysis_;  // of this run's source, when made
    bool sourceAnalysed_ = false;                 // its Analyze succeeded
    TSectionCutter cutter_;
};
