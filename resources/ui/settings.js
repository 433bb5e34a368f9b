// The twenty user settings: defaults, the same forgiving normalisation the
// backend applies, and the output names they lead to. Pure.
const VelmoraSettings = (function (T, Reel) {
  'use strict';

  const DEFAULTS = Object.freeze({
    append: false,
    continuous: false,
    copy: true,
    destination: null,
    direction: 'add',
    existing: 'skip',
    mode: 'auto',
    // The list's Movie column in rem, or null for its share of the list.
    movieColumnWidth: null,
    number: false,
    offset: '00:00:00:00',
    prefix: 'TC_',
    recursive: true,
    reel: '',
    reelSource: 'none',
    rename: false,
    retain: true,
    source: 'embedded',
    start: '01:00:00:00',
    suffix: '_TC',
    timezone: 'camera',
  });

  const CHOICES = Object.freeze({
    source: ['embedded', 'creation', 'modification', 'custom'],
    mode: ['auto', 'non-drop', 'drop'],
    direction: ['add', 'subtract'],
    timezone: ['camera', 'local', 'utc'],
    reelSource: ['none', 'card', 'folder', 'custom'],
    existing: ['skip', 'number'],
  });

  const BOOLEANS = ['copy', 'append', 'retain', 'rename', 'number', 'recursive', 'continuous'];
  // The longest texts kept, as the backend counts them: Unicode scalar values
  // (characters) or bytes of UTF-8. A reel's limit is the reel name's own.
  const LIMITS = Object.freeze({
    timecodeCharacters: 11, prefixCharacters: 100, suffixBytes: 16, destinationBytes: 4096,
    // The Movie column's width in rem: the list stays usable at either end.
    columnRemMin: 7, columnRemMax: 60,
  });
  const PREFIX_MESSAGE = 'Use a filename prefix without special characters (up to ' + LIMITS.prefixCharacters +
    ' characters).';
  const SUFFIX_MESSAGE = 'Use a suffix of up to ' + LIMITS.suffixBytes + ' bytes without “/”.';
  const ZONE_MESSAGE = 'Use an offset from UTC as +hh:mm or -hh:mm, from -12:00 to +14:00';
  const FORBIDDEN = '<>:"/\\|?*';

  // Unicode scalar values, as the backend counts them.
  const scalarCount = (text) => Array.from(text).length;
  const utf8Length = (text) => new TextEncoder().encode(text).length;

  function normalize(input) {
    const out = { ...DEFAULTS };
    if (input === null || typeof input !== 'object' || Array.isArray(input)) return out;
    for (const key of Object.keys(CHOICES)) {
      if (typeof input[key] === 'string' && CHOICES[key].includes(input[key])) out[key] = input[key];
    }
    // A zone of its own: a fixed offset for a shoot abroad.
    if (T.fixedOffsetMinutes(input.timezone) !== null) out.timezone = input.timezone;
    if (input.reel === '' || Reel.isValid(input.reel)) out.reel = input.reel;
    for (const key of BOOLEANS) {
      if (typeof input[key] === 'boolean') out[key] = input[key];
    }
    for (const key of ['start', 'offset']) {
      if (typeof input[key] === 'string' && scalarCount(input[key]) <= LIMITS.timecodeCharacters) out[key] = input[key];
    }
    if (typeof input.prefix === 'string' && scalarCount(input.prefix) <= LIMITS.prefixCharacters) {
      out.prefix = input.prefix;
    }
    if (isValidSuffix(input.suffix)) out.suffix = input.suffix;
    const width = input.movieColumnWidth;
    if (typeof width === 'number' && Number.isFinite(width) && width >= LIMITS.columnRemMin &&
      width <= LIMITS.columnRemMax) {
      out.movieColumnWidth = width;
    }
    const dest = input.destination;
    if (typeof dest === 'string' && dest.startsWith('/') && utf8Length(dest) <= LIMITS.destinationBytes) {
      out.destination = dest;
    }
    return out;
  }

  // Unicode White_Space, which is what the backend trims (String.trim differs
  // at U+0085 and U+FEFF).
  const trim = (text) => String(text).replace(/^\p{White_Space}+|\p{White_Space}+$/gu, '');

  // 0 to LIMITS.suffixBytes bytes without "/" or NUL.
  const isValidSuffix = (suffix) => typeof suffix === 'string' && utf8Length(suffix) <= LIMITS.suffixBytes &&
    !suffix.includes('/') && !suffix.includes('\0');

  function prefixProblem(prefix) {
    const trimmed = trim(prefix);
    if (scalarCount(trimmed) > LIMITS.prefixCharacters) return PREFIX_MESSAGE;
    for (const ch of trimmed) {
      if (ch.codePointAt(0) < 0x20 || FORBIDDEN.includes(ch)) return PREFIX_MESSAGE;
    }
    return null;
  }

  function splitName(name) {
    const dot = name.lastIndexOf('.');
    if (dot <= 0) return { stem: name, ext: '' };
    return { stem: name.slice(0, dot), ext: name.slice(dot + 1) };
  }

  // The published file name for the movie at 0-based position `index` of a
  // batch. Renaming keeps its own rule and ignores the suffix.
  function outputName(name, settings, index) {
    const { stem, ext } = splitName(name);
    if (!settings.rename) return stem + (isValidSuffix(settings.suffix) ? settings.suffix : DEFAULTS.suffix) + '.' + ext;
    const number = settings.number ? '_' + String(index + 1).padStart(3, '0') : '';
    return trim(settings.prefix) + stem + number + '.' + ext;
  }

  return Object.freeze({ DEFAULTS, CHOICES, KEYS: Object.freeze(Object.keys(DEFAULTS)), LIMITS, PREFIX_MESSAGE,
    ZONE_MESSAGE, SUFFIX_MESSAGE, normalize, prefixProblem, isValidSuffix, outputName });
})(typeof module === 'object' && module.exports ? require('./timecode.js') : window.VelmoraTimecode,
  typeof module === 'object' && module.exports ? require('./reel_name.js') : window.VelmoraReelName);

if (typeof module === 'object' && module.exports) module.exports = VelmoraSettings;
else window.VelmoraSettings = VelmoraSettings;
