#include "app/ProgressDisplay.h"

#include "sync/Progress.h"

namespace tandem {

int CurrentStage(int marker0, int marker1) {
    if (marker0 <= kStageFinished) return 0;
    if (marker1 <= kStageFinished) return 1;
    return 2;
}

StageTick TickStage(const StageSnapshot& bar, std::int64_t stageClockMs, std::int64_t nowMs) {
    StageTick tick;
    const std::int64_t elapsedSeconds = (nowMs - stageClockMs) / 1000;
    if (bar.marker == kStageFinished) {
        tick.finish = true;
        tick.caption = ElapsedCaption(elapsedSeconds);
    } else if (bar.position != 0) {
        const std::int64_t left = RemainingSeconds(bar.max, bar.position, elapsedSeconds);
        if (left > 0) tick.caption = RemainingCaption(left);
    }
    return tick;
}

QColor GaugeColour(int value) {
    const std::uint32_t rgb = ResultColour(value);
    return QColor((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
}

}  // namespace tandem
