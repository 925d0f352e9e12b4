// The web module's speed against the same in-memory work done natively, one thread each: every
// source of a folder is converted per round (the package bytes and the package read back
// included), in processor time on both sides. The two take turns, module then native, and the
// ratio is the median of the turns' own ratios: the host's speed drifts within a minute, and two
// bests taken apart compare two different machines. Goal: the module at 0.8x native or better.
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
  let nativeBest = Infinity;
  let converted = 0;
  const ratios = [];
  // Each turn is the better of two rounds on each side: the module's first round also compiles
  // it, the native side's first warms a fresh process.
  for (let turn = 0; turn < rounds; ++turn) {
    let seconds = Infinity;
    for (let round = 0; round < 2; ++round) {
      converted = 0;
      const start = process.cpuUsage();
      for (let n = 0; n < repeat; ++n) {
        for (const [label, bytes] of sources) {
          if (convert(module, bytes, label).status === 'converted') converted++;
        }
      }
      const used = process.cpuUsage(start);
      seconds = Math.min(seconds, (used.user + used.system) / 1e6 / repeat);
      worst = Math.max(worst, (used.user + used.system) / 1e6 / repeat);
    }
    best = Math.min(best, seconds);
    const nativeRun = JSON.parse(execFileSync(native, [folder, '2'], {encoding: 'utf8'}));
    nativeBest = Math.min(nativeBest, nativeRun.seconds);
    ratios.push(nativeRun.seconds / seconds);
  }
  converted /= repeat;
  ratios.sort((x, y) => x - y);
  const ratio = ratios[(ratios.length - 1) >> 1];
  console.log(`${folder}: ${sources.length} gestures (${converted} converted); ` +
              `module best ${(best * 1000).toFixed(0)} ms, worst ${(worst * 1000).toFixed(0)} ms; ` +
              `native best ${(nativeBest * 1000).toFixed(0)} ms; ` +
              `module at ${ratio.toFixed(2)}x native, median of ${ratios.length} turns ` +
              `(${ratios[0].toFixed(2)}–${ratios[ratios.length - 1].toFixed(2)}; goal 0.8x); ` +
              `load average ${load} on ${os.cpus().length} cores`);
}
