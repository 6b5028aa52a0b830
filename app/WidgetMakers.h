// The window's controls as both pages make them: each one gets its object
// name here, which is how the desktop tests and the screenshots find it.
#pragma once

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QWidget;

template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(name);
    return widget;
}

// A label that shows its text as it is, never as markup.
QLabel* MakeLabel(const QString& text, const char* name);
// A label showing a tag text: selectable, and wide enough for a title.
QLabel* MakeValueLabel(const char* name);
QToolButton* MakeFlatButton(const QString& text, const char* name);
QLineEdit* MakeEdit(const char* name, int maxLength = 0);
QPushButton* MakeButton(const QString& text, const char* name);
// Fixes edit's width to show sample whole in its font, and never narrower
// than least (pixels), the width it has at the usual desktop font.
void FitWidthTo(QLineEdit& edit, const QString& sample, int least);
// Keeps field at least wide enough for about characters of its font.
void KeepWidthFor(QWidget& field, int characters);
