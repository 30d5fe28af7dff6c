// The vendor's update host, simulated in memory behind the HTTPS port: it serves a release list
// and firmware files and can answer any status, redirect, leave out Content-Length, send less
// than it declared, or fail any step with a Windows error number.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/https.h"

namespace tw::sim {

// What the host answers for one path.
struct SimResponse {
  std::uint32_t status = 200;
  std::string body;
  // The Content-Length header: absent when false; its text is `contentLengthText` when that is
  // not empty (to declare more or less than the body holds), else the body's size.
  bool sendContentLength = true;
  std::string contentLengthText;
  std::string location;  // path on this host that a redirect points to
  // At most this many bytes are offered per read (0: all that is left, up to 8192).
  std::uint32_t chunkBytes = 0;
};

// One step of a GET fails with the given Windows error number (0: the step works).
struct SimHttpsFaults {
  std::uint32_t openAutomatic = 0;  // session with automatic proxy discovery
  std::uint32_t openDefault = 0;    // session with the configured proxy
  std::uint32_t connect = 0;
  std::uint32_t openRequest = 0;
  std::uint32_t send = 0;
  std::uint32_t receive = 0;
  std::uint32_t statusQuery = 0;  // any value: the status code cannot be read
  // The n-th data query or read of a request (counted from 1) fails with `dataError`.
  int failQueryAt = 0;
  int failReadAt = 0;
  std::uint32_t dataError = 12030;
};

// One entry of a release list document, written the way the vendor publishes it.
struct SimBuild {
  std::string version;
  std::string channel = "stable";
  std::string released = "2026-01-01";
  std::string url;
  std::string sha256;
  std::string sig;
  std::string size;  // JSON text of the size: a number, or anything else to test refusals
  std::string notes;
};

// What the host saw of the last GET.
struct SimHttpsRecord {
  std::vector<HttpsProxy> proxies;  // sessions asked for, in order
  std::string userAgent;
  HttpsTimeouts timeouts;
  std::string host;
  std::uint16_t port = 0;
  std::string path;
  HttpsRequestOptions options;
  std::string headers;
  std::vector<std::string> pathsServed;  // including redirect hops that were followed
};

class SimUpdateHost : public HttpsPort {
 public:
  // `hostName` is the name the host answers to; other names do not resolve.
  explicit SimUpdateHost(std::string hostName);
  ~SimUpdateHost() override;

  void serve(const std::string& path, const std::string& body);
  void respond(const std::string& path, const SimResponse& response);
  void remove(const std::string& path);
  void setFaults(const SimHttpsFaults& faults);
  // The next request that gets a response answers `status` with an empty body, whatever its path.
  void answerNextWith(std::uint32_t status);
  // Called after every read with the bytes delivered so far by that request.
  void onRead(std::function<void(std::uint64_t delivered)> hook);

  SimHttpsRecord record() const;
  // Sessions, connections and requests not yet closed.
  int openHandles() const;

  // The release list document for `builds`; `latest` is left out when empty.
  static std::string releaseListJson(const std::string& latest,
                                     const std::vector<SimBuild>& builds);

  std::unique_ptr<HttpsSession> open(std::string_view userAgent, HttpsProxy proxy,
                                     std::uint32_t& error) override;

 private:
  friend class SimSession;
  friend class SimConnection;
  friend class SimRequest;

  const std::string hostName_;
  mutable std::mutex mutex_;
  std::map<std::string, SimResponse> routes_;
  SimHttpsFaults faults_;
  std::uint32_t nextStatus_ = 0;  // 0: none
  std::function<void(std::uint64_t)> readHook_;
  SimHttpsRecord record_;
  int openHandles_ = 0;
};

}  // namespace tw::sim
