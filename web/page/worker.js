// One converter thread of the page: it converts batches of sources with the WebAssembly module
// and hands back, per source, the outcome, the reason in the command line's words and the
// package bytes. The page compiles the module once and hands every worker the compiled module
// first, so no worker fetches or compiles its own. In the single-file page the module's script
// comes first in the same blob, so createSkmModule is already defined.
/* global createSkmModule, importScripts */
'use strict';

if (typeof createSkmModule === 'undefined') importScripts('skm2trn.js');

const STATUS = ['converted', 'skipped', 'failed'];
const utf8 = new TextEncoder();

let ready = null;
function start(compiled) {
  let refuse;
  const refused = new Promise((resolve, reject) => { refuse = reject; });
  const made = createSkmModule({
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(compiled, imports).then((instance) => receive(instance, compiled), refuse);
      return {};
    },
  });
  ready = Promise.race([made, refused]).then(
    (module) => {
      postMessage({ready: true, version: text(cString(module, module._skm_version())),
                   memory: module.HEAPU8.length});
      return module;
    },
    (error) => {
      postMessage({loadError: String(error && error.message ? error.message : error)});
      throw error;
    });
}

function cString(module, pointer) {
  const heap = module.HEAPU8;
  let end = pointer;
  while (heap[end] !== 0) ++end;
  return heap.slice(pointer, end);
}

const decoder = new TextDecoder('utf-8', {fatal: true});
const latin = new TextDecoder('windows-1252');
function text(bytes) {
  try {
    return decoder.decode(bytes);
  } catch (e) {
    return latin.decode(bytes);  // names in older files are not UTF-8
  }
}

// A big source is read straight into the module's memory a slice at a time, so it is not held
// twice; a small one was read ahead while the job waited (`early`: its bytes).
const SLICE = 16 * 1024 * 1024;
const READ_AHEAD = 4 * 1024 * 1024;
async function readInto(module, file, early, at) {
  if (early) {
    module.HEAPU8.set(early, at);
    return;
  }
  // A chosen file that went away before anything looked at it shows as empty, and only reading
  // it says what became of it.
  if (!file.size) await file.arrayBuffer();
  for (let done = 0; done < file.size; done += SLICE) {
    const bytes = new Uint8Array(await file.slice(done, done + SLICE).arrayBuffer());
    module.HEAPU8.set(bytes, at + done);
  }
}

async function convert(module, file, early, label) {
  const labelBytes = utf8.encode(label);
  const size = file.size;
  const source = module._skm_alloc(size);
  const name = module._skm_alloc(labelBytes.length + 1);
  if (!source || !name) {
    module._skm_free(source);
    module._skm_free(name);
    return {status: 'failed', reason: 'out of memory', frames: 0};
  }
  try {
    await readInto(module, file, early, source);
  } catch (error) {
    module._skm_free(source);
    module._skm_free(name);
    throw error;
  }
  module.HEAPU8.set(labelBytes, name);
  module.HEAPU8[name + labelBytes.length] = 0;
  const outcome = module._skm_convert(source, size, name);
  module._skm_free(source);
  module._skm_free(name);

  const result = {
    status: STATUS[outcome],
    reason: text(cString(module, module._skm_reason())),
    frames: module._skm_frames(),
    baseName: text(cString(module, module._skm_base_name())),
  };
  if (outcome === 0) {
    const at = module._skm_package();
    result.package = module.HEAPU8.slice(at, at + module._skm_package_size()).buffer;
    const nameAt = module._skm_name();
    result.name = text(module.HEAPU8.slice(nameAt, nameAt + module._skm_name_size()));
    result.identifier = text(cString(module, module._skm_identifier()));
    result.identifierMatches = module._skm_identifier_matches() === 1;
    result.parts = [0, 1, 2].map((i) => [module._skm_part_offset(i), module._skm_part_size(i)]);
  }
  return result;
}

// The largest source the page converts. The module needs about four times a source's size (the
// source, its parts, the package and the copy handed back), and its memory cannot pass 2 GiB.
const MAX_SOURCE = 256 * 1024 * 1024;
function tooLarge(size) {
  return {status: 'failed', frames: 0, reason: `cannot read: File too large (${size.toLocaleString('en-US')} ` +
          'bytes; this page converts sources up to 256 MiB, the skm2trn command line larger ones)'};
}

async function handle({id, label}, opened, early) {
  const why = (error) => String(error && error.message ? error.message : error);
  let result;
  try {
    const module = await ready;
    try {
      const file = await opened;
      // Refused before a byte is read.
      result = file.size > MAX_SOURCE ? tooLarge(file.size) : await convert(module, file, await early, label);
    } catch (error) {
      // The file went away or cannot be read: the command line's words for a path it cannot open.
      result = {status: 'skipped', reason: 'not a gesture file: ' + why(error), frames: 0};
    }
  } catch (error) {
    result = {status: 'failed', reason: 'the converter stopped: ' + why(error), frames: 0};
  }
  result.id = id;
  return result;
}

// The package plan of a list of sources from the module's planner, the one the command line
// and the dialog use: for each source, the first in the list whose package has the same name
// (its own index when none has).
function plan(module, paths) {
  const list = utf8.encode(paths.map((path) => path + '\0').join(''));
  const at = module._skm_alloc(list.length);
  if (!at) throw new Error('out of memory');
  module.HEAPU8.set(list, at);
  const count = module._skm_plan(at, list.length);
  module._skm_free(at);
  const first = [];
  for (let i = 0; i < count; ++i) first.push(module._skm_plan_first(i));
  return first;
}

// Sources with a smaller id are not started: the page stopped the run they belong to.
let stopBefore = 0;

// A task of its own before each batch, so that the page's stop comes in between batches: when a
// batch's files are already read, the next would otherwise start in the same task.
const tick = new MessageChannel();
const ticked = [];
tick.port1.onmessage = () => ticked.shift()();
function nextTask() {
  return new Promise((resolve) => {
    ticked.push(resolve);
    tick.port2.postMessage(null);
  });
}

// A batch goes back in one message once converted, its packages moved, not copied.
async function handleBatch(jobs, opened, early) {
  const results = [];
  for (let i = 0; i < jobs.length; ++i) {
    results.push(jobs[i].id < stopBefore ? {id: jobs[i].id, status: 'skipped', reason: 'interrupted', frames: 0} :
      await handle(jobs[i], opened[i], early[i]));
  }
  const module = await ready.catch(() => null);
  postMessage({results, memory: module ? module.HEAPU8.length : 0},
              results.filter((result) => result.package).map((result) => result.package));
}

// Batches are converted one after another, so only one source at a time takes memory in the
// module; the small sources of a batch are read while it waits.
let chain = Promise.resolve();
onmessage = (event) => {
  if (event.data.stopBefore !== undefined) {
    stopBefore = event.data.stopBefore;
    return;
  }
  if (event.data.module) {
    start(event.data.module);
    return;
  }
  if (event.data.plan) {
    const {id, paths} = event.data.plan;
    chain = chain.then(async () => {
      let first = null;
      try {
        first = plan(await ready, paths);
      } catch (error) {
        // Answered all the same: the sources then fail on their own as this converter does.
      }
      postMessage({planned: {id, first}});
    });
    return;
  }
  const {jobs} = event.data;
  // A source known by its handle (a folder dropped in Chromium) is opened here.
  const opened = jobs.map(({file, handle}) => (file ? Promise.resolve(file) : handle.getFile()));
  for (const waiting of opened) waiting.catch(() => {});
  const early = readAhead(opened);
  chain = chain.then(nextTask).then(() => handleBatch(jobs, opened, early));
};

// The bytes of a batch's small sources, read while the batch waits: for each source, its bytes
// or null (read when its turn comes). The page sends files in batches of at most READ_AHEAD
// bytes, and those opened here keep to the same budget. They are read as one blob, one round
// trip to the browser per batch instead of one per file, which is most of what a small file's
// read costs. If that read fails (a file changed or went away), each source is read on its own
// when its turn comes, so only the one at fault fails, in its own words.
function readAhead(opened) {
  const together = Promise.allSettled(opened).then((all) => {
    let budget = READ_AHEAD;
    const files = all.map(({value: file}) => {
      if (!file || !file.size || file.size > SLICE || (file.size > budget && budget < READ_AHEAD)) return null;
      budget -= file.size;
      return file;
    });
    return new Blob(files.filter(Boolean)).arrayBuffer().then((buffer) => {
      let at = 0;
      return files.map((file) => {
        if (!file) return null;
        at += file.size;
        return new Uint8Array(buffer, at - file.size, file.size);
      });
    });
  }).catch(() => opened.map(() => null));
  return opened.map((_, i) => together.then((bytes) => bytes[i]));
}
