// A stand-in for the app's local server, for testing the served page alone: the page as the
// build inlines it, a dongle behind the device API, and the firmware API with documents the
// test writes. Records every firmware call; answers them as the test says.
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import http from "node:http";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, "..", "..");

// The served page, built from assets/panel/ the way the build does it.
export function builtPage() {
  const folder = mkdtempSync(path.join(tmpdir(), "tw-page-"));
  const out = path.join(folder, "page.html");
  try {
    execFileSync("python3", [path.join(root, "tools", "inline_page.py"),
      path.join(root, "assets", "panel", "page.html"), out]);
    return readFileSync(out, "utf8");
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}

// A firmware state document as the app writes it: idle, nothing plugged in, built-in 0.9.3.
export function fwDocument(changes = {}) {
  const base = {
    seq: 1,
    app: "1.2.0",
    station: false,
    running: { present: false, canSwitch: false, version: "" },
    boot: { present: false, usb: false, read: 0, blank: false, ours: false, drive: "", serial: "",
      program: "", version: "", why: "" },
    fw: { target: "0.9.3", notes: "", source: "built-in", builtIn: "0.9.3", builtInChecked: true,
      online: { state: "never", latest: "", error: "", ago: 0 } },
    advice: { kind: "none", primary: "", confirm: false, ahead: false, text: "" },
    job: { active: false, queued: false, automatic: false, pct: 0, cancellable: false,
      needsUser: false, countdown: 0, action: "", phase: "", msg: "", detail: "", result: "",
      error: "", tech: "", refused: false, from: "", target: "", installed: "", ago: 0 },
  };
  const merge = (into, from) => {
    for (const [key, value] of Object.entries(from)) {
      if (value && typeof value === "object" && !Array.isArray(value)) merge(into[key], value);
      else into[key] = value;
    }
    return into;
  };
  return merge(base, changes);
}

export class FakeApp {
  constructor() {
    this.page = builtPage();
    this.dongle = true; // what "/api/dev" reports
    this.version = "0.9.3";
    this.openFails = false;
    this.document = fwDocument();
    this.seq = 1;
    this.calls = []; // firmware calls: { path, fields }
    this.opens = 0;
    this.answers = new Map(); // path -> list of { status, body }, used once each
    // Firmware calls get their connection closed without an answer. (Chromium sends a request
    // again once when a kept-alive connection closes under it, so one dropped answer is not
    // enough to make the page see silence.)
    this.silent = false;
    this.streams = new Set();
    this.inputs = new Set();
    this.sockets = new Set();
    this.restarted = false;
    this.requests = 0; // every request, the page included
  }

  // As if the app had restarted under the page: a new key, so every call of the page's key is
  // answered 403 "bad key", and the open streams end.
  restart() {
    this.restarted = true;
    for (const stream of this.streams) stream.end();
    for (const stream of this.inputs) stream.end();
  }

  async start() {
    this.server = http.createServer((request, response) => this.handle(request, response));
    this.server.on("connection", (socket) => {
      this.sockets.add(socket);
      socket.on("close", () => this.sockets.delete(socket));
    });
    await new Promise((resolve) => this.server.listen(0, "127.0.0.1", resolve));
    this.address = `http://127.0.0.1:${this.server.address().port}/`;
    return this.address;
  }

  async stop() {
    for (const socket of this.sockets) socket.destroy();
    await new Promise((resolve) => this.server.close(resolve));
  }

  // Makes `changes` (over the idle document) the state and sends it to every open stream.
  publish(changes) {
    this.seq++;
    this.document = { ...fwDocument(changes), seq: this.seq };
    const event = "data: " + JSON.stringify(this.document) + "\n\n";
    for (const stream of this.streams) stream.write(event);
  }

  // The next call to `path` gets this answer instead of {"ok":true}.
  answerNext(path, answer) {
    if (!this.answers.has(path)) this.answers.set(path, []);
    this.answers.get(path).push(answer);
  }

  callsTo(path) {
    return this.calls.filter((call) => call.path === path).map((call) => call.fields);
  }

  json(response, status, body) {
    response.writeHead(status, { "Content-Type": "application/json; charset=utf-8" });
    response.end(JSON.stringify(body));
  }

  handle(request, response) {
    this.requests++;
    const url = new URL(request.url, "http://fake");
    let body = "";
    request.on("data", (chunk) => (body += chunk));
    request.on("end", () => this.route(url, request, body, response));
  }

  route(url, request, body, response) {
    const name = url.pathname;
    if (name === "/") {
      response.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
      return response.end(this.page);
    }
    if (this.restarted) return this.json(response, 403, { ok: false, error: "bad key" });
    if (name === "/api/dev") {
      if (!this.dongle) return this.json(response, 200, { found: false, updating: false });
      return this.json(response, 200, { found: true, vid: 0x054c, pid: 0x0ce6,
        name: "Tarnwick Bridge", version: this.version, features: [246, 247, 248, 249] });
    }
    if (name === "/api/open") {
      this.opens++;
      if (this.openFails) return this.json(response, 200, { ok: false, error: "The dongle is busy" });
      return this.json(response, 200, { ok: true });
    }
    if (name === "/api/feature" && request.method === "GET") {
      const id = Number(url.searchParams.get("id"));
      let payload = [];
      if (id === 0xf8) payload = Array.from(Buffer.from(this.version));
      else if (id === 0xf7) payload = Array.from({ length: 22 }, (_, i) => (i === 10 ? 2 : 0));
      else if (id === 0xf9) payload = [0xc4, 0x80];
      const bytes = Buffer.alloc(64);
      Buffer.from([id, ...payload]).copy(bytes);
      return this.json(response, 200, { ok: true, data: bytes.toString("base64") });
    }
    if (name === "/api/feature" || name === "/api/output") return this.json(response, 200, { ok: true });
    if (name === "/api/input" || name === "/api/fw/events") {
      response.writeHead(200, { "Content-Type": "text/event-stream", "Cache-Control": "no-store" });
      if (name === "/api/input") {
        this.inputs.add(response);
        response.on("close", () => this.inputs.delete(response));
        return response.write(":\n\n");
      }
      response.write("data: " + JSON.stringify(this.document) + "\n\n");
      this.streams.add(response);
      response.on("close", () => this.streams.delete(response));
      return undefined;
    }
    if (name === "/api/fw") return this.json(response, 200, this.document);
    if (name.startsWith("/api/fw/")) {
      this.calls.push({ path: name, fields: Object.fromEntries(new URLSearchParams(body)) });
      if (this.silent) return response.socket.destroy();
      const planned = (this.answers.get(name) || []).shift();
      if (planned) return this.json(response, planned.status, planned.body);
      return this.json(response, 200, { ok: true });
    }
    return this.json(response, 404, { ok: false, error: "no such call" });
  }
}
