#pragma once

// The names more than one program spells: the engine's command line and
// what the backend reads of it, the backend's wire as the shell and the page
// speak it, and the shell's own events to the page. A name changes here or
// nowhere (the page's scripts spell them too; docs/wire.md lists them all).

#include <string_view>

namespace velmora {

// The engine's command line.
namespace engine_command {
inline constexpr std::string_view kProbe = "probe";
inline constexpr std::string_view kWrite = "write";
inline constexpr std::string_view kStamp = "stamp";
inline constexpr std::string_view kUnstamp = "unstamp";
inline constexpr std::string_view kVersion = "--version";
}  // namespace engine_command

// Starts each line of the engine's standard error that tells how far a
// write has come: "progress=" and a fraction from 0 to 1.
inline constexpr std::string_view kProgressPrefix = "progress=";

// The keys of the engine's one-line report.
namespace report_key {
inline constexpr std::string_view kEngine = "engine";
inline constexpr std::string_view kRate = "rate";
inline constexpr std::string_view kDuration = "duration";
inline constexpr std::string_view kTimecode = "timecode";
inline constexpr std::string_view kReel = "reel";          // only when the timecode track names one
inline constexpr std::string_view kAppended = "appended";  // only when stamped in place (moov/udta/vlmr)
inline constexpr std::string_view kCreatedUnix = "createdUnix";
inline constexpr std::string_view kWidth = "width";
inline constexpr std::string_view kHeight = "height";
inline constexpr std::string_view kCodec = "codec";
inline constexpr std::string_view kVideoIndex = "videoIndex";
inline constexpr std::string_view kStreams = "streams";
inline constexpr std::string_view kMeasuredRate = "measuredRate";
inline constexpr std::string_view kRecordedUnix = "recordedUnix";
inline constexpr std::string_view kRecordedOffset = "recordedOffset";
// Of each entry of "streams".
inline constexpr std::string_view kIndex = "index";
inline constexpr std::string_view kTrackId = "trackId";
inline constexpr std::string_view kType = "type";
inline constexpr std::string_view kTag = "tag";
inline constexpr std::string_view kAttachedPicture = "attachedPicture";
}  // namespace report_key

// The commands the backend answers on its standard input.
namespace backend_command {
inline constexpr std::string_view kLoadSettings = "load_settings";
inline constexpr std::string_view kSaveSettings = "save_settings";
inline constexpr std::string_view kImportMovies = "import_movies";
inline constexpr std::string_view kProcessMovies = "process_movies";
inline constexpr std::string_view kCancel = "cancel";
inline constexpr std::string_view kBusy = "busy";
inline constexpr std::string_view kReveal = "reveal";
inline constexpr std::string_view kThirdPartyNotices = "third_party_notices";
inline constexpr std::string_view kRestore = "restore";
inline constexpr std::string_view kSaveReport = "save_report";
inline constexpr std::string_view kOutputsExist = "outputs_exist";
inline constexpr std::string_view kRemoveBackups = "remove_backups";
inline constexpr std::string_view kShutdown = "shutdown";
}  // namespace backend_command

// Unasked messages on the backend's standard output: {"event":…,"payload":…}.
namespace backend_event {
inline constexpr std::string_view kEventKey = "event";
inline constexpr std::string_view kPayloadKey = "payload";
inline constexpr std::string_view kProgress = "progress";
}  // namespace backend_event

// The events the shell sends the page on its own.
namespace page_event {
inline constexpr std::string_view kDragEnter = "native://drag-enter";
inline constexpr std::string_view kDragLeave = "native://drag-leave";
inline constexpr std::string_view kDragDrop = "native://drag-drop";
inline constexpr std::string_view kCloseBlocked = "close-blocked";
// The menu's "Save Report…": the page holds the batch, so it builds the text.
inline constexpr std::string_view kSaveReportRequested = "native://save-report";
}  // namespace page_event

}  // namespace velmora
