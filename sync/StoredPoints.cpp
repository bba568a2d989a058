#include "sync/StoredPoints.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "core/Log.h"
#include "settings/Settings.h"
#include "sync/PatternSearch.h"

namespace tandem {
namespace {

const char* const kCount = "Count";
const char* const kPairMaster = "PairMaster";
const char* const kPairSlave = "PairSlave";
const char* const kPairStep = "PairStep";
const char* const kPairMode = "PairMode";
const char* const kPairLevel = "PairLevel";
const char* const kPairStart = "PairStart";

std::string pointKey(int n) { return "DP" + std::to_string(n); }
std::string subFrameKey(int n) { return "SubFrame" + std::to_string(n); }

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

int StoredPoints::count() const { return SettingsReadInt(section_, kCount, 0); }

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
    for (int i = 0; i < n; ++i) points.push_back(at(i));
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

std::vector<double> StoredPoints::loadExact(int n) const {
    std::vector<double> points;
    points.reserve(static_cast<std::size_t>(std::max(n, 0)));
    const double scale = WorkingScale();
    for (int i = 0; i < n; ++i) {
        const std::int64_t whole = SettingsReadInt(section_, pointKey(i), 0);
        const std::string text = SettingsReadText(section_, subFrameKey(i), "");
        double exact = 0.0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), exact);
        const bool usable = !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
                            std::fabs(exact - static_cast<double>(whole)) <= kSubFrameReach;
        points.push_back(usable ? exact * scale : static_cast<double>(at(i)));
    }
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

std::string ForeignPoints(const StoredPoints& master, const StoredPoints& slave, const PairRecord& job) {
    const FrameIndex masterStart = master.count() > 0 ? master.at(0) : -1;
    const PairRecord m = master.record(), s = slave.record();
    if (std::string why = foreignTo(master, m, job, masterStart); !why.empty()) return why;
    if (std::string why = foreignTo(slave, s, job, masterStart); !why.empty()) return why;
    // Both name this pair: they must also come from one division.
    if (!m.master.empty() && !s.master.empty() && !foreignTo(slave, s, m, masterStart).empty())
        return MessageText(Msg::PointsFromOtherJobs, master.section(), slave.section(), describe(m), describe(s));
    return {};
}

std::string ClaimPoints(const StoredPoints& master, const StoredPoints& slave, const PairRecord& job) {
    std::string why = ForeignPoints(master, slave, job);
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
    return why;
}

}  // namespace tandem
