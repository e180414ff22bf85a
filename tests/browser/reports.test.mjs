// tumblewatch's HTML reports in a real browser: pages made from the
// project's own recordings open from a file URL with the network blocked,
// log no error, draw every chart, show a recording's chart when it is
// selected, zoom, and show one point per configuration of a sweep.
// Screenshots go to $SCREENSHOTS for a person to look at. Run by
// scripts/browser-test.sh, which sets TUMBLEWATCH, MAKE_RECORDINGS,
// SCREENSHOTS and SHARED_DATA.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';

import { canvasPixels, launch, openReport } from './browser.mjs';

const TUMBLEWATCH = process.env.TUMBLEWATCH;
const MAKE_RECORDINGS = process.env.MAKE_RECORDINGS;
const SCREENSHOTS = process.env.SCREENSHOTS;
const SHARED_DATA = process.env.SHARED_DATA || '';
const ALARM_RGB = [224, 0, 0];

let dir;
let browser;
const pages = {};

function tumblewatch(args) {
  execFileSync(TUMBLEWATCH, args, { cwd: dir, stdio: ['ignore', 'ignore', 'inherit'] });
}

// A recording of n samples: the records of a dataset repeated.
function repeatDataset(from, to, n) {
  const bytes = readFileSync(from);
  const position = bytes.readInt32LE(20);
  const records = bytes.subarray(position);
  const count = Math.floor(records.length / 12);
  const out = Buffer.alloc(position + 12 * n);
  bytes.copy(out, 0, 0, position);
  for (let done = 0; done < n; done += count) {
    records.copy(out, position + 12 * done, 0, 12 * Math.min(count, n - done));
  }
  writeFileSync(to, out);
}

function megabytes(file) {
  return (statSync(file).size / 1e6).toFixed(1) + ' MB';
}

async function shot(page, name) {
  await page.screenshot({ path: path.join(SCREENSHOTS, name), fullPage: true });
}

// Drags across the plotting area of a panel from fraction a to b of its width.
async function drag(page, selector, a, b) {
  const box = await page.locator(selector).boundingBox();
  const y = box.y + box.height / 2;
  await page.mouse.move(box.x + box.width * a, y);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width * (a + b) / 2, y, { steps: 4 });
  await page.mouse.move(box.x + box.width * b, y, { steps: 4 });
  await page.mouse.up();
}

// The x range of every panel of the chart shown, once the page has settled.
async function ranges(page) {
  await page.evaluate(() => new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r))));
  return page.evaluate(() => window.tumblewatchReport.panels.map(u => [u.scales.x.min, u.scales.x.max]));
}

async function open(file, options) {
  const opened = await openReport(browser, file, options);
  assert.deepEqual(opened.problems, [], `${file} logged errors`);
  assert.deepEqual(opened.blocked, [], `${file} asked for the network`);
  return opened;
}

// Every panel of the chart shown is drawn, and the acceleration (never a
// flat line on an edge) in colour.
async function assertPanelsDrawn(page, what) {
  const count = await page.evaluate(() => window.tumblewatchReport.panels.length);
  assert.equal(count, 5, `${what}: five panels`);
  for (let i = 0; i < count; i++) {
    const pixels = await canvasPixels(page, 'panels', i);
    assert.ok(pixels.painted > 300, `${what}: panel ${i} painted ${pixels.painted} pixels`);
    if (i === 0) assert.ok(pixels.coloured > 300, `${what}: panel ${i} drew ${pixels.coloured} coloured pixels`);
  }
}

before(async () => {
  for (const [name, value] of Object.entries({ TUMBLEWATCH, MAKE_RECORDINGS, SCREENSHOTS })) {
    assert.ok(value, `${name} is not set (run scripts/browser-test.sh)`);
  }
  mkdirSync(SCREENSHOTS, { recursive: true });
  dir = mkdtempSync(path.join(tmpdir(), 'tumblewatch-browser-'));
  const rec = path.join(dir, 'rec');
  execFileSync(MAKE_RECORDINGS, [rec], { stdio: 'ignore' });
  // A recording of quiet standing labelled as a fall stands for a fall
  // that the detector misses; with a short window the hard sit-down is a
  // false alarm.
  copyFileSync(path.join(rec, 'standing.bin'), path.join(rec, 'quiet_fall.bin'));
  writeFileSync(path.join(rec, 'labels.manifest'), [
    'path,label,activity,subject',
    'fall_forward.bin,fall,forward,s1', 'fall_backward.bin,fall,backward,s2', 'fall_lateral.bin,fall,lateral,s3',
    'double_fall.bin,fall,double,s1', 'tumble.bin,fall,tumble,s2', 'long_mixed.bin,fall,long_mixed,s3',
    'quiet_fall.bin,fall,unnoticed,s1', 'standing.bin,adl,standing,s2', 'walking.bin,adl,walking,s3',
    'jump.bin,adl,jump,s1', 'sit_down_hard.bin,adl,sit_down_hard,s2', '',
  ].join('\n'));
  const config = ['--set', 'fallWindow=10', '--set', 'tiltLimit=20'];
  tumblewatch(['eval', '--labels', 'rec/labels.manifest', ...config, '-q', '--html', 'eval.html']);
  tumblewatch(['plot', 'rec/long_mixed.bin', '--html', 'long.html']);
  repeatDataset(path.join(rec, 'long_mixed.bin'), path.join(dir, 'two_million.bin'), 2000000);
  const started = Date.now();
  tumblewatch(['plot', 'two_million.bin', '--html', 'two_million.html']);
  pages.twoMillionWriteMs = Date.now() - started;
  // Beyond 2^21 samples (up to 2^22) the page carries buckets of 4 samples.
  repeatDataset(path.join(rec, 'long_mixed.bin'), path.join(dir, 'four_million.bin'), 4000000);
  const startedLong = Date.now();
  tumblewatch(['plot', 'four_million.bin', '--html', 'four_million.html']);
  pages.fourMillionWriteMs = Date.now() - startedLong;
  rmSync(path.join(dir, 'four_million.bin'));
  tumblewatch(['sweep', '--labels', 'rec/labels.manifest', '--grid', 'fallWindow=8:20:4', '--grid', 'tiltLimit=20,35',
    '--folds', '3', '--out', 'sweep.csv', '-q', '--html', 'sweep.html', '--summary', 'sweep.json']);
  tumblewatch(['report', 'sweep.csv', '--summary', 'sweep.json', '--html', 'report-folds.html']);
  tumblewatch(['sweep', '--labels', 'rec/labels.manifest', '--grid', 'fallWindow=6:30:2', '--out', 'plain.jsonl',
    '--format', 'jsonl', '-q']);
  tumblewatch(['report', 'plain.jsonl', '--html', 'report.html']);
  tumblewatch(['scan', '--labels', 'rec/labels.manifest', ...config, '-q', '--param', 'fallWindow', '--param', 'tiltLimit',
    '--param', 'impactHardSum', '--html', 'scan.html']);
  tumblewatch(['explain', '--labels', 'rec/labels.manifest', ...config, '-q', '--param', 'fallWindow', '--param',
    'impactHardSum', '--html', 'explain.html']);
  browser = await launch();
});

after(async () => {
  if (browser) await browser.close();
  if (dir) rmSync(dir, { recursive: true, force: true });
});

describe('eval --html', () => {
  test('opens offline, lists missed falls and false alarms first, charts and zooms the one selected', async () => {
    const { page } = await open(path.join(dir, 'eval.html'));
    const outcomes = await page.locator('.recordings tbody tr .badge').allTextContents();
    assert.equal(outcomes.length, 11);
    assert.deepEqual(outcomes.slice(0, 2), ['missed fall', 'false alarm']);
    assert.ok(!outcomes.slice(2).includes('missed fall') && !outcomes.slice(2).includes('false alarm'));
    assert.equal(await page.locator('table.confusion').textContent(), 'alarmno alarmfallTP 6FN 1ADLFP 1TN 3');
    // Every rate with its interval: 6 of 7 falls (Wilson) and 1 false alarm in the ADLs' hours (exact Poisson).
    const sensitivity = await page.locator('table.summary tbody tr').first().textContent();
    assert.match(sensitivity, /^sensitivity0\.857\[0\.487, 0\.974\]6 of 7 falls detected$/);
    assert.match(await page.locator('table.summary tbody tr').nth(5).textContent(), /^false alarms per hour[\d.]+\[[\d.]+, [\d.]+\]1 events/);
    assert.equal(await page.locator('table.activities tbody tr').first().locator('td').nth(4).textContent(), '[0.207, 1.000]');

    // The missed fall is shown first: its chart is drawn, with no alarm.
    assert.equal(await page.locator('#chart .title').textContent(), 'rec/quiet_fall.bin');
    await assertPanelsDrawn(page, 'missed fall');
    assert.equal(await page.evaluate(() => window.tumblewatchReport.markers), 0);
    await shot(page, 'eval-missed-fall.png');

    // Selecting the false alarm, then a detected fall: alarm markers.
    for (const [row, name, alarms] of [[1, 'rec/sit_down_hard.bin', 3], [null, 'rec/fall_forward.bin', 12]]) {
      const target = row == null
        ? page.locator('.recordings tbody tr', { hasText: 'fall_forward.bin' })
        : page.locator('.recordings tbody tr').nth(row);
      await target.click();
      await page.waitForFunction(n => document.querySelector('#chart .title')?.textContent === n &&
        window.tumblewatchReport.panels.length === 5, name);
      await assertPanelsDrawn(page, name);
      assert.equal(await page.evaluate(() => window.tumblewatchReport.markers), alarms, `${name}: every alarm marked`);
      const red = await canvasPixels(page, 'panels', 0, ALARM_RGB);
      assert.ok(red.close > 50, `${name}: ${red.close} pixels of alarm markers`);
    }
    await shot(page, 'eval-detected-fall.png');

    // Drag to zoom: every panel follows; a double-click shows it all again.
    const whole = await ranges(page);
    await drag(page, '.panel:nth-of-type(2) .u-over', 0.3, 0.5);
    const zoomed = await ranges(page);
    assert.ok(zoomed[0][1] - zoomed[0][0] < (whole[0][1] - whole[0][0]) * 0.3, `zoomed to ${zoomed[0]}`);
    for (const r of zoomed) assert.deepEqual(r, zoomed[0]);
    await shot(page, 'eval-zoomed.png');
    await page.locator('.panel:nth-of-type(3) .u-over').dblclick();
    assert.deepEqual(await ranges(page), whole);
  });
});

describe('plot --html', () => {
  test('a 73,909-sample recording zooms from the whole down to single samples', async () => {
    const { page, readyMs } = await open(path.join(dir, 'long.html'));
    await assertPanelsDrawn(page, 'long_mixed');
    assert.equal(await page.evaluate(() => window.tumblewatchReport.markers), 15);
    await shot(page, 'plot-long-mixed.png');
    let bucket = await page.evaluate(() => window.tumblewatchReport.chart.bucket);
    assert.ok(bucket > 1, 'the whole recording is shown by bucket');
    for (let i = 0; i < 6 && bucket > 1; i++) {
      await drag(page, '.panel:nth-of-type(2) .u-over', 0.45, 0.55);
      await ranges(page);
      bucket = await page.evaluate(() => window.tumblewatchReport.chart.bucket);
    }
    assert.equal(bucket, 1, 'zoomed in far enough, each point is a sample');
    const [[min, max]] = await ranges(page);
    assert.ok((max - min) * 50 < 2000, `${(max - min) * 50} samples in view`);
    await assertPanelsDrawn(page, 'long_mixed zoomed');
    await shot(page, 'plot-long-mixed-samples.png');
    console.log(`# plot of 73,909 samples: ${megabytes(path.join(dir, 'long.html'))}, ready in ${Math.round(readyMs)} ms`);
  });

  test('a 2,000,000-sample recording opens and marks every alarm at every zoom', async () => {
    const file = path.join(dir, 'two_million.html');
    const { page, readyMs } = await open(file);
    await assertPanelsDrawn(page, 'two million samples');
    const alarms = await page.evaluate(() => window.tumblewatchReport.chart.rec.alarms.length);
    assert.ok(alarms > 300);
    assert.equal(await page.evaluate(() => window.tumblewatchReport.markers), alarms, 'whole recording: every alarm');
    await shot(page, 'plot-two-million.png');
    await page.evaluate(() => window.tumblewatchReport.zoomTo(1400, 1450));
    const inView = await page.evaluate(() => window.tumblewatchReport.chart.rec.alarms
      .filter(a => a.sample / 50 >= 1400 && a.sample / 50 <= 1450).length);
    await ranges(page);
    assert.equal(await page.evaluate(() => window.tumblewatchReport.markers), inView);
    console.log(`# plot of 2,000,000 samples: ${megabytes(file)}, written in ${pages.twoMillionWriteMs} ms, ` +
      `ready in ${Math.round(readyMs)} ms`);
  });
});

describe('plot --html of a recording kept in buckets', () => {
  test('4,000,000 samples: drawn in buckets of 4 at the finest, every alarm marked', async () => {
    const file = path.join(dir, 'four_million.html');
    const { page, readyMs } = await open(file);
    await assertPanelsDrawn(page, 'four million samples');
    const rec = await page.evaluate(() => ({ bucket: window.tumblewatchReport.chart.rec.bucket,
      alarms: window.tumblewatchReport.chart.rec.alarms.length }));
    assert.equal(rec.bucket, 4);
    assert.ok(rec.alarms > 700);
    assert.equal(await page.evaluate(() => window.tumblewatchReport.markers), rec.alarms, 'whole recording: every alarm');
    await page.evaluate(() => window.tumblewatchReport.zoomTo(1400, 1402));
    await ranges(page);
    assert.equal(await page.evaluate(() => window.tumblewatchReport.chart.bucket), 4, 'the finest level is the page\'s');
    await assertPanelsDrawn(page, 'four million samples, zoomed');
    const inView = await page.evaluate(() => window.tumblewatchReport.chart.rec.alarms
      .filter(a => a.sample / 50 >= 1400 && a.sample / 50 <= 1402).length);
    assert.equal(await page.evaluate(() => window.tumblewatchReport.markers), inView);
    await shot(page, 'plot-four-million-zoomed.png');
    console.log(`# plot of 4,000,000 samples: ${megabytes(file)}, written in ${pages.fourMillionWriteMs} ms, ` +
      `ready in ${Math.round(readyMs)} ms`);
  });
});

describe('scan --html and explain --html', () => {
  test('a chart per parameter, both rates drawn, in the order of the ranking', async () => {
    const { page } = await open(path.join(dir, 'scan.html'));
    const charts = await page.evaluate(() => window.tumblewatchReport.scatters.map(s => ({ title: s.title, points: s.points })));
    assert.deepEqual(charts.map(c => c.title).sort(), ['fallWindow', 'impactHardSum', 'tiltLimit']);
    assert.equal(charts.find(c => c.title === 'fallWindow').points, 63);
    for (let i = 0; i < charts.length; i++) {
      const pixels = await canvasPixels(page, 'scatters', i);
      assert.ok(pixels.coloured > 100, `${charts[i].title}: ${pixels.coloured} coloured pixels`);
    }
    await shot(page, 'scan.png');
  });

  test('the missed fall first, its chart with the closest approaches marked', async () => {
    const { page } = await open(path.join(dir, 'explain.html'));
    const first = await page.locator('.recordings tbody tr td').first().textContent();
    assert.equal(first, 'missed fall');
    assert.equal(await page.locator('#chart .title').textContent(), 'rec/quiet_fall.bin');
    await assertPanelsDrawn(page, 'explained missed fall');
    const marks = await canvasPixels(page, 'panels', 0, [217, 119, 6]);
    assert.ok(marks.close > 20, `${marks.close} pixels of closest-approach marks`);
    await shot(page, 'explain.png');
  });
});

describe('sweep --html and report', () => {
  test('one chart of every configuration, the front with its intervals, the base, and a switch to the tuning and ' +
    'held-out figures', async () => {
    const { page } = await open(path.join(dir, 'sweep.html'));
    const charts = () => page.evaluate(() => window.tumblewatchReport.scatters.map(s =>
      ({ title: s.title, points: s.points, configurations: s.configurations, whiskers: s.whiskers, width: s.plot.width,
        drawn: s.plot.data[1].filter(v => v != null).length })));
    const rows = readFileSync(path.join(dir, 'sweep.csv'), 'utf8').trim().split('\n').length - 2;
    assert.equal(rows, 8);
    let scatters = await charts();
    assert.equal(scatters.length, 1, 'one chart');
    assert.equal(scatters[0].configurations, rows);
    assert.equal(scatters[0].points, rows);
    assert.equal(scatters[0].drawn, rows);
    assert.ok(scatters[0].whiskers >= 1, 'the front has whiskers');
    assert.ok(scatters[0].width > 1000, `the chart uses the page: ${scatters[0].width} px`);
    // False alarms per hour on the asinh (linear near 0, logarithmic beyond) axis.
    assert.equal(await page.evaluate(() => window.tumblewatchReport.scatters[0].plot.scales.x.distr), 4);
    assert.ok((await canvasPixels(page, 'scatters', 0)).coloured > 40);
    // Hovering a point names its configuration and its intervals.
    const first = await page.evaluate(() => {
      const u = window.tumblewatchReport.scatters[0].plot;
      const r = u.over.getBoundingClientRect();
      return { x: r.left + u.valToPos(u.data[0][0], 'x'), y: r.top + u.valToPos(u.data[1][0] ?? u.data[3][0], 'y') };
    });
    await page.mouse.move(first.x, first.y);
    await page.waitForSelector('.scatter .tip', { state: 'visible' });
    const tip = await page.locator('.scatter .tip').first().textContent();
    assert.match(tip, /fallWindow=\d+ tiltLimit=\d+/);
    await shot(page, 'sweep-folds.png');
    // The switch shows the tuning parts and the held-out groups in the same place.
    for (const [view, title] of [['tune', /Tuning parts/], ['held', /Held-out/], ['all', /All recordings/]]) {
      await page.click(`.views button[data-view="${view}"]`);
      scatters = await charts();
      assert.equal(scatters.length, 1, view);
      assert.match(scatters[0].title, title);
      assert.equal(scatters[0].points, rows, view);
      assert.equal(await page.evaluate(() => window.tumblewatchReport.view), view);
      assert.equal(await page.locator(`.views button[data-view="${view}"]`).getAttribute('aria-pressed'), 'true');
      assert.ok((await canvasPixels(page, 'scatters', 0)).coloured > 40, view);
      if (view === 'held') await shot(page, 'sweep-held-out.png');
    }
  });

  test('the sweep\'s page at 1,400 and 800 pixels: the chart fits, the nested table shows its figures first', async () => {
    for (const width of [1400, 800]) {
      const { page } = await open(path.join(dir, 'sweep.html'), { width });
      const layout = await page.evaluate(() => {
        const u = window.tumblewatchReport.scatters[0].plot;
        const heads = [...document.querySelectorAll('table.nested thead th')].map(th => th.textContent);
        return { chart: u.root.getBoundingClientRect().right, plot: u.width, page: document.documentElement.scrollWidth,
          heads };
      });
      assert.ok(layout.chart <= width, `${width}: the chart ends at ${layout.chart}`);
      assert.ok(layout.plot >= width * 0.8, `${width}: the chart is ${layout.plot} px wide`);
      assert.ok(layout.page <= width, `${width}: the page is ${layout.page} px wide`);
      assert.deepEqual(layout.heads.slice(0, 7), ['fold', 'config', 'TP', 'FN', 'FP', 'TN', 'sens.'], `${width}`);
      assert.deepEqual(layout.heads.slice(-2), ['varied values', 'held-out subjects'], `${width}`);
      // The first fold's figures are on the screen without scrolling sideways.
      const sens = await page.locator('table.nested tbody tr').first().locator('td').nth(6).boundingBox();
      assert.ok(sens.x + sens.width <= width, `${width}: sensitivity at ${sens.x}`);
      assert.match(await page.locator('p.pooled').textContent(), /over subjects \[/);
      await shot(page, `sweep-${width}.png`);
    }
  });

  test('the nested selection: a row per fold, their mean and spread, and each fold drawn', async () => {
    const summary = JSON.parse(readFileSync(path.join(dir, 'sweep.json'), 'utf8'));
    for (const file of ['sweep.html', 'report-folds.html']) {
      const { page } = await open(path.join(dir, file));
      const nested = await page.evaluate(() => {
        const n = window.tumblewatchReport.nested;
        return n && { folds: n.folds, chosen: n.chosen, points: n.points };
      });
      assert.ok(nested, file);
      assert.equal(nested.folds, 3, file);
      assert.equal(nested.chosen, summary.nested.chosen, file);
      assert.ok(nested.points >= 2 * nested.chosen, file);
      assert.equal(await page.locator('table.nested tbody tr').count(), 3 + 2, file);
      const first = summary.nested.folds.find(f => f.config != null);
      if (first) {
        assert.match(await page.locator('table.nested tbody tr').nth(first.fold - 1).textContent(),
          new RegExp('fallWindow=' + first.values.fallWindow));
      }
      assert.ok((await canvasPixels(page, 'nested', undefined)).coloured > 40, file);
      if (file === 'sweep.html') await shot(page, 'sweep-nested.png');
    }
  });

  test('report of a finished sweep (JSON lines): the same scatter', async () => {
    const { page } = await open(path.join(dir, 'report.html'));
    const [s] = await page.evaluate(() => window.tumblewatchReport.scatters.map(s => ({ points: s.points, n: s.configurations })));
    assert.equal(s.n, 13);
    assert.equal(s.points, 13);
    assert.ok((await canvasPixels(page, 'scatters', 0)).coloured > 40);
    const before = await page.evaluate(() => window.tumblewatchReport.scatters[0].plot.scales.x.max);
    await drag(page, '.scatter .u-over', 0.05, 0.4);
    const after = await page.evaluate(() => window.tumblewatchReport.scatters[0].plot.scales.x.max);
    assert.ok(after < before, `zoom: ${before} -> ${after}`);
    await shot(page, 'sweep-report.png');
  });
});

describe('the shared real recordings', () => {
  const real = path.join(SHARED_DATA, 'real');
  const present = SHARED_DATA !== '' && existsSync(real);
  test('eval --html of every real recording: size and time to open', { skip: present ? false : `no ${real}: skipped` },
    async () => {
      const file = path.join(dir, 'real.html');
      const started = Date.now();
      try {
        tumblewatch(['eval', real, '-q', '--html', file]);
      } catch (e) {
        assert.equal(e.status, 0, 'eval of the real recordings');
      }
      const written = Date.now() - started;
      const { page, readyMs } = await open(file);
      await assertPanelsDrawn(page, 'real set');
      const count = await page.locator('.recordings tbody tr').count();
      await shot(page, 'eval-real.png');
      const size = statSync(file).size;
      assert.ok(size < 15e6, `${size} bytes`);
      console.log(`# eval of the real recordings (${count}): ${megabytes(file)}, written in ${written} ms, ` +
        `ready in ${Math.round(readyMs)} ms`);
    });
  if (!present) console.log(`# ${real} is absent: the real-set size and timing are skipped`);
});
