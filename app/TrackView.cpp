#include "app/TrackView.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

namespace tandem {

TrackView::TrackView(QWidget* parent) : QWidget(parent) {
    setObjectName("TrackView");
    setMinimumHeight(150);
    setMouseTracking(true);
    setToolTip(QCoreApplication::translate("tandem::TrackView", "赤い部分をクリックすると、その部分を聞けます"));
}

TrackPlotTexts TrackView::Texts() {
    static const char* const words[9] = {
        QT_TRANSLATE_NOOP("tandem::TrackView", "速度差 (ppm)"),   QT_TRANSLATE_NOOP("tandem::TrackView", "ずれ (サンプル)"),
        QT_TRANSLATE_NOOP("tandem::TrackView", "秒"),             QT_TRANSLATE_NOOP("tandem::TrackView", "停止"),
        QT_TRANSLATE_NOOP("tandem::TrackView", "欠落"),           QT_TRANSLATE_NOOP("tandem::TrackView", "補正"),
        QT_TRANSLATE_NOOP("tandem::TrackView", "保持"),           QT_TRANSLATE_NOOP("tandem::TrackView", "ずれている部分"),
        QT_TRANSLATE_NOOP("tandem::TrackView", "データなし")};
    return TrackPlotTexts::From(words, [](const char* w) { return QCoreApplication::translate("tandem::TrackView", w); });
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
