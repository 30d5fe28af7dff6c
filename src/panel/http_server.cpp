#include "panel/http_server.h"

#include <new>

#include "common/text.h"
#include "panel/http_text.h"
#include "panel/request_reading.h"

namespace tw {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one field of at most `maxChars` non-blank characters from the request line, skipping
// blanks before it. The request line ends at the first line feed: a field never comes from a
// header line.
bool scanField(std::string_view line, std::size_t& at, std::size_t maxChars, std::string& field) {
  while (at < line.size() && isBlank(line[at])) ++at;
  std::size_t start = at;
  while (at < line.size() && !isBlank(line[at]) && at - start < maxChars) ++at;
  field.assign(line.substr(start, at - start));
  return !field.empty();
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

PanelHttpServer::PanelHttpServer(HttpServerPorts ports, DongleLink& dongle,
                                 FirmwareService& firmware, std::string_view pageAsset,
                                 HttpServerSettings settings)
    : ports_(ports),
      pageAsset_(pageAsset),
      settings_(settings),
      devices_(dongle, firmware, stopping_, settings.device),
      firmware_(firmware, ports.clock, stopping_, settings.firmwareStream),
      noConnections_(ports.clock.createEvent(EventReset::Manual, true)) {}

PanelHttpServer::~PanelHttpServer() {
  stopping_.store(true);
  // The accept thread looks at the flag after each accept wait, so this ends within one.
  if (acceptThread_) acceptThread_->join(kWaitForever);
  if (!noConnections_) return;  // then no connection thread was ever started
  {
    std::lock_guard<std::mutex> lock(connectionsLock_);
    // A connection may wait up to 30 s for a request, or stream for as long as its peer stays.
    for (SocketConnection* connection : open_) connection->shutdownBoth();
  }
  noConnections_->wait(kWaitForever);
  // The last thread set the event under the lock; once the lock is free it no longer touches
  // anything of the server.
  std::lock_guard<std::mutex> lock(connectionsLock_);
}

int PanelHttpServer::activeConnections() {
  std::lock_guard<std::mutex> lock(connectionsLock_);
  return connections_;
}

bool PanelHttpServer::prepare() {
  runKey_ = makeRunKey(ports_.random);
  return preparePanelPage(pageAsset_, runKey_, page_);
}

bool PanelHttpServer::prepareWithoutSocket(std::uint32_t port) {
  if (!prepare()) return false;
  panelPort_.store(port);
  return true;
}

bool PanelHttpServer::startServer() {
  if (listener_) return false;  // started once; there is no second start
  if (!noConnections_) return false;
  if (!ports_.sockets.startup()) return false;
  if (!prepare()) return false;
  std::unique_ptr<ListeningSocket> listener = ports_.sockets.createListener();
  if (!listener) return false;
  std::uint16_t bound = 0;
  for (std::uint32_t port = settings_.firstPort; port <= settings_.lastPort; ++port) {
    if (listener->bindLoopback(static_cast<std::uint16_t>(port))) {
      bound = static_cast<std::uint16_t>(port);
      break;
    }
  }
  if (bound == 0 || !listener->listen(settings_.backlog)) {
    panelPort_.store(0);
    return false;
  }
  listener_ = std::move(listener);
  panelPort_.store(bound);
  acceptThread_ = ports_.clock.startThread([this] { acceptLoop(); });
  if (!acceptThread_) {
    listener_.reset();
    panelPort_.store(0);
    return false;
  }
  return true;
}

void PanelHttpServer::acceptLoop() {
  while (!stopping_.load()) {
    std::unique_ptr<SocketConnection> connection;
    AcceptOutcome outcome = listener_->accept(settings_.acceptWaitMs, connection);
    if (outcome == AcceptOutcome::TimedOut) continue;
    if (outcome == AcceptOutcome::Failed) {
      ports_.clock.sleepMs(settings_.acceptRetryMs);
      continue;
    }
    // Small JSON answers and event lines must leave at once, not wait for more to send.
    connection->setNoDelay(true);
    connection->setSendTimeout(settings_.sendTimeoutMs);
    connection->setReceiveTimeout(settings_.receiveTimeoutMs);
    startConnectionThread(std::move(connection));
  }
}

void PanelHttpServer::startConnectionThread(std::unique_ptr<SocketConnection> connection) {
  SocketConnection* raw = connection.release();
  {
    std::lock_guard<std::mutex> lock(connectionsLock_);
    if (connections_++ == 0) noConnections_->reset();
    open_.insert(raw);
  }
  auto finish = [this, raw] {
    std::lock_guard<std::mutex> lock(connectionsLock_);
    open_.erase(raw);
    delete raw;
    if (--connections_ == 0) noConnections_->set();
  };
  // The thread is never joined: dropping its handle lets it run on. The destructor waits for
  // all of them at once through noConnections_.
  bool started = ports_.clock.startThread([this, raw, finish] {
    serveConnection(*raw);
    finish();
  }) != nullptr;
  if (!started) finish();  // closed unanswered
}

void PanelHttpServer::serveConnection(SocketConnection& connection) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kRequestCapacity + 1]());
  if (!buffer) return;
  std::size_t received = 0;
  ReadingVerdict verdict;
  while (verdict.action == ReadingVerdict::Action::ReadMore) {
    long n = connection.receive(buffer.get() + received, kRequestCapacity - received);
    ReadingEnd end = ReadingEnd::StillReading;
    if (n <= 0) {
      // A receive error and the receive wait running out look the same here.
      end = n == 0 ? ReadingEnd::PeerClosed : ReadingEnd::TimedOut;
    } else {
      received += static_cast<std::size_t>(n);
      buffer[received] = '\0';
      if (received == kRequestCapacity) end = ReadingEnd::BufferFull;
    }
    if (received == 0 && end != ReadingEnd::StillReading) break;  // closed unanswered
    verdict = judgeReceived(std::string_view(buffer.get(), received), end);
  }
  if (verdict.action == ReadingVerdict::Action::Handle) {
    handleRequest(connection, buffer.get(), verdict.length);
  } else if (verdict.action == ReadingVerdict::Action::Refuse) {
    sendJsonError(connection, verdict.status, verdict.message);
  }
  connection.shutdownSend();
}

void PanelHttpServer::handleRequest(SocketConnection& connection, const char* data,
                                    std::size_t length) {
  std::string_view request(data, length);
  // A NUL ends a text for some readers and not for others; no request of the page holds one.
  if (request.find('\0') != std::string_view::npos) {
    return sendJsonError(connection, kBadRequest, "bad request");
  }
  const RequestParts parts = splitRequest(request);
  const std::string_view head = parts.head;
  const std::string_view body = parts.body;

  std::string_view requestLine = head.substr(0, head.find('\n'));
  std::string method;
  std::string target;
  std::size_t at = 0;
  if (!scanField(requestLine, at, kMethodChars, method) ||
      !scanField(requestLine, at, kTargetChars, target)) {
    return sendJsonError(connection, kBadRequest, "bad request");
  }
  // Each check reads one header; given twice, the one checked might not be the one acted on.
  for (std::string_view name : {"Host", "Origin", "X-TW-Key"}) {
    if (headerCount(head, name) > 1) {
      return sendJsonError(connection, kBadRequest, "repeated header");
    }
  }

  const std::uint32_t port = panelPort_.load();
  std::string host;
  if (!headerValue(head, "Host", host, kHostCapacity) ||
      !(equalsIgnoreCase(host, formatText(64, "127.0.0.1:%u", port)) ||
        equalsIgnoreCase(host, formatText(64, "localhost:%u", port)) ||
        equalsIgnoreCase(host, formatText(64, "[::1]:%u", port)))) {
    return sendJsonError(connection, kForbidden, "not a local request");
  }

  std::string_view targetView = target;
  std::size_t question = targetView.find('?');
  std::string_view path = targetView.substr(0, question);
  std::string_view query =
      question == std::string_view::npos ? std::string_view() : targetView.substr(question + 1);

  if (method == "GET" && path == "/") return servePage(connection, page_);
  if (!startsWith(path, "/api/")) {
    return sendResponse(connection, kNotFound, "text/plain; charset=utf-8", "No.\n");
  }
  const bool isPost = method == "POST";

  std::string origin;
  if (headerValue(head, "Origin", origin, kOriginCapacity) &&
      !(equalsIgnoreCase(origin, formatText(64, "http://127.0.0.1:%u", port)) ||
        equalsIgnoreCase(origin, formatText(64, "http://localhost:%u", port)))) {
    return sendJsonError(connection, kForbidden, "cross-origin");
  }

  // A present "k", even an empty one, is the key; only without it does the header count.
  std::string key;
  if (!formValue(query, "k", key, kKeyCapacity)) {
    headerValue(head, "X-TW-Key", key, kKeyCapacity);
  }
  if (runKey_.size() != kRunKeyLength || !constantTimeEquals(key, runKey_)) {
    return sendJsonError(connection, kForbidden, "bad key");
  }
  routeApi(connection, path, query, body, isPost);
}

void PanelHttpServer::routeApi(SocketConnection& connection, std::string_view path,
                               std::string_view query, std::string_view body, bool isPost) {
  if (path == "/api/dev") return devices_.deviceInfo(connection);
  if (path == "/api/open") return devices_.open(connection);
  if (path == "/api/input") return devices_.inputStream(connection);
  if (path == "/api/feature") return devices_.feature(connection, query, body, isPost);
  if (path == "/api/output") return devices_.output(connection, body, isPost);
  if (path == "/api/fw") return firmware_.state(connection);
  if (path == "/api/fw/events") return firmware_.events(connection);
  if (startsWith(path, "/api/fw/")) return firmware_.action(connection, path, body, isPost);
  sendJsonError(connection, kNotFound, "no such call");
}

}  // namespace tw
