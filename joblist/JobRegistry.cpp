#include "joblist/JobRegistry.h"

#include <algorithm>

#include "core/Log.h"
#include "joblist/JobHistory.h"
#include "settings/Settings.h"

namespace tandem {

bool RegisterJob(const std::string& master, const std::string& slave, int level, int masterSkip, int slaveSkip,
                 std::string* why) {
    JobHistory history;
    history.LoadJobs();
    if (history.AddJob(master, slave, level, masterSkip, slaveSkip, why) < 0) return false;
    CheckSpecialList(master);
    CheckSpecialList(slave);
    return true;
}

void CheckSpecialList(const std::string& path) {
    AddLog("CheckSpecialList:" + path);
    const int n = std::max(SettingsReadInt("SpecialList", "Items", 0), 0);
    for (int i = 0; i < n; ++i) {
        if (SettingsReadText("SpecialList", "Item" + std::to_string(i), "") == path) return;
    }
    SettingsWriteText("SpecialList", "Item" + std::to_string(n), path);
    SettingsWriteInt("SpecialList", "Items", n + 1);
}

std::vector<std::string> HistoryLines() {
    JobHistory history;
    history.LoadJobs(false);
    return history.ListLines();
}

}  // namespace tandem
