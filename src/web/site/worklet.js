// The instrument in the audio worklet: the module's bytes come from the
// page; each 128-frame quantum plays the MIDI that arrived since the last
// one, then the table a change asked for is built before the next quantum.
// Nothing here allocates per quantum: the buffers are views made once.

const kQuantum = 128;

// A MIDI byte stream per source, as devices send it: running status,
// real-time bytes anywhere, SysEx skipped, stray data bytes dropped.
class MidiParser {
  constructor() {
    this.status = 0;
    this.data = [0, 0];
    this.have = 0;
    this.inSysEx = false;
  }
  // Calls play(status, data1, data2) for each complete channel message.
  feed(bytes, play) {
    for (let i = 0; i < bytes.length; ++i) {
      const b = bytes[i] & 0xff;
      if (b >= 0xf8) continue; // real-time: no effect on what surrounds it
      if (b === 0xf0) { this.inSysEx = true; this.status = 0; continue; }
      if (b >= 0xf0) { this.inSysEx = false; this.status = 0; continue; } // F7 ends SysEx; others: system common
      if (b >= 0x80) { this.inSysEx = false; this.status = b; this.have = 0; continue; }
      if (this.inSysEx || this.status === 0) continue;
      this.data[this.have++] = b;
      const needed = (this.status & 0xf0) === 0xc0 || (this.status & 0xf0) === 0xd0 ? 1 : 2;
      if (this.have === needed) {
        play(this.status, this.data[0], needed === 2 ? this.data[1] : 0);
        this.have = 0; // running status: the next data bytes reuse it
      }
    }
  }
}

const kMaxQueued = 1024;

class VeltrosaProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const o = options.processorOptions || {};
    this.frame = 0;
    this.queued = new Uint32Array(kMaxQueued);
    this.queuedCount = 0;
    this.parsers = new Map();
    this.peak = 0;
    this.script = o.script || null; // tests: notes at frames, values at quanta
    this.scriptNext = 0;
    this.failed = false;
    try {
      const module = new WebAssembly.Module(o.bytes);
      let memory = null;
      const instance = new WebAssembly.Instance(module, {
        wasi_snapshot_preview1: {
          clock_time_get: (id, precision, out) => {
            new BigUint64Array(memory.buffer, out, 1)[0] = BigInt(Math.round(currentTime * 1e9));
            return 0;
          },
          proc_exit: () => { throw new Error('the instrument stopped'); },
        },
      });
      this.vt = instance.exports;
      memory = this.vt.memory;
      this.vt._initialize();
      if (!this.vt.vt_start(sampleRate)) throw new Error(`no instrument at ${sampleRate} Hz`);
      if (o.renderPath !== undefined && !this.vt.vt_set_render_path(o.renderPath))
        throw new Error(`no render path ${o.renderPath}`);
      const buffer = memory.buffer; // fixed: the module's memory never grows
      this.left = new Float32Array(buffer, this.vt.vt_left(), kQuantum);
      this.right = new Float32Array(buffer, this.vt.vt_right(), kQuantum);
      this.maxEvents = this.vt.vt_max_events();
      this.events = new Uint32Array(buffer, this.vt.vt_events(), 2 * this.maxEvents);
      this.bytesIn = new Uint8Array(buffer, this.vt.vt_bytes_in(), this.vt.vt_bytes_in_size());
      this.bytesOut = new Uint8Array(buffer, this.vt.vt_bytes_out(), 192);
      this.heapAtStart = this.vt.vt_heap_end();
      this.port.postMessage({ type: 'ready', simd: o.renderPath !== 0 });
    } catch (e) {
      this.failed = true;
      this.port.postMessage({ type: 'error', message: String(e && e.message ? e.message : e) });
    }
    this.port.onmessage = (e) => this.receive(e.data);
  }

  queue(status, data1, data2) {
    if (this.queuedCount < kMaxQueued) this.queued[this.queuedCount++] = status | (data1 << 8) | (data2 << 16);
  }

  receive(m) {
    if (this.failed || !m) return;
    switch (m.type) {
      case 'midi': {
        if (!(m.data instanceof Uint8Array || Array.isArray(m.data))) return;
        const key = String(m.source);
        let parser = this.parsers.get(key);
        if (!parser) { parser = new MidiParser(); this.parsers.set(key, parser); }
        parser.feed(m.data, (s, a, b) => this.queue(s, a, b));
        break;
      }
      case 'value':
        this.vt.vt_set_value(m.index | 0, Number(m.value));
        break;
      case 'state': {
        const bytes = m.bytes instanceof Uint8Array ? m.bytes : new Uint8Array(0);
        const n = Math.min(bytes.length, this.bytesIn.length);
        this.bytesIn.set(bytes.subarray(0, n));
        const ok = bytes.length <= this.bytesIn.length && this.vt.vt_load_state(bytes.length);
        this.port.postMessage({ type: 'loaded', ok, id: m.id });
        break;
      }
      case 'save': {
        const n = this.vt.vt_save_state();
        this.port.postMessage({ type: 'saved', bytes: this.bytesOut.slice(0, n), id: m.id });
        break;
      }
      case 'values': {
        const values = new Float32Array(48);
        for (let i = 0; i < 48; ++i) values[i] = this.vt.vt_value(i);
        this.port.postMessage({ type: 'values', values, id: m.id });
        break;
      }
      case 'peak':
        this.port.postMessage({ type: 'peak', peak: this.peak, heapGrowth: this.vt.vt_heap_end() - this.heapAtStart, id: m.id });
        this.peak = 0;
        break;
    }
  }

  process(inputs, outputs) {
    const out = outputs[0];
    if (this.failed || !out || out.length === 0) return true;
    const frames = Math.min(out[0].length, kQuantum);
    let count = 0;
    // What arrived since the last quantum plays at its start.
    for (let i = 0; i < this.queuedCount && count < this.maxEvents; ++i) {
      this.events[2 * count] = 0;
      this.events[2 * count + 1] = this.queued[i];
      ++count;
    }
    this.queuedCount = 0;
    const s = this.script;
    if (s) {
      const block = this.frame / kQuantum;
      for (const [at, index, value] of s.params) if (at === block) this.vt.vt_set_value(index, value);
      for (; this.scriptNext < s.events.length && count < this.maxEvents; ++this.scriptNext) {
        const [at, status, data1, data2] = s.events[this.scriptNext];
        if (at >= this.frame + frames) break;
        this.events[2 * count] = at - this.frame;
        this.events[2 * count + 1] = status | (data1 << 8) | (data2 << 16);
        ++count;
      }
    }
    this.vt.vt_render(frames, count);
    const left = out[0], right = out.length > 1 ? out[1] : null;
    let peak = this.peak;
    for (let i = 0; i < frames; ++i) {
      const l = this.left[i];
      left[i] = l;
      if (right) right[i] = this.right[i];
      const a = l < 0 ? -l : l;
      if (a > peak) peak = a;
    }
    this.peak = peak;
    this.frame += frames;
    this.vt.vt_build(); // between quanta: a table asked for
    return true;
  }
}

registerProcessor('veltrosa', VeltrosaProcessor);
