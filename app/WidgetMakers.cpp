#include "app/WidgetMakers.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

#include <algorithm>

QLabel* MakeLabel(const QString& text, const char* name)
{
    auto* label = Named(new QLabel(text), name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The value labels show tag texts, which must never be read as markup.
QLabel* MakeValueLabel(const char* name)
{
    QLabel* label = MakeLabel(QString(), name);
    label->setMinimumWidth(120);
    // A long title is cut at the label's end rather than widening the window.
    label->setSizePolicy(QSizePolicy::Ignored, label->sizePolicy().verticalPolicy());
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QToolButton* MakeFlatButton(const QString& text, const char* name)
{
    auto* button = Named(new QToolButton, name);
    button->setText(text);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QLineEdit* MakeEdit(const char* name, int maxLength)
{
    auto* edit = Named(new QLineEdit, name);
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    return edit;
}

QPushButton* MakeButton(const QString& text, const char* name)
{
    auto* button = Named(new QPushButton(text), name);
    button->setAutoDefault(false);
    return button;
}

namespace {

// The width edit has for its text when it is width pixels wide: the
// style's contents less the edit's own margins, as the edit draws it.
int TextRoom(const QLineEdit& edit, int width)
{
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.rect = QRect(0, 0, width, edit.sizeHint().height());
    option.lineWidth = edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit) : 0;
    const QMargins margins = edit.textMargins();
    constexpr int kEditMargin = 2;  // Qt's line edit keeps this much each side of its text
    return edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit).width() - margins.left()
           - margins.right() - 2 * kEditMargin;
}

} // namespace

void FitWidthTo(QLineEdit& edit, const QString& sample, int least)
{
    // One pixel more for the cursor after the last character.
    const int needed = edit.fontMetrics().horizontalAdvance(sample) + 1;
    const int width = 2 * needed - TextRoom(edit, needed);
    edit.setFixedWidth(std::max(least, width));
}

void KeepWidthFor(QWidget& field, int characters)
{
    field.setMinimumWidth(std::max(field.minimumWidth(), characters * field.fontMetrics().averageCharWidth()));
}
