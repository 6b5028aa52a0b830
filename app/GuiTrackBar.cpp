#include "GuiTrackBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

GuiTrackBar::GuiTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::NoTicks);
    setPageStep(1);
    setSingleStep(1);
}

void GuiTrackBar::SetSelStart(int value)
{
    if (selStart_ == value)
        return;
    selStart_ = value;
    update();
}

void GuiTrackBar::SetSelEnd(int value)
{
    if (selEnd_ == value)
        return;
    selEnd_ = value;
    update();
}

QSize GuiTrackBar::sizeHint() const
{
    QSize hint = QSlider::sizeHint();
    // Room below the groove for the selection band.
    hint.setHeight(hint.height() + 6);
    return hint;
}

void GuiTrackBar::paintEvent(QPaintEvent* event)
{
    QSlider::paintEvent(event);
    const int low = std::max(selStart_, minimum());
    const int high = std::min(selEnd_, maximum());
    if (high <= low || maximum() <= minimum())
        return;

    // The band spans the handle centres of the two marks, as the ends of the
    // selection are positions on the bar.
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int span = groove.width() - handle.width();
    const auto centreOf = [&](int value) {
        return groove.x() + handle.width() / 2
               + QStyle::sliderPositionFromValue(minimum(), maximum(), value, span, option.upsideDown);
    };
    const int left = centreOf(low);
    const int right = centreOf(high);
    QPainter painter(this);
    const QColor band = palette().color(QPalette::Highlight);
    painter.fillRect(QRect(QPoint(std::min(left, right), height() - 5), QPoint(std::max(left, right), height() - 2)),
                     band);
}
