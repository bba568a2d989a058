#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include "remix/TRemixForm.h"

namespace tandem::test {
namespace {

QString cell(const TRemixForm& form, int column, int row) { return form.StringGrid1->item(row, column)->text(); }

// Types text into a cell through its editor, as the user does, and commits it.
void typeIntoCell(TRemixForm& form, int column, int row, const QString& text) {
    form.StringGrid1->setCurrentCell(row, column);
    form.StringGrid1->editItem(form.StringGrid1->item(row, column));
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();
}

TEST(RemixForm, starts_with_the_synchronisation_mix_in_the_grid) {
    TRemixForm form;
    EXPECT_EQ(form.windowTitle(), "Remix Setting");
    EXPECT_EQ(form.Mix(), kDefaultMix);
    EXPECT_EQ(cell(form, 1, 0), "Master-L");
    EXPECT_EQ(cell(form, 4, 0), "Slave-R");
    EXPECT_EQ(cell(form, 0, 1), "Volume");
    EXPECT_EQ(cell(form, 0, 2), "Panpot");
    EXPECT_EQ(cell(form, 2, 2), "-90");
    EXPECT_EQ(cell(form, 3, 2), "90");
}

TEST(RemixForm, typed_values_are_clamped_while_the_cell_keeps_the_text_until_a_click) {
    TRemixForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.Mix()[0] = 40;
    typeIntoCell(form, 1, 1, "150");
    EXPECT_EQ(form.Mix()[0], 100);
    EXPECT_EQ(cell(form, 1, 1), "150");
    typeIntoCell(form, 3, 2, "abc");
    EXPECT_EQ(form.Mix()[5], 0) << "letters in a Panpot cell: centre";

    form.StringGrid1->setCurrentCell(1, 3);
    QTest::mouseClick(form.Image1, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(cell(form, 1, 1), "100") << "a click refills the grid";
}

TEST(RemixForm, buttons_choose_the_channel_from_the_current_column) {
    TRemixForm form;
    const int w = form.Image1->width();
    const int h = form.Image1->height();
    ASSERT_GT(w, 20);
    ASSERT_GT(h, 20);
    form.StringGrid1->setCurrentCell(1, 2);  // Master-R
    QTest::mouseClick(form.Image1, Qt::LeftButton, {}, QPoint(w - 10, h - 10));
    EXPECT_EQ(form.Mix()[0], 0);
    EXPECT_EQ(form.Mix()[1], 90) << "left button: Master-L";
    QTest::mouseClick(form.Image1, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(form.Mix()[2], 100);
    EXPECT_EQ(form.Mix()[3], -90) << "right button: Master-R";
    QTest::mouseClick(form.Image1, Qt::MiddleButton, {}, QPoint(w / 2, h / 2));
    EXPECT_NEAR(form.Mix()[3], 0, 1) << "middle button: the current column's channel";
    EXPECT_NEAR(form.Mix()[2], 50, 1);
    EXPECT_EQ(form.Mix()[4], 100) << "the slave is untouched";
    EXPECT_EQ(cell(form, 1, 2), "90");
}

TEST(RemixForm, picture_shows_the_frame_and_each_channel_in_its_colour) {
    TRemixForm form;
    form.Mix() = MixSettings{100, -90, 0, 0, 50, 90, 100, 45};
    form.RefreshView(true);
    const QImage& picture = form.Image1->Picture;
    const int w = picture.width();
    const int h = picture.height();
    ASSERT_EQ(w, form.Image1->width());
    const RemixPicture layout = LayoutPicture(form.Mix(), w, h);
    EXPECT_EQ(picture.pixelColor(10, h - 10), QColor(Qt::black)) << "frame corner";
    EXPECT_EQ(picture.pixelColor(w - 10, 15), QColor(Qt::black)) << "right edge of the frame";
    EXPECT_EQ(picture.pixelColor(3, 3), QColor(Qt::white));
    const unsigned colours[4] = {0x0000FF, 0xFF0000, 0x00FF00, 0xFF00FF};
    // The joining line ends in the right channel's centre, so look at the whole dot.
    auto dotHas = [&](PicturePoint at, unsigned colour) {
        for (int y = at.y - 3; y <= at.y + 3; ++y) {
            for (int x = at.x - 3; x <= at.x + 3; ++x) {
                if (picture.valid(x, y) && (picture.pixel(x, y) & 0xFFFFFF) == colour) return true;
            }
        }
        return false;
    };
    for (int c = 0; c < 4; ++c) EXPECT_TRUE(dotHas(layout.points[static_cast<std::size_t>(c)], colours[c])) << c;
    EXPECT_FALSE(dotHas(PicturePoint{w / 4, h / 4}, colours[2])) << "no lime dot where no channel is";
}

}  // namespace
}  // namespace tandem::test
