// Building the tag page's controls, wiring them to its handlers, and the
// genre list and typing limits the fields get on the page's first showing.
#include "app/TagPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "app/PageHost.h"
#include "app/PageLinks.h"
#include "app/WidgetMakers.h"

namespace {

// One group's rows under its check box: a label and its field each.
void AddFieldRows(QGridLayout& grid, const std::pair<const char*, QWidget*> (&fields)[7])
{
    for (int i = 0; i < 7; ++i) {
        QLabel* label = MakeLabel(fields[i].first, "");
        label->setBuddy(fields[i].second);
        // The comment box of the ID3v2 group is several lines high.
        const bool tallField = qobject_cast<QPlainTextEdit*>(fields[i].second) != nullptr;
        grid.addWidget(label, i + 1, 0, tallField ? Qt::AlignTop : Qt::Alignment());
        grid.addWidget(fields[i].second, i + 1, 1);
        // A larger font widens the window rather than cutting the texts short.
        KeepWidthFor(*fields[i].second, 18);
    }
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

} // namespace

void TagPage::BuildPage()
{
    setObjectName("tabTag");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 6, 8, 4);
    column->setSpacing(4);
    column->addLayout(BuildFileRow());

    auto* groups = new QHBoxLayout;
    groups->addWidget(BuildId3v1Group(), 1);
    groups->addLayout(BuildCopyButtons());
    groups->addWidget(BuildId3v2Group(), 1);
    column->addLayout(groups, 1);
    column->addLayout(MakePageLinks(host_, this, '3'));
}

QHBoxLayout* TagPage::BuildFileRow()
{
    edtFileTag_ = MakeEdit("edtFileTag");
    btnOpenTag_ = MakeButton("&Open", "btnOpenTag");
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(edtFileTag_, 1);
    fileRow->addWidget(btnOpenTag_);
    return fileRow;
}

QGroupBox* TagPage::BuildId3v1Group()
{
    gpbID3v1_ = Named(new QGroupBox("ID3v1"), "gpbID3v1");
    chkTagExists1_ = Named(new QCheckBox("ID3v1 Tag Exists"), "chkTagExists1");
    TrackEdit1_ = MakeEdit("TrackEdit1", 2);
    TitleEdit1_ = MakeEdit("TitleEdit1", 30);
    ArtistEdit1_ = MakeEdit("ArtistEdit1", 30);
    AlbumEdit1_ = MakeEdit("AlbumEdit1", 30);
    YearEdit1_ = MakeEdit("YearEdit1", 4);
    GenreComboBox1_ = Named(new QComboBox, "GenreComboBox1");
    GenreComboBox1_->setEditable(false);
    GenreComboBox1_->setMaxVisibleItems(16);
    CommentEdit1_ = MakeEdit("CommentEdit1", 30);
    auto* grid = new QGridLayout(gpbID3v1_);
    grid->setVerticalSpacing(3);
    grid->addWidget(chkTagExists1_, 0, 0, 1, 2);
    AddFieldRows(*grid, {{"Track:", TrackEdit1_}, {"Title:", TitleEdit1_}, {"Artist:", ArtistEdit1_},
                         {"Album:", AlbumEdit1_}, {"Year:", YearEdit1_}, {"Genre:", GenreComboBox1_},
                         {"Comment:", CommentEdit1_}});
    // Taller groups keep these rows together at the top, level with the other group's.
    grid->setRowStretch(8, 1);
    FitWidthTo(*TrackEdit1_, "99", 40);
    FitWidthTo(*YearEdit1_, "0000", 60);
    return gpbID3v1_;
}

QGroupBox* TagPage::BuildId3v2Group()
{
    gpbID3v2_ = Named(new QGroupBox("ID3v2"), "gpbID3v2");
    chkTagExists_ = Named(new QCheckBox("ID3 v2 Tag Exists"), "chkTagExists");
    // The ID3v2 texts are shown whole, in up to two UTF-16 units a character.
    const int textLength = 2 * static_cast<int>(TID3v2::kMaxTextLength);
    TrackEdit_ = MakeEdit("TrackEdit", textLength);
    TitleEdit_ = MakeEdit("TitleEdit", textLength);
    ArtistEdit_ = MakeEdit("ArtistEdit", textLength);
    AlbumEdit_ = MakeEdit("AlbumEdit", textLength);
    YearEdit_ = MakeEdit("YearEdit", textLength);
    GenreEdit_ = MakeEdit("GenreEdit");
    CommentMemo_ = Named(new QPlainTextEdit, "CommentMemo");
    CommentMemo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    CommentMemo_->setTabChangesFocus(true);
    auto* grid = new QGridLayout(gpbID3v2_);
    grid->setVerticalSpacing(3);
    grid->addWidget(chkTagExists_, 0, 0, 1, 2);
    AddFieldRows(*grid, {{"Track:", TrackEdit_}, {"Title:", TitleEdit_}, {"Artist:", ArtistEdit_},
                         {"Album:", AlbumEdit_}, {"Year:", YearEdit_}, {"Genre:", GenreEdit_},
                         {"Comment:", CommentMemo_}});
    grid->setRowStretch(7, 1);
    // A comment is read and edited in lines: never fewer than three.
    CommentMemo_->setMinimumHeight(3 * CommentMemo_->fontMetrics().lineSpacing() + 2 * CommentMemo_->frameWidth()
                                   + static_cast<int>(2 * CommentMemo_->document()->documentMargin()));
    FitWidthTo(*TrackEdit_, "99", 40);
    FitWidthTo(*YearEdit_, "0000", 60);
    return gpbID3v2_;
}

QLayout* TagPage::BuildCopyButtons()
{
    Button1_ = MakeButton("&Copy to ID3v2", "Button1");
    Button2_ = MakeButton("Copy &from ID3v2", "Button2");
    Button3_ = MakeButton("&Updat All", "Button3");
    auto* copyColumn = new QVBoxLayout;
    copyColumn->addStretch(1);
    copyColumn->addWidget(Button1_);
    copyColumn->addWidget(Button2_);
    copyColumn->addSpacing(12);
    copyColumn->addWidget(Button3_);
    copyColumn->addStretch(1);
    return copyColumn;
}

void TagPage::ConnectHandlers()
{
    // Every handler runs inside the window's error boundary.
    const auto onClick = [this](auto* sender, void (TagPage::*handler)()) {
        connect(sender, &std::remove_pointer_t<decltype(sender)>::clicked, this,
                [this, handler] { host_.RunHandler([this, handler] { (this->*handler)(); }); });
    };
    onClick(btnOpenTag_, &TagPage::btnOpenTagClick);
    onClick(chkTagExists1_, &TagPage::chkTagExists1Click);
    onClick(chkTagExists_, &TagPage::chkTagExistsClick);
    onClick(Button1_, &TagPage::Button1Click);
    onClick(Button2_, &TagPage::Button2Click);
    onClick(Button3_, &TagPage::Button3Click);
}

void TagPage::PrepareFields()
{
    GenreComboBox1_->clear();
    GenreComboBox1_->addItem(QString());
    for (std::string_view name : GenreNames)
        GenreComboBox1_->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    LimitTyping(*TrackEdit1_, 2);
    for (QLineEdit* edit : {TitleEdit1_, ArtistEdit1_, AlbumEdit1_, CommentEdit1_})
        LimitTyping(*edit, 30);
    LimitTyping(*YearEdit1_, 4);
    for (QLineEdit* edit : {TrackEdit_, TitleEdit_, ArtistEdit_, AlbumEdit_, YearEdit_})
        LimitTyping(*edit, static_cast<int>(TID3v2::kMaxTextLength));
}
