#include "BrwsFldr.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

bool IsExistingDirectory(const std::string& path)
{
    return !path.empty() && QFileInfo(QString::fromStdString(path)).isDir();
}

} // namespace

TBrowseForFolderDialog::TBrowseForFolderDialog(TBrowseForFolder& owner, QWidget* parent)
    : QDialog(parent), owner_(owner)
{
    setObjectName("BrowseForFolderDialog");
    setWindowTitle("Browse for Folder");

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath(QString());
    tree_ = new QTreeView;
    tree_->setObjectName("tree");
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column)
        tree_->hideColumn(column);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setSortingEnabled(true);
    tree_->sortByColumn(0, Qt::AscendingOrder);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons_->setObjectName("buttons");
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Nothing is selected when the dialog opens at the root.
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(false);

    auto* column = new QVBoxLayout(this);
    column->addWidget(tree_, 1);
    column->addWidget(buttons_);

    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                SelectionChanged(current.isValid() ? model_->filePath(current).toStdString() : std::string());
            });

    // The model lists folders as they are read; rows arriving above the
    // selection would push it out of view, so it is brought back until the
    // user moves through the tree.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this] {
        if (!userScrolled_ && tree_->currentIndex().isValid())
            tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
    });
    tree_->viewport()->installEventFilter(this);
    tree_->installEventFilter(this);

    resize(320, 380);
    setFixedSize(size());
}

void TBrowseForFolderDialog::SelectPath(const std::string& path)
{
    if (!IsExistingDirectory(path))
        return;
    const QString absolute = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    const QModelIndex index = model_->index(absolute);
    if (!index.isValid())
        return;
    tree_->setCurrentIndex(index);
    // scrollTo expands every folder above the selection; the selection
    // itself is opened to show what it holds.
    tree_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    tree_->expand(index);
}

std::string TBrowseForFolderDialog::SelectedPath() const
{
    const QModelIndex current = tree_->currentIndex();
    return current.isValid() ? model_->filePath(current).toStdString() : std::string();
}

void TBrowseForFolderDialog::SelectionChanged(const std::string& path)
{
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(IsExistingDirectory(path));
}

// The dialog is initialised once it is on screen, with the initial selection.
void TBrowseForFolderDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (initialised_)
        return;
    initialised_ = true;
    if (!owner_.Path().empty())
        SelectPath(owner_.Path());
    // A tree taking the focus makes its first item current, which would be a
    // selection the user never made; it gets the focus only with one.
    if (tree_->currentIndex().isValid())
        tree_->setFocus();
    else
        buttons_->button(QDialogButtonBox::Cancel)->setFocus();
}

bool TBrowseForFolderDialog::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
        userScrolled_ = true;
        break;
    default:
        break;
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
