// The split page's Volume command: gain, fades and their undo for the
// selection, written into the opened file without re-encoding.
#include "app/SplitPage.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "app/GuiPrompter.h"
#include "app/PageHost.h"
#include "app/WidgetMakers.h"
#include "core/GlobalGain.h"
#include "core/TimeText.h"
#include "core/VolumeChange.h"
#include "core/VolumeMeasure.h"
#include "playback/BASSPlayer.h"

namespace {

constexpr const char* kCaption = "Information";
constexpr double kFadeFloorDb = -60.0;

// A pipe or a device would hang the rewrite: only a regular file is changed.
bool IsRegularFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

std::string Decibels(double db)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f dB", db);
    return text;
}

} // namespace

QToolButton* SplitPage::BuildVolumeButton()
{
    btnVolume_ = Named(new QToolButton, "btnVolume");
    btnVolume_->setText("&Volume");
    btnVolume_->setToolTip("Change the volume of the selection, or of the whole file, without re-encoding");
    btnVolume_->setPopupMode(QToolButton::InstantPopup);
    btnVolume_->setMinimumWidth(110);
    btnVolume_->setSizePolicy(QSizePolicy::Preferred, btnVolume_->sizePolicy().verticalPolicy());
    auto* menu = Named(new QMenu(btnVolume_), "mnuVolume");
    const auto entry = [this, menu](const QString& text, const char* name, void (SplitPage::*handler)()) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this,
                [this, handler] { host_.RunHandler([this, handler] { (this->*handler)(); }); });
    };
    entry("&Gain...", "actVolumeGain", &SplitPage::VolumeGainClick);
    entry("&Fade in/out...", "actVolumeFade", &SplitPage::VolumeFadeClick);
    entry("&Undo volume change", "actVolumeUndo", &SplitPage::VolumeUndoClick);
    btnVolume_->setMenu(menu);
    return btnVolume_;
}

namespace {

// The selection of the time fields in granules of fileName; the whole file
// when the two marks meet. Empty, with the reason shown, when there is none.
std::optional<GranuleRange> SelectionOf(GuiPrompterBase& prompts, const std::string& fileName,
                                     const std::string& startText, const std::string& endText, int64_t lengthMs)
{
    if (!IsRegularFile(fileName)) {
        prompts.ShowMessage(kCaption, "Please open a MP3 file.", MessageIcon::Information);
        return std::nullopt;
    }
    std::string error;
    const std::optional<GranuleTiming> timing = ReadGranuleTiming(fileName, error);
    if (!timing) {
        prompts.ShowMessage(kCaption, error, MessageIcon::Error);
        return std::nullopt;
    }
    const int64_t startMs = TimeTextToMilliseconds(startText);
    const int64_t endMs = TimeTextToMilliseconds(endText);
    // Marks that meet select the whole file.
    const GranuleRange selection = startMs == endMs ? RangeOfTimes(*timing, std::nullopt, std::nullopt, lengthMs)
                                                    : RangeOfTimes(*timing, startMs, endMs, lengthMs);
    if (selection.StartMs < 0 || selection.EndMs < selection.StartMs || selection.End <= selection.First) {
        prompts.ShowMessage(kCaption, "Please specify a proper section.", MessageIcon::Information);
        return std::nullopt;
    }
    return selection;
}

} // namespace

void SplitPage::VolumeGainClick()
{
    const std::string fileName = edtFile_->text().toStdString();
    GuiPrompterBase& prompts = host_.prompts();
    const std::optional<GranuleRange> selection = SelectionOf(prompts, fileName, edtStart_->text().toStdString(),
                                                           edtEnd_->text().toStdString(), lengthMs_);
    if (!selection)
        return;
    const std::optional<double> db = prompts.AskNumber("Gain", "Gain in dB, in steps of 1.5 dB:", 0.0,
                                                       -255 * kDbPerGainStep, 255 * kDbPerGainStep, kDbPerGainStep, 1);
    if (!db)
        return;
    const int steps = static_cast<int>(std::lround(*db / kDbPerGainStep));
    if (steps == 0)
        return;
    const double stepsDb = steps * kDbPerGainStep;
    // Only a gain upwards can clip; the peak is measured from the decoded
    // selection, as the file plays now.
    if (steps > 0) {
        const std::optional<double> peak = DecodedPeak(fileName, selection->StartMs, selection->EndMs);
        if (!peak) {
            prompts.ShowMessage(kCaption, fileName + ": the audio cannot be decoded to measure its peak.",
                                MessageIcon::Error);
            return;
        }
        const double after = PeakAfterSteps(*peak, steps);
        if (after > 1.0
            && !prompts.AskYesNo("Confirm", "A gain of " + Decibels(stepsDb) + " would clip: the peak is "
                                                + Decibels(*peak > 0 ? 20 * std::log10(*peak) : -INFINITY)
                                                + " of full scale, " + Decibels(20 * std::log10(after))
                                                + " after it.\r\nApply it anyway?"))
            return;
    }
    RewriteVolume(fileName,
                  [&] { return ApplyVolumeChange(fileName, ConstantGain(steps, selection->First, selection->End)); },
                  "The volume was changed by " + Decibels(stepsDb));
}

void SplitPage::VolumeFadeClick()
{
    const std::string fileName = edtFile_->text().toStdString();
    GuiPrompterBase& prompts = host_.prompts();
    const std::optional<GranuleRange> selection = SelectionOf(prompts, fileName, edtStart_->text().toStdString(),
                                                           edtEnd_->text().toStdString(), lengthMs_);
    if (!selection)
        return;
    const double spanSeconds = (selection->EndMs - selection->StartMs) / 1000.0;
    const std::optional<double> in = prompts.AskNumber("Fade in/out", "Fade in over the first seconds:", 0.0, 0.0,
                                                       spanSeconds, 0.5, 3);
    if (!in)
        return;
    const std::optional<double> out = prompts.AskNumber("Fade in/out", "Fade out over the last seconds:", 0.0, 0.0,
                                                        spanSeconds, 0.5, 3);
    if (!out)
        return;
    const double granuleMs = 576 * 1000.0 / selection->Timing.SampleRate;
    const int64_t inGranules = std::llround(*in * 1000.0 / granuleMs);
    const int64_t outGranules = std::llround(*out * 1000.0 / granuleMs);
    if (inGranules == 0 && outGranules == 0)
        return;
    if (inGranules + outGranules > selection->End - selection->First) {
        prompts.ShowMessage(kCaption, "The fades are longer than the selection they fade.", MessageIcon::Information);
        return;
    }
    RewriteVolume(fileName,
                  [&] {
                      return ApplyVolumeChange(fileName, Fade(selection->First, selection->End, inGranules, outGranules,
                                                              kFadeFloorDb, FadeShape::Decibels));
                  },
                  "The selection was faded to " + Decibels(kFadeFloorDb));
}

void SplitPage::VolumeUndoClick()
{
    const std::string fileName = edtFile_->text().toStdString();
    if (!IsRegularFile(fileName)) {
        host_.prompts().ShowMessage(kCaption, "Please open a MP3 file.", MessageIcon::Information);
        return;
    }
    RewriteVolume(fileName, [&] { return UndoVolumeChange(fileName); }, "The last volume change was taken back");
}

void SplitPage::RewriteVolume(const std::string& fileName, const std::function<VolumeOutcome()>& change,
                              const std::string& what)
{
    TBASSPlayer& player = host_.Player();
    const bool opened = player.PlayerReady() && player.StreamName() == fileName;
    const uint32_t positionMs = opened ? player.Position() : 0;
    const bool playing = opened && player.Mode() == plmPlaying;
    ReleaseFile();
    const VolumeOutcome outcome = change();
    // The file keeps its length and frames: the preview goes on where it
    // was, and the bar's outline shows the new levels.
    if (opened && player.Open(fileName)) {
        player.SetPosition(positionMs);
        if (playing) {
            player.Play();
            tmrPlayer_->start();
        }
        StartEnvelope(fileName);
    }
    if (!outcome.Done) {
        host_.prompts().ShowMessage(kCaption, outcome.Error, MessageIcon::Error);
        return;
    }
    std::string text = what + ": " + std::to_string(outcome.Entries) + " granule gains changed";
    if (outcome.Clamped > 0)
        text += ", " + std::to_string(outcome.Clamped) + " of them held at 0 or 255 short of it";
    text += ".\r\n" + std::to_string(outcome.Undoable) + (outcome.Undoable == 1 ? " change" : " changes")
          + " to undo.";
    host_.prompts().ShowMessage(kCaption, text, MessageIcon::Information);
}
