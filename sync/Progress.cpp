#include "sync/Progress.h"

#include "core/Message.h"

namespace tandem {

std::int64_t TickCountMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SyncProgress::SetMessageLine(const std::string& text, int line) {
    if (line < 0 || line > 2) return;
    std::lock_guard lock(textMutex_);
    lines_[line] = text;
}

std::string SyncProgress::MessageLine(int line) const {
    if (line < 0 || line > 2) return {};
    std::lock_guard lock(textMutex_);
    return lines_[line];
}

StageBarState& SyncProgress::StageBar(int stage, bool restartClock) {
    if (restartClock) SetStageClock(TickCountMs());
    return bars_[stage == 0 ? 0 : stage == 1 ? 1 : 2];
}

void SyncProgress::SetResultRange(int min, int max) {
    resultMin_.store(min);
    resultMax_.store(max);
}

void SyncProgress::SetResultValue(int value) { resultValue_.store(value); }

void SyncProgress::Reset() {
    for (StageBarState& bar : bars_) {
        bar.Max.store(0);
        bar.Position.store(0);
        bar.Marker.store(kStageRunning);
    }
    std::lock_guard lock(textMutex_);
    for (std::string& line : lines_) line.clear();
}

std::uint32_t ResultColour(int value) {
    if (value > -100 && value < 100) return 0x008000;
    if (value > -200 && value < 200) return 0xFFFF00;
    return 0xFF0000;
}

std::string ElapsedCaption(std::int64_t seconds) { return MessageText(Msg::Elapsed, seconds / 60, seconds % 60); }

std::string RemainingCaption(std::int64_t seconds) { return MessageText(Msg::Remaining, seconds / 60, seconds % 60); }

std::int64_t RemainingSeconds(int max, int position, std::int64_t elapsedSeconds) {
    if (position == 0) return 0;
    return (static_cast<std::int64_t>(max) - position) * elapsedSeconds / position;
}

}  // namespace tandem
