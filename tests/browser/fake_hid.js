// A scriptable WebHID for testing the panel script alone: stands where the app's bridge or the
// browser's own navigator.hid would be. Tests drive it through window.fakeHid.
(function () {
  "use strict";

  function dispatch(target, type, fields) {
    const event = new Event(type);
    Object.keys(fields).forEach((name) => {
      Object.defineProperty(event, name, { value: fields[name], enumerable: true });
    });
    target.dispatchEvent(event);
  }

  // version 1, haptics 1.0, speaker 80, headset 60, boost 0, sleep 30 min, status light on, full
  // speed, buffer 32, controller type automatic, the rest off, no GPIO pin.
  const FACTORY = [1, 0, 0, 0x80, 0x3f, 80, 60, 0, 30, 0, 2, 32, 2, 0, 0, 0, 0, 0, 0, 0, 0xff, 0];

  class FakeDevice extends EventTarget {
    constructor(options) {
      super();
      this.vendorId = options.vendorId ?? 0x054c;
      this.productId = options.productId ?? 0x0ce6;
      this.productName = "Wireless Controller";
      this.collections = [
        {
          usagePage: 1,
          usage: 5,
          featureReports: (options.features ?? [0xf6, 0xf7, 0xf8, 0xf9]).map((reportId) => ({ reportId })),
          inputReports: [{ reportId: 1 }],
          outputReports: [{ reportId: 2 }],
        },
      ];
      // Whether feature reports carry their id as byte 0 (as on Windows).
      this.idInData = options.idInData ?? true;
      this.version = options.version ?? "0.9.3";
      this.signal = [0, 0];
      this.config = Uint8Array.from(options.config ?? FACTORY);
      // What an invalid byte becomes, and the largest valid value of some bytes.
      this.factory = Uint8Array.from(options.factory ?? FACTORY);
      this.limits = options.limits ?? {};
      this.saves = 0;
      this.failFeature = options.failFeature ?? null;
      this.hold = options.hold ?? null;
      // A command (byte 0 of report 0xF6) that the dongle refuses.
      this.failCommand = options.failCommand ?? null;
      this.opened = false;
      this.closes = 0;
      this.sent = [];
      this.features = [];
    }
    async open() {
      this.opened = true;
    }
    async close() {
      this.opened = false;
      this.closes++;
    }
    async receiveFeatureReport(id) {
      // A report held back until the test calls release().
      if (this.hold === id) await new Promise((resolve) => { this.release = resolve; });
      if (this.failFeature === id) throw new Error("The dongle did not answer");
      let payload;
      if (id === 0xf8) payload = Array.from(new TextEncoder().encode(this.version));
      else if (id === 0xf9) payload = this.signal.map((v) => v & 0xff);
      else if (id === 0xf7) payload = Array.from(this.config);
      else payload = [];
      const bytes = new Uint8Array(63 + (this.idInData ? 1 : 0));
      bytes.set(this.idInData ? [id, ...payload] : payload);
      return new DataView(bytes.buffer);
    }
    async sendFeatureReport(id, data) {
      const bytes = Array.from(new Uint8Array(data.buffer, data.byteOffset, data.byteLength));
      this.features.push([id, bytes, performance.now()]);
      if (id !== 0xf6) return;
      if (this.failCommand === bytes[0]) throw new Error("The dongle refused the write");
      if (bytes[0] === 0x01) {
        // As the dongle does: every invalid byte gets its factory value.
        this.config = Uint8Array.from(bytes.slice(1, 23), (b, i) =>
          b === 0xff || b > (this.limits[i] ?? 0xff) ? this.factory[i] : b);
      } else if (bytes[0] === 0x02) {
        this.saves++;
      }
    }
    async sendReport(id, data) {
      this.sent.push([id, Array.from(new Uint8Array(data.buffer || data)), performance.now()]);
    }
    input(reportId, bytes) {
      const data = new Uint8Array(bytes);
      dispatch(this, "inputreport", { device: this, reportId, data: new DataView(data.buffer) });
    }
  }

  class FakeHid extends EventTarget {
    constructor() {
      super();
      this.devices = [];
    }
    async getDevices() {
      return this.devices.slice();
    }
    async requestDevice() {
      return this.devices.slice();
    }
  }

  const hid = new FakeHid();
  Object.defineProperty(navigator, "hid", { value: hid, configurable: true });

  window.fakeHid = {
    hid,
    add(options) {
      const device = new FakeDevice(options || {});
      hid.devices.push(device);
      return device;
    },
    connect(options) {
      const device = this.add(options);
      dispatch(hid, "connect", { device });
      return device;
    },
    disconnect(device) {
      hid.devices = hid.devices.filter((d) => d !== device);
      dispatch(hid, "disconnect", { device });
    },
    // An input report of `length` data bytes with the battery byte set.
    battery(device, byte, length = 63) {
      const bytes = new Uint8Array(length);
      if (length > 52) bytes[52] = byte;
      device.input(1, bytes);
    },
  };
  // The test page sets options before the panel script runs.
  const options = window.fakeHidOptions || {};
  if (options.inApp) window.__TARNWICK_APP__ = true;
  if (options.dongle !== false) window.fakeHid.add(options.device || {});
})();
