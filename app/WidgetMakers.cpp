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

void FitWidthTo(QLineEdit& edit, const QString& sample, int least)
{
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.lineWidth = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit);
    // Qt's line edit keeps a few pixels each side of its text.
    const QSize text(edit.fontMetrics().horizontalAdvance(sample) + 2 * 4 + 2, edit.fontMetrics().height());
    const int width = edit.style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, &edit).width();
    edit.setFixedWidth(std::max(least, width));
}
