// The served panel when the Linux app restarts under it: the new instance serves on the same
// port with a new key, and the open page, whose calls now meet "bad key", says that the panel
// must be opened again instead of offering buttons that cannot work.
import assert from "node:assert/strict";
import { after, describe, test } from "node:test";

import { App, missingPrerequisite, openPage, startListeningApp } from "./harness.mjs";

const skip = missingPrerequisite();

async function keyOf(address) {
  const page = await (await fetch(address)).text();
  return /const TW_KEY = "(\w{32})"/.exec(page)?.[1];
}

describe("panel across a restart of the Linux app", { skip: skip || false }, () => {
  const apps = [];
  let browser;

  after(async () => {
    if (browser) await browser.close();
    for (const app of apps) await app.stop();
  });

  test("the open page tells that the app restarted and switches its controls off", async () => {
    const first = await startListeningApp();
    apps.push(first);
    const firstKey = await keyOf(first.address);
    let page;
    ({ browser, page } = await openPage(first.address));
    await page.waitForFunction(() => document.getElementById("stageEyebrow").textContent === "Connected");
    await page.click("#tabbtn-update");
    await page.getByRole("button", { name: "Repair" }).waitFor();

    await first.stop();
    const second = new App();
    apps.push(second);
    assert.ok(await second.start(), "the second instance's server is not listening");
    assert.equal(second.port, first.port, "the second instance serves on another port");
    assert.notEqual(await keyOf(second.address), firstKey);

    await page.waitForFunction(() => document.getElementById("stageHeadline").textContent === "The app restarted.",
      null, { timeout: 15000 });
    const shown = await page.evaluate(() => ({
      subline: document.getElementById("stageSubline").textContent,
      enabled: Array.from(document.querySelectorAll("button, input, select"))
        .filter((control) => !control.disabled).map((control) => control.id || control.textContent),
      settings: !document.getElementById("settingsCard").hidden,
    }));
    assert.match(shown.subline, /Open the control panel again from the Tarnwick Bridge icon in the tray\.$/);
    assert.deepEqual(shown.enabled, []);
    assert.equal(shown.settings, false);
    // The new instance's own page works.
    const fresh = await browser.context.newPage();
    await fresh.goto(second.address);
    await fresh.waitForFunction(() => document.getElementById("stageEyebrow").textContent === "Connected");
  });
});
