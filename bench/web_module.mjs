// The web module's speed against the same in-memory work done natively, one thread each: every
// source of a folder is converted per round (the package bytes and the package read back
// included), the best round counts, in processor time on both sides. Goal: the module at 0.8x the native speed or better.
// node bench/web_module.mjs NATIVE_convert_memory PAGE_DIR FOLDER... [--rounds N]
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import {convert, loadModule} from '../tests/web/skm-module.mjs';

const args = process.argv.slice(2);
const roundsAt = args.indexOf('--rounds');
const rounds = roundsAt >= 0 ? Number(args.splice(roundsAt, 2)[1]) : 5;
const [native, pageDir, ...folders] = args;
const module = await loadModule(pageDir);

for (const folder of folders) {
  const names = fs.readdirSync(folder).sort();
  const sources = names.map((name) => [path.join(folder, name), fs.readFileSync(path.join(folder, name))]);
  // A small folder is gone through several times per round, as the native side does.
  const repeat = Math.ceil(1000 / sources.length);
  const load = os.loadavg().map((n) => n.toFixed(1)).join(' ');
  let best = Infinity;
  let worst = 0;
  let converted = 0;
  for (let round = 0; round < rounds; ++round) {
    converted = 0;
    const start = process.cpuUsage();
    for (let n = 0; n < repeat; ++n) {
      for (const [label, bytes] of sources) {
        if (convert(module, bytes, label).status === 'converted') converted++;
      }
    }
    const used = process.cpuUsage(start);
    best = Math.min(best, (used.user + used.system) / 1e6 / repeat);
    worst = Math.max(worst, (used.user + used.system) / 1e6 / repeat);
  }
  converted /= repeat;
  const nativeRun = JSON.parse(execFileSync(native, [folder, String(rounds)], {encoding: 'utf8'}));
  const wasmRate = sources.length / best;
  console.log(`${folder}: ${sources.length} gestures (${converted} converted); ` +
              `module ${wasmRate.toFixed(0)}/s (best ${(best * 1000).toFixed(0)} ms, worst ${(worst * 1000).toFixed(0)} ms), ` +
              `native ${nativeRun.perSecond.toFixed(0)}/s (${(nativeRun.seconds * 1000).toFixed(0)} ms); ` +
              `module at ${(wasmRate / nativeRun.perSecond).toFixed(2)}x native (goal 0.8x); ` +
              `load average ${load} on ${os.cpus().length} cores`);
}
