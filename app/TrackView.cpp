#include "app/TrackView.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

namespace tandem {

TrackView::TrackView(QWidget* parent) : QWidget(parent) {
    setObjectName("TrackView");
    setMinimumHeight(110);
    setMouseTracking(true);
    setToolTip(QCoreApplication::translate("tandem::TrackView", "赤い部分をクリックすると、その部分を聞けます"));
}

TrackPlotTexts TrackView::Texts() {
    const auto tr = [](const char* text) { return QCoreApplication::translate("tandem::TrackView", text); };
    TrackPlotTexts t;
    t.rate = tr("速度差 (ppm)");
    t.lag = tr("ずれ (サンプル)");
    t.seconds = tr("秒");
    t.pause = tr("停止");
    t.lost = tr("欠落");
    t.correction = tr("補正");
    t.held = tr("保持");
    t.off = tr("ずれている部分");
    t.empty = tr("データなし");
    return t;
}

void TrackView::SetPicture(TrackPicture picture) {
    picture_ = std::move(picture);
    update();
}

QImage TrackView::Image() const {
    return TrackImage(picture_, size().expandedTo(QSize(640, 240)), Texts(), font());
}

void TrackView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    PaintTrack(p, area(), picture_, Texts());
}

void TrackView::mouseMoveEvent(QMouseEvent* event) {
    const bool over = StretchAt(area(), picture_, fontMetrics(), event->position().toPoint().x()).has_value();
    setCursor(over ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TrackView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (const auto stretch = StretchAt(area(), picture_, fontMetrics(), event->position().toPoint().x()))
        emit StretchClicked(stretch->fromS, stretch->toS);
}

}  // namespace tandem
