// The page "  Edit Tag  " driven through the real controls of a real main
// window: what it shows of a file's two tags, the copies between them, and
// what "&Updat All" writes (checked with the tag classes and with mutagen).

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>

#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "app/Main.h"
#include "support/ByteBuilders.h"
#include "support/TestSupport.h"

#include "NamedControl.h"

namespace {

struct ShownMessage {
    std::string caption;
    std::string text;
    MessageIcon icon;
};

// Answers the window's prompts from a queue the test fills; an open dialog
// with an empty queue is answered as cancelled.
class ScriptedPrompter : public GuiPrompterBase {
public:
    std::deque<std::string> openFileNames;
    std::vector<ShownMessage> messages;
    // Answers to "save the edits?", in order; none left answers Cancel.
    std::deque<UnsavedEditsAnswer> editAnswers;
    std::vector<std::string> editQuestions;  // the files asked about

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override
    {
        messages.push_back({caption, text, icon});
    }
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
    UnsavedEditsAnswer AskSaveEdits(const std::string& fileName) override
    {
        editQuestions.push_back(fileName);
        if (editAnswers.empty())
            return UnsavedEditsAnswer::Cancel;
        const UnsavedEditsAnswer answer = editAnswers.front();
        editAnswers.pop_front();
        return answer;
    }
    // Questions asked; each is answered from yesAnswers, No when it is empty.
    std::vector<std::string> questions;
    std::deque<bool> yesAnswers;
    bool AskYesNo(const std::string&, const std::string& text) override
    {
        questions.push_back(text);
        const bool yes = !yesAnswers.empty() && yesAnswers.front();
        if (!yesAnswers.empty())
            yesAnswers.pop_front();
        return yes;
    }
};

// Types a text key by key; unlike QTest::keyClicks it takes any character.
void TypeText(QWidget* widget, const QString& text)
{
    for (QChar character : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(character), Qt::NoModifier);
}

using Bytes = std::vector<uint8_t>;

using bytebuild::PutText;

// A 128-byte ID3v1 block; track 0 gives the 1.0 form.
Bytes Id3v1Block(const std::string& title, const std::string& artist, uint8_t track, uint8_t genre)
{
    return bytebuild::Id3v1Block({title, artist, "Album", "1999", "Comment", track, genre});
}

// Runs a mutagen script with the system's Python on one file (argv[1]);
// returns what it printed.
std::string Mutagen(const std::string& script, const std::string& path)
{
    const auto result =
        testsupport::Run("/usr/bin/python3 -c " + testsupport::Quote(script) + " " + testsupport::Quote(path));
    if (result.exitCode != 0)
        throw std::runtime_error("mutagen failed: " + result.output);
    return result.output;
}

const char* const kWriteTagsWithCover = R"(
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TCON, TRCK, APIC
tags = ID3()
tags.add(TIT2(encoding=3, text="Seaside"))
tags.add(TPE1(encoding=3, text="Gulls"))
tags.add(TCON(encoding=3, text="rock"))
tags.add(TRCK(encoding=3, text="5"))
tags.add(APIC(encoding=0, mime="image/png", type=3, desc="", data=bytes(range(256)) * 40))
tags.save(sys.argv[1], v2_version=3)
)";

const char* const kPrintCover = R"(
import sys, hashlib
from mutagen.id3 import ID3
pictures = ID3(sys.argv[1]).getall("APIC")
for p in pictures:
    print(p.mime, int(p.type), len(p.data), hashlib.sha1(p.data).hexdigest())
)";

const char* const kPrintTitle = R"(
import sys
from mutagen.id3 import ID3
print(ID3(sys.argv[1])["TIT2"].text[0])
)";

} // namespace

class TagPageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsAnId3v11TagWithTrackAndGenre();
    void showsAnId3v10Tag();
    void fileWithoutTagsGetsOnlyTheCheckedTag();
    void clearedId3v2BoxLeavesTheFilesId3v2TagUnchanged();
    void copiesBetweenTheTags();
    void trackNumbersAreWrittenAsOneByte();
    void trackTotalsAreShownKeptAndTyped();
    void nonLatinTitleKeptInId3v2AndSubstitutedInId3v1();
    void coverPictureSurvivesAnEdit();
    void failedWriteIsReportedNamingTheFile();
    void typingIsLimitedButCopiesAreWhole();
    void openButtonAndMissingFile();
    void pageSwitchKeepsTheTagPagesFileAndEdits();
    void unsavedEditsAreAskedAboutBeforeAnotherFileOrClosing();
    void aFileChangedSinceItWasShownIsNotOverwrittenAndMayBeReloaded();

private:
    // A copy of the tag-less tone with the given bytes in front and behind.
    std::string MakeFile(const std::string& name, const Bytes& behind = {});
    void ShowPageFor(const std::string& path);
    // Shows the window and clicks the tab of page with the mouse.
    void ClickTab(QWidget* page);

    testsupport::TempDir dir_;
    Bytes tone_;
    std::unique_ptr<TMainForm> form_;
    ScriptedPrompter* prompts_ = nullptr; // owned by form_
};

void TagPageTest::initTestCase()
{
    const std::string tone = dir_.File("tone.mp3");
    testsupport::MakeMp3(tone, 1.0);
    tone_ = testsupport::ReadBytes(tone);
    QVERIFY(tone_.size() > 1000);
    QVERIFY(!(tone_[0] == 'I' && tone_[1] == 'D' && tone_[2] == '3'));
}

void TagPageTest::init()
{
    auto prompter = std::make_unique<ScriptedPrompter>();
    prompts_ = prompter.get();
    form_ = std::make_unique<TMainForm>(std::move(prompter), testsupport::BinFolder());
}

void TagPageTest::cleanup()
{
    form_.reset();
    prompts_ = nullptr;
}

std::string TagPageTest::MakeFile(const std::string& name, const Bytes& behind)
{
    const std::string path = dir_.File(name);
    testsupport::WriteBytes(path, bytebuild::Cat({tone_, behind}));
    return path;
}

void TagPageTest::ShowPageFor(const std::string& path)
{
    Control<QLineEdit>(form_, "edtFile")->setText(QString::fromStdString(path));
    Control<QTabWidget>(form_, "pgcMain")->setCurrentWidget(Control<QWidget>(form_, "tabSplit"));
    Control<QTabWidget>(form_, "pgcMain")->setCurrentWidget(Control<QWidget>(form_, "tabTag"));
    QCOMPARE(Control<QLineEdit>(form_, "edtFileTag")->text(), QString::fromStdString(path));
}

void TagPageTest::showsAnId3v11TagWithTrackAndGenre()
{
    const std::string path = MakeFile("v11.mp3", Id3v1Block("Harbour", "Pilots", 7, 17));
    ShowPageFor(path);

    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->count(), 149);
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->itemText(0), QString());
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->itemText(1), QString("Blues"));
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->itemText(148), QString("Synthpop"));

    QVERIFY(Control<QCheckBox>(form_, "chkTagExists1")->isChecked());
    QCOMPARE(Control<QGroupBox>(form_, "gpbID3v1")->title(), QString("ID3v1 - Version 1.1"));
    QCOMPARE(Control<QLineEdit>(form_, "TrackEdit1")->text(), QString("7"));
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->currentIndex(), 18);
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->currentText(), QString("Rock"));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("Harbour"));
    QCOMPARE(Control<QLineEdit>(form_, "ArtistEdit1")->text(), QString("Pilots"));
    QCOMPARE(Control<QLineEdit>(form_, "AlbumEdit1")->text(), QString("Album"));
    QCOMPARE(Control<QLineEdit>(form_, "YearEdit1")->text(), QString("1999"));
    QCOMPARE(Control<QLineEdit>(form_, "CommentEdit1")->text(), QString("Comment"));
    QVERIFY(Control<QLineEdit>(form_, "TitleEdit1")->isEnabled());

    // No ID3v2 tag: its group is empty, disabled and greyed.
    QVERIFY(!Control<QCheckBox>(form_, "chkTagExists")->isChecked());
    QCOMPARE(Control<QGroupBox>(form_, "gpbID3v2")->title(), QString("ID3v2"));
    for (QWidget* field : Controls<QWidget>(form_, {"TrackEdit", "TitleEdit", "ArtistEdit", "AlbumEdit", "YearEdit",
                                                    "GenreEdit", "CommentMemo"})) {
        QVERIFY(!field->isEnabled());
        QCOMPARE(field->palette().color(QPalette::Base), QColor(0xBF, 0xCD, 0xDB));
    }
    QVERIFY(form_->palette().color(QPalette::Base) != QColor(0xBF, 0xCD, 0xDB));

    // Checking the box brings the fields back in the window colour.
    Control<QCheckBox>(form_, "chkTagExists")->click();
    QVERIFY(Control<QLineEdit>(form_, "TitleEdit")->isEnabled());
    QCOMPARE(Control<QPlainTextEdit>(form_, "CommentMemo")->palette().color(QPalette::Base),
             Control<QWidget>(form_, "tabTag")->palette().color(QPalette::Base));
}

void TagPageTest::showsAnId3v10Tag()
{
    Bytes block = Id3v1Block("Old", "Form", 0, 255);
    PutText(block, 97, "A comment thirty chars long!!!");
    const std::string path = MakeFile("v10.mp3", block);
    ShowPageFor(path);

    QVERIFY(Control<QCheckBox>(form_, "chkTagExists1")->isChecked());
    QCOMPARE(Control<QGroupBox>(form_, "gpbID3v1")->title(), QString("ID3v1 - Version 1.0"));
    QCOMPARE(Control<QLineEdit>(form_, "TrackEdit1")->text(), QString("0"));
    QCOMPARE(Control<QLineEdit>(form_, "CommentEdit1")->text(), QString("A comment thirty chars long!!!"));
    QVERIFY(Control<QComboBox>(form_, "GenreComboBox1")->currentIndex() <= 0);
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->currentText(), QString());
}

void TagPageTest::fileWithoutTagsGetsOnlyTheCheckedTag()
{
    const std::string path = MakeFile("bare.mp3");
    ShowPageFor(path);
    QVERIFY(!Control<QCheckBox>(form_, "chkTagExists1")->isChecked());
    QVERIFY(!Control<QCheckBox>(form_, "chkTagExists")->isChecked());
    QVERIFY(!Control<QLineEdit>(form_, "TitleEdit1")->isEnabled());
    QVERIFY(!Control<QLineEdit>(form_, "TitleEdit")->isEnabled());

    Control<QCheckBox>(form_, "chkTagExists1")->click();
    QVERIFY(Control<QLineEdit>(form_, "TitleEdit1")->isEnabled());
    QVERIFY(Control<QComboBox>(form_, "GenreComboBox1")->isEnabled());
    QTest::keyClicks(Control<QLineEdit>(form_, "TitleEdit1"), "First Light");
    // Text typed into the disabled ID3v2 group's fields must not reach the file.
    Control<QLineEdit>(form_, "TitleEdit")->setText("Not to be written");
    Control<QPushButton>(form_, "Button3")->click();

    const Bytes written = testsupport::ReadBytes(path);
    QCOMPARE(written.size(), tone_.size() + 128);
    QVERIFY(std::equal(tone_.begin(), tone_.end(), written.begin()));
    TID3v1 id3v1;
    QVERIFY(id3v1.ReadTag(path));
    QVERIFY(id3v1.Exists());
    QCOMPARE(id3v1.Title(), std::string("First Light"));
    QCOMPARE(id3v1.Track(), uint8_t(0));
    QCOMPARE(id3v1.GenreID(), uint8_t(255));
    QVERIFY(prompts_->messages.empty());
}

void TagPageTest::clearedId3v2BoxLeavesTheFilesId3v2TagUnchanged()
{
    const std::string path = MakeFile("both.mp3");
    Mutagen(kWriteTagsWithCover, path);
    const Bytes before = testsupport::ReadBytes(path);
    ShowPageFor(path);
    QVERIFY(Control<QCheckBox>(form_, "chkTagExists")->isChecked());
    QCOMPARE(Control<QGroupBox>(form_, "gpbID3v2")->title(), QString("ID3v2 - Version 2.3"));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit")->text(), QString("Seaside"));
    QCOMPARE(Control<QLineEdit>(form_, "TrackEdit")->text(), QString("5"));
    QCOMPARE(Control<QLineEdit>(form_, "GenreEdit")->text(), QString("rock"));

    Control<QCheckBox>(form_, "chkTagExists")->click();
    QVERIFY(!Control<QLineEdit>(form_, "TitleEdit")->isEnabled());
    Control<QLineEdit>(form_, "TitleEdit")->setText("Changed");
    Control<QCheckBox>(form_, "chkTagExists1")->click();
    Control<QLineEdit>(form_, "TitleEdit1")->setText("Only v1");
    Control<QPushButton>(form_, "Button3")->click();

    const Bytes after = testsupport::ReadBytes(path);
    QCOMPARE(after.size(), before.size() + 128);
    QVERIFY(std::equal(before.begin(), before.end(), after.begin()));
    QVERIFY(prompts_->messages.empty());
}

void TagPageTest::copiesBetweenTheTags()
{
    const std::string path = MakeFile("copy.mp3", Id3v1Block("Harbour", "Pilots", 7, 17));
    Mutagen(kWriteTagsWithCover, path);
    ShowPageFor(path);

    // Copy from ID3v2: "rock" matches "Rock" whatever the case.
    Control<QComboBox>(form_, "GenreComboBox1")->setCurrentIndex(0);
    Control<QPlainTextEdit>(form_, "CommentMemo")->setPlainText("Line one\nline two");
    Control<QPushButton>(form_, "Button2")->click();
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->currentText(), QString("Rock"));
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->currentIndex(), 18);
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("Seaside"));
    QCOMPARE(Control<QLineEdit>(form_, "ArtistEdit1")->text(), QString("Gulls"));
    QCOMPARE(Control<QLineEdit>(form_, "TrackEdit1")->text(), QString("5"));
    QCOMPARE(Control<QLineEdit>(form_, "CommentEdit1")->text(), QString("Line one\nline two"));

    // A genre without an entry leaves the selection; an empty one picks the blank entry.
    Control<QLineEdit>(form_, "GenreEdit")->setText("Sea shanty");
    Control<QPushButton>(form_, "Button2")->click();
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->currentIndex(), 18);
    Control<QLineEdit>(form_, "GenreEdit")->clear();
    Control<QPushButton>(form_, "Button2")->click();
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->currentIndex(), 0);

    // Copy to ID3v2 carries the genre's name.
    Control<QComboBox>(form_, "GenreComboBox1")->setCurrentIndex(1 + 8);
    Control<QLineEdit>(form_, "TrackEdit1")->setText("9");
    Control<QPushButton>(form_, "Button1")->click();
    QCOMPARE(Control<QLineEdit>(form_, "GenreEdit")->text(), QString("Jazz"));
    QCOMPARE(Control<QLineEdit>(form_, "TrackEdit")->text(), QString("9"));
    QCOMPARE(Control<QPlainTextEdit>(form_, "CommentMemo")->toPlainText(),
             Control<QLineEdit>(form_, "CommentEdit1")->text());

    // With its box clear, a group is not copied from.
    Control<QCheckBox>(form_, "chkTagExists")->click();
    Control<QLineEdit>(form_, "TitleEdit")->setText("Ignored");
    Control<QPushButton>(form_, "Button2")->click();
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("Seaside"));
    Control<QCheckBox>(form_, "chkTagExists1")->click();
    Control<QCheckBox>(form_, "chkTagExists")->click();
    Control<QPushButton>(form_, "Button1")->click();
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit")->text(), QString("Ignored"));

    // Copying into a group with its box clear checks the box.
    Control<QCheckBox>(form_, "chkTagExists")->click();
    QVERIFY(!Control<QCheckBox>(form_, "chkTagExists")->isChecked());
    Control<QCheckBox>(form_, "chkTagExists1")->click();
    Control<QPushButton>(form_, "Button1")->click();
    QVERIFY(Control<QCheckBox>(form_, "chkTagExists")->isChecked());
    QVERIFY(Control<QLineEdit>(form_, "TitleEdit")->isEnabled());
}

void TagPageTest::trackNumbersAreWrittenAsOneByte()
{
    struct Case {
        QString typed;
        uint8_t stored;
    };
    for (const Case& c : {Case{"abc", 0}, Case{"0", 0}, Case{"-3", 0}, Case{"300", 44}, Case{"12", 12}}) {
        const std::string path = MakeFile("track.mp3", Id3v1Block("T", "A", 3, 1));
        ShowPageFor(path);
        Control<QCheckBox>(form_, "chkTagExists")->click();
        Control<QLineEdit>(form_, "TrackEdit")->setText(c.typed);
        Control<QPushButton>(form_, "Button2")->click(); // the ID3v1 field takes the whole text too
        QCOMPARE(Control<QLineEdit>(form_, "TrackEdit1")->text(), c.typed);
        Control<QPushButton>(form_, "Button3")->click();

        TID3v1 id3v1;
        QVERIFY(id3v1.ReadTag(path));
        QCOMPARE(id3v1.Track(), c.stored);
        TID3v2 id3v2;
        QVERIFY(id3v2.ReadTag(path));
        QVERIFY(id3v2.Exists());
        QCOMPARE(id3v2.Track(), c.stored);
        QVERIFY(prompts_->messages.empty());
    }
}

void TagPageTest::trackTotalsAreShownKeptAndTyped()
{
    const std::string path = MakeFile("total.mp3", Id3v1Block("T", "A", 3, 1));
    TID3v2 written;
    written.SetTitle("T");
    written.SetTrack(3);
    written.SetTrackTotal("12");
    QVERIFY(written.WriteTag(path));
    ShowPageFor(path);
    QCOMPARE(Control<QLineEdit>(form_, "TrackEdit")->text(), QString("3/12"));
    Control<QLineEdit>(form_, "TitleEdit")->setText("Other");
    Control<QPushButton>(form_, "Button3")->click();
    TID3v2 id3v2;
    QVERIFY(id3v2.ReadTag(path));
    QCOMPARE(id3v2.Track(), uint8_t(3));
    QCOMPARE(id3v2.TrackTotal(), std::string("12"));

    Control<QLineEdit>(form_, "TrackEdit")->setText("7/9");
    Control<QPushButton>(form_, "Button2")->click();  // ID3v1 takes the number
    QCOMPARE(Control<QLineEdit>(form_, "TrackEdit1")->text(), QString("7"));
    Control<QPushButton>(form_, "Button3")->click();
    QVERIFY(id3v2.ReadTag(path));
    QCOMPARE(id3v2.Track(), uint8_t(7));
    QCOMPARE(id3v2.TrackTotal(), std::string("9"));
    TID3v1 id3v1;
    QVERIFY(id3v1.ReadTag(path));
    QCOMPARE(id3v1.Track(), uint8_t(7));
    QVERIFY(prompts_->messages.empty());
}

void TagPageTest::nonLatinTitleKeptInId3v2AndSubstitutedInId3v1()
{
    const std::string path = MakeFile("dolphin.mp3");
    ShowPageFor(path);
    Control<QCheckBox>(form_, "chkTagExists1")->click();
    Control<QCheckBox>(form_, "chkTagExists")->click();
    TypeText(Control<QLineEdit>(form_, "TitleEdit1"), QString::fromUtf8("Дельфин"));
    TypeText(Control<QLineEdit>(form_, "TitleEdit"), QString::fromUtf8("Дельфин"));
    TypeText(Control<QLineEdit>(form_, "ArtistEdit"), QString::fromUtf8("Zoë"));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit")->text(), QString::fromUtf8("Дельфин"));
    Control<QPushButton>(form_, "Button3")->click();
    QVERIFY(prompts_->messages.empty());

    TID3v2 id3v2;
    QVERIFY(id3v2.ReadTag(path));
    QCOMPARE(QString::fromStdString(id3v2.Title()), QString::fromUtf8("Дельфин"));
    QCOMPARE(QString::fromStdString(id3v2.Artist()), QString::fromUtf8("Zoë"));
    QCOMPARE(QString::fromStdString(Mutagen(kPrintTitle, path)).trimmed(), QString::fromUtf8("Дельфин"));
    TID3v1 id3v1;
    QVERIFY(id3v1.ReadTag(path));
    QCOMPARE(id3v1.Title(), std::string("???????"));

    // Shown again, the page reads the same texts back.
    ShowPageFor(path);
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit")->text(), QString::fromUtf8("Дельфин"));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("???????"));
}

void TagPageTest::coverPictureSurvivesAnEdit()
{
    const std::string path = MakeFile("cover.mp3");
    Mutagen(kWriteTagsWithCover, path);
    const std::string coverBefore = Mutagen(kPrintCover, path);
    QVERIFY(coverBefore.find("image/png 3 10240") != std::string::npos);
    ShowPageFor(path);

    Control<QLineEdit>(form_, "TitleEdit")->setText("Seaside (edit)");
    Control<QPushButton>(form_, "Button3")->click();
    QVERIFY(prompts_->messages.empty());
    QCOMPARE(Mutagen(kPrintCover, path), coverBefore);
    QCOMPARE(QString::fromStdString(Mutagen(kPrintTitle, path)).trimmed(), QString("Seaside (edit)"));

    // The page's tag object is shared with the split commands: a tag read
    // from another file since the page was filled must not lend its frames.
    const std::string other = MakeFile("other.mp3");
    ShowPageFor(path);
    QVERIFY(form_->Id3v2().ReadTag(other));
    Control<QPushButton>(form_, "Button3")->click();
    QCOMPARE(Mutagen(kPrintCover, path), coverBefore);
}

void TagPageTest::failedWriteIsReportedNamingTheFile()
{
    // Too short to hold an ID3v1 tag's place: the ID3v1 write fails.
    const std::string tiny = dir_.File("tiny.mp3");
    testsupport::WriteBytes(tiny, Bytes(60, 0xFF));
    ShowPageFor(tiny);
    Control<QCheckBox>(form_, "chkTagExists1")->click();
    Control<QLineEdit>(form_, "TitleEdit1")->setText("Tiny");
    Control<QPushButton>(form_, "Button3")->click();
    QCOMPARE(prompts_->messages.size(), size_t(1));
    QCOMPARE(prompts_->messages[0].caption, std::string("Information"));
    QVERIFY(prompts_->messages[0].icon == MessageIcon::Information);
    QVERIFY(prompts_->messages[0].text.find(tiny) != std::string::npos);
    QVERIFY(prompts_->messages[0].text.find("ID3v1") != std::string::npos);

    // Too short to hold an ID3v2 header: the ID3v2 write fails and the
    // file is left as it was.
    prompts_->messages.clear();
    const std::string stub = dir_.File("stub.mp3");
    const Bytes stubBytes{0xFF, 0xFB, 0x90, 0x64, 0x00, 0x00};
    testsupport::WriteBytes(stub, stubBytes);
    prompts_->editAnswers.push_back(UnsavedEditsAnswer::Discard);  // the tiny file's edits, never written
    ShowPageFor(stub);
    Control<QCheckBox>(form_, "chkTagExists")->click();
    Control<QLineEdit>(form_, "TitleEdit")->setText("Stub");
    Control<QPushButton>(form_, "Button3")->click();
    QCOMPARE(prompts_->messages.size(), size_t(1));
    QCOMPARE(prompts_->messages[0].caption, std::string("Information"));
    QVERIFY(prompts_->messages[0].text.find(stub) != std::string::npos);
    QVERIFY(prompts_->messages[0].text.find("ID3v2") != std::string::npos);
    // ... and says why, in the tag writer's own words.
    QVERIFY(!form_->Id3v2().WriteError().empty());
    QVERIFY(prompts_->messages[0].text.find(form_->Id3v2().WriteError()) != std::string::npos);
    QCOMPARE(testsupport::ReadBytes(stub), stubBytes);
}

void TagPageTest::typingIsLimitedButCopiesAreWhole()
{
    const std::string path = MakeFile("limits.mp3");
    ShowPageFor(path);
    Control<QCheckBox>(form_, "chkTagExists1")->click();
    Control<QCheckBox>(form_, "chkTagExists")->click();

    QTest::keyClicks(Control<QLineEdit>(form_, "TitleEdit1"), QString(35, 'x'));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString(30, 'x'));
    QTest::keyClicks(Control<QLineEdit>(form_, "TrackEdit1"), "123");
    QCOMPARE(Control<QLineEdit>(form_, "TrackEdit1")->text(), QString("12"));
    QTest::keyClicks(Control<QLineEdit>(form_, "YearEdit1"), "20245");
    QCOMPARE(Control<QLineEdit>(form_, "YearEdit1")->text(), QString("2024"));
    QTest::keyClicks(Control<QLineEdit>(form_, "CommentEdit1"), QString(31, 'c'));
    QCOMPARE(Control<QLineEdit>(form_, "CommentEdit1")->text().size(), 30);
    QTest::keyClicks(Control<QLineEdit>(form_, "AlbumEdit"), QString(400, 'a'));  // ID3v2 texts are kept whole
    QCOMPARE(Control<QLineEdit>(form_, "AlbumEdit")->text().size(), 400);

    // A long ID3v2 title is copied whole; typing cannot lengthen it further,
    // and the tag class cuts it to 30 characters when it is written.
    const QString longTitle = QString("A title much longer than thirty characters");
    Control<QLineEdit>(form_, "TitleEdit")->setText(longTitle);
    Control<QPushButton>(form_, "Button2")->click();
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), longTitle);
    Control<QLineEdit>(form_, "TitleEdit1")->end(false);
    QTest::keyClicks(Control<QLineEdit>(form_, "TitleEdit1"), "!");
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), longTitle);
    QTest::keyClick(Control<QLineEdit>(form_, "TitleEdit1"), Qt::Key_Backspace);
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), longTitle.chopped(1));
    Control<QPushButton>(form_, "Button3")->click();
    TID3v1 id3v1;
    QVERIFY(id3v1.ReadTag(path));
    QCOMPARE(QString::fromStdString(id3v1.Title()), longTitle.chopped(1).left(30));
}

void TagPageTest::openButtonAndMissingFile()
{
    const std::string first = MakeFile("first.mp3", Id3v1Block("First", "A", 1, 2));
    const std::string second = MakeFile("second.mp3", Id3v1Block("Second", "B", 2, 3));
    Control<QTabWidget>(form_, "pgcMain")->setCurrentWidget(Control<QWidget>(form_, "tabTag"));
    QCOMPARE(Control<QLineEdit>(form_, "edtFileTag")->text(), QString());

    prompts_->openFileNames.push_back(first);
    Control<QPushButton>(form_, "btnOpenTag")->click();
    QCOMPARE(Control<QLineEdit>(form_, "edtFileTag")->text(), QString::fromStdString(first));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("First"));

    // A cancelled dialog leaves the page as it was, unsaved edits included.
    Control<QLineEdit>(form_, "TitleEdit1")->setText("Unsaved");
    Control<QPushButton>(form_, "btnOpenTag")->click();
    QCOMPARE(Control<QLineEdit>(form_, "edtFileTag")->text(), QString::fromStdString(first));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("Unsaved"));

    prompts_->editAnswers.push_back(UnsavedEditsAnswer::Discard);
    prompts_->openFileNames.push_back(second);
    Control<QPushButton>(form_, "btnOpenTag")->click();
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("Second"));
    QCOMPARE(Control<QComboBox>(form_, "GenreComboBox1")->currentIndex(), 4);

    // A path that names no file: both groups are emptied and nothing is written.
    const std::string missing = dir_.File("missing.mp3");
    prompts_->openFileNames.push_back(missing);
    Control<QPushButton>(form_, "btnOpenTag")->click();
    QVERIFY(!Control<QCheckBox>(form_, "chkTagExists1")->isChecked());
    QVERIFY(!Control<QCheckBox>(form_, "chkTagExists")->isChecked());
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString());
    QCOMPARE(Control<QGroupBox>(form_, "gpbID3v1")->title(), QString("ID3v1"));
    Control<QCheckBox>(form_, "chkTagExists1")->click();
    Control<QLineEdit>(form_, "TitleEdit1")->setText("Nowhere");
    Control<QPushButton>(form_, "Button3")->click();
    QVERIFY(!std::filesystem::exists(missing));
    QVERIFY(prompts_->messages.empty());
}

void TagPageTest::ClickTab(QWidget* page)
{
    if (!form_->isVisible()) {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    auto* pages = Control<QTabWidget>(form_, "pgcMain");
    QTabBar* bar = pages->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(pages->indexOf(page)).center());
    QCOMPARE(pages->currentWidget(), page);
}

void TagPageTest::pageSwitchKeepsTheTagPagesFileAndEdits()
{
    const std::string splitFile = MakeFile("split-page.mp3", Id3v1Block("Split", "A", 1, 2));
    const std::string tagFile = MakeFile("tag-page.mp3", Id3v1Block("Tagged", "B", 2, 3));
    prompts_->openFileNames.push_back(splitFile);
    QTest::mouseClick(Control<QPushButton>(form_, "btnOpen"), Qt::LeftButton);
    ClickTab(Control<QWidget>(form_, "tabTag"));
    QCOMPARE(Control<QLineEdit>(form_, "edtFileTag")->text(), QString::fromStdString(splitFile));

    // Another file opened here, and an ID3v2 title typed for it.
    prompts_->openFileNames.push_back(tagFile);
    QTest::mouseClick(Control<QPushButton>(form_, "btnOpenTag"), Qt::LeftButton);
    QTest::keyClick(Control<QCheckBox>(form_, "chkTagExists"), Qt::Key_Space);
    QVERIFY(Control<QCheckBox>(form_, "chkTagExists")->isChecked());
    QTest::keyClicks(Control<QLineEdit>(form_, "TitleEdit"), "New title");

    ClickTab(Control<QWidget>(form_, "tabSplit"));
    ClickTab(Control<QWidget>(form_, "tabTag"));
    QCOMPARE(Control<QLineEdit>(form_, "edtFileTag")->text(), QString::fromStdString(tagFile));
    QVERIFY(Control<QCheckBox>(form_, "chkTagExists")->isChecked());
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit")->text(), QString("New title"));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("Tagged"));
    QVERIFY(prompts_->editQuestions.empty());
}

void TagPageTest::unsavedEditsAreAskedAboutBeforeAnotherFileOrClosing()
{
    const std::string first = MakeFile("asked-first.mp3", Id3v1Block("First", "A", 1, 2));
    const std::string second = MakeFile("asked-second.mp3", Id3v1Block("Second", "B", 2, 3));
    ClickTab(Control<QWidget>(form_, "tabTag"));
    prompts_->openFileNames.push_back(first);
    QTest::mouseClick(Control<QPushButton>(form_, "btnOpenTag"), Qt::LeftButton);
    auto retype = [&](const QString& text) {
        QTest::keyClick(Control<QLineEdit>(form_, "TitleEdit1"), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(Control<QLineEdit>(form_, "TitleEdit1"), text);
    };
    retype("Edited");

    // Cancel: the page keeps its file and the edit.
    prompts_->editAnswers = {UnsavedEditsAnswer::Cancel};
    prompts_->openFileNames.push_back(second);
    QTest::mouseClick(Control<QPushButton>(form_, "btnOpenTag"), Qt::LeftButton);
    QCOMPARE(Control<QLineEdit>(form_, "edtFileTag")->text(), QString::fromStdString(first));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("Edited"));

    // Save: the edit is written, then the other file is opened.
    prompts_->editAnswers = {UnsavedEditsAnswer::Save};
    prompts_->openFileNames.push_back(second);
    QTest::mouseClick(Control<QPushButton>(form_, "btnOpenTag"), Qt::LeftButton);
    QCOMPARE(Control<QLineEdit>(form_, "edtFileTag")->text(), QString::fromStdString(second));
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString("Second"));
    TID3v1 written;
    QVERIFY(written.ReadTag(first));
    QCOMPARE(QString::fromStdString(written.Title()), QString("Edited"));

    // Quitting: Cancel keeps the window, Discard closes it and writes nothing.
    retype("Dropped");
    prompts_->editAnswers = {UnsavedEditsAnswer::Cancel};
    QVERIFY(!form_->close());
    QVERIFY(form_->isVisible());
    prompts_->editAnswers = {UnsavedEditsAnswer::Discard};
    QVERIFY(form_->close());
    QVERIFY(written.ReadTag(second));
    QCOMPARE(QString::fromStdString(written.Title()), QString("Second"));
    QCOMPARE(prompts_->editQuestions, (std::vector<std::string>{first, first, second, second}));
}

// Another program saved the file after the page was filled. Saving the
// page would undo that: nothing is written, and the page offers to show
// the file as it is now.
void TagPageTest::aFileChangedSinceItWasShownIsNotOverwrittenAndMayBeReloaded()
{
    const std::string path = MakeFile("shared.mp3", Id3v1Block("Harbour", "Pilots", 7, 17));
    Mutagen(kWriteTagsWithCover, path);
    // Old times: the other program's save shows even in the clock tick the file was made in.
    const timespec old[2] = {{1500000000, 0}, {1500000000, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    TID3v1 shownV1;
    QVERIFY(shownV1.ReadTag(path));
    ShowPageFor(path);
    Control<QLineEdit>(form_, "TitleEdit")->setText("Mine");
    Control<QLineEdit>(form_, "TitleEdit1")->setText("Mine");

    TID3v2 otherProgram;
    QVERIFY(otherProgram.ReadTag(path));
    otherProgram.SetTitle("Theirs");
    QVERIFY(otherProgram.WriteTag(path));
    const Bytes theirs = testsupport::ReadBytes(path);

    prompts_->yesAnswers = {false};
    Control<QPushButton>(form_, "Button3")->click();
    QCOMPARE(prompts_->questions.size(), size_t(1));
    QVERIFY(prompts_->questions[0].find("changed by another program since it was read") != std::string::npos);
    QVERIFY(testsupport::ReadBytes(path) == theirs);
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit")->text(), QString("Mine"));  // kept on the page when not reloaded

    // The ID3v2 tag alone is refused the same way.
    Control<QCheckBox>(form_, "chkTagExists1")->click();
    QVERIFY(!Control<QCheckBox>(form_, "chkTagExists1")->isChecked());
    prompts_->yesAnswers = {true};
    Control<QPushButton>(form_, "Button3")->click();
    QCOMPARE(prompts_->questions.size(), size_t(2));
    QVERIFY(prompts_->questions[1].find("changed by another program since it was read") != std::string::npos);
    QVERIFY(testsupport::ReadBytes(path) == theirs);
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit")->text(), QString("Theirs"));
    QVERIFY(Control<QCheckBox>(form_, "chkTagExists1")->isChecked());
    QCOMPARE(Control<QLineEdit>(form_, "TitleEdit1")->text(), QString::fromStdString(shownV1.Title()));

    // Reloaded, the page's next save is its own again.
    Control<QLineEdit>(form_, "TitleEdit")->setText("Mine after all");
    Control<QPushButton>(form_, "Button3")->click();
    QCOMPARE(prompts_->questions.size(), size_t(2));
    QVERIFY(prompts_->messages.empty());
    QCOMPARE(QString::fromStdString(Mutagen(kPrintTitle, path)).trimmed(), QString("Mine after all"));
}

QTEST_MAIN(TagPageTest)
#include "qtest_TagPage.moc"
