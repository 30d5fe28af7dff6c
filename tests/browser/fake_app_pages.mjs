// Pages of the panel on fresh stand-ins for the app's server (fake_app.mjs), one browser a suite.
import { after, before } from "node:test";

import { FakeApp } from "./fake_app.mjs";
import { launchBrowser } from "./harness.mjs";

// Call inside a describe: the browser starts before its tests, and it and every fake app made
// by `open` are stopped after them. `open(setup, options)` makes a fake app, lets `setup` arrange
// it before it starts, and opens a page on it; `options.init` runs in the page before its own
// scripts, and `options.fakeClock` installs the browser's fake clock.
export function fakeAppPages() {
  let browser;
  const apps = [];
  before(async () => {
    browser = await launchBrowser();
  });
  after(async () => {
    if (browser) await browser.close();
    for (const app of apps) await app.stop();
  });
  return {
    async open(setup, { init = null, fakeClock = false } = {}) {
      const app = new FakeApp();
      apps.push(app);
      setup(app);
      await app.start();
      const page = await browser.context.newPage();
      if (init) await page.addInitScript(init);
      if (fakeClock) await page.clock.install();
      await page.goto(app.address);
      return { app, page };
    },
  };
}

// Stops the page's fake clock: from here on time moves only when a test moves it. The clock runs
// on while the request to stop it travels, and a busy machine needs a wider margin.
export async function holdClock(page) {
  for (let margin = 10; ; margin *= 4) {
    try {
      await page.clock.pauseAt(await page.evaluate((ms) => Date.now() + ms, margin));
      return;
    } catch (error) {
      if (!/to the past/.test(String(error)) || margin > 5000) throw error;
    }
  }
}
