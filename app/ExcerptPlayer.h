// The excerpt player of the desktop program: plays a WAVE image through Qt Multimedia
// and returns when it has been played, as the listening buttons expect. Without an
// audio output device (or one that cannot take 16-bit stereo at the image's rate) it plays
// nothing, says nothing and returns at once.
//
// Thread safety: main thread only. While the excerpt plays, timers keep running but
// the windows take no user input.
#pragma once

#include "eq/Excerpt.h"

namespace tandem {

class AudioExcerptPlayer : public ExcerptPlayer {
public:
    void Play(const WaveImage& image) override;
};

}  // namespace tandem
