// The folder picker driven through its modal dialog: Path, its default,
// as the initial selection and as the result, cancel, OK enabled only
// for existing directories, the start folder shown at once, the path box
// and the New Folder button, driven by keys and clicks.

#include <QApplication>
#include <QLineEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs/BrwsFldr.h"
#include "playback/MessagePrompter.h"
#include "support/TestSupport.h"

#include "NamedControl.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// Runs Execute with action applied to the dialog once it is on screen.
bool ExecuteWith(TBrowseForFolder& picker, const std::function<void(TBrowseForFolderDialog&)>& action)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        auto* dialog = qobject_cast<TBrowseForFolderDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(*dialog);
        // An action that neither confirmed nor cancelled leaves the dialog
        // open; close it so that Execute returns.
        if (dialog->isVisible())
            dialog->reject();
    });
    timer->start();
    return picker.Execute();
}

std::string Canonical(const fs::path& path) { return fs::canonical(path).string(); }

bool OkEnabled(const TBrowseForFolderDialog& dialog)
{
    return Control<QDialogButtonBox>(&dialog, "buttons")->button(QDialogButtonBox::Ok)->isEnabled();
}

// The tree's item for path, listed as the tree lists it now.
QModelIndex ListedItem(TBrowseForFolderDialog& dialog, const std::string& path)
{
    const QAbstractItemModel* model = Control<QTreeView>(&dialog, "tree")->model();
    const QModelIndexList found = model->match(model->index(0, 0), Qt::UserRole, QString::fromStdString(path), 1,
                                               Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? QModelIndex() : found.constFirst();
}

class RecordedMessages : public MessagePrompter {
public:
    std::vector<std::string> texts;
    void ShowMessage(const std::string&, const std::string& text, MessageIcon) override { texts.push_back(text); }
};

// A folder with three folders in it, the picker starting at the middle one.
struct Folders {
    TempDir dir;
    std::string root, a, b, c;
    RecordedMessages messages;
    TBrowseForFolder picker;
    Folders()
    {
        for (const char* name : {"a", "b", "c"})
            fs::create_directories(dir.Path() / name);
        root = Canonical(dir.Path());
        a = root + "/a";
        b = root + "/b";
        c = root + "/c";
        picker.SetPath(b);
        picker.SetMessages(&messages);
    }
};

void Type(QWidget* edit, const QString& text)
{
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

} // namespace

class BrwsFldrTest : public QObject {
    Q_OBJECT

private slots:
    void pathHasItsDefault();
    void firstUseOpensWithNothingSelected();
    void confirmedChoiceIsOfferedAgainAndCancelKeepsIt();
    void okFollowsTheSelection();
    void startFolderIsShownAmongItsNeighboursAtOnce();
    void pathBoxGoesToTheTypedFolder_data();
    void pathBoxGoesToTheTypedFolder();
    void newFolderIsMadeSelectedAndNamedInPlace();
};

void BrwsFldrTest::pathHasItsDefault()
{
    TBrowseForFolder picker;
    QCOMPARE(picker.Path(), std::string());
    picker.SetPath("/nowhere/at/all");
    QCOMPARE(picker.Path(), std::string("/nowhere/at/all"));
}

void BrwsFldrTest::firstUseOpensWithNothingSelected()
{
    TBrowseForFolder picker;
    std::string selected = "unset";
    bool okEnabled = true;
    const bool confirmed = ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        selected = dialog.SelectedPath();
        okEnabled = OkEnabled(dialog);
        dialog.reject();
    });
    QVERIFY(!confirmed);
    QCOMPARE(selected, std::string());
    QVERIFY(!okEnabled);
    QCOMPARE(picker.Path(), std::string());
}

void BrwsFldrTest::confirmedChoiceIsOfferedAgainAndCancelKeepsIt()
{
    TempDir dir;
    fs::create_directories(dir.Path() / "music" / "out");
    const std::string out = Canonical(dir.Path() / "music" / "out");
    TBrowseForFolder picker;
    picker.SetPath(out);
    std::string selected;
    QVERIFY(ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        selected = dialog.SelectedPath();
        QVERIFY(OkEnabled(dialog));
        dialog.accept();
    }));
    QCOMPARE(selected, out);
    QCOMPARE(picker.Path(), out);

    // The user picks another folder in the tree, then cancels.
    const std::string music = Canonical(dir.Path() / "music");
    QVERIFY(!ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        selected = dialog.SelectedPath();
        dialog.SelectPath(music);
        QCOMPARE(dialog.SelectedPath(), music);
        dialog.reject();
    }));
    QCOMPARE(selected, out);
    QCOMPARE(picker.Path(), out);

    // Picking it and confirming stores it.
    QVERIFY(ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        dialog.SelectPath(music);
        dialog.accept();
    }));
    QCOMPARE(picker.Path(), music);
}

void BrwsFldrTest::okFollowsTheSelection()
{
    TempDir dir;
    fs::create_directories(dir.Path() / "a");
    fs::create_directories(dir.Path() / "vanished");
    const std::string a = Canonical(dir.Path() / "a");
    const std::string vanished = Canonical(dir.Path() / "vanished");

    TBrowseForFolder picker;
    picker.SetPath(Canonical(dir.Path()));
    QVERIFY(ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        dialog.SelectPath(a);
        QVERIFY(OkEnabled(dialog));
        // A folder removed while the tree still lists it cannot be chosen
        // (the tree learns of the removal only when its events next run).
        const QModelIndex listed = ListedItem(dialog, vanished);
        QVERIFY(listed.isValid());
        fs::remove(vanished);
        Control<QTreeView>(&dialog, "tree")->setCurrentIndex(listed);
        QCOMPARE(dialog.SelectedPath(), vanished);
        QVERIFY(!OkEnabled(dialog));
        dialog.SelectPath(a);
        QVERIFY(OkEnabled(dialog));
        // Nor can an item without a folder.
        Control<QTreeView>(&dialog, "tree")->setCurrentIndex(QModelIndex());
        QVERIFY(!OkEnabled(dialog));
        dialog.reject();
    }) == false);
    QCOMPARE(picker.Path(), Canonical(dir.Path()));
}

void BrwsFldrTest::startFolderIsShownAmongItsNeighboursAtOnce()
{
    Folders folders;
    int neighbours = 0;
    bool inView = false;
    // Looked at in the first moment the dialog is on screen, without waiting.
    ExecuteWith(folders.picker, [&](TBrowseForFolderDialog& dialog) {
        QTreeView* tree = Control<QTreeView>(&dialog, "tree");
        QCOMPARE(dialog.SelectedPath(), folders.b);
        neighbours = tree->model()->rowCount(tree->currentIndex().parent());
        inView = tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex()).center());
        QCOMPARE(Control<QLineEdit>(&dialog, "pathEdit")->text().toStdString(), folders.b);
    });
    QCOMPARE(neighbours, 3);
    QVERIFY(inView);
}

void BrwsFldrTest::pathBoxGoesToTheTypedFolder_data()
{
    QTest::addColumn<QString>("typed");  // "ROOT" stands for the folder of a, b and c
    QTest::addColumn<bool>("clickOk");   // else Enter is pressed in the path box
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<int>("messages");
    QTest::addRow("enter goes there") << "ROOT/a" << false << "ROOT/a" << false << 0;
    QTest::addRow("relative to the selection") << "../c" << false << "ROOT/c" << false << 0;
    QTest::addRow("home") << "~" << false << QDir::homePath() << false << 0;
    QTest::addRow("no such folder") << "ROOT/none" << false << "ROOT/b" << false << 1;
    QTest::addRow("ok takes the typed folder") << "ROOT/c" << true << "ROOT/c" << true << 0;
    QTest::addRow("ok refuses no folder") << "ROOT/none" << true << "ROOT/b" << false << 1;
}

void BrwsFldrTest::pathBoxGoesToTheTypedFolder()
{
    QFETCH(QString, typed);
    QFETCH(bool, clickOk);
    QFETCH(QString, selected);
    QFETCH(bool, confirmed);
    QFETCH(int, messages);
    Folders folders;
    const QString root = QString::fromStdString(folders.root);
    std::string selectedThen;
    const bool accepted = ExecuteWith(folders.picker, [&](TBrowseForFolderDialog& dialog) {
        auto* pathEdit = Control<QLineEdit>(&dialog, "pathEdit");
        Type(pathEdit, QString(typed).replace("ROOT", root));
        if (clickOk)
            QTest::mouseClick(Control<QDialogButtonBox>(&dialog, "buttons")->button(QDialogButtonBox::Ok),
                              Qt::LeftButton);
        else
            QTest::keyClick(pathEdit, Qt::Key_Return);
        selectedThen = dialog.SelectedPath();
    });
    QCOMPARE(accepted, confirmed);
    QCOMPARE(QString::fromStdString(selectedThen), QString(selected).replace("ROOT", root));
    QCOMPARE(int(folders.messages.texts.size()), messages);
    QCOMPARE(folders.picker.Path(), confirmed ? selectedThen : folders.b);
}

void BrwsFldrTest::newFolderIsMadeSelectedAndNamedInPlace()
{
    Folders folders;
    const auto clickNewFolderAndName = [](TBrowseForFolderDialog& dialog, const QString& name) {
        QTest::mouseClick(Control<QPushButton>(&dialog, "btnNewFolder"), Qt::LeftButton);
        // The editor of an earlier name may linger, hidden, until deleted.
        QLineEdit* editor = nullptr;
        for (QLineEdit* open : Control<QTreeView>(&dialog, "tree")->viewport()->findChildren<QLineEdit*>())
            if (open->isVisible())
                editor = open;
        QVERIFY(editor);
        Type(editor, name);
        QTest::keyClick(editor, Qt::Key_Return);
        // The tree takes the typed name from its editor in its next events.
        QCoreApplication::processEvents();
    };
    QVERIFY(ExecuteWith(folders.picker, [&](TBrowseForFolderDialog& dialog) {
        clickNewFolderAndName(dialog, "Live");
        QCOMPARE(dialog.SelectedPath(), folders.b + "/Live");
        dialog.SelectPath(folders.b);
        // A name taken already is told, and the made folder keeps its own.
        clickNewFolderAndName(dialog, "Live");
        QCOMPARE(dialog.SelectedPath(), folders.b + "/New Folder");
        QTest::mouseClick(Control<QDialogButtonBox>(&dialog, "buttons")->button(QDialogButtonBox::Ok), Qt::LeftButton);
    }));
    QVERIFY(fs::is_directory(folders.b + "/Live"));
    QCOMPARE(folders.picker.Path(), folders.b + "/New Folder");
    QVERIFY(fs::is_directory(folders.picker.Path()));
    QCOMPARE(folders.messages.texts.size(), size_t(1));

    // A folder gone from the disk cannot have a folder made in it.
    folders.picker.SetPath(folders.a);
    QVERIFY(!ExecuteWith(folders.picker, [&](TBrowseForFolderDialog& dialog) {
        fs::remove(folders.c);
        Control<QTreeView>(&dialog, "tree")->setCurrentIndex(ListedItem(dialog, folders.c));
        QCOMPARE(dialog.SelectedPath(), folders.c);
        QVERIFY(!Control<QPushButton>(&dialog, "btnNewFolder")->isEnabled());
        dialog.SelectPath(folders.a);
        fs::remove(folders.a);
        QTest::mouseClick(Control<QPushButton>(&dialog, "btnNewFolder"), Qt::LeftButton);
    }));
    QCOMPARE(folders.messages.texts.size(), size_t(2));
    QVERIFY(!fs::exists(folders.a));
}

QTEST_MAIN(BrwsFldrTest)
#include "qtest_BrwsFldr.moc"
