// Headless Chromium started by the emulated bus (so under umockdev's preload library, without the
// capability to open files whatever their mode), showing a folder served on 127.0.0.1, and granted
// the bus's devices by a managed policy. One browser per test file.
import { constants, accessSync, existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { spawnSync } from 'node:child_process';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import puppeteer from 'puppeteer-core';

import { Bus } from './bus.mjs';

export const CHROMIUM = process.env.HNX_CHROMIUM ?? '/usr/bin/chromium';
const POLICY_FOLDER = '/etc/chromium/policies/managed';
const POLICY = join(POLICY_FOLDER, 'hnx-test.json');
// The ids of the emulated devices (sim/scripted_usb.cpp).
export const VENDOR_ID = 0x1234;
export const PRODUCT_ID = 0x7029;

const FLAGS = ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--enable-features=NetworkServiceInProcess2', '--disable-crashpad-for-testing'];

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.wasm': 'application/wasm',
  '.png': 'image/png', '.ico': 'image/x-icon', '.svg': 'image/svg+xml', '.css': 'text/css', '.json': 'application/json' };

// Why the browser tests cannot run here, or null.
export function whyNot(pageFolder) {
  if (!existsSync(CHROMIUM)) return `no Chromium at ${CHROMIUM} (tools/install-deps installs Debian's chromium)`;
  if (!process.env.HNX_WEB_BUS || !existsSync(process.env.HNX_WEB_BUS)) return 'no emulated USB bus (web_usb_bus) built';
  if (!existsSync(join(pageFolder, 'index.html'))) return `no page at ${pageFolder} (cmake --preset web && cmake --build --preset web)`;
  const bus = spawnSync(process.env.HNX_WEB_BUS, [], { input: '', encoding: 'utf8',
    env: { ...process.env, LD_PRELOAD: 'libumockdev-preload.so.0' } });
  if (bus.status !== 0) return `the emulated USB bus cannot run here: ${(bus.stderr || bus.error?.message || '').trim()}`;
  try {
    mkdirSync(POLICY_FOLDER, { recursive: true });
    accessSync(POLICY_FOLDER, constants.W_OK);
  } catch {
    return `the browser's managed policy (${POLICY_FOLDER}) can only be written as root`;
  }
  return null;
}

// Lists the test file as skipped with the reason when it cannot run here; ctest reads "Skipped: ".
export function skipUnlessRunnable(pageFolder) {
  const reason = whyNot(pageFolder);
  if (reason === null) return;
  console.log(`Skipped: ${reason}`);
  process.exit(0);
}

function serve(folder) {
  const server = createServer((request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = join(folder, path.endsWith('/') ? `${path}index.html` : path);
    if (!file.startsWith(folder) || !existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': TYPES[extname(file)] ?? 'application/octet-stream', 'Cache-Control': 'no-store' });
    response.end(readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

async function devToolsAddress(errFile, timeoutMs) {
  const end = Date.now() + timeoutMs;
  while (Date.now() < end) {
    const found = existsSync(errFile) && /DevTools listening on (ws:\/\/\S+)/.exec(readFileSync(errFile, 'utf8'));
    if (found) return found[1];
    await sleep(20);
  }
  throw new Error(`Chromium did not start: ${existsSync(errFile) ? readFileSync(errFile, 'utf8') : ''}`);
}

// The bus, the server and the browser; `close()` ends them and removes the policy and the folders.
export async function openBrowser(pageFolder, { viewport = { width: 800, height: 600 } } = {}) {
  const server = await serve(pageFolder);
  const origin = `http://127.0.0.1:${server.address().port}`;
  writeFileSync(POLICY, JSON.stringify({
    WebUsbAllowDevicesForUrls: [{ devices: [{ vendor_id: VENDOR_ID, product_id: PRODUCT_ID }], urls: [origin] }],
  }));
  const scratch = mkdtempSync(join(tmpdir(), 'hnx-browser-'));
  const profile = join(scratch, 'profile');
  const bus = await Bus.start(process.env.HNX_WEB_BUS);
  let browser = null;
  let pid = 0;
  const close = async () => {
    let run = null;
    if (browser) {
      await browser.close().catch(() => {});
      // A browser that does not end when told is ended.
      const stuck = setTimeout(() => process.kill(pid, 'SIGKILL'), 15000);
      run = await bus.ask({ op: 'stop' }).catch(() => null);
      clearTimeout(stuck);
    }
    await bus.end();
    server.close();
    rmSync(POLICY, { force: true });
    rmSync(scratch, { recursive: true, force: true });
    return run;
  };
  try {
    ({ pid } = await bus.ask({ op: 'start', program: CHROMIUM, folder: scratch,
      args: [...FLAGS, `--user-data-dir=${profile}`, '--remote-debugging-port=0', 'about:blank'] }));
    browser = await puppeteer.connect({ browserWSEndpoint: await devToolsAddress(join(scratch, 'err'), 30000),
      defaultViewport: viewport });
    const page = (await browser.pages())[0] ?? await browser.newPage();
    page.on('dialog', (dialog) => dialog.accept());  // leaving during a run: the page asks first
    return { bus, browser, page, origin, pid, close };
  } catch (error) {
    await close();
    throw error;
  }
}

// The processor time (seconds) of process `pid` and all its descendants so far.
export function treeCpuSeconds(pid) {
  const ticks = 100;  // USER_HZ
  const children = new Map();
  const own = new Map();
  for (const entry of readdirSafe('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      const parent = Number(fields[1]);
      own.set(Number(entry), (Number(fields[11]) + Number(fields[12])) / ticks);
      if (!children.has(parent)) children.set(parent, []);
      children.get(parent).push(Number(entry));
    } catch { /* gone meanwhile */ }
  }
  let total = 0;
  for (const queue = [pid]; queue.length > 0;) {
    const next = queue.pop();
    total += own.get(next) ?? 0;
    queue.push(...(children.get(next) ?? []));
  }
  return total;
}

function readdirSafe(folder) {
  try {
    return readdirSync(folder);
  } catch {
    return [];
  }
}
