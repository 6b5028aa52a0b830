// The split page's split at points: the sources of the points, the list
// of parts and its edits.
#include "app/SplitListPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <filesystem>
#include <utility>

#include "app/GuiPrompter.h"
#include "app/PageHost.h"
#include "app/WidgetMakers.h"
#include "core/SplitPlan.h"
#include "core/TimeText.h"
#include "playback/DecodedLevels.h"
#include "playback/SilenceSearch.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::string TimeText(int64_t ms) { return FormatTimeText(static_cast<double>(ms) / 1000.0); }

enum Column { kStart, kEnd, kLength, kName, kTitle, kColumns };

QDoubleSpinBox* MakeSpin(const char* name, double low, double high, double step, double value, const QString& hint)
{
    auto* spin = Named(new QDoubleSpinBox, name);
    spin->setRange(low, high);
    spin->setDecimals(1);
    spin->setSingleStep(step);
    spin->setValue(value);
    spin->setToolTip(hint);
    spin->setAccelerated(true);
    return spin;
}

} // namespace

QString SplitListPanel::SourceKey(Source source)
{
    switch (source) {
    case Source::CueSheet: return "cue";
    case Source::Silence: return "silence";
    case Source::Every: return "every";
    case Source::TimeList: return "times";
    }
    return {};
}

std::optional<SplitListPanel::Source> SplitListPanel::SourceOfKey(const QString& key)
{
    for (Source source : {Source::CueSheet, Source::Silence, Source::Every, Source::TimeList})
        if (SourceKey(source) == key)
            return source;
    return std::nullopt;
}

SplitListPanel::SplitListPanel(PageHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName("pnlList");
    search_ = Named(new SilenceSearch(this), "SilenceSearch");
    cmbSource_ = Named(new QComboBox, "cmbSource");
    cmbSource_->addItems({"CUE sheet", "Silences", "Every", "Time list"});
    cmbSource_->setToolTip("Where the parts begin");
    pages_ = new QStackedWidget;
    for (QWidget* page : {BuildCuePage(), BuildSilencePage(), BuildEveryPage(), BuildTimesPage()})
        pages_->addWidget(page);
    labPoints_ = MakeLabel(QString(), "labPoints");
    labPoints_->setWordWrap(true);

    auto* left = new QVBoxLayout;
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(2);
    left->addWidget(cmbSource_);
    left->addWidget(pages_, 1);
    left->addWidget(labPoints_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addLayout(left);
    row->addWidget(BuildList(), 1);
    // As wide as the silence options need, and no wider: the list has the rest.
    const int leftWidth = pages_->widget(static_cast<int>(Source::Silence))->sizeHint().width();
    cmbSource_->setFixedWidth(leftWidth);
    pages_->setFixedWidth(leftWidth);
    labPoints_->setFixedWidth(leftWidth);
    ConnectHandlers();
    Refresh();
}

QWidget* SplitListPanel::BuildCuePage()
{
    auto* page = new QWidget;
    edtCue_ = MakeEdit("edtCue");
    edtCue_->setReadOnly(true);
    edtCue_->setPlaceholderText("no sheet");
    btnCue_ = MakeButton("Sh&eet...", "btnCue");
    btnCue_->setToolTip("Choose the CUE sheet of the file");
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(edtCue_);
    column->addWidget(btnCue_);
    column->addStretch(1);
    return page;
}

QWidget* SplitListPanel::BuildSilencePage()
{
    auto* page = new QWidget;
    // Short captions inside the boxes keep the options beside the list;
    // the tool tips say the rest.
    spnThreshold_ = MakeSpin("spnThreshold", -120.0, 0.0, 1.0, kDefaultSilenceThresholdDb,
                             "Silence: audio below this level (dB of full scale)");
    spnThreshold_->setDecimals(0);
    spnThreshold_->setPrefix("< ");
    spnThreshold_->setSuffix(" dB");
    spnMinSilence_ = MakeSpin("spnMinSilence", 0.1, 600.0, 0.1, kDefaultMinSilenceMs / 1000.0,
                              "Shortest silence to cut in (seconds)");
    spnMinSilence_->setPrefix("gap ");
    spnMinSilence_->setSuffix(" s");
    spnMinPart_ = MakeSpin("spnMinPart", 0.0, 3600.0, 1.0, kDefaultMinPartMs / 1000.0,
                           "Shortest part (seconds); of two silences closer than this, the longer is cut");
    spnMinPart_->setPrefix("part ");
    spnMinPart_->setSuffix(" s");
    spnAboutParts_ = Named(new QSpinBox, "spnAboutParts");
    spnAboutParts_->setRange(0, 999);
    spnAboutParts_->setSpecialValueText("any count");
    spnAboutParts_->setSuffix(" parts");
    spnAboutParts_->setToolTip("About this many parts: only the longest silences are cut");
    chkCutAtEnd_ = Named(new QCheckBox("cut at sound"), "chkCutAtEnd");
    chkCutAtEnd_->setToolTip("Cut at the end of each silence, so that each part starts with its sound");
    chkTrimSilence_ = Named(new QCheckBox("trim"), "chkTrimSilence");
    chkTrimSilence_->setToolTip("Trim the silences from the parts: the parts leave out the silence around them");
    btnFindSilences_ = MakeButton("&Find silences", "btnFindSilences");
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(2);
    grid->addWidget(spnThreshold_, 0, 0);
    grid->addWidget(spnMinSilence_, 0, 1);
    grid->addWidget(spnMinPart_, 1, 0);
    grid->addWidget(spnAboutParts_, 1, 1);
    grid->addWidget(chkCutAtEnd_, 2, 0);
    grid->addWidget(chkTrimSilence_, 2, 1);
    grid->addWidget(btnFindSilences_, 3, 0, 1, 2);
    grid->setRowStretch(4, 1);
    ShowSearching(false);
    return page;
}

QWidget* SplitListPanel::BuildEveryPage()
{
    auto* page = new QWidget;
    edtEvery_ = MakeEdit("edtEvery");
    edtEvery_->setText("10:00.000");
    edtEvery_->setToolTip("Length of each part (Min : Sec . MilliSec); the last holds the rest");
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(edtEvery_);
    column->addStretch(1);
    return page;
}

QWidget* SplitListPanel::BuildTimesPage()
{
    memTimes_ = Named(new QPlainTextEdit, "memTimes");
    memTimes_->setPlaceholderText("00:00.000 Title\n03:15.500 Next title");
    memTimes_->setToolTip("One start time a line (Min : Sec . MilliSec), a title after it if you like");
    memTimes_->setTabChangesFocus(true);
    return memTimes_;
}

QTableWidget* SplitListPanel::BuildList()
{
    lstParts_ = Named(new QTableWidget(0, kColumns), "lstParts");
    lstParts_->setHorizontalHeaderLabels({"Start", "End", "Length", "Name", "Title"});
    lstParts_->verticalHeader()->setVisible(false);
    lstParts_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    lstParts_->horizontalHeader()->setStretchLastSection(true);
    lstParts_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstParts_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::AnyKeyPressed);
    const int timeWidth = fontMetrics().horizontalAdvance(QStringLiteral("00:00.000")) + 10;
    for (int column : {kStart, kEnd, kLength})
        lstParts_->setColumnWidth(column, timeWidth);
    lstParts_->setColumnWidth(kName, timeWidth * 3 / 2);
    return lstParts_;
}

void SplitListPanel::ConnectHandlers()
{
    const auto handle = [this](auto* sender, auto signal, void (SplitListPanel::*handler)()) {
        connect(sender, signal, this, [this, handler] { host_.RunHandler([this, handler] { (this->*handler)(); }); });
    };
    handle(cmbSource_, &QComboBox::currentIndexChanged, &SplitListPanel::cmbSourceChange);
    handle(btnCue_, &QPushButton::clicked, &SplitListPanel::btnCueClick);
    handle(btnFindSilences_, &QPushButton::clicked, &SplitListPanel::btnFindSilencesClick);
    handle(edtEvery_, &QLineEdit::textChanged, &SplitListPanel::Refresh);
    handle(memTimes_, &QPlainTextEdit::textChanged, &SplitListPanel::Refresh);
    // Other options take effect at once once the file is decoded; before,
    // only Find decodes it.
    for (QDoubleSpinBox* spin : {spnThreshold_, spnMinSilence_, spnMinPart_})
        handle(spin, &QDoubleSpinBox::valueChanged, &SplitListPanel::Refresh);
    handle(spnAboutParts_, &QSpinBox::valueChanged, &SplitListPanel::Refresh);
    for (QCheckBox* box : {chkCutAtEnd_, chkTrimSilence_})
        handle(box, &QCheckBox::toggled, &SplitListPanel::Refresh);
    connect(search_, &SilenceSearch::searchFinished, this, [this](const std::vector<float>& levelsDb) {
        host_.RunHandler([&] { silencesFound(levelsDb); });
    });
    connect(lstParts_, &QTableWidget::cellChanged, this, [this](int row, int column) {
        host_.RunHandler([&] { lstPartsEdited(row, column); });
    });
}

SplitListPanel::Source SplitListPanel::CurrentSource() const
{
    return static_cast<Source>(cmbSource_->currentIndex());
}

void SplitListPanel::ChooseSource(Source source) { cmbSource_->setCurrentIndex(static_cast<int>(source)); }

bool SplitListPanel::CutsAtSilenceEnd() const { return chkCutAtEnd_->isChecked(); }
bool SplitListPanel::TrimsSilence() const { return chkTrimSilence_->isChecked(); }

void SplitListPanel::ChooseSilenceCuts(bool atEnd, bool trim)
{
    chkCutAtEnd_->setChecked(atEnd);
    chkTrimSilence_->setChecked(trim);
}

void SplitListPanel::SetFile(const std::string& fileName, int64_t lengthMs)
{
    fileName_ = fileName;
    lengthMs_ = lengthMs;
    std::error_code error;
    naming_ = std::filesystem::is_regular_file(fileName, error) ? ReadPartNaming(fileName)
                                                                : PartNaming{PartBaseName(fileName), {}, {}};
    sheet_.reset();
    edtCue_->clear();
    search_->Cancel();
    ShowSearching(false);
    levels_.clear();
    Refresh();
}

void SplitListPanel::cmbSourceChange()
{
    pages_->setCurrentIndex(cmbSource_->currentIndex());
    Refresh();
}

void SplitListPanel::btnCueClick()
{
    if (const std::optional<std::string> chosen = host_.prompts().AskOpenCueSheet())
        LoadCueSheet(*chosen);
}

void SplitListPanel::LoadCueSheet(const std::string& path)
{
    ChooseSource(Source::CueSheet);
    ParseResult<CueSheet> sheet = ReadCueSheet(path);
    if (!sheet) {
        host_.prompts().ShowMessage("Information", "The CUE sheet \"" + path + "\" cannot be used:\r\n" + sheet.Error,
                                    MessageIcon::Information);
        return;
    }
    const ParseResult<std::vector<SplitPart>> parts = CueParts(*sheet.Value, lengthMs_);
    if (lengthMs_ > 0 && !parts) {
        host_.prompts().ShowMessage("Information", "The CUE sheet \"" + path + "\" does not fit the file:\r\n" + parts.Error,
                                    MessageIcon::Information);
        return;
    }
    sheet_ = std::move(*sheet.Value);
    edtCue_->setText(Q(path));
    edtCue_->setCursorPosition(0);
    Refresh();
}

void SplitListPanel::btnFindSilencesClick()
{
    if (search_->Running()) {
        search_->Cancel();
        ShowSearching(false);
        return Refresh();
    }
    if (lengthMs_ <= 0 || !levels_.empty())
        return Refresh();
    search_->Start(fileName_, kSilenceWindowMs);
    ShowSearching(true);
    Refresh();
}

void SplitListPanel::ShowSearching(bool searching)
{
    btnFindSilences_->setText(searching ? "&Stop" : "&Find silences");
    btnFindSilences_->setToolTip(searching ? "Stop finding the silences"
                                           : "Decode the file and list the parts between its silences");
}

void SplitListPanel::silencesFound(const std::vector<float>& levelsDb)
{
    ShowSearching(false);
    levels_ = levelsDb;
    Refresh();
    if (levels_.empty())
        host_.prompts().ShowMessage("Information", "The audio of \"" + fileName_ + "\" cannot be decoded to find its silences.",
                                    MessageIcon::Information);
}

void SplitListPanel::Refresh()
{
    using Result = ParseResult<std::vector<SplitPart>>;
    if (lengthMs_ <= 0)
        return ShowParts(Result::Refused("Open an MP3 file to list its parts."));
    switch (CurrentSource()) {
    case Source::CueSheet:
        if (!sheet_)
            return ShowParts(Result::Refused("Choose the CUE sheet of the file."));
        return ShowParts(CueParts(*sheet_, lengthMs_));
    case Source::Silence: {
        if (search_->Running())
            return ShowParts(Result::Refused("Finding the silences..."));
        if (levels_.empty())
            return ShowParts(Result::Refused("Find the silences of the file."));
        SilenceOptions options;
        options.ThresholdDb = spnThreshold_->value();
        options.MinSilenceMs = std::llround(spnMinSilence_->value() * 1000.0);
        options.MinPartMs = std::llround(spnMinPart_->value() * 1000.0);
        options.AboutParts = spnAboutParts_->value();
        options.CutAtEnd = chkCutAtEnd_->isChecked();
        options.TrimSilence = chkTrimSilence_->isChecked();
        return ShowParts(PartsBetweenSilences(levels_, lengthMs_, options));
    }
    case Source::Every: {
        const ParseResult<int64_t> period = ParseSplitTime(edtEvery_->text().toStdString());
        if (!period)
            return ShowParts(Result::Refused(period.Error));
        return ShowParts(Result::Ok(EveryParts(lengthMs_, *period.Value)));
    }
    case Source::TimeList:
        if (memTimes_->toPlainText().trimmed().isEmpty())
            return ShowParts(Result::Refused("Type a start time a line."));
        return ShowParts(TimeListFileParts(memTimes_->toPlainText().toStdString(), lengthMs_));
    }
}

void SplitListPanel::ShowParts(const ParseResult<std::vector<SplitPart>>& parts)
{
    PartNaming naming = naming_;
    if (CurrentSource() == Source::CueSheet && sheet_ && !sheet_->Title.empty())
        naming.Album = sheet_->Title;
    list_ = parts ? PartList(*parts.Value, lengthMs_, std::move(naming)) : PartList();
    listProblem_ = parts ? list_.Error() : parts.Error;
    FillList();
}

void SplitListPanel::FillList()
{
    filling_ = true;
    const std::vector<PartRow>& rows = list_.Rows();
    lstParts_->setRowCount(static_cast<int>(rows.size()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const PartRow& part = rows[static_cast<size_t>(i)];
        const QString texts[kColumns] = {Q(TimeText(part.StartMs)), Q(TimeText(part.EndMs)),
                                         Q(TimeText(part.EndMs - part.StartMs)), Q(part.Name), Q(part.Title)};
        // An edited cell is updated in place: the list is filled again from
        // within the table's own signal about that cell.
        for (int column = 0; column < kColumns; ++column) {
            if (QTableWidgetItem* item = lstParts_->item(i, column)) {
                item->setText(texts[column]);
                continue;
            }
            auto* item = new QTableWidgetItem(texts[column]);
            if (column == kEnd || column == kLength)
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            lstParts_->setItem(i, column, item);
        }
    }
    filling_ = false;
    if (rows.empty())
        labPoints_->setText(Q(listProblem_));
    else
        labPoints_->setText(rows.size() == 1 ? QStringLiteral("1 part") : QStringLiteral("%1 parts").arg(rows.size()));
}

void SplitListPanel::lstPartsEdited(int row, int column)
{
    if (filling_ || row < 0)
        return;
    const auto index = static_cast<size_t>(row);
    const std::string text = lstParts_->item(row, column)->text().toStdString();
    std::string refusal;
    if (column == kStart) {
        const ParseResult<int64_t> start = ParseSplitTime(text);
        refusal = start ? list_.SetStart(index, *start.Value) : start.Error;
    } else if (column == kName) {
        refusal = list_.SetName(index, text);
    } else if (column == kTitle) {
        refusal = list_.SetTitle(index, text);
    }
    // The list shows what the parts are, the edit refused or not; a refusal
    // is told below the source, where the list's state is told.
    FillList();
    if (!refusal.empty())
        labPoints_->setText(Q(refusal));
}

ParseResult<std::vector<SplitPoint>> SplitListPanel::Points() const
{
    if (list_.Rows().empty())
        return ParseResult<std::vector<SplitPoint>>::Refused(listProblem_.empty() ? "No part is listed." : listProblem_);
    return list_.Points();
}
