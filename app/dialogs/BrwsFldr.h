// TBrowseForFolder: the folder picker. A non-visual component whose Execute
// shows a modal folder tree and returns the chosen folder in Path. Path set
// before Execute is selected when the tree opens, so the last choice is
// offered again; a cancel leaves Path as it was. OK is enabled while the
// selection is an existing folder.
#pragma once

#include <QDialog>
#include <QObject>

#include <string>

class MessagePrompter;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TBrowseForFolder;

// The modal dialog of one Execute; tests reach it as the active modal
// widget, and its tree ("tree"), path box ("pathEdit"), "New Folder"
// button ("btnNewFolder") and buttons ("buttons") by their object names.
//
// The tree reads each folder it opens at once, from the disk, so the
// folder it starts at is shown among its neighbours from the first paint
// and nothing arriving later moves it. Hidden folders are listed only on
// the way to a folder that is selected.
class TBrowseForFolderDialog : public QDialog {
    Q_OBJECT

public:
    TBrowseForFolderDialog(TBrowseForFolder& owner, QWidget* parent);

    // Selects path in the tree (when it is an existing directory), opening
    // the folders above it, and scrolls it into view; an empty or unknown
    // path selects nothing.
    void SelectPath(const std::string& path);
    // The path of the current selection; empty when nothing is selected.
    std::string SelectedPath() const;

public slots:
    // A typed folder that exists is gone to first, so that OK confirms
    // what the path box shows.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const QString& path, const QString& name);
    // Reads the subfolders of item from the disk, once.
    void FillChildren(QTreeWidgetItem* item);
    QTreeWidgetItem* ChildNamed(QTreeWidgetItem* item, const QString& name);
    void SelectionChanged(QTreeWidgetItem* current);
    // False (and told) when the path box names no folder.
    bool GoToTypedPath();
    void MakeNewFolder();
    void RenameFolder(QTreeWidgetItem* item);
    void Tell(const std::string& text);

    TBrowseForFolder& owner_;
    QTreeWidget* tree_;
    QLineEdit* pathEdit_;
    QPushButton* newFolder_;
    QDialogButtonBox* buttons_;
    bool initialised_ = false;
};

class TBrowseForFolder : public QObject {
    Q_OBJECT

public:
    explicit TBrowseForFolder(QObject* owner = nullptr);

    const std::string& Path() const { return path_; }
    void SetPath(const std::string& value) { path_ = value; }
    // Where the dialog tells what it could not do (a folder that could not
    // be made or renamed, a typed path that is no folder); not owned, may
    // be null (nothing is told).
    void SetMessages(MessagePrompter* messages) { messages_ = messages; }
    MessagePrompter* Messages() const { return messages_; }

    // Shows the dialog modally over the application's active window. True
    // with Path set to the chosen folder when the user confirmed; false with
    // Path unchanged when the user cancelled or closed the dialog.
    bool Execute();

private:
    std::string path_;
    MessagePrompter* messages_ = nullptr;
};
