#include "app/TTandemForm.h"
#include "app/TTandemFormParts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QShortcut>
#include <QUrl>
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
#include "app/TrackView.h"
#include "core/Message.h"
#include "core/Text.h"
#include "eq/Excerpt.h"
#include "sync/TrackData.h"
#include "ui/TrackPlot.h"
#include "wave/KWavefile.h"
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
#include "sync/OutputWriter.h"
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

    // The dialog opens in the folder of the file last chosen and shows WAVE files first.
    ChooseFile = [this](const QString& title) {
        const QString shown = isFile(fnSlave->Path()) ? fnSlave->Path() : fnMaster->Path();
        const QString folder = isFile(shown) ? folderOf(shown) : srcDirectory_;
        return QFileDialog::getOpenFileName(this, title, folder,
                                            tr("WAVEファイル (*.wav *.WAV *.wave)") + ";;" + tr("すべてのファイル (*)"));
    };
    ChooseSaveFile = [this](const QString& title, const QString& suggested) {
        return QFileDialog::getSaveFileName(this, title, suggested, tr("PNG画像 (*.png)"));
    };
    OpenFolder = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
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
    if (!notice.empty()) LabelMsg1->SetMessage(toQ(notice));
    setStartCaption(BtnSyncStart->text());
    // Listening says that it plays, and when there is no sound device to play on.
    static_cast<AudioExcerptPlayer*>(Player.get())->Notice = [this](AudioExcerptPlayer::State state, int seconds) {
        if (state == AudioExcerptPlayer::State::Playing) {
            LabelMsg3->SetMessage(tr("再生中（%1 秒）…").arg(seconds));
        } else if (state == AudioExcerptPlayer::State::NoDevice) {
            LabelMsg3->SetMessage(tr("音声出力装置が見つからないため再生できません"));
        } else {
            LabelMsg3->SetMessage({});
        }
        LabelMsg3->repaint();
    };
    // Esc stops a running job as STOP does.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (running_ && !stopRequested_) BtnSyncStartClick();
    });
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

// Length, rate, channels and format of a chosen file, or why it cannot be used; the
// header only is read.
QString TTandemForm::describeFile(const QString& path) const {
    if (!isFile(path)) return {};
    const KWavefile wave(toStd(path), kPlaceBoth, false);
    const QString name = QFileInfo(path).fileName();
    if (!wave.Usable()) return toQ(MessageText(Msg::NotUsable, toStd(name), wave.Problem()));
    const double seconds = wave.SampleRate > 0 ? static_cast<double>(wave.FrameCount) / wave.SampleRate : 0.0;
    const int minutes = static_cast<int>(seconds / 60);
    return tr("%1：%2分%3秒、%4 Hz、%5 ch、%6 %7 bit")
        .arg(name)
        .arg(minutes)
        .arg(seconds - 60.0 * minutes, 0, 'f', 1)
        .arg(wave.SampleRate)
        .arg(wave.Channels)
        .arg(wave.Kind == SampleKind::Float ? QStringLiteral("float") : QStringLiteral("PCM"))
        .arg(wave.BitsPerSample);
}

void TTandemForm::MasterChosen(const QString& path) {
    clearResult();
    LabelMsg3->SetMessage(describeFile(path));
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
    clearResult();
    LabelMsg3->SetMessage(describeFile(path));
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
        setStartCaption(tr("停止中"));
        return;
    }
    startJob();
}

bool TTandemForm::startJob(bool continuesBatch, bool resume) {
    // A named file that is gone is said before the chooser opens.
    const auto missing = [this](PathLabel* name, const char* placeholder) {
        if (isFile(name->Path()) || name->Path().isEmpty() || name->Path() == QString::fromUtf8(placeholder)) return;
        LabelMsg3->SetMessage(tr("%1 が見つかりません。ファイルを選んでください").arg(name->Path()));
        AddLog(toStd(LabelMsg3->text()));
    };
    if (!isFile(fnMaster->Path())) {
        missing(fnMaster, kMasterPlaceholder);
        SelectMasterClick();
        if (!isFile(fnMaster->Path())) return false;
    }
    if (!isFile(fnSlave->Path())) {
        missing(fnSlave, kSlavePlaceholder);
        SelectSlaveClick();
        if (!isFile(fnSlave->Path())) return false;
    }
    clearResult();
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
    setStartCaption(tr("STOP"));

    request.master = master;
    request.slave = slave;
    request.masterSkipFrames = seMasterSkipCount->value() * kTenthFrames;
    request.slaveSkipFrames = seSlaveSkipCount->value() * kTenthFrames;
    request.stopPointFrames = seDpLimit->value() * kTenthFrames;
    request.level = DiffIndex();
    request.lowPriority = cbBackGround->isChecked();
    request.bandLimited = BandLimitedByDefault();
    request.slaveOut = cbSlaveOut->isChecked();
    // The next part of the recording the batch has just run goes on from its points.
    if (continuesBatch && ContinuesPart(run_.LastRequest(), request)) AddLog(ResumeAtLastStoredPair(request));
    if (resume) {
        const std::string said = ResumeAtLastStoredPair(request);
        AddLog(said);
        progress.SetMessageLine(said, 2);
    }
    try {
        run_.Start(request);
        syncEntry_ = HistoryEntry{master, slave, DiffIndex(), seMasterSkipCount->value(), seSlaveSkipCount->value()};
        history_->JobStarted(*syncEntry_);
    } catch (const std::exception& e) {
        if (debug) HideLog();
        returnToIdle();
        ShowMessage(tr("ジョブを開始できませんでした：%1").arg(toQ(FailureText(e))));
        return false;
    }
    return true;
}

void TTandemForm::returnToIdle() {
    setStartCaption(tr("START"));
    running_ = false;
    Timer1->stop();
    PanelProgress->hide();
    for (int i = 0; i < 3; ++i) StaticText[i]->setText(StageCaption(i));
    showPanels(IsDebugMode());
}

void TTandemForm::OnJobDone(const JobOutcome& outcome) {
    lastOutcome_ = outcome;
    setStartCaption(tr("START"));
    running_ = false;
    SyncProgress& progress = run_.Progress();
    if (const std::optional<QString> line = EndOfJobLine(outcome)) {
        progress.SetMessageLine(line->toStdString(), 0);
    }
    showResult(outcome);
    if (syncEntry_) {
        guarded([&] { history_->JobEnded(*syncEntry_, verdict_); });
        syncEntry_.reset();
    }
    stopRequested_ = false;
    progress.SetStageClock(-1);
    progress.StageBar(0).Position.store(0);
    ProgressBar[0]->setValue(0);
    if (IsDebugMode()) {
        showPanels(true);
        std::string why;
        const std::string log = run_.LastRequest().slave + ".log";
        if (SaveLogAndOpen(log, &why)) {
            progress.SetMessageLine(toStd(tr("デバッグログを %1 に保存しました").arg(toQ(log))), 2);
        } else {
            progress.SetMessageLine(why, 2);
        }
    }
    if (closeRequested_) close();
}

void TTandemForm::Timer1Timer() { TimerTick(TickCountMs()); }

void TTandemForm::TimerTick(std::int64_t nowMs) {
    SyncProgress& progress = run_.Progress();
    FitLabel* const lines[3] = {LabelMsg1, LabelMsg2, LabelMsg3};
    for (int i = 0; i < 3; ++i) {
        // A line too long for the window is whole in the log as well as the tooltip.
        if (lines[i]->SetMessage(toQ(progress.MessageLine(i))) && lines[i]->Shortened()) AddLog(progress.MessageLine(i));
    }

    // While a job runs the gauge shows the last segment's score; once it has ended, its verdict.
    if (verdict_ == Verdict::None || progress.StageClock() >= 0) {
        const int value = progress.ResultValue();
        // Equal ends would turn the gauge into a busy indicator.
        ResultProgressBar->setRange(progress.ResultMin(), std::max(progress.ResultMin() + 1, progress.ResultMax()));
        ResultProgressBar->setValue(value);
        QPalette gauge = ResultProgressBar->palette();
        gauge.setColor(QPalette::Highlight, GaugeColour(value));
        ResultProgressBar->setPalette(gauge);
    }

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

// The output of the first selected job rebuilt with the remix dialog's settings, once
// the dialog was left with OK; Cancel, Esc or its close box leave the file as it is.
void TTandemForm::remixStoredJob() {
    const int entry = batch_.RemixEntry(jobList_->History());
    if (entry < 0) return;
    if (remix_) {
        const JobEntry& named = jobList_->History().Entry(entry);
        const QString job = tr("%1 と %2 の同期ファイルを、この音量とパンで作り直します")
                                .arg(QFileInfo(toQ(named.MasterFile)).fileName(), QFileInfo(toQ(named.SlaveFile)).fileName());
        if (remix_->ShowModal(job) != QDialog::Accepted) return;
    }
    clearResult();
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
        syncEntry_.reset();  // a remix leaves the job's result as its synchronisation left it
        run_.StartOutputOnly(job.MasterFile, job.SlaveFile, mix, cbBackGround->isChecked(), cbSlaveOut->isChecked());
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

void TTandemForm::setStartCaption(const QString& caption) {
    BtnSyncStart->setText(caption);
    // The captions after the first carry no mnemonic; Alt+S stays the button's.
    BtnSyncStart->setShortcut(QKeySequence(Qt::ALT | Qt::Key_S));
}

void TTandemForm::clearResult() {
    verdict_ = Verdict::None;
    PanelResult->hide();
    Track->SetPicture({});
    ResultProgressBar->setRange(0, 100);
    ResultProgressBar->setValue(0);
    ResultProgressBar->setPalette(QPalette());
    SyncProgress& progress = run_.Progress();
    for (int i = 0; i < 3; ++i) progress.SetMessageLine("", i);
    for (FitLabel* l : {LabelMsg1, LabelMsg2, LabelMsg3}) l->SetMessage({});
}

void TTandemForm::showResult(const JobOutcome& outcome) {
    verdict_ = VerdictOf(outcome);
    const QColor colour = VerdictColour(verdict_);
    ResultBadge->setText(VerdictText(verdict_));
    QPalette badge = ResultBadge->palette();
    badge.setColor(QPalette::Window, colour);
    badge.setColor(QPalette::WindowText, Qt::white);
    ResultBadge->setPalette(badge);
    ResultProgressBar->setRange(0, 1);
    ResultProgressBar->setValue(1);
    QPalette gauge = ResultProgressBar->palette();
    gauge.setColor(QPalette::Highlight, colour);
    ResultProgressBar->setPalette(gauge);

    const bool written = outcome.outputWritten && !outcome.outputFile.empty();
    ResultFile->SetMessage(written ? toQ(outcome.outputFile) : tr("同期ファイルは作成されていません"));
    btnOpenFolder->setEnabled(written);
    btnPlayOutput->setEnabled(written);
    btnResume->setVisible(verdict_ == Verdict::Stopped && outcome.pointCount >= 2);

    TrackPicture picture;
    const RunControl& run = run_;
    guarded([&] {
        picture = JobTrackPicture(outcome.trackCsv, outcome.checkCsv, run.LastRequest().master, run.LastRequest().slave);
    });
    Track->SetPicture(picture);
    btnSavePlot->setEnabled(!picture.Empty());
    QStringList off;
    for (const TrackStretch& stretch : picture.off) off << toQ(StretchText(stretch));
    if (!picture.lagFrames.empty())
        OffList->SetMessage(off.isEmpty() ? tr("ずれている部分はありません")
                                          : tr("ずれている部分（クリックで再生）：%1").arg(off.join(toQ(MessageText(Msg::ListSeparator)))));
    else
        OffList->SetMessage({});
    PanelResult->show();
}

void TTandemForm::playOutput(double fromS, double toS) {
    const std::string file = lastOutcome_.outputFile;
    const std::uint32_t rate = HeaderSampleRate(file);
    if (rate == 0) return;
    // Half a second of context either side, at most 10 s in all.
    const double from = std::max(0.0, fromS - 0.5);
    const double to = std::min(toS + 0.5, from + 10.0);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    PlayExcerpt(*Player, file, static_cast<FrameIndex>(from * rate), static_cast<FrameIndex>(to * rate), BandLow(),
                BandHigh());
    QApplication::restoreOverrideCursor();
}

void TTandemForm::ResumeClick() {
    if (running_) return;
    startJob(false, true);
}

void TTandemForm::SavePlotClick() {
    const QString suggested = toQ(ProgramFolder() + BaseName(run_.LastRequest().slave) + ".Track.png");
    const QString path = ChooseSaveFile(tr("図の保存"), suggested);
    if (path.isEmpty()) return;
    std::string why;
    if (SaveTrackPng(Track->Image(), toStd(path), &why)) {
        LabelMsg3->SetMessage(tr("図を %1 に保存しました").arg(path));
    } else {
        ShowMessage(toQ(why));
    }
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
