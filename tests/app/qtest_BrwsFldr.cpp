// The folder picker driven through its modal dialog: the published
// properties and their defaults, Path as the initial selection and the
// result, cancel, OK enabled only for existing directories unless the
// selection event says otherwise, the order of events and hooks, and the
// placing event.

#include <QApplication>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs/BrwsFldr.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// Records the protected hooks, so their order against the events shows.
class RecordingPicker : public TBrowseForFolder {
public:
    std::vector<std::string> calls;

protected:
    void DoSelChanged(const std::string& path, bool& enableOk) override
    {
        calls.push_back("DoSelChanged:" + path + ":" + (enableOk ? "ok" : "no"));
    }
    void DoSetPosition(int& left, int& top, int width, int height) override
    {
        calls.push_back("DoSetPosition:" + std::to_string(left) + "," + std::to_string(top) + ","
                        + std::to_string(width) + "," + std::to_string(height));
    }
};

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

} // namespace

class BrwsFldrTest : public QObject {
    Q_OBJECT

private slots:
    void propertiesHaveTheirDefaults();
    void firstUseOpensWithNothingSelected();
    void confirmedChoiceIsOfferedAgainAndCancelKeepsIt();
    void okFollowsTheSelectionAndTheSelectionEvent();
    void itemWithoutAPathCanBeConfirmedWhenTheEventAllowsIt();
    void positionEventMovesOnlyForLeftOrTop();
};

void BrwsFldrTest::propertiesHaveTheirDefaults()
{
    TBrowseForFolder picker;
    QCOMPARE(picker.Path(), std::string());
    QVERIFY(!picker.OnSelChanged());
    QVERIFY(!picker.OnSetPosition());
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
        okEnabled = dialog.OkEnabled();
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
        QVERIFY(dialog.OkEnabled());
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

void BrwsFldrTest::okFollowsTheSelectionAndTheSelectionEvent()
{
    TempDir dir;
    fs::create_directories(dir.Path() / "a");
    fs::create_directories(dir.Path() / "locked");
    const std::string a = Canonical(dir.Path() / "a");
    const std::string locked = Canonical(dir.Path() / "locked");

    RecordingPicker picker;
    picker.SetOnSelChanged([&](TBrowseForFolder* sender, const std::string& path, bool& enableOk) {
        QCOMPARE(sender, static_cast<TBrowseForFolder*>(&picker));
        picker.calls.push_back("OnSelChanged:" + path + ":" + (enableOk ? "ok" : "no"));
        if (path == locked)
            enableOk = false;
    });
    ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        picker.calls.clear();
        dialog.SelectPath(a);
        QVERIFY(dialog.OkEnabled());
        dialog.SelectPath(locked);
        QVERIFY(!dialog.OkEnabled());
        dialog.SelectionChanged(a + "/vanished");
        QVERIFY(!dialog.OkEnabled());
        dialog.SelectionChanged(a);
        QVERIFY(dialog.OkEnabled());
        dialog.reject();
    });
    QCOMPARE(picker.calls, (std::vector<std::string>{
                               "OnSelChanged:" + a + ":ok", "DoSelChanged:" + a + ":ok",
                               "OnSelChanged:" + locked + ":ok", "DoSelChanged:" + locked + ":no",
                               "OnSelChanged:" + a + "/vanished:no", "DoSelChanged:" + a + "/vanished:no",
                               "OnSelChanged:" + a + ":ok", "DoSelChanged:" + a + ":ok"}));
}

void BrwsFldrTest::itemWithoutAPathCanBeConfirmedWhenTheEventAllowsIt()
{
    TempDir dir;
    TBrowseForFolder picker;
    picker.SetPath(Canonical(dir.Path()));
    QVERIFY(ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        dialog.Tree()->setCurrentIndex(QModelIndex());
        QVERIFY(!dialog.OkEnabled());
        dialog.reject();
    }) == false);
    QCOMPARE(picker.Path(), Canonical(dir.Path()));

    picker.SetOnSelChanged([](TBrowseForFolder*, const std::string& path, bool& enableOk) {
        if (path.empty())
            enableOk = true;
    });
    QVERIFY(ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        dialog.Tree()->setCurrentIndex(QModelIndex());
        QVERIFY(dialog.OkEnabled());
        dialog.accept();
    }));
    QCOMPARE(picker.Path(), std::string());
}

void BrwsFldrTest::positionEventMovesOnlyForLeftOrTop()
{
    RecordingPicker picker;
    std::vector<std::string> order;
    QRect plain;
    ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) { plain = dialog.frameGeometry(); });
    picker.calls.clear();
    QRect before;
    QRect after;
    picker.SetOnSetPosition([&](TBrowseForFolder*, int&, int&, int width, int height) {
        order.push_back("OnSetPosition");
        // Only the size changes here: a value parameter, nothing moves.
        width += 100;
        height += 100;
    });
    ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        after = dialog.frameGeometry();
        order.insert(order.end(), picker.calls.begin(), picker.calls.end());
    });
    QCOMPARE(order.size(), size_t(2));
    QCOMPARE(order.at(0), std::string("OnSetPosition"));
    QVERIFY(order.at(1).rfind("DoSetPosition:", 0) == 0);
    QCOMPARE(after, plain);
    before = after;

    picker.calls.clear();
    order.clear();
    picker.SetOnSetPosition([&](TBrowseForFolder*, int& left, int& top, int, int) {
        left = 40;
        top = 30;
    });
    QPoint moved;
    QSize size;
    ExecuteWith(picker, [&](TBrowseForFolderDialog& dialog) {
        moved = dialog.frameGeometry().topLeft();
        size = dialog.frameGeometry().size();
    });
    QCOMPARE(moved, QPoint(40, 30));
    QCOMPARE(size, before.size());
    QCOMPARE(picker.calls.size(), size_t(1));
    QVERIFY2(picker.calls.at(0).rfind("DoSetPosition:40,30,", 0) == 0, picker.calls.at(0).c_str());
}

QTEST_MAIN(BrwsFldrTest)
#include "qtest_BrwsFldr.moc"
