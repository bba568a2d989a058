// Shows the engine's alerts ("Data may be broken." and the others) as modal message
// boxes on the main thread. An alert raised on the worker waits until the box is
// dismissed, as the engine expects; once the bridge is closed, waiting workers are
// released and later alerts go to stderr, so shutting down never waits on a box.
//
// Thread safety: construct, Close and destroy on the main thread; alerts may come from
// any thread.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace tandem {

class AlertBridge : public QObject {
public:
    using Presenter = std::function<void(const QString& text)>;

    // Installs itself as the engine's alert handler. present shows one alert and returns
    // when the user dismissed it (default: a modal QMessageBox).
    explicit AlertBridge(Presenter present = {});
    ~AlertBridge() override;

    // Uninstalls the handler and releases any worker waiting for a box.
    void Close();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace tandem
