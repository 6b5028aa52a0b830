// The folder picker driven through its modal dialog: Path, its default,
// as the initial selection and as the result, cancel, and OK enabled only
// for existing directories.

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs/BrwsFldr.h"
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
    const auto* model = qobject_cast<const QFileSystemModel*>(Control<QTreeView>(&dialog, "tree")->model());
    return model->index(QString::fromStdString(path));
}

} // namespace

class BrwsFldrTest : public QObject {
    Q_OBJECT

private slots:
    void pathHasItsDefault();
    void firstUseOpensWithNothingSelected();
    void confirmedChoiceIsOfferedAgainAndCancelKeepsIt();
    void okFollowsTheSelection();
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

QTEST_MAIN(BrwsFldrTest)
#include "qtest_BrwsFldr.moc"
