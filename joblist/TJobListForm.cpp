#include "joblist/TJobListForm.h"

#include <QAction>
#include <QDateTime>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/Fonts.h"
#include "ui/Translation.h"

namespace tandem {
namespace {

constexpr int kButtonRowHeight = 30;
constexpr int kLineHeight = 13;  // at least; more where the font needs it
// The list's own columns beside the job's line: when it last ran and what it came to.
constexpr int kWhenRole = Qt::UserRole;
constexpr int kResultRole = Qt::UserRole + 1;
constexpr int kColumnGap = 8;

// Draws the job's line, elided where the two columns on the right need the room.
class JobLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QString when = index.data(kWhenRole).toString();
        const QString result = index.data(kResultRole).toString();
        const QFontMetrics& fm = option.fontMetrics;
        const int whenWidth = fm.horizontalAdvance(QStringLiteral("0000/00/00 00:00"));
        const int resultWidth = fm.horizontalAdvance(result) + kColumnGap;
        QStyleOptionViewItem line = option;
        initStyleOption(&line, index);
        const QRect all = option.rect;
        line.rect.setRight(all.right() - whenWidth - resultWidth - kColumnGap);
        line.textElideMode = Qt::ElideMiddle;
        QStyledItemDelegate::paint(painter, line, index);
        // The columns share the line's selection background and colour.
        painter->save();
        QRect rest(line.rect.right() + 1, all.top(), all.right() - line.rect.right(), all.height());
        if (option.state & QStyle::State_Selected) painter->fillRect(rest, option.palette.highlight());
        const QBrush text = index.data(Qt::ForegroundRole).isValid() && !(option.state & QStyle::State_Selected)
                                ? index.data(Qt::ForegroundRole).value<QBrush>()
                                : option.palette.brush(option.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                                              : QPalette::Text);
        painter->setPen(text.color());
        painter->setFont(option.font);
        rest.adjust(kColumnGap, 0, 0, 0);
        painter->drawText(QRect(rest.left(), rest.top(), whenWidth, rest.height()), Qt::AlignLeft | Qt::AlignVCenter,
                          when);
        painter->drawText(QRect(rest.left() + whenWidth, rest.top(), rest.width() - whenWidth - 2, rest.height()),
                          Qt::AlignRight | Qt::AlignVCenter, result);
        painter->restore();
    }
};

QString whenText(std::int64_t when) {
    if (when <= 0) return {};
    const QDateTime at = QDateTime::fromSecsSinceEpoch(when).toLocalTime();
    const bool thisYear = at.date().year() == QDate::currentDate().year();
    return at.toString(thisYear ? QStringLiteral("MM/dd HH:mm") : QStringLiteral("yyyy/MM/dd"));
}

}  // namespace

QString TJobListForm::ResultText(const JobResult* result) {
    if (!result) return tr("未実行");
    if (result->running) return tr("未完了");
    switch (result->verdict) {
    case Verdict::InStep: return tr("同期済み");
    case Verdict::NotInStep: return tr("同期していません");
    case Verdict::Stopped: return tr("停止");
    case Verdict::Failed: return tr("失敗");
    case Verdict::Written: return tr("作成済み");
    case Verdict::None: break;
    }
    return tr("未実行");
}

namespace {

QPushButton* bitButton(QWidget* parent, const char* name, const QString& text, QStyle::StandardPixmap icon, int tag) {
    auto* b = new QPushButton(parent->style()->standardIcon(icon), text, parent);
    b->setObjectName(name);
    b->setProperty("tag", tag);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

TJobListForm::TJobListForm(QWidget* parent) : QDialog(parent) {
    setObjectName("JobListForm");
    setWindowTitle(tr("Job List"));
    setFont(UiFont({"Tahoma"}, 11));
    // The date and result columns want more room than the list line alone; the window
    // may be made larger, never smaller than its first size.
    setMinimumSize(kClientWidth, kClientHeight);
    resize(kWideWidth, kClientHeight);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListBox1->setItemDelegate(new JobLineDelegate(ListBox1));
    auto* menu = new QMenu(ListBox1);
    QAction* deleteAction = menu->addAction(tr("&Delete"));
    connect(deleteAction, &QAction::triggered, this, &TJobListForm::DeleteClick);
    connect(ListBox1, &QWidget::customContextMenuRequested, this,
            [this, menu](const QPoint& at) { menu->popup(ListBox1->viewport()->mapToGlobal(at)); });

    auto* buttonRow = new QWidget(this);
    buttonRow->setFixedHeight(kButtonRowHeight);
    BitBtn4 = bitButton(buttonRow, "BitBtn4", tr("Remix"), QStyle::SP_DialogOkButton, kTagRemix);
    BitBtn1 = bitButton(buttonRow, "BitBtn1", tr("再試行(&R)"), QStyle::SP_BrowserReload, kTagRetry);
    BitBtn3 = bitButton(buttonRow, "BitBtn3", tr("選択"), QStyle::SP_DialogOkButton, kTagSelect);
    BitBtn2 = bitButton(buttonRow, "BitBtn2", tr("キャンセル"), QStyle::SP_DialogCancelButton, 0);
    BitBtn4->setFixedWidth(64);
    BitBtn1->setFixedWidth(88);
    BitBtn2->setFixedWidth(121);
    for (QPushButton* b : {BitBtn4, BitBtn1, BitBtn3}) {
        connect(b, &QPushButton::clicked, this, [this, b] { ActionButtonClick(b->property("tag").toInt()); });
    }
    connect(BitBtn2, &QPushButton::clicked, this, &TJobListForm::reject);

    auto* row = new QHBoxLayout(buttonRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(BitBtn4);
    row->addWidget(BitBtn1);
    row->addWidget(BitBtn3, 1);
    row->addWidget(BitBtn2);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ListBox1, 1);
    layout->addWidget(buttonRow);

    history_.LoadJobs();
    RefreshList();
}

void TJobListForm::RefreshList() {
    setResult(0);
    ListBox1->clear();
    const int lineHeight = std::max(kLineHeight, ListBox1->fontMetrics().lineSpacing() + 1);
    for (int k = 0; k < history_.UsedCount(); ++k) {
        const JobEntry& entry = history_.Entry(k);
        const std::string line = JobListLine(entry, LevelName(entry.DiffLevel).toStdString());
        auto* item = new QListWidgetItem(QString::fromStdString(line), ListBox1);
        item->setSizeHint(QSize(0, lineHeight));
    }
    showResults();
}

void TJobListForm::showResults() {
    const std::vector<JobResult> results = LoadJobResults();
    for (int k = 0; k < ListBox1->count() && k < history_.UsedCount(); ++k) {
        const JobEntry& entry = history_.Entry(k);
        QListWidgetItem* item = ListBox1->item(k);
        const JobResult* result = FindJobResult(results, entry.MasterFile, entry.SlaveFile, entry.MasterSkipCount);
        item->setData(kWhenRole, whenText(result ? result->when : 0));
        item->setData(kResultRole, ResultText(result));
        // A job that did not end in step stands out.
        const bool bad = result && !result->running &&
                         (result->verdict == Verdict::Failed || result->verdict == Verdict::NotInStep);
        item->setData(Qt::ForegroundRole, bad ? QVariant(QBrush(QColor(200, 0, 0))) : QVariant());
        item->setToolTip(QString::fromStdString(entry.MasterFile) + "\n" + QString::fromStdString(entry.SlaveFile) +
                         "\n" + ResultText(result) + (result ? "  " + whenText(result->when) : QString()));
    }
}

int TJobListForm::ShowModal() {
    // Jobs another process registered since are shown; an unchanged list keeps its selection.
    // Results of jobs run meanwhile (here or by tandem-cli) are shown either way.
    if (history_.Reload()) {
        RefreshList();
    } else {
        showResults();
    }
    if (QWidget* owner = parentWidget()) {
        const QRect frame = owner->frameGeometry();
        move(frame.center() - QPoint(width() / 2, height() / 2));
    }
    return exec();
}

std::vector<int> TJobListForm::SelectedPositions() const {
    std::vector<int> positions;
    for (int row = 0; row < ListBox1->count(); ++row) {
        if (ListBox1->item(row)->isSelected()) positions.push_back(row);
    }
    return positions;
}

void TJobListForm::ActionButtonClick(int tag) { done(history_.TakeSelection(SelectedPositions(), tag)); }

void TJobListForm::DeleteClick() {
    history_.DeleteJobs(SelectedPositions());
    RefreshList();
}

void TJobListForm::reject() { done(kJobListCancel); }

std::optional<HistoryEntry> TJobListForm::FindJobByMaster(const std::string& master) {
    const int k = history_.FindJobByMaster(master);
    if (k < 0) return std::nullopt;
    const JobEntry& e = history_.Entry(k);
    return HistoryEntry{e.MasterFile, e.SlaveFile, e.DiffLevel, e.MasterSkipCount, e.SlaveSkipCount};
}

void TJobListForm::AddJob(const HistoryEntry& entry) {
    history_.AddJob(entry.master, entry.slave, entry.level, entry.masterSkip, entry.slaveSkip);
    RefreshList();
}

int TJobListForm::FindStopPoint(const std::string& master, const std::string& slave, int masterSkip) {
    return history_.FindStopPoint(master, slave, masterSkip);
}

void TJobListForm::JobStarted(const HistoryEntry& entry) {
    StoreJobStart(entry.master, entry.slave, entry.masterSkip);
    RefreshList();
}

void TJobListForm::JobEnded(const HistoryEntry& entry, Verdict verdict) {
    StoreJobResult(entry.master, entry.slave, entry.masterSkip, verdict);
    RefreshList();
}

}  // namespace tandem
