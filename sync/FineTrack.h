// The time map's fine track: the slave's delay against the master measured every 5 ms
// along the map, and added to it.
//
// The points come every 0.2 s or more: a cubic through them cannot follow a tape's
// flutter (the evaluation kit's cassette: 0.06 % at 3 Hz moves the slave +-1.4 frames,
// 0.012 % at 10 Hz +-0.08), and a point measured over a tenth of a second carries its
// window's noise. Along the map the slave is read band-limited and fitted to the master
// in short windows as master ~ a * slave + b * slave' + c * x * slave' (its derivative,
// and that times the distance from the window's centre), a delay of b / a frames and
// its change across the window c / a, both signals high-passed at 150 Hz first (bass that
// a slave's band may lack would fail the windows). Each window's line is read at its
// neighbours (its slope as far as the slopes about it stand above their noise), smoothed
// by its precision, shrunk by how far the map is off there (learnt from the delays'
// spread beyond their noise: a clean clock's map through the points is often closer than
// a window can tell) and added to the map, again where the map still moves, up to eight
// times (the fit is linear in the delay: under a tape's flutter the first pass leaves a
// tenth of its error).
// Where the slave explains less than half of the master's energy in a window (a far
// microphone's reverberation, another sound, silence), the fit follows reflections
// more than the clock and the window counts for nothing. Breaks (a pause, lost
// material) get no fine offsets.
//
// Thread safety: reads both files (which must be loaded); runs its windows on the pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tandem {

class KWavefile;
class TimeMap;

// master/slave: the files as the map reads them (the slave at the master's rate or in
// its own frames, as the map gives). Sets the map's fine offsets.
void AddFineTrack(KWavefile& master, KWavefile& slave, TimeMap& map);

// The room track, for a far microphone whose points keep whole frames (its reflections
// outweigh the direct sound, and a plain correlation's fraction is theirs): every 0.5 s
// the slave's direct sound is placed against the master over +-1 s along the map by the
// whitened cross-spectrum's peak, and the map is taken through those positions, three
// times, each pass reading along the last (the first along the points' map smoothed over
// the windows). Windows that touch a break, have no clear peak, leave the line through
// their neighbours' (a rate that curves within them) or read the slave less alike to
// the master than the points' map does keep the points' map. Same arguments as
// AddFineTrack; sets the map's fine offsets.
void AddRoomTrack(KWavefile& master, KWavefile& slave, TimeMap& map);

// The fit's sums over sub-blocks of H frames: the master m[q H + u] against the slave
// s[q H + u + 1] and its derivative (s[q H + u + 2] - s[q H + u]) / 2, for sub-blocks
// q in [0, blocks), each product times u^0 and u^1, and the slope terms' u^2 and u^3 (a
// triangular window is linear within a sub-block, the window times the distance from
// the centre quadratic, times its square cubic). Sums in vector lanes, one sub-block a
// lane, each in the order of the plain loop: bit for bit its result.
struct FineMoments {
    enum Product { LL, LR, LD, RR, RD, DD, kProducts };
    double p[kProducts][2];     // u^0, u^1 of every product
    double ld2, rd2, dd2, dd3;  // u^2 of l d, r d, d d; u^3 of d d
};
void FineTrackMoments(const float* m, const float* s, std::size_t H, std::size_t blocks, std::vector<FineMoments>& out);

// The 150 Hz high-pass both signals get before the fit (second-order Butterworth).
// FineHighPassLanes filters up to kFineFilterLanes signals p[c][0..len[c]) in place side
// by side, each bit for bit as filtered alone.
struct FineHighPass {
    explicit FineHighPass(std::uint32_t rate);
    double b0, b1, b2, a1, a2;
};
constexpr int kFineFilterLanes = 8;
void FineHighPassLanes(const FineHighPass& f, float* const* p, const std::size_t* len, int chains);

}  // namespace tandem
