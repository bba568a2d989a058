#include "joblist/JobRegistry.h"

#include <algorithm>

#include "core/Log.h"
#include "joblist/JobHistory.h"
#include "settings/Settings.h"

namespace tandem {

void RegisterJob(const std::string& master, const std::string& slave, int level, int masterSkip, int slaveSkip) {
    JobHistory history;
    history.LoadJobs();
    history.AddJob(master, slave, level, masterSkip, slaveSkip);
    CheckSpecialList(master);
    CheckSpecialList(slave);
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
