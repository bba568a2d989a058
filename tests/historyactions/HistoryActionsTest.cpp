// The history actions end to end on generated recordings: a batch that synchronises one
// recording in two parts, and the output of a stored job rebuilt with remix settings.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "joblist/JobBatch.h"
#include "remix/RemixSettings.h"
#include "sync/JobPresets.h"
#include "sync/SyncFixture.h"

namespace tandem::test {
namespace {

class HistoryActions : public SyncFixture {
protected:
    // What the Start button does with a loaded entry: register it again, take the stop
    // point of a batch job, apply the presets of its level and run it.
    JobOutcome startLikeTheWindow(const JobEntry& entry) {
        history.AddJob(entry.MasterFile, entry.SlaveFile, entry.DiffLevel, entry.MasterSkipCount,
                       entry.SlaveSkipCount);
        stopPoint = batch.StopPoint(history, entry.MasterFile, entry.SlaveFile, entry.MasterSkipCount, stopPoint);
        stopPoints.push_back(stopPoint);
        const JobParameters p = ParametersForLevel(entry.DiffLevel, false, ExpertValues{}, 50, 20000);
        JobRequest request{.master = entry.MasterFile,
                           .slave = entry.SlaveFile,
                           .masterSkipFrames = entry.MasterSkipCount * kTenthFrames,
                           .slaveSkipFrames = entry.SlaveSkipCount * kTenthFrames,
                           .stopPointFrames = stopPoint * kTenthFrames};
        ApplyLevel(request, p);
        KSyncThread thread(job, progress, request);
        return thread.Execute();
    }

    JobHistory history;
    JobBatch batch;
    int stopPoint = 0;  // the expert panel's 検索中断ポイント, 0.1 s
    std::vector<int> stopPoints;
};

TEST_F(HistoryActions, batch_of_two_parts_stops_the_first_at_the_second_lead_in_and_ends_with_cursor_0) {
    // A long recording is cut into parts at a pause: 7.6 s .. 8.6 s of the material, which
    // is 8.1 s .. 9.1 s into the master. The second part's lead-ins lie in that pause.
    SyntheticPairSpec spec;
    spec.seconds = 16.0;
    spec.silences = {{7.6, 8.6}};
    const SyntheticPair pair = MakeSyntheticPair(spec);
    writePair(pair);
    const int secondPart = 83;
    const int slaveLeadIn = static_cast<int>(std::lround(pair.SlavePositionOf(secondPart * kTenthFrames) / kTenthFrames));
    history.AddJob(master, slave, kLevelNormal, secondPart, slaveLeadIn);
    history.AddJob(master, slave, kLevelNormal, 0, 0);
    history.AddJob(dir.file("other.wav"), slave, kLevelNormal, 0, 0);  // not selected

    const int result = history.TakeSelection({0, 1}, kTagRetry);
    ASSERT_EQ(result, 2);
    HistoryStep step = batch.AfterJobList(history, result);
    ASSERT_TRUE(step.start);
    ASSERT_EQ(step.load, 0);

    std::vector<int> masterPointsAfter;
    std::vector<FrameIndex> lastMasterPoint;
    for (int next = step.load; next >= 0; next = batch.Continue(history)) {
        const JobOutcome outcome = startLikeTheWindow(history.Entry(next));
        ASSERT_TRUE(outcome.error.empty()) << outcome.error;
        masterPointsAfter.push_back(count(slave));
        lastMasterPoint.push_back(point(master, count(slave) - 1));
        ASSERT_LE(masterPointsAfter.size(), 2u) << "the batch must end";
    }
    EXPECT_EQ(batch.BatchCursor, 0);
    ASSERT_EQ(stopPoints, (std::vector<int>{secondPart, 0}));

    // The first part ends with the first segment past its stop point.
    EXPECT_GE(lastMasterPoint[0], secondPart * kTenthFrames);
    EXPECT_LT(lastMasterPoint[0], secondPart * kTenthFrames + 2 * kSampleRate);
    // The second part carries on to the end of the recording.
    EXPECT_GT(masterPointsAfter[1], masterPointsAfter[0]);
    EXPECT_GT(lastMasterPoint[1], static_cast<FrameIndex>(pair.master.size()) - 2 * kSampleRate);
    const std::vector<double> errors = pointErrors(pair);
    EXPECT_GE(shareWithin(errors, 2.0), 0.95) << "the two parts join into one accurate list";
}

// Correlation of an output channel with a source channel.
double agreement(const std::vector<Frame>& out, const std::vector<Frame>& source, bool outLeft, bool sourceLeft) {
    double sum = 0;
    const std::size_t n = std::min(out.size(), source.size());
    for (std::size_t i = 0; i < n; ++i)
        sum += static_cast<double>(outLeft ? out[i].left : out[i].right) * (sourceLeft ? source[i].left : source[i].right);
    return sum;
}

std::vector<Frame> framesOf(const std::string& path) {
    const std::vector<std::uint8_t> b = ReadFileBytes(path);
    std::vector<Frame> frames(b.size() > 44 ? (b.size() - 44) / 4 : 0);
    if (!frames.empty()) std::memcpy(frames.data(), b.data() + 44, frames.size() * 4);
    return frames;
}

TEST_F(HistoryActions, remix_rebuilds_the_stored_job_with_the_dialog_settings) {
    // Master and slave hold the same material, the right channel inverted at half level,
    // with stored points at 1 s and 2 s.
    const std::vector<double> v = MusicLike(3 * kSampleRate, 5);
    std::vector<Frame> frames(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) frames[i] = Frame{ToSample(v[i]), ToSample(-0.5 * v[i])};
    master = dir.file("m.wav");
    slave = dir.file("s.wav");
    WriteStereoWave(master, frames);
    WriteStereoWave(slave, frames);
    for (const std::string& file : {master, slave}) {
        SettingsWriteInt(file, "DP0", kSampleRate);
        SettingsWriteInt(file, "DP1", 2 * kSampleRate);
        SettingsWriteInt(file, "Count", 2);
    }
    history.AddJob(master, slave, kLevelNormal, 0, 0);
    ASSERT_EQ(batch.AfterJobList(history, history.TakeSelection({0}, kTagRemix)).remix, true);
    const int entry = batch.RemixEntry(history);
    ASSERT_EQ(entry, 0);
    auto rebuild = [&](const MixSettings& mix) {
        KSyncThread thread(job, progress, history.Entry(entry).MasterFile, history.Entry(entry).SlaveFile, mix);
        const JobOutcome outcome = thread.Execute();
        EXPECT_TRUE(outcome.outputWritten) << outcome.error;
        return framesOf(outcome.outputFile);
    };

    // Every volume typed as 0: a silent file.
    MixSettings mix = kDefaultMix;
    for (int column = 1; column <= 4; ++column) SetCellText(mix, column, kVolumeRow, "0");
    const std::vector<Frame> silent = rebuild(mix);
    ASSERT_EQ(silent.size(), frames.size());
    for (const Frame& f : silent) ASSERT_TRUE(f.left == 0 && f.right == 0);

    // The master's pans swapped by clicks at the picture's edges, the slave muted.
    mix = kDefaultMix;
    const int w = 428, h = 149;
    ClickPicture(mix, 1, MouseButton::Left, w - 10, 10, w, h);   // Master-L full right
    ClickPicture(mix, 1, MouseButton::Right, 10, 10, w, h);      // Master-R full left
    SetCellText(mix, 3, kVolumeRow, "0");
    SetCellText(mix, 4, kVolumeRow, "0");
    ASSERT_EQ(mix, (MixSettings{100, 90, 100, -90, 0, 90, 0, 90}));
    const std::vector<Frame> swapped = rebuild(mix);
    EXPECT_GT(agreement(swapped, frames, true, false), 0) << "left follows the master's right";
    EXPECT_LT(agreement(swapped, frames, true, true), 0);
    EXPECT_GT(agreement(swapped, frames, false, true), 0) << "right follows the master's left";

    const std::vector<Frame> standard = rebuild(kDefaultMix);
    EXPECT_GT(agreement(standard, frames, true, true), 0) << "the default mix: master (L + R) / 2 on the left";
}

}  // namespace
}  // namespace tandem::test
