#include <gtest/gtest.h>

#include <string>

#include "remix/RemixSettings.h"

namespace tandem {
namespace {

// The picture of the dialog: 428 wide; any size must give the same corner values.
constexpr int kW = 428;
constexpr int kH = 127;

TEST(RemixSettings, cell_text_parses_decimal_integers_and_everything_else_is_zero) {
    EXPECT_EQ(ParseCellValue("42"), 42);
    EXPECT_EQ(ParseCellValue("-17"), -17);
    EXPECT_EQ(ParseCellValue("+5"), 5);
    EXPECT_EQ(ParseCellValue(" 40 "), 40);
    EXPECT_EQ(ParseCellValue(""), 0);
    EXPECT_EQ(ParseCellValue("-"), 0);
    EXPECT_EQ(ParseCellValue("abc"), 0);
    EXPECT_EQ(ParseCellValue("12abc"), 0);
    EXPECT_EQ(ParseCellValue("1 2"), 0);
    EXPECT_EQ(ParseCellValue("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParseCellValue("-99999999999999999999"), -2147483647 - 1);
}

TEST(RemixSettings, cell_edits_are_clamped_to_the_channel_ranges) {
    MixSettings mix = kDefaultMix;
    EXPECT_TRUE(SetCellText(mix, 1, kVolumeRow, "150"));
    EXPECT_EQ(mix[0], 100);
    EXPECT_TRUE(SetCellText(mix, 2, kVolumeRow, "-3"));
    EXPECT_EQ(mix[2], 0);
    EXPECT_TRUE(SetCellText(mix, 3, kPanRow, "-200"));
    EXPECT_EQ(mix[5], -90);
    EXPECT_TRUE(SetCellText(mix, 4, kPanRow, "91"));
    EXPECT_EQ(mix[7], 90);
    EXPECT_TRUE(SetCellText(mix, 4, kVolumeRow, "37"));
    EXPECT_EQ(mix[6], 37);
    EXPECT_TRUE(SetCellText(mix, 3, kPanRow, "left"));
    EXPECT_EQ(mix[5], 0) << "letters in a Panpot cell: centre";

    const MixSettings before = mix;
    EXPECT_FALSE(SetCellText(mix, 0, kVolumeRow, "5"));
    EXPECT_FALSE(SetCellText(mix, 5, kVolumeRow, "5"));
    EXPECT_FALSE(SetCellText(mix, 1, 0, "5"));
    EXPECT_FALSE(SetCellText(mix, 1, 3, "5"));
    EXPECT_EQ(mix, before);
}

TEST(RemixSettings, grid_shows_headers_titles_and_values) {
    MixSettings mix = kDefaultMix;
    mix[3] = -45;
    EXPECT_EQ(CellText(mix, 0, 0), "");
    EXPECT_EQ(CellText(mix, 1, 0), "Master-L");
    EXPECT_EQ(CellText(mix, 4, 0), "Slave-R");
    EXPECT_EQ(CellText(mix, 0, kVolumeRow), "Volume");
    EXPECT_EQ(CellText(mix, 0, kPanRow), "Panpot");
    EXPECT_EQ(CellText(mix, 2, kVolumeRow), "100");
    EXPECT_EQ(CellText(mix, 2, kPanRow), "-45");
    EXPECT_EQ(CellText(mix, 3, kPanRow), "90");
}

TEST(RemixSettings, click_chooses_the_channel_by_button_and_grid_column) {
    EXPECT_EQ(ClickChannel(2, MouseButton::Left), kMasterL);
    EXPECT_EQ(ClickChannel(2, MouseButton::Right), kMasterR);
    EXPECT_EQ(ClickChannel(1, MouseButton::Right), kMasterR);
    EXPECT_EQ(ClickChannel(3, MouseButton::Left), kSlaveL);
    EXPECT_EQ(ClickChannel(4, MouseButton::Left), kSlaveL);
    EXPECT_EQ(ClickChannel(3, MouseButton::Right), kSlaveR);
    for (int column = 1; column <= 4; ++column)
        EXPECT_EQ(ClickChannel(column, MouseButton::Middle), static_cast<RemixChannel>(column - 1));
    EXPECT_EQ(ClickChannel(0, MouseButton::Middle), kMasterL) << "the row-title column holds no channel";
}

TEST(RemixSettings, clicks_at_the_frame_corners_give_the_range_ends) {
    for (const int w : {kW, 200, 21}) {
        for (const int h : {kH, 60, 21}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
            EXPECT_EQ(PanAtX(10, w), -90);
            EXPECT_EQ(PanAtX(w - 10, w), 90);
            EXPECT_EQ(VolumeAtY(10, h), 100);
            EXPECT_EQ(VolumeAtY(h - 10, h), 0);
        }
    }
}

TEST(RemixSettings, click_at_the_centre_is_about_centre_pan_and_half_volume) {
    EXPECT_NEAR(PanAtX(kW / 2, kW), 0, 1);
    EXPECT_NEAR(VolumeAtY(kH / 2, kH), 50, 1);
    // (214 × 180 − 1800) / 408 − 90 = 0 and (127 − 10 − 63) × 100 / 107 = 50, truncated.
    EXPECT_EQ(PanAtX(214, kW), 0);
    EXPECT_EQ(VolumeAtY(63, kH), 50);
    // Two pixels left of the centre: 36360 / 408 = 89.1, truncated to 89.
    EXPECT_EQ(PanAtX(212, kW), -1);
}

TEST(RemixSettings, clicks_outside_the_frame_are_clamped_and_tiny_pictures_do_not_divide_by_zero) {
    EXPECT_EQ(PanAtX(-50, kW), -90);
    EXPECT_EQ(PanAtX(kW + 50, kW), 90);
    EXPECT_EQ(VolumeAtY(-5, kH), 100);
    EXPECT_EQ(VolumeAtY(kH + 30, kH), 0);
    EXPECT_EQ(PanAtX(5, 20), -90);
    EXPECT_EQ(VolumeAtY(5, 0), 0);
}

TEST(RemixSettings, click_stores_pan_and_volume_of_one_channel_only) {
    MixSettings mix = kDefaultMix;
    ClickPicture(mix, 2, MouseButton::Right, kW - 10, kH - 10, kW, kH);
    EXPECT_EQ(mix, (MixSettings{100, -90, 0, 90, 100, 90, 100, 90}));
    ClickPicture(mix, 2, MouseButton::Left, 10, 10, kW, kH);
    EXPECT_EQ(mix, (MixSettings{100, -90, 0, 90, 100, 90, 100, 90}));
    ClickPicture(mix, 4, MouseButton::Middle, 10, kH / 2, kW, kH);
    EXPECT_EQ(mix[6], 50);
    EXPECT_EQ(mix[7], -90);
}

TEST(RemixSettings, a_dot_is_drawn_where_a_click_sets_its_values_and_louder_is_higher) {
    PicturePoint previous{};
    for (int volume = 0; volume <= 100; volume += 5) {
        for (int pan = -90; pan <= 90; pan += 15) {
            MixSettings mix = kDefaultMix;
            mix[2 * kSlaveR] = volume;
            mix[2 * kSlaveR + 1] = pan;
            const RemixPicture p = LayoutPicture(mix, kW, kH);
            const PicturePoint dot = p.points[kSlaveR];
            SCOPED_TRACE("volume " + std::to_string(volume) + ", pan " + std::to_string(pan));
            EXPECT_TRUE(dot.x >= p.left && dot.x <= p.right && dot.y >= p.top && dot.y <= p.bottom) << "outside the frame";
            // The picture has more pixels than values: a click on the dot lands within a step.
            EXPECT_NEAR(PanAtX(dot.x, kW), pan, 1);
            EXPECT_NEAR(VolumeAtY(dot.y, kH), volume, 1);
            if (pan > -90) {
                EXPECT_GT(dot.x, previous.x) << "further right is drawn further right";
            } else if (volume > 0) {
                EXPECT_LT(dot.y, previous.y) << "louder is drawn higher";
            }
            if (pan == 0) {
                EXPECT_NEAR(dot.x, p.centreX, 1) << "the centre line is the centre";
            }
            previous = pan == 90 ? PointOf(-90, volume, kW, kH) : dot;
        }
    }
    const RemixPicture p = LayoutPicture(kDefaultMix, kW, kH);
    for (const int y : p.horizontalDotted) EXPECT_TRUE(y > p.top && y < p.bottom) << y;
    for (const int x : p.verticalDotted) EXPECT_TRUE(x > p.left && x < p.right && x != p.centreX) << x;
}

}  // namespace
}  // namespace tandem
