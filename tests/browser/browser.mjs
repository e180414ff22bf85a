// Opening a report page in Debian's Chromium, driven by playwright-core:
// never a browser download, no network (every request other than a file
// URL is aborted), and every console error or page error collected.
import { createRequire } from 'node:module';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const require = createRequire(import.meta.url);
const here = path.dirname(new URL(import.meta.url).pathname);
const { chromium } = require(path.join(here, '../../web/node_modules/playwright-core'));

export const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

// Starts Chromium with a fresh profile folder, removed when it closes.
// Returns the browser's context (newPage, close).
export async function launch() {
  const profile = mkdtempSync(path.join(tmpdir(), 'tumblewatch-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1400, height: 1000 },
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  const close = context.close.bind(context);
  context.close = async () => {
    await close();
    rmSync(profile, { recursive: true, force: true });
  };
  return context;
}

// Opens file in a new page of the given size and waits until the report says
// it is ready. Returns the page, the problems it logged and the time from
// the start of navigation to ready (ms, the page's own clock).
export async function openReport(browser, file, { width = 1400, height = 1000, hash = '' } = {}) {
  const page = await browser.newPage();
  await page.setViewportSize({ width, height });
  const problems = [];
  const blocked = [];
  page.on('console', m => {
    if (m.type() === 'error') problems.push(`console error: ${m.text()}`);
  });
  page.on('pageerror', e => problems.push(`page error: ${e.message}`));
  await page.route('**/*', route => {
    const url = route.request().url();
    if (url.startsWith('file:')) return route.continue();
    blocked.push(url);
    return route.abort();
  });
  await page.goto(pathToFileURL(file).href + hash);
  await page.waitForFunction(() => window.tumblewatchReport && window.tumblewatchReport.ready, null,
    { timeout: 120000 });
  const readyMs = await page.evaluate(() => window.tumblewatchReport.readyMs);
  return { page, problems, blocked, readyMs };
}

// Pixels of a canvas inside its plotting area: painted (not the white or
// transparent background), coloured (not the greys of the grid either),
// and close to a given colour.
export async function canvasPixels(page, selector, index, near) {
  return page.evaluate(([selector, index, near]) => {
    const plots = window.tumblewatchReport[selector];
    const one = index == null ? plots : plots[index];
    const u = one.plot || one;
    const { left, top, width, height } = u.bbox;
    const img = u.ctx.getImageData(Math.round(left), Math.round(top), Math.round(width), Math.round(height)).data;
    let painted = 0;
    let coloured = 0;
    let close = 0;
    for (let i = 0; i < img.length; i += 4) {
      const [r, g, b, a] = [img[i], img[i + 1], img[i + 2], img[i + 3]];
      if (a < 128) continue;
      if (Math.min(r, g, b) < 235) painted++;
      if (Math.max(r, g, b) - Math.min(r, g, b) > 60) coloured++;
      if (near && Math.abs(r - near[0]) < 40 && Math.abs(g - near[1]) < 40 && Math.abs(b - near[2]) < 40) close++;
    }
    return { painted, coloured, close, total: img.length / 4 };
  }, [selector, index, near || null]);
}
