// The remix dialog's arithmetic, without the dialog: the MixSettings block it edits,
// the grid cells, the click on the pan/volume picture and the picture's geometry.
// All arithmetic is integer with truncating division, as the picture was drawn before.
//
// Thread safety: pure functions; the block itself belongs to the main thread while the
// dialog is open.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "sync/SyncJob.h"

namespace tandem {

// Channels in MixSettings order: entries 2c (volume) and 2c + 1 (pan).
enum RemixChannel { kMasterL = 0, kMasterR = 1, kSlaveL = 2, kSlaveR = 3 };
constexpr int kVolumeMin = 0, kVolumeMax = 100;
constexpr int kPanMin = -90, kPanMax = 90;
// Grid rows holding the volumes and the pans; columns 1..4 are the channels.
constexpr int kVolumeRow = 1;
constexpr int kPanRow = 2;

enum class MouseButton { Left, Right, Middle };

// Channel colours as 0xRRGGBB: blue, red, lime, fuchsia.
constexpr std::array<unsigned, 4> kChannelColours{0x0000FF, 0xFF0000, 0x00FF00, 0xFF00FF};

// Decimal integer text ("-12", " 40 ", "+5"); anything else is 0. Numbers beyond the
// int range saturate (they are clamped to the channel ranges afterwards anyway).
int ParseCellValue(const std::string& text);

// A cell edit: row 1 sets the column's volume (0..100), row 2 its pan (-90..90).
// Other cells change nothing. Returns true when a value was stored.
bool SetCellText(MixSettings& mix, int column, int row, const std::string& text);
// Text of a grid cell: headers, row titles and the values in decimal.
std::string CellText(const MixSettings& mix, int column, int row);

// The channel a click sets: left button Master-L / Slave-L, right button Master-R /
// Slave-R (by the grid's current column: 1-2 master, 3-4 slave), middle button the
// current column's own channel.
RemixChannel ClickChannel(int gridColumn, MouseButton button);
// Pan and volume of a click at (x, y) in a picture of width x height, clamped.
int PanAtX(int x, int width);
int VolumeAtY(int y, int height);
// The whole click: stores pan and volume for the chosen channel.
void ClickPicture(MixSettings& mix, int gridColumn, MouseButton button, int x, int y, int width, int height);

struct PicturePoint {
    int x = 0;
    int y = 0;
};

// Where everything of the picture is drawn.
struct RemixPicture {
    int left = 10, top = 10, right = 0, bottom = 0;  // the frame
    int centreX = 0;                                  // dashed centre line
    std::vector<int> horizontalDotted;                // y of the dotted volume lines
    std::vector<int> verticalDotted;                  // x of the dotted pan lines
    std::array<PicturePoint, 4> points{};             // centre of each channel's dot
};

PicturePoint PointOf(int pan, int volume, int width, int height);
RemixPicture LayoutPicture(const MixSettings& mix, int width, int height);

}  // namespace tandem
