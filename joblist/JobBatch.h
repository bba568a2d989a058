// The main window's side of the job history, without the window: what the 履歴 button
// does with the job list's result, the batch continuation of the timer tick and the
// stop point of a batch job. The window loads the entries and starts the jobs; this
// class only says which and when, and keeps BatchCursor.
//
// Thread safety: none; main thread only.
#pragma once

#include <string>

#include "joblist/JobHistory.h"

namespace tandem {

struct HistoryStep {
    int load = -1;                // entry to load into the window, -1 none
    bool leaveDebugMode = false;  // clear debug mode, show the message panel
    bool start = false;           // then start a job as the Start button does
    bool remix = false;           // show the remix dialog, then RemixEntry
};

class JobBatch {
public:
    // The job list closed with result (-1 cancel, -2 選択, -3 Remix, n > 0 retry).
    // A retry starts the batch at the first marked entry.
    HistoryStep AfterJobList(const JobHistory& history, int result);
    // After the remix dialog: the entry whose output is rebuilt (-1: none). Never a batch.
    int RemixEntry(const JobHistory& history);
    // Timer tick after a job ended: the next marked entry to load and start, or -1 when
    // no batch runs or the batch is over (BatchCursor is then 0).
    int Continue(const JobHistory& history);
    // Start step: the stop point (0.1 s steps) a job gets: the next part's lead-in in a
    // batch, otherwise the expert field's value unchanged.
    int StopPoint(const JobHistory& history, const std::string& master, const std::string& slave, int masterSkip,
                  int currentStopPoint) const;

    bool Running() const { return BatchCursor > 0; }

    // Position from which the next batch job is sought; 0 = no batch running.
    int BatchCursor = 0;
};

}  // namespace tandem
