// A page from another origin (another local port) must not reach the panel's key, its device list
// or the dongle: the browser refuses to show it the answers, and the app refuses the requests
// that a browser sends anyway.
import assert from "node:assert/strict";
import { createServer } from "node:http";
import { after, before, describe, test } from "node:test";

import { openPage, startListeningApp, missingPrerequisite, waitUntil } from "./harness.mjs";

const skip = missingPrerequisite();

function startOtherOrigin() {
  const server = createServer((request, response) => {
    response.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
    response.end("<!doctype html><title>Somewhere else</title><p>Another site.</p>");
  });
  return new Promise((resolve) => {
    server.listen(0, "127.0.0.1", () => resolve(server));
  });
}

describe("another origin", { skip: skip || false }, () => {
  let app;
  let browser;
  let page;
  let other;
  let otherOrigin;
  let key;

  before(async () => {
    app = await startListeningApp();
    const served = await (await fetch(app.address)).text();
    key = /"([0-9a-f]{32})"/.exec(served)?.[1];
    other = await startOtherOrigin();
    otherOrigin = `http://127.0.0.1:${other.address().port}`;
    ({ browser, page } = await openPage(otherOrigin + "/"));
  });

  after(async () => {
    if (browser) await browser.close();
    if (other) other.close();
    if (app) await app.stop();
  });

  test("cannot read the page, the key or the device list", async (t) => {
    assert.ok(key, "the served page carries a key");
    const results = await page.evaluate(
      async ({ address, key }) => {
        async function attempt(url, init) {
          try {
            const response = await fetch(url, init);
            let body = "";
            try {
              body = await response.text();
            } catch (e) {
              body = "";
            }
            return { status: response.status, type: response.type, body };
          } catch (e) {
            return { refused: String(e) };
          }
        }
        return {
          page: await attempt(address),
          devices: await attempt(address + "api/dev"),
          devicesWithKey: await attempt(address + "api/dev?k=" + key),
          blind: await attempt(address + "api/dev?k=" + key, { mode: "no-cors" }),
          feature: await attempt(address + "api/feature?id=248&k=" + key),
        };
      },
      { address: app.address, key }
    );
    for (const name of ["page", "devices", "devicesWithKey", "feature"]) {
      const result = results[name];
      assert.ok(result.refused || result.status === 403, `${name}: ${JSON.stringify(result)}`);
      assert.ok(!result.body || !result.body.includes(key), `${name} leaked the key`);
    }
    // A no-cors request gives an opaque answer: no status, no body.
    assert.equal(results.blind.type, "opaque");
    assert.equal(results.blind.body, "");
  });

  test("cannot read the panel through a frame", async (t) => {
    const outcome = await page.evaluate(async (address) => {
      const frame = document.createElement("iframe");
      frame.src = address;
      document.body.append(frame);
      await new Promise((resolve) => {
        frame.onload = resolve;
        setTimeout(resolve, 3000);
      });
      try {
        const doc = frame.contentDocument;
        return doc ? "read: " + doc.documentElement.outerHTML.length : "no document";
      } catch (e) {
        return "refused";
      }
    }, app.address);
    assert.ok(outcome === "refused" || outcome === "no document", outcome);
  });

  test("cannot show the panel in a frame at all", async (t) => {
    // Reading a cross-origin frame is refused anyway; framing itself must be too, or another
    // site could lay the panel under its own page and have clicks land on it.
    await page.evaluate((address) => {
      const frame = document.createElement("iframe");
      frame.id = "framed-panel";
      frame.src = address;
      document.body.append(frame);
    }, app.address);
    // The browser puts its own error page in the panel's place; a panel that loaded would keep
    // its own address, and this wait would run out.
    const frame = await waitUntil(async () => {
      const element = await page.$("#framed-panel");
      const content = element && (await element.contentFrame());
      return content && !["about:blank", app.address].includes(content.url()) ? content : null;
    });
    assert.ok(frame, "the frame went to the browser's error page");
    const title = await frame.title().catch(() => "");
    assert.notEqual(title, "Tarnwick Panel");
  });

  test("cannot write to the dongle even with the key", async (t) => {
    const before = await app.lastOutput();
    // A form post needs no preflight, so the browser does send it; the app must refuse it.
    await page.evaluate(
      async ({ address, key }) => {
        const data = btoa(String.fromCharCode(...new Uint8Array(47).fill(0x55)));
        await fetch(address + "api/output?k=" + key, {
          method: "POST",
          mode: "no-cors",
          headers: { "Content-Type": "application/x-www-form-urlencoded" },
          body: "id=2&data=" + encodeURIComponent(data),
        }).catch(() => {});
      },
      { address: app.address, key }
    );
    // The fetch above has had its answer, so the app is done with the request.
    assert.deepEqual(await app.lastOutput(), before);
  });

  test("the app answers other origins and keyless calls with 403", async (t) => {
    const withOrigin = await fetch(app.address + "api/dev?k=" + key, {
      headers: { Origin: otherOrigin },
    });
    assert.equal(withOrigin.status, 403);
    assert.equal((await withOrigin.json()).error, "cross-origin");
    const keyless = await fetch(app.address + "api/dev");
    assert.equal(keyless.status, 403);
    assert.equal((await keyless.json()).error, "bad key");
  });
});
