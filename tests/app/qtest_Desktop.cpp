// The window on the desktop, driven as a user would: a file named on the
// command line or dropped on the window (either page), the keys and the
// Tab order, the help page's list of keys, Help and the link without a
// browser, what the window keeps between runs, the folder picker beside the opened file, and the waveform drawn behind the
// track bar as the background scan delivers it.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QtTest>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/ID3v1.h"
#include "app/GuiTrackBar.h"
#include "app/Main.h"
#include "app/dialogs/BrwsFldr.h"
#include "playback/BASSPlayer.h"
#include "playback/WaveformEnvelope.h"
#include "playback/PlayerTestSupport.h"
#include "support/TestSupport.h"

#include "NamedControl.h"

namespace fs = std::filesystem;
using testsupport::Quote;
using testsupport::TempDir;

namespace {

class ScriptedPrompter : public GuiPrompterBase {
public:
    std::deque<std::optional<std::string>> openAnswers;
    std::vector<std::string> events;
    std::vector<std::string> documents;
    bool browserStarts = true;

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override
    {
        const char* kind = icon == MessageIcon::Warning ? "warning" : icon == MessageIcon::Error ? "error" : "other";
        events.push_back(std::string(kind) + ":" + caption + ":" + text);
    }
    std::optional<std::string> AskOpenFileName() override
    {
        events.push_back("open-dialog");
        if (openAnswers.empty())
            return std::nullopt;
        auto answer = openAnswers.front();
        openAnswers.pop_front();
        return answer;
    }
    std::optional<std::string> AskSaveFileName(const std::string&) override
    {
        events.push_back("save-dialog");
        return std::nullopt;
    }
    bool ExecuteFolderPicker(std::string&) override
    {
        events.push_back("folder-picker");
        return false;
    }
    bool OpenDocument(const std::string& pathOrUrl) override
    {
        documents.push_back(pathOrUrl);
        return browserStarts;
    }
};

// A window over the build's own folder (the audio library, the help page).
struct Window {
    ScriptedPrompter* prompts = nullptr;
    std::unique_ptr<TMainForm> form;

    Window()
    {
        auto prompter = std::make_unique<ScriptedPrompter>();
        prompts = prompter.get();
        form = std::make_unique<TMainForm>(std::move(prompter), testsupport::BinFolder());
        form->show();
    }
    TMainForm* operator->() const { return form.get(); }
    TMainForm& operator*() const { return *form; }
};

// Drags path over target and drops it there; true when the drop was taken.
bool Drop(QWidget* target, const std::string& path, bool* entered = nullptr)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    data.setText(QString::fromStdString(path));
    const QPoint point(target->width() / 2, target->height() / 2);
    QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (entered)
        *entered = enter.isAccepted();
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(point), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

void OnNextModal(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

// Pixels of column x that differ from the widget's top row there.
int MarkedPixels(const QImage& image, int x)
{
    int count = 0;
    for (int y = 1; y < image.height(); ++y)
        count += image.pixel(x, y) != image.pixel(x, 0);
    return count;
}

// What a command left behind: what the window asked or told, the
// documents it opened, the dialog it showed, and whether it closed.
QStringList Outcome(const Window& w, const QString& dialogShown)
{
    QStringList outcome;
    for (const std::string& event : w.prompts->events)
        outcome << QString::fromStdString(event);
    for (const std::string& document : w.prompts->documents)
        outcome << "document:" + QString::fromStdString(document);
    if (!dialogShown.isEmpty())
        outcome << "dialog:" + dialogShown;
    if (!w->isVisible())
        outcome << "closed";
    return outcome;
}

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void fileFromTheCommandLineOpensAsIfChosen();
    void droppedAudioFileOpensOnThePageShown();
    void keysDriveThePreviewAndTheWindow();
    void helpPageListsEveryKeyAndAMissingBrowserIsReported();
    void helpOpensInTheProgramsOwnWindowWhenNoBrowserIsInstalled();
    void aRestartedWindowHasTheRecentFileFolderSplitChoiceAndPlaceOfTheLast();
    void folderPickerStartsBesideTheOpenedFileThenAtTheLastPick();
    void waveformIsDrawnAsItArrivesAndFollowsTheOpenedFile();
    void fileDialogsStartInTheFolderOfTheFileOpenedLast_data();
    void fileDialogsStartInTheFolderOfTheFileOpenedLast();
    void menuEntriesDoWhatTheirButtonsAndKeysDo_data();
    void menuEntriesDoWhatTheirButtonsAndKeysDo();

private:
    TempDir media_;
    TempDir configHome_;  // the user's configuration folder for every window here
    std::string toneMp3_;    // 2 s silence, 2 s tone, 2 s silence; no tags
    std::string taggedMp3_;  // 3 s of tone, ID3v1 title "Harbour"
};

void DesktopTest::initTestCase()
{
    // Before any QSettings is made: Qt reads the folder once.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(configHome_.Path().string()));
    QVERIFY2(testsupport::HaveTool("lame") && testsupport::HaveTool("sox"), "lame and sox are needed");
    const std::string wav = media_.File("tone.wav");
    QCOMPARE(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(wav) +
                              " synth 2 sine 440 vol 0.7 pad 2 2")
                 .exitCode,
             0);
    toneMp3_ = media_.File("tone.mp3");
    QCOMPARE(testsupport::Run("lame --quiet -b 128 " + Quote(wav) + " " + Quote(toneMp3_)).exitCode, 0);
    taggedMp3_ = media_.File("tagged.mp3");
    testsupport::MakeMp3(taggedMp3_, 3.0);
    TID3v1 tag;
    tag.SetTitle("Harbour");
    QVERIFY(tag.WriteTag(taggedMp3_));
}

void DesktopTest::fileFromTheCommandLineOpensAsIfChosen()
{
    Window w;
    const QString before = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(media_.Path().string()));
    w->OpenCommandLineFile("tone.mp3");
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), toneMp3_);
    QCOMPARE(Control<QLabel>(w, "labTitle")->text(), QString("tone"));
    QVERIFY(Control<QLabel>(w, "labLength")->text().startsWith("00:06."));
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->maximum(), 6);
    QCOMPARE(Control<TBASSPlayer>(w, "PermanentPlayer")->StreamName(), toneMp3_);

    // A file the player cannot open gives Open's own message; a missing one
    // is reported before anything changes.
    testsupport::WriteText(media_.File("notes.mp3"), std::string(4096, 'x'));
    w->OpenCommandLineFile("notes.mp3");
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), media_.File("notes.mp3"));
    w->OpenCommandLineFile("missing.mp3");
    QDir::setCurrent(before);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), media_.File("notes.mp3"));
    QCOMPARE(w.prompts->events.size(), size_t{2});
    QVERIFY(w.prompts->events[0].rfind("error:Error:Invalid stream file(" + media_.File("notes.mp3") + ") !", 0) == 0);
    QCOMPARE(w.prompts->events[1], "warning:Corvella:The file \"" + media_.File("missing.mp3") + "\" does not exist.");
}

void DesktopTest::droppedAudioFileOpensOnThePageShown()
{
    Window w;
    // On the split page, also over the file box, whose text it would otherwise take.
    QVERIFY(Drop(Control<QLineEdit>(w, "edtFile"), toneMp3_));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), toneMp3_);
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->maximum(), 6);
    QVERIFY(w.prompts->events.empty());

    // Only audio files the player reads are taken.
    testsupport::WriteText(media_.File("notes.txt"), "not audio");
    bool entered = true;
    QVERIFY(!Drop(w.form.get(), media_.File("notes.txt"), &entered));
    QVERIFY(!entered);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), toneMp3_);

    // On the tag page the file opens there, and the split page keeps its file.
    Control<QTabWidget>(w, "pgcMain")->setCurrentWidget(Control<QWidget>(w, "tabTag"));
    QVERIFY(Drop(Control<QLineEdit>(w, "TitleEdit1"), taggedMp3_));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFileTag")), taggedMp3_);
    QCOMPARE(Text(Control<QLineEdit>(w, "TitleEdit1")), std::string("Harbour"));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), toneMp3_);
    QVERIFY(w.prompts->events.empty());

    // Module music is taken too, by its extension.
    Control<QTabWidget>(w, "pgcMain")->setCurrentWidget(Control<QWidget>(w, "tabSplit"));
    const std::string module = media_.File("tune.xm");
    testsupport::WriteBytes(module, playertest::ModuleDressedAsWav());
    QVERIFY(Drop(w.form.get(), module));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtFile")), module);
    QVERIFY(Control<GuiTrackBar>(w, "tkbPosition")->maximum() >= 1);
    QVERIFY(w.prompts->events.empty());
}

void DesktopTest::keysDriveThePreviewAndTheWindow()
{
    Window w;
    QApplication::setActiveWindow(w.form.get());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w->OpenFile(toneMp3_);

    // The transport and mark buttons follow the track bar in the Tab order.
    Control<GuiTrackBar>(w, "tkbPosition")->setFocus();
    std::vector<QWidget*> tabbed;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        tabbed.push_back(QApplication::focusWidget());
    }
    QCOMPARE(tabbed, Controls<QWidget>(w, {"sbtnPlay", "sbtnPause", "sbtnStop", "sbtnBegin", "sbtnEnd"}));

    Control<GuiTrackBar>(w, "tkbPosition")->setFocus();
    QTest::keyClick(Control<GuiTrackBar>(w, "tkbPosition"), Qt::Key_Space);
    QCOMPARE(Control<TBASSPlayer>(w, "PermanentPlayer")->Mode(), plmPlaying);
    QTest::keyClick(Control<GuiTrackBar>(w, "tkbPosition"), Qt::Key_Space);
    QCOMPARE(Control<TBASSPlayer>(w, "PermanentPlayer")->Mode(), plmPaused);
    QTest::keyClick(Control<GuiTrackBar>(w, "tkbPosition"), Qt::Key_Space);
    QCOMPARE(Control<TBASSPlayer>(w, "PermanentPlayer")->Mode(), plmPlaying);
    Control<QToolButton>(w, "sbtnStop")->click();

    Control<GuiTrackBar>(w, "tkbPosition")->setValue(2);
    QTest::keyClick(Control<GuiTrackBar>(w, "tkbPosition"), Qt::Key_BracketLeft);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtStart")), std::string("00:02.000"));
    Control<GuiTrackBar>(w, "tkbPosition")->setValue(4);
    QTest::keyClick(Control<GuiTrackBar>(w, "tkbPosition"), Qt::Key_BracketRight);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtEnd")), std::string("00:04.000"));
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->SelStart(), 2);
    QCOMPARE(Control<GuiTrackBar>(w, "tkbPosition")->SelEnd(), 4);
    // In a time field the keys are text, not commands.
    Control<QLineEdit>(w, "edtStart")->setFocus();
    QTest::keyClick(Control<QLineEdit>(w, "edtStart"), Qt::Key_End);
    QTest::keyClick(Control<QLineEdit>(w, "edtStart"), Qt::Key_BracketRight);
    QCOMPARE(Text(Control<QLineEdit>(w, "edtStart")), std::string("00:02.000]"));
    QCOMPARE(Text(Control<QLineEdit>(w, "edtEnd")), std::string("00:04.000"));

    Control<GuiTrackBar>(w, "tkbPosition")->setFocus();
    QTest::keyClick(Control<GuiTrackBar>(w, "tkbPosition"), Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(Control<GuiTrackBar>(w, "tkbPosition"), Qt::Key_F1);
    QCOMPARE(w.prompts->events, std::vector<std::string>{"open-dialog"});
    QCOMPARE(w.prompts->documents, std::vector<std::string>{w->HelpFileName()});
    QTest::keyClick(Control<GuiTrackBar>(w, "tkbPosition"), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!w->isVisible());
}

void DesktopTest::helpPageListsEveryKeyAndAMissingBrowserIsReported()
{
    Window w;
    const QString page = QString::fromStdString(testsupport::ReadText(w->HelpFileName()));
    const QList<QShortcut*> keys = w->findChildren<QShortcut*>();
    QCOMPARE(keys.size(), 8);
    for (const QShortcut* key : keys) {
        const QString name = key->key().toString(QKeySequence::PortableText);
        QVERIFY2(page.contains("<kbd>" + name + "</kbd>"), qPrintable(name));
    }

    // The web site needs a browser; without one the user is told so.
    w.prompts->browserStarts = false;
    Control<QToolButton>(w, "sbtnWeb1")->click();
    QCOMPARE(w.prompts->events,
             std::vector<std::string>{"warning:Corvella:No web browser could be started to show\r\n" + w->WebAddress()});
}

void DesktopTest::helpOpensInTheProgramsOwnWindowWhenNoBrowserIsInstalled()
{
    // A desktop without any launcher: an empty PATH and a BROWSER that is not there.
    TempDir emptyBin;
    const QByteArray path = qgetenv("PATH");
    const QByteArray browser = qgetenv("BROWSER");
    qputenv("PATH", QByteArray::fromStdString(emptyBin.Path().string()));
    qputenv("BROWSER", "no-such-browser");
    QVERIFY(!DesktopHasDocumentLauncher());
    TMainForm form(nullptr, testsupport::BinFolder());  // the real prompter
    form.show();
    QApplication::setActiveWindow(&form);
    // A message box in place of the help window would wait for a click.
    QTimer closeBoxes;
    QStringList boxes;
    connect(&closeBoxes, &QTimer::timeout, this, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            boxes << modal->metaObject()->className();
            modal->close();
        }
    });
    closeBoxes.start(20);
    QTest::keyClick(&form, Qt::Key_F1);
    closeBoxes.stop();
    // Any one launcher, or a BROWSER found on the PATH, is taken to show it.
    const std::string launcher = emptyBin.File("xdg-open");
    testsupport::WriteText(launcher, "#!/bin/sh\n");
    fs::permissions(launcher, fs::perms::owner_all);
    QVERIFY(DesktopHasDocumentLauncher());
    fs::rename(launcher, emptyBin.File("my-browser"));
    qputenv("BROWSER", "my-browser %s");
    QVERIFY(DesktopHasDocumentLauncher());
    qputenv("PATH", path);
    qputenv("BROWSER", browser);

    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(' ')));
    auto* help = form.findChild<QWidget*>("HelpWindow");
    QVERIFY(help);
    QVERIFY(help->isVisible());
    auto* page = help->findChild<QTextBrowser*>();
    QVERIFY(page);
    QCOMPARE(page->documentTitle(), QString("Corvella Help"));
    QVERIFY(page->toPlainText().contains("Splitting into equal parts"));
}

void DesktopTest::aRestartedWindowHasTheRecentFileFolderSplitChoiceAndPlaceOfTheLast()
{
    const fs::path album = media_.Path() / "album";
    fs::create_directories(album);
    fs::copy_file(toneMp3_, album / "side.mp3");
    const std::string side = (album / "side.mp3").string();
    QPoint place;
    {
        TMainForm form(nullptr, testsupport::BinFolder());
        form.RestoreMemory();
        form.show();
        form.OpenFile(toneMp3_);
        form.OpenFile(side);
        Control<QRadioButton>(&form, "rdbPart")->click();
        Control<QLineEdit>(&form, "edtPart")->setText("7");
        form.move(form.pos() + QPoint(37, 23));
        place = form.pos();
    }
    QVERIFY(fs::exists(configHome_.Path() / "Ondrel" / "Corvella.conf"));

    TMainForm form(nullptr, testsupport::BinFolder());
    form.RestoreMemory();
    form.show();
    QCOMPARE(form.pos(), place);
    QCOMPARE(form.prompts().LastFolder(), album.string());
    QVERIFY(Control<QRadioButton>(&form, "rdbPart")->isChecked());
    QVERIFY(Control<QLineEdit>(&form, "edtPart")->isEnabled());
    QCOMPARE(Control<QLineEdit>(&form, "edtPart")->text(), QString("7"));
    // The recent files, most recent first, open again from the drop-down and by key.
    const QList<QAction*> recent = Control<QToolButton>(&form, "btnRecent")->menu()->actions();
    QCOMPARE(recent.size(), 2);
    QVERIFY(recent[0]->text().endsWith(QString::fromStdString(side)));
    QVERIFY(recent[1]->text().endsWith(QString::fromStdString(toneMp3_)));
    QApplication::setActiveWindow(&form);
    QTest::keyClick(&form, Qt::Key_2, Qt::ControlModifier);
    QCOMPARE(Text(Control<QLineEdit>(&form, "edtFile")), toneMp3_);
    QCOMPARE(form.prompts().LastFolder(), media_.Path().string());
}

void DesktopTest::folderPickerStartsBesideTheOpenedFileThenAtTheLastPick()
{
    Window w;
    const fs::path deep = media_.Path() / "a" / "b" / "c";
    fs::create_directories(deep);
    fs::copy_file(toneMp3_, deep / "deep.mp3");
    const fs::path other = media_.Path() / "other";
    fs::create_directories(other);
    w->OpenFile((deep / "deep.mp3").string());

    GuiPrompter real(*w.form, *Control<TBrowseForFolder>(w, "DirDialog1"));
    std::string shownAt;
    std::vector<bool> ancestorsExpanded;
    bool inView = false;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TBrowseForFolderDialog*>(modal);
        QVERIFY(dialog);
        QTRY_COMPARE(dialog->SelectedPath(), deep.string());
        QTreeView* tree = Control<QTreeView>(dialog, "tree");
        for (QModelIndex up = tree->currentIndex().parent(); up.isValid(); up = up.parent())
            ancestorsExpanded.push_back(tree->isExpanded(up));
        QTRY_VERIFY(tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex()).center()));
        inView = true;
        shownAt = dialog->SelectedPath();
        dialog->SelectPath(other.string());
        dialog->accept();
    });
    std::string picked;
    QVERIFY(real.ExecuteFolderPicker(picked));
    QCOMPARE(shownAt, deep.string());
    QVERIFY(inView);
    QVERIFY(ancestorsExpanded.size() >= 3);
    QVERIFY(std::all_of(ancestorsExpanded.begin(), ancestorsExpanded.end(), [](bool e) { return e; }));
    QCOMPARE(picked, other.string());

    // Once a folder was picked, the split command passes it back: the
    // picker starts there, whatever file was opened since.
    w->OpenFile(toneMp3_);
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TBrowseForFolderDialog*>(modal);
        QVERIFY(dialog);
        QTRY_COMPARE(dialog->SelectedPath(), other.string());
        shownAt = dialog->SelectedPath();
        dialog->reject();
    });
    QVERIFY(!real.ExecuteFolderPicker(picked));
    QCOMPARE(shownAt, other.string());
}

void DesktopTest::waveformIsDrawnAsItArrivesAndFollowsTheOpenedFile()
{
    Window w;
    QSignalSpy finished(Control<WaveformEnvelope>(w, "Envelope"), &WaveformEnvelope::envelopeFinished);
    QSignalSpy changed(Control<WaveformEnvelope>(w, "Envelope"), &WaveformEnvelope::envelopeChanged);
    // A file opened and at once replaced: only the second one's envelope arrives.
    w->OpenFile(taggedMp3_);
    w->OpenFile(toneMp3_);
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QVERIFY(changed.count() >= 1);

    GuiTrackBar* bar = Control<GuiTrackBar>(w, "tkbPosition");
    const int columns = bar->EnvelopeColumns();
    QCOMPARE(bar->Envelope().size(), columns);
    QCOMPARE(bar->EnvelopeFilledColumns(), columns);
    // The tone lies in the middle third of the 6 s file.
    QVERIFY(bar->Envelope()[columns / 2] > 0.5f);
    QVERIFY(bar->Envelope()[columns / 12] < 0.02f);
    QVERIFY(bar->Envelope()[columns * 11 / 12] < 0.02f);

    // Drawn: the tone's columns carry the envelope, the silent ones only the groove.
    bar->setValue(6);  // the handle out of the way, at the end
    const QImage image = bar->grab().toImage();
    const int left = (bar->width() - columns) / 2;
    const int tone = MarkedPixels(image, left + columns / 2);
    const int silence = MarkedPixels(image, left + columns / 12);
    QVERIFY2(tone >= silence + 8, qPrintable(QString("%1 vs %2").arg(tone).arg(silence)));

    // A file the player cannot open leaves no envelope behind.
    testsupport::WriteText(media_.File("noise.mp3"), std::string(4096, 'y'));
    w->OpenFile(media_.File("noise.mp3"));
    QVERIFY(bar->Envelope().isEmpty());
    QVERIFY(!Control<WaveformEnvelope>(w, "Envelope")->Running());
}

void DesktopTest::fileDialogsStartInTheFolderOfTheFileOpenedLast_data()
{
    QTest::addColumn<QString>("way");
    for (const char* way : {"split page Open", "tag page Open", "drop", "command line"})
        QTest::newRow(way) << way;
}

void DesktopTest::fileDialogsStartInTheFolderOfTheFileOpenedLast()
{
    QFETCH(QString, way);
    const fs::path root = fs::canonical(media_.Path());
    for (const char* folder : {"Music", "Other"}) {
        fs::create_directories(root / folder);
        if (!fs::exists(root / folder / "song.mp3"))
            fs::copy_file(toneMp3_, root / folder / "song.mp3");
    }
    const QString music = QString::fromStdString((root / "Music").string());
    const QString other = QString::fromStdString((root / "Other").string());
    // The real dialogs: where the Open and Save As dialogs of the split page start.
    TMainForm window(nullptr, testsupport::BinFolder());
    window.show();
    const auto dialogFolders = [&window] {
        QStringList folders;
        const auto noteFolder = [&folders](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            folders << (dialog ? dialog->directory().absolutePath() : QString("no file dialog"));
            static_cast<QDialog*>(modal)->reject();
        };
        auto* pages = Control<QTabWidget>(&window, "pgcMain");
        pages->setCurrentIndex(0);
        OnNextModal(noteFolder);
        Control<QPushButton>(&window, "btnOpen")->click();
        Control<QRadioButton>(&window, "rdbTime")->click();
        Control<QLineEdit>(&window, "edtStart")->setText("00:00.000");
        Control<QLineEdit>(&window, "edtEnd")->setText("00:01.000");
        OnNextModal(noteFolder);
        Control<QPushButton>(&window, "btnSplit")->click();
        return folders;
    };

    // "corvella Music/song.mp3", from the folder above Music.
    const QString working = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(root.string()));
    window.OpenCommandLineFile("Music/song.mp3");
    QDir::setCurrent(working);
    QCOMPARE(dialogFolders(), QStringList({music, music}));

    const QString song = other + "/song.mp3";
    const auto chooseInOpenDialog = [&song](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
        dialog->selectFile(song);
        static_cast<QDialog*>(dialog)->accept();
    };
    if (way == "split page Open") {
        OnNextModal(chooseInOpenDialog);
        Control<QPushButton>(&window, "btnOpen")->click();
    } else if (way == "tag page Open") {
        Control<QTabWidget>(&window, "pgcMain")->setCurrentIndex(1);
        OnNextModal(chooseInOpenDialog);
        Control<QPushButton>(&window, "btnOpenTag")->click();
    } else if (way == "drop") {
        QVERIFY(Drop(&window, song.toStdString()));
    } else {
        window.OpenCommandLineFile(song);
    }
    QCOMPARE(dialogFolders(), QStringList({other, other}));
}

void DesktopTest::menuEntriesDoWhatTheirButtonsAndKeysDo_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("buttons");  // clicked in turn; the menu does the same
    QTest::addRow("open") << "actOpen" << "Ctrl+O" << QStringList{"btnOpen"};
    QTest::addRow("save section") << "actSaveSection" << "Ctrl+S" << QStringList{"rdbTime", "btnSplit"};
    QTest::addRow("split") << "actSplit" << "Ctrl+P" << QStringList{"rdbPart", "btnSplit"};
    QTest::addRow("help") << "actHelp" << "F1" << QStringList{"sbtnHelp1"};
    QTest::addRow("about") << "actAbout" << "" << QStringList{"sbtnAbout1"};
    QTest::addRow("quit") << "actQuit" << "Ctrl+Q" << QStringList{};
}

void DesktopTest::menuEntriesDoWhatTheirButtonsAndKeysDo()
{
    QFETCH(QString, entry);
    QFETCH(QString, key);
    QFETCH(QStringList, buttons);
    // Each way runs on a fresh window with the same file open and the
    // section marked; a dialog it shows is noted and closed.
    const auto run = [&](const std::function<void(Window&)>& command) {
        Window w;
        w->OpenFile(toneMp3_);
        Control<QLineEdit>(w, "edtEnd")->setText("00:01.000");
        w.prompts->events.clear();
        QString dialogShown;
        auto* watch = new QTimer;
        watch->setInterval(10);
        QObject::connect(watch, &QTimer::timeout, watch, [&dialogShown] {
            if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
                dialogShown = modal->objectName();
                modal->close();
            }
        });
        watch->start();
        command(w);
        QTest::qWait(50);
        delete watch;
        return Outcome(w, dialogShown);
    };

    QStringList expected = run([&](Window& w) {
        for (const QString& name : buttons)
            Control<QAbstractButton>(w, name.toLatin1().constData())->click();
        if (buttons.isEmpty())
            w->close();
    });
    QVERIFY(!expected.isEmpty());

    const QStringList fromMenu = run([&](Window& w) {
        auto* menuButton = Control<QToolButton>(w, "btnMenu");
        QMenu* menu = menuButton->menu();
        QAction* action = Control<QAction>(menu, entry.toLatin1().constData());
        if (!key.isEmpty())
            QVERIFY2(action->text().endsWith('\t' + QKeySequence(key).toString(QKeySequence::NativeText)),
                     qPrintable(action->text()));
        QTimer::singleShot(0, menu, [menu, action] {
            QTRY_VERIFY(menu->isVisible());
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        });
        QTest::mouseClick(menuButton, Qt::LeftButton);
    });
    QCOMPARE(fromMenu, expected);

    if (key.isEmpty())
        return;
    const QStringList fromKey = run([&](Window& w) {
        QApplication::setActiveWindow(w.form.get());
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QTest::keySequence(w.form.get(), QKeySequence(key));
    });
    QCOMPARE(fromKey, expected);
}

QTEST_MAIN(DesktopTest)
#include "qtest_Desktop.moc"
