// SplitListPanel: the controls of the split page's third mode, a split at
// points. The user picks where the points come from (a CUE sheet, the
// silences of the audio, a fixed length, or typed start times with
// optional titles) and sees the parts in a list (start, end, length, file
// name, title), where the start, the name and the title of each part can
// be edited before the split. The panel holds the list; the page's Split
// button hands its points to the split commands.
//
// Controls carry object names for the tests: cmbSource, edtCue, btnCue,
// spnThreshold, spnMinSilence, spnMinPart, spnAboutParts, chkCutAtEnd,
// chkTrimSilence, btnFindSilences, edtEvery, memTimes, lstParts, labPoints.
//
// Finding the silences decodes the file on a thread of its own; meanwhile
// the button stops the search, and another file abandons it.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/CueSheet.h"
#include "core/ParseResult.h"
#include "core/PartList.h"

class PageHost;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;
class SilenceSearch;

class SplitListPanel : public QWidget {
    Q_OBJECT

public:
    // Where the points come from, in the order of the drop-down list.
    enum class Source { CueSheet, Silence, Every, TimeList };
    // The sources as their settings keep them: "cue", "silence", "every", "times".
    static QString SourceKey(Source source);
    static std::optional<Source> SourceOfKey(const QString& key);

    explicit SplitListPanel(PageHost& host, QWidget* parent = nullptr);

    // The parts are of fileName, whose stream lasts lengthMs (0: unknown,
    // and nothing is listed); the list is made afresh from the source.
    void SetFile(const std::string& fileName, int64_t lengthMs);
    const std::string& FileName() const { return fileName_; }

    Source CurrentSource() const;
    void ChooseSource(Source source);
    // Lists the tracks of the sheet at path; a sheet that cannot be read or
    // that does not fit the file is told in a message and lists nothing.
    void LoadCueSheet(const std::string& path);

    // Whether the silences are cut at their ends rather than their middles,
    // and trimmed from the parts, as kept between runs.
    bool CutsAtSilenceEnd() const;
    bool TrimsSilence() const;
    void ChooseSilenceCuts(bool atEnd, bool trim);

    // The listed parts for the split commands; refused with the reason when
    // there are none or two share a name.
    ParseResult<std::vector<SplitPoint>> Points() const;

private:
    QWidget* BuildCuePage();
    QWidget* BuildSilencePage();
    QWidget* BuildEveryPage();
    QWidget* BuildTimesPage();
    QTableWidget* BuildList();
    void ConnectHandlers();

    // The handlers, each run inside the window's error boundary.
    void cmbSourceChange();
    void btnCueClick();
    void btnFindSilencesClick();
    void silencesFound(const std::vector<float>& levelsDb);
    void ShowSearching(bool searching);
    void lstPartsEdited(int row, int column);
    // Lists the parts of the current source.
    void Refresh();
    void ShowParts(const ParseResult<std::vector<SplitPart>>& parts);
    void FillList();

    PageHost& host_;
    std::string fileName_;
    int64_t lengthMs_ = 0;
    PartNaming naming_;  // of fileName_
    std::optional<CueSheet> sheet_;      // loaded for fileName_
    std::vector<float> levels_;          // decoded once per file, on Find
    SilenceSearch* search_ = nullptr;    // decodes levels_
    PartList list_;
    std::string listProblem_;  // why nothing is listed
    bool filling_ = false;

    QComboBox* cmbSource_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QLineEdit* edtCue_ = nullptr;
    QPushButton* btnCue_ = nullptr;
    QDoubleSpinBox* spnThreshold_ = nullptr;
    QDoubleSpinBox* spnMinSilence_ = nullptr;
    QDoubleSpinBox* spnMinPart_ = nullptr;
    QSpinBox* spnAboutParts_ = nullptr;
    QCheckBox* chkCutAtEnd_ = nullptr;
    QCheckBox* chkTrimSilence_ = nullptr;
    QPushButton* btnFindSilences_ = nullptr;
    QLineEdit* edtEvery_ = nullptr;
    QPlainTextEdit* memTimes_ = nullptr;
    QLabel* labPoints_ = nullptr;
    QTableWidget* lstParts_ = nullptr;
};
