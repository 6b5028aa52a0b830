// The main window driven through its real controls: start-up and Option.ini,
// Open with and without the audio library, both split commands with every
// message in order, Stop during a run, the error boundary, Help, web and
// About, and the spinner of the part quantity.

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QPointer>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "app/GuiPictures.h"
#include "app/GuiTrackBar.h"
#include "app/Main.h"
#include "app/about.h"
#include "app/dialogs/BrwsFldr.h"
#include "app/GuiUpDown.h"
#include "app/SplitPage.h"
#include "playback/BASSPlayer.h"
#include "support/TestSupport.h"

#include "NamedControl.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// Answers the window's prompts from queues the test fills and records every
// prompt and message in order; a prompt with an empty queue is a cancel.
class ScriptedPrompter : public GuiPrompterBase {
public:
    std::deque<std::optional<std::string>> openAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    std::deque<std::optional<std::string>> folderAnswers;
    std::vector<std::string> events;
    std::vector<std::string> documents;

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override
    {
        const char* kind = icon == MessageIcon::Information ? "info" : icon == MessageIcon::Error ? "error" : "other";
        events.push_back(std::string(kind) + ":" + caption + ":" + text);
    }
    std::optional<std::string> AskOpenFileName() override
    {
        events.push_back("open-dialog");
        return Next(openAnswers);
    }
    std::optional<std::string> AskSaveFileName(const std::string& proposedName) override
    {
        events.push_back("save-dialog:" + proposedName);
        return Next(saveAnswers);
    }
    bool ExecuteFolderPicker(std::string& path) override
    {
        events.push_back("folder-picker");
        auto answer = Next(folderAnswers);
        if (!answer)
            return false;
        path = *answer;
        return true;
    }
    bool OpenDocument(const std::string& pathOrUrl) override
    {
        documents.push_back(pathOrUrl);
        return true;
    }

    std::vector<std::string> TakeEvents() { return std::exchange(events, {}); }

private:
    static std::optional<std::string> Next(std::deque<std::optional<std::string>>& answers)
    {
        if (answers.empty())
            return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

using Events = std::vector<std::string>;

std::string Info(const std::string& text) { return "info:Information:" + text; }

// A program folder of the window's own: the audio library linked in from
// the test program's folder (or left out), and Option.ini when asked for.
class ProgramFolderFixture {
public:
    explicit ProgramFolderFixture(bool withLibrary, const std::string& optionIni = {})
    {
        if (withLibrary)
            for (const char* library : {"libbass.so", "libbasswma.so"}) {
                const fs::path source = fs::path(testsupport::BinFolder()) / library;
                if (fs::exists(source))
                    fs::create_symlink(source, dir_.Path() / library);
            }
        if (!optionIni.empty())
            testsupport::WriteText(dir_.File("Option.ini"), optionIni);
    }
    std::string Path() const { return dir_.Path().string() + "/"; }

private:
    TempDir dir_;
};

// One window with its scripted prompter; the window is shown so that the
// enabled and visible states of the controls are those the user sees.
struct Window {
    ProgramFolderFixture folder;
    ScriptedPrompter* prompts = nullptr;
    std::unique_ptr<TMainForm> form;

    explicit Window(bool withLibrary = true, const std::string& optionIni = {}) : folder(withLibrary, optionIni)
    {
        auto prompter = std::make_unique<ScriptedPrompter>();
        prompts = prompter.get();
        form = std::make_unique<TMainForm>(std::move(prompter), folder.Path());
        form->show();
    }
    TMainForm* operator->() const { return form.get(); }
    TMainForm& operator*() const { return *form; }

    void Open(const std::string& path)
    {
        prompts->openAnswers.push_back(path);
        QTest::mouseClick(Control<QPushButton>(form, "btnOpen"), Qt::LeftButton);
    }
    // Radio buttons take clicks on their indicator and text only, not on the
    // whole width their layout gives them.
    void Click(QAbstractButton* button)
    {
        QTimer pump;
        pump.setInterval(0);
        QObject::connect(&pump, &QTimer::timeout, [this] {
            if (onPump)
                onPump();
        });
        pump.start();
        const QPoint point = qobject_cast<QRadioButton*>(button) ? QPoint(6, button->height() / 2) : QPoint();
        QTest::mouseClick(button, Qt::LeftButton, {}, point);
    }
    // Runs at each pass of the message pump during a click: an equal-parts
    // run pumps once before each part, and a timer of no interval is due at
    // every pass.
    std::function<void()> onPump;
};

std::string Text(const QLabel* label) { return label->text().toStdString(); }
bool AllEnabled(const std::vector<QWidget*>& widgets)
{
    return std::all_of(widgets.begin(), widgets.end(), [](QWidget* widget) { return widget->isEnabled(); });
}
bool NoneEnabled(const std::vector<QWidget*>& widgets)
{
    return std::none_of(widgets.begin(), widgets.end(), [](QWidget* widget) { return widget->isEnabled(); });
}
std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

std::vector<std::string> PartNames(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs action on the next modal dialog once it is shown (QDialog::exec
// blocks the test). The action waits until the dialog runs its own event
// loop and is the active window, so it always meets the dialog in the same
// state, whichever of the timer and the window's activation the machine's
// load lets come first. A dialog the action leaves open fails the test and
// is rejected: a failed check must not leave the test waiting for ever.
void OnNextModal(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    const int outerLoops = QThread::currentThread()->loopLevel();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action, outerLoops] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isActiveWindow() || QThread::currentThread()->loopLevel() <= outerLoops)
            return;
        timer->stop();
        timer->deleteLater();
        QPointer<QWidget> dialog = modal;
        action(modal);
        if (dialog && dialog->isVisible()) {
            QTest::qFail("the dialog was still open after the test's action", __FILE__, __LINE__);
            if (auto* box = qobject_cast<QDialog*>(dialog.data()))
                box->reject();
            else
                dialog->close();
        }
    });
    timer->start();
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void startsWithTheDefaultsOfTheWindow();
    void optionIniSetsTheVersion_data();
    void optionIniSetsTheVersion();
    void splitModesEnableTheirControls();
    void spinnerStepsWithinItsRangeAndLeavesTypedTextAlone();

    void openShowsTheNameWhenThereIsNoId3v1Tag();
    void openShowsTheId3v1TagAndTheExactLength();
    void cancelledOpenKeepsEverything();
    void withoutTheLibraryTagsShowAndEveryCutIsRefused();

    void splitWithoutAFileAsksForOne();
    void sectionCommandMessagesInOrder();
    void sectionCommandWritesTheSectionWithTheTags();
    void equalPartsCommandMessagesInOrder();
    void threePartsAreWrittenWithTheSourceTags();
    void stopEndsARunBeforeItsNextPartAndTheNextRunIsWhole();
    void errorsEndTheCommandInOneErrorBox();
    void runHoldsBackTheFileBoxAndTheTagPageAndKeepsItsTags();
    void devicesAndPipesAreNeverReplaced();
    void partNotWrittenBecauseOfAnErrorFailsTheRun();
    void fileSizeLimitFailsAWriteInsteadOfKillingTheProgram();
    void openingAPipeNeverWaitsForAWriter();

    void helpAndWebOpenThroughTheDesktop();
    void aboutIsModalAndMadeOnce();

    void realPromptsAreTheDialogsOfTheCommands();
    void bannerIsADecodedJpegAndBadDataIsRefused();
    void trackBarDrawsItsSelection();

private:
    TempDir media_;
    std::string taggedMp3_;   // ID3v1 and ID3v2 tags, 6 s
    std::string plainMp3_;    // no tags, 4 s
    std::string exactWav_;    // 83456 ms
};

void MainFormTest::initTestCase()
{
    QVERIFY2(testsupport::HaveTool("lame") && testsupport::HaveTool("sox"), "lame and sox are needed");
    QVERIFY2(fs::exists(testsupport::BinFolder() + "libbass.so"), "the audio library is not built");
    plainMp3_ = media_.File("song.mp3");
    testsupport::MakeMp3(plainMp3_, 4.0);
    const std::string raw = media_.File("tagged-raw.mp3");
    testsupport::MakeMp3(raw, 6.0);
    taggedMp3_ = media_.File("tagged.mp3");
    fs::copy_file(raw, taggedMp3_);
    TID3v1 v1;
    v1.SetTitle("Harbour");
    v1.SetArtist("Tide Band");
    v1.SetAlbum("Coast");
    v1.SetYear("2021");
    v1.SetComment("calm");
    v1.SetTrack(4);
    v1.SetGenreID(17);
    QVERIFY(v1.WriteTag(taggedMp3_));
    TID3v2 v2;
    v2.SetTitle("Harbour (long title)");
    v2.SetArtist("Tide Band");
    v2.SetGenre("Rock");
    QVERIFY(v2.WriteTag(taggedMp3_));

    exactWav_ = media_.File("song.wav");
    const auto made = testsupport::Run("sox -n -r 8000 -c 1 -b 16 " + testsupport::Quote(exactWav_)
                                       + " synth 83.456 sine 440 vol 0.2");
    QVERIFY2(made.exitCode == 0, made.output.c_str());
}

void MainFormTest::startsWithTheDefaultsOfTheWindow()
{
    Window w;
    QCOMPARE(w->windowTitle(), QString("Corvella V3.1 - Ondrel"));
    QCOMPARE(Text(Control<QLabel>(w, "labVersion")), std::string("V3.1"));
    QCOMPARE(Text(Control<QLabel>(w, "labPowered")), std::string("Powered by Ondrel"));
    QCOMPARE(w->VersionText(), std::string("3.1"));
    QCOMPARE(w->ProgramFolder(), w.folder.Path());
    QCOMPARE(w->HelpFileName(), w.folder.Path() + "Corvella.html");
    // The classic 653 x 421, and 130 more for the split page's waveform.
    QCOMPARE(w->size(), QSize(653, 551));
    // It can be made larger, and smaller only as far as its texts allow.
    QVERIFY(w->maximumSize().width() > 653 && w->maximumSize().height() > 551);

    QVERIFY(Control<TBASSPlayer>(w, "PermanentPlayer") != nullptr);
    QCOMPARE(Control<TBASSPlayer>(w, "PermanentPlayer")->objectName(), QString("PermanentPlayer"));
    QCOMPARE(Control<TBASSPlayer>(w, "PermanentPlayer")->parent(), static_cast<QObject*>(w.form.get()));
    QVERIFY(Control<TBASSPlayer>(w, "PermanentPlayer")->PlayerReady());

    QCOMPARE(Control<QTabWidget>(w, "pgcMain")->currentWidget(), Control<QWidget>(w, "tabSplit"));
    QCOMPARE(Control<QTabWidget>(w, "pgcMain")->tabText(0), QString("  Split MP3  "));
    QCOMPARE(Control<QTabWidget>(w, "pgcMain")->tabText(1), QString("  Edit Tag  "));
    QVERIFY(Control<QRadioButton>(w, "rdbTime")->isChecked());
    QVERIFY(!Control<QRadioButton>(w, "rdbPart")->isChecked());
    QCOMPARE(Text(Control<QLineEdit>(w, "edtPart")), std::string("2"));
    QVERIFY(NoneEnabled(Controls<QWidget>(w, {"edtPart", "updPart", "labPart2"})));
    QVERIFY(AllEnabled(Controls<QWidget>(w, {"edtStart", "edtEnd"})));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtStart")), std::string("00:00.000"));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtEnd")), std::string("00:00.000"));
    QCOMPARE(Text(Control<QLabel>(w, "labTime1")), std::string("00:00.000"));
    QCOMPARE(Text(Control<QLabel>(w, "labEnd1")), std::string("Ending  time:"));
    QCOMPARE(Text(Control<QLabel>(w, "labPart2")), std::string("equal parts (Max:99)."));
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->minimum(), 0);
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->maximum(), 30);
    QVERIFY(!Control<QProgressBar>(w, "pgbProgress")->isVisible());
    QCOMPARE(Control<QProgressBar>(w, "pgbProgress")->maximum(), 100);
    QVERIFY(!Control<QTimer>(w, "TmrPlayer")->isActive());
    QCOMPARE(Control<QTimer>(w, "TmrPlayer")->interval(), 1000);
    QCOMPARE(Control<QPushButton>(w, "btnSplit")->text(), QString("&Split"));
    QCOMPARE(Control<QPushButton>(w, "btnStop")->text(), QString("S&top"));
    QCOMPARE(Control<QToolButton>(w, "sbtnWeb1")->toolTip(), QString("Visite our website"));
    QCOMPARE(Control<QToolButton>(w, "sbtnWeb1")->text(), QString::fromStdString(w->WebAddress()));
    QCOMPARE(Control<QToolButton>(w, "sbtnWeb3")->text(), QString::fromStdString(w->WebAddress()));
    QCOMPARE(Control<QToolButton>(w, "sbtnBegin")->toolTip(), QString("Select start time point"));
    QCOMPARE(Control<QToolButton>(w, "sbtnEnd")->toolTip(), QString("Select end time point"));
    QCOMPARE(Control<QToolButton>(w, "sbtnPause")->toolTip(), QString("Pause"));
    QCOMPARE(Control<QPushButton>(w, "Button3")->text(), QString("&Updat All"));
    QCOMPARE(Control<QLineEdit>(w, "TrackEdit1")->maxLength(), 2);
    QCOMPARE(Control<QLineEdit>(w, "YearEdit1")->maxLength(), 4);
    QCOMPARE(Control<QLineEdit>(w, "CommentEdit1")->maxLength(), 30);
    QCOMPARE(Control<QLineEdit>(w, "TitleEdit")->maxLength(), 2 * int(TID3v2::kMaxTextLength));
    QVERIFY(w.prompts->events.empty());
}

void MainFormTest::optionIniSetsTheVersion_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("version");
    QTest::newRow("plain") << "[Main]\nVersion=4.0\n" << "4.0";
    QTest::newRow("other sections first") << "[Other]\nVersion=9.9\n\n[Main]\r\nVersion=4.0\r\n" << "4.0";
    QTest::newRow("names ignore case, blanks trimmed") << "[main]\n  version = 4.0  \n" << "4.0";
    QTest::newRow("quoted") << "[Main]\nVersion=\"4.0 beta\"\n" << "4.0 beta";
    QTest::newRow("no key") << "[Main]\nRelease=4.0\n" << "3.1";
    QTest::newRow("key in another section") << "[Setup]\nVersion=4.0\n" << "3.1";
}

void MainFormTest::optionIniSetsTheVersion()
{
    QFETCH(QString, ini);
    QFETCH(QString, version);
    Window w(false, ini.toStdString());
    QCOMPARE(w->windowTitle(), "Corvella V" + version + " - Ondrel");
    QCOMPARE(Control<QLabel>(w, "labVersion")->text(), "V" + version);
}

void MainFormTest::splitModesEnableTheirControls()
{
    Window w;
    Control<QLabel>(w, "labPeriod")->setText("kept");
    w.Click(Control<QRadioButton>(w, "rdbPart"));
    QVERIFY(AllEnabled(Controls<QWidget>(w, {"edtPart", "updPart", "labPart2"})));
    QVERIFY(NoneEnabled(Controls<QWidget>(w, {"edtStart", "edtEnd", "labStart1", "labEnd1"})));
    QVERIFY(AllEnabled(Controls<QWidget>(w, {"sbtnBegin", "sbtnEnd"})));
    QCOMPARE(Text(Control<QLabel>(w, "labPeriod")), std::string("kept"));
    w.Click(Control<QRadioButton>(w, "rdbTime"));
    QVERIFY(NoneEnabled(Controls<QWidget>(w, {"edtPart", "updPart", "labPart2"})));
    QVERIFY(AllEnabled(Controls<QWidget>(w, {"edtStart", "edtEnd", "labStart1"})));
}

void MainFormTest::spinnerStepsWithinItsRangeAndLeavesTypedTextAlone()
{
    Window w;
    w.Click(Control<QRadioButton>(w, "rdbPart"));
    auto* up = Control<GuiUpDown>(w, "updPart")->findChild<QToolButton*>("up");
    auto* down = Control<GuiUpDown>(w, "updPart")->findChild<QToolButton*>("down");
    QVERIFY(up && down);
    w.Click(up);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtPart")), std::string("3"));
    w.Click(down);
    w.Click(down);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtPart")), std::string("2"));
    Control<QLineEdit>(w, "edtPart")->setText("98");
    w.Click(up);
    w.Click(up);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtPart")), std::string("99"));
    Control<QLineEdit>(w, "edtPart")->setText("120");
    QCOMPARE(Text(Control<QLineEdit>(w, "edtPart")), std::string("120"));
    w.Click(down);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtPart")), std::string("99"));
    Control<QLineEdit>(w, "edtPart")->setText("abc");
    QTest::keyClick(Control<QLineEdit>(w, "edtPart"), Qt::Key_Up);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtPart")), std::string("2"));
}

void MainFormTest::openShowsTheNameWhenThereIsNoId3v1Tag()
{
    Window w;
    w.Open(plainMp3_);
    QCOMPARE(w.prompts->TakeEvents(), Events{"open-dialog"});
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), plainMp3_);
    QCOMPARE(Text(Control<QLabel>(w, "labTitle")), std::string("song"));
    for (QLabel* label : Controls<QLabel>(w, {"labArtist", "labAlbum", "labYear", "labComment"}))
        QCOMPARE(Text(label), std::string("Unknown"));
    const int32_t lengthMs = Control<SplitPage>(w, "tabSplit")->LengthMs();
    QVERIFY(lengthMs > 3900 && lengthMs < 4200);
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->maximum(), 4);
}

void MainFormTest::openShowsTheId3v1TagAndTheExactLength()
{
    Window w;
    Control<QLineEdit>(w, "edtStart")->setText("00:01.000");
    Control<GuiTrackBar>(w, "tkbPosition")->setValue(3);
    w.Open(taggedMp3_);
    QCOMPARE(Text(Control<QLabel>(w, "labTitle")), std::string("Harbour"));
    QCOMPARE(Text(Control<QLabel>(w, "labArtist")), std::string("Tide Band"));
    QCOMPARE(Text(Control<QLabel>(w, "labAlbum")), std::string("Coast"));
    QCOMPARE(Text(Control<QLabel>(w, "labYear")), std::string("2021"));
    QCOMPARE(Text(Control<QLabel>(w, "labComment")), std::string("calm"));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtStart")), std::string("00:00.000"));
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->value(), 0);

    w.Open(exactWav_);
    QCOMPARE(Control<SplitPage>(w, "tabSplit")->LengthMs(), 83456);
    QCOMPARE(Control<SplitPage>(w, "tabSplit")->LengthRemainderMs(), 456);
    QCOMPARE(Text(Control<QLabel>(w, "labLength")), std::string("01:23.456"));
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->minimum(), 0);
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->maximum(), 83);
    QCOMPARE(Text(Control<QLabel>(w, "labTitle")), std::string("song"));
}

void MainFormTest::cancelledOpenKeepsEverything()
{
    Window w;
    w.Open(taggedMp3_);
    Control<QLineEdit>(w, "edtStart")->setText("00:01.000");
    Control<QLineEdit>(w, "edtEnd")->setText("00:02.000");
    const int32_t length = Control<SplitPage>(w, "tabSplit")->LengthMs();
    const QString length_text = Control<QLabel>(w, "labLength")->text();
    w.prompts->TakeEvents();

    w.Click(Control<QPushButton>(w, "btnOpen"));  // no answer queued: cancelled
    QCOMPARE(w.prompts->TakeEvents(), Events{"open-dialog"});
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), taggedMp3_);
    QCOMPARE(Text(Control<QLabel>(w, "labTitle")), std::string("Harbour"));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtStart")), std::string("00:01.000"));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtEnd")), std::string("00:02.000"));
    QCOMPARE(Control<SplitPage>(w, "tabSplit")->LengthMs(), length);
    QCOMPARE(Control<QLabel>(w, "labLength")->text(), length_text);
}

void MainFormTest::withoutTheLibraryTagsShowAndEveryCutIsRefused()
{
    Window w(false);
    QVERIFY(!Control<TBASSPlayer>(w, "PermanentPlayer")->PlayerReady());
    w.prompts->TakeEvents();  // whatever the player said about the missing library
    w.Open(taggedMp3_);
    QCOMPARE(Text(Control<QLabel>(w, "labTitle")), std::string("Harbour"));
    QCOMPARE(Text(Control<QLabel>(w, "labArtist")), std::string("Tide Band"));
    QCOMPARE(Control<SplitPage>(w, "tabSplit")->LengthMs(), 0);
    QCOMPARE(Text(Control<QLabel>(w, "labLength")), std::string());
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->maximum(), 30);

    TempDir out;
    Control<QLineEdit>(w, "edtEnd")->setText("00:03.000");
    w.prompts->saveAnswers.push_back(out.File("cut.mp3"));
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(),
             (Events{"save-dialog:tagged_chunk_1.mp3", Info("Splitting MP3 is failed.")}));

    w.Click(Control<QRadioButton>(w, "rdbPart"));
    Control<QLineEdit>(w, "edtPart")->setText("3");
    w.prompts->folderAnswers.push_back(out.Path().string());
    w.Click(Control<QPushButton>(w, "btnSplit"));
    // A run that writes no part has failed, and no cut left a file behind.
    QCOMPARE(w.prompts->TakeEvents(), (Events{"folder-picker", Info("Splitting MP3 is failed.")}));
    QVERIFY(PartNames(out.Path()).empty());
}

void MainFormTest::splitWithoutAFileAsksForOne()
{
    Window w;
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), Events{Info("Please open a MP3 file.")});
    w.Click(Control<QRadioButton>(w, "rdbPart"));
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), Events{Info("Please open a MP3 file.")});

    // A file deleted after it was opened counts as no file.
    TempDir dir;
    const std::string doomed = dir.File("gone.mp3");
    fs::copy_file(plainMp3_, doomed);
    w.Open(doomed);
    fs::remove(doomed);
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), Events{Info("Please open a MP3 file.")});
}

void MainFormTest::sectionCommandMessagesInOrder()
{
    Window w;
    TempDir work;
    const std::string source = work.File("song.mp3");
    fs::copy_file(taggedMp3_, source);
    w.Open(source);
    w.prompts->TakeEvents();

    Control<QLineEdit>(w, "edtStart")->setText("00:05.000");
    Control<QLineEdit>(w, "edtEnd")->setText("00:05.000");
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), Events{Info("Start Time and End Time can not be the same")});

    // Other text, same time: nothing to copy, told before a name is asked for.
    Control<QLineEdit>(w, "edtEnd")->setText("00:05.0");
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(),
             (Events{Info("Splitting MP3 is failed.\r\nThe ending time must come after the starting time.")}));

    Control<QLineEdit>(w, "edtStart")->setText("00:01.000");
    Control<QLineEdit>(w, "edtEnd")->setText("00:03.000");
    w.Click(Control<QPushButton>(w, "btnSplit"));  // save dialog cancelled
    QCOMPARE(w.prompts->TakeEvents(), Events{"save-dialog:song_chunk_1.mp3"});

    const auto sourceBytes = testsupport::ReadBytes(source);
    fs::create_directory(work.Path() / "sub");
    for (const std::string& sameFile : {source, work.File("sub/../song.mp3")}) {
        w.prompts->saveAnswers.push_back(sameFile);
        w.Click(Control<QPushButton>(w, "btnSplit"));
        QCOMPARE(w.prompts->TakeEvents(),
                 (Events{"save-dialog:song_chunk_1.mp3", Info("Output file can not be the same as the input file.")}));
    }
    QVERIFY(testsupport::ReadBytes(source) == sourceBytes);

    Control<QLineEdit>(w, "edtStart")->setText("00:04.000");
    Control<QLineEdit>(w, "edtEnd")->setText("00:02.000");  // end before start
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(),
             (Events{Info("Splitting MP3 is failed.\r\nThe ending time must come after the starting time.")}));
}

void MainFormTest::sectionCommandWritesTheSectionWithTheTags()
{
    Window w;
    TempDir work;
    w.Open(taggedMp3_);
    Control<QTimer>(w, "TmrPlayer")->start();
    Control<QLineEdit>(w, "edtStart")->setText("00:01.000");
    Control<QLineEdit>(w, "edtEnd")->setText("00:03.000");
    const std::string target = work.File("section.mp3");
    w.prompts->saveAnswers.push_back(target);
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(),
             (Events{"save-dialog:tagged_chunk_1.mp3", Info("Splitting MP3 is completed.")}));
    QVERIFY(!Control<QTimer>(w, "TmrPlayer")->isActive());
    QVERIFY(!Control<QProgressBar>(w, "pgbProgress")->isVisible());
    // About 2 s at 128 kbit/s plus the tags.
    const auto size = fs::file_size(target);
    QVERIFY2(size > 28000 && size < 40000, std::to_string(size).c_str());
    TID3v1 v1;
    QVERIFY(v1.ReadTag(target) && v1.Exists());
    QCOMPARE(v1.Title(), std::string("Harbour"));
    TID3v2 v2;
    QVERIFY(v2.ReadTag(target) && v2.Exists());
    QCOMPARE(v2.Title(), std::string("Harbour (long title)"));
}

void MainFormTest::equalPartsCommandMessagesInOrder()
{
    Window w;
    TempDir out;
    w.Open(taggedMp3_);
    w.Click(Control<QRadioButton>(w, "rdbPart"));
    w.prompts->TakeEvents();

    // 100000 parts of a 6 s stream would each be shorter than two frames.
    for (const char* quantity : {"abc", "0", "-3", "", "2.5", "100000"}) {
        Control<QLineEdit>(w, "edtPart")->setText(quantity);
        w.Click(Control<QPushButton>(w, "btnSplit"));
        QCOMPARE(w.prompts->TakeEvents(), Events{Info("Please specify a proper quantity of parts.")});
    }

    Control<QLineEdit>(w, "edtPart")->setText("2");
    w.Click(Control<QPushButton>(w, "btnSplit"));  // folder picker cancelled
    QCOMPARE(w.prompts->TakeEvents(), Events{"folder-picker"});

    w.prompts->folderAnswers.push_back(out.File("missing"));
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), (Events{"folder-picker", Info("Please specify a proper output directory.")}));
    QVERIFY(PartNames(out.Path()).empty());

    // A quantity typed above the spinner's range is accepted.
    Control<QLineEdit>(w, "edtPart")->setText("105");
    w.prompts->folderAnswers.push_back(out.Path().string());
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), (Events{"folder-picker", Info("Splitting MP3 is completed.")}));
    QVERIFY(!PartNames(out.Path()).empty());
    QVERIFY(!Control<QProgressBar>(w, "pgbProgress")->isVisible());
    QVERIFY(Control<QPushButton>(w, "btnOpen")->isEnabled() && Control<QPushButton>(w, "btnSplit")->isEnabled());
}

void MainFormTest::threePartsAreWrittenWithTheSourceTags()
{
    Window w;
    TempDir out;
    w.Open(taggedMp3_);
    w.Click(Control<QRadioButton>(w, "rdbPart"));
    Control<QLineEdit>(w, "edtPart")->setText("3");
    w.prompts->folderAnswers.push_back(out.Path().string());
    std::vector<int> gauge;
    std::vector<bool> gaugeShown;
    w.onPump = [&] {
        gauge.push_back(Control<QProgressBar>(w, "pgbProgress")->value());
        gaugeShown.push_back(Control<QProgressBar>(w, "pgbProgress")->isVisible());
    };
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), (Events{"folder-picker", Info("Splitting MP3 is completed.")}));
    QCOMPARE(PartNames(out.Path()),
             (std::vector<std::string>{"tagged_chunk_1.mp3", "tagged_chunk_2.mp3", "tagged_chunk_3.mp3"}));
    QCOMPARE(gaugeShown, (std::vector<bool>{true, true, true}));
    QCOMPARE(gauge.at(1), 0);
    QCOMPARE(gauge.at(2), 50);
    QCOMPARE(Control<QProgressBar>(w, "pgbProgress")->value(), 100);
    QVERIFY(!Control<QProgressBar>(w, "pgbProgress")->isVisible());
    for (const auto& name : PartNames(out.Path())) {
        const std::string part = (out.Path() / name).string();
        TID3v1 v1;
        QVERIFY(v1.ReadTag(part) && v1.Exists());
        QCOMPARE(v1.Title(), std::string("Harbour"));
        QCOMPARE(v1.Track(), uint8_t(4));
        QCOMPARE(v1.GenreID(), uint8_t(17));
        TID3v2 v2;
        QVERIFY(v2.ReadTag(part) && v2.Exists());
        QCOMPARE(v2.Title(), std::string("Harbour (long title)"));
        QCOMPARE(v2.Genre(), std::string("Rock"));
        QVERIFY(fs::file_size(part) > 20000);
    }
}

void MainFormTest::stopEndsARunBeforeItsNextPartAndTheNextRunIsWhole()
{
    Window w;
    TempDir out;
    w.Open(taggedMp3_);
    w.Click(Control<QRadioButton>(w, "rdbPart"));
    Control<QLineEdit>(w, "edtPart")->setText("10");
    w.prompts->folderAnswers.push_back(out.Path().string());
    int pumps = 0;
    bool openEnabledDuringRun = true;
    bool splitEnabledDuringRun = true;
    bool stopEnabledDuringRun = false;
    w.onPump = [&] {
        ++pumps;
        if (pumps == 4) {  // three parts are written
            openEnabledDuringRun = Control<QPushButton>(w, "btnOpen")->isEnabled();
            splitEnabledDuringRun = Control<QPushButton>(w, "btnSplit")->isEnabled();
            stopEnabledDuringRun = Control<QPushButton>(w, "btnStop")->isEnabled();
            QTest::mouseClick(Control<QPushButton>(w, "btnStop"), Qt::LeftButton);
        }
    };
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(),
             (Events{"folder-picker", Info("Splitting MP3 is stopped. 3 of 10 parts were written.")}));
    QCOMPARE(pumps, 4);
    QVERIFY(!openEnabledDuringRun);
    QVERIFY(!splitEnabledDuringRun);
    QVERIFY(stopEnabledDuringRun);
    QCOMPARE(PartNames(out.Path()).size(), size_t(3));
    QVERIFY(!Control<QProgressBar>(w, "pgbProgress")->isVisible());
    QVERIFY(Control<QPushButton>(w, "btnOpen")->isEnabled() && Control<QPushButton>(w, "btnSplit")->isEnabled());

    // A click on Open while the run pumps does not reach the Open command.
    pumps = 0;
    w.onPump = [&] {
        if (++pumps == 2)
            QTest::mouseClick(Control<QPushButton>(w, "btnOpen"), Qt::LeftButton);
    };
    w.prompts->folderAnswers.push_back(out.Path().string());
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), (Events{"folder-picker", Info("Splitting MP3 is completed.")}));
    QCOMPARE(pumps, 10);
    QCOMPARE(PartNames(out.Path()).size(), size_t(10));
}

void MainFormTest::errorsEndTheCommandInOneErrorBox()
{
    Window w;
    TempDir out;
    w.Open(taggedMp3_);
    Control<QLineEdit>(w, "edtStart")->setText("00:xx.000");
    Control<QLineEdit>(w, "edtEnd")->setText("00:02.000");
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    // The time texts are read before a name is asked for.
    QCOMPARE(w.prompts->TakeEvents(), (Events{"error:Corvella:'xx' is not a valid integer value"}));
    QVERIFY(!fs::exists(out.File("bad.mp3")) || fs::file_size(out.File("bad.mp3")) < 4096);
    QVERIFY(Control<QPushButton>(w, "btnOpen")->isEnabled() && Control<QPushButton>(w, "btnSplit")->isEnabled());

    // A target that cannot be created (a folder of that name is in the way)
    // ends an equal-parts run the same way, and the window is usable again.
    TempDir blocked;
    fs::create_directory(blocked.Path() / "tagged_chunk_1.mp3");
    w.Click(Control<QRadioButton>(w, "rdbPart"));
    Control<QLineEdit>(w, "edtPart")->setText("2");
    w.prompts->folderAnswers.push_back(blocked.Path().string());
    w.Click(Control<QPushButton>(w, "btnSplit"));
    const Events events = w.prompts->TakeEvents();
    QCOMPARE(events.size(), size_t(2));
    QCOMPARE(events.at(0), std::string("folder-picker"));
    QVERIFY2(events.at(1).rfind("error:Corvella:Cannot create file", 0) == 0, events.at(1).c_str());
    QVERIFY(!Control<QProgressBar>(w, "pgbProgress")->isVisible());
    QVERIFY(Control<QPushButton>(w, "btnOpen")->isEnabled() && Control<QPushButton>(w, "btnSplit")->isEnabled());
}

void MainFormTest::runHoldsBackTheFileBoxAndTheTagPageAndKeepsItsTags()
{
    // The source carries a length frame, which parts must not get: showing
    // the tag page reads the file into the window's tag objects with it.
    TempDir work;
    const std::string source = work.File("long.mp3");
    fs::copy_file(taggedMp3_, source);
    const std::string addLength = "import sys, mutagen.id3 as m; t = m.ID3(sys.argv[1]);"
                                  " t.add(m.TLEN(encoding=0, text=['6000'])); t.save(v2_version=3)";
    QCOMPARE(testsupport::Run("/usr/bin/python3 -c " + testsupport::Quote(addLength) + " "
                              + testsupport::Quote(source)).exitCode, 0);
    Window w;
    TempDir out;
    w.Open(source);
    w.Click(Control<QRadioButton>(w, "rdbPart"));
    Control<QLineEdit>(w, "edtPart")->setText("3");
    w.prompts->folderAnswers.push_back(out.Path().string());
    std::vector<bool> enabled;
    int pumps = 0;
    w.onPump = [&] {
        if (++pumps != 2)
            return;
        for (QWidget* widget : Controls<QWidget>(w, {"edtFile", "btnOpenTag", "Button3"}))
            enabled.push_back(widget->isEnabled());
        Control<QTabWidget>(w, "pgcMain")->setCurrentWidget(Control<QWidget>(w, "tabTag"));
        QTest::keyClicks(Control<QLineEdit>(w, "edtFile"), "other");
    };
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), (Events{"folder-picker", Info("Splitting MP3 is completed.")}));
    QCOMPARE(enabled, (std::vector<bool>{false, false, false}));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), source);
    QVERIFY(AllEnabled(Controls<QWidget>(w, {"edtFile", "btnOpenTag", "Button3"})));
    const std::string listFrames = "import sys, mutagen.id3 as m; print(sorted(m.ID3(sys.argv[1]).keys()))";
    for (const auto& name : PartNames(out.Path())) {
        const auto frames = testsupport::Run("/usr/bin/python3 -c " + testsupport::Quote(listFrames) + " "
                                             + testsupport::Quote((out.Path() / name).string())).output;
        QVERIFY2(frames.find("TLEN") == std::string::npos, (name + ": " + frames).c_str());
        QVERIFY2(frames.find("TIT2") != std::string::npos, (name + ": " + frames).c_str());
    }
    QCOMPARE(PartNames(out.Path()).size(), size_t(3));
}

void MainFormTest::devicesAndPipesAreNeverReplaced()
{
    Window w;
    TempDir out;
    w.Open(taggedMp3_);
    const std::string pipe = out.File("tagged_chunk_1.mp3");
    QCOMPARE(::mkfifo(pipe.c_str(), 0644), 0);
    auto isPipe = [&] {
        struct stat status {};
        return ::lstat(pipe.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
    };
    Control<QLineEdit>(w, "edtStart")->setText("00:01.000");
    Control<QLineEdit>(w, "edtEnd")->setText("00:03.000");
    w.prompts->saveAnswers.push_back(pipe);
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(),
             (Events{"save-dialog:tagged_chunk_1.mp3", Info("Output file can not be a device, a pipe or a folder.")}));
    QVERIFY(isPipe());

    w.Click(Control<QRadioButton>(w, "rdbPart"));
    Control<QLineEdit>(w, "edtPart")->setText("2");
    w.prompts->folderAnswers.push_back(out.Path().string());
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(),
             (Events{"folder-picker", "error:Corvella:Cannot create file \"" + pipe
                                          + "\". It is a device, a pipe or a folder, not a regular file."}));
    QVERIFY(isPipe());
    QCOMPARE(PartNames(out.Path()), std::vector<std::string>{"tagged_chunk_1.mp3"});
}

void MainFormTest::partNotWrittenBecauseOfAnErrorFailsTheRun()
{
    TempDir work;
    TempDir out;
    const std::string source = work.File("song.mp3");
    fs::copy_file(taggedMp3_, source);
    Window w;
    w.Open(source);
    w.Click(Control<QRadioButton>(w, "rdbPart"));
    Control<QLineEdit>(w, "edtPart")->setText("3");
    w.prompts->folderAnswers.push_back(out.Path().string());
    // The player cannot open the source while the second part is cut.
    int pumps = 0;
    w.onPump = [&] {
        ++pumps;
        if (pumps == 2) {
            fs::rename(source, work.File("away.mp3"));
            testsupport::WriteText(source, "not audio");
        } else if (pumps == 3) {
            fs::rename(work.File("away.mp3"), source);
        }
    };
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    const Events events = w.prompts->TakeEvents();
    QVERIFY(!events.empty());
    QCOMPARE(events.back(), Info("Splitting MP3 is failed."));
    QCOMPARE(PartNames(out.Path()), (std::vector<std::string>{"song_chunk_1.mp3", "song_chunk_3.mp3"}));
    QVERIFY(!Control<QProgressBar>(w, "pgbProgress")->isVisible());
}

void MainFormTest::fileSizeLimitFailsAWriteInsteadOfKillingTheProgram()
{
    // The program writes its two pictures under a limit of 1 KB, which no
    // picture of the window fits. The limit is set in the child only, and
    // this test leaves SIGXFSZ as it is: the program must deal with it.
    const std::string program = testsupport::BinFolder() + "corvella";
    QVERIFY(fs::exists(program));
    TempDir out;
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        struct rlimit limit {1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::execl(program.c_str(), program.c_str(), "--screenshot", out.Path().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child);
    QVERIFY2(WIFEXITED(status), qPrintable(QString("ended by signal %1").arg(WIFSIGNALED(status) ? WTERMSIG(status) : 0)));
    QCOMPARE(WEXITSTATUS(status), 1);
}

void MainFormTest::openingAPipeNeverWaitsForAWriter()
{
    TempDir dir;
    const std::string pipe = dir.File("pipe.mp3");
    QCOMPARE(::mkfifo(pipe.c_str(), 0644), 0);
    // A writer that connects as soon as anyone opens the pipe to read and
    // then closes it, so that a window that does read gets its end of file
    // instead of waiting for ever; it tells whether a reader came.
    std::atomic<bool> stop{false};
    std::atomic<bool> readerCame{false};
    std::thread writer([&] {
        while (!stop) {
            const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                readerCame = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    Window w;
    w.Open(plainMp3_);
    w.Open(pipe);
    stop = true;
    writer.join();
    QVERIFY(!readerCame);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), pipe);
    QCOMPARE(Text(Control<QLabel>(w, "labTitle")), std::string("pipe"));
    QCOMPARE(Text(Control<QLabel>(w, "labArtist")), std::string("Unknown"));
    QCOMPARE(Control<SplitPage>(w, "tabSplit")->LengthMs(), 0);
    w.prompts->TakeEvents();
    w.Click(Control<QPushButton>(w, "btnSplit"));
    QCOMPARE(w.prompts->TakeEvents(), Events{Info("Please open a MP3 file.")});
}

void MainFormTest::helpAndWebOpenThroughTheDesktop()
{
    Window w;
    w.Click(Control<QToolButton>(w, "sbtnHelp1"));
    w.Click(Control<QToolButton>(w, "sbtnHelp3"));
    w.Click(Control<QToolButton>(w, "sbtnWeb1"));
    w.Click(Control<QToolButton>(w, "sbtnWeb3"));
    QCOMPARE(w.prompts->documents,
             (std::vector<std::string>{w->HelpFileName(), w->HelpFileName(), w->WebAddress(), w->WebAddress()}));
    // The help page ships beside the program.
    QVERIFY(fs::exists(testsupport::BinFolder() + "Corvella.html"));
    QVERIFY(testsupport::ReadText(testsupport::BinFolder() + "Corvella.html").find("Splitting into equal parts")
            != std::string::npos);
}

void MainFormTest::aboutIsModalAndMadeOnce()
{
    Window w(true, "[Main]\nVersion=4.0\n");
    QString version;
    QString platforms;
    QString caption;
    bool mainDisabled = false;
    bool onTop = false;
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<TAboutBox*>(modal);
        QVERIFY(box);
        caption = box->windowTitle();
        version = box->labVersion->text();
        platforms = box->labPlatforms->text();
        onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        mainDisabled = QApplication::activeModalWidget() == box && box->isModal();
        QTest::mouseClick(box->btnOK, Qt::LeftButton);
    });
    w.Click(Control<QToolButton>(w, "sbtnAbout1"));
    QCOMPARE(caption, QString("About"));
    QCOMPARE(version, QString("Version 4.0"));
    QVERIFY(platforms.contains("Linux"));
    QVERIFY(onTop);
    QVERIFY(mainDisabled);
    TAboutBox* first = Control<TAboutBox>(w, "AboutBox");
    QVERIFY(first && !first->isVisible());

    OnNextModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    w.Click(Control<QToolButton>(w, "sbtnAbout3"));
    QCOMPARE(Control<TAboutBox>(w, "AboutBox"), first);
}

void MainFormTest::realPromptsAreTheDialogsOfTheCommands()
{
    QWidget owner;
    TBrowseForFolder picker;
    GuiPrompter prompter(owner, picker);

    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    prompter.ShowMessage("Information", "Splitting MP3 is completed.", MessageIcon::Information);
    QCOMPARE(caption, QString("Information"));
    QCOMPARE(text, QString("Splitting MP3 is completed."));
    QCOMPARE(icon, QMessageBox::Information);
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        icon = box->icon();
        text = box->text();
        box->accept();
    });
    prompter.ShowMessage("Corvella", "<b>not markup</b>\r\nsecond line", MessageIcon::Error);
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(text, QString("<b>not markup</b>\nsecond line"));

    TempDir dir;
    const std::string existing = dir.File("song.mp3");
    fs::copy_file(plainMp3_, existing);
    QStringList filters;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        filters = dialog->nameFilters();
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
        // The active dialog has put the focus into its file name box, which
        // selectFile fills only while it has none.
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
        dialog->selectFile(QString::fromStdString(existing));
        QCOMPARE(dialog->selectedFiles(), QStringList{QString::fromStdString(existing)});
        static_cast<QDialog*>(dialog)->accept();
    });
    QCOMPARE(prompter.AskOpenFileName(), std::optional<std::string>(existing));
    QCOMPARE(filters, (QStringList{"MP3 files (*.mp3)", "Audio files (*.mp3 *.ogg *.wav *.wma *.mod *.xm *.s3m *.it)",
                                   "All files (*)"}));

    // The save dialog opens where the last file was opened, proposing the name.
    QString proposed;
    QString folder;
    bool confirmsOverwrite = false;
    QString suffix;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        filters = dialog->nameFilters();
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
        suffix = dialog->defaultSuffix();
        confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        folder = dialog->directory().absolutePath();
        const QStringList selected = dialog->selectedFiles();
        proposed = selected.isEmpty() ? QString() : QFileInfo(selected.first()).fileName();
        dialog->reject();
    });
    QCOMPARE(prompter.AskSaveFileName("song_chunk_1.mp3"), std::optional<std::string>());
    QCOMPARE(filters, QStringList{"MP3 Files (*.mp3)"});
    QCOMPARE(suffix, QString("mp3"));
    QVERIFY(confirmsOverwrite);
    QCOMPARE(proposed, QString("song_chunk_1.mp3"));
    QCOMPARE(folder, QString::fromStdString(fs::canonical(dir.Path()).string()));

    // The folder picker starts at the path the command keeps and returns the choice.
    fs::create_directory(dir.Path() / "parts");
    const std::string parts = fs::canonical(dir.Path() / "parts").string();
    std::string path = parts;
    std::string initiallySelected;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TBrowseForFolderDialog*>(modal);
        QVERIFY(dialog);
        initiallySelected = dialog->SelectedPath();
        dialog->accept();
    });
    QVERIFY(prompter.ExecuteFolderPicker(path));
    QCOMPARE(initiallySelected, parts);
    QCOMPARE(path, parts);
    OnNextModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    path = "kept";
    QVERIFY(!prompter.ExecuteFolderPicker(path));
    QCOMPARE(path, std::string("kept"));
}

void MainFormTest::bannerIsADecodedJpegAndBadDataIsRefused()
{
    const QPixmap banner = BannerPicture();
    QCOMPARE(banner.size(), QSize(653, 57));
    QCOMPARE(LogoPicture().size(), QSize(32, 32));
    Window w;
    QVERIFY(Control<QLabel>(w, "imgBanner")->pixmap().cacheKey() != 0);
    QCOMPARE(Control<QLabel>(w, "imgBanner")->height(), 57);

    QFile resource(":/pictures/banner.jpg");
    QVERIFY(resource.open(QIODevice::ReadOnly));
    const QByteArray jpeg = resource.readAll();
    const auto* bytes = reinterpret_cast<const uint8_t*>(jpeg.constData());
    QVERIFY(!DecodeJpeg(bytes, size_t(jpeg.size())).isNull());
    const std::vector<uint8_t> garbage(4096, 0x5a);
    QVERIFY(DecodeJpeg(garbage.data(), garbage.size()).isNull());
    QVERIFY(DecodeJpeg(bytes, 40).isNull());  // cut inside the header
    QVERIFY(DecodeJpeg(nullptr, 0).isNull());
    // Cut inside the picture data: libjpeg fills the rest, the size stays.
    QCOMPARE(DecodeJpeg(bytes, size_t(jpeg.size() / 2)).size(), QSize(653, 57));
}

void MainFormTest::trackBarDrawsItsSelection()
{
    GuiTrackBar bar;
    bar.setRange(0, 83);
    bar.resize(400, bar.sizeHint().height());
    const QImage plain = bar.grab().toImage();
    bar.SetSelStart(10);
    bar.SetSelEnd(40);
    QCOMPARE(bar.SelStart(), 10);
    QCOMPARE(bar.SelEnd(), 40);
    const QImage marked = bar.grab().toImage();
    QVERIFY(marked != plain);
    // The band lies between the two marks: the far right stays as it was.
    QCOMPARE(marked.copy(360, 0, 40, marked.height()), plain.copy(360, 0, 40, plain.height()));
    bar.SetSelEnd(5);  // an end before the start shows no band
    QCOMPARE(bar.grab().toImage(), plain);
}

QTEST_MAIN(MainFormTest)
#include "qtest_MainForm.moc"
