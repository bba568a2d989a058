// A message line that never widens its window: the text wraps over at most a given
// number of lines (anywhere, as Japanese does) and the last one is shortened with "…";
// the whole text is the tooltip.
//
// Thread safety: main thread only.
#pragma once

#include <QLabel>

namespace tandem {

class FitLabel : public QLabel {
    Q_OBJECT
public:
    explicit FitLabel(int maxLines = 1, Qt::TextElideMode elide = Qt::ElideRight, QWidget* parent = nullptr);

    // The text and its tooltip; true when it changed.
    bool SetMessage(const QString& text);
    // Whether the text as it stands needs more room than the label has.
    bool Shortened() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The lines as drawn into width.
    QStringList shownLines(int width) const;
    int maxLines_;
    Qt::TextElideMode elide_;
};

}  // namespace tandem
