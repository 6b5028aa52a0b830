#include "GuiTrackBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

namespace {

// Room below the groove for the selection band, and above and below the
// handle for the envelope's peaks.
constexpr int kBandRoom = 6;
constexpr int kEnvelopeRoom = 14;

} // namespace

GuiTrackBar::GuiTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::NoTicks);
    setPageStep(1);
    setSingleStep(1);
    // The page's layout must not squeeze the envelope flat.
    setMinimumHeight(sizeHint().height());
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

void GuiTrackBar::SetEnvelope(const QList<float>& peaks, int filledColumns)
{
    envelope_ = peaks;
    envelopeFilled_ = std::clamp(filledColumns, 0, static_cast<int>(peaks.size()));
    update();
}

void GuiTrackBar::ClearEnvelope()
{
    envelope_.clear();
    envelopeFilled_ = 0;
    update();
}

QSize GuiTrackBar::sizeHint() const
{
    QSize hint = QSlider::sizeHint();
    hint.setHeight(hint.height() + kBandRoom + kEnvelopeRoom);
    return hint;
}

void GuiTrackBar::initStyleOption(QStyleOptionSlider* option) const
{
    QSlider::initStyleOption(option);
    // The height the bar was made with (the size hint asks this function).
    const int natural = minimumHeight();
    if (natural > 0 && height() > natural)
        option->rect = QRect(0, (height() - natural) / 2, width(), natural);
}

int GuiTrackBar::CentreOf(int value) const
{
    // The band and the envelope span the handle centres, as positions are
    // points on the bar.
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int span = groove.width() - handle.width();
    return groove.x() + handle.width() / 2
           + QStyle::sliderPositionFromValue(minimum(), maximum(), value, span, option.upsideDown);
}

int GuiTrackBar::EnvelopeColumns() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    return std::max(1, groove.width() - handle.width() + 1);
}

void GuiTrackBar::DrawEnvelope(QPainter& painter, const QRect& handle) const
{
    if (envelope_.isEmpty() || envelopeFilled_ == 0)
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int left = groove.x() + handle.width() / 2;
    const int span = groove.width() - handle.width() + 1;
    const double middle = handle.center().y() + 0.5;
    // Clear of the widget's top and of the band beneath.
    const double halfHeight = std::max(2.0, std::min(middle - 1.0, height() - kBandRoom - middle - 1.0));
    const bool marked = selEnd_ > selStart_ && maximum() > minimum();
    const int markLeft = marked ? CentreOf(std::max(selStart_, minimum())) : 0;
    const int markRight = marked ? CentreOf(std::min(selEnd_, maximum())) : -1;
    const QColor markedWave = palette().color(QPalette::Highlight);
    QColor wave = markedWave;
    wave.setAlphaF(0.4f);
    const int columns = static_cast<int>(envelope_.size());
    for (int column = 0; column < columns; ++column) {
        if (envelope_[column] < 0)
            continue;
        const int x = left + static_cast<int>(static_cast<qint64>(column) * span / columns);
        const double half = std::max(0.5, static_cast<double>(envelope_[column]) * halfHeight);
        painter.setPen(x >= markLeft && x <= markRight ? markedWave : wave);
        painter.drawLine(QPointF(x + 0.5, middle - half), QPointF(x + 0.5, middle + half));
    }
}

void GuiTrackBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);

    // Groove, then the envelope over it, then the handle on top.
    option.subControls = QStyle::SC_SliderGroove;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    DrawEnvelope(painter, handle);
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);

    const int low = std::max(selStart_, minimum());
    const int high = std::min(selEnd_, maximum());
    if (high <= low || maximum() <= minimum())
        return;
    const int left = CentreOf(low);
    const int right = CentreOf(high);
    const QColor band = palette().color(QPalette::Highlight);
    painter.fillRect(QRect(QPoint(std::min(left, right), height() - 5), QPoint(std::max(left, right), height() - 2)),
                     band);
}
