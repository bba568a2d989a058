// What the main window's two source files share: text conversions, the settings
// section, the file labels' placeholders.
#pragma once

#include <QCoreApplication>
#include <QColor>
#include <QFileInfo>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <string>

namespace tandem::form {
// The labels' texts before a file is chosen. They are stored as they are (qzv.ini keeps
// the label's text) and translated only where they are shown.
inline const char* const kMasterPlaceholder = QT_TRANSLATE_NOOP("tandem::TTandemForm", "基準にするWAVEファイル");
inline const char* const kSlavePlaceholder = QT_TRANSLATE_NOOP("tandem::TTandemForm", "同期させるWAVEファイル");
inline const char* const kEnv = "TandemEnv";
inline constexpr int kTopHeight = 81;
inline constexpr int kProgressHeight = 62;

inline QString toQ(const std::string& text) { return QString::fromStdString(text); }
inline std::string toStd(const QString& text) { return text.toStdString(); }

inline bool isFile(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

inline std::string withSlash(const QString& dir) {
    std::string out = toStd(dir);
    if (out.empty() || out.back() != '/') out += '/';
    return out;
}

inline QString folderOf(const QString& path) {
    const QString dir = QFileInfo(path).absolutePath();
    return dir.isEmpty() ? QStringLiteral("/") : dir;
}

inline void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    widget->setPalette(p);
}

}  // namespace tandem::form
