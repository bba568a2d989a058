// Every text of every window fits its widget: the ink of the text (descenders,
// underscores, the tops of kanji) lies inside the widget and inside every widget around
// it, in Japanese and in English. ctest runs this file once more at QT_SCALE_FACTOR 1.5.
#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTableWidget>
#include <QTest>

#include "GuiFixture.h"
#include "app/TDebugWindow.h"
#include "ui/Translation.h"
#include "joblist/TJobListForm.h"
#include "remix/TRemixForm.h"

namespace tandem::test {
namespace {

// Texts with what gets cut first: underscores, descenders, tall kanji.
const char* const kLongName = "【pub_const200_30s_master】-【pub_const200_30s_slave】.wavの作成";
const char* const kLine2 = "処理時間=0H 0M 12S 345ms gjpqy_";
const char* const kLine3 = "cannot write the log file /tmp/pub_const200_30s_slave.wav.log: 処理できません";

struct Clip {
    QString what;
    QRect ink, room;
};

QString shownText(QString text) { return text.remove(QRegularExpression("&(?!&)")); }

// Where the text's ink lands when drawn into box with these flags (one line).
QRect inkIn(const QFontMetrics& fm, const QRect& box, int flags, const QString& text) {
    const QRect logical = fm.boundingRect(box, flags, text);
    return fm.tightBoundingRect(text).translated(logical.left(), logical.top() + fm.ascent());
}

// The part of w that is not cut off by the widgets around it, in window coordinates.
QRect roomOf(const QWidget* w) {
    const QWidget* window = w->window();
    QRect room(w->mapTo(window, QPoint(0, 0)), w->size());
    for (const QWidget* up = w->parentWidget(); up && up != window; up = up->parentWidget())
        room &= QRect(up->mapTo(window, QPoint(0, 0)), up->size());
    return room & window->rect();
}

class Checker {
public:
    void widget(QWidget* w) {
        if (!w->isVisibleTo(w->window())) return;
        if (auto* l = qobject_cast<QLabel*>(w)) label(l);
        if (auto* b = qobject_cast<QAbstractButton*>(w)) button(b);
        if (auto* g = qobject_cast<QGroupBox*>(w)) group(g);
        if (auto* list = qobject_cast<QListWidget*>(w)) rows(list);
        if (auto* grid = qobject_cast<QTableWidget*>(w)) cells(grid);
    }
    void window(QWidget* top) {
        widget(top);
        for (QWidget* w : top->findChildren<QWidget*>()) widget(w);
    }
    std::vector<Clip> clipped;
    int checked = 0;

private:
    void expectInside(const QWidget* w, const QString& text, const QRect& inkLocal, const QRect& roomLocal = {}) {
        ++checked;
        const QPoint at = w->mapTo(w->window(), QPoint(0, 0));
        const QRect ink = inkLocal.translated(at);
        const QRect room = roomLocal.isNull() ? roomOf(w) : roomLocal.translated(at) & roomOf(w);
        if (!room.contains(ink)) clipped.push_back({w->objectName() + " \"" + text + "\"", ink, room});
    }

    void label(QLabel* l) {
        const QString text = l->text();
        if (text.isEmpty()) return;
        const QRect box = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
        const QFontMetrics fm = l->fontMetrics();
        if (l->wordWrap()) {
            ++checked;
            const QRect used = fm.boundingRect(box, int(l->alignment()) | Qt::TextWordWrap, text);
            if (!QRect(QPoint(0, 0), l->size()).contains(used))
                clipped.push_back({l->objectName() + " \"" + text + "\"", used, l->rect()});
            return;
        }
        expectInside(l, text, inkIn(fm, box, int(l->alignment()), text));
    }

    void button(QAbstractButton* b) {
        const QString text = shownText(b->text());
        if (text.isEmpty()) return;
        const QFontMetrics fm = b->fontMetrics();
        QStyleOptionButton opt;
        opt.initFrom(b);
        QRect box;
        int flags = Qt::AlignLeft | Qt::AlignVCenter;
        if (qobject_cast<QCheckBox*>(b)) {
            box = b->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, b);
        } else if (qobject_cast<QRadioButton*>(b)) {
            box = b->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, b);
        } else if (qobject_cast<QPushButton*>(b)) {
            box = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
            if (!b->icon().isNull()) box.setLeft(box.left() + b->iconSize().width() + 4);
            flags = Qt::AlignCenter;
            // A centred text wider than its room spills out at both ends.
            if (fm.horizontalAdvance(text) > box.width())
                clipped.push_back({b->objectName() + " \"" + text + "\" is wider than its button", {}, box});
        } else {
            return;
        }
        expectInside(b, text, inkIn(fm, box, flags, text));
    }

    void group(QGroupBox* g) {
        if (g->title().isEmpty()) return;
        QStyleOptionGroupBox opt;
        opt.initFrom(g);
        opt.text = g->title();
        opt.subControls = QStyle::SC_GroupBoxLabel;
        const QRect box = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
        expectInside(g, g->title(), inkIn(g->fontMetrics(), box, Qt::AlignLeft | Qt::AlignVCenter, g->title()));
    }

    // Rows: the line's height must hold the text (long lines may run past the right edge
    // of a list; that is what its scroll bar is for).
    void rows(QListWidget* list) {
        const QFontMetrics fm(list->font());
        for (int r = 0; r < std::min(list->count(), 5); ++r) {
            const QRect row = list->visualItemRect(list->item(r));
            const QString text = list->item(r)->text();
            const QRect ink = inkIn(fm, row, Qt::AlignLeft | Qt::AlignVCenter, text);
            ++checked;
            if (ink.top() < row.top() || ink.bottom() > row.bottom())
                clipped.push_back({list->objectName() + " row \"" + text + "\"", ink, row});
        }
    }

    void cells(QTableWidget* grid) {
        const QFontMetrics fm(grid->font());
        for (int r = 0; r < grid->rowCount(); ++r) {
            for (int c = 0; c < grid->columnCount(); ++c) {
                const QString text = grid->item(r, c) ? grid->item(r, c)->text() : QString();
                if (text.isEmpty()) continue;
                const QRect cell = grid->visualRect(grid->model()->index(r, c));
                // The cell is drawn at (left + 1, top + 1).
                const QRect ink = inkIn(fm, cell.adjusted(1, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
                ++checked;
                if (!cell.contains(ink)) clipped.push_back({grid->objectName() + " cell \"" + text + "\"", ink, cell});
            }
        }
    }
};

std::string report(const std::vector<Clip>& clips) {
    std::string out;
    for (const Clip& c : clips) {
        out += "\n  " + c.what.toStdString() + ": ink " + std::to_string(c.ink.x()) + "," + std::to_string(c.ink.y()) +
               " " + std::to_string(c.ink.width()) + "x" + std::to_string(c.ink.height()) + " room " +
               std::to_string(c.room.x()) + "," + std::to_string(c.room.y()) + " " + std::to_string(c.room.width()) +
               "x" + std::to_string(c.room.height());
    }
    return out;
}

class TextFits : public GuiFixture, public ::testing::WithParamInterface<Language> {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        ASSERT_TRUE(InstallLanguage(GetParam()));
    }
    void TearDown() override {
        InstallLanguage(Language::Japanese);
        GuiFixture::TearDown();
    }
    void expectFits(QWidget* window) {
        window->show();
        QCoreApplication::processEvents();
        Checker checker;
        checker.window(window);
        EXPECT_GT(checker.checked, 3) << window->objectName().toStdString();
        EXPECT_TRUE(checker.clipped.empty()) << window->objectName().toStdString() << report(checker.clipped);
    }
};

TEST_P(TextFits, main_window_with_messages_expert_panel_and_progress) {
    openWindow();
    form->LabelMsg1->setText(kLongName);
    form->LabelMsg2->setText(kLine2);
    form->LabelMsg3->setText(kLine3);
    form->PanelProgress->show();
    expectFits(form.get());
    QTest::mousePress(form->PanelTop, Qt::LeftButton, {}, {10, 5});
    QTest::mouseRelease(form->PanelTop, Qt::LeftButton, {}, {form->PanelTop->width() - 10, form->PanelTop->height() - 5});
    ASSERT_TRUE(form->IsDebugMode());
    expectFits(form.get());
    // A window grown for its fonts starts with the strip's own band all the same.
    EXPECT_EQ(form->BandLow(), 50);
    EXPECT_EQ(form->BandHigh(), 20000);
}

TEST_P(TextFits, job_list_remix_dialog_and_debug_log) {
    openWindow();
    TJobListForm jobList(form.get());
    for (int i = 0; i < 4; ++i)
        jobList.AddJob({dir.file("pub_gaps_3min_master_" + std::to_string(i) + ".wav"),
                        dir.file("pub_gaps_3min_slave_処理.wav"), i, 10 * i, i});
    expectFits(&jobList);
    TRemixForm remix(form.get());
    expectFits(&remix);

    TDebugWindow debugWindow;
    StartLog();
    for (const char* line : {kLongName, kLine2, kLine3, "gjpqy_ 処 ___"}) AddLog(line);
    QCoreApplication::processEvents();
    ASSERT_EQ(debugWindow.ListBox1->count(), 4);
    expectFits(&debugWindow);
    HideLog();
}

// A caption in Japanese in the English window is a text that missed tr().
TEST_P(TextFits, english_window_shows_no_japanese_caption) {
    openWindow();
    const QRegularExpression japanese("[\\x{3040}-\\x{30ff}\\x{4e00}-\\x{9fff}]");
    QStringList captions;
    for (QAbstractButton* b : form->findChildren<QAbstractButton*>()) captions << b->text();
    for (QLabel* l : form->findChildren<QLabel*>()) captions << l->text();
    for (QGroupBox* g : form->findChildren<QGroupBox*>()) captions << g->title();
    captions.removeAll(QString());
    ASSERT_GT(captions.size(), 20);
    const QStringList inJapanese = captions.filter(japanese);
    if (GetParam() == Language::English) {
        EXPECT_TRUE(inJapanese.isEmpty()) << inJapanese.join(" | ").toStdString();
    } else {
        EXPECT_GT(inJapanese.size(), 15);
    }
    // Stored as it is, whatever the language: qzv.ini keeps the label's text.
    EXPECT_EQ(form->fnMaster->Path().toStdString(), "基準にするWAVEファイル");
}

INSTANTIATE_TEST_SUITE_P(Languages, TextFits, ::testing::Values(Language::Japanese, Language::English),
                         [](const auto& param) { return param.param == Language::Japanese ? "ja" : "en"; });

}  // namespace
}  // namespace tandem::test
