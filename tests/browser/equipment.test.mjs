// The equipment of the browser tests, proved with a page of their own: Chromium under the emulated
// bus lists the granted devices, opens, claims, reads a string descriptor and moves bulk data.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { openBrowser, skipUnlessRunnable } from './support/browser.mjs';

const PROBE_PAGE = fileURLToPath(new URL('./probe', import.meta.url));
skipUnlessRunnable(PROBE_PAGE);

let session;
before(async () => {
  session = await openBrowser(PROBE_PAGE);
});
after(async () => {
  await session?.close();
});

test('a granted device is opened, claimed, identified and answers a mass erase', async () => {
  const { bus, page, origin } = session;
  await bus.add('1-1');
  await bus.add('1-2', { identification: 'ZB29K703' });
  await page.goto(origin);
  const found = await page.evaluate(() => window.probe());
  assert.deepEqual(found, [
    { serial: '1-1', text: 'ZB29K702', written: ['ok', 10], status: ['ok', 0] },
    { serial: '1-2', text: 'ZB29K703', written: ['ok', 10], status: ['ok', 0] },
  ]);
  const device = await bus.device('1-1');
  assert.deepEqual(device.trace, ['open 1', 'write 10 10 1 25 00 00 00 00 00 00 00 FF 00', 'read 1 1 1 00', 'close']);
  assert.equal(device.counts.claims, 1);
  assert.equal(device.counts.releases, 1);
});
