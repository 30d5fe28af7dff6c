// The served panel in Chromium against the Linux app: the WebHID stand-in finds the simulated
// dongle, the panel shows what the dongle and controller report, the light bar reaches the dongle,
// and unplugging is seen as a disconnect.
import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";

import { openPage, startListeningApp, missingPrerequisite, waitUntil } from "./harness.mjs";

const skip = missingPrerequisite();

describe("panel on the Linux app", { skip: skip || false }, () => {
  let app;
  let browser;
  let page;

  before(async () => {
    app = await startListeningApp();
    ({ browser, page } = await openPage(app.address));
  });

  after(async () => {
    if (browser) await browser.close();
    if (app) await app.stop();
  });

  test("the WebHID stand-in finds the simulated dongle", async (t) => {
    const devices = await page.evaluate(async () =>
      (await navigator.hid.getDevices()).map((d) => ({
        vendorId: d.vendorId,
        productId: d.productId,
        features: d.collections[0].featureReports.map((r) => r.reportId),
      }))
    );
    assert.equal(devices.length, 1);
    assert.equal(devices[0].vendorId, 0x054c);
    assert.ok([0x0ce6, 0x0df2].includes(devices[0].productId));
    assert.ok(devices[0].features.includes(0xf7));
  });

  test("the panel attaches and shows the firmware version", async (t) => {
    // The pill changes as soon as the version is read; the stage once the settings are in.
    await page.waitForFunction(() => document.getElementById("stageEyebrow").textContent === "Connected");
    assert.match(await page.textContent("#fwPill"), /^firmware \d+\.\d+/);
    assert.equal(await page.isHidden("#settingsCard"), false);
    assert.equal(await page.isHidden("#setupSteps"), true);
    // Inside the app there is no device picker.
    assert.equal(await page.isHidden("#connectBtn"), true);
    assert.equal(await page.textContent("#stageEyebrow"), "Connected");
  });

  test("battery changes reach the page from the input reports", async (t) => {
    const batteryIs = (text) =>
      page.waitForFunction((want) => document.getElementById("batteryText").textContent === want,
        text, { timeout: 5000 });
    app.send("discharging");
    app.send("battery 2");
    await batteryIs("low");
    assert.equal(await page.locator("#batteryBlocks i.lit").count(), 2);
    assert.equal(await page.getAttribute("#batteryBlocks", "class"), "blocks low");
    app.send("charging");
    app.send("battery 7");
    await batteryIs("charging, good");
    app.send("full");
    await batteryIs("full");
    assert.equal(await page.locator("#batteryBlocks i.lit").count(), 10);
  });

  test("the signal chip follows the link", async (t) => {
    app.send("signal -80");
    await page.waitForFunction(
      () => document.getElementById("signalText").textContent === "weak (-80 dBm)",
      null, { timeout: 5000 });
  });

  test("a light bar colour reaches the dongle as output report 0x02", async (t) => {
    await page.click("#tab-controller button[data-colour='#1E6BFF']");
    const report = await waitUntil(async () => {
      const bytes = await app.lastOutput();
      return bytes && bytes[45] === 0x1e ? bytes : null;
    }, 5000, 100);
    assert.ok(report, "no light bar report reached the dongle");
    // Report id first, then the 47-byte state report: only the light bar flag and colour set.
    assert.equal(report[0], 0x02);
    const data = report.slice(1, 48);
    const expected = new Array(47).fill(0);
    expected[1] = 0x04;
    expected[44] = 0x1e;
    expected[45] = 0x6b;
    expected[46] = 0xff;
    assert.deepEqual(data, expected);
    assert.equal(await page.evaluate(() => localStorage.getItem("ds5-led")), "#1E6BFF");
  });

  test("unplugging fires a disconnect and plugging back attaches again", async (t) => {
    await page.evaluate(() => {
      window.__disconnects = 0;
      navigator.hid.addEventListener("disconnect", () => window.__disconnects++);
    });
    app.send("unplug");
    await page.waitForFunction(() => window.__disconnects === 1, null, { timeout: 5000 });
    await page.waitForFunction(
      () => document.getElementById("stageHeadline").textContent === "The dongle went away.",
      null, { timeout: 2000 });
    assert.equal(await page.textContent("#fwPill"), "not connected");
    assert.equal(await page.textContent("#batteryText"), "\u2014");
    assert.equal(await page.isHidden("#settingsCard"), true);
    assert.match(await page.getAttribute("#mascot", "class"), /\bs-sleep\b/);

    app.send("plug");
    await page.waitForFunction(() => /^firmware /.test(document.getElementById("fwPill").textContent),
      null, { timeout: 5000 });
    // The stored light bar colour goes back on the controller.
    const restored = await waitUntil(async () => {
      const bytes = await app.lastOutput();
      return bytes && bytes[45] === 0x1e;
    }, 5000, 100);
    assert.ok(restored, "the stored colour was not put back");
  });
});
