// tandem: the desktop program. Start-up: the main window (which opens the settings),
// then the hidden debug log window, the job list and the remix dialog; the message loop
// runs until the main window closes.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <string>

#include "app/AlertBridge.h"
#include "app/TDebugWindow.h"
#include "app/TTandemForm.h"
#include "core/Log.h"
#include "core/ProgramFolder.h"
#include "joblist/TJobListForm.h"
#include "remix/TRemixForm.h"
#include "settings/Settings.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tandem");
    QApplication::setApplicationVersion("1.5");

    QCommandLineParser parser;
    parser.setApplicationDescription("Puts two recordings of the same material in step.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dirOption(
        "dir", "Program folder for qzv.ini, back.jpg and the results (default: the executable's folder).", "DIR");
    parser.addOption(dirOption);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tandem: unexpected argument '%s' (see --help)\n",
                     parser.positionalArguments().front().toLocal8Bit().constData());
        return 2;
    }
    if (parser.isSet(dirOption)) {
        const QFileInfo dir(parser.value(dirOption));
        if (!dir.isDir()) {
            std::fprintf(stderr, "tandem: --dir %s: no such folder\n", parser.value(dirOption).toLocal8Bit().constData());
            return 2;
        }
        tandem::SetProgramFolder(dir.absoluteFilePath().toStdString());
    }

    int status = 0;
    try {
        tandem::AlertBridge alerts;
        {
            tandem::TTandemForm form;
            tandem::TDebugWindow debugWindow;
            // The job list reads the history from the settings the main window opened.
            tandem::TJobListForm jobList(&form);
            tandem::TRemixForm remix(&form);
            form.AttachJobList(&jobList, &remix);
            tandem::SetLogOpener(tandem::OpenWithDesktop);
            form.show();
            status = QApplication::exec();
            // From here on no worker may wait for a box nobody can answer.
            alerts.Close();
        }
        std::string why;
        if (!tandem::SettingsFlush(&why)) {
            std::fprintf(stderr, "tandem: %s\n", why.c_str());
            status = status == 0 ? 1 : status;
        }
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Tandem", QString::fromStdString(e.what()));
        return 1;
    }
    return status;
}
