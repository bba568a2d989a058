// libFuzzer target: the readers of the track's and the check's CSV text.
//
// The input is split at its first NUL into a Track.csv and a Check.csv text. Checked:
// a text is read or refused with an EngineError, nothing else escapes; what is read
// gives a picture of finite values whose off stretches are ordered and not empty.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Error.h"
#include "sync/TrackData.h"

using namespace tandem;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_track: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string track = input.substr(0, nul);
    const std::string checks = nul == std::string::npos ? std::string() : input.substr(nul + 1);
    TrackPicture picture;
    try {
        picture = MakeTrackPicture(track, checks, {0, 4410, 8830}, {0, 4400, 8900}, 44100);
    } catch (const EngineError&) {
        return 0;
    }
    for (const TrackPoint& p : picture.ratePpm) check(std::isfinite(p.masterS) && std::isfinite(p.value), "rate");
    for (const TrackPoint& p : picture.lagFrames) check(std::isfinite(p.masterS) && std::isfinite(p.value), "lag");
    double last = -INFINITY;
    for (const TrackStretch& s : picture.off) {
        check(s.fromS < s.toS, "empty stretch");
        check(s.fromS >= last || !std::isfinite(last), "stretches out of order");
        last = s.toS;
    }
    return 0;
}
