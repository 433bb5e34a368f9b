'use strict';
// The batch report: built from a batch with overrides, errors and a cancel,
// then parsed back, by a strict RFC 4180 reader here and by Python's csv.

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const R = require('../report.js');
const { parseCsv } = require('./csv_reader.js');


const base = {
  rate: '30000/1001', duration: 10.01, timecode: '01:00:00;00', created: '2024-03-09T14:05:07.000Z',
  modified: '2024-03-09T14:05:17.010Z', size: 52428800, creationOrigin: 'Media metadata',
};
const rec = (path, fields) => ({ ...base, id: path, path, ...fields });
// Backups an import found: the first original names a movie no batch took.
const found = (name, ...originals) => originals.map((original, i) => ({ path: name + '.velmora-backup-7-8-' + i,
  size: 100 + i, original, ...(original ? {} : { reason: 'The movie\'s bytes differ from the backup\'s.' }) }));
const SENT = { source: 'embedded', timezone: 'local', offset: '00:00:10:00', direction: 'subtract', copy: true,
  destination: '/exports/day 1' };

// Every status of the list, and a file the import refused.
const BATCH = {
  settings: SENT,
  zone: 'Asia/Kolkata',
  movies: [
    { record: rec('/media/day "1", take/A,001.mov'), phase: 'done', timecode: '00:59:50;00', typed: false,
      reel: 'A,001', settings: SENT,
      result: { backup: null, id: 'a', output: '/exports/day 1/A,001_TC.mov', progress: 1, state: 'done',
        timecode: '00:59:50;00' } },
    { record: rec('/media/line\nbreak\r\n.mp4', { rate: '60000/2002', timecode: null, created: null }),
      phase: 'error', timecode: '12:34:56:07', typed: true, reel: null, settings: SENT,
      result: { error: 'Output timecode verification failed. Source has been preserved.', id: 'b', progress: 0,
        state: 'error' } },
    { record: rec('/media/\uFFFDcam/C003.mov', { rate: '25/1', timecode: '10:00:00:00', duration: 3,
      backups: found('/media/C003.mov', true) }),
      phase: 'cancelled', timecode: '09:59:50:00', typed: false, reel: null, settings: SENT,
      result: { error: 'Cancelled.', id: 'c', progress: 0, state: 'error' } },
    { record: rec('/media/D004 \uD800.mov', { rate: '24000/1001', size: 0,
      backups: found('/media/D004.mov', false, true, true) }), phase: 'unreached',
      timecode: '00:59:50:00', typed: false, reel: null, settings: SENT, result: null },
    { record: rec('/media/E005.mov', { backups: found('/media/E005.mov', true) }), phase: 'ready', timecode: '00:59:50;00', typed: false, reel: null,
      settings: SENT, result: { backup: '/media/E005.mov.velmora-backup-1-2-3', output: '/media/E005.mov',
        state: 'restored' } },
    { record: rec('/media/F006.mov', { rate: '60000/1001', duration: 4.001666666666667 }), phase: 'skipped',
      timecode: '00:59:50;00', typed: false, reel: null, settings: SENT,
      result: { id: 'f', message: 'Skipped: the output already exists.', output: '/exports/day 1/F006_TC.mov',
        progress: 0, state: 'skipped' } },
    { record: rec('/media/G007.mov', { timecode: null, backups: found('/media/G007.mov', false) }), phase: 'left', timecode: null, typed: false, reel: null,
      error: 'No embedded timecode', settings: SENT, result: null },
    { record: rec('/media/H008.mov', { timecode: null }), phase: 'error', timecode: '01:00:00:00', typed: true,
      reel: null, settings: SENT, result: { error: ' ', id: 'h', progress: 0, state: 'error' } },
    // Stamped without a copy: the movie is its own output, and no backup is named.
    { record: rec('/media/I009.mov', { appended: true, backups: found('/media/I009.mov', true) }), phase: 'done',
      timecode: '00:59:50;00', typed: false, reel: null, settings: { ...SENT, copy: false, append: true },
      result: { appended: true, backup: null, id: 'i', output: '/media/I009.mov', progress: 1, state: 'done',
        timecode: '00:59:50;00' } },
  ],
  notImported: [{ name: 'notes, "day 1".txt', message: 'Supported formats: MOV, MP4, M4V.' }],
};

const dates = ['2024-03-09T14:05:17.010Z'];
const EXPECTED = [
  ['Status', 'Message', 'Start timecode', 'End timecode', 'Duration', 'Duration (frames)', 'Rate', 'Rate (fps)',
    'Drop-frame', 'Reel', 'Start source', 'Time used', 'Time origin', 'Time zone', 'Offset', 'Existing timecode',
    'Source path', 'Size (bytes)', 'Modified', 'Output path', 'Backup path'],
  ['done', '', '00:59:50;00', '00:59:59;29', '00:00:10.010', '300', '30000/1001', '29.97', 'yes', 'A,001',
    'embedded', '', '', 'Asia/Kolkata', '-00:00:10:00', '01:00:00;00', '/media/day "1", take/A,001.mov', '52428800',
    ...dates, '/exports/day 1/A,001_TC.mov', ''],
  ['failed', 'Output timecode verification failed. Source has been preserved.', '12:34:56:07', '12:35:06:06',
    '00:00:10.010', '300', '30000/1001', '29.97', 'no', '', 'typed override', '', '', 'Asia/Kolkata',
    '-00:00:10:00', '', '/media/line\nbreak\r\n.mp4', '52428800', ...dates, '', ''],
  ['cancelled', 'Cancelled.', '09:59:50:00', '09:59:52:24', '00:00:03.000', '75', '25/1', '25', 'no', '',
    'embedded', '', '', 'Asia/Kolkata', '-00:00:10:00', '10:00:00:00', '/media/\uFFFDcam/C003.mov', '52428800',
    ...dates, '', ''],
  ['not processed', '', '00:59:50:00', '00:59:59:23', '00:00:10.010', '240', '24000/1001', '23.976', 'no', '',
    'embedded', '', '', 'Asia/Kolkata', '-00:00:10:00', '01:00:00;00', '/media/D004 \uFFFD.mov', '0', ...dates, '',
    '/media/D004.mov.velmora-backup-7-8-1'],
  ['restored', '', '00:59:50;00', '00:59:59;29', '00:00:10.010', '300', '30000/1001', '29.97', 'yes', '',
    'embedded', '', '', 'Asia/Kolkata', '-00:00:10:00', '01:00:00;00', '/media/E005.mov', '52428800', ...dates,
    '/media/E005.mov', '/media/E005.mov.velmora-backup-1-2-3'],
  ['skipped', 'Skipped: the output already exists.', '00:59:50;00', '00:59:53;59', '00:00:04.002', '240',
    '60000/1001', '59.94', 'yes', '', 'embedded', '', '', 'Asia/Kolkata', '-00:00:10:00', '01:00:00;00',
    '/media/F006.mov', '52428800', ...dates, '/exports/day 1/F006_TC.mov', ''],
  ['left out', 'No embedded timecode', '', '', '00:00:10.010', '300', '30000/1001', '29.97', '', '', 'embedded',
    '', '', 'Asia/Kolkata', '-00:00:10:00', '', '/media/G007.mov', '52428800', ...dates, '', ''],
  ['failed', 'The engine stopped without giving a reason.', '01:00:00:00', '01:00:09:29', '00:00:10.010', '300',
    '30000/1001', '29.97', 'no', '', 'typed override', '', '', 'Asia/Kolkata', '-00:00:10:00', '',
    '/media/H008.mov', '52428800', ...dates, '', ''],
  ['done', '', '00:59:50;00', '00:59:59;29', '00:00:10.010', '300', '30000/1001', '29.97', 'yes', '',
    'embedded', '', '', 'Asia/Kolkata', '-00:00:10:00', '01:00:00;00', '/media/I009.mov', '52428800', ...dates,
    '/media/I009.mov', ''],
  ['not imported', 'Supported formats: MOV, MP4, M4V.', '', '', '', '', '', '', '', '', '', '', '', '', '', '',
    'notes, "day 1".txt', '', '', '', ''],
];

test('every status of the list and a refused file read back field for field', () => {
  const text = R.buildReport(BATCH);
  assert.deepEqual(parseCsv(text), EXPECTED);
  assert.ok(text.startsWith('Status,Message,'), 'no byte order mark, the header first');
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
