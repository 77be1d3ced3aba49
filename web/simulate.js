// Runs the program's command line (--simulate, --report) in this page, in a working folder kept
// in the browser's storage (IndexedDB; written back at every flush of a file, so after every
// run's appends, and after every command), made with a copy of
// the sample stimuli the first time; a settings file can be put in it, and its files saved.
// pyokoranRun(inputs, args) puts inputs ({path in the folder: base64}) in the folder, runs the
// command line args and answers {status, stdout, stderr, isolated, files} with every file then
// in the folder, by path, in base64 (the stimuli aside): what the browser tests compare with
// the desktop program's. Only one page of this address runs at a time (a Web Lock); one run
// per page load: a new run needs the page loaded again.
'use strict';

const kFolder = '/work';
// How many times this page wrote the folder back into the storage.
window.pyokoranStores = 0;
const kLock = 'pyokoran-working-folder';
const kBusy = 'Another page of ピョコラン is using the working folder; try again when it is done.';

// The folder in memory from the browser's storage (populate) or back into it.
function sync(FS, populate) {
  return new Promise((resolve, reject) => FS.syncfs(populate, (error) => (error ? reject(error) : resolve())));
}

function toBase64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  return btoa(text);
}

function fromBase64(text) {
  return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
}

// Every file below folder, by path relative to it.
function filesBelow(FS, folder, prefix, into) {
  for (const name of FS.readdir(folder)) {
    if (name === '.' || name === '..') continue;
    const path = folder + '/' + name;
    if (FS.isDir(FS.stat(path).mode)) filesBelow(FS, path, prefix + name + '/', into);
    else into[prefix + name] = FS.readFile(path);
  }
  return into;
}

// Why the program cannot run in this page, or '' when it can: its threads need a page that is
// cross-origin isolated, which only the server's headers make it.
function whyNotHere() {
  if (self.crossOriginIsolated === true && typeof SharedArrayBuffer === 'function') return '';
  return 'This page is not cross-origin isolated, so the browser gives it no threads and the ' +
         'program cannot run. The server must send "Cross-Origin-Opener-Policy: same-origin" and ' +
         '"Cross-Origin-Embedder-Policy: require-corp" with every file (scripts/run-web does).';
}

async function pyokoranRun(inputs, args) {
  const why = whyNotHere();
  if (why) throw new Error(why);
  return navigator.locks.request(kLock, {ifAvailable: true}, async (lock) => {
    if (!lock) throw new Error(kBusy);
    return runHoldingTheFolder(inputs, args);
  });
}

async function runHoldingTheFolder(inputs, args) {
  const stdout = [];
  const stderr = [];
  let ended;
  const exited = new Promise((resolve) => { ended = resolve; });
  const module = await Pyokoran({
    print: (line) => stdout.push(line),
    printErr: (line) => stderr.push(line),
    onExit: (status) => ended(status),
  });
  const FS = module.FS;
  FS.mkdir(kFolder);
  FS.mount(FS.filesystems.IDBFS, {}, kFolder);
  await sync(FS, true);
  if (!FS.analyzePath(kFolder + '/stim').exists) {
    FS.mkdir(kFolder + '/stim');
    const names = await (await fetch('stim/files.json')).json();
    for (const name of names) {
      const response = await fetch('stim/' + name);
      if (!response.ok) throw new Error('stim/' + name + ': ' + response.status);
      FS.writeFile(kFolder + '/stim/' + name, new Uint8Array(await response.arrayBuffer()));
    }
  }
  for (const [path, data] of Object.entries(inputs || {})) {
    const parts = path.split('/');
    for (let i = 1; i < parts.length; ++i) {
      const folder = kFolder + '/' + parts.slice(0, i).join('/');
      if (!FS.analyzePath(folder).exists) FS.mkdir(folder);
    }
    FS.writeFile(kFolder + '/' + path, fromBase64(data));
  }
  FS.chdir(kFolder);
  // Every flush of a file (each run's appends, the settings) is written back into the storage
  // before the program goes on, one write-back after another.
  let storing = Promise.resolve();
  module.onFlush = (done) => {
    storing = storing.then(() => sync(FS, false)).then(() => { ++window.pyokoranStores; },
                                                           (error) => console.warn(error)).then(done);
  };
  module.callMain(args);
  const status = await exited;
  await sync(FS, false);
  const files = {};
  for (const [path, bytes] of Object.entries(filesBelow(FS, kFolder, '', {}))) {
    if (!path.startsWith('stim/')) files[path] = toBase64(bytes);
  }
  return {status, stdout: stdout.join('\n'), stderr: stderr.join('\n'),
          isolated: self.crossOriginIsolated === true, files};
}

// Offline use: the service worker keeps the pages once they were opened.
if ('serviceWorker' in navigator) {
  navigator.serviceWorker.register('sw.js').catch((error) => console.warn('no offline use:', error));
}

window.addEventListener('DOMContentLoaded', () => {
  const run = document.getElementById('run');
  if (!run) return;
  const why = whyNotHere();
  if (why) {
    document.getElementById('output').textContent = why;
    run.disabled = true;
    return;
  }
  run.addEventListener('click', async () => {
    run.disabled = true;
    const output = document.getElementById('output');
    const list = document.getElementById('files');
    output.textContent = '';
    list.textContent = '';
    try {
      const file = document.getElementById('settings').files[0];
      const inputs = file ? {'ピョコラン.ini': toBase64(new Uint8Array(await file.arrayBuffer()))} : {};
      const args = document.getElementById('options').value.trim().split(/\s+/);
      const result = await pyokoranRun(inputs, args);
      output.textContent = result.stdout + '\n' + result.stderr + '\n(exit status ' + result.status + ')';
      const bytes = {};
      for (const [path, data] of Object.entries(result.files)) bytes[path] = fromBase64(data);
      if (Object.keys(bytes).length > 0) {
        const zip = document.createElement('a');
        zip.href = URL.createObjectURL(new Blob([zipFiles(bytes)], {type: 'application/zip'}));
        zip.download = 'pyokoran-simulated.zip';
        zip.textContent = 'Export as zip (every file below, exact bytes)';
        list.append(zip, document.createElement('br'));
      }
      for (const [path, data] of Object.entries(result.files)) {
        const link = document.createElement('a');
        link.href = URL.createObjectURL(new Blob([fromBase64(data)]));
        link.download = path.replace(/\//g, '_');
        link.textContent = path;
        list.append(link, document.createElement('br'));
      }
    } catch (error) {
      output.textContent = String(error);
    }
    // The program's state ends with its run: a new run starts from a fresh page.
    run.textContent = 'Reload the page to run again';
  });
  document.getElementById('empty').addEventListener('click', async () => {
    if (!confirm('Delete every file of the working folder kept in this browser?')) return;
    const output = document.getElementById('output');
    await navigator.locks.request(kLock, {ifAvailable: true}, async (lock) => {
      if (!lock) {
        output.textContent = kBusy;
        return;
      }
      // IndexedDB keeps the folder as a database named after its path.
      await new Promise((resolve) => {
        const request = indexedDB.deleteDatabase(kFolder);
        request.onsuccess = request.onerror = request.onblocked = resolve;
      });
      output.textContent = 'The working folder is empty; reload the page.';
    });
  });
});
