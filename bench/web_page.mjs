// How fast the page offers a thousand hard gestures in Chromium: the folder is dropped on the
// page, and the time runs from the page starting the run to every row being drawn with its
// link. Best of three runs with one worker and with two. Goals: within 3 s with two workers,
// and two workers at least 1.8x one.
// node bench/web_page.mjs PAGE_DIR FOLDER [--runs N]
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import * as web from '../tests/web/browser.mjs';

const args = process.argv.slice(2);
const runsAt = args.indexOf('--runs');
const runs = runsAt >= 0 ? Number(args.splice(runsAt, 2)[1]) : 3;
const [pageDir, folder] = args.map((arg) => path.resolve(arg));
const count = fs.readdirSync(folder).length;

const server = await web.serve(pageDir);
const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'skm-bench-page-'));
const {browser} = await web.launch('chromium', downloads);
const best = {};
try {
  for (const workers of [1, 2]) {
    for (let run = 0; run < runs; ++run) {
      const {page} = await web.openPage(browser, 'chromium', `${server.url}index.html?workers=${workers}`,
                                        downloads);
      await web.drop(page, [folder]);
      await web.waitFinished(page, 600000);
      const [seconds, convertedAt] = await page.evaluate(() => {
        const mark = (name) => performance.getEntriesByName(name)[0].startTime;
        const since = (name) => (mark(name) - mark('skm-started')) / 1000;
        return [since('skm-finished'), since('skm-converted')];
      });
      const offered = await page.$$eval('#results a.package-link', (links) => links.length);
      await page.close();
      console.log(`${workers} worker${workers > 1 ? 's' : ''}, run ${run + 1}: ${count} gestures, ` +
                  `${offered} packages offered in ${seconds.toFixed(2)} s ` +
                  `(the last converted at ${convertedAt.toFixed(2)} s)`);
      best[workers] = Math.min(best[workers] ?? Infinity, seconds);
    }
  }
} finally {
  await browser.close();
  server.close();
  fs.rmSync(downloads, {recursive: true, force: true});
}
console.log(`best: 1 worker ${best[1].toFixed(2)} s, 2 workers ${best[2].toFixed(2)} s ` +
            `(goal 3 s); 2 workers at ${(best[1] / best[2]).toFixed(2)}x one (goal 1.8x)`);
