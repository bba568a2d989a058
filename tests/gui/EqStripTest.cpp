#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>

#include <cmath>

#include "eq/EqStrip.h"

namespace tandem {
namespace {

constexpr int kW = 630;  // PanelEQ's width in the 632-pixel window

TEST(EqScale, ends_of_the_scale_are_10_hz_and_44100_reduced_to_thousands) {
    EXPECT_EQ(FrequencyAt(0, kW), 10);
    EXPECT_EQ(FrequencyAt(kW, kW), 44000);
    EXPECT_EQ(FrequencyAt(0, 400), 10);
    EXPECT_EQ(FrequencyAt(400, 400), 44000);
}

TEST(EqScale, short_values_round_half_up_in_their_decade) {
    EXPECT_EQ(ShortFrequency(1234), 1200);
    EXPECT_EQ(ShortFrequency(1250), 1300);
    EXPECT_EQ(ShortFrequency(15678), 16000);
    EXPECT_EQ(ShortFrequency(99), 99);
    EXPECT_EQ(ShortFrequency(995), 1000);
    EXPECT_EQ(ShortFrequency(9949), 9900);
    EXPECT_EQ(ShortFrequency(9950), 10000);
    EXPECT_EQ(ShortFrequency(10499), 10000);
}

TEST(EqScale, positions_of_the_band_limits_on_a_630_pixel_scale) {
    EXPECT_EQ(PositionOf(50, kW), 121);
    EXPECT_EQ(PositionOf(100, kW), 173);
    EXPECT_EQ(PositionOf(12000, kW), 532);
    EXPECT_EQ(PositionOf(20000, kW), 571);
    EXPECT_EQ(PositionOf(10, kW), 0);
}

TEST(EqScale, frequency_of_a_position_reads_back_the_placed_frequency) {
    for (int f : {50, 100, 200, 500, 1000, 2000, 5000, 12000, 20000}) {
        EXPECT_EQ(FrequencyAt(PositionOf(f, kW), kW), f) << f;
    }
}

TEST(EqScale, grid_walks_each_decade_and_stops_before_50000) {
    const std::vector<int> grid = GridFrequencies();
    ASSERT_EQ(grid.size(), 9u * 3 + 4);
    EXPECT_EQ(grid.front(), 10);
    EXPECT_EQ(grid[8], 90);
    EXPECT_EQ(grid[9], 100);
    EXPECT_EQ(grid.back(), 40000);
}

TEST(EqScale, grid_line_on_a_bar_goes_to_the_picture_left_of_it) {
    EXPECT_EQ(PlaceGridLine(121, 121, 571).image, 0);
    EXPECT_EQ(PlaceGridLine(122, 121, 571).image, 1);
    EXPECT_EQ(PlaceGridLine(122, 121, 571).x, 1);
    EXPECT_EQ(PlaceGridLine(571, 121, 571).image, 1);
    EXPECT_EQ(PlaceGridLine(571, 121, 571).x, 450);
    EXPECT_EQ(PlaceGridLine(600, 121, 571).image, 2);
    EXPECT_EQ(PlaceGridLine(600, 121, 571).x, 29);
}

class EqStripWidget : public ::testing::Test {
protected:
    void SetUp() override {
        strip.resize(632, EqStrip::kHeight);
        strip.PlaceInitialBars();
    }
    EqStrip strip;
};

TEST_F(EqStripWidget, initial_strip_is_50_to_20000_hz_with_its_label) {
    EXPECT_EQ(strip.ScaleWidth(), kW);
    EXPECT_EQ(strip.Splitter1Left(), 121);
    EXPECT_EQ(strip.Splitter2Left(), 571);
    EXPECT_EQ(strip.BandLow(), 50);
    EXPECT_EQ(strip.BandHigh(), 20000);
    EXPECT_EQ(strip.EQRange->text().toStdString(),
              "EQ Freq range : 50 Hz - 20000 Hz(100Hz以下と12000Hz以上は無視)");
}

TEST_F(EqStripWidget, pictures_are_white_with_grid_lines_and_the_band_sketch) {
    const QImage& below = strip.Picture(0);
    const QImage& band = strip.Picture(1);
    ASSERT_EQ(below.width(), 121);
    ASSERT_EQ(band.width(), 571 - 121 - EqStrip::kBarWidth);
    const int h = below.height() * 3 / 10;
    // 10 Hz sits at x = 0 of Image1, in yellow; the band's sketch runs across Image2 at h.
    EXPECT_EQ(below.pixelColor(0, below.height() / 2), QColor(255, 255, 0));
    EXPECT_EQ(below.pixelColor(below.width() / 2, below.height() - 2), QColor(Qt::white));
    EXPECT_EQ(band.pixelColor(band.width() / 2 + 3, h), QColor(0, 128, 0));
    // 1000 Hz lies inside the band: a magenta line in Image2.
    const int x1000 = PositionOf(1000, kW) - 121;
    EXPECT_EQ(band.pixelColor(x1000, band.height() - 3), QColor(255, 0, 255));
}

TEST_F(EqStripWidget, moving_a_bar_changes_the_band_and_keeps_every_picture_open) {
    strip.MoveBars(PositionOf(300, kW), PositionOf(3000, kW));
    EXPECT_EQ(strip.BandLow(), 300);
    EXPECT_EQ(strip.BandHigh(), 3000);
    EXPECT_EQ(strip.EQRange->text().toStdString(),
              "EQ Freq range : 300 Hz - 3000 Hz(100Hz以下と12000Hz以上は無視)");
    strip.MoveBars(-50, 5000);
    EXPECT_EQ(strip.Splitter1Left(), EqStrip::kMinPane);
    EXPECT_EQ(strip.Splitter2Left(), kW - EqStrip::kBarWidth - EqStrip::kMinPane);
    strip.MoveBars(400, 380);
    EXPECT_LE(strip.Splitter1Left() + EqStrip::kBarWidth + EqStrip::kMinPane, strip.Splitter2Left());
    EXPECT_LT(strip.BandLow(), strip.BandHigh());
}

TEST_F(EqStripWidget, resizing_keeps_the_bars_where_they_are) {
    strip.show();  // a hidden widget gets its resize event only when shown
    strip.resize(800, EqStrip::kHeight);
    QCoreApplication::processEvents();
    ASSERT_EQ(strip.ScaleWidth(), 798);
    EXPECT_EQ(strip.Splitter1Left(), 121);
    EXPECT_EQ(strip.Splitter2Left(), 571);
    EXPECT_EQ(strip.BandLow(), 50);
    strip.Splitter1Moved();
    EXPECT_EQ(strip.BandLow(), FrequencyAt(121, 798));
}

TEST_F(EqStripWidget, lower_bar_stops_right_of_what_lies_on_panel2_at_any_width) {
    QWidget box(strip.Panel2);  // stands for the window's check boxes
    box.setGeometry(4, 6, 112, 20);
    strip.show();
    for (const int width : {632, 1400}) {
        strip.resize(width, strip.height());
        QCoreApplication::processEvents();
        ASSERT_EQ(strip.ScaleWidth(), width - 2);
        strip.MoveBars(0, strip.Splitter2Left());
        EXPECT_EQ(strip.Splitter1Left(), 116) << width;
        EXPECT_EQ(strip.BandLow(), FrequencyAt(116, width - 2)) << "the band follows the strip's width";
    }
}

}  // namespace
}  // namespace tandem
