#include "sync/JobPresets.h"

#include "sync/SyncJob.h"

namespace tandem {

JobParameters ParametersForLevel(int level, bool debugMode, ExpertValues expert, int bandLow, int bandHigh) {
    JobParameters p;
    p.expert = expert;
    if (!debugMode) {
        switch (level) {
            case kLevelFew: p.expert.baseStep = 1; p.expert.rangeE = 100; break;
            case kLevelNormal: p.expert.baseStep = 2; p.expert.rangeE = 200; break;
            case kLevelMany: p.expert.baseStep = 3; p.expert.rangeS = 4410; p.expert.rangeE = 200; break;
            case kLevelBT: p.expert.baseStep = 3; p.expert.rangeE = 150; break;
            default: break;
        }
    }
    p.eqLow = bandLow < 100 ? 0 : bandLow;
    p.eqHigh = bandHigh > 12000 ? 0 : bandHigh;
    p.mode = kModeSingle;
    p.channelFlag = 0;
    if (level == kLevelMany) {
        if (p.eqLow == 0) p.eqLow = 500;
        if (p.eqHigh == 0) p.eqHigh = 2000;
        p.mode = kModeRetry;
    } else if (level == kLevelBT) {
        if (p.eqLow == 0) p.eqLow = 100;
        if (p.eqHigh == 0) p.eqHigh = 1000;
        p.channelFlag = 1;
        p.mode = kModeLookAhead;
    }
    return p;
}

int ParseLevel(const std::string& text) {
    if (text == "0" || text == "少") return kLevelFew;
    if (text == "1" || text == "普") return kLevelNormal;
    if (text == "2" || text == "多") return kLevelMany;
    if (text == "3" || text == "BT" || text == "bt") return kLevelBT;
    return -1;
}

}  // namespace tandem
