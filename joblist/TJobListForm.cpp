#include "joblist/TJobListForm.h"

#include <QAction>
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
    setFixedSize(kClientWidth, kClientHeight);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
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
}

int TJobListForm::ShowModal() {
    // Jobs another process registered since are shown; an unchanged list keeps its selection.
    if (history_.Reload()) RefreshList();
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

}  // namespace tandem
