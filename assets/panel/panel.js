// The panel itself. It speaks WebHID only: the same script runs on the dongle's drive and on the
// web with the browser's own navigator.hid, and inside the app over the app's stand-in.
(function () {
  "use strict";

  const VENDOR_ID = 0x054c;
  const PRODUCT_IDS = [0x0ce6, 0x0df2];
  const REPORT_CONFIG = 0xf7;
  const REPORT_VERSION = 0xf8;
  const REPORT_SIGNAL = 0xf9;
  const REPORT_INPUT = 0x01;
  const REPORT_OUTPUT = 0x02;
  const OUTPUT_LENGTH = 47;
  const CONFIG_LENGTH = 22;
  const INPUT_MIN_LENGTH = 53;
  const BATTERY_OFFSET = 52;

  const SIGNAL_EVERY_MS = 1500;
  const LED_EVERY_MS = 90;
  const CONNECTED_SHOWN_MS = 3500;
  const CONNECTED_SETTLED_MS = 3000;
  const MEASURE_MS = 3000;
  const LED_STORAGE_KEY = "ds5-led";

  const LED_PRESETS = [
    ["Bridge green", "#23C55E"],
    ["Blue", "#1E6BFF"],
    ["Cyan", "#00C2D7"],
    ["Purple", "#8B5CF6"],
    ["Pink", "#FF3E8E"],
    ["Amber", "#D98324"],
    ["White", "#FFFFFF"],
  ];

  const inApp = window.__TARNWICK_APP__ === true;
  const $ = (id) => document.getElementById(id);

  // Everything about the attached dongle; null while none is attached.
  let attached = null;
  let attaching = false;

  // ---- presentation -------------------------------------------------------------------------

  function setMascot(state) {
    const mascot = $("mascot");
    if (!mascot) return;
    mascot.classList.remove("s-idle", "s-search", "s-sleep", "s-error", "s-connect");
    mascot.classList.add(state);
  }

  function setStage(state, eyebrow, headline, subline) {
    setMascot(state);
    $("stageEyebrow").textContent = eyebrow;
    $("stageHeadline").textContent = headline;
    $("stageSubline").textContent = subline;
  }

  function setPill(text, on) {
    const pill = $("fwPill");
    pill.textContent = text;
    pill.classList.toggle("on", on);
  }

  let toastTimer = 0;
  function showToast(text, ms) {
    const toast = $("toast");
    if (!toast) return;
    toast.textContent = text;
    toast.hidden = false;
    clearTimeout(toastTimer);
    toastTimer = setTimeout(() => {
      toast.hidden = true;
    }, ms || 3200);
  }

  function showFailure(error) {
    const message = error && error.message ? String(error.message) : String(error || "");
    setStage(
      "s-error",
      "Something went wrong",
      "That didn\u2019t take.",
      (message ? message + " " : "") +
        "Close Steam or any controller software, unplug the dongle, plug it back in, and try again."
    );
  }

  function batteryWord(level) {
    if (level >= 10) return "full";
    if (level >= 8) return "nearly full";
    if (level >= 6) return "good";
    if (level >= 4) return "about half";
    if (level === 3) return "getting low";
    if (level === 2) return "low";
    if (level === 1) return "extremely low";
    return "critically low";
  }

  function drawBattery(byte) {
    const blocks = $("batteryBlocks");
    const text = $("batteryText");
    if (byte === null) {
      blocks.replaceChildren();
      blocks.classList.remove("low");
      text.textContent = "\u2014";
      return;
    }
    const level = Math.min(byte & 0x0f, 10);
    const power = byte >> 4;
    const lit = power === 2 ? 10 : level;
    const cells = [];
    for (let i = 0; i < 10; i++) {
      const cell = document.createElement("i");
      if (i < lit) cell.className = "lit";
      cells.push(cell);
    }
    blocks.replaceChildren(...cells);
    blocks.classList.toggle("low", power === 0 && level <= 2);
    if (power === 2) text.textContent = "full";
    else text.textContent = (power === 1 ? "charging, " : "") + batteryWord(level);
  }

  function signalText(dbm) {
    if (dbm === 0) return "\u2014";
    const word = dbm > -60 ? "strong" : dbm > -75 ? "good" : "weak";
    return word + " (" + dbm + " dBm)";
  }

  function audioText(flags) {
    const parts = [];
    if (flags & 0x01) parts.push("mic");
    if (flags & 0x02) parts.push("sound");
    return parts.length ? parts.join(" + ") : "idle";
  }

  function rateText(rate) {
    return rate === 0 ? "250 Hz" : rate === 1 ? "500 Hz" : "full speed";
  }

  function clearChips() {
    drawBattery(null);
    $("signalText").textContent = "\u2014";
    $("audioText").textContent = "\u2014";
    $("rateText").textContent = "\u2014";
  }

  function showAttachedLayout(on) {
    $("settingsCard").hidden = !on;
    $("setupSteps").hidden = on;
    $("disconnectBtn").hidden = !on;
    $("connectBtn").hidden = inApp || on || !("hid" in navigator);
  }

  // ---- reports ------------------------------------------------------------------------------

  function isDongle(device) {
    if (!device || device.vendorId !== VENDOR_ID || PRODUCT_IDS.indexOf(device.productId) < 0) {
      return false;
    }
    return (device.collections || []).some((c) =>
      (c.featureReports || []).some((r) => r.reportId === REPORT_CONFIG)
    );
  }

  function bytesOfView(view) {
    return new Uint8Array(view.buffer, view.byteOffset, view.byteLength);
  }

  // A feature report's payload, without its report id whichever way the platform hands it over.
  async function readFeature(session, id) {
    const bytes = bytesOfView(await session.device.receiveFeatureReport(id));
    return session.idInData ? bytes.subarray(1) : bytes;
  }

  function parseVersion(bytes) {
    let text = "";
    for (let i = 0; i < bytes.length && bytes[i] !== 0; i++) text += String.fromCharCode(bytes[i]);
    return text.trim();
  }

  function onInputReport(event) {
    const session = attached;
    if (!session || event.device !== session.device || event.reportId !== REPORT_INPUT) return;
    const data = event.data;
    if (!data || data.byteLength < INPUT_MIN_LENGTH) return;
    session.inputCount++;
    const battery = data.getUint8(BATTERY_OFFSET);
    if (battery !== session.battery) {
      session.battery = battery;
      drawBattery(battery);
    }
  }

  async function readSignal(session) {
    try {
      const bytes = await readFeature(session, REPORT_SIGNAL);
      if (session !== attached || bytes.length < 2) return;
      const dbm = bytes[0] > 127 ? bytes[0] - 256 : bytes[0];
      $("signalText").textContent = signalText(dbm);
      if (bytes[1] & 0x80) $("audioText").textContent = audioText(bytes[1]);
    } catch (e) {
      // A missed reading is shown by the next one.
    }
  }

  async function readConfig(session) {
    const bytes = await readFeature(session, REPORT_CONFIG);
    if (bytes.length < CONFIG_LENGTH) throw new Error("The dongle sent a short configuration.");
    session.config = bytes.slice(0, CONFIG_LENGTH);
    $("rateText").textContent = rateText(session.config[10]);
  }

  // ---- light bar ----------------------------------------------------------------------------

  function parseColour(text) {
    const match = /^#([0-9a-fA-F]{6})$/.exec(String(text || ""));
    if (!match) return null;
    const n = parseInt(match[1], 16);
    return [(n >> 16) & 0xff, (n >> 8) & 0xff, n & 0xff];
  }

  function lightBarReport(rgb) {
    const report = new Uint8Array(OUTPUT_LENGTH);
    report[1] = 0x04;
    report[44] = rgb[0];
    report[45] = rgb[1];
    report[46] = rgb[2];
    return report;
  }

  // At most one light bar report every LED_EVERY_MS; only the latest colour waits.
  function queueLightBar(session, rgb) {
    session.ledPending = rgb;
    if (session.ledTimer) return;
    const now = performance.now();
    const wait = Math.max(0, session.ledSentAt + LED_EVERY_MS - now);
    session.ledTimer = setTimeout(() => sendPendingLightBar(session), wait);
  }

  async function sendPendingLightBar(session) {
    session.ledTimer = 0;
    const rgb = session.ledPending;
    session.ledPending = null;
    if (!rgb || session !== attached) return;
    session.ledSentAt = performance.now();
    try {
      await session.device.sendReport(REPORT_OUTPUT, lightBarReport(rgb));
    } catch (e) {
      if (session === attached) showFailure(e);
    }
  }

  function pickColour(hex) {
    const rgb = parseColour(hex);
    if (!rgb) return;
    try {
      localStorage.setItem(LED_STORAGE_KEY, hex.toUpperCase());
    } catch (e) {
      // Storage may be off; the colour still goes to the controller.
    }
    const picker = $("ledPicker");
    if (picker) picker.value = hex.toLowerCase();
    if (attached) queueLightBar(attached, rgb);
  }

  function storedColour() {
    try {
      return localStorage.getItem(LED_STORAGE_KEY);
    } catch (e) {
      return null;
    }
  }

  // ---- settings tabs (first plain version: light bar and the report counter) -----------------

  function element(tag, props, children) {
    const node = document.createElement(tag);
    Object.assign(node, props || {});
    (children || []).forEach((child) => node.append(child));
    return node;
  }

  function buildControllerTab() {
    const tab = $("tab-controller");
    if (!tab || tab.dataset.built) return;
    tab.dataset.built = "1";
    const presets = LED_PRESETS.map(([name, hex]) => {
      const button = element("button", { type: "button", className: "swatch", textContent: name });
      button.dataset.colour = hex;
      button.style.setProperty("--swatch", hex);
      button.addEventListener("click", () => pickColour(hex));
      return button;
    });
    const picker = element("input", { type: "color", id: "ledPicker", value: "#23c55e" });
    picker.setAttribute("aria-label", "Light bar colour");
    picker.addEventListener("input", () => pickColour(picker.value));
    const off = element("button", { type: "button", id: "ledOff", textContent: "Off" });
    off.addEventListener("click", () => pickColour("#000000"));
    tab.append(
      element("section", { className: "setting", id: "lightBar" }, [
        element("h4", { textContent: "Light bar" }),
        element("div", { className: "swatches" }, [...presets, picker, off]),
      ])
    );
  }

  function buildTestTab() {
    const tab = $("tab-test");
    if (!tab || tab.dataset.built) return;
    tab.dataset.built = "1";
    const button = element("button", { type: "button", id: "measureBtn", textContent: "Measure" });
    const result = element("p", { id: "measureResult", className: "measure-result" });
    button.addEventListener("click", () => measureRate(button, result));
    tab.append(
      element("section", { className: "setting", id: "reportRate" }, [
        element("h4", { textContent: "Reports reaching this page" }),
        button,
        result,
      ])
    );
  }

  function measureRate(button, result) {
    const session = attached;
    if (!session) return;
    button.disabled = true;
    result.textContent = "Counting\u2026";
    const startCount = session.inputCount;
    const startedAt = performance.now();
    setTimeout(() => {
      button.disabled = false;
      if (session !== attached) {
        result.textContent = "";
        return;
      }
      const seconds = (performance.now() - startedAt) / 1000;
      const rate = Math.round((session.inputCount - startCount) / seconds);
      result.textContent =
        "Counted about " +
        rate +
        " reports a second reaching this page. " +
        "The browser drops a few of its own, so treat it as a floor, not a ceiling.";
    }, MEASURE_MS);
  }

  function wireTabs() {
    const tabs = document.querySelectorAll("#tabs [data-tab]");
    tabs.forEach((tab) => {
      tab.addEventListener("click", () => {
        tabs.forEach((other) => other.classList.toggle("active", other === tab));
        document.querySelectorAll(".tab-panel[data-panel]").forEach((panel) => {
          panel.hidden = panel.dataset.panel !== tab.dataset.tab;
        });
      });
    });
  }

  // ---- attaching and detaching --------------------------------------------------------------

  async function attach(device) {
    if (attached || attaching || !isDongle(device)) return;
    attaching = true;
    const session = {
      device,
      idInData: false,
      battery: -1,
      config: null,
      inputCount: 0,
      signalTimer: 0,
      idleTimer: 0,
      ledTimer: 0,
      ledPending: null,
      ledSentAt: -Infinity,
      attachedAt: 0,
    };
    try {
      if (!device.opened) await device.open();
      const raw = bytesOfView(await device.receiveFeatureReport(REPORT_VERSION));
      session.idInData = raw.length > 1 && raw[0] === REPORT_VERSION;
      const version = parseVersion(session.idInData ? raw.subarray(1) : raw);
      if (!version) {
        setStage(
          "s-error",
          "Not the dongle",
          "That looks like a controller, not the Bridge.",
          "Pick the DualSense that belongs to the dongle \u2014 the one with no cable of its own in the list."
        );
        await device.close().catch(() => {});
        return;
      }
      attached = session;
      session.attachedAt = performance.now();
      setPill("firmware " + version, true);
      document.dispatchEvent(new CustomEvent("tarnwick:attached"));
      device.addEventListener("inputreport", onInputReport);
      await readConfig(session);
      readSignal(session);
      session.signalTimer = setInterval(() => readSignal(session), SIGNAL_EVERY_MS);
      const colour = parseColour(storedColour());
      if (colour) queueLightBar(session, colour);
      showAttachedLayout(true);
      setStage(
        "s-connect",
        "Connected",
        "Everything\u2019s hooked up.",
        "Change anything below and the dongle keeps it \u2014 it follows the dongle to any PC."
      );
      session.idleTimer = setTimeout(() => {
        if (attached === session && performance.now() - session.attachedAt > CONNECTED_SETTLED_MS) {
          setMascot("s-idle");
        }
      }, CONNECTED_SHOWN_MS);
    } catch (e) {
      if (attached === session) detach(null);
      else await device.close().catch(() => {});
      showFailure(e);
    } finally {
      attaching = false;
    }
  }

  // `reason` null leaves the stage to the caller (a failure shows its own).
  function detach(reason) {
    const session = attached;
    if (!session) return;
    attached = null;
    clearInterval(session.signalTimer);
    clearTimeout(session.idleTimer);
    clearTimeout(session.ledTimer);
    session.device.removeEventListener("inputreport", onInputReport);
    Promise.resolve()
      .then(() => session.device.close())
      .catch(() => {});
    clearChips();
    showAttachedLayout(false);
    setPill("not connected", false);
    document.dispatchEvent(new CustomEvent("tarnwick:detached"));
    if (reason) {
      setStage(
        "s-sleep",
        "Standing by",
        reason,
        "Turn your controller on and the panel reconnects by itself."
      );
    }
  }

  async function attachFirstKnown() {
    let devices = [];
    try {
      devices = await navigator.hid.getDevices();
    } catch (e) {
      return;
    }
    const dongle = devices.find(isDongle);
    if (dongle) await attach(dongle);
  }

  async function pickDevice() {
    try {
      const devices = await navigator.hid.requestDevice({
        filters: PRODUCT_IDS.map((productId) => ({ vendorId: VENDOR_ID, productId })),
      });
      const dongle = (devices || []).find(isDongle) || (devices || [])[0];
      if (dongle) await attach(dongle);
    } catch (e) {
      showFailure(e);
    }
  }

  function start() {
    wireTabs();
    buildControllerTab();
    buildTestTab();
    clearChips();
    showAttachedLayout(false);
    const stored = parseColour(storedColour());
    if (stored && $("ledPicker")) $("ledPicker").value = storedColour().toLowerCase();
    $("disconnectBtn").addEventListener("click", () => detach("Disconnected."));
    $("connectBtn").addEventListener("click", pickDevice);
    if (!("hid" in navigator)) return;
    navigator.hid.addEventListener("connect", (event) => {
      if (!attached && isDongle(event.device)) attach(event.device);
    });
    navigator.hid.addEventListener("disconnect", (event) => {
      if (attached && event.device === attached.device) detach("The dongle went away.");
    });
    attachFirstKnown();
  }

  // Read by the firmware screens and by tests; nothing here is needed by the panel itself.
  // The firmware screens follow attaching through the "tarnwick:attached" and
  // "tarnwick:detached" events on the document.
  window.TarnwickPanel = {
    isAttached: () => attached !== null,
    inputCount: () => (attached ? attached.inputCount : 0),
    // Attaches the first dongle the browser already knows, if any and if none is attached.
    attachAvailable: () => (attached || !("hid" in navigator) ? Promise.resolve() : attachFirstKnown()),
    showToast,
  };

  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", start);
  else start();
})();
