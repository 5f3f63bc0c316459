// The page's station in headless Chromium against the emulated USB bus: devices plugged while the
// switch is on are each updated once per attachment, several at once.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { setTimeout as sleep } from 'node:timers/promises';

import { openBrowser, skipUnlessRunnable } from './support/browser.mjs';
import { IMAGE, PAGE, PATIENCE, updatedFlash } from './support/page.mjs';

skipUnlessRunnable(PAGE);

let session;
before(async () => {
  session = await openBrowser(PAGE);
});
after(async () => {
  await session?.close();
});

async function waitForTally(page, text) {
  await page.waitForFunction((expected) =>
    ['done', 'failed', 'running'].map((name) => document.getElementById(`tally-${name}`).textContent).join(' ') === expected,
  { timeout: PATIENCE }, text);
}

const rows = (page) => page.$$eval('#station-rows tr', (all) =>
  all.map((row) => `${row.dataset.device}: ${row.className} ${row.querySelector('td.outcome').textContent}`));

test('each device plugged is updated once per attachment, two at once', async () => {
  const { bus, page, origin } = session;
  await page.goto(origin);
  await page.click('#station');
  await bus.add('1-1');
  await sleep(300);
  await bus.add('1-2');
  await waitForTally(page, '2 0 0');
  // 1-1 stays plugged; 1-2 is unplugged and plugged again, and only it is updated again.
  await bus.remove('1-2');
  await bus.replug('1-2');
  await waitForTally(page, '3 0 0');
  const ok = 'succeeded Auto Command Succeeded !!';
  assert.deepEqual((await rows(page)).sort(), [
    `HNX470 in ISP mode, serial 1-1: ${ok}`, `HNX470 in ISP mode, serial 1-2: ${ok}`, `HNX470 in ISP mode, serial 1-2: ${ok}`]);
  const [first, second] = [await bus.device('1-1'), await bus.device('1-2')];
  const opens = (device) => device.trace.filter((line) => line === 'open 1').length;
  assert.equal(opens(first), 1);
  assert.equal(opens(second), 2);
  assert.equal(first.counts.bulkTransfers * 2, second.counts.bulkTransfers);
  assert.equal(first.flash, updatedFlash(IMAGE));
  assert.equal(second.flash, updatedFlash(IMAGE));
  assert.equal(await page.$eval('#update', (button) => button.disabled), true);
});
