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
const R = require('../reel_name.js');

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

// What a field makes of what is typed; the command line's --start reads the same cases.
test('typed timecodes match the shared entry case table, at a movie\'s rate too', () => {
  assert.ok(cases.entry.length >= 25);
  for (const c of cases.entry) {
    const rate = T.parseRate(c.rate).value;
    const want = 'error' in c ? { ok: false, error: c.error } : { ok: true, value: c.timecode };
    assert.deepEqual(T.entryAt(c.text, rate.timescale, rate.frameDuration), want, c.label);
    assert.deepEqual(T.entryFor({ rate: c.rate }, c.text), want, c.label);
    // Whatever a field keeps is a label the engine takes at that rate.
    if (want.ok) assert.ok(T.validateFor({ rate: c.rate }, c.timecode).ok, c.label);
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

function settings(overrides) {
  return { ...S.DEFAULTS, ...overrides };
}

// Every start case of the shared table; the C++ derivation reads the same ones.
test('derivation from each source, mode, zone and offset matches the shared case table', () => {
  const { starts, recorded } = cases.derivation;
  assert.ok(starts.length >= 90 && recorded.length >= 10);
  for (const c of [...starts, ...recorded]) {
    const got = T.deriveStart(c.movie, settings(c.settings));
    if ('error' in c) {
      assert.deepEqual({ ok: got.ok, error: got.error, field: got.field }, { ok: false, error: c.error, field: c.field },
        c.label);
      continue;
    }
    assert.equal(got.ok, true, `${c.label}: ${JSON.stringify(got)}`);
    assert.equal(got.timecode, c.timecode, c.label);
    if ('basis' in c) assert.equal(got.basis, c.basis, c.label);
    if ('note' in c) assert.equal(got.note, c.note, c.label);
    // Whatever is derived must be what the engine accepts at the movie's rate.
    assert.ok(T.validateFor(c.movie, got.timecode).ok, c.label);
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

test('a typed timecode is valid exactly when the engine accepts it at that rate', () => {
  assert.ok(cases.derivation.typed.length >= 10);
  for (const c of cases.derivation.typed) {
    assert.deepEqual(T.validateFor(c.movie, c.text), c.error === null ? { ok: true, value: c.text }
      : { ok: false, error: c.error }, `${c.text} at ${c.movie.rate}`);
  }
});

test('end labels match the shared case table', () => {
  assert.ok(cases.derivation.ends.length >= 10);
  for (const c of cases.derivation.ends) {
    assert.deepEqual(T.endLabel(c.movie, c.start), 'error' in c ? { ok: false, error: c.error }
      : { ok: true, value: c.end }, c.label);
  }
});

// The reel each row is written with; the command line derives it in C++ from the same cases.
test('reels match the shared case table', () => {
  assert.ok(cases.derivation.reels.length >= 10);
  for (const c of cases.derivation.reels) assert.equal(R.reelFor(c.movie, settings(c.settings)), c.reel, c.label);
});
