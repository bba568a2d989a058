#include "remix/TRemixForm.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/Translation.h"

namespace tandem {
namespace {

constexpr int kStripHeight = 18;
constexpr int kGridHeight = 49;     // at least: three rows and the frame
constexpr int kGridRowHeight = 14;  // at least; more where the font needs it
constexpr int kGridColumnWidth = 84;

QColor channelColour(int channel) {
    return QColor::fromRgb(static_cast<QRgb>(kChannelColours[static_cast<std::size_t>(channel)]));
}

// The grid's cells (StringGrid1's drawing and editing): column colours, highlight for
// the selected cell, text at (1, 1); an edit reaches the dialog with every keystroke.
class GridCells : public QStyledItemDelegate {
public:
    GridCells(TRemixForm& form, QObject* parent) : QStyledItemDelegate(parent), form_(form) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QPalette& palette = option.palette;
        QColor text = Qt::black;
        if (selected) {
            text = palette.color(QPalette::HighlightedText);
        } else if (index.column() >= 1 && index.column() <= 4) {
            text = channelColour(index.column() - 1);
        }
        painter->save();
        painter->fillRect(option.rect, selected ? palette.color(QPalette::Highlight) : QColor(Qt::white));
        painter->setPen(text);
        painter->setFont(option.font);
        const QRect r = option.rect.adjusted(1, 1, 0, 0);
        painter->drawText(r, Qt::AlignLeft | Qt::AlignTop, index.data().toString());
        painter->restore();
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            const int column = index.column();
            const int row = index.row();
            QObject::connect(line, &QLineEdit::textEdited, line,
                             [this, column, row](const QString& text) { form_.StringGrid1SetEditText(column, row, text); });
        }
        return editor;
    }

private:
    TRemixForm& form_;
};

QLabel* stripLabel(QWidget* parent, const QString& text, const QColor& colour, Qt::Alignment align) {
    auto* l = new QLabel(text, parent);
    l->setAlignment(align | Qt::AlignVCenter);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
    return l;
}

}  // namespace

RemixPictureView::RemixPictureView(TRemixForm& form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName("Image1");
}

void RemixPictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, Picture);
}

void RemixPictureView::resizeEvent(QResizeEvent*) { form_.RefreshView(false); }

void RemixPictureView::mouseReleaseEvent(QMouseEvent* event) {
    form_.Image1MouseUp(event->button(), event->position().toPoint().x(), event->position().toPoint().y());
}

TRemixForm::TRemixForm(QWidget* parent) : QDialog(parent) {
    setObjectName("RemixForm");
    setWindowTitle(tr("Remix Setting"));

    auto* vol = new QLabel(tr("VOL"), this);
    QFont bold = vol->font();
    bold.setBold(true);
    vol->setFont(bold);

    Image1 = new RemixPictureView(*this, this);

    auto* strip = new QWidget(this);
    strip->setFixedHeight(kStripHeight);
    strip->setAutoFillBackground(true);
    QPalette white = strip->palette();
    white.setColor(QPalette::Window, Qt::white);
    strip->setPalette(white);
    auto* stripRow = new QHBoxLayout(strip);
    stripRow->setContentsMargins(0, 0, 0, 0);
    stripRow->addWidget(stripLabel(strip, tr(" L"), Qt::blue, Qt::AlignLeft));
    stripRow->addWidget(stripLabel(strip, tr("PAN"), Qt::black, Qt::AlignHCenter), 1);
    stripRow->addWidget(stripLabel(strip, tr("R "), Qt::red, Qt::AlignRight));

    StringGrid1 = new QTableWidget(3, 5, this);
    StringGrid1->setObjectName("StringGrid1");
    // Rows of one line of the font: the dialog grows by what a larger font needs.
    const int rowHeight = std::max(kGridRowHeight, StringGrid1->fontMetrics().lineSpacing() + 2);
    const int grown = 3 * (rowHeight - kGridRowHeight);
    StringGrid1->setFixedHeight(kGridHeight + grown);
    JobName = new QLabel(this);
    JobName->setObjectName("JobName");
    JobName->setWordWrap(true);
    JobName->setMargin(4);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText(tr("作り直す"));
    Buttons->button(QDialogButtonBox::Cancel)->setText(tr("キャンセル"));
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Grown by the job's name (two lines) and the buttons.
    const int named = 2 * JobName->fontMetrics().lineSpacing() + 8 + Buttons->sizeHint().height() + 8;
    setFixedSize(kClientWidth, kClientHeight + grown + named);
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->horizontalHeader()->setMinimumSectionSize(1);
    StringGrid1->verticalHeader()->setMinimumSectionSize(1);
    StringGrid1->horizontalHeader()->setDefaultSectionSize(kGridColumnWidth);
    StringGrid1->verticalHeader()->setDefaultSectionSize(rowHeight);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                                 QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    StringGrid1->setItemDelegate(new GridCells(*this, StringGrid1));
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 5; ++column) {
            auto* cell = new QTableWidgetItem();
            // Row 0 and column 0 are the fixed titles.
            if (row == 0 || column == 0) cell->setFlags(Qt::ItemIsEnabled);
            StringGrid1->setItem(row, column, cell);
        }
    }
    connect(StringGrid1, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* cell) {
        if (!refilling_) StringGrid1SetEditText(cell->column(), cell->row(), cell->text());
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(vol);
    layout->addWidget(Image1, 1);
    layout->addWidget(strip);
    layout->addWidget(StringGrid1);
    layout->addWidget(JobName);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(4, 0, 4, 4);
    buttonRow->addWidget(Buttons);
    layout->addLayout(buttonRow);
    // Size the picture now, so that the first drawing has the dialog's own size.
    layout->activate();

    StringGrid1->setCurrentCell(kVolumeRow, 1);
    RefreshView(true);
}

int TRemixForm::ShowModal(const QString& job) {
    if (QWidget* owner = parentWidget()) {
        const QRect frame = owner->frameGeometry();
        move(frame.center() - QPoint(width() / 2, height() / 2));
    }
    JobName->setText(job);
    JobName->setToolTip(job);
    const MixSettings before = mix_;
    RefreshView(true);
    const int result = exec();
    if (result != QDialog::Accepted) {
        mix_ = before;
        RefreshView(true);
    }
    return result;
}

void TRemixForm::RefreshView(bool refillGrid) {
    if (!StringGrid1) return;  // still being built
    if (refillGrid) {
        refilling_ = true;
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 5; ++column)
                StringGrid1->item(row, column)->setText(QString::fromStdString(CellText(mix_, column, row)));
        }
        refilling_ = false;
    }

    const int w = Image1->width();
    const int h = Image1->height();
    QImage picture(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32);
    picture.fill(Qt::white);
    const RemixPicture layout = LayoutPicture(mix_, w, h);
    QPainter p(&picture);
    p.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    p.drawPolyline(QPolygon({QPoint(layout.left, layout.top), QPoint(layout.left, layout.bottom),
                             QPoint(layout.right, layout.bottom), QPoint(layout.right, layout.top),
                             QPoint(layout.left, layout.top)}));
    p.setPen(QPen(Qt::black, 1, Qt::DashLine));
    p.drawLine(layout.centreX, layout.top, layout.centreX, layout.bottom);
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    for (const int y : layout.horizontalDotted) p.drawLine(layout.left, y, layout.right, y);
    for (const int x : layout.verticalDotted) p.drawLine(x, layout.top, x, layout.bottom);

    for (int c = 0; c < 4; ++c) {
        const PicturePoint at = layout.points[static_cast<std::size_t>(c)];
        p.setPen(QPen(channelColour(c), 2));
        p.setBrush(channelColour(c));
        p.drawEllipse(QRect(at.x - 3, at.y - 3, 6, 6));
        if (c == kMasterR || c == kSlaveR) {
            // Each file's two channels are joined: blue for the master, red for the slave.
            const PicturePoint from = layout.points[static_cast<std::size_t>(c - 1)];
            p.setPen(QPen(c == kMasterR ? Qt::blue : Qt::red, 2));
            p.drawLine(from.x, from.y, at.x, at.y);
        }
    }
    p.end();
    Image1->Picture = picture;
    Image1->update();
}

void TRemixForm::StringGrid1SetEditText(int column, int row, const QString& text) {
    if (SetCellText(mix_, column, row, text.toStdString())) RefreshView(false);
}

void TRemixForm::Image1MouseUp(Qt::MouseButton button, int x, int y) {
    MouseButton which = MouseButton::Left;
    if (button == Qt::RightButton) {
        which = MouseButton::Right;
    } else if (button == Qt::MiddleButton) {
        which = MouseButton::Middle;
    } else if (button != Qt::LeftButton) {
        return;
    }
    ClickPicture(mix_, StringGrid1->currentColumn(), which, x, y, Image1->width(), Image1->height());
    RefreshView(true);
}

}  // namespace tandem
