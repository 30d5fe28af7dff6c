// The firmware screens of the served page against a stand-in for the app (fake_app.mjs): what
// each state document shows, what each button posts after which questions, how refusals and
// silence are told, and the page's own timers on the browser's fake clock.
import assert from "node:assert/strict";
import { existsSync, mkdirSync } from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { describe, test } from "node:test";

import { fakeAppPages, holdClock } from "./fake_app_pages.mjs";
import { chromiumPath, waitUntil } from "./harness.mjs";

const shots = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..", "..", "build", "screenshots");

const NOTHING_BROKEN =
  "Nothing is broken \u2014 a Bridge can always be brought back. Unplug it, hold its button, plug it " +
  "back in, then press Try again.";

const job = (fields) => ({ job: fields });
const board = (boot, advice, rest = {}) => ({ boot: { present: true, usb: true, read: 1, ...boot }, advice, ...rest });

// What the firmware card shows, in plain values.
async function cardOf(page) {
  return page.evaluate(() => {
    const card = document.getElementById("fwProgress");
    if (card.hidden) return null;
    const shown = (selector) => {
      const node = card.querySelector(selector);
      return node && !node.hidden ? node.textContent : null;
    };
    const bar = card.querySelector(".fw-bar");
    const callout = card.querySelector(".fw-callout");
    return {
      title: shown(".fw-title"),
      msg: shown(".fw-msg"),
      detail: shown(".fw-detail"),
      callout: callout && !callout.hidden ? [shown(".fw-callout strong"), shown(".fw-callout span")] : null,
      support: shown(".fw-support"),
      advice: shown(".fw-advice"),
      bar: bar && !bar.hidden ? card.querySelector(".fw-fill").style.width : null,
      buttons: Array.from(card.querySelectorAll(".fw-buttons button")).map((b) => b.textContent),
    };
  });
}

// Waits for `predicate` in the page. Polls on a timer: under the fake clock, animation frames
// (Playwright's default) come only as fast as the clock is moved.
function until(page, predicate, arg) {
  return page.waitForFunction(predicate, arg, { timeout: 5000, polling: 50 });
}

describe("firmware screens", { skip: existsSync(chromiumPath) ? false : "no Chromium" }, () => {
  const pages = fakeAppPages();

  // A page on a fresh fake app, with the fake clock installed; `dongle` false starts unplugged.
  async function open({ dongle = true, state = {} } = {}) {
    const { app, page } = await pages.open((fake) => {
      fake.dongle = dongle;
      fake.publish(state);
    }, { fakeClock: true });
    await until(page, () => document.getElementById("fwAppUpdate") !== null);
    if (dongle) await until(page, () => window.TarnwickPanel.isAttached());
    await holdClock(page);
    return { app, page };
  }

  test("each document draws its card", async () => {
    const { app, page } = await open({ dongle: false });
    const cases = [
      ["nothing going on", {}, null],
      ["a queued request", job({ queued: true, action: "update", msg: "Starting\u2026", cancellable: true }),
        { title: "Updating firmware", msg: "Starting\u2026", bar: "2%", buttons: ["Cancel"] }],
      ["preparing hides the bar", job({ active: true, action: "install", phase: "prepare", pct: 1,
        msg: "Getting the firmware ready\u2026", cancellable: true }),
        { title: "Installing firmware", msg: "Getting the firmware ready\u2026", bar: null, buttons: ["Cancel"] }],
      ["downloading", job({ active: true, action: "reinstall", phase: "download", pct: 6,
        msg: "Downloading firmware\u2026 50%", cancellable: true }),
        { title: "Reinstalling firmware", msg: "Downloading firmware\u2026 50%", bar: "6%", buttons: ["Cancel"] }],
      ["the button wait is a callout without a bar", job({ active: true, action: "repair", phase: "button",
        pct: 10, needsUser: true, cancellable: true, msg: "Triple-click the button on your dongle.",
        detail: "It didn't switch over on its own." }),
        { title: "Repairing the dongle", msg: null, detail: null, bar: null, buttons: ["Cancel"],
          callout: ["Triple-click the button on your dongle.", "It didn't switch over on its own."] }],
      ["writing cannot be cancelled; the bar stops at 100 %", job({ active: true, action: "update",
        phase: "write", pct: 140, msg: "Writing\u2026" }),
        { title: "Updating firmware", msg: "Writing\u2026", bar: "100%", buttons: [] }],
      ["waiting for the dongle", job({ active: true, action: "restart", phase: "reconnect", pct: 97,
        cancellable: true, msg: "Waiting for the dongle. Turn your controller on (PS button)." }),
        { title: "Restarting the dongle", bar: "97%", buttons: ["Stop waiting"] }],
      ["an install that ended well", job({ result: "ok", phase: "done", action: "update", pct: 100,
        msg: "Firmware 0.9.4 is on.", detail: "Turn your controller on and the Bridge will pick it up." }),
        { title: "Done", msg: "Firmware 0.9.4 is on.",
          detail: "Turn your controller on and the Bridge will pick it up.", bar: null, buttons: ["OK"] }],
      ["an update that only restarted", job({ result: "ok", phase: "done", action: "update", pct: 100,
        msg: "Restarted on 0.9.3." }), { title: "Restarted", msg: "Restarted on 0.9.3.", buttons: ["OK"] }],
      ["cancelled", job({ result: "cancelled", phase: "done", action: "install",
        msg: "Cancelled. Nothing was changed." }),
        { title: "Cancelled", msg: "Cancelled. Nothing was changed.", buttons: ["OK"] }],
      ["an automatic install skipped", job({ result: "cancelled", automatic: true, phase: "done",
        action: "update", msg: "Cancelled. Nothing was changed." }), { title: "Install skipped", buttons: ["OK"] }],
      ["refused", job({ result: "failed", refused: true, phase: "done", action: "install",
        error: "This board runs \u201cblink\u201d, not Tarnwick firmware, so this app left it alone.",
        msg: "This board runs \u201cblink\u201d, not Tarnwick firmware, so this app left it alone." }),
        { title: "Nothing was changed", support: null, advice: null, buttons: ["Replace it\u2026", "Close"],
          msg: "This board runs \u201cblink\u201d, not Tarnwick firmware, so this app left it alone." }],
      ["failed, with a support line", job({ result: "failed", phase: "done", action: "update", pct: 40,
        error: "Writing stopped halfway.", msg: "Writing stopped halfway.", tech: "write 0x10004000: timeout",
        detail: "old instructions" }),
        { title: "That didn\u2019t finish", msg: "Writing stopped halfway.", detail: null, bar: null,
          support: "For support: write 0x10004000: timeout", advice: NOTHING_BROKEN,
          buttons: ["Try again", "Close"] }],
      ["failed, nothing technical", job({ result: "failed", phase: "done", action: "update",
        error: "Something went wrong.", msg: "Something went wrong." }),
        { title: "That didn\u2019t finish", support: null, advice: NOTHING_BROKEN }],
      ["a foreign board", board({ program: "blink" }, { kind: "replace", primary: "install", confirm: true,
        text: "It\u2019s running something else (\u201cblink\u201d). Installing Tarnwick Bridge 0.9.3 replaces it." }),
        { title: "A board is in update mode", buttons: ["Install 0.9.3"],
          msg: "It\u2019s running something else (\u201cblink\u201d). Installing Tarnwick Bridge 0.9.3 replaces it." }],
      ["our board, current", board({ ours: true, version: "0.9.3", program: "korrinlink" },
        { kind: "restart", primary: "restart", text: "It already has 0.9.3, the newest release." }),
        { title: "Your dongle is in update mode", buttons: ["Restart it", "Repair"] }],
      ["our board, behind", board({ ours: true, version: "0.9.1" }, { kind: "update", primary: "update",
        text: "It has firmware 0.9.1. Version 0.9.4 is ready to install." }, { fw: { target: "0.9.4" } }),
        { title: "Your dongle is in update mode", buttons: ["Install 0.9.4", "Repair"] }],
      ["a blank board", board({ blank: true }, { kind: "install", primary: "install",
        text: "It has no firmware yet. Install 0.9.3 to make it a Tarnwick Bridge." }),
        { title: "Your dongle is in update mode", buttons: ["Install 0.9.3"] }],
      ["an unreadable board tells why", board({ read: -1, why: "no answer" }, { kind: "unknown",
        primary: "install", confirm: true, text: "This app couldn\u2019t read what\u2019s on it." }),
        { detail: "no answer", buttons: ["Install 0.9.3"] }],
      ...["reading", "inuse", "nofw"].map((kind) => [`a board, ${kind}: no buttons`,
        board({ read: kind === "reading" ? 0 : 1, ours: true }, { kind, primary: "", text: "A sentence." }),
        { title: "Your dongle is in update mode", msg: "A sentence.", buttons: [] }]),
      ["another flashing tool", board({ ours: true }, { kind: "station", primary: "", text: "Another tool." },
        { station: true }), { msg: "Another tool.", buttons: [] }],
      ["board texts are text", board({ program: "<img src=x onerror=window.hit=1>" }, { kind: "replace",
        primary: "install", confirm: true, text: "It\u2019s running something else (\u201c<img src=x onerror=window.hit=1>\u201d)." }),
        { msg: "It\u2019s running something else (\u201c<img src=x onerror=window.hit=1>\u201d)." }],
    ];
    for (const [name, state, want] of cases) {
      app.publish(state);
      const got = await waitUntil(async () => {
        const card = await cardOf(page);
        if (want === null) return card === null ? "hidden" : null;
        return card && Object.keys(want).every((key) => JSON.stringify(card[key]) === JSON.stringify(want[key]))
          ? card : null;
      }, 3000, 20);
      if (!got) assert.fail(`${name}: want ${JSON.stringify(want)}, have ${JSON.stringify(await cardOf(page))}`);
    }
    assert.equal(await page.locator("#fwProgress img").count(), 0);
    assert.equal(await page.evaluate(() => window.hit), undefined);
    // The card is no live region (its percent is no news), and the bar is a labelled progress bar.
    assert.equal(await page.locator("#fwProgress [aria-live]").count(), 0);
    assert.equal(await page.getAttribute("#fwProgress .fw-bar", "role"), "progressbar");
    await page.close();
  });

  // Clicks `label` inside `scope`, answers the dialogs in turn and returns the firmware calls
  // the page made.
  async function press(app, page, scope, label, dialogs) {
    await countPosts(page);
    const before = app.calls.length;
    await page.locator(scope).getByRole("button", { name: label, exact: true }).click();
    for (const [title, answer] of dialogs) {
      await until(page, (want) => {
        const dialog = document.getElementById("confirmDialog");
        return dialog.open && document.getElementById(dialog.getAttribute("aria-labelledby"))
          ?.textContent === want;
      }, title);
      if (answer === "yes") await page.click("#confirmDialog button.primary");
      else if (answer === "no") await page.click("#confirmDialog button:not(.primary)");
      else if (answer === "escape") await page.keyboard.press("Escape");
      else await page.keyboard.press(answer); // keys from the focused Cancel button
    }
    await postsAnswered(page);
    assert.equal(await page.evaluate(() => document.getElementById("confirmDialog").open), false,
      `${label}: a dialog is still open`);
    return app.calls.slice(before);
  }

  // Counts the firmware calls the page starts and the answers it gets, from now on. A page's
  // call has reached the app once its answer is back, so waiting for the two counts to agree
  // replaces a guess at how long a call takes.
  async function countPosts(page) {
    await page.evaluate(() => {
      if (window.__posts) return;
      const post = window.TarnwickApp.post;
      window.__posts = { started: 0, answered: 0 };
      window.TarnwickApp.post = (...args) => {
        window.__posts.started += 1;
        return post(...args).finally(() => { window.__posts.answered += 1; });
      };
    });
  }

  function postsAnswered(page) {
    return until(page, () => window.__posts.started === window.__posts.answered);
  }

  const start = (action, confirm) => [{ path: "/api/fw/start", fields: { action, confirm: String(confirm) } }];
  const foreign = board({ program: "blink" }, { kind: "replace", primary: "install", confirm: true, text: "x" });
  const oursAhead = board({ ours: true, version: "1.0.0" }, { kind: "restart", primary: "restart", ahead: true,
    text: "x" });

  test("buttons post what they name, after their questions", async () => {
    const { app, page } = await open({ dongle: false });
    const cases = [
      ["Restart it goes at once", oursAhead, "#fwProgress", "Restart it", [], start("restart", 0)],
      ["replacing a foreign board", foreign, "#fwProgress", "Install 0.9.3",
        [["Replace what\u2019s on this board?", "yes"]], start("install", 1)],
      ["declining to replace", foreign, "#fwProgress", "Install 0.9.3",
        [["Replace what\u2019s on this board?", "no"]], []],
      ["Escape declines", foreign, "#fwProgress", "Install 0.9.3",
        [["Replace what\u2019s on this board?", "escape"]], []],
      ["the keyboard can agree", foreign, "#fwProgress", "Install 0.9.3",
        [["Replace what\u2019s on this board?", "Tab"], ["Replace what\u2019s on this board?", "Enter"]],
        start("install", 1)],
      ["repair going back", oursAhead, "#fwProgress", "Repair",
        [["Repair the dongle?", "yes"], ["Go back to 0.9.3?", "yes"]], start("repair", 0)],
      ["repair, but not going back", oursAhead, "#fwProgress", "Repair",
        [["Repair the dongle?", "yes"], ["Go back to 0.9.3?", "no"]], []],
      ["a blank board is written without asking", board({ blank: true }, { kind: "install", primary: "install",
        text: "x" }), "#fwProgress", "Install 0.9.3", [], start("install", 0)],
      ["Replace it\u2026 after a refusal", { ...foreign, ...job({ result: "failed", refused: true,
        action: "update", error: "left alone" }) }, "#fwProgress", "Replace it\u2026",
        [["Replace what\u2019s on this board?", "yes"]], start("update", 1)],
      ["Replace it\u2026 when the board has gone", job({ result: "failed", refused: true, action: "install",
        error: "left alone" }), "#fwProgress", "Replace it\u2026", [], start("install", 0)],
      ["Try again", job({ result: "failed", action: "update", error: "e" }), "#fwProgress", "Try again", [],
        start("update", 0)],
      ["Cancel", job({ active: true, action: "update", phase: "button", needsUser: true, cancellable: true }),
        "#fwProgress", "Cancel", [], [{ path: "/api/fw/cancel", fields: {} }]],
      ["Stop waiting", job({ active: true, action: "update", phase: "reconnect", cancellable: true }),
        "#fwProgress", "Stop waiting", [], [{ path: "/api/fw/cancel", fields: {} }]],
      ["OK", job({ result: "ok", action: "update", msg: "Firmware 0.9.4 is on." }), "#fwProgress", "OK", [],
        [{ path: "/api/fw/dismiss", fields: {} }]],
      ["Close", job({ result: "failed", action: "update", error: "e" }), "#fwProgress", "Close", [],
        [{ path: "/api/fw/dismiss", fields: {} }]],
      ["the help card repairs", {}, "#fwHelp", "Repair", [["Repair the dongle?", "yes"]], start("repair", 0)],
    ];
    for (const [name, state, scope, label, dialogs, want] of cases) {
      app.publish(state);
      await page.locator(scope).getByRole("button", { name: label, exact: true })
        .or(page.locator(scope).locator("summary")).first().waitFor({ timeout: 3000 });
      if (scope === "#fwHelp" && !(await page.evaluate(() => document.querySelector("#fwHelp details").open))) {
        await page.click("#fwHelp summary");
      }
      const calls = await press(app, page, scope, label, dialogs);
      assert.deepEqual(calls, want, name);
    }
    // The dialog is labelled by its question and described by its sentence.
    app.publish(foreign);
    await page.getByRole("button", { name: "Install 0.9.3" }).click();
    const dialog = page.getByRole("dialog", { name: "Replace what\u2019s on this board?" });
    await dialog.waitFor();
    assert.match(await page.textContent("#confirmText"), /\u201cblink\u201d/);
    await page.keyboard.press("Escape");
    await page.close();
  });

  test("install buttons rest while a job runs or another tool is at work", async () => {
    const { app, page } = await open({ dongle: true });
    await page.click("#tabs [data-tab='update']");
    const disabled = (scope, name) =>
      page.locator(scope).getByRole("button", { name, exact: true }).isDisabled();
    const current = { running: { present: true, canSwitch: true, version: "0.9.3" },
      advice: { kind: "current", primary: "", text: "You have 0.9.3, the newest release." } };
    app.publish(current);
    await page.getByRole("button", { name: "Reinstall 0.9.3" }).waitFor();
    assert.equal(await disabled("#tab-update", "Repair"), false);
    app.publish({ ...current, ...job({ queued: true, action: "repair", msg: "Starting\u2026", cancellable: true }) });
    await until(page, () => !document.getElementById("fwProgress").hidden);
    assert.equal(await disabled("#tab-update", "Repair"), true);
    assert.equal(await disabled("#tab-update", "Reinstall 0.9.3"), true);
    app.publish({ ...current, station: true });
    await until(page, () => document.getElementById("fwProgress").hidden);
    assert.equal(await disabled("#tab-update", "Repair"), true);
    app.publish({ station: true, ...job({ result: "failed", refused: true, action: "install", error: "e" }) });
    await page.getByRole("button", { name: "Replace it\u2026" }).waitFor();
    assert.equal(await disabled("#fwProgress", "Replace it\u2026"), true);
    await page.close();
  });

  test("the Update tab offers the app's own controls", async () => {
    const { app, page } = await open({ dongle: true });
    await page.click("#tabs [data-tab='update']");
    app.publish({ running: { present: true, canSwitch: false, version: "0.8.5" },
      fw: { target: "0.9.3", notes: "Light bar colours work.", online: { state: "failed", error: "offline" } },
      advice: { kind: "update", primary: "update", text: "Version 0.9.3 is ready. You have 0.8.5." } });
    await page.getByRole("button", { name: "Install it" }).waitFor();
    const tab = await page.locator("#fwAppUpdate").innerText();
    for (const want of ["firmware 0.8.5", "Version 0.9.3 is ready. You have 0.8.5.", "press the dongle\u2019s button",
      "What\u2019s new in 0.9.3", "Light bar colours work.", "Couldn\u2019t check for new firmware: offline"]) {
      assert.ok(tab.includes(want), `${want} is not in: ${tab}`);
    }
    assert.deepEqual(await press(app, page, "#tab-update", "Install it", []), start("update", 0));
    app.publish({ running: { present: true, canSwitch: true, version: "1.0.0" },
      advice: { kind: "ahead", primary: "", ahead: true, text: "You have 1.0.0, newer than the 0.9.3 release." } });
    await page.getByRole("button", { name: "Reinstall 0.9.3" }).waitFor();
    assert.equal(await page.getByRole("button", { name: "Install it" }).count(), 0);
    assert.deepEqual(await press(app, page, "#tab-update", "Reinstall 0.9.3", [["Go back to 0.9.3?", "yes"]]),
      start("reinstall", 0));

    // "Check now" rests for 1.5 s after the answer. The rest starts when the page has the
    // answer, so wait for that, not for a guess at how long the answer takes to arrive.
    await countPosts(page);
    const started = await page.evaluate(() => window.__posts.started);
    await page.click("#fwCheck");
    await until(page, (before) => window.__posts.started > before, started);
    await postsAnswered(page);
    assert.equal(app.callsTo("/api/fw/check").length, 1);
    await page.clock.runFor(1450);
    assert.equal(await page.isDisabled("#fwCheck"), true);
    await page.clock.runFor(100);
    assert.equal(await page.isDisabled("#fwCheck"), false);

    // The panel's web update steps stay hidden, whenever the panel puts them there.
    await page.evaluate(() => {
      const steps = document.createElement("div");
      steps.textContent = "Download the UF2 file";
      document.getElementById("tab-update").replaceChildren(steps);
    });
    await page.clock.runFor(10);
    assert.equal(await page.evaluate(() => document.getElementById("fwAppUpdate")?.parentNode?.id), "tab-update");
    assert.equal(await page.locator("#tab-update").getByText("Download the UF2 file").isVisible(), false);
    assert.equal(await page.isVisible("#fwAppUpdate"), true);
    await page.close();
  });

  test("refusals and silence are told in a toast", async () => {
    const { app, page } = await open({ dongle: false, state: oursAhead });
    const cases = [
      [{ status: 409, body: { ok: false, error: "The dongle is already being worked on." } },
        "The dongle is already being worked on."],
      [{ status: 200, body: { ok: false } }, "That couldn\u2019t start."],
      ["drop", "The app didn\u2019t answer. Is it still running?"],
    ];
    for (const [answer, want] of cases) {
      if (answer === "drop") app.silent = true;
      else app.answerNext("/api/fw/start", answer);
      await page.getByRole("button", { name: "Restart it" }).click();
      await until(page, (w) => {
        const toast = document.getElementById("toast");
        return !toast.hidden && toast.textContent === w;
      }, want);
      await page.clock.runFor(3150);
      assert.equal(await page.isHidden("#toast"), false);
      await page.clock.runFor(100);
      assert.equal(await page.isHidden("#toast"), true);
    }
    await page.close();
  });

  test("a success is dismissed 12 s after the dongle is back", async () => {
    const { app, page } = await open({ dongle: true });
    // A dismiss that a timer started has had its answer before the counts below are read.
    await countPosts(page);
    app.publish(job({ result: "ok", action: "update", msg: "Firmware 0.9.4 is on." }));
    await until(page, () => !document.getElementById("fwProgress").hidden);
    await page.clock.runFor(11950);
    await postsAnswered(page);
    assert.equal(app.callsTo("/api/fw/dismiss").length, 0);
    await page.clock.runFor(100);
    await waitUntil(() => app.callsTo("/api/fw/dismiss").length === 1, 3000);

    // Not while the dongle is away; the wait starts when it is attached again.
    app.dongle = false;
    await page.clock.runFor(1000);
    await until(page, () => !window.TarnwickPanel.isAttached());
    app.publish(job({ result: "ok", action: "restart", msg: "Restarted on 0.9.3." }));
    await until(page, () => !document.getElementById("fwProgress").hidden);
    await page.clock.runFor(20000);
    await postsAnswered(page);
    assert.equal(app.callsTo("/api/fw/dismiss").length, 1);
    app.dongle = true;
    await page.clock.runFor(1000);
    await until(page, () => window.TarnwickPanel.isAttached());
    await page.clock.runFor(11950);
    await postsAnswered(page);
    assert.equal(app.callsTo("/api/fw/dismiss").length, 1);
    await page.clock.runFor(100);
    await waitUntil(() => app.callsTo("/api/fw/dismiss").length === 2, 3000);
    assert.equal(app.callsTo("/api/fw/dismiss").length, 2);
    await page.close();
  });

  test("the page attaches again after the dongle went away, at a gentle pace", async () => {
    // After Disconnect the page finds its way back.
    {
      const { page } = await open({ dongle: true });
      await page.click("#disconnectBtn");
      assert.equal(await page.evaluate(() => window.TarnwickPanel.isAttached()), false);
      await page.clock.runFor(2600);
      await until(page, () => window.TarnwickPanel.isAttached());
      await page.close();
    }
    // A dongle that will not open is tried every 2.5 s but never within 6 s of the last try;
    // a connect event lifts that and tries 300 ms later; nothing while a job has the dongle.
    const { app, page } = await open({ dongle: false });
    app.openFails = true;
    await page.evaluate(() => {
      const panel = window.TarnwickPanel;
      const attach = panel.attachAvailable;
      window.attempts = 0;
      window.connects = 0;
      panel.attachAvailable = () => {
        window.attempts++;
        return attach();
      };
      navigator.hid.addEventListener("connect", () => window.connects++);
    });
    const attempts = () => page.evaluate(() => window.attempts);
    const steps = [[2500, 1], [2500, 1], [2500, 1], [2500, 2], [2500, 2]];
    for (const [ms, want] of steps) {
      await page.clock.runFor(ms);
      assert.equal(await attempts(), want, `after ${ms} ms more`);
    }
    app.dongle = true;
    await page.clock.runFor(1000);
    await until(page, () => window.connects === 1);
    const before = await attempts();
    await page.clock.runFor(300);
    assert.equal(await attempts(), before + 1);
    app.publish(job({ active: true, action: "update", phase: "write", pct: 50 }));
    await until(page, () => !document.getElementById("fwProgress").hidden);
    await page.clock.runFor(20000);
    assert.equal(await attempts(), before + 1);
    await page.close();
  });

  test("the help card is there only when nothing is", async () => {
    const { app, page } = await open({ dongle: false });
    const cases = [
      [{}, true],
      [board({ ours: true }, { kind: "reading", text: "Reading what\u2019s on it\u2026" }), false],
      [job({ active: true, action: "repair", phase: "button", needsUser: true }), false],
      [job({ result: "cancelled", action: "repair" }), false],
      [{}, true],
    ];
    for (const [state, shown] of cases) {
      app.publish(state);
      await until(page, (want) => document.getElementById("fwHelp").hidden === !want, shown);
    }
    assert.equal(await page.textContent("#fwHelp summary"), "Dongle not showing up?");
    assert.equal(await page.evaluate(() => document.querySelector("#fwHelp details").open), false);
    app.dongle = true;
    await page.clock.runFor(1000);
    await until(page, () => window.TarnwickPanel.isAttached());
    assert.equal(await page.isHidden("#fwHelp"), true);
    await page.close();
  });

  // Pictures of each state for people to look at (not compared), and the one thing a picture
  // would show at a glance: nothing runs off the side of a phone-sized window.
  test("each state fits from 360 px to desktop, light and dark", async () => {
    mkdirSync(shots, { recursive: true });
    const { app, page } = await open({ dongle: false });
    const states = [
      ["progress", job({ active: true, action: "update", phase: "write", pct: 48,
        msg: "Writing the new firmware\u2026 18 of 40 sectors", detail: "Keep the dongle plugged in." })],
      ["callout", job({ active: true, action: "update", phase: "button", pct: 10, needsUser: true,
        cancellable: true, msg: "Triple-click the button on your dongle.",
        detail: "It didn't switch over on its own. If triple-clicking does nothing either, unplug the " +
          "dongle, hold its button down and plug it back in." })],
      ["done", job({ result: "ok", action: "update", pct: 100, msg: "Firmware 0.9.4 is on." })],
      ["refused", { ...foreign, ...job({ result: "failed", refused: true, action: "install",
        error: "This board runs \u201cblink\u201d, not Tarnwick firmware, so this app left it alone." }) }],
      ["failed", job({ result: "failed", action: "update", error: "Writing didn't take. Nothing is lost.",
        tech: "PICOBOOT WRITE 0x10010000: status 0x0b (transfer failed) after 3 attempts; drive copy: no " +
          "RP2350 drive appeared within 20000 ms" })],
      ["update-mode", board({ program: "a-program-with-a-rather-long-name-that-does-not-wrap-by-itself" },
        { kind: "replace", primary: "install", confirm: true, text: "It\u2019s running something else " +
          "(\u201ca-program-with-a-rather-long-name-that-does-not-wrap-by-itself\u201d). Installing " +
          "Tarnwick Bridge 0.9.3 replaces it." })],
    ];
    for (const [name, state] of states) {
      app.publish(state);
      await until(page, (want) => document.getElementById("fwProgress").dataset.card === want,
        { progress: "progress", callout: "progress", done: "ok", refused: "refused", failed: "failed",
          "update-mode": "board" }[name]);
      for (const [width, height] of [[360, 740], [1280, 800]]) {
        for (const colorScheme of ["light", "dark"]) {
          await page.setViewportSize({ width, height });
          await page.emulateMedia({ colorScheme });
          const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
          assert.ok(overflow <= 0, `${name} at ${width} px runs ${overflow} px off the side`);
          await page.locator("#fwProgress").screenshot({
            path: path.join(shots, `firmware-${name}-${width}-${colorScheme}.png`),
            animations: "disabled",
          });
        }
      }
    }
    await page.close();
  });
});
