// The window's menu: a button in the corner of the page tabs that offers
// every command of the window with its key, for users who look for a menu
// before they look at the buttons.
#include "app/Main.h"

#include <QAbstractButton>
#include <QMenu>
#include <QShortcut>
#include <QTabWidget>
#include <QToolButton>

#include "app/SplitPage.h"
#include "app/WidgetMakers.h"

namespace {

// The key is shown in the menu only: the window's shortcuts own the keys,
// so that they work with the menu closed and never twice.
QAction* AddEntry(QMenu& menu, const QString& text, const char* key, const char* name)
{
    QAction* action = menu.addAction(key ? text + '\t' + QKeySequence(key).toString(QKeySequence::NativeText) : text);
    action->setObjectName(name);
    return action;
}

} // namespace

// A split command runs in the mode its menu entry names, as if the mode's
// radio button and then Split were clicked (either does nothing while disabled).
void TMainForm::RunSplitIn(const char* modeButton)
{
    pgcMain_->setCurrentWidget(splitPage_);
    splitPage_->findChild<QAbstractButton*>(modeButton)->click();
    splitPage_->findChild<QAbstractButton*>("btnSplit")->click();
}

void TMainForm::BuildMenu()
{
    auto* button = Named(new QToolButton, "btnMenu");
    button->setText("&Menu");
    button->setPopupMode(QToolButton::InstantPopup);
    button->setAutoRaise(true);
    auto* menu = Named(new QMenu(button), "mnuMain");
    button->setMenu(menu);

    const auto entry = [this, menu](const QString& text, const char* key, const char* name, auto command) {
        connect(AddEntry(*menu, text, key, name), &QAction::triggered, this, [this, command] { RunHandler(command); });
    };
    entry("&Open...", "Ctrl+O", "actOpen", [this] { OpenOnPageShown(); });
    // The recent files are the Open button's own entries, keys included.
    QMenu* recent = menu->addMenu("&Recent Files");
    recent->setObjectName("mnuRecent");
    auto* recentButton = splitPage_->findChild<QToolButton*>("btnRecent");
    connect(menu, &QMenu::aboutToShow, recent,
            [recent, recentButton] { recent->setEnabled(!recentButton->menu()->actions().isEmpty()); });
    connect(recent, &QMenu::aboutToShow, recent, [recent, recentButton] {
        recent->clear();
        recent->addActions(recentButton->menu()->actions());
    });
    menu->addSeparator();
    entry("&Save Section...", "Ctrl+S", "actSaveSection", [this] { RunSplitIn("rdbTime"); });
    entry("S&plit into Parts...", "Ctrl+P", "actSplit", [this] { RunSplitIn("rdbPart"); });
    menu->addSeparator();
    entry("&Help", "F1", "actHelp", [this] { ShowHelp(); });
    entry("&About", nullptr, "actAbout", [this] { ShowAbout(); });
    menu->addSeparator();
    entry("&Quit", "Ctrl+Q", "actQuit", [this] { close(); });
    pgcMain_->setCornerWidget(button, Qt::TopRightCorner);
}
