// ピョコラン in a browser page. The program runs on a worker of the page (its whole user-interface
// thread, as on the desktop: message loop, modal dialogs, the trial loop that may spin); this
// page is its platform: the main window, the stage canvas presented on animation frames, mouse,
// pen, touch and keys, the HTML dialogs, WebAudio feedback, and the working folder kept in the
// browser's storage (IndexedDB, written back at every flush of a file: after every run's
// appends), with Export (a zip of the folder, exact bytes). Input is handed to the program's
// queue at once and delivered by the program when it pumps its events.
//
// Times handed to the program are performance.timeOrigin + performance.now() in ms (event
// timeStamp and animation frame times on that base): the clock its tick runs on.
//
// A touch held still for two seconds in the top left corner of the stage aborts a run (as
// Escape does on a keyboard); a ring there shows the hold.
'use strict';

const kFolder = '/work';
const kLock = 'pyokoran-working-folder';
const VK_ESCAPE = 0x1B;
const VK_RETURN = 0x0D;
// Input kinds, as the program's PageInput::Kind.
const kInput = {Command: 0, MainClick: 1, MainKey: 2, ButtonDown: 3, ButtonUp: 4, MouseMove: 5,
                Touch: 6, Activate: 7, Close: 8, CheckTiming: 9};
const kAbortHoldMs = 2000;
const kAbortCornerCss = 72;  // the corner's size in CSS pixels

let program = null;  // the program's module once it runs
let audio = null;    // the AudioContext, made at the first tap or key
let playing = null;  // the sound playing now
let experimentShown = false;
const page = {storesDone: 0, exited: null, problem: '', soundsPlayed: 0};
window.pyokoranPage = page;  // what tests look at

function pageTime(t) { return performance.timeOrigin + t; }

function input(kind, value, x, y, time) {
  if (program) program._pyokoran_page_input(kind, value | 0, x | 0, y | 0, time || 0);
}

function answer(request, code, text) {
  if (program) program.ccall('pyokoran_page_answer', null, ['number', 'number', 'string'], [request, code, text || '']);
}

// --- The stage --------------------------------------------------------------------------------

const stage = {canvas: null, g: null, picture: null, pictureG: null, width: 0, height: 0,
               pending: null, frames: 0, lastDrawnFrame: -1000, lastFrameTime: 0, lastDrawTime: 0,
               measuring: null, looping: false};

function screenSize() {
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(screen.width || 0, window.innerWidth);
  const height = Math.max(screen.height || 0, window.innerHeight);
  return [Math.round(width * ratio), Math.round(height * ratio)];
}

// A point of the page (CSS pixels) in the program's screen pixels: the canvas is the screen,
// shown whole at its proportions (object-fit: contain).
function toScreen(clientX, clientY) {
  const box = stage.canvas.getBoundingClientRect();
  const scale = Math.min(box.width / stage.width, box.height / stage.height);
  const left = box.left + (box.width - stage.width * scale) / 2;
  const top = box.top + (box.height - stage.height * scale) / 2;
  return [Math.trunc((clientX - left) / scale), Math.trunc((clientY - top) / scale)];
}

function frameLoop(t) {
  if (!experimentShown) {
    stage.looping = false;
    return;
  }
  requestAnimationFrame(frameLoop);
  ++stage.frames;
  const interval = stage.lastFrameTime ? t - stage.lastFrameTime : 0;
  stage.lastFrameTime = t;
  const m = stage.measuring;
  if (m) {
    if (interval > 0 && stage.frames > 2) m.intervals.push(interval);
    if (m.intervals.length >= 24) {
      stage.measuring = null;
      const sorted = m.intervals.slice().sort((a, b) => a - b);
      const median = sorted[sorted.length >> 1];
      const mean = sorted.reduce((a, b) => a + b, 0) / sorted.length;
      const sd = Math.sqrt(sorted.reduce((a, b) => a + (b - mean) * (b - mean), 0) / sorted.length);
      program._pyokoran_page_measured(m.request, median, sd, sorted.length);
    }
  }
  const p = stage.pending;
  if (p && stage.frames - stage.lastDrawnFrame >= p.every) {
    stage.pending = null;
    draw(p);
    stage.lastDrawnFrame = stage.frames;
    const since = stage.lastDrawTime ? t - stage.lastDrawTime : 0;
    stage.lastDrawTime = t;
    program._pyokoran_page_presented(p.sequence, pageTime(t), since);
  }
}

function startFrames() {
  if (stage.looping) return;
  stage.looping = true;
  stage.lastFrameTime = 0;
  requestAnimationFrame(frameLoop);
}

function draw(p) {
  if (!stage.picture || stage.picture.width !== p.width || stage.picture.height !== p.height) {
    stage.picture = new OffscreenCanvasOrCanvas(p.width, p.height);
    stage.pictureG = stage.picture.getContext('2d');
  }
  const bytes = PyokoranPage.heapU8().slice(p.pixels, p.pixels + p.width * p.height * 4);
  stage.pictureG.putImageData(new ImageData(new Uint8ClampedArray(bytes.buffer), p.width, p.height), 0, 0);
  stage.g.imageSmoothingEnabled = true;
  stage.g.drawImage(stage.picture, p.left, p.top, p.right - p.left, p.bottom - p.top);
}

function OffscreenCanvasOrCanvas(width, height) {
  if (typeof OffscreenCanvas === 'function') return new OffscreenCanvas(width, height);
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  return canvas;
}

// --- Pointer, touch and keys ---------------------------------------------------------------------

const touches = new Map();  // pointerId -> [x, y], in the order they went down
const abortHold = {id: null, timer: 0};

function sendTouch(time, liftedId) {
  for (const [id, [x, y]] of touches) program._pyokoran_page_touch_contact(x, y, id === liftedId ? 1 : 0);
  program._pyokoran_page_touch_end(time);
}

function endAbortHold() {
  if (abortHold.timer) clearTimeout(abortHold.timer);
  abortHold.id = null;
  abortHold.timer = 0;
  document.getElementById('abort-ring').hidden = true;
}

function watchAbortHold(event) {
  if (event.clientX > kAbortCornerCss || event.clientY > kAbortCornerCss || abortHold.id !== null) return;
  abortHold.id = event.pointerId;
  const ring = document.getElementById('abort-ring');
  ring.hidden = false;
  ring.style.animation = 'none';
  void ring.offsetWidth;
  ring.style.animation = '';
  abortHold.timer = setTimeout(() => {
    endAbortHold();
    // As Escape pressed and released.
    program._pyokoran_page_key(VK_ESCAPE, 1);
    program._pyokoran_page_key(VK_ESCAPE, 0);
  }, kAbortHoldMs);
}

function onPointer(event) {
  if (!experimentShown || !program) return;
  event.preventDefault();
  unlockAudio();
  const time = pageTime(event.timeStamp);
  // How long the press took to reach this handler (the timing check keeps it).
  if (event.type === 'pointerdown') program._pyokoran_page_input_delay(performance.now() - event.timeStamp);
  const [x, y] = toScreen(event.clientX, event.clientY);
  if (event.pointerType === 'touch') {
    switch (event.type) {
      case 'pointerdown':
        stage.canvas.setPointerCapture(event.pointerId);
        touches.set(event.pointerId, [x, y]);
        sendTouch(time, null);
        watchAbortHold(event);
        break;
      case 'pointermove':
        if (!touches.has(event.pointerId)) return;
        touches.set(event.pointerId, [x, y]);
        sendTouch(time, null);
        if (abortHold.id === event.pointerId &&
            (event.clientX > kAbortCornerCss || event.clientY > kAbortCornerCss)) endAbortHold();
        break;
      case 'pointerup':
        if (!touches.has(event.pointerId)) return;
        touches.set(event.pointerId, [x, y]);
        sendTouch(time, event.pointerId);
        touches.delete(event.pointerId);
        if (abortHold.id === event.pointerId) endAbortHold();
        break;
      case 'pointercancel':
        // The browser took the contacts away: all of them end.
        for (const id of touches.keys()) program._pyokoran_page_touch_contact(...touches.get(id), 1);
        program._pyokoran_page_touch_end(time);
        touches.clear();
        endAbortHold();
        break;
    }
    return;
  }
  // Mouse and pen: the left and right buttons, moves while the left is held.
  switch (event.type) {
    case 'pointerdown':
      if (event.button !== 0 && event.button !== 2) return;
      stage.canvas.setPointerCapture(event.pointerId);
      input(kInput.ButtonDown, event.button, x, y, time);
      if (event.pointerType === 'pen') watchAbortHold(event);
      break;
    case 'pointermove':
      if (event.buttons === 0) return;
      input(kInput.MouseMove, event.buttons & 1, x, y, time);
      if (abortHold.id === event.pointerId &&
          (event.clientX > kAbortCornerCss || event.clientY > kAbortCornerCss)) endAbortHold();
      break;
    case 'pointerup':
    case 'pointercancel':
      if (event.button !== 0 && event.button !== 2 && event.type === 'pointerup') return;
      input(kInput.ButtonUp, event.button === 2 ? 2 : 0, 0, 0, time);
      if (abortHold.id === event.pointerId) endAbortHold();
      break;
  }
}

function keyCode(event) {
  if (event.key === 'Escape' || event.key === 'Esc') return VK_ESCAPE;
  if (event.key === 'Enter') return VK_RETURN;
  return 0;
}

function onKey(event) {
  unlockAudio();
  const vk = keyCode(event);
  if (!vk || !program) return;
  // The key state the trial loop asks for, whatever has the focus.
  program._pyokoran_page_key(vk, event.type === 'keydown' ? 1 : 0);
  if (event.type !== 'keydown' || event.repeat) return;
  const dialogOpen = !!document.querySelector('dialog[open]');
  if (experimentShown && !dialogOpen) {
    event.preventDefault();
  } else if (vk === VK_ESCAPE && !dialogOpen && !mainWindow.hidden) {
    closeMenus();
    input(kInput.MainKey, VK_ESCAPE);
  }
}

// --- Sound --------------------------------------------------------------------------------------

function unlockAudio() {
  if (audio) {
    if (audio.state === 'suspended') audio.resume();
    return;
  }
  const Context = window.AudioContext || window.webkitAudioContext;
  if (!Context) return;
  audio = new Context();
  // A silent moment started from the tap unlocks the output on every browser.
  const silence = audio.createBuffer(1, 1, 22050);
  const source = audio.createBufferSource();
  source.buffer = silence;
  source.connect(audio.destination);
  source.start(0);
  audio.resume();
}

// A WAV file image's PCM samples as an AudioBuffer (null when it is not plain PCM or float).
function wavBuffer(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const text = (at) => String.fromCharCode(bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]);
  if (bytes.length < 12 || text(0) !== 'RIFF' || text(8) !== 'WAVE') return null;
  let format = null, data = null;
  for (let at = 12; at + 8 <= bytes.length;) {
    const id = text(at), size = view.getUint32(at + 4, true);
    const body = at + 8;
    if (id === 'fmt ' && size >= 16) {
      format = {tag: view.getUint16(body, true), channels: view.getUint16(body + 2, true),
                rate: view.getUint32(body + 4, true), bits: view.getUint16(body + 14, true)};
    } else if (id === 'data') {
      data = [body, Math.min(size, bytes.length - body)];
    }
    at = body + size + (size & 1);
  }
  if (!format || !data || format.channels < 1 || format.rate < 3000 || format.rate > 384000) return null;
  const width = format.bits / 8;
  const pcm = format.tag === 1 || format.tag === 0xFFFE;
  if (!(pcm && [1, 2, 3, 4].includes(width)) && !(format.tag === 3 && width === 4)) return null;
  const frames = Math.floor(data[1] / (width * format.channels));
  if (frames < 1) return null;
  const buffer = audio.createBuffer(format.channels, frames, format.rate);
  for (let c = 0; c < format.channels; ++c) {
    const out = buffer.getChannelData(c);
    for (let i = 0; i < frames; ++i) {
      const at = data[0] + (i * format.channels + c) * width;
      let v;
      if (format.tag === 3) v = view.getFloat32(at, true);
      else if (width === 1) v = (bytes[at] - 128) / 128;
      else if (width === 2) v = view.getInt16(at, true) / 32768;
      else if (width === 3) v = ((bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16)) << 8 >> 8) / 8388608;
      else v = view.getInt32(at, true) / 2147483648;
      out[i] = v;
    }
  }
  return buffer;
}

function play(pointer, size) {
  let bytes = null;
  if (pointer) {
    bytes = PyokoranPage.heapU8().slice(pointer, pointer + size);
    program._free(pointer);
  }
  if (playing) {
    try { playing.stop(); } catch (e) { /* ended already */ }
    playing = null;
  }
  if (!bytes || !audio) return;
  const start = (buffer) => {
    const source = audio.createBufferSource();
    source.buffer = buffer;
    source.connect(audio.destination);
    source.start();
    playing = source;
    ++page.soundsPlayed;
  };
  const buffer = wavBuffer(bytes);
  if (buffer) start(buffer);
  else audio.decodeAudioData(bytes.buffer).then(start, () => {});
}

// --- The main window and its menus ---------------------------------------------------------------

let mainWindow = null;

function closeMenus() {
  for (const items of document.querySelectorAll('#menubar .items')) items.hidden = true;
  for (const title of document.querySelectorAll('#menubar .menutitle')) title.setAttribute('aria-expanded', 'false');
}

// Where the browser lets the page, the run goes full screen (from the tap that starts it).
// Escape then reaches the page where the browser lets it keep the key (Chromium's keyboard
// lock); elsewhere the browser takes Escape to leave full screen, and leaving full screen
// during a run counts as Escape.
function fullScreen() {
  const element = document.documentElement;
  const request = element.requestFullscreen || element.webkitRequestFullscreen;
  if (request && !document.fullscreenElement && !document.webkitFullscreenElement) {
    try {
      const result = request.call(element);
      if (result && result.then) {
        result.then(() => {
          if (navigator.keyboard && navigator.keyboard.lock) navigator.keyboard.lock(['Escape']).catch(() => {});
        }, () => {});
      }
    } catch (e) { /* not here */ }
  }
}

function onFullScreenChange() {
  const full = !!(document.fullscreenElement || document.webkitFullscreenElement);
  if (!full && experimentShown && program) {
    program._pyokoran_page_key(VK_ESCAPE, 1);
    program._pyokoran_page_key(VK_ESCAPE, 0);
  }
}

function setUpMainWindow() {
  mainWindow = document.getElementById('main');
  for (const title of document.querySelectorAll('#menubar .menutitle')) {
    title.addEventListener('click', (event) => {
      event.stopPropagation();
      const items = title.nextElementSibling;
      const open = items.hidden;
      closeMenus();
      items.hidden = !open;
      title.setAttribute('aria-expanded', String(open));
    });
  }
  for (const item of document.querySelectorAll('#menubar [data-command]')) {
    item.addEventListener('click', (event) => {
      event.stopPropagation();
      closeMenus();
      const command = Number(item.dataset.command);
      if (command === 40005) fullScreen();
      input(kInput.Command, command);
    });
  }
  document.querySelector('#menubar [data-page="export"]').addEventListener('click', (event) => {
    event.stopPropagation();
    closeMenus();
    downloadExport();
  });
  document.querySelector('#menubar [data-page="report"]').addEventListener('click', (event) => {
    event.stopPropagation();
    closeMenus();
    // The tab is opened by the tap itself (browsers allow new tabs only then), filled later.
    const tab = window.open('', '_blank');
    if (!tab) {
      message(0, 'ブラウザが新しいタブを開かせませんでした。ポップアップを許可してください。', 'ピョコラン', 2, false, () => {});
      return;
    }
    tab.document.title = 'ピョコラン';
    tab.document.body.textContent = 'レポートを作っています…';
    openReport(tab).catch((error) => {
      page.reportError = String(error);
      message(0, 'レポートを作れませんでした: ' + (error.message || error), 'ピョコラン', 2, false, () => {});
    });
  });
  document.querySelector('#menubar [data-page="check-timing"]').addEventListener('click', (event) => {
    event.stopPropagation();
    closeMenus();
    fullScreen();
    input(kInput.CheckTiming, 0);
  });
  setUpFolderMenu();
  const chooser = document.getElementById('import-files');
  document.querySelector('#menubar [data-page="import"]').addEventListener('click', (event) => {
    event.stopPropagation();
    closeMenus();
    chooser.value = '';
    chooser.click();
  });
  chooser.addEventListener('change', () => {
    if (chooser.files.length) importChosen([...chooser.files]);
  });
  document.getElementById('client').addEventListener('click', (event) => {
    unlockAudio();
    if (document.querySelector('#menubar .items:not([hidden])')) {
      closeMenus();
      return;
    }
    if (event.button !== 0) return;
    fullScreen();
    input(kInput.MainClick, 0);
  });
}

// --- Dialogs ------------------------------------------------------------------------------------

// Enter presses the default button (a focused button presses itself); Escape and the close box
// cancel.
function modal(dialog, onCancel) {
  dialog.onkeydown = (event) => {
    if (event.key === 'Enter' && !event.isComposing && event.target.tagName !== 'BUTTON') {
      event.preventDefault();
      const button = [...dialog.querySelectorAll('button.default')].find((b) => !b.hidden);
      if (button) button.click();
    } else if (event.key === 'Escape') {
      event.preventDefault();
      onCancel();
    } else if (event.key === 'Tab') {
      // The focus stays among the dialog's own controls.
      const controls = [...dialog.querySelectorAll('input, button, [tabindex="0"]')]
        .filter((c) => !c.hidden && c.tabIndex >= 0 && c.offsetParent !== null);
      if (controls.length === 0) return;
      const at = controls.indexOf(document.activeElement);
      const next = event.shiftKey ? (at <= 0 ? controls.length - 1 : at - 1) : (at + 1) % controls.length;
      event.preventDefault();
      controls[next].focus();
      if (controls[next].tagName === 'INPUT' && controls[next].type !== 'checkbox') controls[next].select();
    }
  };
  dialog.oncancel = (event) => {
    event.preventDefault();
    onCancel();
  };
  dialog.querySelector('.titlebar .close').onclick = () => onCancel();
  if (!dialog.open) dialog.showModal();
}

// A message box: OK, or 再試行 and 中止 (retry: answers 1 for 再試行, 2 for 中止).
function message(request, text, caption, icon, retry, then) {
  const dialog = document.getElementById('message');
  dialog.querySelector('.title').textContent = caption;
  dialog.querySelector('.text').textContent = text;
  dialog.querySelector('.icon').textContent = icon === 1 ? '⛔' : icon === 2 ? '⚠️' : '';
  const ok = dialog.querySelector('.ok'), again = dialog.querySelector('.retry'), giveUp = dialog.querySelector('.giveup');
  ok.hidden = !!retry;
  again.hidden = giveUp.hidden = !retry;
  const done = (code) => {
    dialog.close();
    if (then) then();
    else answer(request, code);
  };
  ok.onclick = () => done(1);
  again.onclick = () => done(1);
  giveUp.onclick = () => done(2);
  modal(dialog, () => done(retry ? 2 : 1));
  (retry ? again : ok).focus();
}

const condition = {request: 0};

function conditionFields() {
  return ['1001', '1011', '1006', '1007', '1012', '1008', '1009', '1010', '1013']
    .map((id) => document.getElementById('c' + id));
}

function conditionDialog(request, fields, ordered) {
  condition.request = request;
  const dialog = document.getElementById('condition');
  // fields: each as its length in UTF-8 bytes, a colon and its text.
  const bytes = new TextEncoder().encode(fields);
  const decoder = new TextDecoder();
  const values = [];
  for (let at = 0; at < bytes.length;) {
    let colon = at;
    while (bytes[colon] !== 0x3A) ++colon;
    const length = Number(decoder.decode(bytes.subarray(at, colon)));
    values.push(decoder.decode(bytes.subarray(colon + 1, colon + 1 + length)));
    at = colon + 1 + length;
  }
  conditionFields().forEach((edit, i) => { edit.value = values[i] || ''; });
  document.getElementById('c1014').checked = !!ordered;
  const cancel = () => {
    dialog.close();
    answer(condition.request, 2);
  };
  document.getElementById('c2').onclick = cancel;
  document.getElementById('c1').onclick = () => {
    const encoder = new TextEncoder();
    let text = '';
    for (const edit of conditionFields()) text += encoder.encode(edit.value).length + ':' + edit.value;
    text += '1:' + (document.getElementById('c1014').checked ? '1' : '0');
    answer(condition.request, 1, text);
    // The program answers with the dialog's end (the next request) or a problem.
    condition.waiting = true;
  };
  modal(dialog, cancel);
  const subject = document.getElementById('c1001');
  subject.focus();
  subject.select();
}

// A field failed: the message, then the field with its text selected; the dialog stays.
function conditionProblem(request, text, field) {
  condition.request = request;
  message(0, text, 'pyokoran', 2, false, () => {
    const edit = document.getElementById('c' + field);
    if (edit) {
      edit.focus();
      edit.select();
    }
  });
}

function ranking(request, lines, summary, selected) {
  const dialog = document.getElementById('ranking');
  document.getElementById('r1008').textContent = summary;
  const list = document.getElementById('r1007');
  list.textContent = '';
  const items = lines.split('\n').filter((l, i, all) => i < all.length - 1 || l !== '');
  items.forEach((line, i) => {
    const option = document.createElement('div');
    option.setAttribute('role', 'option');
    option.textContent = line || ' ';
    option.onclick = () => select(i);
    list.append(option);
  });
  let current = -1;
  function select(i) {
    if (i < 0 || i >= items.length) return;
    if (current >= 0) list.children[current].removeAttribute('aria-selected');
    current = i;
    list.children[i].setAttribute('aria-selected', 'true');
    // Into view inside the list only (the dialog itself stays where it is).
    const option = list.children[i];
    if (option.offsetTop < list.scrollTop) list.scrollTop = option.offsetTop;
    else if (option.offsetTop + option.offsetHeight > list.scrollTop + list.clientHeight) {
      list.scrollTop = option.offsetTop + option.offsetHeight - list.clientHeight;
    }
  }
  list.onkeydown = (event) => {
    const page = Math.max(1, Math.floor(list.clientHeight / (list.firstChild ? list.firstChild.offsetHeight : 16)) - 1);
    const moves = {ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page};
    if (event.key in moves) select(Math.min(Math.max(current + moves[event.key], 0), items.length - 1));
    else if (event.key === 'Home') select(0);
    else if (event.key === 'End') select(items.length - 1);
    else return;
    event.preventDefault();
  };
  const close = () => {
    dialog.close();
    answer(request, 1);
  };
  document.getElementById('r1').onclick = close;
  modal(dialog, close);
  select(selected);
  list.focus();
}

// The timing check's report (as --check-timing prints it), also on the console.
function timingReport(request, text) {
  const dialog = document.getElementById('timing');
  document.getElementById('timing-report').textContent = text;
  page.timingReport = text;
  const close = () => {
    dialog.close();
    answer(request, 1);
  };
  document.getElementById('t1').onclick = close;
  modal(dialog, close);
  document.getElementById('t1').focus();
}

function about(request, version, where) {
  const dialog = document.getElementById('about');
  document.getElementById('about-credit').textContent = 'ピョコラン開発チーム 2026\nバージョン ' + version;
  document.getElementById('about-folder').textContent =
    'このブラウザの保存領域 (' + location.origin + location.pathname.replace(/[^/]*$/, '') + ') ' + where +
    (folder.handle ? '\nとこのコンピューターのフォルダ「' + folder.handle.name + '」' : '');
  const close = () => {
    dialog.close();
    answer(request, 1);
  };
  document.getElementById('a1').onclick = close;
  modal(dialog, close);
  document.getElementById('a1').focus();
}

// --- What the program calls ------------------------------------------------------------------------

window.PyokoranPage = {
  heapU8: null,  // set by the program: its memory as bytes
  screenWidth: () => screenSize()[0],
  screenHeight: () => screenSize()[1],
  // A browser without a screen (its frames and input times say nothing about timing).
  headless: () => /HeadlessChrome/.test(navigator.userAgent) || navigator.webdriver === true,
  showMainWindow(title, captionLine) {
    document.title = title;
    document.getElementById('caption').textContent = captionLine;
    document.getElementById('notice').hidden = true;
    mainWindow.hidden = false;
  },
  restoreMainWindow() {
    mainWindow.hidden = false;
  },
  mainWindowClosed() {
    mainWindow.hidden = true;
  },
  showExperimentWindow(request) {
    const [width, height] = screenSize();
    stage.width = stage.canvas.width = width;
    stage.height = stage.canvas.height = height;
    stage.g = stage.canvas.getContext('2d', {alpha: false});
    stage.g.fillStyle = '#000';
    stage.g.fillRect(0, 0, width, height);
    stage.canvas.hidden = false;
    mainWindow.hidden = true;
    experimentShown = true;
    stage.pending = null;
    stage.lastDrawTime = 0;
    stage.measuring = {request, intervals: []};
    touches.clear();
    startFrames();
    input(kInput.Activate, 1);
  },
  hideExperimentWindow() {
    experimentShown = false;
    stage.pending = null;
    stage.canvas.hidden = true;
    touches.clear();
    endAbortHold();
    if (document.fullscreenElement && document.exitFullscreen) document.exitFullscreen().catch(() => {});
    if (navigator.keyboard && navigator.keyboard.unlock) navigator.keyboard.unlock();
  },
  present(pixels, width, height, left, top, right, bottom, sequence, every) {
    stage.pending = {pixels, width, height, left, top, right, bottom, sequence, every: Math.max(every, 1)};
    if (!experimentShown) return;
    startFrames();
  },
  message: (request, text, caption, icon, retry) => message(request, text, caption, icon, retry),
  conditionDialog,
  conditionProblem,
  conditionClosed: () => document.getElementById('condition').close(),
  ranking,
  about,
  timingReport,
  play,
};

// --- The working folder -------------------------------------------------------------------------

function sync(FS, populate) {
  return new Promise((resolve, reject) => FS.syncfs(populate, (error) => (error ? reject(error) : resolve())));
}

function filesBelow(FS, folder, prefix, into) {
  for (const name of FS.readdir(folder)) {
    if (name === '.' || name === '..') continue;
    const path = folder + '/' + name;
    if (FS.isDir(FS.stat(path).mode)) filesBelow(FS, path, prefix + name + '/', into);
    else into[prefix + name] = FS.readFile(path);
  }
  return into;
}

// The working folder as a zip: every file with its exact bytes.
function exportZip() {
  return zipFiles(filesBelow(program.FS, kFolder, '', {}));
}

function downloadExport() {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([exportZip()], {type: 'application/zip'}));
  const now = new Date();
  const two = (n) => String(n).padStart(2, '0');
  link.download = 'pyokoran-' + now.getFullYear() + two(now.getMonth() + 1) + two(now.getDate()) + '-' +
                  two(now.getHours()) + two(now.getMinutes()) + '.zip';
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}
page.exportZip = () => exportZip();

// --- The report -------------------------------------------------------------------------------

// The report of the folder's runs (the program's --report, HTML) in a new tab: a second copy of
// the program makes it from a copy of the result files in its own memory; the folder is only read.
async function openReport(tab) {
  const results = filesBelow(program.FS, kFolder, '', {});
  let ended;
  const exited = new Promise((resolve) => { ended = resolve; });
  const errors = [];
  const other = await Pyokoran({print: () => {}, printErr: (line) => errors.push(line), onExit: (status) => ended(status)});
  other.FS.mkdir('/results');
  for (const [path, bytes] of Object.entries(results)) {
    if (path.includes('/')) continue;  // the stimuli and other folders play no part
    other.FS.writeFile('/results/' + path, bytes);
  }
  other.FS.chdir('/results');
  other.callMain(['--report', '.', '--out', '/report']);
  const status = await exited;
  if (status !== 0 || !other.FS.analyzePath('/report.html').exists) {
    tab.close();
    throw new Error(errors.join('\n') || 'exit status ' + status);
  }
  const html = other.FS.readFile('/report.html');
  page.reportBytes = html.length;
  tab.location.href = URL.createObjectURL(new Blob([html], {type: 'text/html; charset=utf-8'}));
}

// --- Import -------------------------------------------------------------------------------------

// The files of a zip archive ({path, bytes}): stored or deflated, the names in UTF-8 where the
// archive says so (or in its Unicode path field), else in code page 932 (Windows' own zips).
async function unzip(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let end = -1;
  for (let at = bytes.length - 22; at >= Math.max(0, bytes.length - 22 - 65535); --at) {
    if (view.getUint32(at, true) === 0x06054b50) { end = at; break; }
  }
  if (end < 0) throw new Error('zip ではありません');
  const count = view.getUint16(end + 10, true);
  let at = view.getUint32(end + 16, true);
  const files = [];
  for (let i = 0; i < count; ++i) {
    if (at + 46 > bytes.length || view.getUint32(at, true) !== 0x02014b50) throw new Error('zip が壊れています');
    const flags = view.getUint16(at + 8, true), method = view.getUint16(at + 10, true);
    const crc = view.getUint32(at + 16, true), packedSize = view.getUint32(at + 20, true);
    const size = view.getUint32(at + 24, true);
    const nameLength = view.getUint16(at + 28, true), extraLength = view.getUint16(at + 30, true);
    const commentLength = view.getUint16(at + 32, true), local = view.getUint32(at + 42, true);
    const rawName = bytes.subarray(at + 46, at + 46 + nameLength);
    let name = null;
    for (let e = at + 46 + nameLength; e + 4 <= at + 46 + nameLength + extraLength;) {
      const id = view.getUint16(e, true), length = view.getUint16(e + 2, true);
      if (id === 0x7075 && length > 5) name = new TextDecoder().decode(bytes.subarray(e + 9, e + 4 + length));
      e += 4 + length;
    }
    if (name === null) name = new TextDecoder(flags & 0x800 ? 'utf-8' : 'shift_jis').decode(rawName);
    at += 46 + nameLength + extraLength + commentLength;
    if (name.endsWith('/')) continue;
    const data = local + 30 + view.getUint16(local + 26, true) + view.getUint16(local + 28, true);
    const packed = bytes.subarray(data, data + packedSize);
    let content;
    if (method === 0) content = packed.slice();
    else if (method === 8 && typeof DecompressionStream === 'function') {
      const stream = new Blob([packed]).stream().pipeThrough(new DecompressionStream('deflate-raw'));
      content = new Uint8Array(await new Response(stream).arrayBuffer());
    } else throw new Error(name + ': この圧縮方式は読めません');
    if (content.length !== size || crc32(content) !== crc) throw new Error(name + ': 中身が壊れています');
    files.push({path: name.replace(/\\/g, '/'), bytes: content});
  }
  // A zip of the folder itself (everything under one top folder) is read from inside it.
  const tops = new Set(files.map((f) => f.path.split('/')[0]));
  if (tops.size === 1 && files.every((f) => f.path.includes('/')) && !tops.has('stim')) {
    const top = [...tops][0] + '/';
    for (const f of files) f.path = f.path.slice(top.length);
  }
  return files;
}

// Files into the working folder: stimuli and the settings replace what is there; every other
// file (results) is only added: one that exists with other bytes is left as it is and named.
async function importFiles(list) {
  const FS = program.FS;
  const entries = [];
  for (const file of list) {
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (/\.zip$/i.test(file.name)) entries.push(...await unzip(bytes));
    else entries.push({path: (/\.(bmp|wav)$/i.test(file.name) ? 'stim/' : '') + file.name, bytes});
  }
  const result = {written: [], same: [], refused: [], settings: false};
  for (const {path, bytes} of entries) {
    const parts = path.split('/');
    if (parts.some((p) => p === '' || p === '.' || p === '..')) {
      result.refused.push(path);
      continue;
    }
    const full = kFolder + '/' + path;
    const replaceable = parts[0] === 'stim' || path === 'ピョコラン.ini';
    if (FS.analyzePath(full).exists) {
      const old = FS.readFile(full);
      if (old.length === bytes.length && old.every((b, i) => b === bytes[i])) {
        result.same.push(path);
        continue;
      }
      if (!replaceable) {
        result.refused.push(path);
        continue;
      }
    }
    for (let i = 1; i < parts.length; ++i) {
      const folder = kFolder + '/' + parts.slice(0, i).join('/');
      if (!FS.analyzePath(folder).exists) FS.mkdir(folder);
    }
    FS.writeFile(full, bytes);
    result.written.push(path);
    if (path === 'ピョコラン.ini') result.settings = true;
  }
  await sync(FS, false);
  await writeThrough();
  return result;
}

function importChosen(list) {
  importFiles(list).then((result) => {
    let text = '読み込みました: ' + result.written.length + ' 個のファイル';
    if (result.same.length) text += '\n同じ内容ですでにあるもの: ' + result.same.length + ' 個';
    if (result.refused.length) {
      text += '\n\n次のファイルは、作業フォルダに別の内容ですでにあるため読み込みませんでした' +
              '（結果のファイルは上書きしません）:\n' + result.refused.join('\n');
    }
    if (result.settings) text += '\n\n設定ファイルを読み込んだので、ページを読み込み直します。';
    page.imported = result;
    message(0, text, 'ピョコラン', result.refused.length ? 2 : 0, false, () => {
      // The program keeps its settings in memory and writes them back: new settings take effect
      // in a fresh start of the page.
      if (result.settings) location.reload();
    });
  }, (error) => {
    page.imported = {error: String(error)};
    message(0, '読み込めませんでした: ' + (error.message || error), 'ピョコラン', 2, false, () => {});
  });
}


// --- A folder on this computer (File System Access: desktop Chrome and Edge) ---------------
//
// The chosen folder holds the same files as the browser's storage: when it is taken into use,
// each file only on one side is copied to the other, the folder's stimuli and settings replace
// the page's, and a result file that differs on the two sides is taken only where one holds
// the other's lines with more appended (nothing is lost); any other difference keeps the
// folder out, naming the files. From then on every file stored (each run's appends, the
// settings, an import) is written into the folder as well, each file whole (the browser
// replaces it only once it is written). A file the folder has that changed outside since the
// page wrote it is not overwritten. The folder's handle is kept in IndexedDB: after a reload
// the browser asks again for permission, through a tap on the bar that names the folder.

const folder = {handle: null, written: new Map(), waiting: null, problem: ''};

function folderSupported() {
  return typeof window.showDirectoryPicker === 'function';
}

function handleDatabase() {
  return new Promise((resolve, reject) => {
    const request = indexedDB.open('pyokoran-folder', 1);
    request.onupgradeneeded = () => request.result.createObjectStore('handles');
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
}

async function keptHandle(handle) {
  const db = await handleDatabase();
  return new Promise((resolve, reject) => {
    const store = db.transaction('handles', handle === undefined ? 'readonly' : 'readwrite').objectStore('handles');
    const request = handle === undefined ? store.get('folder') : handle === null ? store.delete('folder')
                                                                               : store.put(handle, 'folder');
    request.onsuccess = () => { db.close(); resolve(request.result || null); };
    request.onerror = () => { db.close(); reject(request.error); };
  });
}

function sameBytes(a, b) {
  return a.length === b.length && a.every((v, i) => v === b[i]);
}

function startsWith(bytes, head) {
  return bytes.length >= head.length && head.every((v, i) => v === bytes[i]);
}

function signature(bytes) {
  return bytes.length + ':' + crc32(bytes);
}

// The folder's files the program uses: the settings and results at its top, the stimuli in stim
// (whatever else it holds stays out of the page).
async function folderFiles(directory) {
  const files = {};
  for await (const [name, entry] of directory.entries()) {
    if (entry.kind === 'file' && /\.(ini|txt|csv)$/i.test(name)) {
      files[name] = new Uint8Array(await (await entry.getFile()).arrayBuffer());
    } else if (entry.kind === 'directory' && name === 'stim') {
      for await (const [inner, file] of entry.entries()) {
        if (file.kind === 'file' && /\.(bmp|wav)$/i.test(inner)) {
          files['stim/' + inner] = new Uint8Array(await (await file.getFile()).arrayBuffer());
        }
      }
    }
  }
  return files;
}

async function writeIntoFolder(directory, path, bytes) {
  const parts = path.split('/');
  let at = directory;
  for (const part of parts.slice(0, -1)) at = await at.getDirectoryHandle(part, {create: true});
  const writable = await (await at.getFileHandle(parts[parts.length - 1], {create: true})).createWritable();
  await writable.write(bytes);
  await writable.close();
}

function writeIntoStorage(path, bytes) {
  const FS = program.FS;
  const parts = path.split('/');
  for (let i = 1; i < parts.length; ++i) {
    const sub = kFolder + '/' + parts.slice(0, i).join('/');
    if (!FS.analyzePath(sub).exists) FS.mkdir(sub);
  }
  FS.writeFile(kFolder + '/' + path, bytes);
}

// Takes the folder into use (see above); {refused: [...]} when a result file differs on both
// sides, else {settings: whether the folder's settings replaced the page's}.
async function connectFolder(handle) {
  const here = filesBelow(program.FS, kFolder, '', {});
  const there = await folderFiles(handle);
  const refused = [], toFolder = [], toStorage = [];
  for (const [path, bytes] of Object.entries(here)) {
    const theirs = there[path];
    if (!theirs) toFolder.push(path);
    else if (sameBytes(bytes, theirs)) continue;
    else if (path.startsWith('stim/') || path === 'ピョコラン.ini') toStorage.push(path);
    else if (startsWith(theirs, bytes)) toStorage.push(path);
    else if (startsWith(bytes, theirs)) toFolder.push(path);
    else refused.push(path);
  }
  for (const path of Object.keys(there)) {
    if (!(path in here)) toStorage.push(path);
  }
  // What the page has beside those is written into the folder only where the folder has nothing
  // else under that name.
  for (const path of toFolder) {
    if (path in there) continue;
    const theirs = await folderFile(handle, path);
    if (theirs && !startsWith(here[path], theirs)) refused.push(path);
  }
  if (refused.length) return {refused};
  for (const path of toFolder) await writeIntoFolder(handle, path, here[path]);
  for (const path of toStorage) writeIntoStorage(path, there[path]);
  await sync(program.FS, false);
  folder.handle = handle;
  folder.written = new Map();
  for (const [path, bytes] of Object.entries(filesBelow(program.FS, kFolder, '', {}))) {
    folder.written.set(path, signature(bytes));
  }
  page.folderName = handle.name;
  page.folderCopied = {toFolder, toStorage};
  showFolderMenu();
  return {settings: toStorage.includes('ピョコラン.ini')};
}

async function folderFile(directory, path) {
  const parts = path.split('/');
  try {
    let at = directory;
    for (const part of parts.slice(0, -1)) at = await at.getDirectoryHandle(part);
    return new Uint8Array(await (await (await at.getFileHandle(parts[parts.length - 1])).getFile()).arrayBuffer());
  } catch (error) {
    if (error.name === 'NotFoundError') return null;
    throw error;
  }
}

// Every file stored that changed since it was written into the folder is written again, one
// write-through after the other. What goes wrong is told on the bar, not in a dialog (the
// program may have one open).
function writeThrough() {
  folder.chain = (folder.chain || Promise.resolve()).then(writeChanged);
  return folder.chain;
}

async function writeChanged() {
  const handle = folder.handle;
  if (!handle) return;
  const skipped = [];
  try {
    for (const [path, bytes] of Object.entries(filesBelow(program.FS, kFolder, '', {}))) {
      const mark = signature(bytes);
      const last = folder.written.get(path);
      if (last === mark) continue;
      // Only over what this page wrote there last (or nothing).
      const current = await folderFile(handle, path);
      if (current && (last === undefined || signature(current) !== last) && !sameBytes(current, bytes)) {
        skipped.push(path);
        continue;
      }
      await writeIntoFolder(handle, path, bytes);
      folder.written.set(path, mark);
    }
  } catch (error) {
    folder.handle = null;
    folderProblem('フォルダ「' + handle.name + '」に書き込めなくなりました: ' + (error.message || error) +
                  '\nファイルはこのブラウザの保存領域にあります（書き出しで取り出せます）。');
    return;
  }
  if (skipped.length) {
    page.folderSkipped = skipped;
    folderProblem('フォルダ「' + handle.name + '」の次のファイルはほかで変更されていたため、上書きしませんでした:\n' +
                  skipped.join('\n') + '\nこのページのファイルはこのブラウザの保存領域にあります（書き出しで取り出せます）。');
  }
}

function folderProblem(text) {
  folder.problem = text;
  page.folderProblem = text;
  showFolderMenu();
}

function refusedText(name, refused) {
  return 'フォルダ「' + name + '」は使いません。次の結果のファイルが、このブラウザの保存領域とフォルダで違う内容です' +
         '（どちらかを失うことになるため）:\n' + refused.join('\n') +
         '\n\n書き出しでこのブラウザのファイルを取り出してから、別のフォルダを選んでください。';
}

// Connects a folder chosen on the page (or handed in by a test): its result told, the handle
// kept for the next time.
async function useFolder(handle) {
  const result = await connectFolder(handle);
  page.folderResult = result;
  if (result.refused) {
    message(0, refusedText(handle.name, result.refused), 'ピョコラン', 2, false, () => {});
    return result;
  }
  await keptHandle(handle);
  let text = 'このコンピューターのフォルダ「' + handle.name + '」を使います。結果のファイルは、このブラウザの保存領域とこのフォルダの両方に書かれます。';
  if (result.settings) text += '\n\nフォルダの設定ファイルを読み込んだので、ページを読み込み直します。';
  message(0, text, 'ピョコラン', 0, false, () => {
    if (result.settings) location.reload();
  });
  return result;
}
page.useFolder = (handle) => useFolder(handle);

function showFolderMenu() {
  const supported = folderSupported();
  document.querySelector('#menubar [data-page="folder"]').hidden = !supported;
  document.querySelector('#menubar [data-page="folder-stop"]').hidden = !folder.handle && !folder.waiting;
  const bar = document.getElementById('folder-again');
  bar.hidden = !folder.problem && (!folder.waiting || !!folder.handle);
  if (folder.problem) bar.textContent = '⚠ フォルダの問題（タップで詳しく）';
  else if (folder.waiting) bar.textContent = 'フォルダ「' + folder.waiting.name + '」を使い続ける（許可する）';
}

function setUpFolderMenu() {
  showFolderMenu();
  document.querySelector('#menubar [data-page="folder"]').addEventListener('click', (event) => {
    event.stopPropagation();
    closeMenus();
    window.showDirectoryPicker({id: 'pyokoran', mode: 'readwrite'}).then(
      (handle) => useFolder(handle),
      (error) => { if (error.name !== 'AbortError') throw error; })
      .catch((error) => message(0, 'フォルダを使えませんでした: ' + (error.message || error), 'ピョコラン', 2, false, () => {}));
  });
  document.querySelector('#menubar [data-page="folder-stop"]').addEventListener('click', (event) => {
    event.stopPropagation();
    closeMenus();
    folder.handle = folder.waiting = null;
    folder.problem = '';
    page.folderName = '';
    keptHandle(null).catch(() => {});
    showFolderMenu();
  });
  document.getElementById('folder-again').addEventListener('click', (event) => {
    event.stopPropagation();
    if (folder.problem) {
      const text = folder.problem;
      folder.problem = '';
      showFolderMenu();
      message(0, text, 'ピョコラン', 2, false, () => {});
      return;
    }
    const handle = folder.waiting;
    if (!handle) return;
    handle.requestPermission({mode: 'readwrite'}).then((state) => {
      if (state !== 'granted') return;
      folder.waiting = null;
      return useFolder(handle);
    }).catch((error) => message(0, 'フォルダを使えませんでした: ' + (error.message || error), 'ピョコラン', 2, false, () => {}));
  });
}

// At the page's start: the folder of last time, at once if the browser still allows it, else
// through the bar (permission needs a tap).
async function reconnectFolder() {
  if (!folderSupported()) return;
  let handle = null;
  try {
    handle = await keptHandle();
  } catch (error) {
    console.warn('no folder handle:', error);
  }
  if (!handle) return;
  const state = await handle.queryPermission({mode: 'readwrite'}).catch(() => 'denied');
  if (state === 'granted') {
    const result = await connectFolder(handle).catch((error) => ({error}));
    if (!result.refused && !result.error) return;
    folderProblem(result.refused ? refusedText(handle.name, result.refused)
                                 : 'フォルダ「' + handle.name + '」を使えませんでした: ' + result.error);
    return;
  }
  folder.waiting = handle;
}

function notice(text) {
  const box = document.getElementById('notice');
  box.textContent = text;
  box.hidden = false;
}

async function start() {
  setUpMainWindow();
  // Ask the browser to keep the folder when it clears storage on its own (it may refuse).
  if (navigator.storage && navigator.storage.persist) navigator.storage.persist().catch(() => {});
  stage.canvas = document.getElementById('stage');
  for (const type of ['pointerdown', 'pointermove', 'pointerup', 'pointercancel']) {
    stage.canvas.addEventListener(type, onPointer, {passive: false});
  }
  stage.canvas.addEventListener('contextmenu', (event) => event.preventDefault());
  window.addEventListener('keydown', onKey, true);
  window.addEventListener('keyup', onKey, true);
  window.addEventListener('blur', () => {
    if (experimentShown) input(kInput.Activate, 0);
  });
  window.addEventListener('focus', () => {
    if (experimentShown) input(kInput.Activate, 1);
  });
  document.addEventListener('pointerdown', unlockAudio, true);
  document.addEventListener('fullscreenchange', onFullScreenChange);
  document.addEventListener('webkitfullscreenchange', onFullScreenChange);

  if (!(self.crossOriginIsolated === true && typeof SharedArrayBuffer === 'function')) {
    page.problem = 'not isolated';
    notice('このページはクロスオリジン分離されていないため、ブラウザーがスレッドを与えず、ピョコランを動かせません。\n' +
           'サーバーはすべてのファイルに "Cross-Origin-Opener-Policy: same-origin" と ' +
           '"Cross-Origin-Embedder-Policy: require-corp" を付けて送る必要があります（scripts/run-web はそうします）。');
    return;
  }
  if (!navigator.locks) {
    page.problem = 'no locks';
    notice('このブラウザーは Web Locks に対応していないため、作業フォルダーを守れません。新しいブラウザーで開いてください。');
    return;
  }
  // One page of this address writes the working folder: held as long as this page lives.
  await navigator.locks.request(kLock, {ifAvailable: true}, async (lock) => {
    if (!lock) {
      page.problem = 'busy';
      notice('ピョコランは、このブラウザーの別のタブかウィンドウですでに開いています。\nそちらを使うか、閉じてからこのページを読み込み直してください。');
      return;
    }
    await runProgram();
  });
}

async function runProgram() {
  let ended;
  const exited = new Promise((resolve) => { ended = resolve; });
  notice('読み込み中…');
  program = await Pyokoran({
    print: (line) => console.log(line),
    printErr: (line) => console.warn(line),
    onExit: (status) => ended(status),
  });
  const FS = program.FS;
  FS.mkdir(kFolder);
  FS.mount(FS.filesystems.IDBFS, {}, kFolder);
  await sync(FS, true);
  // The sample stimuli, the first time.
  if (!FS.analyzePath(kFolder + '/stim').exists) {
    FS.mkdir(kFolder + '/stim');
    const names = await (await fetch('stim/files.json')).json();
    for (const name of names) {
      const response = await fetch('stim/' + name);
      if (!response.ok) throw new Error('stim/' + name + ': ' + response.status);
      FS.writeFile(kFolder + '/stim/' + name, new Uint8Array(await response.arrayBuffer()));
    }
    await sync(FS, false);
  }
  await reconnectFolder();
  showFolderMenu();
  FS.chdir(kFolder);
  // Every flush of a file (each run's appends, the settings) is written back into the storage
  // before the program goes on, one write-back after another.
  let storing = Promise.resolve();
  program.onFlush = (done) => {
    storing = storing.then(() => sync(FS, false)).then(writeThrough).then(() => { ++page.storesDone; },
                                                       (error) => console.warn(error)).then(done);
  };
  program.callMain([]);
  const status = await exited;
  await storing;
  await sync(FS, false);
  await writeThrough();
  page.exited = status;
  stage.canvas.hidden = true;
  notice('ピョコランを終了しました。もう一度使うときは、このページを読み込み直してください。');
}

if ('serviceWorker' in navigator) {
  navigator.serviceWorker.register('sw.js').catch((error) => console.warn('no offline use:', error));
}

window.addEventListener('DOMContentLoaded', () => {
  start().catch((error) => {
    page.problem = String(error);
    notice('ピョコランを始められませんでした: ' + error);
  });
});
