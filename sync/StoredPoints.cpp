#include "sync/StoredPoints.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "core/Error.h"
#include "core/Log.h"
#include "settings/Settings.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

const char* const kCount = "Count";
const char* const kPairMaster = "PairMaster";
const char* const kPairSlave = "PairSlave";
const char* const kPairStep = "PairStep";
const char* const kPairMode = "PairMode";
const char* const kPairLevel = "PairLevel";
const char* const kPairStart = "PairStart";

const char* const kPointsBytes = "PointsBytes";
const char* const kPointsTimeNs = "PointsTimeNs";
const char* const kPointsHash = "PointsHash";

std::string pointKey(int n) { return "DP" + std::to_string(n); }
std::string subFrameKey(int n) { return "SubFrame" + std::to_string(n); }

template <typename Key>
std::vector<std::string> keysOf(int n, Key key) {
    std::vector<std::string> keys;
    keys.reserve(static_cast<std::size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i) keys.push_back(key(i));
    return keys;
}

// Why the points were found on another version of the file, or "". A section written
// before fingerprints were recorded has none and is judged by its points alone.
std::string earlierFile(const StoredPoints& points, const FileIdentity& id) {
    const std::string hash = SettingsReadText(points.section(), kPointsHash, "");
    if (!id.known || hash.empty()) return {};
    if (hash == id.hash && SettingsReadText(points.section(), kPointsBytes, "") == std::to_string(id.bytes) &&
        SettingsReadText(points.section(), kPointsTimeNs, "") == std::to_string(id.timeNs))
        return {};
    return MessageText(Msg::PointsOfEarlierFile, points.section());
}

// Why the file's points up to its count cannot be used, or "": each is stored, lies in
// [low, high] and comes after the one before. A point that fails would drive the search
// and the writer over spans the files do not have.
std::string badPoints(const StoredPoints& points, FrameIndex low, FrameIndex high) {
    const int n = points.count();
    const std::vector<FrameIndex> stored = points.load(n);
    const std::vector<std::string> texts = SettingsReadTexts(points.section(), keysOf(n, pointKey));
    FrameIndex before = 0;
    for (int i = 0; i < n; ++i) {
        std::string why;
        const FrameIndex at = stored[static_cast<std::size_t>(i)];
        if (texts[static_cast<std::size_t>(i)].empty()) {
            why = MessageText(Msg::PointMissing, n);
        } else if (at < low || at > high) {
            why = MessageText(Msg::PointOutsideFile, at, low, high);
        } else if (i > 0 && at <= before) {
            why = MessageText(Msg::PointOutOfOrder, at, before);
        }
        if (!why.empty()) return MessageText(Msg::PointUnusable, points.section(), pointKey(i), why);
        before = at;
    }
    return {};
}

// Both files' points checked against the files as they are now.
std::string unusable(const StoredPoints& master, const StoredPoints& slave, const FileIdentity& m,
                     const FileIdentity& s) {
    if (std::string why = earlierFile(master, m); !why.empty()) return why;
    if (std::string why = earlierFile(slave, s); !why.empty()) return why;
    if (m.known) {
        // The division's last point may lie past the master's end by up to one step
        // (at most 5 s) and the 0.1 s after an onset: 10 s of the file's frames cover it.
        if (std::string why = badPoints(master, 0, m.frames + 10 * FrameIndex{m.rate}); !why.empty()) return why;
    }
    if (m.known && s.known) {
        // A slave point lies in the slave, before it by at most the writer's 60 s lead-in
        // image, or past its end where a lost chain ran on: its rate stays under twice the
        // master's (the worst measured is 124 %), so by at most twice the master's length.
        if (std::string why = badPoints(slave, -60 * FrameIndex{s.rate}, s.frames + 2 * m.frames); !why.empty())
            return why;
    }
    return {};
}

void recordFile(const StoredPoints& points, const FileIdentity& id) {
    if (!id.known) return;
    SettingsWriteText(points.section(), kPointsBytes, std::to_string(id.bytes));
    SettingsWriteText(points.section(), kPointsTimeNs, std::to_string(id.timeNs));
    SettingsWriteText(points.section(), kPointsHash, id.hash);
}

bool sameValue(long long a, long long b) { return a < 0 || b < 0 || a == b; }

std::string describe(const PairRecord& r) {
    const std::string text = MessageText(Msg::ThePair, r.master, r.slave);
    std::string values;
    auto add = [&](const char* name, long long v) {
        if (v < 0) return;
        values += (values.empty() ? "" : ", ") + std::string(name) + " " + std::to_string(v);
    };
    add("BaseStep", r.baseStep);
    add("Mode", r.mode);
    add("level", r.level);
    return values.empty() ? text : text + " (" + values + ")";
}

// Why the points of one file cannot serve the job, or "".
std::string foreignTo(const StoredPoints& points, const PairRecord& r, const PairRecord& job, FrameIndex masterStart) {
    if (r.master.empty()) return {};
    const bool samePair = r.master == job.master && r.slave == job.slave;
    const bool sameDivision = sameValue(r.baseStep, job.baseStep) && sameValue(r.mode, job.mode) &&
                              sameValue(r.level, job.level) && sameValue(r.start, masterStart);
    if (samePair && sameDivision) return {};
    return MessageText(Msg::PointsBelong, points.section(), describe(r));
}

}  // namespace

// A count is never more than the keys its section holds: Count=2000000000 must not
// make a job walk two billion points, nor Count=-5 change a fresh job.
int StoredPoints::count() const {
    const int n = SettingsReadInt(section_, kCount, 0);
    return n <= 0 ? 0 : std::min(n, SettingsKeyCount(section_));
}

void StoredPoints::setCount(int n) const { SettingsWriteInt(section_, kCount, n); }

FrameIndex StoredPoints::at(int n) const {
    return RescaleFrames(SettingsReadInt(section_, pointKey(n), 0), fileRate_, workingRate_);
}

void StoredPoints::set(int n, FrameIndex frame) const {
    frame = ToFile(frame);
    if (frame < INT32_MIN || frame > INT32_MAX) throw SyncError(Msg::PointOutOfRange, section_);
    SettingsWriteInt(section_, pointKey(n), static_cast<int>(frame));
}

std::vector<FrameIndex> StoredPoints::load(int n) const {
    std::vector<FrameIndex> points;
    points.reserve(static_cast<std::size_t>(std::max(n, 0)));
    for (const int stored : SettingsReadInts(section_, keysOf(n, pointKey), 0))
        points.push_back(RescaleFrames(stored, fileRate_, workingRate_));
    return points;
}

double StoredPoints::WorkingScale() const {
    return fileRate_ > 0 && workingRate_ > 0 ? static_cast<double>(workingRate_) / fileRate_ : 1.0;
}

void StoredPoints::setSubFrame(int n, FrameIndex frame, double offset) const {
    const double exact = (static_cast<double>(frame) + offset) / WorkingScale();
    if (!std::isfinite(exact)) return;
    char text[48];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, std::round(exact * 1e4) / 1e4, std::chars_format::fixed);
    if (ec == std::errc()) SettingsWriteText(section_, subFrameKey(n), std::string(text, end));
}

std::vector<double> StoredPoints::loadExact(int n, bool* measured, bool* whole) const {
    if (measured) *measured = false;
    bool fractions = false, all = n > 0;
    std::vector<double> points;
    points.reserve(static_cast<std::size_t>(std::max(n, 0)));
    const double scale = WorkingScale();
    const std::vector<int> wholes = SettingsReadInts(section_, keysOf(n, pointKey), 0);
    const std::vector<std::string> texts = SettingsReadTexts(section_, keysOf(n, subFrameKey));
    for (std::size_t i = 0; i < wholes.size(); ++i) {
        const std::string& text = texts[i];
        double exact = 0.0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), exact);
        const bool usable = !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
                            std::fabs(exact - static_cast<double>(wholes[i])) <= kSubFrameReach;
        points.push_back(usable ? exact * scale : static_cast<double>(RescaleFrames(wholes[i], fileRate_, workingRate_)));
        if (usable && measured) *measured = true;
        // In working frames: a slave read at another rate keeps whole working frames.
        fractions = fractions || (usable && std::fabs(exact * scale - std::round(exact * scale)) > 1e-3);
        all = all && usable;
    }
    if (whole) *whole = all && !fractions;
    return points;
}

PairRecord StoredPoints::record() const {
    PairRecord r;
    r.master = SettingsReadText(section_, kPairMaster, "");
    r.slave = SettingsReadText(section_, kPairSlave, "");
    r.baseStep = SettingsReadInt(section_, kPairStep, -1);
    r.mode = SettingsReadInt(section_, kPairMode, -1);
    r.level = SettingsReadInt(section_, kPairLevel, -1);
    r.start = SettingsReadInt(section_, kPairStart, -1);
    return r;
}

void StoredPoints::setRecord(const PairRecord& r) const {
    SettingsWriteText(section_, kPairMaster, r.master);
    SettingsWriteText(section_, kPairSlave, r.slave);
    SettingsWriteInt(section_, kPairStep, r.baseStep);
    SettingsWriteInt(section_, kPairMode, r.mode);
    SettingsWriteInt(section_, kPairLevel, r.level);
    setRecordStart(r.start);
}

void StoredPoints::setRecordStart(FrameIndex start) const {
    SettingsWriteInt(section_, kPairStart, static_cast<int>(std::clamp<FrameIndex>(start, -1, INT32_MAX)));
}

LastPair LastStoredPair(const StoredPoints& master, const StoredPoints& slave) {
    LastPair last;
    last.stored = std::max(0, std::min(master.count(), slave.count()));
    if (last.stored > 0) {
        last.master = master.at(last.stored - 1);
        last.slave = slave.at(last.stored - 1);
    }
    return last;
}

namespace {

std::string foreignPoints(const StoredPoints& master, const StoredPoints& slave, const PairRecord& job,
                          const FileIdentity& m, const FileIdentity& s) {
    if (std::string why = unusable(master, slave, m, s); !why.empty()) return why;
    const FrameIndex masterStart = master.count() > 0 ? master.at(0) : -1;
    const PairRecord mr = master.record(), sr = slave.record();
    if (std::string why = foreignTo(master, mr, job, masterStart); !why.empty()) return why;
    if (std::string why = foreignTo(slave, sr, job, masterStart); !why.empty()) return why;
    // Both name this pair: they must also come from one division.
    if (!mr.master.empty() && !sr.master.empty() && !foreignTo(slave, sr, mr, masterStart).empty())
        return MessageText(Msg::PointsFromOtherJobs, master.section(), slave.section(), describe(mr), describe(sr));
    return {};
}

}  // namespace

std::string ForeignPoints(const StoredPoints& master, const StoredPoints& slave, const PairRecord& job) {
    return foreignPoints(master, slave, job, IdentifyFile(job.master), IdentifyFile(job.slave));
}

std::string ClaimPoints(const StoredPoints& master, const StoredPoints& slave, const PairRecord& job) {
    const FileIdentity m = IdentifyFile(job.master), s = IdentifyFile(job.slave);
    std::string why = foreignPoints(master, slave, job, m, s);
    if (!why.empty()) {
        why = MessageText(Msg::PointsNotUsed, why);
        AddLog(why);
        master.reset();
        slave.reset();
    }
    PairRecord record = job;
    record.start = -1;  // known once the job has divided the master
    master.setRecord(record);
    slave.setRecord(record);
    recordFile(master, m);
    recordFile(slave, s);
    return why;
}

bool StoredPoints::phaseShift() const { return SettingsReadInt(section_, "PhaseShift", 0) != 0; }

void StoredPoints::setPhaseShift(bool inverted) const { SettingsWriteInt(section_, "PhaseShift", inverted ? 1 : 0); }

}  // namespace tandem
