// The split page's Volume command driven through its real button, menu and
// time fields; ffmpeg decodes what it wrote, as a second opinion.

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <cmath>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "app/Main.h"
#include "playback/BASSPlayer.h"
#include "support/TestSupport.h"

#include "NamedControl.h"

namespace {

// Answers the window's prompts from queues the test fills; a prompt with an
// empty queue is answered as cancelled (or No).
class ScriptedPrompter : public GuiPrompterBase {
public:
    std::deque<std::string> openFileNames;
    std::deque<double> numbers;
    std::deque<bool> yesNo;
    int yesNoAsked = 0;
    std::vector<std::string> messages;

    void ShowMessage(const std::string&, const std::string& text, MessageIcon) override { messages.push_back(text); }
    std::optional<std::string> AskOpenFileName() override
    {
        if (openFileNames.empty())
            return std::nullopt;
        std::string answer = openFileNames.front();
        openFileNames.pop_front();
        return answer;
    }
    std::optional<std::string> AskSaveFileName(const std::string&) override { return std::nullopt; }
    bool ExecuteFolderPicker(std::string&) override { return false; }
    bool OpenDocument(const std::string&) override { return true; }
    bool AskYesNo(const std::string&, const std::string&) override
    {
        ++yesNoAsked;
        if (yesNo.empty())
            return false;
        const bool answer = yesNo.front();
        yesNo.pop_front();
        return answer;
    }
    std::optional<double> AskNumber(const std::string&, const std::string&, double, double, double, double,
                                    int) override
    {
        if (numbers.empty())
            return std::nullopt;
        const double answer = numbers.front();
        numbers.pop_front();
        return answer;
    }
};

// Interleaved 16-bit samples of the whole file, as ffmpeg decodes it.
std::vector<int16_t> Decode(const std::string& path, const std::string& raw)
{
    const testsupport::CommandResult result = testsupport::Run("ffmpeg -v error -y -i " + testsupport::Quote(path)
                                                               + " -f s16le -acodec pcm_s16le " + testsupport::Quote(raw));
    if (result.exitCode != 0)
        return {};
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(raw);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return samples;
}

// RMS of changed over that of source between the two times (s), stereo at 44.1 kHz.
double LevelRatio(const std::vector<int16_t>& source, const std::vector<int16_t>& changed, double from, double to)
{
    const size_t begin = static_cast<size_t>(from * 44100) * 2;
    const size_t end = std::min({static_cast<size_t>(to * 44100) * 2, source.size(), changed.size()});
    double sourceSum = 0;
    double changedSum = 0;
    for (size_t i = begin; i < end; ++i) {
        sourceSum += double(source[i]) * source[i];
        changedSum += double(changed[i]) * changed[i];
    }
    return sourceSum > 0 ? std::sqrt(changedSum / sourceSum) : -1;
}

constexpr double kSongSeconds = 40.0;

} // namespace

class SplitVolumeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void volumeChangesTheSelectionAndUndoRestoresIt_data();
    void volumeChangesTheSelectionAndUndoRestoresIt();

private:
    // Opens the menu of the Volume button with a click and clicks entry in it.
    void ChooseVolumeEntry(TMainForm& form, const char* entry);
    static void TypeTime(QLineEdit* edit, const QString& text);

    testsupport::TempDir dir_;
    std::string source_;
};

void SplitVolumeTest::initTestCase()
{
    source_ = dir_.File("source.mp3");
    testsupport::MakeMp3(source_, kSongSeconds);
}

void SplitVolumeTest::TypeTime(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

void SplitVolumeTest::ChooseVolumeEntry(TMainForm& form, const char* entry)
{
    auto* button = Control<QToolButton>(&form, "btnVolume");
    QAction* action = Control<QAction>(&form, entry);
    bool clicked = false;
    // The menu runs its own loop while it is up: the click on the entry
    // comes from inside it.
    QTimer::singleShot(0, this, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        clicked = true;
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    });
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY2(clicked, "the Volume button showed no menu");
}

void SplitVolumeTest::volumeChangesTheSelectionAndUndoRestoresIt_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<double>("db");       // Gain...; 0: Fade in/out...
    QTest::addColumn<double>("fadeIn");   // s, faded in from the start of the selection
    QTest::addColumn<bool>("changed");
    QTest::addColumn<double>("inside");   // level ratio within the selection, after the fade
    QTest::addColumn<double>("outside");  // level ratio before and after it

    QTest::newRow("-6 dB on a section") << "00:10.000" << "00:20.000" << -6.0 << 0.0 << true << 0.5 << 1.0;
    QTest::newRow("-4 dB rounds to 3 steps") << "00:05.000" << "00:30.000" << -4.0 << 0.0 << true
                                             << std::pow(2.0, -0.75) << 1.0;
    QTest::newRow("marks that meet take the whole file") << "00:00.000" << "00:00.000" << -6.0 << 0.0 << true << 0.5
                                                         << 0.5;
    QTest::newRow("a clipping gain refused") << "00:10.000" << "00:20.000" << 30.0 << 0.0 << false << 1.0 << 1.0;
    QTest::newRow("fade in over 2 s of a section") << "00:10.000" << "00:20.000" << 0.0 << 2.0 << true << 1.0 << 1.0;
}

void SplitVolumeTest::volumeChangesTheSelectionAndUndoRestoresIt()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(double, db);
    QFETCH(double, fadeIn);
    QFETCH(bool, changed);
    QFETCH(double, inside);
    QFETCH(double, outside);

    const std::string song = dir_.File("song.mp3");
    testsupport::WriteBytes(song, testsupport::ReadBytes(source_));
    const std::vector<uint8_t> sourceBytes = testsupport::ReadBytes(source_);

    auto owned = std::make_unique<ScriptedPrompter>();
    ScriptedPrompter& prompts = *owned;
    TMainForm form(std::move(owned), testsupport::BinFolder());
    form.show();
    auto& player = *Control<TBASSPlayer>(&form, "PermanentPlayer");
    QVERIFY2(player.PlayerReady(), "the audio library did not load");
    prompts.openFileNames.push_back(song);
    QTest::mouseClick(Control<QPushButton>(&form, "btnOpen"), Qt::LeftButton);
    TypeTime(Control<QLineEdit>(&form, "edtStart"), start);
    TypeTime(Control<QLineEdit>(&form, "edtEnd"), end);
    player.SetPosition(12000);

    if (db != 0) {
        // A gain that would clip is not confirmed.
        prompts.numbers.push_back(db);
        ChooseVolumeEntry(form, "actVolumeGain");
    } else {
        prompts.numbers = {fadeIn, 0.0};
        ChooseVolumeEntry(form, "actVolumeFade");
    }
    QCOMPARE(prompts.yesNoAsked, db > 0 ? 1 : 0);
    // The preview has the file again, where it was.
    QCOMPARE(QString::fromStdString(player.StreamName()), QString::fromStdString(song));
    QVERIFY(std::abs(static_cast<int>(player.Position()) - 12000) < 100);

    if (!changed) {
        QVERIFY(testsupport::ReadBytes(song) == sourceBytes);
        return;
    }
    const std::vector<int16_t> before = Decode(source_, dir_.File("before.raw"));
    const std::vector<int16_t> after = Decode(song, dir_.File("after.raw"));
    QVERIFY(!before.empty() && before.size() == after.size());
    const auto seconds = [](const QString& time) { return time.left(2).toDouble() * 60 + time.mid(3).toDouble(); };
    const double startS = start == end ? 0.0 : seconds(start);
    const double endS = start == end ? kSongSeconds : seconds(end);
    // Away from the edges by more than a granule and the decoder's overlap.
    constexpr double margin = 0.1;
    QVERIFY(std::abs(LevelRatio(before, after, startS + fadeIn + margin, endS - margin) - inside) < 0.005);
    // A fade rises step by step over its span, from far below the level.
    for (double at = startS + margin; at + 0.75 < startS + fadeIn; at += 0.5)
        QVERIFY(LevelRatio(before, after, at, at + 0.25) < LevelRatio(before, after, at + 0.5, at + 0.75));
    if (fadeIn > 0)
        QVERIFY(LevelRatio(before, after, startS + margin, startS + 2 * margin) < 0.01);
    if (startS > margin)
        QVERIFY(std::abs(LevelRatio(before, after, margin, startS - margin) - outside) < 0.005);
    if (endS < kSongSeconds - margin)
        QVERIFY(std::abs(LevelRatio(before, after, endS + margin, kSongSeconds - margin) - outside) < 0.005);

    ChooseVolumeEntry(form, "actVolumeUndo");
    QVERIFY(testsupport::ReadBytes(song) == sourceBytes);
    QCOMPARE(QString::fromStdString(player.StreamName()), QString::fromStdString(song));
}

QTEST_MAIN(SplitVolumeTest)
#include "qtest_SplitVolume.moc"
