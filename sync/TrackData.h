// What the picture of a job's track is drawn from: the rate of the slave against the
// master along the master's time, the check's lag per window, the stretches that are
// off and the track's events.
//
// It is read from the text of <slave>.Track.csv (header
// kind,master_s,slave_s,rate_ppm,evidence,verdict; rows of kind track, point and check)
// and of <slave>.Check.csv (CheckCsvText), as on disk or as a JobOutcome holds them.
// Without a track, the rate comes from the stored points and a segment whose rate no
// recorder's clock could have (a slave that paused or lost material) is an event.
//
// Thread safety: plain values and functions.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Types.h"

namespace tandem {

struct TrackCsvRow {
    std::string kind;                 // track, point or check
    double masterS = 0;
    std::optional<double> slaveS;
    std::optional<double> ratePpm;
    std::optional<double> evidence;   // track: 0..1; check: lag in frames
    std::string verdict;
};

struct CheckCsvRow {
    double startS = 0;
    std::string state;                // measured, unclear or quiet
    std::optional<double> lagFrames;  // measured windows only
    double corr = 0;
};

// Throw SyncError (ReportRowUnreadable) on a header or row that is not the format.
std::vector<TrackCsvRow> ParseTrackCsv(const std::string& text);
std::vector<CheckCsvRow> ParseCheckCsv(const std::string& text);

enum class TrackEventKind { Pause, Lost, Correction, Held };

struct TrackEvent {
    double masterS = 0;
    TrackEventKind kind = TrackEventKind::Correction;
    std::string mark;  // the result CSV's mark (ANCHOR+3, GUARD-2, HOLD), "" for a jump
};

struct TrackPoint {
    double masterS = 0;
    double value = 0;
};

struct TrackStretch {
    double fromS = 0, toS = 0;
};

struct TrackPicture {
    std::vector<TrackPoint> ratePpm;    // (slave/master - 1) * 1e6 along the master
    std::vector<TrackPoint> lagFrames;  // measured check windows, at their starts
    std::vector<TrackStretch> off;      // check windows off by more than 2 frames, joined
    std::vector<TrackEvent> events;
    double lengthS = 0;                 // the master time the picture spans

    bool Empty() const { return ratePpm.empty() && lagFrames.empty(); }
};

// The window of the check: a stretch ends at its last off window's end.
inline constexpr double kCheckWindowS = 1.0;
// A segment whose rate is further than this from the clocks' is a jump (a pause or lost
// material): recorders differ by well under 1 %.
inline constexpr double kJumpPpm = 20000.0;

// From whatever of the three is there: trackCsv and checkCsv may be "", the stored points
// (frames of a file of sampleRate) empty. Throws as the parsers do.
TrackPicture MakeTrackPicture(const std::string& trackCsv, const std::string& checkCsv,
                              const std::vector<FrameIndex>& masterPoints, const std::vector<FrameIndex>& slavePoints,
                              double sampleRate);

// The picture of a job on master and slave: its track's and check's texts (as a
// JobOutcome holds them; without the track's, <slave base>.Track.csv in the program
// folder if there is one) and the points stored for the pair, at the master's rate.
TrackPicture JobTrackPicture(const std::string& trackCsv, const std::string& checkCsv, const std::string& master,
                             const std::string& slave);

// "12.5–14.0 s" lines for the list beside the picture.
std::string StretchText(const TrackStretch& stretch);

}  // namespace tandem
