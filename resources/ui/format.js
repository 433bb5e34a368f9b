// How movie facts read in the list: frame rate, duration, size, instants in the
// chosen zone, track counts. Pure.
const VelmoraFormat = (function () {
  'use strict';

  const pad = (n, width) => String(n).padStart(width, '0');

  // 30000/1001 reads 29.97, 24000/1001 23.976, 25/1 25.
  function fpsText(rate) {
    const match = /^(\d+)\/(\d+)$/.exec(typeof rate === 'string' ? rate : '');
    if (!match || Number(match[2]) === 0) return '—';
    const value = Number(match[1]) / Number(match[2]);
    return String(Number(value.toFixed(3)));
  }

  // A variable-rate movie is labelled at a standard rate, marked "VFR".
  function rateText(rate, measuredRate) {
    const text = fpsText(rate);
    return typeof measuredRate === 'string' && text !== '—' ? text + ' VFR' : text;
  }

  // What a variable-rate movie measured, for its accessible description; null otherwise.
  function measuredRateText(measuredRate) {
    if (typeof measuredRate !== 'string') return null;
    const text = fpsText(measuredRate);
    return text === '—' ? null : 'Variable frame rate, measured ' + text + ' fps';
  }

  // Seconds as H:MM:SS.cc, hundredths rounded down so 10.019 s never reads 10.02.
  function durationText(seconds) {
    if (typeof seconds !== 'number' || !Number.isFinite(seconds) || seconds < 0) return '—';
    const hundredths = Math.floor(Math.round(seconds * 1e6) / 1e4);
    const whole = Math.floor(hundredths / 100);
    return Math.floor(whole / 3600) + ':' + pad(Math.floor(whole / 60) % 60, 2) + ':' +
      pad(whole % 60, 2) + '.' + pad(hundredths % 100, 2);
  }

  // Decimal units, as file managers show them.
  function sizeText(bytes) {
    if (typeof bytes !== 'number' || !Number.isFinite(bytes) || bytes < 0) return '—';
    if (bytes < 1000) return bytes + ' B';
    const units = ['kB', 'MB', 'GB', 'TB', 'PB'];
    let value = bytes;
    let unit = -1;
    while (value >= 1000 && unit < units.length - 1) {
      value /= 1000;
      unit += 1;
    }
    return (value >= 100 ? value.toFixed(0) : value.toFixed(1)) + ' ' + units[unit];
  }

  // "YYYY-MM-DD HH:MM:SS" of an RFC 3339 instant in "local" or "utc".
  function instantText(text, timezone) {
    const ms = typeof text === 'string' ? Date.parse(text) : NaN;
    if (!Number.isFinite(ms)) return null;
    const d = new Date(ms);
    const utc = timezone === 'utc';
    const year = utc ? d.getUTCFullYear() : d.getFullYear();
    const month = (utc ? d.getUTCMonth() : d.getMonth()) + 1;
    const day = utc ? d.getUTCDate() : d.getDate();
    const hours = utc ? d.getUTCHours() : d.getHours();
    const minutes = utc ? d.getUTCMinutes() : d.getMinutes();
    const seconds = utc ? d.getUTCSeconds() : d.getSeconds();
    return pad(year, 4) + '-' + pad(month, 2) + '-' + pad(day, 2) + ' ' + pad(hours, 2) + ':' +
      pad(minutes, 2) + ':' + pad(seconds, 2);
  }

  // "YYYY-MM-DD HH:MM:SS" of a wall clock ({year, month, day, h, m, s}).
  function clockText(c) {
    return pad(c.year, 4) + '-' + pad(c.month, 2) + '-' + pad(c.day, 2) + ' ' + pad(c.h, 2) + ':' + pad(c.m, 2) +
      ':' + pad(c.s, 2);
  }

  // The Created column's heading for the "timezone" setting.
  function createdHeading(timezone) {
    if (timezone === 'utc') return 'Created (UTC)';
    if (timezone === 'local') return 'Created (local)';
    if (timezone === 'camera') return 'Created (camera zone)';
    return 'Created (UTC' + timezone + ')';
  }

  // Counts by kind; a single-frame picture (cover art) is a picture, not video.
  function trackCounts(streams) {
    const counts = { video: 0, audio: 0, data: 0, pictures: 0 };
    if (!Array.isArray(streams)) return counts;
    for (const stream of streams) {
      if (!stream || typeof stream !== 'object') continue;
      if (stream.attachedPicture === true) counts.pictures += 1;
      else if (stream.type === 'video') counts.video += 1;
      else if (stream.type === 'audio') counts.audio += 1;
      else counts.data += 1;
    }
    return counts;
  }

  function tracksText(streams) {
    const c = trackCounts(streams);
    const parts = [];
    if (c.video) parts.push(c.video + ' video');
    if (c.audio) parts.push(c.audio + ' audio');
    if (c.data) parts.push(c.data + ' data');
    if (c.pictures) parts.push(c.pictures + (c.pictures === 1 ? ' picture' : ' pictures'));
    return parts.length ? parts.join(' · ') : 'none';
  }

  // Messages that do not depend on the rate, so no rate is named with them.
  const SHAPE_MESSAGES = new Set(['Use HH:MM:SS:FF timecode', 'Invalid timecode digits']);

  function listText(items) {
    return items.length < 2 ? items.join('') : items.slice(0, -1).join(', ') + ' and ' + items[items.length - 1];
  }

  // One message for a settings field from what it does to the movies
  // ([{error, rate}]): the error most of them meet, with the rates it meets
  // them at ("… at 25 and 23.976 fps"); '' when none.
  function fieldMessage(problems) {
    const byError = new Map();
    for (const { error, rate } of problems) {
      if (!byError.has(error)) byError.set(error, { count: 0, rates: [] });
      const seen = byError.get(error);
      seen.count += 1;
      const fps = fpsText(rate);
      if (!seen.rates.includes(fps)) seen.rates.push(fps);
    }
    let best = null;
    for (const [error, seen] of byError) {
      if (best === null || seen.count > best.seen.count) best = { error, seen };
    }
    if (best === null) return '';
    if (SHAPE_MESSAGES.has(best.error)) return best.error;
    return best.error + ' at ' + listText(best.seen.rates) + ' fps';
  }

  // Sample descriptions the engine copies without knowing their codec, by
  // the names editors know them by.
  const CODEC_NAMES = new Map([
    ['m2v1', 'MPEG-2'], ['mp2v', 'MPEG-2'], ['AVdn', 'DNxHD'], ['AVdh', 'DNxHR'],
    ['apch', 'ProRes 422 HQ'], ['apcn', 'ProRes 422'], ['apcs', 'ProRes 422 LT'], ['apco', 'ProRes 422 Proxy'],
    ['ap4h', 'ProRes 4444'], ['ap4x', 'ProRes 4444 XQ'], ['hvc1', 'HEVC'], ['hev1', 'HEVC'], ['avc1', 'H.264'],
    ['avc3', 'H.264'], ['mjpa', 'MJPEG'], ['mjpb', 'MJPEG'], ['jpeg', 'MJPEG'], ['AVDJ', 'MJPEG'],
    ['dvc ', 'DV'], ['dvcp', 'DV'], ['dv5n', 'DVCPRO50'], ['dv5p', 'DVCPRO50'],
  ]);
  // Families named by their first three characters: XDCAM HD, EX and IMX are
  // MPEG-2; dvh1, dvh5, dvhq… are DVCPRO HD.
  const CODEC_FAMILIES = new Map([
    ['xd5', 'MPEG-2'], ['xdv', 'MPEG-2'], ['xdh', 'MPEG-2'], ['mx3', 'MPEG-2'], ['mx4', 'MPEG-2'], ['mx5', 'MPEG-2'],
    ['dvh', 'DVCPRO HD'],
  ]);

  // The video codec as the list shows it: the engine's word, or where it
  // says "opaque" the name its sample description's tag stands for.
  function codecText(record) {
    const codec = record && typeof record.codec === 'string' ? record.codec : null;
    if (codec !== 'opaque') return codec === null ? '—' : codec;
    const streams = Array.isArray(record.streams) ? record.streams : [];
    const video = streams[record.videoIndex];
    const tag = video && typeof video.tag === 'string' && video.tag.length === 4 ? video.tag : null;
    if (tag === null) return codec;
    return CODEC_NAMES.get(tag) || CODEC_FAMILIES.get(tag.slice(0, 3)) || codec + ' (' + tag + ')';
  }

  // Time left as a person reads it: seconds under a minute, then whole
  // minutes rounded up, then hours and minutes.
  function timeLeftText(seconds) {
    const whole = Math.max(1, Math.ceil(seconds));
    if (whole < 60) return whole + ' s';
    const minutes = Math.ceil(whole / 60);
    if (minutes < 60) return minutes + ' min';
    return Math.floor(minutes / 60) + ' h ' + pad(minutes % 60, 2) + ' min';
  }

  // The batch line: which movie, then the speed and the time left once a
  // second of copying has been measured. `copied` bytes were copied in
  // `elapsedMs`; `left` bytes remain.
  function progressText({ index, total, finished, copied, left, elapsedMs }) {
    const head = (finished ? 'Processed ' : 'Processing ') + (index + 1) + ' of ' + total;
    if (!(elapsedMs >= 1000) || !(copied > 0) || !(left >= 0)) return head;
    const perSecond = copied / (elapsedMs / 1000);
    const mb = perSecond / 1e6;
    const speed = (mb >= 100 ? mb.toFixed(0) : mb.toFixed(1)) + ' MB/s';
    return head + ' · ' + speed + (left > 0 ? ' · ' + timeLeftText(left / perSecond) + ' left' : '');
  }

  // The summary after a cancelled batch: what became of the movies, never
  // what is left to do. Movies the batch did not reach count as cancelled.
  function cancelledSummary(total, counts) {
    let text = total + (total === 1 ? ' movie' : ' movies');
    for (const key of ['done', 'cancelled', 'failed', 'skipped']) {
      if (counts[key] > 0) text += ' · ' + counts[key] + ' ' + key;
    }
    return text;
  }

  // Last path component, for messages about a path.
  function baseName(path) {
    const trimmed = String(path).replace(/\/+$/, '');
    const slash = trimmed.lastIndexOf('/');
    return slash < 0 ? trimmed : trimmed.slice(slash + 1);
  }

  // The longest "head…tail" of `text` that `fits`, keeping a little more of
  // the end: cameras number their clips there ("VID_2024…120400.mp4").
  // Whole code points only, so no character is split.
  function shortenMiddle(text, fits) {
    if (fits(text)) return text;
    const chars = Array.from(text);
    const cut = (kept) => {
      const tail = Math.ceil(kept * 0.6);
      return chars.slice(0, kept - tail).join('') + '…' + chars.slice(chars.length - tail).join('');
    };
    let low = 1;
    let high = chars.length - 1;
    if (!fits(cut(low))) return cut(low);
    while (low < high) {
      const mid = Math.ceil((low + high) / 2);
      if (fits(cut(mid))) low = mid;
      else high = mid - 1;
    }
    return cut(low);
  }

  return Object.freeze({ fpsText, rateText, measuredRateText, durationText, sizeText, instantText, clockText,
    createdHeading, trackCounts, tracksText, baseName, fieldMessage, codecText, timeLeftText, progressText,
    cancelledSummary, shortenMiddle });
})();

if (typeof module === 'object' && module.exports) module.exports = VelmoraFormat;
else window.VelmoraFormat = VelmoraFormat;
