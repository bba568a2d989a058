// What the main window's 1-second timer shows while a job runs: which stage is current
// and what its caption says (the time a finished stage took, or the time left).
// Plain functions over the worker's progress values, so they can be checked without a
// window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QColor>
#include <QString>

#include "sync/KSyncThread.h"

namespace tandem {

// Caption of stage 0, 1 or 2 when no time is shown.
QString StageCaption(int stage);
// "2分5秒" and "あと1分30秒", translated.
QString ElapsedText(std::int64_t seconds);
QString RemainingText(std::int64_t seconds);

struct StageSnapshot {
    int max = 0;
    int position = 0;
    int marker = 0;
};

// The stage the display follows: the first whose marker is not yet "shown" (2), the
// last one otherwise.
int CurrentStage(int marker0, int marker1);

struct StageTick {
    // The worker finished the stage: show its time, fill the bar, mark it shown and
    // restart the stage clock.
    bool finish = false;
    std::optional<QString> caption;  // nullopt: the caption keeps its text
};

StageTick TickStage(const StageSnapshot& bar, std::int64_t stageClockMs, std::int64_t nowMs);

// What message line 0 says once a job has ended; nullopt keeps the worker's last text
// (the verdict on the file). A job the user stopped says so with the points it found
// (and the verdict); a job that made no file does not claim one.
std::optional<QString> EndOfJobLine(const JobOutcome& outcome);

// The result gauge's colour for a value.
QColor GaugeColour(int value);

// What a finished job comes to, for the result panel's badge and the gauge.
enum class Verdict {
    None,       // no job has ended since the inputs were chosen
    InStep,     // written and checked in step
    NotInStep,  // written, but the check found it out of step (unrelated or silent slave)
    Stopped,    // stopped by the user (STOP, closing the window)
    Failed,     // no file, or a failure the check cannot outweigh
    Written,    // written with a mix the check cannot judge (a remix)
};
Verdict VerdictOf(const JobOutcome& outcome);
QString VerdictText(Verdict verdict);
// Background of the badge and colour of the gauge.
QColor VerdictColour(Verdict verdict);

}  // namespace tandem
