'use strict';
// The page in Debian's Chromium, driven by playwright-core, against a fake of
// the shell's bridge that behaves like the backend.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const { chromium } = require('playwright-core');
const { installFake } = require('./fake_native.js');
const { parseCsv } = require('./csv_reader.js');

const PAGE_URL = pathToFileURL(path.join(__dirname, '..', 'index.html')).href;
const AXE_SOURCE = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const ARTIFACTS = process.env.VELMORA_ARTIFACT_DIR || path.join(os.tmpdir(), 'velmora-page-artifacts');
const CHROMIUM_ARGS = ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--no-first-run'];
const DEFAULTS = {
  append: false, continuous: false, copy: true, destination: null, direction: 'add', existing: 'skip', mode: 'auto',
  movieColumnWidth: null, number: false, offset: '00:00:00:00', prefix: 'TC_', recursive: true, reel: '', reelSource: 'none', rename: false, retain: true,
  source: 'embedded', start: '01:00:00:00', suffix: '_TC', timezone: 'camera',
};

// Three movies in a dropped folder, one of them in a sub-folder, and a stray file.
const LIBRARY = {
  '/media/day1': {
    files: [
      { path: '/media/day1/A001.mov', fields: { rate: '30000/1001', timecode: '01:00:00;00', duration: 10.01,
        created: '2024-03-09T14:05:07.500Z' } },
      { path: '/media/day1/cam/B002.mp4', fields: { relativeDir: 'cam', creationOrigin: 'File creation date',
        created: '2024-03-09T23:59:59.990Z', size: 1530000, measuredRate: '250/11' } },
      { path: '/media/day1/C003.mov', fields: { rate: '24000/1001', timecode: '10:00:00:00', codec: 'prores',
        width: 3840, height: 2160, streams: [
          { index: 0, trackId: 1, type: 'video', codec: 'prores', tag: 'apch', attachedPicture: false },
          { index: 1, trackId: 2, type: 'audio', codec: 'pcm_s16le', tag: 'sowt', attachedPicture: false },
          { index: 2, trackId: 3, type: 'audio', codec: 'pcm_s16le', tag: 'sowt', attachedPicture: false },
          { index: 3, trackId: 4, type: 'data', codec: 'timecode', tag: 'tmcd', attachedPicture: false },
          { index: 4, trackId: 5, type: 'video', codec: 'mjpeg', tag: 'jpeg', attachedPicture: true }] } },
    ],
  },
  '/media/day1/notes.txt': { error: 'Supported formats: MOV, MP4, M4V.' },
  // Stamped in place by an earlier session: the import lists what lies beside each movie.
  '/media/day2': {
    files: [
      { path: '/media/day2/D001.mov', fields: { timecode: '01:00:00:00', backups: [
        { path: '/media/day2/D001.mov.velmora-backup-4242-9-11', size: 49000000, original: true }] } },
      { path: '/media/day2/E002.mov', fields: { timecode: '02:00:00:00', size: 1530000, backups: [
        { path: '/media/day2/E002.mov.velmora-backup-4242-9-12', size: 900, original: false,
          reason: 'The backup does not hold exactly one movie atom.' }] } },
      { path: '/media/day2/F003.mov', fields: { backups: [
        { path: '/media/day2/F003.mov.velmora-backup-4242-9-13', size: 2500000, original: true },
        { path: '/media/day2/F003.mov.velmora-backup-4242-9-14', size: 700, original: false,
          reason: 'The movie is not this backup with a timecode added.' }] } },
      { path: '/media/day2/G004.mov', fields: { backups: [
        { path: '/media/day2/G004.mov.velmora-backup-4242-9-15', size: 3000000, original: true }] } },
    ],
  },
};
const day2Backup = (name, n) => '/media/day2/' + name + '.velmora-backup-4242-9-' + n;

let context;
let userDataDir;

test.before(async () => {
  userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-chromium-'));
  fs.mkdirSync(ARTIFACTS, { recursive: true });
  context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS,
    viewport: { width: 1280, height: 800 }, timezoneId: 'Asia/Kolkata', locale: 'en-US',
  });
});

test.after(async () => {
  if (context) await context.close();
  fs.rmSync(userDataDir, { recursive: true, force: true });
});

// A fresh page with its own fake; console errors, page errors and CSP
// violations are collected so each test can insist there were none.
async function openPage(config = {}) {
  const page = await context.newPage();
  page.setDefaultTimeout(10000);
  const problems = [];
  page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
  page.on('pageerror', (error) => problems.push(error.message));
  await page.addInitScript(() => {
    window.__violations = [];
    document.addEventListener('securitypolicyviolation', (event) => {
      window.__violations.push(event.violatedDirective + ' ' + event.blockedURI);
    });
  });
  await page.addInitScript(installFake, { library: LIBRARY, ...config });
  await page.goto(PAGE_URL);
  await page.waitForFunction(() => document.body.dataset.ready === 'true');
  page.problems = problems;
  return page;
}

const calls = (page, command) =>
  page.evaluate((name) => window.__FAKE__.calls.filter((c) => !name || c.command === name), command);
const emit = (page, name, payload) =>
  page.evaluate(([n, p]) => window.__FAKE__.emit(n, p), [name, payload]);
const row = (page, name) => page.locator('#movie-rows [role="row"]', { hasText: name });

async function dropDay2(page) {
  await emit(page, 'native://drag-drop', { paths: ['/media/day2'] });
  await page.locator('#movie-rows [role="row"]').nth(3).waitFor();
}

// What each row says of its backup: the path, the note, whether it offers a restore.
const backupLines = (page) => page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) => {
  const line = tr.querySelector('.backup');
  const note = tr.querySelector('.backup-note');
  const restore = tr.querySelector('button.restore');
  const shown = (node) => node.closest('[hidden]') === null;
  return [tr.querySelector('.c-name .primary').textContent, shown(line) ? line.querySelector('.mid-path').title : null,
    shown(note) ? note.textContent : null, shown(restore)];
}));

async function dropDay1(page) {
  await emit(page, 'native://drag-drop', { paths: ['/media/day1', '/media/day1/notes.txt'] });
  await page.locator('#movie-rows [role="row"]').nth(2).waitFor();
}

const startValues = (page) => page.locator('#movie-rows input.tc').evaluateAll((inputs) => inputs.map((i) => i.value));

async function lastSaved(page) {
  const saves = await calls(page, 'save_settings');
  assert.ok(saves.length > 0, 'nothing was saved');
  return saves[saves.length - 1].args.value;
}

async function cleanClose(page) {
  assert.deepEqual(page.problems, []);
  assert.deepEqual(await page.evaluate(() => window.__violations), []);
  await page.close();
}

test('start-up: settings load before ui_ready, the page shows them, the policy holds', async () => {
  const stored = { ...DEFAULTS, source: 'creation', timezone: 'utc', copy: false, recursive: false,
    prefix: 'Day_', destination: '/exports' };
  const page = await openPage({ settings: stored });
  const log = (await calls(page)).map((c) => c.command);
  assert.deepEqual(log, ['load_settings', 'ui_ready']);

  assert.equal(await page.locator('input[name="source"][value="creation"]').isChecked(), true);
  assert.equal(await page.locator('input[name="timezone"][value="utc"]').isChecked(), true);
  assert.equal(await page.locator('input[name="output"][value="inplace"]').isChecked(), true);
  assert.equal(await page.locator('#recursive').isChecked(), false);
  assert.equal(await page.locator('#prefix').inputValue(), 'Day_');
  assert.equal(await page.locator('#destination-text').textContent(), '/exports');
  assert.match(await page.locator('#inplace-note').textContent(), /keeps the original as a backup file beside it/);
  assert.equal(await page.locator('#created-heading').textContent(), 'Created (UTC)');

  // The desktop's scheme decides the palette; dark keeps the window's colour.
  const background = () => page.evaluate(() => getComputedStyle(document.body).backgroundColor);
  await page.emulateMedia({ colorScheme: 'light' });
  assert.equal(await background(), 'rgb(246, 247, 246)');
  await page.emulateMedia({ colorScheme: 'dark' });
  assert.equal(await background(), 'rgb(16, 19, 17)');
  assert.equal(await page.locator('#help').count(), 1);

  // Radios, checkboxes and selects are drawn by the page, not the engine: an
  // unselected one keeps the field colour (never the engine's white in the
  // dark) with a border of 3:1 or more against the panel; a selected one is
  // the accent. [appearance, background, border]
  const controls = () => page.evaluate(() => {
    const look = (selector) => {
      const style = getComputedStyle(document.querySelector(selector));
      return [style.appearance, style.backgroundColor, style.borderTopColor];
    };
    return [look('input[name="source"]:not(:checked)'), look('input[name="source"]:checked'), look('#recursive'),
      look('#mode')];
  });
  const light = { off: ['none', 'rgb(255, 255, 255)', 'rgb(107, 115, 111)'],
    on: ['none', 'rgb(31, 122, 82)', 'rgb(23, 104, 63)'] };
  const dark = { off: ['none', 'rgb(29, 36, 32)', 'rgb(138, 148, 143)'],
    on: ['none', 'rgb(31, 122, 82)', 'rgb(43, 148, 102)'] };
  assert.deepEqual(await controls(), [dark.off, dark.on, dark.off, dark.off]);
  await page.emulateMedia({ colorScheme: 'light' });
  assert.deepEqual(await controls(), [light.off, light.on, light.off, light.off]);

  // The policy forbids inline script and frames; each attempt is a violation.
  const inline = await page.evaluate(() => {
    const script = document.createElement('script');
    script.textContent = 'window.__inlineRan = true';
    document.head.append(script);
    const frame = document.createElement('iframe');
    frame.src = 'index.html';
    document.body.append(frame);
    return new Promise((resolve) => setTimeout(() => resolve(window.__inlineRan === true), 300));
  });
  assert.equal(inline, false);
  const violations = await page.evaluate(() => window.__violations.map((v) => v.split(' ')[0]));
  assert.ok(violations.includes('script-src-elem'), JSON.stringify(violations));
  assert.ok(violations.includes('frame-src'), JSON.stringify(violations));
  await page.close();
});

test('drop, import, list and derive; import errors can be dismissed', async () => {
  const page = await openPage({ settings: { ...DEFAULTS, recursive: false } });
  await emit(page, 'native://drag-enter', { paths: ['/media/day1'] });
  assert.match(await page.locator('#drop-zone').getAttribute('class'), /\bactive\b/);
  await emit(page, 'native://drag-leave', { paths: [] });
  assert.doesNotMatch(await page.locator('#drop-zone').getAttribute('class'), /\bactive\b/);

  await dropDay1(page);
  assert.deepEqual((await calls(page, 'import_movies')).map((c) => c.args),
    [{ paths: ['/media/day1', '/media/day1/notes.txt'], recursive: false }]);

  const cells = await page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) =>
    [...tr.children].slice(0, 6).map((td) => td.innerText.replace(/\s*\n\s*/g, ' | ').trim())));
  assert.deepEqual(cells, [
    ['A001.mov | —', '29.97 | 0:00:10.01', '01:00:00;00', '2024-03-09 19:35:07 | movie header',
      'h264 1920×1080 | 52.4 MB', '1 video'],
    ['B002.mp4 | cam/', '25 VFR | 0:00:12.50', '—', '2024-03-10 05:29:59 | file date: may be the copy time',
      'h264 1920×1080 | 1.5 MB', '1 video'],
    ['C003.mov | —', '23.976 | 0:00:12.50', '10:00:00:00', '2024-03-09 19:35:00 | movie header',
      'prores 3840×2160 | 52.4 MB', '1 video · 2 audio · 1 data · 1 picture'],
  ]);
  // A variable frame rate is marked, and what was measured is its description.
  const vfr = row(page, 'B002').locator('.c-rate .primary');
  assert.equal(await vfr.getAttribute('aria-description'), 'Variable frame rate, measured 22.727 fps');
  assert.equal(await row(page, 'A001').locator('.c-rate .primary').getAttribute('aria-description'), null);
  // Embedded source: the movie without a timecode is left out and says why.
  assert.deepEqual(await startValues(page), ['01:00:00;00', '', '10:00:00:00']);
  assert.equal(await row(page, 'B002').locator('.c-start .msg').textContent(), 'No embedded timecode');
  assert.equal(await row(page, 'B002').locator('.state').textContent(), 'Left out');
  assert.equal(await page.locator('#process').textContent(), 'Process 2');

  const errors = page.locator('#import-error-list li');
  assert.deepEqual(await errors.allInnerTexts(), ['1 other file: TXT\nDismiss']);
  await errors.first().getByRole('button', { name: /Dismiss/ }).click();
  assert.equal(await errors.count(), 0);
  assert.equal(await page.locator('#import-errors').isVisible(), false);

  // "Clear list" takes the refusals with it.
  await emit(page, 'native://drag-drop', { paths: ['/media/day1/notes.txt'] });
  await errors.first().waitFor();
  await page.locator('#clear-list').click();
  assert.equal(await page.locator('#import-errors').isVisible(), false);
  assert.equal(await page.locator('#movie-rows [role="row"]').count(), 0);
  await dropDay1(page);

  // Removing a row takes it off the list only.
  await row(page, 'C003').getByRole('button', { name: 'Remove C003.mov from the list' }).click();
  assert.equal(await page.locator('#movie-rows [role="row"]').count(), 2);
  assert.equal(await page.locator('#process').textContent(), 'Process 1');
  // The outputs' existence is asked after each change; that has its own test.
  assert.deepEqual((await calls(page)).map((c) => c.command).filter((c) => c !== 'outputs_exist'),
    ['load_settings', 'ui_ready', 'import_movies', 'import_movies', 'import_movies']);

  // The folder again: C003 comes back, the other two keep their rows.
  const ids = () => page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) => tr.dataset.id));
  const before = await ids();
  await emit(page, 'native://drag-drop', { paths: ['/media/day1'] });
  await page.locator('#messages li').waitFor();
  assert.equal(await page.locator('#messages li span').textContent(), '2 already in the list');
  assert.deepEqual(await page.locator('#movie-rows .c-name .primary').allTextContents(),
    ['A001.mov', 'B002.mp4', 'C003.mov']);
  assert.deepEqual((await ids()).slice(0, 2), before);

  // A file changed since import keeps its row and its typed start; the row
  // shows the new record.
  await row(page, 'B002').locator('input.tc').fill('00:00:10:00');
  await row(page, 'B002').locator('input.tc').press('Enter');
  await page.evaluate(() => window.__FAKE__.touch('/media/day1/cam/B002.mp4', { size: 2048000, rate: '30/1' }));
  await emit(page, 'native://drag-drop', { paths: ['/media/day1'] });
  await page.locator('#messages li').nth(1).waitFor();
  assert.deepEqual(await page.locator('#messages li span').allTextContents(),
    ['2 already in the list', '3 already in the list']);
  assert.equal(await page.locator('#movie-rows [role="row"]').count(), 3);
  assert.equal(await row(page, 'B002').locator('.c-video .secondary').textContent(), '2.0 MB');
  assert.equal(await row(page, 'B002').locator('.c-rate .primary').textContent(), '30 VFR');
  assert.equal(await row(page, 'B002').locator('input.tc').inputValue(), '00:00:10:00');
  assert.equal(await page.locator('#process').textContent(), 'Process 3');
  await cleanClose(page);
});

test('refusals: each known message gets its plain line, other files share one, the list keeps its heading', async () => {
  const sidecars = [];
  for (const [ext, count] of [['XML', 10], ['THM', 8], ['LRV', 4], ['JPG', 1]]) {
    for (let i = 0; i < count; i += 1) sidecars.push({ name: `C${i}.${ext}`, message: 'Supported formats: MOV, MP4, M4V.' });
  }
  const refusals = [
    ['X.mp4', 'Fragmented movies are not supported yet', /^Not damaged, only not supported yet: fragmented movies come from live, streaming or recovery tools\. Re-wrapping it losslessly/],
    ['Y.mov', 'Invalid sample duration', /^Not necessarily damaged: a frame has no duration/],
    ['Z.mov', 'Expected one movie metadata atom', /^The file looks damaged or incomplete/],
    ['W.mov', 'Permission denied (os error 13)', /^Velmora may not read or write here/],
    ['V.mov', 'Source changed during import. Import it again.', /^The file was still being written or copied/],
    ['Q.mov', 'Something nobody planned for', null],
  ];
  const library = { '/card': { files: [{ path: '/card/A.mov', fields: {} }],
    errors: [...sidecars.slice(0, 12), ...refusals.map(([name, message]) => ({ name, message })), ...sidecars.slice(12)] } };
  const page = await openPage({ library });
  await page.setViewportSize({ width: 1000, height: 650 });
  await emit(page, 'native://drag-drop', { paths: ['/card'] });
  await page.locator('#import-error-list li.others').waitFor();

  const items = await page.locator('#import-error-list > li').evaluateAll((lis) => lis.map((li) => ({
    text: li.querySelector(':scope > span, summary').firstChild.textContent,
    hint: li.querySelector(':scope > span .hint-line') ? li.querySelector(':scope > span .hint-line').textContent : null,
  })));
  assert.deepEqual(items.map((i) => i.text), [...refusals.map(([name, message]) => name + ': ' + message),
    '23 other files: XML, THM, LRV…']);
  refusals.forEach(([, , hint], i) => {
    if (hint) assert.match(items[i].hint, hint, refusals[i][1]);
    else assert.equal(items[i].hint, null);
  });
  const others = page.locator('#import-error-list li.others details');
  assert.equal(await others.locator('.names').isVisible(), false);
  await others.locator('summary').click();
  assert.match(await others.locator('.names').textContent(), /^C0\.XML, C1\.XML, .*C0\.JPG$/);
  await page.screenshot({ path: path.join(ARTIFACTS, 'page-refusals.png') });

  // A third of the window at most, and the heading stays while it scrolls.
  const box = await page.locator('#import-errors').boundingBox();
  assert.ok(box.height <= 650 / 3 + 1, String(box.height));
  await page.locator('#import-errors').evaluate((node) => { node.scrollTop = node.scrollHeight; });
  const heading = await page.locator('#import-errors .section-head').boundingBox();
  assert.ok(Math.abs(heading.y - box.y) < 1, JSON.stringify([heading, box]));
  await cleanClose(page);
});

test('settings: every change is saved with all twenty keys and re-derives the rows', async () => {
  const page = await openPage({ destination: '/exports/day1' });
  await dropDay1(page);

  await page.locator('input[name="source"][value="custom"]').check();
  assert.equal(await page.locator('#start').isEnabled(), true);
  await page.locator('#start').fill('10:00:00:00');
  await page.locator('#start').press('Tab');
  assert.deepEqual(await startValues(page), ['10:00:00;00', '10:00:00:00', '10:00:00:00']);
  assert.deepEqual(await lastSaved(page), { ...DEFAULTS, source: 'custom', start: '10:00:00:00' });

  // Frames beyond the rate: said next to the field in the engine's words, and
  // the movies at that rate drop out of the batch.
  // While typing nothing is saved or judged; the field is read when it is left.
  const saved = (await calls(page, 'save_settings')).length;
  await page.locator('#start').fill('10:00:00:25');
  await page.waitForTimeout(400);
  assert.equal((await calls(page, 'save_settings')).length, saved);
  assert.deepEqual(await page.locator('#movie-rows .state').allTextContents(), ['Ready', 'Ready', 'Ready']);
  await page.locator('#start').press('Tab');
  assert.equal(await page.locator('#start-msg').textContent(),
    'Timecode is outside the frame-rate range at 25 and 23.976 fps');
  assert.equal(await page.locator('#start').getAttribute('aria-invalid'), 'true');
  assert.equal(await page.locator('#process').textContent(), 'Process 1');
  await page.locator('#start').fill('10:00:00:12');
  await page.locator('#start').press('Tab');
  assert.equal(await page.locator('#start-msg').isVisible(), false);
  // Digits fill from the right, and Enter commits as leaving does.
  await page.locator('#start').fill('1000');
  await page.locator('#start').press('Enter');
  assert.equal(await page.locator('#start').inputValue(), '00:00:10:00');
  assert.deepEqual(await startValues(page), ['00:00:10;00', '00:00:10:00', '00:00:10:00']);
  assert.equal((await lastSaved(page)).start, '00:00:10:00');
  await page.locator('#start').fill('10000012');
  await page.locator('#start').press('Tab');
  assert.equal(await page.locator('#start').inputValue(), '10:00:00:12');
  assert.deepEqual(await startValues(page), ['10:00:00;12', '10:00:00:12', '10:00:00:12']);

  // A select opens the page's own list: a click or Space opens it, Escape
  // closes it unchanged, arrows and Enter choose; focus returns to the select.
  const list = page.locator('.select-list');
  const items = () => list.locator('[role="option"]').evaluateAll((nodes) =>
    nodes.map((n) => [n.textContent, n.getAttribute('aria-selected'), n.classList.contains('active')]));
  await page.locator('#mode').click();
  assert.equal(await list.getAttribute('aria-label'), 'Mode');
  assert.deepEqual(await items(), [['Auto', 'true', true], ['Non-drop (:)', 'false', false],
    ['Drop-frame (;)', 'false', false]]);
  await page.keyboard.press('Escape');
  assert.deepEqual([await list.count(), await page.locator('#mode').inputValue()], [0, 'auto']);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'mode');
  await page.keyboard.press('Space');
  await page.keyboard.press('ArrowDown');
  assert.deepEqual((await items()).map((item) => item[2]), [false, true, false]);
  await page.keyboard.press('Enter');
  assert.deepEqual([await list.count(), await page.locator('#mode').inputValue()], [0, 'non-drop']);
  assert.equal((await lastSaved(page)).mode, 'non-drop');
  await page.locator('#direction').click();
  await list.locator('[role="option"]', { hasText: 'Subtract' }).click();
  assert.equal(await page.locator('#direction').inputValue(), 'subtract');
  await page.locator('#offset').fill('00:00:01:00');
  await page.locator('#offset').press('Tab');
  assert.deepEqual(await startValues(page), ['09:59:59:12', '09:59:59:12', '09:59:59:12']);
  await page.locator('#offset').fill('00:00:00;01');
  await page.locator('#offset').press('Tab');
  assert.match(await page.locator('#offset-msg').textContent(), /^Drop-frame requires 29\.97 or 59\.94 fps/);
  assert.equal(await page.locator('#process').textContent(), 'Process 1');
  await page.locator('#offset').fill('00:00:01:00');
  await page.locator('#offset').press('Tab');

  await page.locator('input[name="timezone"][value="utc"]').check();
  assert.equal(await page.locator('#created-heading').textContent(), 'Created (UTC)');
  assert.equal(await row(page, 'A001').locator('.c-created .primary').textContent(), '2024-03-09 14:05:07');

  // Destination chosen through the shell, then cleared.
  await page.locator('#destination-choose').click();
  await page.waitForFunction(() => document.getElementById('destination-text').textContent === '/exports/day1');
  assert.equal((await lastSaved(page)).destination, '/exports/day1');
  await page.locator('#retain').uncheck();
  await page.locator('#destination-clear').click();
  assert.equal((await lastSaved(page)).destination, null);
  assert.match(await page.locator('#destination-text').textContent(), /Velmora Output/);
  // Kept structure only applies below a chosen destination.
  assert.equal(await page.locator('#retain').isDisabled(), true);

  // Renaming: the example follows, a bad prefix blocks the batch.
  await page.locator('#rename').check();
  await page.locator('#number').check();
  await page.locator('#prefix').fill('  Day1 ');
  await page.locator('#prefix').press('Tab');
  assert.equal(await page.locator('#name-example').textContent(), 'Day1A001_001.mov');
  await page.locator('#prefix').fill('a:b');
  await page.locator('#prefix').press('Tab');
  assert.equal(await page.locator('#prefix-msg').textContent(),
    'Use a filename prefix without special characters (up to 100 characters).');
  assert.equal(await page.locator('#process').isDisabled(), true);
  await page.locator('input[name="output"][value="inplace"]').check();
  assert.equal(await page.locator('#prefix-msg').isVisible(), false);
  assert.equal(await page.locator('#process').isEnabled(), true);
  assert.equal(await page.locator('#rename').isDisabled(), true);

  // Three ways out, each a radio named by its label and described by its one sentence.
  const outputs = await page.locator('input[name="output"]').evaluateAll((inputs) => inputs.map((input) => [
    input.value, input.labels[0].textContent.trim(), document.getElementById(input.getAttribute('aria-describedby'))
      .textContent]));
  assert.deepEqual(outputs, [
    ['copy', 'New file', 'Writes a stamped copy of each movie into an output folder; the movie stays as it is.'],
    ['inplace', 'In place, keep a backup',
      'In place replaces each movie with the stamped copy and keeps the original as a backup file beside it.'],
    ['append', 'In place, no copy (fastest)',
      'Adds the timecode to the movie itself: nothing is copied and no backup is made.'],
  ]);
  // Keyboard first: the arrow keys move through the group and each choice is saved.
  await page.getByRole('radio', { name: 'In place, keep a backup' }).focus();
  await page.keyboard.press('ArrowDown');
  assert.equal(await page.getByRole('radio', { name: 'In place, no copy (fastest)' }).isChecked(), true);
  assert.deepEqual([(await lastSaved(page)).copy, (await lastSaved(page)).append], [false, true]);
  assert.equal(await page.locator('#append-note').evaluate((n) => n.classList.contains('warn-text')), true);
  assert.equal(await page.locator('#inplace-note').evaluate((n) => n.classList.contains('warn-text')), false);
  await page.keyboard.press('ArrowUp');
  assert.deepEqual([(await lastSaved(page)).copy, (await lastSaved(page)).append], [false, false]);

  await page.locator('#recursive').uncheck();
  assert.deepEqual(await lastSaved(page), {
    append: false, continuous: false, copy: false, destination: null, direction: 'subtract', existing: 'skip', mode: 'non-drop',
    movieColumnWidth: null, number: true, offset: '00:00:01:00', prefix: 'a:b', recursive: false, reel: '', reelSource: 'none', rename: true,
    retain: false, source: 'custom', start: '10:00:00:12', suffix: '_TC', timezone: 'utc',
  });
  await cleanClose(page);
});

test('a typed timecode overrides the derivation, validated at that movie\'s rate', async () => {
  const page = await openPage();
  await dropDay1(page);
  const input = row(page, 'B002').locator('input.tc');
  const message = row(page, 'B002').locator('.c-start .msg');
  // Nothing is judged while typing; Enter commits.
  assert.equal(await message.textContent(), 'No embedded timecode');
  await input.fill('01:00:00;00');
  assert.equal(await message.textContent(), 'No embedded timecode');
  await input.press('Enter');
  assert.equal(await message.textContent(), 'Drop-frame requires 29.97 or 59.94 fps');
  assert.equal(await row(page, 'B002').locator('.state').textContent(), 'Left out');
  await input.fill('01:00:00:25');
  await input.press('Enter');
  assert.equal(await message.textContent(), 'Timecode is outside the frame-rate range');
  // Typed as editors type: digits from the right, short groups, a period for
  // drop-frame; leaving the field commits as Enter does.
  await input.fill('1000');
  await input.press('Enter');
  assert.deepEqual([await input.inputValue(), await message.textContent()], ['00:00:10:00', '']);
  await input.fill('1:2:3:4');
  await input.press('Tab');
  assert.deepEqual([await input.inputValue(), await message.textContent()], ['01:02:03:04', '']);
  const dropRow = row(page, 'A001').locator('input.tc');
  await dropRow.fill('2:0:0.0');
  await dropRow.press('Enter');
  assert.equal(await dropRow.inputValue(), '02:00:00;00');
  await dropRow.press('Escape');
  await input.fill('10:00:00');
  await input.press('Enter');
  assert.deepEqual([await input.inputValue(), await message.textContent()], ['10:00:00', 'Use HH:MM:SS:FF timecode']);
  await input.fill('01:00:00:24');
  await input.press('Enter');
  assert.equal(await message.textContent(), '');
  assert.equal(await row(page, 'B002').locator('.state').textContent(), 'Ready');
  assert.equal(await page.locator('#process').textContent(), 'Process 3');

  // An override survives a settings change; Escape goes back to the derivation.
  await page.locator('input[name="source"][value="custom"]').check();
  assert.deepEqual(await startValues(page), ['01:00:00;00', '01:00:00:24', '01:00:00:00']);
  await input.focus();
  await input.press('Escape');
  assert.deepEqual(await startValues(page), ['01:00:00;00', '01:00:00:00', '01:00:00:00']);
  await cleanClose(page);
});

// A phone clip that says when recording began, a camera clip with only its
// header's time and a copied clip with only a file date; the last two carry
// a timecode, the last one with a reel.
const SHOOT = {
  '/shoot/Day 2': {
    files: [
      { path: '/shoot/Day 2/IMG_0001.MOV', fields: { rate: '30000/1001', duration: 10.01, card: 'Day 2',
        recordedUnix: 1563956740, recordedOffset: '+03:00', created: '2019-07-24T08:25:57.000Z' } },
      { path: '/shoot/Day 2/sub/C0002.MP4', fields: { rate: '25/1', duration: 2.52, card: 'Day 2', relativeDir: 'sub',
        timecode: '10:00:00:00', created: '2019-07-24T09:00:00.000Z' } },
      { path: '/shoot/Day 2/C0003.MOV', fields: { rate: '60000/1001', measuredRate: '90000/1501',
        duration: 50.03333333333333, card: 'Day 2', timecode: '05:00:00;00', reel: 'A001',
        creationOrigin: 'File creation date', created: '2019-07-24T10:00:00.000Z' } },
    ],
  },
};

async function dropShoot(page) {
  await emit(page, 'native://drag-drop', { paths: ['/shoot/Day 2'] });
  await page.locator('#movie-rows [role="row"]').nth(2).waitFor();
}

test('creation time: the recorded time in the camera\'s zone, and each row says which time it used', async () => {
  const page = await openPage({ library: SHOOT, settings: { ...DEFAULTS, source: 'creation' } });
  await dropShoot(page);
  const heading = () => page.locator('#created-heading').textContent();
  const created = () => page.locator('#movie-rows .c-created').evaluateAll((cells) =>
    cells.map((c) => c.innerText.replace(/\s*\n\s*/g, ' | ')));
  assert.equal(await heading(), 'Created (camera zone)');
  assert.deepEqual(await created(), ['2019-07-24 11:25:40 | recorded 11:25:40 +03:00',
    '2019-07-24 14:30:00 | movie header', '2019-07-24 15:30:00 | file date: may be the copy time']);
  assert.deepEqual(await startValues(page), ['11:25:40;00', '14:30:00:00', '15:30:00;00']);

  await page.locator('input[name="timezone"][value="utc"]').check();
  assert.equal(await heading(), 'Created (UTC)');
  assert.deepEqual(await startValues(page), ['08:25:40;00', '09:00:00:00', '10:00:00;00']);
  assert.equal((await created())[0], '2019-07-24 08:25:40 | recorded 11:25:40 +03:00');

  // A fixed offset starts from the computer's and is checked as typed.
  await page.locator('#timezone-fixed').check();
  assert.equal(await page.locator('#zone-offset').inputValue(), '+05:30');
  assert.equal((await lastSaved(page)).timezone, '+05:30');
  await page.locator('#zone-offset').fill('-07:00');
  await page.locator('#zone-offset').press('Tab');
  assert.equal(await heading(), 'Created (UTC-07:00)');
  assert.deepEqual(await startValues(page), ['01:25:40;00', '02:00:00:00', '03:00:00;00']);
  assert.equal((await lastSaved(page)).timezone, '-07:00');
  await page.locator('#zone-offset').fill('+15:00');
  await page.locator('#zone-offset').press('Tab');
  assert.equal(await page.locator('#zone-offset-msg').textContent(),
    'Use an offset from UTC as +hh:mm or -hh:mm, from -12:00 to +14:00');
  assert.equal(await page.locator('#zone-offset').getAttribute('aria-invalid'), 'true');
  assert.equal(await page.locator('#process').isDisabled(), true);
  await cleanClose(page);
});

test('reels and continuous timecode: each row shows its reel, start and end, and process_movies gets them', async () => {
  const page = await openPage({ library: SHOOT });
  await dropShoot(page);
  const ids = await page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) => tr.dataset.id));
  const where = () => page.locator('#movie-rows .c-name .secondary').allTextContents();
  const finished = (count) => page.waitForFunction((n) => !document.body.classList.contains('processing') &&
    window.__FAKE__.calls.filter((c) => c.command === 'process_movies').length === n, count);

  // An embedded start keeps the reel its timecode carries; only that movie gets one.
  assert.deepEqual(await where(), ['—', 'sub/', 'Reel A001']);
  await page.locator('#process').click();
  await finished(1);
  const [first] = await calls(page, 'process_movies');
  assert.deepEqual([first.args.ids, first.args.reels], [[ids[1], ids[2]], { [ids[2]]: 'A001' }]);

  assert.equal(await page.locator('#continuous').isDisabled(), true);
  await page.locator('input[name="source"][value="custom"]').check();
  await page.locator('#start').fill('10:00:00:00');
  await page.locator('#start').press('Tab');
  await page.locator('#continuous').check();
  await page.locator('input[name="reelSource"][value="folder"]').check();
  assert.deepEqual(await where(), ['Reel Day 2', 'sub/ · Reel sub', 'Reel Day 2']);
  const ends = () => page.locator('#movie-rows .c-start .end').evaluateAll((nodes) =>
    nodes.map((n) => (n.hidden ? null : n.textContent)));
  assert.deepEqual(await startValues(page), ['10:00:00;00', '10:00:10:00', '10:00:12;32']);
  assert.deepEqual(await ends(), ['ends 10:00:09;29', 'ends 10:00:12:12', 'ends 10:01:02;35']);
  // The run follows the order shown.
  await page.locator('#sort').selectOption('name');
  assert.deepEqual(await startValues(page), ['10:00:00:00', '10:00:02;32', '10:00:52;16']);
  assert.deepEqual(await ends(), ['ends 10:00:02:12', 'ends 10:00:52;31', 'ends 10:01:02;17']);
  await page.locator('#sort').selectOption('import');

  // A custom reel is checked as typed; the batch waits for a valid one.
  await page.locator('input[name="reelSource"][value="custom"]').check();
  await page.locator('#reel').fill('a'.repeat(33));
  await page.locator('#reel').press('Tab');
  assert.equal(await page.locator('#reel-msg').textContent(), 'Invalid reel name');
  assert.equal(await page.locator('#process').isDisabled(), true);
  await page.locator('#reel').fill('Day 2 B');
  await page.locator('#reel').press('Tab');
  assert.equal(await page.locator('#reel-msg').isVisible(), false);
  await page.locator('#process').click();
  await finished(2);
  const second = (await calls(page, 'process_movies'))[1];
  assert.deepEqual([second.args.timecodes, second.args.reels, second.args.options.continuous],
    [{ [ids[0]]: '10:00:00;00' }, { [ids[0]]: 'Day 2 B' }, true]);
  await cleanClose(page);
});

test('every row shows its output before Process, in each output mode', async () => {
  const page = await openPage({ destination: '/exports', settings: { ...DEFAULTS, source: 'custom' } });
  await dropDay1(page);
  const previews = () => page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) => {
    const out = tr.querySelector('.c-output');
    if (out.hidden) return null;
    const backup = tr.querySelector('.backup');
    return [tr.querySelector('.out-path').title, backup.hidden ? null : backup.querySelector('.mid-path').title];
  }));
  assert.deepEqual(await previews(), [
    ['/media/day1/Velmora Output/A001_TC.mov', null],
    ['/media/day1/cam/Velmora Output/B002_TC.mp4', null],
    ['/media/day1/Velmora Output/C003_TC.mov', null]]);
  // The custom start replaces C003's own timecode; A001's stays the same label.
  const replaces = await page.locator('#movie-rows .replaces').evaluateAll((nodes) =>
    nodes.map((n) => (n.hidden ? null : n.textContent)));
  assert.deepEqual(replaces, [null, null, 'replaces 10:00:00:00']);

  await page.locator('#destination-choose').click();
  await page.waitForFunction(() => document.getElementById('destination-text').textContent === '/exports');
  assert.equal(await page.locator('#retain').isEnabled(), true);
  assert.deepEqual((await previews()).map((p) => p[0]),
    ['/exports/A001_TC.mov', '/exports/cam/B002_TC.mp4', '/exports/C003_TC.mov']);

  // Numbers count the movies that will be sent: a left-out row has none.
  await page.locator('#rename').check();
  await page.locator('#number').check();
  await page.locator('#prefix').fill('Day1_');
  await page.locator('#prefix').press('Tab');
  await row(page, 'B002').locator('input.tc').fill('99:00:00:00');
  await row(page, 'B002').locator('input.tc').press('Enter');
  assert.deepEqual(await previews(), [['/exports/Day1_A001_001.mov', null], null, ['/exports/Day1_C003_002.mov', null]]);

  await page.locator('input[name="output"][value="inplace"]').check();
  assert.deepEqual(await previews(), [
    ['/media/day1/A001.mov', '/media/day1/A001.mov.velmora-backup-…'], null,
    ['/media/day1/C003.mov', '/media/day1/C003.mov.velmora-backup-…']]);
  assert.equal(await page.locator('#name-example-line').isVisible(), false);
  // Without a copy the movie itself is the output, and there is no backup.
  await page.locator('input[name="output"][value="append"]').check();
  assert.deepEqual(await previews(), [['/media/day1/A001.mov', null], null, ['/media/day1/C003.mov', null]]);

  // A long path loses its middle, not its file name; the whole path is the
  // hover text and what a screen reader hears.
  await page.setViewportSize({ width: 900, height: 600 });
  await page.locator('input[name="output"][value="copy"]').check();
  await page.evaluate(() => window.__FAKE__.setDestination('/exports/' + 'very long folder name/'.repeat(8) + 'end'));
  await page.locator('#destination-choose').click();
  await page.waitForFunction(() => document.getElementById('destination-text').textContent.endsWith('/end'));
  const full = '/exports/' + 'very long folder name/'.repeat(8) + 'end/Day1_A001_001.mov';
  const view = row(page, 'A001').locator('.out-path');
  assert.equal(await view.getAttribute('title'), full);
  const fit = await view.evaluate((node) => ({
    head: node.querySelector('.path-head').scrollWidth > node.querySelector('.path-head').clientWidth,
    tail: node.querySelector('.path-tail').scrollWidth <= node.querySelector('.path-tail').clientWidth,
    inside: node.getBoundingClientRect().right <= document.documentElement.clientWidth,
  }));
  assert.deepEqual(fit, { head: true, tail: true, inside: true });
  await page.screenshot({ path: path.join(ARTIFACTS, 'page-900x600-long-path.png') });
  assert.match(await row(page, 'A001').locator('.c-output').ariaSnapshot(), new RegExp('Output: ' + full.replace(/[.]/g, '\\.')));
  await cleanClose(page);
});

// Two cards with the same layout, a phone clip given directly, and one
// output already on disk.
const TWO_CARDS = {
  '/media/A001': { files: [{ path: '/media/A001/DCIM/100GOPRO/GX010001.MP4',
    fields: { card: 'A001', relativeDir: 'DCIM/100GOPRO', timecode: '01:00:00:00' } }] },
  '/media/A002': { files: [{ path: '/media/A002/DCIM/100GOPRO/GX010001.MP4',
    fields: { card: 'A002', relativeDir: 'DCIM/100GOPRO', timecode: '01:00:00:00' } }] },
  '/phone/GX010001.MP4': { files: [{ path: '/phone/GX010001.MP4', fields: { card: null, timecode: '01:00:00:00' } }] },
};

test('collisions: rows with one output and outputs on disk are marked before Process', async () => {
  const page = await openPage({ library: TWO_CARDS, existing: ['/day/A001/DCIM/100GOPRO/GX010001_TC.MP4'],
    settings: { ...DEFAULTS, destination: '/day', retain: false } });
  await emit(page, 'native://drag-drop', { paths: ['/media/A001', '/media/A002', '/phone/GX010001.MP4'] });
  const rows = page.locator('#movie-rows [role="row"]');
  await rows.nth(2).waitFor();
  const marks = () => rows.evaluateAll((all) => all.map((r) => {
    const mark = r.querySelector('.collision');
    return mark.hidden ? '' : mark.textContent;
  }));
  // Flat: all three meet in /day; each names the first other row.
  assert.deepEqual(await marks(), ['Same output as GX010001.MP4 in A002', 'Same output as GX010001.MP4 in A001',
    'Same output as GX010001.MP4 in A001']);

  // Kept structure: each card under its own name, the phone clip at the top;
  // only the output on disk is marked, once the backend has answered.
  await page.locator('#retain').check();
  await page.waitForFunction(() => document.querySelector('#movie-rows .collision:not([hidden])') !== null);
  assert.deepEqual(await marks(), ['Output exists', '', '']);
  assert.deepEqual(await rows.locator('.out-path').evaluateAll((all) => all.map((p) => p.dataset.full)),
    ['/day/A001/DCIM/100GOPRO/GX010001_TC.MP4', '/day/A002/DCIM/100GOPRO/GX010001_TC.MP4', '/day/GX010001_TC.MP4']);
  const asked = await calls(page, 'outputs_exist');
  assert.deepEqual(asked[asked.length - 1].args.paths,
    ['/day/A001/DCIM/100GOPRO/GX010001_TC.MP4', '/day/A002/DCIM/100GOPRO/GX010001_TC.MP4', '/day/GX010001_TC.MP4']);
  await page.locator('#only-problems').check();
  assert.equal(await rows.locator(':scope:visible').count(), 1);
  await page.locator('#only-problems').uncheck();

  // An empty suffix keeps the camera's own name in another folder.
  await page.locator('#suffix').fill('');
  await page.locator('#suffix').press('Tab');
  assert.equal((await lastSaved(page)).suffix, '');
  assert.equal(await rows.nth(1).locator('.out-path').getAttribute('data-full'),
    '/day/A002/DCIM/100GOPRO/GX010001.MP4');
  await page.locator('#suffix').fill('_TC');
  await page.locator('#suffix').press('Tab');

  // The batch skips the one on disk and says so on its row.
  await page.locator('#process').click();
  await page.waitForFunction(() => document.querySelectorAll('#movie-rows .mrow[data-phase="done"]').length === 2);
  assert.deepEqual(await rows.locator('.state').allTextContents(), ['Skipped', 'Done · 01:00:00:00',
    'Done · 01:00:00:00']);
  assert.equal(await rows.nth(0).locator('.result').textContent(), 'Skipped: the output already exists.');
  assert.match(await page.locator('#summary').textContent(), /2 done · 1 skipped/);

  // The day's report: the skipped movie names the output that was taken.
  await page.locator('#save-report').click();
  await page.waitForFunction(() => window.__FAKE__.calls.some((c) => c.command === 'save_report'));
  const [save] = await calls(page, 'save_report');
  assert.deepEqual(parseCsv(save.args.text).slice(1).map((r) => [r[0], r[1], r[16], r[19]]), [
    ['skipped', 'Skipped: the output already exists.', '/media/A001/DCIM/100GOPRO/GX010001.MP4',
      '/day/A001/DCIM/100GOPRO/GX010001_TC.MP4'],
    ['done', '', '/media/A002/DCIM/100GOPRO/GX010001.MP4', '/day/A002/DCIM/100GOPRO/GX010001_TC.MP4'],
    ['done', '', '/phone/GX010001.MP4', '/day/GX010001_TC.MP4'],
  ]);
  await cleanClose(page);
});

test('process: progress drives the rows, the reply is final, reveal opens an output', async () => {
  const page = await openPage({ pauseAt: 0, failures: { '/media/day1/C003.mov': 'Fragmented movies are not supported yet' } });
  await dropDay1(page);
  await row(page, 'B002').locator('input.tc').fill('00:59:59:24');
  await row(page, 'B002').locator('input.tc').press('Enter');
  const ids = await page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) => tr.dataset.id));
  // The page's clock, held still so the speed and time left are exact.
  await page.evaluate(() => {
    let now = 0;
    performance.now = () => now;
    window.__setNow = (ms) => { now = ms; };
  });

  await page.locator('#process').click();
  await page.waitForFunction(() => window.__FAKE__.paused());
  const [request] = await calls(page, 'process_movies');
  assert.deepEqual(request.args, {
    ids,
    timecodes: { [ids[0]]: '01:00:00;00', [ids[1]]: '00:59:59:24', [ids[2]]: '10:00:00:00' },
    reels: {},
    options: DEFAULTS,
  });
  assert.equal(await row(page, 'A001').locator('.state').textContent(), 'Processing 50%');
  assert.equal(await row(page, 'A001').locator('progress').evaluate((p) => p.value), 0.5);
  assert.equal(await row(page, 'B002').locator('.state').textContent(), 'Queued');
  assert.equal(await page.locator('#process').isDisabled(), true);
  assert.equal(await page.locator('#cancel').isEnabled(), true);
  assert.equal(await page.locator('#mode').isDisabled(), true);
  assert.equal(await row(page, 'A001').getByRole('button', { name: /^Remove/ }).isDisabled(), true);
  assert.equal(await page.locator('#summary').textContent(), 'Processing 1 of 3');
  // Two seconds in, half of A001's 52428800 bytes are copied; 80173200 bytes remain.
  await page.evaluate(() => window.__setNow(2000));
  await emit(page, 'progress', { id: ids[0], index: 0, total: 3, progress: 0.5, state: 'processing' });
  assert.equal(await page.locator('#summary').textContent(), 'Processing 1 of 3 · 13.1 MB/s · 7 s left');

  await page.evaluate(() => window.__FAKE__.resume());
  await page.waitForFunction(() => !document.body.classList.contains('processing'));
  assert.deepEqual(await page.locator('#movie-rows .state').allTextContents(),
    ['Done · 01:00:00;00', 'Done · 00:59:59:24', 'Failed']);
  assert.equal(await row(page, 'C003').locator('.result .msg').textContent(), 'Fragmented movies are not supported yet');
  assert.match(await row(page, 'C003').locator('.fail-hint').textContent(), /^Not damaged, only not supported yet: /);
  assert.equal(await row(page, 'A001').locator('.c-output .line').first().textContent(),
    'Written:/media/day1/Velmora Output/A001_TC.mov/media/day1/Velmora Output/A001_TC.movReveal');
  assert.equal(await row(page, 'A001').locator('.out-path').first().getAttribute('title'),
    '/media/day1/Velmora Output/A001_TC.mov');
  assert.equal(await row(page, 'A001').locator('.backup').isVisible(), false);
  assert.equal(await page.locator('#cancel').isDisabled(), true);
  // Published movies are not sent again; the failed one may be retried.
  assert.equal(await page.locator('#process').textContent(), 'Process 1');

  await row(page, 'B002').getByRole('button', { name: 'Reveal the output of B002.mp4' }).click();
  await page.waitForFunction(() => window.__FAKE__.calls.some((c) => c.command === 'reveal'));
  assert.deepEqual((await calls(page, 'reveal')).map((c) => c.args),
    [{ file: '/media/day1/cam/Velmora Output/B002_TC.mp4' }]);
  assert.equal(await page.locator('#messages li').count(), 0);

  // No file manager answers: the notice gives the path and copies it through the shell.
  await page.evaluate(() => window.__FAKE__.setRevealError('No file manager answered'));
  await row(page, 'A001').getByRole('button', { name: 'Reveal the output of A001.mov' }).click();
  const notice = page.locator('#messages li');
  await notice.waitFor();
  assert.equal(await notice.locator('span').first().innerText(),
    'No file manager answered.\n/media/day1/Velmora Output/A001_TC.mov');
  await notice.getByRole('button', { name: 'Copy the path /media/day1/Velmora Output/A001_TC.mov' }).click();
  await page.waitForFunction(() => window.__FAKE__.calls.some((c) => c.command === 'copy_text'));
  assert.deepEqual((await calls(page, 'copy_text')).map((c) => c.args),
    [{ text: '/media/day1/Velmora Output/A001_TC.mov' }]);
  assert.equal(await notice.locator('button.copy-path').textContent(), 'Copied');
  await notice.getByRole('button', { name: /^Dismiss/ }).click();

  fs.mkdirSync(ARTIFACTS, { recursive: true });
  await page.screenshot({ path: path.join(ARTIFACTS, 'velmora-page.png') });
  await cleanClose(page);
});

test('a failure without a message says that the engine gave no reason', async () => {
  const page = await openPage({ failures: { '/media/day1/C003.mov': '' } });
  await dropDay1(page);
  await page.locator('#process').click();
  await row(page, 'C003').locator('.result .msg').waitFor();
  await page.waitForFunction(() => !document.body.classList.contains('processing'));
  assert.equal(await row(page, 'C003').locator('.state').textContent(), 'Failed');
  assert.equal(await row(page, 'C003').locator('.result').textContent(), 'The engine stopped without giving a reason.');

  // The report says so too, and lists the movie left out with its reason.
  await page.locator('#save-report').click();
  await page.waitForFunction(() => window.__FAKE__.calls.some((c) => c.command === 'save_report'));
  const [save] = await calls(page, 'save_report');
  assert.deepEqual(parseCsv(save.args.text).slice(1).map((r) => [r[0], r[1], r[2], r[16]]), [
    ['done', '', '01:00:00;00', '/media/day1/A001.mov'],
    ['left out', 'No embedded timecode', '', '/media/day1/cam/B002.mp4'],
    ['failed', 'The engine stopped without giving a reason.', '10:00:00:00', '/media/day1/C003.mov'],
    ['not imported', 'Supported formats: MOV, MP4, M4V.', '', 'notes.txt'],
  ]);
  await cleanClose(page);
});

test('cancel: the running movie ends "Cancelled.", the rest are not processed', async () => {
  const page = await openPage({ pauseAt: 1, settings: { ...DEFAULTS, copy: false } });
  await dropDay1(page);
  const ids = await page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) => tr.dataset.id));
  await row(page, 'B002').locator('input.tc').fill('00:00:10:00');
  await row(page, 'B002').locator('input.tc').press('Enter');

  // In place asks first; Cancel has the focus, and Escape or Enter keeps the originals.
  const question = page.locator('#confirm');
  for (const key of ['Escape', 'Enter']) {
    await page.locator('#process').click();
    assert.equal(await question.evaluate((d) => d.open), true, key);
    assert.equal(await page.locator('#confirm-text').textContent(),
      'Replace 3 movies in place? Each original stays beside it as a backup.');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'confirm-cancel');
    assert.equal(await page.getByRole('alertdialog', { name: /^Replace 3 movies in place\?/ }).count(), 1);
    await page.keyboard.press(key);
    assert.equal(await question.evaluate((d) => d.open), false, key);
  }
  assert.deepEqual(await calls(page, 'process_movies'), []);
  assert.deepEqual(await page.locator('#movie-rows .state').allTextContents(), ['Ready', 'Ready', 'Ready']);
  await page.locator('#process').click();
  await page.locator('#confirm-ok').click();
  await page.waitForFunction(() => window.__FAKE__.paused());
  assert.equal(await question.evaluate((d) => d.open), false);
  // Escape cancels, as the Cancel button and the shell's menu item do.
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => window.__FAKE__.calls.some((c) => c.command === 'cancel'));
  assert.equal(await page.locator('#cancel').isDisabled(), true);
  await page.evaluate(() => window.__FAKE__.resume());
  await page.waitForFunction(() => !document.body.classList.contains('processing'));

  // A cancelled movie is neither failed nor counted as failed.
  assert.deepEqual(await page.locator('#movie-rows .state').allTextContents(),
    ['Done · 01:00:00;00', 'Cancelled', 'Not processed']);
  assert.equal(await row(page, 'B002').locator('.result').textContent(), '');
  assert.equal(await row(page, 'A001').locator('.backup .mid-path').getAttribute('title'),
    '/media/day1/A001.mov.velmora-backup-4242-1-0');
  assert.equal(await page.locator('#summary').textContent(),
    '3 movies · 1 done · 2 cancelled');
  assert.equal(await page.locator('#process').textContent(), 'Process 2');

  // The report: every movie of the list in its order, as sent, then the
  // file the import refused.
  await page.locator('#save-report').click();
  await page.waitForFunction(() => window.__FAKE__.calls.some((c) => c.command === 'save_report'));
  const [save] = await calls(page, 'save_report');
  assert.equal(save.args.folder, '/media/day1');
  assert.match(save.args.name, /^Velmora report \d{4}-\d{2}-\d{2} \d{2}-\d{2}\.csv$/);
  const rows = parseCsv(save.args.text);
  const pick = (r) => [0, 1, 2, 3, 9, 10, 16, 19, 20].map((i) => r[i]);
  assert.deepEqual(rows.map(pick), [
    ['Status', 'Message', 'Start timecode', 'End timecode', 'Reel', 'Start source', 'Source path', 'Output path',
      'Backup path'],
    ['done', '', '01:00:00;00', '01:00:09;29', '', 'embedded', '/media/day1/A001.mov', '/media/day1/A001.mov',
      '/media/day1/A001.mov.velmora-backup-4242-1-0'],
    ['cancelled', 'Cancelled.', '00:00:10:00', '00:00:21:08', '', 'typed override', '/media/day1/cam/B002.mp4', '',
      ''],
    ['not processed', '', '10:00:00:00', '10:00:12:11', '', 'embedded', '/media/day1/C003.mov', '', ''],
    ['not imported', 'Supported formats: MOV, MP4, M4V.', '', '', '', '', 'notes.txt', '', ''],
  ]);
  assert.ok(rows.every((r) => r.length === rows[0].length), 'every row has every column');
  await page.locator('#messages li').waitFor();
  assert.equal(await page.locator('#messages li span').textContent(),
    'Report saved: ' + save.args.folder + '/' + save.args.name);
  await page.locator('#messages li button').click();

  // Imported again, the stamped A001 keeps its row, done; restoring gives the
  // row the original's record back.
  await page.evaluate(() => window.__FAKE__.touch('/media/day1/A001.mov', { size: 52430000, timecode: '10:00:00;00' }));
  await emit(page, 'native://drag-drop', { paths: ['/media/day1'] });
  await page.locator('#messages li').waitFor();
  assert.equal(await page.locator('#messages li span').textContent(), '3 already in the list');
  assert.equal(await row(page, 'A001').locator('.c-timecode').textContent(), '10:00:00;00');
  assert.equal(await row(page, 'A001').locator('.state').textContent(), 'Done · 01:00:00;00');
  await page.locator('#messages li button').click();

  // Restoring the original puts the movie back among those to process, and
  // the menu's Save Report then lists it as restored.
  await row(page, 'A001').getByRole('button', { name: 'Restore the original of A001.mov' }).click();
  await page.locator('#messages li').waitFor();
  assert.deepEqual((await calls(page, 'restore')).map((c) => c.args), [{ id: ids[0] }]);
  assert.equal(await row(page, 'A001').locator('.state').textContent(), 'Ready');
  assert.equal(await row(page, 'A001').locator('.c-timecode').textContent(), '01:00:00;00');
  assert.equal(await row(page, 'A001').locator('.restored-note').textContent(),
    'Original restored; stamped copy kept as /media/day1/A001.mov.velmora-backup-4242-1-0');
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')),
    'Start timecode for A001.mov');
  assert.equal(await page.locator('#messages li span').textContent(), 'Original restored: /media/day1/A001.mov');
  assert.equal(await page.locator('#process').textContent(), 'Process 3');
  await emit(page, 'native://save-report', null);
  await page.waitForFunction(() => window.__FAKE__.calls.filter((c) => c.command === 'save_report').length === 2);
  const second = (await calls(page, 'save_report'))[1];
  assert.deepEqual(parseCsv(second.args.text).map((r) => r[0]),
    ['Status', 'restored', 'cancelled', 'not processed', 'not imported']);
  await cleanClose(page);
});

const APPEND_QUESTION = 'The originals themselves get the timecode; nothing is copied. ' +
  'Restore original gives back the exact bytes.';

test('in place without a copy: asked first, stamped rows and rows stamped earlier offer Restore original', async () => {
  const day3 = { '/media/day3': { files: [{ path: '/media/day3/H005.mov',
    fields: { timecode: '05:00:00:00', appended: true, size: 52432896 } }] } };
  const page = await openPage({ library: { ...LIBRARY, ...day3 }, settings: { ...DEFAULTS, copy: false, append: true } });
  await dropDay1(page);
  const question = page.locator('#confirm');
  for (const answer of ['Escape', 'Enter', 'cancel-button']) {
    await page.locator('#process').click();
    assert.equal(await question.evaluate((d) => d.open), true, answer);
    assert.equal(await page.locator('#confirm-text').textContent(),
      'Stamp 2 movies in place without a copy?\n' + APPEND_QUESTION);
    assert.equal(await page.locator('#confirm-ok').textContent(), 'Stamp');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'confirm-cancel', answer);
    if (answer === 'cancel-button') await page.locator('#confirm-cancel').click();
    else await page.keyboard.press(answer);
    assert.equal(await question.evaluate((d) => d.open), false, answer);
  }
  assert.deepEqual(await calls(page, 'process_movies'), []);

  await page.locator('#process').click();
  await page.locator('#confirm-ok').click();
  await page.waitForFunction(() => !document.body.classList.contains('processing') &&
    window.__FAKE__.calls.some((c) => c.command === 'process_movies'));
  const [sent] = await calls(page, 'process_movies');
  assert.deepEqual([sent.args.options.copy, sent.args.options.append], [false, true]);
  const stampedLines = () => page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) => {
    const shown = (node) => node.closest('[hidden]') === null;
    return [tr.querySelector('.c-name .primary').textContent, shown(tr.querySelector('.out-path'))
      ? tr.querySelector('.out-path').title : null, shown(tr.querySelector('.backup'))
      ? tr.querySelector('.backup .out-label').textContent : null, shown(tr.querySelector('.backup .mid-path')),
    shown(tr.querySelector('button.restore'))];
  }));
  assert.deepEqual(await stampedLines(), [
    ['A001.mov', '/media/day1/A001.mov', 'Stamped in place, no backup', false, true],
    ['B002.mp4', null, null, false, false],
    ['C003.mov', '/media/day1/C003.mov', 'Stamped in place, no backup', false, true],
  ]);
  assert.equal(await page.getByRole('button', { name: 'Restore all originals' }).isVisible(), true);
  assert.equal(await page.locator('#remove-backups').isVisible(), false);

  await row(page, 'A001').getByRole('button', { name: 'Restore the original of A001.mov' }).click();
  await page.locator('#messages li').waitFor();
  assert.equal(await row(page, 'A001').locator('.restored-note').textContent(),
    'Original restored; the timecode was taken off.');
  assert.equal(await row(page, 'A001').locator('button.restore').isVisible(), false);
  const restores = await calls(page, 'restore');
  assert.deepEqual(restores.map((c) => c.args), [{ id: await row(page, 'A001').getAttribute('data-id') }]);

  // The report: the movie itself is the output, and there is no backup path.
  await page.locator('#save-report').click();
  await page.waitForFunction(() => window.__FAKE__.calls.some((c) => c.command === 'save_report'));
  const [save] = await calls(page, 'save_report');
  assert.deepEqual(parseCsv(save.args.text).slice(1, 4).map((r) => [r[0], r[16], r[19], r[20]]), [
    ['restored', '/media/day1/A001.mov', '/media/day1/A001.mov', ''],
    ['left out', '/media/day1/cam/B002.mp4', '', ''],
    ['done', '/media/day1/C003.mov', '/media/day1/C003.mov', ''],
  ]);

  // Stamped by an earlier session: the import's record says so, and restore takes the stamp off.
  await emit(page, 'native://drag-drop', { paths: ['/media/day3'] });
  await row(page, 'H005').waitFor();
  await row(page, 'H005').getByRole('button', { name: 'Restore the original of H005.mov' }).click();
  await page.waitForFunction(() => window.__FAKE__.calls.filter((c) => c.command === 'restore').length === 2);
  await row(page, 'H005').locator('.restored-note').waitFor();
  assert.equal(await row(page, 'H005').locator('button.restore').isVisible(), false);
  await cleanClose(page);
});

test('backups found at import: restore the original, name the others, remove only originals after asking', async () => {
  const page = await openPage({ removeFailures: { [day2Backup('F003.mov', 13)]: 'The movie\'s bytes differ from the backup\'s.' } });
  await dropDay2(page);
  const ids = await page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) => tr.dataset.id));
  const [idD, idE, idF, idG] = ids;
  assert.deepEqual(await backupLines(page), [
    ['D001.mov', day2Backup('D001.mov', 11), null, true],
    ['E002.mov', day2Backup('E002.mov', 12), 'Not this movie\'s original: The backup does not hold exactly one movie atom.',
      false],
    ['F003.mov', day2Backup('F003.mov', 13), null, true],
    ['G004.mov', day2Backup('G004.mov', 15), null, true],
  ]);
  assert.equal(await page.getByRole('button', { name: 'Restore all originals' }).isVisible(), true);
  assert.equal(await page.getByRole('button', { name: 'Remove backups…' }).isEnabled(), true);

  // The listed original comes back as the single restore does.
  await row(page, 'D001').getByRole('button', { name: 'Restore the original of D001.mov' }).click();
  await page.locator('#messages li').waitFor();
  assert.deepEqual((await calls(page, 'restore')).map((c) => c.args), [{ id: idD }]);
  assert.equal(await page.locator('#messages li span').first().textContent(), 'Original restored: /media/day2/D001.mov');
  assert.equal(await row(page, 'D001').locator('.restored-note').textContent(),
    'Original restored; stamped copy kept as ' + day2Backup('D001.mov', 11));
  assert.deepEqual((await backupLines(page))[0], ['D001.mov', day2Backup('D001.mov', 11),
    'Not this movie\'s original: The movie is not this backup with a timecode added.', false]);
  await page.locator('#messages li button').click();

  // Asked first, Cancel the default: Escape and Enter send nothing.
  const question = page.locator('#confirm');
  for (const key of ['Escape', 'Enter']) {
    await page.locator('#remove-backups').click();
    assert.equal(await page.locator('#confirm-text').textContent(),
      'Remove 2 backups (5.5 MB)? Only backups that are verifiably the movie\'s original are deleted.');
    assert.equal(await page.locator('#confirm-ok').textContent(), 'Remove');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'confirm-cancel', key);
    await page.keyboard.press(key);
    assert.equal(await question.evaluate((d) => d.open), false, key);
  }
  assert.deepEqual(await calls(page, 'remove_backups'), []);

  // One movie stamped in place now: its backup counts at the original's size,
  // and the same dialog asks the in-place question again.
  await page.locator('input[name="output"][value="inplace"]').check();
  await page.locator('#process').click();
  assert.equal(await page.locator('#confirm-text').textContent(),
    'Replace 1 movie in place? The original stays beside it as a backup.');
  assert.equal(await page.locator('#confirm-ok').textContent(), 'Replace');
  await page.locator('#confirm-ok').click();
  await page.waitForFunction(() => !document.body.classList.contains('processing') &&
    window.__FAKE__.calls.some((c) => c.command === 'process_movies'));
  assert.deepEqual((await backupLines(page))[1],
    ['E002.mov', '/media/day2/E002.mov.velmora-backup-4242-1-0', null, true]);

  // The report names each row's backup; a movie no batch took, its first original.
  await page.locator('#save-report').click();
  await page.waitForFunction(() => window.__FAKE__.calls.some((c) => c.command === 'save_report'));
  const [save] = await calls(page, 'save_report');
  assert.deepEqual(parseCsv(save.args.text).slice(1).map((r) => [r[0], r[20]]), [
    ['restored', day2Backup('D001.mov', 11)],
    ['done', '/media/day2/E002.mov.velmora-backup-4242-1-0'],
    ['left out', day2Backup('F003.mov', 13)],
    ['left out', day2Backup('G004.mov', 15)],
  ]);
  await page.locator('#messages li button').click();

  await page.locator('#remove-backups').click();
  const named = 'Remove 3 backups (7.0 MB)? Only backups that are verifiably the movie\'s original are deleted.';
  assert.equal(await page.getByRole('alertdialog', { name: named, exact: true }).count(), 1);
  for (const scheme of ['light', 'dark']) {
    await page.emulateMedia({ colorScheme: scheme, reducedMotion: 'reduce' });
    assert.deepEqual(await seriousFindings(page), [], scheme);
  }
  await page.locator('#confirm-ok').click();
  await page.locator('#messages li').waitFor();
  assert.deepEqual((await calls(page, 'remove_backups')).map((c) => c.args), [{ ids: [idE, idF, idG] }]);
  assert.deepEqual(await page.locator('#messages li > span').evaluate((span) => span.innerText.split('\n')), [
    'Removed 2 backups.',
    'E002.mov.velmora-backup-4242-9-12: The backup does not hold exactly one movie atom.',
    'F003.mov.velmora-backup-4242-9-13: The movie\'s bytes differ from the backup\'s.',
    'F003.mov.velmora-backup-4242-9-14: The movie is not this backup with a timecode added.',
  ]);
  // Removed backups leave their rows; the kept original can still be restored.
  assert.deepEqual((await backupLines(page)).slice(1), [
    ['E002.mov', day2Backup('E002.mov', 12), 'Not this movie\'s original: The backup does not hold exactly one movie atom.',
      false],
    ['F003.mov', day2Backup('F003.mov', 13), null, true],
    ['G004.mov', null, null, false],
  ]);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'remove-backups');
  assert.equal(await page.locator('#remove-backups').isEnabled(), true);
  assert.equal(await page.locator('#restore-all').isVisible(), true);
  await page.screenshot({ path: path.join(ARTIFACTS, 'page-backups.png') });
  await cleanClose(page);
});

test('Restore all: one row after the other, Process and import wait, failures in the summary', async () => {
  const stale = 'The stamped movie changed since the import: /media/day2/G004.mov. Nothing was changed.';
  const page = await openPage({ restorePauseAt: 0, restoreFailures: { '/media/day2/G004.mov': stale } });
  await dropDay2(page);
  const ids = await page.locator('#movie-rows [role="row"]').evaluateAll((rows) => rows.map((tr) => tr.dataset.id));
  assert.equal(await page.locator('#process').isEnabled(), true);

  await page.getByRole('button', { name: 'Restore all originals' }).focus();
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => window.__FAKE__.paused());
  // The first restore is still out: no second one yet.
  assert.deepEqual((await calls(page, 'restore')).map((c) => c.args), [{ id: ids[0] }]);
  assert.equal(await page.locator('#summary').textContent(), 'Restoring 1 of 3');
  for (const id of ['process', 'add-movies', 'add-folder', 'restore-all', 'remove-backups', 'clear-list']) {
    assert.equal(await page.locator('#' + id).isDisabled(), true, id);
  }
  assert.equal(await row(page, 'F003').locator('button.restore').isDisabled(), true);
  // A drop meanwhile waits for the restores to end.
  await emit(page, 'native://drag-drop', { paths: ['/media/day1'] });
  assert.equal((await calls(page, 'import_movies')).length, 1);

  await page.evaluate(() => window.__FAKE__.resume());
  await page.waitForFunction(() => !document.body.classList.contains('restoring'));
  assert.deepEqual((await calls(page, 'restore')).map((c) => c.args), [{ id: ids[0] }, { id: ids[2] }, { id: ids[3] }]);
  assert.deepEqual(await page.locator('#movie-rows .restored-note').allTextContents(), [
    'Original restored; stamped copy kept as ' + day2Backup('D001.mov', 11),
    'Original restored; stamped copy kept as ' + day2Backup('F003.mov', 13),
  ]);
  const notice = page.locator('#messages li', { hasText: 'Restored' });
  assert.deepEqual(await notice.locator('> span').evaluate((span) => span.innerText.split('\n')),
    ['Restored 2 originals.', 'G004.mov: ' + stale]);
  assert.match(await notice.getAttribute('class'), /\bbad\b/);
  // The failed row can be tried again; the held drop is imported now.
  assert.deepEqual((await backupLines(page))[3], ['G004.mov', day2Backup('G004.mov', 15), null, true]);
  assert.equal(await row(page, 'G004').locator('button.restore').isEnabled(), true);
  await page.locator('#movie-rows [role="row"]').nth(6).waitFor();
  assert.deepEqual((await calls(page, 'import_movies')).map((c) => c.args.paths), [['/media/day2'], ['/media/day1']]);
  assert.equal(await page.locator('#process').isEnabled(), true);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'restore-all');

  // One original left to remove: the question is singular.
  await page.locator('#remove-backups').click();
  assert.equal(await page.locator('#confirm-text').textContent(),
    'Remove 1 backup (3.0 MB)? Only backups that are verifiably the movie\'s original are deleted.');
  await page.keyboard.press('Escape');
  assert.deepEqual(await calls(page, 'remove_backups'), []);
  await cleanClose(page);
});

test('before any batch there is no report to save', async () => {
  const page = await openPage();
  await dropDay1(page);
  assert.equal(await page.locator('#save-report').isDisabled(), true);
  await emit(page, 'native://save-report', null);
  await page.locator('#messages li').waitFor();
  assert.equal(await page.locator('#messages li span').textContent(),
    'Process movies first: the report lists the last batch.');
  assert.deepEqual(await calls(page, 'save_report'), []);
  await cleanClose(page);
});

// Which headers say the list is sorted by them, and how.
const sortMarks = (page) => page.locator('.head [role="columnheader"]').evaluateAll((headers) =>
  Object.fromEntries(headers.filter((h) => h.hasAttribute('aria-sort'))
    .map((h) => [h.querySelector('button').firstChild.textContent, h.getAttribute('aria-sort')])));

test('sorting by name, folder, rate, start and status; only problems', async () => {
  const page = await openPage({ failures: { '/media/day1/C003.mov': 'Fragmented movies are not supported yet' } });
  await dropDay1(page);
  const names = () => page.locator('#movie-rows [role="row"]:not([hidden]) .c-name .primary').allTextContents();
  const orders = {};
  for (const key of ['name', 'folder', 'rate', 'start', 'import']) {
    await page.locator('#sort').selectOption(key);
    orders[key] = await names();
  }
  assert.deepEqual(orders, {
    name: ['A001.mov', 'B002.mp4', 'C003.mov'],
    folder: ['A001.mov', 'C003.mov', 'B002.mp4'],
    rate: ['C003.mov', 'B002.mp4', 'A001.mov'],
    start: ['A001.mov', 'C003.mov', 'B002.mp4'],
    import: ['A001.mov', 'B002.mp4', 'C003.mov'],
  });
  assert.deepEqual(await sortMarks(page), {});

  // The headers sort too: ascending first, descending on the second press,
  // and only the sorted header says so. The sort list follows.
  const byHeader = [];
  for (const label of ['Movie', 'Movie', 'fps · Duration', 'fps · Duration', 'Start', 'Movie']) {
    await page.locator('.head').getByRole('button', { name: label, exact: true }).click();
    byHeader.push([label, await names(), await sortMarks(page), await page.locator('#sort').inputValue()]);
  }
  assert.deepEqual(byHeader, [
    ['Movie', ['A001.mov', 'B002.mp4', 'C003.mov'], { Movie: 'ascending' }, 'name'],
    ['Movie', ['C003.mov', 'B002.mp4', 'A001.mov'], { Movie: 'descending' }, 'name'],
    ['fps · Duration', ['C003.mov', 'B002.mp4', 'A001.mov'], { 'fps · Duration': 'ascending' }, 'rate'],
    ['fps · Duration', ['A001.mov', 'B002.mp4', 'C003.mov'], { 'fps · Duration': 'descending' }, 'rate'],
    ['Start', ['A001.mov', 'C003.mov', 'B002.mp4'], { Start: 'ascending' }, 'start'],
    ['Movie', ['A001.mov', 'B002.mp4', 'C003.mov'], { Movie: 'ascending' }, 'name'],
  ]);
  await page.locator('#sort').selectOption('folder');
  assert.deepEqual(await sortMarks(page), {});
  await page.locator('#sort').selectOption('import');

  await page.locator('#process').click();
  await page.waitForFunction(() => !document.body.classList.contains('processing') &&
    window.__FAKE__.calls.some((c) => c.command === 'process_movies'));
  // The batch goes in import order whatever the view shows.
  const [request] = await calls(page, 'process_movies');
  assert.equal(request.args.ids.length, 2);
  await page.locator('#sort').selectOption('status');
  assert.deepEqual(await names(), ['C003.mov', 'B002.mp4', 'A001.mov']);

  await page.locator('#only-problems').check();
  assert.deepEqual(await names(), ['C003.mov', 'B002.mp4']);
  // Giving B002 a start takes it off the problems.
  await row(page, 'B002').locator('input.tc').fill('00:00:01:00');
  await row(page, 'B002').locator('input.tc').press('Enter');
  assert.deepEqual(await names(), ['C003.mov']);
  await row(page, 'C003').getByRole('button', { name: /^Remove/ }).click();
  assert.deepEqual(await names(), []);
  assert.equal(await page.locator('#no-problems').isVisible(), true);
  await page.locator('#only-problems').uncheck();
  assert.deepEqual(await names(), ['B002.mp4', 'A001.mov']);
  assert.equal(await page.locator('#no-problems').isVisible(), false);
  await cleanClose(page);
});

test('a batch refused as a whole is shown and leaves every movie ready', async () => {
  const page = await openPage();
  await dropDay1(page);
  await page.evaluate(() => {
    const invoke = window.__VELMORA_NATIVE__.invoke;
    window.__VELMORA_NATIVE__.invoke = (command, args) => command === 'process_movies'
      ? Promise.reject(new Error('A batch is already running.')) : invoke(command, args);
  });
  await page.locator('#process').click();
  await page.locator('#messages li').waitFor();
  assert.equal(await page.locator('#messages li span').textContent(), 'A batch is already running.');
  assert.deepEqual(await page.locator('#movie-rows .state').allTextContents(), ['Ready', 'Left out', 'Ready']);
  assert.equal(await page.locator('#process').isEnabled(), true);
  await page.locator('#messages li button').click();
  assert.equal(await page.locator('#messages').isVisible(), false);
  await cleanClose(page);
});

test('close-blocked tells the user to cancel or wait, until the batch ends', async () => {
  const page = await openPage({ pauseAt: 0 });
  assert.equal(await page.locator('#close-blocked').isVisible(), false);
  await emit(page, 'close-blocked', null);
  assert.equal(await page.locator('#close-blocked').isVisible(), true);
  assert.match(await page.locator('#close-blocked').textContent(), /Cancel processing or let it finish before quitting/);
  assert.equal(await page.locator('#close-blocked').getAttribute('role'), 'alert');
  await page.locator('#close-blocked-dismiss').click();
  assert.equal(await page.locator('#close-blocked').isVisible(), false);

  await dropDay1(page);
  await page.locator('#process').click();
  await page.waitForFunction(() => window.__FAKE__.paused());
  await emit(page, 'close-blocked', null);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'close-blocked-dismiss');
  await page.evaluate(() => window.__FAKE__.resume());
  await page.waitForFunction(() => !document.body.classList.contains('processing'));
  assert.equal(await page.locator('#close-blocked').isVisible(), false);
  // Nothing is left to process, so focus goes back to adding movies.
  assert.equal(await page.evaluate(() => document.activeElement.id), 'add-movies');
  await cleanClose(page);
});

test('the running movie stays in view unless the user scrolled away', async () => {
  const page = await openPage({ generate: { path: '/big', count: 60 }, pauseAt: 30 });
  await page.setViewportSize({ width: 1000, height: 650 });
  await emit(page, 'native://drag-drop', { paths: ['/big'] });
  await page.locator('#movie-rows [role="row"]').nth(59).waitFor();
  await page.locator('input[name="source"][value="custom"]').check();
  await page.locator('#process').click();
  await page.waitForFunction(() => window.__FAKE__.paused());
  const visible = (index) => page.evaluate((i) => {
    const box = document.getElementById('movie-rows').children[i].getBoundingClientRect();
    const area = document.querySelector('.table-wrap').getBoundingClientRect();
    return box.top >= area.top && box.bottom <= area.bottom;
  }, index);
  assert.equal(await visible(30), true);
  // The user looks at the top of the list: it stays there to the end.
  await page.locator('.table-wrap').evaluate((node) => new Promise((resolve) => {
    node.addEventListener('scroll', () => resolve(), { once: true });
    node.scrollTop = 0;
  }));
  await page.evaluate(() => window.__FAKE__.resume());
  await page.waitForFunction(() => !document.body.classList.contains('processing'));
  assert.equal(await page.locator('.table-wrap').evaluate((node) => node.scrollTop), 0);
  assert.equal(await visible(0), true);
  await cleanClose(page);
});

test('2,000 movies: a progress event touches only its own row', async () => {
  const page = await openPage({ generate: { path: '/big', count: 2000 } });
  await emit(page, 'native://drag-drop', { paths: ['/big'] });
  await page.locator('#movie-rows [role="row"]').nth(1999).waitFor();
  assert.equal(await page.locator('#process').textContent(), 'Process 2000');

  const touched = await page.evaluate(async () => {
    const rows = document.getElementById('movie-rows');
    const target = rows.children[1500].dataset.id;
    const seen = new Set();
    const observer = new MutationObserver((records) => {
      for (const r of records) {
        const node = r.target.nodeType === Node.ELEMENT_NODE ? r.target : r.target.parentElement;
        const tr = node.closest('[role="row"]');
        seen.add(tr ? tr.dataset.id : 'outside ' + node.id);
      }
    });
    observer.observe(rows, { subtree: true, childList: true, attributes: true, characterData: true });
    window.__VELMORA_EVENT__('progress', { id: target, index: 0, total: 1, state: 'processing', progress: 0.25 });
    await new Promise((resolve) => setTimeout(resolve, 50));
    observer.disconnect();
    return { target, seen: [...seen], state: rows.children[1500].querySelector('.state').textContent };
  });
  assert.deepEqual(touched.seen, [touched.target]);
  assert.equal(touched.state, 'Processing 25%');

  // A settings change reaches the last row as well.
  await page.locator('input[name="source"][value="custom"]').check();
  assert.equal(await page.locator('#movie-rows [role="row"]').nth(1999).locator('input.tc').inputValue(), '01:00:00;00');
  assert.equal(await page.locator('#movie-rows [role="row"]').nth(1998).locator('input.tc').inputValue(), '01:00:00:00');
  await cleanClose(page);
});

test('keyboard only: add a folder, process, open help and the notices', async () => {
  const page = await openPage({ pick: { folder: ['/media/day1'], movies: [] } });
  async function tabTo(id, key = 'Tab') {
    for (let i = 0; i < 60; i += 1) {
      await page.keyboard.press(key);
      if (await page.evaluate((want) => document.activeElement && document.activeElement.id === want, id)) return;
    }
    assert.fail('could not reach #' + id + ' with ' + key);
  }
  await tabTo('add-folder');
  await page.keyboard.press('Enter');
  await page.locator('#movie-rows [role="row"]').nth(2).waitFor();
  assert.deepEqual((await calls(page, 'pick')).map((c) => c.args), [{ kind: 'folder' }]);
  assert.deepEqual((await calls(page, 'import_movies')).map((c) => c.args), [{ paths: ['/media/day1'], recursive: true }]);

  // Tab goes from a row's start field to the next row's; Shift+Tab reaches
  // the row's own remove button.
  await row(page, 'A001').locator('input.tc').focus();
  await page.keyboard.press('Control+A');
  await page.keyboard.type('01:00:00;10');
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Start timecode for B002.mp4');
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Start timecode for C003.mov');
  await page.keyboard.press('Shift+Tab');
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Remove C003.mov from the list');
  assert.deepEqual(await startValues(page), ['01:00:00;10', '', '10:00:00:00']);

  // Ctrl+A outside a text field selects the rows, never the page's text;
  // Escape lets them go. The shell's focus chain enters at the page's ends.
  const selection = () => page.evaluate(() => ({
    rows: document.querySelectorAll('#movie-rows [role="row"][aria-selected="true"].selected').length,
    pageText: String(getSelection()).includes('Source of the start'),
  }));
  await page.locator('#add-folder').focus();
  await page.keyboard.press('Control+A');
  assert.deepEqual(await selection(), { rows: 3, pageText: false });
  await page.keyboard.press('Escape');
  assert.deepEqual(await selection(), { rows: 0, pageText: false });
  const edge = (forward) => page.evaluate((f) => window.VelmoraKeyboard.focusEdge(f) &&
    (document.activeElement.id || document.activeElement.getAttribute('aria-label')), forward);
  assert.deepEqual([await edge(true), await edge(false)], ['add-movies', 'Start timecode for C003.mov']);

  // Process is two steps after the add buttons, before the settings.
  await page.locator('#add-folder').focus();
  await page.keyboard.press('Tab');
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'process');

  // Radio groups move with the arrow keys, and that is saved too.
  await tabTo('source-embedded');
  await page.keyboard.press('ArrowDown');
  assert.equal((await lastSaved(page)).source, 'creation');

  await tabTo('process');
  assert.equal(await page.locator('#process').textContent(), 'Process 3');
  await page.keyboard.press('Space');
  await page.waitForFunction(() => !document.body.classList.contains('processing') &&
    window.__FAKE__.calls.some((c) => c.command === 'process_movies'));
  assert.deepEqual(await page.locator('#movie-rows .state').allTextContents(),
    ['Done · 01:00:00;10', 'Done · 05:29:59:24', 'Done · 19:35:00:00']);

  await tabTo('help', 'Shift+Tab');
  await page.keyboard.press('Enter');
  assert.equal(await page.locator('#help-panel').evaluate((d) => d.open), true);
  // An open dialog is the page's whole chain.
  assert.deepEqual([await edge(true), await edge(false)], ['help-close', 'notices-link']);
  await tabTo('notices-link');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => window.__FAKE__.calls.some((c) => c.command === 'third_party_notices'));
  await page.keyboard.press('Escape');
  assert.equal(await page.locator('#help-panel').evaluate((d) => d.open), false);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'help');

  // Delete takes the selected rows off the list; a text field keeps both keys.
  await row(page, 'B002').locator('input.tc').focus();
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  assert.equal(await page.locator('#movie-rows [role="row"]').count(), 3);
  await page.locator('#help').focus();
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  assert.equal(await page.locator('#movie-rows [role="row"]').count(), 0);

  // What the About menu item does.
  await page.evaluate(() => document.getElementById('help').click());
  assert.equal(await page.locator('#help-panel').evaluate((d) => d.open), true);
  await cleanClose(page);
});

test('accessibility: no serious or critical axe findings, list loaded and help open', async () => {
  const page = await openPage({ failures: { '/media/day1/C003.mov': 'Fragmented movies are not supported yet' } });
  await dropDay1(page);
  await page.locator('#process').click();
  await page.waitForFunction(() => !document.body.classList.contains('processing') &&
    window.__FAKE__.calls.some((c) => c.command === 'process_movies'));
  await emit(page, 'close-blocked', null);
  await page.evaluate(AXE_SOURCE);
  const serious = async () => page.evaluate(async () => {
    const result = await window.axe.run(document, { resultTypes: ['violations'], preload: false });
    return result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => v.id + ': ' + v.nodes.map((n) => n.target.join(' ')).slice(0, 3).join(', '));
  });
  // Every check in both schemes, with no colour transition half-way.
  const inBothSchemes = async (what) => {
    for (const scheme of ['light', 'dark']) {
      await page.emulateMedia({ colorScheme: scheme, reducedMotion: 'reduce' });
      assert.deepEqual(await serious(), [], what + ', ' + scheme);
    }
  };
  await inBothSchemes('list');
  await page.locator('#sort').click();
  assert.equal(await page.locator('.select-list').count(), 1);
  await inBothSchemes('open sort list');
  await page.keyboard.press('Escape');
  await page.locator('#help').click();
  await inBothSchemes('help');
  await page.keyboard.press('Escape');

  // The in-place question, for the one movie left to retry.
  await page.locator('input[name="output"][value="inplace"]').check();
  await page.locator('#process').click();
  assert.equal(await page.locator('#confirm-text').textContent(),
    'Replace 1 movie in place? The original stays beside it as a backup.');
  await inBothSchemes('in-place question');
  await page.screenshot({ path: path.join(ARTIFACTS, 'page-inplace-question.png') });
  await page.keyboard.press('Escape');
  assert.equal(await page.locator('#confirm').evaluate((d) => d.open), false);
  assert.equal((await calls(page, 'process_movies')).length, 1);
  await cleanClose(page);
});

// Name and status of every row inside the list's visible box, with nothing to
// scroll sideways.
async function fitsWidth(page) {
  return page.evaluate(() => {
    const wrap = document.querySelector('.table-wrap').getBoundingClientRect();
    const outside = [];
    for (const tr of document.querySelectorAll('#movie-rows [role="row"]')) {
      for (const cls of ['c-name', 'c-status']) {
        const box = tr.querySelector('.' + cls).getBoundingClientRect();
        if (box.left < wrap.left || box.right > wrap.right + 0.5 || box.width < 40) outside.push(tr.dataset.id + ' ' + cls);
      }
    }
    const scroller = document.querySelector('.table-wrap');
    return { outside, sideways: scroller.scrollWidth > scroller.clientWidth };
  });
}

async function seriousFindings(page) {
  if (!(await page.evaluate(() => Boolean(window.axe)))) await page.evaluate(AXE_SOURCE);
  return page.evaluate(async () => {
    const result = await window.axe.run(document, { resultTypes: ['violations'], preload: false });
    return result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => v.id + ': ' + v.nodes.map((n) => n.target.join(' ') + ' (' + n.failureSummary + ')').slice(0, 3).join(', '));
  });
}

test('900 x 600 to large text, light and dark: name and status stay in view, axe finds nothing serious', async () => {
  const page = await openPage({ failures: { '/media/day1/C003.mov': 'Fragmented movies are not supported yet' } });
  await page.setViewportSize({ width: 900, height: 600 });
  await dropDay1(page);
  await page.locator('#process').click();
  await page.waitForFunction(() => !document.body.classList.contains('processing') &&
    window.__FAKE__.calls.some((c) => c.command === 'process_movies'));
  assert.deepEqual(await fitsWidth(page), { outside: [], sideways: false });

  await page.setViewportSize({ width: 1280, height: 800 });
  for (const scheme of ['light', 'dark']) {
    await page.emulateMedia({ colorScheme: scheme, reducedMotion: 'reduce' });
    await page.screenshot({ path: path.join(ARTIFACTS, `page-1280x800-${scheme}.png`) });
  }
  await page.setViewportSize({ width: 900, height: 600 });
  for (const scheme of ['light', 'dark']) {
    // No colour transition half-way while axe measures contrast.
    await page.emulateMedia({ colorScheme: scheme, reducedMotion: 'reduce' });
    assert.deepEqual(await seriousFindings(page), [], scheme);
    await page.screenshot({ path: path.join(ARTIFACTS, `page-900x600-${scheme}.png`) });
  }

  // Ctrl+plus zooms the whole page through its rem sizes; Ctrl+0 resets.
  await page.setViewportSize({ width: 1280, height: 800 });
  await page.locator('#summary').click();
  const rootSize = () => page.evaluate(() => getComputedStyle(document.documentElement).fontSize);
  for (let i = 0; i < 3; i += 1) await page.keyboard.press('Control+Equal');
  assert.equal(await rootSize(), '24px');
  assert.deepEqual(await fitsWidth(page), { outside: [], sideways: false });
  await page.emulateMedia({ colorScheme: 'light' });
  await page.screenshot({ path: path.join(ARTIFACTS, 'page-large-text.png') });
  await page.keyboard.press('Control+Minus');
  assert.equal(await rootSize(), '20px');
  await page.keyboard.press('Control+0');
  assert.equal(await rootSize(), '16px');
  await page.setViewportSize({ width: 3840, height: 2160 });
  assert.deepEqual(await fitsWidth(page), { outside: [], sideways: false });
  await cleanClose(page);
});


// A phone's day: names that differ only near their end, and refusals.
const PHONE_DAY = { '/home/ed/Footage/phone': {
  files: Array.from({ length: 12 }, (_, i) => ({
    path: '/home/ed/Footage/phone/VID_20240309_1204' + String(i).padStart(2, '0') + '.mp4', fields: {} })),
  errors: [{ name: 'b.mov', message: 'Fragmented movies are not supported yet' },
    { name: 'c.mov', message: 'Fragmented movies are not supported yet' }] } };

// What each of the first rows shows of its name, and whether that fits.
const shownNames = (page, count) => page.locator('#movie-rows .c-name .name').evaluateAll((nodes, n) =>
  nodes.slice(0, n).map((node) => {
    const eye = node.querySelector('[aria-hidden="true"]');
    return [eye ? eye.textContent : node.textContent, node.scrollWidth <= node.clientWidth];
  }), count);

test('large text at 1280 x 800: eight rows, folded panels, names keep both ends, a column width that stays', async () => {
  const page = await openPage({ library: PHONE_DAY });
  await page.locator('#summary').click();
  for (let i = 0; i < 3; i += 1) await page.keyboard.press('Control+Equal');
  const drop = () => emit(page, 'native://drag-drop', { paths: ['/home/ed/Footage/phone'] });
  await drop();
  await page.locator('#movie-rows [role="row"]').nth(11).waitFor();
  // Dropped again twice: the newest of the two notices in one line, with a
  // count of the one before.
  await drop();
  await drop();
  await page.locator('#messages li').nth(1).waitFor();
  await page.mouse.move(640, 790);
  const notices = () => page.locator('#messages').evaluate((list) => ({
    shown: [...list.children].filter((li) => li.getBoundingClientRect().height > 0).length,
    room: Math.round(list.getBoundingClientRect().height / 24 * 4) / 4,
    count: getComputedStyle(list.lastElementChild, '::before').content,
  }));
  const folded = await notices();
  assert.ok(folded.shown === 1 && folded.room <= 2 && folded.count === '"+1"', JSON.stringify(folded));
  await page.locator('#messages li').last().getByRole('button', { name: /^Dismiss/ }).focus();
  assert.equal((await notices()).shown, 2);
  await page.locator('#summary').click();

  // The settings and the refusals take one line each, and open by keyboard.
  assert.deepEqual(await page.locator('button.fold').evaluateAll((buttons) =>
    buttons.map((b) => [b.textContent, b.getAttribute('aria-expanded')])),
  [['Settings', 'false'], ['Not imported · 6 files', 'false']]);
  assert.equal(await page.locator('#settings fieldset').first().isVisible(), false);
  assert.equal(await page.locator('#import-error-list').isVisible(), false);
  const fullyShown = () => page.evaluate(() => {
    const wrap = document.querySelector('.table-wrap').getBoundingClientRect();
    const head = document.querySelector('.movies .head').getBoundingClientRect();
    return [...document.querySelectorAll('#movie-rows [role="row"]')].filter((tr) => {
      const box = tr.getBoundingClientRect();
      return box.top >= head.bottom - 0.5 && box.bottom <= wrap.bottom + 0.5;
    }).length;
  });
  assert.ok(await fullyShown() >= 8, String(await fullyShown()));
  for (const scheme of ['light', 'dark']) {
    await page.emulateMedia({ colorScheme: scheme, reducedMotion: 'reduce' });
    assert.deepEqual(await seriousFindings(page), [], scheme);
    await page.screenshot({ path: path.join(ARTIFACTS, `list-1280x800-large-${scheme}.png`) });
  }
  await page.emulateMedia({ colorScheme: 'light' });
  await page.locator('#import-errors-toggle').focus();
  await page.keyboard.press('Enter');
  assert.equal(await page.locator('#import-errors-toggle').getAttribute('aria-expanded'), 'true');
  assert.equal(await page.locator('#import-error-list').isVisible(), true);
  await page.locator('#settings-toggle').focus();
  await page.keyboard.press('Space');
  assert.equal(await page.locator('#settings fieldset').first().isVisible(), true);
  await page.keyboard.press('Space');
  assert.equal(await page.locator('#settings fieldset').first().isVisible(), false);

  // The narrowest Movie column: both names lose their middle, keep their own end, and fit.
  const grip = page.getByRole('separator', { name: /Movie column width/ });
  await grip.focus();
  for (let i = 0; i < 40; i += 1) await page.keyboard.press('ArrowLeft');
  assert.equal(await grip.getAttribute('aria-valuenow'), '7');
  assert.equal((await lastSaved(page)).movieColumnWidth, 7);
  const [[first, firstFits], [second, secondFits]] = await shownNames(page, 2);
  assert.deepEqual([firstFits, secondFits], [true, true]);
  for (const [shown, full] of [[first, 'VID_20240309_120400.mp4'], [second, 'VID_20240309_120401.mp4']]) {
    const [head, tail] = shown.split('…');
    assert.ok(tail !== undefined && head.length >= 1 && tail.length > head.length, shown);
    assert.ok(full.startsWith(head) && full.endsWith(tail), shown);
  }
  assert.notEqual(first, second);
  // Screen readers still get the whole name.
  assert.equal(await row(page, '120400').locator('.name .sr-only').textContent(), 'VID_20240309_120400.mp4');

  // The whole path at once on hover and on keyboard focus, as the name's description.
  await row(page, '120400').locator('.name').hover();
  assert.equal(await page.locator('#name-tip').isVisible(), true);
  assert.equal(await page.locator('#name-tip').textContent(), '/home/ed/Footage/phone/VID_20240309_120400.mp4');
  await row(page, '120401').locator('.name').focus();
  assert.equal(await page.locator('#name-tip').textContent(), '/home/ed/Footage/phone/VID_20240309_120401.mp4');
  assert.equal(await row(page, '120401').locator('.name').getAttribute('aria-describedby'), 'name-tip');
  await page.screenshot({ path: path.join(ARTIFACTS, 'list-1280x800-large-narrow-names.png') });
  await page.keyboard.press('Escape');
  assert.equal(await page.locator('#name-tip').isVisible(), false);

  // Dragged wider, the names come back whole; the width is what is saved.
  const box = await grip.boundingBox();
  const savesBefore = (await calls(page, 'save_settings')).length;
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + 240, box.y + box.height / 2, { steps: 4 });
  await page.mouse.up();
  assert.equal((await lastSaved(page)).movieColumnWidth, 17);
  // Saved once, when the drag ended.
  assert.equal((await calls(page, 'save_settings')).length, savesBefore + 1);
  await page.waitForFunction(() => !document.querySelector('#movie-rows .name [aria-hidden]'));
  assert.deepEqual(await shownNames(page, 2), [['VID_20240309_120400.mp4', true], ['VID_20240309_120401.mp4', true]]);
  await cleanClose(page);

  // The next start loads the saved width.
  const again = await openPage({ library: PHONE_DAY, settings: { ...DEFAULTS, movieColumnWidth: 17 } });
  const width = await again.locator('#name-heading').evaluate((node) => node.getBoundingClientRect().width);
  assert.ok(Math.abs(width - 17 * 16) < 1, String(width));
  assert.equal(await again.locator('#name-heading .col-grip').getAttribute('aria-valuenow'), '17');
  await cleanClose(again);
});
