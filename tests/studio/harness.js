// What the studio's browser and storm tests share: images written without
// any image library, a studio started on a free port in a fresh folder, and
// a look at its processes and descriptors through /proc.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const { spawn } = require('node:child_process');

const zoka = path.resolve(process.env.ZOKA || path.join(__dirname, '../../build/release/zoka'));

function crc32(bytes) {
  let c = ~0;
  for (const b of bytes) {
    c ^= b;
    for (let k = 0; k < 8; k++) c = (c >>> 1) ^ (0xedb88320 & -(c & 1));
  }
  return ~c >>> 0;
}

// An RGBA PNG whose pixel (x, y) is pixel(x, y) = [r, g, b, a].
function writePng(file, width, height, pixel) {
  const raw = Buffer.alloc((width * 4 + 1) * height);
  for (let y = 0, at = 0; y < height; y++) {
    raw[at++] = 0;
    for (let x = 0; x < width; x++) for (const v of pixel(x, y)) raw[at++] = v;
  }
  const chunk = (type, data) => {
    const head = Buffer.alloc(8);
    head.writeUInt32BE(data.length, 0);
    head.write(type, 4, 'latin1');
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
    return Buffer.concat([head, data, crc]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 6, 0, 0, 0], 8);
  fs.writeFileSync(file, Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header), chunk('IDAT', zlib.deflateSync(raw, { level: 1 })), chunk('IEND', Buffer.alloc(0)),
  ]));
}

// A layer with hard and soft edges, and an opaque square to select through.
function makeFolder() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'zoka-studio-test-'));
  writePng(path.join(folder, 'layer.png'), 200, 150, (x, y) =>
    [220, (x * 5) & 255, (y * 3) & 255, x > 40 && x < 160 && y > 30 && y < 120 ? 255 : 0]);
  writePng(path.join(folder, 'mask.png'), 60, 60, () => [255, 255, 255, 255]);
  return folder;
}

// zoka studio in folder; resolves once it prints its address.
function startStudio(folder, image) {
  return new Promise((resolve, reject) => {
    const child = spawn(zoka, ['studio', image, '-C', folder], { stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
      if (m) resolve({ child, port: Number(m[1]), url: m[0] });
    });
    child.on('exit', (code) => reject(new Error(`zoka studio ended with ${code}: ${out}`)));
  });
}

function stopStudio(studio) {
  return new Promise((resolve) => {
    if (studio.child.exitCode !== null) return resolve(studio.child.exitCode);
    studio.child.on('exit', (code, signal) => resolve(code === null ? signal : code));
    studio.child.kill('SIGTERM');
  });
}

// The processes whose parent is pid.
function children(pid) {
  const found = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'latin1');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      if (Number(fields[1]) === pid) found.push({ pid: Number(entry), state: fields[0] });
    } catch (e) { /* ended meanwhile */ }
  }
  return found;
}

function openDescriptors(pid) { return fs.readdirSync(`/proc/${pid}/fd`).length; }

// Polls until check() holds, or fails after limit milliseconds.
async function until(check, limit, what) {
  const end = Date.now() + limit;
  for (;;) {
    const result = await check();
    if (result) return result;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 100));
  }
}

module.exports = { zoka, writePng, makeFolder, startStudio, stopStudio, children, openDescriptors, until };
