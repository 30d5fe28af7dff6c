// axe-core over the served page (fake_app.mjs stands in for the app): every settings tab, the
// firmware screens' main states, and the page after the app restarted, in light and dark. Any
// violation of the WCAG 2.1 A/AA rules or of axe's best practices fails.
import assert from "node:assert/strict";
import { existsSync, readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { describe, test } from "node:test";

import { fakeAppPages } from "./fake_app_pages.mjs";
import { chromiumPath } from "./harness.mjs";

const axeSource = readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
const TAGS = ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa", "best-practice"];
const SCHEMES = ["light", "dark"];
const TABS = ["controller", "audio", "test", "advanced", "update"];

// The violations axe finds in the page as it stands, one line each.
async function violations(page) {
  if (!(await page.evaluate(() => typeof window.axe === "object"))) {
    await page.addScriptTag({ content: axeSource });
  }
  const result = await page.evaluate((tags) => window.axe.run(document, {
    runOnly: { type: "tag", values: tags },
    resultTypes: ["violations"],
  }), TAGS);
  return result.violations.flatMap((violation) => violation.nodes.map((node) =>
    `${violation.id} at ${node.target.join(" ")}: ${node.failureSummary.replace(/\s+/g, " ")}`));
}

describe("accessibility", { skip: existsSync(chromiumPath) ? false : "no Chromium" }, () => {
  const pages = fakeAppPages();

  async function open({ dongle = true } = {}) {
    const { app, page } = await pages.open((fake) => {
      fake.dongle = dongle;
    });
    await page.waitForFunction(() => document.getElementById("fwAppUpdate") !== null);
    if (dongle) await page.waitForFunction(() => !document.getElementById("settingsCard").hidden);
    return { app, page };
  }

  // Publishes `state` and waits until `text` shows in `scope`.
  async function show(app, page, [, state, scope, text]) {
    app.publish(state);
    await page.locator(scope).getByText(text, { exact: true }).waitFor();
  }

  test("every tab, light and dark", async () => {
    const { page } = await open();
    // A lit choice in each segmented control: its text sits on the accent.
    await page.click("#idleChoices label:first-child");
    const found = [];
    for (const scheme of SCHEMES) {
      await page.emulateMedia({ colorScheme: scheme });
      for (const tab of TABS) {
        await page.click(`#tabbtn-${tab}`);
        await page.waitForFunction((name) => !document.getElementById(`tab-${name}`).hidden, tab);
        found.push(...(await violations(page)).map((line) => `${scheme} ${tab}: ${line}`));
      }
    }
    assert.deepEqual(found, []);
    await page.close();
  });

  const job = (fields) => ({ job: fields });
  const CARD = "#fwProgress";
  // [name, state, where it shows, a text it shows]
  const FIRMWARE_STATES = [
    ["downloading", job({ active: true, action: "update", phase: "download", pct: 40,
      msg: "Downloading firmware\u2026 40%", cancellable: true }), CARD, "Downloading firmware\u2026 40%"],
    ["waiting for the button", job({ active: true, action: "repair", phase: "button", pct: 10, needsUser: true,
      cancellable: true, msg: "Triple-click the button on your dongle.", detail: "It didn't switch over." }),
    CARD, "Triple-click the button on your dongle."],
    ["done", job({ result: "ok", action: "update", msg: "Firmware 0.9.4 is on." }), CARD, "Firmware 0.9.4 is on."],
    ["failed", job({ result: "failed", action: "update", error: "The board stopped answering.", tech: "write 0x10" }),
      CARD, "For support: write 0x10"],
    ["refused", job({ result: "failed", refused: true, action: "install", error: "This board runs blink." }),
      CARD, "This board runs blink."],
    ["a board in update mode", { boot: { present: true, usb: true, read: 1, ours: true },
      advice: { kind: "restart", primary: "restart", text: "Your dongle waits in update mode." } },
    CARD, "Your dongle waits in update mode."],
    ["an offer in the Update tab", { running: { present: true, canSwitch: true, version: "0.9.2" },
      advice: { kind: "update", primary: "update", text: "Version 0.9.3 is ready." },
      fw: { notes: "Steadier audio.", online: { state: "ok", ago: 30 } } }, "#fwAppUpdate", "Version 0.9.3 is ready."],
  ];
  const BOARD = FIRMWARE_STATES.find(([name]) => name === "a board in update mode");

  test("the firmware screens, light and dark", async () => {
    const { app, page } = await open();
    await page.click("#tabbtn-update");
    const found = [];
    for (const scheme of SCHEMES) {
      await page.emulateMedia({ colorScheme: scheme });
      for (const entry of FIRMWARE_STATES) {
        await show(app, page, entry);
        found.push(...(await violations(page)).map((line) => `${scheme} ${entry[0]}: ${line}`));
      }
      // A question over the page.
      await show(app, page, BOARD);
      await page.locator(CARD).getByRole("button", { name: "Repair" }).click();
      await page.waitForFunction(() => document.getElementById("confirmDialog").open);
      found.push(...(await violations(page)).map((line) => `${scheme} question: ${line}`));
      await page.keyboard.press("Escape");
      await page.waitForFunction(() => !document.getElementById("confirmDialog").open);
    }
    assert.deepEqual(found, []);
    await page.close();
  });

  test("no dongle, and the page after the app restarted, light and dark", async () => {
    const { app, page } = await open({ dongle: false });
    await page.waitForFunction(() => !document.getElementById("fwHelp").hidden);
    const found = [];
    for (const scheme of SCHEMES) {
      await page.emulateMedia({ colorScheme: scheme });
      found.push(...(await violations(page)).map((line) => `${scheme} no dongle: ${line}`));
    }
    app.restart();
    await page.waitForFunction(() => /restarted/.test(document.getElementById("stageHeadline").textContent));
    for (const scheme of SCHEMES) {
      await page.emulateMedia({ colorScheme: scheme });
      found.push(...(await violations(page)).map((line) => `${scheme} restarted: ${line}`));
    }
    assert.deepEqual(found, []);
    await page.close();
  });
});
