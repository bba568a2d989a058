// The picture of a job's track, drawn with QPainter: above, the rate of the slave
// against the master in ppm along the master's time, with the track's events (pauses,
// lost material, corrections) as marks; below, the check's lag per window in frames.
// Stretches that are off are shaded over both. The window draws it in its result panel;
// tandem-cli --plot writes it as a PNG file.
//
// Thread safety: main thread only (fonts); the painter's device may be an image.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QRect>
#include <QString>

#include <optional>
#include <string>

#include "sync/TrackData.h"

namespace tandem {

// The picture's words, in the front end's language.
struct TrackPlotTexts {
    QString rate = "rate (ppm)";
    QString lag = "lag (frames)";
    QString seconds = "s";
    QString pause = "pause";
    QString lost = "lost";
    QString correction = "correction";
    QString held = "held";
    QString off = "off";
    QString empty = "no data";

    // From the front end's nine source words, in the order above, through its translation.
    template <class Translate>
    static TrackPlotTexts From(const char* const (&words)[9], Translate translate) {
        TrackPlotTexts t;
        QString* fields[] = {&t.rate, &t.lag, &t.seconds, &t.pause, &t.lost, &t.correction, &t.held, &t.off, &t.empty};
        for (int i = 0; i < 9; ++i) *fields[i] = translate(words[i]);
        return t;
    }
};

void PaintTrack(QPainter& painter, const QRect& area, const TrackPicture& picture, const TrackPlotTexts& texts);

// The picture on a white image of the given size.
QImage TrackImage(const TrackPicture& picture, QSize size, const TrackPlotTexts& texts, const QFont& font);

// Writes the image as a PNG file (through AtomicFile); false and *why on failure.
bool SaveTrackPng(const QImage& image, const std::string& path, std::string* why);

// The stretch shaded under x (a position within area, drawn in the font of fm), if any.
std::optional<TrackStretch> StretchAt(const QRect& area, const TrackPicture& picture, const QFontMetrics& fm, int x);

}  // namespace tandem
