#!/usr/bin/env node
'use strict';
// How the page scales with the length of its movie list, in Debian's Chromium.
// Baseline: a list of 200 movies, measured in the same run. Prints ratios:
//   import   time from the drop event to the rendered list (2,000 vs 200 rows)
//   progress time for 500 progress events on one row (2,000 vs 200 rows);
//            about 1.0 means a progress event costs the same however long the list.
// Usage: node bench/page_rows.js   (after `npm ci` at the repository root)

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const { chromium } = require('playwright-core');
const { installFake } = require('../resources/ui/tests/fake_native.js');

const PAGE = pathToFileURL(path.join(__dirname, '..', 'resources', 'ui', 'index.html')).href;

async function measure(context, count) {
  const page = await context.newPage();
  await page.addInitScript(installFake, { generate: { path: '/big', count } });
  await page.goto(PAGE);
  await page.waitForFunction(() => document.body.dataset.ready === 'true');
  const result = await page.evaluate(async (n) => {
    const frame = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
    const rows = document.getElementById('movie-rows');
    let t0 = performance.now();
    window.__FAKE__.emit('native://drag-drop', { paths: ['/big'] });
    while (rows.children.length < n) await new Promise((resolve) => setTimeout(resolve, 1));
    await frame();
    const importMs = performance.now() - t0;
    const id = rows.children[Math.floor(n / 2)].dataset.id;
    t0 = performance.now();
    for (let i = 0; i < 500; i += 1) {
      window.__VELMORA_EVENT__('progress', { id, index: 0, total: 1, state: 'processing', progress: i / 500 });
      if (i % 50 === 0) await frame();
    }
    await frame();
    return { importMs, progressMs: performance.now() - t0 };
  }, count);
  await page.close();
  return result;
}

(async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-bench-'));
  const context = await chromium.launchPersistentContext(dir, {
    executablePath: '/usr/bin/chromium', headless: true, viewport: { width: 1280, height: 800 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
  try {
    await measure(context, 200); // warm-up
    const base = await measure(context, 200);
    const big = await measure(context, 2000);
    console.log(`import   2000/200 rows: ${(big.importMs / base.importMs).toFixed(2)}x`);
    console.log(`progress 2000/200 rows: ${(big.progressMs / base.progressMs).toFixed(2)}x`);
  } finally {
    await context.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
})();
