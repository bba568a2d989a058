#include "app/TDebugWindow.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/Fonts.h"

namespace tandem {

namespace {

class FixedHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), 12};
    }
};

}  // namespace

TDebugWindow::TDebugWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("DebugWindow");
    setWindowTitle("DebugWindow");
    // The log window never keeps the program alive once the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(UiFont({"ＭＳ Ｐゴシック"}, 12));
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new FixedHeightDelegate(ListBox1));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListBox1);
    resize(666, 540);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    // Lines recorded before the window existed (none in the program; possible in tests).
    for (const std::string& line : LogLines()) ListBox1->addItem(QString::fromStdString(line));
    SetLogListener(this);
    if (LogIsShown()) show();
}

TDebugWindow::~TDebugWindow() { SetLogListener(nullptr); }

void TDebugWindow::closeEvent(QCloseEvent* event) {
    HideLog();
    QWidget::closeEvent(event);
}

// The three callbacks run with the log's lock held, possibly on the worker: queue.
void TDebugWindow::LogLineAdded(const std::string& line) {
    QMetaObject::invokeMethod(
        this, [this, text = QString::fromStdString(line)] { ListBox1->addItem(text); }, Qt::QueuedConnection);
}

void TDebugWindow::LogCleared() {
    QMetaObject::invokeMethod(this, [this] { ListBox1->clear(); }, Qt::QueuedConnection);
}

void TDebugWindow::LogShown(bool shown) {
    QMetaObject::invokeMethod(this, [this, shown] { setVisible(shown); }, Qt::QueuedConnection);
}

void OpenWithDesktop(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace tandem
