// JobListForm, the job list: the stored jobs, one line each, several selectable at once.
// The window only reports the user's choice; the main window acts on it. It owns the
// job history for the whole run and loads it when it is made.
//
// Results of ShowModal: kJobListCancel (-1: キャンセル, Esc, close box, or nothing
// selected), kJobListSelect (-2: 選択), kJobListRemix (-3: Remix) or, for the retry
// button, the number of selected lines.
//
// It is also the main window's link to the history: the master lookup, the registration
// of started jobs (which refreshes the lines) and the stop point of a batch job.
//
// Thread safety: main thread only.
#pragma once

#include <QDialog>

#include <vector>

#include "joblist/JobHistory.h"
#include "joblist/JobHistoryLink.h"

class QListWidget;
class QPushButton;

namespace tandem {

class TJobListForm : public QDialog, public JobHistoryLink {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 426;
    static constexpr int kClientHeight = 286;
    static constexpr int kWideWidth = 600;  // first size: room for the date and result columns

    // Loads the job history from the settings store (which must be open).
    explicit TJobListForm(QWidget* parent = nullptr);

    JobHistory& History() { return history_; }
    // Rebuilds the lines from the history; clears the modal result.
    void RefreshList();
    // Shows the window modally, centred on its parent, and returns the result.
    int ShowModal();

    // The three action buttons (tag 0 選択, 1 retry, 2 Remix): take over the selection
    // as marks and close with the button's result.
    void ActionButtonClick(int tag);
    // The context menu's "&Delete": the selected jobs and the stored points of their files.
    void DeleteClick();
    std::vector<int> SelectedPositions() const;
    // The result column's word for a job's record (nullptr: it never ran).
    static QString ResultText(const JobResult* result);

    // JobHistoryLink.
    std::optional<HistoryEntry> FindJobByMaster(const std::string& master) override;
    void AddJob(const HistoryEntry& entry) override;
    int FindStopPoint(const std::string& master, const std::string& slave, int masterSkip) override;
    void JobStarted(const HistoryEntry& entry) override;
    void JobEnded(const HistoryEntry& entry, Verdict verdict) override;

    QListWidget* ListBox1 = nullptr;
    QPushButton* BitBtn4 = nullptr;  // Remix
    QPushButton* BitBtn1 = nullptr;  // 再試行(&R)
    QPushButton* BitBtn3 = nullptr;  // 選択
    QPushButton* BitBtn2 = nullptr;  // キャンセル

public slots:
    void reject() override;

private:
    void showResults();
    JobHistory history_;
};

}  // namespace tandem
