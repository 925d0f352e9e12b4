// What the page tests and the page benchmark share: a static server on 127.0.0.1 for the page
// folder, Debian's browsers started through puppeteer-core (never a downloaded one), and the
// steps a user takes on the page.
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

import {puppeteer} from './deps.mjs';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.css': 'text/css',
  '.wasm': 'application/wasm',
  '.txt': 'text/plain; charset=utf-8',
};

// Every request reaches the server (no-store), which counts them by path. `types` overrides the
// content type by extension.
export async function serve(root, types = {}) {
  const counts = new Map();
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    counts.set(url.pathname, (counts.get(url.pathname) ?? 0) + 1);
    const file = path.join(root, path.normalize(decodeURIComponent(url.pathname)));
    if (!file.startsWith(root)) {
      response.writeHead(403).end();
      return;
    }
    fs.readFile(file, (error, data) => {
      if (error) {
        response.writeHead(404).end();
        return;
      }
      const type = types[path.extname(file)] ?? TYPES[path.extname(file)];
      response.writeHead(200, {'content-type': type || 'application/octet-stream',
                               'cache-control': 'no-store'});
      response.end(data);
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close(),
          requests: (pathname) => counts.get(pathname) ?? 0};
}

export const BROWSERS = {
  chromium: '/usr/bin/chromium',
  firefox: '/usr/bin/firefox-esr',
};

// Starts one browser with a fresh profile; downloads land in `downloads`. `dark` gives Firefox
// the dark theme (Chromium's is switched per page).
export async function launch(name, downloads, {dark = false} = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), `skm-web-${name}-`));
  if (name === 'chromium') {
    const browser = await puppeteer.launch({
      executablePath: BROWSERS.chromium,
      headless: true,
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
             '--disable-background-networking', '--disable-component-update', '--disable-sync',
             `--user-data-dir=${profile}`],
      userDataDir: profile,
    });
    return {browser, profile};
  }
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: BROWSERS.firefox,
    headless: true,
    userDataDir: profile,
    extraPrefsFirefox: {
      'browser.download.folderList': 2,
      'browser.download.dir': downloads,
      'browser.download.useDownloadDir': true,
      'browser.download.always_ask_before_handling_new_types': false,
      'browser.helperApps.neverAsk.saveToDisk': 'application/octet-stream,application/zip',
      'browser.download.manager.showWhenStarting': false,
      // The downloads panel would open over the page and take the keyboard.
      'browser.download.alwaysOpenPanel': false,
      'network.proxy.type': 0,
      ...(dark ? {'layout.css.prefers-color-scheme.content-override': 0} : {}),
    },
  });
  return {browser, profile};
}

// Opens the page with the watchers the tests read: uncaught errors, long tasks (where the
// browser has the Long Tasks API) and the longest gap between 50 ms heartbeats.
export async function openPage(browser, name, url, downloads) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error.message || error)));
  page.on('console', (message) => { if (process.env.SKM_DEBUG) console.log('CONSOLE', message.text());
    if (message.type() === 'error') errors.push('console: ' + message.text());
  });
  if (name === 'chromium') {
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
  }
  await page.evaluateOnNewDocument(() => {
    window.__longTasks = [];
    window.__heartbeatGap = 0;
    // observe() ignores a type the browser lacks, so ask first.
    window.__longTaskApi = (PerformanceObserver.supportedEntryTypes || []).includes('longtask');
    if (window.__longTaskApi) {
      new PerformanceObserver((list) => {
        for (const entry of list.getEntries()) window.__longTasks.push(entry.duration);
      }).observe({type: 'longtask', buffered: true});
    }
    let last = performance.now();
    setInterval(() => {
      const now = performance.now();
      window.__heartbeatGap = Math.max(window.__heartbeatGap, now - last);
      last = now;
    }, 50);
  });
  await page.goto(url, {waitUntil: 'load'});
  await page.waitForFunction(() => document.getElementById('version').textContent !== '');
  return {page, errors};
}

export async function resetWatch(page) {
  await page.evaluate(() => {
    window.__longTasks = [];
    window.__heartbeatGap = 0;
  });
}

export async function watch(page) {
  return page.evaluate(() => ({
    longTaskApi: window.__longTaskApi,
    longTasks: window.__longTasks.slice(),
    heartbeatGap: window.__heartbeatGap,
  }));
}

export async function waitFinished(page, timeout = 120000) {
  await page.waitForSelector('body[data-state=finished]', {timeout});
}

export async function chooseFiles(page, files) {
  const input = await page.$('#file-input');
  await input.uploadFile(...files);
}

export async function chooseFolder(page, folder) {
  const input = await page.$('#folder-input');
  await input.uploadFile(folder);
}

// Drops files and folders on the drop zone (or on `where`) the way the operating system hands
// them over.
export async function drop(page, paths, where = '#drop-zone') {
  const zone = await page.$(where);
  const box = await zone.boundingBox();
  const point = {x: box.x + box.width / 2, y: box.y + box.height / 2};
  const data = {items: [], files: paths, dragOperationsMask: 1};
  await page.mouse.dragEnter(point, data);
  await page.mouse.dragOver(point, data);
  await page.mouse.drop(point, data);
}

export async function rows(page) {
  return page.$$eval('#results li .line', (lines) => lines.map((line) => line.textContent));
}

// Waits until `name` is complete in the download folder and returns its bytes. A browser that
// still remembers an earlier download of that name saves it as "name(1).ext" or "name (1).ext".
export async function downloaded(folder, name, timeout = 30000) {
  const dot = name.lastIndexOf('.');
  const escape = (text) => text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  const pattern = new RegExp(`^${escape(name.slice(0, dot))}( ?\\(\\d+\\))?${escape(name.slice(dot))}$`);
  const start = Date.now();
  for (;;) {
    const names = fs.readdirSync(folder);
    const busy = names.some((f) => f.endsWith('.crdownload') || f.endsWith('.part'));
    const found = names.filter((f) => pattern.test(f))
        .map((f) => path.join(folder, f))
        .sort((a, b) => fs.statSync(b).mtimeMs - fs.statSync(a).mtimeMs);
    if (!busy && found.length) {
      const bytes = fs.readFileSync(found[0]);
      if (bytes.length > 0) return bytes;
    }
    if (Date.now() - start > timeout) throw new Error(`no download ${name} in ${folder}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// What the command line makes of `sources` (a folder or a list of paths) run from `cwd`: the
// report and the package bytes.
export function nativeRun(cli, cwd, sources) {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'skm-web-cli-'));
  let stdout;
  try {
    stdout = execFileSync(cli, ['--json', '-q', ...[sources].flat(), out],
                          {cwd, encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'],
                           maxBuffer: 1 << 26});
  } catch (error) {
    stdout = error.stdout;
  }
  const report = JSON.parse(stdout);
  for (const entry of report.files) {
    if (entry.package) entry.bytes = fs.readFileSync(entry.package);
  }
  fs.rmSync(out, {recursive: true, force: true});
  return report;
}

// The line the page shows for a source, in the command line's words.
export function expectedLine(label, entry) {
  if (entry.status === 'converted') {
    return `${label}: converted (${entry.frames} frame${entry.frames === 1 ? '' : 's'})`;
  }
  return `${label}: ${entry.status} (${entry.reason})`;
}
