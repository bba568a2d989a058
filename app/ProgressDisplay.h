// What the main window's 1-second timer shows while a job runs: which stage is current
// and what its caption says (the time a finished stage took, or the time left).
// Plain functions over the worker's progress values, so they can be checked without a
// window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QColor>

namespace tandem {

// Captions of the three stages when no time is shown.
inline constexpr const char* kStageCaptions[3] = {"開始点検索", "同期位置検出", "同期ファイル出力"};

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
    std::optional<std::string> caption;  // nullopt: the caption keeps its text
};

StageTick TickStage(const StageSnapshot& bar, std::int64_t stageClockMs, std::int64_t nowMs);

// The result gauge's colour for a value.
QColor GaugeColour(int value);

}  // namespace tandem
