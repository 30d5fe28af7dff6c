// The panel's own files served from assets/panel/ with the app's bridge swapped for the scriptable
// WebHID of fake_hid.js (and without the firmware screens), on the browser's fake clock.
import assert from "node:assert/strict";
import { existsSync, readFileSync } from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const assets = path.resolve(here, "..", "..", "assets", "panel");
const ORIGIN = "http://panel.test";

function pageSource(options) {
  const html = readFileSync(path.join(assets, "page.html"), "utf8");
  const withFake = html
    .replace(/<script src="[^"]*(bridge)[^"]*"><\/script>/,
      `<script>window.fakeHidOptions = ${JSON.stringify(options)};</script>` +
      `<script src="fake_hid.js"></script>`)
    .replace(/<script src="firmware\.js"><\/script>/, "");
  assert.notEqual(withFake, html, "page.html no longer loads a bridge script the test can replace");
  return withFake;
}

// A new page of `browser` showing the panel on a fake dongle described by `options` (see
// fake_hid.js); `init` runs in the page before any of its scripts.
export async function openPanel(browser, options = {}, init = null) {
  const page = await browser.context.newPage();
  await page.route(`${ORIGIN}/**`, (route) => {
    const name = new URL(route.request().url()).pathname.slice(1);
    if (name === "" || name === "page.html") {
      return route.fulfill({ contentType: "text/html", body: pageSource(options) });
    }
    const file = name === "fake_hid.js" ? path.join(here, name) : path.join(assets, name);
    if (!/^[\w.]+$/.test(name) || !existsSync(file)) return route.fulfill({ status: 404 });
    return route.fulfill({
      contentType: name.endsWith(".css") ? "text/css" : "text/javascript",
      body: readFileSync(file),
    });
  });
  if (init) await page.addInitScript(init);
  // Time stands still but for runFor: the page's own timers fire only when a test says so.
  await page.clock.install({ time: 1_000_000 });
  await page.clock.pauseAt(1_001_000);
  await page.goto(`${ORIGIN}/`);
  return page;
}

export const text = (page, id) => page.evaluate((id) => document.getElementById(id).textContent, id);

export async function attached(page) {
  await page.waitForFunction(() => window.TarnwickPanel && window.TarnwickPanel.isAttached());
}
