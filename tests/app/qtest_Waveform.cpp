// The split page's waveform driven with real mouse and key events in a real
// main window (silent output): where a click plays from, what a drag and a
// handle mark, what each key does, undo, and that the fields, the track
// bar, the view and the part a cut writes agree on the marks.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/GuiTrackBar.h"
#include "app/Main.h"
#include "app/WaveformView.h"
#include "core/AudioFrames.h"
#include "core/FrameModel.h"
#include "core/TimeText.h"
#include "files/BinaryFile.h"
#include "playback/BASSPlayer.h"
#include "playback/WaveformEnvelope.h"
#include "support/TestSupport.h"

#include "NamedControl.h"

namespace {

class ScriptedPrompter : public GuiPrompterBase {
public:
    std::deque<std::string> openFileNames;
    std::deque<std::string> saveFileNames;
    std::vector<std::string> messages;

    void ShowMessage(const std::string&, const std::string& text, MessageIcon) override { messages.push_back(text); }
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

constexpr int kTimeout = 20000;            // ms; playback runs in real time
constexpr double kFrameMs = 1152 * 1000.0 / 44100;
// The section command cuts this much before its marks.
constexpr double kCutLeadMs = 150;

int64_t Ms(const QLineEdit* edit) { return TimeTextToMilliseconds(edit->text().toStdString()); }

// Where the frames of an MP3 file start, and how many samples its decoders
// drop at the start (its LAME delay and the decoder's 529).
struct FrameMap {
    std::vector<int64_t> Starts;
    int64_t Skip = 0;
};

FrameMap MapFrames(const std::string& path)
{
    FrameMap map;
    BinaryFile file;
    if (!file.Open(path, BinaryFile::Mode::Read))
        return map;
    const auto span = LocateAudio(file, file.Size());
    if (!span)
        return map;
    if (span->SourceHeader && span->SourceHeader->HasLame)
        map.Skip = span->SourceHeader->Fields.Delay + 529;
    TFrameWalker walker(file, *span);
    for (int64_t index = 0;; ++index) {
        const int64_t position = walker.AdvanceToFrame(index);
        if (position >= span->AudioEnd || walker.FrameIndex() != index)
            break;
        map.Starts.push_back(position);
    }
    return map;
}

// The time (ms) of the source at which a part written from it begins: its
// first audio frames are found among the source's frames byte for byte (a
// run of them, which must match in one place only), and a decoder starts
// that frame's samples 529 samples in. -1 when they match nowhere or twice.
double PartStartMs(const std::string& source, const std::string& part)
{
    constexpr size_t kRun = 8;
    const FrameMap sourceFrames = MapFrames(source);
    const FrameMap partFrames = MapFrames(part);
    if (partFrames.Starts.size() <= kRun)
        return -1;
    const std::vector<uint8_t> sourceBytes = testsupport::ReadBytes(source);
    const std::vector<uint8_t> partBytes = testsupport::ReadBytes(part);
    const size_t length = static_cast<size_t>(partFrames.Starts[kRun] - partFrames.Starts[0]);
    const uint8_t* first = partBytes.data() + partFrames.Starts.front();
    double found = -1;
    for (size_t index = 0; index < sourceFrames.Starts.size(); ++index) {
        const size_t at = static_cast<size_t>(sourceFrames.Starts[index]);
        if (at + length <= sourceBytes.size() && std::memcmp(sourceBytes.data() + at, first, length) == 0) {
            if (found >= 0)
                return -1;
            found = (static_cast<double>(index) * 1152 + 529 - sourceFrames.Skip) * 1000.0 / 44100;
        }
    }
    return found;
}

} // namespace

class WaveformTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void clickSeeksToTheMillisecondUnderThePointer_data();
    void clickSeeksToTheMillisecondUnderThePointer();
    void dragSetsBothFieldsAndHandlesMoveTheMarks();
    void keysDoWhatTheirHintsSay_data();
    void keysDoWhatTheirHintsSay();
    void undoAndRedoRestoreTheMarks();
    void fieldsBarHandlesAndTheWrittenPartAgree_data();
    void fieldsBarHandlesAndTheWrittenPartAgree();
    void samplesFinerThanTheLevelsAreDecoded();

private:
    void OpenSong(const std::string& path);
    void OpenSong() { OpenSong(song_); }
    WaveformView* View() { return Control<WaveformView>(form_, "wavView"); }
    TBASSPlayer* Player() { return Control<TBASSPlayer>(form_, "PermanentPlayer"); }
    QLineEdit* Field(const char* name) { return Control<QLineEdit>(form_, name); }
    GuiTrackBar* Bar() { return Control<GuiTrackBar>(form_, "tkbPosition"); }
    // The y of the middle of the waveform, where clicks and drags go.
    int WaveY() { return View()->WaveRect().center().y(); }
    void Drag(int fromX, int toX);
    // Types both marks as a user does, leaving each field.
    void TypeMarks(const char* start, const char* end);

    testsupport::TempDir dir_;
    std::string song_;
    std::string sweep_;  // no two stretches of it encode alike
    std::string onset_;  // 2 s of silence, then a tone
    std::unique_ptr<TMainForm> form_;
    ScriptedPrompter* prompts_ = nullptr;  // owned by form_
};

void WaveformTest::initTestCase()
{
    song_ = dir_.File("song.mp3");
    testsupport::MakeMp3(song_, 40.0);
    sweep_ = dir_.File("sweep.mp3");
    const std::string wav = dir_.File("sweep.wav");
    for (const std::string& command :
         {"sox -n -r 44100 -c 2 -b 16 " + testsupport::Quote(wav) + " synth 40 sine 100-8000 vol 0.5",
          "lame --quiet -b 128 " + testsupport::Quote(wav) + " " + testsupport::Quote(sweep_)}) {
        const auto made = testsupport::Run(command);
        QVERIFY2(made.exitCode == 0, made.output.c_str());
    }
    onset_ = dir_.File("onset.wav");
    const std::string silence = dir_.File("silence.wav");
    const std::string tone = dir_.File("tone.wav");
    const std::string format = "sox -n -r 44100 -c 1 -b 16 ";
    for (const std::string& command :
         {format + testsupport::Quote(silence) + " trim 0 2", format + testsupport::Quote(tone) + " synth 2 sine 440 vol 0.5",
          "sox " + testsupport::Quote(silence) + " " + testsupport::Quote(tone) + " " + testsupport::Quote(onset_)}) {
        const auto made = testsupport::Run(command);
        QVERIFY2(made.exitCode == 0, made.output.c_str());
    }
}

void WaveformTest::init()
{
    auto prompter = std::make_unique<ScriptedPrompter>();
    prompts_ = prompter.get();
    form_ = std::make_unique<TMainForm>(std::move(prompter), testsupport::BinFolder());
    QVERIFY2(Player()->PlayerReady(), "the audio library did not load");
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
}

void WaveformTest::cleanup()
{
    form_.reset();
    prompts_ = nullptr;
}

void WaveformTest::OpenSong(const std::string& path)
{
    prompts_->openFileNames.push_back(path);
    Control<QPushButton>(form_, "btnOpen")->click();
    QCOMPARE(Field("edtFile")->text(), QString::fromStdString(path));
    QVERIFY(View()->Scale().Fitted());
}

void WaveformTest::Drag(int fromX, int toX)
{
    QTest::mousePress(View(), Qt::LeftButton, {}, QPoint(fromX, WaveY()));
    // Two steps, so that the move is seen as a drag before it ends.
    QTest::mouseMove(View(), QPoint((fromX + toX) / 2, WaveY()));
    QTest::mouseMove(View(), QPoint(toX, WaveY()));
    QTest::mouseRelease(View(), Qt::LeftButton, {}, QPoint(toX, WaveY()));
}

void WaveformTest::TypeMarks(const char* start, const char* end)
{
    for (auto [name, text] : {std::pair{"edtStart", start}, std::pair{"edtEnd", end}}) {
        QLineEdit* field = Field(name);
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Tab);
    }
}

void WaveformTest::clickSeeksToTheMillisecondUnderThePointer_data()
{
    QTest::addColumn<int>("zoomSteps");
    QTest::addColumn<QString>("state");
    QTest::newRow("whole file, stopped") << 0 << "stopped";
    QTest::newRow("zoomed in, paused") << 6 << "paused";
    QTest::newRow("zoomed to samples, playing") << 18 << "playing";
}

void WaveformTest::clickSeeksToTheMillisecondUnderThePointer()
{
    QFETCH(int, zoomSteps);
    QFETCH(QString, state);
    OpenSong();
    // The view is placed around 25 s first, then zoomed there.
    const int width = View()->width();
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(width * 5 / 8, WaveY()));
    for (int i = 0; i < zoomSteps; ++i)
        QTest::keyClick(View(), Qt::Key_Plus, Qt::ControlModifier);
    if (state != "stopped") {
        Control<QToolButton>(form_, "sbtnPlay")->click();
        QCOMPARE(Player()->Mode(), plmPlaying);
    }
    if (state == "paused")
        Control<QToolButton>(form_, "sbtnPause")->click();

    const WaveformScale& scale = View()->Scale();
    const double msPerPixel = scale.SamplesPerPixel() * 1000.0 / 44100;
    const int x = width / 3;
    // What the ruler shows at the pixel, independent of the view's own rounding.
    const double expected = (static_cast<double>(scale.FirstColumn()) + x) * msPerPixel;
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(x, WaveY()));

    const int64_t position = View()->PlayPosition();
    QVERIFY2(std::abs(position - expected) <= std::max(msPerPixel, 1.0),
             qPrintable(QString("%1 ms for %2 ms").arg(position).arg(expected)));
    QCOMPARE(Bar()->value(), static_cast<int>(position / 1000));
    QCOMPARE(Control<QLabel>(form_, "labTime1")->text(),
             QString::fromStdString(FormatTimeText(position / 1000.0)).replace('.', ':'));
    if (state == "paused")
        QCOMPARE(static_cast<int64_t>(Player()->Position()), position);
    if (state == "playing") {
        const int64_t playing = Player()->Position();
        QVERIFY2(playing >= position && playing < position + 2000, qPrintable(QString::number(playing)));
    }
    // Play (again) starts at the exact millisecond, not at the bar's second.
    if (state == "stopped") {
        Control<QToolButton>(form_, "sbtnPlay")->click();
        const int64_t playing = Player()->Position();
        QVERIFY2(playing >= position && playing < position + 2000, qPrintable(QString::number(playing)));
    }
}

void WaveformTest::dragSetsBothFieldsAndHandlesMoveTheMarks()
{
    OpenSong();
    const double msPerPixel = 40000.0 / View()->width();
    const auto near = [&](int64_t ms, int x) {
        return std::abs(ms - x * msPerPixel) <= msPerPixel + kFrameMs;
    };
    // Dragged leftwards: the earlier end is still the start.
    Drag(300, 100);
    const int64_t start = Ms(Field("edtStart"));
    const int64_t end = Ms(Field("edtEnd"));
    QVERIFY2(near(start, 100) && near(end, 300), qPrintable(Field("edtStart")->text() + " " + Field("edtEnd")->text()));
    QCOMPARE(View()->StartMark(), start);
    QCOMPARE(View()->EndMark(), end);
    QCOMPARE(Bar()->SelStart(), static_cast<int>(start / 1000));
    QCOMPARE(Bar()->SelEnd(), static_cast<int>(end / 1000));
    QCOMPARE(Control<QLabel>(form_, "labPeriod")->text(),
             QString::fromStdString(SelectedLengthText(Field("edtStart")->text().toStdString(),
                                                       Field("edtEnd")->text().toStdString())));
    QVERIFY(!Control<QLabel>(form_, "labPeriod")->text().isEmpty());

    // The start handle taken a pixel beside the mark and moved; the end stays.
    const int startX = static_cast<int>(View()->Scale().XOfMs(start));
    Drag(startX + 1, 40);
    QVERIFY2(near(Ms(Field("edtStart")), 40), qPrintable(Field("edtStart")->text()));
    QCOMPARE(Ms(Field("edtEnd")), end);
    // The end handle dragged past the start: the marks keep their order.
    const int endX = static_cast<int>(View()->Scale().XOfMs(end));
    Drag(endX, 20);
    QVERIFY2(near(Ms(Field("edtStart")), 20) && near(Ms(Field("edtEnd")), 40),
             qPrintable(Field("edtStart")->text() + " " + Field("edtEnd")->text()));
    QCOMPARE(View()->StartMark(), Ms(Field("edtStart")));
    QCOMPARE(Bar()->SelStart(), static_cast<int>(Ms(Field("edtStart")) / 1000));
}

// A mark wanted at the play position the key starts from, moved by a frame or not.
constexpr int64_t kAtPosition = -1;

void WaveformTest::keysDoWhatTheirHintsSay_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    // From a play position P near 16.5 s, the marks typed as 10 s and 20 s:
    // where the play position goes (ms after P), and the marks (kAtPosition: P).
    QTest::addColumn<double>("moved");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    QTest::addColumn<double>("zoom");  // samples per pixel after / before; -1 the selection, -2 fitted
    QTest::addColumn<QString>("plays");

    const int none = Qt::NoModifier;
    const int ctrl = Qt::ControlModifier;
    const double f = kFrameMs;
    QTest::newRow("Right: a frame on") << int(Qt::Key_Right) << none << f << 10000.0 << 20000.0 << 1.0 << "";
    QTest::newRow("Left: a frame back") << int(Qt::Key_Left) << none << -f << 10000.0 << 20000.0 << 1.0 << "";
    QTest::newRow("Shift+Right: a second on") << int(Qt::Key_Right) << int(Qt::ShiftModifier) << 1000.0 << 10000.0 << 20000.0 << 1.0 << "";
    QTest::newRow("Shift+Left: a second back") << int(Qt::Key_Left) << int(Qt::ShiftModifier) << -1000.0 << 10000.0 << 20000.0 << 1.0 << "";
    QTest::newRow("[: the start here") << int(Qt::Key_BracketLeft) << none << 0.0 << double(kAtPosition) << 20000.0 << 1.0 << "";
    QTest::newRow("]: the end here") << int(Qt::Key_BracketRight) << none << 0.0 << 10000.0 << double(kAtPosition) << 1.0 << "";
    QTest::newRow("Alt+Right: the start a frame on") << int(Qt::Key_Right) << int(Qt::AltModifier) << 0.0 << 10000 + f << 20000.0 << 1.0 << "";
    QTest::newRow("Alt+Left: the start a frame back") << int(Qt::Key_Left) << int(Qt::AltModifier) << 0.0 << 10000 - f << 20000.0 << 1.0 << "";
    QTest::newRow("Ctrl+Plus: zoom in") << int(Qt::Key_Plus) << ctrl << 0.0 << 10000.0 << 20000.0 << 0.5 << "";
    QTest::newRow("Ctrl+Minus: zoom out") << int(Qt::Key_Minus) << ctrl << 0.0 << 10000.0 << 20000.0 << 2.0 << "";
    QTest::newRow("Ctrl+F: zoom to fit") << int(Qt::Key_F) << ctrl << 0.0 << 10000.0 << 20000.0 << -2.0 << "";
    QTest::newRow("Ctrl+E: zoom to the selection") << int(Qt::Key_E) << ctrl << 0.0 << 10000.0 << 20000.0 << -1.0 << "";
    QTest::newRow("P: play the selection") << int(Qt::Key_P) << none << 0.0 << 10000.0 << 20000.0 << 1.0 << "10000..20000";
    QTest::newRow("L: listen around the nearer mark") << int(Qt::Key_L) << none << 0.0 << 10000.0 << 20000.0 << 1.0 << "18000..22000";
}

void WaveformTest::keysDoWhatTheirHintsSay()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(double, moved);
    QFETCH(double, start);
    QFETCH(double, end);
    QFETCH(double, zoom);
    QFETCH(QString, plays);
    OpenSong();
    TypeMarks("00:10.000", "00:20.000");
    // Zoomed in around the end mark, where the typed times left the play position.
    View()->ZoomIn();
    View()->ZoomIn();
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(static_cast<int>(View()->Scale().XOfMs(16500)), WaveY()));
    const int64_t p = View()->PlayPosition();
    QVERIFY2(std::abs(p - 16500) < 100, qPrintable(QString::number(p)));
    const double before = View()->Scale().SamplesPerPixel();

    QTest::keyClick(View(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    const auto near = [](double actual, double wanted, double slack) { return std::abs(actual - wanted) <= slack; };
    if (plays.isEmpty())
        QVERIFY2(near(View()->PlayPosition(), p + moved, 1),
                 qPrintable(QString("play position %1 from %2").arg(View()->PlayPosition()).arg(p)));
    QCOMPARE(Bar()->value(), static_cast<int>(View()->PlayPosition() / 1000));
    // A mark set or moved lies on the cutter's frame grid: within a frame of where it was asked for.
    for (auto [field, wanted, shown] : {std::tuple{"edtStart", start, View()->StartMark()},
                                        std::tuple{"edtEnd", end, View()->EndMark()}}) {
        const int64_t mark = Ms(Field(field));
        const double target = wanted == kAtPosition ? p : wanted;
        const double slack = target == 10000.0 || target == 20000.0 ? 0 : kFrameMs;
        QVERIFY2(near(mark, target, slack), qPrintable(QString("%1 %2, wanted %3").arg(field).arg(mark).arg(target)));
        QCOMPARE(shown, mark);
    }
    const double after = View()->Scale().SamplesPerPixel();
    if (zoom > 0)
        QCOMPARE(after / before, zoom);
    if (zoom == -1.0) {
        // The selection fills most of the view.
        const double startX = View()->Scale().XOfMs(10000);
        const double endX = View()->Scale().XOfMs(20000);
        QVERIFY2(startX >= 0 && endX <= View()->width() && endX - startX >= View()->width() * 0.8,
                 qPrintable(QString("%1 .. %2").arg(startX).arg(endX)));
    }
    if (zoom == -2.0)
        QVERIFY(View()->Scale().Fitted());
    if (plays.isEmpty()) {
        QVERIFY(Player()->Mode() != plmPlaying);
        return;
    }
    const int64_t from = plays.section("..", 0, 0).toLongLong();
    const int64_t to = plays.section("..", 1, 1).toLongLong();
    QCOMPARE(Player()->Mode(), plmPlaying);
    const int64_t playing = Player()->Position();
    QVERIFY2(playing >= from && playing < from + 1000, qPrintable(QString::number(playing)));
    // It stops by itself at the end of what it plays.
    QTRY_VERIFY_WITH_TIMEOUT(Player()->Mode() != plmPlaying, kTimeout);
    QVERIFY2(View()->PlayPosition() >= to && View()->PlayPosition() < to + 1000,
             qPrintable(QString::number(View()->PlayPosition())));
}

void WaveformTest::undoAndRedoRestoreTheMarks()
{
    OpenSong();
    const auto marks = [this] { return Field("edtStart")->text() + " " + Field("edtEnd")->text(); };
    // Every finished change is a step: a drag, a handle moved, each typed
    // field left, a nudge. Moves during a drag are not.
    QStringList steps{marks()};
    Drag(100, 300);
    steps << marks();
    Drag(static_cast<int>(View()->Scale().XOfMs(Ms(Field("edtEnd")))), 350);
    steps << marks();
    TypeMarks("00:05.000", "00:30.000");
    steps << QString("00:05.000 ") + steps.back().section(' ', 1) << "00:05.000 00:30.000";
    View()->setFocus();
    QTest::keyClick(View(), Qt::Key_Right, Qt::AltModifier);
    steps << marks();
    QCOMPARE(steps.removeDuplicates(), 0);

    for (qsizetype i = steps.size() - 2; i >= 0; --i) {
        QTest::keyClick(View(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(marks(), steps[i]);
        QCOMPARE(View()->StartMark(), Ms(Field("edtStart")));
        QCOMPARE(View()->EndMark(), Ms(Field("edtEnd")));
        QCOMPARE(Bar()->SelEnd(), static_cast<int>(Ms(Field("edtEnd")) / 1000));
    }
    QTest::keyClick(View(), Qt::Key_Z, Qt::ControlModifier);  // nothing older
    QCOMPARE(marks(), steps.front());
    for (qsizetype i = 1; i < steps.size(); ++i) {
        QTest::keyClick(View(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(marks(), steps[i]);
    }
}

void WaveformTest::fieldsBarHandlesAndTheWrittenPartAgree_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("click and [") << "click";
    QTest::newRow("drag") << "drag";
    QTest::newRow("Alt+Right") << "key";
}

void WaveformTest::fieldsBarHandlesAndTheWrittenPartAgree()
{
    QFETCH(QString, how);
    OpenSong(sweep_);
    // Zoomed in around the middle, so that a pixel is finer than a frame.
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(View()->width() / 2, WaveY()));
    for (int i = 0; i < 7; ++i)
        View()->ZoomIn();
    const int x = View()->width() / 3 + 7;
    if (how == "click") {
        QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(x, WaveY()));
        QTest::keyClick(View(), Qt::Key_BracketLeft);
    } else if (how == "drag") {
        Drag(x, x + 200);
    } else {
        // Dragged leftwards, the start is the mark Alt moves.
        Drag(x + 200, x);
        QTest::keyClick(View(), Qt::Key_Right, Qt::AltModifier);
    }
    // The end far enough on for a part of some length.
    Field("edtEnd")->setText("00:39.000");
    const int64_t start = Ms(Field("edtStart"));
    QVERIFY(start > 0);
    QCOMPARE(View()->StartMark(), start);
    QCOMPARE(Bar()->SelStart(), static_cast<int>(start / 1000));

    const std::string part = dir_.File("part.mp3");
    prompts_->saveFileNames.push_back(part);
    Control<QPushButton>(form_, "btnSplit")->click();
    QCOMPARE(prompts_->messages.back(), std::string("Splitting MP3 is completed."));
    const double written = PartStartMs(sweep_, part);
    // The mark lies on the frame the part begins with, to the millisecond
    // (once the command's lead is taken off).
    QVERIFY2(written >= 0 && std::abs(written - (start - kCutLeadMs)) < 1.0,
             qPrintable(QString("the mark %1 ms, the part from %2 ms").arg(start).arg(written)));
}

void WaveformTest::samplesFinerThanTheLevelsAreDecoded()
{
    OpenSong(onset_);
    auto* envelope = Control<WaveformEnvelope>(form_, "Envelope");
    QTRY_VERIFY_WITH_TIMEOUT(!envelope->Running(), kTimeout);
    // 20 ms across the view: a pixel is a sample or two, and the levels'
    // smallest block (576 samples, 13 ms) holds both sides of the onset.
    TypeMarks("00:01.990", "00:02.010");
    View()->setFocus();
    QTest::keyClick(View(), Qt::Key_E, Qt::ControlModifier);
    QVERIFY(View()->Scale().SamplesPerPixel() < 4);
    const int silent = static_cast<int>(View()->Scale().XOfMs(1999.0));
    const int loud = static_cast<int>(View()->Scale().XOfMs(2001.0));
    QTRY_VERIFY_WITH_TIMEOUT(View()->ShownLevel(silent).Known() && View()->ShownLevel(silent).Peak < 0.001, kTimeout);
    QVERIFY2(View()->ShownLevel(loud).Peak > 0.1, qPrintable(QString::number(View()->ShownLevel(loud).Peak)));
}

QTEST_MAIN(WaveformTest)
#include "qtest_Waveform.moc"
