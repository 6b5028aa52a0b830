#include "GuiPrompter.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

#include "analysis/AudioFile.h"
#include "app/dialogs/BrwsFldr.h"

namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Confirmation: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

// Qt hands a URL to one of these launchers (or to $BROWSER) and reports
// success once it has tried, even when none of them is installed; so
// whether anything can show a document is decided here, before asking Qt.
bool DesktopHasDocumentLauncher()
{
    for (const QString& browser : qEnvironmentVariable("BROWSER").split(':', Qt::SkipEmptyParts))
        if (!QStandardPaths::findExecutable(browser.section(' ', 0, 0)).isEmpty())
            return true;
    static const char* const launchers[] = {"xdg-open", "gio", "gvfs-open", "kde-open5", "kde-open", "gnome-open",
                                            "exo-open", "sensible-browser", "x-www-browser", "www-browser"};
    for (const char* launcher : launchers)
        if (!QStandardPaths::findExecutable(QString::fromLatin1(launcher)).isEmpty())
            return true;
    return false;
}

QString AudioFilePatterns()
{
    QStringList patterns;
    for (const std::string& extension : AudioFileExtensions())
        patterns << "*." + QString::fromStdString(extension);
    return patterns.join(' ');
}

bool IsAudioFileName(const QString& fileName)
{
    return FormatOfFile(fileName.toStdString()) != AudioFormat::Unknown;
}

GuiPrompter::GuiPrompter(QWidget& owner, TBrowseForFolder& folderPicker)
    : owner_(owner), folderPicker_(folderPicker)
{
}

void GuiPrompter::ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon)
{
    QString body = QString::fromStdString(text);
    body.replace("\r\n", "\n");
    QMessageBox box(BoxIcon(icon), QString::fromStdString(caption), body, QMessageBox::Ok, &owner_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool GuiPrompter::AskYesNo(const std::string& caption, const std::string& text)
{
    QString body = QString::fromStdString(text);
    body.replace("\r\n", "\n");
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), body, QMessageBox::Yes | QMessageBox::No,
                    &owner_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<double> GuiPrompter::AskNumber(const std::string& caption, const std::string& label, double value,
                                             double minimum, double maximum, double step, int decimals)
{
    bool accepted = false;
    const double chosen = QInputDialog::getDouble(&owner_, QString::fromStdString(caption), QString::fromStdString(label),
                                                  value, minimum, maximum, decimals, &accepted, Qt::WindowFlags(), step);
    if (!accepted)
        return std::nullopt;
    return chosen;
}

std::optional<std::string> GuiPrompter::AskOpenFileName()
{
    QFileDialog dialog(&owner_, QString(), openFolder_);
    dialog.setNameFilters({QStringLiteral("MP3 files (*.mp3)"), QStringLiteral("Audio files (%1)").arg(AudioFilePatterns()),
                           QStringLiteral("All files (*)")});
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = dialog.selectedFiles().constFirst();
    // Whichever page opened it, the next section is saved beside it.
    openFolder_ = saveFolder_ = lastFolder_ = QFileInfo(chosen).absolutePath();
    return chosen.toStdString();
}

// A sheet usually lies beside its audio file: the dialog starts where the
// open dialog last chose one.
std::optional<std::string> GuiPrompter::AskOpenCueSheet()
{
    QFileDialog dialog(&owner_, QString(), openFolder_);
    dialog.setNameFilters({QStringLiteral("CUE sheets (*.cue *.CUE)"), QStringLiteral("All files (*)")});
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst().toStdString();
}

std::optional<std::string> GuiPrompter::AskSaveFileName(const std::string& proposedName)
{
    QFileDialog dialog(&owner_, QString(), saveFolder_, "MP3 Files (*.mp3)");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix("mp3");
    dialog.setSizeGripEnabled(true);
    dialog.selectFile(QString::fromStdString(proposedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = dialog.selectedFiles().constFirst();
    saveFolder_ = QFileInfo(chosen).absolutePath();
    lastFolder_ = saveFolder_;
    return chosen.toStdString();
}

void GuiPrompter::StartIn(const std::string& folder)
{
    openFolder_ = saveFolder_ = lastFolder_ = QString::fromStdString(folder);
}

bool GuiPrompter::ExecuteFolderPicker(std::string& path)
{
    if (!path.empty())
        folderPicker_.SetPath(path);
    if (!folderPicker_.Execute())
        return false;
    path = folderPicker_.Path();
    return true;
}

bool GuiPrompter::OpenDocument(const std::string& pathOrUrl)
{
    const QString text = QString::fromStdString(pathOrUrl);
    const QUrl url = QFileInfo::exists(text) ? QUrl::fromLocalFile(text) : QUrl::fromUserInput(text);
    return DesktopHasDocumentLauncher() && QDesktopServices::openUrl(url);
}

UnsavedEditsAnswer GuiPrompter::AskSaveEdits(const std::string& fileName)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"),
                    QStringLiteral("The tags of \"%1\" have been edited.\nDo you want to save the changes?")
                        .arg(QString::fromStdString(fileName)),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, &owner_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save: return UnsavedEditsAnswer::Save;
    case QMessageBox::Discard: return UnsavedEditsAnswer::Discard;
    default: return UnsavedEditsAnswer::Cancel;
    }
}
