'use strict';
process.env.TZ = 'Asia/Kolkata';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const S = require('../settings.js');
const F = require('../format.js');
const N = require('../output_naming.js');
const H = require('../refusal_hints.js');
const Reel = require('../reel_name.js');

const sharedTable = (name) => JSON.parse(fs.readFileSync(path.join(__dirname, '..', '..', '..', 'tests', 'data', name),
  'utf8'));
const namingCases = sharedTable('output_naming_cases.json').cases;
const refusalTable = sharedTable('refusals.json');

const settingsTable = sharedTable('settings_cases.json');

// Normalising `input` leaves the defaults but for `changes`, and every key.
function expectNormalised(input, changes, what) {
  const got = S.normalize(input);
  assert.deepEqual(got, { ...settingsTable.defaults, ...changes }, what);
  assert.deepEqual(Object.keys(got).sort(), [...S.KEYS].sort(), what);
}

test('normalisation keeps exactly what the backend would keep', () => {
  assert.deepEqual({ ...S.DEFAULTS }, settingsTable.defaults);
  assert.deepEqual(Object.fromEntries(Object.entries(S.CHOICES).map(([key, values]) => [key, [...values]])),
    settingsTable.choices);
  assert.ok(settingsTable.cases.length >= 40);
  for (const c of settingsTable.cases) expectNormalised(c.input, c.changes, c.label);
  // Only a string from JavaScript can hold a lone surrogate.
  expectNormalised({ reel: 'A\uD800' }, {}, 'reel with a lone surrogate');
  expectNormalised({ movieColumnWidth: Infinity }, {}, 'Movie column width not finite');
  assert.equal(S.KEYS.length, 20);
});

test('every choice, wrong type and limit of the shared settings table', () => {
  for (const [key, accepted] of Object.entries(settingsTable.choices)) {
    for (const value of accepted) expectNormalised({ [key]: value }, { [key]: value }, key + ' ' + value);
  }
  for (const [key, fallback] of Object.entries(settingsTable.defaults)) {
    const isSwitch = settingsTable.switches.includes(key);
    assert.equal(isSwitch, typeof fallback === 'boolean', key);
    for (const value of settingsTable.wrongTypes) {
      if (typeof value === (isSwitch ? 'boolean' : 'string')) continue;
      expectNormalised({ [key]: value }, {}, key + ' ' + JSON.stringify(value));
    }
  }
  // At its longest a text is kept and one unit longer it goes; a wide
  // character shows whether the unit is a character or a byte.
  for (const limit of settingsTable.limits) {
    const lead = limit.lead || '';
    const room = limit.most - lead.length;
    const bytes = limit.unit === 'bytes';
    const wide = bytes ? 'é' : '🎬';
    const wideRoom = bytes ? Math.floor(room / 2) : room;
    for (const kept of [lead + 'x'.repeat(room), lead + wide.repeat(wideRoom)]) {
      expectNormalised({ [limit.key]: kept }, { [limit.key]: kept }, limit.key + ' kept');
    }
    for (const dropped of [lead + 'x'.repeat(room + 1), lead + wide.repeat(wideRoom + 1)]) {
      expectNormalised({ [limit.key]: dropped }, {}, limit.key + ' dropped');
    }
    if (limit.key === 'prefix') {
      assert.equal(S.prefixProblem('x'.repeat(limit.most)), null);
      assert.equal(S.prefixProblem('x'.repeat(limit.most + 1)), S.PREFIX_MESSAGE);
      assert.ok(S.PREFIX_MESSAGE.endsWith('(up to ' + limit.most + ' characters).'));
    }
    if (limit.key === 'suffix') assert.ok(S.SUFFIX_MESSAGE.startsWith('Use a suffix of up to ' + limit.most + ' bytes'));
  }
});

test('the reel each movie is written with', () => {
  const movie = { path: '/cards/A001/CLIP/C0001.MP4', card: 'A001', reel: 'TAPE7' };
  const folder = { reelSource: 'folder' };
  const table = [
    ['an embedded start keeps the movie\'s reel', movie, {}, 'TAPE7'],
    ['other starts write none', movie, { source: 'custom' }, null],
    ['nothing to keep', { ...movie, reel: undefined }, {}, null],
    ['the folder the user added', movie, { reelSource: 'card' }, 'A001'],
    ['a file added itself: its folder', { ...movie, card: null }, { reelSource: 'card' }, 'CLIP'],
    ['the movie\'s folder', movie, folder, 'CLIP'],
    ['custom', movie, { reelSource: 'custom', reel: 'Day 2' }, 'Day 2'],
    ['custom left empty', movie, { reelSource: 'custom', reel: '' }, null],
    ['cut to 32 bytes', { path: '/x/' + 'é'.repeat(20) + '/a.mov' }, folder, 'é'.repeat(16)],
    ['cut before a character that would pass 32 bytes', { path: '/x/' + 'a'.repeat(31) + 'é/a.mov' }, folder,
      'a'.repeat(31)],
    ['control characters dropped', { path: '/x/A\u0007B\u0085C\u007f/a.mov' }, folder, 'ABC'],
    ['a movie at the root has no folder name', { path: '/a.mov' }, folder, null],
    ['an embedded reel too long to write', { ...movie, reel: 'R'.repeat(40) }, {}, 'R'.repeat(32)],
  ];
  for (const [what, record, overrides, expected] of table) {
    assert.equal(Reel.reelFor(record, { ...S.DEFAULTS, ...overrides }), expected, what);
  }
});

test('prefix rule and output names', () => {
  const bad = ['a:b', 'a\tb', 'x/y', 'q?', 'star*', '<', '>', '"', '\\', '|', 'p'.repeat(101)];
  for (const prefix of bad) assert.equal(S.prefixProblem(prefix), S.PREFIX_MESSAGE, JSON.stringify(prefix));
  for (const prefix of ['TC_', '', '  Day1 ', '\u0085Cam\u3000', 'p'.repeat(100) + '  ']) {
    assert.equal(S.prefixProblem(prefix), null, JSON.stringify(prefix));
  }
  const table = [
    ['clip.mov', {}, 0, 'clip_TC.mov'],
    ['a.b.MP4', {}, 0, 'a.b_TC.MP4'],
    ['clip', {}, 0, 'clip_TC.'],
    ['.hidden', {}, 0, '.hidden_TC.'],
    ['a.mp4', { rename: true, number: true, prefix: 'Day1 ' }, 2, 'Day1a_003.mp4'],
    ['a.mp4', { rename: true, number: true, prefix: '' }, 999, 'a_1000.mp4'],
    ['a.mp4', { rename: true, prefix: '\u0085X\u0085' }, 4, 'Xa.mp4'],
  ];
  for (const [name, overrides, index, expected] of table) {
    assert.equal(S.outputName(name, { ...S.DEFAULTS, ...overrides }, index), expected, name);
  }
});

test('the output preview follows the backend\'s naming case table', () => {
  assert.ok(namingCases.length >= 20);
  for (const c of namingCases) {
    const got = N.preview({ path: c.source, relativeDir: c.relativeDir, card: c.card }, c.options, c.position);
    const expected = 'error' in c ? { ok: false, error: c.error }
      : { ok: true, folder: c.folder, name: c.name, path: c.path, backup: 'backup' in c ? c.backup : null };
    assert.deepEqual(got, expected, c.label);
  }
});

test('other files are counted by kind, the commonest first', () => {
  assert.equal(H.otherFilesLine(['a.xml']), '1 other file: XML');
  assert.equal(H.otherFilesLine(['a.thm', 'b.xml', 'c.XML', 'README']), '4 other files: XML, THM, README');
  assert.equal(H.otherFilesLine(['1.a', '2.b', '3.c', '4.d', '5.d']), '5 other files: D, A, B…');
  assert.equal(H.hintFor('Cancelled.'), null);
  assert.equal(H.hintFor('File exists (os error 17)').startsWith('A file with the output'), true);
  assert.equal(H.hintFor('Unsupported track header version').startsWith('Not damaged, only not supported yet'), true);
  assert.equal(H.hintFor('Truncated movie metadata').startsWith('The file looks damaged'), true);
});

test('every refusal of the shared table has its hint, matched by its exact wording', () => {
  // The page's list is the table, entry for entry.
  assert.deepEqual(H.REFUSALS.map((entry) => ({ ...entry })), refusalTable.refusals);
  assert.deepEqual({ ...H.HINTS }, refusalTable.hints);
  assert.ok(refusalTable.refusals.length >= 80);
  const used = new Set();
  for (const entry of refusalTable.refusals) {
    const hint = refusalTable.hints[entry.hint];
    const what = entry.message || entry.pattern;
    assert.equal(typeof hint, 'string', what);
    assert.ok(hint.length >= 20, what);
    used.add(entry.hint);
    if ('message' in entry) {
      assert.equal(H.hintFor(entry.message), hint, what);
      // Another wording is another message: no hint by resemblance.
      assert.equal(H.hintFor(entry.message + '.'), null, what);
      assert.equal(H.hintFor(entry.message.toLowerCase() === entry.message ? entry.message.toUpperCase()
        : entry.message.toLowerCase()), null, what);
    } else {
      const [head, tail] = entry.pattern.split('{system text}');
      assert.equal(H.hintFor(head + 'Permission denied' + tail), hint, what);
      assert.equal(H.hintFor(head + tail), null, what);
      assert.equal(H.hintFor(head + 'Permission denied' + tail.replace(')', '0)')), null, what);
    }
  }
  assert.deepEqual([...used].sort(), Object.keys(refusalTable.hints).sort(), 'every hint is used');
  const pageOwn = refusalTable.refusals.filter((entry) => entry.from === 'page');
  assert.ok(pageOwn.length >= 1);
  const pageSources = fs.readdirSync(path.join(__dirname, '..')).filter((name) => name.endsWith('.js') &&
    name !== 'refusal_hints.js').map((name) => fs.readFileSync(path.join(__dirname, '..', name), 'utf8')).join('\n');
  for (const entry of pageOwn) assert.ok(pageSources.includes("'" + entry.message + "'"), entry.message);
});

test('movie facts as the list shows them', () => {
  const fps = [['30000/1001', '29.97'], ['24000/1001', '23.976'], ['25/1', '25'], ['60000/1001', '59.94'],
    ['120000/1001', '119.88'], ['2997/100', '29.97'], ['x', '—'], ['1/0', '—']];
  for (const [rate, text] of fps) assert.equal(F.fpsText(rate), text, rate);
  const variable = [['30000/1001', '12600/421', '29.97 VFR', 'Variable frame rate, measured 29.929 fps'],
    ['25/1', '250/11', '25 VFR', 'Variable frame rate, measured 22.727 fps'],
    ['30000/1001', undefined, '29.97', null], ['x', '1/1', '—', 'Variable frame rate, measured 1 fps'],
    ['25/1', 'x', '25 VFR', null]];
  for (const [rate, measured, text, description] of variable) {
    assert.equal(F.rateText(rate, measured), text, rate + ' ' + measured);
    assert.equal(F.measuredRateText(measured), description, String(measured));
  }

  const durations = [[10.01, '0:00:10.01'], [0, '0:00:00.00'], [3725.5, '1:02:05.50'], [10.019, '0:00:10.01'],
    [59.999, '0:00:59.99'], [-1, '—'], [null, '—']];
  for (const [seconds, text] of durations) assert.equal(F.durationText(seconds), text, String(seconds));

  const sizes = [[999, '999 B'], [1000, '1.0 kB'], [1530000, '1.5 MB'], [123456789012, '123 GB'], [undefined, '—']];
  for (const [bytes, text] of sizes) assert.equal(F.sizeText(bytes), text, String(bytes));

  assert.equal(F.instantText('2024-03-09T20:05:00.000Z', 'utc'), '2024-03-09 20:05:00');
  assert.equal(F.instantText('2024-03-09T20:05:00.000Z', 'local'), '2024-03-10 01:35:00');
  assert.equal(F.instantText(null, 'utc'), null);
  assert.deepEqual(['camera', 'local', 'utc', '-03:30'].map(F.createdHeading),
    ['Created (camera zone)', 'Created (local)', 'Created (UTC)', 'Created (UTC-03:30)']);

  const streams = [
    { type: 'video', tag: 'avc1', attachedPicture: false },
    { type: 'audio', tag: 'mp4a', attachedPicture: false },
    { type: 'audio', tag: 'sowt', attachedPicture: false },
    { type: 'data', tag: 'tmcd', attachedPicture: false },
    { type: 'video', tag: 'jpeg', attachedPicture: true },
  ];
  assert.deepEqual(F.trackCounts(streams), { video: 1, audio: 2, data: 1, pictures: 1 });
  assert.equal(F.tracksText(streams), '1 video · 2 audio · 1 data · 1 picture');
  assert.equal(F.tracksText(undefined), 'none');
  assert.equal(F.baseName('/a/b/Clip 1.mov'), 'Clip 1.mov');
  assert.equal(F.baseName('/a/b/'), 'b');
});
