// A WebUSB device (the part of USBDevice that the engine uses) whose claim and bulk transfers reach a
// simulated device in WebAssembly (sim_module.cpp), and that can fail as a browser reports failures:
// access denied, the interface held elsewhere, a near-miss identification string, a device that goes
// silent or is unplugged. `calls` lists what the engine asked of it, in order.
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";

const require = createRequire(import.meta.url);

export async function loadSimModule() {
  const path = process.env.HNX_SIM_MODULE;
  return require(path)({ wasmBinary: readFileSync(path.replace(/\.js$/, ".wasm")) });
}

// The string descriptor of `text` in UTF-16LE: bLength, type 3, the characters.
function stringDescriptor(text) {
  const bytes = new Uint8Array(2 + 2 * text.length);
  bytes[0] = bytes.length;
  bytes[1] = 3;
  for (let i = 0; i < text.length; ++i) bytes[2 + 2 * i] = text.charCodeAt(i);
  return new DataView(bytes.buffer);
}

const kOut = 1, kIn = 2;

export class FakeUsbDevice {
  // options: faults (the simulator's fault plan), identification (the text of string 0xFF),
  // denyOpen, refuseClaim, silentAt / unplugAt (the bulk transfer, from 1, that never ends / fails
  // as unplugged), onTransfer(number) (called as each bulk transfer begins), serialNumber.
  constructor(sim, options = {}) {
    this.sim = sim;
    this.options = options;
    const faults = this.#text(options.faults || "");
    this.handle = sim._sim_new(faults);
    sim._free(faults);
    if (!this.handle) throw new Error(`bad fault plan ${options.faults}`);
    this.productName = "ZB29K702 ISP";
    this.serialNumber = options.serialNumber || "";
    this.opened = false;
    this.claimed = false;
    this.transfers = 0;
    this.calls = [];
    this.pending = new Set();  // rejecters of the transfers that never end
    this.configuration = {
      configurationValue: 1,
      interfaces: [{
        interfaceNumber: 0,
        alternates: [{ endpoints: [
          { endpointNumber: kOut, direction: "out", type: "bulk" },
          { endpointNumber: kIn, direction: "in", type: "bulk" },
        ] }],
      }],
    };
  }

  #text(text) {
    const bytes = new TextEncoder().encode(text + "\0");
    const address = this.sim._malloc(bytes.length);
    this.sim.HEAPU8.set(bytes, address);
    return address;
  }

  get flash() {
    const address = this.sim._sim_flash(this.handle);
    return this.sim.HEAPU8.slice(address, address + this.sim._sim_flash_size(this.handle));
  }
  set flash(bytes) {
    this.sim.HEAPU8.set(bytes, this.sim._sim_flash(this.handle));
  }
  get trace() {
    return this.sim.UTF8ToString(this.sim._sim_trace(this.handle)).split("\n").filter((line) => line);
  }
  get pipeOpen() {
    return this.sim._sim_pipe_open(this.handle) === 1;
  }

  async open() {
    this.calls.push("open");
    if (this.options.denyOpen) throw new DOMException("Access denied.", "SecurityError");
    this.opened = true;
  }
  async close() {
    this.calls.push("close");
    if (this.claimed) this.sim._sim_close(this.handle);
    this.opened = this.claimed = false;
    for (const reject of this.pending) reject(new DOMException("The device was closed.", "AbortError"));
    this.pending.clear();
  }
  async selectConfiguration() {}
  async claimInterface(number) {
    this.calls.push(`claim ${number}`);
    if (!this.opened) throw new DOMException("The device must be opened first.", "InvalidStateError");
    if (this.options.refuseClaim) throw new DOMException("Unable to claim interface.", "NetworkError");
    this.claimed = this.sim._sim_open(this.handle) === 1;
  }
  async releaseInterface(number) {
    this.calls.push(`release ${number}`);
    if (this.claimed) this.sim._sim_close(this.handle);
    this.claimed = false;
  }
  async controlTransferIn(setup, length) {
    this.calls.push(`control ${setup.value.toString(16)} ${setup.index.toString(16)}`);
    if (!this.opened) throw new DOMException("The device must be opened first.", "InvalidStateError");
    if (setup.request !== 6 || setup.value !== 0x3FF || setup.index !== 0x2861) return { status: "stall" };
    const descriptor = stringDescriptor(this.options.identification ?? "ZB29K702");
    return { status: "ok", data: new DataView(descriptor.buffer, 0, Math.min(length, descriptor.byteLength)) };
  }
  async transferOut(endpoint, data) {
    await this.#transfer(endpoint, kOut);
    const address = this.sim._malloc(data.length);
    this.sim.HEAPU8.set(data, address);
    const moved = this.sim._sim_write(this.handle, address, data.length);
    this.sim._free(address);
    return moved < 0 ? { status: "stall", bytesWritten: 0 } : { status: "ok", bytesWritten: moved };
  }
  async transferIn(endpoint, length) {
    await this.#transfer(endpoint, kIn);
    const address = this.sim._malloc(length);
    const moved = this.sim._sim_read(this.handle, address, length);
    const data = this.sim.HEAPU8.slice(address, address + Math.max(moved, 0));
    this.sim._free(address);
    return moved < 0 ? { status: "stall" } : { status: "ok", data: new DataView(data.buffer) };
  }

  async #transfer(endpoint, expected) {
    if (!this.claimed) throw new DOMException("The interface is not claimed.", "InvalidStateError");
    if (endpoint !== expected) throw new Error(`transfer on endpoint ${endpoint}`);
    const number = ++this.transfers;
    if (number === this.options.unplugAt) {
      this.calls.push("unplugged");
      this.sim._sim_close(this.handle);  // the device lost its power
      this.opened = this.claimed = false;
      throw new DOMException("The device was disconnected.", "NotFoundError");
    }
    if (this.options.onTransfer) {
      await null;
      this.options.onTransfer(number);
    }
    if (number === this.options.silentAt) {
      this.calls.push("silent");
      await new Promise((resolve, reject) => this.pending.add(reject));
    }
  }
}
