// The page's "Update" in headless Chromium against the emulated USB bus: one device, a choice of
// two, a node that may not be opened, a device unplugged midway, devices whose identification is a
// near miss. One browser for all; each case plugs devices of its own and unplugs them at its end.
import assert from 'node:assert/strict';
import { after, afterEach, before, test } from 'node:test';

import { openBrowser, skipUnlessRunnable } from './support/browser.mjs';
import { IMAGE, PAGE, PATIENCE, dismiss, messageBox, updateTrace, updatedFlash } from './support/page.mjs';

skipUnlessRunnable(PAGE);

const TRANSFER_LIMIT_MS = 5000;
let session;
let plugged = [];

before(async () => {
  session = await openBrowser(PAGE, { viewport: { width: 580, height: 280 } });
});
after(async () => {
  await session?.close();
});
afterEach(async () => {
  for (const location of plugged.splice(0)) {
    if ((await session.bus.device(location)).plugged) await session.bus.remove(location);
  }
});

async function plug(location, setup = {}) {
  await session.bus.add(location, setup);
  plugged.push(location);
}

// A fresh page, then "Update".
async function clickUpdate() {
  await session.page.goto(session.origin);
  await session.page.waitForSelector('#update:not([disabled])');
  await session.page.click('#update');
}

test('"Update" programs the image into the one device with every transfer in order and says so', async () => {
  await plug('1-1');
  await clickUpdate();
  assert.deepEqual(await messageBox(session.page), { text: 'Auto Command Succeeded !!', icon: 'information' });
  assert.equal(await session.page.$eval('#progress', (bar) => `${bar.value}/${bar.max}`), '2048/2048');
  await session.page.screenshot({ path: 'web-page.png' });  // in the build folder, as docs/screenshot-web.png
  assert.equal(await dismiss(session.page), 'succeeded');
  const device = await session.bus.device('1-1');
  assert.equal(device.flash, updatedFlash(IMAGE));
  assert.deepEqual(device.trace, updateTrace(IMAGE));
  assert.equal(device.counts.claims, 1);
  assert.equal(device.counts.releases, 1);
});

test('with two devices the user chooses one, and only that one is written', async () => {
  await plug('1-2');
  await plug('1-3');
  await clickUpdate();
  await session.page.waitForSelector('#device-choice[open]', { timeout: PATIENCE });
  const choices = await session.page.$$eval('#device-list option', (options) => options.map((o) => o.textContent).sort());
  assert.deepEqual(choices, ['HNX470 in ISP mode, serial 1-2', 'HNX470 in ISP mode, serial 1-3']);
  await session.page.$eval('#device-list', (list) => {
    list.value = [...list.options].find((option) => option.textContent.endsWith('1-3')).value;
  });
  await session.page.click('#device-choice-ok');
  assert.equal((await messageBox(session.page)).text, 'Auto Command Succeeded !!');
  assert.equal(await dismiss(session.page), 'succeeded');
  assert.equal((await session.bus.device('1-3')).flash, updatedFlash(IMAGE));
  const other = await session.bus.device('1-2');
  assert.equal(other.counts.bulkTransfers, 0);
  assert.equal(other.flash, 'ff'.repeat(IMAGE.length));
});

test('a device whose node may not be opened is named with the udev rule and the policy', async () => {
  await plug('1-4', { kind: 'no-permission' });
  await clickUpdate();
  assert.deepEqual(await messageBox(session.page), {
    icon: 'error',
    text: 'Access to the device was denied. On Linux, install the udev rule 60-hnx-update.rules that the '
      + 'hnx-update package installs (or copy it from packaging/ to /etc/udev/rules.d/), then plug the device '
      + 'in again. On a managed machine, the administrator grants the device to this page with the '
      + 'WebUsbAllowDevicesForUrls policy.',
  });
  assert.equal(await dismiss(session.page), 'failed');
  assert.equal((await session.bus.device('1-4')).counts.claims, 0);
});

// The device stops answering at a block's status (transfer 1001); unplugged then, the pending transfer
// fails at once, left silent it fails at its limit. Either way the box says so and "Update" is back.
for (const [name, location, unplug] of [['unplugged', '1-5', true], ['silent', '1-6', false]]) {
  test(`a device ${name} midway ends in the failure box within the transfer limit`, async () => {
    await plug(location, { answeredTransfers: 1000 });
    await clickUpdate();
    assert.ok((await session.bus.waitTransfers(location, 1001)).reached);
    if (unplug) await session.bus.remove(location);
    assert.deepEqual(await messageBox(session.page, TRANSFER_LIMIT_MS + 10000), { text: 'Read Failure !!', icon: 'error' });
    assert.equal(await dismiss(session.page), 'failed');
    assert.equal(await session.page.$eval('#update', (button) => button.disabled), false);
    const device = await session.bus.device(location);
    assert.equal(device.counts.bulkTransfers, 1001);
  });
}

test('devices whose identification is a near miss are never written', async () => {
  const misses = { '1-7': 'ZB29K70', '1-8': 'ZB29K7020', '1-9': 'zb29k702', '1-10': 'ZB29K703' };
  for (const [location, identification] of Object.entries(misses)) await plug(location, { identification });
  await plug('1-11', { kind: 'foreign' });
  await clickUpdate();
  assert.deepEqual(await messageBox(session.page), {
    icon: 'error', text: 'Time Out !! Please check device and try again.' });
  assert.equal(await dismiss(session.page), 'not-ours');
  for (const location of [...Object.keys(misses), '1-11'])
    assert.equal((await session.bus.device(location)).counts.bulkTransfers, 0, location);
});
