#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "GuiFixture.h"
#include "app/AlertBridge.h"
#include "app/TDebugWindow.h"
#include "core/Alert.h"
#include "eq/EqStrip.h"
#include "ui/Translation.h"

namespace tandem::test {
namespace {

class RunWindow : public GuiFixture {
protected:
    // Waits for the end and lets the next timer tick wind the display up.
    void finishJob() {
        ASSERT_TRUE(waitForJob());
        form->TimerTick(TickCountMs());
    }
    void setBand(int lowHz, int highHz) {
        const int w = form->PanelEQBase->ScaleWidth();
        form->PanelEQBase->MoveBars(PositionOf(lowHz, w), PositionOf(highHz, w));
    }
    void setExpert(int baseStep, int rangeS, int rangeE) {
        form->seBaseStep->setValue(baseStep);
        form->seRangeS->setValue(rangeS);
        form->seRangeE->setValue(rangeE);
    }
};

struct LevelCase {
    int level;
    int baseStep, rangeS, rangeE;  // expert fields after the start (set to 5, 1000, 450 before)
    int mode, channelFlag;
    int lowWithoutBand, highWithoutBand;  // passed with the initial strip (50-20000 Hz)
    int lowFrom80;                        // passed for a lower edge below 100 Hz
};

TEST_F(RunWindow, presets_and_band_rules_for_every_level_outside_debug_mode) {
    const LevelCase cases[] = {
        {0, 1, 1000, 100, 11, 0, 0, 0, 0},
        {1, 2, 1000, 200, 11, 0, 0, 0, 0},
        {2, 3, 4410, 200, 21, 0, 500, 2000, 500},
        {3, 3, 1000, 150, 66, 1, 100, 1000, 100},
    };
    openWithPair(1.0);
    for (const LevelCase& c : cases) {
        SCOPED_TRACE(c.level);
        form->SetDiffIndex(c.level);
        setBand(50, 20000);
        setExpert(5, 1000, 450);
        form->BtnSyncStart->click();
        ASSERT_TRUE(form->Running());
        EXPECT_EQ(form->seBaseStep->value(), c.baseStep);
        EXPECT_EQ(form->seRangeS->value(), c.rangeS);
        EXPECT_EQ(form->seRangeE->value(), c.rangeE);
        const JobRequest& r = form->Run().LastRequest();
        EXPECT_EQ(r.baseStep, c.baseStep);
        EXPECT_EQ(r.rangeS, c.rangeS);
        EXPECT_EQ(r.rangeE, c.rangeE);
        EXPECT_EQ(r.mode, c.mode);
        EXPECT_EQ(r.channelFlag, c.channelFlag);
        EXPECT_EQ(r.eqLow, c.lowWithoutBand);
        EXPECT_EQ(r.eqHigh, c.highWithoutBand);
        finishJob();

        setBand(80, 3000);
        ASSERT_LT(form->BandLow(), 100);
        form->BtnSyncStart->click();
        EXPECT_EQ(form->Run().LastRequest().eqLow, c.lowFrom80);
        EXPECT_EQ(form->Run().LastRequest().eqHigh, 3000);
        finishJob();
    }
    // A band the user set is passed as it is, also for 多.
    form->SetDiffIndex(2);
    setBand(300, 3000);
    form->BtnSyncStart->click();
    EXPECT_EQ(form->Run().LastRequest().eqLow, 300);
    EXPECT_EQ(form->Run().LastRequest().eqHigh, 3000);
    finishJob();
}

TEST_F(RunWindow, lead_ins_and_stop_point_are_passed_in_frames) {
    openWithPair(1.0);
    form->seMasterSkipCount->setValue(3);
    form->seSlaveSkipCount->setValue(12);
    form->seDpLimit->setValue(40);
    form->BtnSyncStart->click();
    const JobRequest& r = form->Run().LastRequest();
    EXPECT_EQ(r.master, master);
    EXPECT_EQ(r.slave, slave);
    EXPECT_EQ(r.masterSkipFrames, 3 * 4410);
    EXPECT_EQ(r.slaveSkipFrames, 12 * 4410);
    EXPECT_EQ(r.stopPointFrames, 40 * 4410);
    EXPECT_FALSE(r.lowPriority);
    finishJob();
    form->cbBackGround->setChecked(true);
    form->BtnSyncStart->click();
    EXPECT_TRUE(form->Run().LastRequest().lowPriority);
    finishJob();
}

TEST_F(RunWindow, options_word_keeps_only_the_debug_bit_and_adds_the_boxes) {
    openWithPair(1.0);
    form->cbResult->setChecked(true);
    form->cbEqWave->setChecked(true);
    form->BtnSyncStart->click();
    EXPECT_EQ(form->JobOptions(), kOptResultCsv | kOptKeepEq);
    finishJob();
    form->cbResult->setChecked(false);
    form->cbEnd->setChecked(true);
    form->BtnSyncStart->click();
    EXPECT_EQ(form->JobOptions(), kOptSegmentCsv | kOptKeepEq);
    finishJob();
    EXPECT_EQ(SettingsReadInt("TandemEnv", "END_CSV", 0), 1);
    EXPECT_EQ(SettingsReadInt("TandemEnv", "RESULT_CSV", 1), 0);
}

TEST_F(RunWindow, whole_job_from_the_window_writes_the_synchronised_file_and_returns_to_idle) {
    openWithPair(8.0);
    form->BtnSyncStart->click();
    ASSERT_TRUE(form->Running());
    EXPECT_EQ(form->BtnSyncStart->text().toStdString(), "STOP");
    EXPECT_FALSE(form->PanelProgress->isHidden());
    EXPECT_TRUE(form->Timer1->isActive());
    ASSERT_TRUE(waitForJob());
    EXPECT_EQ(form->BtnSyncStart->text().toStdString(), "START");
    EXPECT_EQ(form->Run().Progress().StageClock(), -1);
    EXPECT_EQ(form->ProgressBar[0]->value(), 0);

    const std::string expected = ProgramFolder() + "【master】-【slave】.wav";
    EXPECT_TRUE(form->LastOutcome().outputWritten) << form->LastOutcome().error;
    EXPECT_EQ(form->LastOutcome().outputFile, expected);
    EXPECT_TRUE(std::filesystem::exists(expected));
    EXPECT_GT(SettingsReadInt(slave, "Count", 0), 2);

    form->TimerTick(TickCountMs());
    EXPECT_TRUE(form->PanelProgress->isHidden());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->StaticText[0]->text().toStdString(), "開始点検索");
    EXPECT_EQ(form->StaticText[1]->text().toStdString(), "同期位置検出");
    EXPECT_EQ(form->StaticText[2]->text().toStdString(), "同期ファイル出力");
    EXPECT_EQ(form->LabelMsg2->text().left(5).toStdString(), "処理時間=");
    EXPECT_EQ(SettingsReadInt("SpecialList", "Items", 0), 2);
    EXPECT_EQ(SettingsReadText("TandemEnv", "SLAVE", ""), slave);
}

// The engine's words come through the window's translation: no Japanese engine error in
// an English window.
TEST_F(RunWindow, english_window_shows_an_engine_error_in_english) {
    ASSERT_TRUE(InstallLanguage(Language::English));
    openWithPair(2.0);
    form->SlaveChosen(QString::fromStdString(master));
    form->BtnSyncStart->click();
    finishJob();
    const std::string line = form->LabelMsg3->text().toStdString();
    InstallLanguage(Language::Japanese);
    EXPECT_EQ(line, "the slave file " + master + " is the master file itself; choose another slave");
}

TEST_F(RunWindow, timer_shows_a_finished_stage_and_the_time_left_of_the_next) {
    openWithPair(1.0);
    form->BtnSyncStart->click();
    ASSERT_TRUE(waitForJob());
    // The job is over; replay a display state as the worker leaves it mid-job.
    SyncProgress& progress = form->Run().Progress();
    progress.Reset();
    form->Timer1->stop();
    progress.SetStageClock(1000);
    progress.StageBar(0).Max.store(50);
    progress.StageBar(0).Position.store(20);
    progress.StageBar(0).Marker.store(kStageFinished);
    progress.StageBar(1).Max.store(200);
    progress.SetMessageLine("同期ポイントの分析", 0);
    progress.SetResultRange(-300, 300);
    progress.SetResultValue(150);
    form->TimerTick(1000 + 125000);
    EXPECT_EQ(form->StaticText[0]->text().toStdString(), "2分5秒");
    EXPECT_EQ(progress.StageBar(0).Marker.load(), kStageShown);
    EXPECT_EQ(progress.StageBar(0).Position.load(), 50);
    EXPECT_EQ(form->ProgressBar[0]->value(), form->ProgressBar[0]->maximum());
    EXPECT_EQ(progress.StageClock(), 1000 + 125000);
    EXPECT_EQ(form->LabelMsg1->text().toStdString(), "同期ポイントの分析");
    EXPECT_EQ(form->ResultProgressBar->value(), 150);
    EXPECT_EQ(form->ResultProgressBar->palette().color(QPalette::Highlight), QColor(255, 255, 0));

    progress.StageBar(1).Position.store(100);
    form->TimerTick(1000 + 125000 + 60000);
    EXPECT_EQ(form->StaticText[1]->text().toStdString(), "あと1分0秒");
    progress.SetResultValue(-250);
    form->TimerTick(1000 + 125000 + 61000);
    EXPECT_EQ(form->ResultProgressBar->palette().color(QPalette::Highlight), QColor(255, 0, 0));
}

TEST_F(RunWindow, debug_mode_keeps_the_expert_values_logs_and_opens_the_log_at_the_end) {
    openWithPair(2.0);
    TDebugWindow debugWindow;
    QTest::mousePress(form->PanelTop, Qt::LeftButton, {}, {10, 5});
    QTest::mouseRelease(form->PanelTop, Qt::LeftButton, {}, {400, 60});
    ASSERT_TRUE(form->IsDebugMode());
    setExpert(4, 900, 350);
    form->BtnSyncStart->click();
    EXPECT_EQ(form->seBaseStep->value(), 4);
    EXPECT_EQ(form->seRangeS->value(), 900);
    EXPECT_EQ(form->seRangeE->value(), 350);
    EXPECT_EQ(form->Run().LastRequest().baseStep, 4);
    EXPECT_TRUE(LogIsShown());
    EXPECT_TRUE(form->PanelDebug->isHidden());
    EXPECT_FALSE(form->PanelMsg->isHidden());
    EXPECT_EQ(form->JobOptions() & kOptDebug, kOptDebug);
    finishJob();
    EXPECT_FALSE(form->PanelDebug->isHidden());
    // The result line is in view without a gesture: shown, inside the window, not
    // under the expert panel.
    form->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(form->LabelMsg1->isVisible());
    EXPECT_FALSE(form->LabelMsg1->text().isEmpty());
    const QRect line(form->LabelMsg1->mapTo(form.get(), QPoint(0, 0)), form->LabelMsg1->size());
    EXPECT_TRUE(form->rect().contains(line));
    EXPECT_FALSE(line.intersects(QRect(form->PanelDebug->pos(), form->PanelDebug->size())));
    EXPECT_FALSE(LogIsShown());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], slave + ".log");
    const std::vector<std::uint8_t> log = ReadFileBytes(slave + ".log");
    const std::string text(log.begin(), log.end());
    EXPECT_EQ(text.rfind("START:\r\n", 0), 0u) << text.substr(0, 80);
}

TEST_F(RunWindow, closing_during_a_job_stops_it_waits_and_keeps_what_was_found) {
    openWithPair(30.0);
    form->show();
    form->BtnSyncStart->click();
    ASSERT_TRUE(form->Running());
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->BtnSyncStart->text().toStdString(), "停止中");
    EXPECT_EQ(form->Run().Job().StopRequest.load(), 1);
    ASSERT_TRUE(waitForJob());
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->LastOutcome().stopped);
    // The window flushed the settings on its way out: the points are on disk.
    EXPECT_NE(iniText().find("[slave.wav]"), std::string::npos) << iniText();
}

TEST_F(RunWindow, stop_asks_the_worker_to_end_and_the_caption_says_so) {
    openWithPair(30.0);
    form->BtnSyncStart->click();
    form->BtnSyncStart->click();
    EXPECT_EQ(form->BtnSyncStart->text().toStdString(), "停止中");
    EXPECT_TRUE(form->Running());
    finishJob();
    EXPECT_TRUE(form->LastOutcome().stopped);
    EXPECT_EQ(form->BtnSyncStart->text().toStdString(), "START");
    EXPECT_TRUE(form->PanelProgress->isHidden());
    const QString stoppedLine = form->LabelMsg1->text();
    EXPECT_TRUE(stoppedLine.startsWith("停止しました")) << stoppedLine.toStdString();
    EXPECT_TRUE(stoppedLine.contains(QString::number(form->LastOutcome().pointCount)));

    // The same job run to its end does not say it was stopped.
    form->BtnSyncStart->click();
    finishJob();
    EXPECT_FALSE(form->LastOutcome().stopped);
    EXPECT_NE(form->LabelMsg1->text(), stoppedLine);
    EXPECT_FALSE(form->LabelMsg1->text().contains("停止")) << form->LabelMsg1->text().toStdString();
}

TEST_F(RunWindow, destroying_the_window_during_a_job_stops_the_worker_and_waits_for_it) {
    openWithPair(30.0);
    form->BtnSyncStart->click();
    form.reset();  // returns only once the worker has ended
    EXPECT_LT(SettingsReadInt(slave, "Count", 0), 10) << "a whole run stores about 150 points";
}

TEST(Alerts, alert_on_the_worker_waits_for_the_box_on_the_main_thread) {
    std::atomic<bool> workerReturned{false};
    QThread* shownOn = nullptr;
    bool returnedBeforeShown = true;
    QString shownText;
    AlertBridge bridge([&](const QString& text) {
        shownOn = QThread::currentThread();
        shownText = text;
        returnedBeforeShown = workerReturned.load();
    });
    std::thread worker([&] {
        ShowAlert("Data may be broken.");
        workerReturned.store(true);
    });
    while (!workerReturned.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_EQ(shownOn, QThread::currentThread());
    EXPECT_EQ(shownText.toStdString(), "Data may be broken.");
    EXPECT_FALSE(returnedBeforeShown);
}

TEST(Alerts, closed_bridge_never_blocks_a_worker) {
    int shown = 0;
    AlertBridge bridge([&](const QString&) { ++shown; });
    bridge.Close();
    auto done = std::async(std::launch::async, [] { ShowAlert("Oh, my god!"); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, 0);
}

class DebugLog : public ::testing::Test {
protected:
    void TearDown() override { HideLog(); }
    static void settle() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }
};

TEST_F(DebugLog, window_shows_the_lines_of_both_threads_while_recording) {
    TDebugWindow window;
    EXPECT_EQ(window.windowTitle().toStdString(), "DebugWindow");
    AddLog("dropped");
    StartLog();
    settle();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.ListBox1->count(), 0);
    AddLog("a");
    std::thread([] {
        AddLog("b");
        AddLog("c");
    }).join();
    AddLog("z");
    settle();
    ASSERT_EQ(window.ListBox1->count(), 4);
    EXPECT_EQ(window.ListBox1->item(1)->text().toStdString(), "b");
    EXPECT_EQ(window.ListBox1->item(3)->text().toStdString(), "z");
    AddLog("");
    settle();
    EXPECT_EQ(window.ListBox1->count(), 0);
}

TEST_F(DebugLog, follows_new_lines_unless_scrolled_up_and_takes_a_flood_in_batches) {
    TDebugWindow window;
    StartLog();
    settle();
    std::thread([] {
        for (int i = 0; i < 20000; ++i) AddLog("line " + std::to_string(i));
    }).join();
    settle();
    ASSERT_EQ(window.ListBox1->count(), 20000);
    EXPECT_EQ(window.ListBox1->item(19999)->text().toStdString(), "line 19999");
    QScrollBar* bar = window.ListBox1->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum()) << "follows the end";
    bar->setValue(bar->maximum() / 2);
    const int kept = bar->value();
    AddLog("more");
    settle();
    EXPECT_EQ(bar->value(), kept) << "the user's place is kept";
}

TEST(DebugWindowPlace, beside_the_main_window_where_the_screen_allows) {
    const QSize log(666, 540);
    const QRect screen(0, 0, 1920, 1080);
    struct Case {
        QRect main;
        QPoint at;
    };
    const Case cases[] = {
        {{100, 100, 640, 480}, {740, 100}},   // room on the right
        {{1200, 50, 640, 480}, {534, 50}},    // only on the left
        {{100, 800, 640, 480}, {740, 540}},   // on the right, raised to stay on the screen
        {{300, 0, 1400, 480}, {626, 269}},    // no room on either side: centred
    };
    for (const Case& c : cases) {
        const QRect place = TDebugWindow::PlaceBeside(c.main, log, screen);
        EXPECT_EQ(place.topLeft(), c.at) << c.main.x();
        EXPECT_EQ(place.size(), log);
    }
}

TEST_F(DebugLog, closing_the_window_stops_the_recording) {
    TDebugWindow window;
    StartLog();
    settle();
    window.close();
    settle();
    EXPECT_FALSE(LogIsShown());
    AddLog("after");
    EXPECT_TRUE(LogLines().empty());
}

}  // namespace
}  // namespace tandem::test
