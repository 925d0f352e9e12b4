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

  const elements = {
    drop: $('drop-zone'),
    files: $('file-input'),
    folder: $('folder-input'),
    progress: $('progress'),
    count: $('count'),
    announcer: $('announcer'),
    summary: $('summary'),
    downloadAll: $('download-all'),
    clear: $('clear'),
    results: $('results'),
    version: $('version'),
  };

  // ---- Workers ---------------------------------------------------------------------------
  function workerSource() {
    const inline = document.getElementById('worker-source');
    if (!inline) return 'worker.js';
    return URL.createObjectURL(new Blob([inline.textContent], {type: 'text/javascript'}));
  }

  const pool = [];
  const queue = [];  // jobs waiting for a worker
  const running = new Map();  // id -> job
  let nextId = 0;

  function startWorkers() {
    if (pool.length) return;
    const url = workerSource();
    for (let i = 0; i < workerCount; ++i) {
      const worker = new Worker(url);
      const slot = {worker, busy: 0};
      worker.onmessage = (event) => received(slot, event.data);
      worker.onerror = (event) => {
        event.preventDefault();
        showProblem('A converter thread stopped: ' + (event.message || 'unknown error'));
      };
      pool.push(slot);
    }
  }

  // Several jobs wait in each worker, so it keeps converting while the page is busy drawing.
  const IN_FLIGHT = 8;
  function dispatch() {
    for (const slot of pool) {
      while (slot.busy < IN_FLIGHT && queue.length) {
        const job = queue.shift();
        slot.busy++;
        running.set(job.id, job);
        slot.worker.postMessage({id: job.id, file: job.file, label: job.path});
      }
    }
  }

  function received(slot, message) {
    if (message.ready) {
      elements.version.textContent = message.version;
      return;
    }
    if (message.loadError) {
      showProblem('The converter could not start: ' + message.loadError);
      return;
    }
    slot.busy--;
    const job = running.get(message.id);
    running.delete(message.id);
    if (job && job.batch === batch) finished(job, message);
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

  function pathKey(path) {
    const cut = path.lastIndexOf('/');
    return path.slice(0, cut + 1);
  }

  // As the command line decides before converting: the first source of a package name (in any
  // letter case, since the zip may be unpacked where case does not count) has it, a later one is
  // skipped. A name that makes no package is left for the converter to refuse.
  const taken = new Map();
  function planPackage(job) {
    const name = job.path.slice(job.path.lastIndexOf('/') + 1);
    const dot = name.lastIndexOf('.');
    const base = dot < 0 ? name : name.slice(0, dot);
    if (!base || base[0] === '.') return null;
    const key = (job.folder + base + '.trn').toLowerCase();
    const earlier = taken.get(key);
    if (!earlier) {
      taken.set(key, job);
      return null;
    }
    return (earlier.path === job.path ? 'the same file as ' : 'same package name as ') + earlier.path;
  }

  // Sources are taken in name order, as the command line takes a folder's.
  function add(entries) {
    if (!entries.length) {
      elements.count.textContent = 'No .skm files were found in what was chosen.';
      announce(elements.count.textContent);
      return;
    }
    entries.sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
    startWorkers();
    delete document.body.dataset.state;
    for (const {file, path} of entries) {
      const job = {id: nextId++, batch, file, path, folder: pathKey(path), result: null};
      jobs.push(job);
      const clash = planPackage(job);
      if (clash) {
        finished(job, {status: 'skipped', reason: clash, frames: 0});
      } else {
        queue.push(job);
      }
    }
    elements.clear.disabled = false;
    updateCount();
    announce(`Converting ${jobs.length - done} gestures.`);
    performance.mark('skm-started');
    dispatch();
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

  function runFinished() {
    performance.mark('skm-finished');
    const notConverted = done - converted;
    let text = `${converted} gestures converted.`;
    if (notConverted) text += ` Not converted (${notConverted}).`;
    elements.summary.textContent = text;
    elements.downloadAll.disabled = converted === 0;
    announce(text);
    document.body.dataset.state = 'finished';
  }

  function showProblem(text) {
    elements.summary.textContent = text;
    announce(text);
  }

  // ---- Results ---------------------------------------------------------------------------
  function plural(n, word) {
    return `${n} ${word}${n === 1 ? '' : 's'}`;
  }

  // The command line's words: "converted (5 frames)", "skipped (too many frames ...)".
  function outcomeText(result) {
    if (result.status === 'converted') return `converted (${plural(result.frames, 'frame')})`;
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

  function row(job) {
    const result = job.result;
    const item = element('li', {class: result.status});
    const line = element('div', {class: 'line'});
    line.append(element('span', {class: 'path'}, job.path), ': ',
                element('span', {class: 'status'}, outcomeText(result)));
    item.appendChild(line);
    if (result.status !== 'converted') return item;

    job.packageName = result.baseName + '.trn';
    job.zipPath = job.folder + job.packageName;
    job.packageBytes = new Uint8Array(result.package);
    job.item = item;
    const box = element('div', {class: 'package'});
    const link = element('a', {href: '#', download: job.packageName, class: 'package-link'},
                         job.packageName);
    link.setAttribute('aria-label', `Save ${job.packageName} (package of ${job.path})`);
    // The href is in place before the click's default action reads it.
    link.addEventListener('click', () => showPreview(job));
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
    sound.appendChild(element('summary', {}, 'Sound'));
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
    item.job = job;
    inView.observe(item);
    return item;
  }

  // ---- Download all ----------------------------------------------------------------------
  function downloadAll() {
    const files = {};
    for (const job of jobs) {
      if (job.packageBytes) files[job.zipPath] = [job.packageBytes, {level: 0}];
    }
    const zipped = fflate.zipSync(files, {level: 0});
    const link = element('a', {href: URL.createObjectURL(new Blob([zipped], {type: 'application/zip'})),
                               download: 'gesture-packages.zip'});
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  function clearAll() {
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
    taken.clear();
    drawn = 0;
    done = 0;
    converted = 0;
    elements.results.textContent = '';
    elements.summary.textContent = '';
    elements.downloadAll.disabled = true;
    elements.clear.disabled = true;
    elements.progress.value = 0;
    elements.count.textContent = 'No gestures chosen yet.';
    delete document.body.dataset.state;
    announce('The list is empty.');
    elements.files.focus();
  }

  // ---- Choosing and dropping -------------------------------------------------------------
  const isSource = (name) => /\.skm$/i.test(name);

  function fromInput(input, folder) {
    const entries = [];
    for (const file of input.files) {
      const path = folder ? file.webkitRelativePath || file.name : file.name;
      // A chosen file is taken whatever its name; a folder gives only its .skm files.
      if (!folder || isSource(file.name)) entries.push({file, path});
    }
    input.value = '';
    add(entries);
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

  async function walk(entry, prefix, inFolder, out, problems) {
    try {
      if (entry.isFile) {
        if (inFolder && !isSource(entry.name)) return;
        const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
        out.push({file, path: prefix + entry.name});
      } else if (entry.isDirectory) {
        // Siblings are read a few at a time: each read is a round trip to the browser, and
        // asking for a thousand at once makes one long task of the asking.
        const children = await readAllEntries(entry);
        for (let i = 0; i < children.length; i += 16) {
          await Promise.all(children.slice(i, i + 16).map(
              (child) => walk(child, prefix + entry.name + '/', true, out, problems)));
        }
      }
    } catch (error) {
      problems.push(prefix + entry.name);
    }
  }

  async function fromDrop(dataTransfer) {
    const entries = [];
    const problems = [];
    const items = [...dataTransfer.items].filter((item) => item.kind === 'file');
    const roots = items.map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
    if (roots.every((root) => root)) {
      for (const root of roots) await walk(root, '', false, entries, problems);
    } else {
      for (const file of dataTransfer.files) entries.push({file, path: file.name});
    }
    if (problems.length) {
      // Chromium does not let a page opened from disk read a dropped folder.
      showProblem(`This browser did not let the page read ${problems.join(', ')}. ` +
                  'Choose the folder with "Choose a folder…" instead.');
      if (!entries.length) return;
    }
    add(entries);
  }

  elements.files.addEventListener('change', () => fromInput(elements.files, false));
  elements.folder.addEventListener('change', () => fromInput(elements.folder, true));
  elements.downloadAll.addEventListener('click', downloadAll);
  elements.clear.addEventListener('click', clearAll);
  for (const type of ['dragenter', 'dragover']) {
    elements.drop.addEventListener(type, (event) => {
      event.preventDefault();
      elements.drop.classList.add('over');
    });
  }
  elements.drop.addEventListener('dragleave', () => elements.drop.classList.remove('over'));
  elements.drop.addEventListener('drop', (event) => {
    event.preventDefault();
    elements.drop.classList.remove('over');
    fromDrop(event.dataTransfer).catch((error) => showProblem('The drop could not be read: ' + error));
  });
  // A file dropped beside the zone must not make the browser open it and leave the page.
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => event.preventDefault());

  startWorkers();
  document.body.dataset.workers = String(workerCount);
})();
