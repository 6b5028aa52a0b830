#include "app/WaveformView.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

#include "playback/DecodedLevels.h"
#include "playback/LevelPyramid.h"

namespace {

constexpr int kRulerHeight = 18;
constexpr int kHandleReach = 4;     // pixels either side of a mark that grab it
constexpr int kDragThreshold = 3;   // pixels a press moves before it selects
constexpr int kTickSpacing = 90;    // pixels between ruler labels at least
constexpr int kScrollUnits = 1 << 30;

const QColor kBackground(250, 251, 253);
const QColor kSelection(196, 216, 247);
const QColor kPeak(70, 110, 170);
const QColor kRms(24, 52, 110);
const QColor kStartMark(20, 140, 60);
const QColor kEndMark(200, 40, 40);
const QColor kPlay(230, 130, 0);

} // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    scrollBar_ = new QScrollBar(Qt::Horizontal, this);
    scrollBar_->setObjectName("sbrWaveform");
    scrollBar_->setFocusPolicy(Qt::NoFocus);
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int value) {
        if (scrollBarMoving_)
            return;
        const int64_t last = scale_.LastFirstColumn();
        const int range = std::max(scrollBar_->maximum(), 1);
        scale_.ScrollTo(static_cast<int64_t>(static_cast<double>(value) * static_cast<double>(last) / range));
        update();
    });
    setToolTip("Click: play from here. Drag: select a section; drag a mark's handle to move it.\n"
               "[ and ]: mark the start and the end at the play position.\n"
               "Left/Right: one frame; Shift+Left/Right: one second; Alt+Left/Right: nudge the selected mark.\n"
               "P: play the selection; L: listen 2 s around the mark nearest the play position.\n"
               "Ctrl+wheel, Ctrl+Plus/Minus: zoom; Ctrl+E: zoom to the selection; Ctrl+F: zoom to fit.\n"
               "Ctrl+Z, Ctrl+Shift+Z: undo, redo the marks. Right click: dB or linear scale.");
    ViewChanged();
}

WaveformView::~WaveformView()
{
    if (detailWorker_.joinable()) {
        detailWorker_.request_stop();
        detailWanted_.notify_all();
        detailWorker_.join();
    }
}

QSize WaveformView::sizeHint() const { return {480, 130}; }
QSize WaveformView::minimumSizeHint() const { return {160, 90}; }

QRect WaveformView::WaveRect() const
{
    const int bar = scrollBar_->sizeHint().height();
    return QRect(0, kRulerHeight, width(), std::max(height() - kRulerHeight - bar, 1));
}

void WaveformView::SetStream(int64_t lengthMs, int64_t totalSamples, uint32_t sampleRate, const MarkGrid& grid,
                             const std::string& fileName)
{
    ++stream_;
    detailFile_ = fileName;
    shownDetail_.clear();
    askedDetail_.reset();
    lengthMs_ = std::max<int64_t>(lengthMs, 0);
    hasStream_ = lengthMs_ > 0;
    grid_ = grid;
    levels_.reset();
    playMs_ = 0;
    startMs_ = endMs_ = -1;
    drag_ = Drag::None;
    scale_.SetWidth(width());
    scale_.SetStream(totalSamples, sampleRate);
    ViewChanged();
}

void WaveformView::SetLevels(std::shared_ptr<const LevelPyramid> levels)
{
    levels_ = std::move(levels);
    update();
}

void WaveformView::SetPlayPosition(int64_t ms)
{
    playMs_ = ms;
    if (following_ && hasStream_) {
        const int64_t before = scale_.FirstColumn();
        scale_.Follow(ms);
        if (scale_.FirstColumn() != before) {
            ViewChanged();
            return;
        }
    }
    update();
}

void WaveformView::SetMarks(int64_t startMs, int64_t endMs)
{
    startMs_ = startMs;
    endMs_ = endMs;
    update();
}

void WaveformView::SetDecibels(bool decibels)
{
    decibels_ = decibels;
    update();
}

void WaveformView::ZoomIn()
{
    // Around the play position when it is in sight, else around the middle.
    const double x = XOfMs(playMs_);
    scale_.ZoomBy(2.0, x >= 0 && x < width() ? x : width() / 2.0);
    ViewChanged();
}

void WaveformView::ZoomOut()
{
    scale_.ZoomBy(0.5, width() / 2.0);
    ViewChanged();
}

void WaveformView::ZoomToSelection()
{
    if (startMs_ < 0 || endMs_ <= startMs_)
        return;
    scale_.ZoomToMs(startMs_, endMs_);
    ViewChanged();
}

void WaveformView::ZoomToFit()
{
    scale_.Fit();
    ViewChanged();
}

// The scroll bar follows the view; the view moves it only through the user.
void WaveformView::ViewChanged()
{
    const int64_t last = scale_.LastFirstColumn();
    {
        const int range = static_cast<int>(std::min<int64_t>(last, kScrollUnits));
        scrollBarMoving_ = true;
        scrollBar_->setRange(0, range);
        scrollBar_->setPageStep(std::max(1, static_cast<int>(std::min<double>(
                                                 range, static_cast<double>(scale_.Width()) * range / std::max<int64_t>(last, 1)))));
        scrollBar_->setValue(last == 0 ? 0
                                       : static_cast<int>(static_cast<double>(scale_.FirstColumn()) * range / last));
        scrollBarMoving_ = false;
    }
    update();
}

void WaveformView::resizeEvent(QResizeEvent*)
{
    const int bar = scrollBar_->sizeHint().height();
    scrollBar_->setGeometry(0, height() - bar, width(), bar);
    scale_.SetWidth(width());
    ViewChanged();
}

int64_t WaveformView::MsAtWidgetX(int x) const { return scale_.MsAt(std::clamp(x, 0, width())); }

void WaveformView::RequestMarks(int64_t startMs, int64_t endMs, bool finished)
{
    if (startMs > endMs)
        std::swap(startMs, endMs);
    emit marksRequested(startMs, endMs, finished);
}

void WaveformView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !hasStream_) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const int x = event->position().toPoint().x();
    pressX_ = x;
    pressMs_ = MsAtWidgetX(x);
    drag_ = Drag::Pending;
    // The nearer of two handles within reach is grabbed.
    double nearest = kHandleReach + 1;
    for (Mark mark : {Mark::Start, Mark::End}) {
        const int64_t ms = mark == Mark::Start ? startMs_ : endMs_;
        if (ms < 0 || endMs_ <= startMs_)
            continue;
        const double distance = std::abs(XOfMs(ms) - x);
        if (distance <= kHandleReach && distance < nearest) {
            nearest = distance;
            drag_ = Drag::Handle;
            draggedMark_ = mark;
            otherMarkMs_ = mark == Mark::Start ? endMs_ : startMs_;
        }
    }
    if (drag_ == Drag::Handle)
        selectedMark_ = draggedMark_;
}

void WaveformView::mouseMoveEvent(QMouseEvent* event)
{
    const int x = event->position().toPoint().x();
    if (drag_ == Drag::None) {
        bool overHandle = false;
        for (int64_t ms : {startMs_, endMs_})
            overHandle = overHandle || (ms >= 0 && endMs_ > startMs_ && std::abs(XOfMs(ms) - x) <= kHandleReach);
        setCursor(overHandle ? Qt::SizeHorCursor : Qt::IBeamCursor);
        return;
    }
    const int64_t ms = grid_.Snap(MsAtWidgetX(x));
    if (drag_ == Drag::Pending && std::abs(x - pressX_) >= kDragThreshold)
        drag_ = Drag::Selecting;
    if (drag_ == Drag::Selecting) {
        selectedMark_ = x < pressX_ ? Mark::Start : Mark::End;
        RequestMarks(grid_.Snap(pressMs_), ms, false);
    } else if (drag_ == Drag::Handle) {
        RequestMarks(ms, otherMarkMs_, false);
    }
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || drag_ == Drag::None)
        return;
    const Drag drag = std::exchange(drag_, Drag::None);
    const int x = event->position().toPoint().x();
    const int64_t ms = grid_.Snap(MsAtWidgetX(x));
    if (drag == Drag::Selecting)
        RequestMarks(grid_.Snap(pressMs_), ms, true);
    else if (drag == Drag::Handle && x != pressX_)
        RequestMarks(ms, otherMarkMs_, true);
    else
        emit positionRequested(MsAtWidgetX(x));
}

void WaveformView::wheelEvent(QWheelEvent* event)
{
    if (!hasStream_)
        return;
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (event->modifiers() & Qt::ControlModifier) {
        // A notch (120) zooms by the square root of two.
        scale_.ZoomBy(std::pow(2.0, delta / 240.0), event->position().x());
    } else {
        // A notch scrolls a tenth of the width, towards the end when turned down.
        scale_.ScrollTo(scale_.FirstColumn() - static_cast<int64_t>(std::llround(delta / 120.0 * width() / 10.0)));
    }
    ViewChanged();
    event->accept();
}

void WaveformView::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (!hasStream_) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (modifiers == Qt::ControlModifier && (key == Qt::Key_Plus || key == Qt::Key_Equal))
        ZoomIn();
    else if ((modifiers & Qt::ControlModifier) && key == Qt::Key_Plus)
        ZoomIn();  // Ctrl+Shift+= on keyboards where Plus needs Shift
    else if (modifiers == Qt::ControlModifier && key == Qt::Key_Minus)
        ZoomOut();
    else if (modifiers == Qt::ControlModifier && key == Qt::Key_E)
        ZoomToSelection();
    else if (modifiers == Qt::ControlModifier && key == Qt::Key_F)
        ZoomToFit();
    else if ((key == Qt::Key_Left || key == Qt::Key_Right) && modifiers == Qt::AltModifier) {
        const int64_t step = key == Qt::Key_Left ? -1 : 1;
        if (startMs_ < 0 || endMs_ < 0)
            return;
        if (selectedMark_ == Mark::Start)
            RequestMarks(std::min(grid_.StepFrames(startMs_, step), endMs_), endMs_, true);
        else
            RequestMarks(startMs_, std::max(grid_.StepFrames(endMs_, step), startMs_), true);
    } else if ((key == Qt::Key_Left || key == Qt::Key_Right) && (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
        const int64_t sign = key == Qt::Key_Left ? -1 : 1;
        const int64_t target = modifiers == Qt::ShiftModifier ? playMs_ + sign * 1000 : grid_.MoveByFrames(playMs_, sign);
        emit positionRequested(std::clamp<int64_t>(target, 0, lengthMs_));
    } else {
        QWidget::keyPressEvent(event);
    }
}

void WaveformView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* decibels = menu.addAction("Level in &dB");
    decibels->setCheckable(true);
    decibels->setChecked(decibels_);
    connect(decibels, &QAction::toggled, this, &WaveformView::SetDecibels);
    menu.addSeparator();
    menu.addAction("Zoom &in\tCtrl++", this, &WaveformView::ZoomIn);
    menu.addAction("Zoom &out\tCtrl+-", this, &WaveformView::ZoomOut);
    menu.addAction("Zoom to &selection\tCtrl+E", this, &WaveformView::ZoomToSelection)
        ->setEnabled(startMs_ >= 0 && endMs_ > startMs_);
    menu.addAction("Zoom to &fit\tCtrl+F", this, &WaveformView::ZoomToFit);
    menu.exec(event->globalPos());
}

void WaveformView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRect wave = WaveRect();
    painter.fillRect(wave, kBackground);
    if (!hasStream_)
        return;
    if (startMs_ >= 0 && endMs_ > startMs_) {
        const int left = static_cast<int>(std::clamp(XOfMs(startMs_), -1.0, width() + 1.0));
        const int right = static_cast<int>(std::clamp(XOfMs(endMs_), -1.0, width() + 1.0));
        painter.fillRect(QRect(left, wave.top(), right - left, wave.height()), kSelection);
    }
    DrawLevels(painter, wave);
    DrawRuler(painter);
    DrawMarks(painter, wave);
}

void WaveformView::DrawRuler(QPainter& painter) const
{
    painter.setPen(palette().windowText().color());
    painter.drawLine(0, kRulerHeight - 1, width(), kRulerHeight - 1);
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.85));
    painter.setFont(small);
    for (const RulerTick& tick : RulerTicks(scale_, kTickSpacing)) {
        const int x = static_cast<int>(std::lround(tick.X));
        painter.drawLine(x, kRulerHeight - 6, x, kRulerHeight - 1);
        painter.drawText(QRect(x + 2, 0, kTickSpacing - 4, kRulerHeight - 2), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromStdString(tick.Label));
    }
}

std::vector<Level> WaveformView::ShownLevels() const
{
    if (!levels_)
        return {};
    std::vector<Level> columns = levels_->Columns(scale_.FirstColumn(), width(), scale_.SamplesPerPixel());
    // Finer than a block the levels only repeat their block: the samples
    // themselves are decoded, away from the window's thread, and drawn
    // once they are there.
    if (detailFile_.empty() || scale_.SamplesPerPixel() * 2 > static_cast<double>(levels_->BlockSamples()))
        return columns;
    const DetailView view{scale_.FirstColumn(), width(), scale_.SamplesPerPixel(), stream_};
    if (view == shownDetailView_ && shownDetail_.size() == columns.size()) {
        // A column between two samples (a sample wider than a pixel) shows the one before it.
        Level last;
        for (size_t x = 0; x < columns.size(); ++x) {
            if (shownDetail_[x].Known())
                last = shownDetail_[x];
            if (last.Known())
                columns[x] = last;
        }
        return columns;
    }
    if (askedDetail_ != view) {
        askedDetail_ = view;
        auto* self = const_cast<WaveformView*>(this);
        {
            std::lock_guard lock(self->detailMutex_);
            self->pendingDetail_ = view;
            self->pendingFile_ = detailFile_;
        }
        if (!detailWorker_.joinable())
            self->detailWorker_ = std::jthread([self](std::stop_token stop) { self->DecodeDetail(stop); });
        self->detailWanted_.notify_all();
    }
    return columns;
}

// The worker: one LevelDetail kept open while the file stays the same, so
// that the next view nearby costs a short decode, not a walk to its place.
void WaveformView::DecodeDetail(std::stop_token stop)
{
    std::unique_ptr<LevelDetail> detail;
    std::string detailFile;
    while (!stop.stop_requested()) {
        DetailView view;
        std::string file;
        {
            std::unique_lock lock(detailMutex_);
            if (!detailWanted_.wait(lock, stop, [this] { return pendingDetail_.has_value(); }))
                return;
            view = *pendingDetail_;
            pendingDetail_.reset();
            file = pendingFile_;
        }
        if (!detail || file != detailFile) {
            detail = std::make_unique<LevelDetail>(file);
            detailFile = file;
        }
        std::vector<Level> columns = detail->Columns(view.FirstColumn, view.Count, view.SamplesPerColumn);
        if (columns.empty() || stop.stop_requested())
            continue;
        QMetaObject::invokeMethod(
            this,
            [this, view, columns = std::move(columns)]() mutable {
                if (view.Stream != stream_)
                    return;
                shownDetailView_ = view;
                shownDetail_ = std::move(columns);
                update();
            },
            Qt::QueuedConnection);
    }
}

Level WaveformView::ShownLevel(int x) const
{
    const std::vector<Level> columns = ShownLevels();
    return x >= 0 && x < static_cast<int>(columns.size()) ? columns[static_cast<size_t>(x)] : Level{};
}

void WaveformView::DrawLevels(QPainter& painter, const QRect& wave) const
{
    const std::vector<Level> columns = ShownLevels();
    if (columns.empty())
        return;
    const double middle = wave.top() + wave.height() / 2.0;
    const double half = wave.height() / 2.0 - 1;
    painter.setPen(QColor(190, 198, 210));
    painter.drawLine(wave.left(), static_cast<int>(middle), wave.right(), static_cast<int>(middle));
    for (int x = 0; x < static_cast<int>(columns.size()); ++x) {
        const Level& level = columns[static_cast<size_t>(x)];
        if (!level.Known())
            continue;
        const double peak = std::max(0.5, LevelHeight(level.Peak, decibels_) * half);
        const double rms = LevelHeight(level.Rms, decibels_) * half;
        painter.setPen(kPeak);
        painter.drawLine(QPointF(x + 0.5, middle - peak), QPointF(x + 0.5, middle + peak));
        if (rms >= 0.5) {
            painter.setPen(kRms);
            painter.drawLine(QPointF(x + 0.5, middle - rms), QPointF(x + 0.5, middle + rms));
        }
    }
}

void WaveformView::DrawMarks(QPainter& painter, const QRect& wave) const
{
    const auto line = [&](int64_t ms, const QColor& colour, bool handle) {
        const double x = XOfMs(ms);
        if (ms < 0 || x < -kHandleReach || x > width() + kHandleReach)
            return;
        painter.setPen(QPen(colour, handle ? 2 : 1));
        painter.drawLine(QPointF(x, wave.top()), QPointF(x, wave.bottom()));
        if (handle) {
            // A tab under the ruler to take hold of.
            const QPointF tab[] = {{x - kHandleReach, static_cast<double>(wave.top())},
                                   {x + kHandleReach, static_cast<double>(wave.top())},
                                   {x, wave.top() + 2.0 * kHandleReach}};
            painter.setBrush(colour);
            painter.drawPolygon(tab, 3);
            painter.setBrush(Qt::NoBrush);
        }
    };
    if (startMs_ >= 0 && endMs_ > startMs_) {
        line(startMs_, kStartMark, true);
        line(endMs_, kEndMark, true);
    }
    line(playMs_, kPlay, false);
}
