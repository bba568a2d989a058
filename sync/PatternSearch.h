// The searches of the synchronisation: sound onsets and the segment pattern search.
//
// SearchSegment finds where a master segment [J, K) lies in the slave: it stretches the
// segment to candidate slave lengths (P - N) + G and scores each against the slave from
// N + O by a dot product, G around 0 within +-RangeE (two passes: every fourth length,
// then the neighbourhoods of the promising ones; extended beyond the range while the
// winner sits at its edge), O within +-RangeS (coarse to fine). The best positive and
// the most negative score are kept; a winning negative score means inverted polarity.
//
// Thread safety: one search per thread; the files belong to the calling thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Error.h"
#include "core/Types.h"
#include "sync/Progress.h"
#include "sync/SyncJob.h"

namespace tandem {

class KWavefile;

// A report file being written; it replaces path when finished (AtomicFile), so a link
// at its name is replaced, never written through, and a failed job leaves no half report.
using CsvFile = std::unique_ptr<AtomicFile>;
// Starts a report file; throws SyncError when it cannot.
CsvFile CreateReport(const std::string& path);
// Appends text (nothing when the file is not open); throws SyncError when it cannot.
void WriteReport(const CsvFile& file, const std::string& text);
// Puts the report in place and closes it (nothing when it is not open); throws
// SyncError when the data did not all reach the disk (disk full, file size limit).
void FinishReport(CsvFile& file, const std::string& path);
// The failure to read frames of a file, with the file's own reason where it has one.
SyncError Unreadable(const KWavefile& file);

// First frame at or after start whose left or right sample exceeds the file's Average
// (times percent / 100) in magnitude; start + 4 s when none within four seconds.
FrameIndex FindSoundOnset(KWavefile& file, FrameIndex start, int percent);
// The slave's start estimate: its onset after the lead-in.
FrameIndex SearchSimilarPattern(KWavefile& slave, FrameIndex slaveSkip);

// Sum of a[i] * b[i] / 32767^2.
double PatternScore(const double* a, const double* b, FrameIndex n);

struct SearchResult {
    double best = 0.0;
    int bestO = 0;
    int bestG = 0;
    double worst = 0.0;
    int worstO = 0;
    int worstG = 0;
};

struct SegmentSearch {
    int rangeS = 0;  // offset half-width
    int rangeE = 1;  // length half-width (at least 1)
    int extendWithin = 5;  // a winner this close to the edge of the lengths extends them
    FrameIndex J = 0, K = 0, N = 0, P = 0;
    int A = 0, F = 0;  // this segment's index and the first segment's (A == F: start point)
    int stage = 0;
    int options = 0;               // job option bits (CSV switches, debug)
    std::string reportBase;        // folder + slave base name, for the CSV files
};

// Searches master frames [J, K) (already level-matched, K - J frames) in the slave.
// Results accumulate into result (the caller zeroes it per segment).
void SearchSegment(const SegmentSearch& search, KWavefile& slave, const std::vector<Frame>& master,
                   SyncProgress& progress, SearchResult& result);

// Makes every later SearchSegment call, in any job of the process, run replacement
// instead (nullptr restores the built-in search). Benchmarks use it to run whole jobs
// on a plain search as the yardstick; set it only while no job runs.
using SegmentSearchFunction = void (*)(const SegmentSearch&, KWavefile&, const std::vector<Frame>&, SyncProgress&,
                                       SearchResult&);
void ReplaceSegmentSearch(SegmentSearchFunction replacement);

}  // namespace tandem
