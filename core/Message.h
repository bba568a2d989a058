// The messages the engine shows a user (errors, notices, progress lines, alerts), by id.
// Each id has one Japanese text in Message.cpp, with %1…%9 for its arguments; Japanese is
// the source language. The English texts live in translations/tandem_en.ts (context
// "Engine"), which lupdate fills from the marked texts in Message.cpp: the desktop
// program reads them through Qt's translator, tandem-cli through the table the build
// generates from the same file. Debug log lines are not messages and stay as written.
//
// A message is put into words when it is made (MessageText, EngineError), in the
// language the front end chose at start-up with SetMessageTranslator.
//
// Thread safety: MessageText and SystemErrorText from any thread; SetMessageTranslator
// at start-up, before any job runs.
#pragma once

#include <concepts>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tandem {

enum class Msg {
    // Alerts (fixed texts) and system failures
    OutOfMemory,
    DataMayBeBroken,
    OhMyGod,
    NoMemory,
    Unexpected,
    ImageTooLarge,
    // WAVE files
    ExtensibleFmtShort,
    ExtensibleUnknown,
    ExtensibleFormat,
    FormatCode,
    FloatBits,
    PcmBits,
    Compressed,
    UnknownFormat,
    NoChannels,
    RateUnsupported,
    BlockAlign,
    NotRiffShort,
    NotRiff,
    NoWaveForm,
    Ds64Short,
    Ds64Impossible,
    FmtShort,
    FmtPastEnd,
    DataBeforeFmt,
    RiffSizeMismatch,
    DataShort,
    ChunkPastEnd,
    NoDataChunk,
    NoFmtChunk,
    ExtraChannels,
    // Files
    CannotOpen,
    CannotRead,
    CannotReadFile,
    CannotWrite,
    PathTooLong,
    NameTooLong,
    NotRegularFile,
    FileShrank,
    FileEmpty,
    FileReadOnly,
    Labelled,
    LogFile,
    EqCopy,
    ReportFile,
    FolderNotWritable,
    // Settings
    CannotStore,
    SectionNotStorable,
    KeyNotStorable,
    ValueNotStorable,
    ValueHasSpaces,
    NoUserFolder,
    NotOverwritten,
    SettingsNotSaved,
    SettingsTooLarge,
    // Job history
    JobWithoutMaster,
    LineBreakInName,
    // Job frame
    Equalising,
    Analysing,
    Tracking,
    ProcessingTime,
    Elapsed,
    Remaining,
    Segment,
    Retry,
    Checking,
    Making,
    CannotStartWorker,
    JobRunning,
    SlaveIsMaster,
    SharedSection,
    MasterChanged,
    SlaveChanged,
    TooFewPoints,
    PairBusy,
    CannotMakeJobLock,
    CannotTakeJobLock,
    JobLockReplaced,
    StartUndecided,
    LockGuardNote,
    // Files in a job
    MasterNotUsable,
    SlaveNotUsable,
    NotUsable,
    MasterCannotLoad,
    SlaveCannotLoad,
    CannotLoad,
    MasterSilent,
    DifferentRates,
    RateConversion,
    PointOutOfRange,
    OutputTooLarge,
    NoSegmentBuilt,
    // Stored points and resuming
    ThePair,
    PointsBelong,
    PointsFromOtherJobs,
    PointsNotUsed,
    PointsOfEarlierFile,
    PointUnusable,
    PointMissing,
    PointOutsideFile,
    PointOutOfOrder,
    SynchroniseAgain,
    NothingToResume,
    PointsBeforeLeadIn,
    Resuming,
    // The check of a synchronised file
    NotStereo,
    NoSampleRate,
    CheckFailed,
    CheckTooShort,
    CheckNoCommonSound,
    CheckTooLittle,
    CheckWithin,
    CheckOff,
    CheckUnmatched,
    CheckSeconds,
    ListSeparator,
    CheckMore,
    CheckNotInStep,
    CheckExtrapolated,
    CheckDetails,
    InStep,
    NotInStep,
    // Reports read back
    ReportRowUnreadable,
    Count
};

enum class MessageLanguage { Japanese, English };

// Turns a Japanese text of the catalogue into the front end's language; returns its
// argument when it has no translation.
using MessageTranslator = std::function<std::string(const char* japanese)>;

// Chooses the language of the messages made from now on. Without a translator the
// Japanese texts are used as they are. The language also chooses the words of
// system errors (SystemErrorText).
void SetMessageTranslator(MessageLanguage language, MessageTranslator translate);
MessageLanguage CurrentMessageLanguage();

// The Japanese text of a message, with its %n placeholders.
const char* MessageSource(Msg id);

// The text of a message in the chosen language, its %1… replaced by args in order.
std::string FormatMessage(Msg id, const std::vector<std::string>& args);

inline std::string MessageArg(std::string text) { return text; }
inline std::string MessageArg(const char* text) { return text; }
template <std::integral T>
std::string MessageArg(T value) {
    return std::to_string(value);
}

template <class... Args>
std::string MessageText(Msg id, const Args&... args) {
    return FormatMessage(id, {MessageArg(args)...});
}

// strerror in the chosen language (glibc's own translation).
std::string SystemErrorText(int errnum);

// Replaces %1…%9 in a text by args; a placeholder without an argument stays.
std::string SubstituteArgs(std::string_view text, const std::vector<std::string>& args);

}  // namespace tandem
