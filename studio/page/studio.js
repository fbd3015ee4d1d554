// zoka studio's page: the effect's controls built from its declarations
// (zoka params --json), a preview re-rendered on every change, a timeline
// with keyframes, and renders to file through zoka itself.
'use strict';

const $ = (id) => document.getElementById(id);
const state = {
  effect: '', params: [], values: {}, keys: {}, selection: '', selectionOrigin: '0,0',
  pickTarget: null, origin: [0, 0], downsample: 1, seq: 0, shown: 0, playing: false,
  cache: new Map(), cacheKey: '',
};

async function getJson(url, options) {
  const res = await fetch(url, options);
  const body = await res.json().catch(() => ({}));
  if (!res.ok) throw new Error(body.error || res.statusText);
  return body;
}

function post(url, body) {
  return fetch(url, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) });
}

function showStatus(text, error) {
  $('status').textContent = text;
  $('status').classList.toggle('error', !!error);
}

// ---- Values --------------------------------------------------------------

function fps() { return Number($('fps').value) || 30; }
function frame() { return Number($('time').value); }

// The parameter's name in --set: its key, else its number.
function nameOf(p) { return p.key !== null ? p.key : String(p.number); }

// KEY=VALUE for every parameter that differs from its default, keyframes
// as VALUE@Nf;... (frame N at N / fps seconds).
function sets() {
  const out = [];
  for (const p of state.params) {
    if (p.number === null) continue;
    const keys = state.keys[p.hostIndex];
    if (keys && keys.size > 0) {
      const text = [...keys.entries()].sort((a, b) => a[0] - b[0]).map(([f, v]) => `${v}@${f}f`).join(';');
      out.push(`${nameOf(p)}=${text}`);
    } else if (state.values[p.hostIndex] !== p.default) {
      out.push(`${nameOf(p)}=${state.values[p.hostIndex]}`);
    }
  }
  return out;
}

function values(atFrame) {
  return {
    effect: state.effect, input: $('image').value, selection: state.selection,
    selectionOrigin: state.selectionOrigin, sets: sets(), time: atFrame / fps(), fps: fps(),
    downsample: state.downsample,
  };
}

// ---- The preview ---------------------------------------------------------

// Every change asks for a render; the server drops the older ones, so only
// the newest answer is shown.
async function renderFrame(atFrame) {
  const seq = ++state.seq;
  const v = values(atFrame);
  $('preview').dataset.state = 'rendering';
  const started = performance.now();
  let res;
  try {
    res = await post('/api/preview', v);
  } catch (e) {
    if (seq === state.seq) showStatus('the studio does not answer: ' + e.message, true);
    return null;
  }
  if (res.status === 409) return null;  // superseded by a newer change
  if (!res.ok) {
    const body = await res.json().catch(() => ({}));
    if (seq === state.seq) {
      showStatus(body.error || res.statusText, true);
      $('preview').dataset.state = 'error';
    }
    return null;
  }
  const blob = await res.blob();
  const origin = (res.headers.get('X-Zoka-Origin') || '0,0').split(',').map(Number);
  const shot = { url: URL.createObjectURL(blob), origin, ms: performance.now() - started };
  if (seq >= state.shown) {
    state.shown = seq;
    show(shot, atFrame);
  }
  return shot;
}

function show(shot, atFrame) {
  state.origin = shot.origin;
  $('preview').src = shot.url;
  $('preview').dataset.state = 'ready';
  $('preview').dataset.frame = String(atFrame);
  $('preview').dataset.seq = String(state.shown);
  showStatus(`frame ${atFrame}: ${Math.round(shot.ms)} ms` + (state.downsample > 1 ? ` (draft 1/${state.downsample})` : ''));
}

function changed() {
  state.cache.forEach((shot) => URL.revokeObjectURL(shot.url));
  state.cache.clear();
  renderFrame(frame());
  updateCommand();
}

// ---- Playback: frames rendered in order and kept ---------------------------

function cacheKey() { const v = values(0); delete v.time; return JSON.stringify(v); }

async function play() {
  state.playing = !state.playing;
  $('play').innerHTML = state.playing ? '&#10074;&#10074;' : '&#9654;';
  if (state.cache.size === 0 || state.cacheKey !== cacheKey()) {
    state.cache.forEach((shot) => URL.revokeObjectURL(shot.url));
    state.cache.clear();
    state.cacheKey = cacheKey();
  }
  while (state.playing) {
    const last = Number($('time').max);
    const next = frame() >= last ? 0 : frame() + 1;
    const started = performance.now();
    let shot = state.cache.get(next);
    if (!shot) {
      shot = await renderFrame(next);
      if (!shot) { state.playing = false; break; }
      if (state.cacheKey === cacheKey()) state.cache.set(next, shot);
    } else {
      state.shown = state.seq;
      show(shot, next);
    }
    $('time').value = String(next);
    timeLabel();
    const wait = 1000 / fps() - (performance.now() - started);
    if (wait > 0) await new Promise((r) => setTimeout(r, wait));
  }
  $('play').innerHTML = '&#9654;';
}

function timeLabel() {
  $('time-label').textContent = `frame ${frame()}, ${(frame() / fps()).toFixed(3).replace(/\.?0+$/, '')} s`;
}

// ---- Controls built from the declarations --------------------------------

function el(tag, props, ...children) {
  const node = document.createElement(tag);
  Object.assign(node, props || {});
  for (const c of children) node.append(c);
  return node;
}

function setValue(p, text) {
  state.values[p.hostIndex] = text;
  changed();
}

function numberControl(p, row, step) {
  const [smin, smax] = p.slider;
  const [vmin, vmax] = p.valid;
  const slider = el('input', { type: 'range', min: smin, max: smax, step, value: state.values[p.hostIndex] });
  const box = el('input', { type: 'number', min: vmin, max: vmax, step: 'any', value: state.values[p.hostIndex] });
  slider.addEventListener('input', () => { box.value = slider.value; setValue(p, slider.value); });
  box.addEventListener('change', () => { slider.value = box.value; setValue(p, box.value); });
  row.append(slider, box);
  return (text) => { slider.value = text; box.value = text; };
}

// Degrees clockwise from straight up, as the host shows angles.
function angleControl(p, row) {
  const ns = 'http://www.w3.org/2000/svg';
  const svg = document.createElementNS(ns, 'svg');
  svg.setAttribute('viewBox', '-22 -22 44 44');
  svg.classList.add('dial');
  svg.innerHTML = '<circle r="20" fill="#1d1e21" stroke="#777"/><line x1="0" y1="0" x2="0" y2="-18" stroke="#e0b050" stroke-width="3"/>';
  const needle = svg.querySelector('line');
  const box = el('input', { type: 'number', step: 'any', value: state.values[p.hostIndex] });
  const draw = (text) => needle.setAttribute('transform', `rotate(${Number(text) || 0})`);
  const drag = (e) => {
    const r = svg.getBoundingClientRect();
    const dx = e.clientX - (r.left + r.width / 2);
    const dy = e.clientY - (r.top + r.height / 2);
    const degrees = Math.round(((Math.atan2(dx, -dy) * 180) / Math.PI + 360) % 360);
    box.value = String(degrees);
    draw(degrees);
    setValue(p, String(degrees));
  };
  svg.addEventListener('pointerdown', (e) => { svg.setPointerCapture(e.pointerId); drag(e); });
  svg.addEventListener('pointermove', (e) => { if (e.buttons) drag(e); });
  box.addEventListener('change', () => { draw(box.value); setValue(p, box.value); });
  draw(box.value);
  row.append(svg, box, el('span', {}, '°'));
  return (text) => { box.value = text; draw(text); };
}

function colourControl(p, row) {
  const input = el('input', { type: 'color', value: state.values[p.hostIndex].toLowerCase() });
  input.addEventListener('input', () => setValue(p, input.value.toUpperCase()));
  row.append(input);
  return (text) => { input.value = text.toLowerCase(); };
}

function popupControl(p, row) {
  const select = el('select');
  for (const item of p.items) select.append(el('option', { value: item, textContent: item }));
  select.value = state.values[p.hostIndex];
  select.addEventListener('change', () => setValue(p, select.value));
  row.append(select);
  return (text) => { select.value = text; };
}

function checkboxControl(p, row) {
  const box = el('input', { type: 'checkbox', checked: state.values[p.hostIndex] === 'on' });
  box.addEventListener('change', () => setValue(p, box.checked ? 'on' : 'off'));
  row.append(el('label', {}, box, ' ' + (p.checkboxText || '')));
  return (text) => { box.checked = text === 'on'; };
}

// X,Y in layer pixels, typed or picked by a click on the preview.
function pointControl(row, get, set) {
  const x = el('input', { type: 'number', step: 'any', value: get().split(',')[0] });
  const y = el('input', { type: 'number', step: 'any', value: get().split(',')[1] });
  const pick = el('button', { type: 'button', textContent: 'Pick', title: 'Then click on the preview' });
  const apply = () => set(`${x.value},${y.value}`);
  x.addEventListener('change', apply);
  y.addEventListener('change', apply);
  const target = {
    button: pick,
    place: (px, py) => { x.value = String(px); y.value = String(py); apply(); },
  };
  pick.addEventListener('click', () => arm(state.pickTarget === target ? null : target));
  row.append('X', x, 'Y', y, pick);
  if (!state.pickTarget) arm(target);
  return (text) => { [x.value, y.value] = text.split(','); };
}

function arm(target) {
  if (state.pickTarget) state.pickTarget.button.classList.remove('armed');
  state.pickTarget = target;
  if (target) target.button.classList.add('armed');
}

function selectionControl(row) {
  const select = el('select', { id: 'selection' });
  select.append(el('option', { value: '', textContent: '(none)' }));
  for (const f of state.files) select.append(el('option', { value: f, textContent: f }));
  select.value = state.selection;
  select.addEventListener('change', () => { state.selection = select.value; changed(); });
  row.append(select);
}

// A keyframe button: the control's value at the current frame.
function keyControls(p, node, label) {
  const info = el('span', { className: 'keys' });
  const refresh = () => {
    const keys = state.keys[p.hostIndex];
    const n = keys ? keys.size : 0;
    node.classList.toggle('keyed', n > 0);
    info.textContent = n > 0 ? `keys at ${[...keys.keys()].sort((a, b) => a - b).join(', ')}` : '';
  };
  const key = el('button', { type: 'button', textContent: '\u25C6', title: 'Set a keyframe at this frame' });
  key.addEventListener('click', () => {
    state.keys[p.hostIndex] = state.keys[p.hostIndex] || new Map();
    state.keys[p.hostIndex].set(frame(), state.values[p.hostIndex]);
    refresh();
    changed();
  });
  const clear = el('button', { type: 'button', textContent: '\u00D7', title: 'Remove the keyframes' });
  clear.addEventListener('click', () => { delete state.keys[p.hostIndex]; refresh(); changed(); });
  label.append(el('span', {}, key, clear));
  node.append(info);
}

function buildPanel() {
  const panel = $('panel');
  panel.replaceChildren();
  state.pickTarget = null;
  let afterLayer = false;
  for (const p of state.params) {
    const node = el('div', { className: 'param' });
    node.dataset.kind = p.kind;
    node.dataset.key = p.key !== null ? p.key : (p.kind === 'layer' ? 'selection' : 'selection-origin');
    const label = el('div', { className: 'label' }, el('span', { textContent: p.label }));
    const row = el('div', { className: 'row' });
    node.append(label, row);
    if (p.kind === 'layer') {
      selectionControl(row);
      afterLayer = true;
    } else if (p.number === null && p.kind === 'point' && afterLayer) {
      pointControl(row, () => state.selectionOrigin, (t) => { state.selectionOrigin = t; changed(); });
    } else {
      state.values[p.hostIndex] = p.value;
      const make = {
        slider: () => numberControl(p, row, 1),
        'fixed slider': () => numberControl(p, row, (p.slider[1] - p.slider[0]) > 20 ? 0.1 : 0.01),
        angle: () => angleControl(p, row),
        colour: () => colourControl(p, row),
        popup: () => popupControl(p, row),
        checkbox: () => checkboxControl(p, row),
        point: () => pointControl(row, () => state.values[p.hostIndex], (t) => setValue(p, t)),
      }[p.kind];
      if (make) make();
      keyControls(p, node, label);
    }
    panel.append(node);
  }
}

async function chooseEffect(key) {
  state.effect = key;
  state.keys = {};
  state.values = {};
  state.selection = '';
  state.selectionOrigin = '0,0';
  try {
    state.params = await getJson('/api/params?effect=' + encodeURIComponent(key));
  } catch (e) {
    showStatus(e.message, true);
    return;
  }
  buildPanel();
  if ($('render-output').value === 'out.png' || $('render-output').dataset.auto) {
    $('render-output').value = key + '.png';
    $('render-output').dataset.auto = '1';
  }
  changed();
}

// A click on the preview places the armed point, in layer pixels.
function pick(e) {
  if (!state.pickTarget) return;
  const img = $('preview');
  const r = img.getBoundingClientRect();
  const px = ((e.clientX - r.left) * img.naturalWidth) / r.width;
  const py = ((e.clientY - r.top) * img.naturalHeight) / r.height;
  const x = Math.round((px - state.origin[0]) * state.downsample);
  const y = Math.round((py - state.origin[1]) * state.downsample);
  state.pickTarget.place(x, y);
}

// ---- Render to file -------------------------------------------------------

async function updateCommand() {
  const frames = `0-${$('time').max}`;
  const out = $('render-output').value || 'out.png';
  const dot = out.lastIndexOf('.');
  const pattern = dot > 0 ? `${out.slice(0, dot)}_%04d${out.slice(dot)}` : `${out}_%04d.png`;
  try {
    const c = await getJson('/api/command', {
      method: 'POST', headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ values: values(frame()), output: out, pattern, frames }),
    });
    $('command-render').textContent = c.render;
    $('command-animate').textContent = c.animate;
  } catch (e) {
    $('command-render').textContent = '';
    $('command-animate').textContent = '';
  }
}

async function renderToFile() {
  const range = $('render-frames').value.trim();
  const body = { values: values(frame()), output: $('render-output').value };
  if (range) body.frames = range;
  $('job-state').textContent = 'starting';
  try {
    const job = await getJson('/api/render-file', {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
    });
    showJob(job);
    followJob();
  } catch (e) {
    $('job-state').textContent = e.message;
    $('job-state').dataset.state = 'refused';
  }
}

function showJob(job) {
  $('render-progress').max = Math.max(job.total || 1, 1);
  $('render-progress').value = job.done || 0;
  $('job-lines').textContent = (job.lines || []).join('\n');
  $('job-state').dataset.state = job.running ? 'running' : job.exitStatus === 0 ? 'done' : 'failed';
  $('job-state').textContent = job.running ? `${job.done}/${job.total} frames` :
    job.exitStatus === 0 ? 'written: ' + job.command : `failed (exit status ${job.exitStatus})`;
}

async function followJob() {
  for (;;) {
    const job = await getJson('/api/job').catch(() => null);
    if (!job) return;
    showJob(job);
    if (!job.running) return;
    await new Promise((r) => setTimeout(r, 250));
  }
}

// ---- Start ----------------------------------------------------------------

async function start() {
  const [effects, files] = await Promise.all([getJson('/api/effects'), getJson('/api/files')]);
  state.files = files.files;
  $('folder').textContent = files.folder;
  for (const f of files.files) $('image').append(el('option', { value: f, textContent: f }));
  if (files.image) {
    if (!files.files.includes(files.image)) $('image').append(el('option', { value: files.image, textContent: files.image }));
    $('image').value = files.image;
  }
  for (const e of effects) $('effect').append(el('option', { value: e.key, textContent: e.name }));
  $('effect').addEventListener('change', () => chooseEffect($('effect').value));
  $('image').addEventListener('change', changed);
  $('draft').addEventListener('change', () => { state.downsample = Number($('draft').value); changed(); });
  $('time').addEventListener('input', () => { timeLabel(); renderFrame(frame()); updateCommand(); });
  $('length').addEventListener('change', () => { $('time').max = String(Math.max(1, Number($('length').value)) - 1); changed(); });
  $('fps').addEventListener('change', () => { timeLabel(); changed(); });
  $('play').addEventListener('click', play);
  $('preview').addEventListener('click', pick);
  $('render-output').addEventListener('input', () => { delete $('render-output').dataset.auto; updateCommand(); });
  $('render-button').addEventListener('click', renderToFile);
  $('copy').addEventListener('click', () => navigator.clipboard && navigator.clipboard.writeText(
    $('render-frames').value.trim() ? $('command-animate').textContent : $('command-render').textContent));
  document.body.dataset.ready = '1';
  if (!$('image').value) showStatus('Put an image in the working folder, or start zoka studio with one.', true);
  await chooseEffect(effects[0].key);
}

start().catch((e) => showStatus(e.message, true));
