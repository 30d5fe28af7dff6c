// The panel itself. It speaks WebHID only: the same script runs on the dongle's drive and on the
// web with the browser's own navigator.hid, and inside the app over the app's stand-in.
(function () {
  "use strict";

  const VENDOR_ID = 0x054c;
  const PRODUCT_IDS = [0x0ce6, 0x0df2];
  const REPORT_COMMAND = 0xf6;
  const REPORT_CONFIG = 0xf7;
  const REPORT_VERSION = 0xf8;
  const REPORT_SIGNAL = 0xf9;
  const REPORT_INPUT = 0x01;
  const REPORT_OUTPUT = 0x02;
  const COMMAND_LENGTH = 63;
  const OUTPUT_LENGTH = 47;
  const CONFIG_LENGTH = 22;
  const INPUT_MIN_LENGTH = 53;
  const BATTERY_OFFSET = 52;
  const LIVE_BYTES = 10; // sticks, triggers, the counter and the three button bytes

  const CMD_APPLY = 0x01;
  const CMD_SAVE = 0x02;
  const CMD_RECONNECT = 0x03;
  const CMD_UPDATE_MODE = 0x04;

  const SIGNAL_EVERY_MS = 1500;
  const LED_EVERY_MS = 90;
  const CONNECTED_SHOWN_MS = 3500;
  const CONNECTED_SETTLED_MS = 3000;
  const MEASURE_MS = 3000;
  const SAVE_AFTER_MS = 1400;
  const SAVED_SHOWN_MS = 4000;
  const RECONNECT_SHOWN_MS = 1200;
  const TONE_MS = 700;
  const TONE_HZ = 440;
  const MIC_LISTEN_MS = 6000;
  const MIC_SAMPLE_MS = 50;
  const MIC_SILENT_PEAK = 4;
  const MIC_LABEL = /wireless controller|dualsense/i;
  const MIC_SILENT_HINT = " Heard nothing at all \u2014 check the mute button on the controller.";
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

  // Rumble (heavy, light, ms) steps of "Test rumble"; a (0, 0) report ends it.
  const RUMBLE_STEPS = [
    [140, 0, 400],
    [0, 140, 400],
    [220, 220, 500],
  ];
  const TRIGGER_TEST = [0x01, 0x20, 0xc0];
  const TRIGGER_TEST_MS = 2500;

  // The 22-byte configuration record: where each control's field lives and how it is shown.
  // `kind` names how the control holds it; `show` turns the byte (or float) into its text.
  const FIELDS = [
    { offset: 1, kind: "float", control: "hapticsRange", output: "hapticsValue", show: hapticsText },
    { offset: 7, kind: "range", control: "spkGainRange", output: "spkGainValue", show: boostText },
    { offset: 8, kind: "choice", control: "idle", output: "idleValue", show: sleepText },
    { offset: 9, kind: "switch", control: "ledSwitch", onWhen: 0 },
    { offset: 10, kind: "choice", control: "rate" },
    { offset: 11, kind: "range", control: "bufRange", output: "bufValue", show: String },
    { offset: 12, kind: "select", control: "modeSelect" },
    { offset: 13, kind: "switch", control: "usbSnSwitch", onWhen: 1 },
    { offset: 14, kind: "switch", control: "shortcutSwitch", onWhen: 1 },
    { offset: 15, kind: "select", control: "micSelect" },
    { offset: 16, kind: "select", control: "spkSelect" },
    { offset: 17, kind: "switch", control: "wakeSwitch", onWhen: 1 },
    { offset: 18, kind: "range", control: "trigRange", output: "trigValue", show: trigText },
    { offset: 19, kind: "switch", control: "lockVolSwitch", onWhen: 1 },
  ];

  // Input byte 7 high bits, 8 and 9: the fifteen buttons of the live view.
  const BUTTONS = [
    ["SQUARE", 7, 0x10],
    ["CROSS", 7, 0x20],
    ["CIRCLE", 7, 0x40],
    ["TRIANGLE", 7, 0x80],
    ["L1", 8, 0x01],
    ["R1", 8, 0x02],
    ["L2", 8, 0x04],
    ["R2", 8, 0x08],
    ["CREATE", 8, 0x10],
    ["OPTIONS", 8, 0x20],
    ["L3", 8, 0x40],
    ["R3", 8, 0x80],
    ["PS", 9, 0x01],
    ["PAD", 9, 0x02],
    ["MUTE", 9, 0x04],
  ];
  // D-pad values 0..7, clockwise from up; 8 and above: released.
  const DPAD = [
    ["up"],
    ["up", "right"],
    ["right"],
    ["down", "right"],
    ["down"],
    ["down", "left"],
    ["left"],
    ["up", "left"],
  ];

  const inApp = window.__TARNWICK_APP__ === true;
  const $ = (id) => document.getElementById(id);

  // Everything about the attached dongle; null while none is attached.
  let attached = null;
  // The device being attached, until it is attached or refused; `attachingGone` when it left
  // on the way.
  let attaching = null;
  let attachingGone = false;

  // ---- texts --------------------------------------------------------------------------------

  function hapticsText(value) {
    return Number.isFinite(value) ? value.toFixed(2) + "\u00d7" : "\u2014";
  }

  function boostText(value) {
    return value === 0 ? "Auto" : "+" + value;
  }

  function trigText(value) {
    return value === 0 ? "Auto" : value + "/10";
  }

  function sleepText(minutes) {
    if (minutes === 0) return "Never";
    if (minutes === 60) return "1 hour";
    return minutes + " min";
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

  // ---- presentation -------------------------------------------------------------------------

  let stageToken = 0;

  function setMascot(state) {
    const mascot = $("mascot");
    if (!mascot) return;
    mascot.classList.remove("s-idle", "s-search", "s-sleep", "s-error", "s-connect");
    mascot.classList.add(state);
  }

  // Returns a token that tells later callers whether the stage still shows this.
  function setStage(state, eyebrow, headline, subline) {
    setMascot(state);
    $("stageEyebrow").textContent = eyebrow;
    $("stageHeadline").textContent = headline;
    $("stageSubline").textContent = subline;
    return ++stageToken;
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

  let saveNoteTimer = 0;
  function showSaveNote(text, ms) {
    const note = $("saveNote");
    clearTimeout(saveNoteTimer);
    note.textContent = text || "";
    note.hidden = !text;
    if (text && ms) {
      saveNoteTimer = setTimeout(() => {
        note.hidden = true;
      }, ms);
    }
  }

  function showFailure(error) {
    let message = (error && error.message ? String(error.message) : String(error || "")).trim();
    // The transport's messages are bare phrases ("The Bridge is not plugged in"); end them.
    if (message && !/[.!?\u2026]$/.test(message)) message += ".";
    setStage(
      "s-error",
      "Something went wrong",
      "That didn\u2019t take.",
      (message ? message + " " : "") +
        "Close Steam or any controller software, unplug the dongle, plug it back in, and try again."
    );
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
    return isDongleModel(device) && listsConfigReport(device);
  }

  function isDongleModel(device) {
    return !!device && device.vendorId === VENDOR_ID && PRODUCT_IDS.indexOf(device.productId) >= 0;
  }

  function listsConfigReport(device) {
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

  // Device calls of one session run one after another: an apply must reach the dongle before
  // the save that keeps it, and two applies in the order they were made, whatever the transport
  // does with requests in flight.
  function enqueue(session, task) {
    const run = session.queue.then(task);
    session.queue = run.catch(() => {});
    return run;
  }

  function sendCommand(session, fn, data) {
    const payload = new Uint8Array(COMMAND_LENGTH);
    payload[0] = fn;
    if (data) payload.set(data, 1);
    return session.device.sendFeatureReport(REPORT_COMMAND, payload);
  }

  function sendOutput(session, report) {
    const run = session.outQueue.then(() => session.device.sendReport(REPORT_OUTPUT, report));
    session.outQueue = run.catch(() => {});
    return run.catch((e) => {
      if (session === attached) showFailure(e);
    });
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
    if (live.open) {
      const bytes = new Uint8Array(data.buffer, data.byteOffset, LIVE_BYTES);
      // A still pad asks for no frames at all.
      if (!live.frame && sameAsDrawn(bytes)) return;
      live.state.set(bytes);
      if (!live.frame) live.frame = requestAnimationFrame(drawLive);
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

  async function readConfigBytes(session) {
    const bytes = await readFeature(session, REPORT_CONFIG);
    if (bytes.length < CONFIG_LENGTH) throw new Error("The dongle sent a short configuration.");
    return bytes.slice(0, CONFIG_LENGTH);
  }

  // ---- settings -----------------------------------------------------------------------------

  function readHaptics(config) {
    return new DataView(config.buffer, config.byteOffset).getFloat32(1, true);
  }

  function writeHaptics(config, value) {
    new DataView(config.buffer, config.byteOffset).setFloat32(1, value, true);
  }

  function fieldValue(field, config) {
    return field.kind === "float" ? readHaptics(config) : config[field.offset];
  }

  function radios(name) {
    return Array.from(document.querySelectorAll('input[type="radio"][name="' + name + '"]'));
  }

  function renderField(field, config) {
    const value = fieldValue(field, config);
    if (field.kind === "choice") {
      radios(field.control).forEach((radio) => {
        radio.checked = Number(radio.value) === value;
      });
    } else if (field.kind === "switch") {
      $(field.control).checked = value === field.onWhen;
    } else if (field.kind === "select") {
      const select = $(field.control);
      select.value = String(value);
      if (select.value !== String(value)) select.selectedIndex = -1;
    } else {
      const input = $(field.control);
      // A slider held by the pointer keeps its place; its own change comes after.
      if (!input.matches(":active")) input.value = String(Number.isFinite(value) ? value : input.min);
    }
    if (field.output) $(field.output).textContent = field.show(value);
  }

  function renderConfig(session) {
    FIELDS.forEach((field) => renderField(field, session.config));
    $("rateText").textContent = rateText(session.config[10]);
  }

  // The value a control now asks for, in the field's encoding.
  function controlValue(field, target) {
    if (field.kind === "switch") return target.checked ? field.onWhen : 1 - field.onWhen;
    if (field.kind === "float") return Math.round(Number(target.value) * 100) / 100;
    return Number(target.value);
  }

  function onSettingChanged(field, target) {
    const session = attached;
    if (!session || !session.config) return;
    if (session.restoring) {
      renderConfig(session);
      return;
    }
    const value = controlValue(field, target);
    if (field.kind === "float") writeHaptics(session.config, value);
    else session.config[field.offset] = value;
    renderConfig(session);
    applySettings(session);
  }

  function applySettings(session) {
    const snapshot = session.config.slice();
    session.changes++;
    showSaveNote("Saving changes\u2026");
    clearTimeout(session.saveTimer);
    session.saveTimer = setTimeout(() => saveSettings(session), SAVE_AFTER_MS);
    enqueue(session, () => sendCommand(session, CMD_APPLY, snapshot)).catch((e) => {
      session.applyFailed = true;
      if (session !== attached) return;
      showFailure(e);
      if (!session.saveTimer) showSaveNote("Not saved");
    });
  }

  async function saveSettings(session) {
    session.saveTimer = 0;
    const changesAtSave = session.changes;
    try {
      await enqueue(session, async () => {
        // Every apply made before this save has run by now.
        const applyFailed = session.applyFailed;
        session.applyFailed = false;
        await sendCommand(session, CMD_SAVE);
        // The dongle keeps what it can: show what it kept, unless a newer change is on its way.
        const kept = await readConfigBytes(session);
        if (session === attached && session.changes === changesAtSave) {
          session.config = kept;
          renderConfig(session);
        }
        if (applyFailed) throw new Error("A change did not reach the dongle.");
      });
      if (session !== attached || session.saveTimer) return;
      showSaveNote("All changes saved", SAVED_SHOWN_MS);
    } catch (e) {
      if (session !== attached || session.saveTimer) return;
      showSaveNote("Not saved");
    }
  }

  async function restoreDefaults() {
    const session = attached;
    if (!session || session.restoring) return;
    const button = $("restoreBtn");
    clearTimeout(session.saveTimer);
    session.saveTimer = 0;
    session.restoring = true;
    button.disabled = true;
    showSaveNote("");
    try {
      await enqueue(session, async () => {
        // Every byte invalid: the dongle puts its factory value in each.
        await sendCommand(session, CMD_APPLY, new Uint8Array(CONFIG_LENGTH).fill(0xff));
        await sendCommand(session, CMD_SAVE);
        const kept = await readConfigBytes(session);
        session.applyFailed = false;
        if (session === attached) {
          session.config = kept;
          renderConfig(session);
        }
      });
      if (session === attached) showToast("Back to factory settings");
    } catch (e) {
      if (session === attached) showFailure(e);
    } finally {
      session.restoring = false;
      button.disabled = false;
    }
  }

  function wireSettings() {
    FIELDS.forEach((field) => {
      const targets = field.kind === "choice" ? radios(field.control) : [$(field.control)];
      targets.forEach((target) => {
        if (!target) return;
        // Sliders show their value while they move and apply it when let go (or per key press).
        if (field.kind === "range" || field.kind === "float") {
          target.addEventListener("input", () => {
            $(field.output).textContent = field.show(controlValue(field, target));
          });
        }
        target.addEventListener("change", () => onSettingChanged(field, target));
      });
    });
    $("restoreBtn").addEventListener("click", restoreDefaults);
  }

  // ---- output effects -----------------------------------------------------------------------

  function rumbleReport(heavy, light) {
    const report = new Uint8Array(OUTPUT_LENGTH);
    report[0] = 0x03;
    report[2] = light;
    report[3] = heavy;
    return report;
  }

  function triggerReport(mode, a, b) {
    const report = new Uint8Array(OUTPUT_LENGTH);
    report[0] = 0x0c;
    report.set([mode, a, b], 10);
    report.set([mode, a, b], 21);
    return report;
  }

  // Sends each [report, ms] step in turn and `last` at the end, with the button busy meanwhile.
  function playEffect(button, busyText, steps, last) {
    const session = attached;
    if (!session || button.disabled) return;
    const label = button.textContent;
    const effect = { timers: [], last, finish: null };
    effect.finish = () => {
      effect.timers.forEach(clearTimeout);
      session.effects.delete(effect);
      button.textContent = label;
      button.disabled = false;
    };
    session.effects.add(effect);
    button.textContent = busyText;
    button.disabled = true;
    let at = 0;
    steps.forEach(([report, ms], i) => {
      if (i === 0) sendOutput(session, report);
      else effect.timers.push(setTimeout(() => sendOutput(session, report), at));
      at += ms;
    });
    effect.timers.push(
      setTimeout(() => {
        sendOutput(session, last);
        effect.finish();
      }, at)
    );
  }

  function testRumble() {
    playEffect(
      $("rumbleTestBtn"),
      "Feel that?",
      RUMBLE_STEPS.map(([heavy, light, ms]) => [rumbleReport(heavy, light), ms]),
      rumbleReport(0, 0)
    );
  }

  function testTriggers() {
    playEffect(
      $("triggerTestBtn"),
      "Squeeze them",
      [[triggerReport(...TRIGGER_TEST), TRIGGER_TEST_MS]],
      triggerReport(0, 0, 0)
    );
  }

  function holdButton(button, busyText, ms) {
    const label = button.textContent;
    button.textContent = busyText;
    button.disabled = true;
    setTimeout(() => {
      button.textContent = label;
      button.disabled = false;
    }, ms);
  }

  function reconnect() {
    const session = attached;
    const button = $("reconnectBtn");
    if (!session || button.disabled) return;
    holdButton(button, "Reconnecting", RECONNECT_SHOWN_MS);
    // The dongle drops off the bus and comes back; the panel follows the disconnect and connect.
    enqueue(session, () => sendCommand(session, CMD_RECONNECT)).catch((e) => {
      if (session === attached) showFailure(e);
    });
  }

  function startUpdateMode() {
    const session = attached;
    if (!session) return;
    enqueue(session, () => sendCommand(session, CMD_UPDATE_MODE)).then(
      () => showToast("The dongle restarts as a drive named RP2350."),
      (e) => {
        if (session === attached) showFailure(e);
      }
    );
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

  function sendPendingLightBar(session) {
    session.ledTimer = 0;
    const rgb = session.ledPending;
    session.ledPending = null;
    if (!rgb || session !== attached) return;
    session.ledSentAt = performance.now();
    sendOutput(session, lightBarReport(rgb));
  }

  function pickColour(hex) {
    const rgb = parseColour(hex);
    if (!rgb) return;
    try {
      localStorage.setItem(LED_STORAGE_KEY, hex.toUpperCase());
    } catch (e) {
      // Storage may be off; the colour still goes to the controller.
    }
    markColour(hex);
    if (attached) queueLightBar(attached, rgb);
  }

  function markColour(hex) {
    const picker = $("ledPicker");
    if (picker) picker.value = hex.toLowerCase();
    document.querySelectorAll("#ledSwatches [data-colour]").forEach((button) => {
      button.setAttribute("aria-pressed", String(button.dataset.colour === hex.toUpperCase()));
    });
  }

  function storedColour() {
    try {
      return localStorage.getItem(LED_STORAGE_KEY);
    } catch (e) {
      return null;
    }
  }

  function buildLightBar() {
    const swatches = $("ledSwatches");
    const picker = $("ledPicker");
    const presets = LED_PRESETS.map(([name, hex]) => {
      const button = document.createElement("button");
      button.type = "button";
      button.className = "swatch";
      button.textContent = name;
      button.dataset.colour = hex;
      button.setAttribute("aria-pressed", "false");
      button.style.setProperty("--swatch", hex);
      button.addEventListener("click", () => pickColour(hex));
      return button;
    });
    swatches.prepend(...presets);
    picker.addEventListener("input", () => pickColour(picker.value));
    $("ledOff").addEventListener("click", () => pickColour("#000000"));
    const stored = storedColour();
    if (parseColour(stored)) markColour(stored.toUpperCase());
  }

  // ---- sound and microphone -----------------------------------------------------------------

  function audioContextClass() {
    return window.AudioContext || window.webkitAudioContext || null;
  }

  function playTone() {
    const button = $("toneBtn");
    const Context = audioContextClass();
    if (button.disabled) return;
    if (!Context) {
      showToast("This browser cannot play sound.");
      return;
    }
    const context = new Context();
    const oscillator = context.createOscillator();
    const gain = context.createGain();
    const t = context.currentTime;
    const end = t + TONE_MS / 1000;
    oscillator.type = "sine";
    oscillator.frequency.value = TONE_HZ;
    // Short ramps at both ends keep the speaker from clicking.
    gain.gain.setValueAtTime(0, t);
    gain.gain.linearRampToValueAtTime(0.3, t + 0.02);
    gain.gain.setValueAtTime(0.3, end - 0.03);
    gain.gain.linearRampToValueAtTime(0, end);
    oscillator.connect(gain);
    gain.connect(context.destination);
    oscillator.start(t);
    oscillator.stop(end);
    button.disabled = true;
    setTimeout(() => {
      button.disabled = false;
      context.close().catch(() => {});
    }, TONE_MS);
  }

  // The controller's microphone when the browser lists one, else whatever the browser gives.
  async function openMicrophone() {
    const media = navigator.mediaDevices;
    let stream = await media.getUserMedia({ audio: true });
    // Labels are only readable once the person has allowed a microphone.
    const inputs = (await media.enumerateDevices()).filter((d) => d.kind === "audioinput");
    const preferred = inputs.find((d) => MIC_LABEL.test(d.label || ""));
    const track = stream.getAudioTracks()[0];
    const current = track && track.getSettings ? track.getSettings().deviceId : "";
    if (preferred && preferred.deviceId && preferred.deviceId !== current) {
      const other = await media.getUserMedia({ audio: { deviceId: { exact: preferred.deviceId } } });
      stream.getTracks().forEach((t) => t.stop());
      stream = other;
    }
    return stream;
  }

  async function testMic() {
    const button = $("micTestBtn");
    const result = $("micResult");
    const meter = $("micLevel");
    const bar = $("micLevelBar");
    const Context = audioContextClass();
    if (button.disabled) return;
    if (!Context || !navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
      result.textContent = "This browser cannot listen to a microphone here.";
      return;
    }
    const label = button.textContent;
    button.textContent = "Listening\u2026";
    button.disabled = true;
    result.textContent = "";
    let stream;
    try {
      stream = await openMicrophone();
    } catch (e) {
      button.textContent = label;
      button.disabled = false;
      result.textContent = "The browser did not let the panel use a microphone.";
      return;
    }
    const track = stream.getAudioTracks()[0];
    const name = (track && track.label) || "the default microphone";
    const context = new Context();
    const analyser = context.createAnalyser();
    analyser.fftSize = 1024;
    context.createMediaStreamSource(stream).connect(analyser);
    const samples = new Uint8Array(analyser.fftSize);
    let peak = 0;
    meter.hidden = false;
    const sampler = setInterval(() => {
      analyser.getByteTimeDomainData(samples);
      let level = 0;
      for (let i = 0; i < samples.length; i++) level = Math.max(level, Math.abs(samples[i] - 128));
      peak = Math.max(peak, level);
      const percent = Math.min(100, Math.round((level * 100) / 128));
      bar.style.width = percent + "%";
      meter.setAttribute("aria-valuenow", String(percent));
    }, MIC_SAMPLE_MS);
    setTimeout(() => {
      clearInterval(sampler);
      stream.getTracks().forEach((t) => t.stop());
      context.close().catch(() => {});
      meter.hidden = true;
      bar.style.width = "0%";
      button.textContent = label;
      button.disabled = false;
      result.textContent =
        "Listened through " +
        name +
        "; the loudest sound reached " +
        Math.round((peak * 100) / 128) +
        " %." +
        (peak < MIC_SILENT_PEAK ? MIC_SILENT_HINT : "");
    }, MIC_LISTEN_MS);
  }

  // ---- the Test tab -------------------------------------------------------------------------

  // The live view draws the newest input report once per animation frame, and only while the
  // Test tab is open: reports may come a thousand times a second.
  const live = {
    open: false,
    frame: 0,
    frames: 0,
    state: new Uint8Array(LIVE_BYTES),
    drawn: new Int16Array(LIVE_BYTES).fill(-1),
    nodes: null,
  };

  function neutralPad() {
    live.state.set([128, 128, 128, 128, 0, 0, 0, 8, 0, 0]);
  }

  function liveNodes() {
    if (live.nodes) return live.nodes;
    const dir = (name) => document.querySelector('#liveDpad [data-dir="' + name + '"]');
    live.nodes = {
      left: $("liveLeft").firstElementChild,
      right: $("liveRight").firstElementChild,
      l2: $("liveL2"),
      r2: $("liveR2"),
      dpad: { up: dir("up"), right: dir("right"), down: dir("down"), left: dir("left") },
      buttons: BUTTONS.map(([name, byte, mask]) => [
        document.querySelector('#liveView [data-button="' + name + '"]'),
        byte,
        mask,
      ]),
    };
    return live.nodes;
  }

  // Byte 6 is the pad's report counter, which the view does not show.
  function sameAsDrawn(bytes) {
    const d = live.drawn;
    for (let i = 0; i < LIVE_BYTES; i++) if (i !== 6 && bytes[i] !== d[i]) return false;
    return true;
  }

  function stickTransform(x, y) {
    // 0..255 to -1..1 of the stick's travel (its well's radius, in CSS via --travel).
    return (
      "translate(calc(var(--travel) * " +
      ((x - 128) / 128).toFixed(3) +
      "), calc(var(--travel) * " +
      ((y - 128) / 128).toFixed(3) +
      "))"
    );
  }

  function drawLive() {
    live.frame = 0;
    live.frames++;
    const s = live.state;
    const d = live.drawn;
    const nodes = liveNodes();
    if (s[0] !== d[0] || s[1] !== d[1]) nodes.left.style.transform = stickTransform(s[0], s[1]);
    if (s[2] !== d[2] || s[3] !== d[3]) nodes.right.style.transform = stickTransform(s[2], s[3]);
    if (s[4] !== d[4]) nodes.l2.style.transform = "scaleY(" + (s[4] / 255).toFixed(3) + ")";
    if (s[5] !== d[5]) nodes.r2.style.transform = "scaleY(" + (s[5] / 255).toFixed(3) + ")";
    if ((s[7] & 0x0f) !== (d[7] & 0x0f) || d[7] < 0) {
      const held = DPAD[s[7] & 0x0f] || [];
      Object.keys(nodes.dpad).forEach((name) => {
        nodes.dpad[name].classList.toggle("on", held.indexOf(name) >= 0);
      });
    }
    nodes.buttons.forEach(([node, byte, mask]) => {
      const on = (s[byte] & mask) !== 0;
      if (d[byte] < 0 || ((d[byte] & mask) !== 0) !== on) node.classList.toggle("on", on);
    });
    d.set(s);
  }

  function setLiveOpen(open) {
    live.open = open;
    if (open) {
      live.drawn.fill(-1);
      if (!live.frame) live.frame = requestAnimationFrame(drawLive);
    } else if (live.frame) {
      cancelAnimationFrame(live.frame);
      live.frame = 0;
    }
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

  // ---- tabs ---------------------------------------------------------------------------------

  let openTab = "controller";

  function tabButtons() {
    return Array.from(document.querySelectorAll("#tabs [data-tab]"));
  }

  function selectTab(name, focus) {
    openTab = name;
    tabButtons().forEach((tab) => {
      const on = tab.dataset.tab === name;
      tab.classList.toggle("active", on);
      tab.setAttribute("aria-selected", String(on));
      tab.tabIndex = on ? 0 : -1;
      if (on && focus) tab.focus();
    });
    document.querySelectorAll(".tab-panel[data-panel]").forEach((panel) => {
      panel.hidden = panel.dataset.panel !== name;
    });
    setLiveOpen(name === "test" && attached !== null);
  }

  function wireTabs() {
    const tabs = tabButtons();
    tabs.forEach((tab) => tab.addEventListener("click", () => selectTab(tab.dataset.tab, false)));
    $("tabs").addEventListener("keydown", (event) => {
      const at = tabs.findIndex((tab) => tab.dataset.tab === openTab);
      let to = -1;
      if (event.key === "ArrowRight") to = (at + 1) % tabs.length;
      else if (event.key === "ArrowLeft") to = (at - 1 + tabs.length) % tabs.length;
      else if (event.key === "Home") to = 0;
      else if (event.key === "End") to = tabs.length - 1;
      if (to < 0) return;
      event.preventDefault();
      selectTab(tabs[to].dataset.tab, true);
    });
  }

  // ---- attaching and detaching --------------------------------------------------------------

  function notTheDongle() {
    setStage(
      "s-error",
      "Not the dongle",
      "That looks like a controller, not the Bridge.",
      "Pick the DualSense that belongs to the dongle \u2014 the one with no cable of its own in the list."
    );
  }

  async function attach(device) {
    if (attached || attaching || !isDongle(device)) return;
    attaching = device;
    attachingGone = false;
    const session = {
      device,
      idInData: false,
      battery: -1,
      config: null,
      changes: 0,
      applyFailed: false,
      restoring: false,
      saveTimer: 0,
      queue: Promise.resolve(),
      outQueue: Promise.resolve(),
      effects: new Set(),
      inputCount: 0,
      signalTimer: 0,
      idleTimer: 0,
      ledTimer: 0,
      ledPending: null,
      ledSentAt: -Infinity,
      attachedAt: 0,
      detached: false,
    };
    try {
      setStage("s-search", "Connecting", "Found something\u2026", "Asking it who it is.");
      if (!device.opened) await device.open();
      const raw = bytesOfView(await device.receiveFeatureReport(REPORT_VERSION));
      if (attachingGone) {
        await device.close().catch(() => {});
        return;
      }
      session.idInData = raw.length > 1 && raw[0] === REPORT_VERSION;
      const version = parseVersion(session.idInData ? raw.subarray(1) : raw);
      if (!version) {
        notTheDongle();
        await device.close().catch(() => {});
        return;
      }
      attached = session;
      session.attachedAt = performance.now();
      setPill("firmware " + version, true);
      document.dispatchEvent(new CustomEvent("tarnwick:attached"));
      device.addEventListener("inputreport", onInputReport);
      const config = await readConfigBytes(session);
      // Unplugged or disconnected while the configuration was on its way: nothing more to do.
      if (attached !== session) return;
      session.config = config;
      renderConfig(session);
      readSignal(session);
      session.signalTimer = setInterval(() => readSignal(session), SIGNAL_EVERY_MS);
      const colour = parseColour(storedColour());
      if (colour) queueLightBar(session, colour);
      showAttachedLayout(true);
      neutralPad();
      setLiveOpen(openTab === "test");
      const shown = setStage(
        "s-connect",
        "Connected",
        "Everything\u2019s hooked up.",
        "Change anything below and the dongle keeps it \u2014 it follows the dongle to any PC."
      );
      session.idleTimer = setTimeout(() => {
        const settled = performance.now() - session.attachedAt > CONNECTED_SETTLED_MS;
        if (attached === session && settled && stageToken === shown) setMascot("s-idle");
      }, CONNECTED_SHOWN_MS);
    } catch (e) {
      if (session.detached) return; // the stage already says why
      if (attached === session) detach(null);
      else await device.close().catch(() => {});
      if (!attachingGone) showFailure(e);
    } finally {
      attaching = null;
    }
  }

  const DISCONNECTED = "Disconnected.";

  // `reason` null leaves the stage to the caller (a failure shows its own).
  function detach(reason) {
    const session = attached;
    if (!session) return;
    attached = null;
    session.detached = true;
    clearInterval(session.signalTimer);
    clearTimeout(session.idleTimer);
    clearTimeout(session.ledTimer);
    session.device.removeEventListener("inputreport", onInputReport);
    // A person who disconnects keeps the dongle plugged in: what they just changed is saved and
    // a running rumble or trigger test is stopped before the device is let go.
    const last = [];
    const pendingSave = session.saveTimer;
    clearTimeout(session.saveTimer);
    session.saveTimer = 0;
    if (pendingSave && reason === DISCONNECTED) {
      last.push(enqueue(session, () => sendCommand(session, CMD_SAVE)));
    }
    session.effects.forEach((effect) => {
      if (reason === DISCONNECTED) last.push(sendOutput(session, effect.last));
      effect.finish();
    });
    Promise.allSettled(last)
      .then(() => session.device.close())
      .catch(() => {});
    setLiveOpen(false);
    showSaveNote("");
    clearChips();
    showAttachedLayout(false);
    setPill("not connected", false);
    document.dispatchEvent(new CustomEvent("tarnwick:detached"));
    if (reason) standBy(reason);
  }

  function standBy(reason) {
    setStage(
      "s-sleep",
      "Standing by",
      reason,
      "Turn your controller on and the panel reconnects by itself."
    );
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
      const picked = devices || [];
      const dongle = picked.find(isDongle);
      if (dongle) await attach(dongle);
      else if (picked.some(isDongleModel)) notTheDongle();
    } catch (e) {
      showFailure(e);
    }
  }

  function start() {
    wireTabs();
    wireSettings();
    buildLightBar();
    neutralPad();
    clearChips();
    showAttachedLayout(false);
    // The app updates the dongle itself; the web copy's own steps are for the web.
    $("webUpdate").hidden = inApp;
    $("updateModeBtn").addEventListener("click", startUpdateMode);
    $("rumbleTestBtn").addEventListener("click", testRumble);
    $("triggerTestBtn").addEventListener("click", testTriggers);
    $("reconnectBtn").addEventListener("click", reconnect);
    $("toneBtn").addEventListener("click", playTone);
    $("micTestBtn").addEventListener("click", testMic);
    $("measureBtn").addEventListener("click", () => measureRate($("measureBtn"), $("measureResult")));
    $("disconnectBtn").addEventListener("click", () => detach(DISCONNECTED));
    $("connectBtn").addEventListener("click", pickDevice);
    if (!("hid" in navigator)) return;
    navigator.hid.addEventListener("connect", (event) => {
      if (!attached && isDongle(event.device)) attach(event.device);
    });
    navigator.hid.addEventListener("disconnect", (event) => {
      if (attached && event.device === attached.device) detach("The dongle went away.");
      else if (event.device === attaching) {
        attachingGone = true;
        standBy("The dongle went away.");
      }
    });
    attachFirstKnown();
  }

  // Read by the firmware screens and by tests; nothing here is needed by the panel itself.
  // The firmware screens follow attaching through the "tarnwick:attached" and
  // "tarnwick:detached" events on the document.
  window.TarnwickPanel = {
    isAttached: () => attached !== null,
    inputCount: () => (attached ? attached.inputCount : 0),
    // Frames the live input view has drawn since the page loaded.
    liveFrames: () => live.frames,
    // Attaches the first dongle the browser already knows, if any and if none is attached.
    attachAvailable: () => (attached || !("hid" in navigator) ? Promise.resolve() : attachFirstKnown()),
    showToast,
    // For news about the page itself that the panel cannot know (the app behind it went away).
    showStage: (state, eyebrow, headline, subline) => {
      setStage(state, eyebrow, headline, subline);
    },
  };

  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", start);
  else start();
})();
