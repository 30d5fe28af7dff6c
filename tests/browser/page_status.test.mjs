// What the served page tells about the app behind it (fake_app.mjs stands in for the app), on
// the browser's fake clock: the firmware status line that screen readers hear, the age of the
// last check for new firmware, and the page once the app has restarted under it.
import assert from "node:assert/strict";
import { existsSync } from "node:fs";
import { describe, test } from "node:test";

import { fakeAppPages, holdClock } from "./fake_app_pages.mjs";
import { chromiumPath } from "./harness.mjs";

const job = (fields) => ({ job: { action: "update", cancellable: true, ...fields } });

// Records, from before the page's scripts run, whether the status line is there and every text
// it is given.
function recordStatusLine() {
  document.addEventListener("DOMContentLoaded", () => {
    const line = document.getElementById("fwStatus");
    window.heard = [line ? `[${line.getAttribute("role")}] ${line.textContent}` : "no status line"];
    if (!line) return;
    new MutationObserver(() => window.heard.push(line.textContent))
      .observe(line, { childList: true, characterData: true, subtree: true });
  });
}

// Counts, as they are made, the page's requests and event streams.
function countCalls() {
  window.calls = 0;
  const fetchOf = window.fetch;
  window.fetch = (...args) => {
    window.calls++;
    return fetchOf(...args);
  };
  const Source = window.EventSource;
  window.EventSource = class extends Source {
    constructor(...args) {
      super(...args);
      window.calls++;
    }
  };
}

describe("page status", { skip: existsSync(chromiumPath) ? false : "no Chromium" }, () => {
  const pages = fakeAppPages();

  // A page on a fresh fake app showing `state`; the fake clock stands still once it has drawn it.
  async function open(state, init = null) {
    const { app, page } = await pages.open((fake) => fake.publish(state), { init, fakeClock: true });
    await page.waitForFunction(() => window.TarnwickPanel.isAttached(), null, { polling: 50 });
    await page.waitForFunction(() => document.querySelector("#fwAppUpdate .fw-online")?.textContent,
      null, { polling: 50 });
    await holdClock(page);
    return { app, page };
  }

  // Publishes `state` and waits until the page shows `text` in `selector`.
  async function publish(app, page, state, selector, text) {
    app.publish(state);
    await page.waitForFunction(([selector, text]) =>
      document.querySelector(selector)?.textContent.includes(text), [selector, text], { polling: 50 });
  }

  test("the status line tells each phase and ending once, never a percent", async () => {
    const { app, page } = await open(job({ active: true, phase: "download", pct: 5,
      msg: "Downloading firmware\u2026 10%" }), recordStatusLine);
    const steps = [
      [job({ active: true, phase: "download", pct: 7, msg: "Downloading firmware\u2026 20%" }), "20%"],
      [job({ active: true, phase: "download", pct: 9, msg: "Downloading firmware\u2026 30%" }), "30%"],
      [job({ active: true, phase: "write", pct: 40, msg: "Writing\u2026 0 of 40 sectors", cancellable: false }),
        "0 of 40"],
      [job({ active: true, phase: "write", pct: 60, msg: "Writing\u2026 20 of 40 sectors", cancellable: false }),
        "20 of 40"],
      [job({ active: true, phase: "button", pct: 60, needsUser: true, msg: "Press the dongle\u2019s button.",
        detail: "It did not restart on its own" }), "Press the dongle"],
      [job({ active: true, phase: "reconnect", pct: 97, msg: "Waiting for the dongle." }), "Waiting"],
      [job({ result: "ok", phase: "done", pct: 100, msg: "Firmware 0.9.4 is on.", cancellable: false }), "0.9.4 is on"],
      [{}, null],
      [job({ result: "failed", phase: "done", error: "The board stopped answering.", cancellable: false }),
        "stopped answering"],
    ];
    for (const [state, shown] of steps) {
      if (shown) await publish(app, page, state, "#fwProgress", shown);
      else {
        app.publish(state);
        await page.waitForFunction(() => document.getElementById("fwProgress").hidden, null, { polling: 50 });
      }
    }
    assert.deepEqual(await page.evaluate(() => window.heard), [
      "[status] ",
      "Updating firmware. Downloading firmware\u2026 10%.",
      "Updating firmware. Writing\u2026 0 of 40 sectors.",
      "Updating firmware. Press the dongle\u2019s button. It did not restart on its own.",
      "Updating firmware. Waiting for the dongle.",
      "Done. Firmware 0.9.4 is on.",
      "",
      "That didn\u2019t finish. The board stopped answering.",
    ]);
    await page.close();
  });

  test("the last check's age grows on the page between documents", async () => {
    const checked = (ago) => ({ fw: { online: { state: "ok", ago } } });
    const { app, page } = await open(checked(0));
    const sentence = () => page.evaluate(() => document.querySelector("#fwAppUpdate .fw-online").textContent);
    // [ms the clock jumps on (due timers fire once), the sentence then]
    const ages = [
      [30_000, "Checked for new firmware just now."],
      [45_000, "Checked for new firmware 1 min ago."],
      [45 * 60_000, "Checked for new firmware 46 min ago."],
      [2 * 3600_000, "Checked for new firmware 2 hours ago."],
      [4 * 3600_000, "Checked for new firmware 6 hours ago."],
    ];
    for (const [ms, want] of ages) {
      await page.clock.fastForward(ms);
      assert.equal(await sentence(), want, `after another ${ms} ms`);
    }
    // A new document brings its own age.
    await publish(app, page, checked(3700), "#fwAppUpdate .fw-online", "1 hour ago");
    await publish(app, page, checked(0), "#fwAppUpdate .fw-online", "just now");
    await page.close();
  });

  test("after the app restarted the page says so, lets go and stops calling", async () => {
    const { app, page } = await open({ running: { present: true, canSwitch: true, version: "0.9.3" },
      advice: { kind: "current", primary: "", text: "You have the newest firmware." } }, countCalls);
    await page.click("#tabbtn-update");
    await page.getByRole("button", { name: "Reinstall 0.9.3" }).waitFor();
    app.restart();
    // A change of setting is the first call to meet the new key (the clock holds the next poll).
    await page.click("#tabbtn-controller");
    await page.click("#rateChoices label:first-child");
    await page.waitForFunction(() => /restarted/.test(document.getElementById("stageHeadline").textContent),
      null, { polling: 50 });
    const shown = await page.evaluate(() => ({
      stage: ["stageEyebrow", "stageHeadline", "stageSubline"]
        .map((id) => document.getElementById(id).textContent).join(" | "),
      mascot: document.getElementById("mascot").className,
      enabled: Array.from(document.querySelectorAll("button, input, select"))
        .filter((control) => !control.disabled).map((control) => control.id || control.textContent),
      attached: window.TarnwickPanel.isAttached(),
      cards: ["fwProgress", "fwHelp", "setupSteps"].filter((id) => !document.getElementById(id).hidden),
    }));
    assert.equal(shown.stage, "Reopen the panel | The app restarted. | This page has lost touch with it. " +
      "Open the control panel again from the Tarnwick Bridge icon in the tray.");
    assert.match(shown.mascot, /s-sleep/);
    assert.deepEqual(shown.enabled, []);
    assert.equal(shown.attached, false);
    assert.deepEqual(shown.cards, []);
    // Not one more call: no polls, no reattaching, no streams, however long the page stays open.
    const calls = await page.evaluate(() => window.calls);
    await page.clock.runFor(60_000);
    assert.equal(await page.evaluate(() => window.calls), calls);
    assert.doesNotMatch(await page.locator("#stage").innerText(), /Steam/);
    await page.close();
  });
});
