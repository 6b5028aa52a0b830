#include "SplitCommands.h"

#include <filesystem>
#include <optional>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "core/FlagScope.h"
#include "core/SplitPlan.h"
#include "core/TimeText.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kCutOffsetMs = -150;

bool IsExistingFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

} // namespace

TSplitCommands::TSplitCommands(TBASSPlayer& player, TID3v1& id3v1, TID3v2& id3v2, SplitUi& ui)
    : player_(player), id3v1_(id3v1), id3v2_(id3v2), ui_(ui), cutter_(player)
{
}

void TSplitCommands::Split(const SplitRequest& request)
{
    if (running_)
        return;
    FlagScope running(running_);
    if (!IsExistingFile(request.FileText)) {
        Inform("Please open a MP3 file.");
        return;
    }
    if (request.SectionMode)
        RunSectionCommand(request);
    else
        RunEqualPartsCommand(request);
}

void TSplitCommands::RequestStop()
{
    stopRequested_ = true;
}

void TSplitCommands::Inform(const std::string& text)
{
    ui_.ShowMessage("Information", text, MessageIcon::Information);
}

void TSplitCommands::ReadSourceTags()
{
    id3v1_.ReadTag(sourceFileName_);
    id3v2_.ReadTag(sourceFileName_);
    // The source's length, lookup table and timed texts would be wrong on
    // every part cut from it.
    id3v2_.DropFramesOfTheWholeAudio();
    // The files this run writes get the tags of the source as it is now,
    // parsed and rendered once, whatever the window's objects go through
    // while the run pumps messages.
    TID3v1 sourceId3v1;
    TID3v2 sourceId3v2;
    sourceId3v1.ReadTag(sourceFileName_);
    sourceId3v2.ReadTag(sourceFileName_);
    sourceId3v2.DropFramesOfTheWholeAudio();
    partTags_ = RenderPartTags(sourceId3v1, sourceId3v2);
}

void TSplitCommands::WriteTagsOnto(const std::string& fileName)
{
    // A cut refused because the target is the source itself must not end
    // with the source rewritten either.
    if (!IsExistingFile(fileName) || IsSameFile(fileName, sourceFileName_))
        return;
    id3v1_.WriteTag(fileName);
    id3v2_.WriteTag(fileName);
}

void TSplitCommands::RunSectionCommand(const SplitRequest& request)
{
    if (request.StartText == request.EndText) {
        Inform("Start Time and End Time can not be the same");
        return;
    }
    auto chosen = ui_.AskSaveFileName(PartFileName(PartBaseName(request.FileText), 1));
    if (!chosen || chosen->empty())
        return;
    if (*chosen == request.FileText || IsSameFile(*chosen, request.FileText)) {
        Inform("Output file can not be the same as the input file.");
        return;
    }
    ui_.StopPlayerTimer();
    sourceFileName_ = request.FileText;
    ReadSourceTags();
    targetFileName_ = *chosen;

    CutRequest cut;
    cut.Source = sourceFileName_;
    cut.Target = targetFileName_;
    cut.StartText = request.StartText;
    cut.EndText = request.EndText;
    cut.Overwrite = true;
    cut.OffsetMs = kCutOffsetMs;
    cut.Tags = &partTags_;
    bool written = cutter_.Cut(cut);
    Inform(written ? "Splitting MP3 is completed." : "Splitting MP3 is failed.");
    // A written section already carries both tags; a file of that name the
    // cut left alone still gets them, as the command always promised.
    if (!written)
        WriteTagsOnto(targetFileName_);
}

void TSplitCommands::RunEqualPartsCommand(const SplitRequest& request)
{
    auto quantity = ParsePartQuantity(request.PartText);
    if (!quantity) {
        Inform("Please specify a proper quantity of parts.");
        return;
    }
    if (!ui_.ExecuteFolderPicker(folderPath_))
        return;
    std::error_code error;
    if (folderPath_.empty() || !fs::is_directory(folderPath_, error)) {
        Inform("Please specify a proper output directory.");
        return;
    }
    std::string folder = WithTrailingSeparator(folderPath_);
    ui_.StopPlayerTimer();
    sourceFileName_ = request.FileText;
    ReadSourceTags();

    ui_.SetProgressVisible(true);
    stopRequested_ = false;
    const int32_t count = *quantity;
    const std::string baseName = PartBaseName(request.FileText);
    // A part too short to hold a playable run of frames is skipped, and its
    // frames go to the next part, so that the parts still hold all the audio.
    std::optional<std::string> carriedStart;
    for (int32_t i = 0; i < count; ++i) {
        ui_.ProcessMessages();
        PartRange range = EqualPartRange(request.LengthMs, count, i);
        targetFileName_ = folder + PartFileName(baseName, int64_t(i) + 1);
        if (stopRequested_) {
            ui_.SetProgressVisible(false);
            return;
        }
        CutRequest cut;
        cut.Source = sourceFileName_;
        cut.Target = targetFileName_;
        cut.StartText = carriedStart.value_or(FormatTimeText(static_cast<double>(range.StartMs) / 1000.0));
        cut.EndText = FormatTimeText(static_cast<double>(range.EndMs) / 1000.0);
        cut.Overwrite = true;
        cut.OffsetMs = kCutOffsetMs;
        cut.ToAudioEnd = range.Last;
        cut.Tags = &partTags_;
        bool written = cutter_.Cut(cut);
        carriedStart = written || range.Last ? std::nullopt : std::optional<std::string>(cut.StartText);
        if (!written)
            WriteTagsOnto(targetFileName_);
        ui_.SetProgress(GaugePercent(i, count));
    }
    ui_.SetProgressVisible(false);
    Inform("Splitting MP3 is completed.");
}
