// The split page's waveform: the exact play position, the marks set by
// dragging and by keys, their history, and listening to a selection or
// around a mark. The time fields stay the marks' one record: the view, the
// track bar and the history show and keep what the fields hold.
#include "app/SplitPage.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include <cmath>
#include <utility>

#include "app/GuiTrackBar.h"
#include "app/PageHost.h"
#include "app/WaveformView.h"
#include "core/FlagScope.h"
#include "core/TimeText.h"
#include "playback/BASSPlayer.h"
#include "playback/WaveformEnvelope.h"

namespace {

// The section command cuts this much before its marks (its times are
// moved by it, as the original program's were); the marks snap so that
// the moved times fall on frame boundaries.
constexpr int64_t kSectionCutOffsetMs = -150;

// The time a field holds in ms, or -1 when it holds none.
int64_t FieldMs(const QLineEdit& edit)
{
    const double seconds = TimeTextToSeconds(edit.text().toStdString());
    return seconds >= 0 && std::isfinite(seconds) && seconds < 1e12 ? std::llround(seconds * 1000.0) : -1;
}

QString TimeText(int64_t ms) { return QString::fromStdString(FormatTimeText(static_cast<double>(ms) / 1000.0)); }

// The position label reads "MM:SS:mmm".
QString PositionText(int64_t ms)
{
    QString text = TimeText(ms);
    text[text.lastIndexOf('.')] = ':';
    return text;
}

} // namespace

QWidget* SplitPage::BuildWaveform()
{
    wavView_ = new WaveformView;
    wavView_->setObjectName("wavView");
    tmrFollow_ = new QTimer(this);
    tmrFollow_->setObjectName("TmrFollow");
    tmrFollow_->setInterval(30);
    return wavView_;
}

void SplitPage::ConnectWaveform()
{
    const auto run = [this](auto action) { return [this, action] { host_.RunHandler(action); }; };
    connect(&envelope_, &WaveformEnvelope::envelopeChanged, wavView_, [this] { wavView_->SetLevels(envelope_.Levels()); });
    connect(wavView_, &WaveformView::positionRequested, this, [this](qint64 ms) {
        host_.RunHandler([this, ms] {
            if (!edtFile_->text().isEmpty())
                ShowPlayPosition(ms, true);
        });
    });
    connect(wavView_, &WaveformView::marksRequested, this, [this](qint64 startMs, qint64 endMs, bool finished) {
        host_.RunHandler([=, this] { ApplyMarks(startMs, endMs, finished); });
    });
    connect(tmrFollow_, &QTimer::timeout, this, run([this] { FollowPlayback(); }));
    connect(edtStart_, &QLineEdit::editingFinished, this, run([this] { CommitMarks(); }));
    connect(edtEnd_, &QLineEdit::editingFinished, this, run([this] { CommitMarks(); }));

    // The keys work anywhere on the page but in a text field, which keeps
    // its own undo and takes letters as text.
    const auto key = [this](const char* name, const QKeySequence& keys, auto action) {
        auto* entry = new QAction(this);
        entry->setObjectName(name);
        entry->setShortcut(keys);
        entry->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(entry);
        connect(entry, &QAction::triggered, this, [this, action] { host_.RunHandler(action); });
    };
    key("actUndoMarks", QKeySequence("Ctrl+Z"), [this] { UndoMarks(false); });
    key("actRedoMarks", QKeySequence("Ctrl+Shift+Z"), [this] { UndoMarks(true); });
    key("actPlaySelection", QKeySequence("P"), [this] { PlaySelection(); });
    key("actPreListen", QKeySequence("L"), [this] { PreListen(); });
}

void SplitPage::ResetWaveform(const std::string& fileName)
{
    TBASSPlayer& player = host_.Player();
    const bool opened = player.PlayerReady() && player.StreamName() == fileName && lengthMs_ > 0;
    grid_ = opened ? MarkGrid::ForFile(fileName, lengthMs_, gapless_, kSectionCutOffsetMs) : MarkGrid{};
    uint32_t rate = player.StreamInfo().SampleRate;
    if (grid_.Snaps() || rate == 0)
        rate = grid_.SampleRate();
    wavView_->SetStream(opened ? lengthMs_ : 0, static_cast<int64_t>(lengthMs_) * rate / 1000, rate, grid_,
                        opened ? fileName : std::string());
    wavView_->SetLevels(envelope_.Levels());
    positionMs_ = 0;
    positionFromBar_ = true;
    listenEndMs_ = -1;
    history_.Reset({edtStart_->text().toStdString(), edtEnd_->text().toStdString()});
    ShowMarksOfTexts();
}

void SplitPage::ShowPlayPosition(int64_t ms, bool seek)
{
    ms = std::clamp<int64_t>(ms, 0, lengthMs_);
    positionMs_ = ms;
    positionFromBar_ = false;
    {
        FlagScope movedByTimer(trackBarMovedByTimer_);
        tkbPosition_->setValue(static_cast<int>(ms / 1000));
    }
    labTime1_->setText(PositionText(ms));
    wavView_->SetPlayPosition(ms);
    TBASSPlayer& player = host_.Player();
    if (seek && (player.Mode() == plmPlaying || player.Mode() == plmPaused)) {
        // Muted, as a move of the bar, so that the seek does not click.
        const int32_t volume = player.Volume();
        player.SetVolume(0);
        player.SetPosition(static_cast<uint32_t>(ms));
        player.SetVolume(volume);
    }
}

void SplitPage::FollowPlayback()
{
    TBASSPlayer& player = host_.Player();
    if (player.Mode() != plmPlaying) {
        if (player.Mode() != plmPaused)
            tmrFollow_->stop();
        wavView_->SetFollowing(false);
        listenEndMs_ = -1;
        return;
    }
    if (tkbPosition_->isSliderDown())
        return;
    const int64_t ms = player.Position();
    if (listenEndMs_ >= 0 && ms >= listenEndMs_) {
        const int64_t end = std::exchange(listenEndMs_, -1);
        player.Stop();
        tmrPlayer_->stop();
        ShowPlayPosition(end, false);
        return;
    }
    positionMs_ = ms;
    positionFromBar_ = false;
    wavView_->SetFollowing(true);
    wavView_->SetPlayPosition(ms);
}

int64_t SplitPage::MarkAtPlayPosition() const { return positionFromBar_ ? positionMs_ : grid_.Snap(positionMs_); }

void SplitPage::ApplyMarks(int64_t startMs, int64_t endMs, bool commit)
{
    if (edtFile_->text().isEmpty())
        return;
    {
        FlagScope startChange(startMarkChange_);
        FlagScope endChange(endMarkChange_);
        edtStart_->setText(TimeText(startMs));
        edtEnd_->setText(TimeText(endMs));
    }
    tkbPosition_->SetSelStart(static_cast<int>(startMs / 1000));
    tkbPosition_->SetSelEnd(static_cast<int>(endMs / 1000));
    UpdateSelectedLength();
    ShowMarksOfTexts();
    if (commit)
        CommitMarks();
}

void SplitPage::ShowMarksOfTexts() { wavView_->SetMarks(FieldMs(*edtStart_), FieldMs(*edtEnd_)); }

void SplitPage::CommitMarks() { history_.Commit({edtStart_->text().toStdString(), edtEnd_->text().toStdString()}); }

void SplitPage::UndoMarks(bool redo)
{
    const std::optional<MarkTexts> marks = redo ? history_.Redo() : history_.Undo();
    if (!marks)
        return;
    {
        FlagScope startChange(startMarkChange_);
        FlagScope endChange(endMarkChange_);
        edtStart_->setText(QString::fromStdString(marks->Start));
        edtEnd_->setText(QString::fromStdString(marks->End));
    }
    for (const auto& [edit, setSel] :
         {std::pair{edtStart_, &GuiTrackBar::SetSelStart}, std::pair{edtEnd_, &GuiTrackBar::SetSelEnd}}) {
        const int64_t ms = FieldMs(*edit);
        if (ms >= 0 && ms <= lengthMs_)
            (tkbPosition_->*setSel)(static_cast<int>(ms / 1000));
    }
    UpdateSelectedLength();
    ShowMarksOfTexts();
}

void SplitPage::PlaySpan(int64_t fromMs, int64_t toMs)
{
    const QString file = edtFile_->text();
    if (file.isEmpty() || !QFileInfo(file).isFile() || toMs <= fromMs)
        return;
    if (!host_.Player().Open(file.toStdString()))
        return;
    ShowPlayPosition(fromMs, false);
    host_.Player().SetPosition(static_cast<uint32_t>(fromMs));
    host_.Player().Play();
    sbtnPause_->setToolTip("Pause");
    listenEndMs_ = toMs;
    tmrPlayer_->start();
    tmrFollow_->start();
}

void SplitPage::PlaySelection()
{
    const int64_t start = FieldMs(*edtStart_);
    const int64_t end = FieldMs(*edtEnd_);
    if (start >= 0 && end > start)
        PlaySpan(start, std::min<int64_t>(end, lengthMs_));
}

void SplitPage::PreListen()
{
    // Two seconds before and after the mark nearest to the play position.
    constexpr int64_t kAround = 2000;
    int64_t nearest = -1;
    for (int64_t mark : {FieldMs(*edtStart_), FieldMs(*edtEnd_)}) {
        if (mark >= 0 && mark <= lengthMs_
            && (nearest < 0 || std::llabs(mark - positionMs_) < std::llabs(nearest - positionMs_)))
            nearest = mark;
    }
    if (nearest >= 0)
        PlaySpan(std::max<int64_t>(nearest - kAround, 0), std::min<int64_t>(nearest + kAround, lengthMs_));
}
