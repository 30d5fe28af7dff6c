// The panel script alone in Chromium, on a scriptable WebHID (fake_hid.js) and the browser's fake
// clock: what it shows for the reports it reads, how it treats odd devices, and the light bar's
// pacing. Needs no app.
import assert from "node:assert/strict";
import { existsSync } from "node:fs";
import { after, before, describe, test } from "node:test";

import { chromiumPath, launchBrowser } from "./harness.mjs";
import { attached, openPanel as openPanelOn, text } from "./panel_fixture.mjs";

describe("panel script", { skip: existsSync(chromiumPath) ? false : "no Chromium" }, () => {
  let browser;

  before(async () => {
    browser = await launchBrowser();
  });
  after(async () => {
    if (browser) await browser.close();
  });

  const openPanel = (options) => openPanelOn(browser, options);

  test("signal words and audio flags", async () => {
    const page = await openPanel({ inApp: true });
    await attached(page);
    const cases = [
      [[-60, 0x80], "good (-60 dBm)", "idle"],
      [[-59, 0x81], "strong (-59 dBm)", "mic"],
      [[-75, 0x83], "weak (-75 dBm)", "mic + sound"],
      [[-74, 0x82], "good (-74 dBm)", "sound"],
      [[0, 0x80], "\u2014", "idle"],
    ];
    for (const [signal, shown, audio] of cases) {
      await page.evaluate((s) => {
        window.fakeHid.hid.devices[0].signal = s;
      }, signal);
      await page.clock.runFor(1500);
      await page.waitForFunction(([want]) => document.getElementById("signalText").textContent === want,
        [shown]);
      assert.equal(await text(page, "audioText"), audio);
    }
    // Without the valid bit the audio chip keeps what it had.
    await page.evaluate(() => {
      window.fakeHid.hid.devices[0].signal = [-50, 0x03];
    });
    await page.clock.runFor(1500);
    await page.waitForFunction(() => document.getElementById("signalText").textContent === "strong (-50 dBm)");
    assert.equal(await text(page, "audioText"), "idle");
    await page.close();
  });

  test("battery from input byte 52", async () => {
    const page = await openPanel({ inApp: true });
    await attached(page);
    const show = async (byte, length) => {
      await page.evaluate(([b, l]) => window.fakeHid.battery(window.fakeHid.hid.devices[0], b, l),
        [byte, length]);
      return {
        text: await text(page, "batteryText"),
        lit: await page.locator("#batteryBlocks i.lit").count(),
        low: await page.evaluate(() => document.getElementById("batteryBlocks").classList.contains("low")),
      };
    };
    assert.deepEqual(await show(0x25), { text: "full", lit: 10, low: false });
    assert.deepEqual(await show(0x02), { text: "low", lit: 2, low: true });
    assert.deepEqual(await show(0x12), { text: "charging, low", lit: 2, low: false });
    assert.deepEqual(await show(0x03), { text: "getting low", lit: 3, low: false });
    assert.deepEqual(await show(0x0f), { text: "full", lit: 10, low: false });
    assert.deepEqual(await show(0x00), { text: "critically low", lit: 0, low: true });
    // Short reports and other report ids are ignored.
    assert.deepEqual(await show(0x08, 52), { text: "critically low", lit: 0, low: true });
    await page.evaluate(() => {
      const bytes = new Uint8Array(63);
      bytes[52] = 0x08;
      window.fakeHid.hid.devices[0].input(0x31, bytes);
    });
    assert.equal(await text(page, "batteryText"), "critically low");
    await page.close();
  });

  test("feature reports without their id byte, and the rate chip", async () => {
    const page = await openPanel({ inApp: true, device: { idInData: false, version: "1.0.4  " } });
    await attached(page);
    assert.equal(await text(page, "fwPill"), "firmware 1.0.4");
    assert.equal(await text(page, "rateText"), "full speed");
    await page.close();
  });

  test("device texts are shown as text, never as markup", async () => {
    const page = await openPanel({ inApp: true, device: { version: "<img src=x onerror=window.hit=1>" } });
    await attached(page);
    assert.equal(await text(page, "fwPill"), "firmware <img src=x onerror=window.hit=1>");
    assert.equal(await page.locator("#fwPill img").count(), 0);
    assert.equal(await page.evaluate(() => window.hit), undefined);
    await page.close();
  });

  test("a plain controller is refused and closed", async () => {
    const page = await openPanel({ inApp: true, device: { version: "" } });
    await page.waitForFunction(() => document.getElementById("stageEyebrow").textContent === "Not the dongle");
    assert.equal(await text(page, "stageHeadline"), "That looks like a controller, not the Bridge.");
    assert.match(await page.getAttribute("#mascot", "class"), /\bs-error\b/);
    assert.equal(await page.evaluate(() => window.fakeHid.hid.devices[0].opened), false);
    assert.equal(await text(page, "fwPill"), "not connected");
    await page.close();
  });

  test("only the dongle is attached, and a later connect attaches it", async () => {
    const page = await openPanel({ inApp: true, dongle: false });
    await page.evaluate(() => {
      window.fakeHid.connect({ productId: 0x0ce6, features: [] }); // a DualSense: no 0xF7
      window.fakeHid.connect({ vendorId: 0x1234, productId: 0x0ce6 });
    });
    await page.clock.runFor(100);
    assert.equal(await page.evaluate(() => window.TarnwickPanel.isAttached()), false);
    await page.evaluate(() => window.fakeHid.connect({ productId: 0x0df2 }));
    await attached(page);
    assert.equal(await page.isHidden("#connectBtn"), true);
    await page.close();
  });

  test("detaching clears the chips and stops reading the signal", async () => {
    const page = await openPanel({ inApp: true });
    await attached(page);
    await page.evaluate(() => window.fakeHid.battery(window.fakeHid.hid.devices[0], 0x05));
    await page.click("#disconnectBtn");
    assert.equal(await text(page, "stageHeadline"), "Disconnected.");
    assert.equal(await text(page, "batteryText"), "\u2014");
    assert.equal(await text(page, "signalText"), "\u2014");
    assert.equal(await page.isHidden("#settingsCard"), true);
    assert.equal(await page.isHidden("#setupSteps"), false);
    await page.evaluate(() => {
      const device = window.fakeHid.hid.devices[0];
      device.reads = 0;
      const original = device.receiveFeatureReport.bind(device);
      device.receiveFeatureReport = (id) => {
        device.reads++;
        return original(id);
      };
    });
    await page.clock.runFor(5000);
    const reads = await page.evaluate(() => window.fakeHid.hid.devices[0].reads);
    assert.equal(reads, 0);
    await page.close();
  });

  test("a dongle unplugged while it is being attached is let go quietly", async () => {
    // Before the panel knows it is the dongle (its version on the way), and after (its settings,
    // which arrive, or fail as an unplugged device's do).
    for (const [hold, failFeature] of [[0xf8, null], [0xf7, null], [0xf7, 0xf7]]) {
      const page = await openPanel({ inApp: true, device: { hold, failFeature } });
      await page.waitForFunction(() => typeof window.fakeHid.hid.devices[0].release === "function");
      await page.evaluate(() => {
        window.held = window.fakeHid.hid.devices[0];
        window.fakeHid.disconnect(window.held);
        window.held.release();
      });
      await page.clock.runFor(100);
      const name = `held 0x${hold.toString(16)}${failFeature ? ", failing" : ""}`;
      assert.equal(await text(page, "stageHeadline"), "The dongle went away.", name);
      assert.equal(await text(page, "stageEyebrow"), "Standing by", name);
      assert.equal(await page.evaluate(() => window.TarnwickPanel.isAttached()), false, name);
      assert.equal(await page.evaluate(() => window.held.opened), false, name);
      assert.equal(await page.isHidden("#settingsCard"), true, name);
      assert.equal(await text(page, "fwPill"), "not connected", name);
      await page.close();
    }
  });

  test("the settled state follows the connected state", async () => {
    const page = await openPanel({ inApp: true });
    await attached(page);
    assert.match(await page.getAttribute("#mascot", "class"), /\bs-connect\b/);
    await page.clock.runFor(3600);
    assert.match(await page.getAttribute("#mascot", "class"), /\bs-idle\b/);
    await page.close();
  });

  test("a failed device call is shown and the device let go", async () => {
    const page = await openPanel({ inApp: true, dongle: false });
    await page.evaluate(() => window.fakeHid.connect({ failFeature: 0xf7 }));
    await page.waitForFunction(() => document.getElementById("stageEyebrow").textContent === "Something went wrong");
    assert.equal(await text(page, "stageHeadline"), "That didn\u2019t take.");
    assert.equal(await text(page, "stageSubline"),
      "The dongle did not answer. Close Steam or any controller software, unplug the dongle, " +
      "plug it back in, and try again.");
    assert.equal(await page.evaluate(() => window.TarnwickPanel.isAttached()), false);
    assert.equal(await page.evaluate(() => window.fakeHid.hid.devices[0].opened), false);
    assert.equal(await text(page, "fwPill"), "not connected");
    await page.close();
  });

  test("light bar colours are paced and the latest one wins", async () => {
    const page = await openPanel({ inApp: true });
    await attached(page);
    await page.clock.runFor(200);
    await page.evaluate(() => {
      const picker = document.getElementById("ledPicker");
      for (const colour of ["#100000", "#200000", "#300000", "#400000", "#0a0b0c"]) {
        picker.value = colour;
        picker.dispatchEvent(new Event("input"));
      }
    });
    await page.clock.runFor(500);
    const sent = await page.evaluate(() => window.fakeHid.hid.devices[0].sent);
    assert.ok(sent.length >= 1 && sent.length <= 2, JSON.stringify(sent.map((s) => s[1].slice(44))));
    const [id, data] = sent[sent.length - 1];
    assert.equal(id, 2);
    assert.equal(data.length, 47);
    assert.equal(data[1], 0x04);
    assert.deepEqual(data.slice(44), [0x0a, 0x0b, 0x0c]);
    assert.equal(data.filter((b, i) => b !== 0 && i !== 1 && i < 44).length, 0);
    for (let i = 1; i < sent.length; i++) assert.ok(sent[i][2] - sent[i - 1][2] >= 90);
    assert.equal(await page.evaluate(() => localStorage.getItem("ds5-led")), "#0A0B0C");
    await page.close();
  });

  test("outside the app the Connect button and the web's own update steps are offered", async () => {
    const page = await openPanel({ dongle: false });
    assert.equal(await page.isHidden("#connectBtn"), false);
    assert.equal(await page.evaluate(() => document.getElementById("webUpdate").hidden), false);
    const inApp = await openPanel({ inApp: true, dongle: false });
    assert.equal(await inApp.evaluate(() => document.getElementById("webUpdate").hidden), true);
    await inApp.close();
    await page.close();
  });
});
