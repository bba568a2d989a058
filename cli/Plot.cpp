// tandem-cli --plot: the track's picture drawn as the window draws it, on Qt's offscreen
// platform so that no display is needed.
#include <QFont>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/Commands.h"
#include "cli/Messages.h"
#include "core/Error.h"
#include "sync/TrackData.h"
#include "ui/TrackPlot.h"

namespace tandem::cli {

bool WritePlot(const std::string& trackCsv, const std::string& checkCsv, const std::string& master,
               const std::string& slave, const std::string& path) {
    TrackPicture picture;
    try {
        picture = JobTrackPicture(trackCsv, checkCsv, master, slave);
    } catch (const EngineError& e) {
        std::fprintf(stderr, "tandem-cli: %s\n", FailureText(e).c_str());
        return false;
    }
    std::unique_ptr<QGuiApplication> app;
    if (!QGuiApplication::instance()) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "tandem-cli";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    static const char* const words[9] = {N_("rate (ppm)"), N_("lag (frames)"), N_("s"),   N_("pause"),  N_("lost"),
                                         N_("correction"), N_("held"),         N_("off"), N_("no data")};
    const TrackPlotTexts texts = TrackPlotTexts::From(words, [](const char* w) { return QString::fromUtf8(_(w)); });
    QFont font;
    font.setPixelSize(12);
    std::string why;
    if (!SaveTrackPng(TrackImage(picture, QSize(960, 360), texts, font), path, &why)) {
        std::fprintf(stderr, "tandem-cli: %s\n", why.c_str());
        return false;
    }
    std::printf(_("picture of the track: %s\n"), path.c_str());
    return true;
}

}  // namespace tandem::cli
