#include "app/Main.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QVBoxLayout>

#include <exception>
#include <fstream>
#include <utility>

#include "app/GuiPictures.h"
#include "app/SplitListPanel.h"
#include "app/SplitPage.h"
#include "app/TagPage.h"
#include "app/WidgetMakers.h"
#include "app/about.h"
#include "app/dialogs/BrwsFldr.h"
#include "core/GainOutline.h"
#include "playback/BASSPlayer.h"
#include "playback/ProgramFolder.h"
#include "playback/WaveformEnvelope.h"

namespace {

constexpr const char* kDefaultVersion = "3.1";
constexpr const char* kWebAddress = "https://ondrel.example/corvella";
constexpr int kClientWidth = 653;
constexpr int kClientHeight = 551;  // the split page's waveform takes 130
constexpr int kBannerHeight = 57;
constexpr qsizetype kMaxRecentFiles = 9;  // one for each of Ctrl+1...9

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::string TrimBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool SameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Reads one value the way Windows profile files are read: section and key
// names ignore letter case, blanks around the value and one pair of
// matching quotes are dropped; a missing file, section or key gives fallback.
std::string ReadIniString(const std::string& fileName, const std::string& section, const std::string& key,
                          const std::string& fallback)
{
    std::ifstream in(fileName);
    if (!in)
        return fallback;
    std::string line;
    bool inSection = false;
    bool firstLine = true;
    while (std::getline(in, line)) {
        if (firstLine && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line.erase(0, 3);
        firstLine = false;
        line = TrimBlanks(line);
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            inSection = close != std::string::npos && SameIgnoringCase(TrimBlanks(line.substr(1, close - 1)), section);
            continue;
        }
        const auto equals = line.find('=');
        if (!inSection || equals == std::string::npos || !SameIgnoringCase(TrimBlanks(line.substr(0, equals)), key))
            continue;
        std::string value = TrimBlanks(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return fallback;
}

} // namespace

TMainForm::TMainForm(std::unique_ptr<GuiPrompterBase> prompter, const std::string& programFolder, QWidget* parent)
    : QMainWindow(parent), prompter_(std::move(prompter))
{
    folderPicker_ = Named(new TBrowseForFolder(this), "DirDialog1");
    if (!prompter_)
        prompter_ = std::make_unique<GuiPrompter>(*this, *folderPicker_);
    folderPicker_->SetMessages(prompter_.get());
    ReadSettings(programFolder);
    player_ = std::make_unique<TBASSPlayer>(this, &prompts(), programFolder_);
    player_->setObjectName("PermanentPlayer");
    envelope_ = std::make_unique<WaveformEnvelope>(this);
    envelope_->setObjectName("Envelope");
    envelope_->SetOutline(FillGainOutline);
    // Option.ini [Main] Gapless=1: sample-exact parts that join without a gap.
    BuildWindow(ReadIniString(programFolder_ + "Option.ini", "Main", "Gapless", "0") == "1");
    ConnectPages();
    BuildMenu();
    ConnectDesktop();
}

TMainForm::~TMainForm()
{
    // The pages (and the split commands in the split page) go first, while
    // the player, the tags and the prompter they use are still there; no
    // page switch reaches a handler on the way.
    SaveMemory();
    disconnect(pgcMain_, nullptr, this, nullptr);
    std::unique_ptr<QWidget> pages(takeCentralWidget());
}

void TMainForm::RunHandler(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        prompts().ShowMessage(ProductName, error.what(), MessageIcon::Error);
    } catch (...) {
        prompts().ShowMessage(ProductName, "Unexpected error", MessageIcon::Error);
    }
}

void TMainForm::ReadSettings(const std::string& programFolderOverride)
{
    programFolder_ = programFolderOverride.empty() ? ::ProgramFolder() : programFolderOverride;
    if (programFolder_.empty() || programFolder_.back() != '/')
        programFolder_ += '/';
    webAddress_ = kWebAddress;
    helpFileName_ = programFolder_ + ProductName + ".html";
    versionText_ = ReadIniString(programFolder_ + "Option.ini", "Main", "Version", kDefaultVersion);
}

void TMainForm::BuildWindow(bool gapless)
{
    setObjectName("MainForm");
    setWindowIcon(QIcon(LogoPicture()));
    setWindowTitle(Q(std::string(ProductName) + " V" + versionText_ + " - " + MakerName));
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(2);
    column->addWidget(BuildBanner());

    pgcMain_ = Named(new QTabWidget, "pgcMain");
    splitPage_ = new SplitPage(*this, *folderPicker_, *envelope_, gapless);
    tagPage_ = new TagPage(*this);
    pgcMain_->addTab(splitPage_, "  Split MP3  ");
    pgcMain_->addTab(tagPage_, "  Edit Tag  ");
    auto* pageMargin = new QHBoxLayout;
    pageMargin->setContentsMargins(4, 0, 4, 0);
    pageMargin->addWidget(pgcMain_);
    column->addLayout(pageMargin, 1);
    setCentralWidget(central);

    // The window's own size, unless a larger font, style or scale needs
    // more to show every text whole; the layouts keep it from shrinking below that.
    resize(QSize(kClientWidth, kClientHeight).expandedTo(minimumSizeHint()));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

// The banner picture with the logo, the version and the maker on it.
QWidget* TMainForm::BuildBanner()
{
    auto* banner = Named(new QLabel, "imgBanner");
    banner->setFixedHeight(kBannerHeight);
    banner->setPixmap(BannerPicture());
    banner->setScaledContents(true);
    auto* logo = Named(new QLabel, "imgLogo");
    logo->setPixmap(LogoPicture());
    logo->setFixedSize(32, 32);
    // The texts are drawn on the light picture whatever the palette, and
    // keep to its right edge as the window widens.
    auto* version = Named(new QLabel(Q("V" + versionText_)), "labVersion");
    version->setStyleSheet("QLabel { color: #1b2a3a; font-weight: bold; background: transparent; }");
    auto* powered = Named(new QLabel(Q(std::string("Powered by ") + MakerName)), "labPowered");
    powered->setStyleSheet("QLabel { color: #0000ff; background: transparent; }");
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    for (QLabel* label : {version, powered}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        texts->addWidget(label);
    }
    auto* row = new QHBoxLayout(banner);
    row->setContentsMargins(12, 4, 12, 4);
    row->addWidget(logo, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addLayout(texts);
    return banner;
}

void TMainForm::RestoreMemory()
{
    memory_ = std::make_unique<QSettings>(MakerName, ProductName);
    recentFiles_ = memory_->value("RecentFiles").toStringList().mid(0, kMaxRecentFiles);
    splitPage_->SetRecentFiles(recentFiles_);
    if (const QString folder = memory_->value("LastFolder").toString(); !folder.isEmpty())
        prompts().StartIn(folder.toStdString());
    splitPage_->ChooseSplit(memory_->value("SplitIntoParts", false).toBool(), memory_->value("Parts", 2).toInt());
    splitPage_->ChoosePoints(memory_->value("SplitAtPoints", false).toBool(), memory_->value("PointsSource").toString());
    splitPage_->PointsPanel().ChooseSilenceCuts(memory_->value("SilenceCutAtEnd", false).toBool(),
                                                memory_->value("SilenceTrim", false).toBool());
    restoreGeometry(memory_->value("Geometry").toByteArray());
}

// Open and Save As start beside the file last opened, in this run and the next.
void TMainForm::RememberOpenedFile(const QString& fileName)
{
    prompts().StartIn(QFileInfo(fileName).absolutePath().toStdString());
    recentFiles_.removeAll(fileName);
    recentFiles_.prepend(fileName);
    recentFiles_ = recentFiles_.mid(0, kMaxRecentFiles);
    splitPage_->SetRecentFiles(recentFiles_);
    if (memory_)
        memory_->setValue("RecentFiles", recentFiles_);
}

void TMainForm::SaveMemory()
{
    if (!memory_)
        return;
    memory_->setValue("RecentFiles", recentFiles_);
    memory_->setValue("LastFolder", QString::fromStdString(prompts().LastFolder()));
    memory_->setValue("SplitIntoParts", splitPage_->PartsChosen());
    memory_->setValue("Parts", splitPage_->PartsCount());
    memory_->setValue("SplitAtPoints", splitPage_->PointsChosen());
    memory_->setValue("PointsSource", splitPage_->PointsSource());
    memory_->setValue("SilenceCutAtEnd", splitPage_->PointsPanel().CutsAtSilenceEnd());
    memory_->setValue("SilenceTrim", splitPage_->PointsPanel().TrimsSilence());
    memory_->setValue("Geometry", saveGeometry());
    memory_->sync();
}

void TMainForm::ConnectPages()
{
    connect(splitPage_, &SplitPage::FileOpened, this, &TMainForm::RememberOpenedFile);
    connect(splitPage_, &SplitPage::SplitRunningChanged, tagPage_, &TagPage::SetSplitRunning);
    connect(tagPage_, &TagPage::FileAboutToBeWritten, splitPage_, &SplitPage::ReleaseFile);
    connect(pgcMain_, &QTabWidget::currentChanged, this, [this] {
        if (TagPageShown())
            RunHandler([this] { tagPage_->ShowPage(splitPage_->FileName()); });
    });
}

bool TMainForm::TagPageShown() const { return pgcMain_->currentWidget() == tagPage_; }

void TMainForm::OpenFile(const std::string& fileName) { splitPage_->OpenFile(fileName); }

// The help page is a file of our own, so it can be shown without a browser;
// only a missing page is left to the message.
void TMainForm::ShowHelp()
{
    if (prompts().OpenDocument(helpFileName_))
        return;
    if (QFileInfo(Q(helpFileName_)).isFile())
        ShowHelpWindow();
    else
        ShowDocument(helpFileName_);
}

void TMainForm::ShowWebSite() { ShowDocument(webAddress_); }

// A desktop without a browser would otherwise swallow the click silently.
void TMainForm::ShowDocument(const std::string& pathOrUrl)
{
    if (!prompts().OpenDocument(pathOrUrl))
        prompts().ShowMessage(ProductName, "No web browser could be started to show\r\n" + pathOrUrl,
                              MessageIcon::Warning);
}

void TMainForm::ShowAbout()
{
    if (!aboutBox_)
        aboutBox_ = Named(new TAboutBox(versionText_, this), "AboutBox");
    aboutBox_->exec();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    bool mayClose = false;
    RunHandler([&] { mayClose = tagPage_->MayLeaveEdits(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    if (splitPage_->SplitRunning())
        splitPage_->StopSplit();
    QMainWindow::closeEvent(event);
}
