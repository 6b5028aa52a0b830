// The tag page: what it shows of a file's two tags, the check boxes, the
// copies between the groups, and the guard over edits not written yet.
#include "app/TagPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>

#include <initializer_list>
#include <optional>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "app/GuiPrompter.h"
#include "app/PageHost.h"

namespace {

// The classic desktop's colour of an inactive caption, which marks the
// fields of a tag that the file does not have (or is not to get).
const QColor kDisabledFieldColor(0xBF, 0xCD, 0xDB);

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

} // namespace

TagPage::TagPage(PageHost& host) : host_(host)
{
    BuildPage();
    ConnectHandlers();
}

bool TagPage::OpenEnabled() const { return btnOpenTag_->isEnabled(); }
void TagPage::ClickOpen() { btnOpenTag_->click(); }

void TagPage::SetSplitRunning(bool running)
{
    for (QWidget* widget : std::initializer_list<QWidget*>{btnOpenTag_, Button3_})
        widget->setEnabled(!running);
}

void TagPage::ShowPage(const QString& splitPageFile)
{
    // The page is made ready on its first showing, before anything can be
    // typed into it.
    if (!fieldsPrepared_) {
        PrepareFields();
        fieldsPrepared_ = true;
    }
    // The page keeps its own file and its edits across page switches; it
    // takes the split page's file when one was opened there since.
    if (splitPageFile != fileTakenFromSplitPage_) {
        const bool mayLeave = MayLeaveEdits();
        fileTakenFromSplitPage_ = splitPageFile;
        if (!mayLeave)
            return;
        edtFileTag_->setText(splitPageFile);
    } else if (TagEditsUnsaved()) {
        return;
    }
    ReloadTagPage();
}

void TagPage::btnOpenTagClick()
{
    const auto chosen = host_.prompts().AskOpenFileName();
    OpenFile(chosen.value_or(std::string()));
}

void TagPage::OpenFile(const std::string& fileName)
{
    if (fileName.empty()) {
        // A cancelled dialog reads the page's file again, unless that would
        // drop edits.
        if (!TagEditsUnsaved())
            ReloadTagPage();
        return;
    }
    if (!MayLeaveEdits())
        return;
    edtFileTag_->setText(QString::fromStdString(fileName));
    ReloadTagPage();
}

void TagPage::ReloadTagPage()
{
    if (edtFileTag_->text().isEmpty())
        return;
    const std::string path = edtFileTag_->text().toStdString();
    FillID3v1Group(path);
    FillID3v2Group(path);
}

QStringList TagPage::ID3v1FieldValues() const
{
    return {chkTagExists1_->isChecked() ? "1" : "0", TrackEdit1_->text(), TitleEdit1_->text(), ArtistEdit1_->text(),
            AlbumEdit1_->text(), YearEdit1_->text(), QString::number(GenreComboBox1_->currentIndex()),
            CommentEdit1_->text()};
}

QStringList TagPage::ID3v2FieldValues() const
{
    return {chkTagExists_->isChecked() ? "1" : "0", TrackEdit_->text(), TitleEdit_->text(), ArtistEdit_->text(),
            AlbumEdit_->text(), YearEdit_->text(), GenreEdit_->text(), CommentMemo_->toPlainText()};
}

bool TagPage::IsExistingFile(const std::string& path)
{
    return !path.empty() && QFileInfo(QString::fromStdString(path)).isFile();
}

bool TagPage::TagEditsUnsaved() const
{
    // Edits of a file that is not there cannot be written anywhere, and a
    // group whose box is clear is not written: its fields are the user's
    // to leave.
    return IsExistingFile(edtFileTag_->text().toStdString())
        && ((chkTagExists1_->isChecked() && ID3v1FieldValues() != savedId3v1Fields_)
            || (chkTagExists_->isChecked() && ID3v2FieldValues() != savedId3v2Fields_));
}

bool TagPage::MayLeaveEdits()
{
    if (!TagEditsUnsaved())
        return true;
    switch (host_.prompts().AskSaveEdits(edtFileTag_->text().toStdString())) {
    case UnsavedEditsAnswer::Discard: return true;
    case UnsavedEditsAnswer::Cancel: return false;
    case UnsavedEditsAnswer::Save: break;
    }
    Button3Click();
    // A write that failed has said so; its edits are still there to keep.
    return !TagEditsUnsaved();
}

void TagPage::FillID3v1Group(const std::string& path)
{
    gpbID3v1_->setTitle(QStringLiteral("ID3v1"));
    chkTagExists1_->setChecked(false);
    for (QLineEdit* edit : {TitleEdit1_, ArtistEdit1_, AlbumEdit1_, TrackEdit1_, YearEdit1_, CommentEdit1_})
        edit->clear();
    GenreComboBox1_->setCurrentIndex(-1);
    if (!IsExistingFile(path)) {
        savedId3v1Fields_ = ID3v1FieldValues();
        return;
    }
    TID3v1& tag = host_.Id3v1();
    if (tag.ReadTag(path) && tag.Exists()) {
        chkTagExists1_->setChecked(true);
        gpbID3v1_->setTitle(tag.VersionID() == 1 ? QStringLiteral("ID3v1 - Version 1.0")
                                                  : QStringLiteral("ID3v1 - Version 1.1"));
        TitleEdit1_->setText(QString::fromStdString(tag.Title()));
        ArtistEdit1_->setText(QString::fromStdString(tag.Artist()));
        AlbumEdit1_->setText(QString::fromStdString(tag.Album()));
        YearEdit1_->setText(QString::fromStdString(tag.Year()));
        CommentEdit1_->setText(QString::fromStdString(tag.Comment()));
        TrackEdit1_->setText(QString::number(tag.Track()));
        if (tag.GenreID() < GenreNames.size() && tag.GenreID() + 1 < GenreComboBox1_->count())
            GenreComboBox1_->setCurrentIndex(tag.GenreID() + 1);
    }
    SetID3v1FieldsEnabled(chkTagExists1_->isChecked());
    savedId3v1Fields_ = ID3v1FieldValues();
}

void TagPage::FillID3v2Group(const std::string& path)
{
    gpbID3v2_->setTitle(QStringLiteral("ID3v2"));
    chkTagExists_->setChecked(false);
    for (QLineEdit* edit : {TitleEdit_, ArtistEdit_, AlbumEdit_, TrackEdit_, YearEdit_, GenreEdit_})
        edit->clear();
    CommentMemo_->clear();
    if (!IsExistingFile(path)) {
        savedId3v2Fields_ = ID3v2FieldValues();
        return;
    }
    TID3v2& tag = host_.Id3v2();
    if (tag.ReadTag(path) && tag.Exists()) {
        chkTagExists_->setChecked(true);
        gpbID3v2_->setTitle(QStringLiteral("ID3v2 - Version 2.") + QString::number(tag.VersionID()));
        TitleEdit_->setText(QString::fromStdString(tag.Title()));
        ArtistEdit_->setText(QString::fromStdString(tag.Artist()));
        AlbumEdit_->setText(QString::fromStdString(tag.Album()));
        YearEdit_->setText(QString::fromStdString(tag.Year()));
        GenreEdit_->setText(QString::fromStdString(tag.Genre()));
        CommentMemo_->setPlainText(QString::fromStdString(tag.Comment()));
        if (tag.Track() != 0) {
            const std::string& total = tag.TrackTotal();
            TrackEdit_->setText(QString::number(tag.Track())
                               + (total.empty() ? QString() : QLatin1Char('/') + QString::fromStdString(total)));
        }
    }
    SetID3v2FieldsEnabled(chkTagExists_->isChecked());
    savedId3v2Fields_ = ID3v2FieldValues();
}

void TagPage::SetID3v1FieldsEnabled(bool enabled)
{
    SetFieldsEnabled({TrackEdit1_, TitleEdit1_, ArtistEdit1_, AlbumEdit1_, YearEdit1_, GenreComboBox1_, CommentEdit1_},
                     enabled);
}

void TagPage::SetID3v2FieldsEnabled(bool enabled)
{
    SetFieldsEnabled({TrackEdit_, TitleEdit_, ArtistEdit_, AlbumEdit_, YearEdit_, GenreEdit_, CommentMemo_}, enabled);
}

void TagPage::chkTagExists1Click()
{
    SetID3v1FieldsEnabled(chkTagExists1_->isChecked());
    savedId3v1Fields_ = ID3v1FieldValues();
}

void TagPage::chkTagExistsClick()
{
    SetID3v2FieldsEnabled(chkTagExists_->isChecked());
    savedId3v2Fields_ = ID3v2FieldValues();
}

void TagPage::Button1Click()
{
    if (!chkTagExists1_->isChecked())
        return;
    chkTagExists_->setChecked(true);
    SetID3v2FieldsEnabled(true);
    TrackEdit_->setText(TrackEdit1_->text());
    TitleEdit_->setText(TitleEdit1_->text());
    ArtistEdit_->setText(ArtistEdit1_->text());
    AlbumEdit_->setText(AlbumEdit1_->text());
    YearEdit_->setText(YearEdit1_->text());
    GenreEdit_->setText(GenreComboBox1_->currentText());
    CommentMemo_->setPlainText(CommentEdit1_->text());
}

void TagPage::Button2Click()
{
    if (!chkTagExists_->isChecked())
        return;
    chkTagExists1_->setChecked(true);
    SetID3v1FieldsEnabled(true);
    TrackEdit1_->setText(TrackEdit_->text().section(QLatin1Char('/'), 0, 0));  // ID3v1 has no total
    TitleEdit1_->setText(TitleEdit_->text());
    ArtistEdit1_->setText(ArtistEdit_->text());
    AlbumEdit1_->setText(AlbumEdit_->text());
    YearEdit1_->setText(YearEdit_->text());
    const QString genre = GenreEdit_->text();
    for (int entry = 0; entry < GenreComboBox1_->count(); ++entry) {
        if (GenreComboBox1_->itemText(entry).compare(genre, Qt::CaseInsensitive) == 0) {
            GenreComboBox1_->setCurrentIndex(entry);
            break;
        }
    }
    CommentEdit1_->setText(CommentMemo_->toPlainText());
}
