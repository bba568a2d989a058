#include <gtest/gtest.h>

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>

#include "core/Error.h"
#include "joblist/HistoryFixture.h"
#include "joblist/TJobListForm.h"

namespace tandem::test {
namespace {

class JobListFormTest : public HistoryFixture {
protected:
    void SetUp() override {
        HistoryFixture::SetUp();
        JobHistory stored;
        for (int i = 0; i < 6; ++i) {
            const std::string n = std::to_string(i);
            stored.AddJob("/rec/m" + n + ".wav", "/rec/s" + n + ".wav", i % 4, 10 * i, i);
            SettingsWriteInt("/rec/m" + n + ".wav", "Count", 30);
            SettingsWriteInt("/rec/s" + n + ".wav", "Count", 30);
        }
    }
    // Shows the window modally and, once it runs, selects rows and does something.
    static int showAndDo(TJobListForm& form, std::vector<int> rows, std::function<void()> action) {
        QTimer::singleShot(0, &form, [&form, rows, action] {
            for (const int r : rows) form.ListBox1->item(r)->setSelected(true);
            action();
        });
        return form.ShowModal();
    }

    std::vector<int> marked(const TJobListForm& form) const {
        std::vector<int> out;
        for (int k = 0; k < kJobCapacity; ++k) {
            if (const_cast<TJobListForm&>(form).History().Entry(k).Marked) out.push_back(k);
        }
        return out;
    }
};

TEST_F(JobListFormTest, loads_the_stored_history_into_its_lines) {
    TJobListForm form;
    EXPECT_EQ(form.windowTitle(), "Job List");
    ASSERT_EQ(form.ListBox1->count(), 6);
    EXPECT_EQ(form.ListBox1->item(0)->text(), QString::fromUtf8("0-0 少 m0.wav s0.wav"));
    EXPECT_EQ(form.ListBox1->item(5)->text(), QString::fromUtf8("50-5 普 m5.wav s5.wav"));
    EXPECT_EQ(form.BitBtn1->text(), QString::fromUtf8("再試行(&R)"));
    EXPECT_EQ(form.BitBtn3->text(), QString::fromUtf8("選択"));
    EXPECT_EQ(form.BitBtn2->text(), QString::fromUtf8("キャンセル"));
}

TEST_F(JobListFormTest, each_line_says_when_its_job_ran_and_what_it_came_to) {
    const auto result = [](TJobListForm& form, int row) { return form.ListBox1->item(row)->data(Qt::UserRole + 1).toString(); };
    const auto red = [](TJobListForm& form, int row) { return form.ListBox1->item(row)->foreground().color() == QColor(200, 0, 0); };
    {
        TJobListForm form;
        form.JobStarted({"/rec/m1.wav", "/rec/s1.wav", 1, 10, 1});
        EXPECT_EQ(result(form, 1), QString::fromUtf8("未完了"));
        EXPECT_FALSE(form.ListBox1->item(1)->data(Qt::UserRole).toString().isEmpty());
        form.JobEnded({"/rec/m1.wav", "/rec/s1.wav", 1, 10, 1}, Verdict::InStep);
        form.JobEnded({"/rec/m2.wav", "/rec/s2.wav", 2, 20, 2}, Verdict::Failed);
        // Another lead-in is another job: entry 3 keeps no result of this one.
        form.JobEnded({"/rec/m3.wav", "/rec/s3.wav", 3, 99, 3}, Verdict::NotInStep);
    }
    // What jobs came to outlives the window (and is what tandem-cli's jobs leave as well).
    TJobListForm form;
    EXPECT_EQ(result(form, 1), QString::fromUtf8("同期済み"));
    EXPECT_FALSE(red(form, 1));
    EXPECT_EQ(result(form, 2), QString::fromUtf8("失敗"));
    EXPECT_TRUE(red(form, 2));
    EXPECT_EQ(result(form, 3), QString::fromUtf8("未実行"));
    EXPECT_TRUE(form.ListBox1->item(3)->data(Qt::UserRole).toString().isEmpty());
    EXPECT_EQ(form.ListBox1->item(1)->text(), QString::fromUtf8("10-1 普 m1.wav s1.wav"));
}

TEST_F(JobListFormTest, retry_with_three_lines_closes_with_3_and_marks_them) {
    TJobListForm form;
    const int result = showAndDo(form, {1, 3, 4}, [&form] { form.BitBtn1->click(); });
    EXPECT_EQ(result, 3);
    EXPECT_EQ(marked(form), (std::vector<int>{1, 3, 4}));
}

TEST_F(JobListFormTest, each_button_closes_with_its_result) {
    TJobListForm form;
    EXPECT_EQ(showAndDo(form, {}, [&form] { form.BitBtn3->click(); }), kJobListCancel) << "選択 with nothing selected";
    EXPECT_EQ(showAndDo(form, {2, 0}, [&form] { form.BitBtn3->click(); }), kJobListSelect);
    EXPECT_EQ(marked(form), (std::vector<int>{0, 2}));
    form.ListBox1->clearSelection();
    EXPECT_EQ(showAndDo(form, {5}, [&form] { form.BitBtn4->click(); }), kJobListRemix);
    form.ListBox1->clearSelection();
    EXPECT_EQ(showAndDo(form, {1}, [&form] { form.BitBtn2->click(); }), kJobListCancel);
    EXPECT_EQ(marked(form), (std::vector<int>{5})) << "キャンセル leaves the marks alone";
    EXPECT_EQ(showAndDo(form, {}, [&form] { QTest::keyClick(&form, Qt::Key_Escape); }), kJobListCancel);
}

TEST_F(JobListFormTest, delete_from_the_context_menu_removes_the_lines_and_the_stored_points) {
    TJobListForm form;
    form.ListBox1->item(2)->setSelected(true);
    form.ListBox1->item(5)->setSelected(true);
    QMenu* menu = form.ListBox1->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), "&Delete");
    menu->actions().front()->trigger();

    ASSERT_EQ(form.ListBox1->count(), 4);
    EXPECT_TRUE(form.ListBox1->item(2)->text().contains("m3.wav"));
    for (const char* file : {"/rec/m2.wav", "/rec/s2.wav", "/rec/m5.wav", "/rec/s5.wav"})
        EXPECT_EQ(SettingsReadInt(file, "Count", -1), 0) << file;
    EXPECT_EQ(SettingsReadInt("/rec/m3.wav", "Count", -1), 30);
    EXPECT_EQ(SettingsReadInt("TandemEnv", "Items", -1), 4);
}

TEST_F(JobListFormTest, registering_through_the_main_window_link_refreshes_the_lines) {
    TJobListForm form;
    JobHistoryLink& link = form;
    link.AddJob(HistoryEntry{"/rec/a.wav", "/rec/b.wav", 2, 7, 8});
    ASSERT_EQ(form.ListBox1->count(), 7);
    EXPECT_EQ(form.ListBox1->item(0)->text(), QString::fromUtf8("7-8 多 a.wav b.wav"));
    const std::optional<HistoryEntry> found = link.FindJobByMaster("/rec/a.wav");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->slave, "/rec/b.wav");
    EXPECT_EQ(found->masterSkip, 7);
    EXPECT_FALSE(link.FindJobByMaster("/rec/none.wav").has_value());

    EXPECT_THROW(link.AddJob(HistoryEntry{"/rec/a\nb.wav", "/rec/b.wav", 1, 0, 0}), EngineError);
    EXPECT_EQ(form.ListBox1->count(), 7);
}

}  // namespace
}  // namespace tandem::test
