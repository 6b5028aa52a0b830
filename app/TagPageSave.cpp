// The tag page's "&Updat All": the checked tags written to the page's file,
// each refused when another program changed the file since it was read.
#include "app/TagPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <filesystem>
#include <optional>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "app/GuiPrompter.h"
#include "app/PageHost.h"

namespace {

// The tag object's file, compared as the system names it.
bool ReadFrom(const std::optional<ReadOrigin>& origin, const std::string& path)
{
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return origin && !error && origin->Path == resolved.string();
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

void TagPage::Button3Click()
{
    TID3v1& v1 = host_.Id3v1();
    TID3v2& v2 = host_.Id3v2();
    const std::string path = edtFileTag_->text().toStdString();
    const std::optional<ReadOrigin> readV1 = v1.Origin();
    if (chkTagExists1_->isChecked()) {
        SaveID3v1Fields(path);
        if (v1.FileChangedSinceRead())
            return;  // told, and offered to reload: the ID3v2 write would be refused the same way
    }
    // Both tags were read when the page was filled: the ID3v1 write just
    // made is no reason to refuse the ID3v2 one.
    if (readV1 && v1.Origin())
        v2.FollowOwnWrite(*readV1, *v1.Origin());
    const std::optional<ReadOrigin> readV2 = v2.Origin();
    if (chkTagExists_->isChecked())
        SaveID3v2Fields(path);
    // And the next save's ID3v1 write is no reason to refuse this one.
    if (readV2 && v2.Origin())
        v1.FollowOwnWrite(*readV2, *v2.Origin());
}

// Another program changed the file since the page was filled, and nothing
// was written: saving would have undone that change. The user may take the
// file's tags as they are now, giving up the page's edits, or keep the
// edits on the page.
void TagPage::OfferReload(const std::string& reason)
{
    if (host_.prompts().AskYesNo("Information", reason
                                                    + "\nReload the tags from the file? The changes made on this "
                                                      "page are then lost."))
        ReloadTagPage();
}

void TagPage::SaveID3v1Fields(const std::string& path)
{
    if (!IsExistingFile(path))
        return;
    emit FileAboutToBeWritten();
    TID3v1& tag = host_.Id3v1();
    tag.SetTitle(FieldText(*TitleEdit1_));
    tag.SetArtist(FieldText(*ArtistEdit1_));
    tag.SetAlbum(FieldText(*AlbumEdit1_));
    tag.SetYear(FieldText(*YearEdit1_));
    tag.SetTrack(TrackFromText(TrackEdit1_->text()));
    const int genreEntry = GenreComboBox1_->currentIndex();
    tag.SetGenreID(genreEntry <= 0 ? 255 : static_cast<uint8_t>(genreEntry - 1));
    tag.SetComment(FieldText(*CommentEdit1_));
    if (tag.WriteTag(path)) {
        savedId3v1Fields_ = ID3v1FieldValues();
        return;
    }
    if (tag.FileChangedSinceRead()) {
        OfferReload(tag.WriteError());
        return;
    }
    host_.prompts().ShowMessage("Information",
                                "The ID3v1 tag could not be written to the file\n" + path + "\n" + tag.WriteError(),
                                MessageIcon::Information);
}

void TagPage::SaveID3v2Fields(const std::string& path)
{
    if (!IsExistingFile(path))
        return;
    emit FileAboutToBeWritten();
    TID3v2& tag = host_.Id3v2();
    // The frames this page does not edit (pictures, lyrics, ...) are written
    // back from the tag read now. That tag must be this file's own, whole:
    // the tag object is shared with the split commands (which drop frames
    // from it), and the path may have been typed since the page was filled.
    // The file must still be as it was read for the page: writing would
    // undo what another program changed since.
    const std::optional<ReadOrigin> shown = tag.Origin();
    tag.ReadTag(path);
    if (ReadFrom(shown, path) && (!tag.Origin() || tag.Origin()->Identity != shown->Identity)) {
        OfferReload(ChangedSinceReadText(path));
        return;
    }
    tag.SetTitle(TitleEdit_->text().toStdString());
    tag.SetArtist(ArtistEdit_->text().toStdString());
    tag.SetAlbum(AlbumEdit_->text().toStdString());
    tag.SetTrack(TrackFromText(TrackEdit_->text()));
    const QString trackText = TrackEdit_->text();
    tag.SetTrackTotal(trackText.contains(QLatin1Char('/')) ? trackText.section(QLatin1Char('/'), 1).toStdString()
                                                           : std::string());
    tag.SetYear(YearEdit_->text().toStdString());
    tag.SetGenre(GenreEdit_->text().toStdString());
    tag.SetComment(CommentMemo_->toPlainText().toStdString());
    if (tag.WriteTag(path)) {
        savedId3v2Fields_ = ID3v2FieldValues();
        return;
    }
    if (tag.FileChangedSinceRead()) {
        OfferReload(tag.WriteError());
        return;
    }
    std::string text = "The ID3v2 tag could not be written to the file\n" + path;
    if (!tag.WriteError().empty())
        text += "\n" + tag.WriteError();
    host_.prompts().ShowMessage("Information", text, MessageIcon::Information);
}
