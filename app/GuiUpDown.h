// GuiUpDown: the spinner beside a free-text edit (the part quantity). Its
// arrows step the number in the edit within Min..Max; what the user types
// into the edit is never corrected, so a typed "120" or "abc" stays as
// typed. An arrow on text that is not a number starts from Min.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

class GuiUpDown : public QWidget {
    Q_OBJECT

public:
    GuiUpDown(QLineEdit* buddy, int min, int max, QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    // The edit's number limited to Min..Max; Min when the text is not a number.
    int Position() const;
    void StepUp();
    void StepDown();

protected:
    void changeEvent(QEvent* event) override;
    // Up and Down keys in the edit step like the arrows.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Step(int delta);

    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int min_;
    int max_;
};
