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

  // Exact messages first; then families by their wording.
  const EXACT = new Map([
    ['Fragmented movies are not supported yet', 'Not damaged, only not supported yet: fragmented movies come from ' +
      'live, streaming or recovery tools. ' + REWRAP],
    ['Fragmented or compressed movie metadata is not supported yet', 'Not damaged, only not supported yet: the ' +
      'movie\'s index is compressed or split. ' + REWRAP],
    ['Open-ended movie atoms are not supported yet', 'Not supported yet: the movie was probably not closed properly ' +
      'while recording. ' + REWRAP],
    ['Variable frame rate movies are not supported yet', 'Not damaged: the frames have different durations, as ' +
      'phones and screen recorders write them. A timecode needs a constant rate: convert it in an editor first.'],
    ['Trimmed or complex video edit lists are not supported yet', 'Not damaged: the movie was trimmed without ' +
      'rewriting it. Export it, or re-wrap it without the edit, and import that.'],
    ['Multiple sample descriptions are not supported yet', 'Not damaged: the video changes format inside the file, ' +
      'usually after clips were joined. Export it in one format and import that.'],
    ['Multiple timecode tracks are not supported yet', 'Not damaged: the movie already carries several timecode ' +
      'tracks, and Velmora cannot tell which one to replace.'],
    ['Discontinuous timecode is not supported yet', 'Not damaged: the movie\'s own timecode jumps inside the movie; ' +
      'Velmora does not replace such a track.'],
    ['Negative timecode is not supported yet', 'Not damaged: the movie\'s own timecode track starts before its media.'],
    ['Encrypted media is not supported', 'Not damaged: the media is encrypted, so it cannot be rewritten.'],
    ['External media references are not supported', 'Not damaged: this is a reference movie whose media lives in ' +
      'other files. Export a self-contained movie and import that.'],
    ['Incomplete sample timing is not supported', 'The timing table does not cover every frame, which usually means ' +
      'an unfinished recording. ' + REWRAP],
    ['Invalid sample duration', 'Not necessarily damaged: a frame has no duration, which some recorders write at the ' +
      'end of a clip. ' + REWRAP],
    ['Unsupported frame rate', 'Not supported yet: the frame rate is outside 1 to 99 fps.'],
    ['Movie metadata exceeds the 128 MB safety limit', 'Not supported: the movie\'s index is larger than 128 MB, as ' +
      'in very long recordings.'],
    ['Expected one primary video track', 'Not supported: Velmora stamps movies with exactly one video track; sound-only ' +
      'files and multi-camera movies are left out.'],
    [NOT_A_MOVIE, 'Not a movie Velmora stamps: only .mov, .mp4 and .m4v files are imported.'],
    ['Source changed during import. Import it again.', 'The file was still being written or copied while it was ' +
      'read. Wait until the copy has finished, then import it again.'],
    ['Source changed since import. Import it again. No output was published.', 'The file changed on disk after it ' +
      'was imported, for example a copy still running. Remove it from the list and import it again.'],
    ['Output would overwrite the source.', 'Choose another destination, or a prefix or running number, so the ' +
      'output gets a name of its own.'],
    ['Output timecode verification failed. Source has been preserved.', REPORT],
    ['Output stream verification failed. Source has been preserved.', REPORT],
    ['Written timecode failed verification', REPORT],
    ['Native timecode engine failed.', 'The engine ended unexpectedly. ' + REPORT],
    ['The engine stopped without giving a reason.', 'The engine ended unexpectedly. ' + REPORT],
  ]);

  // The operating system's errors, by number (Linux and macOS agree on these).
  const OS_ERRORS = new Map([
    [1, 'The system does not allow this: check the file\'s and the folder\'s permissions.'],
    [2, 'The file or folder is not there any more: it was moved, renamed or deleted.'],
    [5, 'The disk could not be read or written. Check the card or drive and its connection.'],
    [13, 'Velmora may not read or write here: check the file\'s and the folder\'s permissions.'],
    [17, 'A file with the output\'s name already exists, and Velmora never overwrites files. Move it away or ' +
      'choose another destination.'],
    [28, 'The disk is full. Free some space or choose another destination.'],
    [30, 'The disk is read-only, for example a locked card. Choose another destination.'],
  ]);

  const FAMILIES = [
    [/^Unsupported /, 'Not damaged, only not supported yet: a rare variant of the movie format. ' + REWRAP],
    [/^(Truncated|Invalid (movie|media|chunk|sample)|Missing (chunk|or duplicate)|Duplicate|Empty|Expected |Too many|Sample points)|overflow$/,
      DAMAGED],
  ];

  function hintFor(message) {
    if (typeof message !== 'string') return null;
    if (EXACT.has(message)) return EXACT.get(message);
    const os = /\(os error (\d+)\)$/.exec(message);
    if (os) return OS_ERRORS.get(Number(os[1])) || null;
    for (const [pattern, text] of FAMILIES) {
      if (pattern.test(message)) return text;
    }
    return null;
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

  return Object.freeze({ NOT_A_MOVIE, hintFor, isNotAMovie, otherFilesLine });
})();

if (typeof module === 'object' && module.exports) module.exports = VelmoraRefusalHints;
else window.VelmoraRefusalHints = VelmoraRefusalHints;
