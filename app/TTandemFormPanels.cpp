#include "app/TTandemForm.h"
#include "app/TTandemFormParts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <stdexcept>

#include "app/ProgressDisplay.h"
#include "app/TrackView.h"
#include "ui/Translation.h"
#include "core/Error.h"
#include "core/Log.h"
#include "core/ProgramFolder.h"
#include "eq/EqStrip.h"
#include "eq/EqWave.h"
#include "joblist/JobRegistry.h"
#include "joblist/TJobListForm.h"
#include "remix/TRemixForm.h"
#include "settings/Settings.h"
#include "sync/JobPresets.h"
#include "sync/JobRequest.h"
#include "sync/StoredPoints.h"
#include "ui/Fonts.h"


// Building the main window: its panels and controls, placed as the layout gives them.
namespace tandem {

using namespace form;

namespace {

QSpinBox* spinEdit(QWidget* parent, const char* name, int min, int max, int step, int value) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(min, max);
    spin->setSingleStep(step);
    spin->setValue(value);
    return spin;
}

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

QCheckBox* optionBox(QWidget* parent, const char* name, const QString& text) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setFont(UiFont({"Tahoma"}, 11));
    setTextColour(box, QColor(255, 0, 0));
    return box;
}

// At (x, y) with the layout's size, wider where the text needs it.
void placeInRow(QWidget* w, int x, int y, int width, int height) {
    w->setGeometry(x, y, std::max(width, w->sizeHint().width()), height);
}

// Hints are kept on the controls, as the layout names them, and shown as tooltips.
void setHint(QWidget* widget, const QString& hint) {
    widget->setStatusTip(hint);
    widget->setToolTip(hint);
}

bool isWaveName(const QString& path) { return path.endsWith(".wav", Qt::CaseInsensitive); }

QString droppedWave(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
    const QUrl url = mime->urls().front();
    if (!url.isLocalFile()) return {};
    const QString path = url.toLocalFile();
    return isWaveName(path) && QFileInfo(path).isFile() ? path : QString();
}

}  // namespace

PathLabel::PathLabel(const char* placeholder, QWidget* parent)
    : QLabel(parent), path_(QString::fromUtf8(placeholder)), placeholder_(placeholder) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAcceptDrops(true);
    refresh();
}

void PathLabel::SetPath(const QString& path) {
    path_ = path;
    refresh();
}

void PathLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    refresh();
}

void PathLabel::refresh() {
    const int room = std::max(0, contentsRect().width() - 4);
    const QString shown =
        path_ == QString::fromUtf8(placeholder_) ? QCoreApplication::translate("tandem::TTandemForm", placeholder_) : path_;
    setText(fontMetrics().elidedText(shown, Qt::ElideMiddle, room));
    setToolTip(shown);
}

void PathLabel::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedWave(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void PathLabel::dropEvent(QDropEvent* event) {
    const QString path = droppedWave(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    emit FileDropped(path);
}

void TTandemForm::buildTopPanel() {
    PanelTop = new QFrame(this);
    PanelTop->setObjectName("PanelTop");
    PanelTop->setFrameStyle(QFrame::Panel | QFrame::Raised);
    PanelTop->setFixedHeight(kTopHeight);
    PanelTop->installEventFilter(this);

    Label5 = label(PanelTop, "Label5", tr("先頭の無効データ数(0.1秒単位)"));
    setTextColour(Label5, Qt::black);
    Label5->setGeometry(8, 4, 300, 16);

    const QIcon speaker = style()->standardIcon(QStyle::SP_MediaVolume);
    auto soundButton = [&](const char* name, int tag, int y) {
        auto* b = new QToolButton(PanelTop);
        b->setObjectName(name);
        b->setIcon(speaker);
        b->setProperty("tag", tag);
        b->setGeometry(8, y, 22, 22);
        setHint(b, tr("無効データ部分を聞いてみる"));
        connect(b, &QToolButton::clicked, this, [this, tag] { btnSoundClick(tag); });
        return b;
    };
    btnSound = soundButton("btnSound", 0, 22);
    btnSoundSlave = soundButton("btnSoundSlave", 1, 50);

    seMasterSkipCount = spinEdit(PanelTop, "seMasterSkipCount", 0, 10000, 1, 0);
    seMasterSkipCount->setGeometry(32, 22, 64, 22);
    setHint(seMasterSkipCount, tr("0.1秒毎にUpDown"));
    seSlaveSkipCount = spinEdit(PanelTop, "seSlaveSkipCount", 0, 10000, 1, 0);
    seSlaveSkipCount->setGeometry(32, 50, 64, 22);
    setHint(seSlaveSkipCount, tr("0.1秒毎にUpDown"));
    for (QSpinBox* spin : {seMasterSkipCount, seSlaveSkipCount}) setTextColour(spin, Qt::black);

    fnMaster = new PathLabel(kMasterPlaceholder, PanelTop);
    fnMaster->setObjectName("fnMaster");
    setTextColour(fnMaster, QColor(0, 0, 255));
    fnMaster->setGeometry(100, 22, 300, 22);
    fnSlave = new PathLabel(kSlavePlaceholder, PanelTop);
    fnSlave->setObjectName("fnSlave");
    setTextColour(fnSlave, QColor(255, 0, 0));
    fnSlave->setGeometry(100, 50, 300, 22);
    connect(fnMaster, &PathLabel::FileDropped, this, [this](const QString& path) { MasterChosen(path); });
    connect(fnSlave, &PathLabel::FileDropped, this, [this](const QString& path) { SlaveChosen(path); });

    SelectMaster = button(PanelTop, "SelectMaster", "...");
    SelectMaster->setGeometry(402, 22, 24, 22);
    setHint(SelectMaster, tr("基準にするWAVEファイルの選択"));
    connect(SelectMaster, &QPushButton::clicked, this, &TTandemForm::SelectMasterClick);
    SelectSlave = button(PanelTop, "SelectSlave", "...");
    SelectSlave->setGeometry(402, 50, 24, 22);
    setHint(SelectSlave, tr("同期させるWAVEファイルの選択"));
    connect(SelectSlave, &QPushButton::clicked, this, &TTandemForm::SelectSlaveClick);

    rgDiff = new QGroupBox(tr("相異点"), PanelTop);
    rgDiff->setObjectName("rgDiff");
    rgDiff->setGeometry(432, 0, 152, 40);
    rgDiffItems = new QButtonGroup(rgDiff);
    // Four columns, each as wide as its indicator and text need and sharing out the
    // rest; the group grows where the names need more, and the buttons right of it move.
    const int indicator = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
                          style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
    int widths[4] = {};
    int need = 4;
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(LevelName(i), rgDiff);
        rgDiffItems->addButton(radio, i);
        static const char* const levelHints[] = {
            QT_TR_NOOP("違いの少ない二つの録音に：0.1秒毎に分割し、狭く検索します"),
            QT_TR_NOOP("ふつうの二つの録音に：0.2秒毎に分割します"),
            QT_TR_NOOP("違いの多い二つの録音に：0.3秒毎に分割し、500–2000 Hz で比べ、合わない区間は検索し直します"),
            QT_TR_NOOP("0.3秒毎に分割し、100–1000 Hz で比べ、先を読みながら検索します"),
        };
        setHint(radio, tr(levelHints[i]));
        widths[i] = indicator + radio->fontMetrics().horizontalAdvance(radio->text()) + 2;
        need += widths[i];
    }
    const int grow = std::max(0, need - rgDiff->width());
    rgDiff->resize(rgDiff->width() + grow, rgDiff->height());
    const QRect inside = rgDiff->contentsRect();
    const int spare = std::max(0, inside.width() - need);
    int x = inside.left() + 2;
    for (int i = 0; i < 4; ++i) {
        const int w = widths[i] + spare / 4;
        rgDiffItems->button(i)->setGeometry(x, inside.top(), w, inside.height());
        x += w;
    }
    SetDiffIndex(1);
    PanelTop->setMinimumWidth(kClientWidth + grow);

    btnBatch = button(PanelTop, "btnBatch", tr("履歴"));
    btnBatch->setGeometry(588 + grow, 6, 40, 30);
    setHint(btnBatch, tr("一括テスト"));
    // Enabled once the job list is attached.
    btnBatch->setEnabled(false);
    connect(btnBatch, &QPushButton::clicked, this, &TTandemForm::btnBatchClick);

    BtnSyncStart = button(PanelTop, "BtnSyncStart", tr("&Start"));
    BtnSyncStart->setGeometry(432, 44, 196 + grow, 32);
    setHint(BtnSyncStart, tr("同期ファイルを作ります。実行中は停止します（Esc でも停止）"));
    connect(BtnSyncStart, &QPushButton::clicked, this, &TTandemForm::BtnSyncStartClick);
}

void TTandemForm::buildMessagePanel() {
    PanelMsg = new QWidget(this);
    PanelMsg->setObjectName("PanelMsg");
    ResultProgressBar = new QProgressBar(PanelMsg);
    setHint(ResultProgressBar, tr("実行中は直前の区間の一致度、終了後は判定の色"));
    ResultProgressBar->setObjectName("ResultProgressBar");
    ResultProgressBar->setOrientation(Qt::Vertical);
    ResultProgressBar->setTextVisible(false);
    ResultProgressBar->setFixedWidth(14);
    ResultProgressBar->setRange(0, 0);
    ResultProgressBar->setRange(0, 100);
    ResultProgressBar->setValue(0);

    PanelMsgLabels = new QWidget(PanelMsg);
    PanelMsgLabels->setObjectName("PanelMsgLabels");
    const QFont messageFont = UiFont({"MS UI Gothic"}, 13);
    // Line 1 (the verdict, the end of the job) wraps over two lines, lines 2 and 3 keep
    // one; either way a long text is shortened, never widening the window, and is whole
    // in the tooltip (and the log).
    LabelMsg1 = new FitLabel(2, Qt::ElideRight, PanelMsgLabels);
    LabelMsg2 = new FitLabel(1, Qt::ElideRight, PanelMsgLabels);
    LabelMsg3 = new FitLabel(1, Qt::ElideRight, PanelMsgLabels);
    const char* names[] = {"LabelMsg1", "LabelMsg2", "LabelMsg3"};
    int n = 0;
    for (FitLabel* l : {LabelMsg1, LabelMsg2, LabelMsg3}) {
        l->setObjectName(names[n++]);
        l->setFont(messageFont);
    }
    buildResultPanel();
    auto* labels = new QVBoxLayout(PanelMsgLabels);
    labels->setContentsMargins(4, 2, 4, 2);
    labels->setSpacing(2);
    labels->addWidget(LabelMsg1);
    labels->addWidget(LabelMsg2);
    labels->addWidget(LabelMsg3);
    // The picture takes the room there is; without a result the lines stay at the top.
    labels->addWidget(PanelResult, 1);
    labels->addStretch(0);

    auto* row = new QHBoxLayout(PanelMsg);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(ResultProgressBar);
    row->addWidget(PanelMsgLabels, 1);
}

void TTandemForm::buildResultPanel() {
    PanelResult = new QFrame(PanelMsgLabels);
    PanelResult->setObjectName("PanelResult");
    ResultBadge = label(PanelResult, "ResultBadge", "");
    ResultBadge->setAlignment(Qt::AlignCenter);
    ResultBadge->setAutoFillBackground(true);
    ResultBadge->setMargin(3);
    QFont bold = ResultBadge->font();
    bold.setBold(true);
    ResultBadge->setFont(bold);
    ResultFile = new FitLabel(1, Qt::ElideMiddle, PanelResult);
    ResultFile->setObjectName("ResultFile");
    setTextColour(ResultFile, Qt::black);
    ResultFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const auto tool = [this](const char* name, QStyle::StandardPixmap icon, const QString& hint) {
        auto* b = new QToolButton(PanelResult);
        b->setObjectName(name);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(hint);
        return b;
    };
    btnOpenFolder = tool("btnOpenFolder", QStyle::SP_DirOpenIcon, tr("同期ファイルのフォルダを開く"));
    btnPlayOutput = tool("btnPlayOutput", QStyle::SP_MediaPlay, tr("同期ファイルを基準の頭出し位置から5秒聞く"));
    btnSavePlot = tool("btnSavePlot", QStyle::SP_DialogSaveButton, tr("図をPNGファイルに保存"));
    btnResume = button(PanelResult, "btnResume", tr("続行"));
    btnResume->setToolTip(tr("保存された分割点の後から検索を続けます"));
    connect(btnOpenFolder, &QToolButton::clicked, this,
            [this] { OpenFolder(folderOf(toQ(lastOutcome_.outputFile))); });
    connect(btnPlayOutput, &QToolButton::clicked, this, [this] {
        const double from = seMasterSkipCount->value() / 10.0;
        playOutput(from, from + 5.0);
    });
    connect(btnSavePlot, &QToolButton::clicked, this, &TTandemForm::SavePlotClick);
    connect(btnResume, &QPushButton::clicked, this, &TTandemForm::ResumeClick);
    Track = new TrackView(PanelResult);
    connect(Track, &TrackView::StretchClicked, this, [this](double from, double to) { playOutput(from, to); });
    OffList = new FitLabel(1, Qt::ElideRight, PanelResult);
    OffList->setObjectName("OffList");

    auto* grid = new QGridLayout(PanelResult);
    grid->setContentsMargins(0, 2, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    grid->addWidget(ResultBadge, 0, 0);
    grid->addWidget(ResultFile, 0, 1);
    grid->addWidget(btnOpenFolder, 0, 2);
    grid->addWidget(btnPlayOutput, 0, 3);
    grid->addWidget(btnSavePlot, 0, 4);
    grid->addWidget(btnResume, 0, 5);
    grid->addWidget(Track, 1, 0, 1, 6);
    grid->addWidget(OffList, 2, 0, 1, 6);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);
    PanelResult->hide();
}

void TTandemForm::buildExpertPanel() {
    PanelDebug = new QFrame(this);
    PanelDebug->setObjectName("PanelDebug");
    PanelDebug->setAutoFillBackground(true);
    QPalette sky = PanelDebug->palette();
    sky.setColor(QPalette::Window, QColor(166, 202, 240));
    PanelDebug->setPalette(sky);

    struct Row {
        const char* labelName;
        const char* text;
        QSpinBox** spin;
        const char* spinName;
        int min, max, step, value;
    };
    const Row rows[] = {
        {"Label1", QT_TR_NOOP("分割間隔（0.1秒単位）："), &seBaseStep, "seBaseStep", 1, 50, 1, 2},
        {"Label2", QT_TR_NOOP("開始点の検索範囲："), &seRangeS, "seRangeS", 0, 10000, 100, 800},
        {"Label3", QT_TR_NOOP("分割点の検索範囲："), &seRangeE, "seRangeE", 0, 44100, 50, 300},
        {"Label4", QT_TR_NOOP("検索中断ポイント："), &seDpLimit, "seDpLimit", 0, 10000, 1, 0},
    };
    int y = 8;
    for (const Row& r : rows) {
        QLabel* l = label(PanelDebug, r.labelName, tr(r.text));
        l->setGeometry(8, y + 3, 150, 16);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        *r.spin = spinEdit(PanelDebug, r.spinName, r.min, r.max, r.step, r.value);
        (*r.spin)->setGeometry(162, y, 70, 22);
        y += 26;
    }
    setHint(seDpLimit, tr("0.1秒毎にUpDown"));

    seRestartPoint = spinEdit(PanelDebug, "seRestartPoint", 0, 10000, 1, 0);
    seRestartPoint->setGeometry(246, 8, 64, 22);
    ResetButton = button(PanelDebug, "ResetButton", tr("ResetBoth"));
    ResetButton->setProperty("tag", 3);
    ResetButton->setGeometry(314, 8, 76, 22);
    Button1 = button(PanelDebug, "Button1", tr("ResetSlave"));
    Button1->setProperty("tag", 2);
    Button1->setGeometry(394, 8, 76, 22);
    for (QPushButton* b : {ResetButton, Button1}) {
        connect(b, &QPushButton::clicked, this, [this, b] { ResetButtonClick(b->property("tag").toInt()); });
    }
    BtnMakeEqWave = button(PanelDebug, "BtnMakeEqWave", tr("EQを掛けたWAVE作成"));
    BtnMakeEqWave->setGeometry(246, 34, 224, 24);
    connect(BtnMakeEqWave, &QPushButton::clicked, this, &TTandemForm::BtnMakeEqWaveClick);

    cbResult = optionBox(PanelDebug, "cbResult", tr("結果CSV"));
    placeInRow(cbResult, 246, 64, 72, 20);
    cbStart = optionBox(PanelDebug, "cbStart", tr("開始点CSV"));
    placeInRow(cbStart, std::max(320, cbResult->geometry().right() + 3), 64, 76, 20);
    cbEnd = optionBox(PanelDebug, "cbEnd", tr("区間CSV"));
    placeInRow(cbEnd, std::max(398, cbStart->geometry().right() + 3), 64, 72, 20);

    SrcDirectory = new QTreeView(PanelDebug);
    SrcDirectory->setObjectName("SrcDirectory");
    SrcDirectory->setGeometry(479, 8, 145, 97);
    directoryModel_ = new QFileSystemModel(this);
    directoryModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    directoryModel_->setRootPath("/");
    SrcDirectory->setModel(directoryModel_);
    SrcDirectory->setRootIndex(directoryModel_->index("/"));
    SrcDirectory->setHeaderHidden(true);
    for (int column = 1; column < directoryModel_->columnCount(); ++column) SrcDirectory->hideColumn(column);
    // The model reads and sorts folders in the background: rows above the current folder
    // arrive after it was selected, and each time the list is scrolled to it again, until
    // the user scrolls or clicks in the list.
    const auto follow = [this] {
        if (revealFolder_) QTimer::singleShot(0, this, [this] { showDirectoryInList(srcDirectory_); });
    };
    connect(directoryModel_, &QFileSystemModel::directoryLoaded, this, follow);
    connect(directoryModel_, &QAbstractItemModel::layoutChanged, this, follow);
    connect(directoryModel_, &QAbstractItemModel::rowsInserted, this, follow);
    SrcDirectory->viewport()->installEventFilter(this);
    connect(SrcDirectory->verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] { revealFolder_ = false; });
    connect(SrcDirectory->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) SetSrcDirectory(directoryModel_->filePath(current));
            });

    btnBatchRegist = button(PanelDebug, "btnBatchRegist", tr("一括登録"));
    btnBatchRegist->setGeometry(479, 110, 145, 24);
    setHint(btnBatchRegist, tr("一括テストの登録"));
    btnBatchRegist->setEnabled(false);
    connect(btnBatchRegist, &QPushButton::clicked, this, &TTandemForm::btnBatchRegistClick);
    // As high as its controls: the message lines below it stay in view.
    PanelDebug->setFixedHeight(PanelDebug->childrenRect().bottom() + 1 + 6);
}

void TTandemForm::buildProgressPanel() {
    PanelProgress = new QFrame(this);
    PanelProgress->setObjectName("PanelProgress");
    PanelProgress->setFixedHeight(kProgressHeight);
    auto* grid = new QGridLayout(PanelProgress);
    grid->setContentsMargins(1, 1, 1, 1);
    grid->setSpacing(0);
    for (int i = 0; i < 3; ++i) {
        StaticText[i] = label(PanelProgress, ("StaticText" + std::to_string(i + 1)).c_str(), StageCaption(i));
        StaticText[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        StaticText[i]->setFixedWidth(125);
        ProgressBar[i] = new QProgressBar(PanelProgress);
        ProgressBar[i]->setObjectName(QString("ProgressBar%1").arg(i + 1));
        ProgressBar[i]->setTextVisible(false);
        ProgressBar[i]->setRange(0, 100);
        ProgressBar[i]->setValue(0);
        grid->addWidget(StaticText[i], i, 0);
        grid->addWidget(ProgressBar[i], i, 1);
    }
}

void TTandemForm::buildEqPanel() {
    PanelEQBase = new EqStrip(this);
    cbEqWave = optionBox(PanelEQBase->Panel2, "cbEqWave", tr("EQファイルを残す"));
    setHint(cbEqWave, tr("帯域を絞って比べたときの、EQを掛けたコピーを消さずに残します"));
    cbEqWave->setGeometry(4, 6, 112, 20);
    cbBackGround = optionBox(PanelEQBase->Panel2, "cbBackGround", tr("Back Ground"));
    setHint(cbBackGround, tr("ほかの作業の邪魔にならないよう、低い優先度で実行します"));
    cbBackGround->setFont(font());
    cbBackGround->setGeometry(4, 30, 112, 20);
    cbBackGround->setChecked(true);
    cbSlaveOut = optionBox(PanelEQBase->Panel2, "cbSlaveOut", tr("スレーブ単独出力"));
    cbSlaveOut->setFont(font());
    cbSlaveOut->setGeometry(4, 52, 112, 18);
    setHint(cbSlaveOut, tr("スレーブだけをマスターの時間軸に合わせた「スレーブ名【マスター名】.wav」も作る"));
    PanelEQBase->Splitter1->raise();
}

void TTandemForm::loadBackground() {
    const QString path = toQ(ProgramFolder() + "back.jpg");
    if (!QFileInfo::exists(path)) return;
    if (!BaseImage.load(path, "JPG")) {
        BaseImage = QImage();
        LabelMsg3->SetMessage(tr("%1 は読めるJPEG画像ではないため、背景なしで表示します").arg(path));
    }
}

}  // namespace tandem
