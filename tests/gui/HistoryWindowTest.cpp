// The main window with its job list and remix dialog: 一括登録, 履歴 with its three
// outcomes, the batch continuation of the timer, and the listening buttons.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <memory>

#include "GuiFixture.h"
#include "joblist/TJobListForm.h"
#include "remix/TRemixForm.h"

namespace tandem::test {
namespace {

class RecordingPlayer : public ExcerptPlayer {
public:
    void Play(const WaveImage& image) override { frames.push_back(image.frameCount()); }
    std::vector<FrameIndex> frames;
};

// Runs action once dialog is on screen (a modal dialog blocks the test until it closes).
void whenShown(QDialog* dialog, std::function<void()> action) {
    auto* poll = new QTimer(dialog);
    QObject::connect(poll, &QTimer::timeout, dialog, [dialog, poll, action] {
        if (!dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start(5);
}

class HistoryWindow : public GuiFixture {
protected:
    void openAll() {
        openWindow();
        jobList = std::make_unique<TJobListForm>(form.get());
        remix = std::make_unique<TRemixForm>(form.get());
        form->AttachJobList(jobList.get(), remix.get());
        form->cbBackGround->setChecked(false);
    }
    void TearDown() override {
        if (form) form->AttachJobList(nullptr, nullptr);
        remix.reset();
        jobList.reset();
        GuiFixture::TearDown();
    }
    // Presses 履歴 and, in the list, selects rows and presses a button.
    void history(std::vector<int> rows, QPushButton* TJobListForm::*button) {
        whenShown(jobList.get(), [this, rows, button] {
            jobList->ListBox1->clearSelection();
            for (const int r : rows) jobList->ListBox1->item(r)->setSelected(true);
            (jobList.get()->*button)->click();
        });
        form->btnBatch->click();
    }
    void register_(const std::string& m, const std::string& s, int level, int masterSkip, int slaveSkip) {
        form->SetMasterFile(QString::fromStdString(m));
        form->fnSlave->SetPath(QString::fromStdString(s));
        form->SetDiffIndex(level);
        form->seMasterSkipCount->setValue(masterSkip);
        form->seSlaveSkipCount->setValue(slaveSkip);
        form->btnBatchRegist->click();
    }
    // Lets jobs end and timer ticks run until the window is idle and no batch is left.
    bool waitForBatch() {
        for (int guard = 0; guard < 20; ++guard) {
            if (!waitForJob()) return false;
            form->TimerTick(TickCountMs());
            if (!form->Running()) return true;
        }
        return false;
    }

    // A job on a generated pair, run from the window to its written file.
    void runShownJob(double seconds) {
        writePair(seconds);
        form->MasterChosen(QString::fromStdString(master));
        form->SlaveChosen(QString::fromStdString(slave));
        form->BtnSyncStartClick();
        ASSERT_TRUE(waitForBatch());
        ASSERT_TRUE(form->LastOutcome().outputWritten) << form->LastOutcome().error;
    }

    std::unique_ptr<TJobListForm> jobList;
    std::unique_ptr<TRemixForm> remix;
};

TEST_F(HistoryWindow, register_button_adds_the_shown_job_without_checking_files) {
    openAll();
    ASSERT_TRUE(form->btnBatch->isEnabled());
    ASSERT_TRUE(form->btnBatchRegist->isEnabled());
    writePair(2);
    register_(master, dir.file("not-there.wav"), 2, 12, 3);
    ASSERT_EQ(jobList->ListBox1->count(), 1);
    EXPECT_EQ(jobList->ListBox1->item(0)->text(), QString::fromUtf8("12-3 多 master.wav not-there.wav"));
    EXPECT_FALSE(form->Running());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(HistoryWindow, select_loads_the_first_selected_job_leaves_debug_mode_and_runs_nothing) {
    openAll();
    writePair(2);
    register_(master, slave, 3, 40, 7);                // position 1
    register_(master, dir.file("other.wav"), 2, 5, 6);  // position 0: sorts first
    form->Run().Progress().SetJobOptions(kOptDebug);
    form->seMasterSkipCount->setValue(0);
    form->seSlaveSkipCount->setValue(0);
    form->fnSlave->SetPath("x.wav");
    history({1, 0}, &TJobListForm::BitBtn3);
    EXPECT_EQ(form->fnSlave->Path().toStdString(), dir.file("other.wav"));
    EXPECT_EQ(form->DiffIndex(), 2);
    EXPECT_EQ(form->seMasterSkipCount->value(), 5);
    EXPECT_EQ(form->seSlaveSkipCount->value(), 6);
    EXPECT_FALSE(form->IsDebugMode());
    EXPECT_FALSE(form->PanelDebug->isVisibleTo(form.get()));
    EXPECT_FALSE(form->Running());
    EXPECT_EQ(form->BatchCursor(), 0);
}

TEST_F(HistoryWindow, retry_runs_two_parts_of_a_recording_the_second_resuming_where_the_first_stopped) {
    openAll();
    writePair(8);
    register_(master, slave, 1, 0, 0);
    form->BtnSyncStart->click();  // the whole recording at once, for comparison
    ASSERT_TRUE(waitForBatch());
    const auto points = [](const std::string& file) {
        std::vector<int> p(static_cast<std::size_t>(SettingsReadInt(file, "Count", 0)));
        for (std::size_t i = 0; i < p.size(); ++i) p[i] = SettingsReadInt(file, "DP" + std::to_string(i), -1);
        return p;
    };
    const std::vector<int> masterWhole = points(master), slaveWhole = points(slave);
    ASSERT_GT(slaveWhole.size(), 30u);

    register_(master, slave, 1, 40, 48);
    register_(master, dir.file("zz.wav"), 1, 0, 0);  // position 2, not selected
    history({0, 1}, &TJobListForm::BitBtn1);
    ASSERT_TRUE(form->Running());
    EXPECT_EQ(form->BatchCursor(), 1);
    EXPECT_EQ(form->seDpLimit->value(), 40) << "the first part stops at the second's lead-in";
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(form->BatchCursor(), 0);
    EXPECT_EQ(form->seMasterSkipCount->value(), 40) << "the window shows the last job of the batch";
    EXPECT_EQ(form->seDpLimit->value(), 0) << "the last part runs to the end";
    EXPECT_TRUE(form->LastOutcome().outputWritten) << form->LastOutcome().error;
    EXPECT_EQ(jobList->ListBox1->count(), 3) << "each job registered again onto its own entry";
    for (const int row : {0, 1}) EXPECT_EQ(jobList->ListBox1->item(row)->data(Qt::UserRole + 1).toString(), QString::fromUtf8("同期済み")) << row;
    EXPECT_EQ(jobList->ListBox1->item(2)->data(Qt::UserRole + 1).toString(), QString::fromUtf8("未実行"));
    EXPECT_TRUE(form->Run().LastRequest().resume) << "no new start point search for the second part";
    EXPECT_GT(form->Run().LastRequest().resumeMasterFrame, 40 * kTenthFrames) << "it went on from the first part's last pair";
    EXPECT_EQ(points(master), masterWhole);
    EXPECT_EQ(points(slave), slaveWhole);
}

TEST_F(HistoryWindow, history_does_nothing_while_a_job_runs) {
    openAll();
    writePair(8);
    form->MasterChosen(QString::fromStdString(master));
    form->SlaveChosen(QString::fromStdString(slave));
    form->BtnSyncStartClick();
    ASSERT_TRUE(form->Running());
    form->btnBatch->click();  // would block in the modal list otherwise
    EXPECT_FALSE(jobList->isVisible());
    form->BtnSyncStartClick();
    ASSERT_TRUE(waitForJob());
}

TEST_F(HistoryWindow, remix_rebuilds_the_selected_job_with_the_dialog_mix_showing_only_the_output_row) {
    openAll();
    ASSERT_NO_FATAL_FAILURE(runShownJob(6));

    whenShown(remix.get(), [this] {
        for (int column = 1; column <= 4; ++column) remix->StringGrid1SetEditText(column, 1, "0");
        EXPECT_TRUE(remix->JobName->text().contains("slave.wav"));
        remix->Buttons->button(QDialogButtonBox::Ok)->click();
    });
    history({0}, &TJobListForm::BitBtn4);
    ASSERT_TRUE(form->Running());
    EXPECT_EQ(form->BtnSyncStart->text(), "START") << "the caption stays idle";
    EXPECT_EQ(form->Run().Progress().StageBar(0).Marker.load(), kStageShown);
    EXPECT_EQ(form->Run().Progress().StageBar(1).Marker.load(), kStageShown);
    ASSERT_TRUE(waitForBatch());
    ASSERT_TRUE(form->LastOutcome().outputWritten) << form->LastOutcome().error;
    const std::vector<std::uint8_t> out = ReadFileBytes(form->LastOutcome().outputFile);
    ASSERT_GT(out.size(), 44u + 4 * 44100);
    for (std::size_t i = 44; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << "all volumes 0: silence at byte " << i;
    EXPECT_EQ(form->BatchCursor(), 0);
}

TEST_F(HistoryWindow, remix_left_with_escape_or_the_close_box_keeps_the_file_and_the_mix) {
    openAll();
    ASSERT_NO_FATAL_FAILURE(runShownJob(4));
    const std::string out = form->LastOutcome().outputFile;
    const std::vector<std::uint8_t> bytes = ReadFileBytes(out);
    const auto modified = std::filesystem::last_write_time(out);
    const MixSettings mix = remix->Mix();

    const std::function<void()> leave[] = {
        [this] { QTest::keyClick(remix.get(), Qt::Key_Escape); },
        [this] { remix->close(); },
        [this] { remix->Buttons->button(QDialogButtonBox::Cancel)->click(); },
    };
    for (const auto& how : leave) {
        whenShown(remix.get(), [this, how] {
            remix->StringGrid1SetEditText(1, 1, "0");
            how();
        });
        history({0}, &TJobListForm::BitBtn4);
        EXPECT_FALSE(form->Running()) << "no job after a cancelled remix";
        EXPECT_EQ(remix->Mix(), mix) << "the edit is undone";
    }
    EXPECT_EQ(ReadFileBytes(out), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(out), modified);
}

TEST_F(HistoryWindow, remix_without_a_selection_does_nothing) {
    openAll();
    writePair(2);
    register_(master, slave, 1, 0, 0);
    history({}, &TJobListForm::BitBtn4);
    EXPECT_FALSE(remix->isVisible());
    EXPECT_FALSE(form->Running());
}

TEST_F(HistoryWindow, sound_buttons_play_five_seconds_from_each_lead_in) {
    openAll();
    auto player = std::make_unique<RecordingPlayer>();
    RecordingPlayer* played = player.get();
    form->Player = std::move(player);
    writePair(3);
    form->MasterChosen(QString::fromStdString(master));
    form->SlaveChosen(QString::fromStdString(slave));
    form->seSlaveSkipCount->setValue(30);
    ASSERT_TRUE(form->btnSound->isEnabled());
    form->btnSound->click();
    form->btnSoundSlave->click();
    EXPECT_EQ(played->frames, (std::vector<FrameIndex>{220500, 220500}));
    form->fnSlave->SetPath(QString::fromStdString(dir.file("missing.wav")));
    form->btnSoundSlave->click();
    EXPECT_EQ(played->frames.size(), 2u) << "a missing file plays nothing";
    EXPECT_TRUE(messages.isEmpty()) << "and says nothing";
}

TEST(PlaybackWindow, stops_on_esc_and_closes_by_itself_when_played) {
    for (const bool stop : {true, false}) {
        PlaybackDialog dialog(nullptr, 5000);
        QTimer::singleShot(0, &dialog, [&] {
            if (stop) {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            } else {
                dialog.Finished();
            }
        });
        dialog.exec();
        EXPECT_EQ(dialog.Stopped(), stop);
        EXPECT_FALSE(dialog.isVisible());
    }
}

}  // namespace
}  // namespace tandem::test
