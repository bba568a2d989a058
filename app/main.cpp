// tandem: the desktop program. Start-up: the main window (which opens the settings),
// then the hidden debug log window, the job list and the remix dialog; the message loop
// runs until the main window closes.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <string>

#include "app/AlertBridge.h"
#include "app/TDebugWindow.h"
#include "app/TTandemForm.h"
#include "ui/Translation.h"
#include "core/Error.h"
#include "core/Log.h"
#include "core/ProgramFolder.h"
#include "joblist/TJobListForm.h"
#include "remix/TRemixForm.h"
#include "settings/Settings.h"

namespace {

// The value of --lang, looked for before the parser runs, so that its own texts (--help)
// are already in the chosen language.
QString forcedLanguage(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--lang" && i + 1 < arguments.size()) return arguments[i + 1];
        if (arguments[i].startsWith("--lang=")) return arguments[i].mid(7);
    }
    return {};
}

void complain(const QString& text) { std::fprintf(stderr, "tandem: %s\n", text.toLocal8Bit().constData()); }

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tandem");
    QApplication::setApplicationVersion("1.5");

    tandem::Language language = tandem::Language::Japanese;
    if (!tandem::ParseLanguage(forcedLanguage(QApplication::arguments()), QLocale(), &language)) {
        std::fprintf(stderr, "tandem: --lang takes ja or en\n");
        return 2;
    }
    if (!tandem::InstallLanguage(language)) complain(QCoreApplication::translate("main", "翻訳を読み込めませんでした"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate("main", "2つの録音を同期させます。"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dirOption(
        "dir",
        QCoreApplication::translate("main", "qzv.ini、back.jpg と結果を置くプログラムフォルダ（既定：実行ファイルのフォルダ）"),
        "DIR");
    parser.addOption(dirOption);
    const QCommandLineOption langOption(
        "lang", QCoreApplication::translate("main", "表示言語：ja（日本語）または en（英語）。既定はロケールによる"), "ja|en");
    parser.addOption(langOption);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        complain(QCoreApplication::translate("main", "余分な引数 '%1' があります（--help を参照）")
                     .arg(parser.positionalArguments().front()));
        return 2;
    }
    if (parser.isSet(dirOption)) {
        const QFileInfo dir(parser.value(dirOption));
        if (!dir.isDir()) {
            complain(QCoreApplication::translate("main", "--dir %1：そのフォルダはありません").arg(parser.value(dirOption)));
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
            debugWindow.SetCompanion(&form);
            tandem::SetLogOpener(tandem::OpenWithDesktop);
            form.show();
            status = QApplication::exec();
            // From here on no worker may wait for a box nobody can answer.
            alerts.Close();
        }
        std::string why;
        if (!tandem::SettingsFlush(&why)) {
            complain(QString::fromStdString(why));
            status = status == 0 ? 1 : status;
        }
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Tandem", QString::fromStdString(tandem::FailureText(e)));
        return 1;
    }
    return status;
}
