// The browser edition in a real browser: Debian's chromium, headless, driven
// through its DevTools protocol. Serves the built page from this machine and
// checks it against the native build's references (web_reference).
//
//   node run.mjs <site folder> <reference folder>
import { readFile, writeFile, mkdtemp, rm } from 'node:fs/promises';
import { createServer } from 'node:http';
import { extname, join, normalize } from 'node:path';
import { tmpdir } from 'node:os';
import puppeteer from 'puppeteer-core';

const [site, refs] = process.argv.slice(2);
if (!site || !refs) {
  console.error('usage: node run.mjs <site folder> <reference folder>');
  process.exit(2);
}
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';

let failures = 0;
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures += 1;
}
const dbfs = (x) => (x > 0 ? (20 * Math.log10(x)).toFixed(1) : '-inf');

// A static server, as any would serve the folder.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm', '.ttf': 'font/ttf' };
const server = createServer(async (request, response) => {
  let path = normalize(decodeURIComponent(new URL(request.url, 'http://localhost').pathname)).replace(/^(\.\.[/\\])+/, '');
  if (path.endsWith('/')) path += 'index.html';
  try {
    const body = await readFile(join(site, path));
    response.writeHead(200, { 'content-type': types[extname(path)] || 'application/octet-stream' });
    response.end(body);
  } catch {
    response.writeHead(404);
    response.end();
  }
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const url = `http://localhost:${server.address().port}/`;

const profile = await mkdtemp(join(tmpdir(), 'veltrosa-chromium-'));
const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  userDataDir: profile,
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
    '--disable-sync', '--no-first-run'],
});
const startedAt = Date.now();
try {
  const page = await browser.newPage();
  page.on('pageerror', (e) => check(false, `no error on the page: ${e.message}`));
  await page.setViewport({ width: 800, height: 900, deviceScaleFactor: 1 });
  await page.goto(url);
  await page.evaluate(() => window.veltrosa.started);

  // ---- the note script through the real worklet ----
  const script = JSON.parse(await readFile(join(refs, 'script.json'), 'utf8'));
  script.frames = Math.ceil(script.frames / script.block) * script.block; // whole blocks, as the native render
  const reference = new Float32Array((await readFile(join(refs, 'reference.f32'))).buffer.slice(0));
  const render = (path) => page.evaluate((s, p) => window.veltrosa.render(s, p), script, path);
  const simd = await render(4);
  const scalar = await render(0);
  const bits = (a) => new Uint32Array(Float32Array.from(a).buffer);
  const same = (a, b) => a.length === b.length && bits(a).every((x, i) => x === bits(b)[i]);
  check(same(simd.left, scalar.left) && same(simd.right, scalar.right), 'the SIMD128 voices equal the scalar ones bit for bit');
  const n = script.frames;
  const native = { left: reference.subarray(0, n), right: reference.subarray(n, 2 * n) };
  let peak = 0, energy = 0, loudest = 0;
  for (const side of ['left', 'right'])
    for (let i = 0; i < n; ++i) {
      const d = Math.abs(simd[side][i] - native[side][i]);
      peak = Math.max(peak, d);
      energy += d * d;
      loudest = Math.max(loudest, Math.abs(native[side][i]));
    }
  const rms = Math.sqrt(energy / (2 * n));
  const identical = same(simd.left, Array.from(native.left)) && same(simd.right, Array.from(native.right));
  console.log(`     against the VST 2 edition: ${identical ? 'identical' : `difference peak ${dbfs(peak)} dBFS, RMS ${dbfs(rms)} dBFS`} (script peak ${dbfs(loudest)} dBFS)`);
  check(loudest > 0.01 && peak < 1e-3, 'the script sounds as the VST 2 edition plays it (difference under -60 dBFS)');

  // ---- the editor's picture ----
  const raster = await readFile(join(refs, 'editor.rgb'));
  const canvas = await page.evaluate(() => {
    const c = document.getElementById('editor');
    return Array.from(c.getContext('2d').getImageData(0, 0, c.width, c.height).data);
  });
  const textRects = await page.evaluate(() => window.veltrosa.textRects());
  const inText = (x, y) => textRects.some(([l, t, r, b]) => x >= l && x < r && y >= t && y < b);
  let outside = 0, inked = 0, textBoxes = 0;
  for (const [l, t, r, b] of textRects) {
    // Text is anti-aliased by each renderer in its own way: each box must
    // hold ink in both pictures, at about the same place.
    const ink = (get) => {
      let count = 0, sx = 0;
      const bg = get(l + 1, t + 1);
      for (let y = t; y < b; ++y) for (let x = l; x < r; ++x) if (Math.abs(get(x, y) - bg) > 60) { ++count; sx += x; }
      return count ? sx / count : null;
    };
    const a = ink((x, y) => raster[3 * (y * 305 + x)]), c = ink((x, y) => canvas[4 * (y * 305 + x)]);
    ++textBoxes;
    // The advances of a wide text's spaces differ a little between renderers.
    if (a !== null && c !== null && Math.abs(a - c) <= 3 + 0.02 * (r - l)) ++inked;
  }
  for (let y = 0; y < 370; ++y)
    for (let x = 0; x < 305; ++x) {
      if (inText(x, y)) continue;
      const i = y * 305 + x;
      if (raster[3 * i] !== canvas[4 * i] || raster[3 * i + 1] !== canvas[4 * i + 1] || raster[3 * i + 2] !== canvas[4 * i + 2]) ++outside;
    }
  check(outside === 0, `the canvas equals the raster editor outside the text (${outside} pixels differ)`);
  check(inked === textBoxes, `each of the ${textBoxes} texts is drawn in its box, centred alike (${inked})`);

  // ---- a real click on a harmonic bar and a drag on a value box ----
  // Client units from the canvas's content box (the page moves it when the audio starts).
  const at = async (x, y) => {
    const box = await page.$eval('#editor', (c) => { const r = c.getBoundingClientRect(); return [r.left + c.clientLeft, r.top + c.clientTop]; });
    return [box[0] + x + 0.5, box[1] + y + 0.5];
  };
  await page.mouse.click(...await at(10 + 9 * 5 + 4, 10 + 15)); // harmonic 6, three quarters up; starts the audio
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Playing'), { timeout: 20000 });
  const cutoff = 39;
  const cutoffBefore = (await page.evaluate(() => window.veltrosa.editorValues()))[cutoff];
  await page.mouse.move(...await at(80 + 15, 260 + 10)); // Cutoff's value box
  await page.mouse.down();
  await page.mouse.move(...await at(80 + 15, 260 - 30), { steps: 4 }); // 40 pixels up: 0.2 more
  await page.mouse.up();
  await new Promise((r) => setTimeout(r, 300));
  const values0 = await page.evaluate(() => window.veltrosa.instrumentValues());
  check(Math.abs(values0[5] - 0.75) < 1e-6, `the click set harmonic 6 to 0.75 in the instrument (${values0[5]})`);
  check(Math.abs(values0[cutoff] - (cutoffBefore + 0.2)) < 1e-4, `the drag raised Cutoff by 0.2 in the instrument (${cutoffBefore} to ${values0[cutoff]})`);
  let values;

  // ---- presets and state files ----
  await page.select('#presets', '3');
  await new Promise((r) => setTimeout(r, 300));
  const preset = await page.evaluate(() => window.veltrosa.editorValues());
  values = await page.evaluate(() => window.veltrosa.instrumentValues());
  check(values.every((v, i) => v === preset[i]) && preset[5] !== 0.75, 'a preset from the menu gives its values');
  const good = new Float32Array(48).fill(0.25);
  const files = await mkdtemp(join(tmpdir(), 'veltrosa-states-'));
  await writeFile(join(files, 'good.state'), new Uint8Array(good.buffer));
  const nan = new Float32Array(48).fill(0.5);
  nan[7] = NaN;
  await writeFile(join(files, 'nan.state'), new Uint8Array(nan.buffer));
  const load = async (name) => {
    await (await page.$('#load')).uploadFile(join(files, name));
    await new Promise((r) => setTimeout(r, 300));
  };
  await load('good.state');
  values = await page.evaluate(() => window.veltrosa.instrumentValues());
  check(values.every((v, i) => v === good[i] || (i === 33 && v === 0)), 'a state file loaded gives its values');
  for (const bad of ['nan.state', 'short.state', 'long.state']) {
    if (bad !== 'nan.state') await writeFile(join(files, bad), new Uint8Array(bad === 'short.state' ? 191 : 193).fill(0));
    await load(bad);
    const after = await page.evaluate(() => window.veltrosa.instrumentValues());
    const message = await page.$eval('#message', (e) => e.textContent);
    check(after.every((v, i) => v === values[i]) && message.includes('not a Veltrosa sound'), `${bad} is refused with a message, the sound unchanged`);
  }
  await rm(files, { recursive: true, force: true });

  // ---- MIDI: a device's bytes through the page's MIDI input path ----
  await page.evaluate(() => window.veltrosa.peak());
  const heapBefore = (await page.evaluate(() => window.veltrosa.peak())).heapGrowth;
  // SysEx, a clock byte, a note on channel 4, one by running status, garbage.
  await page.evaluate(() => window.veltrosa.midi('test-device', [0xf0, 0x7e, 0x01, 0xf7, 0xf8, 0x93, 60, 100, 64, 90, 0xf4, 0x33, 0xff]));
  await new Promise((r) => setTimeout(r, 500));
  const heard = await page.evaluate(() => window.veltrosa.peak());
  check(heard.peak > 0.01, `a note from a MIDI device sounds (peak ${dbfs(heard.peak)} dBFS)`);
  check(heard.heapGrowth === heapBefore, 'notes grow no memory in the worklet');

  // ---- measured: the held eight-note chord ----
  const chord = { rate: 48000, block: 128, frames: 48000 * 20, params: [],
    events: [48, 52, 55, 59, 60, 64, 67, 71].map((k) => [0, 0x90, k, 100]) };
  // Less a one-quantum render's time: what starting a context and building
  // the first tables costs.
  const timed = async (frames) => {
    let best = Infinity;
    for (let run = 0; run < 3; ++run) best = Math.min(best, (await page.evaluate((s) => window.veltrosa.render(s), { ...chord, frames })).ms);
    return best;
  };
  const webNs = ((await timed(chord.frames)) - (await timed(128))) * 1e6 / (chord.frames - 128);
  const nativeNs = JSON.parse(await readFile(join(refs, 'native.json'), 'utf8')).nsPerFrame;
  const budget = (webNs * 128) / ((128 / 48000) * 1e9);
  console.log(`     held chord: worklet ${webNs.toFixed(1)} ns/frame, VST 2 edition ${nativeNs.toFixed(1)} ns/frame, ` +
    `ratio ${(webNs / nativeNs).toFixed(2)}, ${(100 * budget).toFixed(1)}% of a 128-frame quantum at 48 kHz`);
} finally {
  await browser.close();
  server.close();
  await rm(profile, { recursive: true, force: true });
}
console.log(`browser tests: ${failures === 0 ? 'passed' : `${failures} failed`} in ${((Date.now() - startedAt) / 1000).toFixed(1)} s`);
process.exit(failures === 0 ? 0 : 1);
