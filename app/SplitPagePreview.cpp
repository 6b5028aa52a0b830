// Preview playback and marking on the split page: the transport buttons, the
// position timer, the track bar, the two mark buttons and the typed times.

#include "app/SplitPage.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include <cmath>

#include "app/GuiTrackBar.h"
#include "app/PageHost.h"
#include "app/WaveformView.h"
#include "core/FlagScope.h"
#include "core/TimeText.h"
#include "playback/BASSPlayer.h"

namespace {

const QString kPauseHint = QStringLiteral("Pause");
const QString kResumeHint = QStringLiteral("Resume");

bool IsExistingFile(const QLineEdit& edit)
{
    return !edit.text().isEmpty() && QFileInfo(edit.text()).isFile();
}

} // namespace

void SplitPage::sbtnPlayClick()
{
    if (!IsExistingFile(*edtFile_))
        return;
    // Every Play opens the file afresh: a split or a tag write may have
    // closed or rewritten it since the last one. The player reports a file
    // it cannot open itself; without a stream there is nothing to follow.
    if (!host_.Player().Open(edtFile_->text().toStdString()))
        return;
    host_.Player().SetPosition(static_cast<uint32_t>(positionMs_));
    host_.Player().Play();
    listenEndMs_ = -1;  // a plain Play plays on past a listened span's end
    tmrPlayer_->start();
    tmrFollow_->start();
}

void SplitPage::sbtnPauseClick()
{
    // The hint is the pause state: it tells what the next click does.
    if (sbtnPause_->toolTip() == kResumeHint) {
        host_.Player().SetPaused(false);
        sbtnPause_->setToolTip(kPauseHint);
        tmrPlayer_->start();
        tmrFollow_->start();
    } else {
        host_.Player().SetPaused(true);
        sbtnPause_->setToolTip(kResumeHint);
        tmrPlayer_->stop();
    }
}

void SplitPage::sbtnStopClick()
{
    host_.Player().Stop();
    tmrPlayer_->stop();
    tkbPosition_->setValue(0);
    positionMs_ = 0;
    positionFromBar_ = true;
    wavView_->SetPlayPosition(0);
}

void SplitPage::TmrPlayerTimer()
{
    // While the user holds the handle, the bar belongs to the user; moving
    // it under the mouse would make it jump back and forth.
    if (tkbPosition_->isSliderDown())
        return;
    FlagScope movedByTimer(trackBarMovedByTimer_);
    positionMs_ = host_.Player().Position();
    positionFromBar_ = false;
    tkbPosition_->setValue(static_cast<int>(positionMs_ / 1000));
    wavView_->SetPlayPosition(positionMs_);
}

void SplitPage::tkbPositionChange()
{
    if (edtFile_->text().isEmpty())
        return;
    const int position = tkbPosition_->value();
    labTime1_->setText(QString::fromStdString(
        FormatPositionText(position, tkbPosition_->maximum(), lengthRemainderMs_)));
    if (trackBarMovedByTimer_)
        return;
    // A second picked on the bar is the play position to the millisecond;
    // the last one is the exact end.
    positionMs_ = position == tkbPosition_->maximum() ? lengthMs_ : int64_t{position} * 1000;
    positionFromBar_ = true;
    wavView_->SetPlayPosition(positionMs_);
    if (host_.Player().Mode() != plmPlaying)
        return;
    // The seek is done muted so that it does not click.
    const int32_t volume = host_.Player().Volume();
    host_.Player().SetVolume(0);
    host_.Player().SetPosition(static_cast<uint32_t>(position) * 1000u);
    host_.Player().SetVolume(volume);
}

namespace {

// The whole second a typed time points at, or -1 when the text is not a
// time inside the stream (unreadable, negative or beyond the last second).
int TypedTimePosition(const QLineEdit& edit, int trackBarMax)
{
    const double seconds = TimeTextToSeconds(edit.text().toStdString());
    if (seconds < 0 || !std::isfinite(seconds))
        return -1;
    const double wholeSeconds = std::trunc(seconds);
    if (wholeSeconds > trackBarMax)
        return -1;
    return static_cast<int>(wholeSeconds);
}

} // namespace

void SplitPage::sbtnBeginClick()
{
    if (edtFile_->text().isEmpty())
        return;
    const int64_t ms = MarkAtPlayPosition();
    tkbPosition_->SetSelStart(static_cast<int>(ms / 1000));
    {
        FlagScope markChange(startMarkChange_);
        edtStart_->setText(QString::fromStdString(FormatTimeText(static_cast<double>(ms) / 1000.0)));
    }
    UpdateSelectedLength();
    ShowMarksOfTexts();
    CommitMarks();
}

void SplitPage::sbtnEndClick()
{
    if (edtFile_->text().isEmpty())
        return;
    const int64_t ms = MarkAtPlayPosition();
    tkbPosition_->SetSelEnd(static_cast<int>(ms / 1000));
    {
        FlagScope markChange(endMarkChange_);
        edtEnd_->setText(QString::fromStdString(FormatTimeText(static_cast<double>(ms) / 1000.0)));
    }
    UpdateSelectedLength();
    ShowMarksOfTexts();
    CommitMarks();
}

void SplitPage::edtStartChange()
{
    if (startMarkChange_)
        return;
    // The selected length describes the two texts, so it follows every
    // change of them, also one that cannot move the track bar.
    UpdateSelectedLength();
    ShowMarksOfTexts();
    if (!IsExistingFile(*edtFile_))
        return;
    const int position = TypedTimePosition(*edtStart_, tkbPosition_->maximum());
    if (position < 0)
        return;
    tkbPosition_->setValue(position);
    tkbPosition_->SetSelStart(position);
    labTime1_->setText(edtStart_->text());
    positionMs_ = std::llround(TimeTextToSeconds(edtStart_->text().toStdString()) * 1000.0);
    positionFromBar_ = true;
    wavView_->SetPlayPosition(positionMs_);
}

void SplitPage::edtEndChange()
{
    if (endMarkChange_)
        return;
    UpdateSelectedLength();
    ShowMarksOfTexts();
    if (!IsExistingFile(*edtFile_))
        return;
    const int position = TypedTimePosition(*edtEnd_, tkbPosition_->maximum());
    if (position < 0)
        return;
    tkbPosition_->setValue(position);
    tkbPosition_->SetSelEnd(position);
    labTime1_->setText(edtEnd_->text());
    positionMs_ = std::llround(TimeTextToSeconds(edtEnd_->text().toStdString()) * 1000.0);
    positionFromBar_ = true;
    wavView_->SetPlayPosition(positionMs_);
}
