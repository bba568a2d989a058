// DebugWindow: shows the debug log's lines while it records. It mirrors the engine's
// log (core/Log.h), which holds the lines and decides what is recorded; the window is
// shown by StartLog and hidden by SaveLogAndOpen, and closing it by hand stops the
// recording until the next StartLog.
//
// Thread safety: lines may be added on any thread; they are collected under a lock and
// reach ListBox1 in batches on the main thread, in the order the log took them.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <mutex>

#include "core/Log.h"

class QListWidget;

namespace tandem {

class TDebugWindow : public QWidget, private LogListener {
    Q_OBJECT
public:
    explicit TDebugWindow(QWidget* parent = nullptr);
    ~TDebugWindow() override;

    // The window opens beside this one (the main window) where the screen has room, so
    // that progress and STOP stay in view.
    void SetCompanion(QWidget* companion) { companion_ = companion; }
    // Where the window goes when shown: beside the companion if the screen allows, else
    // centred on the screen.
    static QRect PlaceBeside(const QRect& companionFrame, const QSize& size, const QRect& screen);

    QListWidget* ListBox1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void LogLineAdded(const std::string& line) override;
    void LogCleared() override;
    void LogShown(bool shown) override;
    void takePending();
    void showBeside(bool shown);

    QPointer<QWidget> companion_;
    std::mutex pendingMutex_;
    QStringList pending_;
    bool clearPending_ = false;
    bool flushPosted_ = false;
};

// Opens a saved file with the desktop's program for it.
void OpenWithDesktop(const std::string& path);

}  // namespace tandem
