// GuiTrackBar: the position track bar of the split page. A horizontal
// slider that also draws a selection range between SelStart and SelEnd
// (both in slider units, whole seconds here) beneath its groove, as the
// classic track bar control did. A range is drawn only when SelEnd > SelStart.
#pragma once

#include <QSlider>

class GuiTrackBar : public QSlider {
    Q_OBJECT

public:
    explicit GuiTrackBar(QWidget* parent = nullptr);

    int SelStart() const { return selStart_; }
    int SelEnd() const { return selEnd_; }
    void SetSelStart(int value);
    void SetSelEnd(int value);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int selStart_ = 0;
    int selEnd_ = 0;
};
