#include "core/Message.h"

#include <locale.h>

#include <cstring>
#include <mutex>
#include <new>

#include "core/Error.h"

// lupdate's marker: it copies the texts into translations/tandem_en.ts. The engine has
// no Qt, so the marker only returns its text.
#define QT_TRANSLATE_NOOP(context, text) text

namespace tandem {
namespace {

struct Entry {
    Msg id;
    const char* japanese;
};

// The catalogue, in the order of Msg. The specified texts are kept exactly.
constexpr Entry kCatalogue[] = {
    {Msg::OutOfMemory, QT_TRANSLATE_NOOP("Engine", "作業用メモリ(%1 bytes)が確保できませんでした。")},
    {Msg::DataMayBeBroken, QT_TRANSLATE_NOOP("Engine", "Data may be broken.")},
    {Msg::OhMyGod, QT_TRANSLATE_NOOP("Engine", "Oh, my god!")},
    {Msg::NoMemory, QT_TRANSLATE_NOOP("Engine", "作業用メモリが確保できませんでした")},
    {Msg::Unexpected, QT_TRANSLATE_NOOP("Engine", "予期しないエラー：%1")},
    {Msg::ImageTooLarge,
     QT_TRANSLATE_NOOP("Engine", "WAVEイメージが大きすぎます：フレーム %1～%2 はWAVEファイルの4 GiBを超えます。")},
    {Msg::ExtensibleFmtShort, QT_TRANSLATE_NOOP("Engine", "拡張形式のfmtチャンクが短すぎます（%1 バイト）")},
    {Msg::ExtensibleUnknown, QT_TRANSLATE_NOOP("Engine", "サブフォーマットが不明な拡張形式のWAVEには対応していません")},
    {Msg::ExtensibleFormat, QT_TRANSLATE_NOOP("Engine", "%1 のサンプルを持つ拡張形式のWAVEには対応していません")},
    {Msg::FormatCode, QT_TRANSLATE_NOOP("Engine", "フォーマット %1")},
    {Msg::FloatBits, QT_TRANSLATE_NOOP("Engine", "%1 ビットの浮動小数点サンプルには対応していません")},
    {Msg::PcmBits, QT_TRANSLATE_NOOP("Engine", "%1 ビットのPCMサンプルには対応していません")},
    {Msg::Compressed, QT_TRANSLATE_NOOP("Engine", "圧縮されたオーディオ（%1、フォーマット %2）には対応していません")},
    {Msg::UnknownFormat, QT_TRANSLATE_NOOP("Engine", "フォーマット %1 には対応していません（対応しているのはPCMとIEEE浮動小数点です）")},
    {Msg::NoChannels, QT_TRANSLATE_NOOP("Engine", "ファイルにチャンネルがありません")},
    {Msg::RateUnsupported, QT_TRANSLATE_NOOP("Engine", "サンプルレート %1 Hz には対応していません（対応しているのは %2～%3 Hz です）")},
    {Msg::BlockAlign, QT_TRANSLATE_NOOP("Engine", "fmtチャンクのブロックアライン（%1）が %2 チャンネル %3 ビットと合いません")},
    {Msg::NotRiffShort, QT_TRANSLATE_NOOP("Engine", "RIFF/WAVEファイルではありません（短すぎます）")},
    {Msg::NotRiff, QT_TRANSLATE_NOOP("Engine", "RIFF/WAVEファイルではありません")},
    {Msg::NoWaveForm, QT_TRANSLATE_NOOP("Engine", "RIFF/WAVEファイルではありません（WAVE形式がありません）")},
    {Msg::Ds64Short, QT_TRANSLATE_NOOP("Engine", "RF64ファイルのds64チャンクが短すぎます")},
    {Msg::Ds64Impossible, QT_TRANSLATE_NOOP("Engine", "RF64ファイルのds64チャンクのサイズがありえない値です")},
    {Msg::FmtShort, QT_TRANSLATE_NOOP("Engine", "fmtチャンクが短すぎます（%1 バイト）")},
    {Msg::FmtPastEnd, QT_TRANSLATE_NOOP("Engine", "fmtチャンクがファイルの終わりを越えています")},
    {Msg::DataBeforeFmt, QT_TRANSLATE_NOOP("Engine", "dataチャンクがfmtチャンクより前にあります")},
    {Msg::RiffSizeMismatch, QT_TRANSLATE_NOOP("Engine", "RIFFサイズがファイルサイズと合いません（無視します）")},
    {Msg::DataShort, QT_TRANSLATE_NOOP("Engine", "dataチャンクは %1 バイトとしていますが、ファイルには %2 バイトしかありません。ファイルにあるフレームだけを読みます")},
    {Msg::ChunkPastEnd, QT_TRANSLATE_NOOP("Engine", "%1 チャンクがファイルの終わりを越えています")},
    {Msg::NoDataChunk, QT_TRANSLATE_NOOP("Engine", "dataチャンクがありません")},
    {Msg::NoFmtChunk, QT_TRANSLATE_NOOP("Engine", "fmtチャンクがありません")},
    {Msg::ExtraChannels, QT_TRANSLATE_NOOP("Engine", "%1 チャンネル：最初の2チャンネルだけを読みます")},
    {Msg::CannotOpen, QT_TRANSLATE_NOOP("Engine", "%1 を開けません：%2")},
    {Msg::CannotRead, QT_TRANSLATE_NOOP("Engine", "%1 を読めません：%2")},
    {Msg::CannotReadFile, QT_TRANSLATE_NOOP("Engine", "%1 を読めません")},
    {Msg::CannotWrite, QT_TRANSLATE_NOOP("Engine", "%1 に書き込めません：%2")},
    {Msg::PathTooLong, QT_TRANSLATE_NOOP("Engine", "%1 を作成できません：パスが長すぎます（%2 バイト）")},
    {Msg::NameTooLong,
     QT_TRANSLATE_NOOP("Engine", "%1 を作成できません：ファイル名が長すぎます（%2 バイト、上限 %3 バイト）")},
    {Msg::NotRegularFile, QT_TRANSLATE_NOOP("Engine", "通常のファイルではありません")},
    {Msg::FileShrank, QT_TRANSLATE_NOOP("Engine", "ファイルが読み始めたときより短くなっています")},
    {Msg::FileEmpty, QT_TRANSLATE_NOOP("Engine", "ファイルが空です")},
    {Msg::FileReadOnly, QT_TRANSLATE_NOOP("Engine", "ファイルが読み取り専用です")},
    {Msg::Labelled, QT_TRANSLATE_NOOP("Engine", "%1：%2")},
    {Msg::LogFile, QT_TRANSLATE_NOOP("Engine", "ログファイル %1")},
    {Msg::EqCopy, QT_TRANSLATE_NOOP("Engine", "イコライズしたコピー %1")},
    {Msg::ReportFile, QT_TRANSLATE_NOOP("Engine", "レポートファイル %1")},
    {Msg::FolderNotWritable,
     QT_TRANSLATE_NOOP("Engine", "プログラムフォルダ %1 に書き込めないため、設定と結果は %2 に保存します。")},
    {Msg::CannotStore, QT_TRANSLATE_NOOP("Engine", "設定 [%1] %2=\"%3\" を保存できません：%4。何も保存していません")},
    {Msg::SectionNotStorable, QT_TRANSLATE_NOOP("Engine", "セクション名に改行かNULが含まれています")},
    {Msg::KeyNotStorable,
     QT_TRANSLATE_NOOP("Engine", "キーが空か、改行・NUL・'=' を含むか、端に空白があるか、';' '#' '[' で始まっています")},
    {Msg::ValueNotStorable, QT_TRANSLATE_NOOP("Engine", "値に改行かNULが含まれています")},
    {Msg::ValueHasSpaces, QT_TRANSLATE_NOOP("Engine", "値の先頭か末尾が空白です")},
    {Msg::NoUserFolder,
     QT_TRANSLATE_NOOP("Engine",
                       "ユーザー設定ファイルを置くフォルダがありません（XDG_CONFIG_HOME も HOME も設定されていません）")},
    {Msg::NotOverwritten, QT_TRANSLATE_NOOP("Engine", "%1（上書きしていません）")},
    {Msg::SettingsNotSaved, QT_TRANSLATE_NOOP("Engine", "設定を保存できませんでした：%1")},
    {Msg::SettingsTooLarge, QT_TRANSLATE_NOOP("Engine", "設定ファイルが %1 バイトを超えています")},
    {Msg::JobWithoutMaster, QT_TRANSLATE_NOOP("Engine", "ジョブに基準ファイルがありません")},
    {Msg::LineBreakInName, QT_TRANSLATE_NOOP("Engine", "改行を含むファイル名はジョブ履歴に保存できません")},
    {Msg::Equalising, QT_TRANSLATE_NOOP("Engine", "イコライジング：%1")},
    {Msg::Analysing, QT_TRANSLATE_NOOP("Engine", "同期ポイントの分析")},
    {Msg::Tracking, QT_TRANSLATE_NOOP("Engine", "全体の粗い追跡")},
    {Msg::ProcessingTime, QT_TRANSLATE_NOOP("Engine", "処理時間=%1H %2M %3S %4ms")},
    {Msg::Elapsed, QT_TRANSLATE_NOOP("Engine", "%1分%2秒")},
    {Msg::Remaining, QT_TRANSLATE_NOOP("Engine", "あと%1分%2秒")},
    {Msg::Segment, QT_TRANSLATE_NOOP("Engine", "区間 %1-%2 : %3～%4 秒")},
    {Msg::Retry, QT_TRANSLATE_NOOP("Engine", "Retry %1 at %2")},
    {Msg::Checking, QT_TRANSLATE_NOOP("Engine", "同期確認：%1")},
    {Msg::Making, QT_TRANSLATE_NOOP("Engine", "%1の作成")},
    {Msg::CannotStartWorker, QT_TRANSLATE_NOOP("Engine", "作業スレッドを開始できません：%1")},
    {Msg::JobRunning, QT_TRANSLATE_NOOP("Engine", "ジョブはすでに実行中です")},
    {Msg::SlaveIsMaster,
     QT_TRANSLATE_NOOP("Engine", "同期させるファイル %1 は基準ファイルそのものです。別のファイルを選んでください")},
    {Msg::SharedSection,
     QT_TRANSLATE_NOOP("Engine", "基準ファイル %1 と同期させるファイル %2 は設定の同じセクション [%3] を使うことになります"
                                 "（保存する名前から角括弧は除かれます）。どちらかの名前を変えてください")},
    {Msg::MasterChanged,
     QT_TRANSLATE_NOOP("Engine", "基準ファイル %1 がジョブの実行中に変更または削除されました。見つかった分割点は保存しましたが、"
                                 "同期ファイルは作成していません")},
    {Msg::SlaveChanged,
     QT_TRANSLATE_NOOP("Engine", "同期させるファイル %1 がジョブの実行中に変更または削除されました。見つかった分割点は保存しましたが、"
                                 "同期ファイルは作成していません")},
    {Msg::TooFewPoints,
     QT_TRANSLATE_NOOP("Engine", "同期ファイルは作成していません：保存されている分割点が2個未満です（%1 個）")},
    {Msg::PairBusy,
     QT_TRANSLATE_NOOP("Engine", "%1 と %2 の別のジョブが実行中のため、このジョブは開始しませんでした"
                                 "（そのジョブが終わってからやり直してください）")},
    {Msg::CannotMakeJobLock, QT_TRANSLATE_NOOP("Engine", "ジョブのロック %1 を作成できません：%2")},
    {Msg::CannotTakeJobLock, QT_TRANSLATE_NOOP("Engine", "ジョブのロック %1 を取得できません：%2")},
    {Msg::JobLockReplaced, QT_TRANSLATE_NOOP("Engine", "ジョブのロック %1 を取得できません：置き換えが繰り返されています")},
    {Msg::StartUndecided, QT_TRANSLATE_NOOP("Engine", "開始点：相関で確かめられず、立上りの推定のまま")},
    {Msg::LockGuardNote, QT_TRANSLATE_NOOP("Engine", "ロック判定：補正 %1、喪失 %2（保持 %3 点）、回復 %4")},
    {Msg::MasterNotUsable, QT_TRANSLATE_NOOP("Engine", "基準ファイル %1 は使えません：%2")},
    {Msg::SlaveNotUsable, QT_TRANSLATE_NOOP("Engine", "同期させるファイル %1 は使えません：%2")},
    {Msg::NotUsable, QT_TRANSLATE_NOOP("Engine", "%1 は使えません：%2")},
    {Msg::MasterCannotLoad, QT_TRANSLATE_NOOP("Engine", "基準ファイル %1 を読み込めません：%2")},
    {Msg::SlaveCannotLoad, QT_TRANSLATE_NOOP("Engine", "同期させるファイル %1 を読み込めません：%2")},
    {Msg::CannotLoad, QT_TRANSLATE_NOOP("Engine", "%1 を読み込めません：%2")},
    {Msg::MasterSilent,
     QT_TRANSLATE_NOOP("Engine", "基準ファイル %1 には測れる音量がありません（平均 0）。照合できません")},
    {Msg::DifferentRates,
     QT_TRANSLATE_NOOP("Engine", "基準ファイル（%1 Hz）と同期させるファイル（%2 Hz）のサンプルレートが違います")},
    {Msg::RateConversion, QT_TRANSLATE_NOOP("Engine", "サンプルレートを変換できません：%1")},
    {Msg::PointOutOfRange, QT_TRANSLATE_NOOP("Engine", "%1 の分割点が範囲外です")},
    {Msg::OutputTooLarge,
     QT_TRANSLATE_NOOP("Engine", "同期ファイルがWAVEファイルの上限 4 GiB を超えてしまいます（%1 フレーム）")},
    {Msg::NoSegmentBuilt, QT_TRANSLATE_NOOP("Engine", "%1 の区間を1つも作れませんでした")},
    {Msg::ThePair, QT_TRANSLATE_NOOP("Engine", "%1 / %2 の組")},
    {Msg::PointsBelong, QT_TRANSLATE_NOOP("Engine", "%1 に保存されている分割点は %2 のものです")},
    {Msg::PointsFromOtherJobs,
     QT_TRANSLATE_NOOP("Engine", "%1 と %2 に保存されている分割点は別々のジョブで見つかったものです（%3；%4）")},
    {Msg::PointsNotUsed, QT_TRANSLATE_NOOP("Engine", "%1。これらは使わず、最初から検索します")},
    {Msg::PointsOfEarlierFile,
     QT_TRANSLATE_NOOP("Engine", "%1 に保存されている分割点は、置き換えられる前のファイルで見つかったものです（大きさ・更新時刻・内容が違います）")},
    {Msg::PointUnusable, QT_TRANSLATE_NOOP("Engine", "%1 に保存されている分割点 %2 は使えません：%3")},
    {Msg::PointMissing, QT_TRANSLATE_NOOP("Engine", "Count が %1 ですが、その点は保存されていません")},
    {Msg::PointOutsideFile, QT_TRANSLATE_NOOP("Engine", "%1 はファイルの範囲（%2 … %3）の外です")},
    {Msg::PointOutOfOrder, QT_TRANSLATE_NOOP("Engine", "%1 は前の点 %2 より後ではありません")},
    {Msg::SynchroniseAgain, QT_TRANSLATE_NOOP("Engine", "%1。%2 と %3 をもう一度同期させてください")},
    {Msg::NothingToResume, QT_TRANSLATE_NOOP("Engine", "再開に使える保存済みの分割点がありません。最初から検索します")},
    {Msg::PointsBeforeLeadIn,
     QT_TRANSLATE_NOOP("Engine", "保存済みの分割点は基準の頭出し位置より前で終わっています。再開するものはありません")},
    {Msg::Resuming,
     QT_TRANSLATE_NOOP("Engine", "保存済みの分割点 %1 個の後から再開します：%2（基準）/ %3（同期）")},
    {Msg::NotStereo, QT_TRANSLATE_NOOP("Engine", "%1 はステレオのWAVEファイルではありません")},
    {Msg::NoSampleRate, QT_TRANSLATE_NOOP("Engine", "サンプルレートがありません")},
    {Msg::CheckFailed, QT_TRANSLATE_NOOP("Engine", "同期確認: できませんでした（%1）")},
    {Msg::CheckTooShort, QT_TRANSLATE_NOOP("Engine", "同期確認: 短すぎて確認できません")},
    {Msg::CheckNoCommonSound,
     QT_TRANSLATE_NOOP("Engine", "同期確認: 左右の両方に音のある部分がありません — 同期していません")},
    {Msg::CheckTooLittle,
     QT_TRANSLATE_NOOP("Engine", "同期確認: 両方に音のある部分の %1 しか照合できません（左右が別の録音か、片方が雑音です）"
                                 " — 同期していません")},
    {Msg::CheckWithin, QT_TRANSLATE_NOOP("Engine", "同期確認: %1 が±2サンプル以内")},
    {Msg::CheckOff, QT_TRANSLATE_NOOP("Engine", "、ずれ: %1")},
    {Msg::CheckUnmatched, QT_TRANSLATE_NOOP("Engine", "、一致なし: %1")},
    {Msg::CheckSeconds, QT_TRANSLATE_NOOP("Engine", "%1–%2 秒")},
    {Msg::ListSeparator, QT_TRANSLATE_NOOP("Engine", "、")},
    {Msg::CheckMore, QT_TRANSLATE_NOOP("Engine", " ほか %1 箇所")},
    {Msg::CheckNotInStep, QT_TRANSLATE_NOOP("Engine", " — 同期していません")},
    {Msg::CheckExtrapolated, QT_TRANSLATE_NOOP("Engine", "（%1 秒より後は検索しておらず、外挿です）")},
    {Msg::CheckDetails,
     QT_TRANSLATE_NOOP("Engine", "確認の詳細: 音のある窓 %2 個のうち %1 個を測定（全部で %3 個）、±2サンプル以内 %4"
                                 "（音のある窓全体の %5）、±1 ms 以内 %6、ずれの中央値 %7 サンプル、%8")},
    {Msg::InStep, QT_TRANSLATE_NOOP("Engine", "同期しています")},
    {Msg::NotInStep, QT_TRANSLATE_NOOP("Engine", "同期していません")},
    {Msg::ReportRowUnreadable, QT_TRANSLATE_NOOP("Engine", "%1 の %2 行目が読めません：%3")},
};

constexpr bool inOrder() {
    for (std::size_t i = 0; i < std::size(kCatalogue); ++i)
        if (static_cast<std::size_t>(kCatalogue[i].id) != i) return false;
    return std::size(kCatalogue) == static_cast<std::size_t>(Msg::Count);
}
static_assert(inOrder(), "kCatalogue lists every Msg once, in the order of the enum");

struct Choice {
    MessageLanguage language = MessageLanguage::Japanese;
    MessageTranslator translate;
};

std::mutex& choiceMutex() {
    static std::mutex m;
    return m;
}

Choice& choice() {
    static Choice c;
    return c;
}

Choice currentChoice() {
    std::lock_guard lock(choiceMutex());
    return choice();
}

}  // namespace

void SetMessageTranslator(MessageLanguage language, MessageTranslator translate) {
    std::lock_guard lock(choiceMutex());
    choice() = Choice{language, std::move(translate)};
}

MessageLanguage CurrentMessageLanguage() { return currentChoice().language; }

const char* MessageSource(Msg id) {
    const auto i = static_cast<std::size_t>(id);
    return i < std::size(kCatalogue) ? kCatalogue[i].japanese : "%1";
}

std::string SubstituteArgs(std::string_view text, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(text.size() + 64);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < args.size()) {
                out += args[n];
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string FormatMessage(Msg id, const std::vector<std::string>& args) {
    const Choice c = currentChoice();
    const char* source = MessageSource(id);
    return SubstituteArgs(c.translate ? c.translate(source) : std::string(source), args);
}

std::string SystemErrorText(int errnum) {
    // One locale per language, made once: glibc translates its error texts by the
    // locale's LC_MESSAGES (Japanese needs the ja_JP.UTF-8 locale; without it, English)
    // and converts them to its LC_CTYPE's charset (under "C", Japanese becomes "???").
    static const locale_t japanese = ::newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "ja_JP.UTF-8", nullptr);
    static const locale_t english = ::newlocale(LC_MESSAGES_MASK, "C", nullptr);
    const locale_t chosen = CurrentMessageLanguage() == MessageLanguage::Japanese && japanese ? japanese : english;
    return chosen ? ::strerror_l(errnum, chosen) : std::strerror(errnum);
}

std::string FailureText(const std::exception& e) {
    if (dynamic_cast<const EngineError*>(&e)) return e.what();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return MessageText(Msg::NoMemory);
    return MessageText(Msg::Unexpected, e.what());
}

}  // namespace tandem
