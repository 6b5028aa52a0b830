// TBrowseForFolder: the folder picker. A non-visual component whose Execute
// shows a modal folder tree and returns the chosen folder in Path. Path set
// before Execute is selected when the tree opens, so the last choice is
// offered again; a cancel leaves Path as it was.
//
// OnSelChanged runs on every change of the selection with that folder's
// path (empty for an item without one) and may change whether OK is
// enabled (initially: the path is an existing directory). OnSetPosition
// runs once when the dialog opens with its frame position and size; only a
// change of Left or Top moves it. DoSelChanged and DoSetPosition run right
// after the matching event and do nothing here.
#pragma once

#include <QDialog>
#include <QObject>

#include <functional>
#include <string>

class QDialogButtonBox;
class QFileSystemModel;
class QTreeView;

class TBrowseForFolder;

using TOnSelChanged = std::function<void(TBrowseForFolder* Sender, const std::string& Path, bool& EnableOk)>;
using TOnSetPosition = std::function<void(TBrowseForFolder* Sender, int& Left, int& Top, int Width, int Height)>;

// The modal dialog of one Execute; tests reach it as the active modal widget.
class TBrowseForFolderDialog : public QDialog {
    Q_OBJECT

public:
    TBrowseForFolderDialog(TBrowseForFolder& owner, QWidget* parent);

    // Selects path in the tree (when it is an existing directory) and
    // scrolls it into view; an empty or unknown path selects nothing.
    void SelectPath(const std::string& path);
    // The path of the current selection; empty when nothing is selected.
    std::string SelectedPath() const;
    // Runs the selection-change step for path: the events, then OK follows EnableOk.
    void SelectionChanged(const std::string& path);
    bool OkEnabled() const;
    QTreeView* Tree() const { return tree_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TBrowseForFolder& owner_;
    bool userScrolled_ = false;
    QFileSystemModel* model_;
    QTreeView* tree_;
    QDialogButtonBox* buttons_;
    bool positioned_ = false;
};

class TBrowseForFolder : public QObject {
    Q_OBJECT

public:
    explicit TBrowseForFolder(QObject* owner = nullptr);

    const std::string& Path() const { return path_; }
    void SetPath(const std::string& value) { path_ = value; }
    const TOnSelChanged& OnSelChanged() const { return onSelChanged_; }
    void SetOnSelChanged(TOnSelChanged value) { onSelChanged_ = std::move(value); }
    const TOnSetPosition& OnSetPosition() const { return onSetPosition_; }
    void SetOnSetPosition(TOnSetPosition value) { onSetPosition_ = std::move(value); }

    // Shows the dialog modally over the application's active window. True
    // with Path set to the chosen folder when the user confirmed; false with
    // Path unchanged when the user cancelled or closed the dialog.
    bool Execute();

protected:
    virtual void DoSelChanged(const std::string& path, bool& enableOk);
    virtual void DoSetPosition(int& left, int& top, int width, int height);

private:
    friend class TBrowseForFolderDialog;
    void SelChanged(const std::string& path, bool& enableOk);
    void SetPosition(int& left, int& top, int width, int height);

    std::string path_;
    TOnSelChanged onSelChanged_;
    TOnSetPosition onSetPosition_;
};
