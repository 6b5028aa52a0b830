#include "app/WidgetMakers.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

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
