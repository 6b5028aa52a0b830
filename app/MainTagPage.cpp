// The page "  Edit Tag  ": both tags of one file side by side, the copies
// between them and the writing of the checked tags.

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>

#include "app/Main.h"
#include "playback/BASSPlayer.h"

namespace {

// The classic desktop's colour of an inactive caption, which marks the
// fields of a tag that the file does not have (or is not to get).
const QColor kDisabledFieldColor(0xBF, 0xCD, 0xDB);

bool IsExistingFile(const std::string& path)
{
    return !path.empty() && QFileInfo(QString::fromStdString(path)).isFile();
}

// Another program changed the file since the page was filled, and nothing
// was written: saving would have undone that change. The user may take the
// file's tags as they are now, giving up the page's edits, or keep the
// edits on the page.
bool ReloadWanted(GuiPrompterBase& prompts, const std::string& reason)
{
    return prompts.AskYesNo("Information", reason
                                               + "\nReload the tags from the file? The changes made on this page "
                                                 "are then lost.");
}

// The tag object's file, compared as the system names it.
bool ReadFrom(const std::optional<ReadOrigin>& origin, const std::string& path)
{
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return origin && !error && origin->Path == resolved.string();
}

// Limits what the user types or pastes into an edit to limit characters.
// Unlike QLineEdit's maxLength this leaves texts set by the program whole:
// the copy buttons carry a long ID3v2 text into an ID3v1 field unchanged,
// and the tag class cuts it when it is written. A text already longer than
// the limit can be shortened but not lengthened. A text set by the program
// may take two UTF-16 units per character.
void LimitTyping(QLineEdit& edit, int limit)
{
    edit.setMaxLength(std::max(32767, 2 * limit));
    auto lengthBeforeEdit = std::make_shared<qsizetype>(edit.text().size());
    // textEdited arrives before textChanged, so the length kept here is the
    // one before the user's edit when textEdited asks for it.
    QObject::connect(&edit, &QLineEdit::textChanged, &edit,
                     [lengthBeforeEdit, &edit] { *lengthBeforeEdit = edit.text().size(); });
    QObject::connect(&edit, &QLineEdit::textEdited, &edit, [lengthBeforeEdit, limit, &edit](const QString& text) {
        const qsizetype excess = text.size() - std::max<qsizetype>(limit, *lengthBeforeEdit);
        if (excess <= 0)
            return;
        // The inserted characters end at the cursor; the last ones are dropped.
        const int cursor = edit.cursorPosition();
        const qsizetype cut = std::min<qsizetype>(excess, cursor);
        QString kept = text;
        kept.remove(cursor - cut, cut);
        edit.setText(kept);
        edit.setCursorPosition(static_cast<int>(cursor - cut));
    });
}

void SetFieldsEnabled(std::initializer_list<QWidget*> fields, bool enabled)
{
    for (QWidget* field : fields) {
        field->setEnabled(enabled);
        if (enabled) {
            // An empty palette sets no colour of its own: the field takes
            // its colours from the window again, theme changes included.
            field->setPalette(QPalette());
            continue;
        }
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, kDisabledFieldColor);
        // A drop-down list paints its face in the button colour.
        if (qobject_cast<QComboBox*>(field))
            palette.setColor(QPalette::Button, kDisabledFieldColor);
        field->setPalette(palette);
    }
}

// A track number as typed: a whole number above 0, else 0 (no track), with
// an optional total behind a "/" ("7/9"). Both tags hold the number in one
// byte, so only its low eight bits are kept.
uint8_t TrackFromText(const QString& text)
{
    bool converted = false;
    const int value = text.section(QLatin1Char('/'), 0, 0).trimmed().toInt(&converted);
    if (!converted || value <= 0)
        return 0;
    return static_cast<uint8_t>(value & 0xFF);
}

// The ID3v1 setters keep far fewer characters; the cut here only bounds
// what is handed to them.
std::string FieldText(const QLineEdit& edit)
{
    return edit.text().left(255).toStdString();
}

} // namespace

void TMainForm::tabTagShow()
{
    // The page is made ready on its first showing, before anything can be
    // typed into it.
    if (!genreListFilled_) {
        GenreComboBox1->clear();
        GenreComboBox1->addItem(QString());
        for (std::string_view name : GenreNames)
            GenreComboBox1->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
        LimitTyping(*TrackEdit1, 2);
        for (QLineEdit* edit : {TitleEdit1, ArtistEdit1, AlbumEdit1, CommentEdit1})
            LimitTyping(*edit, 30);
        LimitTyping(*YearEdit1, 4);
        for (QLineEdit* edit : {TrackEdit, TitleEdit, ArtistEdit, AlbumEdit, YearEdit})
            LimitTyping(*edit, static_cast<int>(TID3v2::kMaxTextLength));
        genreListFilled_ = true;
    }
    // The page keeps its own file and its edits across page switches; it
    // takes the split page's file when one was opened there since.
    const QString splitFile = edtFile->text();
    if (splitFile != fileTakenFromSplitPage_) {
        const bool mayLeave = MayLeaveTagEdits();
        fileTakenFromSplitPage_ = splitFile;
        if (!mayLeave)
            return;
        edtFileTag->setText(splitFile);
    } else if (TagEditsUnsaved()) {
        return;
    }
    ReloadTagPage();
}

void TMainForm::btnOpenTagClick()
{
    const auto chosen = prompts().AskOpenFileName();
    OpenTagFile(chosen.value_or(std::string()));
}

void TMainForm::OpenTagFile(const std::string& fileName)
{
    if (fileName.empty()) {
        // A cancelled dialog reads the page's file again, unless that would
        // drop edits.
        if (!TagEditsUnsaved())
            ReloadTagPage();
        return;
    }
    if (!MayLeaveTagEdits())
        return;
    edtFileTag->setText(QString::fromStdString(fileName));
    ReloadTagPage();
}

void TMainForm::ReloadTagPage()
{
    if (edtFileTag->text().isEmpty())
        return;
    const std::string path = edtFileTag->text().toStdString();
    FillID3v1Group(path);
    FillID3v2Group(path);
}

QStringList TMainForm::ID3v1FieldValues() const
{
    return {chkTagExists1->isChecked() ? "1" : "0", TrackEdit1->text(), TitleEdit1->text(), ArtistEdit1->text(),
            AlbumEdit1->text(), YearEdit1->text(), QString::number(GenreComboBox1->currentIndex()),
            CommentEdit1->text()};
}

QStringList TMainForm::ID3v2FieldValues() const
{
    return {chkTagExists->isChecked() ? "1" : "0", TrackEdit->text(), TitleEdit->text(), ArtistEdit->text(),
            AlbumEdit->text(), YearEdit->text(), GenreEdit->text(), CommentMemo->toPlainText()};
}

bool TMainForm::TagEditsUnsaved() const
{
    // Edits of a file that is not there cannot be written anywhere, and a
    // group whose box is clear is not written: its fields are the user's
    // to leave.
    return IsExistingFile(edtFileTag->text().toStdString())
        && ((chkTagExists1->isChecked() && ID3v1FieldValues() != savedId3v1Fields_)
            || (chkTagExists->isChecked() && ID3v2FieldValues() != savedId3v2Fields_));
}

bool TMainForm::MayLeaveTagEdits()
{
    if (!TagEditsUnsaved())
        return true;
    switch (prompts().AskSaveEdits(edtFileTag->text().toStdString())) {
    case UnsavedEditsAnswer::Discard: return true;
    case UnsavedEditsAnswer::Cancel: return false;
    case UnsavedEditsAnswer::Save: break;
    }
    Button3Click();
    // A write that failed has said so; its edits are still there to keep.
    return !TagEditsUnsaved();
}

void TMainForm::FillID3v1Group(const std::string& path)
{
    gpbID3v1->setTitle(QStringLiteral("ID3v1"));
    chkTagExists1->setChecked(false);
    for (QLineEdit* edit : {TitleEdit1, ArtistEdit1, AlbumEdit1, TrackEdit1, YearEdit1, CommentEdit1})
        edit->clear();
    GenreComboBox1->setCurrentIndex(-1);
    if (!IsExistingFile(path)) {
        savedId3v1Fields_ = ID3v1FieldValues();
        return;
    }
    if (ID3v1.ReadTag(path) && ID3v1.Exists()) {
        chkTagExists1->setChecked(true);
        gpbID3v1->setTitle(ID3v1.VersionID() == 1 ? QStringLiteral("ID3v1 - Version 1.0")
                                                  : QStringLiteral("ID3v1 - Version 1.1"));
        TitleEdit1->setText(QString::fromStdString(ID3v1.Title()));
        ArtistEdit1->setText(QString::fromStdString(ID3v1.Artist()));
        AlbumEdit1->setText(QString::fromStdString(ID3v1.Album()));
        YearEdit1->setText(QString::fromStdString(ID3v1.Year()));
        CommentEdit1->setText(QString::fromStdString(ID3v1.Comment()));
        TrackEdit1->setText(QString::number(ID3v1.Track()));
        if (ID3v1.GenreID() < GenreNames.size() && ID3v1.GenreID() + 1 < GenreComboBox1->count())
            GenreComboBox1->setCurrentIndex(ID3v1.GenreID() + 1);
    }
    SetID3v1FieldsEnabled(chkTagExists1->isChecked());
    savedId3v1Fields_ = ID3v1FieldValues();
}

void TMainForm::FillID3v2Group(const std::string& path)
{
    gpbID3v2->setTitle(QStringLiteral("ID3v2"));
    chkTagExists->setChecked(false);
    for (QLineEdit* edit : {TitleEdit, ArtistEdit, AlbumEdit, TrackEdit, YearEdit, GenreEdit})
        edit->clear();
    CommentMemo->clear();
    if (!IsExistingFile(path)) {
        savedId3v2Fields_ = ID3v2FieldValues();
        return;
    }
    if (ID3v2.ReadTag(path) && ID3v2.Exists()) {
        chkTagExists->setChecked(true);
        gpbID3v2->setTitle(QStringLiteral("ID3v2 - Version 2.") + QString::number(ID3v2.VersionID()));
        TitleEdit->setText(QString::fromStdString(ID3v2.Title()));
        ArtistEdit->setText(QString::fromStdString(ID3v2.Artist()));
        AlbumEdit->setText(QString::fromStdString(ID3v2.Album()));
        YearEdit->setText(QString::fromStdString(ID3v2.Year()));
        GenreEdit->setText(QString::fromStdString(ID3v2.Genre()));
        CommentMemo->setPlainText(QString::fromStdString(ID3v2.Comment()));
        if (ID3v2.Track() != 0) {
            const std::string& total = ID3v2.TrackTotal();
            TrackEdit->setText(QString::number(ID3v2.Track())
                               + (total.empty() ? QString() : QLatin1Char('/') + QString::fromStdString(total)));
        }
    }
    SetID3v2FieldsEnabled(chkTagExists->isChecked());
    savedId3v2Fields_ = ID3v2FieldValues();
}

void TMainForm::SetID3v1FieldsEnabled(bool enabled)
{
    SetFieldsEnabled({TrackEdit1, TitleEdit1, ArtistEdit1, AlbumEdit1, YearEdit1, GenreComboBox1, CommentEdit1},
                     enabled);
}

void TMainForm::SetID3v2FieldsEnabled(bool enabled)
{
    SetFieldsEnabled({TrackEdit, TitleEdit, ArtistEdit, AlbumEdit, YearEdit, GenreEdit, CommentMemo}, enabled);
}

void TMainForm::chkTagExists1Click()
{
    SetID3v1FieldsEnabled(chkTagExists1->isChecked());
    savedId3v1Fields_ = ID3v1FieldValues();
}

void TMainForm::chkTagExistsClick()
{
    SetID3v2FieldsEnabled(chkTagExists->isChecked());
    savedId3v2Fields_ = ID3v2FieldValues();
}

void TMainForm::Button1Click()
{
    if (!chkTagExists1->isChecked())
        return;
    chkTagExists->setChecked(true);
    SetID3v2FieldsEnabled(true);
    TrackEdit->setText(TrackEdit1->text());
    TitleEdit->setText(TitleEdit1->text());
    ArtistEdit->setText(ArtistEdit1->text());
    AlbumEdit->setText(AlbumEdit1->text());
    YearEdit->setText(YearEdit1->text());
    GenreEdit->setText(GenreComboBox1->currentText());
    CommentMemo->setPlainText(CommentEdit1->text());
}

void TMainForm::Button2Click()
{
    if (!chkTagExists->isChecked())
        return;
    chkTagExists1->setChecked(true);
    SetID3v1FieldsEnabled(true);
    TrackEdit1->setText(TrackEdit->text().section(QLatin1Char('/'), 0, 0));  // ID3v1 has no total
    TitleEdit1->setText(TitleEdit->text());
    ArtistEdit1->setText(ArtistEdit->text());
    AlbumEdit1->setText(AlbumEdit->text());
    YearEdit1->setText(YearEdit->text());
    const QString genre = GenreEdit->text();
    for (int entry = 0; entry < GenreComboBox1->count(); ++entry) {
        if (GenreComboBox1->itemText(entry).compare(genre, Qt::CaseInsensitive) == 0) {
            GenreComboBox1->setCurrentIndex(entry);
            break;
        }
    }
    CommentEdit1->setText(CommentMemo->toPlainText());
}

void TMainForm::Button3Click()
{
    const std::string path = edtFileTag->text().toStdString();
    const std::optional<ReadOrigin> readV1 = ID3v1.Origin();
    if (chkTagExists1->isChecked()) {
        SaveID3v1Fields(path);
        if (ID3v1.FileChangedSinceRead())
            return;  // told, and offered to reload: the ID3v2 write would be refused the same way
    }
    // Both tags were read when the page was filled: the ID3v1 write just
    // made is no reason to refuse the ID3v2 one.
    if (readV1 && ID3v1.Origin())
        ID3v2.FollowOwnWrite(*readV1, *ID3v1.Origin());
    const std::optional<ReadOrigin> readV2 = ID3v2.Origin();
    if (chkTagExists->isChecked())
        SaveID3v2Fields(path);
    // And the next save's ID3v1 write is no reason to refuse this one.
    if (readV2 && ID3v2.Origin())
        ID3v1.FollowOwnWrite(*readV2, *ID3v2.Origin());
}

void TMainForm::SaveID3v1Fields(const std::string& path)
{
    if (!IsExistingFile(path))
        return;
    // The preview's stream keeps the file open; it must be gone before the tag is written.
    TmrPlayer->stop();
    Player->Close();
    ID3v1.SetTitle(FieldText(*TitleEdit1));
    ID3v1.SetArtist(FieldText(*ArtistEdit1));
    ID3v1.SetAlbum(FieldText(*AlbumEdit1));
    ID3v1.SetYear(FieldText(*YearEdit1));
    ID3v1.SetTrack(TrackFromText(TrackEdit1->text()));
    const int genreEntry = GenreComboBox1->currentIndex();
    ID3v1.SetGenreID(genreEntry <= 0 ? 255 : static_cast<uint8_t>(genreEntry - 1));
    ID3v1.SetComment(FieldText(*CommentEdit1));
    if (ID3v1.WriteTag(path)) {
        savedId3v1Fields_ = ID3v1FieldValues();
        return;
    }
    if (ID3v1.FileChangedSinceRead()) {
        if (ReloadWanted(prompts(), ID3v1.WriteError()))
            ReloadTagPage();
        return;
    }
    prompts().ShowMessage("Information",
                          "The ID3v1 tag could not be written to the file\n" + path + "\n" + ID3v1.WriteError(),
                          MessageIcon::Information);
}

void TMainForm::SaveID3v2Fields(const std::string& path)
{
    if (!IsExistingFile(path))
        return;
    TmrPlayer->stop();
    Player->Close();
    // The frames this page does not edit (pictures, lyrics, ...) are written
    // back from the tag read now. That tag must be this file's own, whole:
    // the tag object is shared with the split commands (which drop frames
    // from it), and the path may have been typed since the page was filled.
    // The file must still be as it was read for the page: writing would
    // undo what another program changed since.
    const std::optional<ReadOrigin> shown = ID3v2.Origin();
    ID3v2.ReadTag(path);
    if (ReadFrom(shown, path) && (!ID3v2.Origin() || ID3v2.Origin()->Identity != shown->Identity)) {
        if (ReloadWanted(prompts(), ChangedSinceReadText(path)))
            ReloadTagPage();
        return;
    }
    ID3v2.SetTitle(TitleEdit->text().toStdString());
    ID3v2.SetArtist(ArtistEdit->text().toStdString());
    ID3v2.SetAlbum(AlbumEdit->text().toStdString());
    ID3v2.SetTrack(TrackFromText(TrackEdit->text()));
    const QString trackText = TrackEdit->text();
    ID3v2.SetTrackTotal(trackText.contains(QLatin1Char('/')) ? trackText.section(QLatin1Char('/'), 1).toStdString()
                                                             : std::string());
    ID3v2.SetYear(YearEdit->text().toStdString());
    ID3v2.SetGenre(GenreEdit->text().toStdString());
    ID3v2.SetComment(CommentMemo->toPlainText().toStdString());
    if (ID3v2.WriteTag(path)) {
        savedId3v2Fields_ = ID3v2FieldValues();
        return;
    }
    if (ID3v2.FileChangedSinceRead()) {
        if (ReloadWanted(prompts(), ID3v2.WriteError()))
            ReloadTagPage();
        return;
    }
    std::string text = "The ID3v2 tag could not be written to the file\n" + path;
    if (!ID3v2.WriteError().empty())
        text += "\n" + ID3v2.WriteError();
    prompts().ShowMessage("Information", text, MessageIcon::Information);
}
