// Reel names: the tape or card name a timecode track carries so conform
// (EDL, XML) can match clips. Checked as the engine checks them, and derived
// for each movie of the list from the settings. Pure.
const VelmoraReelName = (function () {
  'use strict';

  const LIMIT = 32; // bytes of UTF-8
  const MESSAGE = 'Invalid reel name';

  // C0, DEL and C1 controls. A code point in the surrogate range is a lone
  // surrogate here (for…of pairs the others), which has no UTF-8 form.
  function unwritable(code) {
    return code < 0x20 || (code >= 0x7f && code <= 0x9f) || (code >= 0xd800 && code <= 0xdfff);
  }

  function utf8Size(code) {
    if (code < 0x80) return 1;
    if (code < 0x800) return 2;
    return code < 0x10000 ? 3 : 4;
  }

  // 1 to 32 bytes of UTF-8 without a control character.
  function isValid(text) {
    if (typeof text !== 'string' || text === '') return false;
    let bytes = 0;
    for (const ch of text) {
      const code = ch.codePointAt(0);
      if (unwritable(code)) return false;
      bytes += utf8Size(code);
    }
    return bytes <= LIMIT;
  }

  // A name taken from a folder or a movie: control characters dropped, cut
  // to 32 bytes on a character boundary; '' when nothing is left.
  function fromName(text) {
    if (typeof text !== 'string') return '';
    let out = '';
    let bytes = 0;
    for (const ch of text) {
      const code = ch.codePointAt(0);
      if (unwritable(code)) continue;
      if (bytes + utf8Size(code) > LIMIT) break;
      out += ch;
      bytes += utf8Size(code);
    }
    return out;
  }

  // The last component of the folder holding the file at `path`.
  function folderName(path) {
    if (typeof path !== 'string') return '';
    const folder = path.slice(0, Math.max(0, path.lastIndexOf('/')));
    return folder.slice(folder.lastIndexOf('/') + 1);
  }

  // The reel a movie is written with under the settings, or null for none.
  // Without a reel source an embedded start keeps the movie's own reel.
  function reelFor(movie, settings) {
    let name = '';
    if (settings.reelSource === 'custom') name = settings.reel;
    else if (settings.reelSource === 'card') {
      name = typeof movie.card === 'string' && movie.card !== '' ? movie.card : folderName(movie.path);
    } else if (settings.reelSource === 'folder') name = folderName(movie.path);
    else if (settings.source === 'embedded' && typeof movie.reel === 'string') name = movie.reel;
    const reel = fromName(name);
    return reel === '' ? null : reel;
  }

  return Object.freeze({ LIMIT, MESSAGE, isValid, fromName, folderName, reelFor });
})();

if (typeof module === 'object' && module.exports) module.exports = VelmoraReelName;
else window.VelmoraReelName = VelmoraReelName;
