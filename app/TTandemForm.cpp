#include "app/TTandemForm.h"

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

namespace tandem {

namespace {

// The labels' texts before a file is chosen. They are stored as they are (qzv.ini keeps
// the label's text) and translated only where they are shown.
const char* const kMasterPlaceholder = QT_TRANSLATE_NOOP("tandem::TTandemForm", "基準にするWAVEファイル");
const char* const kSlavePlaceholder = QT_TRANSLATE_NOOP("tandem::TTandemForm", "同期させるWAVEファイル");
const char* const kEnv = "TandemEnv";
constexpr int kTopHeight = 81;
constexpr int kProgressHeight = 62;

QString toQ(const std::string& text) { return QString::fromStdString(text); }
std::string toStd(const QString& text) { return text.toStdString(); }

bool isFile(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

std::string withSlash(const QString& dir) {
    std::string out = toStd(dir);
    if (out.empty() || out.back() != '/') out += '/';
    return out;
}

QString folderOf(const QString& path) {
    const QString dir = QFileInfo(path).absolutePath();
    return dir.isEmpty() ? QStringLiteral("/") : dir;
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    widget->setPalette(p);
}

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

// Hints are kept on the controls, as the layout names them, but the window does not
// show them.
void setHint(QWidget* widget, const QString& hint) { widget->setStatusTip(hint); }

bool isWaveName(const QString& path) { return path.endsWith(".wav", Qt::CaseInsensitive); }

QString droppedWave(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
    const QUrl url = mime->urls().front();
    if (!url.isLocalFile()) return {};
    const QString path = url.toLocalFile();
    return isWaveName(path) && QFileInfo(path).isFile() ? path : QString();
}

}  // namespace

bool IsPanelSwitchDrag(QPoint origin, QPoint release, int panelWidth, int panelHeight) {
    return release.x() - origin.x() > panelWidth / 2 && release.y() - origin.y() > panelHeight / 2;
}

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

TTandemForm::TTandemForm(JobHistoryLink* history, QWidget* parent)
    : QWidget(parent), history_(history ? history : &noHistory_) {
    setObjectName("TandemForm");
    setWindowTitle(tr("Tandem V1.5"));
    setFont(UiFont({"MS UI Gothic"}, 11));
    setTextColour(this, QColor(255, 0, 0));

    ChooseFile = [this](const QString& title) { return QFileDialog::getOpenFileName(this, title); };
    ShowMessage = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok, this);
        box.exec();
    };

    // Construction, steps in order: controls, settings, folder list, last job, options,
    // background, EQ strip.
    buildTopPanel();
    buildMessagePanel();
    buildExpertPanel();
    buildProgressPanel();
    buildEqPanel();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PanelTop);
    layout->addWidget(PanelDebug);
    layout->addWidget(PanelMsg, 1);
    layout->addWidget(PanelProgress);
    layout->addWidget(PanelEQBase);
    PanelDebug->hide();
    PanelProgress->hide();
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TTandemForm::Timer1Timer);
    connect(&run_, &RunControl::JobDone, this, &TTandemForm::OnJobDone);
    resize(kClientWidth, kClientHeight);

    SettingsOpen(ProgramFolder() + "qzv.ini");
    const QString startDir = QString::fromStdString(ExecutableFolder()).chopped(1);
    srcDirectory_ = startDir.isEmpty() ? QStringLiteral("/") : startDir;
    showDirectoryInList(srcDirectory_);
    const QString stored = toQ(SettingsReadText(kEnv, "SRCDIR", toStd(srcDirectory_)));
    if (stored != srcDirectory_) {
        if (QFileInfo(stored).isDir()) {
            SetSrcDirectory(stored);
        } else {
            AddLog("SRCDIR " + toStd(stored) + " does not exist; using " + toStd(srcDirectory_));
        }
    }
    SetSettingsSrcDir(withSlash(srcDirectory_));
    LoadLastJob();
    LoadOptions();
    loadBackground();

    layout->activate();
    // Grown where the fonts need more room, before the bars are placed on the strip.
    resize(size().expandedTo(minimumSizeHint()));
    PanelEQBase->resize(width(), PanelEQBase->height());
    PanelEQBase->PlaceInitialBars();

    run_.Progress().Reset();
    const std::string notice = FolderNotice();
    if (!notice.empty()) LabelMsg1->setText(toQ(notice));
}

TTandemForm::~TTandemForm() = default;

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
    connect(BtnSyncStart, &QPushButton::clicked, this, &TTandemForm::BtnSyncStartClick);
}

void TTandemForm::buildMessagePanel() {
    PanelMsg = new QWidget(this);
    PanelMsg->setObjectName("PanelMsg");
    ResultProgressBar = new QProgressBar(PanelMsg);
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
    LabelMsg1 = label(PanelMsgLabels, "LabelMsg1", "");
    LabelMsg1->setWordWrap(true);
    LabelMsg2 = label(PanelMsgLabels, "LabelMsg2", "");
    LabelMsg3 = label(PanelMsgLabels, "LabelMsg3", "");
    for (QLabel* l : {LabelMsg1, LabelMsg2, LabelMsg3}) l->setFont(messageFont);
    // One line of the font each: a fixed 12 pixels cut descenders, underscores and the
    // tops of kanji under larger fonts.
    for (QLabel* l : {LabelMsg2, LabelMsg3}) l->setFixedHeight(l->fontMetrics().lineSpacing() + 1);
    LabelMsg1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* labels = new QVBoxLayout(PanelMsgLabels);
    labels->setContentsMargins(4, 2, 4, 2);
    labels->setSpacing(2);
    labels->addWidget(LabelMsg1);
    labels->addWidget(LabelMsg2);
    labels->addWidget(LabelMsg3);
    labels->addStretch(1);

    auto* row = new QHBoxLayout(PanelMsg);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(ResultProgressBar);
    row->addWidget(PanelMsgLabels, 1);
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
    cbEqWave->setGeometry(4, 6, 112, 20);
    cbBackGround = optionBox(PanelEQBase->Panel2, "cbBackGround", tr("Back Ground"));
    cbBackGround->setFont(font());
    cbBackGround->setGeometry(4, 30, 112, 20);
    cbBackGround->setChecked(true);
    PanelEQBase->Splitter1->raise();
}

void TTandemForm::loadBackground() {
    const QString path = toQ(ProgramFolder() + "back.jpg");
    if (!QFileInfo::exists(path)) return;
    if (!BaseImage.load(path, "JPG")) {
        BaseImage = QImage();
        LabelMsg3->setText(tr("%1 は読めるJPEG画像ではないため、背景なしで表示します").arg(path));
    }
}

int TTandemForm::BandLow() const { return PanelEQBase->BandLow(); }
int TTandemForm::BandHigh() const { return PanelEQBase->BandHigh(); }

int TTandemForm::DiffIndex() const { return std::max(0, rgDiffItems->checkedId()); }

void TTandemForm::SetDiffIndex(int index) {
    if (QAbstractButton* b = rgDiffItems->button(index)) b->setChecked(true);
}

bool TTandemForm::guarded(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        ShowMessage(toQ(FailureText(e)));
        return false;
    }
}

void TTandemForm::SetMasterFile(const QString& path) {
    if (!isFile(path)) return;
    fnMaster->SetPath(path);
    if (!path.contains(srcDirectory_)) SetSrcDirectory(folderOf(path));
}

void TTandemForm::showDirectoryInList(const QString& dir) {
    const QModelIndex index = directoryModel_->index(dir);
    if (!index.isValid()) return;
    const QSignalBlocker blocker(SrcDirectory->selectionModel());
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) SrcDirectory->expand(up);
    SrcDirectory->setCurrentIndex(index);
    SrcDirectory->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void TTandemForm::SetSrcDirectory(const QString& dir) {
    if (dir == srcDirectory_) return;
    srcDirectory_ = dir;
    revealFolder_ = true;
    showDirectoryInList(dir);
    SetSettingsSrcDir(withSlash(dir));
    guarded([&] { SettingsWriteText(kEnv, "SRCDIR", toStd(dir)); });
}

void TTandemForm::LoadLastJob() {
    SetMasterFile(toQ(SettingsReadText(kEnv, "MASTER", kMasterPlaceholder)));
    fnSlave->SetPath(toQ(SettingsReadText(kEnv, "SLAVE", kSlavePlaceholder)));
    const int level = SettingsReadInt(kEnv, "MODE", 1);
    if (level < 0 || level > 3) {
        AddLog("TandemEnv MODE " + std::to_string(level) + " is not a 相異点 level; using 1");
    }
    SetDiffIndex(level >= 0 && level <= 3 ? level : 1);
    seMasterSkipCount->setValue(SettingsReadInt(kEnv, "SKIPMASTER", 0));
    seSlaveSkipCount->setValue(SettingsReadInt(kEnv, "SKIPSLAVE", 0));
}

void TTandemForm::SaveLastJob() {
    SettingsWriteText(kEnv, "MASTER", toStd(fnMaster->Path()));
    SettingsWriteText(kEnv, "SLAVE", toStd(fnSlave->Path()));
    SettingsWriteInt(kEnv, "MODE", DiffIndex());
    SettingsWriteInt(kEnv, "SKIPMASTER", seMasterSkipCount->value());
    SettingsWriteInt(kEnv, "SKIPSLAVE", seSlaveSkipCount->value());
}

void TTandemForm::LoadOptions() {
    cbResult->setChecked(SettingsReadInt(kEnv, "RESULT_CSV", 0) != 0);
    cbStart->setChecked(SettingsReadInt(kEnv, "START_CSV", 0) != 0);
    cbEnd->setChecked(SettingsReadInt(kEnv, "END_CSV", 0) != 0);
    cbEqWave->setChecked(SettingsReadInt(kEnv, "EQ_WAVE", 0) != 0);
}

void TTandemForm::SaveOptions() {
    SettingsWriteInt(kEnv, "RESULT_CSV", cbResult->isChecked() ? 1 : 0);
    SettingsWriteInt(kEnv, "START_CSV", cbStart->isChecked() ? 1 : 0);
    SettingsWriteInt(kEnv, "END_CSV", cbEnd->isChecked() ? 1 : 0);
    SettingsWriteInt(kEnv, "EQ_WAVE", cbEqWave->isChecked() ? 1 : 0);
}

void TTandemForm::SelectMasterClick() {
    const QString chosen = ChooseFile(tr("基準ファイルの選択"));
    if (!chosen.isEmpty()) MasterChosen(chosen);
}

void TTandemForm::SelectSlaveClick() {
    const QString chosen = ChooseFile(tr("同期させるファイルの選択"));
    if (!chosen.isEmpty()) SlaveChosen(chosen);
}

void TTandemForm::MasterChosen(const QString& path) {
    SetMasterFile(path);
    if (const std::optional<HistoryEntry> entry = history_->FindJobByMaster(toStd(fnMaster->Path()))) {
        fnSlave->SetPath(toQ(entry->slave));
        SetDiffIndex(entry->level);
        seMasterSkipCount->setValue(entry->masterSkip);
        seSlaveSkipCount->setValue(entry->slaveSkip);
    }
    guarded([this] { SaveLastJob(); });
}

void TTandemForm::SlaveChosen(const QString& path) {
    fnSlave->SetPath(path);
    guarded([this] { SaveLastJob(); });
}

bool TTandemForm::eventFilter(QObject* watched, QEvent* event) {
    if (SrcDirectory && watched == SrcDirectory->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::Wheel)) {
        revealFolder_ = false;
    }
    if (watched == PanelTop) {
        if (event->type() == QEvent::MouseButtonPress) {
            DragOrigin = static_cast<QMouseEvent*>(event)->position().toPoint();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const QPoint release = static_cast<QMouseEvent*>(event)->position().toPoint();
            if (IsPanelSwitchDrag(DragOrigin, release, PanelTop->width(), PanelTop->height())) {
                run_.Progress().SetJobOptions(JobOptions() ^ kOptDebug);
                showPanels(IsDebugMode());
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The expert panel opens above the message lines instead of over them, so that a job's
// result and errors are in view in both modes.
void TTandemForm::showPanels(bool expert) {
    PanelDebug->setVisible(expert);
    // A hidden list does not scroll: show the current folder once the list is seen.
    if (expert) showDirectoryInList(srcDirectory_);
}

void TTandemForm::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (BaseImage.isNull()) return;
    QPainter painter(this);
    painter.drawImage(QRect(PanelMsg->pos(), PanelMsg->size()), BaseImage);
}

void TTandemForm::BtnSyncStartClick() {
    if (running_) {
        run_.RequestStop();
        stopRequested_ = true;
        BtnSyncStart->setText(tr("停止中"));
        return;
    }
    startJob();
}

bool TTandemForm::startJob(bool continuesBatch) {
    if (!isFile(fnMaster->Path())) {
        SelectMasterClick();
        if (!isFile(fnMaster->Path())) return false;
    }
    if (!isFile(fnSlave->Path())) {
        SelectSlaveClick();
        if (!isFile(fnSlave->Path())) return false;
    }
    const std::string master = toStd(fnMaster->Path());
    const std::string slave = toStd(fnSlave->Path());
    const bool recorded = guarded([&] {
        history_->AddJob({master, slave, DiffIndex(), seMasterSkipCount->value(), seSlaveSkipCount->value()});
        CheckSpecialList(master);
        CheckSpecialList(slave);
        SaveLastJob();
        SaveOptions();
    });
    // A name the settings cannot hold could not keep the job's points either.
    if (!recorded) return false;

    SyncProgress& progress = run_.Progress();
    progress.Reset();
    for (QProgressBar* bar : ProgressBar) bar->setValue(0);
    PanelProgress->show();
    running_ = true;
    progress.SetStageClock(TickCountMs());
    Timer1->start();
    showPanels(false);

    JobRequest request;
    request.options = JobOptions() & kOptDebug;
    if (cbResult->isChecked()) request.options |= kOptResultCsv;
    if (cbStart->isChecked()) request.options |= kOptStartCsv;
    if (cbEnd->isChecked()) request.options |= kOptSegmentCsv;
    if (cbEqWave->isChecked()) request.options |= kOptKeepEq;

    const bool debug = (request.options & kOptDebug) != 0;
    const ExpertValues shown{seBaseStep->value(), seRangeS->value(), seRangeE->value()};
    ApplyLevel(request, ParametersForLevel(DiffIndex(), debug, shown, BandLow(), BandHigh()));
    if (debug) {
        StartLog();
    } else {
        seBaseStep->setValue(request.baseStep);
        seRangeS->setValue(request.rangeS);
        seRangeE->setValue(request.rangeE);
    }
    if (batch_.Running()) seDpLimit->setValue(history_->FindStopPoint(master, slave, seMasterSkipCount->value()));
    BtnSyncStart->setText(tr("STOP"));

    request.master = master;
    request.slave = slave;
    request.masterSkip = seMasterSkipCount->value() * kTenthFrames;
    request.slaveSkip = seSlaveSkipCount->value() * kTenthFrames;
    request.dpLimit = seDpLimit->value() * kTenthFrames;
    request.level = DiffIndex();
    request.lowPriority = cbBackGround->isChecked();
    // The next part of the recording the batch has just run goes on from its points.
    if (continuesBatch && ContinuesPart(run_.LastRequest(), request)) AddLog(ResumeAtLastStoredPair(request));
    try {
        run_.Start(request);
    } catch (const std::exception& e) {
        if (debug) HideLog();
        returnToIdle();
        ShowMessage(tr("ジョブを開始できませんでした：%1").arg(toQ(FailureText(e))));
        return false;
    }
    return true;
}

void TTandemForm::returnToIdle() {
    BtnSyncStart->setText(tr("START"));
    running_ = false;
    Timer1->stop();
    PanelProgress->hide();
    for (int i = 0; i < 3; ++i) StaticText[i]->setText(StageCaption(i));
    showPanels(IsDebugMode());
}

void TTandemForm::OnJobDone(const JobOutcome& outcome) {
    lastOutcome_ = outcome;
    BtnSyncStart->setText(tr("START"));
    running_ = false;
    SyncProgress& progress = run_.Progress();
    if (const std::optional<QString> line = EndOfJobLine(outcome)) {
        progress.SetMessageLine(line->toStdString(), 0);
    }
    stopRequested_ = false;
    progress.SetStageClock(-1);
    progress.StageBar(0).Position.store(0);
    ProgressBar[0]->setValue(0);
    if (IsDebugMode()) {
        showPanels(true);
        std::string why;
        if (!SaveLogAndOpen(run_.LastRequest().slave + ".log", &why)) progress.SetMessageLine(why, 2);
    }
    if (closeRequested_) close();
}

void TTandemForm::Timer1Timer() { TimerTick(TickCountMs()); }

void TTandemForm::TimerTick(std::int64_t nowMs) {
    SyncProgress& progress = run_.Progress();
    QLabel* const lines[3] = {LabelMsg1, LabelMsg2, LabelMsg3};
    for (int i = 0; i < 3; ++i) lines[i]->setText(toQ(progress.MessageLine(i)));

    const int value = progress.ResultValue();
    // Equal ends would turn the gauge into a busy indicator.
    ResultProgressBar->setRange(progress.ResultMin(), std::max(progress.ResultMin() + 1, progress.ResultMax()));
    ResultProgressBar->setValue(value);
    QPalette gauge = ResultProgressBar->palette();
    gauge.setColor(QPalette::Highlight, GaugeColour(value));
    ResultProgressBar->setPalette(gauge);

    const int stage = CurrentStage(progress.StageBar(0).Marker.load(), progress.StageBar(1).Marker.load());
    if (progress.StageClock() < 0) {
        returnToIdle();
        continueBatch();
        return;
    }
    StageBarState& bar = progress.StageBar(stage);
    const StageTick tick = TickStage({bar.Max.load(), bar.Position.load(), bar.Marker.load()},
                                     progress.StageClock(), nowMs);
    if (tick.finish) {
        progress.SetStageClock(nowMs);
        bar.Position.store(bar.Max.load());
        bar.Marker.store(kStageShown);
    }
    if (tick.caption) StaticText[stage]->setText(*tick.caption);
    for (int i = 0; i < 3; ++i) {
        StageBarState& state = progress.StageBar(i);
        ProgressBar[i]->setRange(0, std::max(1, state.Max.load()));
        ProgressBar[i]->setValue(std::clamp(state.Position.load(), 0, std::max(1, state.Max.load())));
    }
}

void TTandemForm::ResetButtonClick(int tag) {
    guarded([&] {
        if (tag & 1) StoredPoints(toStd(fnMaster->Path())).reset(seRestartPoint->value());
        if (tag & 2) StoredPoints(toStd(fnSlave->Path())).reset(seRestartPoint->value());
    });
}

// tandem-cli registers its jobs through the same function.
void TTandemForm::CheckSpecialList(const std::string& path) { tandem::CheckSpecialList(path); }

void TTandemForm::BtnMakeEqWaveClick() {
    std::string failure;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        MakeEqWave(toStd(fnMaster->Path()), BandLow(), BandHigh());
        MakeEqWave(toStd(fnSlave->Path()), BandLow(), BandHigh());
    } catch (const std::exception& e) {
        failure = FailureText(e);
    }
    QApplication::restoreOverrideCursor();
    if (!failure.empty()) ShowMessage(toQ(failure));
}

void TTandemForm::AttachJobList(TJobListForm* jobList, TRemixForm* remix) {
    jobList_ = jobList;
    remix_ = remix;
    history_ = jobList ? static_cast<JobHistoryLink*>(jobList) : &noHistory_;
    btnBatch->setEnabled(jobList != nullptr);
    btnBatchRegist->setEnabled(jobList != nullptr);
}

void TTandemForm::btnBatchRegistClick() {
    guarded([this] {
        history_->AddJob({toStd(fnMaster->Path()), toStd(fnSlave->Path()), DiffIndex(), seMasterSkipCount->value(),
                          seSlaveSkipCount->value()});
    });
}

void TTandemForm::btnBatchClick() {
    if (running_ || !jobList_) return;
    const HistoryStep step = batch_.AfterJobList(jobList_->History(), jobList_->ShowModal());
    if (step.leaveDebugMode) {
        run_.Progress().SetJobOptions(JobOptions() & ~kOptDebug);
        showPanels(false);
    }
    if (step.load >= 0) loadJob(step.load);
    if (step.start) startJob();
    if (step.remix) remixStoredJob();
}

void TTandemForm::loadJob(int position) {
    const JobEntry& entry = jobList_->History().Entry(position);
    SetMasterFile(toQ(entry.MasterFile));
    fnSlave->SetPath(toQ(entry.SlaveFile));
    SetDiffIndex(entry.DiffLevel);
    seMasterSkipCount->setValue(entry.MasterSkipCount);
    seSlaveSkipCount->setValue(entry.SlaveSkipCount);
}

// The timer tick after a job: the next marked entry of a batch, if any.
void TTandemForm::continueBatch() {
    if (!jobList_) {
        batch_.BatchCursor = 0;
        return;
    }
    const int next = batch_.Continue(jobList_->History());
    if (next < 0) return;
    loadJob(next);
    startJob(true);
}

// The output of the first selected job rebuilt with the remix dialog's settings; the
// dialog's own result does not matter.
void TTandemForm::remixStoredJob() {
    if (remix_) remix_->ShowModal();
    const int entry = batch_.RemixEntry(jobList_->History());
    if (entry < 0) return;
    SyncProgress& progress = run_.Progress();
    progress.Reset();
    for (QProgressBar* bar : ProgressBar) bar->setValue(0);
    progress.StageBar(0).Marker.store(kStageShown);
    progress.StageBar(1).Marker.store(kStageShown);
    PanelProgress->show();
    running_ = true;
    progress.SetStageClock(TickCountMs());
    Timer1->start();
    showPanels(false);
    const JobEntry& job = jobList_->History().Entry(entry);
    const MixSettings mix = remix_ ? remix_->Mix() : kDefaultMix;
    try {
        run_.StartOutputOnly(job.MasterFile, job.SlaveFile, mix, cbBackGround->isChecked());
    } catch (const std::exception& e) {
        returnToIdle();
        ShowMessage(tr("ジョブを開始できませんでした：%1").arg(toQ(FailureText(e))));
    }
}

void TTandemForm::btnSoundClick(int tag) {
    const bool master = tag == 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    PlaySkipPoint(*Player, toStd(master ? fnMaster->Path() : fnSlave->Path()),
                  (master ? seMasterSkipCount : seSlaveSkipCount)->value(), BandLow(), BandHigh());
    QApplication::restoreOverrideCursor();
}

void TTandemForm::closeEvent(QCloseEvent* event) {
    if (running_) {
        // Let the worker end its segment and write what it has; OnJobDone closes again.
        closeRequested_ = true;
        if (!stopRequested_) BtnSyncStartClick();
        event->ignore();
        return;
    }
    if (std::string why; !SettingsFlush(&why)) ShowMessage(toQ(why));
    QWidget::closeEvent(event);
}

}  // namespace tandem
