#include "sim/update_host_sim.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tw::sim {
namespace {

constexpr std::uint32_t kIncorrectHandleState = 12019;
constexpr std::uint32_t kInvalidServerResponse = 12152;
constexpr std::uint32_t kRedirectFailed = 12156;
constexpr std::uint32_t kDefaultChunk = 8192;

bool isRedirect(std::uint32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

// A live handle: counted so that tests can see every one closed.
class SimHandle {
 public:
  explicit SimHandle(SimUpdateHost* host, std::mutex& mutex, int& counter)
      : host_(host), mutex_(mutex), counter_(counter) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counter_;
  }
  ~SimHandle() {
    std::lock_guard<std::mutex> lock(mutex_);
    --counter_;
  }

 protected:
  SimUpdateHost* host_;
  std::mutex& mutex_;

 private:
  int& counter_;
};

class SimRequest : public HttpsRequest, SimHandle {
 public:
  SimRequest(SimUpdateHost* host, std::mutex& mutex, int& counter, std::string hostName,
             std::uint16_t port, std::string path, HttpsRequestOptions options)
      : SimHandle(host, mutex, counter),
        hostName_(std::move(hostName)),
        port_(port),
        path_(std::move(path)),
        options_(options) {}

  bool send(std::string_view headers, std::uint32_t& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    host_->record_.headers = std::string(headers);
    if (host_->faults_.send != 0) return failWith(error, host_->faults_.send);
    if (hostName_ != host_->hostName_) return failWith(error, HTTPS_ERROR_NAME_NOT_RESOLVED);
    if (port_ != 443) return failWith(error, HTTPS_ERROR_CANNOT_CONNECT);
    // The host speaks TLS only; a plain request gets no sensible answer.
    if (!options_.secure) return failWith(error, kInvalidServerResponse);
    sent_ = true;
    return true;
  }

  bool receiveResponse(std::uint32_t& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sent_) return failWith(error, kIncorrectHandleState);
    if (host_->faults_.receive != 0) return failWith(error, host_->faults_.receive);
    if (host_->nextStatus_ != 0) {
      host_->record_.pathsServed.push_back(path_);
      response_ = SimResponse{};
      response_.status = host_->nextStatus_;
      host_->nextStatus_ = 0;
      received_ = true;
      return true;
    }
    std::string path = path_;
    for (int hop = 0;; ++hop) {
      host_->record_.pathsServed.push_back(path);
      auto route = host_->routes_.find(path);
      if (route == host_->routes_.end()) {
        response_ = SimResponse{};
        response_.status = 404;
        response_.body = "not found";
        break;
      }
      response_ = route->second;
      if (options_.disableRedirects || !isRedirect(response_.status)) break;
      if (hop == 10) return failWith(error, kRedirectFailed);
      path = response_.location;
    }
    received_ = true;
    return true;
  }

  bool statusCode(std::uint32_t& status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!received_ || host_->faults_.statusQuery != 0) return false;
    status = response_.status;
    return true;
  }

  bool contentLength(std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!received_ || !response_.sendContentLength) return false;
    text = response_.contentLengthText.empty() ? std::to_string(response_.body.size())
                                               : response_.contentLengthText;
    return true;
  }

  bool queryDataAvailable(std::uint32_t& bytes, std::uint32_t& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!received_) return failWith(error, kIncorrectHandleState);
    if (++queries_ == host_->faults_.failQueryAt) return failWith(error, host_->faults_.dataError);
    bytes = static_cast<std::uint32_t>(std::min<std::size_t>(remaining(), chunk()));
    return true;
  }

  bool readData(unsigned char* buffer, std::uint32_t size, std::uint32_t& bytesRead,
                std::uint32_t& error) override {
    std::function<void(std::uint64_t)> hook;
    std::uint64_t delivered;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!received_) return failWith(error, kIncorrectHandleState);
      if (++reads_ == host_->faults_.failReadAt) return failWith(error, host_->faults_.dataError);
      const std::size_t n = std::min<std::size_t>({size, remaining(), chunk()});
      if (n > 0) std::memcpy(buffer, response_.body.data() + delivered_, n);
      delivered_ += n;
      bytesRead = static_cast<std::uint32_t>(n);
      hook = host_->readHook_;
      delivered = delivered_;
    }
    if (hook) hook(delivered);
    return true;
  }

 private:
  static bool failWith(std::uint32_t& error, std::uint32_t code) {
    error = code;
    return false;
  }
  std::size_t remaining() const { return response_.body.size() - delivered_; }
  std::size_t chunk() const {
    return response_.chunkBytes != 0 ? response_.chunkBytes : kDefaultChunk;
  }

  const std::string hostName_;
  const std::uint16_t port_;
  const std::string path_;
  const HttpsRequestOptions options_;
  bool sent_ = false;
  bool received_ = false;
  SimResponse response_;
  std::size_t delivered_ = 0;
  int queries_ = 0;
  int reads_ = 0;
};

class SimConnection : public HttpsConnection, SimHandle {
 public:
  SimConnection(SimUpdateHost* host, std::mutex& mutex, int& counter, std::string hostName,
                std::uint16_t port)
      : SimHandle(host, mutex, counter), hostName_(std::move(hostName)), port_(port) {}

  std::unique_ptr<HttpsRequest> openGet(std::string_view path, const HttpsRequestOptions& options,
                                        std::uint32_t& error) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      host_->record_.path = std::string(path);
      host_->record_.options = options;
      if (host_->faults_.openRequest != 0) {
        error = host_->faults_.openRequest;
        return nullptr;
      }
    }
    return std::make_unique<SimRequest>(host_, mutex_, host_->openHandles_, hostName_, port_,
                                        std::string(path), options);
  }

 private:
  const std::string hostName_;
  const std::uint16_t port_;
};

class SimSession : public HttpsSession, SimHandle {
 public:
  SimSession(SimUpdateHost* host, std::mutex& mutex, int& counter)
      : SimHandle(host, mutex, counter) {}

  bool setTimeouts(const HttpsTimeouts& timeouts) override {
    std::lock_guard<std::mutex> lock(mutex_);
    host_->record_.timeouts = timeouts;
    return true;
  }

  std::unique_ptr<HttpsConnection> connect(std::string_view host, std::uint16_t port,
                                           std::uint32_t& error) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      host_->record_.host = std::string(host);
      host_->record_.port = port;
      if (host_->faults_.connect != 0) {
        error = host_->faults_.connect;
        return nullptr;
      }
    }
    return std::make_unique<SimConnection>(host_, mutex_, host_->openHandles_, std::string(host),
                                           port);
  }
};

SimUpdateHost::SimUpdateHost(std::string hostName) : hostName_(std::move(hostName)) {}

SimUpdateHost::~SimUpdateHost() = default;

void SimUpdateHost::serve(const std::string& path, const std::string& body) {
  SimResponse response;
  response.body = body;
  respond(path, response);
}

void SimUpdateHost::respond(const std::string& path, const SimResponse& response) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = response;
}

void SimUpdateHost::remove(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_.erase(path);
}

void SimUpdateHost::setFaults(const SimHttpsFaults& faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_ = faults;
}

void SimUpdateHost::answerNextWith(std::uint32_t status) {
  std::lock_guard<std::mutex> lock(mutex_);
  nextStatus_ = status;
}

void SimUpdateHost::onRead(std::function<void(std::uint64_t delivered)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  readHook_ = std::move(hook);
}

SimHttpsRecord SimUpdateHost::record() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}

int SimUpdateHost::openHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openHandles_;
}

std::unique_ptr<HttpsSession> SimUpdateHost::open(std::string_view userAgent, HttpsProxy proxy,
                                                  std::uint32_t& error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (record_.proxies.empty() || proxy == HttpsProxy::Automatic) record_ = SimHttpsRecord{};
    record_.proxies.push_back(proxy);
    record_.userAgent = std::string(userAgent);
    const std::uint32_t fault =
        proxy == HttpsProxy::Automatic ? faults_.openAutomatic : faults_.openDefault;
    if (fault != 0) {
      error = fault;
      return nullptr;
    }
  }
  return std::make_unique<SimSession>(this, mutex_, openHandles_);
}

std::string SimUpdateHost::releaseListJson(const std::string& latest,
                                           const std::vector<SimBuild>& builds) {
  std::string out = "{\n";
  if (!latest.empty()) out += "  \"latest\": " + jsonString(latest) + ",\n";
  out += "  \"builds\": [";
  for (std::size_t i = 0; i < builds.size(); ++i) {
    const SimBuild& b = builds[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"version\": " + jsonString(b.version) +
           ", \"channel\": " + jsonString(b.channel) + ", \"released\": " + jsonString(b.released) +
           ", \"url\": " + jsonString(b.url) + ", \"sha256\": " + jsonString(b.sha256) +
           ", \"sig\": " + jsonString(b.sig) + ", \"size\": " + (b.size.empty() ? "0" : b.size) +
           ", \"notes\": " + jsonString(b.notes) + "}";
  }
  out += builds.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

}  // namespace tw::sim
