#include "joblist/JobResults.h"

#include <chrono>

#include "core/Log.h"
#include "joblist/JobHistory.h"
#include "settings/Settings.h"
#include "sync/KSyncThread.h"

namespace tandem {
namespace {

const char* const kSection = "JobResults";
constexpr int kRunning = -1;

std::vector<JobResult> readAll() {
    std::vector<JobResult> out;
    const int n = std::min(std::max(SettingsReadInt(kSection, "Items", 0), 0), kJobCapacity);
    for (int i = 0; i < n; ++i) {
        const std::string k = std::to_string(i);
        JobResult r;
        r.master = SettingsReadText(kSection, "MASTER" + k, "");
        r.slave = SettingsReadText(kSection, "SLAVE" + k, "");
        r.masterSkip = SettingsReadInt(kSection, "SKIPMASTER" + k, 0);
        try {
            r.when = std::stoll(SettingsReadText(kSection, "WHEN" + k, "0"));
        } catch (const std::exception&) {
            r.when = 0;
        }
        const int code = SettingsReadInt(kSection, "RESULT" + k, 0);
        r.running = code == kRunning;
        if (code >= static_cast<int>(Verdict::None) && code <= static_cast<int>(Verdict::Written))
            r.verdict = static_cast<Verdict>(code);
        if (!r.master.empty()) out.push_back(std::move(r));
    }
    return out;
}

void writeAll(const std::vector<JobResult>& records) {
    int i = 0;
    for (const JobResult& r : records) {
        const std::string k = std::to_string(i);
        SettingsWriteText(kSection, "MASTER" + k, r.master);
        SettingsWriteText(kSection, "SLAVE" + k, r.slave);
        SettingsWriteInt(kSection, "SKIPMASTER" + k, r.masterSkip);
        SettingsWriteText(kSection, "WHEN" + k, std::to_string(r.when));
        SettingsWriteInt(kSection, "RESULT" + k, r.running ? kRunning : static_cast<int>(r.verdict));
        if (++i == kJobCapacity) break;
    }
    SettingsWriteInt(kSection, "Items", i);
}

void store(JobResult record) {
    record.when =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::string why;
    const bool ok = SettingsUpdate(
        kSection,
        [&] {
            std::vector<JobResult> records = readAll();
            std::erase_if(records, [&](const JobResult& r) {
                return r.master == record.master && r.slave == record.slave && r.masterSkip == record.masterSkip;
            });
            records.insert(records.begin(), record);
            writeAll(records);
        },
        &why);
    // The result column is a convenience: a store that cannot be written costs the job nothing.
    if (!ok) AddLog("job results: " + why);
}

}  // namespace

Verdict VerdictOf(const JobOutcome& outcome) {
    if (outcome.stoppedByUser) return Verdict::Stopped;
    if (!outcome.outputWritten) return Verdict::Failed;
    if (outcome.checked) return outcome.inStep ? Verdict::InStep : Verdict::NotInStep;
    return outcome.error.empty() ? Verdict::Written : Verdict::Failed;
}

void StoreJobStart(const std::string& master, const std::string& slave, int masterSkip) {
    store({master, slave, masterSkip, 0, true, Verdict::None});
}

void StoreJobResult(const std::string& master, const std::string& slave, int masterSkip, Verdict verdict) {
    store({master, slave, masterSkip, 0, false, verdict});
}

std::vector<JobResult> LoadJobResults() { return readAll(); }

const JobResult* FindJobResult(const std::vector<JobResult>& results, const std::string& master,
                               const std::string& slave, int masterSkip) {
    for (const JobResult& r : results) {
        if (r.master == master && r.slave == slave && r.masterSkip == masterSkip) return &r;
    }
    return nullptr;
}

}  // namespace tandem
