// WaveformView: the split page's picture of the opened stream, to aim a cut
// by eye. It draws, from the levels in memory (never decoding on the
// window's thread), the peak and the RMS of each pixel column on a dB
// scale (or linear, from its context menu), a time ruler, the selection
// between the start and the end mark shaded, both marks as handles, and
// the play position. It zooms from the whole stream down to a sample a
// few pixels wide (Ctrl+wheel, Ctrl+Plus/Minus, Ctrl+E the selection,
// Ctrl+F the whole stream) and scrolls (wheel, scroll bar).
//
// The view is passive: it shows the positions it is given and asks for
// changes through its signals, and the page decides. A click asks to play
// from the millisecond under the pointer; a drag, a handle moved or
// Alt+Left/Right ask for new marks, placed where the grid lets marks lie
// (frame boundaries of a cut on whole frames); Left/Right ask for the play
// position a frame away, Shift+Left/Right a second away. Times are
// milliseconds of the stream; a mark of -1 is not shown.
#pragma once

#include <QWidget>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/MarkGrid.h"
#include "playback/LevelPyramid.h"
#include "playback/WaveformScale.h"

class QScrollBar;

class WaveformView : public QWidget {
    Q_OBJECT

public:
    enum class Mark { Start, End };

    explicit WaveformView(QWidget* parent = nullptr);
    // Stops the decoding of detail and waits for it (one request at most).
    ~WaveformView() override;

    // A new stream of totalSamples per channel at sampleRate, lasting
    // lengthMs; fitted, with no levels until SetLevels.
    // fileName: where levels finer than the levels' blocks are decoded
    // from, on a thread of the view's own (empty: nowhere).
    void SetStream(int64_t lengthMs, int64_t totalSamples, uint32_t sampleRate, const MarkGrid& grid,
                   const std::string& fileName = {});
    // The levels to draw, filled by whoever scans the file; null: none.
    void SetLevels(std::shared_ptr<const LevelPyramid> levels);
    void LevelsChanged() { update(); }
    void SetPlayPosition(int64_t ms);
    // While following, the view turns a page when the play position leaves it.
    void SetFollowing(bool following) { following_ = following; }
    void SetMarks(int64_t startMs, int64_t endMs);

    int64_t PlayPosition() const { return playMs_; }
    int64_t StartMark() const { return startMs_; }
    int64_t EndMark() const { return endMs_; }
    // The mark Alt+Left/Right nudge: the one last dragged or set.
    Mark SelectedMark() const { return selectedMark_; }
    void SelectMark(Mark mark) { selectedMark_ = mark; }
    bool Decibels() const { return decibels_; }
    void SetDecibels(bool decibels);
    const WaveformScale& Scale() const { return scale_; }
    // Where the waveform lies inside the widget (below the ruler, above
    // the scroll bar); x in Scale() is counted from its left edge.
    QRect WaveRect() const;
    // The level drawn in column x as the view stands, decoded detail where
    // the zoom is finer than the levels' blocks and it has arrived.
    Level ShownLevel(int x) const;

    void ZoomIn();
    void ZoomOut();
    void ZoomToSelection();
    void ZoomToFit();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void positionRequested(qint64 ms);
    // finished: the change is complete (the button released), worth an undo step.
    void marksRequested(qint64 startMs, qint64 endMs, bool finished);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    enum class Drag { None, Pending, Selecting, Handle };

    double XOfMs(int64_t ms) const { return scale_.XOfMs(static_cast<double>(ms)); }
    int64_t MsAtWidgetX(int x) const;
    void ViewChanged();
    void DrawRuler(class QPainter& painter) const;
    void DrawLevels(class QPainter& painter, const QRect& wave) const;
    void DrawMarks(class QPainter& painter, const QRect& wave) const;
    void RequestMarks(int64_t startMs, int64_t endMs, bool finished);
    std::vector<Level> ShownLevels() const;
    void DecodeDetail(std::stop_token stop);

    WaveformScale scale_;
    MarkGrid grid_;
    std::shared_ptr<const LevelPyramid> levels_;
    QScrollBar* scrollBar_ = nullptr;
    int64_t lengthMs_ = 0;
    int64_t playMs_ = 0;
    int64_t startMs_ = -1;
    int64_t endMs_ = -1;
    Mark selectedMark_ = Mark::Start;
    bool decibels_ = true;
    bool following_ = false;
    bool hasStream_ = false;
    bool scrollBarMoving_ = false;

    Drag drag_ = Drag::None;
    int pressX_ = 0;
    int64_t pressMs_ = 0;
    Mark draggedMark_ = Mark::Start;
    int64_t otherMarkMs_ = 0;

    // Detail: the columns of one view (first column, samples per column)
    // decoded from the file; the worker takes the latest request only.
    struct DetailView {
        int64_t FirstColumn = 0;
        int64_t Count = 0;
        double SamplesPerColumn = 0;
        unsigned Stream = 0;  // SetStream counts streams
        bool operator==(const DetailView&) const = default;
    };
    std::string detailFile_;
    unsigned stream_ = 0;
    DetailView shownDetailView_;
    std::vector<Level> shownDetail_;
    mutable std::optional<DetailView> askedDetail_;  // main thread
    std::mutex detailMutex_;
    std::condition_variable_any detailWanted_;
    std::optional<DetailView> pendingDetail_;  // guarded by detailMutex_
    std::string pendingFile_;                  // guarded by detailMutex_
    std::jthread detailWorker_;
};
