// The served panel against the Linux app on the simulated world, as a person uses it: settings
// changed with the mouse and the keyboard reach the dongle byte for byte, are saved once and
// survive unplugging; the dongle's own corrections show; the test buttons reach the controller;
// the live view follows the pad; Disconnect and the way back. Also: no request of the page fails,
// and screenshots of its main states (build/screenshots/, not compared).
import assert from "node:assert/strict";
import { mkdirSync } from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { after, before, describe, test } from "node:test";

import { launchBrowser, missingPrerequisite, sleep, startListeningApp, waitUntil } from "./harness.mjs";

const skip = missingPrerequisite();
const here = path.dirname(fileURLToPath(import.meta.url));
const screenshots = path.resolve(here, "..", "..", "build", "screenshots");

// The simulated dongle's factory settings.
const FACTORY = [1, 0, 0, 0x80, 0x3f, 80, 60, 0, 30, 0, 0, 32, 2, 0, 0, 0, 0, 0, 0, 0, 0xff, 0];
const float32 = (value) => Array.from(new Uint8Array(new Float32Array([value]).buffer));
const command = (fn, data = []) => [fn, ...data, ...new Array(62 - data.length).fill(0)];

describe("panel settings on the Linux app", { skip: skip || false }, () => {
  let app;
  let browser;
  let page;
  // Every report the page wrote through the app: { path, id, bytes, at }.
  const writes = [];
  const failures = [];
  const asked = [];

  before(async () => {
    app = await startListeningApp();
    browser = await launchBrowser();
    page = await browser.context.newPage();
    // Recorded once the app has answered, so the dongle has the report by then.
    page.on("requestfinished", (request) => {
      const url = new URL(request.url());
      if (request.method() !== "POST" || !/^\/api\/(feature|output)$/.test(url.pathname)) return;
      const form = new URLSearchParams(request.postData() || "");
      const bytes = Array.from(Buffer.from(form.get("data") || "", "base64"));
      writes.push({ path: url.pathname, id: Number(form.get("id")), bytes, at: Date.now() });
    });
    page.on("request", (request) => asked.push(new URL(request.url()).pathname));
    page.on("requestfailed", (request) => failures.push(`${request.url()}: ${request.failure()?.errorText}`));
    page.on("response", (response) => {
      if (response.status() >= 400) failures.push(`${response.url()}: ${response.status()}`);
    });
    page.on("pageerror", (error) => failures.push(`page error: ${error.message}`));
    await page.goto(app.address);
    await connected();
  });

  after(async () => {
    if (browser) await browser.close();
    if (app) await app.stop();
  });

  async function connected() {
    await page.waitForFunction(() => window.TarnwickPanel && window.TarnwickPanel.isAttached() &&
      document.getElementById("stageEyebrow").textContent === "Connected", null, { timeout: 10000 });
  }

  async function dongleConfig() {
    const line = app.waitForLine(/^\[config\] /);
    app.send("config");
    return (await line).slice("[config] ".length).trim().split(/\s+/).map((hex) => parseInt(hex, 16));
  }

  const commands = () => writes.filter((w) => w.path === "/api/feature" && w.id === 0xf6);
  const outputs = () => writes.filter((w) => w.path === "/api/output");
  const saved = () => page.waitForFunction(
    () => document.getElementById("saveNote").textContent === "All changes saved", null, { timeout: 5000 });

  test("each kind of control reaches the dongle byte for byte", async () => {
    const config = (await dongleConfig()).slice();
    assert.deepEqual(config, FACTORY);
    const cases = [
      // [what the person does, the field's offset and bytes afterwards]
      [async () => { await page.focus("#hapticsRange"); await page.keyboard.press("ArrowRight"); }, 1, float32(1.05)],
      [async () => { await page.focus("#trigRange"); await page.keyboard.press("ArrowRight"); }, 18, [1]],
      [() => page.click("#rateChoices label:has(input[value='1'])"), 10, [1]],
      [() => page.click("#ledSwitch"), 9, [1]],
      [() => page.click("#tabbtn-audio").then(() => page.selectOption("#spkSelect", "2")), 16, [2]],
      [() => page.click("#tabbtn-advanced").then(() => page.click("label[for='shortcutSwitch']")), 14, [1]],
    ];
    for (const [act, offset, bytes] of cases) {
      const before = commands().length;
      await act();
      config.splice(offset, bytes.length, ...bytes);
      await waitUntil(() => commands().length > before, 3000);
      assert.deepEqual(commands().slice(before).map((w) => w.bytes), [command(0x01, config)], `offset ${offset}`);
      assert.deepEqual(await dongleConfig(), config, `the dongle applied offset ${offset}`);
    }
    await saved();
    assert.equal(await page.textContent("#rateText"), "500 Hz");
  });

  test("what the dongle corrects is what the panel shows after the save", async () => {
    await page.click("#tabbtn-controller");
    const before = commands().length;
    // A trigger rumble beyond 10, as an older page or a hand-edited control might send.
    await page.evaluate(() => {
      const slider = document.getElementById("trigRange");
      slider.max = "20";
      slider.value = "15";
      slider.dispatchEvent(new Event("change"));
    });
    assert.equal(await page.textContent("#trigValue"), "15/10");
    await saved();
    assert.equal(commands()[before].bytes[19], 15);
    assert.equal((await dongleConfig())[18], 0);
    assert.equal(await page.textContent("#trigValue"), "Auto");
    await page.evaluate(() => {
      document.getElementById("trigRange").max = "10";
    });
  });

  test("Restore defaults puts the factory settings back", async () => {
    await page.click("#tabbtn-advanced");
    const before = commands().length;
    await page.click("#restoreBtn");
    await page.waitForFunction(() => document.getElementById("toast").textContent === "Back to factory settings",
      null, { timeout: 5000 });
    assert.deepEqual(commands().slice(before).map((w) => w.bytes),
      [command(0x01, new Array(22).fill(0xff)), command(0x02)]);
    assert.deepEqual(await dongleConfig(), FACTORY);
    assert.equal(await page.textContent("#rateText"), "250 Hz");
    assert.equal(await page.isChecked("#shortcutSwitch"), false);
    await page.click("#tabbtn-controller");
    assert.equal(await page.textContent("#idleValue"), "30 min");
    assert.equal(await page.textContent("#hapticsValue"), "1.00\u00d7");
  });

  // Their timing is the page's own and is checked on the browser's fake clock in
  // panel_settings.test.mjs; here, on real time, a busy machine only makes the steps late.
  test("the test buttons reach the controller", async () => {
    const rumble = (heavy, light) => Object.assign(new Array(47).fill(0), { 0: 0x03, 2: light, 3: heavy });
    const trigger = (m, a, b) => Object.assign(new Array(47).fill(0), { 0: 0x0c, 10: m, 11: a, 12: b, 21: m, 22: a, 23: b });
    const cases = [
      ["#rumbleTestBtn", [rumble(140, 0), rumble(0, 140), rumble(220, 220), rumble(0, 0)], 1300],
      ["#triggerTestBtn", [trigger(1, 0x20, 0xc0), trigger(0, 0, 0)], 2500],
    ];
    for (const [button, reports, total] of cases) {
      const from = outputs().length;
      await page.click(button);
      await waitUntil(() => outputs().length - from === reports.length, total + 3000);
      const sent = outputs().slice(from);
      assert.deepEqual(sent.map((w) => [w.id, ...w.bytes]), reports.map((r) => [2, ...r]), button);
      const last = await app.lastOutput();
      assert.deepEqual(last.slice(0, 48), [2, ...reports[reports.length - 1]]);
    }

  });

  test("the live view follows the pad", async () => {
    await page.click("#tabbtn-test");
    const lit = () => page.evaluate(() =>
      [...document.querySelectorAll("#liveView .on")].map((n) => n.dataset.button || n.dataset.dir).sort().join(" "));
    app.send("pad 0 255 128 128 255 0 0x25 0x41 0x04");
    await waitUntil(async () => (await lit()) === "CROSS L1 L3 MUTE down left", 10000);
    assert.equal(await lit(), "CROSS L1 L3 MUTE down left");
    assert.match(await page.evaluate(() => document.getElementById("liveL2").style.transform), /^scaleY\(1\)$/);
    app.send("pad 128 128 128 128 0 0 0x08 0 0");
    await waitUntil(async () => (await lit()) === "", 10000);
    assert.equal(await lit(), "");
  });

  test("no request of the page failed, and the icon is the page's own", async () => {
    // Event streams the page closes itself end as aborted; nothing else may fail.
    const real = failures.filter((f) => !/\/api\/input\?.*net::ERR_ABORTED$/.test(f));
    assert.deepEqual(real, []);
    // The browser asks for "/favicon.ico" by itself (out of the page's sight) unless the page
    // names an icon; the page carries its own.
    assert.match(await page.evaluate(() => document.querySelector("link[rel~='icon']").href), /^data:image\/svg\+xml,/);
    assert.ok(asked.includes("/api/output") && asked.includes("/api/feature"));
  });

  test("two quick changes are saved once, after the second, and survive unplugging", async () => {
    await page.click("#tabbtn-controller");
    const from = writes.length;
    await page.check("input[name='idle'][value='60']");
    await sleep(300);
    await page.check("input[name='idle'][value='10']");
    await saved();
    const sent = writes.slice(from).filter((w) => w.id === 0xf6);
    assert.deepEqual(sent.map((w) => w.bytes[0]), [0x01, 0x01, 0x02]);
    // How long after the last change the save comes is checked on the fake clock in
    // panel_settings.test.mjs; the order here is what the dongle must see.
    assert.equal((await dongleConfig())[8], 10);

    app.send("unplug");
    await page.waitForFunction(() => !window.TarnwickPanel.isAttached(), null, { timeout: 5000 });
    app.send("plug");
    await connected();
    assert.equal(await page.textContent("#idleValue"), "10 min");
    assert.equal(await page.isChecked("input[name='idle'][value='10']"), true);
    // The rest is as restored before.
    assert.equal(await page.textContent("#hapticsValue"), "1.00\u00d7");
    assert.equal(await page.isChecked("#ledSwitch"), true);
  });

  test("Reconnect: the dongle leaves the bus and comes back, and the panel follows it", async () => {
    await page.click("#tabbtn-advanced");
    const before = commands().length;
    await page.click("#reconnectBtn");
    await page.waitForFunction(() => document.getElementById("stageHeadline").textContent === "The dongle went away.",
      null, { timeout: 5000 });
    assert.deepEqual(commands().slice(before).map((w) => w.bytes), [command(0x03)]);
    await connected();
  });

  test("Disconnect lets go; plugging in again attaches", async () => {
    // The app's page tries to attach an available dongle again every 2.5 s, so what Disconnect
    // shows is read in the same task as the click, before any such try can land.
    const shown = await page.evaluate(() => {
      document.getElementById("disconnectBtn").click();
      return {
        headline: document.getElementById("stageHeadline").textContent,
        settingsHidden: document.getElementById("settingsCard").hidden,
        pill: document.getElementById("fwPill").textContent,
        sleeping: document.getElementById("mascot").classList.contains("s-sleep"),
      };
    });
    assert.deepEqual(shown, { headline: "Disconnected.", settingsHidden: true, pill: "not connected", sleeping: true });
    // The page attaches again only after it has seen the dongle go; an unplug and a plug
    // between two of its polls would look like nothing happened.
    await page.evaluate(() => {
      window.__dongleGone = false;
      navigator.hid.addEventListener("disconnect", () => { window.__dongleGone = true; }, { once: true });
    });
    app.send("unplug");
    await page.waitForFunction(() => window.__dongleGone, null, { timeout: 5000 });
    app.send("plug");
    await connected();
    assert.match(await page.textContent("#fwPill"), /^firmware /);
  });

  test("screenshots of the main states", async () => {
    mkdirSync(screenshots, { recursive: true });
    const shots = await launchBrowser();
    try {
      for (const [scheme, width, height] of [["light", 1100, 1000], ["dark", 1100, 1000], ["light", 360, 800], ["dark", 360, 800]]) {
        const p = await shots.context.newPage();
        await p.emulateMedia({ colorScheme: scheme, reducedMotion: "reduce" });
        await p.setViewportSize({ width, height });
        const shot = (name) => p.screenshot({ path: path.join(screenshots, `${name}-${width}-${scheme}.png`), fullPage: true });

        app.send("unplug");
        await p.goto(app.address);
        await sleep(300);
        await shot("idle");
        app.send("plug");
        await p.waitForFunction(() => window.TarnwickPanel.isAttached(), null, { timeout: 10000 });
        await shot("connected");
        for (const tab of ["audio", "test", "advanced", "update"]) {
          await p.click(`#tabbtn-${tab}`);
          if (tab === "test") app.send("pad 60 200 180 90 200 40 0x13 0x05 0x01");
          await sleep(200);
          await shot(`tab-${tab}`);
        }
        app.send("pad 128 128 128 128 0 0 0x08 0 0");
        await p.click("#tabbtn-controller");
        // A device call that fails while the dongle stays: it refuses the next output report.
        // (Unplugging instead would race the page noticing the unplug and hiding the button.)
        await app.sendAndWait("fault write-output fail", /^\(the dongle's write-output call/);
        await p.click("#rumbleTestBtn");
        await p.waitForFunction(() => document.getElementById("stageEyebrow").textContent === "Something went wrong",
          null, { timeout: 5000 });
        await shot("error");
        app.send("unplug");
        await p.waitForFunction(() => !window.TarnwickPanel.isAttached(), null, { timeout: 5000 });
        await shot("sleeping");
        app.send("plug");
        await p.close();
      }
    } finally {
      await shots.close();
    }
  });
});
