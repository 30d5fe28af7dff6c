// What the panel costs with input reports arriving at full speed (1000 a second): reports counted
// by the page, frames the live view drew, and the page's main-thread time per second (Chromium's
// TaskDuration and ScriptDuration through the DevTools protocol), with the Test tab closed, open
// with the pad still, and open with the pad moving. Run by hand, from the repository root:
//
//   node bench/panel_live_view_bench.mjs [seconds per case, default 10]
//
// after building the Linux app (TW_APP names another one) and `npm ci` in tests/browser.
import { launchBrowser, sleep, startListeningApp } from "../tests/browser/harness.mjs";

const seconds = Number(process.argv[2] || 10);

const app = await startListeningApp();
const browser = await launchBrowser();
try {
  const page = await browser.context.newPage();
  await page.goto(app.address);
  await page.waitForFunction(() => window.TarnwickPanel && window.TarnwickPanel.isAttached(), null,
    { timeout: 10000 });
  // Full speed, as a person sets it.
  await page.check("input[name='rate'][value='2']");
  await page.waitForFunction(() => document.getElementById("saveNote").textContent === "All changes saved",
    null, { timeout: 5000 });
  const cdp = await browser.context.newCDPSession(page);
  await cdp.send("Performance.enable");

  async function sample() {
    const { metrics } = await cdp.send("Performance.getMetrics");
    const metric = (name) => metrics.find((m) => m.name === name)?.value ?? 0;
    const page_ = await page.evaluate(() => [window.TarnwickPanel.inputCount(), window.TarnwickPanel.liveFrames()]);
    return { at: performance.now(), task: metric("TaskDuration"), script: metric("ScriptDuration"),
      style: metric("RecalcStyleDuration"), layout: metric("LayoutDuration"),
      reports: page_[0], frames: page_[1] };
  }

  async function measure(name, tab, moving) {
    await page.click(`#tabbtn-${tab}`);
    let step = 0;
    const mover = moving
      ? setInterval(() => {
        const x = 128 + Math.round(100 * Math.sin(step / 10));
        const buttons = step % 20 < 10 ? "0x28 0x01 0x00" : "0x08 0x00 0x01";
        app.send(`pad ${x} ${255 - x} ${x} ${x} ${step % 256} ${255 - (step % 256)} ${buttons}`);
        step++;
      }, 10)
      : null;
    await sleep(1500);
    const first = await sample();
    await sleep(seconds * 1000);
    const last = await sample();
    if (mover) clearInterval(mover);
    const wall = (last.at - first.at) / 1000;
    const perSecond = (key) => (last[key] - first[key]) / wall;
    console.log(
      `${name.padEnd(26)} reports ${perSecond("reports").toFixed(0).padStart(5)}/s   ` +
      `frames ${perSecond("frames").toFixed(1).padStart(5)}/s   ` +
      `main thread ${(perSecond("task") * 1000).toFixed(0).padStart(4)} ms/s   ` +
      `script ${(perSecond("script") * 1000).toFixed(0).padStart(4)} ms/s   ` +
      `style ${(perSecond("style") * 1000).toFixed(0).padStart(3)} ms/s   ` +
      `layout ${(perSecond("layout") * 1000).toFixed(0).padStart(3)} ms/s`);
  }

  console.log(`input at full speed, ${seconds} s per case`);
  await measure("Test tab closed", "controller", false);
  await measure("live view, pad still", "test", false);
  await measure("live view, pad moving", "test", true);
  app.send("pad 128 128 128 128 0 0 0x08 0 0");
} finally {
  await browser.close();
  await app.stop();
}
