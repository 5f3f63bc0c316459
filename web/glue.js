// The engine's WebUSB calls (web/webusb_transport.cpp) and its entry points, for one module instance.
// Module.hnxHost is the page's (or a test's) host object: its `devices` are the USBDevice objects the
// browser granted, and it draws what the run shows (web/README.md). Only WebUSB calls are here: what
// to send and what the answers mean is the engine's.
Module.hnxUsb = (() => {
  // Reach values of webusb_transport.h.
  const kOk = 0, kDenied = 1, kGone = 2, kClaimRefused = 4;
  const kInterface = 0;
  const endpoints = new Map();  // device index -> {out, in}: the claimed interface's bulk endpoints

  const device = (index) => Module.hnxHost.devices[index];

  // The transfer's result; null when it failed (the device gone) or when `limit` milliseconds passed
  // first: then the device is closed, which ends the transfer and every one after it.
  async function withinLimit(index, transfer, limit) {
    let timer;
    const passed = new Promise((resolve) => { timer = setTimeout(() => resolve(undefined), limit); });
    try {
      const result = await Promise.race([transfer, passed]);
      if (result === undefined) await closeQuietly(index);
      return result || null;
    } catch (e) {
      return null;
    } finally {
      clearTimeout(timer);
      transfer.catch(() => {});
    }
  }

  async function closeQuietly(index) {
    endpoints.delete(index);
    try { await device(index).close(); } catch (e) { /* already closed or gone */ }
  }

  function bulkEndpoints(usbDevice) {
    const found = {};
    const iface = usbDevice.configuration &&
                  usbDevice.configuration.interfaces.find((i) => i.interfaceNumber === kInterface);
    for (const endpoint of (iface ? iface.alternates[0].endpoints : [])) {
      if (endpoint.type === "bulk" && found[endpoint.direction] === undefined)
        found[endpoint.direction] = endpoint.endpointNumber;
    }
    return found.out !== undefined && found.in !== undefined ? found : undefined;
  }

  return {
    async open(index) {
      const usbDevice = device(index);
      try {
        if (!usbDevice.opened) await usbDevice.open();
        if (usbDevice.configuration === null) await usbDevice.selectConfiguration(1);
        return kOk;
      } catch (e) {
        return e && e.name === "SecurityError" ? kDenied : kGone;
      }
    },
    async claim(index) {
      const usbDevice = device(index);
      const found = bulkEndpoints(usbDevice);
      if (!found) return kGone;
      try {
        await usbDevice.claimInterface(kInterface);
      } catch (e) {
        return e && e.name === "NetworkError" ? kClaimRefused : e && e.name === "SecurityError" ? kDenied : kGone;
      }
      endpoints.set(index, found);
      return kOk;
    },
    async close(index) {
      const usbDevice = device(index);
      if (endpoints.has(index)) {
        try { await usbDevice.releaseInterface(kInterface); } catch (e) { /* gone */ }
      }
      await closeQuietly(index);
    },
    async stringDescriptor(index, descriptor, language, buffer, length, limit) {
      const setup = {requestType: "standard", recipient: "device", request: 6 /* GET_DESCRIPTOR */,
                     value: (3 << 8) | descriptor, index: language};
      const result = await withinLimit(index, device(index).controlTransferIn(setup, length), limit);
      if (!result || result.status !== "ok" || !result.data) return -1;
      const bytes = new Uint8Array(result.data.buffer, result.data.byteOffset, Math.min(result.data.byteLength, length));
      HEAPU8.set(bytes, buffer);
      return bytes.length;
    },
    async transferOut(index, data, length, limit) {
      const found = endpoints.get(index);
      if (!found) return -1;
      const result = await withinLimit(index, device(index).transferOut(found.out, HEAPU8.slice(data, data + length)), limit);
      return result && result.status === "ok" ? result.bytesWritten : -1;
    },
    async transferIn(index, buffer, length, limit) {
      const found = endpoints.get(index);
      if (!found) return -1;
      const result = await withinLimit(index, device(index).transferIn(found.in, length), limit);
      if (!result || result.status !== "ok" || !result.data) return -1;
      const bytes = new Uint8Array(result.data.buffer, result.data.byteOffset, Math.min(result.data.byteLength, length));
      HEAPU8.set(bytes, buffer);
      return bytes.length;
    },
  };
})();

// The engine's entry points; each resolves to a run's outcome (web/README.md).
Module.update = () => Module.ccall("hnx_update", "number", [], [], {async: true});
Module.writeVerify = async (name, bytes) => {
  const content = Module._malloc(Math.max(bytes.length, 1));
  HEAPU8.set(bytes, content);
  try {
    return await Module.ccall("hnx_write_verify", "number", ["number", "number", "string"],
                              [content, bytes.length, name], {async: true});
  } finally {
    Module._free(content);
  }
};
Module.stop = () => Module._hnx_stop();
