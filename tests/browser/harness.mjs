// Shared set-up of the browser tests: the Linux app on the simulated world (driven through its
// console) and Debian's Chromium driven by playwright-core.
import { spawn } from "node:child_process";
import { existsSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, "..", "..");

export const appPath = process.env.TW_APP || path.join(root, "build", "linux-release", "tarnwick");
export const chromiumPath = process.env.TW_CHROMIUM || "/usr/bin/chromium";

const CHROMIUM_FLAGS = [
  "--headless",
  "--no-sandbox",
  "--disable-gpu",
  "--disable-quic",
  "--no-first-run",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
];

// Why the tests cannot run here, or null when they can.
export function missingPrerequisite() {
  if (!existsSync(appPath)) return `no Linux app at ${appPath} (set TW_APP)`;
  if (!existsSync(chromiumPath)) return `no Chromium at ${chromiumPath}`;
  return null;
}

export function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// The Linux app: its console lines, commands on standard input and the panel's address.
export class App {
  constructor() {
    this.lines = [];
    this.waiters = [];
    this.address = null;
  }

  // Starts the app and waits for its "Panel:" line. Resolves to the address, or null when the
  // server did not listen.
  async start(timeoutMs = 20000) {
    this.process = spawn(appPath, [], { stdio: ["pipe", "pipe", "pipe"] });
    this.exited = new Promise((resolve) => this.process.on("exit", resolve));
    let pending = "";
    const take = (chunk) => {
      pending += chunk.toString("utf8");
      let newline;
      while ((newline = pending.indexOf("\n")) >= 0) {
        const line = pending.slice(0, newline).replace(/\r$/, "");
        pending = pending.slice(newline + 1);
        this.lines.push(line);
        this.waiters = this.waiters.filter((waiter) => !waiter(line));
      }
    };
    this.process.stdout.on("data", take);
    this.process.stderr.on("data", take);
    const line = await this.waitForLine(/^Panel: /, timeoutMs);
    const match = /^Panel: (http:\/\/127\.0\.0\.1:(\d+)\/)$/.exec(line);
    if (!match) return null;
    this.address = match[1];
    this.port = Number(match[2]);
    return this.address;
  }

  // The first line from now on (or already seen, when `fromIndex` is given) matching `pattern`.
  waitForLine(pattern, timeoutMs = 10000, fromIndex = null) {
    if (fromIndex !== null) {
      const seen = this.lines.slice(fromIndex).find((line) => pattern.test(line));
      if (seen !== undefined) return Promise.resolve(seen);
    }
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        reject(new Error(`no line matching ${pattern} within ${timeoutMs} ms; last lines:\n` +
          this.lines.slice(-15).join("\n")));
      }, timeoutMs);
      this.waiters.push((line) => {
        if (!pattern.test(line)) return false;
        clearTimeout(timer);
        resolve(line);
        return true;
      });
    });
  }

  send(command) {
    this.process.stdin.write(command + "\n");
  }

  // Sends `command` and waits for the app's line saying it took effect: the app reads its
  // console on a thread of its own, so a bare send may land after the page's next call.
  async sendAndWait(command, pattern, timeoutMs = 10000) {
    const done = this.waitForLine(pattern, timeoutMs);
    this.send(command);
    return done;
  }

  // The last output report the dongle received, report id first, or null when none.
  async lastOutput() {
    const answer = this.waitForLine(/^\[output\] /);
    this.send("last-output");
    const text = (await answer).slice("[output] ".length).trim();
    if (text === "none") return null;
    return text.split(/\s+/).map((hex) => parseInt(hex, 16));
  }

  async stop() {
    if (!this.process || this.process.exitCode !== null) return;
    this.send("quit");
    const quit = await Promise.race([this.exited.then(() => true), sleep(3000).then(() => false)]);
    if (!quit) {
      this.process.kill("SIGKILL");
      await this.exited;
    }
  }
}

// Starts the Linux app; throws (failing the suite) when its panel server does not listen.
export async function startListeningApp() {
  const app = new App();
  if (!(await app.start())) {
    await app.stop();
    throw new Error("the app's server is not listening");
  }
  return app;
}

// Chromium with one page open at `url`; returns { browser, page }.
export async function openPage(url) {
  const browser = await launchBrowser();
  const page = await browser.context.newPage();
  await page.goto(url);
  return { browser, page };
}

// A fresh Chromium profile per browser; returns { context, close }.
export async function launchBrowser() {
  const profile = mkdtempSync(path.join(tmpdir(), "tw-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args: CHROMIUM_FLAGS,
  });
  return {
    context,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Polls `predicate` (which may be async) until it returns something truthy.
export async function waitUntil(predicate, timeoutMs = 10000, intervalMs = 50) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await predicate();
    if (value) return value;
    if (Date.now() > deadline) return value;
    await sleep(intervalMs);
  }
}
