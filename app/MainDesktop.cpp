// The window on the desktop: a file given on the command line or dropped on
// the window, and the keyboard shortcuts.
#include "app/Main.h"

#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTabWidget>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <optional>

#include "app/GuiPrompter.h"
#include "app/SplitPage.h"
#include "app/TagPage.h"

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
    for (QPlainTextEdit* memo : findChildren<QPlainTextEdit*>())
        memo->viewport()->installEventFilter(this);

    const auto shortcut = [this](const QKeySequence& keys, auto action) {
        auto* key = new QShortcut(keys, this);
        connect(key, &QShortcut::activated, this, [this, action] { RunHandler(action); });
        return key;
    };
    // Open and Help act on the page shown; a disabled Open (a split is
    // running) ignores the key as it ignores a click.
    shortcut(QKeySequence("Ctrl+O"), [this] { OpenOnPageShown(); });
    shortcut(QKeySequence("F1"), [this] { ShowHelp(); });
    shortcut(QKeySequence("Ctrl+Q"), [this] { close(); });
    // The preview and split keys belong to the split page; elsewhere Space
    // keeps its usual meaning (a drop-down list, a check box), and a save
    // key on the tag page is not taken for a cut.
    QShortcut* previewKeys[] = {
        shortcut(QKeySequence("Ctrl+S"), [this] { RunSplitIn("rdbTime"); }),
        shortcut(QKeySequence("Ctrl+P"), [this] { RunSplitIn("rdbPart"); }),
        shortcut(QKeySequence(Qt::Key_Space), [this] { splitPage_->PlayOrPause(); }),
        shortcut(QKeySequence(Qt::Key_BracketLeft), [this] { splitPage_->MarkStart(); }),
        shortcut(QKeySequence(Qt::Key_BracketRight), [this] { splitPage_->MarkEnd(); }),
    };
    connect(pgcMain_, &QTabWidget::currentChanged, this, [this, previewKeys] {
        for (QShortcut* key : previewKeys)
            key->setEnabled(pgcMain_->currentWidget() == splitPage_);
    });
}

void TMainForm::OpenOnPageShown() { TagPageShown() ? tagPage_->ClickOpen() : splitPage_->ClickOpen(); }

void TMainForm::ShowHelpWindow()
{
    if (!helpWindow_) {
        helpWindow_ = new QDialog(this);
        helpWindow_->setObjectName("HelpWindow");
        helpWindow_->resize(640, 560);
        auto* page = new QTextBrowser(helpWindow_);
        page->setObjectName("HelpBrowser");
        page->setSource(QUrl::fromLocalFile(QString::fromStdString(helpFileName_)));
        helpWindow_->setWindowTitle(page->documentTitle());
        auto* layout = new QVBoxLayout(helpWindow_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(page);
    }
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
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
    const bool tagPage = TagPageShown();
    if (!(tagPage ? tagPage_->OpenEnabled() : splitPage_->OpenEnabled()))
        return false;
    RunHandler([&] {
        if (tagPage)
            tagPage_->OpenFile(fileName);
        else
            splitPage_->OpenFile(fileName);
    });
    return true;
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (DraggedAudioFile(event->mimeData()) && splitPage_->OpenEnabled())
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
            else if (splitPage_->OpenEnabled())
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
