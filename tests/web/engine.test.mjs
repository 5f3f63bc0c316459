// The page's engine (the shipped hnx-update.js and .wasm) under Node.js, driven through its host
// object as the page drives it, against simulated devices behind WebUSB (fake_usb.mjs). Each test's
// name is its ctest name after "web.node.".
import { test } from "node:test";
import assert from "node:assert/strict";
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";
import { FakeUsbDevice, loadSimModule } from "./fake_usb.mjs";

const require = createRequire(import.meta.url);
const enginePath = process.env.HNX_WEB_ENGINE;
const createEngine = require(enginePath);
const wasmBinary = readFileSync(enginePath.replace(/\.js$/, ".wasm"));
const image = new Uint8Array(readFileSync(process.env.HNX_IMAGE));
const sim = await loadSimModule();

const kBlocks = 1024;  // 64 KiB in 64-byte blocks
const kLimit = 5000;   // every transfer's limit, in milliseconds

// An engine whose host records what the page would show; `choice` answers the choice of a device.
async function engineFor(devices, { choice = 0, platform = "linux" } = {}) {
  const shown = { messages: [], choices: [], positions: [], range: null };
  const host = {
    devices, platform,
    async showMessage(text, caption, icon, detail) { shown.messages.push({ text, caption, icon, detail }); },
    async chooseDevice(indices) { shown.choices.push(indices); return choice; },
    progressRange(lower, upper) { shown.range = [lower, upper]; },
    progressPos(position) { shown.positions.push(position); },
    transferProgress() {},
  };
  const engine = await createEngine({ hnxHost: host, wasmBinary });
  return { engine, shown };
}

// What the device was given: the image with the read-protect marker (its last 5 bytes) as 0xFF.
function programmed(bytes) {
  const expected = Uint8Array.from(bytes);
  expected.fill(0xFF, expected.length - 5);
  return expected;
}

const frame = (opcode, address) =>
  `write 10 10 1 ${[opcode, 0, 0, address >>> 24, (address >>> 16) & 0xFF, (address >>> 8) & 0xFF, address & 0xFF,
                    0, opcode === 0x25 ? 0xFF : 0x40, 0].map((b) => b.toString(16).toUpperCase().padStart(2, "0")).join(" ")}`;

// The whole update's transfers, in order, when the device accepts everything at once.
function updateTrace() {
  const lines = ["open 1", frame(0x25, 0), "read 1 1 1 00"];
  for (let block = 0; block < kBlocks; ++block)
    lines.push(frame(0x28, block * 64), "write 64 64 1", "read 1 1 1 00");
  for (let block = 0; block < kBlocks; ++block)
    lines.push(frame(0x2A, block * 64), "read 64 64 1", "read 1 1 1 00");
  lines.push(frame(0x2F, 0), frame(0x20, 0), "close");
  return lines;
}

// An Intel HEX file of `data` at `address`, 16 bytes a record.
function intelHex(address, data) {
  const lines = [];
  for (let at = 0; at < data.length; at += 16) {
    const chunk = data.subarray(at, at + 16);
    const bytes = [chunk.length, ((address + at) >> 8) & 0xFF, (address + at) & 0xFF, 0, ...chunk];
    const sum = (0x100 - (bytes.reduce((a, b) => a + b, 0) & 0xFF)) & 0xFF;
    lines.push(":" + [...bytes, sum].map((b) => b.toString(16).toUpperCase().padStart(2, "0")).join(""));
  }
  lines.push(":00000001FF");
  return new TextEncoder().encode(lines.join("\n") + "\n");
}

// The device was let go: its interface released and it closed, its pipe shut.
function assertReleased(device) {
  assert.equal(device.opened, false);
  assert.equal(device.pipeOpen, false);
  assert.equal(device.calls.at(-1), "close");
}

test("update", async () => {
  const device = new FakeUsbDevice(sim);
  device.flash = new Uint8Array(65536).fill(0x5A);
  const { engine, shown } = await engineFor([device]);
  assert.equal(await engine.update(), 0);
  assert.deepEqual(shown.messages, [{ text: "Auto Command Succeeded !!", caption: "HNX470 Update Tool", icon: 64, detail: "" }]);
  assert.deepEqual(device.flash, programmed(image));
  assert.deepEqual(device.trace, updateTrace());
  // Identified before any frame, by string 0xFF in language 0x2861.
  assert.deepEqual(device.calls.slice(0, 4), ["open", "control 3ff 2861", "close", "open"]);
  assert.deepEqual(shown.range, [0, 2048]);
  assert.equal(shown.positions.at(-1), 2048);
  // At 0, then a step per block programmed, then full after the read-back.
  assert.deepEqual(shown.positions, [0, 0, ...Array.from({ length: kBlocks }, (_, i) => i + 1), 2048]);
  assertReleased(device);
});

test("write_verify_hex", async () => {
  const data = Uint8Array.from({ length: 0x300 }, (_, i) => (i * 7 + 3) & 0xFF);
  const device = new FakeUsbDevice(sim);
  device.flash = new Uint8Array(65536).fill(0x00);  // programming alone could not clear this
  const { engine, shown } = await engineFor([device]);
  assert.equal(await engine.writeVerify("firmware.hex", intelHex(0x1000, data)), 0);
  assert.deepEqual(shown.messages.map((m) => m.text), ["Verify Command Succeeded !!"]);
  const expected = new Uint8Array(65536).fill(0xFF);
  expected.set(data, 0x1000);
  assert.deepEqual(device.flash, expected);
  // The bar fills once over erase, write and verify, never going back.
  assert.equal(shown.positions.at(-1), 2048);
  assert.ok(shown.positions.every((position, i) => i === 0 || position >= shown.positions[i - 1]));
  assertReleased(device);
});

test("image_file_refused", async () => {
  const hex = new TextDecoder().decode(intelHex(0, new Uint8Array(48).fill(1))).split("\n");
  hex[1] = hex[1].slice(0, -2) + "00";  // a wrong checksum on line 2
  const cases = [
    { name: "bad.hex", content: new TextEncoder().encode(hex.join("\n")), detail: /^bad\.hex:2: / },
    { name: "short.bin", content: new Uint8Array(100), detail: /^short\.bin: / },
  ];
  for (const { name, content, detail } of cases) {
    const device = new FakeUsbDevice(sim);
    const { engine, shown } = await engineFor([device]);
    assert.equal(await engine.writeVerify(name, content), 1, name);
    assert.equal(shown.messages.length, 1, name);
    assert.equal(shown.messages[0].text, "Program file read Failed !!", name);
    assert.match(shown.messages[0].detail, detail);
    assert.deepEqual(device.calls, [], `${name}: nothing reaches the device`);
  }
});

test("refused_block", async () => {
  const device = new FakeUsbDevice(sim, { faults: "refuse-read=0x40:2" });
  const { engine, shown } = await engineFor([device]);
  assert.equal(await engine.update(), 0);
  assert.deepEqual(shown.messages.map((m) => m.text), ["Auto Command Succeeded !!"]);
  const trace = device.trace;
  const asked = trace.filter((line) => line === frame(0x2A, 0x40)).length;
  assert.equal(asked, 3, "the block at 0x40 is asked for again until the device gives it");
  assert.deepEqual(trace.slice(trace.indexOf(frame(0x2A, 0x40)), trace.indexOf(frame(0x2A, 0x80))),
                   [frame(0x2A, 0x40), "read 64 64 1", "read 1 1 1 01", frame(0x2A, 0x40), "read 64 64 1",
                    "read 1 1 1 01", frame(0x2A, 0x40), "read 64 64 1", "read 1 1 1 00"]);
  assert.deepEqual(device.flash, programmed(image));
});

test("transfer_fails_midway", async (t) => {
  // Transfer 1 is the erase frame; 3 + 3k the program frame of block k, 4 + 3k its data.
  const cases = [
    { options: { faults: "fail-transfer=301" }, text: "Flash Write Failure !!" },
    { options: { unplugAt: 302 }, text: "Read Failure !!" },
    { options: { silentAt: 3100 }, text: "Read Failure !!" },
    { options: { unplugAt: 1 }, text: "Write Failure !!" },
  ];
  const limits = [];
  const setTimer = globalThis.setTimeout;
  // The limit passes at once instead of after 5 s; every other timer is left alone.
  t.mock.method(globalThis, "setTimeout", (callback, delay, ...rest) => {
    if (delay === kLimit) limits.push(delay);
    return setTimer(callback, delay === kLimit ? 0 : delay, ...rest);
  });
  for (const { options, text } of cases) {
    const device = new FakeUsbDevice(sim, options);
    const { engine, shown } = await engineFor([device]);
    assert.equal(await engine.update(), 1, text);
    assert.deepEqual(shown.messages.map((m) => m.text), [text], JSON.stringify(options));
    assertReleased(device);
  }
  assert.ok(limits.length > 0, "every transfer has the limit");
});

test("several_devices", async () => {
  const first = new FakeUsbDevice(sim, { serialNumber: "A" });
  const nearMiss = new FakeUsbDevice(sim, { identification: "ZB29K703" });
  const second = new FakeUsbDevice(sim, { serialNumber: "B" });
  const { engine, shown } = await engineFor([first, nearMiss, second], { choice: 2 });
  assert.equal(await engine.update(), 0);
  assert.deepEqual(shown.choices, [[0, 2]], "the choice lists the identified devices only");
  assert.deepEqual(second.flash, programmed(image));
  for (const untouched of [first, nearMiss]) {
    assert.deepEqual(untouched.trace, [], "no frame reaches a device that was not chosen");
    assert.ok(!untouched.calls.some((call) => call.startsWith("claim")));
  }
  // One near miss alone: never written, and the page says why.
  const { engine: alone, shown: told } = await engineFor([new FakeUsbDevice(sim, { identification: "ZB29K70" })]);
  assert.equal(await alone.update(), 2);
  assert.deepEqual(told.messages.map((m) => m.text), ["Time Out !! Please check device and try again."]);
  // A choice cancelled: nothing runs, nothing is shown.
  const { engine: cancelled, shown: quiet } = await engineFor(
      [new FakeUsbDevice(sim), new FakeUsbDevice(sim)], { choice: -1 });
  assert.equal(await cancelled.update(), 3);
  assert.deepEqual(quiet.messages, []);
});

test("at_once", async () => {
  // Two instances, as the station runs them, each updating its own device at the same time.
  const order = [];
  const devices = ["A", "B"].map((name) => new FakeUsbDevice(sim, { onTransfer: () => order.push(name) }));
  const engines = await Promise.all(devices.map((device) => engineFor([device])));
  const outcomes = await Promise.all(engines.map(({ engine }) => engine.update()));
  assert.deepEqual(outcomes, [0, 0]);
  for (const [i, device] of devices.entries()) {
    assert.deepEqual(device.flash, programmed(image));
    assert.deepEqual(device.trace, updateTrace());
    assert.deepEqual(engines[i].shown.messages.map((m) => m.text), ["Auto Command Succeeded !!"]);
  }
  assert.ok(order.indexOf("B") < order.lastIndexOf("A"), "the two runs went on together");
});

test("unreachable", async () => {
  const cases = [
    { options: { denyOpen: true }, platform: "linux", text: /^Access to the device was denied\. .*udev rule 60-hnx-update\.rules.*WebUsbAllowDevicesForUrls/ },
    { options: { refuseClaim: true }, platform: "linux", text: /^The device is held by another program or a kernel driver/ },
    { options: { refuseClaim: true }, platform: "windows", text: /^On Windows the vendor's driver keeps the device from the browser: .*ZB4450_download\.exe/ },
  ];
  for (const { options, platform, text } of cases) {
    const device = new FakeUsbDevice(sim, options);
    const { engine, shown } = await engineFor([device], { platform });
    assert.equal(await engine.update(), 1);
    assert.equal(shown.messages.length, 1);
    assert.match(shown.messages[0].text, text);
    assert.deepEqual(device.trace, [], "no frame was sent");
    assert.equal(device.opened, false);
  }
});

test("stopped", async () => {
  let engine;
  const device = new FakeUsbDevice(sim, { onTransfer: (number) => number === 200 && engine.stop() });
  const made = await engineFor([device]);
  engine = made.engine;
  assert.equal(await engine.update(), 1);
  const { shown } = made;
  assert.deepEqual(shown.messages.map((m) => m.text), ["Interrupted"]);
  const trace = device.trace;
  assert.match(trace.at(-2), /^read 1 1 1 00$/, "the run ends after a whole block");
  assert.equal(trace.at(-1), "close");
  assertReleased(device);
});
