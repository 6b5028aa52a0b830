// GuiPrompterBase: everything the main window asks of the user or of the
// desktop: the prompts of Prompter plus opening a document or web address
// with the desktop's default application. GuiPrompter answers with real
// message boxes, file dialogs and the window's folder picker; tests hand
// the window a scripted GuiPrompterBase instead.
#pragma once

#include <QString>

#include <string>

#include "core/Prompter.h"

class QWidget;
class TBrowseForFolder;

// The file kinds the player reads, for the Open dialog's filters and drops:
// "*.mp3 *.ogg ...", every extension DescribeFile knows; a name matches
// in any letter case.
QString AudioFilePatterns();
bool IsAudioFileName(const QString& fileName);

// True when $BROWSER or one of the desktops' usual launchers (xdg-open,
// gio, kde-open, ...) is found on the PATH: something that can show a
// document or web address.
bool DesktopHasDocumentLauncher();

// What to do with edits of a file's tags that are not written yet.
enum class UnsavedEditsAnswer { Save, Discard, Cancel };

class GuiPrompterBase : public Prompter {
public:
    // Opens a local file path or a web address with the desktop's default
    // application; false when none could be started.
    virtual bool OpenDocument(const std::string& pathOrUrl) = 0;
    // The Open and Save As dialogs start in folder from now on (the opened
    // file's folder, or the one remembered from the last run).
    virtual void StartIn(const std::string& folder) { (void)folder; }
    // The folder a file dialog was last used in, or last told to start in.
    virtual std::string LastFolder() const { return {}; }
    // Asked before edits of the tags of fileName would be lost (another
    // file opened, the window closed): save them first, drop them, or
    // leave everything as it is. A prompter that cannot ask keeps them.
    virtual UnsavedEditsAnswer AskSaveEdits(const std::string& fileName)
    {
        (void)fileName;
        return UnsavedEditsAnswer::Cancel;
    }
    // The open dialog for a CUE sheet ("CUE sheets (*.cue)", then all
    // files). Empty when the user cancelled, or for a prompter that cannot ask.
    virtual std::optional<std::string> AskOpenCueSheet() { return std::nullopt; }
    // A question with the answers Yes and No (text as for ShowMessage);
    // true for Yes. A prompter that asks no questions answers No, which
    // leaves things as they are.
    virtual bool AskYesNo(const std::string& caption, const std::string& text)
    {
        (void)caption;
        (void)text;
        return false;
    }
    // A number between minimum and maximum, offered as value and moved in
    // steps of step, shown with decimals places. Empty when the user
    // cancelled, or for a prompter that cannot ask.
    virtual std::optional<double> AskNumber(const std::string& caption, const std::string& label, double value,
                                            double minimum, double maximum, double step, int decimals)
    {
        (void)caption, (void)label, (void)value, (void)minimum, (void)maximum, (void)step, (void)decimals;
        return std::nullopt;
    }
};

class GuiPrompter : public GuiPrompterBase {
public:
    // owner parents every box and dialog; folderPicker is the window's DirDialog1.
    GuiPrompter(QWidget& owner, TBrowseForFolder& folderPicker);

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;
    std::optional<std::string> AskOpenFileName() override;
    std::optional<std::string> AskSaveFileName(const std::string& proposedName) override;
    std::optional<std::string> AskOpenCueSheet() override;
    bool ExecuteFolderPicker(std::string& path) override;
    bool OpenDocument(const std::string& pathOrUrl) override;
    void StartIn(const std::string& folder) override;
    std::string LastFolder() const override { return lastFolder_.toStdString(); }
    UnsavedEditsAnswer AskSaveEdits(const std::string& fileName) override;
    bool AskYesNo(const std::string& caption, const std::string& text) override;
    std::optional<double> AskNumber(const std::string& caption, const std::string& label, double value,
                                    double minimum, double maximum, double step, int decimals) override;

private:
    QWidget& owner_;
    TBrowseForFolder& folderPicker_;
    // Each file dialog opens in the folder it was last left in; the save
    // dialog starts where the open dialog last chose a file. StartIn (a
    // file opened by any way) moves both; lastFolder_ is whichever moved last.
    QString openFolder_;
    QString saveFolder_;
    QString lastFolder_;
};
