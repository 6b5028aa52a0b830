// GuiTrackBar: the position track bar of the split page. A horizontal
// slider that draws, behind its handle, the loudness envelope of the opened
// file (the peak of each pixel column, mirrored around the middle) and
// beneath its groove a selection range between SelStart and SelEnd (both in
// slider units, whole seconds here), as the classic track bar control did.
// A range is drawn only when SelEnd > SelStart; the envelope inside the
// range is drawn in the selection's colour.
#pragma once

#include <QList>
#include <QSlider>

class GuiTrackBar : public QSlider {
    Q_OBJECT

public:
    explicit GuiTrackBar(QWidget* parent = nullptr);

    int SelStart() const { return selStart_; }
    int SelEnd() const { return selEnd_; }
    void SetSelStart(int value);
    void SetSelEnd(int value);

    // Pixel columns between the handle centres at the minimum and at the
    // maximum: the number of peaks the envelope should have.
    int EnvelopeColumns() const;
    // peaks: one value 0..1 per column, spread over the same span; a
    // column not known yet is negative and not drawn. filledColumns counts
    // the known ones.
    void SetEnvelope(const QList<float>& peaks, int filledColumns);
    void ClearEnvelope();
    const QList<float>& Envelope() const { return envelope_; }
    int EnvelopeFilledColumns() const { return envelopeFilled_; }

    QSize sizeHint() const override;
    // A bar taller than it needs keeps the slider in its middle, so that
    // the envelope around the groove grows with it both ways.
    void initStyleOption(QStyleOptionSlider* option) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The x of the handle centre at value, and the span of all values.
    int CentreOf(int value) const;
    void DrawEnvelope(class QPainter& painter, const QRect& handle) const;

    int selStart_ = 0;
    int selEnd_ = 0;
    QList<float> envelope_;
    int envelopeFilled_ = 0;
};
