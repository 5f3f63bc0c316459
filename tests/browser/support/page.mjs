// What the browser tests ask of the page and of the image (the page's hooks: web/README.md).
import { readFileSync } from 'node:fs';

export const PAGE = process.env.HNX_WEB_PAGE;
export const IMAGE = readFileSync(process.env.HNX_FIRMWARE_IMAGE);
export const PATIENCE = 120000;  // only ever waited out when something is broken (a whole update fits)

// The box of the run's outcome, once it shows: its text and icon.
export async function messageBox(page, timeout = PATIENCE) {
  await page.waitForSelector('#message[open]', { timeout });
  return page.$eval('#message', (box) => ({ text: box.querySelector('#message-text').textContent, icon: box.dataset.icon }));
}

// Dismisses the box and waits for the run to end; the run's outcome.
export async function dismiss(page) {
  await page.click('#message-ok');
  await page.waitForSelector('body[data-run="idle"]', { timeout: PATIENCE });
  return page.$eval('body', (body) => body.dataset.outcome ?? null);
}

const hex = (value, digits = 2) => value.toString(16).toUpperCase().padStart(digits, '0');
const frame = (opcode, address, trailer = 0x40) =>
  `write 10 10 1 ${[opcode, 0, 0, address >>> 24, (address >>> 16) & 0xFF, (address >>> 8) & 0xFF, address & 0xFF, 0, trailer, 0]
    .map((byte) => hex(byte)).join(' ')}`;

// The device's trace of a whole update with `image` in 64-byte blocks: open, erase, every block
// programmed, every block read back, finish, read protection when the image's marker asks, exit.
export function updateTrace(image, block = 64) {
  const lines = ['open 1', frame(0x25, 0, 0xFF), 'read 1 1 1 00'];
  for (let address = 0; address < image.length; address += block)
    lines.push(frame(0x28, address), `write ${block} ${block} 1`, 'read 1 1 1 00');
  for (let address = 0; address < image.length; address += block)
    lines.push(frame(0x2A, address), `read ${block} ${block} 1`, 'read 1 1 1 00');
  lines.push(frame(0x2F, 0));
  if (image[image.length - 5] === 0) lines.push(frame(0x2C, 0));
  lines.push(frame(0x20, 0), 'close');
  return lines;
}

// The flash an update leaves: the image, its read-protect marker given 0xFF.
export function updatedFlash(image) {
  const flash = Buffer.from(image);
  flash.fill(0xFF, flash.length - 5);
  return flash.toString('hex');
}
