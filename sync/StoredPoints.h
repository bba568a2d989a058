// The division points stored for one file, and the record of the pair and division
// they belong to. The one place that knows the keys.
//
// Section: the file's full path as opened (extension included), the section that also
// holds its level analysis. Keys: "Count" (how many points are valid), "DP<n>" (frame
// of point n; a missing one reads as 0), "PhaseShift" (1: the file's channels are
// inverted against the other file's; written for the slave, read for either). A
// master's points and a slave's points with the same index belong together.
//
// "SubFrame<n>" beside "DP<n>" holds the slave's exact position of point n (decimal
// frames of the file, to 1/10000), where a local correlation measured it; DPn stays the
// search's whole frame. It is only taken while it lies within kSubFrameReach of DPn, so
// a file without it, or one whose DPn was moved since, reads as whole frames.
//
// The pair record sits beside them: "PairMaster", "PairSlave" (full paths), "PairStep"
// (BaseStep), "PairMode" (Mode), "PairLevel" (相異点 0..3) and "PairStart" (the master's
// point 0 when the list was last completed by a job). A section without a record was
// written before records existed and belongs to whatever pair uses it.
//
// Each file's section also records the file the points were found on: "PointsBytes",
// "PointsTimeNs" (modification time in ns) and "PointsHash" (content fingerprint). A
// file replaced since never lends its points to the new one; a section without them
// (older versions) is judged by its points alone. Count never exceeds the keys its
// section holds, and points that are missing, outside their file or out of order make
// the stored list unusable (see ForeignPoints).
//
// Failures: set throws SyncError for a frame outside the stored integer range; the
// settings store throws SettingsError for a section it cannot store.
//
// Thread safety: as the settings store; each object only holds its section name.
#pragma once

#include <string>
#include <vector>

#include "core/TimeBase.h"

namespace tandem {

// What a list of points belongs to. An unknown value (-1, or "" for a path) never
// makes a record foreign.
struct PairRecord {
    std::string master;
    std::string slave;
    int baseStep = -1;
    int mode = -1;
    int level = -1;
    FrameIndex start = -1;
};

class StoredPoints {
public:
    explicit StoredPoints(std::string section) : section_(std::move(section)) {}
    // Points of a file searched in a working image at another rate: at, set and load
    // count in the image's frames (workingRate), the store in the file's own (fileRate).
    StoredPoints(std::string section, std::uint32_t fileRate, std::uint32_t workingRate)
        : section_(std::move(section)), fileRate_(fileRate), workingRate_(workingRate) {}

    int count() const;
    void setCount(int n) const;
    FrameIndex at(int n) const;
    void set(int n, FrameIndex frame) const;
    // Points 0 .. n - 1 as stored (also past count()).
    std::vector<FrameIndex> load(int n) const;
    // The exact position of point n: frame (as given to set) plus offset, in the same frames.
    void setSubFrame(int n, FrameIndex frame, double offset) const;
    // Points 0 .. n - 1 at their exact positions where stored, else as load gives them.
    // measured (where given): whether any point has a usable exact position; whole
    // (where given): whether every point has one and each is a whole working frame (a job
    // that kept whole frames, as in a room).
    std::vector<double> loadExact(int n, bool* measured = nullptr, bool* whole = nullptr) const;
    // Cuts the list back to n points (ResetBoth / ResetSlave, the job list's Delete).
    void reset(int n = 0) const { setCount(n); }

    // The record, with unknown fields where the section has none.
    PairRecord record() const;
    void setRecord(const PairRecord& record) const;
    void setRecordStart(FrameIndex start) const;

    // Whether the file was found inverted against the other of its pair.
    bool phaseShift() const;
    void setPhaseShift(bool inverted) const;

    const std::string& section() const { return section_; }
    // A working image's frame as the file's own frame (as stored).
    FrameIndex ToFile(FrameIndex frames) const { return RescaleFrames(frames, workingRate_, fileRate_); }
    // Working frames per file frame (1 without a working image).
    double WorkingScale() const;

private:
    std::string section_;
    std::uint32_t fileRate_ = 0, workingRate_ = 0;
};

// How far from its whole frame a stored exact position may lie (the sub-frame
// correlation looks no further): the search's whole frame is up to 5 frames off at a few
// points of a low-passed, noisy pair (the camera case of the evaluation kit).
constexpr double kSubFrameReach = 8.0;

// The last stored pair of a master and a slave list: index = min of both counts - 1.
struct LastPair {
    int stored = 0;  // pairs stored (min of both counts)
    FrameIndex master = 0, slave = 0;
};
LastPair LastStoredPair(const StoredPoints& master, const StoredPoints& slave);

// "" when the stored points of both files may serve this job: each record is absent or
// names this pair with the same division values (and a start that is the master's
// point 0), each file is the one the points were found on, and the points are usable
// in the files as they are (job.master and job.slave are read for that). Otherwise a
// sentence saying why: the pair the points belong to, the replaced file, or the point
// that cannot be used.
std::string ForeignPoints(const StoredPoints& master, const StoredPoints& slave, const PairRecord& job);

// Before a job divides: stored points of another pair or division are dropped (both
// counts 0, said in the log), then both sections record this job's pair and values.
// Returns the log line ("" when the points were kept).
std::string ClaimPoints(const StoredPoints& master, const StoredPoints& slave, const PairRecord& job);

}  // namespace tandem
