// The page: the editor (the toolkit's own drawing, replayed on a canvas),
// presets, state files and the keyboards, around the instrument in the audio
// worklet. The page's own instance of the module runs the editor and checks
// state files; the worklet's instance plays. Everything is served from this
// folder; nothing is fetched from elsewhere.

const kWidth = 305, kHeight = 370, kParams = 48, kStateBytes = 192;
const Message = { MouseMove: 2, LeftButtonDown: 3, LeftButtonUp: 4, Wheel: 5 };
const $ = (id) => document.getElementById(id);
const say = (text) => { $('message').textContent = text; };
const status = (text) => { $('status').textContent = text; };

let bytes = null;    // the module, for the worklet's instance
let vt = null;       // the page's instance
let context = null;  // the AudioContext, from the first gesture on
let node = null;
let asked = 0;
const answers = new Map();

function instantiate(module) {
  let memory = null;
  const instance = new WebAssembly.Instance(module, {
    wasi_snapshot_preview1: {
      clock_time_get: (id, precision, out) => {
        new BigUint64Array(memory.buffer, out, 1)[0] = BigInt(Math.round(performance.now() * 1e6));
        return 0;
      },
      proc_exit: () => { throw new Error('the editor stopped'); },
    },
  });
  memory = instance.exports.memory;
  instance.exports._initialize();
  return instance.exports;
}

const heap = (Type, pointer, length) => new Type(vt.memory.buffer, pointer, length);
function cString(pointer) {
  const all = heap(Uint8Array, pointer);
  return new TextDecoder().decode(all.subarray(0, all.indexOf(0)));
}

// ---- the editor on the canvas ----

const canvas = $('editor');
const ctx2d = canvas.getContext('2d');
const kFont = 'bold 10.5px "DejaVu Sans"';

function fitCanvas() {
  const ratio = window.devicePixelRatio || 1;
  canvas.width = Math.round(kWidth * ratio);
  canvas.height = Math.round(kHeight * ratio);
  ctx2d.setTransform(ratio, 0, 0, ratio, 0, 0);
}

// What the toolkit drew since the last replay.
function replay() {
  const count = vt.vt_editor_command_count();
  if (count === 0) return;
  const words = heap(Int32Array, vt.vt_editor_commands(), count * 8);
  let textLength = 0;
  for (let i = 0; i < count; ++i) textLength = Math.max(textLength, words[8 * i + 6] + words[8 * i + 7]);
  const text = heap(Uint8Array, vt.vt_editor_text(), textLength);
  const decoder = new TextDecoder();
  for (let i = 0; i < count; ++i) {
    const [op, left, top, right, bottom, rgb, start, length] = words.subarray(8 * i, 8 * i + 8);
    const w = right - left, h = bottom - top;
    ctx2d.fillStyle = '#' + rgb.toString(16).padStart(6, '0');
    if (op === 0) {
      ctx2d.fillRect(left, top, w, h);
    } else if (op === 1) { // one pixel along the inside edges
      ctx2d.fillRect(left, top, w, 1);
      ctx2d.fillRect(left, bottom - 1, w, 1);
      ctx2d.fillRect(left, top, 1, h);
      ctx2d.fillRect(right - 1, top, 1, h);
    } else if (op === 2) { // centred on whole pixels, as the raster surface does
      const line = decoder.decode(text.subarray(start, start + length));
      ctx2d.save();
      ctx2d.beginPath();
      ctx2d.rect(left, top, w, h);
      ctx2d.clip();
      ctx2d.font = kFont;
      const m = ctx2d.measureText(line);
      const ascent = Math.round(m.fontBoundingBoxAscent), lineHeight = ascent + Math.round(m.fontBoundingBoxDescent);
      ctx2d.fillText(line, Math.floor(left + (w - m.width) / 2), Math.floor(top + (h - lineHeight) / 2 + ascent));
      ctx2d.restore();
    }
  }
  vt.vt_editor_clear();
}

// The values the user set on the editor go to the instrument.
function takeChanges() {
  const count = vt.vt_editor_change_count();
  if (count > 0) {
    const at = vt.vt_editor_changes();
    const indices = heap(Int32Array, at, 2 * count), values = heap(Float32Array, at, 2 * count);
    for (let i = 0; i < count; ++i) post({ type: 'value', index: indices[2 * i], value: values[2 * i + 1] });
    vt.vt_editor_changes_taken();
  }
  replay();
}

function pointer(type, e) {
  const r = canvas.getBoundingClientRect();
  // Client units inside the border, whatever size the page gives the canvas.
  const x = Math.floor((e.clientX - r.left - canvas.clientLeft) * kWidth / canvas.clientWidth);
  const y = Math.floor((e.clientY - r.top - canvas.clientTop) * kHeight / canvas.clientHeight);
  vt.vt_editor_pointer(type, x, y, 0);
  takeChanges();
}

function wireEditor() {
  canvas.addEventListener('pointerdown', (e) => {
    if (e.button !== 0) return;
    canvas.setPointerCapture(e.pointerId);
    pointer(Message.MouseMove, e);
    pointer(Message.LeftButtonDown, e);
    e.preventDefault();
  });
  canvas.addEventListener('pointermove', (e) => pointer(Message.MouseMove, e));
  canvas.addEventListener('pointerup', (e) => { if (e.button === 0) pointer(Message.LeftButtonUp, e); });
  canvas.addEventListener('pointercancel', (e) => pointer(Message.LeftButtonUp, e));
  canvas.addEventListener('pointerleave', () => { vt.vt_editor_pointer(Message.MouseMove, -1, -1, 0); replay(); });
  canvas.addEventListener('wheel', (e) => {
    const r = canvas.getBoundingClientRect();
    const x = Math.floor((e.clientX - r.left - canvas.clientLeft) * kWidth / canvas.clientWidth);
    const y = Math.floor((e.clientY - r.top - canvas.clientTop) * kHeight / canvas.clientHeight);
    const notches = e.deltaMode === 0 ? -e.deltaY / 100 : -e.deltaY / 3;
    vt.vt_editor_pointer(Message.Wheel, x, y, Math.round(notches * 120));
    takeChanges();
    e.preventDefault();
  }, { passive: false });
}

// ---- sounds: presets, state files ----

function editorValues() {
  const values = new Float32Array(kParams);
  for (let i = 0; i < kParams; ++i) values[i] = vt.vt_editor_value(i);
  return values;
}

// A whole sound checked by the page's instance: its values, or null.
function checkState(data) {
  const input = heap(Uint8Array, vt.vt_bytes_in(), vt.vt_bytes_in_size());
  if (data.length > input.length) return null;
  input.set(data);
  if (!vt.vt_check_state(data.length)) return null;
  return new Float32Array(heap(Uint8Array, vt.vt_bytes_out(), kStateBytes).slice().buffer);
}

// Values and table switch together in the worklet; the editor shows them.
async function useSound(values) {
  for (let i = 0; i < kParams; ++i) vt.vt_editor_set_value(i, values[i]);
  replay();
  if (node) {
    const answer = await ask({ type: 'state', bytes: new Uint8Array(values.buffer.slice(0)) });
    if (!answer.ok) say('The instrument refused the sound.');
  }
}

function wireSounds() {
  const menu = $('presets');
  for (let i = 0; i < vt.vt_preset_count(); ++i) menu.add(new Option(cString(vt.vt_preset(i)), String(i)));
  menu.selectedIndex = -1;
  menu.addEventListener('change', () => {
    vt.vt_preset(Number(menu.value));
    say('');
    useSound(new Float32Array(heap(Uint8Array, vt.vt_bytes_out(), kStateBytes).slice().buffer));
  });
  $('load').addEventListener('change', async (e) => {
    const file = e.target.files[0];
    e.target.value = '';
    if (file) await loadStateFile(file.name, new Uint8Array(await file.arrayBuffer()));
  });
  $('save').addEventListener('click', async () => {
    const data = node ? (await ask({ type: 'save' })).bytes : new Uint8Array(editorValues().buffer);
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([data], { type: 'application/octet-stream' }));
    link.download = 'veltrosa-sound.state';
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
  });
}

async function loadStateFile(name, data) {
  const values = checkState(data);
  if (!values) {
    say(`${name} is not a Veltrosa sound (a state file holds exactly ${kStateBytes} bytes: ${kParams} values from 0 to 1). The sound is unchanged.`);
    return false;
  }
  say('');
  $('presets').selectedIndex = -1;
  await useSound(values);
  return true;
}

// ---- the worklet ----

function post(message) { if (node) node.port.postMessage(message); }
function ask(message) {
  const id = ++asked;
  return new Promise((resolve) => { answers.set(id, resolve); node.port.postMessage({ ...message, id }); });
}

function waitReady(port) {
  return new Promise((resolve, reject) => {
    port.onmessage = (e) => {
      const m = e.data;
      if (m.type === 'ready') resolve();
      else if (m.type === 'error') reject(new Error(m.message));
      else if (answers.has(m.id)) { answers.get(m.id)(m); answers.delete(m.id); }
    };
  });
}

async function startAudio() {
  if (context) return;
  context = new AudioContext({ latencyHint: 'interactive' });
  try {
    await context.audioWorklet.addModule('worklet.js');
    const created = new AudioWorkletNode(context, 'veltrosa', {
      numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2], processorOptions: { bytes },
    });
    const ready = waitReady(created.port);
    created.connect(context.destination);
    await context.resume();
    await ready;
    node = created;
    await useSound(editorValues()); // what the editor shows so far becomes the sound
    $('start').hidden = true;
    status(`Playing at ${context.sampleRate} Hz.`);
  } catch (e) {
    status(`The instrument could not start: ${e.message}`);
  }
}

// Hidden for a while: the audio stops, and comes back with the page.
let hiddenTimer = 0;
document.addEventListener('visibilitychange', () => {
  if (!context) return;
  clearTimeout(hiddenTimer);
  if (document.hidden) hiddenTimer = setTimeout(() => context.suspend(), 10000);
  else context.resume();
});

// ---- notes: on-screen keys, the computer keyboard, Web MIDI ----

function midi(source, data) { post({ type: 'midi', source, data: Uint8Array.from(data) }); }
const noteOn = (key) => midi('page', [0x90, key, 100]);
const noteOff = (key) => midi('page', [0x80, key, 0]);

function wireKeyboard() {
  const board = $('keyboard');
  const black = [1, 3, 6, 8, 10];
  let whites = 0;
  for (let key = 48; key <= 72; ++key) {
    const k = document.createElement('div');
    const isBlack = black.includes(key % 12);
    k.className = `key ${isBlack ? 'black' : 'white'}`;
    k.style.left = `${isBlack ? whites * 30 - 10 : whites * 30}px`;
    if (!isBlack) ++whites;
    k.dataset.key = String(key);
    const up = () => { if (k.classList.contains('down')) { k.classList.remove('down'); noteOff(key); } };
    k.addEventListener('pointerdown', (e) => { k.releasePointerCapture(e.pointerId); k.classList.add('down'); noteOn(key); });
    k.addEventListener('pointerup', up);
    k.addEventListener('pointerleave', up);
    k.addEventListener('pointercancel', up);
    board.appendChild(k);
  }
  // Key positions, whatever the layout's letters: the home row plays.
  const codes = ['KeyA', 'KeyW', 'KeyS', 'KeyE', 'KeyD', 'KeyF', 'KeyT', 'KeyG', 'KeyY', 'KeyH', 'KeyU', 'KeyJ', 'KeyK', 'KeyO', 'KeyL'];
  let octave = 60;
  const held = new Map();
  window.addEventListener('keydown', (e) => {
    if (e.repeat || e.ctrlKey || e.metaKey || e.altKey || e.target instanceof HTMLSelectElement) return;
    if (e.code === 'KeyZ') { octave = Math.max(24, octave - 12); return; }
    if (e.code === 'KeyX') { octave = Math.min(96, octave + 12); return; }
    const step = codes.indexOf(e.code);
    if (step < 0 || held.has(e.code)) return;
    held.set(e.code, octave + step);
    noteOn(octave + step);
  });
  window.addEventListener('keyup', (e) => {
    if (!held.has(e.code)) return;
    noteOff(held.get(e.code));
    held.delete(e.code);
  });
}

async function wireMidi() {
  if (!navigator.requestMIDIAccess) {
    $('midi').textContent = 'This browser has no Web MIDI: the on-screen and computer keyboards still play.';
    return;
  }
  try {
    const access = await navigator.requestMIDIAccess();
    const attach = () => {
      const names = [];
      for (const input of access.inputs.values()) {
        input.onmidimessage = (e) => midi(input.id, e.data);
        names.push(input.name);
      }
      $('midi').textContent = names.length ? `MIDI: ${names.join(', ')}` : 'No MIDI keyboard connected yet.';
    };
    access.onstatechange = attach;
    attach();
  } catch (e) {
    $('midi').textContent = 'Web MIDI was not allowed: the on-screen and computer keyboards still play.';
  }
}

// ---- start ----

async function main() {
  if (typeof AudioWorkletNode === 'undefined' || !window.isSecureContext) {
    status('This browser cannot run the instrument: it has no AudioWorklet (or the page is not served from localhost or https).');
    return;
  }
  bytes = new Uint8Array(await (await fetch('veltrosa.wasm')).arrayBuffer());
  if (!WebAssembly.validate(bytes)) {
    status('This browser cannot run the instrument: it has no WebAssembly SIMD (128-bit).');
    return;
  }
  vt = instantiate(await WebAssembly.compile(bytes));
  fitCanvas();
  await document.fonts.load(kFont);
  if (!vt.vt_editor_open()) { status('The editor could not open.'); return; }
  replay();
  wireEditor();
  wireSounds();
  wireKeyboard();
  wireMidi();
  status('Ready.');
  $('start').hidden = false;
  const first = () => { startAudio(); };
  window.addEventListener('pointerdown', first, { once: true });
  window.addEventListener('keydown', first, { once: true });
}

// For the tests: the same paths the page's controls take.
window.veltrosa = {
  started: main(),
  startAudio,
  midi,
  loadStateFile,
  editorValues: () => Array.from(editorValues()),
  instrumentValues: async () => Array.from((await ask({ type: 'values' })).values),
  peak: () => ask({ type: 'peak' }),
  textRects: () => {
    const rects = [];
    const saved = vt.vt_editor_command_count();
    vt.vt_editor_pointer(0, 0, 0, 0); // Paint: record everything once more
    const count = vt.vt_editor_command_count();
    const words = heap(Int32Array, vt.vt_editor_commands(), count * 8);
    for (let i = saved; i < count; ++i) if (words[8 * i] === 2) rects.push(Array.from(words.subarray(8 * i + 1, 8 * i + 5)));
    replay();
    return rects;
  },
  // The note script through the real worklet in an OfflineAudioContext.
  async render(script, renderPath) {
    const offline = new OfflineAudioContext(2, script.frames, script.rate);
    await offline.audioWorklet.addModule('worklet.js');
    const n = new AudioWorkletNode(offline, 'veltrosa', {
      numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2], processorOptions: { bytes, script, renderPath },
    });
    const ready = waitReady(n.port);
    n.connect(offline.destination);
    const began = performance.now();
    const rendered = offline.startRendering();
    await ready;
    const buffer = await rendered;
    const ms = performance.now() - began;
    return { left: Array.from(buffer.getChannelData(0)), right: Array.from(buffer.getChannelData(1)), ms };
  },
};
