// A scratch program folder with its own qzv.ini, and helpers to run jobs on generated pairs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/ScratchSettings.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"
#include "sync/KSyncThread.h"
#include "sync/SyntheticPair.h"

namespace tandem::test {

class SyncFixture : public ScratchSettings {
protected:
    // Writes the pair as master.wav / slave.wav in the scratch folder.
    void writePair(const SyntheticPair& pair, const std::string& masterName = "master.wav",
                   const std::string& slaveName = "slave.wav") {
        master = dir.file(masterName);
        slave = dir.file(slaveName);
        WriteStereoWave(master, pair.master);
        WriteStereoWave(slave, pair.slave);
    }

    // A synchronisation job at the 普 presets unless told otherwise.
    JobOutcome runJob(int options = 0, int baseStep = 2, int rangeS = 800, int rangeE = 200, int mode = kModeSingle,
                      FrameIndex masterSkip = 0, FrameIndex slaveSkip = 0, FrameIndex dpLimit = 0) {
        KSyncThread thread(job, progress,
                           JobRequest{.master = master, .slave = slave, .baseStep = baseStep, .masterSkipFrames = masterSkip,
                                      .slaveSkipFrames = slaveSkip, .rangeS = rangeS, .rangeE = rangeE,
                                      .stopPointFrames = dpLimit, .mode = mode, .options = options});
        return thread.Execute();
    }

    int count(const std::string& file) const { return SettingsReadInt(file, "Count", 0); }
    FrameIndex point(const std::string& file, int n) const { return SettingsReadInt(file, "DP" + std::to_string(n), 0); }

    // |found - true| slave position of every stored pair of points inside the master.
    std::vector<double> pointErrors(const SyntheticPair& pair) const {
        std::vector<double> errors;
        const int n = std::min(count(master), count(slave));
        for (int i = 0; i < n; ++i) {
            const FrameIndex m = point(master, i);
            if (m >= static_cast<FrameIndex>(pair.master.size())) continue;
            errors.push_back(std::fabs(static_cast<double>(point(slave, i)) - pair.SlavePositionOf(static_cast<double>(m))));
        }
        return errors;
    }

    static double shareWithin(const std::vector<double>& errors, double limit) {
        if (errors.empty()) return 0.0;
        return static_cast<double>(std::count_if(errors.begin(), errors.end(), [&](double e) { return e <= limit; })) /
               static_cast<double>(errors.size());
    }

    std::string master, slave;
    SyncJob job;
    SyncProgress progress;
};

}  // namespace tandem::test
