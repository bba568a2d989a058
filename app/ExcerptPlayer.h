// The excerpt player of the desktop program: plays a WAVE image through Qt Multimedia
// and returns when it has been played, as the listening buttons expect. Without an
// audio output device (or one that cannot take 16-bit stereo at the image's rate) it plays
// nothing and returns at once; Notice tells the window either way.
//
// Thread safety: main thread only. While the excerpt plays, timers keep running but
// the windows take no user input.
#pragma once

#include <functional>

#include "eq/Excerpt.h"

namespace tandem {

class AudioExcerptPlayer : public ExcerptPlayer {
public:
    enum class State { Playing, Played, NoDevice };
    void Play(const WaveImage& image) override;
    // Called as playing starts and ends, or when there is nothing to play it on.
    std::function<void(State state, int seconds)> Notice;
};

}  // namespace tandem
