#include "app/AlertBridge.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "ui/Translation.h"
#include "core/Alert.h"

namespace tandem {

struct AlertBridge::Shared {
    std::mutex mutex;
    std::condition_variable answered;
    bool closed = false;
    std::uint64_t posted = 0;
    std::uint64_t done = 0;
    QObject* mainContext = nullptr;  // valid while !closed
    QThread* mainThread = nullptr;
    Presenter present;

    void show(const std::string& text) {
        const QString message = QString::fromStdString(text);
        std::unique_lock lock(mutex);
        if (!closed && QThread::currentThread() == mainThread) {
            lock.unlock();
            present(message);
            return;
        }
        if (closed) {
            std::fprintf(stderr, "tandem: %s\n", text.c_str());
            return;
        }
        const std::uint64_t ticket = ++posted;
        // Posting under the lock: Close() takes it before the context object goes away.
        QMetaObject::invokeMethod(
            mainContext,
            [this, message] {
                present(message);
                std::lock_guard doneLock(mutex);
                ++done;
                answered.notify_all();
            },
            Qt::QueuedConnection);
        answered.wait(lock, [&] { return closed || done >= ticket; });
    }
};

AlertBridge::AlertBridge(Presenter present) : shared_(std::make_shared<Shared>()) {
    shared_->mainContext = this;
    shared_->mainThread = thread();
    shared_->present = present ? std::move(present) : [](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    };
    std::shared_ptr<Shared> shared = shared_;
    SetAlertHandler([shared](const std::string& text) { shared->show(text); });
}

AlertBridge::~AlertBridge() { Close(); }

void AlertBridge::Close() {
    SetAlertHandler({});
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
    shared_->answered.notify_all();
}

}  // namespace tandem
