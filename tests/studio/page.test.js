// zoka studio in the system's headless Chromium: the panel built from the
// module's declarations, the preview following the controls, a slow render
// cancelled by a newer change, and a render to file byte for byte equal to
// zoka render's. With ZOKA_STUDIO_SCREENSHOT=FILE it also saves a screenshot.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { chromium } = require('playwright-core');
const h = require('./harness');

const kLimit = 60000;  // generous: the machine may be busy

test('zoka studio in a browser', { timeout: 300000 }, async (t) => {
  const folder = h.makeFolder();
  // Large enough that Swirl's smear takes seconds: the render to cancel.
  h.writePng(path.join(folder, 'large.png'), 2400, 1800, (x, y) => [200, (x / 3) & 255, (y / 2) & 255, 255]);
  const studio = await h.startStudio(folder, 'layer.png');
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  page.setDefaultTimeout(kLimit);
  const previews = [];
  page.on('response', (r) => { if (r.url().endsWith('/api/preview')) previews.push(r); });

  // The body of the preview answered 200 after action, for a request that
  // wanted() accepts (the first one by default): earlier requests may still
  // be answered meanwhile.
  async function previewAfter(action, wanted = () => true) {
    const answer = page.waitForResponse((r) => r.url().endsWith('/api/preview') && r.status() === 200 &&
      wanted(JSON.parse(r.request().postData())));
    const shownBefore = await page.getAttribute('#preview', 'data-seq');
    await action();
    const response = await answer;
    // The image on the page once it shows this answer or a newer one.
    await page.waitForFunction((seq) => {
      const img = document.getElementById('preview');
      return img.dataset.seq !== seq && img.dataset.state === 'ready' && img.complete;
    }, shownBefore);
    const body = Buffer.from(await page.evaluate(async () => {
      const bytes = new Uint8Array(await (await fetch(document.getElementById('preview').src)).arrayBuffer());
      return btoa(String.fromCharCode(...bytes));
    }), 'base64');
    return { body, request: JSON.parse(response.request().postData()) };
  }
  async function setSlider(key, value) {
    await page.$eval(`.param[data-key="${key}"] input[type=range]`, (el, v) => {
      el.value = v;
      el.dispatchEvent(new Event('input'));
    }, String(value));
  }
  const setting = (text) => (request) => request.sets.includes(text);
  async function chooseEffect(key) {
    return previewAfter(() => page.selectOption('#effect', key), (r) => r.effect === key);
  }

  try {
    await page.goto(studio.url);
    await page.waitForSelector('body[data-ready="1"]');

    await t.test('the panel is built from the declarations', async () => {
      assert.strictEqual(await page.locator('#effect option').count(), 21);
      await chooseEffect('Glow');
      const width = page.locator('.param[data-key="Width"] input[type=range]');
      assert.deepStrictEqual(
        [await width.getAttribute('min'), await width.getAttribute('max')], ['0', '100']);  // the slider range
      assert.strictEqual(
        await page.locator('.param[data-key="Width"] input[type=number]').getAttribute('max'), '999');  // valid
      assert.strictEqual(await page.locator('.param[data-key="DropoffType"] option').count(), 4);
      assert.strictEqual(await page.locator('.param[data-key="selection"] select').count(), 1);
    });

    await t.test('moving a slider changes the preview', async () => {
      const before = await previewAfter(() => setSlider('Width', 10), setting('Width=10'));
      const after = await previewAfter(() => setSlider('Width', 60), setting('Width=60'));
      assert.ok(after.request.sets.includes('Width=60'));
      assert.ok(before.body.length > 0);
      assert.notDeepStrictEqual(after.body, before.body);
    });

    await t.test('a value out of range is refused with its message', async () => {
      const refused = page.waitForResponse((r) => r.url().endsWith('/api/preview') && r.status() === 400);
      await page.fill('.param[data-key="Width"] input[type=number]', '5000');
      await page.press('.param[data-key="Width"] input[type=number]', 'Enter');
      await refused;
      await page.waitForSelector('#status.error');
      assert.match(await page.textContent('#status'), /0 to 999/);
      await previewAfter(() => setSlider('Width', 40), setting('Width=40'));
      assert.ok(!(await page.locator('#status.error').count()));
    });

    await t.test('a colour and a point picked on the image', async () => {
      await chooseEffect('Star');
      const coloured = await previewAfter(() => page.fill('.param[data-key="InnerColor"] input[type=color]', '#00ff00'),
        setting('InnerColor=#00FF00'));
      assert.ok(coloured.request.sets.includes('InnerColor=#00FF00'));
      // Position's Pick is armed first; a click places the point in layer pixels.
      const origin = await page.evaluate(() => {
        const img = document.getElementById('preview');
        return { w: img.naturalWidth, h: img.naturalHeight };
      });
      const box = await page.locator('#preview').boundingBox();
      const moved = await previewAfter(() => page.mouse.click(box.x + box.width * 0.75, box.y + box.height * 0.25),
        (r) => r.sets.some((s) => s.startsWith('Position=')));
      const set = moved.request.sets.find((s) => s.startsWith('Position='));
      assert.ok(set, 'the click sets the point');
      const [x, y] = set.slice('Position='.length).split(',').map(Number);
      assert.ok(Math.abs(x - 150) <= 2 && Math.abs(y - 37) <= 2, `${x},${y} for a ${origin.w}x${origin.h} preview`);
      assert.notDeepStrictEqual(moved.body, coloured.body);
    });

    await t.test('a change cancels a slow render', async () => {
      await chooseEffect('Swirl');
      await previewAfter(() => setSlider('SmearLength', 30), setting('SmearLength=30'));
      await previewAfter(() => setSlider('StreakDetail', 100), setting('StreakDetail=100'));
      const slow = page.waitForRequest((r) => r.url().endsWith('/api/preview'));
      await page.selectOption('#image', 'large.png');
      await slow;
      await page.waitForTimeout(300);  // the worker has begun it
      const cancelled = page.waitForResponse((r) => r.url().endsWith('/api/preview') &&
        r.status() === 409 && r.headers()['x-zoka-superseded'] === 'cancelled');
      const next = previewAfter(() => page.selectOption('#image', 'layer.png'), (r) => r.input === 'layer.png');
      await cancelled;
      const shown = await next;
      assert.strictEqual(shown.request.input, 'layer.png');
      await page.waitForSelector('#preview[data-state="ready"]');
    });

    await t.test('keyframes set from the panel', async () => {
      await chooseEffect('Glow');
      await page.click('.param[data-key="Width"] button[title^="Set a keyframe"]');
      await page.$eval('#time', (el) => { el.value = '10'; el.dispatchEvent(new Event('input')); });
      await setSlider('Width', 80);
      const keyed = await previewAfter(() => page.click('.param[data-key="Width"] button[title^="Set a keyframe"]'),
        setting('Width=20@0f;80@10f'));
      assert.ok(keyed.request.sets.includes('Width=20@0f;80@10f'), JSON.stringify(keyed.request.sets));
      await page.waitForFunction(() => document.getElementById('command-animate').textContent.includes('20@0f;80@10f'));
    });

    await t.test('render to file writes what zoka render writes', async () => {
      await chooseEffect('Glow');
      await setSlider('Width', 33);
      await previewAfter(() => page.fill('.param[data-key="Color"] input[type=color]', '#ff8000'), setting('Color=#FF8000'));
      await page.fill('#render-output', 'studio-glow.png');
      await page.click('#render-button');
      await page.waitForSelector('#job-state[data-state="done"]');
      assert.match(await page.textContent('#job-state'), /zoka render Glow layer.png studio-glow.png/);
      execFileSync(h.zoka, ['render', 'Glow', 'layer.png', 'direct-glow.png', '--set', 'Width=33', '--set', 'Color=#FF8000', '-q'],
        { cwd: folder });
      assert.ok(fs.readFileSync(path.join(folder, 'studio-glow.png')).equals(fs.readFileSync(path.join(folder, 'direct-glow.png'))));
    });

    await t.test('a refused file render says why', async () => {
      await page.fill('#render-output', '../outside.png');
      await page.click('#render-button');
      await page.waitForSelector('#job-state[data-state="refused"]');
      assert.match(await page.textContent('#job-state'), /working folder/);
    });

    if (process.env.ZOKA_STUDIO_SCREENSHOT) {
      await page.goto(studio.url);
      await page.waitForSelector('body[data-ready="1"]');
      await chooseEffect('Star');
      await page.fill('.param[data-key="InnerColor"] input[type=color]', '#ffd040');
      await previewAfter(async () => {
        await page.fill('.param[data-key="Orientation"] input[type=number]', '20');
        await page.press('.param[data-key="Orientation"] input[type=number]', 'Enter');
      }, setting('Orientation=20'));
      await page.screenshot({ path: process.env.ZOKA_STUDIO_SCREENSHOT });
    }
  } finally {
    await browser.close();
    const pid = studio.child.pid;
    await h.stopStudio(studio);
    assert.deepStrictEqual(h.children(pid), []);
    fs.rmSync(folder, { recursive: true, force: true });
  }
});
