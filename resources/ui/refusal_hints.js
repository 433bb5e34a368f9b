// One plain line under a refusal or failure: is the file damaged, or only of
// a kind not supported yet, and what can the user do. The engine's and the
// backend's messages themselves are shown unchanged above it. Pure.
const VelmoraRefusalHints = (function () {
  'use strict';

  const NOT_A_MOVIE = 'Supported formats: MOV, MP4, M4V.';

  const REWRAP = 'Re-wrapping it losslessly (a stream copy into a new .mov, no re-encoding) usually gives a file Velmora can stamp.';
  const DAMAGED = 'The file looks damaged or incomplete, for example a copy that stopped early or a recording cut off by ' +
    'a power loss. Copy it again from the card; a recovery tool may rebuild it.';
  const REPORT = 'Nothing was published and the source is untouched. If it happens again, please report this movie.';

  const HINTS = Object.freeze({
    fragmented: 'Not damaged, only not supported yet: fragmented movies come from live, streaming or recovery tools. ' +
      REWRAP,
    compressedIndex: 'Not damaged, only not supported yet: the movie\'s index is compressed or split. ' + REWRAP,
    openEnded: 'Not supported yet: the movie was probably not closed properly while recording. ' + REWRAP,
    variableRate: 'Not damaged: the frames have different durations, as phones and screen recorders write them. A ' +
      'timecode needs a constant rate: convert it in an editor first.',
    trimmed: 'Not damaged: the movie was trimmed without rewriting it. Export it, or re-wrap it without the edit, ' +
      'and import that.',
    severalFormats: 'Not damaged: the video changes format inside the file, usually after clips were joined. Export ' +
      'it in one format and import that.',
    severalTimecodes: 'Not damaged: the movie already carries several timecode tracks, and Velmora cannot tell which ' +
      'one to replace.',
    jumpingTimecode: 'Not damaged: the movie\'s own timecode jumps inside the movie; Velmora does not replace such a ' +
      'track.',
    negativeTimecode: 'Not damaged: the movie\'s own timecode track starts before its media.',
    encrypted: 'Not damaged: the media is encrypted, so it cannot be rewritten.',
    reference: 'Not damaged: this is a reference movie whose media lives in other files. Export a self-contained ' +
      'movie and import that.',
    incompleteTiming: 'The timing table does not cover every frame, which usually means an unfinished recording. ' +
      REWRAP,
    zeroDuration: 'Not necessarily damaged: a frame has no duration, which some recorders write at the end of a ' +
      'clip. ' + REWRAP,
    rate: 'Not supported yet: the frame rate is outside 1 to 99 fps.',
    largeIndex: 'Not supported: the movie\'s index is larger than 128 MB, as in very long recordings.',
    oneVideoTrack: 'Not supported: Velmora stamps movies with exactly one video track; sound-only files and ' +
      'multi-camera movies are left out.',
    rareVariant: 'Not damaged, only not supported yet: a rare variant of the movie format. ' + REWRAP,
    damaged: DAMAGED,
    timecodeRates: 'Not damaged: the movie\'s own timecode track counts at a rate other than the video\'s; Velmora ' +
      'does not replace such a track.',
    tooLong: 'Not supported: the movie is longer than a timecode track\'s duration field can hold.',
    notRegular: 'Only regular files are read: this is a folder, a device or a pipe.',
    changedWhileRead: 'The file changed on disk while it was read, for example a copy still running. Wait until the ' +
      'copy has finished, then try again.',
    startTimecode: 'Check the start timecode: HH:MM:SS:FF with frames below the rate, and a semicolon before the ' +
      'frames (drop-frame) only at 29.97 or 59.94 fps, where the first labels of most minutes are skipped.',
    reelName: 'Check the reel name: 1 to 32 bytes, without control characters.',
    notStamped: 'Nothing to restore: the movie carries no timecode that Velmora appended to it.',
    undone: 'The timecode was taken off again, so the movie is exactly as it was. If it happens again, please report ' +
      'this movie.',
    shortWrite: 'The disk took only part of the data. Check its free space and its connection.',
    engineArguments: 'The engine was started with arguments it does not take. ' + REPORT,
    notAMovie: 'Not a movie Velmora stamps: only .mov, .mp4 and .m4v files are imported.',
    changedDuringImport: 'The file was still being written or copied while it was read. Wait until the copy has ' +
      'finished, then import it again.',
    changedSinceImport: 'The file changed on disk after it was imported, for example a copy still running. Remove it ' +
      'from the list and import it again.',
    overwritesSource: 'Choose another destination, or a prefix or running number, so the output gets a name of its ' +
      'own.',
    report: REPORT,
    engineEnded: 'The engine ended unexpectedly. ' + REPORT,
    notAllowed: 'The system does not allow this: check the file\'s and the folder\'s permissions.',
    gone: 'The file or folder is not there any more: it was moved, renamed or deleted.',
    diskError: 'The disk could not be read or written. Check the card or drive and its connection.',
    noAccess: 'Velmora may not read or write here: check the file\'s and the folder\'s permissions.',
    exists: 'A file with the output\'s name already exists, and Velmora never overwrites files. Move it away or ' +
      'choose another destination.',
    full: 'The disk is full. Free some space or choose another destination.',
    readOnly: 'The disk is read-only, for example a locked card. Choose another destination.',
  });

  // Every refusal the engine can print, and the backend's and the page's own
  // failures, each once with the name of its hint. The tests hold this list
  // equal to tests/data/refusals.json, and the engine's tests hold that file
  // equal to the engine's sources, so a reworded message cannot lose its hint.
  // A pattern stands where the message carries a value: SYSTEM_TEXT is the
  // operating system's own words for the error number that follows.
  const SYSTEM_TEXT = '{system text}';
  const REFUSALS = Object.freeze([
    { message: 'Fragmented movies are not supported yet', from: 'engine', hint: 'fragmented' },
    { message: 'Fragmented or compressed movie metadata is not supported yet', from: 'engine',
      hint: 'compressedIndex' },
    { message: 'Open-ended movie atoms are not supported yet', from: 'engine', hint: 'openEnded' },
    { message: 'Variable frame rate movies are not supported yet', from: 'engine', hint: 'variableRate' },
    { message: 'Trimmed or complex video edit lists are not supported yet', from: 'engine', hint: 'trimmed' },
    { message: 'Multiple sample descriptions are not supported yet', from: 'engine', hint: 'severalFormats' },
    { message: 'Multiple timecode tracks are not supported yet', from: 'engine', hint: 'severalTimecodes' },
    { message: 'Discontinuous timecode is not supported yet', from: 'engine', hint: 'jumpingTimecode' },
    { message: 'Negative timecode is not supported yet', from: 'engine', hint: 'negativeTimecode' },
    { message: 'Encrypted media is not supported', from: 'engine', hint: 'encrypted' },
    { message: 'External media references are not supported', from: 'engine', hint: 'reference' },
    { message: 'Incomplete sample timing is not supported', from: 'engine', hint: 'incompleteTiming' },
    { message: 'Invalid sample duration', from: 'engine', hint: 'zeroDuration' },
    { message: 'Unsupported frame rate', from: 'engine', hint: 'rate' },
    { message: 'Movie metadata exceeds the 128 MB safety limit', from: 'engine', hint: 'largeIndex' },
    { message: 'Expected one primary video track', from: 'engine', hint: 'oneVideoTrack' },
    { message: 'Written timecode failed verification', from: 'engine', hint: 'report' },
    { message: 'Written reel failed verification', from: 'engine', hint: 'report' },
    { message: 'Camera/audio track metadata changed unexpectedly', from: 'engine', hint: 'report' },
    { message: 'Unsupported movie header version', from: 'engine', hint: 'rareVariant' },
    { message: 'Unsupported track header version', from: 'engine', hint: 'rareVariant' },
    { message: 'Unsupported mdhd version', from: 'engine', hint: 'rareVariant' },
    { message: 'Unsupported edit list version', from: 'engine', hint: 'rareVariant' },
    { message: 'Unsupported sample data reference', from: 'engine', hint: 'rareVariant' },
    { message: 'Unsupported timecode format flags', from: 'engine', hint: 'rareVariant' },
    { message: 'Unsupported timecode sample layout', from: 'engine', hint: 'rareVariant' },
    { message: 'Truncated movie metadata', from: 'engine', hint: 'damaged' },
    { message: 'Truncated movie atom header', from: 'engine', hint: 'damaged' },
    { message: 'Truncated dref', from: 'engine', hint: 'damaged' },
    { message: 'Invalid movie atom size', from: 'engine', hint: 'damaged' },
    { message: 'Invalid movie time scale', from: 'engine', hint: 'damaged' },
    { message: 'Invalid media time scale', from: 'engine', hint: 'damaged' },
    { message: 'Invalid sample descriptions', from: 'engine', hint: 'damaged' },
    { message: 'Invalid sample size table', from: 'engine', hint: 'damaged' },
    { message: 'Invalid sample-to-chunk table', from: 'engine', hint: 'damaged' },
    { message: 'Invalid sample-to-chunk mapping', from: 'engine', hint: 'damaged' },
    { message: 'Invalid sample timing table', from: 'engine', hint: 'damaged' },
    { message: 'Invalid chunk offset table', from: 'engine', hint: 'damaged' },
    { message: 'Invalid metadata key', from: 'engine', hint: 'damaged' },
    { message: 'Invalid stamp record', from: 'engine', hint: 'damaged' },
    { message: 'No reel name', from: 'engine', hint: 'damaged' },
    { message: 'Missing or duplicate required metadata atom', from: 'engine', hint: 'damaged' },
    { message: 'Missing chunk samples', from: 'engine', hint: 'damaged' },
    { message: 'Duplicate metadata atom', from: 'engine', hint: 'damaged' },
    { message: 'Duplicate or invalid track identifiers', from: 'engine', hint: 'damaged' },
    { message: 'Empty tkhd', from: 'engine', hint: 'damaged' },
    { message: 'Expected one movie metadata atom', from: 'engine', hint: 'damaged' },
    { message: 'Expected a 32-bit timecode sample', from: 'engine', hint: 'damaged' },
    { message: 'Too many metadata atoms', from: 'engine', hint: 'damaged' },
    { message: 'Too many top-level movie atoms', from: 'engine', hint: 'damaged' },
    { message: 'Too many chunk samples', from: 'engine', hint: 'damaged' },
    { message: 'Sample points outside local media data', from: 'engine', hint: 'damaged' },
    { message: 'Offset overflow', from: 'engine', hint: 'damaged' },
    { message: 'Chunk size overflow', from: 'engine', hint: 'damaged' },
    { message: 'Sample count overflow', from: 'engine', hint: 'damaged' },
    { message: 'Duration overflow', from: 'engine', hint: 'damaged' },
    { message: 'Chunk offset overflow', from: 'engine', hint: 'damaged' },
    { message: 'Track identifier overflow', from: 'engine', hint: 'damaged' },
    { message: 'File size overflow', from: 'engine', hint: 'damaged' },
    { message: 'failed to fill whole buffer', from: 'engine', hint: 'damaged' },
    { message: 'Timecode and video rates disagree', from: 'engine', hint: 'timecodeRates' },
    { message: 'Timecode media duration exceeds supported 32-bit range', from: 'engine', hint: 'tooLong' },
    { message: 'Input is not a regular file', from: 'engine', hint: 'notRegular' },
    { message: 'Input changed while it was read', from: 'engine', hint: 'changedWhileRead' },
    { message: 'Source changed or was truncated during copying', from: 'engine', hint: 'changedWhileRead' },
    { message: 'Use HH:MM:SS:FF timecode', from: 'engine', hint: 'startTimecode' },
    { message: 'Invalid timecode digits', from: 'engine', hint: 'startTimecode' },
    { message: 'Invalid timecode string', from: 'engine', hint: 'startTimecode' },
    { message: 'Timecode is outside the frame-rate range', from: 'engine', hint: 'startTimecode' },
    { message: 'Skipped drop-frame timecode label', from: 'engine', hint: 'startTimecode' },
    { message: 'Drop-frame requires 29.97 or 59.94 fps', from: 'engine', hint: 'startTimecode' },
    { message: 'Invalid reel name', from: 'engine', hint: 'reelName' },
    { message: 'Not a movie stamped in place by Velmora', from: 'engine', hint: 'notStamped' },
    { message: 'Verification failed. The original is unchanged.', from: 'engine', hint: 'undone' },
    { message: 'failed to write whole buffer', from: 'engine', hint: 'shortWrite' },
    { message: 'Usage: velmora-engine probe INPUT | write INPUT OUTPUT HH:MM:SS:FF | stamp INPUT HH:MM:SS:FF ' +
      '| unstamp INPUT | --version', from: 'engine', hint: 'engineArguments' },
    { message: 'Supported formats: MOV, MP4, M4V.', from: 'backend', hint: 'notAMovie' },
    { message: 'Source changed during import. Import it again.', from: 'backend', hint: 'changedDuringImport' },
    { message: 'Source changed since import. Import it again. No output was published.', from: 'backend',
      hint: 'changedSinceImport' },
    { message: 'Output would overwrite the source.', from: 'backend', hint: 'overwritesSource' },
    { message: 'Output timecode verification failed. Source has been preserved.', from: 'backend', hint: 'report' },
    { message: 'Output stream verification failed. Source has been preserved.', from: 'backend', hint: 'report' },
    { message: 'Native timecode engine failed.', from: 'backend', hint: 'engineEnded' },
    { message: 'The engine stopped without giving a reason.', from: 'page', hint: 'engineEnded' },
    { pattern: '{system text} (os error 1)', from: 'engine', hint: 'notAllowed' },
    { pattern: '{system text} (os error 2)', from: 'engine', hint: 'gone' },
    { pattern: '{system text} (os error 5)', from: 'engine', hint: 'diskError' },
    { pattern: '{system text} (os error 13)', from: 'engine', hint: 'noAccess' },
    { pattern: '{system text} (os error 17)', from: 'engine', hint: 'exists' },
    { pattern: '{system text} (os error 28)', from: 'engine', hint: 'full' },
    { pattern: '{system text} (os error 30)', from: 'engine', hint: 'readOnly' },
  ].map(Object.freeze));

  const EXACT = new Map(REFUSALS.filter((r) => 'message' in r).map((r) => [r.message, HINTS[r.hint]]));
  const PATTERNS = REFUSALS.filter((r) => 'pattern' in r).map((r) => {
    const [head, tail] = r.pattern.split(SYSTEM_TEXT);
    return { head, tail, hint: HINTS[r.hint] };
  });

  function hintFor(message) {
    if (typeof message !== 'string') return null;
    if (EXACT.has(message)) return EXACT.get(message);
    const found = PATTERNS.find(({ head, tail }) => message.length > head.length + tail.length &&
      message.startsWith(head) && message.endsWith(tail));
    return found ? found.hint : null;
  }

  function isNotAMovie(message) {
    return message === NOT_A_MOVIE;
  }

  // "23 other files: XML, THM, LRV…": the kinds by how often they occur,
  // three at most.
  function otherFilesLine(names) {
    const counts = new Map();
    for (const name of names) {
      const dot = name.lastIndexOf('.');
      const kind = dot > 0 && dot < name.length - 1 ? name.slice(dot + 1).toUpperCase() : name;
      counts.set(kind, (counts.get(kind) || 0) + 1);
    }
    const kinds = [...counts.entries()].sort((a, b) => b[1] - a[1]).map(([kind]) => kind);
    const shown = kinds.slice(0, 3).join(', ') + (kinds.length > 3 ? '…' : '');
    return names.length + (names.length === 1 ? ' other file: ' : ' other files: ') + shown;
  }

  return Object.freeze({ NOT_A_MOVIE, HINTS, REFUSALS, hintFor, isNotAMovie, otherFilesLine });
})();

if (typeof module === 'object' && module.exports) module.exports = VelmoraRefusalHints;
else window.VelmoraRefusalHints = VelmoraRefusalHints;
