// The page: gathers sources from the pickers and drops, converts them on one worker per core,
// and lists every result with its package, its preview and a link to save it.
/* global fflate */
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const params = new URLSearchParams(location.search);
  const cores = navigator.hardwareConcurrency || 2;
  const workerCount = Math.max(1, Math.min(16, Number(params.get('workers')) || cores));
  // How long one burst of list updates may keep the page busy, in milliseconds.
  const FRAME_BUDGET = 8;
  // How often, in milliseconds, new results are drawn while a run goes on.
  const DRAW_EVERY = 100;
  const ANNOUNCE_EVERY = 1500;
  // How long a drop's file system handles may take, in milliseconds, before its entries are read.
  const HANDLES_WAIT = 2000;
  // WebAssembly memory never shrinks: a worker that grew past this is replaced once it is idle.
  const KEEP_AT_MOST = 96 * 1024 * 1024;
  // Zip entries as made by Unix, regular files readable by all, so extractors take the UTF-8
  // names as they are instead of through an MS-DOS code page.
  const ZIP_UNIX = 3;
  const ZIP_FILE_MODE = (0o100644 << 16) >>> 0;

  const elements = {
    drop: $('drop-zone'),
    files: $('file-input'),
    folder: $('folder-input'),
    servedNote: $('served-note'),
    progress: $('progress'),
    count: $('count'),
    announcer: $('announcer'),
    notice: $('notice'),
    summary: $('summary'),
    downloadAll: $('download-all'),
    stop: $('stop'),
    clear: $('clear'),
    report: $('report'),
    failures: $('failures'),
    copyReport: $('copy-report'),
    saveReport: $('save-report'),
    reportNote: $('report-note'),
    results: $('results'),
    version: $('version'),
  };

  // index.html opened from disk: a browser loads neither its worker nor its module from there.
  const fromDisk = location.protocol === 'file:' && !$('worker-source');

  // One formatter for every count: toLocaleString makes a new one per call, at a cost that shows
  // over a thousand rows.
  const numbers = new Intl.NumberFormat('en-US');
  const count = (n, word) => `${numbers.format(n)} ${word}${n === 1 ? '' : 's'}`;
  const why = (error) => String(error && error.message ? error.message : error);

  // ---- Workers ---------------------------------------------------------------------------
  let workerUrl = '';
  function workerSource() {
    if (workerUrl) return workerUrl;
    const inline = $('worker-source');
    workerUrl = inline ?
      URL.createObjectURL(new Blob([inline.textContent], {type: 'text/javascript'})) : 'worker.js';
    return workerUrl;
  }

  // The module is compiled once, here, and every worker (a restarted one too) instantiates the
  // compiled module instead of fetching and compiling its own. The single-file page carries the
  // module's bytes in base64, since a page opened from disk cannot fetch them.
  let compiled = null;
  function compileModule() {
    if (compiled) return compiled;
    const inline = $('wasm-source');
    if (inline) {
      const text = atob(inline.textContent.trim());
      const bytes = new Uint8Array(text.length);
      for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
      compiled = WebAssembly.compile(bytes);
    } else {
      const fetched = () => fetch('skm2trn.wasm').then((response) => {
        if (!response.ok) throw new Error(`skm2trn.wasm: ${response.status} ${response.statusText}`);
        return response;
      });
      // A server that does not send the application/wasm type makes the streaming compile refuse.
      compiled = WebAssembly.compileStreaming(fetched()).catch(
          () => fetched().then((response) => response.arrayBuffer()).then((bytes) => WebAssembly.compile(bytes)));
    }
    return compiled;
  }

  const pool = [];
  const queue = [];  // jobs waiting for a worker
  const running = new Map();  // id -> job
  let nextId = 0;
  let restarts = 0;

  function startWorker(slot) {
    const worker = slot.worker = new Worker(workerSource());
    slot.busy = 0;
    slot.ids = new Set();
    slot.memory = 0;
    slot.retiring = false;
    slot.ready = false;
    slot.dead = false;
    slot.worker.onmessage = (event) => received(slot, event.data);
    slot.worker.onerror = (event) => {
      event.preventDefault();
      workerStopped(slot, event.message || 'unknown error');
    };
    compileModule().then((module) => worker.postMessage({module}), (error) => {
      if (slot.worker === worker) workerStopped(slot, why(error));
    });
  }

  function startWorkers() {
    if (pool.length || fromDisk) return;
    for (let i = 0; i < workerCount; ++i) {
      const slot = {sources: 0};
      startWorker(slot);
      pool.push(slot);
    }
  }

  function restart(slot) {
    slot.worker.terminate();
    restarts++;
    startWorker(slot);
    replan(slot);
    showWorkers();
  }

  // The module memory each worker holds, in MiB, how many sources each was given and how often
  // one was replaced. Written only when it changes: every write to the body's attributes makes
  // the browser look at the styles.
  function showWorkers() {
    const memory = pool.map((slot) => slot.memory >> 20).join(',');
    if (document.body.dataset.workerMemory !== memory) document.body.dataset.workerMemory = memory;
    const sources = pool.map((slot) => slot.sources).join(',');
    if (document.body.dataset.workerSources !== sources) document.body.dataset.workerSources = sources;
    if (document.body.dataset.workerRestarts !== String(restarts)) document.body.dataset.workerRestarts = String(restarts);
  }

  // Sources go to a worker in batches, one message each way per batch, and a worker holds a
  // second batch while it converts the first: it opens and reads the second's files meanwhile,
  // and keeps converting while the page is busy drawing. With one batch at a time a worker sat
  // idle between batches, waiting for the page's answer and then for the next files to open.
  // A batch is smaller near the end of a run, so that every worker gets a share, and holds a few
  // MiB at most, since the worker reads a batch's small sources ahead.
  const BATCH = 16;
  const IN_WORKER = 2 * BATCH;
  const BATCH_BYTES = 4 * 1024 * 1024;
  function nextBatch() {
    const size = Math.max(1, Math.min(BATCH, Math.ceil(queue.length / (2 * pool.length))));
    const taken = [];
    let bytes = 0;
    while (taken.length < size && queue.length) {
      const job = queue[0];
      if (job.readError) {  // a dropped file that could not be opened
        queue.shift();
        finished(job, {status: 'skipped', reason: 'not a gesture file: ' + job.readError, frames: 0});
        continue;
      }
      // A file known by its handle is opened by the worker, which keeps to the same budget.
      if (job.handle) {
        taken.push(queue.shift());
        continue;
      }
      if (!job.file || (taken.length && bytes + job.file.size > BATCH_BYTES)) break;
      bytes += job.file.size;
      taken.push(queue.shift());
    }
    return taken;
  }

  function dispatch() {
    if (pool.length && pool.every((slot) => slot.dead)) {
      for (const job of queue.splice(0)) {
        finished(job, {status: 'failed', reason: 'the converter could not start', frames: 0});
      }
    }
    // A batch per worker in turn, so that a short list is shared out rather than all taken by
    // the first worker.
    for (let sent = true; sent && queue.length;) {
      sent = false;
      for (const slot of pool) {
        if (slot.retiring || slot.dead || slot.busy >= IN_WORKER || !queue.length) continue;
        const sending = nextBatch();
        if (!sending.length) break;  // the next source is still being opened
        for (const job of sending) {
          slot.ids.add(job.id);
          running.set(job.id, job);
        }
        slot.busy += sending.length;
        slot.sources += sending.length;
        slot.worker.postMessage({jobs: sending.map((job) => ({id: job.id, file: job.file, handle: job.handle,
                                                             label: job.path}))});
        sent = true;
      }
    }
    showWorkers();
  }

  function received(slot, message) {
    if (message.memory) slot.memory = message.memory;
    if (message.ready) {
      slot.ready = true;
      elements.version.textContent = message.version;
      showWorkers();
      return;
    }
    if (message.loadError) {
      workerStopped(slot, message.loadError);
      return;
    }
    if (message.planned) {
      planned(message.planned.id, message.planned.first);
      return;
    }
    for (const result of message.results) {
      slot.busy--;
      slot.ids.delete(result.id);
      const job = running.get(result.id);
      running.delete(result.id);
      if (job && job.batch === batch) finished(job, result);
    }
    if (slot.memory > KEEP_AT_MOST) slot.retiring = true;
    if (slot.retiring && slot.busy === 0) restart(slot);
    dispatch();
  }

  // A worker that died takes its jobs with it: they fail, and a fresh worker takes its place.
  // One that never started is not started again: the next would fail the same way.
  function workerStopped(slot, why) {
    if (!slot.ready) showProblem('The converter could not start: ' + why);
    for (const id of slot.ids) {
      const job = running.get(id);
      running.delete(id);
      if (job && job.batch === batch) {
        finished(job, {status: 'failed', reason: 'the converter stopped: ' + why, frames: 0});
      }
    }
    slot.ids.clear();
    slot.busy = 0;
    if (slot.ready) {
      restart(slot);
    } else {
      slot.dead = true;
      replan(slot);
    }
    dispatch();
  }

  // ---- Runs ------------------------------------------------------------------------------
  let batch = 0;
  let jobs = [];
  let done = 0;
  let converted = 0;
  let drawn = 0;  // jobs whose rows are in the list, which is in source order
  let drawScheduled = false;
  let drawTimer = 0;
  let lastAnnounce = 0;
  let announceTimer = 0;
  let stopped = false;
  let savedAll = false;  // every package of the list went out in a zip or one by one

  const runActive = () => done < jobs.length;

  function pathKey(path) {
    const cut = path.lastIndexOf('/');
    return path.slice(0, cut + 1);
  }

  // Package names come from the module's planner, asked through a worker: the first source of
  // a package name (letter case and accents aside, since the zip may be unpacked where they do
  // not count) has it, a later one is skipped. A name that makes no package is left for the
  // converter to refuse. Resolves to each job's first job of its name.
  const plans = new Map();  // id -> {slot, paths, resolve}
  let nextPlan = 0;
  function planPackages(fresh) {
    return new Promise((resolve) => {
      const slot = pool.find((candidate) => !candidate.dead && !candidate.retiring);
      const own = fresh.map((_, i) => i);
      if (!slot) {  // no converter: every source fails on its own
        resolve(own);
        return;
      }
      const id = nextPlan++;
      plans.set(id, {slot, paths: fresh.map((job) => job.path),
                     resolve: (first) => resolve(first && first.length === fresh.length ? first : own)});
      askPlan(slot, id);
    });
  }
  // After the compiled module, which the worker needs first.
  function askPlan(slot, id) {
    const worker = slot.worker;
    compileModule().then(() => {
      if (slot.worker === worker && plans.has(id)) worker.postMessage({plan: {id, paths: plans.get(id).paths}});
    }, () => {});
  }
  function planned(id, first) {
    const asked = plans.get(id);
    if (!asked) return;
    plans.delete(id);
    asked.resolve(first);
  }
  // A worker replaced while planning is asked again; one that will not start answers nothing.
  function replan(slot) {
    for (const [id, asked] of plans) {
      if (asked.slot !== slot) continue;
      if (slot.dead) planned(id, null);
      else askPlan(slot, id);
    }
  }

  // Sources are taken in name order, as the command line takes a folder's. Each choice is a list
  // of its own: one made during a run is refused, so two never mix.
  function refusedDuringRun() {
    if (!runActive()) return false;
    say('Not added: a run is going on. Stop it or let it finish, then choose again.');
    return true;
  }

  function add(entries, leftOut) {
    if (refusedDuringRun()) return;
    const left = leftOut ? `${count(leftOut, 'file')} left out: not .skm files ` +
                           '(from a folder only .skm files are taken).' : '';
    if (!entries.length) {  // the list there is stays
      restoreCount();
      say('No .skm files were found in what was chosen.' + (left ? ' ' + left : ''));
      return;
    }
    if (jobs.length || stopped) clearList();
    elements.notice.textContent = left;
    entries.sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
    startWorkers();
    delete document.body.dataset.state;
    const fresh = [];
    for (const {file, entry, handle, path} of entries) {
      const job = {id: nextId++, batch, file, entry, handle, path, folder: pathKey(path), result: null};
      jobs.push(job);
      fresh.push(job);
    }
    elements.clear.disabled = false;
    elements.stop.disabled = !runActive();
    updateCount();
    announce(`Converting ${count(jobs.length - done, 'gesture')}.` + (left ? ' ' + left : ''));
    performance.mark('skm-started');
    planPackages(fresh).then((first) => {
      for (let i = 0; i < fresh.length; ++i) {
        const job = fresh[i];
        if (job.batch !== batch || job.result) continue;  // cleared or stopped meanwhile
        if (first[i] !== i) {
          finished(job, {status: 'skipped', reason: 'same package name as ' + fresh[first[i]].path, frames: 0});
        } else {
          queue.push(job);
          if (!job.file && !job.handle) opening.push(job);
        }
      }
      openAhead();
      dispatch();
    });
  }

  // The files of a dropped folder are opened while the first ones convert, in the order they are
  // converted: for thousands of files the run would otherwise wait for them all. Opening one
  // holds the page up for a moment (Chromium asks the browser and waits), so a few are opened
  // at a time, each finished one opening the next.
  const OPEN_AHEAD = 16;
  const OPEN_AT_ONCE = 4;
  let opening = [];
  let openedUpTo = 0;
  let beingOpened = 0;
  let openScheduled = false;
  function openAhead() {
    for (let started = 0; started < OPEN_AT_ONCE && beingOpened < OPEN_AHEAD &&
         openedUpTo < opening.length; ++started) {
      const job = opening[openedUpTo++];
      if (job.batch !== batch || job.result) continue;  // cleared or stopped meanwhile
      beingOpened++;
      new Promise((resolve, reject) => job.entry.file(resolve, reject)).then((file) => {
        job.file = file;
      }, (error) => {
        job.readError = why(error);
      }).finally(() => {
        beingOpened--;
        if (job.batch === batch) dispatch();
        // In a task of its own: a file that opens at once would otherwise open the next in the
        // same task, and so on through the whole folder.
        if (!openScheduled) {
          openScheduled = true;
          setTimeout(() => {
            openScheduled = false;
            openAhead();
          }, 0);
        }
      });
    }
  }

  // Stop: the files being converted finish; the rest are named as not converted, those a worker
  // holds but has not started on too, which it hands back as such.
  function stop() {
    if (!runActive()) return;
    stopped = true;
    queue.length = 0;
    // Those still waiting for a worker or for their plan.
    for (const job of jobs) {
      if (!job.result && !running.has(job.id)) finished(job, {status: 'skipped', reason: 'interrupted', frames: 0});
    }
    for (const slot of pool) {
      if (!slot.dead) slot.worker.postMessage({stopBefore: nextId});
    }
    say('Stopping after the files being converted…');
  }

  function finished(job, result) {
    job.result = result;
    done++;
    if (result.status === 'converted') converted++;
    // Marks for the benchmark: when every source is converted, and when every row is drawn.
    if (done === jobs.length) performance.mark('skm-converted');
    // Results are drawn a few times a second, not every frame: each drawn frame restyles and
    // repaints the page, and at sixty a second that took the main thread nearly two seconds per
    // thousand gestures, time the workers need on a small machine. The last is drawn at once.
    const last = done === jobs.length;
    if (!drawScheduled) {
      drawScheduled = true;
      drawTimer = setTimeout(drawSoon, last ? 0 : DRAW_EVERY);
    } else if (last && drawTimer) {
      clearTimeout(drawTimer);
      drawTimer = setTimeout(drawSoon, 0);
    }
  }

  function drawSoon() {
    drawTimer = 0;
    requestAnimationFrame(draw);
  }

  // Rows are drawn in source order, in bursts that fit in a frame, so a thousand results never
  // freeze the page.
  function draw() {
    if (!jobs.length) {  // the list was cleared while this frame was asked for
      drawScheduled = false;
      return;
    }
    const start = performance.now();
    const fragment = document.createDocumentFragment();
    while (drawn < jobs.length && jobs[drawn].result && performance.now() - start < FRAME_BUDGET) {
      fragment.appendChild(row(jobs[drawn++]));
    }
    elements.results.appendChild(fragment);
    updateCount();
    drawScheduled = drawn < jobs.length && jobs[drawn].result !== null;
    if (drawScheduled) {
      requestAnimationFrame(draw);
    } else if (drawn === jobs.length) {
      runFinished();
    }
  }

  function restoreCount() {
    if (jobs.length) {
      updateCount();
    } else {
      elements.count.textContent = 'No gestures chosen yet.';
    }
  }

  function updateCount() {
    elements.progress.max = Math.max(1, jobs.length);
    elements.progress.value = done;
    elements.count.textContent = `${done} of ${jobs.length} done, ${converted} converted`;
    const now = performance.now();
    if (done < jobs.length && now - lastAnnounce > ANNOUNCE_EVERY) {
      lastAnnounce = now;
      announce(`${done} of ${jobs.length} done`);
    }
  }

  function announce(text) {
    clearTimeout(announceTimer);
    // A change of text is what a screen reader reads out.
    elements.announcer.textContent = '';
    announceTimer = setTimeout(() => { elements.announcer.textContent = text; }, 50);
  }

  function say(text) {
    elements.notice.textContent = text;
    announce(text);
  }

  function runFinished() {
    performance.mark('skm-finished');
    const notConverted = done - converted;
    let text = `${count(converted, 'gesture')} converted.`;
    if (notConverted) text += ` Not converted (${notConverted}).`;
    if (stopped) {
      text = 'Stopped. ' + text;
      elements.notice.textContent = '';
    }
    elements.summary.textContent = text;
    elements.downloadAll.disabled = converted === 0;
    // The keyboard stays where the work goes on: a disabled Stop would drop it to the page.
    const keep = document.activeElement === elements.stop;
    elements.stop.disabled = true;
    if (keep) (converted ? elements.downloadAll : elements.clear).focus();
    showReport();
    announce(text);
    document.body.dataset.state = 'finished';
  }

  function showProblem(text) {
    elements.summary.textContent = text;
    announce(text);
  }

  // ---- The report of a run ---------------------------------------------------------------
  // The lines of the command line's report: the count, then every source not converted.
  function reportText() {
    const lines = [`${count(converted, 'gesture')} converted.`];
    if (done > converted) lines.push(`Not converted (${done - converted}):`);
    for (const job of jobs) {
      if (job.result.status !== 'converted') lines.push(`  ${job.path}: ${job.result.reason}`);
    }
    return lines.join('\n') + '\n';
  }

  // The fields of the command line's --json summary; a package is named by its path in the zip.
  function reportJson() {
    const statuses = {converted: 0, skipped: 0, failed: 0};
    const files = jobs.map((job) => {
      const r = job.result;
      statuses[r.status]++;
      const entry = {source: job.path, package: r.status === 'converted' ? zipPathOf(job) : null,
                     status: r.status, reason: r.status === 'converted' ? null : r.reason};
      if (r.status === 'converted') entry.frames = r.frames;
      return entry;
    });
    return JSON.stringify({...statuses, total: jobs.length, dry_run: false,
                           interrupted: stopped ? 'Stop' : null, files}, null, 2) + '\n';
  }

  function showReport() {
    if (done === converted) return;
    elements.failures.textContent = jobs.filter((job) => job.result.status !== 'converted')
        .map((job) => `${job.path}: ${job.result.reason}`).join('\n');
    elements.report.querySelector('h2').textContent = `Not converted (${done - converted})`;
    elements.report.hidden = false;
  }

  async function copyReport() {
    const text = reportText();
    try {
      await navigator.clipboard.writeText(text);
      elements.reportNote.textContent = 'The list is copied.';
    } catch (error) {
      // Without clipboard access the list is selected, for the keyboard's copy.
      getSelection().selectAllChildren(elements.failures);
      elements.reportNote.textContent = 'The list is selected: copy it with Ctrl+C (⌘C on a Mac).';
    }
  }

  function save(bytes, type, name) {
    const link = element('a', {href: URL.createObjectURL(new Blob([bytes], {type})), download: name});
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  // ---- Results ---------------------------------------------------------------------------
  const zipPathOf = (job) => job.folder + job.result.baseName + '.trn';

  // The command line's words: "converted (5 frames)", "skipped (too many frames ...)".
  function outcomeText(result) {
    if (result.status === 'converted') return `converted (${count(result.frames, 'frame')})`;
    return `${result.status} (${result.reason})`;
  }

  function element(tag, attributes = {}, text) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
    if (text !== undefined) node.textContent = text;
    return node;
  }

  // A row's blob URLs are made when it first comes into view (or its link is used): making one
  // is a round trip to the browser, and a thousand rows' worth would hold the page up.
  function urlsOf(job) {
    if (job.urls) return job.urls;
    const result = job.result;
    const blob = new Blob([job.packageBytes], {type: 'application/octet-stream'});
    const part = (i, type) => URL.createObjectURL(
        blob.slice(result.parts[i][0], result.parts[i][0] + result.parts[i][1], type));
    job.urls = {
      package: URL.createObjectURL(blob),
      button: part(0, 'image/bmp'),
      animation: part(1, 'image/gif'),
      sound: part(2, 'audio/wav'),
    };
    return job.urls;
  }

  function showPreview(job) {
    const urls = urlsOf(job);
    const item = job.item;
    item.querySelector('a.package-link').href = urls.package;
    item.querySelector('img.button').src = urls.button;
    item.querySelector('img.animation').src = urls.animation;
  }

  const inView = new IntersectionObserver((entries) => {
    for (const entry of entries) {
      if (!entry.isIntersecting) continue;
      inView.unobserve(entry.target);
      showPreview(entry.target.job);
    }
  }, {rootMargin: '200px'});

  function packageSaved(job) {
    job.saved = true;
    savedAll = jobs.every((j) => j.saved || !j.packageBytes);
  }

  // One Tab stop per row, its package link; the arrow keys move between the link and the sound.
  function rowKeys(event) {
    if (event.key !== 'ArrowRight' && event.key !== 'ArrowLeft') return;
    const item = event.currentTarget;
    const stops = [item.querySelector('a.package-link'), item.querySelector('summary')];
    const at = stops.indexOf(document.activeElement);
    if (at < 0) return;
    event.preventDefault();
    stops[event.key === 'ArrowRight' ? 1 : 0].focus();
  }

  function row(job) {
    const result = job.result;
    const item = element('li', {class: result.status});
    const line = element('div', {class: 'line'});
    line.append(element('span', {class: 'path'}, job.path), ': ',
                element('span', {class: 'status'}, outcomeText(result)));
    item.appendChild(line);
    if (result.status !== 'converted') return item;

    job.packageName = result.baseName + '.trn';
    job.zipPath = zipPathOf(job);
    job.packageBytes = new Uint8Array(result.package);
    job.item = item;
    const box = element('div', {class: 'package'});
    const link = element('a', {href: '#', download: job.packageName, class: 'package-link'},
                         job.packageName);
    link.setAttribute('aria-label', `Save ${job.packageName} (package of ${job.path})`);
    link.setAttribute('aria-describedby', 'results-hint');
    // The href is in place before the click's default action reads it.
    link.addEventListener('click', () => {
      showPreview(job);
      packageSaved(job);
    });
    const animation = element('img', {class: 'animation', alt: `Animation of "${result.name}"`});
    const button = element('img', {class: 'button', width: 16, height: 16,
                                   alt: `Button of "${result.name}", 16 by 16 pixels`});
    const facts = element('dl', {class: 'facts'});
    const fact = (label, value) => {
      const pair = element('div');
      pair.append(element('dt', {}, label), element('dd', {}, value));
      facts.appendChild(pair);
    };
    fact('name:', `"${result.name}"`);
    fact('identifier:', result.identifier +
         (result.identifierMatches ? ' (matches the name)' : ' (does NOT match the name)'));
    const sound = element('details', {class: 'sound'});
    sound.appendChild(element('summary', {tabindex: '-1'}, `Sound of "${result.name}"`));
    // The player is made when asked for: a thousand idle players would weigh on the page.
    sound.addEventListener('toggle', () => {
      if (!sound.open || sound.querySelector('audio')) return;
      const audio = element('audio', {controls: '', preload: 'metadata',
                                      src: urlsOf(job).sound,
                                      'aria-label': `Sound of "${result.name}"`});
      const note = element('p', {class: 'hint'});
      audio.addEventListener('error', () => {
        note.textContent = 'This browser cannot play this sound; the package holds it unchanged.';
      });
      sound.append(audio, note);
    });
    box.append(link, button, animation, facts, sound);
    item.appendChild(box);
    item.addEventListener('keydown', rowKeys);
    item.job = job;
    inView.observe(item);
    return item;
  }

  // ---- Download all ----------------------------------------------------------------------
  function downloadAll() {
    const files = {};
    const attributes = {level: 0, os: ZIP_UNIX, attrs: ZIP_FILE_MODE};
    for (const job of jobs) {
      if (job.packageBytes) files[job.zipPath] = [job.packageBytes, attributes];
    }
    save(fflate.zipSync(files, attributes), 'application/zip', 'gesture-packages.zip');
    if (!runActive()) savedAll = true;
  }

  function clearList() {
    batch++;
    queue.length = 0;
    clearTimeout(drawTimer);
    drawTimer = 0;
    drawScheduled = false;
    inView.disconnect();
    for (const job of jobs) {
      if (job.urls) Object.values(job.urls).forEach((url) => URL.revokeObjectURL(url));
    }
    jobs = [];
    opening = [];
    openedUpTo = 0;
    drawn = 0;
    done = 0;
    converted = 0;
    stopped = false;
    savedAll = false;
    elements.results.textContent = '';
    elements.summary.textContent = '';
    elements.notice.textContent = '';
    elements.report.hidden = true;
    elements.failures.textContent = '';
    elements.reportNote.textContent = '';
    elements.downloadAll.disabled = true;
    elements.stop.disabled = true;
    elements.clear.disabled = true;
    elements.progress.value = 0;
    elements.count.textContent = 'No gestures chosen yet.';
    delete document.body.dataset.state;
  }

  function clearAll() {
    clearList();
    announce('The list is empty.');
    elements.files.focus();
  }

  // ---- Choosing and dropping -------------------------------------------------------------
  const isSource = (name) => /\.skm$/i.test(name);
  const nextFrame = () => new Promise((resolve) => setTimeout(resolve, 0));

  function reading(found, of) {
    elements.count.textContent = of === undefined ? `Reading what was chosen: ${count(found, 'file')}…` :
      `Reading what was chosen: ${found.toLocaleString('en-US')} of ${count(of, 'file')}…`;
  }

  // A choice of many thousand files is taken a slice at a time, with the count shown between.
  async function fromInput(input, folder) {
    const files = input.files;
    if (refusedDuringRun()) {
      input.value = '';
      return;
    }
    reading(files.length);
    await nextFrame();
    const entries = [];
    let leftOut = 0;
    for (let i = 0; i < files.length; ++i) {
      const file = files[i];
      const path = folder ? file.webkitRelativePath || file.name : file.name;
      // A chosen file is taken whatever its name; a folder gives only its .skm files.
      if (!folder || isSource(file.name)) {
        entries.push({file, path});
      } else {
        leftOut++;
      }
      if (i % 2000 === 1999) {
        reading(i + 1, files.length);
        await nextFrame();
      }
    }
    input.value = '';
    add(entries, leftOut);
  }

  function readAllEntries(directory) {
    const reader = directory.createReader();
    const all = [];
    return new Promise((resolve, reject) => {
      const next = () => reader.readEntries((batchOfEntries) => {
        if (!batchOfEntries.length) return resolve(all);
        all.push(...batchOfEntries);
        next();
      }, reject);
      next();
    });
  }

  async function walk(entry, prefix, inFolder, found) {
    try {
      if (entry.isFile) {
        if (inFolder && !isSource(entry.name)) {
          found.leftOut++;
          return;
        }
        // A folder's files are opened as the run reaches them; a dropped file is opened now, so
        // that a browser refusing it is told apart from a source that fails.
        const path = prefix + entry.name;
        found.entries.push(inFolder ? {entry, path} :
          {file: await new Promise((resolve, reject) => entry.file(resolve, reject)), path});
        if (found.entries.length % 500 === 0) reading(found.entries.length);
      } else if (entry.isDirectory) {
        // Siblings are read a few at a time: each read is a round trip to the browser, and
        // asking for a thousand at once makes one long task of the asking.
        const children = await readAllEntries(entry);
        for (let i = 0; i < children.length; i += 16) {
          await Promise.all(children.slice(i, i + 16).map(
              (child) => walk(child, prefix + entry.name + '/', true, found)));
        }
      }
    } catch (error) {
      found.problems.push(prefix + entry.name);
    }
  }

  // The same walk over the handles Chromium gives a drop. A folder's files are then opened by
  // the workers, in parallel and off this thread, where opening them by their entries held the
  // page up about a millisecond a file.
  async function walkHandle(handle, prefix, inFolder, found) {
    try {
      if (handle.kind === 'file') {
        if (inFolder && !isSource(handle.name)) {
          found.leftOut++;
          return;
        }
        const path = prefix + handle.name;
        found.entries.push(inFolder ? {handle, path} : {file: await handle.getFile(), path});
        if (found.entries.length % 500 === 0) reading(found.entries.length);
      } else {
        const children = [];
        for await (const child of handle.values()) children.push(child);
        for (let i = 0; i < children.length; i += 16) {
          await Promise.all(children.slice(i, i + 16).map(
              (child) => walkHandle(child, prefix + handle.name + '/', true, found)));
        }
      }
    } catch (error) {
      found.problems.push(prefix + handle.name);
    }
  }

  // The handles of a drop, or null where a browser has none (or refuses them) for an item. For a
  // folder it keeps from pages (one under /dev, such as /dev/shm) Chromium never answers, or
  // only once its own dialog is closed, while the entries read that folder all the same: an
  // answer that is late counts as none.
  async function handlesOf(asked) {
    let timer = 0;
    const late = new Promise((resolve) => { timer = setTimeout(resolve, HANDLES_WAIT, null); });
    try {
      return await Promise.race([Promise.all(asked), late]);
    } catch (error) {
      return null;
    } finally {
      clearTimeout(timer);
    }
  }

  async function fromDrop(dataTransfer) {
    const found = {entries: [], problems: [], leftOut: 0};
    if (refusedDuringRun()) return;
    const items = [...dataTransfer.items].filter((item) => item.kind === 'file');
    // Both asked for at once: a drop's items can be read only while its event lasts.
    const asked = items.map((item) => (item.getAsFileSystemHandle ? item.getAsFileSystemHandle() : null));
    const roots = items.map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
    reading(0);
    const handles = asked.every((handle) => handle) ? await handlesOf(asked) : null;
    if (handles && handles.every((handle) => handle)) {
      for (const handle of handles) await walkHandle(handle, '', false, found);
    } else if (roots.every((root) => root)) {
      for (const root of roots) await walk(root, '', false, found);
    } else {
      for (const file of dataTransfer.files) found.entries.push({file, path: file.name});
    }
    if (found.problems.length) {
      // Chromium does not let a page opened from disk read a dropped folder.
      showProblem(`This browser did not let the page read ${found.problems.join(', ')}. ` +
                  'Choose the folder with "Choose a folder…" instead.');
      if (!found.entries.length) return restoreCount();
    }
    add(found.entries, found.leftOut);
  }

  const failed = (what) => (error) => {
    restoreCount();
    showProblem(`${what} could not be read: ${error}`);
  };
  elements.files.addEventListener('change', () => fromInput(elements.files, false).catch(failed('The choice')));
  elements.folder.addEventListener('change', () => fromInput(elements.folder, true).catch(failed('The folder')));
  elements.downloadAll.addEventListener('click', downloadAll);
  elements.stop.addEventListener('click', stop);
  elements.clear.addEventListener('click', clearAll);
  elements.copyReport.addEventListener('click', copyReport);
  elements.saveReport.addEventListener('click', () => save(reportJson(), 'application/json',
                                                           'skm2trn-report.json'));

  // A drop anywhere on the page is taken; the zone lights up while something is dragged over.
  const dragged = (event) => event.dataTransfer && [...event.dataTransfer.types].includes('Files');
  for (const type of ['dragenter', 'dragover']) {
    window.addEventListener(type, (event) => {
      if (!dragged(event)) return;
      event.preventDefault();
      event.dataTransfer.dropEffect = fromDisk ? 'none' : 'copy';
      elements.drop.classList.add('over');
    });
  }
  window.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) elements.drop.classList.remove('over');
  });
  window.addEventListener('drop', (event) => {
    // A file dropped on the page must never make the browser open it and leave the page.
    event.preventDefault();
    elements.drop.classList.remove('over');
    if (fromDisk || !event.dataTransfer) return;
    fromDrop(event.dataTransfer).catch(failed('The drop'));
  });

  // Leaving the page while it holds packages not yet saved loses them: the browser asks first.
  window.addEventListener('beforeunload', (event) => {
    if (!runActive() && (converted === 0 || savedAll)) return;
    event.preventDefault();
    event.returnValue = '';
  });

  if (fromDisk) {
    elements.servedNote.hidden = false;
    elements.files.disabled = true;
    elements.folder.disabled = true;
    document.body.dataset.state = 'needs-server';
    return;
  }
  startWorkers();
  document.body.dataset.workers = String(workerCount);
})();
