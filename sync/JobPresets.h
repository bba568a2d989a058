// What the Start button (and `tandem-cli sync`) hands to a job for a 相異点 level:
// the division interval and search ranges (forced outside debug mode), the band
// (edges below 100 Hz / above 12000 Hz count as none; 多 and BT bring their own band
// when none is set), the search mode and the mono placement.
#pragma once

#include <string>

namespace tandem {

enum DiffLevel { kLevelFew = 0, kLevelNormal = 1, kLevelMany = 2, kLevelBT = 3 };

struct ExpertValues {
    int baseStep = 2;  // 0.1 s
    int rangeS = 800;
    int rangeE = 300;
};

struct JobParameters {
    ExpertValues expert;  // as the expert fields show them after the start
    int eqLow = 0;
    int eqHigh = 0;
    int mode = 11;
    int channelFlag = 0;
};

JobParameters ParametersForLevel(int level, bool debugMode, ExpertValues expert, int bandLow, int bandHigh);

// "0".."3" or 少 普 多 BT -> level; -1 when not recognised.
int ParseLevel(const std::string& text);

}  // namespace tandem
