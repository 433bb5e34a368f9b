'use strict';
// Local time must be a zone whose offset is not whole hours, so a derivation
// that mixes up local and UTC fields cannot pass by accident.
process.env.TZ = 'Asia/Kolkata';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const T = require('../timecode.js');
const S = require('../settings.js');

const casesPath = path.join(__dirname, '..', '..', '..', 'tests', 'data', 'timecode_cases.json');
const cases = JSON.parse(fs.readFileSync(casesPath, 'utf8'));

test('the local zone of this test is the one it expects', () => {
  assert.equal(new Date('2024-01-01T00:00:00Z').getHours(), 5);
  assert.equal(new Date('2024-01-01T00:00:00Z').getMinutes(), 30);
});

test('parsing matches the engine case table', () => {
  assert.ok(cases.parse.length > 0);
  for (const c of cases.parse) {
    const got = T.parseTimecode(c.text, c.timescale, c.frameDuration);
    const label = `${c.text} at ${c.timescale}/${c.frameDuration}`;
    if ('error' in c) assert.deepEqual(got, { ok: false, error: c.error }, label);
    else assert.deepEqual(got, { ok: true, value: { frame: c.frame, drop: c.drop } }, label);
  }
});

test('formatting matches the engine case table', () => {
  assert.ok(cases.format.length > 0);
  for (const c of cases.format) {
    const got = T.formatTimecode(c.frame, c.timescale, c.frameDuration, c.drop);
    const label = `${c.frame} at ${c.timescale}/${c.frameDuration} drop=${c.drop}`;
    if ('error' in c) assert.deepEqual(got, { ok: false, error: c.error }, label);
    else assert.deepEqual(got, { ok: true, value: c.text }, label);
  }
});

test('nominal rate and drop-frame test at the edges of the tolerance', () => {
  const table = [
    [30000, 1001, 30, 2], [60000, 1001, 60, 4], [24000, 1001, 24, null], [2997, 100, 30, 2],
    [29972, 1000, 30, 2],   // 0.00103 from 29.97003: inside
    [29968, 1000, 30, null], // 0.00203 away: outside
    [30, 1, 30, null], [5, 2, 3, null], [1, 2, 1, null], [1, 3, 0, null],
  ];
  for (const [ts, fd, fps, drop] of table) {
    assert.equal(T.nominalFps(ts, fd), fps, `${ts}/${fd}`);
    const d = T.dropFramesPerMinute(ts, fd);
    assert.deepEqual(d, drop === null ? { ok: false, error: 'Drop-frame requires 29.97 or 59.94 fps' }
      : { ok: true, value: drop }, `${ts}/${fd}`);
  }
});

test('every drop-frame label round-trips through its frame number for a day', () => {
  for (const [ts, fd] of [[30000, 1001], [60000, 1001]]) {
    const fps = T.nominalFps(ts, fd);
    const day = fps * 86400 - 1296 * T.dropFramesPerMinute(ts, fd).value;
    for (let n = 0; n < day; n += 7) {
      const text = T.formatTimecode(n, ts, fd, true);
      assert.ok(text.ok);
      const back = T.parseTimecode(text.value, ts, fd);
      if (!back.ok || back.value.frame !== n) assert.fail(`${n} -> ${text.value} -> ${JSON.stringify(back)}`);
    }
  }
});

test('rates from the movie record', () => {
  assert.deepEqual(T.parseRate('30000/1001'), { ok: true, value: { timescale: 30000, frameDuration: 1001 } });
  for (const bad of ['', '25', '25/0', '0/1', '1/3', '-25/1', '25/1 ', '4294967296/1', null, 25]) {
    assert.deepEqual(T.parseRate(bad), { ok: false, error: 'Unsupported frame rate' }, String(bad));
  }
});

const movie30 = {
  rate: '30000/1001', timecode: '01:00:00;00', duration: 70.01,
  created: '2024-03-09T14:05:07.500Z', modified: '2024-03-09T14:06:17.510Z',
};
const movie25 = { ...movie30, rate: '25/1', timecode: '10:00:00:00' };
const movie60 = { ...movie30, rate: '60000/1001', timecode: null };
const movie24 = { ...movie30, rate: '24000/1001', timecode: '00:59:59:23' };

function settings(overrides) {
  return { ...S.DEFAULTS, ...overrides };
}

test('derivation from each source, mode, zone and offset', () => {
  const table = [
    // [what, movie, settings, expected timecode or {error, field}]
    ['embedded keeps drop labelling', movie30, {}, '01:00:00;00'],
    ['embedded keeps non-drop labelling', movie25, {}, '10:00:00:00'],
    ['embedded non-drop at 29.97', movie30, { mode: 'non-drop' }, '01:00:00:00'],
    ['embedded 23.976 stays non-drop in auto', movie24, {}, '00:59:59:23'],
    ['embedded missing', movie60, {}, { error: 'No embedded timecode', field: 'movie' }],
    ['embedded non-drop label forced to drop, skipped label moves',
      { ...movie30, timecode: '00:01:00:00' }, { mode: 'drop' }, '00:01:00;02'],
    ['creation in UTC, 500 ms is frame 15', movie30, { source: 'creation', timezone: 'utc' }, '14:05:07;15'],
    ['creation in local time', movie30, { source: 'creation' }, '19:35:07;15'],
    ['creation non-drop', movie30, { source: 'creation', timezone: 'utc', mode: 'non-drop' }, '14:05:07:15'],
    ['creation at 25 fps, 500 ms is frame 12', movie25, { source: 'creation', timezone: 'utc' }, '14:05:07:12'],
    ['creation at 59.94', movie60, { source: 'creation', timezone: 'utc' }, '14:05:07;30'],
    ['creation missing', { ...movie30, created: null }, { source: 'creation' },
      { error: 'No creation time', field: 'movie' }],
    ['modification minus duration is the recording start', movie30,
      { source: 'modification', timezone: 'utc' }, '14:05:07;15'],
    ['modification minus duration, local', movie25, { source: 'modification' }, '19:35:07:12'],
    ['modification missing', { ...movie30, modified: undefined }, { source: 'modification' },
      { error: 'No modification time', field: 'movie' }],
    ['custom follows the rate in auto', movie30, { source: 'custom', start: '10:00:00:00' }, '10:00:00;00'],
    ['custom at 25 fps', movie25, { source: 'custom', start: '10:00:00;00' }, '10:00:00:00'],
    ['custom non-drop at 59.94', movie60, { source: 'custom', start: '10:00:00;00', mode: 'non-drop' },
      '10:00:00:00'],
    ['custom frames beyond the rate', movie25, { source: 'custom', start: '10:00:00:25' },
      { error: 'Timecode is outside the frame-rate range', field: 'start' }],
    ['custom frames within 29.97', movie30, { source: 'custom', start: '10:00:00:29' }, '10:00:00;29'],
    ['custom not a timecode', movie25, { source: 'custom', start: '1:00:00:00' },
      { error: 'Use HH:MM:SS:FF timecode', field: 'start' }],
    ['custom bad digits', movie25, { source: 'custom', start: '1a:00:00:00' },
      { error: 'Invalid timecode digits', field: 'start' }],
    ['custom label that drop-frame skips is refused, not moved', movie30,
      { source: 'custom', start: '00:01:00:01' }, { error: 'Skipped drop-frame timecode label', field: 'start' }],
    ['drop asked where the rate forbids it', movie25, { mode: 'drop', source: 'custom', start: '01:00:00:00' },
      '01:00:00:00'],
    ['add an offset', movie25, { source: 'custom', start: '10:00:00:00', offset: '00:00:01:05' }, '10:00:01:05'],
    ['subtract an offset', movie25,
      { source: 'custom', start: '10:00:00:00', offset: '00:00:01:05', direction: 'subtract' }, '09:59:58:20'],
    ['add wraps past midnight', movie25, { source: 'custom', start: '23:59:59:24', offset: '00:00:00:02' },
      '00:00:00:01'],
    ['subtract wraps before midnight', movie25,
      { source: 'custom', start: '00:00:00:00', offset: '00:00:00:01', direction: 'subtract' }, '23:59:59:24'],
    ['drop-frame add wraps past midnight', movie30,
      { source: 'custom', start: '23:59:59:29', offset: '00:00:00:01' }, '00:00:00;00'],
    ['drop-frame subtract wraps before midnight', movie30,
      { source: 'custom', start: '00:00:00:00', offset: '00:00:00:01', direction: 'subtract' }, '23:59:59;29'],
    ['drop-frame offset steps over skipped labels', movie30,
      { source: 'custom', start: '00:00:59:29', offset: '00:00:00:01' }, '00:01:00;02'],
    ['a drop-frame offset counts drop-frame frames', movie30,
      { source: 'custom', start: '00:00:00:00', offset: '00:10:00;00' }, '00:10:00;00'],
    ['offset beyond the rate', movie25, { offset: '00:00:00:25' },
      { error: 'Timecode is outside the frame-rate range', field: 'offset' }],
    ['drop-frame offset at 25 fps', movie25, { offset: '00:00:00;01' },
      { error: 'Drop-frame requires 29.97 or 59.94 fps', field: 'offset' }],
    ['offset not a timecode', movie25, { offset: '5' }, { error: 'Use HH:MM:SS:FF timecode', field: 'offset' }],
    ['unusable rate', { ...movie25, rate: '25' }, {}, { error: 'Unsupported frame rate', field: 'movie' }],
  ];
  // The recorded time of day, each zone choice, and which time was used.
  const recorded = cases.derivation.recorded.map((c) => [c.label, c.movie, c.settings,
    'error' in c ? { error: c.error, field: c.field } : { timecode: c.timecode, basis: c.basis }]);
  assert.ok(recorded.length >= 10);
  for (const [what, movie, overrides, expected] of [...table, ...recorded]) {
    const got = T.deriveStart(movie, settings(overrides));
    if (typeof expected === 'string' || 'timecode' in expected) {
      const want = typeof expected === 'string' ? { timecode: expected } : expected;
      assert.equal(got.ok, true, `${what}: ${JSON.stringify(got)}`);
      assert.equal(got.timecode, want.timecode, what);
      if ('basis' in want) assert.equal(got.basis, want.basis, what);
      // Whatever is derived must be what the engine accepts at the movie's rate.
      assert.ok(T.validateFor(movie, got.timecode).ok, what);
    } else {
      assert.deepEqual({ ok: got.ok, error: got.error, field: got.field }, { ok: false, ...expected }, what);
    }
  }
});

test('continuous starts and ends match the shared case table', () => {
  assert.ok(cases.derivation.continuous.length >= 8);
  for (const c of cases.derivation.continuous) {
    const items = c.movies.map(({ typed, ...movie }) => ({ movie, typed }));
    const got = T.deriveContinuous(items, settings(c.settings))
      .map((r) => (r.ok ? { timecode: r.timecode, end: r.end } : { error: r.error, field: r.field }));
    assert.deepEqual(got, c.results, c.label);
    got.forEach((r, i) => {
      if (r.timecode) assert.ok(T.validateFor(items[i].movie, r.timecode).ok && T.validateFor(items[i].movie, r.end).ok,
        c.label);
    });
  }
  // Only a Custom start runs on from movie to movie.
  assert.deepEqual([['custom', true], ['custom', false], ['creation', true]]
    .map(([source, continuous]) => T.isContinuous(settings({ source, continuous }))), [true, false, false]);
});

test('time-of-day labels that drop-frame counting skips move to the next shown label', () => {
  const table = [
    // [created, rate, mode, expected]
    ['2024-03-09T14:01:00.000Z', '30000/1001', 'auto', '14:01:00;02'],
    ['2024-03-09T14:01:00.040Z', '30000/1001', 'auto', '14:01:00;02'],
    ['2024-03-09T14:01:00.070Z', '30000/1001', 'auto', '14:01:00;02'],
    ['2024-03-09T14:01:00.100Z', '30000/1001', 'auto', '14:01:00;03'],
    ['2024-03-09T14:01:00.040Z', '30000/1001', 'non-drop', '14:01:00:01'],
    ['2024-03-09T14:10:00.000Z', '30000/1001', 'auto', '14:10:00;00'],
    ['2024-03-09T14:01:00.049Z', '60000/1001', 'drop', '14:01:00;04'],
    ['2024-03-09T14:01:00.067Z', '60000/1001', 'drop', '14:01:00;04'],
    ['2024-03-09T14:01:00.084Z', '60000/1001', 'drop', '14:01:00;05'],
    ['2024-03-09T14:01:01.000Z', '60000/1001', 'drop', '14:01:01;00'],
  ];
  for (const [created, rate, mode, expected] of table) {
    const got = T.deriveStart({ rate, created }, settings({ source: 'creation', timezone: 'utc', mode }));
    assert.equal(got.timecode, expected, `${created} at ${rate} ${mode}`);
  }
});

test('drop mode at a rate without drop-frame says so and stays usable', () => {
  const got = T.deriveStart(movie25, settings({ mode: 'drop' }));
  assert.equal(got.ok, true);
  assert.equal(got.timecode, '10:00:00:00');
  assert.match(got.note, /^Drop-frame requires 29\.97 or 59\.94 fps/);
  assert.equal(T.deriveStart(movie30, settings({ mode: 'drop' })).note, null);
});

test('a typed timecode is valid exactly when the engine accepts it at that rate', () => {
  const table = [
    [movie25, '01:00:00:24', null],
    [movie25, '01:00:00;00', 'Drop-frame requires 29.97 or 59.94 fps'],
    [movie30, '01:00:00;00', null],
    [movie30, '01:01:00;00', 'Skipped drop-frame timecode label'],
    [movie24, '01:00:00:24', 'Timecode is outside the frame-rate range'],
    [movie24, '', 'Use HH:MM:SS:FF timecode'],
  ];
  for (const [movie, text, error] of table) {
    assert.deepEqual(T.validateFor(movie, text), error ? { ok: false, error } : { ok: true, value: text },
      `${text} at ${movie.rate}`);
  }
});
