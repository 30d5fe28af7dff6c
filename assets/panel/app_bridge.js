// WebHID over the Tarnwick app's local server. The panel script talks to navigator.hid as it does
// on the web; here navigator.hid is this stand-in, whose one device is the dongle as the app sees
// it, and window.TarnwickApp is the client of the app's firmware API.
(function () {
  "use strict";

  const TW_KEY = "TWTOKENPLACEHOLDER00000000000000";
  const POLL_MS = 1000;
  const APP_RESTARTED = "The app restarted; this page can no longer reach it.";

  // A restarted app has a key of its own: every call of this page is then answered 403 "bad key"
  // for good. From that moment the page stops calling, lets the dongle go and tells the page's
  // scripts with the "tarnwick:restarted" event on the document.
  let appRestarted = false;
  const appStreams = new Set();
  let hid = null;

  function isBadKey(response, body) {
    return response.status === 403 && !!body && body.ok === false && body.error === "bad key";
  }

  function lostTheApp() {
    if (appRestarted) return;
    appRestarted = true;
    appStreams.forEach((stream) => stream.close());
    appStreams.clear();
    if (hid) hid._stop();
    document.dispatchEvent(new CustomEvent("tarnwick:restarted"));
  }

  function refuseIfRestarted() {
    if (appRestarted) throw new Error(APP_RESTARTED);
  }

  function withKey(path) {
    return path + (path.indexOf("?") < 0 ? "?" : "&") + "k=" + encodeURIComponent(TW_KEY);
  }

  function formBody(fields) {
    return Object.keys(fields)
      .map((name) => encodeURIComponent(name) + "=" + encodeURIComponent(String(fields[name])))
      .join("&");
  }

  async function answerOf(response) {
    let body = null;
    try {
      body = await response.json();
    } catch (e) {
      body = null;
    }
    if (!body) throw new Error("The app gave an unreadable answer (" + response.status + ").");
    if (isBadKey(response, body)) {
      lostTheApp();
      throw new Error(APP_RESTARTED);
    }
    return body;
  }

  async function getJson(path) {
    refuseIfRestarted();
    const response = await fetch(withKey(path), { cache: "no-store" });
    return answerOf(response);
  }

  async function postForm(path, fields) {
    refuseIfRestarted();
    const response = await fetch(withKey(path), {
      method: "POST",
      cache: "no-store",
      headers: { "Content-Type": "application/x-www-form-urlencoded" },
      body: formBody(fields || {}),
    });
    return answerOf(response);
  }

  function checked(answer) {
    if (!answer || answer.ok !== true) {
      throw new Error((answer && answer.error) || "The app refused the request.");
    }
    return answer;
  }

  function toBase64(bytes) {
    let text = "";
    for (let i = 0; i < bytes.length; i++) text += String.fromCharCode(bytes[i]);
    return btoa(text);
  }

  function fromBase64(text) {
    const raw = atob(text);
    const bytes = new Uint8Array(raw.length);
    for (let i = 0; i < raw.length; i++) bytes[i] = raw.charCodeAt(i);
    return bytes;
  }

  function bytesOf(data) {
    if (data instanceof ArrayBuffer) return new Uint8Array(data);
    if (ArrayBuffer.isView(data)) return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
    return new Uint8Array(0);
  }

  function reportId(id) {
    const n = Number(id);
    if (!Number.isInteger(n) || n < 0 || n > 255) throw new TypeError("Bad report id " + id);
    return n;
  }

  function dispatch(target, type, fields) {
    const event = new Event(type);
    Object.keys(fields).forEach((name) => {
      Object.defineProperty(event, name, { value: fields[name], enumerable: true });
    });
    const handler = target["on" + type];
    target.dispatchEvent(event);
    if (typeof handler === "function") handler.call(target, event);
  }

  // An event source that the server closed for good (it answered with something other than a
  // stream) may mean a restarted app: ask now rather than at the next poll.
  function watchStream(stream) {
    stream.onerror = () => {
      if (stream.readyState === EventSource.CLOSED) getJson("/api/dev").catch(() => {});
    };
  }

  class AppHidDevice extends EventTarget {
    constructor(info) {
      super();
      this.vendorId = info.vid;
      this.productId = info.pid;
      this.productName = String(info.name || "");
      this.collections = [
        {
          usagePage: 0x01,
          usage: 0x05,
          type: 1,
          children: [],
          featureReports: (info.features || []).map((id) => ({ reportId: id, items: [] })),
          inputReports: [{ reportId: 0x01, items: [] }],
          outputReports: [{ reportId: 0x02, items: [] }],
        },
      ];
      this.opened = false;
      this.oninputreport = null;
      this._stream = null;
    }

    async open() {
      checked(await postForm("/api/open", {}));
      this.opened = true;
      this._listen();
    }

    async close() {
      this.opened = false;
      if (this._stream) this._stream.close();
      this._stream = null;
    }

    async forget() {
      await this.close();
    }

    _listen() {
      if (this._stream) this._stream.close();
      const stream = new EventSource(withKey("/api/input"));
      stream.onmessage = (message) => {
        if (!this.opened) return;
        let bytes;
        try {
          bytes = fromBase64(message.data);
        } catch (e) {
          return;
        }
        if (bytes.length < 2) return;
        dispatch(this, "inputreport", {
          device: this,
          reportId: bytes[0],
          data: new DataView(bytes.buffer, 1),
        });
      };
      // The browser reconnects an event source by itself after a lost connection.
      watchStream(stream);
      this._stream = stream;
    }

    async receiveFeatureReport(id) {
      const answer = checked(await getJson("/api/feature?id=" + reportId(id)));
      const bytes = fromBase64(answer.data || "");
      return new DataView(bytes.buffer);
    }

    async sendFeatureReport(id, data) {
      checked(await postForm("/api/feature", { id: reportId(id), data: toBase64(bytesOf(data)) }));
    }

    async sendReport(id, data) {
      checked(await postForm("/api/output", { id: reportId(id), data: toBase64(bytesOf(data)) }));
    }
  }

  class AppHid extends EventTarget {
    constructor() {
      super();
      this.onconnect = null;
      this.ondisconnect = null;
      this._device = null;
      this._identity = "";
      this._pollTimer = 0;
      this._firstPoll = new Promise((resolve) => {
        this._firstPollDone = resolve;
      });
      this._poll();
    }

    async getDevices() {
      await this._firstPoll;
      return this._device ? [this._device] : [];
    }

    // There is no device picker inside the app: the one dongle it sees is the answer.
    async requestDevice() {
      return this.getDevices();
    }

    // The app is gone for this page: no more polls, and the dongle it showed is let go.
    _stop() {
      clearTimeout(this._pollTimer);
      this._drop();
    }

    _drop() {
      const gone = this._device;
      this._device = null;
      this._identity = "";
      if (gone) {
        gone.close();
        dispatch(this, "disconnect", { device: gone });
      }
    }

    async _poll() {
      try {
        const info = await getJson("/api/dev");
        if (appRestarted) {
          // An answer of the old app that came in after the new one was noticed: ignore it.
        } else if (info && info.found === true) {
          const identity = [info.vid, info.pid, info.version, (info.features || []).join(",")].join("/");
          if (this._device && identity !== this._identity) this._drop();
          if (!this._device) {
            this._device = new AppHidDevice(info);
            this._identity = identity;
            dispatch(this, "connect", { device: this._device });
          }
        } else if (info && info.found === false) {
          this._drop();
        }
      } catch (e) {
        // The app may be busy or gone for a moment; the next poll decides.
      }
      this._firstPollDone();
      if (!appRestarted) this._pollTimer = setTimeout(() => this._poll(), POLL_MS);
    }
  }

  hid = new AppHid();
  Object.defineProperty(navigator, "hid", { value: hid, configurable: true, enumerable: true });

  window.TarnwickApp = {
    get: (path) => getJson(path),
    post: (path, fields) => postForm(path, fields),
    events(path, onData) {
      refuseIfRestarted();
      const stream = new EventSource(withKey(path));
      appStreams.add(stream);
      stream.onmessage = (message) => {
        let document;
        try {
          document = JSON.parse(message.data);
        } catch (e) {
          return;
        }
        onData(document);
      };
      watchStream(stream);
      return stream;
    },
  };
  window.__TARNWICK_APP__ = true;
})();
