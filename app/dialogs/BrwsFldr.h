// TBrowseForFolder: the folder picker. A non-visual component whose Execute
// shows a modal folder tree and returns the chosen folder in Path. Path set
// before Execute is selected when the tree opens, so the last choice is
// offered again; a cancel leaves Path as it was. OK is enabled while the
// selection is an existing folder.
#pragma once

#include <QDialog>
#include <QObject>

#include <string>

class QDialogButtonBox;
class QFileSystemModel;
class QTreeView;

class TBrowseForFolder;

// The modal dialog of one Execute; tests reach it as the active modal
// widget, and its tree ("tree") and buttons by their object names.
class TBrowseForFolderDialog : public QDialog {
    Q_OBJECT

public:
    TBrowseForFolderDialog(TBrowseForFolder& owner, QWidget* parent);

    // Selects path in the tree (when it is an existing directory) and
    // scrolls it into view; an empty or unknown path selects nothing.
    void SelectPath(const std::string& path);
    // The path of the current selection; empty when nothing is selected.
    std::string SelectedPath() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SelectionChanged(const std::string& path);

    TBrowseForFolder& owner_;
    bool userScrolled_ = false;
    QFileSystemModel* model_;
    QTreeView* tree_;
    QDialogButtonBox* buttons_;
    bool initialised_ = false;
};

class TBrowseForFolder : public QObject {
    Q_OBJECT

public:
    explicit TBrowseForFolder(QObject* owner = nullptr);

    const std::string& Path() const { return path_; }
    void SetPath(const std::string& value) { path_ = value; }

    // Shows the dialog modally over the application's active window. True
    // with Path set to the chosen folder when the user confirmed; false with
    // Path unchanged when the user cancelled or closed the dialog.
    bool Execute();

private:
    std::string path_;
};
