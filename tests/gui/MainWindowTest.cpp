#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QTreeView>
#include <QDropEvent>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QUrl>

#include <chrono>
#include <filesystem>

#include "GuiFixture.h"
#include "eq/EqStrip.h"

namespace tandem::test {
namespace {

using MainWindow = GuiFixture;

std::string withoutSlash(std::string dir) {
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

TEST_F(MainWindow, first_start_without_settings_shows_the_defaults) {
    openWindow();
    EXPECT_EQ(form->windowTitle().toStdString(), "Tandem V1.5");
    EXPECT_EQ(form->size(), QSize(632, 446));
    EXPECT_EQ(form->fnMaster->Path().toStdString(), "基準にするWAVEファイル");
    EXPECT_EQ(form->fnSlave->Path().toStdString(), "同期させるWAVEファイル");
    EXPECT_EQ(form->DiffIndex(), 1);
    EXPECT_EQ(form->seMasterSkipCount->value(), 0);
    EXPECT_EQ(form->seSlaveSkipCount->value(), 0);
    for (QCheckBox* box : {form->cbResult, form->cbStart, form->cbEnd, form->cbEqWave}) {
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
    }
    EXPECT_TRUE(form->cbBackGround->isChecked());
    EXPECT_EQ(form->seBaseStep->value(), 2);
    EXPECT_EQ(form->seRangeS->value(), 800);
    EXPECT_EQ(form->seRangeE->value(), 300);
    EXPECT_EQ(form->seDpLimit->value(), 0);
    EXPECT_EQ(form->SrcDirectoryPath().toStdString(), withoutSlash(ExecutableFolder()));
    EXPECT_EQ(SettingsSrcDir(), ExecutableFolder());
    EXPECT_FALSE(form->PanelMsg->isHidden());
    EXPECT_TRUE(form->PanelDebug->isHidden());
    EXPECT_TRUE(form->PanelProgress->isHidden());
    EXPECT_EQ(form->BtnSyncStart->text().toStdString(), "&Start");
    EXPECT_EQ(form->BandLow(), 50);
    EXPECT_EQ(form->BandHigh(), 20000);
    EXPECT_EQ(form->PanelEQBase->EQRange->text().toStdString(),
              "EQ Freq range : 50 Hz - 20000 Hz(100Hz以下と12000Hz以上は無視)");
}

TEST_F(MainWindow, last_job_with_a_deleted_master_keeps_the_placeholder) {
    writeIni("[TandemEnv]\nMASTER=" + dir.file("gone.wav") + "\nSLAVE=" + dir.file("gone too.wav") +
             "\nMODE=3\nSKIPMASTER=12\nSKIPSLAVE=7\nRESULT_CSV=1\nEQ_WAVE=5\n");
    openWindow();
    EXPECT_EQ(form->fnMaster->Path().toStdString(), "基準にするWAVEファイル");
    EXPECT_EQ(form->fnSlave->Path().toStdString(), dir.file("gone too.wav"));
    EXPECT_EQ(form->DiffIndex(), 3);
    EXPECT_EQ(form->seMasterSkipCount->value(), 12);
    EXPECT_EQ(form->seSlaveSkipCount->value(), 7);
    EXPECT_TRUE(form->cbResult->isChecked());
    EXPECT_FALSE(form->cbStart->isChecked());
    EXPECT_FALSE(form->cbEnd->isChecked());
    EXPECT_TRUE(form->cbEqWave->isChecked());
}

TEST_F(MainWindow, stored_level_out_of_range_reads_as_normal) {
    writeIni("[TandemEnv]\nMODE=9\n");
    openWindow();
    EXPECT_EQ(form->DiffIndex(), 1);
}

TEST_F(MainWindow, existing_master_outside_the_folder_list_moves_the_list_to_its_folder) {
    std::filesystem::create_directories(dir.file("rec"));
    WriteStereoWave(dir.file("rec/take.wav"), std::vector<Frame>(100));
    writeIni("[TandemEnv]\nSRCDIR=/usr\nMASTER=" + dir.file("rec/take.wav") + "\n");
    openWindow();
    EXPECT_EQ(form->fnMaster->Path().toStdString(), dir.file("rec/take.wav"));
    EXPECT_EQ(form->SrcDirectoryPath().toStdString(), dir.file("rec"));
    EXPECT_EQ(SettingsSrcDir(), dir.file("rec/"));
    EXPECT_EQ(SettingsReadText("TandemEnv", "SRCDIR", ""), dir.file("rec"));
}

TEST_F(MainWindow, stored_folder_that_no_longer_exists_falls_back_to_the_program_directory) {
    writeIni("[TandemEnv]\nSRCDIR=" + dir.file("removed/long ago") + "\n");
    openWindow();
    EXPECT_EQ(form->SrcDirectoryPath().toStdString(), withoutSlash(ExecutableFolder()));
    EXPECT_EQ(SettingsSrcDir(), ExecutableFolder());
}

TEST_F(MainWindow, folder_list_is_scrolled_to_the_program_folder_at_start_up) {
    // Deep enough that the folder lies below the first rows of "/".
    const std::string deep = dir.file("zz/yy/xx/ww");
    std::filesystem::create_directories(deep);
    writeIni("[TandemEnv]\nSRCDIR=" + deep + "\n");
    openWindow();
    // The model reads folders on a thread of its own: wait until "/" and the folder's
    // parent are read (a guard, not a timing check), as they are before a user opens the
    // expert panel.
    QStringList loaded;
    QObject::connect(form->findChild<QFileSystemModel*>(), &QFileSystemModel::directoryLoaded,
                     [&](const QString& path) { loaded << path; });
    QElapsedTimer guard;
    guard.start();
    while (!(loaded.contains("/") && loaded.contains(dir.file("zz/yy/xx").c_str())) && guard.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    form->show();
    QTest::mousePress(form->PanelTop, Qt::LeftButton, {}, {10, 5});
    QTest::mouseRelease(form->PanelTop, Qt::LeftButton, {}, {400, 60});
    QTreeView* list = form->SrcDirectory;
    auto inView = [&] { return list->viewport()->rect().contains(list->visualRect(list->currentIndex()).center()); };
    // Rows may still be sorted: give the list until the guard runs out to come into view.
    guard.restart();
    while (!inView() && guard.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(form->SrcDirectoryPath().toStdString(), deep);
    EXPECT_TRUE(inView()) << list->visualRect(list->currentIndex()).y();
}

TEST(PanelSwitch, drag_must_pass_half_the_width_and_half_the_height) {
    EXPECT_TRUE(IsPanelSwitchDrag({10, 5}, {400, 60}, 632, 81));
    EXPECT_FALSE(IsPanelSwitchDrag({10, 5}, {400, 45}, 632, 81));  // 40 down is not more than 40
    EXPECT_TRUE(IsPanelSwitchDrag({10, 5}, {327, 46}, 632, 81));
    EXPECT_FALSE(IsPanelSwitchDrag({10, 5}, {326, 60}, 632, 81));  // 316 right is not more than 316
    EXPECT_FALSE(IsPanelSwitchDrag({400, 60}, {10, 5}, 632, 81));  // the other direction
}

TEST_F(MainWindow, drag_on_the_top_panel_switches_the_expert_panel_on_and_off) {
    openWindow();
    ASSERT_EQ(form->PanelTop->size(), QSize(632, 81));
    auto drag = [&](QPoint from, QPoint to) {
        QTest::mousePress(form->PanelTop, Qt::LeftButton, {}, from);
        QTest::mouseRelease(form->PanelTop, Qt::LeftButton, {}, to);
    };
    drag({10, 5}, {400, 45});
    EXPECT_FALSE(form->IsDebugMode());
    EXPECT_TRUE(form->PanelDebug->isHidden());
    drag({10, 5}, {400, 60});
    EXPECT_TRUE(form->IsDebugMode());
    EXPECT_FALSE(form->PanelDebug->isHidden());
    EXPECT_FALSE(form->PanelMsg->isHidden()) << "the message lines stay in view below the expert panel";
    drag({10, 5}, {400, 60});
    EXPECT_FALSE(form->IsDebugMode());
    EXPECT_TRUE(form->PanelDebug->isHidden());
    EXPECT_FALSE(form->PanelMsg->isHidden());
}

class FakeHistory : public JobHistoryLink {
public:
    std::optional<HistoryEntry> FindJobByMaster(const std::string& path) override {
        for (const HistoryEntry& e : entries)
            if (e.master == path) return e;
        return std::nullopt;
    }
    void AddJob(const HistoryEntry& entry) override { added.push_back(entry); }
    int FindStopPoint(const std::string&, const std::string&, int) override { return 0; }
    void JobStarted(const HistoryEntry&) override {}
    void JobEnded(const HistoryEntry&, Verdict) override {}
    std::vector<HistoryEntry> entries;
    std::vector<HistoryEntry> added;
};

TEST_F(MainWindow, choosing_a_master_from_the_history_fills_slave_level_and_lead_ins) {
    WriteStereoWave(dir.file("a.wav"), std::vector<Frame>(100));
    FakeHistory history;
    history.entries.push_back({dir.file("other.wav"), dir.file("x.wav"), 0, 1, 1});
    history.entries.push_back({dir.file("a.wav"), dir.file("b.wav"), 2, 15, 30});
    history.entries.push_back({dir.file("a.wav"), dir.file("c.wav"), 3, 0, 0});
    openWindow(&history);
    answers << QString::fromStdString(dir.file("a.wav"));
    form->SelectMaster->click();
    ASSERT_EQ(titles.size(), 1);
    EXPECT_EQ(titles[0].toStdString(), "基準ファイルの選択");
    EXPECT_EQ(form->fnMaster->Path().toStdString(), dir.file("a.wav"));
    EXPECT_EQ(form->fnSlave->Path().toStdString(), dir.file("b.wav"));
    EXPECT_EQ(form->DiffIndex(), 2);
    EXPECT_EQ(form->seMasterSkipCount->value(), 15);
    EXPECT_EQ(form->seSlaveSkipCount->value(), 30);
    EXPECT_EQ(SettingsReadText("TandemEnv", "SLAVE", ""), dir.file("b.wav"));
    EXPECT_EQ(SettingsReadInt("TandemEnv", "SKIPSLAVE", 0), 30);
}

TEST_F(MainWindow, chosen_master_that_does_not_exist_leaves_the_label) {
    openWindow();
    answers << QString::fromStdString(dir.file("missing.wav"));
    form->SelectMasterClick();
    EXPECT_EQ(form->fnMaster->Path().toStdString(), "基準にするWAVEファイル");
    EXPECT_EQ(SettingsReadText("TandemEnv", "MASTER", ""), "基準にするWAVEファイル");
}

TEST_F(MainWindow, chosen_slave_is_shown_without_existence_test) {
    openWindow();
    answers << QString::fromStdString(dir.file("later.wav"));
    form->SelectSlave->click();
    EXPECT_EQ(titles.value(0).toStdString(), "同期させるファイルの選択");
    EXPECT_EQ(form->fnSlave->Path().toStdString(), dir.file("later.wav"));
    EXPECT_EQ(SettingsReadText("TandemEnv", "SLAVE", ""), dir.file("later.wav"));
}

bool dropOn(QWidget* target, const std::string& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

TEST_F(MainWindow, wave_file_dropped_on_a_name_is_taken_like_a_chosen_one) {
    WriteStereoWave(dir.file("m.wav"), std::vector<Frame>(100));
    WriteStereoWave(dir.file("s.WAV"), std::vector<Frame>(100));
    WriteFile(dir.file("notes.txt"), {'h', 'i'});
    openWindow();
    EXPECT_TRUE(dropOn(form->fnMaster, dir.file("m.wav")));
    EXPECT_TRUE(dropOn(form->fnSlave, dir.file("s.WAV")));
    EXPECT_FALSE(dropOn(form->fnSlave, dir.file("notes.txt")));
    EXPECT_FALSE(dropOn(form->fnMaster, dir.file("absent.wav")));
    EXPECT_EQ(form->fnMaster->Path().toStdString(), dir.file("m.wav"));
    EXPECT_EQ(form->fnSlave->Path().toStdString(), dir.file("s.WAV"));
    EXPECT_EQ(SettingsReadText("TandemEnv", "MASTER", ""), dir.file("m.wav"));
    EXPECT_EQ(SettingsReadText("TandemEnv", "SLAVE", ""), dir.file("s.WAV"));
}

TEST_F(MainWindow, reset_buttons_write_the_restart_point_into_the_chosen_sections) {
    WriteStereoWave(dir.file("m.wav"), std::vector<Frame>(100));
    openWindow();
    form->MasterChosen(QString::fromStdString(dir.file("m.wav")));
    form->SlaveChosen(QString::fromStdString(dir.file("s.wav")));
    form->seRestartPoint->setValue(0);
    form->Button1->click();
    EXPECT_EQ(SettingsReadInt(dir.file("s.wav"), "Count", -1), 0);
    EXPECT_EQ(SettingsReadInt(dir.file("m.wav"), "Count", -1), -1);
    form->seRestartPoint->setValue(7);
    form->ResetButton->click();
    EXPECT_EQ(SettingsReadInt(dir.file("s.wav"), "Count", -1), 7);
    EXPECT_EQ(SettingsReadInt(dir.file("m.wav"), "Count", -1), 7);
}

TEST_F(MainWindow, special_list_appends_new_files_once) {
    openWindow();
    form->SetSrcDirectory(QString::fromStdString(withoutSlash(dir.path())));
    form->CheckSpecialList(dir.file("a.wav"));
    form->CheckSpecialList("/elsewhere/b.wav");
    EXPECT_EQ(SettingsReadInt("SpecialList", "Items", 0), 2);
    form->CheckSpecialList(dir.file("a.wav"));
    form->CheckSpecialList("/elsewhere/b.wav");
    EXPECT_EQ(SettingsReadInt("SpecialList", "Items", 0), 2);
    EXPECT_EQ(SettingsReadText("SpecialList", "Item0", ""), dir.file("a.wav"));
    EXPECT_EQ(SettingsReadText("SpecialList", "Item1", ""), "/elsewhere/b.wav");
    // Listed relative to the folder list's directory; the comparison is exact.
    ASSERT_TRUE(SettingsFlush());
    EXPECT_NE(iniText().find("Item0=a.wav"), std::string::npos);
    form->CheckSpecialList(dir.file("A.wav"));
    EXPECT_EQ(SettingsReadInt("SpecialList", "Items", 0), 3);
}

TEST_F(MainWindow, start_with_no_slave_cancelled_in_the_dialog_stores_nothing) {
    WriteStereoWave(dir.file("m.wav"), std::vector<Frame>(100));
    FakeHistory history;
    openWindow(&history);
    form->SetMasterFile(QString::fromStdString(dir.file("m.wav")));
    form->BtnSyncStart->click();
    ASSERT_EQ(titles.size(), 1);
    EXPECT_EQ(titles[0].toStdString(), "同期させるファイルの選択");
    EXPECT_FALSE(form->Running());
    EXPECT_TRUE(form->PanelProgress->isHidden());
    EXPECT_TRUE(history.added.empty());
    EXPECT_EQ(SettingsReadInt("SpecialList", "Items", -1), -1);
    EXPECT_EQ(SettingsReadText("TandemEnv", "MASTER", "none"), "none");
    EXPECT_EQ(SettingsReadInt("TandemEnv", "RESULT_CSV", -1), -1);
}

TEST_F(MainWindow, eq_copies_of_both_files_use_the_strip_band_even_outside_the_job_rules) {
    writePair(1.0);
    openWindow();
    form->MasterChosen(QString::fromStdString(master));
    form->SlaveChosen(QString::fromStdString(slave));
    form->BtnMakeEqWave->click();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
    const std::string copy = dir.file("master_EQ(50,20000).wav");
    ASSERT_TRUE(std::filesystem::exists(copy));
    EXPECT_TRUE(std::filesystem::exists(dir.file("slave_EQ(50,20000).wav")));
    // A second press uses the copies as they are (their time, set back, stays).
    const auto setBack = std::filesystem::last_write_time(copy) - std::chrono::hours(1);
    std::filesystem::last_write_time(copy, setBack);
    form->BtnMakeEqWave->click();
    EXPECT_EQ(std::filesystem::last_write_time(copy), setBack);
}

TEST_F(MainWindow, eq_copy_of_a_missing_file_is_reported) {
    openWindow();
    form->SlaveChosen(QString::fromStdString(dir.file("nowhere.wav")));
    form->BtnMakeEqWaveClick();
    EXPECT_EQ(messages.size(), 1);
}

}  // namespace
}  // namespace tandem::test
