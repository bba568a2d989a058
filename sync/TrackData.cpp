#include "sync/TrackData.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <cstdlib>
#include <string_view>

#include "core/Error.h"
#include "core/Message.h"
#include "core/ProgramFolder.h"
#include "core/Text.h"
#include "sync/StoredPoints.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(from, end - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        from = end + 1;
    }
    return lines;
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = line.find(',', from);
        fields.push_back(line.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos) return fields;
        from = comma + 1;
    }
}

// Reads the rows of one report: its header, then rows of the header's field count.
class ReportReader {
public:
    ReportReader(const char* name, const std::string& text, std::string_view header)
        : name_(name), lines_(splitLines(text)) {
        if (lines_.empty() || lines_.front() != header) fail(1, std::string(header));
    }
    std::size_t rows() const { return lines_.size() - 1; }
    std::vector<std::string> row(std::size_t i, std::size_t fieldCount) const {
        std::vector<std::string> fields = splitFields(lines_[i + 1]);
        if (fields.size() != fieldCount) fail(i + 2, lines_[i + 1]);
        return fields;
    }
    bool blank(std::size_t i) const { return lines_[i + 1].empty(); }
    // A finite number filling the whole field; "" is none where allowed.
    std::optional<double> number(std::size_t i, const std::string& field, bool optional) const {
        if (field.empty() && optional) return std::nullopt;
        char* end = nullptr;
        const double value = std::strtod(field.c_str(), &end);
        if (field.empty() || end != field.c_str() + field.size() || !std::isfinite(value)) fail(i + 2, lines_[i + 1]);
        return value;
    }
    [[noreturn]] void fail(std::size_t lineNumber, const std::string& line) const {
        throw SyncError(Msg::ReportRowUnreadable, name_, lineNumber, line.substr(0, 80));
    }

private:
    const char* name_;
    std::vector<std::string> lines_;
};

enum class WindowMark { Neutral, InStep, Off };

// Runs of off windows; neutral windows, and one window in step, do not end a run.
std::vector<TrackStretch> joinOff(const std::vector<std::pair<double, WindowMark>>& windows) {
    std::vector<TrackStretch> stretches;
    bool open = false;
    int inStepRun = 0;
    TrackStretch current;
    // Windows may overlap, so a run may start inside the last one: they are one stretch. A
    // time so large that a window adds nothing to it makes no stretch.
    const auto close = [&](const TrackStretch& s) {
        if (!(s.fromS < s.toS)) return;
        if (!stretches.empty() && s.fromS <= stretches.back().toS)
            stretches.back().toS = std::max(stretches.back().toS, s.toS);
        else
            stretches.push_back(s);
    };
    for (const auto& [start, mark] : windows) {
        if (mark == WindowMark::Off) {
            if (!open) current.fromS = start;
            open = true;
            inStepRun = 0;
            current.toS = start + kCheckWindowS;
        } else if (mark == WindowMark::InStep && open && ++inStepRun >= 2) {
            close(current);
            open = false;
        }
    }
    if (open) close(current);
    return stretches;
}

WindowMark lagMark(double lagFrames) { return std::fabs(lagFrames) > 2.0 ? WindowMark::Off : WindowMark::InStep; }

}  // namespace

std::vector<TrackCsvRow> ParseTrackCsv(const std::string& text) {
    const ReportReader in("Track.csv", text, "kind,master_s,slave_s,rate_ppm,evidence,verdict");
    std::vector<TrackCsvRow> rows;
    // Each kind's rows in the master's time order, as the track is made.
    std::map<std::string, double> last;
    for (std::size_t i = 0; i < in.rows(); ++i) {
        if (in.blank(i)) continue;
        const std::vector<std::string> f = in.row(i, 6);
        TrackCsvRow row;
        row.kind = f[0];
        if (row.kind != "track" && row.kind != "point" && row.kind != "check") in.fail(i + 2, f[0]);
        row.masterS = *in.number(i, f[1], false);
        if (const auto before = last.find(row.kind); before != last.end() && row.masterS < before->second)
            in.fail(i + 2, f[1]);
        last[row.kind] = row.masterS;
        row.slaveS = in.number(i, f[2], true);
        row.ratePpm = in.number(i, f[3], true);
        row.evidence = in.number(i, f[4], true);
        row.verdict = f[5];
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<CheckCsvRow> ParseCheckCsv(const std::string& text) {
    const ReportReader in("Check.csv", text, "start_s,state,lag_frames,corr");
    std::vector<CheckCsvRow> rows;
    for (std::size_t i = 0; i < in.rows(); ++i) {
        if (in.blank(i)) continue;
        const std::vector<std::string> f = in.row(i, 4);
        CheckCsvRow row;
        row.startS = *in.number(i, f[0], false);
        if (!rows.empty() && row.startS < rows.back().startS) in.fail(i + 2, f[0]);  // windows in time order
        row.state = f[1];
        if (row.state != "measured" && row.state != "unmatched" && row.state != "quiet" && row.state != "extrapolated")
            in.fail(i + 2, f[1]);
        row.lagFrames = in.number(i, f[2], row.state != "measured");
        row.corr = *in.number(i, f[3], false);
        rows.push_back(std::move(row));
    }
    return rows;
}

TrackPicture MakeTrackPicture(const std::string& trackCsv, const std::string& checkCsv,
                              const std::vector<FrameIndex>& masterPoints, const std::vector<FrameIndex>& slavePoints,
                              double sampleRate) {
    TrackPicture picture;
    std::vector<std::pair<double, WindowMark>> windows;
    const auto span = [&](double s) { picture.lengthS = std::max(picture.lengthS, s); };

    std::optional<TrackCsvRow> previousTrack;
    for (const TrackCsvRow& row : trackCsv.empty() ? std::vector<TrackCsvRow>{} : ParseTrackCsv(trackCsv)) {
        span(row.masterS);
        if (row.kind == "track") {
            if (row.ratePpm) picture.ratePpm.push_back({row.masterS, *row.ratePpm});
            if (row.verdict == "jump") {
                // More slave than master time since the last window: the slave paused.
                bool pause = true;
                if (previousTrack && previousTrack->slaveS && row.slaveS)
                    pause = *row.slaveS - *previousTrack->slaveS > row.masterS - previousTrack->masterS;
                picture.events.push_back({row.masterS, pause ? TrackEventKind::Pause : TrackEventKind::Lost, ""});
            }
            previousTrack = row;
        } else if (row.kind == "point") {
            // A point at a jump is no correction: the track's row shows the jump itself. An
            // end refined by the local measure is none either (under wow, most of them).
            if (!row.verdict.empty() && row.verdict != "JUMP" && row.verdict.rfind("LOCAL", 0) != 0)
                picture.events.push_back({row.masterS,
                                          row.verdict == "HOLD" ? TrackEventKind::Held : TrackEventKind::Correction,
                                          row.verdict});
        } else {
            if (row.evidence) picture.lagFrames.push_back({row.masterS, *row.evidence});
            const WindowMark mark = row.verdict == "off"       ? WindowMark::Off
                                    : row.verdict == "in step" ? WindowMark::InStep
                                                               : WindowMark::Neutral;
            windows.emplace_back(row.masterS, mark);
            span(row.masterS + kCheckWindowS);
        }
    }

    // The check's own rows where the track brought none.
    if (windows.empty() && !checkCsv.empty()) {
        for (const CheckCsvRow& row : ParseCheckCsv(checkCsv)) {
            span(row.startS + kCheckWindowS);
            if (row.lagFrames) picture.lagFrames.push_back({row.startS, *row.lagFrames});
            windows.emplace_back(row.startS, row.lagFrames ? lagMark(*row.lagFrames) : WindowMark::Neutral);
        }
    }
    picture.off = joinOff(windows);

    // The rate from the stored points where the track brought none.
    const std::size_t pairs = std::min(masterPoints.size(), slavePoints.size());
    if (picture.ratePpm.empty() && sampleRate > 0 && pairs >= 2) {
        const auto ppmOver = [&](std::size_t from, std::size_t to) {
            const double dm = static_cast<double>(masterPoints[to] - masterPoints[from]);
            return dm > 0 ? (static_cast<double>(slavePoints[to] - slavePoints[from]) / dm - 1.0) * 1e6 : 0.0;
        };
        // Whole frames over a 0.2 s segment step by 113 ppm: the rate shown is taken over
        // the last 2 s of points, never across a jump.
        const auto spanFrames = static_cast<FrameIndex>(2.0 * sampleRate);
        std::size_t from = 0;
        for (std::size_t i = 1; i < pairs; ++i) {
            if (masterPoints[i] <= masterPoints[i - 1]) continue;
            const double at = static_cast<double>(masterPoints[i]) / sampleRate;
            span(at);
            const double segment = ppmOver(i - 1, i);
            if (std::fabs(segment) > kJumpPpm) {
                picture.events.push_back({at, segment > 0 ? TrackEventKind::Pause : TrackEventKind::Lost, ""});
                from = i;  // a jump is no rate of the clocks
                continue;
            }
            while (from + 1 < i && masterPoints[i] - masterPoints[from + 1] >= spanFrames) ++from;
            picture.ratePpm.push_back({at, ppmOver(from, i)});
        }
    }
    return picture;
}

TrackPicture JobTrackPicture(const std::string& trackCsv, const std::string& checkCsv, const std::string& master,
                             const std::string& slave) {
    const std::uint32_t masterRate = HeaderSampleRate(master);
    const std::uint32_t slaveRate = HeaderSampleRate(slave);
    std::vector<FrameIndex> m, s;
    if (masterRate > 0 && slaveRate > 0) {
        const StoredPoints masterPoints(master), slavePoints(slave, slaveRate, masterRate);
        const int n = std::min(masterPoints.count(), slavePoints.count());
        m = masterPoints.load(n);
        s = slavePoints.load(n);
    }
    // A track made without its text in the outcome: the report beside the program, if
    // any. The check's text is always there when the file was checked; a stale
    // Check.csv of an earlier job would tell of another file.
    std::string track = trackCsv;
    if (track.empty()) {
        std::ifstream in(ProgramFolder() + BaseName(slave) + ".Track.csv", std::ios::binary);
        track.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return MakeTrackPicture(track, checkCsv, m, s, masterRate);
}

std::string StretchText(const TrackStretch& stretch) {
    return MessageText(Msg::CheckSeconds, Fixed(stretch.fromS, 1), Fixed(stretch.toS, 1));
}

}  // namespace tandem
