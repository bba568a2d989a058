// Writes the README's pictures of the windows: the main window during a job and after a
// stopped one, the job list, the remix dialog, and the ends of three real jobs on
// generated pairs (in step, an unrelated pair that is not, one stopped), in the language
// of --lang (ja or en) and at the scale of QT_SCALE_FACTOR. scripts/screenshots.sh runs
// it under Xvfb for both languages at 100 % and 150 %. The settings and the pairs live in
// a scratch folder.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPixmap>
#include <QProgressBar>
#include <QSpinBox>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

#include "app/ProgressDisplay.h"
#include "app/TTandemForm.h"
#include "core/ProgramFolder.h"
#include "joblist/TJobListForm.h"
#include "remix/TRemixForm.h"
#include "settings/Settings.h"
#include "sync/SyntheticPair.h"
#include "ui/Translation.h"

namespace {

// Fewer colours, smaller files: the windows have few.
bool save(QWidget& w, const QString& path) {
    w.show();
    QCoreApplication::processEvents();
    const QImage image = w.grab().toImage().convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    if (image.save(path, "PNG", 9)) return true;
    std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
    return false;
}

void waitWhile(const std::function<bool()>& busy) {
    QElapsedTimer guard;
    guard.start();
    while (busy() && guard.elapsed() < 300000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Runs the window's job on master and slave to its end, stopping it after stopAfter
// stored points (0: no stop), and lets the timer wind the display up.
void runJob(tandem::TTandemForm& form, const QString& master, const QString& slave, int stopAfter) {
    form.MasterChosen(master);
    form.SlaveChosen(slave);
    form.cbBackGround->setChecked(false);
    form.BtnSyncStart->click();
    if (stopAfter > 0) {
        waitWhile([&] { return form.Running() && tandem::SettingsReadInt(slave.toStdString(), "Count", 0) < stopAfter; });
        form.BtnSyncStart->click();
    }
    waitWhile([&] { return form.Running() || form.Run().Busy(); });
    form.TimerTick(tandem::TickCountMs());
    QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: tandem-screenshots ja|en|locale OUT-PREFIX\n");
        return 2;
    }
    tandem::Language language = tandem::Language::Japanese;
    if (!tandem::ParseLanguage(args[1] == "locale" ? QString() : args[1], QLocale(), &language)) return 2;
    tandem::InstallLanguage(language);
    // A Japanese desktop's font for the texts the layout gives no font of their own.
    QFont font("Noto Sans CJK JP");
    font.setPixelSize(12);
    QApplication::setFont(font);
    const QString out = args[2];

    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", scratch.path().toLocal8Bit());
    tandem::SetProgramFolder(scratch.path().toStdString());
    tandem::TTandemForm form;
    tandem::TJobListForm jobList(&form);
    form.AttachJobList(&jobList, nullptr);
    bool ok = true;

    if (args[1] == "locale") {
        // The file dialog as Start shows it when no master is chosen: its buttons in the
        // locale's language.
        QFileDialog dialog(&form, form.tr("基準ファイルの選択"), scratch.path());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        return save(dialog, out + "file-dialog.png") ? 0 : 1;
    }

    const QString music = QDir::homePath() + "/music/";
    form.fnMaster->SetPath(music + "concert_2019-05-12_hall.wav");
    form.fnSlave->SetPath(music + "concert_2019-05-12_stage_mic.wav");
    form.SetDiffIndex(1);
    form.seSlaveSkipCount->setValue(12);
    form.LabelMsg1->setText(tandem::EndOfJobLine([] {
                                tandem::JobOutcome o;
                                o.stopped = o.stoppedByUser = o.outputWritten = true;
                                o.pointCount = 412;
                                o.outputFile = "【concert_2019-05-12_hall】-【concert_2019-05-12_stage_mic】.wav";
                                return o;
                            }())
                                .value_or(QString()));
    form.PanelProgress->show();
    form.StaticText[0]->setText(tandem::ElapsedText(4));
    form.StaticText[1]->setText(tandem::RemainingText(90));
    form.ProgressBar[0]->setValue(100);
    form.ProgressBar[1]->setValue(55);
    ok = save(form, out + "main-window.png") && ok;

    for (int i = 0; i < 3; ++i)
        jobList.AddJob({(music + "concert_2019-05-12_hall.wav").toStdString(),
                        (music + "concert_2019-05-12_stage_mic.wav").toStdString(), i, 3000 * i, 12});
    jobList.AddJob({(music + "rehearsal_take3.wav").toStdString(), (music + "rehearsal_take3_phone.wav").toStdString(), 3,
                    0, 0});
    jobList.ListBox1->item(1)->setSelected(true);
    ok = save(jobList, out + "job-list.png") && ok;

    tandem::TRemixForm remix(&form);
    remix.JobName->setText(form.tr("%1 と %2 の同期ファイルを、この音量とパンで作り直します")
                               .arg("concert_2019-05-12_hall.wav", "concert_2019-05-12_stage_mic.wav"));
    ok = save(remix, out + "remix-dialog.png") && ok;

    // The ends of real jobs: a pair with a drifting clock and three pauses in the slave,
    // a slave of other music, and the first pair stopped part way.
    tandem::SyntheticPairSpec spec;
    spec.seconds = 40;
    spec.gaps = {{12.0, 1.0}, {22.0, 0.8}, {31.0, 1.2}};
    const tandem::SyntheticPair pair = tandem::MakeSyntheticPair(spec);
    spec.seed = 99;
    spec.gaps.clear();
    const tandem::SyntheticPair other = tandem::MakeSyntheticPair(spec);
    const QString folder = scratch.path() + "/";
    tandem::WriteStereoWave((folder + "hall.wav").toStdString(), pair.master);
    tandem::WriteStereoWave((folder + "stage_mic.wav").toStdString(), pair.slave);
    tandem::WriteStereoWave((folder + "other_concert.wav").toStdString(), other.slave);
    // The stopped job on a copy, so that it starts without the first job's points.
    tandem::WriteStereoWave((folder + "hall_2.wav").toStdString(), pair.master);
    tandem::WriteStereoWave((folder + "stage_mic_2.wav").toStdString(), pair.slave);
    runJob(form, folder + "hall.wav", folder + "stage_mic.wav", 0);
    ok = save(form, out + "end-in-step.png") && ok;
    runJob(form, folder + "hall.wav", folder + "other_concert.wav", 0);
    ok = save(form, out + "end-not-in-step.png") && ok;
    runJob(form, folder + "hall_2.wav", folder + "stage_mic_2.wav", 60);
    ok = save(form, out + "end-stopped.png") && ok;
    tandem::SettingsReset();
    return ok ? 0 : 1;
}
