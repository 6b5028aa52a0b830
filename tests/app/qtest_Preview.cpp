// Preview and marking on the split page, driven through the real controls of
// a real main window with the audio library's silent output.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "app/GuiTrackBar.h"
#include "app/Main.h"
#include "app/SplitPage.h"
#include "playback/BASSPlayer.h"
#include "support/CommaLocale.h"
#include "support/TestSupport.h"

#include "NamedControl.h"

namespace {

struct ShownMessage {
    std::string caption;
    std::string text;
};

// Answers the window's prompts from queues the test fills; a prompt with an
// empty queue is answered as cancelled.
class ScriptedPrompter : public GuiPrompterBase {
public:
    std::deque<std::string> openFileNames;
    std::deque<std::string> saveFileNames;
    std::vector<ShownMessage> messages;

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon) override
    {
        messages.push_back({caption, text});
    }
    std::optional<std::string> AskOpenFileName() override { return Next(openFileNames); }
    std::optional<std::string> AskSaveFileName(const std::string&) override { return Next(saveFileNames); }
    bool ExecuteFolderPicker(std::string&) override { return false; }
    bool OpenDocument(const std::string&) override { return true; }

private:
    static std::optional<std::string> Next(std::deque<std::string>& answers)
    {
        if (answers.empty())
            return std::nullopt;
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

constexpr int kTimeout = 20000; // ms; playback runs in real time

} // namespace

class PreviewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void playFollowsThePlaybackWithTheTimer();
    void pauseAndResumeKeepThePositionAndFlipTheHint();
    void stopReturnsTheBarToZeroAndKeepsTheHint();
    void typedTimeWhilePlayingSeeks();
    void typedTimeOutsideTheStreamChangesNothing();
    void barMovedWhilePausedOnlyRelabelsAndPlayStartsThere();
    void markAtTheLastPositionIsTheExactEnd();
    void repeatedEndMarkDoesNotSwallowALaterTypedEnd();
    void marksAndTypedTimesNeedAFile();
    void splitAndTagWriteStopTheTimer();
    void refusedSectionCutLeavesThePreviewPlaying();
    void timesReadAndShowWithAFullStopUnderACommaLocale();

private:
    void OpenSong(const std::string& path);
    void OpenSong() { OpenSong(song_); }
    void PlayAndWaitUntil(uint32_t positionMs);
    // The preview timer's interval has passed.
    void FireTimer()
    {
        QVERIFY(QMetaObject::invokeMethod(Control<QTimer>(form_, "TmrPlayer"), "timeout", Qt::DirectConnection));
    }

    testsupport::TempDir dir_;
    std::string song_;
    std::unique_ptr<TMainForm> form_;
    ScriptedPrompter* prompts_ = nullptr; // owned by form_
};

void PreviewTest::initTestCase()
{
    song_ = dir_.File("song.mp3");
    testsupport::MakeMp3(song_, 40.0);
}

void PreviewTest::init()
{
    auto prompter = std::make_unique<ScriptedPrompter>();
    prompts_ = prompter.get();
    form_ = std::make_unique<TMainForm>(std::move(prompter), testsupport::BinFolder());
    QVERIFY2(Control<TBASSPlayer>(form_, "PermanentPlayer")->PlayerReady(), "the audio library did not load");
}

void PreviewTest::cleanup()
{
    form_.reset();
    prompts_ = nullptr;
}

void PreviewTest::OpenSong(const std::string& path)
{
    prompts_->openFileNames.push_back(path);
    Control<QPushButton>(form_, "btnOpen")->click();
    QCOMPARE(Control<QLineEdit>(form_, "edtFile")->text(), QString::fromStdString(path));
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->maximum(), 40);
}

void PreviewTest::PlayAndWaitUntil(uint32_t positionMs)
{
    Control<QToolButton>(form_, "sbtnPlay")->click();
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmPlaying);
    QTRY_VERIFY_WITH_TIMEOUT(Control<TBASSPlayer>(form_, "PermanentPlayer")->Position() >= positionMs, kTimeout);
}

void PreviewTest::playFollowsThePlaybackWithTheTimer()
{
    OpenSong();
    Control<QToolButton>(form_, "sbtnPlay")->click();
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmPlaying);
    QVERIFY(Control<QTimer>(form_, "TmrPlayer")->isActive());
    QCOMPARE(Control<QTimer>(form_, "TmrPlayer")->interval(), 1000);

    // The real timer moves the bar along with the playback.
    QTRY_VERIFY_WITH_TIMEOUT(Control<GuiTrackBar>(form_, "tkbPosition")->value() >= 2, kTimeout);
    QVERIFY(Control<QLabel>(form_, "labTime1")->text().endsWith(":000"));

    // A move made by the timer must not seek the playback it follows: a
    // seek would rewind 12.5 s to 12 s.
    Control<TBASSPlayer>(form_, "PermanentPlayer")->SetPosition(12500);
    FireTimer();
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 12);
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("00:12:000"));
    QVERIFY(Control<TBASSPlayer>(form_, "PermanentPlayer")->Position() >= 12500);

    // While the user holds the handle the timer leaves the bar alone.
    Control<GuiTrackBar>(form_, "tkbPosition")->setSliderDown(true);
    Control<TBASSPlayer>(form_, "PermanentPlayer")->SetPosition(20000);
    FireTimer();
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 12);
    Control<GuiTrackBar>(form_, "tkbPosition")->setSliderDown(false);
    FireTimer();
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 20);

    // After the timer's moves, a move by the user seeks again.
    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(30);
    QVERIFY(Control<TBASSPlayer>(form_, "PermanentPlayer")->Position() >= 30000);
}

void PreviewTest::pauseAndResumeKeepThePositionAndFlipTheHint()
{
    OpenSong();
    QCOMPARE(Control<QToolButton>(form_, "sbtnPause")->toolTip(), QString("Pause"));
    PlayAndWaitUntil(1000);

    Control<QToolButton>(form_, "sbtnPause")->click();
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmPaused);
    QCOMPARE(Control<QToolButton>(form_, "sbtnPause")->toolTip(), QString("Resume"));
    QVERIFY(!Control<QTimer>(form_, "TmrPlayer")->isActive());
    const uint32_t pausedAt = Control<TBASSPlayer>(form_, "PermanentPlayer")->Position();
    QTest::qWait(300);
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Position(), pausedAt);

    Control<QToolButton>(form_, "sbtnPause")->click();
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmPlaying);
    QCOMPARE(Control<QToolButton>(form_, "sbtnPause")->toolTip(), QString("Pause"));
    QVERIFY(Control<QTimer>(form_, "TmrPlayer")->isActive());
    const uint32_t resumedAt = Control<TBASSPlayer>(form_, "PermanentPlayer")->Position();
    QVERIFY2(resumedAt >= pausedAt && resumedAt < pausedAt + 5000,
             qPrintable(QString("paused at %1, resumed at %2").arg(pausedAt).arg(resumedAt)));
}

void PreviewTest::stopReturnsTheBarToZeroAndKeepsTheHint()
{
    OpenSong();
    PlayAndWaitUntil(0);
    Control<TBASSPlayer>(form_, "PermanentPlayer")->SetPosition(5000);
    FireTimer();
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 5);

    Control<QToolButton>(form_, "sbtnStop")->click();
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmStopped);
    QVERIFY(!Control<QTimer>(form_, "TmrPlayer")->isActive());
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 0);
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("00:00:000"));
    QCOMPARE(Control<QToolButton>(form_, "sbtnPause")->toolTip(), QString("Pause"));

    // Paused, Stop leaves the player paused and the hint on "Resume".
    Control<QToolButton>(form_, "sbtnPlay")->click();
    Control<QToolButton>(form_, "sbtnPause")->click();
    QCOMPARE(Control<QToolButton>(form_, "sbtnPause")->toolTip(), QString("Resume"));
    Control<QToolButton>(form_, "sbtnStop")->click();
    QCOMPARE(Control<QToolButton>(form_, "sbtnPause")->toolTip(), QString("Resume"));
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 0);
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmPaused);
}

void PreviewTest::typedTimeWhilePlayingSeeks()
{
    OpenSong();
    PlayAndWaitUntil(0);
    const int32_t volume = Control<TBASSPlayer>(form_, "PermanentPlayer")->Volume();

    Control<QLineEdit>(form_, "edtStart")->selectAll();
    QTest::keyClicks(Control<QLineEdit>(form_, "edtStart"), "00:30.000");
    QCOMPARE(Control<QLineEdit>(form_, "edtStart")->text(), QString("00:30.000"));
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 30);
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelStart(), 30);
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("00:30.000"));
    const uint32_t position = Control<TBASSPlayer>(form_, "PermanentPlayer")->Position();
    QVERIFY2(position >= 30000 && position < 35000, qPrintable(QString::number(position)));
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Volume(), volume);
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmPlaying);
}

void PreviewTest::typedTimeOutsideTheStreamChangesNothing()
{
    OpenSong();
    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(7);
    Control<QToolButton>(form_, "sbtnBegin")->click();
    Control<QToolButton>(form_, "sbtnEnd")->click();
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("00:07:000"));

    for (const char* text : {"01:00.000", "00:41.000", "abc", "12.5", "00:.5", "-1:05.000", "99999999999:00"}) {
        Control<QLineEdit>(form_, "edtStart")->setText(text);
        Control<QLineEdit>(form_, "edtEnd")->setText(text);
        QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 7);
        QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelStart(), 7);
        QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelEnd(), 7);
        QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("00:07:000"));
        QVERIFY(prompts_->messages.empty());
    }
    // The last second of the stream is still inside it.
    Control<QLineEdit>(form_, "edtEnd")->setText("00:40.500");
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 40);
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelEnd(), 40);
}

void PreviewTest::barMovedWhilePausedOnlyRelabelsAndPlayStartsThere()
{
    OpenSong();
    PlayAndWaitUntil(1000);
    Control<QToolButton>(form_, "sbtnPause")->click();
    const uint32_t pausedAt = Control<TBASSPlayer>(form_, "PermanentPlayer")->Position();

    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(20);
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("00:20:000"));
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Position(), pausedAt);
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmPaused);

    Control<QToolButton>(form_, "sbtnPlay")->click();
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmPlaying);
    const uint32_t position = Control<TBASSPlayer>(form_, "PermanentPlayer")->Position();
    QVERIFY2(position >= 20000 && position < 25000, qPrintable(QString::number(position)));
}

void PreviewTest::markAtTheLastPositionIsTheExactEnd()
{
    // An 83456 ms stream.
    const std::string exact = dir_.File("exact.wav");
    const auto made = testsupport::Run("sox -n -r 8000 -c 1 -b 16 " + testsupport::Quote(exact)
                                       + " synth 83.456 sine 440 vol 0.2");
    QVERIFY2(made.exitCode == 0, made.output.c_str());
    prompts_->openFileNames.push_back(exact);
    Control<QPushButton>(form_, "btnOpen")->click();
    QCOMPARE(Control<SplitPage>(form_, "tabSplit")->LengthRemainderMs(), 456);
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->maximum(), 83);

    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(83);
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("01:23:456"));
    Control<QToolButton>(form_, "sbtnBegin")->click();
    QCOMPARE(Control<QLineEdit>(form_, "edtStart")->text(), QString("01:23.456"));
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelStart(), 83);
    // A mark does not move the bar again or relabel it as a typed time.
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 83);
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("01:23:456"));

    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(82);
    Control<QToolButton>(form_, "sbtnBegin")->click();
    QCOMPARE(Control<QLineEdit>(form_, "edtStart")->text(), QString("01:22.000"));
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelStart(), 82);

    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(83);
    Control<QToolButton>(form_, "sbtnEnd")->click();
    QCOMPARE(Control<QLineEdit>(form_, "edtEnd")->text(), QString("01:23.456"));
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelEnd(), 83);
    QCOMPARE(Control<QLabel>(form_, "labPeriod")->text(), QString("The selected part is 1.456 (Second.Millisecond)"));
}

void PreviewTest::repeatedEndMarkDoesNotSwallowALaterTypedEnd()
{
    OpenSong();
    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(10);
    Control<QToolButton>(form_, "sbtnEnd")->click();
    Control<QToolButton>(form_, "sbtnEnd")->click();
    QCOMPARE(Control<QLineEdit>(form_, "edtEnd")->text(), QString("00:10.000"));
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelEnd(), 10);

    Control<QLineEdit>(form_, "edtEnd")->setText("00:20.000");
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 20);
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelEnd(), 20);
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("00:20.000"));
    QCOMPARE(Control<QLabel>(form_, "labPeriod")->text(), QString("The selected part is 20 (Second.Millisecond)"));

    // The same for the start mark.
    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(5);
    Control<QToolButton>(form_, "sbtnBegin")->click();
    Control<QToolButton>(form_, "sbtnBegin")->click();
    Control<QLineEdit>(form_, "edtStart")->setText("00:15.250");
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 15);
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelStart(), 15);
    QCOMPARE(Control<QLabel>(form_, "labPeriod")->text(), QString("The selected part is 4.75 (Second.Millisecond)"));

    // An unreadable field empties the selected length at once.
    Control<QLineEdit>(form_, "edtEnd")->setText("later");
    QCOMPARE(Control<QLabel>(form_, "labPeriod")->text(), QString());
}

void PreviewTest::marksAndTypedTimesNeedAFile()
{
    // No file yet: marks, typed times and Play do nothing.
    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(4);
    Control<QToolButton>(form_, "sbtnBegin")->click();
    Control<QToolButton>(form_, "sbtnPlay")->click();
    QCOMPARE(Control<QLineEdit>(form_, "edtStart")->text(), QString("00:00.000"));
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelStart(), 0);
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(), QString("00:00.000"));
    QVERIFY(!Control<QTimer>(form_, "TmrPlayer")->isActive());

    // A path that names no file: Play and typed times do nothing.
    Control<QLineEdit>(form_, "edtFile")->setText(QString::fromStdString(dir_.File("gone.mp3")));
    Control<QToolButton>(form_, "sbtnPlay")->click();
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmStandby);
    QVERIFY(!Control<QTimer>(form_, "TmrPlayer")->isActive());
    Control<QLineEdit>(form_, "edtStart")->setText("00:10.000");
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 4);
    QVERIFY(prompts_->messages.empty());

    // A file the player cannot open: the player reports it, and there is
    // no playback for the timer to follow.
    const std::string junk = dir_.File("junk.mp3");
    testsupport::WriteText(junk, "not audio at all\n");
    Control<QLineEdit>(form_, "edtFile")->setText(QString::fromStdString(junk));
    Control<QToolButton>(form_, "sbtnPlay")->click();
    QVERIFY(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode() != plmPlaying);
    QVERIFY(!Control<QTimer>(form_, "TmrPlayer")->isActive());
}

void PreviewTest::splitAndTagWriteStopTheTimer()
{
    const std::string song = dir_.File("tagged.mp3");
    testsupport::WriteBytes(song, testsupport::ReadBytes(song_));
    OpenSong(song);
    PlayAndWaitUntil(0);
    QVERIFY(Control<QTimer>(form_, "TmrPlayer")->isActive());
    Control<QRadioButton>(form_, "rdbTime")->click();
    Control<QLineEdit>(form_, "edtStart")->setText("00:01.000");
    Control<QLineEdit>(form_, "edtEnd")->setText("00:03.000");
    prompts_->saveFileNames.push_back(dir_.File("section.mp3"));
    Control<QPushButton>(form_, "btnSplit")->click();
    QVERIFY(!Control<QTimer>(form_, "TmrPlayer")->isActive());
    QVERIFY(QFileInfo::exists(QString::fromStdString(dir_.File("section.mp3"))));

    PlayAndWaitUntil(0);
    QVERIFY(Control<QTimer>(form_, "TmrPlayer")->isActive());
    Control<QTabWidget>(form_, "pgcMain")->setCurrentWidget(Control<QWidget>(form_, "tabTag"));
    QCOMPARE(Control<QLineEdit>(form_, "edtFileTag")->text(), QString::fromStdString(song));
    Control<QCheckBox>(form_, "chkTagExists1")->click();
    Control<QLineEdit>(form_, "TitleEdit1")->setText("Preview");
    Control<QPushButton>(form_, "Button3")->click();
    QVERIFY(!Control<QTimer>(form_, "TmrPlayer")->isActive());
    QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmStandby);
    TID3v1 written;
    QVERIFY(written.ReadTag(song));
    QCOMPARE(written.Title(), std::string("Preview"));
}

void PreviewTest::refusedSectionCutLeavesThePreviewPlaying()
{
    OpenSong();
    PlayAndWaitUntil(0);
    QVERIFY(Control<QTimer>(form_, "TmrPlayer")->isActive());
    // The end before the start, and a time that does not convert: the cut
    // refuses both before it touches the player.
    for (const auto& [start, end] : {std::pair{"00:09.000", "00:04.000"}, std::pair{"00:xx.000", "00:04.000"}}) {
        Control<QLineEdit>(form_, "edtStart")->setText(start);
        Control<QLineEdit>(form_, "edtEnd")->setText(end);
        prompts_->saveFileNames.push_back(dir_.File("refused.mp3"));
        Control<QPushButton>(form_, "btnSplit")->click();
        QCOMPARE(Control<TBASSPlayer>(form_, "PermanentPlayer")->Mode(), plmPlaying);
        QVERIFY2(Control<QTimer>(form_, "TmrPlayer")->isActive(), start);
    }
    QCOMPARE(prompts_->messages.size(), size_t(2));
    QVERIFY(prompts_->messages.at(0).text.rfind("Splitting MP3 is failed.", 0) == 0);
    QCOMPARE(prompts_->messages.at(1).text, std::string("'xx' is not a valid integer value"));
    QVERIFY(!QFileInfo::exists(QString::fromStdString(dir_.File("refused.mp3"))));
    // The bar still follows the playback.
    const int before = Control<GuiTrackBar>(form_, "tkbPosition")->value();
    QTRY_VERIFY_WITH_TIMEOUT(Control<GuiTrackBar>(form_, "tkbPosition")->value() > before, kTimeout);
}

void PreviewTest::timesReadAndShowWithAFullStopUnderACommaLocale()
{
    if (!testsupport::PrepareCommaLocale())
        QSKIP("localedef cannot build a comma-decimal locale");
    testsupport::ScopedLocale german(testsupport::kCommaLocale);
    QVERIFY(german.Active());
    char sample[16];
    std::snprintf(sample, sizeof sample, "%.1f", 1.5);
    QCOMPARE(std::string(sample), std::string("1,5"));

    OpenSong();
    const QString length = Control<QLabel>(form_, "labLength")->text();
    QVERIFY2(length.startsWith("00:40."), qPrintable(length));
    Control<QLineEdit>(form_, "edtStart")->setText("00:02.500");
    Control<QLineEdit>(form_, "edtEnd")->setText("00:12.750");
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->value(), 12);
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelStart(), 2);
    QCOMPARE(Control<GuiTrackBar>(form_, "tkbPosition")->SelEnd(), 12);
    QCOMPARE(Control<QLabel>(form_, "labPeriod")->text(), QString("The selected part is 10.25 (Second.Millisecond)"));

    Control<GuiTrackBar>(form_, "tkbPosition")->setValue(40);
    Control<QToolButton>(form_, "sbtnEnd")->click();
    const QString end = Control<QLineEdit>(form_, "edtEnd")->text();
    QVERIFY2(end.startsWith("00:40."), qPrintable(end));
    prompts_->saveFileNames.push_back(dir_.File("comma.mp3"));
    Control<QLineEdit>(form_, "edtEnd")->setText("00:12.750");
    Control<QPushButton>(form_, "btnSplit")->click();
    QCOMPARE(prompts_->messages.back().text, std::string("Splitting MP3 is completed."));
    // 10.25 s at 128 kbit/s: some 164 KB of audio.
    const qint64 size = QFileInfo(QString::fromStdString(dir_.File("comma.mp3"))).size();
    QVERIFY2(size > 155000 && size < 175000, qPrintable(QString::number(size)));
}

QTEST_MAIN(PreviewTest)
#include "qtest_Preview.moc"
