// The window on the desktop: a file given on the command line or dropped on
// the window, the keyboard shortcuts, and the waveform behind the track bar.

#include <QAbstractButton>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>

#include <optional>

#include "app/GuiPrompter.h"
#include "app/Main.h"
#include "core/GainOutline.h"
#include "playback/BASSPlayer.h"
#include "playback/WaveformEnvelope.h"

namespace {

// The local audio file a drag carries, if it carries one the player reads.
std::optional<std::string> DraggedAudioFile(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return std::nullopt;
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile())
        return std::nullopt;
    const QFileInfo file(url.toLocalFile());
    if (!file.isFile() || !IsAudioFileName(file.fileName()))
        return std::nullopt;
    return file.absoluteFilePath().toStdString();
}

bool IsDragEvent(QEvent::Type type)
{
    return type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop;
}

} // namespace

void TMainForm::ConnectDesktop()
{
    setAcceptDrops(true);
    // The edits would take a dropped file's name as text; the window takes it.
    for (QWidget* edit : findChildren<QLineEdit*>())
        edit->installEventFilter(this);
    CommentMemo->viewport()->installEventFilter(this);

    Envelope = new WaveformEnvelope(this);
    Envelope->SetOutline(FillGainOutline);
    connect(Envelope, &WaveformEnvelope::envelopeChanged, tkbPosition, &GuiTrackBar::SetEnvelope);

    const auto shortcut = [this](const QKeySequence& keys, auto action) {
        auto* key = new QShortcut(keys, this);
        connect(key, &QShortcut::activated, this, [this, action] { RunHandler(action); });
        return key;
    };
    // Open and Help act on the page shown; a disabled Open (a split is
    // running) ignores the key as it ignores a click.
    shortcut(QKeySequence("Ctrl+O"),
             [this] { (pgcMain->currentWidget() == tabTag ? btnOpenTag : btnOpen)->click(); });
    shortcut(QKeySequence("F1"), [this] { (pgcMain->currentWidget() == tabTag ? sbtnHelp3 : sbtnHelp1)->click(); });
    shortcut(QKeySequence("Ctrl+Q"), [this] { close(); });
    // The preview keys belong to the split page; elsewhere Space keeps its
    // usual meaning (a drop-down list, a check box).
    QShortcut* previewKeys[] = {
        shortcut(QKeySequence(Qt::Key_Space), [this] { PlayOrPause(); }),
        shortcut(QKeySequence(Qt::Key_BracketLeft), [this] { sbtnBegin->click(); }),
        shortcut(QKeySequence(Qt::Key_BracketRight), [this] { sbtnEnd->click(); }),
    };
    connect(pgcMain, &QTabWidget::currentChanged, this, [this, previewKeys] {
        for (QShortcut* key : previewKeys)
            key->setEnabled(pgcMain->currentWidget() == tabSplit);
    });
}

void TMainForm::PlayOrPause()
{
    // A focused button still answers Space the usual way: it is pressed.
    if (auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        button && button->window() == this) {
        button->click();
        return;
    }
    const TPlayerMode mode = Player->Mode();
    (mode == plmPlaying || mode == plmPaused ? sbtnPause : sbtnPlay)->click();
}

void TMainForm::OpenCommandLineFile(const QString& argument)
{
    // The Open dialog hands over absolute paths of existing files; a name
    // given relative to the current folder becomes one too, and a name that
    // is not there is said so (Open itself opens only regular files and
    // would leave the window silently empty).
    const QFileInfo file(argument);
    const std::string path = file.absoluteFilePath().toStdString();
    if (!file.exists()) {
        prompts().ShowMessage(ProductName, "The file \"" + path + "\" does not exist.", MessageIcon::Warning);
        return;
    }
    RunHandler([&] { OpenFile(path); });
}

bool TMainForm::OpenDroppedFile(const std::string& fileName)
{
    const bool tagPage = pgcMain->currentWidget() == tabTag;
    if (!(tagPage ? btnOpenTag : btnOpen)->isEnabled())
        return false;
    RunHandler([&] {
        if (tagPage)
            OpenTagFile(fileName);
        else
            OpenFile(fileName);
    });
    return true;
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (DraggedAudioFile(event->mimeData()) && btnOpen->isEnabled())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TMainForm::dropEvent(QDropEvent* event)
{
    const std::optional<std::string> file = DraggedAudioFile(event->mimeData());
    if (file && OpenDroppedFile(*file))
        event->acceptProposedAction();
    else
        event->ignore();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (IsDragEvent(event->type())) {
        auto* drag = static_cast<QDropEvent*>(event);
        if (DraggedAudioFile(drag->mimeData())) {
            if (event->type() == QEvent::Drop)
                dropEvent(drag);
            else if (btnOpen->isEnabled())
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::StartEnvelope(const std::string& fileName)
{
    Envelope->Cancel();
    tkbPosition->ClearEnvelope();
    // Only a file the player opened has a stream worth scanning; the scan
    // decodes a stream of its own, so the preview is not disturbed.
    if (Player->PlayerReady() && Player->StreamName() == fileName)
        Envelope->Start(fileName, tkbPosition->EnvelopeColumns());
}
