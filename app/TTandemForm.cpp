#include "app/TTandemForm.h"
#include "app/TTandemFormParts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <stdexcept>

#include "app/ProgressDisplay.h"
#include "ui/Translation.h"
#include "core/Error.h"
#include "core/Log.h"
#include "core/ProgramFolder.h"
#include "eq/EqStrip.h"
#include "eq/EqWave.h"
#include "joblist/JobRegistry.h"
#include "joblist/TJobListForm.h"
#include "remix/TRemixForm.h"
#include "settings/Settings.h"
#include "sync/JobPresets.h"
#include "sync/JobRequest.h"
#include "sync/StoredPoints.h"
#include "ui/Fonts.h"


namespace tandem {

using namespace form;

bool IsPanelSwitchDrag(QPoint origin, QPoint release, int panelWidth, int panelHeight) {
    return release.x() - origin.x() > panelWidth / 2 && release.y() - origin.y() > panelHeight / 2;
}

TTandemForm::TTandemForm(JobHistoryLink* history, QWidget* parent)
    : QWidget(parent), history_(history ? history : &noHistory_) {
    setObjectName("TandemForm");
    setWindowTitle(tr("Tandem V1.5"));
    setFont(UiFont({"MS UI Gothic"}, 11));
    setTextColour(this, QColor(255, 0, 0));

    ChooseFile = [this](const QString& title) { return QFileDialog::getOpenFileName(this, title); };
    ShowMessage = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok, this);
        box.exec();
    };

    // Construction, steps in order: controls, settings, folder list, last job, options,
    // background, EQ strip.
    buildTopPanel();
    buildMessagePanel();
    buildExpertPanel();
    buildProgressPanel();
    buildEqPanel();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PanelTop);
    layout->addWidget(PanelDebug);
    layout->addWidget(PanelMsg, 1);
    layout->addWidget(PanelProgress);
    layout->addWidget(PanelEQBase);
    PanelDebug->hide();
    PanelProgress->hide();
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TTandemForm::Timer1Timer);
    connect(&run_, &RunControl::JobDone, this, &TTandemForm::OnJobDone);
    resize(kClientWidth, kClientHeight);

    SettingsOpen(ProgramFolder() + "qzv.ini");
    const QString startDir = QString::fromStdString(ExecutableFolder()).chopped(1);
    srcDirectory_ = startDir.isEmpty() ? QStringLiteral("/") : startDir;
    showDirectoryInList(srcDirectory_);
    const QString stored = toQ(SettingsReadText(kEnv, "SRCDIR", toStd(srcDirectory_)));
    if (stored != srcDirectory_) {
        if (QFileInfo(stored).isDir()) {
            SetSrcDirectory(stored);
        } else {
            AddLog("SRCDIR " + toStd(stored) + " does not exist; using " + toStd(srcDirectory_));
        }
    }
    SetSettingsSrcDir(withSlash(srcDirectory_));
    LoadLastJob();
    LoadOptions();
    loadBackground();

    layout->activate();
    // Grown where the fonts need more room, before the bars are placed on the strip.
    resize(size().expandedTo(minimumSizeHint()));
    PanelEQBase->resize(width(), PanelEQBase->height());
    PanelEQBase->PlaceInitialBars();

    run_.Progress().Reset();
    const std::string notice = FolderNotice();
    if (!notice.empty()) LabelMsg1->setText(toQ(notice));
}

TTandemForm::~TTandemForm() = default;

int TTandemForm::BandLow() const { return PanelEQBase->BandLow(); }
int TTandemForm::BandHigh() const { return PanelEQBase->BandHigh(); }

int TTandemForm::DiffIndex() const { return std::max(0, rgDiffItems->checkedId()); }

void TTandemForm::SetDiffIndex(int index) {
    if (QAbstractButton* b = rgDiffItems->button(index)) b->setChecked(true);
}

bool TTandemForm::guarded(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        ShowMessage(toQ(FailureText(e)));
        return false;
    }
}

void TTandemForm::SetMasterFile(const QString& path) {
    if (!isFile(path)) return;
    fnMaster->SetPath(path);
    if (!path.contains(srcDirectory_)) SetSrcDirectory(folderOf(path));
}

void TTandemForm::showDirectoryInList(const QString& dir) {
    const QModelIndex index = directoryModel_->index(dir);
    if (!index.isValid()) return;
    const QSignalBlocker blocker(SrcDirectory->selectionModel());
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) SrcDirectory->expand(up);
    SrcDirectory->setCurrentIndex(index);
    SrcDirectory->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void TTandemForm::SetSrcDirectory(const QString& dir) {
    if (dir == srcDirectory_) return;
    srcDirectory_ = dir;
    revealFolder_ = true;
    showDirectoryInList(dir);
    SetSettingsSrcDir(withSlash(dir));
    guarded([&] { SettingsWriteText(kEnv, "SRCDIR", toStd(dir)); });
}

void TTandemForm::LoadLastJob() {
    SetMasterFile(toQ(SettingsReadText(kEnv, "MASTER", kMasterPlaceholder)));
    fnSlave->SetPath(toQ(SettingsReadText(kEnv, "SLAVE", kSlavePlaceholder)));
    const int level = SettingsReadInt(kEnv, "MODE", 1);
    if (level < 0 || level > 3) {
        AddLog("TandemEnv MODE " + std::to_string(level) + " is not a 相異点 level; using 1");
    }
    SetDiffIndex(level >= 0 && level <= 3 ? level : 1);
    seMasterSkipCount->setValue(SettingsReadInt(kEnv, "SKIPMASTER", 0));
    seSlaveSkipCount->setValue(SettingsReadInt(kEnv, "SKIPSLAVE", 0));
}

void TTandemForm::SaveLastJob() {
    SettingsWriteText(kEnv, "MASTER", toStd(fnMaster->Path()));
    SettingsWriteText(kEnv, "SLAVE", toStd(fnSlave->Path()));
    SettingsWriteInt(kEnv, "MODE", DiffIndex());
    SettingsWriteInt(kEnv, "SKIPMASTER", seMasterSkipCount->value());
    SettingsWriteInt(kEnv, "SKIPSLAVE", seSlaveSkipCount->value());
}

void TTandemForm::LoadOptions() {
    cbResult->setChecked(SettingsReadInt(kEnv, "RESULT_CSV", 0) != 0);
    cbStart->setChecked(SettingsReadInt(kEnv, "START_CSV", 0) != 0);
    cbEnd->setChecked(SettingsReadInt(kEnv, "END_CSV", 0) != 0);
    cbEqWave->setChecked(SettingsReadInt(kEnv, "EQ_WAVE", 0) != 0);
}

void TTandemForm::SaveOptions() {
    SettingsWriteInt(kEnv, "RESULT_CSV", cbResult->isChecked() ? 1 : 0);
    SettingsWriteInt(kEnv, "START_CSV", cbStart->isChecked() ? 1 : 0);
    SettingsWriteInt(kEnv, "END_CSV", cbEnd->isChecked() ? 1 : 0);
    SettingsWriteInt(kEnv, "EQ_WAVE", cbEqWave->isChecked() ? 1 : 0);
}

void TTandemForm::SelectMasterClick() {
    const QString chosen = ChooseFile(tr("基準ファイルの選択"));
    if (!chosen.isEmpty()) MasterChosen(chosen);
}

void TTandemForm::SelectSlaveClick() {
    const QString chosen = ChooseFile(tr("同期させるファイルの選択"));
    if (!chosen.isEmpty()) SlaveChosen(chosen);
}

void TTandemForm::MasterChosen(const QString& path) {
    SetMasterFile(path);
    if (const std::optional<HistoryEntry> entry = history_->FindJobByMaster(toStd(fnMaster->Path()))) {
        fnSlave->SetPath(toQ(entry->slave));
        SetDiffIndex(entry->level);
        seMasterSkipCount->setValue(entry->masterSkip);
        seSlaveSkipCount->setValue(entry->slaveSkip);
    }
    guarded([this] { SaveLastJob(); });
}

void TTandemForm::SlaveChosen(const QString& path) {
    fnSlave->SetPath(path);
    guarded([this] { SaveLastJob(); });
}

bool TTandemForm::eventFilter(QObject* watched, QEvent* event) {
    if (SrcDirectory && watched == SrcDirectory->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::Wheel)) {
        revealFolder_ = false;
    }
    if (watched == PanelTop) {
        if (event->type() == QEvent::MouseButtonPress) {
            DragOrigin = static_cast<QMouseEvent*>(event)->position().toPoint();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const QPoint release = static_cast<QMouseEvent*>(event)->position().toPoint();
            if (IsPanelSwitchDrag(DragOrigin, release, PanelTop->width(), PanelTop->height())) {
                run_.Progress().SetJobOptions(JobOptions() ^ kOptDebug);
                showPanels(IsDebugMode());
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The expert panel opens above the message lines instead of over them, so that a job's
// result and errors are in view in both modes.
void TTandemForm::showPanels(bool expert) {
    PanelDebug->setVisible(expert);
    // A hidden list does not scroll: show the current folder once the list is seen.
    if (expert) showDirectoryInList(srcDirectory_);
}

void TTandemForm::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (BaseImage.isNull()) return;
    QPainter painter(this);
    painter.drawImage(QRect(PanelMsg->pos(), PanelMsg->size()), BaseImage);
}

void TTandemForm::BtnSyncStartClick() {
    if (running_) {
        run_.RequestStop();
        stopRequested_ = true;
        BtnSyncStart->setText(tr("停止中"));
        return;
    }
    startJob();
}

bool TTandemForm::startJob(bool continuesBatch) {
    if (!isFile(fnMaster->Path())) {
        SelectMasterClick();
        if (!isFile(fnMaster->Path())) return false;
    }
    if (!isFile(fnSlave->Path())) {
        SelectSlaveClick();
        if (!isFile(fnSlave->Path())) return false;
    }
    const std::string master = toStd(fnMaster->Path());
    const std::string slave = toStd(fnSlave->Path());
    const bool recorded = guarded([&] {
        history_->AddJob({master, slave, DiffIndex(), seMasterSkipCount->value(), seSlaveSkipCount->value()});
        CheckSpecialList(master);
        CheckSpecialList(slave);
        SaveLastJob();
        SaveOptions();
    });
    // A name the settings cannot hold could not keep the job's points either.
    if (!recorded) return false;

    SyncProgress& progress = run_.Progress();
    progress.Reset();
    for (QProgressBar* bar : ProgressBar) bar->setValue(0);
    PanelProgress->show();
    running_ = true;
    progress.SetStageClock(TickCountMs());
    Timer1->start();
    showPanels(false);

    JobRequest request;
    request.options = JobOptions() & kOptDebug;
    if (cbResult->isChecked()) request.options |= kOptResultCsv;
    if (cbStart->isChecked()) request.options |= kOptStartCsv;
    if (cbEnd->isChecked()) request.options |= kOptSegmentCsv;
    if (cbEqWave->isChecked()) request.options |= kOptKeepEq;

    const bool debug = (request.options & kOptDebug) != 0;
    const ExpertValues shown{seBaseStep->value(), seRangeS->value(), seRangeE->value()};
    ApplyLevel(request, ParametersForLevel(DiffIndex(), debug, shown, BandLow(), BandHigh()));
    if (debug) {
        StartLog();
    } else {
        seBaseStep->setValue(request.baseStep);
        seRangeS->setValue(request.rangeS);
        seRangeE->setValue(request.rangeE);
    }
    if (batch_.Running()) seDpLimit->setValue(history_->FindStopPoint(master, slave, seMasterSkipCount->value()));
    BtnSyncStart->setText(tr("STOP"));

    request.master = master;
    request.slave = slave;
    request.masterSkip = seMasterSkipCount->value() * kTenthFrames;
    request.slaveSkip = seSlaveSkipCount->value() * kTenthFrames;
    request.dpLimit = seDpLimit->value() * kTenthFrames;
    request.level = DiffIndex();
    request.lowPriority = cbBackGround->isChecked();
    request.slaveOut = cbSlaveOut->isChecked();
    // The next part of the recording the batch has just run goes on from its points.
    if (continuesBatch && ContinuesPart(run_.LastRequest(), request)) AddLog(ResumeAtLastStoredPair(request));
    try {
        run_.Start(request);
    } catch (const std::exception& e) {
        if (debug) HideLog();
        returnToIdle();
        ShowMessage(tr("ジョブを開始できませんでした：%1").arg(toQ(FailureText(e))));
        return false;
    }
    return true;
}

void TTandemForm::returnToIdle() {
    BtnSyncStart->setText(tr("START"));
    running_ = false;
    Timer1->stop();
    PanelProgress->hide();
    for (int i = 0; i < 3; ++i) StaticText[i]->setText(StageCaption(i));
    showPanels(IsDebugMode());
}

void TTandemForm::OnJobDone(const JobOutcome& outcome) {
    lastOutcome_ = outcome;
    BtnSyncStart->setText(tr("START"));
    running_ = false;
    SyncProgress& progress = run_.Progress();
    if (const std::optional<QString> line = EndOfJobLine(outcome)) {
        progress.SetMessageLine(line->toStdString(), 0);
    }
    stopRequested_ = false;
    progress.SetStageClock(-1);
    progress.StageBar(0).Position.store(0);
    ProgressBar[0]->setValue(0);
    if (IsDebugMode()) {
        showPanels(true);
        std::string why;
        if (!SaveLogAndOpen(run_.LastRequest().slave + ".log", &why)) progress.SetMessageLine(why, 2);
    }
    if (closeRequested_) close();
}

void TTandemForm::Timer1Timer() { TimerTick(TickCountMs()); }

void TTandemForm::TimerTick(std::int64_t nowMs) {
    SyncProgress& progress = run_.Progress();
    QLabel* const lines[3] = {LabelMsg1, LabelMsg2, LabelMsg3};
    for (int i = 0; i < 3; ++i) lines[i]->setText(toQ(progress.MessageLine(i)));

    const int value = progress.ResultValue();
    // Equal ends would turn the gauge into a busy indicator.
    ResultProgressBar->setRange(progress.ResultMin(), std::max(progress.ResultMin() + 1, progress.ResultMax()));
    ResultProgressBar->setValue(value);
    QPalette gauge = ResultProgressBar->palette();
    gauge.setColor(QPalette::Highlight, GaugeColour(value));
    ResultProgressBar->setPalette(gauge);

    const int stage = CurrentStage(progress.StageBar(0).Marker.load(), progress.StageBar(1).Marker.load());
    if (progress.StageClock() < 0) {
        returnToIdle();
        continueBatch();
        return;
    }
    StageBarState& bar = progress.StageBar(stage);
    const StageTick tick = TickStage({bar.Max.load(), bar.Position.load(), bar.Marker.load()},
                                     progress.StageClock(), nowMs);
    if (tick.finish) {
        progress.SetStageClock(nowMs);
        bar.Position.store(bar.Max.load());
        bar.Marker.store(kStageShown);
    }
    if (tick.caption) StaticText[stage]->setText(*tick.caption);
    for (int i = 0; i < 3; ++i) {
        StageBarState& state = progress.StageBar(i);
        ProgressBar[i]->setRange(0, std::max(1, state.Max.load()));
        ProgressBar[i]->setValue(std::clamp(state.Position.load(), 0, std::max(1, state.Max.load())));
    }
}

void TTandemForm::ResetButtonClick(int tag) {
    guarded([&] {
        if (tag & 1) StoredPoints(toStd(fnMaster->Path())).reset(seRestartPoint->value());
        if (tag & 2) StoredPoints(toStd(fnSlave->Path())).reset(seRestartPoint->value());
    });
}

// tandem-cli registers its jobs through the same function.
void TTandemForm::CheckSpecialList(const std::string& path) { tandem::CheckSpecialList(path); }

void TTandemForm::BtnMakeEqWaveClick() {
    std::string failure;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        MakeEqWave(toStd(fnMaster->Path()), BandLow(), BandHigh());
        MakeEqWave(toStd(fnSlave->Path()), BandLow(), BandHigh());
    } catch (const std::exception& e) {
        failure = FailureText(e);
    }
    QApplication::restoreOverrideCursor();
    if (!failure.empty()) ShowMessage(toQ(failure));
}

void TTandemForm::AttachJobList(TJobListForm* jobList, TRemixForm* remix) {
    jobList_ = jobList;
    remix_ = remix;
    history_ = jobList ? static_cast<JobHistoryLink*>(jobList) : &noHistory_;
    btnBatch->setEnabled(jobList != nullptr);
    btnBatchRegist->setEnabled(jobList != nullptr);
}

void TTandemForm::btnBatchRegistClick() {
    guarded([this] {
        history_->AddJob({toStd(fnMaster->Path()), toStd(fnSlave->Path()), DiffIndex(), seMasterSkipCount->value(),
                          seSlaveSkipCount->value()});
    });
}

void TTandemForm::btnBatchClick() {
    if (running_ || !jobList_) return;
    const HistoryStep step = batch_.AfterJobList(jobList_->History(), jobList_->ShowModal());
    if (step.leaveDebugMode) {
        run_.Progress().SetJobOptions(JobOptions() & ~kOptDebug);
        showPanels(false);
    }
    if (step.load >= 0) loadJob(step.load);
    if (step.start) startJob();
    if (step.remix) remixStoredJob();
}

void TTandemForm::loadJob(int position) {
    const JobEntry& entry = jobList_->History().Entry(position);
    SetMasterFile(toQ(entry.MasterFile));
    fnSlave->SetPath(toQ(entry.SlaveFile));
    SetDiffIndex(entry.DiffLevel);
    seMasterSkipCount->setValue(entry.MasterSkipCount);
    seSlaveSkipCount->setValue(entry.SlaveSkipCount);
}

// The timer tick after a job: the next marked entry of a batch, if any.
void TTandemForm::continueBatch() {
    if (!jobList_) {
        batch_.BatchCursor = 0;
        return;
    }
    const int next = batch_.Continue(jobList_->History());
    if (next < 0) return;
    loadJob(next);
    startJob(true);
}

// The output of the first selected job rebuilt with the remix dialog's settings; the
// dialog's own result does not matter.
void TTandemForm::remixStoredJob() {
    if (remix_) remix_->ShowModal();
    const int entry = batch_.RemixEntry(jobList_->History());
    if (entry < 0) return;
    SyncProgress& progress = run_.Progress();
    progress.Reset();
    for (QProgressBar* bar : ProgressBar) bar->setValue(0);
    progress.StageBar(0).Marker.store(kStageShown);
    progress.StageBar(1).Marker.store(kStageShown);
    PanelProgress->show();
    running_ = true;
    progress.SetStageClock(TickCountMs());
    Timer1->start();
    showPanels(false);
    const JobEntry& job = jobList_->History().Entry(entry);
    const MixSettings mix = remix_ ? remix_->Mix() : kDefaultMix;
    try {
        run_.StartOutputOnly(job.MasterFile, job.SlaveFile, mix, cbBackGround->isChecked());
    } catch (const std::exception& e) {
        returnToIdle();
        ShowMessage(tr("ジョブを開始できませんでした：%1").arg(toQ(FailureText(e))));
    }
}

void TTandemForm::btnSoundClick(int tag) {
    const bool master = tag == 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    PlaySkipPoint(*Player, toStd(master ? fnMaster->Path() : fnSlave->Path()),
                  (master ? seMasterSkipCount : seSlaveSkipCount)->value(), BandLow(), BandHigh());
    QApplication::restoreOverrideCursor();
}

void TTandemForm::closeEvent(QCloseEvent* event) {
    if (running_) {
        // Let the worker end its segment and write what it has; OnJobDone closes again.
        closeRequested_ = true;
        if (!stopRequested_) BtnSyncStartClick();
        event->ignore();
        return;
    }
    if (std::string why; !SettingsFlush(&why)) ShowMessage(toQ(why));
    QWidget::closeEvent(event);
}

}  // namespace tandem
