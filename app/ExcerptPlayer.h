// The excerpt player of the desktop program: plays a WAVE image through Qt Multimedia
// and returns when it has been played or the user stopped it, as the listening buttons
// expect. Without an audio output device (or one that cannot take 16-bit stereo at the
// image's rate) it plays nothing and returns at once; Notice tells the window either way.
//
// Thread safety: main thread only. While the excerpt plays, a small modal window shows
// how far it has got and offers 停止 (Esc too); the other windows take no input.
#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QProgressDialog>

#include "eq/Excerpt.h"

namespace tandem {

// The window shown while an excerpt plays: a bar that follows the time played and a
// stop button. exec() returns once Finished() is called or the user stops.
class PlaybackDialog : public QProgressDialog {
    Q_OBJECT
public:
    PlaybackDialog(QWidget* parent, int milliseconds);
    void Finished();
    bool Stopped() const { return stopped_; }
    void reject() override;  // Esc

private:
    QElapsedTimer clock_;
    bool stopped_ = false;
    bool finished_ = false;
};

class AudioExcerptPlayer : public ExcerptPlayer {
public:
    enum class State { Playing, Played, NoDevice };
    void Play(const WaveImage& image) override;
    // Called as playing starts and ends, or when there is nothing to play it on.
    std::function<void(State state, int seconds)> Notice;
};

}  // namespace tandem
