// The report that assistant editors file with the day's footage: one CSV row
// per movie of the list and per file the import refused (RFC 4180: a header
// row, fields quoted when they hold a comma, quote or line break, quotes
// doubled, CRLF after every row), as UTF-8 text. The columns keep their order
// from release to release: sheets and scripts read them by position. Pure:
// the page hands in the rows' facts, the clock and the time zone; nothing here
// reads the DOM. Loaded as a classic script by the page and with require() by
// node's test runner.
const VelmoraReport = (function (F, T) {
  'use strict';

  const COLUMNS = Object.freeze([
    'Status', 'Message', 'Start timecode', 'End timecode', 'Duration', 'Duration (frames)', 'Rate', 'Rate (fps)',
    'Drop-frame', 'Reel', 'Start source', 'Time used', 'Time origin', 'Time zone', 'Offset', 'Existing timecode',
    'Source path', 'Size (bytes)', 'Modified', 'Output path', 'Backup path',
  ]);

  // The list's phases as the report names them.
  const STATUS = Object.freeze({
    done: 'done', error: 'failed', skipped: 'skipped', left: 'left out', cancelled: 'cancelled',
    ready: 'not processed', unreached: 'not processed', queued: 'not processed', processing: 'not processed',
  });
  const NOT_IMPORTED = 'not imported';
  const NO_REASON = 'The engine stopped without giving a reason.';
  const FROM_MODIFICATION = 'modification time minus duration';

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

  function statusOf(movie) {
    const result = movie.result || {};
    if (result.state === 'restored') return 'restored';
    return STATUS[movie.phase] || 'not processed';
  }

  // What the row's status has to say: the backend's words for a failed,
  // skipped or cancelled movie, the start's problem for one left out.
  function messageOf(movie, status) {
    const result = movie.result || {};
    if (status === 'failed') return text(result.error).trim() !== '' ? result.error : NO_REASON;
    if (status === 'skipped') return text(result.message);
    if (status === 'cancelled') return text(result.error);
    if (status === 'left out') return text(movie.error);
    return '';
  }

  // Whole milliseconds, so 4.001666666666667 s reads 00:00:04.002.
  function durationText(seconds) {
    if (typeof seconds !== 'number' || !Number.isFinite(seconds) || seconds < 0) return '';
    const ms = Math.round(seconds * 1000);
    const two = (n) => String(n).padStart(2, '0');
    return two(Math.floor(ms / 3600000)) + ':' + two(Math.floor(ms / 60000) % 60) + ':' +
      two(Math.floor(ms / 1000) % 60) + '.' + String(ms % 1000).padStart(3, '0');
  }

  // The instant a time-of-day start was read from, and where it came from.
  function timeUsed(record, settings, typed) {
    if (typed) return ['', ''];
    if (settings.source === 'creation') {
      const created = T.creationTime(record, settings.timezone);
      return created.ok ? [new Date(created.value.ms).toISOString(), created.value.basis] : ['', ''];
    }
    if (settings.source === 'modification') {
      const start = T.recordingStart(record);
      return start.ok ? [new Date(start.value).toISOString(), FROM_MODIFICATION] : ['', ''];
    }
    return ['', ''];
  }

  // One movie of the list: {record, phase, timecode, typed, reel, error?,
  // result?, settings}: the timecode it was (or would be) sent with and the
  // settings that start was derived under.
  function row(movie, zone) {
    const record = movie.record || {};
    const result = movie.result || {};
    const settings = movie.settings || {};
    const status = statusOf(movie);
    const timecode = status === 'left out' ? '' : text(movie.timecode);
    const end = timecode === '' ? null : T.endLabel(record, timecode);
    const frames = T.frameCount(record);
    const fps = F.fpsText(record.rate);
    const [used, origin] = timeUsed(record, settings, movie.typed);
    return [
      status,
      messageOf(movie, status),
      timecode,
      end && end.ok ? end.value : '',
      durationText(record.duration),
      frames.ok ? String(frames.value) : '',
      reducedRate(record.rate),
      fps === '\u2014' ? '' : fps,
      timecode.length === 11 ? (timecode[8] === ';' ? 'yes' : 'no') : '',
      text(movie.reel),
      movie.typed ? 'typed override' : (SOURCES[settings.source] || ''),
      used,
      origin,
      zoneOf(record, settings, zone),
      (settings.direction === 'subtract' ? '-' : '+') + text(settings.offset),
      text(record.timecode),
      text(record.path),
      number(record.size),
      text(record.modified),
      status === 'done' || status === 'skipped' || status === 'restored' ? text(result.output) : '',
      movie.result ? text(result.backup) : firstOriginal(record),
    ];
  }

  // A movie no batch took still names the original's backup the import
  // found beside it.
  function firstOriginal(record) {
    const found = Array.isArray(record.backups) ? record.backups : [];
    const original = found.find((b) => b && b.original === true && typeof b.path === 'string');
    return original ? original.path : '';
  }

  // A file the import refused: its name as the import gave it and why.
  function refusedRow(file) {
    const values = COLUMNS.map(() => '');
    values[0] = NOT_IMPORTED;
    values[1] = text(file && file.message);
    values[COLUMNS.indexOf('Source path')] = text(file && file.name);
    return values;
  }

  // {zone, movies: [...], notImported: [{name, message}]} to the file's text:
  // the list's movies in its import order, then the refused files.
  function buildReport(report) {
    let out = line(COLUMNS);
    for (const movie of report.movies || []) out += line(row(movie, report.zone));
    for (const file of report.notImported || []) out += line(refusedRow(file));
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

  return Object.freeze({ COLUMNS, buildReport, row, reducedRate, durationText, fileName, folder });
})(typeof module === 'object' && module.exports ? require('./format.js') : window.VelmoraFormat,
  typeof module === 'object' && module.exports ? require('./timecode.js') : window.VelmoraTimecode);

if (typeof module === 'object' && module.exports) module.exports = VelmoraReport;
else window.VelmoraReport = VelmoraReport;
