// The result panel at the end of a job: the verdict's badge and the gauge, where the
// file went, the picture; Resume after STOP; message lines that never widen the window.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include "GuiFixture.h"
#include "app/TrackView.h"
#include "sync/StoredPoints.h"

namespace tandem::test {
namespace {

class ResultPanel : public GuiFixture {
protected:
    void openWithPair(double seconds) {
        GuiFixture::openWithPair(seconds);
        form->OpenFolder = [this](const QString& folder) { folders << folder; };
    }
    void runToEnd() {
        form->BtnSyncStart->click();
        ASSERT_TRUE(waitForJob());
        form->TimerTick(TickCountMs());
    }
    void expectShown(Verdict verdict) {
        EXPECT_EQ(form->ShownVerdict(), verdict);
        EXPECT_TRUE(form->PanelResult->isVisibleTo(form.get()));
        EXPECT_EQ(form->ResultBadge->text(), VerdictText(verdict));
        EXPECT_EQ(form->ResultBadge->palette().color(QPalette::Window), VerdictColour(verdict));
        EXPECT_EQ(form->ResultProgressBar->palette().color(QPalette::Highlight), VerdictColour(verdict));
    }
    std::vector<int> points(const std::string& file) const {
        std::vector<int> p(static_cast<std::size_t>(SettingsReadInt(file, "Count", 0)));
        for (std::size_t i = 0; i < p.size(); ++i) p[i] = SettingsReadInt(file, "DP" + std::to_string(i), -1);
        return p;
    }
    QStringList folders;
};

TEST_F(ResultPanel, a_job_in_step_shows_its_verdict_its_file_and_its_track) {
    openWithPair(4);
    EXPECT_FALSE(form->PanelResult->isVisibleTo(form.get()));
    runToEnd();
    ASSERT_TRUE(form->LastOutcome().inStep) << form->LastOutcome().checkSummary;
    expectShown(Verdict::InStep);
    EXPECT_NE(VerdictColour(Verdict::InStep), VerdictColour(Verdict::NotInStep));
    EXPECT_EQ(form->ResultFile->text().toStdString(), form->LastOutcome().outputFile);
    EXPECT_FALSE(form->btnResume->isVisibleTo(form.get()));
    form->btnOpenFolder->click();
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(QDir::cleanPath(folders[0]), QDir::cleanPath(QString::fromStdString(dir.path())));
    EXPECT_FALSE(form->Track->Picture().ratePpm.empty());
    EXPECT_FALSE(form->Track->Picture().lagFrames.empty());
    const std::string png = dir.file("track.png");
    form->ChooseSaveFile = [&](const QString&, const QString&) { return QString::fromStdString(png); };
    form->btnSavePlot->click();
    const std::vector<std::uint8_t> bytes = ReadFileBytes(png);
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 4), "PNG");

    // Another slave: the old result leaves the screen.
    form->SlaveChosen(QString::fromStdString(master));
    EXPECT_EQ(form->ShownVerdict(), Verdict::None);
    EXPECT_FALSE(form->PanelResult->isVisibleTo(form.get()));
    EXPECT_TRUE(form->LabelMsg1->text().isEmpty());
}

TEST_F(ResultPanel, a_silent_slave_is_not_in_step_and_its_gauge_is_not_green) {
    openWithPair(4);
    WriteStereoWave(slave, std::vector<Frame>(4 * 44100));
    runToEnd();
    ASSERT_TRUE(form->LastOutcome().outputWritten) << form->LastOutcome().error;
    expectShown(Verdict::NotInStep);
    EXPECT_NE(form->ResultProgressBar->palette().color(QPalette::Highlight), QColor(0, 128, 0));
}

TEST_F(ResultPanel, the_badge_follows_the_verdict_of_every_ending) {
    openWindow();
    JobOutcome outcome;
    outcome.outputWritten = true;
    outcome.outputFile = dir.file("out.wav");
    outcome.checked = true;
    outcome.inStep = false;
    form->OnJobDone(outcome);
    expectShown(Verdict::NotInStep);
    outcome.stoppedByUser = outcome.stopped = true;
    outcome.pointCount = 12;
    form->OnJobDone(outcome);
    expectShown(Verdict::Stopped);
    EXPECT_TRUE(form->btnResume->isVisibleTo(form.get()));
    outcome = JobOutcome{};
    outcome.error = "broken";
    form->OnJobDone(outcome);
    expectShown(Verdict::Failed);
    EXPECT_FALSE(form->btnOpenFolder->isEnabled());
    EXPECT_FALSE(form->btnResume->isVisibleTo(form.get()));
}

TEST_F(ResultPanel, resume_after_stop_ends_with_the_points_of_a_job_without_a_stop) {
    openWithPair(12);
    runToEnd();
    const std::vector<int> masterWhole = points(master), slaveWhole = points(slave);
    ASSERT_GT(slaveWhole.size(), 40u);
    StoredPoints(master).reset(0);
    StoredPoints(slave).reset(0);
    ASSERT_TRUE(points(slave).empty());

    form->BtnSyncStart->click();
    // Stop once part of the points are stored.
    QElapsedTimer guard;
    guard.start();
    while (form->Running() && SettingsReadInt(slave, "Count", 0) < 10 && guard.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    form->BtnSyncStart->click();
    ASSERT_TRUE(waitForJob());
    form->TimerTick(TickCountMs());
    ASSERT_EQ(form->ShownVerdict(), Verdict::Stopped);
    ASSERT_LT(points(slave).size(), slaveWhole.size()) << "the job ended before the stop";
    ASSERT_TRUE(form->btnResume->isVisibleTo(form.get()));

    form->btnResume->click();
    ASSERT_TRUE(form->Running());
    EXPECT_TRUE(form->Run().LastRequest().resume);
    ASSERT_TRUE(waitForJob());
    form->TimerTick(TickCountMs());
    EXPECT_EQ(form->ShownVerdict(), Verdict::InStep);
    EXPECT_EQ(points(master), masterWhole);
    EXPECT_EQ(points(slave), slaveWhole);
}

TEST_F(ResultPanel, alt_s_stays_the_start_buttons_key_and_escape_stops_a_job) {
    openWithPair(8);
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    // A button's key clicks it after a short press animation.
    const auto altS = [this] {
        QTest::keyClick(form.get(), Qt::Key_S, Qt::AltModifier);
        return QTest::qWaitFor([this] { return form->Running(); }, 2000);
    };
    ASSERT_TRUE(altS());
    EXPECT_EQ(form->BtnSyncStart->shortcut(), QKeySequence(Qt::ALT | Qt::Key_S));
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_EQ(form->BtnSyncStart->text(), form->tr("停止中"));
    ASSERT_TRUE(waitForJob());
    EXPECT_EQ(form->ShownVerdict(), Verdict::Stopped);
    EXPECT_TRUE(altS()) << "after the first job too";
    form->BtnSyncStartClick();
    ASSERT_TRUE(waitForJob());
}

TEST_F(ResultPanel, a_chosen_file_is_described_or_refused_at_once) {
    openWithPair(2);
    EXPECT_TRUE(form->LabelMsg3->text().contains("44100 Hz")) << form->LabelMsg3->text().toStdString();
    EXPECT_TRUE(form->LabelMsg3->text().contains("slave.wav"));
    const std::string text = dir.file("notes.wav");
    std::ofstream(text) << "not a WAVE file\n";
    form->SlaveChosen(QString::fromStdString(text));
    EXPECT_TRUE(form->LabelMsg3->text().startsWith(QString::fromStdString(MessageText(Msg::NotUsable, "notes.wav", ""))))
        << form->LabelMsg3->text().toStdString();
}

TEST_F(ResultPanel, a_message_of_400_characters_does_not_widen_the_window) {
    openWindow();
    form->show();
    QCoreApplication::processEvents();
    const int minimum = form->minimumSizeHint().width();
    const int width = form->width();
    const QString longText = QString("ずれ %1 ").arg(QString(400, QChar(u'あ')));
    SyncProgress& progress = form->Run().Progress();
    for (int i = 0; i < 3; ++i) progress.SetMessageLine(longText.toStdString(), i);
    form->TimerTick(TickCountMs());
    JobOutcome outcome;
    outcome.outputWritten = true;
    outcome.outputFile = "/" + std::string(400, 'x') + ".wav";
    form->OnJobDone(outcome);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->minimumSizeHint().width(), minimum);
    EXPECT_EQ(form->width(), width);
    EXPECT_EQ(form->LabelMsg3->toolTip(), longText) << "the whole text in the tooltip";
    EXPECT_TRUE(form->LabelMsg3->Shortened());
    EXPECT_EQ(form->ResultFile->toolTip().toStdString(), outcome.outputFile);
}

}  // namespace
}  // namespace tandem::test
