// DebugWindow: shows the debug log's lines while it records. It mirrors the engine's
// log (core/Log.h), which holds the lines and decides what is recorded; the window is
// shown by StartLog and hidden by SaveLogAndOpen, and closing it by hand stops the
// recording until the next StartLog.
//
// Thread safety: lines may be added on any thread; they reach ListBox1 through the main
// thread's event queue, in the order the log took them.
#pragma once

#include <QWidget>

#include "core/Log.h"

class QListWidget;

namespace tandem {

class TDebugWindow : public QWidget, private LogListener {
    Q_OBJECT
public:
    explicit TDebugWindow(QWidget* parent = nullptr);
    ~TDebugWindow() override;

    QListWidget* ListBox1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void LogLineAdded(const std::string& line) override;
    void LogCleared() override;
    void LogShown(bool shown) override;
};

// Opens a saved file with the desktop's program for it.
void OpenWithDesktop(const std::string& path);

}  // namespace tandem
