// Preview playback and marking on the split page: the transport buttons, the
// position timer, the track bar, the two mark buttons and the typed times.

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include <cmath>

#include "core/FlagScope.h"
#include "app/Main.h"
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

void TMainForm::sbtnPlayClick()
{
    if (!IsExistingFile(*edtFile))
        return;
    // Every Play opens the file afresh: a split or a tag write may have
    // closed or rewritten it since the last one. The player reports a file
    // it cannot open itself; without a stream there is nothing to follow.
    if (!Player->Open(edtFile->text().toStdString()))
        return;
    Player->SetPosition(static_cast<uint32_t>(tkbPosition->value()) * 1000u);
    Player->Play();
    TmrPlayer->start();
}

void TMainForm::sbtnPauseClick()
{
    // The hint is the pause state: it tells what the next click does.
    if (sbtnPause->toolTip() == kResumeHint) {
        Player->SetPaused(false);
        sbtnPause->setToolTip(kPauseHint);
        TmrPlayer->start();
    } else {
        Player->SetPaused(true);
        sbtnPause->setToolTip(kResumeHint);
        TmrPlayer->stop();
    }
}

void TMainForm::sbtnStopClick()
{
    Player->Stop();
    TmrPlayer->stop();
    tkbPosition->setValue(0);
}

void TMainForm::TmrPlayerTimer()
{
    // While the user holds the handle, the bar belongs to the user; moving
    // it under the mouse would make it jump back and forth.
    if (tkbPosition->isSliderDown())
        return;
    FlagScope movedByTimer(trackBarMovedByTimer_);
    tkbPosition->setValue(static_cast<int>(Player->Position() / 1000u));
}

void TMainForm::tkbPositionChange()
{
    if (edtFile->text().isEmpty())
        return;
    const int position = tkbPosition->value();
    labTime1->setText(QString::fromStdString(
        FormatPositionText(position, tkbPosition->maximum(), LengthRemainderMs)));
    if (trackBarMovedByTimer_ || Player->Mode() != plmPlaying)
        return;
    // The seek is done muted so that it does not click.
    const int32_t volume = Player->Volume();
    Player->SetVolume(0);
    Player->SetPosition(static_cast<uint32_t>(position) * 1000u);
    Player->SetVolume(volume);
}

namespace {

// The mark for a track bar position: whole seconds, except at the last
// position, which marks the exact end of the stream.
std::string MarkText(const GuiTrackBar& trackBar, int32_t lengthRemainderMs)
{
    const int position = trackBar.value();
    double seconds = position;
    if (position == trackBar.maximum())
        seconds += lengthRemainderMs / 1000.0;
    return FormatTimeText(seconds);
}

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

void TMainForm::sbtnBeginClick()
{
    if (edtFile->text().isEmpty())
        return;
    tkbPosition->SetSelStart(tkbPosition->value());
    {
        FlagScope markChange(startMarkChange_);
        edtStart->setText(QString::fromStdString(MarkText(*tkbPosition, LengthRemainderMs)));
    }
    UpdateSelectedLength();
}

void TMainForm::sbtnEndClick()
{
    if (edtFile->text().isEmpty())
        return;
    tkbPosition->SetSelEnd(tkbPosition->value());
    {
        FlagScope markChange(endMarkChange_);
        edtEnd->setText(QString::fromStdString(MarkText(*tkbPosition, LengthRemainderMs)));
    }
    UpdateSelectedLength();
}

void TMainForm::edtStartChange()
{
    if (startMarkChange_)
        return;
    // The selected length describes the two texts, so it follows every
    // change of them, also one that cannot move the track bar.
    UpdateSelectedLength();
    if (!IsExistingFile(*edtFile))
        return;
    const int position = TypedTimePosition(*edtStart, tkbPosition->maximum());
    if (position < 0)
        return;
    tkbPosition->setValue(position);
    tkbPosition->SetSelStart(position);
    labTime1->setText(edtStart->text());
}

void TMainForm::edtEndChange()
{
    if (endMarkChange_)
        return;
    UpdateSelectedLength();
    if (!IsExistingFile(*edtFile))
        return;
    const int position = TypedTimePosition(*edtEnd, tkbPosition->maximum());
    if (position < 0)
        return;
    tkbPosition->setValue(position);
    tkbPosition->SetSelEnd(position);
    labTime1->setText(edtEnd->text());
}
