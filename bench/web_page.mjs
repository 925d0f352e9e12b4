// How fast the page offers a thousand hard gestures in Chromium: the folder is dropped on the
// page, and the time runs from the drop (the user's choice) to every row being drawn with its
// link; beside it the time from the page starting the run (the folder read) and from the drop
// to the last package converted. Several runs with one worker and with two, each figure as
// best / median / worst, with the load average around them, since a shared machine makes the
// wall clock noisy. Goal: two workers offer every package within 1 s of the drop.
//
// With --read-only, each run is followed by one of a copy of the page whose workers read each
// source and answer it as not converted: what the browser alone takes to hand the files over,
// the floor under the page's time on the machine at hand.
// node bench/web_page.mjs PAGE_DIR FOLDER [--runs N] [--workers 1,2] [--read-only]
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import * as web from '../tests/web/browser.mjs';
import {settle} from './settle.mjs';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? args.splice(at, 2)[1] : fallback;
};
const runs = Number(option('--runs', 5));
const workerCounts = option('--workers', '1,2').split(',').map(Number);
const readOnly = args.includes('--read-only');
const [pageDir, folder] = args.filter((arg) => arg !== '--read-only').map((arg) => path.resolve(arg));
const count = fs.readdirSync(folder).length;

const spread = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const median = sorted[Math.floor(sorted.length / 2)];
  return `${sorted[0].toFixed(2)} / ${median.toFixed(2)} / ${sorted.at(-1).toFixed(2)} s`;
};
const load = () => os.loadavg().map((n) => n.toFixed(1)).join(' ');
const withWorkers = (workers) => `${workers} worker${workers > 1 ? 's' : ''}`;

const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'skm-bench-page-'));
const root = fs.mkdtempSync(path.join(os.tmpdir(), 'skm-bench-pages-'));
const pages = [{label: '', dir: 'page'}];
fs.cpSync(pageDir, path.join(root, 'page'), {recursive: true});
if (readOnly) {
  fs.cpSync(pageDir, path.join(root, 'reading'), {recursive: true});
  const worker = path.join(root, 'reading', 'worker.js');
  const call = 'module._skm_convert(source, size, name)';
  const text = fs.readFileSync(worker, 'utf8');
  if (!text.includes(call)) throw new Error(`${worker} has no ${call} to take out`);
  fs.writeFileSync(worker, text.replace(call, '1 /* skipped */'));
  pages.push({label: ' reading only', dir: 'reading'});
}
const server = await web.serve(root);
const {browser} = await web.launch('chromium', downloads);
const figures = {};
console.log(`load average before: ${load()} (${os.cpus().length} cores)`);
try {
  for (const workers of workerCounts) {
    for (let run = 0; run < runs; ++run) {
      for (const {label, dir} of pages) {
        const key = withWorkers(workers) + label;
        const times = figures[key] ??= {workers, label, chosen: [], started: [], converted: []};
        await settle();
        const {page} = await web.openPage(browser, 'chromium',
                                          `${server.url}${dir}/index.html?workers=${workers}`, downloads);
        // The workers are ready (openPage waits for the version line), as when a user drops.
        await page.evaluate(() => performance.mark('skm-bench-drop'));
        await web.drop(page, [folder]);
        await web.waitFinished(page, 600000);
        const [chosen, started, converted] = await page.evaluate(() => {
          const mark = (name) => performance.getEntriesByName(name)[0].startTime;
          const finished = mark('skm-finished');
          return [(finished - mark('skm-bench-drop')) / 1000, (finished - mark('skm-started')) / 1000,
                  (mark('skm-converted') - mark('skm-bench-drop')) / 1000];
        });
        const offered = await page.$$eval('#results a.package-link', (links) => links.length);
        await page.close();
        console.log(`${key}, run ${run + 1}: ${count} gestures, ` +
                    `${offered} packages offered ${chosen.toFixed(2)} s after the drop ` +
                    `(${started.toFixed(2)} s after the run started; the last ${label ? 'read' : 'converted'} ` +
                    `at ${converted.toFixed(2)} s); load ${load()}`);
        times.chosen.push(chosen);
        times.started.push(started);
        times.converted.push(converted);
      }
    }
  }
} finally {
  await browser.close();
  server.close();
  fs.rmSync(downloads, {recursive: true, force: true});
  fs.rmSync(root, {recursive: true, force: true});
}
console.log(`load average after: ${load()}`);
console.log('best / median / worst:');
for (const [key, times] of Object.entries(figures)) {
  console.log(`  ${key}: done after the drop ${spread(times.chosen)}, after the run started ` +
              `${spread(times.started)}, last ${times.label ? 'read' : 'converted'} ${spread(times.converted)}`);
}
if (figures[withWorkers(1)] && figures[withWorkers(2)]) {
  const best = (workers) => Math.min(...figures[withWorkers(workers)].chosen);
  console.log(`two workers at ${(best(1) / best(2)).toFixed(2)}x one (best runs); goal: offered within 1 s ` +
              `of the drop with two workers (best run ${best(2).toFixed(2)} s)`);
}
