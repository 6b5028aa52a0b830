#include "Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <exception>
#include <filesystem>
#include <fstream>
#include <utility>

#include "analysis/Errors.h"
#include "core/TimeText.h"
#include "app/about.h"
#include "app/dialogs/BrwsFldr.h"
#include "playback/BASSPlayer.h"
#include "playback/ProgramFolder.h"
#include "playback/WaveformEnvelope.h"

namespace {

constexpr const char* kDefaultVersion = "3.1";
constexpr const char* kWebAddress = "https://ondrel.example/corvella";

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

// The file name without folder and without its last four characters (the
// extension ".mp3" is assumed, as in the names of the parts).
std::string BareTitle(const std::string& path)
{
    std::string name = std::filesystem::path(path).filename().string();
    return name.substr(0, name.size() >= 4 ? name.size() - 4 : 0);
}

} // namespace

// The split commands see the window through this: prompts go to the
// window's prompter, the gauge is pgbProgress, and the message pump lets
// Stop (and only Stop among the commands, see SetSplitRunning) through.
class TMainForm::WindowSplitUi : public SplitUi {
public:
    explicit WindowSplitUi(TMainForm& window) : window_(window) {}

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override
    {
        window_.prompts().ShowMessage(caption, text, icon);
    }
    std::optional<std::string> AskOpenFileName() override { return window_.prompts().AskOpenFileName(); }
    std::optional<std::string> AskSaveFileName(const std::string& proposedName) override
    {
        return window_.prompts().AskSaveFileName(proposedName);
    }
    bool ExecuteFolderPicker(std::string& path) override { return window_.prompts().ExecuteFolderPicker(path); }

    void SetProgressVisible(bool visible) override
    {
        window_.SetSplitRunning(visible);
        window_.pgbProgress->setVisible(visible);
    }
    void SetProgress(int percent) override { window_.pgbProgress->setValue(percent); }
    void ProcessMessages() override
    {
        QCoreApplication::processEvents();
        if (window_.MessagesProcessed)
            window_.MessagesProcessed();
    }
    void StopPlayerTimer() override { window_.TmrPlayer->stop(); }

private:
    TMainForm& window_;
};

TMainForm::TMainForm(std::unique_ptr<GuiPrompterBase> prompter, const std::string& programFolder, QWidget* parent)
    : QMainWindow(parent), programFolderOverride_(programFolder), prompter_(std::move(prompter))
{
    DirDialog1 = new TBrowseForFolder(this);
    DirDialog1->setObjectName("DirDialog1");
    if (!prompter_)
        prompter_ = std::make_unique<GuiPrompter>(*this, *DirDialog1);
    splitUi_ = std::make_unique<WindowSplitUi>(*this);
    BuildWindow();
    ConnectHandlers();
    ConnectDesktop();
    RunHandler([this] { FormCreate(); });
}

TMainForm::~TMainForm()
{
    // The envelope's scan decodes through the player's library; it ends first.
    delete Envelope;
    Envelope = nullptr;
    // The player reports through the prompter; it must not outlive it.
    delete Player;
    Player = nullptr;
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

void TMainForm::FormCreate()
{
    ProgramFolder = programFolderOverride_.empty() ? ::ProgramFolder() : programFolderOverride_;
    if (ProgramFolder.empty() || ProgramFolder.back() != '/')
        ProgramFolder += '/';
    WebAddress = kWebAddress;
    HelpFileName = ProgramFolder + ProductName + ".html";
    ReadOptions();
    pgcMain->setCurrentWidget(tabSplit);

    setWindowTitle(Q(std::string(ProductName) + " V" + VersionText + " - " + MakerName));
    labVersion->setText(Q("V" + VersionText));
    labPowered->setText(Q(std::string("Powered by ") + MakerName));
    for (QToolButton* web : {sbtnWeb1, sbtnWeb3})
        web->setText(Q(WebAddress));

    Player = new TBASSPlayer(this, &prompts(), ProgramFolder);
    Player->setObjectName("PermanentPlayer");
    SplitCommands = std::make_unique<TSplitCommands>(*Player, ID3v1, ID3v2, *splitUi_);
    // Option.ini [Main] Gapless=1: sample-exact parts that join without a gap.
    SplitCommands->SetGapless(ReadIniString(ProgramFolder + "Option.ini", "Main", "Gapless", "0") == "1");
}

void TMainForm::ReadOptions()
{
    VersionText = ReadIniString(ProgramFolder + "Option.ini", "Main", "Version", kDefaultVersion);
}

void TMainForm::btnOpenClick()
{
    if (const std::optional<std::string> chosen = prompts().AskOpenFileName())
        OpenFile(*chosen);
}

void TMainForm::OpenFile(const std::string& fileName)
{
    edtFile->setText(Q(fileName));
    // The folder picker starts beside the opened file until a folder has
    // been picked (the split command then passes that one).
    DirDialog1->SetPath(std::filesystem::path(fileName).parent_path().string());
    TmrPlayer->stop();
    Player->Close();

    // Opening a pipe or a device to read it waits for a writer that may
    // never come and hangs the window: only a regular file is read.
    std::error_code error;
    const bool regularFile = std::filesystem::is_regular_file(fileName, error);
    if (regularFile)
        ID3v1.ReadTag(fileName);
    else
        ID3v1.Reset();
    if (ID3v1.Exists()) {
        labTitle->setText(Q(ID3v1.Title()));
        labArtist->setText(Q(ID3v1.Artist()));
        labAlbum->setText(Q(ID3v1.Album()));
        labYear->setText(Q(ID3v1.Year()));
        labComment->setText(Q(ID3v1.Comment()));
    } else {
        labTitle->setText(Q(BareTitle(fileName)));
        for (QLabel* label : {labArtist, labAlbum, labYear, labComment})
            label->setText("Unknown");
    }

    if (Player->PlayerReady()) {
        if (regularFile)
            Player->Open(fileName);
        LengthMs = static_cast<int32_t>(Player->PlayLength());
        LengthRemainderMs = LengthMs % 1000;
        tkbPosition->setMaximum(LengthMs / 1000);
        labLength->setText(Q(FormatTimeText(LengthMs / 1000.0)));
    }
    StartEnvelope(fileName);

    edtStart->setText("00:00.000");
    edtEnd->setText("00:00.000");
    tkbPosition->setValue(0);
}

void TMainForm::rdbTimeClick()
{
    for (QWidget* widget : std::initializer_list<QWidget*>{edtStart, edtEnd, labStart1, labEnd1})
        widget->setEnabled(true);
    for (QWidget* widget : std::initializer_list<QWidget*>{edtPart, updPart, labPart2})
        widget->setEnabled(false);
}

void TMainForm::rdbPartClick()
{
    for (QWidget* widget : std::initializer_list<QWidget*>{edtStart, edtEnd, labStart1, labEnd1})
        widget->setEnabled(false);
    for (QWidget* widget : std::initializer_list<QWidget*>{edtPart, updPart, labPart2})
        widget->setEnabled(true);
}

void TMainForm::sbtnHelp1Click() { ShowDocument(HelpFileName); }
void TMainForm::sbtnHelp3Click() { ShowDocument(HelpFileName); }
void TMainForm::sbtnWeb1Click() { ShowDocument(WebAddress); }
void TMainForm::sbtnWeb3Click() { ShowDocument(WebAddress); }

// A desktop without a browser would otherwise swallow the click silently.
void TMainForm::ShowDocument(const std::string& pathOrUrl)
{
    if (!prompts().OpenDocument(pathOrUrl))
        prompts().ShowMessage(ProductName, "No web browser could be started to show\r\n" + pathOrUrl,
                              MessageIcon::Warning);
}
void TMainForm::sbtnAbout1Click() { ShowAboutBox(); }
void TMainForm::sbtnAbout3Click() { ShowAboutBox(); }

void TMainForm::ShowAboutBox()
{
    if (!AboutBox)
        AboutBox = new TAboutBox(VersionText, this);
    AboutBox->exec();
}

void TMainForm::btnSplitClick()
{
    SplitRequest request;
    request.FileText = edtFile->text().toStdString();
    request.SectionMode = rdbTime->isChecked();
    request.StartText = edtStart->text().toStdString();
    request.EndText = edtEnd->text().toStdString();
    request.PartText = edtPart->text().toStdString();
    request.LengthMs = LengthMs;

    // However the command ends (done, stopped, an error), the commands that
    // were held back during its message pumps come back.
    // A command ended by an error hides the gauge too: it is shown only while
    // a run is in its loop.
    // A command that ends without touching the player (a check refused it,
    // a time text did not convert) leaves the preview as it was: a playing
    // preview keeps the timer that follows it.
    struct Restore {
        TMainForm& window;
        bool previewFollowed = window.TmrPlayer->isActive();
        ~Restore()
        {
            window.SetSplitRunning(false);
            window.pgbProgress->setVisible(false);
            if (previewFollowed && !window.TmrPlayer->isActive() && window.Player->Mode() == plmPlaying)
                window.TmrPlayer->start();
        }
    } restore{*this};
    SplitCommands->Split(request);
}

void TMainForm::btnStopClick() { SplitCommands->RequestStop(); }

void TMainForm::UpdateSelectedLength()
{
    labPeriod->setText(Q(SelectedLengthText(edtStart->text().toStdString(), edtEnd->text().toStdString())));
}

// While an equal-parts run pumps messages, a new Open, a second Split, an
// edited file box or a tag write or open on the tag page would pull the
// file or the controls from under it; Stop is the one command meant to
// arrive then.
void TMainForm::SetSplitRunning(bool running)
{
    for (QWidget* widget : std::initializer_list<QWidget*>{btnOpen, btnSplit, edtFile, btnOpenTag, Button3})
        widget->setEnabled(!running);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    bool mayClose = false;
    RunHandler([&] { mayClose = MayLeaveTagEdits(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    if (SplitCommands && SplitCommands->Running())
        SplitCommands->RequestStop();
    QMainWindow::closeEvent(event);
}
