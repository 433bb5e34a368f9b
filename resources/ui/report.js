// The batch report that assistant editors file with the day's footage: one
// CSV row per movie of a batch (RFC 4180: a header row, fields quoted when
// they hold a comma, quote or line break, quotes doubled, CRLF after every
// row), as UTF-8 text. Pure: the page hands in the batch, the clock and the
// time zone; nothing here reads the DOM. Loaded as a classic script by the
// page and with require() by node's test runner.
const VelmoraReport = (function (F, T) {
  'use strict';

  const COLUMNS = Object.freeze([
    'Source path', 'Output path', 'Backup path', 'State', 'Error', 'Start timecode', 'Rate (fps)', 'Rate',
    'Drop-frame', 'Duration (s)', 'Start source', 'Time zone', 'Offset', 'Existing timecode', 'Created',
    'Modified', 'Size (bytes)',
  ]);

  const SOURCES = { embedded: 'embedded', creation: 'creation', modification: 'modification', custom: 'custom' };

  // A lone surrogate has no UTF-8 form; it would not survive the way out.
  function wellFormed(text) {
    return text.replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, '\uFFFD');
  }

  function field(value) {
    if (value === null || value === undefined) return '';
    const text = wellFormed(String(value));
    return /[",\r\n]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
  }

  function line(values) {
    return values.map(field).join(',') + '\r\n';
  }

  function gcd(a, b) {
    while (b) [a, b] = [b, a % b];
    return a;
  }

  // "60000/2002" reads 30000/1001; anything else is left as it came.
  function reducedRate(rate) {
    const match = /^(\d+)\/(\d+)$/.exec(typeof rate === 'string' ? rate : '');
    if (!match) return typeof rate === 'string' ? rate : '';
    const n = Number(match[1]);
    const d = Number(match[2]);
    if (n === 0 || d === 0) return rate;
    const g = gcd(n, d);
    return n / g + '/' + d / g;
  }

  function text(value) {
    return typeof value === 'string' ? value : '';
  }

  function number(value) {
    return typeof value === 'number' && Number.isFinite(value) ? String(value) : '';
  }

  // The zone the movie's time of day was read in: the camera's, a fixed
  // offset, UTC, or the computer's zone as the page knew it.
  function zoneOf(record, settings, localZone) {
    const zone = T.zoneFor(record, settings.timezone);
    if (zone.fixed === null) return text(localZone) || 'local';
    return settings.timezone === 'utc' ? 'UTC' : 'UTC' + T.offsetText(zone.fixed);
  }

  function stateOf(movie) {
    if (movie.restored) return 'restored';
    if (!movie.result) return 'not processed';
    const state = movie.result.state;
    return state === 'done' || state === 'skipped' ? state : 'error';
  }

  // One movie: {record, timecode, typed, result?, restored?}; the batch's
  // settings and zone say where the start came from.
  function row(movie, batch) {
    const record = movie.record || {};
    const result = movie.result || {};
    const settings = batch.settings || {};
    const timecode = text(movie.timecode);
    const fps = F.fpsText(record.rate);
    return [
      text(record.path),
      text(result.output),
      text(result.backup),
      stateOf(movie),
      // A skipped movie's reason is its "message".
      text(result.error || result.message),
      timecode,
      fps === '—' ? '' : fps,
      reducedRate(record.rate),
      timecode.length === 11 ? (timecode[8] === ';' ? 'yes' : 'no') : '',
      number(record.duration),
      movie.typed ? 'typed override' : (SOURCES[settings.source] || ''),
      zoneOf(record, settings, batch.zone),
      (settings.direction === 'subtract' ? '-' : '+') + text(settings.offset),
      text(record.timecode),
      text(record.created),
      text(record.modified),
      number(record.size),
    ];
  }

  // {settings, zone, movies: [...]} to the whole file's text.
  function buildReport(batch) {
    let out = line(COLUMNS);
    for (const movie of batch.movies || []) out += line(row(movie, batch));
    return out;
  }

  const pad = (n) => String(n).padStart(2, '0');

  // "Velmora report 2024-03-09 14-05.csv" in local time: no colon, which
  // some file systems and file managers refuse.
  function fileName(date) {
    return 'Velmora report ' + date.getFullYear() + '-' + pad(date.getMonth() + 1) + '-' + pad(date.getDate()) +
      ' ' + pad(date.getHours()) + '-' + pad(date.getMinutes()) + '.csv';
  }

  // The chosen destination of a new-file batch, else the first movie's folder.
  function folder(batch) {
    const settings = batch.settings || {};
    if (settings.copy && typeof settings.destination === 'string' && settings.destination.startsWith('/')) {
      return settings.destination;
    }
    const first = (batch.movies || [])[0];
    const path = first && first.record ? text(first.record.path) : '';
    const slash = path.lastIndexOf('/');
    return slash > 0 ? path.slice(0, slash) : (slash === 0 ? '/' : '');
  }

  return Object.freeze({ COLUMNS, buildReport, row, reducedRate, fileName, folder });
})(typeof module === 'object' && module.exports ? require('./format.js') : window.VelmoraFormat,
  typeof module === 'object' && module.exports ? require('./timecode.js') : window.VelmoraTimecode);

if (typeof module === 'object' && module.exports) module.exports = VelmoraReport;
else window.VelmoraReport = VelmoraReport;
