// The panel's settings, test buttons and live view on a scriptable dongle (fake_hid.js) and the
// browser's fake clock: the bytes each control writes, when changes are saved, what the panel
// shows of what the dongle kept, the timing of the output reports the test buttons send, and how
// often the live view draws. Needs no app.
import assert from "node:assert/strict";
import { existsSync } from "node:fs";
import { after, before, describe, test } from "node:test";

import { chromiumPath, launchBrowser } from "./harness.mjs";
import { attached, openPanel as openPanelOn, text } from "./panel_fixture.mjs";

const FACTORY = [1, 0, 0, 0x80, 0x3f, 80, 60, 0, 30, 0, 2, 32, 2, 0, 0, 0, 0, 0, 0, 0, 0xff, 0];

const float32 = (value) => Array.from(new Uint8Array(new Float32Array([value]).buffer));
const command = (fn, data = []) => [fn, ...data, ...new Array(62 - data.length).fill(0)];

// Opens the tab that holds `selector`, as a person would before using it.
async function reveal(page, selector) {
  const tab = await page.evaluate((s) => document.querySelector(s).closest("[role=tabpanel]").dataset.panel, selector);
  await page.click(`#tabbtn-${tab}`);
}

// What a person does with each kind of control.
const slide = (id, value) => async (page) =>
  page.evaluate(([id, value]) => {
    const input = document.getElementById(id);
    input.value = value;
    input.dispatchEvent(new Event("input", { bubbles: true }));
    input.dispatchEvent(new Event("change", { bubbles: true }));
  }, [id, value]);
const choose = (name, value) => async (page) => {
  const selector = `input[name="${name}"][value="${value}"]`;
  await reveal(page, selector);
  await page.check(selector);
};
const flip = (id) => async (page) => {
  await reveal(page, `#${id}`);
  await page.click(`#${id}`);
};
const pick = (id, value) => async (page) => {
  await reveal(page, `#${id}`);
  await page.selectOption(`#${id}`, value);
};

describe("panel settings", { skip: existsSync(chromiumPath) ? false : "no Chromium" }, () => {
  let browser;

  before(async () => {
    browser = await launchBrowser();
  });
  after(async () => {
    if (browser) await browser.close();
  });

  async function openAttached(options = {}, init = null) {
    const page = await openPanelOn(browser, { inApp: true, ...options }, init);
    await attached(page);
    return page;
  }

  const device = (page, expression) =>
    page.evaluate(`(() => { const d = window.fakeHid.hid.devices[0]; return ${expression}; })()`);
  const commands = (page) => device(page, "d.features.filter((f) => f[0] === 0xf6).map((f) => f[1])");
  const outputs = (page) => device(page, "d.sent.map(([id, bytes, at]) => [id, bytes, at])");

  test("each control writes its field into the configuration and shows it", async () => {
    const page = await openAttached();
    const config = FACTORY.slice();
    const cases = [
      // [what the person does, the bytes it writes at their offset, the text shown, where]
      [slide("hapticsRange", "1.35"), { 1: float32(1.35) }, "1.35\u00d7", "hapticsValue"],
      [slide("hapticsRange", "2"), { 1: float32(2) }, "2.00\u00d7", "hapticsValue"],
      [slide("trigRange", "7"), { 18: [7] }, "7/10", "trigValue"],
      [slide("trigRange", "0"), { 18: [0] }, "Auto", "trigValue"],
      [slide("spkGainRange", "3"), { 7: [3] }, "+3", "spkGainValue"],
      [slide("spkGainRange", "0"), { 7: [0] }, "Auto", "spkGainValue"],
      [choose("idle", 60), { 8: [60] }, "1 hour", "idleValue"],
      [choose("idle", 10), { 8: [10] }, "10 min", "idleValue"],
      [choose("rate", 1), { 10: [1] }, "500 Hz", "rateText"],
      [choose("rate", 0), { 10: [0] }, "250 Hz", "rateText"],
      [flip("ledSwitch"), { 9: [1] }],
      [flip("ledSwitch"), { 9: [0] }],
      [slide("bufRange", "100"), { 11: [100] }, "100", "bufValue"],
      [pick("modeSelect", "1"), { 12: [1] }],
      [flip("usbSnSwitch"), { 13: [1] }],
      [flip("shortcutSwitch"), { 14: [1] }],
      [pick("micSelect", "2"), { 15: [2] }],
      [pick("spkSelect", "3"), { 16: [3] }],
      [flip("wakeSwitch"), { 17: [1] }],
      [flip("lockVolSwitch"), { 19: [1] }],
      [flip("lockVolSwitch"), { 19: [0] }],
    ];
    for (const [act, bytes, shown, where] of cases) {
      const before = (await commands(page)).length;
      await act(page);
      Object.entries(bytes).forEach(([offset, values]) => config.splice(Number(offset), values.length, ...values));
      const sent = await commands(page);
      assert.equal(sent.length, before + 1, `one apply for ${JSON.stringify(bytes)}`);
      assert.deepEqual(sent[sent.length - 1], command(0x01, config), `apply for ${JSON.stringify(bytes)}`);
      if (shown) assert.equal(await text(page, where), shown);
    }
    // The switches show the field's meaning: the status light is on when its byte is 0.
    assert.equal(await page.isChecked("#ledSwitch"), true);
    assert.equal(await page.isChecked("#wakeSwitch"), true);
    assert.equal(await text(page, "saveNote"), "Saving changes\u2026");
    await page.close();
  });

  test("what a configuration from the dongle shows", async () => {
    const page = await openAttached();
    const cases = [
      // [fields that differ from factory settings, texts shown by id, radios lit, switches on]
      [{ 8: 15 }, { idleValue: "15 min" }, { idle: null }],
      [{ 8: 0 }, { idleValue: "Never" }, { idle: null }],
      [{ 8: 30 }, { idleValue: "30 min" }, { idle: "30" }],
      [{ 8: 60, 10: 1 }, { idleValue: "1 hour", rateText: "500 Hz" }, { idle: "60", rate: "1" }],
      [{ 7: 7, 18: 10, 11: 128 }, { spkGainValue: "+7", trigValue: "10/10", bufValue: "128" }, {}],
      [{ 1: float32(1.5) }, { hapticsValue: "1.50\u00d7" }, {}, { ledSwitch: true }],
      [{ 9: 1, 13: 1, 17: 1 }, {}, {}, { ledSwitch: false, usbSnSwitch: true, wakeSwitch: true }],
    ];
    for (const [fields, texts, lit, switches = {}] of cases) {
      const config = FACTORY.slice();
      Object.entries(fields).forEach(([offset, v]) => config.splice(Number(offset), [].concat(v).length, ...[].concat(v)));
      // "Restore defaults" makes the dongle take its factory values and the panel read them back.
      await page.evaluate((c) => {
        window.fakeHid.hid.devices[0].factory = Uint8Array.from(c);
      }, config);
      await flip("restoreBtn")(page);
      await page.waitForFunction(() => !document.getElementById("restoreBtn").disabled);
      for (const [id, want] of Object.entries(texts)) assert.equal(await text(page, id), want, id);
      for (const [name, value] of Object.entries(lit)) {
        const checked = await page.evaluate((n) =>
          [...document.querySelectorAll(`input[name="${n}"]`)].filter((r) => r.checked).map((r) => r.value), name);
        assert.deepEqual(checked, value === null ? [] : [value], name);
      }
      for (const [id, on] of Object.entries(switches)) assert.equal(await page.isChecked(`#${id}`), on, id);
    }
    // Restoring sends 22 bytes of 0xFF, then saves, and says so.
    const sent = await commands(page);
    assert.deepEqual(sent.slice(-2), [command(0x01, new Array(22).fill(0xff)), command(0x02)]);
    assert.equal(await text(page, "toast"), "Back to factory settings");
    await page.close();
  });

  test("two quick changes are saved once, 1400 ms after the second, and the kept values shown", async () => {
    // This dongle takes a trigger rumble of at most 8 and puts back its factory value otherwise.
    const page = await openAttached({ device: { limits: { 18: 8 } } });
    await slide("trigRange", "3")(page);
    await page.clock.runFor(1000);
    await slide("trigRange", "9")(page);
    assert.equal(await text(page, "trigValue"), "9/10");
    await page.clock.runFor(1399);
    assert.deepEqual((await commands(page)).map((c) => c[0]), [0x01, 0x01]);
    assert.equal(await text(page, "saveNote"), "Saving changes\u2026");
    await page.clock.runFor(1);
    await page.waitForFunction(() => document.getElementById("saveNote").textContent === "All changes saved");
    assert.deepEqual((await commands(page)).map((c) => c[0]), [0x01, 0x01, 0x02]);
    assert.equal(await device(page, "d.saves"), 1);
    // Read back after the save: what the dongle kept, not what was asked.
    assert.equal(await text(page, "trigValue"), "Auto");
    assert.equal(await page.inputValue("#trigRange"), "0");
    await page.clock.runFor(3999);
    assert.equal(await page.isVisible("#saveNote"), true);
    await page.clock.runFor(1);
    assert.equal(await page.isVisible("#saveNote"), false);
    await page.close();
  });

  test("a change the dongle refuses, and a save it refuses, end as not saved", async () => {
    for (const [failCommand, stage] of [[0x01, "Something went wrong"], [0x02, "Connected"]]) {
      const page = await openAttached({ device: { failCommand } });
      await choose("rate", 1)(page);
      await page.clock.runFor(1400);
      await page.waitForFunction(() => document.getElementById("saveNote").textContent === "Not saved");
      assert.equal(await text(page, "stageEyebrow"), stage);
      await page.clock.runFor(10000);
      assert.equal(await text(page, "saveNote"), "Not saved");
      await page.close();
    }
  });

  test("the test buttons' output reports, their timing and labels", async () => {
    const page = await openAttached();
    await page.clock.runFor(200); // past any light bar report
    const rumble = (heavy, light) => {
      const r = new Array(47).fill(0);
      r[0] = 0x03;
      r[2] = light;
      r[3] = heavy;
      return r;
    };
    const trigger = (mode, a, b) => {
      const r = new Array(47).fill(0);
      r[0] = 0x0c;
      r.splice(10, 3, mode, a, b);
      r.splice(21, 3, mode, a, b);
      return r;
    };
    const cases = [
      ["rumbleTestBtn", "Test rumble", "Feel that?",
        [[0, rumble(140, 0)], [400, rumble(0, 140)], [800, rumble(220, 220)], [1300, rumble(0, 0)]]],
      ["triggerTestBtn", "Test triggers", "Squeeze them",
        [[0, trigger(0x01, 0x20, 0xc0)], [2500, trigger(0, 0, 0)]]],
    ];
    for (const [id, label, busy, expected] of cases) {
      await page.evaluate(() => {
        window.fakeHid.hid.devices[0].sent = [];
      });
      const start = await page.evaluate(() => performance.now());
      await page.click(`#${id}`);
      assert.equal(await text(page, id), busy);
      const end = expected[expected.length - 1][0];
      await page.clock.runFor(end - 1);
      assert.equal(await text(page, id), busy);
      assert.equal(await page.isDisabled(`#${id}`), true);
      await page.clock.runFor(1);
      await page.waitForFunction((n) => window.fakeHid.hid.devices[0].sent.length === n, expected.length);
      const sent = await outputs(page);
      assert.deepEqual(sent.map(([reportId, bytes, at]) => [reportId, Math.round(at - start), bytes]),
        expected.map(([at, bytes]) => [2, at, bytes]), id);
      assert.equal(await text(page, id), label);
    }

    // Reconnect: command 0x03, and the button says so for 1200 ms.
    await page.click("#tabbtn-advanced");
    await page.click("#reconnectBtn");
    assert.equal(await text(page, "reconnectBtn"), "Reconnecting");
    await page.waitForFunction(() => window.fakeHid.hid.devices[0].features.some((f) => f[1][0] === 0x03));
    assert.deepEqual((await commands(page)).slice(-1), [command(0x03)]);
    await page.clock.runFor(1199);
    assert.equal(await text(page, "reconnectBtn"), "Reconnecting");
    await page.clock.runFor(1);
    assert.equal(await text(page, "reconnectBtn"), "Reconnect");
    await page.close();
  });

  test("Disconnect stops a running test and keeps a change just made", async () => {
    const page = await openAttached();
    await page.clock.runFor(200);
    await page.click("#rumbleTestBtn");
    await choose("idle", 60)(page);
    await page.clock.runFor(500);
    await page.click("#disconnectBtn");
    await page.waitForFunction(() => !window.fakeHid.hid.devices[0].opened);
    const sent = await outputs(page);
    assert.deepEqual(sent[sent.length - 1][1].slice(0, 4), [0x03, 0, 0, 0], "the rumble was stopped");
    assert.deepEqual((await commands(page)).map((c) => c[0]), [0x01, 0x02]);
    await page.clock.runFor(3000);
    assert.equal((await outputs(page)).length, sent.length, "nothing sent after letting go");
    assert.equal(await text(page, "rumbleTestBtn"), "Test rumble");
    assert.equal(await page.isDisabled("#rumbleTestBtn"), false);
    await page.close();
  });

  test("the live view draws the newest report once per frame while the Test tab is open", async () => {
    const page = await openAttached();
    const input = (bytes) =>
      page.evaluate((b) => {
        const report = new Uint8Array(63);
        report.set(b);
        window.fakeHid.hid.devices[0].input(1, report);
      }, bytes);
    const frames = () => page.evaluate(() => window.TarnwickPanel.liveFrames());
    const lit = () => page.evaluate(() =>
      [...document.querySelectorAll("#liveView .on")].map((n) => n.dataset.button || n.dataset.dir).sort());

    // Closed: reports are counted but nothing is drawn.
    const closed = await frames();
    await input([0, 0, 0, 0, 0, 0, 0, 0x20]);
    await page.clock.runFor(100);
    assert.equal(await frames(), closed);

    await page.click("#tabbtn-test");
    await page.clock.runFor(50);
    const open = await frames();
    for (let i = 0; i < 20; i++) await input([i, 255 - i, 128, 128, 10 * i, 255, 0, 0x08]);
    await page.clock.runFor(17);
    assert.equal(await frames(), open + 1, "twenty reports in one frame are drawn once");
    // The numbers in each drawn transform: the triggers' fill and the left stick's travel.
    const numbers = (selector) => page.evaluate((s) =>
      (document.querySelector(s).style.transform.match(/-?\d+(\.\d+)?/g) || []).map(Number), selector);
    assert.deepEqual(await numbers("#liveR2"), [1]);
    assert.deepEqual(await numbers("#liveL2"), [0.745]); // 190 / 255
    assert.deepEqual(await numbers("#liveLeft span"), [-0.852, 0.844]); // (19, 236) around 128

    const cases = [
      // [byte 7, byte 8, byte 9] -> what lights up
      [[0x08, 0, 0], []],
      [[0x18, 0, 0], ["SQUARE"]],
      [[0x28, 0, 0], ["CROSS"]],
      [[0x48, 0, 0], ["CIRCLE"]],
      [[0x88, 0, 0], ["TRIANGLE"]],
      [[0x08, 0x01, 0], ["L1"]],
      [[0x08, 0x02, 0], ["R1"]],
      [[0x08, 0x04, 0], ["L2"]],
      [[0x08, 0x08, 0], ["R2"]],
      [[0x08, 0x10, 0], ["CREATE"]],
      [[0x08, 0x20, 0], ["OPTIONS"]],
      [[0x08, 0x40, 0], ["L3"]],
      [[0x08, 0x80, 0], ["R3"]],
      [[0x08, 0, 0x01], ["PS"]],
      [[0x08, 0, 0x02], ["PAD"]],
      [[0x08, 0, 0x04], ["MUTE"]],
      [[0x00, 0, 0], ["up"]],
      [[0x01, 0, 0], ["right", "up"]],
      [[0x02, 0, 0], ["right"]],
      [[0x03, 0, 0], ["down", "right"]],
      [[0x04, 0, 0], ["down"]],
      [[0x05, 0, 0], ["down", "left"]],
      [[0x06, 0, 0], ["left"]],
      [[0x07, 0, 0], ["left", "up"]],
      [[0x0f, 0, 0], []],
      [[0xf0, 0xff, 0x07], ["CIRCLE", "CREATE", "CROSS", "L1", "L2", "L3", "MUTE", "OPTIONS", "PAD", "PS",
        "R1", "R2", "R3", "SQUARE", "TRIANGLE", "up"]],
    ];
    for (const [buttons, want] of cases) {
      await input([128, 128, 128, 128, 0, 0, 0, ...buttons]);
      await page.clock.runFor(17);
      assert.deepEqual(await lit(), want.slice().sort(), JSON.stringify(buttons));
    }

    // Leaving the tab stops the drawing.
    await page.click("#tabbtn-audio");
    const left = await frames();
    await input([0, 0, 0, 0, 0, 0, 0, 0x28]);
    await page.clock.runFor(100);
    assert.equal(await frames(), left);
    await page.close();
  });

  test("Play tone: a 440 Hz sine for 700 ms", async () => {
    const page = await openAttached({}, () => {
      window.__tone = [];
      const start = OscillatorNode.prototype.start;
      const stop = OscillatorNode.prototype.stop;
      OscillatorNode.prototype.start = function (at) {
        window.__tone.push(["start", this.type, this.frequency.value, at - this.context.currentTime]);
        return start.call(this, at);
      };
      OscillatorNode.prototype.stop = function (at) {
        window.__tone.push(["stop", at - this.context.currentTime]);
        return stop.call(this, at);
      };
    });
    await page.click("#tabbtn-audio");
    await page.click("#toneBtn");
    const tone = await page.evaluate(() => window.__tone);
    assert.deepEqual([tone[0].slice(0, 3), tone[1][0]], [["start", "sine", 440], "stop"]);
    assert.ok(Math.abs(tone[1][1] - tone[0][3] - 0.7) < 0.01, JSON.stringify(tone));
    assert.equal(await page.isDisabled("#toneBtn"), true);
    await page.clock.runFor(700);
    assert.equal(await page.isDisabled("#toneBtn"), false);
    await page.close();
  });

  test("Test mic prefers the controller's microphone and hints at the mute button when silent", async () => {
    const init = () => {
      window.__mic = { asked: [], stopped: 0, level: 0 };
      const context = new AudioContext();
      const fakeStream = (deviceId, label) => {
        const stream = context.createMediaStreamDestination().stream;
        const track = stream.getAudioTracks()[0];
        const fake = {
          label,
          getSettings: () => ({ deviceId }),
          stop: () => {
            window.__mic.stopped++;
            track.stop();
          },
        };
        stream.getAudioTracks = () => [fake];
        stream.getTracks = () => [fake];
        return stream;
      };
      Object.defineProperty(navigator, "mediaDevices", {
        configurable: true,
        value: {
          async getUserMedia(constraints) {
            window.__mic.asked.push(constraints);
            const id = constraints.audio.deviceId ? constraints.audio.deviceId.exact : "default";
            return fakeStream(id, id === "ds" ? "Headset Microphone (Wireless Controller)" : "Laptop Mic");
          },
          async enumerateDevices() {
            return [
              { kind: "audioinput", deviceId: "default", label: "Laptop Mic" },
              { kind: "audiooutput", deviceId: "spk", label: "DualSense speaker" },
              { kind: "audioinput", deviceId: "ds", label: "Headset Microphone (Wireless Controller)" },
            ];
          },
        },
      });
      AnalyserNode.prototype.getByteTimeDomainData = function (samples) {
        samples.fill(128 + window.__mic.level);
      };
    };
    const page = await openAttached({}, init);
    await page.click("#tabbtn-audio");
    const hint = " Heard nothing at all \u2014 check the mute button on the controller.";
    for (const [level, result] of [
      [3, "Listened through Headset Microphone (Wireless Controller); the loudest sound reached 2 %." + hint],
      [40, "Listened through Headset Microphone (Wireless Controller); the loudest sound reached 31 %."],
    ]) {
      await page.evaluate((l) => {
        window.__mic.level = l;
        window.__mic.asked = [];
      }, level);
      await page.click("#micTestBtn");
      await page.waitForFunction(() => !document.getElementById("micLevel").hidden);
      assert.equal(await text(page, "micTestBtn"), "Listening\u2026");
      await page.clock.runFor(5999);
      assert.equal(await text(page, "micResult"), "");
      await page.clock.runFor(1);
      assert.equal(await text(page, "micResult"), result);
      assert.equal(await page.isHidden("#micLevel"), true);
      assert.deepEqual(await page.evaluate(() => window.__mic.asked),
        [{ audio: true }, { audio: { deviceId: { exact: "ds" } } }]);
    }
    assert.equal(await page.evaluate(() => window.__mic.stopped), 4, "every stream let go");
    await page.close();
  });

  test("tabs are a tablist the arrow keys move through", async () => {
    const page = await openAttached();
    await page.focus("#tabbtn-controller");
    const keys = [
      ["ArrowRight", "audio"],
      ["ArrowRight", "test"],
      ["End", "update"],
      ["ArrowRight", "controller"],
      ["ArrowLeft", "update"],
      ["Home", "controller"],
    ];
    for (const [key, tab] of keys) {
      await page.keyboard.press(key);
      const state = await page.evaluate(() => ({
        focused: document.activeElement.dataset.tab,
        selected: [...document.querySelectorAll('[role="tab"][aria-selected="true"]')].map((t) => t.dataset.tab),
        shown: [...document.querySelectorAll('[role="tabpanel"]')].filter((p) => !p.hidden).map((p) => p.dataset.panel),
        tabbable: [...document.querySelectorAll('[role="tab"]')].filter((t) => t.tabIndex === 0).length,
      }));
      assert.deepEqual(state, { focused: tab, selected: [tab], shown: [tab], tabbable: 1 }, key);
    }
    await page.close();
  });

  test("every control has a name", async () => {
    const page = await openAttached();
    const unnamed = await page.evaluate(() =>
      [...document.querySelectorAll("#settingsCard input, #settingsCard select, #settingsCard button, .chips button")]
        .filter((el) => {
          const label = [...(el.labels || [])].map((l) => l.textContent.trim()).join("");
          return !label && !el.getAttribute("aria-label") && !el.textContent.trim() && !el.closest("label");
        })
        .map((el) => el.id || el.outerHTML));
    assert.deepEqual(unnamed, []);
    await page.close();
  });
});
