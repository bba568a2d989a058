#include "app/TDebugWindow.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/Fonts.h"

namespace tandem {

namespace {

// One line of the font per row (a fixed 12 pixels cut descenders and underscores).
class FontHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), option.fontMetrics.lineSpacing() + 1};
    }
};

}  // namespace

TDebugWindow::TDebugWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("DebugWindow");
    setWindowTitle(tr("DebugWindow"));
    // The log window never keeps the program alive once the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(UiFont({"ＭＳ Ｐゴシック"}, 12));
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new FontHeightDelegate(ListBox1));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListBox1);
    resize(666, 540);
    // Lines recorded before the window existed (none in the program; possible in tests).
    for (const std::string& line : LogLines()) ListBox1->addItem(QString::fromStdString(line));
    SetLogListener(this);
    if (LogIsShown()) showBeside(true);
}

TDebugWindow::~TDebugWindow() { SetLogListener(nullptr); }

QRect TDebugWindow::PlaceBeside(const QRect& companion, const QSize& size, const QRect& screen) {
    const int top = std::clamp(companion.top(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    if (companion.right() + 1 + size.width() <= screen.right() + 1) return {QPoint(companion.right() + 1, top), size};
    if (companion.left() - size.width() >= screen.left()) return {QPoint(companion.left() - size.width(), top), size};
    return {screen.center() - QPoint(size.width() / 2, size.height() / 2), size};
}

void TDebugWindow::showBeside(bool shown) {
    if (shown && !isVisible()) {
        const QScreen* screen = companion_ ? companion_->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect companion = companion_ ? companion_->frameGeometry() : QRect();
            const QRect area = screen->availableGeometry();
            const QRect place = companion_ ? PlaceBeside(companion, frameGeometry().size(), area)
                                           : QRect(area.center() - rect().center(), size());
            move(place.topLeft());
        }
    }
    setVisible(shown);
}

void TDebugWindow::closeEvent(QCloseEvent* event) {
    HideLog();
    QWidget::closeEvent(event);
}

// The three callbacks run with the log's lock held, possibly on the worker. Lines are
// collected and handed to the list in one batch per turn of the event loop, so that a
// flood of lines costs one layout pass per batch instead of one per line.
void TDebugWindow::LogLineAdded(const std::string& line) {
    std::lock_guard lock(pendingMutex_);
    pending_.append(QString::fromStdString(line));
    if (flushPosted_) return;
    flushPosted_ = true;
    QMetaObject::invokeMethod(this, [this] { takePending(); }, Qt::QueuedConnection);
}

void TDebugWindow::LogCleared() {
    std::lock_guard lock(pendingMutex_);
    pending_.clear();
    clearPending_ = true;
    if (flushPosted_) return;
    flushPosted_ = true;
    QMetaObject::invokeMethod(this, [this] { takePending(); }, Qt::QueuedConnection);
}

void TDebugWindow::takePending() {
    QStringList lines;
    bool clear = false;
    {
        std::lock_guard lock(pendingMutex_);
        lines.swap(pending_);
        clear = clearPending_;
        clearPending_ = false;
        flushPosted_ = false;
    }
    QScrollBar* bar = ListBox1->verticalScrollBar();
    // Follow the end unless the user has scrolled up to read.
    const bool follow = clear || bar->value() >= bar->maximum();
    if (clear) ListBox1->clear();
    ListBox1->addItems(lines);
    if (follow) ListBox1->scrollToBottom();
}

void TDebugWindow::LogShown(bool shown) {
    QMetaObject::invokeMethod(this, [this, shown] { showBeside(shown); }, Qt::QueuedConnection);
}

void OpenWithDesktop(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace tandem
