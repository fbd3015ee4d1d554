// A storm of value changes against zoka studio (50 a second for a minute,
// STORM_SECONDS to change it): afterwards the server answers at once, has
// one worker and no other child, and holds the descriptors it held before.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const http = require('node:http');
const h = require('./harness');

const kSeconds = Number(process.env.STORM_SECONDS || 60);
const kPerSecond = 50;
const kInFlight = 16;

// One request on a connection of its own, closed after the answer.
function preview(port, values) {
  return new Promise((resolve, reject) => {
    const body = JSON.stringify(values);
    const req = http.request({
      host: '127.0.0.1', port, path: '/api/preview', method: 'POST', agent: false,
      headers: { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(body), Connection: 'close' },
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, body: Buffer.concat(chunks) }));
    });
    req.on('error', reject);
    req.end(body);
  });
}

test('a request storm leaves the studio as it was', { timeout: (kSeconds + 120) * 1000 }, async () => {
  const folder = h.makeFolder();
  // Large enough that renders overlap the changes, so most are cancelled.
  h.writePng(`${folder}/storm.png`, 400, 300, (x, y) => [90, x & 255, y & 255, (x ^ y) & 255]);
  const studio = await h.startStudio(folder, 'layer.png');
  const pid = studio.child.pid;
  try {
    const values = (n) => ({ effect: 'Glow', input: 'storm.png', sets: [`Width=${100 + (n % 100)}`, `Opacity=${50 + (n % 50)}`] });
    assert.strictEqual((await preview(studio.port, values(1))).status, 200);
    const [worker] = h.children(pid);
    assert.ok(worker, 'a worker renders');
    const serverFds = h.openDescriptors(pid);
    const workerFds = h.openDescriptors(worker.pid);

    const counts = new Map();
    let sent = 0;
    let inFlight = 0;
    const end = Date.now() + kSeconds * 1000;
    while (Date.now() < end) {
      if (inFlight < kInFlight) {
        inFlight++;
        preview(studio.port, values(sent++))
          .then((r) => counts.set(r.status, (counts.get(r.status) || 0) + 1), () => counts.set('error', (counts.get('error') || 0) + 1))
          .finally(() => inFlight--);
      }
      await new Promise((r) => setTimeout(r, 1000 / kPerSecond));
    }
    await h.until(() => inFlight === 0, 60000, 'the last answers');
    console.log(`${sent} changes in ${kSeconds} s:`, Object.fromEntries(counts));
    assert.ok(!counts.has('error') && !counts.has(500) && !counts.has(503), JSON.stringify(Object.fromEntries(counts)));
    assert.ok(counts.get(200) > 0);

    const settled = await preview(studio.port, values(7));
    assert.strictEqual(settled.status, 200);
    assert.deepStrictEqual(h.children(pid).map((c) => c.pid), [worker.pid], 'the same worker, and no other child');
    await h.until(() => h.openDescriptors(pid) === serverFds, 20000, `the server's ${serverFds} descriptors`);
    assert.strictEqual(h.openDescriptors(worker.pid), workerFds);
  } finally {
    await h.stopStudio(studio);
    assert.deepStrictEqual(h.children(pid), []);
    fs.rmSync(folder, { recursive: true, force: true });
  }
});
