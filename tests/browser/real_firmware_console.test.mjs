// Real firmware files through the Linux app's console: "publish VERSION FILE" puts a file the
// toolchain built on the update host, and the update installs it, or refuses another program's.
// Needs only the app (no browser).
import { test, describe, before, after } from "node:test";
import assert from "node:assert/strict";
import { existsSync } from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { App, appPath } from "./harness.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const realFirmware = path.resolve(here, "..", "data", "real-firmware");
const korrinlink = path.join(realFirmware, "korrinlink-0.9.7-rp2350-arm-s.uf2");
const blinkDemo = path.join(realFirmware, "blink-demo-2.1.0-rp2350-arm-s.uf2");

// The state document's text, printed by "fw", once it matches `pattern` (within `timeoutMs`).
// Each answer is read up to its closing brace; the next question waits for the app to print
// something new (a job step, the tray), or a second at most, for changes it does not print.
async function stateMatching(app, pattern, timeoutMs = 30000) {
  const until = Date.now() + timeoutMs;
  while (Date.now() < until) {
    const from = app.lines.length;
    app.send("fw");
    await app.waitForLine(/^\}$/, 5000, from);
    const printed = app.lines.slice(from).join("\n");
    if (pattern.test(printed)) return printed;
    await app.waitForLine(/./, 1000).catch(() => {});
  }
  const said = app.lines.filter((line) => line.startsWith("[")).slice(-15);
  throw new Error(`the state never matched ${pattern}; the app said:\n${said.join("\n")}`);
}

describe("real firmware through the console", { skip: !existsSync(appPath) && `no app at ${appPath}` }, () => {
  let app;
  before(async () => {
    app = new App();
    assert.ok(await app.start(), "the app's server is not listening");
  });
  after(async () => app && (await app.stop()));

  test("publish with a bad file or no version says why and publishes nothing", async () => {
    const cases = [
      ["publish 0.9.9 /no/such/file.uf2", /^\[update host\] nothing published: can't read \/no\/such\/file\.uf2 \(No such file or directory\)$/],
      [`publish 0.9.9 ${path.join(realFirmware, "README.md")}`, /^\[update host\] nothing published: .*README\.md is \d+ bytes; a release is whole 512-byte UF2 blocks, at most 16 MiB$/],
      [`publish 0.9.9 ${realFirmware}/`, /^\[update host\] nothing published: can't read .*real-firmware\/ \(not a file\)$/],
      [`publish ${korrinlink}`, /^\[update host\] publish needs a version: publish VERSION \[FILE\]$/],
    ];
    for (const [command, answer] of cases) {
      const from = app.lines.length;
      app.send(command);
      await app.waitForLine(/^\[update host\] /, 5000, from);
      assert.match(app.lines.slice(from).find((l) => l.startsWith("[update host] ")), answer, command);
    }
  });

  test("a real build of 0.9.7 goes onto the running dongle", { timeout: 90000 }, async () => {
    const from = app.lines.length;
    app.send(`publish 0.9.7 ${korrinlink}`);
    assert.match(await app.waitForLine(/^\[update host\] published 0\.9\.7/, 5000, from),
      /^\[update host\] published 0\.9\.7 \(.*korrinlink-0\.9\.7-rp2350-arm-s\.uf2, 12800 bytes\) at https:\/\//);
    // The check that publishing starts runs on its own thread: the update is there once it ends.
    await app.waitForLine(/^\[balloon\] Firmware update ready: Tarnwick Bridge 0\.9\.7 is ready/, 20000, from);
    app.send("fw start update");
    await app.waitForLine(/^\[fw\] done: Firmware 0\.9\.7 is on\./, 60000, from);
    await stateMatching(app, /"running":\s*\{\s*"present":\s*true,\s*"canSwitch":\s*\w+,\s*"version":\s*"0\.9\.7"/);
  });

  test("another program published as a newer version is refused", { timeout: 60000 }, async () => {
    const from = app.lines.length;
    app.send(`publish 0.9.8 ${blinkDemo}`);
    await app.waitForLine(/^\[update host\] published 0\.9\.8 \(.*blink-demo/, 5000, from);
    await app.waitForLine(/^\[balloon\] Firmware update ready: Tarnwick Bridge 0\.9\.8 is ready/, 20000, from);
    app.send("fw start update");
    await app.waitForLine(/^\[fw\] update queued$/, 5000, from);
    await stateMatching(app, /"error":\s*"That file isn't Tarnwick Bridge firmware \(it says \u201cblink-demo\u201d\)\. Nothing was changed\."/);
    // Still the dongle it was.
    await stateMatching(app, /"running":\s*\{\s*"present":\s*true,\s*"canSwitch":\s*\w+,\s*"version":\s*"0\.9\.7"/);
  });
});
