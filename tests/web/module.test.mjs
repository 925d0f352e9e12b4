// The WebAssembly module against the native command line: for every source of the samples, a
// generated corpus and the bad-input corpus, the same status, the same reason in the same words
// and the same package bytes.
// SKM2TRN=native program, SKM_PAGE=page folder, SKM_CORPORA=folders separated by ':'.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {test} from 'node:test';

import {convert, loadModule, plan} from './skm-module.mjs';

const cli = process.env.SKM2TRN;
const pageDir = process.env.SKM_PAGE;
const corpora = (process.env.SKM_CORPORA || '').split(':').filter(Boolean);
const module = await loadModule(pageDir);

function nativeRun(folder) {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'skm-web-native-'));
  let stdout;
  try {
    stdout = execFileSync(cli, ['--json', '-q', folder, out],
                           {encoding: 'utf8', maxBuffer: 1 << 26, stdio: ['ignore', 'pipe', 'ignore']});
  } catch (error) {
    stdout = error.stdout;  // exit status 1: some sources were not converted
  }
  return {out, report: JSON.parse(stdout)};
}

for (const folder of corpora) {
  test(`module matches the command line on ${folder}`, () => {
    const {out, report} = nativeRun(folder);
    const counts = {converted: 0, skipped: 0, failed: 0};
    try {
      assert.ok(report.files.length > 0);
      for (const entry of report.files) {
        const bytes = fs.readFileSync(entry.source);
        const result = convert(module, bytes, entry.source);
        const where = `${entry.source}`;
        assert.equal(result.status, entry.status, where);
        assert.equal(result.reason, entry.reason ?? '', where);
        counts[result.status]++;
        if (entry.status !== 'converted') {
          assert.equal(result.package, null, where);
          continue;
        }
        assert.equal(result.frames, entry.frames, where);
        assert.equal(result.baseName + '.trn', path.basename(entry.package), where);
        const expected = fs.readFileSync(entry.package);
        assert.ok(result.package.equals(expected), `${where}: package bytes differ`);
        assert.ok(result.identifierMatches, where);
        // The parts the page previews lie inside the package, in its order.
        const [button, animation, sound] = result.parts;
        assert.equal(result.package.subarray(button[0], button[0] + 2).toString(), 'BM', where);
        assert.equal(result.package.subarray(animation[0], animation[0] + 3).toString(), 'GIF', where);
        assert.equal(result.package.subarray(sound[0], sound[0] + 4).toString(), 'RIFF', where);
      }
    } finally {
      fs.rmSync(out, {recursive: true, force: true});
    }
    console.log(`# ${folder}: ${JSON.stringify(counts)}`);
  });
}

test('a source the module refuses leaves no package and says why', () => {
  const cut = convert(module, Buffer.from('SKMG01'), 'dropped/cut.skm');
  assert.equal(cut.status, 'failed');
  assert.equal(cut.reason, 'damaged file: the version runs past the end of the file');
  assert.equal(cut.package, null);
  const empty = convert(module, Buffer.alloc(0), 'empty.skm');
  assert.deepEqual([empty.status, empty.reason], ['skipped', 'not a gesture file']);
  const hidden = convert(module, Buffer.from('SKMG'), 'folder/.skm');
  assert.deepEqual([hidden.status, hidden.reason], ['skipped', 'no package name: nothing before the extension']);
  // The module keeps working after refusals.
  const sample = fs.readFileSync(path.join(path.dirname(new URL(import.meta.url).pathname),
                                            '../../samples/wave.skm'));
  const wave = convert(module, sample, 'sub/wave.skm');
  assert.equal(wave.status, 'converted');
  assert.equal(wave.baseName, 'wave');
  assert.equal(wave.identifier, 'd911b34823c7674c292556dc56148c27');
});

test('the module plans package names as the command line does, case and accents aside', () => {
  const plans = plan(module, ['a/Wave.skm', 'b/wave.SKM', 'a/wave.skm', 'a/caf\u00e9.skm',
                              'a/CAFE\u0301.skm', 'a/.skm', 'a/aux.skm']);
  assert.deepEqual(plans.map((p) => p.package),
                   ['a/Wave.trn', 'b/wave.trn', 'a/wave.trn', 'a/caf\u00e9.trn', 'a/CAFE\u0301.trn', '', 'a/aux.trn']);
  assert.deepEqual(plans.map((p) => p.first), [0, 1, 0, 3, 3, 5, 6]);
  assert.deepEqual([plans[5].verdict, plans[5].reason], [2, 'no package name: nothing before the extension']);
});
