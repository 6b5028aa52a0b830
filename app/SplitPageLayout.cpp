// Building the split page's controls and wiring them to its handlers.
#include "app/SplitPage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "app/GuiGlyphs.h"
#include "app/GuiTrackBar.h"
#include "app/GuiUpDown.h"
#include "app/PageHost.h"
#include "app/PageLinks.h"
#include "app/SplitListPanel.h"
#include "app/WidgetMakers.h"

namespace {

constexpr const char* kTimeLegend = "( Min : Sec . MilliSec )";

// Paints a button's glyph again when the desktop switches between a light
// and a dark palette while the window is open.
class GlyphFollower : public QObject {
public:
    GlyphFollower(QToolButton& button, QIcon (*glyph)()) : QObject(&button), glyph_(glyph)
    {
        button.installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            static_cast<QToolButton*>(watched)->setIcon(glyph_());
        return false;
    }

private:
    QIcon (*glyph_)();
};

// A button with glyph, or with text when glyph is null.
QToolButton* MakeTransportButton(const char* name, QIcon (*glyph)(), const QString& text, const QString& hint)
{
    auto* button = Named(new QToolButton, name);
    if (glyph) {
        button->setIcon(glyph());
        new GlyphFollower(*button, glyph);
    } else {
        button->setText(text);
    }
    button->setToolTip(hint);
    button->setMinimumSize(28, 24);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

} // namespace

void SplitPage::BuildPage()
{
    setObjectName("tabSplit");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 6, 8, 4);
    column->setSpacing(4);
    column->addLayout(BuildFileRow());
    // Height the window gains goes to the waveform above the track bar.
    column->addWidget(BuildFileGroup(), 1);

    auto* lower = new QHBoxLayout;
    lower->setSpacing(12);
    lower->addLayout(BuildSectionControls(), 1);
    lower->addLayout(BuildCommands());
    column->addLayout(lower);
    column->addWidget(BuildGauge());
    column->addLayout(MakePageLinks(host_, this, '1'));

    tmrPlayer_ = Named(new QTimer(this), "TmrPlayer");
    tmrPlayer_->setInterval(1000);
}

QHBoxLayout* SplitPage::BuildFileRow()
{
    edtFile_ = MakeEdit("edtFile");
    btnOpen_ = MakeButton("&Open", "btnOpen");
    btnRecent_ = Named(new QToolButton, "btnRecent");
    btnRecent_->setToolTip("Recent files");
    btnRecent_->setArrowType(Qt::DownArrow);
    btnRecent_->setPopupMode(QToolButton::InstantPopup);
    recentMenu_ = new QMenu(btnRecent_);
    btnRecent_->setMenu(recentMenu_);
    btnRecent_->setEnabled(false);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(edtFile_, 1);
    fileRow->addWidget(btnOpen_);
    fileRow->addWidget(btnRecent_);
    return fileRow;
}

// The opened file's tag and length, the track bar and the preview buttons.
QGroupBox* SplitPage::BuildFileGroup()
{
    auto* group = Named(new QGroupBox, "gpbSplit");
    auto* groupColumn = new QVBoxLayout(group);
    groupColumn->setContentsMargins(8, 4, 8, 4);
    groupColumn->setSpacing(2);
    groupColumn->addLayout(BuildTagInfo());
    groupColumn->addWidget(BuildWaveform(), 1);
    tkbPosition_ = Named(new GuiTrackBar, "tkbPosition");
    tkbPosition_->setRange(0, 30);
    // The zoomable waveform above takes the height the window gains; the
    // bar's own outline of the whole file needs no more than its hint.
    tkbPosition_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    groupColumn->addWidget(tkbPosition_);
    groupColumn->addLayout(BuildTransport());
    return group;
}

QLayout* SplitPage::BuildTagInfo()
{
    labTitle_ = MakeValueLabel("labTitle");
    labArtist_ = MakeValueLabel("labArtist");
    labAlbum_ = MakeValueLabel("labAlbum");
    labYear_ = MakeValueLabel("labYear");
    labComment_ = MakeValueLabel("labComment");
    labLength_ = MakeValueLabel("labLength");
    // Read in two columns: title, artist, album on the left.
    const std::pair<QLabel*, QLabel*> rows[] = {
        {MakeLabel("Title:", "labTitleName"), labTitle_},     {MakeLabel("Year:", "labTitleYear"), labYear_},
        {MakeLabel("Artist:", "labTitleArtist"), labArtist_}, {MakeLabel("Comment:", "labTitleComment"), labComment_},
        {MakeLabel("Album:", "labTitleAlbum"), labAlbum_},    {MakeLabel("Length:", "labTitleLength"), labLength_}};
    auto* info = tagInfo_ = new QGridLayout;
    info->setHorizontalSpacing(6);
    info->setVerticalSpacing(1);
    for (int i = 0; i < 6; ++i) {
        info->addWidget(rows[i].first, i / 2, (i % 2) * 2);
        info->addWidget(rows[i].second, i / 2, (i % 2) * 2 + 1);
    }
    info->setColumnStretch(1, 3);
    info->setColumnStretch(3, 2);
    return info;
}

QLayout* SplitPage::BuildTransport()
{
    sbtnPlay_ = MakeTransportButton("sbtnPlay", PlayGlyph, {}, "Play");
    sbtnPause_ = MakeTransportButton("sbtnPause", PauseGlyph, {}, "Pause");
    sbtnStop_ = MakeTransportButton("sbtnStop", StopGlyph, {}, "Stop");
    sbtnBegin_ = MakeTransportButton("sbtnBegin", nullptr, "{", "Select start time point");
    sbtnEnd_ = MakeTransportButton("sbtnEnd", nullptr, "}", "Select end time point");
    labTime1_ = MakeLabel("00:00.000", "labTime1");
    labTime1_->setMinimumWidth(std::max(70, labTime1_->sizeHint().width()));
    auto* transport = new QHBoxLayout;
    transport->setSpacing(3);
    for (QToolButton* button : {sbtnPlay_, sbtnPause_, sbtnStop_, sbtnBegin_, sbtnEnd_})
        transport->addWidget(button);
    transport->addSpacing(16);
    transport->addWidget(MakeLabel("Time:", "labTime"));
    transport->addWidget(labTime1_);
    transport->addWidget(MakeLabel(kTimeLegend, "Label1"));
    transport->addStretch(1);
    return transport;
}

// The two modes: a section between two typed times, or equal parts.
QLayout* SplitPage::BuildSectionControls()
{
    rdbTime_ = Named(new QRadioButton("Split selected time session:"), "rdbTime");
    rdbTime_->setChecked(true);
    labStart1_ = MakeLabel("Starting time:", "labStart1");
    edtStart_ = MakeEdit("edtStart");
    labEnd1_ = MakeLabel("Ending  time:", "labEnd1");
    edtEnd_ = MakeEdit("edtEnd");
    labPeriod_ = MakeLabel(QString(), "labPeriod");
    for (QLineEdit* edit : {edtStart_, edtEnd_}) {
        edit->setText("00:00.000");
        FitWidthTo(*edit, "00:00.000", 90);
    }
    auto* section = new QGridLayout;
    section->setVerticalSpacing(2);
    section->addWidget(rdbTime_, 0, 0, 1, 3);
    section->addWidget(labStart1_, 1, 0);
    section->addWidget(edtStart_, 1, 1);
    section->addWidget(MakeLabel(kTimeLegend, "Label2"), 1, 2);
    section->addWidget(labEnd1_, 2, 0);
    section->addWidget(edtEnd_, 2, 1);
    section->addWidget(MakeLabel(kTimeLegend, "Label3"), 2, 2);
    section->addWidget(labPeriod_, 3, 0, 1, 3);
    section->setColumnMinimumWidth(0, std::max(90, labStart1_->sizeHint().width()));
    section->setColumnStretch(2, 1);
    section->addLayout(BuildPartRow(), 4, 0, 1, 3);
    pnlList_ = new SplitListPanel(host_);
    pnlList_->setVisible(false);
    section->addWidget(pnlList_, 5, 0, 1, 3);
    section->setRowStretch(5, 1);
    return section;
}

QLayout* SplitPage::BuildPartRow()
{
    rdbPart_ = Named(new QRadioButton("Split file into"), "rdbPart");
    edtPart_ = MakeEdit("edtPart");
    edtPart_->setText("2");
    FitWidthTo(*edtPart_, "99", 40);
    updPart_ = Named(new GuiUpDown(edtPart_, 2, 99), "updPart");
    labPart2_ = MakeLabel("equal parts (Max:99).", "labPart2");
    for (QWidget* widget : std::initializer_list<QWidget*>{edtPart_, updPart_, labPart2_})
        widget->setEnabled(false);
    auto* partRow = new QHBoxLayout;
    partRow->setSpacing(4);
    partRow->addWidget(rdbPart_);
    partRow->addWidget(edtPart_);
    partRow->addWidget(updPart_);
    partRow->addWidget(labPart2_);
    partRow->addSpacing(12);
    rdbList_ = Named(new QRadioButton("Split at points"), "rdbList");
    partRow->addWidget(rdbList_);
    partRow->addStretch(1);
    return partRow;
}

QLayout* SplitPage::BuildCommands()
{
    btnSplit_ = MakeButton("&Split", "btnSplit");
    btnStop_ = MakeButton("S&top", "btnStop");
    auto* commands = new QVBoxLayout;
    commands->setSpacing(6);
    commands->addStretch(1);
    for (QPushButton* button : {btnSplit_, btnStop_}) {
        button->setMinimumWidth(110);
        commands->addWidget(button);
    }
    commands->addWidget(BuildVolumeButton());
    return commands;
}

QProgressBar* SplitPage::BuildGauge()
{
    pgbProgress_ = Named(new QProgressBar, "pgbProgress");
    pgbProgress_->setRange(0, 100);
    pgbProgress_->setValue(0);
    pgbProgress_->setTextVisible(true);
    pgbProgress_->setFixedHeight(std::max(16, pgbProgress_->fontMetrics().height() + 2));
    pgbProgress_->setStyleSheet("QProgressBar { border: 1px solid #9fb3cc; border-radius: 2px; text-align: center; }"
                                "QProgressBar::chunk { background-color: #1f5fd6; }");
    // The gauge keeps its room while hidden, so that a run does not shift the page.
    QSizePolicy keepRoom = pgbProgress_->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    pgbProgress_->setSizePolicy(keepRoom);
    pgbProgress_->setVisible(false);
    return pgbProgress_;
}

void SplitPage::ConnectHandlers()
{
    // Every handler runs inside the window's error boundary.
    const auto onClick = [this](auto* sender, void (SplitPage::*handler)()) {
        connect(sender, &std::remove_pointer_t<decltype(sender)>::clicked, this,
                [this, handler] { host_.RunHandler([this, handler] { (this->*handler)(); }); });
    };
    onClick(btnOpen_, &SplitPage::btnOpenClick);
    onClick(rdbTime_, &SplitPage::rdbTimeClick);
    onClick(rdbPart_, &SplitPage::rdbPartClick);
    onClick(rdbList_, &SplitPage::rdbListClick);
    onClick(btnSplit_, &SplitPage::btnSplitClick);
    onClick(btnStop_, &SplitPage::btnStopClick);
    onClick(sbtnPlay_, &SplitPage::sbtnPlayClick);
    onClick(sbtnPause_, &SplitPage::sbtnPauseClick);
    onClick(sbtnStop_, &SplitPage::sbtnStopClick);
    onClick(sbtnBegin_, &SplitPage::sbtnBeginClick);
    onClick(sbtnEnd_, &SplitPage::sbtnEndClick);

    const auto onSignal = [this](auto* sender, auto signal, void (SplitPage::*handler)()) {
        connect(sender, signal, this, [this, handler] { host_.RunHandler([this, handler] { (this->*handler)(); }); });
    };
    onSignal(edtStart_, &QLineEdit::textChanged, &SplitPage::edtStartChange);
    onSignal(edtEnd_, &QLineEdit::textChanged, &SplitPage::edtEndChange);
    onSignal(tkbPosition_, &QSlider::valueChanged, &SplitPage::tkbPositionChange);
    onSignal(tmrPlayer_, &QTimer::timeout, &SplitPage::TmrPlayerTimer);
    ConnectWaveform();
}
