// The firmware screens against the Linux app on the simulated world: the real job, the real
// board and dongle, driven from the page as a person would. The board's modelled time is real
// time here, so the waits are generous but bounded.
import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";

import { launchBrowser, missingPrerequisite, startListeningApp } from "./harness.mjs";

const skip = missingPrerequisite();

function until(page, predicate, arg, timeout = 15000) {
  return page.waitForFunction(predicate, arg, { timeout, polling: 100 });
}

const cardTitleIs = (page, title, timeout) =>
  until(page, (want) => {
    const card = document.getElementById("fwProgress");
    return !card.hidden && card.querySelector(".fw-title")?.textContent === want;
  }, title, timeout);

const cardButtons = (page) =>
  page.evaluate(() => Array.from(document.querySelectorAll("#fwProgress .fw-buttons button"))
    .map((b) => b.textContent));

describe("firmware screens on the Linux app", { skip: skip || false }, () => {
  let browser;
  let app = null;

  before(async () => {
    browser = await launchBrowser();
  });
  after(async () => {
    if (app) await app.stop();
    if (browser) await browser.close();
  });

  // A fresh app per test: a job left running must not hold up the next one.
  async function session() {
    if (app) await app.stop();
    app = await startListeningApp();
    const page = await browser.context.newPage();
    const starts = [];
    page.on("request", (request) => {
      if (new URL(request.url()).pathname === "/api/fw/start") {
        const fields = Object.fromEntries(new URLSearchParams(request.postData() || ""));
        starts.push({ action: fields.action, confirm: fields.confirm });
      }
    });
    await page.goto(app.address);
    await until(page, () => document.getElementById("fwAppUpdate") !== null);
    return { page, starts };
  }

  async function answerDialog(page, title, yes) {
    await until(page, (want) => {
      const dialog = document.getElementById("confirmDialog");
      return dialog.open && document.getElementById("confirmTitle")?.textContent === want;
    }, title, 5000);
    await page.click(yes ? "#confirmDialog button.primary" : "#confirmDialog button:not(.primary)");
  }

  test("a refused foreign board is replaced once the person agrees", async () => {
    const { page, starts } = await session();
    app.send("board foreign blink");
    await cardTitleIs(page, "A board is in update mode");
    assert.deepEqual(await cardButtons(page), ["Install 0.9.3"]);
    // Started without the confirmation (as the tray would): the job leaves the board alone.
    app.send("fw start install");
    await cardTitleIs(page, "Nothing was changed");
    assert.equal(await page.textContent("#fwProgress .fw-msg"),
      "This board runs \u201cblink\u201d, not Tarnwick firmware, so this app left it alone.");
    assert.deepEqual(await cardButtons(page), ["Replace it\u2026", "Close"]);
    await page.getByRole("button", { name: "Replace it\u2026" }).click();
    await answerDialog(page, "Replace what\u2019s on this board?", true);
    await cardTitleIs(page, "Installing firmware");
    assert.deepEqual(starts, [{ action: "install", confirm: "1" }]);
    // Past the board check this time: it is being written.
    await until(page, () => {
      const fill = document.querySelector("#fwProgress .fw-fill");
      return fill && parseFloat(fill.style.width) >= 15;
    }, null, 30000);
    await page.close();
  });

  test("the button wait is a callout, and Cancel ends it", async () => {
    const { page, starts } = await session();
    app.send("unplug");
    await until(page, () => !document.getElementById("fwHelp").hidden);
    await page.click("#fwHelp summary");
    await page.locator("#fwHelp").getByRole("button", { name: "Repair" }).click();
    await answerDialog(page, "Repair the dongle?", true);
    await until(page, () => {
      const callout = document.querySelector("#fwProgress .fw-callout");
      return callout && !callout.hidden &&
        callout.querySelector("strong").textContent === "Triple-click the button on your dongle.";
    }, null, 20000);
    assert.equal(await page.textContent("#fwProgress .fw-title"), "Repairing the dongle");
    assert.equal(await page.isHidden("#fwProgress .fw-bar"), true);
    assert.deepEqual(starts, [{ action: "repair", confirm: "0" }]);
    await page.getByRole("button", { name: "Cancel" }).click();
    await cardTitleIs(page, "Cancelled");
    assert.equal(await page.textContent("#fwProgress .fw-msg"), "Cancelled. Nothing was changed.");
    await page.getByRole("button", { name: "OK" }).click();
    await until(page, () => document.getElementById("fwProgress").hidden);
    await until(page, () => !document.getElementById("fwHelp").hidden);
    await page.close();
  });

  test("Restart it goes at once, and the page follows the dongle back", async () => {
    const { page, starts } = await session();
    await until(page, () => window.TarnwickPanel.isAttached());
    app.send("press");
    await cardTitleIs(page, "Your dongle is in update mode", 20000);
    await until(page, () => document.querySelectorAll("#fwProgress .fw-buttons button").length === 2);
    assert.deepEqual(await cardButtons(page), ["Restart it", "Repair"]);
    await page.getByRole("button", { name: "Restart it" }).click();
    await cardTitleIs(page, "Restarted", 30000);
    assert.deepEqual(starts, [{ action: "restart", confirm: "0" }]);
    assert.equal(await page.evaluate(() => document.getElementById("confirmDialog").open), false);
    assert.equal(await page.textContent("#fwProgress .fw-msg"), "Restarted on 0.9.3.");
    // Back and attached without a click, then the result goes by itself.
    await until(page, () => window.TarnwickPanel.isAttached(), null, 20000);
    await until(page, () => document.getElementById("fwProgress").hidden, null, 20000);
    await page.close();
  });

  test("a failure gives its support line", async () => {
    const { page } = await session();
    app.send("board usb-only");
    await cardTitleIs(page, "Your dongle is in update mode");
    app.send("board busy");
    // A board nobody could read is written only when the person agreed, as the page asks.
    app.send("fw start install confirm");
    await cardTitleIs(page, "That didn\u2019t finish", 20000);
    assert.equal(await page.textContent("#fwProgress .fw-msg"),
      "Another program is using the dongle's update connection, so nothing was changed. Close it " +
      "and press Try again.");
    assert.match(await page.textContent("#fwProgress .fw-support"),
      /^For support: couldn't open the dongle's update interface/);
    assert.match(await page.textContent("#fwProgress .fw-advice"), /^Nothing is broken/);
    assert.deepEqual(await cardButtons(page), ["Try again", "Close"]);
    await page.getByRole("button", { name: "Close" }).click();
    await cardTitleIs(page, "Your dongle is in update mode");
    await page.close();
  });

  test("an update from the page, through every phase and back", { timeout: 150000 }, async () => {
    const { page, starts } = await session();
    await until(page, () => window.TarnwickPanel.isAttached());
    app.send("publish 0.9.4");
    await app.waitForLine(/^\[update host\] published 0\.9\.4/);
    await page.click("#tabs [data-tab='update']");
    await page.click("#fwCheck");
    await page.getByRole("button", { name: "Install it" }).waitFor({ timeout: 15000 });
    // What the person saw: each phase of the documents and each look of the card.
    await page.evaluate(() => {
      window.seen = { phases: [], cards: [] };
      const note = (list, item) => {
        if (list[list.length - 1] !== item) list.push(item);
      };
      window.TarnwickApp.events("/api/fw/events", (d) => note(window.seen.phases, d.job.phase));
      setInterval(() => {
        const card = document.getElementById("fwProgress");
        if (card.hidden) return note(window.seen.cards, "hidden");
        const bar = card.querySelector(".fw-bar");
        note(window.seen.cards, card.querySelector(".fw-title").textContent + (bar.hidden ? "" : " (bar)"));
      }, 50);
    });
    await page.getByRole("button", { name: "Install it" }).click();
    await cardTitleIs(page, "Done", 120000);
    assert.deepEqual(starts, [{ action: "update", confirm: "0" }]);
    assert.equal(await page.textContent("#fwProgress .fw-msg"), "Firmware 0.9.4 is on.");
    await until(page, () => document.getElementById("fwPill").textContent === "firmware 0.9.4", null, 30000);
    await until(page, () => document.getElementById("fwProgress").hidden, null, 20000);
    const seen = await page.evaluate(() => window.seen);
    // The stream sends the state every 120 ms at most, so a phase shorter than that (preparing,
    // a download from a near host, the board check, the restart command) may go by unseen; the
    // long ones must all show, in order.
    const inOrder = ["prepare", "download", "enter", "inspect", "write", "verify", "restart", "reconnect", "done"];
    const mustShow = ["enter", "write", "verify", "reconnect", "done"];
    const positions = inOrder.map((phase) => seen.phases.indexOf(phase)).filter((at) => at >= 0);
    assert.ok(mustShow.every((phase) => seen.phases.includes(phase)) &&
      positions.every((at, i) => i === 0 || at > positions[i - 1]), `phases seen: ${seen.phases.join(", ")}`);
    assert.deepEqual(seen.cards.filter((c) => c !== "hidden" && !c.startsWith("Updating firmware")), ["Done"],
      `cards seen: ${seen.cards.join(", ")}`);
    assert.ok(seen.cards.includes("Updating firmware (bar)"), `cards seen: ${seen.cards.join(", ")}`);
    await page.close();
  });
});
