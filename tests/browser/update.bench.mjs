// A whole update through the page in headless Chromium, beside `hnx-update update` on the same
// emulated device in the same run: both wall times, their ratio, the browser's processor time per
// transfer (all its processes) and the size of the page's files.
//
//   node tests/browser/update.bench.mjs [--wire-us N] [--repetitions N]
//
// Run from the host build folder with the environment of the browser tests (tests/browser/CMakeLists.txt).
import { statSync } from 'node:fs';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { parseArgs } from 'node:util';

import { openBrowser, skipUnlessRunnable, treeCpuSeconds } from './support/browser.mjs';
import { PAGE, dismiss, messageBox } from './support/page.mjs';

const { values } = parseArgs({ options: { 'wire-us': { type: 'string', default: '1000' },
  repetitions: { type: 'string', default: '1' } } });
const wireMicroseconds = Number(values['wire-us']);
skipUnlessRunnable(PAGE);

const median = (list) => [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)];
const session = await openBrowser(PAGE);
const scratch = mkdtempSync(join(tmpdir(), 'hnx-bench-'));
try {
  const { bus, page, origin, pid } = session;
  await bus.add('1-1', { wireMicroseconds });
  const pageWall = [], cliWall = [], cpuPerTransfer = [], cliCpuPerTransfer = [];
  for (let run = 0; run < Number(values.repetitions); ++run) {
    await page.goto(origin);
    await page.waitForSelector('#update:not([disabled])');
    const before = (await bus.device('1-1')).counts.bulkTransfers;
    const cpu = treeCpuSeconds(pid);
    const start = performance.now();
    await page.click('#update');
    const box = await messageBox(page, 600000);
    pageWall.push((performance.now() - start) / 1000);
    const transfers = (await bus.device('1-1')).counts.bulkTransfers - before;
    cpuPerTransfer.push((treeCpuSeconds(pid) - cpu) / transfers);
    if (box.text !== 'Auto Command Succeeded !!' || await dismiss(page) !== 'succeeded') throw new Error(`the page: ${box.text}`);
    const cli = await bus.ask({ op: 'run', program: process.env.HNX_CLI_PROGRAM, args: ['-q', '--device', '1-1', 'update'], folder: scratch });
    if (cli.code !== 0) throw new Error(`hnx-update: ${cli.err.join(' ')}`);
    cliWall.push(cli.wallSeconds);
    cliCpuPerTransfer.push(cli.cpuSeconds / transfers);
  }
  const size = ['index.html', 'hnx-update.js', 'hnx-update.wasm', 'hnx-update.ico']
    .reduce((sum, name) => sum + statSync(join(PAGE, name)).size, 0);
  const [pageSeconds, cliSeconds] = [median(pageWall), median(cliWall)];
  console.log(`wire time per transfer: ${wireMicroseconds} us, repetitions: ${pageWall.length}`);
  console.log(`page update:        ${pageSeconds.toFixed(2)} s wall`);
  console.log(`hnx-update update:  ${cliSeconds.toFixed(2)} s wall`);
  console.log(`ratio page / hnx-update: ${(pageSeconds / cliSeconds).toFixed(2)}`);
  console.log(`browser processor time per transfer: ${(median(cpuPerTransfer) * 1e6).toFixed(0)} us`);
  console.log(`hnx-update processor time per transfer: ${(median(cliCpuPerTransfer) * 1e6).toFixed(0)} us`);
  console.log(`page files: ${size} bytes (${(size / 1024).toFixed(0)} KiB)`);
} finally {
  await session.close();
  rmSync(scratch, { recursive: true, force: true });
}
