// The split at points of the split page, driven by mouse and keys: each
// source of points lists its parts, an edited title reaches its part, and
// the parts written start where the list says (decoded and compared with
// the decoded source) with the titles, track numbers and artists the list
// gives (read back with mutagen); a CUE sheet beside an opened file is
// offered; the mode and its source are kept between runs. Finding the
// silences leaves the window responsive and can be stopped, and the
// silence options list the parts the command line cuts.

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Main.h"
#include "support/TestSupport.h"

#include "NamedControl.h"

namespace fs = std::filesystem;
using testsupport::Quote;
using testsupport::TempDir;

namespace {

// Answers the window's prompts from what the test sets and records the
// messages and questions in order.
class ScriptedPrompter : public GuiPrompterBase {
public:
    std::deque<std::string> cueSheets;
    std::deque<std::string> folders;
    bool yes = false;
    std::vector<std::string> events;

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon) override
    {
        events.push_back(caption + ":" + text);
    }
    std::optional<std::string> AskOpenFileName() override { return std::nullopt; }
    std::optional<std::string> AskSaveFileName(const std::string&) override { return std::nullopt; }
    std::optional<std::string> AskOpenCueSheet() override { return Next(cueSheets); }
    bool ExecuteFolderPicker(std::string& path) override
    {
        std::optional<std::string> folder = Next(folders);
        if (folder)
            path = *folder;
        return folder.has_value();
    }
    bool OpenDocument(const std::string&) override { return false; }
    bool AskYesNo(const std::string&, const std::string& text) override
    {
        events.push_back("question:" + text);
        return yes;
    }

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

struct Window {
    ScriptedPrompter* prompts = nullptr;
    std::unique_ptr<TMainForm> form;

    Window()
    {
        auto prompter = std::make_unique<ScriptedPrompter>();
        prompts = prompter.get();
        form = std::make_unique<TMainForm>(std::move(prompter), testsupport::BinFolder());
        form->show();
        QApplication::setActiveWindow(form.get());
    }
    TMainForm* operator->() const { return form.get(); }
    TMainForm& operator*() const { return *form; }
};

// A click on the button's indicator, where a check box or radio button
// takes it whatever its width.
void ClickRadio(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2)); }

// Steps the drop-down list to entry with the keys, as a user does with it focused.
void ChooseEntry(QComboBox* list, int entry)
{
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Home);
    for (int i = 0; i < entry; ++i)
        QTest::keyClick(list, Qt::Key_Down);
}

// Types text over the contents of edit.
void TypeOver(QWidget* edit, const QString& text)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

// Edits a cell of the list: a click on the row's first cell, the arrow
// keys to the column, F2, the text and Enter.
void EditCell(QTableWidget* list, int row, int column, const QString& text)
{
    const QRect first = list->visualItemRect(list->item(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
    for (int i = 0; i < column; ++i)
        QTest::keyClick(list, Qt::Key_Right);
    QTest::keyClick(list, Qt::Key_F2);
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor && editor != list);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate hands the text over from the event loop.
    QTRY_VERIFY(QApplication::focusWidget() != editor);
}

std::vector<std::string> Column(QTableWidget* list, int column)
{
    std::vector<std::string> texts;
    for (int row = 0; row < list->rowCount(); ++row)
        texts.push_back(list->item(row, column)->text().toStdString());
    return texts;
}

std::vector<int16_t> DecodedSamples(const std::string& file)
{
    const std::string pcm = file + ".pcm";
    std::vector<int16_t> samples;
    if (testsupport::Run("ffmpeg -y -v error -i " + Quote(file) + " -ac 1 -f s16le " + Quote(pcm)).exitCode != 0)
        return samples;
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(pcm);
    samples.resize(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    fs::remove(pcm);
    return samples;
}

// Where in the source the part's samples begin, looked for within three
// frames of near: a frame of the part, taken four frames after its first
// sound (past the frames a decoder needs to settle, and past silence,
// which would match anywhere), found unchanged in the source.
std::optional<int64_t> StartInSource(const std::vector<int16_t>& source, const std::vector<int16_t>& part, int64_t near)
{
    constexpr int64_t kFrame = 1152;
    const auto sound = std::find_if(part.begin(), part.end(), [](int16_t sample) { return std::abs(sample) > 2000; });
    const int64_t probe = (sound - part.begin()) + 4 * kFrame;
    if (probe + kFrame > static_cast<int64_t>(part.size()))
        return std::nullopt;
    for (int64_t start = std::max<int64_t>(0, near - 3 * kFrame); start <= near + 3 * kFrame; ++start) {
        if (start + probe + kFrame > static_cast<int64_t>(source.size()))
            break;
        if (std::equal(part.begin() + probe, part.begin() + probe + kFrame, source.begin() + start + probe))
            return start;
    }
    return std::nullopt;
}

int64_t Ms(const std::string& timeText)
{
    const auto colon = timeText.find(':');
    return std::stoll(timeText.substr(0, colon)) * 60000 + std::stoll(timeText.substr(colon + 1, 2)) * 1000 +
           std::stoll(timeText.substr(colon + 4));
}

} // namespace

class SplitListTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void eachSourceListsItsPartsAndTheSplitWritesThemAsListed();
    void aCueSheetBesideTheOpenedFileIsOffered();
    void theModeAndItsSourceAreKeptBetweenRuns();
    void findingSilencesLeavesTheWindowResponsiveAndStops();
    void theSilenceOptionsListThePartsTheCommandLineCuts();

private:
    TempDir media_;
    TempDir configHome_;
    std::string song_;  // bursts of noise apart by silences, tagged
};

void SplitListTest::initTestCase()
{
    // Before any QSettings is made: Qt reads the folder once.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(configHome_.Path().string()));
    QVERIFY2(testsupport::HaveTool("sox") && testsupport::HaveTool("lame") && testsupport::HaveTool("ffmpeg"),
             "sox, lame and ffmpeg are needed");
    // Noise from 0 to 5 s, 6.5 to 10.5 s, 10.9 to 14.9 s and 16.9 to 21.9 s:
    // silences of 1.5 s, 0.4 s and 2 s between. Noise, so that a stretch of
    // its samples is found in one place only.
    const std::string make = "sox -R -n -r 44100 -c 1 -b 16 ";
    const fs::path cached = testsupport::CachedFixtures(
        {make + "a.wav synth 5 pinknoise vol 0.5 pad 0 1.5", make + "b.wav synth 4 pinknoise vol 0.5 pad 0 0.4",
         make + "c.wav synth 4 pinknoise vol 0.5 pad 0 2", make + "d.wav synth 5 pinknoise vol 0.5",
         "sox a.wav b.wav c.wav d.wav bursts.wav",
         "lame --quiet -b 128 --tt 'Song Title' --ta 'Some Artist' --tl Album bursts.wav bursts.mp3"},
        {"bursts.mp3"});
    testsupport::CopyFixtures(cached, {"bursts.mp3"}, media_.Path().string());
    song_ = media_.File("bursts.mp3");
}

// The silence source of a window opened on song, its list shown.
void ShowSilenceSource(Window& w, const std::string& song)
{
    w->OpenFile(song);
    ClickRadio(Control<QRadioButton>(w.form, "rdbList"));
    ChooseEntry(Control<QComboBox>(w.form, "cmbSource"), 1);
}

// For each source, the list shows the parts where they are asked to
// start; the title typed over part 2's is the one its file gets.
void SplitListTest::eachSourceListsItsPartsAndTheSplitWritesThemAsListed()
{
    const fs::path sheets = media_.Path() / "sheets";
    fs::create_directories(sheets);
    const std::string sheet = (sheets / "album.cue").string();
    testsupport::WriteText(sheet, "PERFORMER \"Band\"\r\nTITLE \"Record\"\r\nFILE \"bursts.wav\" WAVE\r\n"
                                  "  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n    INDEX 01 00:03:00\r\n"
                                  "  TRACK 02 AUDIO\r\n    TITLE \"Two\"\r\n    PERFORMER \"Guest\"\r\n"
                                  "    INDEX 01 00:08:37\r\n"
                                  "  TRACK 03 AUDIO\r\n    INDEX 01 00:16:00\r\n");
    struct Row {
        const char* Source;
        int Entry;  // in the drop-down list
        std::function<void(Window&)> Fill;
        std::vector<int64_t> StartsMs;
        int64_t ListSlackMs;  // how far a listed start may lie from StartsMs
        std::vector<std::string> Titles;   // listed
        std::vector<std::string> Tags;     // written: title|track|artist
        std::string SecondName;  // of part 2 once its title is edited
    };
    const std::vector<Row> rows = {
        {"cue", 0,
         [&](Window& w) {
             w.prompts->cueSheets.push_back(sheet);
             QTest::mouseClick(Control<QPushButton>(w.form, "btnCue"), Qt::LeftButton);
         },
         {0, 3000, 8493, 16000}, 0, {"", "One", "Two", ""},
         {"Song Title|1/4|Some Artist", "Edited|2/4|Band", "Two|3/4|Guest", "Song Title|4/4|Band"}, "2 - Edited.mp3"},
        {"silence", 1,
         [&](Window& w) {
             QTest::mouseClick(Control<QPushButton>(w.form, "btnFindSilences"), Qt::LeftButton);
             QTRY_VERIFY_WITH_TIMEOUT(Control<QTableWidget>(w.form, "lstParts")->rowCount() > 0, 60000);
         },
         {0, 5750, 15900}, 40, {"", "", ""},
         {"Song Title|1/3|Some Artist", "Edited|2/3|Some Artist", "Song Title|3/3|Some Artist"}, "bursts_part_2.mp3"},
        {"every", 2, [&](Window& w) { TypeOver(Control<QLineEdit>(w.form, "edtEvery"), "00:08.000"); },
         {0, 8000, 16000}, 0, {"", "", ""},
         {"Song Title|1/3|Some Artist", "Edited|2/3|Some Artist", "Song Title|3/3|Some Artist"}, "bursts_part_2.mp3"},
        {"times", 3,
         [&](Window& w) {
             auto* times = Control<QPlainTextEdit>(w.form, "memTimes");
             QTest::mouseClick(times->viewport(), Qt::LeftButton);
             QTest::keyClicks(times, "00:00.000 Intro");
             QTest::keyClick(times, Qt::Key_Return);
             QTest::keyClicks(times, "00:06.250 Main bit");
             QTest::keyClick(times, Qt::Key_Return);
             QTest::keyClicks(times, "00:12.000");
         },
         {0, 6250, 12000}, 0, {"Intro", "Main bit", ""},
         {"Intro|1/3|Some Artist", "Edited|2/3|Some Artist", "Song Title|3/3|Some Artist"}, "2 - Edited.mp3"},
    };
    const std::vector<int16_t> source = DecodedSamples(song_);
    QVERIFY(source.size() > 44100u * 21);
    for (const Row& row : rows) {
        Window w;
        w->OpenFile(song_);
        ClickRadio(Control<QRadioButton>(w.form, "rdbList"));
        QVERIFY(Control<QWidget>(w.form, "pnlList")->isVisible());
        ChooseEntry(Control<QComboBox>(w.form, "cmbSource"), row.Entry);
        row.Fill(w);
        auto* list = Control<QTableWidget>(w.form, "lstParts");
        QCOMPARE(list->rowCount(), static_cast<int>(row.StartsMs.size()));
        for (size_t k = 0; k < row.StartsMs.size(); ++k)
            QVERIFY2(std::abs(Ms(Column(list, 0)[k]) - row.StartsMs[k]) <= row.ListSlackMs,
                     (std::string(row.Source) + ": part " + std::to_string(k + 1) + " starts at " + Column(list, 0)[k]).c_str());
        QCOMPARE(Column(list, 4), row.Titles);
        // Each part ends where the next starts; the last at the stream's end.
        for (size_t k = 0; k + 1 < row.StartsMs.size(); ++k)
            QCOMPARE(Column(list, 1)[k], Column(list, 0)[k + 1]);
        QCOMPARE(list->item(list->rowCount() - 1, 1)->text(), Control<QLabel>(w.form, "labLength")->text());

        EditCell(list, 1, 4, "Edited");
        QCOMPARE(list->item(1, 4)->text(), QString("Edited"));
        QCOMPARE(list->item(1, 3)->text().toStdString(), row.SecondName);
        const std::vector<std::string> names = Column(list, 3);

        TempDir out;
        w.prompts->folders.push_back(out.Path().string());
        QTest::mouseClick(Control<QPushButton>(w.form, "btnSplit"), Qt::LeftButton);
        QCOMPARE(w.prompts->events.back(), std::string("Information:Splitting MP3 is completed."));

        std::string files;
        size_t decodedTotal = 0;
        for (size_t k = 0; k < names.size(); ++k) {
            const std::string part = out.File(names[k]);
            QVERIFY2(fs::exists(part), (row.Source + (": no " + names[k])).c_str());
            files += " " + Quote(part);
            const int64_t listed = Ms(Column(list, 0)[k]);
            const int64_t asked = (listed * 44100 + 500) / 1000;
            const std::vector<int16_t> decoded = DecodedSamples(part);
            decodedTotal += decoded.size();
            const std::optional<int64_t> start = StartInSource(source, decoded, asked);
            QVERIFY2(start, (names[k] + " is not found near its listed start").c_str());
            QVERIFY2(std::abs(*start - asked) <= 1152, (names[k] + " starts more than a frame away").c_str());
        }
        // The parts tile the source, give or take the frame at each join
        // that both sides may decode.
        const size_t slack = 1152 * (names.size() - 1);
        QVERIFY(decodedTotal + slack >= source.size() && decodedTotal <= source.size() + slack);
        const testsupport::CommandResult tags = testsupport::Run(
            "/usr/bin/python3 -c "
            + Quote("import sys\nfrom mutagen.id3 import ID3\nfor f in sys.argv[1:]:\n t = ID3(f)\n"
                    " print('|'.join(str(t.get(k, '')) for k in ('TIT2', 'TRCK', 'TPE1')))")
            + files);
        QCOMPARE(tags.exitCode, 0);
        std::string expected;
        for (const std::string& line : row.Tags)
            expected += line + "\n";
        QVERIFY2(tags.output == expected, (row.Source + (": " + tags.output)).c_str());
    }
}

// A sheet of the opened file's name beside it is offered once the file is
// open; taken, it fills the list; declined, the page stays as it was.
void SplitListTest::aCueSheetBesideTheOpenedFileIsOffered()
{
    const fs::path album = media_.Path() / "beside";
    fs::create_directories(album);
    fs::copy_file(song_, album / "bursts.mp3", fs::copy_options::overwrite_existing);
    testsupport::WriteText((album / "bursts.cue").string(), "FILE \"bursts.wav\" WAVE\n  TRACK 01 AUDIO\n"
                                                           "    TITLE \"First\"\n    INDEX 01 00:00:00\n"
                                                           "  TRACK 02 AUDIO\n    TITLE \"Second\"\n"
                                                           "    INDEX 01 00:10:00\n");
    for (const bool accepted : {true, false}) {
        Window w;
        w.prompts->yes = accepted;
        w->OpenFile((album / "bursts.mp3").string());
        QCOMPARE(w.prompts->events.size(), size_t(1));
        QVERIFY(w.prompts->events[0].find((album / "bursts.cue").string()) != std::string::npos);
        QCOMPARE(Control<QRadioButton>(w.form, "rdbList")->isChecked(), accepted);
        QCOMPARE(Control<QRadioButton>(w.form, "rdbTime")->isChecked(), !accepted);
        auto* list = Control<QTableWidget>(w.form, "lstParts");
        const std::vector<std::string> listed = accepted ? std::vector<std::string>{"First", "Second"}
                                                         : std::vector<std::string>{};
        QCOMPARE(Column(list, 4), listed);
        QCOMPARE(Control<QWidget>(w.form, "pnlList")->isVisible(), accepted);
    }
}

void SplitListTest::theModeAndItsSourceAreKeptBetweenRuns()
{
    {
        TMainForm form(nullptr, testsupport::BinFolder());
        form.RestoreMemory();
        form.show();
        ClickRadio(Control<QRadioButton>(&form, "rdbList"));
        ChooseEntry(Control<QComboBox>(&form, "cmbSource"), 1);
        ClickRadio(Control<QCheckBox>(&form, "chkTrimSilence"));
        ChooseEntry(Control<QComboBox>(&form, "cmbSource"), 2);
    }
    TMainForm form(nullptr, testsupport::BinFolder());
    form.RestoreMemory();
    form.show();
    QVERIFY(Control<QRadioButton>(&form, "rdbList")->isChecked());
    QVERIFY(Control<QWidget>(&form, "pnlList")->isVisible());
    QVERIFY(Control<QLineEdit>(&form, "edtEvery")->isVisible());
    QVERIFY(!Control<QLineEdit>(&form, "edtStart")->isVisible());
    QVERIFY(Control<QCheckBox>(&form, "chkTrimSilence")->isChecked());
    QVERIFY(!Control<QCheckBox>(&form, "chkCutAtEnd")->isChecked());
}

// The search returns to the event loop at once (the button offers to stop
// it, nothing is listed yet) and lists the parts when it ends; stopped by
// the button, by another file or by closing the window, nothing of it
// arrives afterwards.
void SplitListTest::findingSilencesLeavesTheWindowResponsiveAndStops()
{
    struct Row {
        const char* Case;
        std::function<void(Window&, QPushButton*)> Then;  // right after Find is pressed
        int Parts;  // listed once the events are handled
    };
    const std::vector<Row> rows = {
        {"left to end", [](Window&, QPushButton*) {}, 3},
        {"stopped", [](Window&, QPushButton* find) { QTest::mouseClick(find, Qt::LeftButton); }, 0},
        {"another file", [&](Window& w, QPushButton*) { w->OpenFile(song_); }, 0},
        {"window closed", [](Window& w, QPushButton*) { w.form.reset(); }, -1},
    };
    for (const Row& row : rows) {
        Window w;
        ShowSilenceSource(w, song_);
        auto* find = Control<QPushButton>(w.form, "btnFindSilences");
        auto* list = Control<QTableWidget>(w.form, "lstParts");
        bool timerFired = false;
        QTimer::singleShot(0, [&] { timerFired = true; });
        QTest::mouseClick(find, Qt::LeftButton);
        QVERIFY2(!timerFired && find->text() == "&Stop" && list->rowCount() == 0, row.Case);
        row.Then(w, find);
        QTRY_VERIFY(timerFired);
        if (row.Parts < 0)
            continue;
        if (row.Parts > 0) {
            QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), row.Parts, 60000);
        } else {
            // Long enough for the abandoned decode to have ended many times over.
            QTest::qWait(1000);
            QVERIFY2(list->rowCount() == 0, row.Case);
        }
        QVERIFY2(find->text() == "&Find silences", row.Case);
        QVERIFY2(w.prompts->events.empty(), row.Case);
    }
}

// Each combination of the two options lists the parts corvella-cli cuts
// with the same flags, to the millisecond.
void SplitListTest::theSilenceOptionsListThePartsTheCommandLineCuts()
{
    struct Row {
        bool CutAtEnd;
        bool Trim;
        const char* Flags;
    };
    const std::vector<Row> rows = {
        {false, false, ""}, {true, false, " --cut-at-end"}, {false, true, " --trim"}, {true, true, " --cut-at-end --trim"}};
    Window w;
    ShowSilenceSource(w, song_);
    auto* list = Control<QTableWidget>(w.form, "lstParts");
    QTest::mouseClick(Control<QPushButton>(w.form, "btnFindSilences"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(list->rowCount() > 0, 60000);
    std::vector<std::vector<int64_t>> listings;
    for (const Row& row : rows) {
        TempDir out;
        const testsupport::CommandResult cli = testsupport::Run(
            Quote(testsupport::BinFolder() + "corvella-cli") + " split " + Quote(song_) + " " + Quote(out.Path().string())
            + " --silence --json" + row.Flags);
        QVERIFY2(cli.exitCode == 0, cli.output.c_str());
        std::vector<int64_t> expected;
        for (const QByteArray& line : QByteArray::fromStdString(cli.output).split('\n')) {
            const QJsonObject part = QJsonDocument::fromJson(line).object();
            if (part.contains("start_ms"))
                expected.insert(expected.end(), {part["start_ms"].toInteger(), part["end_ms"].toInteger()});
        }
        auto* cutAtEnd = Control<QCheckBox>(w.form, "chkCutAtEnd");
        auto* trim = Control<QCheckBox>(w.form, "chkTrimSilence");
        if (cutAtEnd->isChecked() != row.CutAtEnd)
            ClickRadio(cutAtEnd);
        if (trim->isChecked() != row.Trim)
            ClickRadio(trim);
        std::vector<int64_t> listed;
        for (int k = 0; k < list->rowCount(); ++k)
            listed.insert(listed.end(), {Ms(list->item(k, 0)->text().toStdString()), Ms(list->item(k, 1)->text().toStdString())});
        auto text = [](const std::vector<int64_t>& times) {
            std::string joined;
            for (int64_t ms : times)
                joined += " " + std::to_string(ms);
            return joined;
        };
        QVERIFY2(listed == expected, (row.Flags + (": listed" + text(listed)) + ", cut" + text(expected)).c_str());
        listings.push_back(listed);
    }
    // Each option moves the parts: the comparison is not between four
    // equal listings.
    for (size_t k = 1; k < listings.size(); ++k)
        QVERIFY(listings[k] != listings[0]);
}

QTEST_MAIN(SplitListTest)
#include "qtest_SplitList.moc"
