// SplitPage: the page "  Split MP3  ". It opens a file and shows its ID3v1
// tag and length, previews it with the player the window shares (play,
// pause, stop, a track bar with the waveform behind it), marks a section by
// the bar or by typed times, and runs the split commands: the marked
// section to one file, the whole file in equal parts to a folder, or the
// parts listed by the split at points (SplitListPanel) to a folder.
//
// The controls are the page's own; the window reaches the page through the
// few calls below (a file from the command line or a drop, the keys, a tag
// write that needs the file let go). Tests find the controls by the object
// names they are given (edtFile, btnOpen, tkbPosition, ...).
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/MarkGrid.h"
#include "core/MarkHistory.h"

class GuiTrackBar;
class GuiUpDown;
class PageHost;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;
class QVBoxLayout;
class SplitListPanel;
class TBrowseForFolder;
class TSplitCommands;
class WaveformEnvelope;
class WaveformView;
struct VolumeOutcome;

class SplitPage : public QWidget {
    Q_OBJECT

public:
    // folderPicker is the one the equal-parts command shows; it starts
    // beside each opened file. envelope scans the opened file for the bar.
    // gapless: parts cut sample-exact, to join without a gap.
    SplitPage(PageHost& host, TBrowseForFolder& folderPicker, WaveformEnvelope& envelope, bool gapless);
    ~SplitPage() override;

    // The file box's text: the file the page works on.
    QString FileName() const;
    // Open with fileName chosen in the dialog.
    void OpenFile(const std::string& fileName);
    // Open is held back while a split runs.
    bool OpenEnabled() const;
    // The keys of the window: Open, Play or Pause, and the two marks.
    void ClickOpen();
    void PlayOrPause();
    void MarkStart();
    void MarkEnd();
    // Stops the preview and closes the player's stream, so that the file
    // can be rewritten.
    void ReleaseFile();
    bool SplitRunning() const;
    void StopSplit();
    // The opened stream's length, and its milliseconds after the last whole second.
    int32_t LengthMs() const { return lengthMs_; }
    int32_t LengthRemainderMs() const { return lengthRemainderMs_; }
    // The recent files, most recent first: the drop-down beside Open
    // ("btnRecent") and the keys Ctrl+1...9 while the page is shown.
    void SetRecentFiles(const QStringList& files);
    // The split mode (equal parts or a section) and the number of parts,
    // as kept between runs.
    bool PartsChosen() const;
    int PartsCount() const;
    void ChooseSplit(bool parts, int count);
    // The split at listed points, and where its points come from
    // (SplitListPanel::SourceKey), as kept between runs.
    bool PointsChosen() const;
    QString PointsSource() const;
    void ChoosePoints(bool chosen, const QString& source);
    // The split at points' own options, kept between runs too.
    SplitListPanel& PointsPanel() const { return *pnlList_; }

signals:
    // A regular file was opened here, by whichever way.
    void FileOpened(const QString& fileName);
    // An equal-parts run began or ended: while it pumps messages, commands
    // that would pull the file from under it are held back.
    void SplitRunningChanged(bool running);

private:
    class PageSplitUi;

    // Building (SplitPageLayout.cpp).
    void BuildPage();
    QHBoxLayout* BuildFileRow();
    QGroupBox* BuildFileGroup();
    QLayout* BuildTagInfo();
    QLayout* BuildTransport();
    QLayout* BuildSectionControls();
    QLayout* BuildPartRow();
    QLayout* BuildCommands();
    QProgressBar* BuildGauge();
    void ConnectHandlers();

    // Open, the split modes and the commands (SplitPage.cpp).
    void btnOpenClick();
    void ShowTagInfo(const std::string& fileName, bool regularFile);
    void rdbTimeClick();
    void rdbPartClick();
    void rdbListClick();
    // The tag texts and the time fields give way to the list of parts.
    void ShowListPanel(bool shown);
    // A CUE sheet beside the opened file is offered for a split at its tracks.
    void OfferCueSheetBeside(const std::string& fileName);
    void SplitAtListedPoints();
    void btnSplitClick();
    void btnStopClick();
    void SetSplitRunning(bool running);
    void UpdateSelectedLength();
    void StartEnvelope(const std::string& fileName);

    // Preview and marking (SplitPagePreview.cpp).
    void sbtnPlayClick();
    void sbtnPauseClick();
    void sbtnStopClick();
    void TmrPlayerTimer();
    void tkbPositionChange();
    void sbtnBeginClick();
    void sbtnEndClick();
    void edtStartChange();
    void edtEndChange();

    // The waveform, the exact play position and the marks' history
    // (SplitPageWaveform.cpp).
    QWidget* BuildWaveform();
    void ConnectWaveform();
    void ResetWaveform(const std::string& fileName);
    // Shows ms as the play position everywhere; seek: the player goes there too.
    void ShowPlayPosition(int64_t ms, bool seek);
    // Sets both marks (ms) in the fields, the bar and the view; commit: an undo step.
    void ApplyMarks(int64_t startMs, int64_t endMs, bool commit);
    void ShowMarksOfTexts();
    void CommitMarks();
    void UndoMarks(bool redo);
    // The mark a [ or ] key or button sets for the play position.
    int64_t MarkAtPlayPosition() const;
    void PlaySpan(int64_t fromMs, int64_t toMs);
    void PlaySelection();
    void PreListen();
    void FollowPlayback();

    // The volume of the selection, or of the whole file when the marks
    // meet (SplitPageVolume.cpp).
    QToolButton* BuildVolumeButton();
    void VolumeGainClick();
    void VolumeFadeClick();
    void VolumeUndoClick();
    // Rewrites the file with change while the player lets go of it, then
    // reopens it where it was and reports as the cut does.
    void RewriteVolume(const std::string& fileName, const std::function<VolumeOutcome()>& change,
                       const std::string& what);

    PageHost& host_;
    TBrowseForFolder& folderPicker_;
    WaveformEnvelope& envelope_;
    std::unique_ptr<PageSplitUi> splitUi_;
    std::unique_ptr<TSplitCommands> splitCommands_;
    int32_t lengthMs_ = 0;
    int32_t lengthRemainderMs_ = 0;
    bool trackBarMovedByTimer_ = false;
    bool startMarkChange_ = false;
    bool endMarkChange_ = false;
    bool gapless_ = false;
    int64_t positionMs_ = 0;
    // The play position is a whole second picked on the track bar: a mark
    // there is that second, as typed, not moved onto a frame boundary.
    bool positionFromBar_ = true;
    int64_t listenEndMs_ = -1;  // playback of a selection or around a mark stops here
    MarkGrid grid_;
    MarkHistory history_;
    WaveformView* wavView_ = nullptr;
    QTimer* tmrFollow_ = nullptr;  // the waveform follows the preview

    QTimer* tmrPlayer_ = nullptr;  // 1000 ms, follows the preview
    QLineEdit* edtFile_ = nullptr;
    QPushButton* btnOpen_ = nullptr;
    QToolButton* btnRecent_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    QLabel* labTitle_ = nullptr;
    QLabel* labArtist_ = nullptr;
    QLabel* labAlbum_ = nullptr;
    QLabel* labYear_ = nullptr;
    QLabel* labComment_ = nullptr;
    QLabel* labLength_ = nullptr;
    GuiTrackBar* tkbPosition_ = nullptr;
    QToolButton* sbtnPlay_ = nullptr;
    QToolButton* sbtnPause_ = nullptr;
    QToolButton* sbtnStop_ = nullptr;
    QToolButton* sbtnBegin_ = nullptr;
    QToolButton* sbtnEnd_ = nullptr;
    QLabel* labTime1_ = nullptr;
    QRadioButton* rdbTime_ = nullptr;
    QLabel* labStart1_ = nullptr;
    QLineEdit* edtStart_ = nullptr;
    QLabel* labEnd1_ = nullptr;
    QLineEdit* edtEnd_ = nullptr;
    QLabel* labPeriod_ = nullptr;
    QRadioButton* rdbPart_ = nullptr;
    QLineEdit* edtPart_ = nullptr;
    GuiUpDown* updPart_ = nullptr;
    QLabel* labPart2_ = nullptr;
    QRadioButton* rdbList_ = nullptr;
    SplitListPanel* pnlList_ = nullptr;
    QGridLayout* tagInfo_ = nullptr;
    std::string listFolder_;  // the folder picker starts at the one chosen last
    QPushButton* btnSplit_ = nullptr;
    QPushButton* btnStop_ = nullptr;
    QToolButton* btnVolume_ = nullptr;
    QProgressBar* pgbProgress_ = nullptr;
};
