// TandemForm, the main window: the two files, the 相異点 level and lead-ins, the
// message panel or the expert panel, the progress panel and the EQ strip.
//
// The window is a view: the job runs in RunControl, the timer's arithmetic lives in
// ProgressDisplay, the presets in sync/JobPresets, the scale in eq/EqStrip, the job
// history behind JobHistoryLink. Every setting is written when it changes.
//
// Thread safety: main thread only; the worker reaches the window through the progress
// state of RunControl and the log.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/ExcerptPlayer.h"
#include "app/FitLabel.h"
#include "app/ProgressDisplay.h"
#include "app/RunControl.h"
#include "joblist/JobBatch.h"
#include "joblist/JobHistoryLink.h"

class QButtonGroup;
class QCheckBox;
class QFileSystemModel;
class QFrame;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
class QToolButton;
class QTreeView;

namespace tandem {

class EqStrip;
class TJobListForm;
class TrackView;
class TRemixForm;

// The drag on the top panel that switches between the message and the expert panel:
// more than half the panel's width to the right and more than half its height down.
bool IsPanelSwitchDrag(QPoint origin, QPoint release, int panelWidth, int panelHeight);

// A file name label: shows the full path shortened in the middle, keeps the full text,
// and takes a WAVE file dropped on it.
class PathLabel : public QLabel {
    Q_OBJECT
public:
    // placeholder: the text before a file is chosen (shown translated, kept as it is).
    explicit PathLabel(const char* placeholder, QWidget* parent = nullptr);
    void SetPath(const QString& path);
    QString Path() const { return path_; }

signals:
    void FileDropped(const QString& path);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void refresh();
    QString path_;
    const char* placeholder_;
};

class TTandemForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 632;
    static constexpr int kClientHeight = 446;

    // history: the job history (not owned); nullptr until the job list exists.
    explicit TTandemForm(JobHistoryLink* history = nullptr, QWidget* parent = nullptr);
    ~TTandemForm() override;

    void SetMasterFile(const QString& path);
    void LoadLastJob();
    void SaveLastJob();
    void LoadOptions();
    void SaveOptions();
    void SelectMasterClick();
    void SelectSlaveClick();
    // The same as confirming a file in the dialog (also used for a dropped file).
    void MasterChosen(const QString& path);
    void SlaveChosen(const QString& path);
    // The folder list's directory (no trailing '/', except for the root).
    QString SrcDirectoryPath() const { return srcDirectory_; }
    void SetSrcDirectory(const QString& dir);

    void BtnSyncStartClick();
    void OnJobDone(const JobOutcome& outcome);
    void Timer1Timer();
    void TimerTick(std::int64_t nowMs);
    // ResetButton (tag 3) and Button1 (tag 2): bit 1 the master, bit 2 the slave.
    void ResetButtonClick(int tag);
    void CheckSpecialList(const std::string& path);
    void BtnMakeEqWaveClick();

    // The job list and the remix dialog, made after this window (they are not owned).
    // The list becomes the job history; 履歴 and 一括登録 work from now on.
    void AttachJobList(TJobListForm* jobList, TRemixForm* remix);
    // 履歴: runs the job list and acts on its result (batch, pick, remix).
    void btnBatchClick();
    // 一括登録: registers the job the window shows without running it.
    void btnBatchRegistClick();
    // btnSound (tag 0, the master) and btnSoundSlave (tag 1): five seconds from the lead-in.
    void btnSoundClick(int tag);
    // Position from which the next batch job is sought; 0 = no batch running.
    int BatchCursor() const { return batch_.BatchCursor; }
    // Plays the listening excerpts; the program's plays through the sound device.
    std::unique_ptr<ExcerptPlayer> Player = std::make_unique<AudioExcerptPlayer>();

    int JobOptions() const { return run_.Progress().JobOptions(); }
    bool IsDebugMode() const { return (JobOptions() & kOptDebug) != 0; }
    bool Running() const { return running_; }
    int BandLow() const;
    int BandHigh() const;
    int DiffIndex() const;
    void SetDiffIndex(int index);
    RunControl& Run() { return run_; }
    const JobOutcome& LastOutcome() const { return lastOutcome_; }
    Verdict ShownVerdict() const { return verdict_; }
    // 続行: goes on after the points the stopped job stored, the slave's position taken
    // from them (ResumeAtLastStoredPair).
    void ResumeClick();
    // The picture of the track as PNG; the path is asked for.
    void SavePlotClick();

    // The file-open dialog: returns the chosen path or "" when cancelled.
    std::function<QString(const QString& title)> ChooseFile;
    // A message for the user (a modal box in the program).
    std::function<void(const QString& text)> ShowMessage;
    // The file-save dialog for the picture: the chosen path or "".
    std::function<QString(const QString& title, const QString& suggested)> ChooseSaveFile;
    // Opens a folder in the desktop's file manager.
    std::function<void(const QString& folder)> OpenFolder;

    // Top panel.
    QFrame* PanelTop = nullptr;
    QLabel* Label5 = nullptr;
    QToolButton* btnSound = nullptr;
    QSpinBox* seMasterSkipCount = nullptr;
    PathLabel* fnMaster = nullptr;
    QPushButton* SelectMaster = nullptr;
    QToolButton* btnSoundSlave = nullptr;
    QSpinBox* seSlaveSkipCount = nullptr;
    PathLabel* fnSlave = nullptr;
    QPushButton* SelectSlave = nullptr;
    QGroupBox* rgDiff = nullptr;
    QButtonGroup* rgDiffItems = nullptr;
    QPushButton* btnBatch = nullptr;
    QPushButton* BtnSyncStart = nullptr;
    // Message panel.
    QWidget* PanelMsg = nullptr;
    QProgressBar* ResultProgressBar = nullptr;
    QWidget* PanelMsgLabels = nullptr;
    FitLabel* LabelMsg1 = nullptr;
    FitLabel* LabelMsg2 = nullptr;
    FitLabel* LabelMsg3 = nullptr;
    // Result panel, under the message lines once a job has ended: the verdict, where the
    // file went, the picture of the track.
    QFrame* PanelResult = nullptr;
    QLabel* ResultBadge = nullptr;
    FitLabel* ResultFile = nullptr;
    QToolButton* btnOpenFolder = nullptr;
    QToolButton* btnPlayOutput = nullptr;
    QToolButton* btnSavePlot = nullptr;
    QPushButton* btnResume = nullptr;
    TrackView* Track = nullptr;
    FitLabel* OffList = nullptr;
    // Expert panel.
    QFrame* PanelDebug = nullptr;
    QSpinBox* seBaseStep = nullptr;
    QSpinBox* seRangeS = nullptr;
    QSpinBox* seRangeE = nullptr;
    QSpinBox* seDpLimit = nullptr;
    QSpinBox* seRestartPoint = nullptr;
    QPushButton* ResetButton = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* BtnMakeEqWave = nullptr;
    QCheckBox* cbResult = nullptr;
    QCheckBox* cbStart = nullptr;
    QCheckBox* cbEnd = nullptr;
    QTreeView* SrcDirectory = nullptr;
    QPushButton* btnBatchRegist = nullptr;
    QImage BaseImage;
    // Progress panel.
    QFrame* PanelProgress = nullptr;
    QLabel* StaticText[3] = {};
    QProgressBar* ProgressBar[3] = {};
    // EQ panel.
    EqStrip* PanelEQBase = nullptr;
    QCheckBox* cbEqWave = nullptr;
    QCheckBox* cbBackGround = nullptr;
    QCheckBox* cbSlaveOut = nullptr;  // also the slave alone on the master's timeline

    QTimer* Timer1 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildTopPanel();
    void buildMessagePanel();
    void buildExpertPanel();
    void buildProgressPanel();
    void buildEqPanel();
    void loadBackground();
    void showDirectoryInList(const QString& dir);
    // continuesBatch: started by the batch continuation, which resumes a later part of
    // the recording the batch has just run from the points that part left.
    // resume: 続行, from the last stored pair of points.
    bool startJob(bool continuesBatch = false, bool resume = false);
    void buildResultPanel();
    QString describeFile(const QString& path) const;
    void showResult(const JobOutcome& outcome);
    // Takes the last job's result off the screen (a new job, other input files).
    void clearResult();
    void setStartCaption(const QString& caption);
    void playOutput(double fromS, double toS);
    void loadJob(int position);
    void continueBatch();
    void remixStoredJob();
    void returnToIdle();
    void showProgress();
    void showPanels(bool expert);
    // Runs a handler; a failure (a name the settings cannot store, a file that cannot be
    // read) becomes a message instead of ending the program.
    bool guarded(const std::function<void()>& action);

    JobHistoryLink* history_;
    NoJobHistory noHistory_;
    RunControl run_;
    QFileSystemModel* directoryModel_ = nullptr;
    QString srcDirectory_;
    QPoint DragOrigin;
    bool running_ = false;
    bool closeRequested_ = false;
    bool stopRequested_ = false;  // the user pressed STOP (or closed the window) during this job
    bool revealFolder_ = true;    // keep the folder list scrolled to its folder while it loads
    JobBatch batch_;
    TJobListForm* jobList_ = nullptr;
    TRemixForm* remix_ = nullptr;
    JobOutcome lastOutcome_;
    std::optional<HistoryEntry> syncEntry_;  // the history entry of the running synchronisation
    Verdict verdict_ = Verdict::None;
};

}  // namespace tandem
