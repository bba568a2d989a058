#include "sync/OutputWriter.h"

#include <algorithm>
#include <cmath>
#include <bit>
#include <tuple>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <memory>
#include <system_error>
#include <thread>

#include "core/AtomicFile.h"
#include "core/Error.h"
#include "core/Log.h"
#include "core/Parallel.h"
#include "core/ProgramFolder.h"
#include "core/Text.h"
#include "dsp/TimeMap.h"
#include "settings/Settings.h"
#include "sync/FineTrack.h"
#include "sync/StoredPoints.h"
#include "sync/SubFrame.h"
#include "sync/WorkingImage.h"
#include "wave/BandLimitedRead.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

static_assert(std::endian::native == std::endian::little, "frames are written as they lie in memory");

constexpr FrameIndex kEdgeSeconds = 60;  // of the lead-in and of the tail, at most

// Throws the writer's problem: a full disk or a size limit ends the job.
void check(const AtomicFile& out) {
    if (!out.Ok()) throw out.Failure<SyncError>();
}

// Frames read from a file that changed under its mapping are not the file's: nothing
// made from them is kept.
void checkUnchanged(const KWavefile& master, std::initializer_list<const KWavefile*> slaves) {
    if (master.ImageChanged()) throw SyncError(Msg::MasterChanged, master.FileName);
    for (const KWavefile* slave : slaves)
        if (slave && slave->ImageChanged()) throw SyncError(Msg::SlaveChanged, slave->FileName);
}

// The lead-in and the tail have no points of their own and borrow a ratio from the
// points next to them. One segment's ratio is quantised to whole frames (about 0.01 %
// at 0.2 s), which a 60 s edge would stretch into hundreds of frames; the span of the
// nearest few seconds keeps that to a frame or two, and a clock's rate hardly moves
// within it.
constexpr double kEdgeRatioSeconds = 3.0;

// The neighbour indexes whose span gives the lead-in's and the tail's ratios, and the
// frames of lead-in and of tail kept (kEdgeSeconds at the master's rate).
struct EdgeNeighbours {
    int first = 1, last = 0;
    FrameIndex limit = 0;
};

EdgeNeighbours edgeNeighbours(const std::vector<FrameIndex>& points, int count, std::uint32_t rate) {
    const auto span = static_cast<FrameIndex>(kEdgeRatioSeconds * rate);
    EdgeNeighbours e{1, count - 2, kEdgeSeconds * rate};
    if (count < 2 || static_cast<int>(points.size()) < count) return e;
    while (e.first < count - 1 && points[static_cast<std::size_t>(e.first)] - points[0] < span) ++e.first;
    while (e.last > 0 && points[static_cast<std::size_t>(count - 1)] - points[static_cast<std::size_t>(e.last)] < span)
        --e.last;
    return e;
}

struct SegmentArgs {
    int start, end, neighbour;
    FrameIndex limit;
};

SegmentArgs segmentArgs(int j, int count, const EdgeNeighbours& edges) {
    if (j == 0) return {-1, 0, edges.first, -edges.limit};
    if (j == count) return {count - 1, -1, edges.last, edges.limit};
    return {j - 1, j, j, 0};
}

// One output segment built ahead of its turn.
struct BuiltSegment {
    WaveImage image;
    std::size_t headerSize = 0;
    int largestLeft = 0;  // loudest left sample
    std::string error;    // what went wrong building it
};

// Builds output segment j (0: the lead-in before point 0, count: the tail after the
// last point). Safe to run for several segments at once: both files are loaded and
// unfiltered, and the settings store is shared.
void buildSegment(KWavefile& master, KWavefile& slave, int j, int count, const EdgeNeighbours& edges, int volume,
                  const TimeMap* map, bool leftOnly, BuiltSegment& out) {
    SegmentArgs a = segmentArgs(j, count, edges);
    out.error.clear();
    out.headerSize = 0;
    out.largestLeft = 0;
    try {
        out.headerSize = master.MakePitchChangedImage(slave, a.start, a.start, a.end, a.end, a.neighbour, a.neighbour,
                                                      volume, 1000, &a.limit, out.image, map, leftOnly);
    } catch (const std::exception& e) {
        out.error = FailureText(e);
        return;
    }
    if (out.headerSize == 0) return;
    for (const Frame& f : out.image.frames) out.largestLeft = std::max(out.largestLeft, f.left < 0 ? -static_cast<int>(f.left) : static_cast<int>(f.left));
    float wideLeft = 0;
    for (const WideFrame& f : out.image.wide) wideLeft = std::max(wideLeft, std::fabs(f.left));
    out.largestLeft = std::max(out.largestLeft, static_cast<int>(std::min(wideLeft, 2.0e9f)));
}

}  // namespace

std::string SynchronisedFileName(const SyncJob& job, bool debugMode) {
    std::string name = ProgramFolder() + "【" + BaseName(job.MasterFile) + "】-【" + BaseName(job.SlaveFile) + "】";
    if (debugMode) {
        for (long long v : {static_cast<long long>(job.BaseStep), static_cast<long long>(job.SlaveSkip),
                            static_cast<long long>(job.RangeS), static_cast<long long>(job.RangeE),
                            static_cast<long long>(job.DpLimit), static_cast<long long>(job.EqLow),
                            static_cast<long long>(job.EqHigh)})
            name += "_" + std::to_string(v);
    }
    return name + ".wav";
}

namespace {

// The pair as the writer reads it: both files loaded with their stored points and the
// mix; a slave at another rate through its working image at the master's rate.
struct WriterInput {
    explicit WriterInput(const SyncJob& job)
        : master(job.MasterFile, kPlaceBoth, true), slaveFile(job.SlaveFile, kPlaceBoth, true) {}
    KWavefile master;
    KWavefile slaveFile;
    std::unique_ptr<KWavefile> madeImage;
    KWavefile* slaveImage = nullptr;
    KWavefile& slave() { return slaveImage ? *slaveImage : slaveFile; }
};

void loadInput(WriterInput& in, const SyncJob& job, const MixSettings& mix, int count, LoadedFiles loaded) {
    KWavefile& master = in.master;
    KWavefile& slaveFile = in.slaveFile;
    for (KWavefile* file : {&master, &slaveFile})
        if (!file->Usable()) throw SyncError(Msg::NotUsable, file->FileName, file->Problem());
    // A slave at another rate is resampled from its working image at the master's rate;
    // its points are stored in its own frames.
    const bool converted = slaveFile.SampleRate != master.SampleRate;
    if (converted) {
        if (loaded.slaveImage && loaded.slaveImage->ChannelPlacement == kPlaceBoth &&
            loaded.slaveImage->SampleRate == master.SampleRate && loaded.slaveImage->FileName == job.SlaveFile) {
            in.slaveImage = loaded.slaveImage;
        } else {
            if (loaded.slave) slaveFile.AdoptImage(*loaded.slave);
            in.madeImage = MakeWorkingImage(slaveFile, master.SampleRate);
            in.slaveImage = in.madeImage.get();
        }
        slaveFile.SetDataSource("");  // its own image is no longer needed
    }
    KWavefile& slave = in.slave();
    for (auto [file, section, from] : {std::tuple{&master, job.MasterFile, loaded.master},
                                       std::tuple{&slave, job.SlaveFile, converted ? nullptr : loaded.slave}}) {
        if (from) file->AdoptImage(*from);
        if (!file->LoadData()) throw SyncError(Msg::CannotLoad, file->FileName, file->LoadProblem());
        file->ChannelFlags = kRemix;
        const StoredPoints points = file == in.slaveImage ? StoredPoints(section, slaveFile.SampleRate, master.SampleRate)
                                                          : StoredPoints(section);
        file->DivisionPoints = points.load(count);
        if (points.phaseShift()) file->ChannelFlags |= kInvertLeft | kInvertRight;
    }
    for (std::size_t i = 0; i < mix.size(); ++i) master.MixSettings[i] = mix[i];
}

// The smooth map through the slave's sub-frame points, for the band-limited slave.
std::shared_ptr<const TimeMap> timeMapOf(WriterInput& in, const SyncJob& job, int count) {
    const StoredPoints slavePoints = in.slaveImage ? StoredPoints(job.SlaveFile, in.slaveFile.SampleRate, in.master.SampleRate)
                                                   : StoredPoints(job.SlaveFile);
    // Points of whole frames (a file without sub-frame points) are mapped as before.
    bool measured = false, whole = false;
    std::vector<double> exact = slavePoints.loadExact(count, &measured, &whole);
    std::vector<FrameIndex> points = in.master.DivisionPoints;
    const FrameIndex edge = static_cast<FrameIndex>(kEdgeRatioSeconds * in.master.SampleRate);
    if (!measured) return std::make_shared<const TimeMap>(std::move(points), std::move(exact), edge, 0.0);
    AddInteriorKnots(in.master, in.slave(), points, exact, edge);
    auto map = std::make_shared<TimeMap>(std::move(points), std::move(exact), edge, SubFrameLineSpan(in.master.SampleRate));
    (whole ? AddRoomTrack : AddFineTrack)(in.master, in.slave(), *map);
    return map;
}

// What the two passes carry from segment to segment.
struct PassState {
    int level = 1000;          // the writing pass's volume: the slave's peak over the loudest left
    int largestLeft = 0;
    FrameIndex measuredFrames = 0;
    bool failed = false;
    std::vector<std::uint8_t> header;  // of the file as written so far
    bool rf64 = false;                 // the file passes 4 GiB: written in RF64 form
};

// Appends built segment j to the file and rewrites its header with the sizes so far, so
// that what is on disk is always a valid file.
void appendSegment(AtomicFile& out, const WaveImage& image, bool searched, PassState& st, WriteResult& result) {
    result.frames += image.frameCount();
    if (searched) result.searchedFrames = result.frames;
    st.header = image.header;
    std::vector<std::uint8_t>& header = st.header;
    const auto frameBytes = static_cast<std::uint64_t>(image.bytesPerFrame());
    const std::uint64_t dataBytes = frameBytes * static_cast<std::uint64_t>(result.frames);
    if (st.rf64)
        SetRf64Sizes(header, dataBytes, static_cast<std::uint64_t>(result.frames));
    else if (!SetRiffSizes(header.data(), header.size(), dataBytes, static_cast<std::uint64_t>(result.frames)))
        throw SyncError(Msg::OutputTooLarge, result.frames);  // grew past what was measured
    const off_t dataStart = static_cast<off_t>(header.size());
    const off_t appendAt =
        dataStart + static_cast<off_t>(frameBytes * static_cast<std::uint64_t>(result.frames - image.frameCount()));
    if (image.isWide()) {
        const std::vector<std::uint8_t> bytes = image.frameBytes();
        out.WriteAt(bytes.data(), bytes.size(), appendAt);
    } else {
        out.WriteAt(image.frames.data(), image.frames.size() * sizeof(Frame), appendAt);
    }
    out.WriteAt(header.data(), header.size(), 0);
    check(out);
}

// One pass over the segments, built on all cores a batch at a time and taken in order:
// the first measures the loudest left sample and the length, the second writes at the
// level that gives. While a batch is taken (written and logged on this thread), the
// next is built on another, so that neither core waits for the writes (the 20-minute
// pair's writing pass: 1.45 cores busy before, 1.57 so).
void runPass(int pass, WriterInput& in, const EdgeNeighbours& edges, const TimeMap* map, int count,
             const std::string& name, std::vector<BuiltSegment>& built, AtomicFile& out, SyncProgress& progress,
             PassState& st, WriteResult& result) {
    const bool ahead = built.size() > 1;
    const std::size_t batch = ahead ? built.size() / 2 : 1;
    StageBarState& bar = progress.StageBar(2);
    const int volume = pass == 0 ? 1000 : st.level;
    // The measuring pass wants the left channel's loudest sample and the frame counts;
    // where the slave does not reach the left, it is not read at all (its band-limited
    // reading is most of a segment's cost, the linear one most of the rest).
    const bool leftOnly = pass == 0 && !in.master.MixFeedsOtherLeft();
    const TimeMap* measuringMap = leftOnly ? nullptr : map;
    const auto batchSize = [&](int first) { return std::min(static_cast<int>(batch), count + 1 - first); };
    const auto slot = [&](std::size_t h) { return built.data() + (ahead ? h * batch : 0); };
    // Builds the batch from segment first into half h of built.
    const auto buildBatch = [&](int first, std::size_t h) {
        BuiltSegment* segments = slot(h);
        const auto build = [&, segments, first](std::size_t b, std::size_t e) {
            for (std::size_t k = b; k < e; ++k)
                buildSegment(in.master, in.slave(), first + static_cast<int>(k), count, edges, volume, measuringMap,
                             leftOnly, segments[k]);
        };
        const int n = batchSize(first);
        if (n == 1) {
            build(0, 1);
        } else {
            ParallelFor(static_cast<std::size_t>(n), build);
        }
    };
    std::size_t half = 0;
    buildBatch(0, half);
    for (int first = 0; first <= count && !st.failed; first += static_cast<int>(batch)) {
        const int next = first + static_cast<int>(batch);
        std::thread builder;
        std::exception_ptr builderFailure;
        if (ahead && next <= count) {
            try {
                builder = std::thread([&, next, half] {
                    try {
                        buildBatch(next, 1 - half);
                    } catch (...) {
                        builderFailure = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
                // No thread: the next batch is built after this one is taken.
            }
        }
        struct JoinOnExit {
            std::thread& t;
            ~JoinOnExit() {
                if (t.joinable()) t.join();
            }
        } joinBuilder{builder};
        const int n = batchSize(first);
        for (int k = 0; k < n; ++k) {
            const int j = first + k;
            BuiltSegment& segment = slot(half)[k];
            bar.Advance();
            if (pass == 0)
                AddLog("MAX=" + std::to_string(st.largestLeft) + "(" + std::to_string(j) + "/" + std::to_string(count) + ")");
            else
                AddLog(name + "を作成する(" + std::to_string(j) + "/" + std::to_string(count) + ")");
            if (!segment.error.empty()) {
                const SegmentArgs a = segmentArgs(j, count, edges);
                const std::string line = "MakePitchChangedImage ERROR j=" + std::to_string(pass) + " i=" + std::to_string(j) +
                                         " SL=" + std::to_string(a.start) + " EL=" + std::to_string(a.end) +
                                         " rateL=" + std::to_string(a.neighbour);
                result.error = MessageText(Msg::Labelled, line, segment.error);
                st.failed = true;
                break;
            }
            if (segment.headerSize == 0) continue;
            if (pass == 0) {
                st.largestLeft = std::max(st.largestLeft, segment.largestLeft);
                st.measuredFrames += segment.image.frameCount();
            } else {
                appendSegment(out, segment.image, j < count, st, result);
            }
        }
        if (builder.joinable()) {
            builder.join();
        } else if (!st.failed && next <= count) {
            buildBatch(next, 1 - half);
        }
        if (builderFailure) std::rethrow_exception(builderFailure);
        half = 1 - half;
    }
}

// The caller's look at the written file while it is synced: the sync of a 20-minute
// file waits over 100 ms for the disk, and the look reads the file from memory.
void syncWhile(AtomicFile& out, const WhileSyncing& whileSyncing, FrameIndex searchedFrames) {
    std::thread sync;
    try {
        sync = std::thread([&out] { out.Sync(); });  // a failure stays with out: Commit reports it
    } catch (const std::system_error&) {
        // No thread: one after the other.
    }
    try {
        whileSyncing(out.TemporaryPath(), searchedFrames);
    } catch (...) {
        if (sync.joinable()) sync.join();
        throw;
    }
    if (sync.joinable()) sync.join();
}

}  // namespace

WriteResult WriteSynchronisedFile(const SyncJob& job, const MixSettings& mix, SyncProgress& progress, LoadedFiles loaded,
                                  const WhileSyncing& whileSyncing) {
    WriteResult result;
    const int count = StoredPoints(job.SlaveFile).count();
    result.points = count;
    if (count < 2) return result;

    const std::string name = SynchronisedFileName(job, progress.IsDebugMode());
    progress.SetMessageLine(MessageText(Msg::Making, name), 0);
    try {
        AtomicFile out(name);
        check(out);
        WriterInput in(job);
        loadInput(in, job, mix, count, loaded);
        KWavefile& master = in.master;
        const EdgeNeighbours edges = edgeNeighbours(master.DivisionPoints, count, master.SampleRate);
        result.map = job.BandLimited ? timeMapOf(in, job, count) : nullptr;
        const TimeMap* map = result.map.get();

        progress.StageBar(2).Max.store(2 * count);
        PassState st;
        // With the debug log shown segments are built one by one, so that the log reads in
        // segment order; else in two halves, one built while the other is written. A half
        // holds about 2^21 frames (8 MiB of 16-bit frames; full-precision ones take twice
        // that, so half as many): the builder's start and the pool's hand-overs are then
        // a small part of each (the 20-minute pair, 0.2 s segments: 1.86 cores busy in 64
        // segments a half, 1.90 in 256).
        const FrameIndex perSegment = std::max<FrameIndex>(master.FrameCount / (count + 1), 1);
        const FrameIndex halfFrames = (FrameIndex{1} << 21) / (master.KeepsDepth() ? 2 : 1);
        const auto half = static_cast<std::size_t>(std::clamp<FrameIndex>(halfFrames / perSegment, 4, 512));
        std::vector<BuiltSegment> built(LogIsShown() ? 1 : 2 * half);
        for (int pass = 0; pass < 2 && !st.failed; ++pass) {
            if (pass == 1) {
                const std::uint64_t frameBytes = master.KeepsDepth() ? 2u * (master.BitsPerSample / 8u) : 4u;
                st.rf64 = NeedsRf64(static_cast<std::size_t>(master.DataOffset),
                                    frameBytes * static_cast<std::uint64_t>(st.measuredFrames));
                if (st.rf64) AddLog("●" + std::to_string(st.measuredFrames) + " frames pass 4 GiB: the file is written as RF64");
            }
            runPass(pass, in, edges, map, count, name, built, out, progress, st, result);
            if (st.largestLeft != 0) {
                st.level = static_cast<int>(static_cast<double>(in.slave().Peak) * 1000.0 / st.largestLeft);
                AddLog("*********************************");
                AddLog("maxvol=" + std::to_string(st.largestLeft));
                AddLog("R-PEAK=" + std::to_string(in.slave().Peak));
                AddLog("averageL=" + std::to_string(st.level));
            }
        }
        // A failure in the measuring pass leaves nothing worth keeping; one in the
        // writing pass leaves a valid file of the segments before it.
        if (!(st.failed && st.header.empty())) {
            if (st.header.empty()) throw SyncError(Msg::NoSegmentBuilt, job.MasterFile);
            if (whileSyncing && !st.failed) syncWhile(out, whileSyncing, result.searchedFrames);
            checkUnchanged(master, {&in.slaveFile, &in.slave()});
            out.Commit();
            check(out);
            result.written = true;
            result.file = name;
        }
    } catch (const std::exception& e) {
        result.error = FailureText(e);  // the caller shows and logs it
    }
    return result;
}

bool BandLimitedByDefault() { return SettingsReadText("TandemEnv", "INTERPOLATION", "") != "linear"; }

std::string SlaveOnMasterFileName(const SyncJob& job) {
    return ProgramFolder() + BaseName(job.SlaveFile) + "【" + BaseName(job.MasterFile) + "】.wav";
}

WriteResult WriteSlaveOnMaster(const SyncJob& job, SyncProgress& progress, const WriteResult& synchronised) {
    WriteResult result;
    const int count = StoredPoints(job.SlaveFile).count();
    result.points = count;
    if (count < 2) return result;
    const std::string name = SlaveOnMasterFileName(job);
    progress.SetMessageLine(MessageText(Msg::Making, name), 0);
    try {
        AtomicFile out(name);
        check(out);
        KWavefile master(job.MasterFile, kPlaceBoth, false);
        // A mono slave's one channel is read whole into the left.
        KWavefile slave(job.SlaveFile, kPlaceLeft, false);
        for (const KWavefile* file : {static_cast<const KWavefile*>(&master), static_cast<const KWavefile*>(&slave)})
            if (!file->Usable()) throw SyncError(Msg::NotUsable, file->FileName, file->Problem());
        if (!slave.LoadData()) throw SyncError(Msg::CannotLoad, slave.FileName, slave.LoadProblem());
        // At one rate the synchronised file's map serves as it is, knots and all; at
        // another (the synchronised file read a converted image) the map goes through the
        // points in the slave's own frames.
        const bool sameRate = slave.SampleRate == master.SampleRate;
        std::shared_ptr<const TimeMap> map = synchronised.map;
        if (!sameRate || !map) {
            // Points in each file's own frames: the map takes master frames to slave
            // frames, whatever the two rates.
            bool measured = false, whole = false;
            std::vector<double> exact = StoredPoints(job.SlaveFile).loadExact(count, &measured);
            // The job kept whole frames of its working rate, the master's.
            StoredPoints(job.SlaveFile, slave.SampleRate, master.SampleRate).loadExact(count, nullptr, &whole);
            auto own = std::make_shared<TimeMap>(StoredPoints(job.MasterFile).load(count), std::move(exact),
                                                 static_cast<FrameIndex>(kEdgeRatioSeconds * master.SampleRate),
                                                 measured ? SubFrameLineSpan(master.SampleRate) : 0.0);
            if (measured) {
                if (!master.LoadData()) throw SyncError(Msg::CannotLoad, master.FileName, master.LoadProblem());
                (whole ? AddRoomTrack : AddFineTrack)(master, slave, *own);
            }
            map = std::move(own);
        }

        const int channels = slave.Channels == 1 ? 1 : 2;
        const int bits = slave.BitsPerSample;
        const std::uint64_t frameBytes = static_cast<std::uint64_t>(channels) * static_cast<std::uint64_t>(bits / 8);
        const FrameIndex frames = master.FrameCount;
        const std::uint64_t dataBytes = frameBytes * static_cast<std::uint64_t>(frames);
        std::vector<std::uint8_t> header(static_cast<std::size_t>(slave.DataOffset));
        slave.MakeHeader(header.data(), channels, bits, static_cast<int>(master.SampleRate), frames, slave.Kind);
        if (NeedsRf64(header.size(), dataBytes)) SetRf64Sizes(header, dataBytes, static_cast<std::uint64_t>(frames));
        out.WriteAt(header.data(), header.size(), 0);
        check(out);

        constexpr FrameIndex kBlock = 1 << 16;
        StageBarState& bar = progress.StageBar(2);
        bar.Max.store(static_cast<int>((frames + kBlock - 1) / kBlock));
        std::vector<double> pos(static_cast<std::size_t>(kBlock));
        std::vector<WideFrame> read(pos.size());
        std::vector<std::uint8_t> bytes;
        for (FrameIndex at = 0; at < frames; at += kBlock) {
            const std::size_t n = static_cast<std::size_t>(std::min(kBlock, frames - at));
            const double fastest = map->Positions(at, n, pos.data());
            ReadAtPositions(slave, pos.data(), n, fastest, read.data());
            bytes.resize(n * frameBytes);
            EncodeFrames(read.data(), n, channels, bits, slave.Kind, bytes.data());
            out.WriteAt(bytes.data(), bytes.size(), static_cast<off_t>(header.size() + static_cast<std::uint64_t>(at) * frameBytes));
            check(out);
            bar.Advance();
        }
        checkUnchanged(master, {&slave});
        out.Commit();
        check(out);
        result.written = true;
        result.file = name;
        result.frames = frames;
    } catch (const std::exception& e) {
        result.error = FailureText(e);
        progress.SetMessageLine(result.error, 2);
        AddLog(result.error);
    }
    return result;
}

}  // namespace tandem
