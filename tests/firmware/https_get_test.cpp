#include "firmware/https_get.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "firmware/update_host.h"
#include "sim/update_host_sim.h"

namespace tw {
namespace {

using sim::SimHttpsFaults;
using sim::SimResponse;
using sim::SimUpdateHost;

const std::string kHost = UpdateHost;

struct Fetch {
  int ok = 0;
  std::string body;
  std::string error;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
};

class HttpsGetTest : public ::testing::Test {
 protected:
  Fetch get(const std::string& path = "/firmware/manifest.json", std::size_t max = 262144,
            bool withProgress = true) {
    Fetch f;
    FetchedBytes data;
    std::size_t length = 12345;
    char error[200] = "stale";
    HttpsProgress progress;
    if (withProgress) {
      progress = [&](std::uint64_t got, std::uint64_t total) {
        f.progress.push_back({got, total});
      };
    }
    f.ok = httpsGet(host, &stop, path, max, data, length, progress, error, sizeof error);
    f.error = error;
    if (f.ok) {
      EXPECT_NE(data, nullptr);
      f.body.assign(reinterpret_cast<const char*>(data.get()), length);
    } else {
      EXPECT_EQ(data, nullptr);
      EXPECT_EQ(length, 0u);
    }
    EXPECT_EQ(host.openHandles(), 0) << "every handle is closed";
    return f;
  }

  void respond(const SimResponse& r, const std::string& path = "/firmware/manifest.json") {
    host.respond(path, r);
  }

  SimUpdateHost host{kHost};
  std::atomic<bool> stop{false};
};

TEST_F(HttpsGetTest, FetchesABodyWithTheAgreedOptions) {
  host.serve("/firmware/manifest.json", "{\"builds\":[]}");
  Fetch f = get();
  ASSERT_EQ(f.ok, 1) << f.error;
  EXPECT_EQ(f.body, "{\"builds\":[]}");
  EXPECT_EQ(f.error, "");
  sim::SimHttpsRecord seen = host.record();
  EXPECT_EQ(seen.userAgent, "TarnwickBridge/1.2.0");
  ASSERT_EQ(seen.proxies.size(), 1u);
  EXPECT_EQ(seen.proxies[0], HttpsProxy::Automatic);
  EXPECT_EQ(seen.timeouts.resolveMs, 10000);
  EXPECT_EQ(seen.timeouts.connectMs, 10000);
  EXPECT_EQ(seen.timeouts.sendMs, 15000);
  EXPECT_EQ(seen.timeouts.receiveMs, 20000);
  EXPECT_EQ(seen.port, 443);
  EXPECT_TRUE(seen.options.secure);
  EXPECT_TRUE(seen.options.refresh);
  EXPECT_TRUE(seen.options.disableRedirects);
  EXPECT_EQ(seen.headers, "Cache-Control: no-cache\r\n");
}

TEST_F(HttpsGetTest, LargeBodiesArriveWholeThroughTheGrowingBuffer) {
  std::string body;
  for (int i = 0; i < 300000; ++i) body.push_back(static_cast<char>(i * 7 + i / 251));
  SimResponse r;
  r.body = body;
  r.chunkBytes = 7001;  // an odd size, so buffer growth happens mid-read
  respond(r, "/firmware/a.uf2");
  Fetch f = get("/firmware/a.uf2", 16777216);
  ASSERT_EQ(f.ok, 1) << f.error;
  EXPECT_EQ(f.body, body);
  ASSERT_FALSE(f.progress.empty());
  EXPECT_EQ(f.progress.back().first, body.size());
  EXPECT_EQ(f.progress.back().second, body.size());
  EXPECT_EQ(f.progress.front().first, 7001u);
}

TEST_F(HttpsGetTest, BodyOfExactlyTheMaximumFitsInABufferOfThatSize) {
  SimResponse r;
  r.body = std::string(100000, 'x');
  respond(r);
  EXPECT_EQ(get("/firmware/manifest.json", 100000).ok, 1);
  EXPECT_EQ(get("/firmware/manifest.json", 99999).error,
            "the download is bigger than it should be");
}

TEST_F(HttpsGetTest, FallsBackToTheDefaultProxySetting) {
  host.serve("/firmware/manifest.json", "{}");
  SimHttpsFaults faults;
  faults.openAutomatic = 87;
  host.setFaults(faults);
  EXPECT_EQ(get().ok, 1);
  ASSERT_EQ(host.record().proxies.size(), 2u);
  EXPECT_EQ(host.record().proxies[1], HttpsProxy::Default);
  faults.openDefault = 8;
  host.setFaults(faults);
  EXPECT_EQ(get().error, "couldn't start a web request (error 8)");
}

TEST_F(HttpsGetTest, ConnectionFailuresNameTheHostAndTheError) {
  host.serve("/firmware/manifest.json", "{}");
  struct Case {
    SimHttpsFaults faults;
    std::string message;
  };
  std::vector<Case> cases(6);
  cases[0].faults.connect = 12005;
  cases[0].message = "couldn't reach " + kHost + " (error 12005)";
  cases[1].faults.openRequest = 12006;
  cases[1].message = "couldn't reach " + kHost + " (error 12006)";
  cases[2].faults.send = 12002;
  cases[2].message = kHost + " didn't answer in time";
  cases[3].faults.receive = 12002;
  cases[3].message = kHost + " didn't answer in time";
  cases[4].faults.send = 12007;
  cases[4].message = "this PC looks offline";
  cases[5].faults.receive = 12029;
  cases[5].message = "this PC looks offline";
  for (const Case& c : cases) {
    host.setFaults(c.faults);
    Fetch f = get();
    EXPECT_EQ(f.ok, 0);
    EXPECT_EQ(f.error, c.message);
  }
  SimHttpsFaults secure;
  secure.send = 12175;
  host.setFaults(secure);
  EXPECT_EQ(get().error, "couldn't reach " + kHost + " (error 12175)");
}

TEST_F(HttpsGetTest, OtherHostNamesDoNotResolve) {
  SimUpdateHost elsewhere("mirror.example");
  elsewhere.serve("/firmware/manifest.json", "{}");
  FetchedBytes data;
  std::size_t length = 0;
  char error[200];
  EXPECT_EQ(httpsGet(elsewhere, nullptr, "/firmware/manifest.json", 1000, data, length, {}, error,
                     sizeof error),
            0);
  EXPECT_STREQ(error, "this PC looks offline");
}

TEST_F(HttpsGetTest, OnlyStatus200IsAnAnswer) {
  host.serve("/firmware/manifest.json", "{}");
  SimResponse moved;
  moved.status = 302;
  moved.location = "/firmware/manifest.json";
  respond(moved, "/old.json");
  Fetch f = get("/old.json");
  EXPECT_EQ(f.ok, 0);
  EXPECT_EQ(f.error, kHost + " answered 302");
  EXPECT_EQ(host.record().pathsServed.size(), 1u);
  EXPECT_EQ(get("/missing").error, kHost + " answered 404");
  SimResponse busy;
  busy.status = 503;
  busy.body = "later";
  respond(busy);
  EXPECT_EQ(get().error, kHost + " answered 503");
  host.serve("/firmware/manifest.json", "{}");
  SimHttpsFaults faults;
  faults.statusQuery = 1;
  host.setFaults(faults);
  EXPECT_EQ(get().error, kHost + " answered 0");
}

TEST_F(HttpsGetTest, LengthRules) {
  SimResponse r;
  r.body = "";
  r.sendContentLength = false;
  respond(r);
  EXPECT_EQ(get().error, kHost + " sent nothing");

  r.body = "12345678";
  r.contentLengthText = "10";
  r.sendContentLength = true;
  respond(r);
  EXPECT_EQ(get().error, "the download was cut short");

  r.contentLengthText = "262145";
  respond(r);
  Fetch tooBig = get();
  EXPECT_EQ(tooBig.error, "the download is bigger than it should be");
  EXPECT_TRUE(tooBig.progress.empty()) << "refused before any byte is read";

  r.contentLengthText = "99999999999999999999999";
  respond(r);
  EXPECT_EQ(get().error, "the download is bigger than it should be");

  // Without a Content-Length the limit is kept while reading.
  r.sendContentLength = false;
  r.body = std::string(300, 'x');
  r.chunkBytes = 100;
  respond(r);
  Fetch f = get("/firmware/manifest.json", 250);
  EXPECT_EQ(f.error, "the download is bigger than it should be");
  EXPECT_EQ(f.progress.size(), 2u);
  EXPECT_EQ(f.progress.back().second, 0u) << "no length to report";

  r.body = "{}";
  respond(r);
  Fetch ok = get();
  EXPECT_EQ(ok.ok, 1);
  EXPECT_EQ(ok.body, "{}");

  // Declared empty and empty: a success with nothing in it.
  r.sendContentLength = true;
  r.contentLengthText = "";
  r.body = "";
  respond(r);
  Fetch empty = get();
  EXPECT_EQ(empty.ok, 1);
  EXPECT_EQ(empty.body, "");
}

TEST_F(HttpsGetTest, ReadFailuresCarryTheWindowsError) {
  SimResponse r;
  r.body = std::string(5000, 'x');
  r.chunkBytes = 1000;
  respond(r);
  SimHttpsFaults faults;
  faults.failQueryAt = 3;
  faults.dataError = 12030;
  host.setFaults(faults);
  EXPECT_EQ(get().error, "the download broke off (error 12030)");
  faults = {};
  faults.failReadAt = 2;
  faults.dataError = 12152;
  host.setFaults(faults);
  EXPECT_EQ(get().error, "the download broke off (error 12152)");
}

TEST_F(HttpsGetTest, StopFlagEndsTheFetch) {
  SimResponse r;
  r.body = std::string(5000, 'x');
  r.chunkBytes = 1000;
  respond(r);
  stop = true;
  Fetch before = get();
  EXPECT_EQ(before.error, "stopped");
  EXPECT_TRUE(before.progress.empty());

  stop = false;
  host.onRead([&](std::uint64_t delivered) {
    if (delivered >= 2000) stop = true;
  });
  Fetch during = get();
  EXPECT_EQ(during.error, "stopped");
  EXPECT_EQ(during.progress.size(), 2u);
}

TEST_F(HttpsGetTest, MessagesAreCutToTheCallersBuffer) {
  host.setFaults([] {
    SimHttpsFaults f;
    f.connect = 4294967295u;
    return f;
  }());
  FetchedBytes data;
  std::size_t length = 0;
  char error[16];
  EXPECT_EQ(httpsGet(host, &stop, "/x", 10, data, length, {}, error, sizeof error), 0);
  EXPECT_STREQ(error, "couldn't reach ");
}

}  // namespace
}  // namespace tw
