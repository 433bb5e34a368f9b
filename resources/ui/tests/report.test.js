'use strict';
// The batch report: built from a batch with overrides, errors and a cancel,
// then parsed back, by a strict RFC 4180 reader here and by Python's csv.

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const R = require('../report.js');
const { parseCsv } = require('./csv_reader.js');

const base = {
  rate: '30000/1001', duration: 10.01, timecode: '01:00:00;00', created: '2024-03-09T14:05:07.000Z',
  modified: '2024-03-09T14:05:17.010Z', size: 52428800, creationOrigin: 'Media metadata',
};
// The batch with every status of the list, and the rows it gives: shared with
// the command line's report (cli/report_csv.cpp).
const casesPath = path.join(__dirname, '..', '..', '..', 'tests', 'data', 'report_cases.json');
const { batch: BATCH, expected: EXPECTED } = JSON.parse(fs.readFileSync(casesPath, 'utf8'));

test('every status of the list and a refused file read back field for field', () => {
  const text = R.buildReport(BATCH);
  assert.deepEqual(parseCsv(text), EXPECTED);
  assert.ok(text.startsWith('Status,Message,'), 'no byte order mark, the header first');
  assert.equal(Buffer.from(text, 'utf8').toString('utf8'), text, 'the text has a UTF-8 form');
  // A lone surrogate (which no JSON table can hold) leaves as U+FFFD.
  const lone = { ...BATCH.movies[3], record: { ...BATCH.movies[3].record, path: '/media/D004 \uD800.mov' } };
  assert.deepEqual(parseCsv(R.buildReport({ ...BATCH, movies: [lone], notImported: [] }))[1], EXPECTED[4]);
});

test('Python\'s csv module reads the same rows from the UTF-8 bytes', (t) => {
  const script = 'import csv, io, json, sys\n' +
    'rows = list(csv.reader(io.TextIOWrapper(sys.stdin.buffer, encoding="utf-8", newline=""), strict=True))\n' +
    'sys.stdout.write(json.dumps(rows))\n';
  const run = spawnSync('python3', ['-c', script], { input: Buffer.from(R.buildReport(BATCH), 'utf8') });
  if (run.error) return t.skip('python3 is not available');
  assert.equal(run.status, 0, String(run.stderr));
  assert.deepEqual(JSON.parse(String(run.stdout)), EXPECTED);
});

test('UTC, an added offset, a movie left out and the time each start used', () => {
  const creation = { source: 'creation', timezone: 'utc', offset: '01:00:00:00', direction: 'add' };
  const batch = { zone: 'Asia/Kolkata', movies: [{ record: { path: '/m/a.mov', rate: 'bad' }, phase: 'left',
    error: 'Unsupported frame rate', timecode: null, typed: false, settings: creation }] };
  assert.deepEqual(parseCsv(R.buildReport(batch))[1],
    ['left out', 'Unsupported frame rate', '', '', '', '', 'bad', '', '', '', 'creation', '', '', 'UTC',
      '+01:00:00:00', '', '/m/a.mov', '', '', '', '']);

  // The zone each movie's time of day was read in.
  const column = (name, timezone, record, source = 'creation') => parseCsv(R.buildReport({ zone: 'Asia/Kolkata',
    movies: [{ record, phase: 'ready', timecode: '', typed: false, settings: { source, timezone } }] }))[1][
    R.COLUMNS.indexOf(name)];
  const phone = { path: '/m/p.mov', recordedUnix: 1563956740, recordedOffset: '+03:00' };
  assert.deepEqual([['camera', phone], ['camera', { path: '/m/a.mov' }], ['-07:00', phone], ['local', phone]]
    .map(([timezone, record]) => column('Time zone', timezone, record)),
  ['UTC+03:00', 'Asia/Kolkata', 'UTC-07:00', 'Asia/Kolkata']);

  // The instant a time-of-day start came from, in UTC, and which one it was.
  const copied = { ...base, path: '/m/c.mov', creationOrigin: 'File creation date' };
  assert.deepEqual([[phone, 'creation'], [copied, 'creation'], [base, 'creation'], [base, 'modification'],
    [base, 'embedded'], [{ path: '/m/n.mov' }, 'creation']]
    .map(([record, source]) => [column('Time used', 'utc', record, source),
      column('Time origin', 'utc', record, source)]), [
    ['2019-07-24T08:25:40.000Z', 'recorded 11:25:40 +03:00'],
    ['2024-03-09T14:05:07.000Z', 'file date: may be the copy time'],
    ['2024-03-09T14:05:07.000Z', 'movie header'],
    ['2024-03-09T14:05:07.000Z', 'modification time minus duration'],
    ['', ''],
    ['', ''],
  ]);
  assert.deepEqual([0, 0.0004, 4.001666666666667, 59.9996, 86399.9999, -1, NaN, '3'].map(R.durationText),
    ['00:00:00.000', '00:00:00.000', '00:00:04.002', '00:01:00.000', '24:00:00.000', '', '', '']);
});

test('the suggested name and folder', () => {
  assert.equal(R.fileName(new Date(2024, 2, 9, 4, 5, 59)), 'Velmora report 2024-03-09 04-05.csv');
  const movies = [{ record: { path: '/media/day1/A001.mov' } }];
  assert.equal(R.folder({ settings: { copy: true, destination: '/exports' }, movies }), '/exports');
  assert.equal(R.folder({ settings: { copy: false, destination: '/exports' }, movies }), '/media/day1');
  assert.equal(R.folder({ settings: { copy: true, destination: null }, movies }), '/media/day1');
  assert.equal(R.folder({ settings: {}, movies: [{ record: { path: '/a.mov' } }] }), '/');
  assert.equal(R.folder({ settings: {}, movies: [] }), '');
  assert.equal(R.reducedRate('60000/2002'), '30000/1001');
  assert.equal(R.reducedRate('25/1'), '25/1');
});
