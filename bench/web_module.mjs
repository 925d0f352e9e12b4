// The web module's speed against the same in-memory work done natively, one thread each: every
// source of a folder is converted per round (the package bytes and the package read back
// included). The two take turns, module then native, and the ratio is the median of the turns'
// own ratios: the host's speed drifts within a minute, and two bests taken apart compare two
// different machines. Goal: the module at 0.8x native or better.
//
// Under Node (the default) both sides count processor time. With --browser the module runs in
// headless Chromium, the engine the page meets, on the page's main thread; a page has no
// processor clock, so that side counts wall time, which can only make the module look slower.
//
// Beside the goal's figure it gives the module's best of as many rounds run back to back, as a
// worker converts a long list, and under Node the minor page faults of its best rounds: after
// each native turn the engine's heap takes its pages again, which costs real time where page
// faults are dear (a virtual machine), and is no part of the module's own speed.
// node bench/web_module.mjs NATIVE_convert_memory PAGE_DIR FOLDER... [--rounds N] [--browser]
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import * as web from '../tests/web/browser.mjs';
import {convert, loadModule} from '../tests/web/skm-module.mjs';

const args = process.argv.slice(2);
const option = (name, values) => {
  const at = args.indexOf(name);
  return at < 0 ? null : args.splice(at, 1 + values).slice(1);
};
const rounds = Number((option('--rounds', 1) ?? [5])[0]);
const inBrowser = option('--browser', 0) !== null;
const [native, pageDir, ...folders] = args;

// Converts the folder's sources `repeat` times in the page; the milliseconds it took.
function browserRound(repeat) {
  const module = window.__module;
  let converted = 0;
  const start = performance.now();
  for (let n = 0; n < repeat; ++n) {
    for (const [label, bytes] of window.__sources) {
      const source = module._skm_alloc(bytes.length);
      const name = module._skm_alloc(label.length);
      module.HEAPU8.set(bytes, source);
      module.HEAPU8.set(label, name);
      if (module._skm_convert(source, bytes.length, name) === 0) {
        // The package leaves the module, as the worker hands it to the page.
        const at = module._skm_package();
        module.HEAPU8.slice(at, at + module._skm_package_size());
        converted++;
      }
      module._skm_free(source);
      module._skm_free(name);
    }
  }
  return {ms: performance.now() - start, converted};
}

// One engine for the module: a round converts `repeat` passes and gives seconds per pass.
async function moduleSide(folder, names) {
  if (!inBrowser) {
    const module = await loadModule(pageDir);
    const sources = names.map((name) => [name, fs.readFileSync(path.join(folder, name))]);
    return {
      round(repeat) {
        let converted = 0;
        const faults = process.resourceUsage().minorPageFault;
        const start = process.cpuUsage();
        for (let n = 0; n < repeat; ++n) {
          for (const [label, bytes] of sources) {
            if (convert(module, bytes, label).status === 'converted') converted++;
          }
        }
        const used = process.cpuUsage(start);
        return {seconds: (used.user + used.system) / 1e6 / repeat, converted: converted / repeat,
                faults: process.resourceUsage().minorPageFault - faults};
      },
      close() {},
    };
  }
  // The page folder and the sources under one origin, beside an empty page to run in.
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'skm-module-bench-'));
  fs.symlinkSync(path.resolve(pageDir), path.join(root, 'page'));
  fs.symlinkSync(path.resolve(folder), path.join(root, 'sources'));
  fs.writeFileSync(path.join(root, 'bench.html'),
                   '<!doctype html><script src="page/skm2trn.js"></script>');
  const server = await web.serve(root);
  const {browser, profile} = await web.launch('chromium', root);
  const page = await browser.newPage();
  await page.goto(server.url + 'bench.html', {waitUntil: 'load'});
  await page.evaluate(async (names) => {
    window.__module = await createSkmModule({locateFile: (file) => 'page/' + file});
    window.__sources = await Promise.all(names.map(async (name) => [
      new TextEncoder().encode(name + '\0'),
      new Uint8Array(await (await fetch('sources/' + encodeURIComponent(name))).arrayBuffer())]));
  }, names);
  return {
    async round(repeat) {
      const {ms, converted} = await page.evaluate(browserRound, repeat);
      return {seconds: ms / 1000 / repeat, converted: converted / repeat};
    },
    async close() {
      await browser.close();
      server.close();
      fs.rmSync(profile, {recursive: true, force: true});
      fs.rmSync(root, {recursive: true, force: true});
    },
  };
}

for (const folder of folders) {
  const names = fs.readdirSync(folder).sort();
  const side = await moduleSide(folder, names);
  // A small folder is gone through several times per round, as the native side does.
  const repeat = Math.ceil(1000 / names.length);
  const load = os.loadavg().map((n) => n.toFixed(1)).join(' ');
  let best = Infinity;
  let bestFaults;
  let worst = 0;
  let nativeBest = Infinity;
  let converted = 0;
  const ratios = [];
  // Each turn is the better of two rounds on each side: the module's first round also compiles
  // it, the native side's first warms a fresh process.
  for (let turn = 0; turn < rounds; ++turn) {
    let seconds = Infinity;
    for (let round = 0; round < 2; ++round) {
      const result = await side.round(repeat);
      converted = result.converted;
      if (result.seconds < best) [best, bestFaults] = [result.seconds, result.faults];
      seconds = Math.min(seconds, result.seconds);
      worst = Math.max(worst, result.seconds);
    }
    const nativeRun = JSON.parse(execFileSync(native, [folder, '2'], {encoding: 'utf8'}));
    nativeBest = Math.min(nativeBest, nativeRun.seconds);
    ratios.push(nativeRun.seconds / seconds);
  }
  let steady = Infinity;
  let steadyFaults;
  for (let round = 0; round < rounds; ++round) {
    const result = await side.round(repeat);
    if (result.seconds < steady) [steady, steadyFaults] = [result.seconds, result.faults];
  }
  await side.close();
  ratios.sort((x, y) => x - y);
  const faults = (n) => (n === undefined ? '' : ` (${n} page faults)`);
  const ratio = ratios[(ratios.length - 1) >> 1];
  console.log(`${folder}: ${names.length} gestures (${converted} converted); ` +
              `module (${inBrowser ? 'Chromium, wall time' : 'Node ' + process.versions.node}) ` +
              `best ${(best * 1000).toFixed(0)} ms${faults(bestFaults)}, ` +
              `worst ${(worst * 1000).toFixed(0)} ms; ` +
              `native best ${(nativeBest * 1000).toFixed(0)} ms; ` +
              `module at ${ratio.toFixed(2)}x native, median of ${ratios.length} turns ` +
              `(${ratios[0].toFixed(2)}–${ratios[ratios.length - 1].toFixed(2)}; goal 0.8x); ` +
              `${rounds} rounds back to back: best ${(steady * 1000).toFixed(0)} ms` +
              `${faults(steadyFaults)}, ${(nativeBest / steady).toFixed(2)}x native best; ` +
              `load average ${load} on ${os.cpus().length} cores`);
}
