// The EQ strip at the bottom of the main window: a logarithmic frequency scale from
// 10 Hz (x = 0) to 44100 Hz (x = W) split by two red bars into three pictures; the
// band is the part between the bars.
//
// The scale functions are plain so that they can be checked without a window. All of
// this runs on the main thread.
#pragma once

#include <QImage>
#include <QWidget>

#include <string>
#include <vector>

class QLabel;

namespace tandem {

// Decades from 10 Hz to 44100 Hz: log10(44100) - 1.
double EqScaleDecades();
// 10^(x K / W + 1) Hz, reduced to two significant digits from 100 Hz on (1234 -> 1200).
int FrequencyAt(int x, int scaleWidth);
// The reduction alone: >= 10000 to thousands, >= 1000 to hundreds, >= 100 to tens.
int ShortFrequency(int hz);
// Pixel of a frequency on a scale scaleWidth wide (rounded to nearest).
int PositionOf(int hz, int scaleWidth);
// The EQRange caption for a band.
QString EqRangeText(int lowHz, int highHz);
// Grid lines: 10, 20 .. 90, 100, 200 .. 40000 Hz.
std::vector<int> GridFrequencies();

struct GridPlace {
    int image = 0;  // 0 = Image1, 1 = Image2, 2 = Image3
    int x = 0;      // inside that image
};
// Where a grid line at scale position x is drawn; a line on a bar goes to its left.
GridPlace PlaceGridLine(int x, int splitter1Left, int splitter2Left);

class EqPicture;
class EqSplitterBar;

// PanelEQBase: the EQRange label over PanelEQ, which holds Panel2 (Image1, Splitter1,
// Image2), Splitter2 and Image3. Bars keep their pixel positions when the strip is
// resized; the band is recomputed when a bar moves.
class EqStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 90;  // with a 14-pixel label; a larger font adds to it
    static constexpr int kBarWidth = 3;
    static constexpr int kMinPane = 30;  // narrowest picture a bar may leave beside it

    explicit EqStrip(QWidget* parent = nullptr);

    // Initial placement: bars at 50 Hz and 20000 Hz of the current scale width.
    void PlaceInitialBars();
    // Puts the bars at these left positions (limited so that every picture keeps
    // kMinPane pixels and the lower bar stays right of Panel2's check boxes) and runs
    // Splitter1Moved.
    void MoveBars(int splitter1Left, int splitter2Left);
    // Recomputes BandLow, BandHigh, the label and the three pictures.
    void Splitter1Moved();

    int BandLow() const { return bandLow_; }
    int BandHigh() const { return bandHigh_; }
    int ScaleWidth() const;  // W: the current width of PanelEQ
    int Splitter1Left() const { return splitter1Left_; }
    int Splitter2Left() const { return splitter2Left_; }
    const QImage& Picture(int image) const;

    QLabel* EQRange = nullptr;
    QWidget* PanelEQ = nullptr;
    QWidget* Panel2 = nullptr;
    EqPicture* Image1 = nullptr;
    EqSplitterBar* Splitter1 = nullptr;
    EqPicture* Image2 = nullptr;
    EqSplitterBar* Splitter2 = nullptr;
    EqPicture* Image3 = nullptr;

signals:
    void BandChanged(int lowHz, int highHz);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class EqSplitterBar;
    void dragBar(EqSplitterBar* bar, int left);
    void layoutPanels();
    void drawPictures();
    int lowestBar() const;

    int splitter1Left_ = 0;
    int splitter2Left_ = 0;
    int bandLow_ = 0;
    int bandHigh_ = 0;
};

// One of the three pictures: shows its image unscaled at the top left.
class EqPicture : public QWidget {
public:
    using QWidget::QWidget;
    QImage Picture;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A red bar that the user drags sideways.
class EqSplitterBar : public QWidget {
public:
    EqSplitterBar(EqStrip* strip, QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    EqStrip* strip_;
    int grabX_ = -1;
};

}  // namespace tandem
