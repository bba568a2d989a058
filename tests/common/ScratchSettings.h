// A scratch folder as the program folder, with its own qzv.ini and per-user file, for
// tests that use the settings store.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/TestWave.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"

namespace tandem::test {

class ScratchSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        SettingsReset();
        SetProgramFolder(dir.path());
        SettingsOpen(dir.file("qzv.ini"));
    }
    void TearDown() override { SettingsReset(); }

    TempDir dir;
};

}  // namespace tandem::test
