// Where the page's processor time goes while it converts a folder in Chromium: each Chromium
// process's CPU time from the drop to the last row, and the renderer's threads by name (the page's main thread
// shows as "chromium", each worker as DedicatedWorker). Two workers can only beat one by as
// much as the work outside the workers (reading the files, drawing the list) leaves room for.
// node bench/web_page_cpu.mjs PAGE_DIR FOLDER [WORKERS,...]   (Linux: reads /proc)
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import * as web from '../tests/web/browser.mjs';
import {settle} from './settle.mjs';

const [pageDir, folder] = process.argv.slice(2, 4).map((arg) => path.resolve(arg));
const counts = (process.argv[4] ?? '1,2').split(',');
const TICK = 100;  // clock ticks per second in /proc/*/stat

const seconds = (stat) => {
  const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
  return (Number(fields[11]) + Number(fields[12])) / TICK;
};
const read = (file) => { try { return fs.readFileSync(file, 'utf8'); } catch { return null; } };

function cpu() {
  const total = {};
  const add = (key, value) => { total[key] = (total[key] ?? 0) + value; };
  for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    const command = read(`/proc/${pid}/cmdline`);
    const stat = read(`/proc/${pid}/stat`);
    if (!command || !stat || !command.includes('skm-web-chromium')) continue;
    const type = (command.match(/--type=([a-z-]+)/) ?? [null, 'browser'])[1];
    add(type, seconds(stat));
    if (type !== 'renderer') continue;
    for (const task of fs.readdirSync(`/proc/${pid}/task`)) {
      const taskStat = read(`/proc/${pid}/task/${task}/stat`);
      if (!taskStat) continue;
      const name = taskStat.slice(taskStat.indexOf('(') + 1, taskStat.lastIndexOf(')'));
      add('renderer ' + (name.startsWith('DedicatedWork') ? `worker ${task}` : name), seconds(taskStat));
    }
  }
  return total;
}

const server = await web.serve(pageDir);
const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'skm-bench-cpu-'));
const {browser} = await web.launch('chromium', downloads);
try {
  for (const workers of counts) {
    await settle();
    const {page} = await web.openPage(browser, 'chromium', `${server.url}index.html?workers=${workers}`,
                                      downloads);
    // From the drop: reading the folder is part of the work.
    const before = cpu();
    await page.evaluate(() => performance.mark('skm-bench-drop'));
    await web.drop(page, [folder]);
    await web.waitFinished(page, 600000);
    const after = cpu();
    const wall = await page.evaluate(() => {
      const mark = (name) => performance.getEntriesByName(name)[0].startTime;
      return (mark('skm-finished') - mark('skm-bench-drop')) / 1000;
    });
    await page.close();
    console.log(`${workers} worker(s): offered ${wall.toFixed(2)} s after the drop; processor seconds ` +
                `(load average ${os.loadavg().map((n) => n.toFixed(1)).join(' ')}):`);
    let total = 0;
    for (const [key, value] of Object.entries(after)) {
      const used = value - (before[key] ?? 0);
      if (!key.startsWith('renderer ')) total += used;
      if (used >= 0.01) console.log(`  ${key.padEnd(32)} ${used.toFixed(2)}`);
    }
    console.log(`  ${'all processes'.padEnd(32)} ${total.toFixed(2)}`);
  }
} finally {
  await browser.close();
  server.close();
  fs.rmSync(downloads, {recursive: true, force: true});
}
