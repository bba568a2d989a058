#include "remix/RemixSettings.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace tandem {
namespace {

constexpr std::array<const char*, 5> kHeaders{"", "Master-L", "Master-R", "Slave-L", "Slave-R"};

bool isSpace(char c) { return c == ' ' || c == '\t'; }

// A picture narrower than its 10-pixel margins has no scale; one pixel keeps the
// arithmetic defined.
int span(int extent) { return std::max(extent - 20, 1); }

}  // namespace

int ParseCellValue(const std::string& text) {
    std::size_t i = 0;
    std::size_t end = text.size();
    while (i < end && isSpace(text[i])) ++i;
    while (end > i && isSpace(text[end - 1])) --end;
    bool negative = false;
    if (i < end && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == end) return 0;
    long long value = 0;
    for (; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return 0;
        value = std::min<long long>(value * 10 + (c - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

bool SetCellText(MixSettings& mix, int column, int row, const std::string& text) {
    if (column < 1 || column > 4) return false;
    const auto channel = static_cast<std::size_t>(column - 1);
    const int value = ParseCellValue(text);
    if (row == kVolumeRow) {
        mix[2 * channel] = std::clamp(value, kVolumeMin, kVolumeMax);
        return true;
    }
    if (row == kPanRow) {
        mix[2 * channel + 1] = std::clamp(value, kPanMin, kPanMax);
        return true;
    }
    return false;
}

std::string CellText(const MixSettings& mix, int column, int row) {
    if (column < 0 || column > 4) return {};
    if (row == 0) return kHeaders[static_cast<std::size_t>(column)];
    if (column == 0) {
        if (row == kVolumeRow) return "Volume";
        if (row == kPanRow) return "Panpot";
        return {};
    }
    const auto channel = static_cast<std::size_t>(column - 1);
    if (row == kVolumeRow) return std::to_string(mix[2 * channel]);
    if (row == kPanRow) return std::to_string(mix[2 * channel + 1]);
    return {};
}

RemixChannel ClickChannel(int gridColumn, MouseButton button) {
    const int column = std::clamp(gridColumn, 1, 4);
    const bool slave = column >= 3;
    switch (button) {
        case MouseButton::Left: return slave ? kSlaveL : kMasterL;
        case MouseButton::Right: return slave ? kSlaveR : kMasterR;
        case MouseButton::Middle: break;
    }
    return static_cast<RemixChannel>(column - 1);
}

int PanAtX(int x, int width) { return std::clamp((x * 180 - 1800) / span(width) - 90, kPanMin, kPanMax); }

int VolumeAtY(int y, int height) {
    return std::clamp((height - 10 - y) * 100 / span(height), kVolumeMin, kVolumeMax);
}

void ClickPicture(MixSettings& mix, int gridColumn, MouseButton button, int x, int y, int width, int height) {
    const auto channel = static_cast<std::size_t>(ClickChannel(gridColumn, button));
    mix[2 * channel] = VolumeAtY(y, height);
    mix[2 * channel + 1] = PanAtX(x, width);
}

PicturePoint PointOf(int pan, int volume, int width, int height) {
    return {(pan + 90) * (width - 20) / 180 + 10, (100 - volume) * (height - 20) / 100 + 10};
}

RemixPicture LayoutPicture(const MixSettings& mix, int width, int height) {
    RemixPicture p;
    p.right = width - 10;
    p.bottom = height - 10;
    p.centreX = width / 2;
    const int w = width - 20;
    const int h = height - 20;
    for (int i = 1; i <= 9; ++i) p.horizontalDotted.push_back(i * h / 10 + 10);
    for (const int i : {1, 2, 4, 5}) p.verticalDotted.push_back(i * w / 6 + 10);
    for (std::size_t c = 0; c < 4; ++c) p.points[c] = PointOf(mix[2 * c + 1], mix[2 * c], width, height);
    return p;
}

}  // namespace tandem
