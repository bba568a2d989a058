// Fonts of the windows: the families the layout names, then a Japanese font that a
// Linux desktop has, so that the Japanese texts render.
#pragma once

#include <QFont>
#include <QStringList>

namespace tandem {

inline QFont UiFont(QStringList families, int pixelSize) {
    families << "Noto Sans CJK JP";
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    return font;
}

}  // namespace tandem
