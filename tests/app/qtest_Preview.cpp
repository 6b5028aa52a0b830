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

#include "app/Main.h"
#include "playback/BASSPlayer.h"
#include "support/CommaLocale.h"
#include "support/TestSupport.h"

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
    QVERIFY2(form_->Player->PlayerReady(), "the audio library did not load");
}

void PreviewTest::cleanup()
{
    form_.reset();
    prompts_ = nullptr;
}

void PreviewTest::OpenSong(const std::string& path)
{
    prompts_->openFileNames.push_back(path);
    form_->btnOpen->click();
    QCOMPARE(form_->edtFile->text(), QString::fromStdString(path));
    QCOMPARE(form_->tkbPosition->maximum(), 40);
}

void PreviewTest::PlayAndWaitUntil(uint32_t positionMs)
{
    form_->sbtnPlay->click();
    QCOMPARE(form_->Player->Mode(), plmPlaying);
    QTRY_VERIFY_WITH_TIMEOUT(form_->Player->Position() >= positionMs, kTimeout);
}

void PreviewTest::playFollowsThePlaybackWithTheTimer()
{
    OpenSong();
    form_->sbtnPlay->click();
    QCOMPARE(form_->Player->Mode(), plmPlaying);
    QVERIFY(form_->TmrPlayer->isActive());
    QCOMPARE(form_->TmrPlayer->interval(), 1000);

    // The real timer moves the bar along with the playback.
    QTRY_VERIFY_WITH_TIMEOUT(form_->tkbPosition->value() >= 2, kTimeout);
    QVERIFY(form_->labTime1->text().endsWith(":000"));

    // A move made by the timer must not seek the playback it follows: a
    // seek would rewind 12.5 s to 12 s.
    form_->Player->SetPosition(12500);
    form_->TmrPlayerTimer();
    QCOMPARE(form_->tkbPosition->value(), 12);
    QCOMPARE(form_->labTime1->text(), QString("00:12:000"));
    QVERIFY(form_->Player->Position() >= 12500);
    QVERIFY(!form_->trackBarMovedByTimer_);

    // While the user holds the handle the timer leaves the bar alone.
    form_->tkbPosition->setSliderDown(true);
    form_->Player->SetPosition(20000);
    form_->TmrPlayerTimer();
    QCOMPARE(form_->tkbPosition->value(), 12);
    form_->tkbPosition->setSliderDown(false);
    form_->TmrPlayerTimer();
    QCOMPARE(form_->tkbPosition->value(), 20);
}

void PreviewTest::pauseAndResumeKeepThePositionAndFlipTheHint()
{
    OpenSong();
    QCOMPARE(form_->sbtnPause->toolTip(), QString("Pause"));
    PlayAndWaitUntil(1000);

    form_->sbtnPause->click();
    QCOMPARE(form_->Player->Mode(), plmPaused);
    QCOMPARE(form_->sbtnPause->toolTip(), QString("Resume"));
    QVERIFY(!form_->TmrPlayer->isActive());
    const uint32_t pausedAt = form_->Player->Position();
    QTest::qWait(300);
    QCOMPARE(form_->Player->Position(), pausedAt);

    form_->sbtnPause->click();
    QCOMPARE(form_->Player->Mode(), plmPlaying);
    QCOMPARE(form_->sbtnPause->toolTip(), QString("Pause"));
    QVERIFY(form_->TmrPlayer->isActive());
    const uint32_t resumedAt = form_->Player->Position();
    QVERIFY2(resumedAt >= pausedAt && resumedAt < pausedAt + 5000,
             qPrintable(QString("paused at %1, resumed at %2").arg(pausedAt).arg(resumedAt)));
}

void PreviewTest::stopReturnsTheBarToZeroAndKeepsTheHint()
{
    OpenSong();
    PlayAndWaitUntil(0);
    form_->Player->SetPosition(5000);
    form_->TmrPlayerTimer();
    QCOMPARE(form_->tkbPosition->value(), 5);

    form_->sbtnStop->click();
    QCOMPARE(form_->Player->Mode(), plmStopped);
    QVERIFY(!form_->TmrPlayer->isActive());
    QCOMPARE(form_->tkbPosition->value(), 0);
    QCOMPARE(form_->labTime1->text(), QString("00:00:000"));
    QCOMPARE(form_->sbtnPause->toolTip(), QString("Pause"));

    // Paused, Stop leaves the player paused and the hint on "Resume".
    form_->sbtnPlay->click();
    form_->sbtnPause->click();
    QCOMPARE(form_->sbtnPause->toolTip(), QString("Resume"));
    form_->sbtnStop->click();
    QCOMPARE(form_->sbtnPause->toolTip(), QString("Resume"));
    QCOMPARE(form_->tkbPosition->value(), 0);
    QCOMPARE(form_->Player->Mode(), plmPaused);
}

void PreviewTest::typedTimeWhilePlayingSeeks()
{
    OpenSong();
    PlayAndWaitUntil(0);
    const int32_t volume = form_->Player->Volume();

    form_->edtStart->selectAll();
    QTest::keyClicks(form_->edtStart, "00:30.000");
    QCOMPARE(form_->edtStart->text(), QString("00:30.000"));
    QCOMPARE(form_->tkbPosition->value(), 30);
    QCOMPARE(form_->tkbPosition->SelStart(), 30);
    QCOMPARE(form_->labTime1->text(), QString("00:30.000"));
    const uint32_t position = form_->Player->Position();
    QVERIFY2(position >= 30000 && position < 35000, qPrintable(QString::number(position)));
    QCOMPARE(form_->Player->Volume(), volume);
    QCOMPARE(form_->Player->Mode(), plmPlaying);
}

void PreviewTest::typedTimeOutsideTheStreamChangesNothing()
{
    OpenSong();
    form_->tkbPosition->setValue(7);
    form_->sbtnBegin->click();
    form_->sbtnEnd->click();
    QCOMPARE(form_->labTime1->text(), QString("00:07:000"));

    for (const char* text : {"01:00.000", "00:41.000", "abc", "12.5", "00:.5", "-1:05.000", "99999999999:00"}) {
        form_->edtStart->setText(text);
        form_->edtEnd->setText(text);
        QCOMPARE(form_->tkbPosition->value(), 7);
        QCOMPARE(form_->tkbPosition->SelStart(), 7);
        QCOMPARE(form_->tkbPosition->SelEnd(), 7);
        QCOMPARE(form_->labTime1->text(), QString("00:07:000"));
        QVERIFY(prompts_->messages.empty());
    }
    // The last second of the stream is still inside it.
    form_->edtEnd->setText("00:40.500");
    QCOMPARE(form_->tkbPosition->value(), 40);
    QCOMPARE(form_->tkbPosition->SelEnd(), 40);
}

void PreviewTest::barMovedWhilePausedOnlyRelabelsAndPlayStartsThere()
{
    OpenSong();
    PlayAndWaitUntil(1000);
    form_->sbtnPause->click();
    const uint32_t pausedAt = form_->Player->Position();

    form_->tkbPosition->setValue(20);
    QCOMPARE(form_->labTime1->text(), QString("00:20:000"));
    QCOMPARE(form_->Player->Position(), pausedAt);
    QCOMPARE(form_->Player->Mode(), plmPaused);

    form_->sbtnPlay->click();
    QCOMPARE(form_->Player->Mode(), plmPlaying);
    const uint32_t position = form_->Player->Position();
    QVERIFY2(position >= 20000 && position < 25000, qPrintable(QString::number(position)));
}

void PreviewTest::markAtTheLastPositionIsTheExactEnd()
{
    OpenSong();
    // An 83456 ms stream, as Open would have set it up.
    form_->LengthMs = 83456;
    form_->LengthRemainderMs = 456;
    form_->tkbPosition->setMaximum(83);

    form_->tkbPosition->setValue(83);
    QCOMPARE(form_->labTime1->text(), QString("01:23:456"));
    form_->sbtnBegin->click();
    QCOMPARE(form_->edtStart->text(), QString("01:23.456"));
    QCOMPARE(form_->tkbPosition->SelStart(), 83);
    // A mark does not move the bar again or relabel it as a typed time.
    QCOMPARE(form_->tkbPosition->value(), 83);
    QCOMPARE(form_->labTime1->text(), QString("01:23:456"));

    form_->tkbPosition->setValue(82);
    form_->sbtnBegin->click();
    QCOMPARE(form_->edtStart->text(), QString("01:22.000"));
    QCOMPARE(form_->tkbPosition->SelStart(), 82);

    form_->tkbPosition->setValue(83);
    form_->sbtnEnd->click();
    QCOMPARE(form_->edtEnd->text(), QString("01:23.456"));
    QCOMPARE(form_->tkbPosition->SelEnd(), 83);
    QCOMPARE(form_->labPeriod->text(), QString("The selected part is 1.456 (Second.Millisecond)"));
}

void PreviewTest::repeatedEndMarkDoesNotSwallowALaterTypedEnd()
{
    OpenSong();
    form_->tkbPosition->setValue(10);
    form_->sbtnEnd->click();
    form_->sbtnEnd->click();
    QCOMPARE(form_->edtEnd->text(), QString("00:10.000"));
    QCOMPARE(form_->tkbPosition->SelEnd(), 10);
    QVERIFY(!form_->endMarkChange_);

    form_->edtEnd->setText("00:20.000");
    QCOMPARE(form_->tkbPosition->value(), 20);
    QCOMPARE(form_->tkbPosition->SelEnd(), 20);
    QCOMPARE(form_->labTime1->text(), QString("00:20.000"));
    QCOMPARE(form_->labPeriod->text(), QString("The selected part is 20 (Second.Millisecond)"));

    // The same for the start mark.
    form_->tkbPosition->setValue(5);
    form_->sbtnBegin->click();
    form_->sbtnBegin->click();
    form_->edtStart->setText("00:15.250");
    QCOMPARE(form_->tkbPosition->value(), 15);
    QCOMPARE(form_->tkbPosition->SelStart(), 15);
    QCOMPARE(form_->labPeriod->text(), QString("The selected part is 4.75 (Second.Millisecond)"));

    // An unreadable field empties the selected length at once.
    form_->edtEnd->setText("later");
    QCOMPARE(form_->labPeriod->text(), QString());
}

void PreviewTest::marksAndTypedTimesNeedAFile()
{
    // No file yet: marks, typed times and Play do nothing.
    form_->tkbPosition->setValue(4);
    form_->sbtnBegin->click();
    form_->sbtnPlay->click();
    QCOMPARE(form_->edtStart->text(), QString("00:00.000"));
    QCOMPARE(form_->tkbPosition->SelStart(), 0);
    QCOMPARE(form_->labTime1->text(), QString("00:00.000"));
    QVERIFY(!form_->TmrPlayer->isActive());

    // A path that names no file: Play and typed times do nothing.
    form_->edtFile->setText(QString::fromStdString(dir_.File("gone.mp3")));
    form_->sbtnPlay->click();
    QCOMPARE(form_->Player->Mode(), plmStandby);
    QVERIFY(!form_->TmrPlayer->isActive());
    form_->edtStart->setText("00:10.000");
    QCOMPARE(form_->tkbPosition->value(), 4);
    QVERIFY(prompts_->messages.empty());

    // A file the player cannot open: the player reports it, and there is
    // no playback for the timer to follow.
    const std::string junk = dir_.File("junk.mp3");
    testsupport::WriteText(junk, "not audio at all\n");
    form_->edtFile->setText(QString::fromStdString(junk));
    form_->sbtnPlay->click();
    QVERIFY(form_->Player->Mode() != plmPlaying);
    QVERIFY(!form_->TmrPlayer->isActive());
}

void PreviewTest::splitAndTagWriteStopTheTimer()
{
    const std::string song = dir_.File("tagged.mp3");
    testsupport::WriteBytes(song, testsupport::ReadBytes(song_));
    OpenSong(song);
    PlayAndWaitUntil(0);
    QVERIFY(form_->TmrPlayer->isActive());
    form_->rdbTime->click();
    form_->edtStart->setText("00:01.000");
    form_->edtEnd->setText("00:03.000");
    prompts_->saveFileNames.push_back(dir_.File("section.mp3"));
    form_->btnSplit->click();
    QVERIFY(!form_->TmrPlayer->isActive());
    QVERIFY(QFileInfo::exists(QString::fromStdString(dir_.File("section.mp3"))));

    PlayAndWaitUntil(0);
    QVERIFY(form_->TmrPlayer->isActive());
    form_->pgcMain->setCurrentWidget(form_->tabTag);
    QCOMPARE(form_->edtFileTag->text(), QString::fromStdString(song));
    form_->chkTagExists1->click();
    form_->TitleEdit1->setText("Preview");
    form_->Button3->click();
    QVERIFY(!form_->TmrPlayer->isActive());
    QCOMPARE(form_->Player->Mode(), plmStandby);
    TID3v1 written;
    QVERIFY(written.ReadTag(song));
    QCOMPARE(written.Title(), std::string("Preview"));
}

void PreviewTest::refusedSectionCutLeavesThePreviewPlaying()
{
    OpenSong();
    PlayAndWaitUntil(0);
    QVERIFY(form_->TmrPlayer->isActive());
    // The end before the start, and a time that does not convert: the cut
    // refuses both before it touches the player.
    for (const auto& [start, end] : {std::pair{"00:09.000", "00:04.000"}, std::pair{"00:xx.000", "00:04.000"}}) {
        form_->edtStart->setText(start);
        form_->edtEnd->setText(end);
        prompts_->saveFileNames.push_back(dir_.File("refused.mp3"));
        form_->btnSplit->click();
        QCOMPARE(form_->Player->Mode(), plmPlaying);
        QVERIFY2(form_->TmrPlayer->isActive(), start);
    }
    QCOMPARE(prompts_->messages.size(), size_t(2));
    QVERIFY(prompts_->messages.at(0).text.rfind("Splitting MP3 is failed.", 0) == 0);
    QCOMPARE(prompts_->messages.at(1).text, std::string("'xx' is not a valid integer value"));
    QVERIFY(!QFileInfo::exists(QString::fromStdString(dir_.File("refused.mp3"))));
    // The bar still follows the playback.
    const int before = form_->tkbPosition->value();
    QTRY_VERIFY_WITH_TIMEOUT(form_->tkbPosition->value() > before, kTimeout);
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
    QVERIFY2(form_->labLength->text().startsWith("00:40."), qPrintable(form_->labLength->text()));
    form_->edtStart->setText("00:02.500");
    form_->edtEnd->setText("00:12.750");
    QCOMPARE(form_->tkbPosition->value(), 12);
    QCOMPARE(form_->tkbPosition->SelStart(), 2);
    QCOMPARE(form_->tkbPosition->SelEnd(), 12);
    QCOMPARE(form_->labPeriod->text(), QString("The selected part is 10.25 (Second.Millisecond)"));

    form_->tkbPosition->setValue(40);
    form_->sbtnEnd->click();
    QVERIFY2(form_->edtEnd->text().startsWith("00:40."), qPrintable(form_->edtEnd->text()));
    prompts_->saveFileNames.push_back(dir_.File("comma.mp3"));
    form_->edtEnd->setText("00:12.750");
    form_->btnSplit->click();
    QCOMPARE(prompts_->messages.back().text, std::string("Splitting MP3 is completed."));
    // 10.25 s at 128 kbit/s: some 164 KB of audio.
    const qint64 size = QFileInfo(QString::fromStdString(dir_.File("comma.mp3"))).size();
    QVERIFY2(size > 155000 && size < 175000, qPrintable(QString::number(size)));
}

QTEST_MAIN(PreviewTest)
#include "qtest_Preview.moc"
