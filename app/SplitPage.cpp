// The split page's file, its split modes and its two commands.
#include "app/SplitPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <initializer_list>

#include "analysis/ID3v1.h"
#include "app/GuiPrompter.h"
#include "app/GuiTrackBar.h"
#include "app/GuiUpDown.h"
#include "app/PageHost.h"
#include "app/SplitListPanel.h"
#include "app/dialogs/BrwsFldr.h"
#include "core/CueSheet.h"
#include "core/SplitCommands.h"
#include "core/TimeText.h"
#include "playback/BASSPlayer.h"
#include "playback/WaveformEnvelope.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The file name without folder and without its last four characters (the
// extension ".mp3" is assumed, as in the names of the parts).
std::string BareTitle(const std::string& path)
{
    std::string name = std::filesystem::path(path).filename().string();
    return name.substr(0, name.size() >= 4 ? name.size() - 4 : 0);
}

} // namespace

// The split commands see the page through this: prompts go to the window's
// prompter, the gauge is pgbProgress, and the message pump lets Stop (and
// only Stop among the commands, see SetSplitRunning) through.
class SplitPage::PageSplitUi : public SplitUi {
public:
    explicit PageSplitUi(SplitPage& page) : page_(page) {}

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override
    {
        prompts().ShowMessage(caption, text, icon);
    }
    std::optional<std::string> AskOpenFileName() override { return prompts().AskOpenFileName(); }
    std::optional<std::string> AskSaveFileName(const std::string& proposedName) override
    {
        return prompts().AskSaveFileName(proposedName);
    }
    bool ExecuteFolderPicker(std::string& path) override { return prompts().ExecuteFolderPicker(path); }

    void SetProgressVisible(bool visible) override
    {
        page_.SetSplitRunning(visible);
        page_.pgbProgress_->setVisible(visible);
    }
    void SetProgress(int percent) override { page_.pgbProgress_->setValue(percent); }
    void ProcessMessages() override { QCoreApplication::processEvents(); }
    void StopPlayerTimer() override { page_.tmrPlayer_->stop(); }

private:
    GuiPrompterBase& prompts() { return page_.host_.prompts(); }

    SplitPage& page_;
};

SplitPage::SplitPage(PageHost& host, TBrowseForFolder& folderPicker, WaveformEnvelope& envelope, bool gapless)
    : host_(host), folderPicker_(folderPicker), envelope_(envelope), splitUi_(std::make_unique<PageSplitUi>(*this)),
      splitCommands_(std::make_unique<TSplitCommands>(host.Player(), host.Id3v1(), host.Id3v2(), *splitUi_))
{
    splitCommands_->SetGapless(gapless);
    gapless_ = gapless;
    BuildPage();
    ConnectHandlers();
    connect(&envelope_, &WaveformEnvelope::envelopeChanged, tkbPosition_, &GuiTrackBar::SetEnvelope);
}

SplitPage::~SplitPage() = default;

QString SplitPage::FileName() const { return edtFile_->text(); }
bool SplitPage::OpenEnabled() const { return btnOpen_->isEnabled(); }
void SplitPage::ClickOpen() { btnOpen_->click(); }
void SplitPage::MarkStart() { sbtnBegin_->click(); }
void SplitPage::MarkEnd() { sbtnEnd_->click(); }
bool SplitPage::SplitRunning() const { return splitCommands_->Running(); }
void SplitPage::StopSplit() { splitCommands_->RequestStop(); }

void SplitPage::PlayOrPause()
{
    // A focused button still answers Space the usual way: it is pressed.
    if (auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        button && button->window() == window()) {
        button->click();
        return;
    }
    const TPlayerMode mode = host_.Player().Mode();
    (mode == plmPlaying || mode == plmPaused ? sbtnPause_ : sbtnPlay_)->click();
}

void SplitPage::ReleaseFile()
{
    tmrPlayer_->stop();
    host_.Player().Close();
}

void SplitPage::btnOpenClick()
{
    if (const std::optional<std::string> chosen = host_.prompts().AskOpenFileName())
        OpenFile(*chosen);
}

void SplitPage::OpenFile(const std::string& fileName)
{
    edtFile_->setText(Q(fileName));
    // The folder picker starts beside the opened file until a folder has
    // been picked (the split command then passes that one).
    folderPicker_.SetPath(std::filesystem::path(fileName).parent_path().string());
    ReleaseFile();

    // Opening a pipe or a device to read it waits for a writer that may
    // never come and hangs the window: only a regular file is read.
    std::error_code error;
    const bool regularFile = std::filesystem::is_regular_file(fileName, error);
    ShowTagInfo(fileName, regularFile);
    if (regularFile)
        emit FileOpened(Q(fileName));

    TBASSPlayer& player = host_.Player();
    if (player.PlayerReady()) {
        if (regularFile)
            player.Open(fileName);
        lengthMs_ = static_cast<int32_t>(player.PlayLength());
        lengthRemainderMs_ = lengthMs_ % 1000;
        tkbPosition_->setMaximum(lengthMs_ / 1000);
        labLength_->setText(Q(FormatTimeText(lengthMs_ / 1000.0)));
    }
    StartEnvelope(fileName);

    edtStart_->setText("00:00.000");
    edtEnd_->setText("00:00.000");
    tkbPosition_->setValue(0);
    ResetWaveform(fileName);
    pnlList_->SetFile(fileName, player.PlayerReady() && regularFile ? lengthMs_ : 0);
    if (regularFile)
        OfferCueSheetBeside(fileName);
}

void SplitPage::OfferCueSheetBeside(const std::string& fileName)
{
    const std::optional<std::string> sheet = CueSheetBeside(fileName);
    if (!sheet || !host_.prompts().AskYesNo("Confirm", "The CUE sheet \"" + *sheet + "\" lies beside the file.\r\n"
                                                       "Split the file at its tracks?"))
        return;
    ChoosePoints(true, SplitListPanel::SourceKey(SplitListPanel::Source::CueSheet));
    pnlList_->LoadCueSheet(*sheet);
}

void SplitPage::ShowTagInfo(const std::string& fileName, bool regularFile)
{
    TID3v1& tag = host_.Id3v1();
    if (regularFile)
        tag.ReadTag(fileName);
    else
        tag.Reset();
    if (tag.Exists()) {
        labTitle_->setText(Q(tag.Title()));
        labArtist_->setText(Q(tag.Artist()));
        labAlbum_->setText(Q(tag.Album()));
        labYear_->setText(Q(tag.Year()));
        labComment_->setText(Q(tag.Comment()));
    } else {
        labTitle_->setText(Q(BareTitle(fileName)));
        for (QLabel* label : {labArtist_, labAlbum_, labYear_, labComment_})
            label->setText("Unknown");
    }
}

void SplitPage::StartEnvelope(const std::string& fileName)
{
    envelope_.Cancel();
    tkbPosition_->ClearEnvelope();
    // Only a file the player opened has a stream worth scanning; the scan
    // decodes a stream of its own, so the preview is not disturbed.
    TBASSPlayer& player = host_.Player();
    if (player.PlayerReady() && player.StreamName() == fileName)
        envelope_.Start(fileName, tkbPosition_->EnvelopeColumns());
}

void SplitPage::SetRecentFiles(const QStringList& files)
{
    // The list changes while one of its entries is being handled (it opens
    // a file, which puts that file first): the old entries go later.
    for (QAction* old : recentMenu_->actions()) {
        removeAction(old);
        recentMenu_->removeAction(old);
        old->deleteLater();
    }
    int number = 1;
    for (const QString& file : files) {
        auto* entry = new QAction(QString("&%1 %2").arg(number).arg(file), recentMenu_);
        entry->setShortcut(QKeySequence(QString("Ctrl+%1").arg(number)));
        recentMenu_->addAction(entry);
        addAction(entry);  // the key works with the menu closed
        connect(entry, &QAction::triggered, this, [this, file] {
            if (!OpenEnabled())
                return;
            // Moved or deleted since: said as for a file named on the command line.
            if (!QFileInfo::exists(file))
                host_.prompts().ShowMessage("Corvella", "The file \"" + file.toStdString() + "\" does not exist.",
                                            MessageIcon::Warning);
            else
                host_.RunHandler([&] { OpenFile(file.toStdString()); });
        });
        if (++number > 9)
            break;
    }
    btnRecent_->setEnabled(!files.isEmpty());
}

bool SplitPage::PartsChosen() const { return rdbPart_->isChecked(); }
int SplitPage::PartsCount() const { return edtPart_->text().toInt(); }

void SplitPage::ChooseSplit(bool parts, int count)
{
    edtPart_->setText(QString::number(std::clamp(count, 2, 99)));
    (parts ? rdbPart_ : rdbTime_)->setChecked(true);
    parts ? rdbPartClick() : rdbTimeClick();
}

bool SplitPage::PointsChosen() const { return rdbList_->isChecked(); }
QString SplitPage::PointsSource() const { return SplitListPanel::SourceKey(pnlList_->CurrentSource()); }

void SplitPage::ChoosePoints(bool chosen, const QString& source)
{
    if (const std::optional<SplitListPanel::Source> known = SplitListPanel::SourceOfKey(source))
        pnlList_->ChooseSource(*known);
    if (chosen) {
        rdbList_->setChecked(true);
        rdbListClick();
    }
}

void SplitPage::rdbTimeClick()
{
    ShowListPanel(false);
    for (QWidget* widget : std::initializer_list<QWidget*>{edtStart_, edtEnd_, labStart1_, labEnd1_})
        widget->setEnabled(true);
    for (QWidget* widget : std::initializer_list<QWidget*>{edtPart_, updPart_, labPart2_})
        widget->setEnabled(false);
}

void SplitPage::rdbPartClick()
{
    ShowListPanel(false);
    for (QWidget* widget : std::initializer_list<QWidget*>{edtStart_, edtEnd_, labStart1_, labEnd1_})
        widget->setEnabled(false);
    for (QWidget* widget : std::initializer_list<QWidget*>{edtPart_, updPart_, labPart2_})
        widget->setEnabled(true);
}

void SplitPage::rdbListClick()
{
    for (QWidget* widget : std::initializer_list<QWidget*>{edtStart_, edtEnd_, labStart1_, labEnd1_, edtPart_,
                                                           updPart_, labPart2_})
        widget->setEnabled(false);
    ShowListPanel(true);
}

// The window keeps its size: the list takes the room of what the split at
// points does not use.
void SplitPage::ShowListPanel(bool shown)
{
    for (int i = 0; i < tagInfo_->count(); ++i)
        if (QWidget* widget = tagInfo_->itemAt(i)->widget())
            widget->setVisible(!shown);
    for (QWidget* widget : std::initializer_list<QWidget*>{labStart1_, edtStart_, labEnd1_, edtEnd_, labPeriod_,
                                                           findChild<QLabel*>("Label2"), findChild<QLabel*>("Label3")})
        if (widget)
            widget->setVisible(!shown);
    pnlList_->setVisible(shown);
}

void SplitPage::SplitAtListedPoints()
{
    // The list is of the file last opened; for any other text of the file
    // box the command says, as the others do, that no file is open.
    const std::string fileName = edtFile_->text().toStdString();
    if (fileName != pnlList_->FileName() || !QFileInfo(QString::fromStdString(fileName)).isFile()) {
        splitCommands_->SplitAt({}, {}, {});
        return;
    }
    const ParseResult<std::vector<SplitPoint>> points = pnlList_->Points();
    if (!points) {
        host_.prompts().ShowMessage("Information", points.Error, MessageIcon::Information);
        return;
    }
    if (!host_.prompts().ExecuteFolderPicker(listFolder_))
        return;
    splitCommands_->SplitAt(fileName, *points.Value, listFolder_);
}

void SplitPage::btnSplitClick()
{
    SplitRequest request;
    request.FileText = edtFile_->text().toStdString();
    request.SectionMode = rdbTime_->isChecked();
    request.StartText = edtStart_->text().toStdString();
    request.EndText = edtEnd_->text().toStdString();
    request.PartText = edtPart_->text().toStdString();
    request.LengthMs = lengthMs_;

    // However the command ends (done, stopped, an error), the commands that
    // were held back during its message pumps come back.
    // A command ended by an error hides the gauge too: it is shown only while
    // a run is in its loop.
    // A command that ends without touching the player (a check refused it,
    // a time text did not convert) leaves the preview as it was: a playing
    // preview keeps the timer that follows it.
    struct Restore {
        SplitPage& page;
        bool previewFollowed = page.tmrPlayer_->isActive();
        ~Restore()
        {
            page.SetSplitRunning(false);
            page.pgbProgress_->setVisible(false);
            if (previewFollowed && !page.tmrPlayer_->isActive() && page.host_.Player().Mode() == plmPlaying)
                page.tmrPlayer_->start();
        }
    } restore{*this};
    if (rdbList_->isChecked())
        SplitAtListedPoints();
    else
        splitCommands_->Split(request);
}

void SplitPage::btnStopClick() { splitCommands_->RequestStop(); }

void SplitPage::UpdateSelectedLength()
{
    labPeriod_->setText(Q(SelectedLengthText(edtStart_->text().toStdString(), edtEnd_->text().toStdString())));
}

// While an equal-parts run pumps messages, a new Open, a second Split or an
// edited file box would pull the file or the controls from under it (the
// tag page holds back its own commands on SplitRunningChanged); Stop is
// the one command meant to arrive then.
void SplitPage::SetSplitRunning(bool running)
{
    for (QWidget* widget : std::initializer_list<QWidget*>{btnOpen_, btnSplit_, btnVolume_, edtFile_})
        widget->setEnabled(!running);
    emit SplitRunningChanged(running);
}
