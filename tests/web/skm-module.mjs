// Loads the WebAssembly module under Node and converts sources the way the page's worker does.
import {createRequire} from 'node:module';
import fs from 'node:fs';
import path from 'node:path';

const STATUS = ['converted', 'skipped', 'failed'];

export async function loadModule(pageDir) {
  const require = createRequire(import.meta.url);
  const createSkmModule = require(path.resolve(pageDir, 'skm2trn.js'));
  // This Emscripten's loader cannot fetch the .wasm under Node 18 and later; hand it the bytes.
  const wasmBinary = fs.readFileSync(path.resolve(pageDir, 'skm2trn.wasm'));
  return createSkmModule({wasmBinary});
}

function cString(module, pointer) {
  const heap = module.HEAPU8;
  let end = pointer;
  while (heap[end] !== 0) ++end;
  return Buffer.from(heap.subarray(pointer, end)).toString('utf8');
}

// The outcome of one source: status, reason ('' when converted), frames and package bytes.
export function convert(module, bytes, label) {
  const labelBytes = Buffer.from(label + '\0', 'utf8');
  const source = module._skm_alloc(bytes.length);
  const name = module._skm_alloc(labelBytes.length);
  module.HEAPU8.set(bytes, source);
  module.HEAPU8.set(labelBytes, name);
  const outcome = module._skm_convert(source, bytes.length, name);
  module._skm_free(source);
  module._skm_free(name);
  const result = {
    status: STATUS[outcome],
    reason: cString(module, module._skm_reason()),
    frames: module._skm_frames(),
    baseName: cString(module, module._skm_base_name()),
    package: null,
  };
  if (outcome === 0) {
    const at = module._skm_package();
    result.package = Buffer.from(module.HEAPU8.subarray(at, at + module._skm_package_size()));
    result.identifier = cString(module, module._skm_identifier());
    result.identifierMatches = module._skm_identifier_matches() === 1;
    result.parts = [0, 1, 2].map((i) => [module._skm_part_offset(i), module._skm_part_size(i)]);
  }
  return result;
}

// The package plan of a list of source paths, in run order, as the page asks for it.
export function plan(module, paths) {
  const list = Buffer.from(paths.map((p) => p + '\0').join(''), 'utf8');
  const at = module._skm_alloc(list.length);
  module.HEAPU8.set(list, at);
  const count = module._skm_plan(at, list.length);
  module._skm_free(at);
  const plans = [];
  for (let i = 0; i < count; ++i) {
    plans.push({
      verdict: module._skm_plan_verdict(i),
      first: module._skm_plan_first(i),
      package: cString(module, module._skm_plan_package(i)),
      reason: cString(module, module._skm_plan_reason(i)),
    });
  }
  return plans;
}
