// The firmware screens of the app's copy of the panel: the progress card, the finished and
// update-mode cards, the confirmations, the "Dongle not showing up?" card and the app's controls
// in the Update tab. They follow the app's firmware state document and drive the firmware job
// through window.TarnwickApp; on the dongle's drive and on the web this script does nothing.
// Every text that comes from the app, the dongle or a board is shown with textContent.
(function () {
  "use strict";

  const app = window.TarnwickApp;
  if (!app || window.__TARNWICK_APP__ !== true) return;

  const TOAST_MS = 3200;
  const DISMISS_AFTER_MS = 12000;
  const ATTACH_EVERY_MS = 2500;
  const ATTACH_GUARD_MS = 6000;
  const ATTACH_AFTER_CONNECT_MS = 300;
  const CHECK_REST_MS = 1500;
  // How often the age of the last check is written again: its wording changes by the minute.
  const AGE_EVERY_MS = 15000;

  const TITLES = {
    update: "Updating firmware",
    install: "Installing firmware",
    reinstall: "Reinstalling firmware",
    repair: "Repairing the dongle",
    restart: "Restarting the dongle",
  };
  // Advice kinds under which a board in update mode gets no buttons: there is nothing to do yet,
  // or somebody else is at it.
  const NO_BUTTONS = ["reading", "inuse", "station", "nofw"];
  const NOTHING_BROKEN =
    "Nothing is broken \u2014 a Bridge can always be brought back. Unplug it, hold its button, " +
    "plug it back in, then press Try again.";
  const NO_ANSWER = "The app didn\u2019t answer. Is it still running?";
  const NOT_STARTED = "That couldn\u2019t start.";
  const RESTARTED = [
    "Reopen the panel",
    "The app restarted.",
    "This page has lost touch with it. Open the control panel again from the Tarnwick Bridge " +
      "icon in the tray.",
  ];

  const $ = (id) => document.getElementById(id);
  const panel = window.TarnwickPanel || {
    isAttached: () => false,
    attachAvailable: () => Promise.resolve(),
    showToast: () => {},
    showStage: () => {},
  };

  // The last document, with every object present; null until the app has answered once.
  let doc = null;
  // Set once the app that served this page has gone (a new instance has another key).
  let appGone = false;

  // ---- small helpers --------------------------------------------------------------------------

  const text = (value) => (typeof value === "string" ? value : "");
  const object = (value) => (value && typeof value === "object" ? value : {});

  function normalise(raw) {
    const d = object(raw);
    return {
      station: d.station === true,
      running: object(d.running),
      boot: object(d.boot),
      fw: object(d.fw),
      advice: object(d.advice),
      job: object(d.job),
    };
  }

  function busy(d) {
    return !!d && (d.job.active === true || d.job.queued === true);
  }

  function element(tag, props, children) {
    const node = document.createElement(tag);
    Object.assign(node, props || {});
    (children || []).forEach((child) => node.append(child));
    return node;
  }

  // Changes a node only when its text changes, so live regions announce news, not re-renders.
  function show(node, value) {
    const wanted = text(value);
    node.hidden = wanted === "";
    if (node.textContent !== wanted) node.textContent = wanted;
  }

  function toast(message) {
    panel.showToast(message, TOAST_MS);
  }

  // Posts to the app; refusals and silence become toasts. True when the app took it.
  async function send(path, fields) {
    let answer;
    try {
      answer = await app.post(path, fields || {});
    } catch (e) {
      if (!appGone) toast(NO_ANSWER);
      return false;
    }
    if (!answer || answer.ok !== true) {
      toast(text(answer && answer.error) || NOT_STARTED);
      return false;
    }
    return true;
  }

  // ---- confirmations ------------------------------------------------------------------------

  let asking = false;

  // Resolves true when the person agrees. One question at a time: a second one while a dialog
  // is up is answered no.
  function ask(title, body, yes) {
    const dialog = $("confirmDialog");
    if (asking) return Promise.resolve(false);
    if (!dialog || typeof dialog.showModal !== "function") {
      return Promise.resolve(window.confirm(title + "\n\n" + body));
    }
    asking = true;
    return new Promise((resolve) => {
      const heading = element("h2", { id: "confirmTitle", textContent: title });
      const words = element("p", { id: "confirmText", textContent: body });
      const no = element("button", { type: "button", textContent: "Cancel" });
      const agree = element("button", { type: "button", className: "primary", textContent: yes });
      dialog.setAttribute("aria-labelledby", "confirmTitle");
      dialog.setAttribute("aria-describedby", "confirmText");
      dialog.replaceChildren(heading, words, element("div", { className: "fw-buttons" }, [no, agree]));
      let answered = false;
      const finish = (value) => {
        if (answered) return;
        answered = true;
        dialog.removeEventListener("close", onClose);
        if (dialog.open) dialog.close();
        asking = false;
        resolve(value);
      };
      // Escape closes the dialog: that is a no. The close event of the question before may still
      // be on its way when this one opens; it must not answer this one.
      const onClose = () => {
        if (!dialog.open) finish(false);
      };
      dialog.addEventListener("close", onClose);
      no.addEventListener("click", () => finish(false));
      agree.addEventListener("click", () => finish(true));
      dialog.showModal();
      no.focus();
    });
  }

  // Asks what the action needs asked, then starts it. Each question looks at the latest state:
  // the board may have come or gone while the person read the one before. The confirm flag goes
  // out only after the person agreed to replace a board's other firmware.
  async function start(action) {
    if (action === "restart") return restartNow();
    const now = () => doc || normalise(null);
    if (action === "repair") {
      const agreed = await ask(
        "Repair the dongle?",
        "Repair puts fresh firmware on the dongle and clears its settings, paired controllers " +
          "included. Pair your controller again afterwards.",
        "Repair"
      );
      if (!agreed) return;
    }
    let target = text(now().fw.target);
    if ((action === "reinstall" || action === "repair") && now().advice.ahead === true && target) {
      const agreed = await ask(
        "Go back to " + target + "?",
        "The dongle has a newer version than the " + target + " release. Going ahead puts the " +
          "older " + target + " on it.",
        "Go back to " + target
      );
      if (!agreed) return;
    }
    let confirm = 0;
    const d = now();
    if (d.advice.confirm === true && d.boot.present === true) {
      target = text(d.fw.target);
      const program = text(d.boot.program);
      const what =
        d.boot.read !== 1
          ? "This app couldn\u2019t read what\u2019s on this board. "
          : "This board runs \u201c" + (program || "unnamed") + "\u201d. ";
      const agreed = await ask(
        "Replace what\u2019s on this board?",
        what + "Installing Tarnwick Bridge" + (target ? " " + target : "") + " erases it.",
        "Replace it"
      );
      if (!agreed) return;
      confirm = 1;
    }
    await send("/api/fw/start", { action, confirm });
  }

  function restartNow() {
    return send("/api/fw/start", { action: "restart", confirm: 0 });
  }

  function cancelJob() {
    return send("/api/fw/cancel");
  }

  function dismiss() {
    return send("/api/fw/dismiss");
  }

  // ---- the firmware card ----------------------------------------------------------------------

  function clampPct(pct) {
    const n = Number(pct);
    return Number.isFinite(n) ? Math.min(100, Math.max(2, n)) : 2;
  }

  function progressCard(d) {
    const job = d.job;
    const phase = text(job.phase);
    const needsUser = job.needsUser === true;
    const buttons = [];
    if (job.cancellable === true) {
      buttons.push({ label: phase === "reconnect" ? "Stop waiting" : "Cancel", run: cancelJob });
    }
    return {
      kind: "progress",
      title: TITLES[text(job.action)] || "Working on the dongle",
      msg: needsUser ? "" : text(job.msg),
      detail: needsUser ? "" : text(job.detail),
      callout: needsUser ? [text(job.msg), text(job.detail)] : null,
      bar: phase === "download" || (phase !== "prepare" && !needsUser) ? Number(job.pct) || 0 : null,
      buttons,
    };
  }

  function finishedCard(d) {
    const job = d.job;
    const action = text(job.action);
    const blocked = d.station;
    if (job.result === "ok") {
      const restarted = action === "restart" || /^Restarted\b/.test(text(job.msg));
      return {
        kind: "ok",
        title: restarted ? "Restarted" : "Done",
        msg: text(job.msg),
        detail: text(job.detail),
        buttons: [{ label: "OK", run: dismiss, primary: true }],
      };
    }
    if (job.result === "cancelled") {
      return {
        kind: "cancelled",
        title: job.automatic === true ? "Install skipped" : "Cancelled",
        msg: text(job.msg),
        buttons: [{ label: "OK", run: dismiss, primary: true }],
      };
    }
    const sentence = text(job.error) || text(job.msg) || "Something went wrong.";
    if (job.refused === true) {
      return {
        kind: "refused",
        title: "Nothing was changed",
        msg: sentence,
        buttons: [
          { label: "Replace it\u2026", run: () => start(action || "install"), disabled: blocked },
          { label: "Close", run: dismiss },
        ],
      };
    }
    return {
      kind: "failed",
      title: "That didn\u2019t finish",
      msg: sentence,
      support: text(job.tech) ? "For support: " + text(job.tech) : "",
      advice: NOTHING_BROKEN,
      buttons: [
        { label: "Try again", run: () => start(action || "install"), primary: true, disabled: blocked || !action },
        { label: "Close", run: dismiss },
      ],
    };
  }

  function updateModeCard(d) {
    const kind = text(d.advice.kind);
    const primary = text(d.advice.primary);
    const target = text(d.fw.target);
    const buttons = [];
    if (NO_BUTTONS.indexOf(kind) < 0) {
      const blocked = busy(d) || d.station;
      if ((primary === "update" || primary === "install") && target) {
        buttons.push({ label: "Install " + target, run: () => start(primary), primary: true, disabled: blocked });
      } else if (primary === "restart") {
        buttons.push({ label: "Restart it", run: restartNow, primary: true, disabled: blocked });
      }
      if (d.boot.ours === true || primary === "restart") {
        buttons.push({ label: "Repair", run: () => start("repair"), disabled: blocked });
      }
    }
    return {
      kind: "board",
      title: kind === "replace" ? "A board is in update mode" : "Your dongle is in update mode",
      msg: text(d.advice.text),
      detail: d.boot.read === -1 ? text(d.boot.why) : "",
      buttons,
    };
  }

  function cardFor(d) {
    if (!d) return null;
    if (busy(d)) return progressCard(d);
    if (text(d.job.result)) return finishedCard(d);
    if (d.boot.present === true) return updateModeCard(d);
    return null;
  }

  let card = null;

  function buildCard(section) {
    const title = element("h2", { id: "fwCardTitle", className: "fw-title" });
    const msg = element("p", { className: "fw-msg" });
    const calloutMsg = element("strong");
    const calloutDetail = element("span");
    const callout = element("div", { className: "fw-callout" }, [calloutMsg, calloutDetail]);
    const detail = element("p", { className: "fw-detail" });
    const support = element("p", { className: "fw-support" });
    const advice = element("p", { className: "fw-advice" });
    // Not a live region: the message ticks with every percent. announce() tells the news.
    const live = element("div", { className: "fw-live" }, [title, msg, callout, detail, support, advice]);
    const fill = element("div", { className: "fw-fill" });
    const bar = element("div", { className: "fw-bar" }, [fill]);
    bar.setAttribute("role", "progressbar");
    bar.setAttribute("aria-valuemin", "0");
    bar.setAttribute("aria-valuemax", "100");
    bar.setAttribute("aria-labelledby", "fwCardTitle");
    const buttons = element("div", { className: "fw-buttons" });
    section.setAttribute("aria-labelledby", "fwCardTitle");
    section.replaceChildren(live, bar, buttons);
    return { section, title, msg, callout, calloutMsg, calloutDetail, detail, support, advice, bar, fill, buttons, key: "", actions: [] };
  }

  // Buttons are made again only when their labels change, so a button keeps focus while the
  // document ticks on underneath it.
  function renderButtons(slot, models) {
    const key = models.map((b) => b.label + (b.primary ? "*" : "")).join("|");
    slot.actions = models.map((b) => b.run);
    if (key !== slot.key) {
      slot.key = key;
      slot.buttons.replaceChildren(
        ...models.map((b, index) => {
          const button = element("button", { type: "button", textContent: b.label });
          if (b.primary) button.className = "primary";
          button.addEventListener("click", async () => {
            const run = slot.actions[index];
            if (!run || button.disabled) return;
            button.disabled = true;
            try {
              await run();
            } finally {
              button.disabled = !!(slot.models[index] && slot.models[index].disabled);
            }
          });
          return button;
        })
      );
    }
    slot.models = models;
    Array.from(slot.buttons.children).forEach((button, index) => {
      button.disabled = !!models[index].disabled;
    });
  }

  // Joins sentence pieces, ending each that has no end of its own.
  function sentences(parts) {
    return parts
      .filter((part) => part)
      .map((part) => (/[.!?\u2026]$/.test(part) ? part : part + "."))
      .join(" ");
  }

  // What the status line says about a card, and what makes it news: a job's action, phase and
  // whether it waits for the person, or an ending or a board's state; never a percent.
  function announcementOf(model, d) {
    if (!model) return { key: "", words: "" };
    if (model.kind === "progress") {
      const job = d.job;
      const words = model.callout ? model.callout : [model.msg];
      return {
        key: ["progress", text(job.action), text(job.phase), job.needsUser === true].join("|"),
        words: sentences([model.title].concat(words)),
      };
    }
    const words = sentences([model.title, model.msg]);
    return { key: model.kind + "|" + words, words };
  }

  let announced = "";

  // The status line exists, empty, from the page's start, so the first news is heard too.
  function announce(model, d) {
    const status = $("fwStatus");
    if (!status) return;
    const news = announcementOf(model, d);
    if (news.key === announced) return;
    announced = news.key;
    status.textContent = news.words;
  }

  function renderCard(d) {
    const section = $("fwProgress");
    if (!section) return;
    const model = cardFor(d);
    announce(model, d);
    if (!model) {
      section.hidden = true;
      return;
    }
    if (!card || card.section !== section) card = buildCard(section);
    section.dataset.card = model.kind;
    show(card.title, model.title);
    show(card.msg, model.msg);
    show(card.detail, model.detail);
    show(card.support, model.support);
    show(card.advice, model.advice);
    card.callout.hidden = !model.callout;
    if (model.callout) {
      show(card.calloutMsg, model.callout[0]);
      show(card.calloutDetail, model.callout[1]);
    }
    card.bar.hidden = model.bar === null || model.bar === undefined;
    if (!card.bar.hidden) {
      card.fill.style.width = clampPct(model.bar) + "%";
      card.bar.setAttribute("aria-valuenow", String(Math.min(100, Math.max(0, model.bar))));
    }
    renderButtons(card, model.buttons || []);
    section.hidden = false;
  }

  // ---- the help card --------------------------------------------------------------------------

  let help = null;

  function renderHelp(d) {
    const section = $("fwHelp");
    if (!section) return;
    const quiet = !!d && !busy(d) && !text(d.job.result) && d.boot.present !== true;
    section.hidden = !(quiet && !panel.isAttached());
    if (section.hidden) return;
    if (!help || help.section !== section) {
      const repair = element("button", { type: "button", textContent: "Repair" });
      repair.addEventListener("click", () => start("repair"));
      const details = element("details", {}, [
        element("summary", { textContent: "Dongle not showing up?" }),
        element("p", {
          textContent:
            "When the dongle is plugged in and the panel still can\u2019t find it, its firmware " +
            "may be damaged. Repair puts fresh firmware on it and clears its settings; this app " +
            "tells you when to press the dongle\u2019s button.",
        }),
        repair,
      ]);
      section.replaceChildren(details);
      help = { section, repair };
    }
    help.repair.disabled = d.station;
  }

  // ---- the Update tab -------------------------------------------------------------------------

  let tab = null;

  function ensureTab() {
    const host = $("tab-update");
    if (!host) return null;
    if (tab && tab.root.parentNode === host) return tab;
    if (!tab) {
      const root = element("div", { id: "fwAppUpdate", className: "fw-app-update" });
      const running = element("p", { className: "fw-running" });
      const advice = element("p", { className: "fw-advice-text" });
      const note = element("p", { className: "fw-note" });
      const buttons = element("div", { className: "fw-buttons" });
      const notesText = element("p", { className: "fw-notes-text" });
      const notesTitle = element("h4", {});
      const notes = element("div", { className: "fw-notes" }, [notesTitle, notesText]);
      const online = element("p", { className: "fw-online" });
      const check = element("button", { type: "button", id: "fwCheck", textContent: "Check now" });
      check.addEventListener("click", checkNow);
      root.append(
        element("h3", { textContent: "Firmware" }),
        running,
        advice,
        note,
        buttons,
        notes,
        element("div", { className: "fw-check" }, [online, check])
      );
      tab = { root, running, advice, note, buttons, notes, notesTitle, notesText, online, check, key: "", actions: [] };
    }
    host.prepend(tab.root);
    return tab;
  }

  let checking = false;

  async function checkNow() {
    if (checking) return;
    checking = true;
    tab.check.disabled = true;
    try {
      await send("/api/fw/check");
    } finally {
      setTimeout(() => {
        checking = false;
        if (tab) tab.check.disabled = appGone;
      }, CHECK_REST_MS);
    }
  }

  function agoText(seconds) {
    const s = Number(seconds) || 0;
    if (s < 60) return "just now";
    if (s < 3600) return Math.floor(s / 60) + " min ago";
    const hours = Math.floor(s / 3600);
    return hours + (hours === 1 ? " hour ago" : " hours ago");
  }

  function onlineText(online) {
    switch (text(online.state)) {
      case "checking":
        return "Checking for new firmware\u2026";
      case "ok":
        return "Checked for new firmware " + agoText(online.ago) + ".";
      case "failed":
        return "Couldn\u2019t check for new firmware: " + text(online.error);
      default:
        return "Not checked for new firmware yet.";
    }
  }

  // The last check's state as the last document told it, and when that document came: documents
  // come only with changes, so the page ages the sentence itself.
  let online = null;

  function renderOnline() {
    if (!tab || !online) return;
    const seconds = (Number(online.state.ago) || 0) + (performance.now() - online.at) / 1000;
    show(tab.online, onlineText(Object.assign({}, online.state, { ago: seconds })));
  }

  function renderTab(d) {
    const t = ensureTab();
    if (!t || !d) return;
    const target = text(d.fw.target);
    const version = text(d.running.version);
    const present = d.running.present === true;
    show(t.running, present ? "On the dongle: firmware " + (version || "of an unknown version") + "." : "");
    const kind = text(d.advice.kind);
    show(t.advice, d.boot.present === true ? "" : text(d.advice.text));
    show(
      t.note,
      present && d.running.canSwitch !== true
        ? "This firmware can\u2019t switch to update mode by itself, so an update asks you to " +
            "press the dongle\u2019s button."
        : ""
    );
    const blocked = busy(d) || d.station;
    const models = [];
    if (d.boot.present !== true && d.advice.primary === "update" && target) {
      models.push({ label: "Install it", run: () => start("update"), primary: true, disabled: blocked });
    }
    if (present && target && (kind === "current" || kind === "ahead")) {
      models.push({ label: "Reinstall " + target, run: () => start("reinstall"), disabled: blocked });
    }
    if (present) models.push({ label: "Repair", run: () => start("repair"), disabled: blocked });
    renderButtons(t, models);
    const notes = text(d.fw.notes);
    t.notes.hidden = !notes || !target;
    show(t.notesTitle, notes && target ? "What\u2019s new in " + target : "");
    show(t.notesText, notes);
    online = { state: object(d.fw.online), at: performance.now() };
    renderOnline();
  }

  // In the app's copy the web's own update steps would fight this tab's buttons: hide them.
  function hideWebUpdateSteps() {
    document.documentElement.classList.add("tw-app");
    const host = $("tab-update");
    if (!host || typeof MutationObserver !== "function") return;
    // The panel may fill its tabs after this script ran; keep the app's controls in place.
    new MutationObserver(() => {
      if (tab && tab.root.parentNode !== host) {
        host.prepend(tab.root);
      }
    }).observe(host, { childList: true });
  }

  // ---- following the dongle -------------------------------------------------------------------

  let dismissTimer = 0;

  // A successful result stays up until the dongle has been back and attached for a while.
  function followDismiss() {
    const job = doc ? doc.job : {};
    const done = !!doc && !busy(doc) && job.result === "ok";
    if (done && panel.isAttached()) {
      if (!dismissTimer) {
        dismissTimer = setTimeout(() => {
          dismissTimer = 0;
          dismiss();
        }, DISMISS_AFTER_MS);
      }
    } else if (dismissTimer) {
      clearTimeout(dismissTimer);
      dismissTimer = 0;
    }
  }

  let lastAttempt = -Infinity;

  // Brings the panel back to a dongle after it went away (a firmware restart, Disconnect), but
  // never while a job has it, and not so often that a dongle that fails to attach is pestered.
  function tryAttach() {
    if (busy(doc) || panel.isAttached()) return;
    const now = performance.now();
    if (now - lastAttempt < ATTACH_GUARD_MS) return;
    lastAttempt = now;
    Promise.resolve()
      .then(() => panel.attachAvailable())
      .catch(() => {});
  }

  let attachTimer = 0;

  function followAttaching() {
    attachTimer = setInterval(tryAttach, ATTACH_EVERY_MS);
    if (navigator.hid && typeof navigator.hid.addEventListener === "function") {
      navigator.hid.addEventListener("connect", () => {
        lastAttempt = -Infinity;
        setTimeout(tryAttach, ATTACH_AFTER_CONNECT_MS);
      });
    }
    const changed = () => {
      if (appGone) return;
      renderHelp(doc);
      followDismiss();
    };
    document.addEventListener("tarnwick:attached", changed);
    document.addEventListener("tarnwick:detached", changed);
  }

  // ---- a restarted app -----------------------------------------------------------------------

  // The app that served this page went away and another took over: nothing on this page can
  // reach it again. Say so in the stage, and leave nothing that looks as if it still works.
  function lostTheApp() {
    if (appGone) return;
    appGone = true;
    clearTimeout(dismissTimer);
    dismissTimer = 0;
    clearInterval(attachTimer);
    clearInterval(ageTimer);
    const dialog = $("confirmDialog");
    if (dialog && dialog.open) dialog.close();
    ["fwProgress", "fwHelp", "setupSteps"].forEach((id) => {
      if ($(id)) $(id).hidden = true;
    });
    announce(null, null);
    document.querySelectorAll("button, input, select, textarea").forEach((control) => {
      control.disabled = true;
    });
    panel.showStage("s-sleep", RESTARTED[0], RESTARTED[1], RESTARTED[2]);
  }

  // ---- the document -------------------------------------------------------------------------

  function render(raw) {
    if (appGone) return;
    doc = normalise(raw);
    renderCard(doc);
    renderHelp(doc);
    renderTab(doc);
    followDismiss();
  }

  let ageTimer = 0;

  async function begin() {
    hideWebUpdateSteps();
    ensureTab();
    followAttaching();
    ageTimer = setInterval(renderOnline, AGE_EVERY_MS);
    document.addEventListener("tarnwick:restarted", lostTheApp);
    try {
      render(await app.get("/api/fw"));
    } catch (e) {
      // The event stream brings the document as soon as the app answers.
    }
    if (!appGone) app.events("/api/fw/events", render);
  }

  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", begin);
  else begin();
})();
