#include "BrwsFldr.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "playback/MessagePrompter.h"

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;
constexpr const char* kCaption = "Browse for Folder";

bool IsExistingDirectory(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

QString ItemPath(const QTreeWidgetItem* item) { return item ? item->data(0, kPathRole).toString() : QString(); }

QString ChildPath(const QString& parent, const QString& name)
{
    return parent.endsWith('/') ? parent + name : parent + '/' + name;
}

} // namespace

TBrowseForFolderDialog::TBrowseForFolderDialog(TBrowseForFolder& owner, QWidget* parent)
    : QDialog(parent), owner_(owner)
{
    setObjectName("BrowseForFolderDialog");
    setWindowTitle(kCaption);

    pathEdit_ = new QLineEdit;
    pathEdit_->setObjectName("pathEdit");
    pathEdit_->setPlaceholderText("Type or paste a folder and press Enter");
    pathEdit_->installEventFilter(this);

    tree_ = new QTreeWidget;
    tree_->setObjectName("tree");
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);
    AddFolder(nullptr, "/", "/");

    newFolder_ = new QPushButton("&New Folder");
    newFolder_->setObjectName("btnNewFolder");
    newFolder_->setAutoDefault(false);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons_->setObjectName("buttons");
    connect(buttons_, &QDialogButtonBox::accepted, this, &TBrowseForFolderDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Nothing is selected when the dialog opens at the root.
    SelectionChanged(nullptr);

    auto* lower = new QHBoxLayout;
    lower->addWidget(newFolder_);
    lower->addStretch(1);
    lower->addWidget(buttons_);
    auto* column = new QVBoxLayout(this);
    column->addWidget(pathEdit_);
    column->addWidget(tree_, 1);
    column->addLayout(lower);

    connect(tree_, &QTreeWidget::itemExpanded, this, &TBrowseForFolderDialog::FillChildren);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { SelectionChanged(current); });
    connect(tree_, &QTreeWidget::itemChanged, this, &TBrowseForFolderDialog::RenameFolder);
    connect(newFolder_, &QPushButton::clicked, this, &TBrowseForFolderDialog::MakeNewFolder);

    tree_->topLevelItem(0)->setExpanded(true);
    resize(360, 420);
}

QTreeWidgetItem* TBrowseForFolderDialog::AddFolder(QTreeWidgetItem* parent, const QString& path, const QString& name)
{
    auto* item = new QTreeWidgetItem(QStringList{name});
    item->setData(0, kPathRole, path);
    // Whether a folder holds folders is known once it is opened.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    if (parent)
        parent->addChild(item);
    else
        tree_->addTopLevelItem(item);
    return item;
}

void TBrowseForFolderDialog::FillChildren(QTreeWidgetItem* item)
{
    if (item->data(0, kFilledRole).toBool())
        return;
    const QSignalBlocker quiet(tree_);
    item->setData(0, kFilledRole, true);
    const QString path = ItemPath(item);
    const QFileInfoList folders =
        QDir(path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QFileInfo& folder : folders)
        AddFolder(item, ChildPath(path, folder.fileName()), folder.fileName());
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* TBrowseForFolderDialog::ChildNamed(QTreeWidgetItem* item, const QString& name)
{
    FillChildren(item);
    for (int i = 0; i < item->childCount(); ++i)
        if (item->child(i)->text(0) == name)
            return item->child(i);
    // A hidden folder, or one made since the parent was read.
    const QString path = ChildPath(ItemPath(item), name);
    if (!IsExistingDirectory(path))
        return nullptr;
    const QSignalBlocker quiet(tree_);
    return AddFolder(item, path, name);
}

void TBrowseForFolderDialog::SelectPath(const std::string& path)
{
    const QString wanted = QDir::cleanPath(QFileInfo(QString::fromStdString(path)).absoluteFilePath());
    if (path.empty() || !IsExistingDirectory(wanted))
        return;
    QTreeWidgetItem* item = tree_->topLevelItem(0);
    for (const QString& name : wanted.split('/', Qt::SkipEmptyParts)) {
        item = ChildNamed(item, name);
        if (!item)
            return;
    }
    for (QTreeWidgetItem* up = item->parent(); up; up = up->parent())
        up->setExpanded(true);
    tree_->setCurrentItem(item);
    // The selection itself is opened to show what it holds.
    item->setExpanded(true);
    tree_->scrollToItem(item, QAbstractItemView::PositionAtCenter);
}

std::string TBrowseForFolderDialog::SelectedPath() const { return ItemPath(tree_->currentItem()).toStdString(); }

void TBrowseForFolderDialog::SelectionChanged(QTreeWidgetItem* current)
{
    const QString path = ItemPath(current);
    const bool folder = IsExistingDirectory(path);
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(folder);
    newFolder_->setEnabled(folder);
    pathEdit_->setText(path);
}

void TBrowseForFolderDialog::accept()
{
    const QString typed = pathEdit_->text().trimmed();
    if (!typed.isEmpty() && typed.toStdString() != SelectedPath() && !GoToTypedPath())
        return;
    if (IsExistingDirectory(ItemPath(tree_->currentItem())))
        QDialog::accept();
}

// A path typed relative to nothing is taken from the selected folder, and
// "~" stands for the home folder, as in a shell.
bool TBrowseForFolderDialog::GoToTypedPath()
{
    QString typed = pathEdit_->text().trimmed();
    if (typed == "~" || typed.startsWith("~/"))
        typed = QDir::homePath() + typed.mid(1);
    const QString base = ItemPath(tree_->currentItem());
    const QString path = QDir::cleanPath(QDir(base.isEmpty() ? QDir::rootPath() : base).absoluteFilePath(typed));
    if (!IsExistingDirectory(path)) {
        Tell("The folder \"" + path.toStdString() + "\" does not exist.");
        return false;
    }
    SelectPath(path.toStdString());
    SelectionChanged(tree_->currentItem());
    return true;
}

void TBrowseForFolderDialog::MakeNewFolder()
{
    QTreeWidgetItem* parent = tree_->currentItem();
    const QString parentPath = ItemPath(parent);
    QString name = "New Folder";
    for (int number = 2; QFileInfo::exists(ChildPath(parentPath, name)); ++number)
        name = QString("New Folder (%1)").arg(number);
    if (!IsExistingDirectory(parentPath) || !QDir(parentPath).mkdir(name)) {
        Tell("The folder \"" + ChildPath(parentPath, name).toStdString() + "\" could not be made.");
        return;
    }
    QTreeWidgetItem* made = ChildNamed(parent, name);
    if (!made)
        return;
    {
        const QSignalBlocker quiet(tree_);
        made->setFlags(made->flags() | Qt::ItemIsEditable);
    }
    parent->setExpanded(true);
    tree_->setCurrentItem(made);
    tree_->scrollToItem(made);
    // Named as the user types, in place, as file managers do.
    tree_->editItem(made);
}

void TBrowseForFolderDialog::RenameFolder(QTreeWidgetItem* item)
{
    const QString from = ItemPath(item);
    const QString name = item->text(0).trimmed();
    if (name == QFileInfo(from).fileName())
        return;
    const QString to = ChildPath(QFileInfo(from).path(), name);
    const QSignalBlocker quiet(tree_);
    if (name.isEmpty() || name.contains('/') || name == "." || name == ".." || QFileInfo::exists(to)
        || !QDir().rename(from, to)) {
        item->setText(0, QFileInfo(from).fileName());
        Tell("The folder \"" + from.toStdString() + "\" could not be renamed to \"" + name.toStdString() + "\".");
        return;
    }
    item->setText(0, name);
    item->setData(0, kPathRole, to);
    SelectionChanged(tree_->currentItem());
}

void TBrowseForFolderDialog::Tell(const std::string& text)
{
    if (MessagePrompter* messages = owner_.Messages())
        messages->ShowMessage(kCaption, text, MessageIcon::Warning);
}

// The start folder is selected once the dialog has its size and before it
// is first drawn, so that it is in view from the start.
void TBrowseForFolderDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (initialised_)
        return;
    initialised_ = true;
    SelectPath(owner_.Path());
    // A tree taking the focus makes its first item current, which would be a
    // selection the user never made; it gets the focus only with one.
    if (tree_->currentItem())
        tree_->setFocus();
    else
        pathEdit_->setFocus();
}

// Enter in the path box goes to the folder typed; it does not confirm.
bool TBrowseForFolderDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pathEdit_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            GoToTypedPath();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

TBrowseForFolder::TBrowseForFolder(QObject* owner) : QObject(owner) {}

bool TBrowseForFolder::Execute()
{
    TBrowseForFolderDialog dialog(*this, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    path_ = dialog.SelectedPath();
    return true;
}
