// Start timecode arithmetic and derivation, shared rules with velmora-engine.
// Pure: no DOM, no clock. Loaded as a classic script by the page and with
// require() by node's test runner.
const VelmoraTimecode = (function () {
  'use strict';

  const NTSC30 = 30000 / 1001;
  const NTSC60 = 60000 / 1001;
  const DROP_TOLERANCE = 0.002;
  const U32_MAX = 4294967295;

  const MSG = Object.freeze({
    format: 'Use HH:MM:SS:FF timecode',
    digits: 'Invalid timecode digits',
    range: 'Timecode is outside the frame-rate range',
    dropRate: 'Drop-frame requires 29.97 or 59.94 fps',
    skipped: 'Skipped drop-frame timecode label',
    rate: 'Unsupported frame rate',
    noEmbedded: 'No embedded timecode',
    noCreation: 'No creation time',
    noModification: 'No modification time',
    noDuration: 'No duration',
  });

  // Which time the "Creation time" source used, as the row says it.
  const BASIS = Object.freeze({
    header: 'movie header',
    fileDate: 'file date: may be the copy time',
  });
  // The backend's word for a creation time taken from the file system.
  const FILE_DATE_ORIGIN = 'File creation date';

  // The engine counts frames in unsigned 32-bit arithmetic; these keep the
  // page's numbers identical even where that arithmetic wraps.
  const u32 = (n) => n >>> 0;
  const mul = (a, b) => Math.imul(a, b) >>> 0;

  const ok = (value) => ({ ok: true, value });
  const fail = (error) => ({ ok: false, error });

  function exactRate(timescale, frameDuration) {
    return timescale / frameDuration;
  }

  function nominalFps(timescale, frameDuration) {
    const rounded = Math.round(exactRate(timescale, frameDuration));
    if (!(rounded >= 0)) return 0;
    return rounded >= U32_MAX ? U32_MAX : rounded;
  }

  function dropFramesPerMinute(timescale, frameDuration) {
    const rate = exactRate(timescale, frameDuration);
    if (Math.abs(rate - NTSC30) < DROP_TOLERANCE) return ok(2);
    if (Math.abs(rate - NTSC60) < DROP_TOLERANCE) return ok(4);
    return fail(MSG.dropRate);
  }

  function allowsDrop(timescale, frameDuration) {
    return dropFramesPerMinute(timescale, frameDuration).ok;
  }

  // The engine measures the text in UTF-8 bytes, so a full-width digit makes
  // the text longer rather than merely "not a digit".
  const encoder = new TextEncoder();

  function isDigit(byte) {
    return byte >= 0x30 && byte <= 0x39;
  }

  function twoDigits(bytes, at) {
    return (bytes[at] - 0x30) * 10 + (bytes[at + 1] - 0x30);
  }

  function labelFrames(fps, h, m, s, f) {
    return u32(f + mul(fps, 3600 * h + 60 * m + s));
  }

  function parseTimecode(text, timescale, frameDuration) {
    const bytes = encoder.encode(typeof text === 'string' ? text : '');
    const colon = 0x3a;
    const semicolon = 0x3b;
    if (bytes.length !== 11 || bytes[2] !== colon || bytes[5] !== colon ||
        (bytes[8] !== colon && bytes[8] !== semicolon)) {
      return fail(MSG.format);
    }
    for (const at of [0, 3, 6, 9]) {
      if (!isDigit(bytes[at]) || !isDigit(bytes[at + 1])) return fail(MSG.digits);
    }
    const h = twoDigits(bytes, 0);
    const m = twoDigits(bytes, 3);
    const s = twoDigits(bytes, 6);
    const f = twoDigits(bytes, 9);
    const fps = nominalFps(timescale, frameDuration);
    if (h > 23 || m > 59 || s > 59 || f >= fps) return fail(MSG.range);

    const drop = bytes[8] === semicolon;
    let frame = labelFrames(fps, h, m, s, f);
    if (drop) {
      const d = dropFramesPerMinute(timescale, frameDuration);
      if (!d.ok) return d;
      if (m % 10 !== 0 && s === 0 && f < d.value) return fail(MSG.skipped);
      const totalMinutes = 60 * h + m;
      frame = u32(frame - mul(d.value, totalMinutes - Math.floor(totalMinutes / 10)));
    }
    return ok({ frame, drop });
  }

  function wrapDay(n, day) {
    return day === 0 ? n : n % day;
  }

  // Frame count of a drop-frame label to the count of the same label without drops.
  function undoDrops(n, fps, d) {
    const block = u32(mul(600, fps) - 9 * d);
    const minute = u32(mul(60, fps) - d);
    const q = Math.floor(n / block);
    const r = n % block;
    if (r >= d) n = u32(n + mul(d, Math.floor((r - d) / minute)));
    return u32(n + mul(9 * d, q));
  }

  const pad2 = (n) => (n < 10 ? '0' : '') + String(n);

  function formatTimecode(frame, timescale, frameDuration, dropFrame) {
    const fps = nominalFps(timescale, frameDuration);
    if (fps === 0) return fail(MSG.rate);
    let n = u32(frame);
    let separator = ':';
    if (dropFrame) {
      const d = dropFramesPerMinute(timescale, frameDuration);
      if (!d.ok) return d;
      n = undoDrops(wrapDay(n, u32(mul(fps, 86400) - 1296 * d.value)), fps, d.value);
      separator = ';';
    } else {
      n = wrapDay(n, mul(fps, 86400));
    }
    const seconds = Math.floor(n / fps);
    const hours = Math.floor(seconds / 3600);
    const minutes = Math.floor(seconds / 60) % 60;
    return ok(pad2(hours) + ':' + pad2(minutes) + ':' + pad2(seconds % 60) + separator +
              pad2(n % fps));
  }

  // "N/D" from the movie record: the reduced time scale and frame duration.
  function parseRate(text) {
    const match = /^(\d{1,10})\/(\d{1,10})$/.exec(typeof text === 'string' ? text : '');
    if (!match) return fail(MSG.rate);
    const timescale = Number(match[1]);
    const frameDuration = Number(match[2]);
    if (timescale === 0 || frameDuration === 0 || timescale > U32_MAX || frameDuration > U32_MAX ||
        nominalFps(timescale, frameDuration) === 0) {
      return fail(MSG.rate);
    }
    return ok({ timescale, frameDuration });
  }

  // The label as its four numbers; only called on text that parsed.
  function labelParts(text) {
    return { h: Number(text.slice(0, 2)), m: Number(text.slice(3, 5)),
             s: Number(text.slice(6, 8)), f: Number(text.slice(9, 11)) };
  }

  function labelText(parts, separator) {
    return pad2(parts.h) + ':' + pad2(parts.m) + ':' + pad2(parts.s) + separator + pad2(parts.f);
  }

  // Which labelling the result uses. "auto" keeps an embedded timecode's own
  // labelling; everything else follows the rate unless the mode says otherwise.
  function chooseDrop(mode, rate, embeddedDrop) {
    const possible = allowsDrop(rate.timescale, rate.frameDuration);
    if (mode === 'non-drop') return { drop: false, note: null };
    if (mode === 'drop') {
      return possible ? { drop: true, note: null }
        : { drop: false, note: MSG.dropRate + '; non-drop used' };
    }
    if (embeddedDrop !== undefined) return { drop: embeddedDrop, note: null };
    return { drop: possible, note: null };
  }

  // Moves a label that drop-frame counting skips to the next one it shows:
  // frame d of the same minute.
  function nextShownLabel(parts, rate) {
    const d = dropFramesPerMinute(rate.timescale, rate.frameDuration).value;
    if (parts.m % 10 !== 0 && parts.s === 0 && parts.f < d) return { ...parts, f: d };
    return parts;
  }

  // ---- typing ----------------------------------------------------------------

  const ASCII_SPACE = /^[ \t\n\v\f\r]+|[ \t\n\v\f\r]+$/g;

  // A timecode as editors type it, written out as a label: up to eight digits
  // fill from the right (10000000 is 10:00:00:00, 1000 is 00:00:10:00), or
  // four groups of one or two digits ("1:2:3:4" is 01:02:03:04) where "." or
  // ";" before the frames asks for the drop-frame separator. Three groups
  // are refused: "10:00:00" could mean hours or minutes. Ranges are the
  // rate's business.
  function enterTimecode(text) {
    const typed = typeof text === 'string' ? text.replace(ASCII_SPACE, '') : '';
    if (/^[0-9]{1,8}$/.test(typed)) {
      const d = typed.padStart(8, '0');
      return ok(d.slice(0, 2) + ':' + d.slice(2, 4) + ':' + d.slice(4, 6) + ':' + d.slice(6));
    }
    const match = /^([0-9]{1,2}):([0-9]{1,2}):([0-9]{1,2})([:;.])([0-9]{1,2})$/.exec(typed);
    if (!match) return fail(MSG.format);
    const two = (group) => group.padStart(2, '0');
    return ok(two(match[1]) + ':' + two(match[2]) + ':' + two(match[3]) + (match[4] === ':' ? ':' : ';') +
              two(match[5]));
  }

  // What a typed timecode becomes at one rate: the label, or the one message
  // that rate gives.
  function entryAt(text, timescale, frameDuration) {
    const entered = enterTimecode(text);
    if (!entered.ok) return entered;
    const parsed = parseTimecode(entered.value, timescale, frameDuration);
    return parsed.ok ? entered : parsed;
  }

  // ---- zones ---------------------------------------------------------------

  // "+hh:mm" or "-hh:mm" as minutes east of UTC; null for anything else.
  function offsetMinutes(text) {
    const match = /^([+-])(\d{2}):(\d{2})$/.exec(typeof text === 'string' ? text : '');
    if (!match || Number(match[2]) > 23 || Number(match[3]) > 59) return null;
    const minutes = Number(match[2]) * 60 + Number(match[3]);
    return match[1] === '-' ? -minutes : minutes;
  }

  // A fixed offset the settings accept: -12:00 to +14:00, as the world's zones go.
  function fixedOffsetMinutes(text) {
    const minutes = offsetMinutes(text);
    return minutes !== null && minutes >= -720 && minutes <= 840 ? minutes : null;
  }

  function offsetText(minutes) {
    const size = Math.abs(minutes);
    return (minutes < 0 ? '-' : '+') + pad2(Math.floor(size / 60)) + ':' + pad2(size % 60);
  }

  // Whether the movie says when recording began (whole seconds since 1970).
  function hasRecordedTime(movie) {
    return Boolean(movie) && Number.isInteger(movie.recordedUnix) && Math.abs(movie.recordedUnix) <= 8.64e12;
  }

  // The zone a movie's instants are shown in under the "timezone" setting.
  // "camera" is the zone the movie was recorded in when it says, else local.
  function zoneFor(movie, timezone) {
    if (timezone === 'utc') return { fixed: 0 };
    const fixed = fixedOffsetMinutes(timezone);
    if (fixed !== null) return { fixed };
    if (timezone === 'camera' && hasRecordedTime(movie)) {
      const camera = offsetMinutes(movie.recordedOffset);
      if (camera !== null) return { fixed: camera };
    }
    return { fixed: null };
  }

  // Date and time of day of an instant (milliseconds since the epoch) in a zone.
  function wallClock(ms, zone) {
    if (zone.fixed === null) {
      const d = new Date(ms);
      return { year: d.getFullYear(), month: d.getMonth() + 1, day: d.getDate(), h: d.getHours(),
        m: d.getMinutes(), s: d.getSeconds(), millis: d.getMilliseconds(), offset: -d.getTimezoneOffset() };
    }
    const d = new Date(ms + zone.fixed * 60000);
    return { year: d.getUTCFullYear(), month: d.getUTCMonth() + 1, day: d.getUTCDate(), h: d.getUTCHours(),
      m: d.getUTCMinutes(), s: d.getUTCSeconds(), millis: d.getUTCMilliseconds(), offset: zone.fixed };
  }

  // Time of day as a label: the milliseconds become frames, rounded down.
  function timeOfDayParts(clock, fps) {
    return { h: clock.h, m: clock.m, s: clock.s, f: Math.min(fps - 1, Math.floor((clock.millis * fps) / 1000)) };
  }

  function instantOf(text) {
    if (typeof text !== 'string') return NaN;
    return Date.parse(text);
  }

  // The instant the "Creation time" source uses, in the chosen zone, and which
  // one it is: when recording began as the camera stored it with its zone
  // (the movie header's time is when the file was finished), else the movie
  // header's, else the file's creation date, which a copy resets.
  function creationTime(movie, timezone) {
    const recorded = hasRecordedTime(movie);
    const ms = recorded ? movie.recordedUnix * 1000 : instantOf(movie && movie.created);
    if (!Number.isFinite(ms)) return fail(MSG.noCreation);
    const clock = wallClock(ms, zoneFor(movie, timezone));
    let basis = movie.creationOrigin === FILE_DATE_ORIGIN ? BASIS.fileDate : BASIS.header;
    if (recorded) {
      // Said in the zone it was recorded in, whatever zone the start uses.
      const camera = offsetMinutes(movie.recordedOffset);
      const said = camera === null ? clock : wallClock(ms, { fixed: camera });
      basis = 'recorded ' + pad2(said.h) + ':' + pad2(said.m) + ':' + pad2(said.s) + ' ' + offsetText(said.offset);
    }
    return ok({ ms, clock, basis });
  }

  // When recording began: the file's modification time (cameras close the
  // file when recording stops) minus the movie's duration. Microsecond
  // rounding keeps 10.01 s from becoming 10009.999… ms.
  function recordingStart(movie) {
    const modified = instantOf(movie.modified);
    if (!Number.isFinite(modified)) return fail(MSG.noModification);
    if (typeof movie.duration !== 'number' || !Number.isFinite(movie.duration) || movie.duration < 0) {
      return fail(MSG.noDuration);
    }
    const durationMs = Math.round(movie.duration * 1e6) / 1e3;
    return ok(Math.floor(modified - durationMs));
  }

  // The label the chosen source gives, before the mode's labelling is applied.
  // {parts, embeddedDrop?, typed?, basis?} or a failure.
  function sourceLabel(movie, settings, rate, fps) {
    switch (settings.source) {
      case 'creation': {
        const created = creationTime(movie, settings.timezone);
        if (!created.ok) return created;
        return ok({ parts: timeOfDayParts(created.value.clock, fps), basis: created.value.basis });
      }
      case 'modification': {
        const start = recordingStart(movie);
        if (!start.ok) return start;
        return ok({ parts: timeOfDayParts(wallClock(start.value, zoneFor(movie, settings.timezone)), fps) });
      }
      case 'custom': {
        // Checks what the rate does not decide (shape, digits, ranges) on the
        // text as typed; its separator is the mode's business.
        const asNonDrop = replaceSeparator(settings.start, ':');
        const parsed = parseTimecode(asNonDrop, rate.timescale, rate.frameDuration);
        if (!parsed.ok) return parsed;
        return ok({ parts: labelParts(asNonDrop), typed: true });
      }
      default: {
        if (typeof movie.timecode !== 'string') return fail(MSG.noEmbedded);
        const parsed = parseTimecode(movie.timecode, rate.timescale, rate.frameDuration);
        if (!parsed.ok) return parsed;
        return ok({ parts: labelParts(movie.timecode), embeddedDrop: parsed.value.drop });
      }
    }
  }

  function replaceSeparator(text, separator) {
    if (typeof text !== 'string' || text.length !== 11 || (text[8] !== ':' && text[8] !== ';')) {
      return text;
    }
    return text.slice(0, 8) + separator + text.slice(9);
  }

  // The offset as a number of frames at the movie's rate, signed by direction.
  function offsetFrames(settings, rate) {
    const parsed = parseTimecode(settings.offset, rate.timescale, rate.frameDuration);
    if (!parsed.ok) return { ok: false, error: parsed.error, field: 'offset' };
    return ok(settings.direction === 'subtract' ? -parsed.value.frame : parsed.value.frame);
  }

  function framesPerDay(rate, drop) {
    const fps = nominalFps(rate.timescale, rate.frameDuration);
    if (!drop) return fps * 86400;
    return fps * 86400 - 1296 * dropFramesPerMinute(rate.timescale, rate.frameDuration).value;
  }

  // The start timecode of one movie under the settings:
  // {ok:true, timecode, drop, note, basis} or {ok:false, error, field}; basis
  // says which time a "Creation time" start used. field names the setting at
  // fault ("start", "offset") or "movie".
  function deriveStart(movie, settings) {
    const rate = parseRate(movie && movie.rate);
    if (!rate.ok) return { ok: false, error: rate.error, field: 'movie' };
    const fps = nominalFps(rate.value.timescale, rate.value.frameDuration);

    const source = sourceLabel(movie, settings, rate.value, fps);
    if (!source.ok) {
      return { ok: false, error: source.error, field: settings.source === 'custom' ? 'start' : 'movie' };
    }
    const labelling = chooseDrop(settings.mode, rate.value, source.value.embeddedDrop);
    let parts = source.value.parts;
    if (labelling.drop && !source.value.typed) parts = nextShownLabel(parts, rate.value);

    const start = parseTimecode(labelText(parts, labelling.drop ? ';' : ':'),
                                rate.value.timescale, rate.value.frameDuration);
    if (!start.ok) return { ok: false, error: start.error, field: source.value.typed ? 'start' : 'movie' };

    const offset = offsetFrames(settings, rate.value);
    if (!offset.ok) return offset;

    const day = framesPerDay(rate.value, labelling.drop);
    const frame = (((start.value.frame + offset.value) % day) + day) % day;
    const text = formatTimecode(frame, rate.value.timescale, rate.value.frameDuration, labelling.drop);
    if (!text.ok) return { ok: false, error: text.error, field: 'movie' };
    return { ok: true, timecode: text.value, drop: labelling.drop, note: labelling.note,
      basis: source.value.basis || null };
  }

  // A timecode typed for one movie: accepted exactly when the engine would
  // accept it at that movie's rate.
  function validateFor(movie, text) {
    const rate = parseRate(movie && movie.rate);
    if (!rate.ok) return rate;
    const parsed = parseTimecode(text, rate.value.timescale, rate.value.frameDuration);
    return parsed.ok ? ok(text) : parsed;
  }

  // A timecode typed for one movie as it is typed: the label it means at
  // that movie's rate, or that rate's one message.
  function entryFor(movie, text) {
    const rate = parseRate(movie && movie.rate);
    if (!rate.ok) return rate;
    return entryAt(text, rate.value.timescale, rate.value.frameDuration);
  }

  // ---- continuous timecode -------------------------------------------------

  // The frames a movie presents: its duration at the rate its frames were
  // measured at, so a phone's 90000/1501 clip labelled 59.94 counts the
  // frames it has rather than its length in 59.94 frames.
  function frameCount(movie) {
    const measured = parseRate(movie && movie.measuredRate);
    const rate = measured.ok ? measured : parseRate(movie && movie.rate);
    if (!rate.ok) return rate;
    const seconds = movie.duration;
    if (typeof seconds !== 'number' || !Number.isFinite(seconds) || seconds < 0) return fail(MSG.noDuration);
    return ok(Math.max(1, Math.round((seconds * rate.value.timescale) / rate.value.frameDuration)));
  }

  // The label `count` frames after a start, at the movie's rate in the
  // start's labelling, wrapping at midnight.
  function labelAfter(movie, timecode, count) {
    const rate = parseRate(movie && movie.rate);
    if (!rate.ok) return rate;
    const { timescale, frameDuration } = rate.value;
    const start = parseTimecode(timecode, timescale, frameDuration);
    if (!start.ok) return start;
    const frame = (start.value.frame + count) % framesPerDay(rate.value, start.value.drop);
    return formatTimecode(frame, timescale, frameDuration, start.value.drop);
  }

  // The label of a movie's last frame when it starts at `timecode`.
  function endLabel(movie, timecode) {
    const count = frameCount(movie);
    return count.ok ? labelAfter(movie, timecode, count.value - 1) : count;
  }

  // The same label time at another nominal rate: its frames become the same
  // part of a second, rounded up to a whole frame so nothing overlaps.
  function carryLabel(parts, fromFps, toFps) {
    let f = Math.floor((parts.f * toFps + fromFps - 1) / fromFps);
    let seconds = parts.h * 3600 + parts.m * 60 + parts.s;
    if (f >= toFps) {
      f -= toFps;
      seconds = (seconds + 1) % 86400;
    }
    return { h: Math.floor(seconds / 3600), m: Math.floor(seconds / 60) % 60, s: seconds % 60, f };
  }

  // A movie that follows another: it starts on `after` ({parts, fps}, the
  // label after the previous movie's last frame), in its own rate's labelling.
  function followingStart(movie, settings, after) {
    const rate = parseRate(movie && movie.rate);
    if (!rate.ok) return { ok: false, error: rate.error, field: 'movie' };
    const labelling = chooseDrop(settings.mode, rate.value, undefined);
    let parts = carryLabel(after.parts, after.fps, nominalFps(rate.value.timescale, rate.value.frameDuration));
    if (labelling.drop) parts = nextShownLabel(parts, rate.value);
    return { ok: true, timecode: labelText(parts, labelling.drop ? ';' : ':'), drop: labelling.drop,
      note: labelling.note, basis: null };
  }

  // Starts for a list in the order shown ([{movie, typed}]) under a Custom
  // start with "continuous" on: the first movie starts where the settings
  // say, each other one on the first frame after the previous one ends, so
  // no two clips share a label. A valid typed start holds its row's place;
  // a movie without a start is passed over. Each result carries `end`, the
  // label of the movie's last frame.
  function deriveContinuous(items, settings) {
    let after = null;
    return items.map(({ movie, typed }) => {
      let result = after === null ? deriveStart(movie, settings) : followingStart(movie, settings, after);
      if (result.ok) {
        const end = endLabel(movie, result.timecode);
        result = end.ok ? { ...result, end: end.value } : { ok: false, error: end.error, field: 'movie' };
      }
      const placed = typeof typed === 'string' && validateFor(movie, typed).ok ? typed
        : (result.ok ? result.timecode : null);
      const count = placed === null ? null : frameCount(movie);
      const next = count && count.ok ? labelAfter(movie, placed, count.value) : null;
      if (next && next.ok) {
        const rate = parseRate(movie.rate).value;
        after = { parts: labelParts(next.value), fps: nominalFps(rate.timescale, rate.frameDuration) };
      }
      return result;
    });
  }

  // Continuous timecode applies to a Custom start only.
  function isContinuous(settings) {
    return Boolean(settings) && settings.continuous === true && settings.source === 'custom';
  }

  return Object.freeze({ MESSAGES: MSG, BASIS, nominalFps, dropFramesPerMinute, allowsDrop, parseTimecode,
    formatTimecode, parseRate, recordingStart, deriveStart, validateFor, enterTimecode, entryAt, entryFor,
    offsetMinutes, fixedOffsetMinutes, offsetText, zoneFor, wallClock, creationTime, frameCount, endLabel, deriveContinuous, isContinuous });
})();

if (typeof module === 'object' && module.exports) module.exports = VelmoraTimecode;
else window.VelmoraTimecode = VelmoraTimecode;
