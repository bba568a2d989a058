#include "app/FitLabel.h"

#include <QPainter>
#include <QStyle>
#include <QTextLayout>

namespace tandem {

FitLabel::FitLabel(int maxLines, Qt::TextElideMode elide, QWidget* parent)
    : QLabel(parent), maxLines_(std::max(maxLines, 1)), elide_(elide) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

bool FitLabel::SetMessage(const QString& text) {
    setToolTip(text);
    if (text == this->text()) return false;
    setText(text);
    return true;
}

QSize FitLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    return {80, maxLines_ * fontMetrics().lineSpacing() + 1 + m.top() + m.bottom()};
}

QSize FitLabel::minimumSizeHint() const { return {0, sizeHint().height()}; }

QStringList FitLabel::shownLines(int width) const {
    QString text = this->text();
    text.replace('\n', ' ');
    const QFontMetrics fm = fontMetrics();
    QStringList lines;
    if (maxLines_ == 1) {
        lines << fm.elidedText(text, elide_, width);
        return lines;
    }
    QTextLayout layout(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (lines.size() + 1 == maxLines_) {
            lines << fm.elidedText(text.mid(line.textStart()), Qt::ElideRight, width);
            break;
        }
        lines << text.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    return lines;
}

bool FitLabel::Shortened() const {
    const QStringList lines = shownLines(contentsRect().width());
    QString text = this->text();
    text.replace('\n', ' ');
    return lines.join(QString()) != text;
}

void FitLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const QRect r = contentsRect();
    const int spacing = fontMetrics().lineSpacing();
    int y = r.top();
    for (const QString& line : shownLines(r.width())) {
        p.drawText(QRect(r.left(), y, r.width(), spacing), int(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter,
                   line);
        y += spacing;
    }
}

}  // namespace tandem
