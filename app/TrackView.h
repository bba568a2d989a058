// The result panel's picture of the track (ui/TrackPlot); a click on a shaded stretch
// asks for it to be played.
//
// Thread safety: main thread only.
#pragma once

#include <QWidget>

#include "sync/TrackData.h"
#include "ui/TrackPlot.h"

namespace tandem {

class TrackView : public QWidget {
    Q_OBJECT
public:
    explicit TrackView(QWidget* parent = nullptr);
    void SetPicture(TrackPicture picture);
    const TrackPicture& Picture() const { return picture_; }
    // The texts in the window's language.
    static TrackPlotTexts Texts();
    // The picture as an image of the view's size at least 640 x 240.
    QImage Image() const;

signals:
    void StretchClicked(double fromS, double toS);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QRect area() const { return rect().adjusted(2, 2, -2, -2); }
    TrackPicture picture_;
};

}  // namespace tandem
