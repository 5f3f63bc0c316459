// The page (index.html): "Update", the image file's write + verify, the message boxes, the choice
// among several devices, and the station. Each run is an engine instance of its own
// (createHnxEngine), so several devices run at once; the engine decides everything about the device,
// this script only asks the browser for devices and draws. Its hooks are listed in web/README.md.
(function () {
  if (typeof document === "undefined") return;  // Node.js (the tests) loads the engine alone

  const $ = (id) => document.getElementById(id);
  const kIcons = {0: "none", 16: "error", 48: "exclamation", 64: "information"};
  const kOutcomes = ["succeeded", "failed", "not-ours", "cancelled"];
  const kNoWebUsb =
      "This browser has no WebUSB. Open the page in Google Chrome, Microsoft Edge, Opera or another " +
      "Chromium-based browser (version 61 or later) on Windows, macOS, Linux, ChromeOS or Android, from " +
      "an https:// address or from 127.0.0.1; Firefox and Safari have no WebUSB.";
  const kWindowsNote =
      "On Windows the vendor's driver usually keeps the device from the browser: if the page finds no " +
      "device, update it with the Windows program, ZB4450_download.exe.";
  const wasmUrl = new URL("hnx-update.wasm", document.currentScript.src).href;
  const platform = (() => {
    const name = ((navigator.userAgentData && navigator.userAgentData.platform) || navigator.platform || "").toLowerCase();
    return name.startsWith("win") ? "windows" : name.includes("linux") ? "linux" : "other";
  })();

  // The module, compiled once for every instance.
  let compiled;
  function engine(host) {
    compiled = compiled || fetch(wasmUrl).then((r) => r.arrayBuffer()).then((b) => WebAssembly.compile(b));
    return createHnxEngine({
      hnxHost: host,
      instantiateWasm(imports, receive) {
        compiled.then((module) => WebAssembly.instantiate(module, imports)).then((instance) => receive(instance));
        return {};
      },
    });
  }

  const running = new Set();  // the engines with a run under way
  function controlsHeld() {
    const held = running.size > 0 || $("station").checked || document.body.dataset.run === "running";
    $("update").disabled = held;
    $("write-verify").disabled = held;
  }
  async function withEngine(host, start) {
    const instance = await engine(host);
    running.add(instance);
    controlsHeld();
    try {
      return kOutcomes[await start(instance)];
    } finally {
      running.delete(instance);
      controlsHeld();
    }
  }
  window.addEventListener("beforeunload", (event) => {
    if (running.size === 0) return;
    event.preventDefault();
    event.returnValue = "";
  });
  // Leaving during a run: each run stops at its next block boundary and releases its device.
  window.addEventListener("pagehide", () => running.forEach((instance) => instance.stop()));

  // The dialog's message box: resolves when it is dismissed.
  function showMessage(text, caption, icon, detail) {
    const box = $("message");
    box.dataset.icon = kIcons[icon] || "none";
    $("message-caption").textContent = caption;
    $("message-text").textContent = text;
    $("message-detail").textContent = detail || "";
    box.showModal();
    return new Promise((resolve) => box.addEventListener("close", () => resolve(), {once: true}));
  }

  function deviceLabel(device, number) {
    const name = device.productName || "USB device";
    return device.serialNumber ? `${name}, serial ${device.serialNumber}` : `${name} #${number}`;
  }

  function chooseDevice(devices, indices) {
    const list = $("device-list");
    list.replaceChildren(...indices.map((index, n) => new Option(deviceLabel(devices[index], n + 1), index)));
    list.selectedIndex = 0;
    const box = $("device-choice");
    box.returnValue = "";
    box.showModal();
    return new Promise((resolve) => box.addEventListener("close", () => {
      resolve(box.returnValue === "ok" && list.selectedIndex >= 0 ? Number(list.value) : -1);
    }, {once: true}));
  }
  $("device-list").addEventListener("dblclick", () => $("device-choice").close("ok"));

  function pageHost(devices) {
    const bar = $("progress");
    return {
      devices, platform, showMessage,
      chooseDevice: (indices) => chooseDevice(devices, indices),
      progressRange(lower, upper) { bar.max = upper - lower; },
      progressPos(position) { bar.value = position; },
      transferProgress(phase, done, total) {
        $("phase").textContent = `${phase} ${Math.floor(done * 100 / total)}%`;
      },
    };
  }

  // The devices granted to the page; when there are none, the browser's picker.
  async function grantedDevices() {
    const devices = await navigator.usb.getDevices();
    if (devices.length > 0) return devices;
    const ids = document.body.dataset.usbFilter;
    const filters = ids ? [{vendorId: parseInt(ids.slice(0, 4), 16), productId: parseInt(ids.slice(5), 16)}]
                        : [{classCode: 0xFF}];
    try {
      return [await navigator.usb.requestDevice({filters})];
    } catch (e) {
      return [];  // the user chose none
    }
  }

  async function pageRun(start) {
    if (!navigator.usb) return showMessage(kNoWebUsb, "HNX470 Update Tool", 16, "");
    document.body.dataset.run = "running";
    delete document.body.dataset.outcome;
    $("update").disabled = $("write-verify").disabled = true;
    try {
      const devices = await grantedDevices();
      if (devices.length === 0) return;
      document.body.dataset.outcome = await withEngine(pageHost(devices), start);
    } catch (e) {
      document.body.dataset.outcome = "failed";  // the module could not be loaded
      await showMessage(`The page could not start its engine: ${e}`, "HNX470 Update Tool", 16, "");
    } finally {
      $("phase").textContent = "";
      document.body.dataset.run = "idle";
      controlsHeld();
    }
  }

  $("update").addEventListener("click", () => pageRun((instance) => instance.update()));
  $("write-verify").addEventListener("click", () => $("image-file").click());
  $("image-file").addEventListener("change", async () => {
    const file = $("image-file").files[0];
    $("image-file").value = "";
    if (!file) return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    pageRun((instance) => instance.writeVerify(file.name, bytes));
  });

  // The station: every granted device is updated as it connects, once per attachment, several at once.
  const station = {attached: new Set(), count: 0, done: 0, failed: 0, running: 0};
  function tally() {
    $("tally-done").textContent = station.done;
    $("tally-failed").textContent = station.failed;
    $("tally-running").textContent = station.running;
  }
  function addRow(device) {
    const row = document.createElement("tr");
    row.dataset.device = deviceLabel(device, ++station.count);
    row.className = "running";
    for (const name of ["device", "phase", "percent", "outcome"]) {
      const cell = document.createElement("td");
      cell.className = name;
      row.append(cell);
    }
    row.cells[0].textContent = row.dataset.device;
    $("station-rows").append(row);
    return row;
  }
  async function stationRun(device) {
    if (station.attached.has(device)) return;
    station.attached.add(device);
    const row = addRow(device);
    ++station.running;
    tally();
    const host = {
      devices: [device], platform,
      showMessage(text) { row.cells[3].textContent = text; },
      chooseDevice: async () => 0,
      progressRange() {}, progressPos() {},
      transferProgress(phase, done, total) {
        row.cells[1].textContent = phase;
        row.cells[2].textContent = Math.floor(done * 100 / total);
      },
    };
    const outcome = await withEngine(host, (instance) => instance.update()).catch((e) => {
      row.cells[3].textContent = `The page could not start its engine: ${e}`;
      return "failed";
    });
    --station.running;
    if (outcome === "not-ours") row.remove();  // not one of ours: not the station's business
    else if (outcome === "succeeded") ++station.done;
    else ++station.failed;
    row.className = outcome;
    tally();
  }
  $("station").addEventListener("change", async () => {
    const on = $("station").checked;
    $("station-panel").hidden = !on;
    controlsHeld();
    if (on && navigator.usb) (await navigator.usb.getDevices()).forEach(stationRun);
  });
  if (navigator.usb) {
    navigator.usb.addEventListener("connect", (event) => { if ($("station").checked) stationRun(event.device); });
    navigator.usb.addEventListener("disconnect", (event) => station.attached.delete(event.device));
  }

  const notes = [];
  if (!navigator.usb) notes.push(kNoWebUsb);
  if (platform === "windows") notes.push(kWindowsNote);
  $("notice").textContent = notes.join(" ");
  $("notice").hidden = notes.length === 0;
  controlsHeld();
})();
