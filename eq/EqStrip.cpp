#include "eq/EqStrip.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace tandem {

namespace {

constexpr int kBevel = 1;
constexpr int kLabelHeight = 14;  // at least; one line of the label's font

int labelHeight(const QLabel* label) { return std::max(kLabelHeight, label->fontMetrics().lineSpacing() + 1); }

const QColor kGridOutside(255, 255, 0);
const QColor kGridInside(255, 0, 255);
const QColor kSketch(0, 128, 0);

}  // namespace

double EqScaleDecades() {
    static const double k = std::log10(44100.0) - 1.0;
    return k;
}

int ShortFrequency(int hz) {
    if (hz >= 10000) return (hz + 500) / 1000 * 1000;
    if (hz >= 1000) return (hz + 50) / 100 * 100;
    if (hz >= 100) return (hz + 5) / 10 * 10;
    return hz;
}

int FrequencyAt(int x, int scaleWidth) {
    if (scaleWidth <= 0) return 10;
    const double exponent = static_cast<double>(x) * EqScaleDecades() / scaleWidth + 1.0;
    return ShortFrequency(static_cast<int>(std::pow(10.0, exponent)));
}

int PositionOf(int hz, int scaleWidth) {
    if (hz <= 0) return 0;
    return static_cast<int>((std::log10(static_cast<double>(hz)) - 1.0) * scaleWidth / EqScaleDecades() + 0.5);
}

QString EqRangeText(int lowHz, int highHz) {
    return EqStrip::tr("EQ Freq range : %1 Hz - %2 Hz(100Hz以下と12000Hz以上は無視)").arg(lowHz).arg(highHz);
}

std::vector<int> GridFrequencies() {
    std::vector<int> out;
    for (int step = 10; step <= 10000; step *= 10) {
        for (int f = step; f < step * 10 && f < 50000; f += step) out.push_back(f);
    }
    return out;
}

GridPlace PlaceGridLine(int x, int splitter1Left, int splitter2Left) {
    if (x > splitter2Left) return {2, x - splitter2Left};
    if (x > splitter1Left) return {1, x - splitter1Left};
    return {0, x};
}

EqStrip::EqStrip(QWidget* parent) : QWidget(parent) {
    setObjectName("PanelEQBase");
    EQRange = new QLabel(tr("EQRange"), this);
    EQRange->setObjectName("EQRange");
    setFixedHeight(kHeight - kLabelHeight + labelHeight(EQRange));
    PanelEQ = new QWidget(this);
    PanelEQ->setObjectName("PanelEQ");
    Panel2 = new QWidget(PanelEQ);
    Panel2->setObjectName("Panel2");
    Image1 = new EqPicture(Panel2);
    Image1->setObjectName("Image1");
    Image2 = new EqPicture(Panel2);
    Image2->setObjectName("Image2");
    Splitter1 = new EqSplitterBar(this, Panel2);
    Splitter1->setObjectName("Splitter1");
    Image3 = new EqPicture(PanelEQ);
    Image3->setObjectName("Image3");
    Splitter2 = new EqSplitterBar(this, PanelEQ);
    Splitter2->setObjectName("Splitter2");
    resize(632, height());
    layoutPanels();
}

// From the strip's own width, not from PanelEQ's: a strip resized while hidden lays its
// panels out only when it is shown.
int EqStrip::ScaleWidth() const { return std::max(0, width() - 2 * kBevel); }

const QImage& EqStrip::Picture(int image) const {
    return image == 0 ? Image1->Picture : image == 1 ? Image2->Picture : Image3->Picture;
}

void EqStrip::PlaceInitialBars() {
    const int w = ScaleWidth();
    MoveBars(PositionOf(50, w), PositionOf(20000, w));
}

void EqStrip::MoveBars(int splitter1Left, int splitter2Left) {
    const int w = ScaleWidth();
    splitter2Left_ = std::clamp(splitter2Left, 2 * kMinPane + kBarWidth, std::max(2 * kMinPane + kBarWidth, w - kBarWidth - kMinPane));
    splitter1Left_ = std::clamp(splitter1Left, lowestBar(), std::max(lowestBar(), splitter2Left_ - kBarWidth - kMinPane));
    layoutPanels();
    Splitter1Moved();
}

int EqStrip::lowestBar() const {
    int right = kMinPane;
    for (const QWidget* child : Panel2->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child == Image1 || child == Image2 || child == Splitter1 || child->isHidden()) continue;
        right = std::max(right, child->geometry().right() + 1);
    }
    return right;
}

void EqStrip::dragBar(EqSplitterBar* bar, int left) {
    if (bar == Splitter1) {
        MoveBars(left, splitter2Left_);
    } else {
        // Narrowing Panel2 must not push the lower bar: stop where Image2 keeps its minimum.
        MoveBars(splitter1Left_, std::max(left, splitter1Left_ + kBarWidth + kMinPane));
    }
}

void EqStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutPanels();
}

void EqStrip::layoutPanels() {
    const int w = std::max(0, width() - 2 * kBevel);
    const int labelH = labelHeight(EQRange);
    EQRange->setGeometry(kBevel + 2, kBevel, std::max(0, w - 2), labelH);
    PanelEQ->setGeometry(kBevel, kBevel + labelH, w, std::max(0, height() - 2 * kBevel - labelH));
    const int h = PanelEQ->height();
    Panel2->setGeometry(0, 0, splitter2Left_, h);
    Image1->setGeometry(0, 0, splitter1Left_, h);
    Splitter1->setGeometry(splitter1Left_, 0, kBarWidth, h);
    Image2->setGeometry(splitter1Left_ + kBarWidth, 0, std::max(0, splitter2Left_ - splitter1Left_ - kBarWidth), h);
    Splitter2->setGeometry(splitter2Left_, 0, kBarWidth, h);
    Image3->setGeometry(splitter2Left_ + kBarWidth, 0, std::max(0, w - splitter2Left_ - kBarWidth), h);
    // The bars stay above whatever the window puts on Panel2 (its check boxes).
    Splitter1->raise();
    Splitter2->raise();
}

void EqStrip::Splitter1Moved() {
    const int w = ScaleWidth();
    bandLow_ = FrequencyAt(splitter1Left_, w);
    bandHigh_ = FrequencyAt(splitter2Left_, w);
    EQRange->setText(EqRangeText(bandLow_, bandHigh_));
    drawPictures();
    emit BandChanged(bandLow_, bandHigh_);
}

void EqStrip::drawPictures() {
    EqPicture* images[3] = {Image1, Image2, Image3};
    for (EqPicture* image : images) {
        image->Picture = QImage(std::max(1, image->width()), std::max(1, image->height()), QImage::Format_RGB32);
        image->Picture.fill(Qt::white);
    }
    const int w = ScaleWidth();
    for (int f : GridFrequencies()) {
        const GridPlace place = PlaceGridLine(PositionOf(f, w), splitter1Left_, splitter2Left_);
        QImage& picture = images[place.image]->Picture;
        QPainter painter(&picture);
        painter.setPen(place.image == 1 ? kGridInside : kGridOutside);
        painter.drawLine(place.x, picture.height(), place.x, 0);
    }
    const int h = Image1->height() * 3 / 10;
    {
        QImage& picture = Image1->Picture;
        QPainter painter(&picture);
        painter.setPen(kSketch);
        painter.drawLine(Image1->width() * 8 / 10, Image1->height(), Image1->width(), h);
    }
    {
        QPainter painter(&Image2->Picture);
        painter.setPen(kSketch);
        painter.drawLine(0, h, Image2->width(), h);
    }
    {
        QPainter painter(&Image3->Picture);
        painter.setPen(kSketch);
        painter.drawLine(0, h, Image3->width() * 2 / 10, Image3->height());
    }
    for (EqPicture* image : images) image->update();
}

void EqPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!Picture.isNull()) painter.drawImage(0, 0, Picture);
}

EqSplitterBar::EqSplitterBar(EqStrip* strip, QWidget* parent) : QWidget(parent), strip_(strip) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(255, 0, 0));
    setPalette(p);
    setCursor(Qt::SizeHorCursor);
}

void EqSplitterBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) grabX_ = static_cast<int>(event->position().x());
}

void EqSplitterBar::mouseMoveEvent(QMouseEvent* event) {
    if (grabX_ < 0) return;
    const int left = x() + static_cast<int>(event->position().x()) - grabX_;
    if (left != x()) strip_->dragBar(this, left);
}

void EqSplitterBar::mouseReleaseEvent(QMouseEvent*) { grabX_ = -1; }

}  // namespace tandem
