'use strict';
// The batch report: built from a batch with overrides, errors and a cancel,
// then parsed back, by a strict RFC 4180 reader here and by Python's csv.

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const R = require('../report.js');

// Strict RFC 4180: every row ends in CRLF, quotes only around a whole field.
function parseCsv(text) {
  const rows = [];
  let row = [];
  let i = 0;
  while (i < text.length) {
    let value = '';
    if (text[i] === '"') {
      i += 1;
      for (;;) {
        const quote = text.indexOf('"', i);
        assert.ok(quote >= 0, 'unterminated quoted field');
        value += text.slice(i, quote);
        i = quote + 1;
        if (text[i] !== '"') break;
        value += '"';
        i += 1;
      }
    } else {
      const end = text.slice(i).search(/[,\r]/);
      value = end < 0 ? text.slice(i) : text.slice(i, i + end);
      assert.ok(!/["\n]/.test(value), 'a bare field holds a quote or line feed: ' + JSON.stringify(value));
      i += value.length;
    }
    row.push(value);
    if (text[i] === ',') { i += 1; continue; }
    assert.equal(text.slice(i, i + 2), '\r\n', 'a row ends in CRLF');
    i += 2;
    rows.push(row);
    row = [];
  }
  return rows;
}

const base = {
  rate: '30000/1001', duration: 10.01, timecode: '01:00:00;00', created: '2024-03-09T14:05:07.000Z',
  modified: '2024-03-09T14:05:17.010Z', size: 52428800, creationOrigin: 'Media metadata',
};
const rec = (path, fields) => ({ ...base, id: path, path, ...fields });

const BATCH = {
  settings: { source: 'embedded', timezone: 'local', offset: '00:00:10:00', direction: 'subtract', copy: true,
    destination: '/exports/day 1' },
  zone: 'Asia/Kolkata',
  movies: [
    { record: rec('/media/day "1", take/A,001.mov'), timecode: '00:59:50;00', typed: false,
      result: { backup: null, id: 'a', output: '/exports/day 1/A,001_TC.mov', progress: 1, state: 'done',
        timecode: '00:59:50;00' } },
    { record: rec('/media/line\nbreak\r\n.mp4', { rate: '60000/2002', timecode: null, created: null }),
      timecode: '12:34:56:07', typed: true,
      result: { error: 'Output timecode verification failed. Source has been preserved.', id: 'b', progress: 0,
        state: 'error' } },
    { record: rec('/media/\uFFFDcam/C003.mov', { rate: '25/1', timecode: '10:00:00:00', duration: 3 }),
      timecode: '09:59:50:00', typed: false,
      result: { error: 'Cancelled.', id: 'c', progress: 0, state: 'error' } },
    { record: rec('/media/D004 \uD800.mov', { rate: '24000/1001', size: 0 }), timecode: '00:59:50:00', typed: false,
      result: null },
    { record: rec('/media/E005.mov'), timecode: '00:59:50;00', typed: false, restored: true,
      result: { backup: '/media/E005.mov.velmora-backup-1-2-3', id: 'e', output: '/media/E005.mov', progress: 1,
        state: 'done', timecode: '00:59:50;00' } },
    { record: rec('/media/F006.mov'), timecode: '00:59:50;00', typed: false,
      result: { id: 'f', message: 'Skipped: the output already exists.', output: '/exports/day 1/F006_TC.mov',
        progress: 0, state: 'skipped' } },
  ],
};

const EXPECTED = [
  ['Source path', 'Output path', 'Backup path', 'State', 'Error', 'Start timecode', 'Rate (fps)', 'Rate',
    'Drop-frame', 'Duration (s)', 'Start source', 'Time zone', 'Offset', 'Existing timecode', 'Created',
    'Modified', 'Size (bytes)'],
  ['/media/day "1", take/A,001.mov', '/exports/day 1/A,001_TC.mov', '', 'done', '', '00:59:50;00', '29.97',
    '30000/1001', 'yes', '10.01', 'embedded', 'Asia/Kolkata', '-00:00:10:00', '01:00:00;00',
    '2024-03-09T14:05:07.000Z', '2024-03-09T14:05:17.010Z', '52428800'],
  ['/media/line\nbreak\r\n.mp4', '', '', 'error', 'Output timecode verification failed. Source has been preserved.',
    '12:34:56:07', '29.97', '30000/1001', 'no', '10.01', 'typed override', 'Asia/Kolkata', '-00:00:10:00', '', '',
    '2024-03-09T14:05:17.010Z', '52428800'],
  ['/media/\uFFFDcam/C003.mov', '', '', 'error', 'Cancelled.', '09:59:50:00', '25', '25/1', 'no', '3', 'embedded',
    'Asia/Kolkata', '-00:00:10:00', '10:00:00:00', '2024-03-09T14:05:07.000Z', '2024-03-09T14:05:17.010Z',
    '52428800'],
  ['/media/D004 \uFFFD.mov', '', '', 'not processed', '', '00:59:50:00', '23.976', '24000/1001', 'no', '10.01',
    'embedded', 'Asia/Kolkata', '-00:00:10:00', '01:00:00;00', '2024-03-09T14:05:07.000Z',
    '2024-03-09T14:05:17.010Z', '0'],
  ['/media/E005.mov', '/media/E005.mov', '/media/E005.mov.velmora-backup-1-2-3', 'restored', '', '00:59:50;00',
    '29.97', '30000/1001', 'yes', '10.01', 'embedded', 'Asia/Kolkata', '-00:00:10:00', '01:00:00;00',
    '2024-03-09T14:05:07.000Z', '2024-03-09T14:05:17.010Z', '52428800'],
  ['/media/F006.mov', '/exports/day 1/F006_TC.mov', '', 'skipped', 'Skipped: the output already exists.',
    '00:59:50;00', '29.97', '30000/1001', 'yes', '10.01', 'embedded', 'Asia/Kolkata', '-00:00:10:00', '01:00:00;00',
    '2024-03-09T14:05:07.000Z', '2024-03-09T14:05:17.010Z', '52428800'],
];

test('a batch with overrides, errors, a cancel and a restore reads back field for field', () => {
  const text = R.buildReport(BATCH);
  assert.deepEqual(parseCsv(text), EXPECTED);
  assert.ok(text.startsWith('Source path,Output path,'), 'no byte order mark, the header first');
  assert.equal(Buffer.from(text, 'utf8').toString('utf8'), text, 'the text has a UTF-8 form');
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

test('UTC, an added offset and a movie the batch never reached', () => {
  const batch = { settings: { source: 'creation', timezone: 'utc', offset: '01:00:00:00', direction: 'add' },
    zone: 'Asia/Kolkata', movies: [{ record: { path: '/m/a.mov', rate: 'bad' }, timecode: '', typed: false }] };
  assert.deepEqual(parseCsv(R.buildReport(batch))[1],
    ['/m/a.mov', '', '', 'not processed', '', '', '', 'bad', '', '', 'creation', 'UTC', '+01:00:00:00', '', '', '', '']);

  // The zone each movie's time of day was read in.
  const zone = (timezone, record) => parseCsv(R.buildReport({ settings: { source: 'creation', timezone },
    zone: 'Asia/Kolkata', movies: [{ record, timecode: '', typed: false }] }))[1][11];
  const phone = { path: '/m/p.mov', recordedUnix: 1563956740, recordedOffset: '+03:00' };
  assert.deepEqual([['camera', phone], ['camera', { path: '/m/a.mov' }], ['-07:00', phone], ['local', phone]]
    .map(([timezone, record]) => zone(timezone, record)), ['UTC+03:00', 'Asia/Kolkata', 'UTC-07:00', 'Asia/Kolkata']);
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
