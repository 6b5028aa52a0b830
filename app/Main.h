// TMainForm: the program's one window. Two pages: "  Split MP3  " (open a
// file, preview it, mark a section, split) and "  Edit Tag  " (both tags of
// a file). The window owns the player "PermanentPlayer", the two tag
// objects, the folder picker DirDialog1 and the split commands for its
// whole life. Handlers are the window's slots, named after their control
// and event; each one runs inside one boundary that shows any error it ends
// with once, in an error box captioned "Corvella".
//
// Prompts go through prompts(). By default the window makes a GuiPrompter
// (real dialogs); a test passes its own GuiPrompterBase to the constructor,
// which then also receives Help and web requests instead of the desktop.
// programFolder overrides the executable's folder (where Option.ini, the
// help page and libbass.so are looked for), again for tests.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "app/GuiPrompter.h"
#include "app/GuiTrackBar.h"
#include "app/GuiUpDown.h"
#include "core/SplitCommands.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;
class QToolButton;
class TAboutBox;
class TBASSPlayer;
class TBrowseForFolder;
class WaveformEnvelope;

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(std::unique_ptr<GuiPrompterBase> prompter = nullptr,
                       const std::string& programFolder = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    GuiPrompterBase& prompts() { return *prompter_; }

    // Runs a handler inside the window's error boundary: a CorvellaError or
    // any other std::exception it ends with is shown once in an error box.
    void RunHandler(const std::function<void()>& handler);

    // Called after each message pump of an equal-parts run, once per part
    // (tests click Stop or look at the controls from here).
    std::function<void()> MessagesProcessed;

    // --- window frame ---
    QLabel* imgBanner = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* labVersion = nullptr;
    QLabel* labPowered = nullptr;
    QTabWidget* pgcMain = nullptr;

    // --- split page ---
    QWidget* tabSplit = nullptr;
    QLineEdit* edtFile = nullptr;
    QPushButton* btnOpen = nullptr;
    QGroupBox* gpbSplit = nullptr;
    QLabel* labTitleName = nullptr;
    QLabel* labTitle = nullptr;
    QLabel* labTitleArtist = nullptr;
    QLabel* labArtist = nullptr;
    QLabel* labTitleAlbum = nullptr;
    QLabel* labAlbum = nullptr;
    QLabel* labTitleYear = nullptr;
    QLabel* labYear = nullptr;
    QLabel* labTitleComment = nullptr;
    QLabel* labComment = nullptr;
    QLabel* labTitleLength = nullptr;
    QLabel* labLength = nullptr;
    GuiTrackBar* tkbPosition = nullptr;
    QToolButton* sbtnPlay = nullptr;
    QToolButton* sbtnPause = nullptr;
    QToolButton* sbtnStop = nullptr;
    QToolButton* sbtnBegin = nullptr;
    QToolButton* sbtnEnd = nullptr;
    QLabel* labTime = nullptr;
    QLabel* labTime1 = nullptr;
    QLabel* Label1 = nullptr;
    QRadioButton* rdbPart = nullptr;
    QLineEdit* edtPart = nullptr;
    GuiUpDown* updPart = nullptr;
    QLabel* labPart2 = nullptr;
    QRadioButton* rdbTime = nullptr;
    QLabel* labStart1 = nullptr;
    QLineEdit* edtStart = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* labEnd1 = nullptr;
    QLineEdit* edtEnd = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* labPeriod = nullptr;
    QProgressBar* pgbProgress = nullptr;
    QPushButton* btnSplit = nullptr;
    QPushButton* btnStop = nullptr;
    QToolButton* sbtnWeb1 = nullptr;
    QToolButton* sbtnHelp1 = nullptr;
    QToolButton* sbtnAbout1 = nullptr;

    // --- tag page ---
    QWidget* tabTag = nullptr;
    QLineEdit* edtFileTag = nullptr;
    QPushButton* btnOpenTag = nullptr;
    QGroupBox* gpbID3v1 = nullptr;
    QGroupBox* gpbID3v2 = nullptr;
    QCheckBox* chkTagExists1 = nullptr;
    QCheckBox* chkTagExists = nullptr;
    QLineEdit* TrackEdit1 = nullptr;    // at most 2 characters
    QLineEdit* TitleEdit1 = nullptr;    // 30
    QLineEdit* ArtistEdit1 = nullptr;   // 30
    QLineEdit* AlbumEdit1 = nullptr;    // 30
    QLineEdit* YearEdit1 = nullptr;     // 4
    QLineEdit* CommentEdit1 = nullptr;  // 30
    QComboBox* GenreComboBox1 = nullptr; // drop-down list, filled by tabTagShow
    QLineEdit* TrackEdit = nullptr;     // 250 each
    QLineEdit* TitleEdit = nullptr;
    QLineEdit* ArtistEdit = nullptr;
    QLineEdit* AlbumEdit = nullptr;
    QLineEdit* YearEdit = nullptr;
    QLineEdit* GenreEdit = nullptr;     // free text
    QPlainTextEdit* CommentMemo = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QToolButton* sbtnWeb3 = nullptr;
    QToolButton* sbtnHelp3 = nullptr;
    QToolButton* sbtnAbout3 = nullptr;

    // --- non-visual parts ---
    QTimer* TmrPlayer = nullptr;              // 1000 ms, stopped at start
    TBrowseForFolder* DirDialog1 = nullptr;
    TAboutBox* AboutBox = nullptr;            // made on first use
    WaveformEnvelope* Envelope = nullptr;     // scans the opened file for tkbPosition

    // --- fields ---
    std::string ProgramFolder;   // ends in "/"
    std::string VersionText;     // Option.ini [Main] Version, default "3.1"
    std::string HelpFileName;    // ProgramFolder + "Corvella.html"
    std::string WebAddress;
    int32_t LengthMs = 0;
    int32_t LengthRemainderMs = 0;
    TBASSPlayer* Player = nullptr;  // child QObject "PermanentPlayer"
    TID3v1 ID3v1;
    TID3v2 ID3v2;
    std::unique_ptr<TSplitCommands> SplitCommands;

    static constexpr const char* ProductName = "Corvella";
    static constexpr const char* MakerName = "Ondrel";

public slots:
    // Start-up, Open, split modes, Help, web and About (this window's files).
    void FormCreate();
    void btnOpenClick();
    void rdbTimeClick();
    void rdbPartClick();
    void sbtnHelp1Click();
    void sbtnHelp3Click();
    void sbtnWeb1Click();
    void sbtnWeb3Click();
    void sbtnAbout1Click();
    void sbtnAbout3Click();
    void btnSplitClick();
    void btnStopClick();
    void UpdateSelectedLength();

    // Preview and marking (MainPreview.cpp).
    void sbtnPlayClick();
    void sbtnPauseClick();
    void sbtnStopClick();
    void TmrPlayerTimer();
    void tkbPositionChange();
    void sbtnBeginClick();
    void sbtnEndClick();
    void edtStartChange();
    void edtEndChange();

    // Tag page (MainTagPage.cpp).
    void tabTagShow();
    void btnOpenTagClick();
    void chkTagExists1Click();
    void chkTagExistsClick();
    void Button1Click();
    void Button2Click();
    void Button3Click();

public:
    // A file from the command line, a drop or an Open button (MainDesktop.cpp
    // for the first two): OpenFile is the split page's Open with fileName
    // chosen, OpenTagFile the tag page's; an empty name is a cancel there.
    void OpenFile(const std::string& fileName);
    void OpenTagFile(const std::string& fileName);
    // A dropped file opens on the page shown, while its Open button is enabled.
    bool OpenDroppedFile(const std::string& fileName);
    // "corvella FILE": FILE, relative to the current folder or absolute, is
    // opened on the split page as Open opens a chosen file; a missing FILE
    // is reported and nothing changes.
    void OpenCommandLineFile(const QString& argument);

    void FillID3v1Group(const std::string& path);
    void FillID3v2Group(const std::string& path);
    void SaveID3v1Fields(const std::string& path);
    void SaveID3v2Fields(const std::string& path);
    void SetID3v1FieldsEnabled(bool enabled);
    void SetID3v2FieldsEnabled(bool enabled);
    // Whether the tag page holds edits of its file not written yet.
    bool TagEditsUnsaved() const;
    // Asks about unsaved tag edits before something would drop them (save,
    // discard, cancel); true when the caller may go on: no edits, edits
    // written or discarded.
    bool MayLeaveTagEdits();

    bool trackBarMovedByTimer_ = false;
    bool startMarkChange_ = false;
    bool endMarkChange_ = false;
    bool genreListFilled_ = false;

protected:
    // Closing the window during an equal-parts run stops it before its next part.
    void closeEvent(QCloseEvent* event) override;
    // Audio files dropped anywhere on the window, the edits included.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class WindowSplitUi;

    void BuildWindow();
    QWidget* BuildSplitPage();
    QWidget* BuildTagPage();
    void ConnectHandlers();
    // Keys, drops and the waveform (MainDesktop.cpp).
    void ConnectDesktop();
    void PlayOrPause();
    void StartEnvelope(const std::string& fileName);
    void ShowDocument(const std::string& pathOrUrl);
    void ReadOptions();
    void ShowAboutBox();
    void SetSplitRunning(bool running);
    // The tag page's file read again into both groups.
    void ReloadTagPage();
    // Each group's fields and check box, as text, to tell edits from what
    // was last read from or written to the file.
    QStringList ID3v1FieldValues() const;
    QStringList ID3v2FieldValues() const;

    std::string programFolderOverride_;
    std::unique_ptr<GuiPrompterBase> prompter_;
    std::unique_ptr<WindowSplitUi> splitUi_;
    QStringList savedId3v1Fields_;
    QStringList savedId3v2Fields_;
    // edtFile's text when the tag page last took its file from it: the
    // page follows the split page only to a file opened there since.
    QString fileTakenFromSplitPage_;
};
