#include "ui/TrackPlot.h"

#include <QBuffer>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "core/AtomicFile.h"
#include "core/Message.h"

namespace tandem {
namespace {

constexpr double kInStepFrames = 2.0;  // the check's own bound

struct Layout {
    QRect rate, lag;  // the two panes; both share the time axis
    double lengthS = 1;
    int x(double s) const { return rate.left() + static_cast<int>(std::lround(s / lengthS * rate.width())); }
};

Layout layOut(const QRect& area, const TrackPicture& picture, const QFontMetrics& fm) {
    Layout l;
    l.lengthS = std::max(picture.lengthS, 1.0);
    const int left = area.left() + fm.horizontalAdvance("-00000") + 6;
    const int right = area.right() - 4;
    const int top = area.top() + fm.height() + 2;
    const int bottom = area.bottom() - fm.height() - 2;
    const int split = top + (bottom - top) * 3 / 5;
    l.rate = QRect(QPoint(left, top), QPoint(right, split - 3));
    l.lag = QRect(QPoint(left, split + 3), QPoint(right, bottom));
    return l;
}

// A step of 1, 2 or 5 times a power of ten giving at most maxTicks ticks over span.
double tickStep(double span, int maxTicks) {
    const double raw = span / std::max(maxTicks, 1);
    const double power = std::pow(10.0, std::floor(std::log10(std::max(raw, 1e-9))));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

int yOf(const QRect& pane, double value, double lo, double hi) {
    const double t = (std::clamp(value, lo, hi) - lo) / (hi - lo);
    return pane.bottom() - static_cast<int>(std::lround(t * pane.height()));
}

void drawValueAxis(QPainter& p, const QRect& pane, double lo, double hi, const QString& title) {
    const QFontMetrics fm = p.fontMetrics();
    p.setPen(QColor(160, 160, 160));
    p.drawRect(pane.adjusted(0, 0, -1, -1));
    const double step = tickStep(hi - lo, std::max(1, pane.height() / (fm.height() + 4)));
    p.setPen(Qt::black);
    for (double v = std::ceil(lo / step) * step; v <= hi + 1e-9; v += step) {
        const int y = yOf(pane, v, lo, hi);
        p.drawLine(pane.left() - 3, y, pane.left(), y);
        const QString text = QString::number(v, 'g', 6);
        p.drawText(QRect(0, y - fm.height() / 2, pane.left() - 5, fm.height()), Qt::AlignRight | Qt::AlignVCenter, text);
    }
    p.drawText(pane.adjusted(4, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, title);
}

QColor eventColour(TrackEventKind kind) {
    switch (kind) {
    case TrackEventKind::Pause: return QColor(230, 120, 0);
    case TrackEventKind::Lost: return QColor(140, 0, 170);
    case TrackEventKind::Held: return QColor(170, 0, 0);
    case TrackEventKind::Correction: break;
    }
    return QColor(90, 90, 90);
}

}  // namespace

void PaintTrack(QPainter& p, const QRect& area, const TrackPicture& picture, const TrackPlotTexts& texts) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics fm = p.fontMetrics();
    if (picture.Empty()) {
        p.setPen(Qt::gray);
        p.drawText(area, Qt::AlignCenter, texts.empty);
        p.restore();
        return;
    }
    const Layout l = layOut(area, picture, fm);

    // The stretches that are off, over both panes.
    for (const TrackStretch& s : picture.off) {
        const int x0 = l.x(s.fromS), x1 = std::max(l.x(s.toS), x0 + 2);
        p.fillRect(QRect(QPoint(x0, l.rate.top()), QPoint(x1, l.lag.bottom())), QColor(255, 200, 200));
    }

    // Rate: a line through the points, its range at least 100 ppm.
    double lo = 0, hi = 0;
    if (!picture.ratePpm.empty()) {
        const auto [mn, mx] = std::minmax_element(picture.ratePpm.begin(), picture.ratePpm.end(),
                                                  [](const TrackPoint& a, const TrackPoint& b) { return a.value < b.value; });
        lo = mn->value;
        hi = mx->value;
    }
    const double mid = (lo + hi) / 2, half = std::max((hi - lo) / 2 * 1.15, 50.0);
    lo = mid - half;
    hi = mid + half;
    drawValueAxis(p, l.rate, lo, hi, texts.rate);
    p.setPen(QPen(QColor(0, 70, 200), 1.5));
    QPainterPath line;
    for (std::size_t i = 0; i < picture.ratePpm.size(); ++i) {
        const QPointF at(l.x(picture.ratePpm[i].masterS), yOf(l.rate, picture.ratePpm[i].value, lo, hi));
        if (i == 0) line.moveTo(at); else line.lineTo(at);
    }
    p.drawPath(line);

    // Events: a coloured tick through the rate pane.
    for (const TrackEvent& e : picture.events) {
        p.setPen(QPen(eventColour(e.kind), e.kind == TrackEventKind::Correction ? 1 : 2));
        const int x = l.x(e.masterS);
        p.drawLine(x, l.rate.top(), x, e.kind == TrackEventKind::Correction ? l.rate.top() + l.rate.height() / 4 : l.rate.bottom());
    }

    // Lag: a dot per window, green within 2 frames, red beyond; the range symmetric.
    double reach = 5;
    for (const TrackPoint& w : picture.lagFrames) reach = std::max(reach, std::fabs(w.value));
    reach = std::min(reach * 1.1, 50.0);
    drawValueAxis(p, l.lag, -reach, reach, texts.lag);
    p.setPen(QPen(QColor(0, 150, 0), 1, Qt::DotLine));
    for (const double bound : {-kInStepFrames, kInStepFrames}) {
        const int y = yOf(l.lag, bound, -reach, reach);
        p.drawLine(l.lag.left(), y, l.lag.right(), y);
    }
    for (const TrackPoint& w : picture.lagFrames) {
        const bool inStep = std::fabs(w.value) <= kInStepFrames;
        p.setPen(Qt::NoPen);
        p.setBrush(inStep ? QColor(0, 150, 0) : QColor(210, 0, 0));
        p.drawRect(l.x(w.masterS) - 1, yOf(l.lag, w.value, -reach, reach) - 1, 3, 3);
    }
    p.setBrush(Qt::NoBrush);

    // Time axis, under the lag pane.
    p.setPen(Qt::black);
    const double step = tickStep(l.lengthS, std::max(2, l.rate.width() / (fm.horizontalAdvance("0000 s") + 12)));
    for (double s = 0; s <= l.lengthS + 1e-9; s += step) {
        const int x = l.x(s);
        p.drawLine(x, l.lag.bottom(), x, l.lag.bottom() + 3);
        const QString text = QString::number(s, 'g', 6) + " " + texts.seconds;
        const int w = fm.horizontalAdvance(text);
        p.drawText(std::clamp(x - w / 2, area.left(), area.right() - w), l.lag.bottom() + 3 + fm.ascent(), text);
    }

    // Legend, on the top line.
    int x = area.right();
    const auto legend = [&](const QString& text, const QColor& colour) {
        x -= fm.horizontalAdvance(text) + 14;
        p.fillRect(QRect(x, area.top() + fm.height() / 2 - 3, 8, 6), colour);
        p.setPen(Qt::black);
        p.drawText(x + 10, area.top() + fm.ascent(), text);
    };
    legend(texts.off, QColor(255, 170, 170));
    legend(texts.held, eventColour(TrackEventKind::Held));
    legend(texts.correction, eventColour(TrackEventKind::Correction));
    legend(texts.lost, eventColour(TrackEventKind::Lost));
    legend(texts.pause, eventColour(TrackEventKind::Pause));
    p.restore();
}

QImage TrackImage(const TrackPicture& picture, QSize size, const TrackPlotTexts& texts, const QFont& font) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setFont(font);
    PaintTrack(p, QRect(QPoint(0, 0), size).adjusted(2, 2, -2, -2), picture, texts);
    return image;
}

bool SaveTrackPng(const QImage& image, const std::string& path, std::string* why) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        if (why) *why = MessageText(Msg::CannotWrite, path, "PNG");
        return false;
    }
    AtomicFile file(path);
    if (file.Write(png.constData(), static_cast<std::size_t>(png.size())) && file.Commit()) return true;
    if (why) *why = file.Problem();
    return false;
}

std::optional<TrackStretch> StretchAt(const QRect& area, const TrackPicture& picture, const QFontMetrics& fm, int x) {
    const Layout l = layOut(area, picture, fm);
    for (const TrackStretch& s : picture.off) {
        const int x0 = l.x(s.fromS), x1 = std::max(l.x(s.toS), x0 + 2);
        if (x >= x0 - 2 && x <= x1 + 2) return s;
    }
    return std::nullopt;
}

}  // namespace tandem
