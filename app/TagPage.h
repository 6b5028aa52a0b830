// TagPage: the page "  Edit Tag  ". Both tags of one file side by side
// (ID3v1 on the left, ID3v2 on the right), the copies between them, and
// "&Updat All", which writes the checked tags. The page keeps its own file
// and its edits across page switches, and asks before anything would drop
// edits not written yet.
//
// The controls are the page's own; tests find them by their object names
// (edtFileTag, chkTagExists1, TitleEdit1, TitleEdit, Button3, ...).
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <string>

class PageHost;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TagPage : public QWidget {
    Q_OBJECT

public:
    explicit TagPage(PageHost& host);

    // The page is being shown. It takes the split page's file when one was
    // opened there since it last took it (asking about unsaved edits first),
    // and otherwise reads its own file again unless that would drop edits.
    void ShowPage(const QString& splitPageFile);
    // Open with fileName chosen in the dialog; an empty name is a cancel.
    void OpenFile(const std::string& fileName);
    // Open is held back while a split runs.
    bool OpenEnabled() const;
    void ClickOpen();
    // Asks about unsaved edits before something would drop them (save,
    // discard, cancel); true when the caller may go on: no edits, edits
    // written or discarded.
    bool MayLeaveEdits();
    // While an equal-parts run pumps messages, opening or writing a file
    // here would pull the file from under it.
    void SetSplitRunning(bool running);

signals:
    // A tag is about to be written: the preview's stream keeps the file
    // open and must be gone first.
    void FileAboutToBeWritten();

private:
    // Building (TagPageLayout.cpp).
    void BuildPage();
    QHBoxLayout* BuildFileRow();
    QGroupBox* BuildId3v1Group();
    QGroupBox* BuildId3v2Group();
    QLayout* BuildCopyButtons();
    void ConnectHandlers();
    // The first showing: the genre list and the typing limits.
    void PrepareFields();

    // Showing and copying (TagPage.cpp).
    void btnOpenTagClick();
    void chkTagExists1Click();
    void chkTagExistsClick();
    void Button1Click();
    void Button2Click();
    void ReloadTagPage();
    void FillID3v1Group(const std::string& path);
    void FillID3v2Group(const std::string& path);
    void SetID3v1FieldsEnabled(bool enabled);
    void SetID3v2FieldsEnabled(bool enabled);
    // Whether the page holds edits of its file not written yet.
    bool TagEditsUnsaved() const;
    // Each group's fields and check box, as text, to tell edits from what
    // was last read from or written to the file.
    QStringList ID3v1FieldValues() const;
    QStringList ID3v2FieldValues() const;
    static bool IsExistingFile(const std::string& path);

    // Writing (TagPageSave.cpp).
    void Button3Click();
    void SaveID3v1Fields(const std::string& path);
    void SaveID3v2Fields(const std::string& path);
    // Another program changed the file since the page was filled: the user
    // may take the file's tags as they are now.
    void OfferReload(const std::string& reason);

    PageHost& host_;
    bool fieldsPrepared_ = false;
    QStringList savedId3v1Fields_;
    QStringList savedId3v2Fields_;
    // The split page's file when this page last took its file from it: the
    // page follows the split page only to a file opened there since.
    QString fileTakenFromSplitPage_;

    QLineEdit* edtFileTag_ = nullptr;
    QPushButton* btnOpenTag_ = nullptr;
    QGroupBox* gpbID3v1_ = nullptr;
    QGroupBox* gpbID3v2_ = nullptr;
    QCheckBox* chkTagExists1_ = nullptr;
    QCheckBox* chkTagExists_ = nullptr;
    QLineEdit* TrackEdit1_ = nullptr;  // typed: at most 2 characters
    QLineEdit* TitleEdit1_ = nullptr;  // 30
    QLineEdit* ArtistEdit1_ = nullptr; // 30
    QLineEdit* AlbumEdit1_ = nullptr;  // 30
    QLineEdit* YearEdit1_ = nullptr;   // 4
    QComboBox* GenreComboBox1_ = nullptr;
    QLineEdit* CommentEdit1_ = nullptr; // 30
    QLineEdit* TrackEdit_ = nullptr;    // the ID3v2 texts' limit each
    QLineEdit* TitleEdit_ = nullptr;
    QLineEdit* ArtistEdit_ = nullptr;
    QLineEdit* AlbumEdit_ = nullptr;
    QLineEdit* YearEdit_ = nullptr;
    QLineEdit* GenreEdit_ = nullptr;    // free text
    QPlainTextEdit* CommentMemo_ = nullptr;
    QPushButton* Button1_ = nullptr;
    QPushButton* Button2_ = nullptr;
    QPushButton* Button3_ = nullptr;
};
