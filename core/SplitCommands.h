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

class TSplitCommands {
public:
    TSplitCommands(TBASSChannel& player, TID3v1& id3v1, TID3v2& id3v2, SplitUi& ui);
    ~TSplitCommands();

    // btnSplitClick. A call while a run is processing messages (a second
    // click on Split) is ignored. Errors the commands do not catch (a time
    // text that does not convert, a file that cannot be opened or created,
    // a short read) leave as CorvellaError.
    void Split(const SplitRequest& request);
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
    void RunSectionCommand(const SplitRequest& request);
    void RunEqualPartsCommand(const SplitRequest& request);
    void Inform(const std::string& text);
    // The success message, with notes on lines of their own after it.
    void InformCompleted(const std::string& notes = {});
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
    std::unique_ptr<TMPEGaudio> sourceAnalysis_;  // of this run's source, when made
    bool sourceAnalysed_ = false;                 // its Analyze succeeded
    TSectionCutter cutter_;
};
