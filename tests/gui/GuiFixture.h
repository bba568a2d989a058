// A scratch program folder with its own qzv.ini and per-user file, a main window built
// on it, and helpers to answer its dialogs and wait for its jobs.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/TTandemForm.h"
#include "common/TestWave.h"
#include "core/Log.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"
#include "sync/SyntheticPair.h"

namespace tandem::test {

class GuiFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        SettingsReset();
        SetProgramFolder(dir.path());
        SetLogOpener([this](const std::string& path) { opened.push_back(path); });
    }

    void TearDown() override {
        form.reset();
        HideLog();
        SetLogOpener({});
        SettingsReset();
    }

    // Writes qzv.ini before the window opens it.
    void writeIni(const std::string& text) {
        std::ofstream out(dir.file("qzv.ini"), std::ios::binary);
        out << text;
    }

    void openWindow(JobHistoryLink* history = nullptr) {
        form = std::make_unique<TTandemForm>(history);
        form->ShowMessage = [this](const QString& text) { messages << text; };
        form->ChooseFile = [this](const QString& title) {
            titles << title;
            return answers.isEmpty() ? QString() : answers.takeFirst();
        };
    }

    // A short generated pair as master.wav / slave.wav.
    void writePair(double seconds) {
        SyntheticPairSpec spec;
        spec.seconds = seconds;
        const SyntheticPair pair = MakeSyntheticPair(spec);
        master = dir.file("master.wav");
        slave = dir.file("slave.wav");
        WriteStereoWave(master, pair.master);
        WriteStereoWave(slave, pair.slave);
    }

    // The window on a generated pair, its job at normal priority.
    void openWithPair(double seconds) {
        writePair(seconds);
        openWindow();
        form->MasterChosen(QString::fromStdString(master));
        form->SlaveChosen(QString::fromStdString(slave));
        // At the lowest priority the worker would wait behind every busy process.
        form->cbBackGround->setChecked(false);
    }

    // Processes events until the job has ended (a generous guard, not a timing check).
    bool waitForJob() {
        QElapsedTimer guard;
        guard.start();
        while ((form->Running() || form->Run().Busy()) && guard.elapsed() < 300000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return !form->Running() && !form->Run().Busy();
    }

    std::string iniText() const {
        std::ifstream in(dir.file("qzv.ini"), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    TempDir dir;
    std::unique_ptr<TTandemForm> form;
    QStringList messages;
    QStringList titles;
    QStringList answers;
    std::vector<std::string> opened;
    std::string master, slave;
};

}  // namespace tandem::test
