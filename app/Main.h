// TMainForm: the program's one window. A banner over two pages: the split
// page "  Split MP3  " (SplitPage: open a file, preview it, mark a section,
// split) and the tag page "  Edit Tag  " (TagPage: both tags of a file).
// The window owns the pages and what they share for its whole life: the
// player "PermanentPlayer", the two tag objects, the prompts, the folder
// picker "DirDialog1", the waveform scan "Envelope" and the About box; and
// the keys, drops and a file from the command line. Every handler runs
// inside one boundary that shows any error it ends with once, in an error
// box captioned "Corvella".
//
// Prompts go through prompts(). By default the window makes a GuiPrompter
// (real dialogs); a test passes its own GuiPrompterBase to the constructor,
// which then also receives Help and web requests instead of the desktop.
// programFolder overrides the executable's folder (where Option.ini, the
// help page and libbass.so are looked for), again for tests.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "app/GuiPrompter.h"
#include "app/PageHost.h"

class QDialog;
class QSettings;
class QTabWidget;
class SplitPage;
class TAboutBox;
class TBASSPlayer;
class TBrowseForFolder;
class TagPage;
class WaveformEnvelope;

class TMainForm : public QMainWindow, public PageHost {
    Q_OBJECT

public:
    explicit TMainForm(std::unique_ptr<GuiPrompterBase> prompter = nullptr,
                       const std::string& programFolder = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    GuiPrompterBase& prompts() override { return *prompter_; }
    // Runs a handler inside the window's error boundary: a CorvellaError or
    // any other std::exception it ends with is shown once in an error box.
    void RunHandler(const std::function<void()>& handler) override;
    TBASSPlayer& Player() override { return *player_; }
    TID3v1& Id3v1() override { return id3v1_; }
    TID3v2& Id3v2() override { return id3v2_; }
    const std::string& WebAddress() const override { return webAddress_; }
    void ShowHelp() override;
    void ShowWebSite() override;
    void ShowAbout() override;

    const std::string& ProgramFolder() const { return programFolder_; }  // ends in "/"
    const std::string& VersionText() const { return versionText_; }      // Option.ini [Main] Version
    const std::string& HelpFileName() const { return helpFileName_; }

    // A file from the command line, a drop or the split page's Open with
    // fileName chosen (MainDesktop.cpp for the first two).
    void OpenFile(const std::string& fileName);
    // A dropped file opens on the page shown, while its Open button is enabled.
    bool OpenDroppedFile(const std::string& fileName);
    // "corvella FILE": FILE, relative to the current folder or absolute, is
    // opened on the split page as Open opens a chosen file; a missing FILE
    // is reported and nothing changes.
    void OpenCommandLineFile(const QString& argument);
    // From now on the window keeps what the user last did in the user's
    // configuration folder (QSettings "Ondrel/Corvella": the recent files,
    // the last folder, the split mode and number of parts, the window's
    // place), and takes back what the last run kept. The program calls it
    // at start; a window without it (a test's) keeps nothing.
    void RestoreMemory();

    static constexpr const char* ProductName = "Corvella";
    static constexpr const char* MakerName = "Ondrel";

protected:
    // Closing the window asks about unsaved tag edits, and during an
    // equal-parts run stops it before its next part.
    void closeEvent(QCloseEvent* event) override;
    // Audio files dropped anywhere on the window, the edits included.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Option.ini and the program folder, read before the pages are built.
    void ReadSettings(const std::string& programFolderOverride);
    void BuildWindow(bool gapless);
    QWidget* BuildBanner();
    void ConnectPages();
    // Keys and drops (MainDesktop.cpp).
    void ConnectDesktop();
    // The menu button in the corner of the page tabs (MainMenu.cpp).
    void BuildMenu();
    void OpenOnPageShown();
    void RunSplitIn(const char* modeButton);
    void ShowDocument(const std::string& pathOrUrl);
    // The help page in a window of the program's own, for a desktop with no
    // browser (MainDesktop.cpp); made on first use.
    void ShowHelpWindow();
    bool TagPageShown() const;
    void RememberOpenedFile(const QString& fileName);
    void SaveMemory();

    std::string programFolder_;
    std::string versionText_;
    std::string helpFileName_;
    std::string webAddress_;
    TID3v1 id3v1_;
    TID3v2 id3v2_;
    std::unique_ptr<GuiPrompterBase> prompter_;
    TBrowseForFolder* folderPicker_ = nullptr;
    // The player reports through the prompter and must not outlive it; the
    // envelope's scan decodes through the player's library and ends first.
    std::unique_ptr<TBASSPlayer> player_;
    std::unique_ptr<WaveformEnvelope> envelope_;
    TAboutBox* aboutBox_ = nullptr;  // made on first use
    QDialog* helpWindow_ = nullptr;  // made on first use
    std::unique_ptr<QSettings> memory_;  // set by RestoreMemory
    QStringList recentFiles_;             // most recent first
    QTabWidget* pgcMain_ = nullptr;
    SplitPage* splitPage_ = nullptr;
    TagPage* tagPage_ = nullptr;
};
