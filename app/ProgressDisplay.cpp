#include "app/ProgressDisplay.h"

#include <QCoreApplication>

#include "sync/Progress.h"
#include "ui/Translation.h"

namespace tandem {

QString StageCaption(int stage) {
    switch (stage) {
        case 0: return QCoreApplication::translate("tandem::ProgressDisplay", "開始点検索");
        case 1: return QCoreApplication::translate("tandem::ProgressDisplay", "同期位置検出");
        default: return QCoreApplication::translate("tandem::ProgressDisplay", "同期ファイル出力");
    }
}

QString ElapsedText(std::int64_t seconds) { return QString::fromStdString(ElapsedCaption(seconds)); }

QString RemainingText(std::int64_t seconds) { return QString::fromStdString(RemainingCaption(seconds)); }

int CurrentStage(int marker0, int marker1) {
    if (marker0 <= kStageFinished) return 0;
    if (marker1 <= kStageFinished) return 1;
    return 2;
}

StageTick TickStage(const StageSnapshot& bar, std::int64_t stageClockMs, std::int64_t nowMs) {
    StageTick tick;
    const std::int64_t elapsedSeconds = (nowMs - stageClockMs) / 1000;
    if (bar.marker == kStageFinished) {
        tick.finish = true;
        tick.caption = ElapsedText(elapsedSeconds);
    } else if (bar.position != 0) {
        const std::int64_t left = RemainingSeconds(bar.max, bar.position, elapsedSeconds);
        if (left > 0) tick.caption = RemainingText(left);
    }
    return tick;
}

std::optional<QString> EndOfJobLine(const JobOutcome& outcome) {
    if (outcome.stoppedByUser && outcome.outputWritten && !outcome.checkSummary.empty())
        return QCoreApplication::translate("tandem::ProgressDisplay", "停止しました（分割点 %1 個）。%2")
            .arg(outcome.pointCount)
            .arg(QString::fromStdString(outcome.checkSummary));
    if (outcome.stoppedByUser && outcome.outputWritten)
        return QCoreApplication::translate("tandem::ProgressDisplay", "停止しました（分割点 %1 個）。%2 を作成しました")
            .arg(outcome.pointCount)
            .arg(QString::fromStdString(outcome.outputFile));
    if (outcome.stoppedByUser)
        return QCoreApplication::translate("tandem::ProgressDisplay",
                                           "停止しました（分割点 %1 個）。同期ファイルは作成されていません")
            .arg(outcome.pointCount);
    if (!outcome.outputWritten)
        return QCoreApplication::translate("tandem::ProgressDisplay", "同期ファイルは作成されていません");
    return std::nullopt;
}

QColor GaugeColour(int value) {
    const std::uint32_t rgb = ResultColour(value);
    return QColor((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
}

Verdict VerdictOf(const JobOutcome& outcome) {
    if (outcome.stoppedByUser) return Verdict::Stopped;
    if (!outcome.outputWritten) return Verdict::Failed;
    if (outcome.checked) return outcome.inStep ? Verdict::InStep : Verdict::NotInStep;
    return outcome.error.empty() ? Verdict::Written : Verdict::Failed;
}

QString VerdictText(Verdict verdict) {
    static const char* const words[] = {
        "",
        QT_TRANSLATE_NOOP("tandem::ProgressDisplay", "同期しています"),
        QT_TRANSLATE_NOOP("tandem::ProgressDisplay", "同期していません"),
        QT_TRANSLATE_NOOP("tandem::ProgressDisplay", "停止しました"),
        QT_TRANSLATE_NOOP("tandem::ProgressDisplay", "失敗しました"),
        QT_TRANSLATE_NOOP("tandem::ProgressDisplay", "作成しました（確認なし）"),
    };
    if (verdict == Verdict::None) return {};
    return QCoreApplication::translate("tandem::ProgressDisplay", words[static_cast<int>(verdict)]);
}

QColor VerdictColour(Verdict verdict) {
    switch (verdict) {
    case Verdict::InStep: return QColor(0, 128, 0);
    case Verdict::NotInStep: return QColor(200, 0, 0);
    case Verdict::Stopped: return QColor(205, 130, 0);
    case Verdict::Failed: return QColor(120, 0, 0);
    case Verdict::Written: return QColor(70, 90, 140);
    case Verdict::None: break;
    }
    return QColor(128, 128, 128);
}

}  // namespace tandem
