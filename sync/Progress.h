// How the worker reports to a front end: three message lines, three stage bars with
// their markers and clock, the result gauge and the job options.
//
// Thread safety: the worker writes while the front end's timer reads. Numbers are
// atomics; each message line is replaced whole under a lock, so a reader sees the old
// or the new text, never a mix.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace tandem {

// Stage marker values.
constexpr int kStageRunning = 0;
constexpr int kStageFinished = 1;  // set by the worker
constexpr int kStageShown = 2;     // set by the front end once it showed the time taken

struct StageBarState {
    std::atomic<int> Max{0};
    std::atomic<int> Position{0};
    std::atomic<int> Marker{kStageRunning};

    void Advance(int by = 1) { Position.fetch_add(by, std::memory_order_relaxed); }
};

std::int64_t TickCountMs();

class SyncProgress {
public:
    virtual ~SyncProgress() = default;

    void SetMessageLine(const std::string& text, int line);
    std::string MessageLine(int line) const;
    // Bar of stage 0 (start point search), 1 (sync positions), anything else (output).
    // restartClock sets the stage clock to now.
    StageBarState& StageBar(int stage, bool restartClock = false);
    void SetResultRange(int min, int max);
    virtual void SetResultValue(int value);
    int ResultMin() const { return resultMin_.load(); }
    int ResultMax() const { return resultMax_.load(); }
    int ResultValue() const { return resultValue_.load(); }

    int JobOptions() const { return options_.load(); }
    void SetJobOptions(int options) { options_.store(options); }
    bool IsDebugMode() const { return (JobOptions() & 1) != 0; }

    // Milliseconds since an arbitrary epoch when the current stage began; -1 once the
    // job has ended (set by the front end's completion handler).
    std::int64_t StageClock() const { return stageClock_.load(); }
    void SetStageClock(std::int64_t ms) { stageClock_.store(ms); }

    // Clears bars, markers and message lines for a new job.
    void Reset();

private:
    mutable std::mutex textMutex_;
    std::string lines_[3];
    StageBarState bars_[3];
    std::atomic<int> resultMin_{0}, resultMax_{0}, resultValue_{0};
    std::atomic<int> options_{0};
    std::atomic<std::int64_t> stageClock_{0};
};

// Gauge colour for a result value, as RGB: green inside +-100, yellow inside +-200, red beyond.
std::uint32_t ResultColour(int value);

// Remaining-time and elapsed captions of the progress display.
std::string ElapsedCaption(std::int64_t seconds);                 // "2分5秒"
std::string RemainingCaption(std::int64_t seconds);               // "あと1分30秒"
// Seconds left from position p of max after elapsed seconds; 0 when unknown.
std::int64_t RemainingSeconds(int max, int position, std::int64_t elapsedSeconds);

}  // namespace tandem
