// Building and wiring the window's controls.
#include "Main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/GuiGlyphs.h"
#include "app/GuiPictures.h"

namespace {

constexpr int kClientWidth = 653;
constexpr int kClientHeight = 421;
constexpr int kBannerHeight = 57;
constexpr const char* kTimeLegend = "( Min : Sec . MilliSec )";

template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(name);
    return widget;
}

QLabel* MakeLabel(const QString& text, const char* name)
{
    auto* label = Named(new QLabel(text), name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The value labels show tag texts, which must never be read as markup.
QLabel* MakeValueLabel(const char* name)
{
    QLabel* label = MakeLabel(QString(), name);
    label->setMinimumWidth(120);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QToolButton* MakeFlatButton(const QString& text, const char* name)
{
    auto* button = Named(new QToolButton, name);
    button->setText(text);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QToolButton* MakeLinkButton(const char* name)
{
    QToolButton* button = MakeFlatButton(QString(), name);
    button->setToolTip("Visite our website");
    button->setStyleSheet("QToolButton { color: #1a4fb0; text-decoration: underline; border: none; }");
    return button;
}

QLineEdit* MakeEdit(const char* name, int maxLength = 0)
{
    auto* edit = Named(new QLineEdit, name);
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    return edit;
}

QPushButton* MakeButton(const QString& text, const char* name)
{
    auto* button = Named(new QPushButton(text), name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

void TMainForm::BuildWindow()
{
    setObjectName("MainForm");
    setWindowIcon(QIcon(LogoPicture()));
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(2);

    imgBanner = Named(new QLabel, "imgBanner");
    imgBanner->setFixedHeight(kBannerHeight);
    imgBanner->setPixmap(BannerPicture());
    imgBanner->setScaledContents(true);
    imgLogo = Named(new QLabel(imgBanner), "imgLogo");
    imgLogo->setPixmap(LogoPicture());
    imgLogo->setGeometry(12, (kBannerHeight - 32) / 2, 32, 32);
    labVersion = Named(new QLabel(imgBanner), "labVersion");
    labVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labVersion->setGeometry(kClientWidth - 212, 8, 200, 18);
    labVersion->setStyleSheet("QLabel { color: #1b2a3a; font-weight: bold; background: transparent; }");
    labPowered = Named(new QLabel(imgBanner), "labPowered");
    labPowered->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labPowered->setGeometry(kClientWidth - 212, 30, 200, 18);
    labPowered->setStyleSheet("QLabel { color: #0000ff; background: transparent; }");
    column->addWidget(imgBanner);

    pgcMain = Named(new QTabWidget, "pgcMain");
    tabSplit = BuildSplitPage();
    tabTag = BuildTagPage();
    pgcMain->addTab(tabSplit, "  Split MP3  ");
    pgcMain->addTab(tabTag, "  Edit Tag  ");
    auto* pageMargin = new QHBoxLayout;
    pageMargin->setContentsMargins(4, 0, 4, 0);
    pageMargin->addWidget(pgcMain);
    column->addLayout(pageMargin, 1);
    setCentralWidget(central);

    TmrPlayer = Named(new QTimer(this), "TmrPlayer");
    TmrPlayer->setInterval(1000);

    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
}

QWidget* TMainForm::BuildSplitPage()
{
    auto* page = Named(new QWidget, "tabSplit");
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(8, 6, 8, 4);
    column->setSpacing(4);

    edtFile = MakeEdit("edtFile");
    btnOpen = MakeButton("&Open", "btnOpen");
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(edtFile, 1);
    fileRow->addWidget(btnOpen);
    column->addLayout(fileRow);

    gpbSplit = Named(new QGroupBox, "gpbSplit");
    auto* groupColumn = new QVBoxLayout(gpbSplit);
    groupColumn->setContentsMargins(8, 4, 8, 4);
    groupColumn->setSpacing(2);
    auto* info = new QGridLayout;
    info->setHorizontalSpacing(6);
    info->setVerticalSpacing(1);
    labTitleName = MakeLabel("Title:", "labTitleName");
    labTitle = MakeValueLabel("labTitle");
    labTitleArtist = MakeLabel("Artist:", "labTitleArtist");
    labArtist = MakeValueLabel("labArtist");
    labTitleAlbum = MakeLabel("Album:", "labTitleAlbum");
    labAlbum = MakeValueLabel("labAlbum");
    labTitleYear = MakeLabel("Year:", "labTitleYear");
    labYear = MakeValueLabel("labYear");
    labTitleComment = MakeLabel("Comment:", "labTitleComment");
    labComment = MakeValueLabel("labComment");
    labTitleLength = MakeLabel("Length:", "labTitleLength");
    labLength = MakeValueLabel("labLength");
    const std::pair<QLabel*, QLabel*> rows[] = {{labTitleName, labTitle},     {labTitleYear, labYear},
                                                {labTitleArtist, labArtist},  {labTitleComment, labComment},
                                                {labTitleAlbum, labAlbum},    {labTitleLength, labLength}};
    for (int i = 0; i < 6; ++i) {
        info->addWidget(rows[i].first, i / 2, (i % 2) * 2);
        info->addWidget(rows[i].second, i / 2, (i % 2) * 2 + 1);
    }
    info->setColumnStretch(1, 3);
    info->setColumnStretch(3, 2);
    groupColumn->addLayout(info);

    tkbPosition = Named(new GuiTrackBar, "tkbPosition");
    tkbPosition->setRange(0, 30);
    groupColumn->addWidget(tkbPosition);

    sbtnPlay = Named(new QToolButton, "sbtnPlay");
    sbtnPlay->setIcon(PlayGlyph());
    sbtnPlay->setToolTip("Play");
    sbtnPause = Named(new QToolButton, "sbtnPause");
    sbtnPause->setIcon(PauseGlyph());
    sbtnPause->setToolTip("Pause");
    sbtnStop = Named(new QToolButton, "sbtnStop");
    sbtnStop->setIcon(StopGlyph());
    sbtnStop->setToolTip("Stop");
    sbtnBegin = Named(new QToolButton, "sbtnBegin");
    sbtnBegin->setText("{");
    sbtnBegin->setToolTip("Select start time point");
    sbtnEnd = Named(new QToolButton, "sbtnEnd");
    sbtnEnd->setText("}");
    sbtnEnd->setToolTip("Select end time point");
    labTime = MakeLabel("Time:", "labTime");
    labTime1 = MakeLabel("00:00.000", "labTime1");
    labTime1->setMinimumWidth(70);
    Label1 = MakeLabel(kTimeLegend, "Label1");
    auto* transport = new QHBoxLayout;
    transport->setSpacing(3);
    for (QToolButton* button : {sbtnPlay, sbtnPause, sbtnStop, sbtnBegin, sbtnEnd}) {
        button->setFixedSize(28, 24);
        button->setFocusPolicy(Qt::TabFocus);
        transport->addWidget(button);
    }
    transport->addSpacing(16);
    transport->addWidget(labTime);
    transport->addWidget(labTime1);
    transport->addWidget(Label1);
    transport->addStretch(1);
    groupColumn->addLayout(transport);
    column->addWidget(gpbSplit);

    rdbTime = Named(new QRadioButton("Split selected time session:"), "rdbTime");
    rdbTime->setChecked(true);
    labStart1 = MakeLabel("Starting time:", "labStart1");
    edtStart = MakeEdit("edtStart");
    edtStart->setText("00:00.000");
    Label2 = MakeLabel(kTimeLegend, "Label2");
    labEnd1 = MakeLabel("Ending  time:", "labEnd1");
    edtEnd = MakeEdit("edtEnd");
    edtEnd->setText("00:00.000");
    Label3 = MakeLabel(kTimeLegend, "Label3");
    labPeriod = MakeLabel(QString(), "labPeriod");
    for (QLineEdit* edit : {edtStart, edtEnd})
        edit->setFixedWidth(90);
    auto* section = new QGridLayout;
    section->setVerticalSpacing(2);
    section->addWidget(rdbTime, 0, 0, 1, 3);
    section->addWidget(labStart1, 1, 0);
    section->addWidget(edtStart, 1, 1);
    section->addWidget(Label2, 1, 2);
    section->addWidget(labEnd1, 2, 0);
    section->addWidget(edtEnd, 2, 1);
    section->addWidget(Label3, 2, 2);
    section->addWidget(labPeriod, 3, 0, 1, 3);
    section->setColumnMinimumWidth(0, 90);
    section->setColumnStretch(2, 1);

    rdbPart = Named(new QRadioButton("Split file into"), "rdbPart");
    edtPart = MakeEdit("edtPart");
    edtPart->setText("2");
    edtPart->setFixedWidth(40);
    updPart = Named(new GuiUpDown(edtPart, 2, 99), "updPart");
    labPart2 = MakeLabel("equal parts (Max:99).", "labPart2");
    for (QWidget* widget : std::initializer_list<QWidget*>{edtPart, updPart, labPart2})
        widget->setEnabled(false);
    auto* partRow = new QHBoxLayout;
    partRow->setSpacing(4);
    partRow->addWidget(rdbPart);
    partRow->addWidget(edtPart);
    partRow->addWidget(updPart);
    partRow->addWidget(labPart2);
    partRow->addStretch(1);
    section->addLayout(partRow, 4, 0, 1, 3);

    btnSplit = MakeButton("&Split", "btnSplit");
    btnStop = MakeButton("S&top", "btnStop");
    for (QPushButton* button : {btnSplit, btnStop})
        button->setMinimumWidth(110);
    auto* commands = new QVBoxLayout;
    commands->setSpacing(6);
    commands->addStretch(1);
    commands->addWidget(btnSplit);
    commands->addWidget(btnStop);

    auto* lower = new QHBoxLayout;
    lower->setSpacing(12);
    lower->addLayout(section, 1);
    lower->addLayout(commands);
    column->addLayout(lower, 1);

    pgbProgress = Named(new QProgressBar, "pgbProgress");
    pgbProgress->setRange(0, 100);
    pgbProgress->setValue(0);
    pgbProgress->setTextVisible(true);
    pgbProgress->setFixedHeight(16);
    pgbProgress->setStyleSheet("QProgressBar { border: 1px solid #9fb3cc; border-radius: 2px; text-align: center; }"
                               "QProgressBar::chunk { background-color: #1f5fd6; }");
    // The gauge keeps its room while hidden, so that a run does not shift the page.
    QSizePolicy keepRoom = pgbProgress->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    pgbProgress->setSizePolicy(keepRoom);
    pgbProgress->setVisible(false);
    column->addWidget(pgbProgress);

    sbtnWeb1 = MakeLinkButton("sbtnWeb1");
    sbtnHelp1 = MakeFlatButton("&Help", "sbtnHelp1");
    sbtnAbout1 = MakeFlatButton("&About", "sbtnAbout1");
    auto* links = new QHBoxLayout;
    links->addWidget(sbtnWeb1);
    links->addStretch(1);
    links->addWidget(sbtnHelp1);
    links->addWidget(sbtnAbout1);
    column->addLayout(links);
    return page;
}

QWidget* TMainForm::BuildTagPage()
{
    auto* page = Named(new QWidget, "tabTag");
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(8, 6, 8, 4);
    column->setSpacing(4);

    edtFileTag = MakeEdit("edtFileTag");
    btnOpenTag = MakeButton("&Open", "btnOpenTag");
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(edtFileTag, 1);
    fileRow->addWidget(btnOpenTag);
    column->addLayout(fileRow);

    gpbID3v1 = Named(new QGroupBox("ID3v1"), "gpbID3v1");
    chkTagExists1 = Named(new QCheckBox("ID3v1 Tag Exists"), "chkTagExists1");
    TrackEdit1 = MakeEdit("TrackEdit1", 2);
    TitleEdit1 = MakeEdit("TitleEdit1", 30);
    ArtistEdit1 = MakeEdit("ArtistEdit1", 30);
    AlbumEdit1 = MakeEdit("AlbumEdit1", 30);
    YearEdit1 = MakeEdit("YearEdit1", 4);
    GenreComboBox1 = Named(new QComboBox, "GenreComboBox1");
    GenreComboBox1->setEditable(false);
    GenreComboBox1->setMaxVisibleItems(16);
    CommentEdit1 = MakeEdit("CommentEdit1", 30);
    auto* v1 = new QGridLayout(gpbID3v1);
    v1->setVerticalSpacing(3);
    v1->addWidget(chkTagExists1, 0, 0, 1, 2);
    const std::pair<const char*, QWidget*> v1Fields[] = {{"Track:", TrackEdit1}, {"Title:", TitleEdit1},
                                                         {"Artist:", ArtistEdit1}, {"Album:", AlbumEdit1},
                                                         {"Year:", YearEdit1},    {"Genre:", GenreComboBox1},
                                                         {"Comment:", CommentEdit1}};
    for (int i = 0; i < 7; ++i) {
        QLabel* label = MakeLabel(v1Fields[i].first, "");
        label->setBuddy(v1Fields[i].second);
        v1->addWidget(label, i + 1, 0);
        v1->addWidget(v1Fields[i].second, i + 1, 1);
    }
    TrackEdit1->setFixedWidth(40);
    YearEdit1->setFixedWidth(60);

    gpbID3v2 = Named(new QGroupBox("ID3v2"), "gpbID3v2");
    chkTagExists = Named(new QCheckBox("ID3 v2 Tag Exists"), "chkTagExists");
    // The ID3v2 texts are shown whole, in up to two UTF-16 units a character.
    const int v2TextLength = 2 * static_cast<int>(TID3v2::kMaxTextLength);
    TrackEdit = MakeEdit("TrackEdit", v2TextLength);
    TitleEdit = MakeEdit("TitleEdit", v2TextLength);
    ArtistEdit = MakeEdit("ArtistEdit", v2TextLength);
    AlbumEdit = MakeEdit("AlbumEdit", v2TextLength);
    YearEdit = MakeEdit("YearEdit", v2TextLength);
    GenreEdit = MakeEdit("GenreEdit");
    CommentMemo = Named(new QPlainTextEdit, "CommentMemo");
    CommentMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    CommentMemo->setTabChangesFocus(true);
    auto* v2 = new QGridLayout(gpbID3v2);
    v2->setVerticalSpacing(3);
    v2->addWidget(chkTagExists, 0, 0, 1, 2);
    const std::pair<const char*, QWidget*> v2Fields[] = {{"Track:", TrackEdit}, {"Title:", TitleEdit},
                                                         {"Artist:", ArtistEdit}, {"Album:", AlbumEdit},
                                                         {"Year:", YearEdit},    {"Genre:", GenreEdit},
                                                         {"Comment:", CommentMemo}};
    for (int i = 0; i < 7; ++i) {
        QLabel* label = MakeLabel(v2Fields[i].first, "");
        label->setBuddy(v2Fields[i].second);
        v2->addWidget(label, i + 1, 0, i == 6 ? Qt::AlignTop : Qt::Alignment());
        v2->addWidget(v2Fields[i].second, i + 1, 1);
    }
    v2->setRowStretch(7, 1);
    TrackEdit->setFixedWidth(40);
    YearEdit->setFixedWidth(60);

    Button1 = MakeButton("&Copy to ID3v2", "Button1");
    Button2 = MakeButton("Copy &from ID3v2", "Button2");
    Button3 = MakeButton("&Updat All", "Button3");
    auto* copyColumn = new QVBoxLayout;
    copyColumn->addStretch(1);
    copyColumn->addWidget(Button1);
    copyColumn->addWidget(Button2);
    copyColumn->addSpacing(12);
    copyColumn->addWidget(Button3);
    copyColumn->addStretch(1);

    auto* groups = new QHBoxLayout;
    groups->addWidget(gpbID3v1, 1);
    groups->addLayout(copyColumn);
    groups->addWidget(gpbID3v2, 1);
    column->addLayout(groups, 1);

    sbtnWeb3 = MakeLinkButton("sbtnWeb3");
    sbtnHelp3 = MakeFlatButton("&Help", "sbtnHelp3");
    sbtnAbout3 = MakeFlatButton("&About", "sbtnAbout3");
    auto* links = new QHBoxLayout;
    links->addWidget(sbtnWeb3);
    links->addStretch(1);
    links->addWidget(sbtnHelp3);
    links->addWidget(sbtnAbout3);
    column->addLayout(links);
    return page;
}

void TMainForm::ConnectHandlers()
{
    // Every handler runs inside the window's error boundary.
    const auto onClick = [this](auto* sender, void (TMainForm::*handler)()) {
        connect(sender, &std::remove_pointer_t<decltype(sender)>::clicked, this,
                [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
    };
    onClick(btnOpen, &TMainForm::btnOpenClick);
    onClick(rdbTime, &TMainForm::rdbTimeClick);
    onClick(rdbPart, &TMainForm::rdbPartClick);
    onClick(sbtnHelp1, &TMainForm::sbtnHelp1Click);
    onClick(sbtnHelp3, &TMainForm::sbtnHelp3Click);
    onClick(sbtnWeb1, &TMainForm::sbtnWeb1Click);
    onClick(sbtnWeb3, &TMainForm::sbtnWeb3Click);
    onClick(sbtnAbout1, &TMainForm::sbtnAbout1Click);
    onClick(sbtnAbout3, &TMainForm::sbtnAbout3Click);
    onClick(btnSplit, &TMainForm::btnSplitClick);
    onClick(btnStop, &TMainForm::btnStopClick);
    onClick(sbtnPlay, &TMainForm::sbtnPlayClick);
    onClick(sbtnPause, &TMainForm::sbtnPauseClick);
    onClick(sbtnStop, &TMainForm::sbtnStopClick);
    onClick(sbtnBegin, &TMainForm::sbtnBeginClick);
    onClick(sbtnEnd, &TMainForm::sbtnEndClick);
    onClick(btnOpenTag, &TMainForm::btnOpenTagClick);
    onClick(chkTagExists1, &TMainForm::chkTagExists1Click);
    onClick(chkTagExists, &TMainForm::chkTagExistsClick);
    onClick(Button1, &TMainForm::Button1Click);
    onClick(Button2, &TMainForm::Button2Click);
    onClick(Button3, &TMainForm::Button3Click);

    connect(edtStart, &QLineEdit::textChanged, this, [this] { RunHandler([this] { edtStartChange(); }); });
    connect(edtEnd, &QLineEdit::textChanged, this, [this] { RunHandler([this] { edtEndChange(); }); });
    connect(tkbPosition, &QSlider::valueChanged, this, [this] { RunHandler([this] { tkbPositionChange(); }); });
    connect(TmrPlayer, &QTimer::timeout, this, [this] { RunHandler([this] { TmrPlayerTimer(); }); });
    connect(pgcMain, &QTabWidget::currentChanged, this, [this](int index) {
        if (pgcMain->widget(index) == tabTag)
            RunHandler([this] { tabTagShow(); });
    });
}
