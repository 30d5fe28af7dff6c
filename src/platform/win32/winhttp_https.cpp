#include "platform/win32/winhttp_https.h"

#include <windows.h>
#include <winhttp.h>

#include <string>
#include <vector>

#include "platform/win32/utf16.h"

namespace tw {
namespace {

using win32::toUtf16;

class ScopedInternet {
 public:
  explicit ScopedInternet(HINTERNET h) : h_(h) {}
  ~ScopedInternet() {
    if (h_ != nullptr) WinHttpCloseHandle(h_);
  }
  ScopedInternet(const ScopedInternet&) = delete;
  ScopedInternet& operator=(const ScopedInternet&) = delete;
  HINTERNET get() const { return h_; }

 private:
  HINTERNET h_;
};

class WinHttpRequest : public HttpsRequest {
 public:
  explicit WinHttpRequest(HINTERNET request) : request_(request) {}

  bool send(std::string_view headers, std::uint32_t& error) override {
    const std::wstring lines = toUtf16(headers);
    if (WinHttpSendRequest(request_.get(), lines.c_str(), static_cast<DWORD>(lines.size()),
                           WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
      return true;
    }
    error = GetLastError();
    return false;
  }

  bool receiveResponse(std::uint32_t& error) override {
    if (WinHttpReceiveResponse(request_.get(), nullptr)) return true;
    error = GetLastError();
    return false;
  }

  bool statusCode(std::uint32_t& status) override {
    DWORD value = 0, size = sizeof value;
    if (!WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      return false;
    }
    status = value;
    return true;
  }

  bool contentLength(std::string& text) override {
    DWORD size = 0;
    WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_CONTENT_LENGTH,
                             WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      return false;
    }
    text.clear();
    for (std::size_t i = 0; i < size / sizeof(wchar_t); ++i) {
      text.push_back(buffer[i] < 0x80 ? static_cast<char>(buffer[i]) : '?');
    }
    return true;
  }

  bool queryDataAvailable(std::uint32_t& bytes, std::uint32_t& error) override {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request_.get(), &available)) {
      error = GetLastError();
      return false;
    }
    bytes = available;
    return true;
  }

  bool readData(unsigned char* buffer, std::uint32_t size, std::uint32_t& bytesRead,
                std::uint32_t& error) override {
    DWORD read = 0;
    if (!WinHttpReadData(request_.get(), buffer, size, &read)) {
      error = GetLastError();
      return false;
    }
    bytesRead = read;
    return true;
  }

 private:
  ScopedInternet request_;
};

class WinHttpConnection : public HttpsConnection {
 public:
  explicit WinHttpConnection(HINTERNET connection) : connection_(connection) {}

  std::unique_ptr<HttpsRequest> openGet(std::string_view path, const HttpsRequestOptions& options,
                                        std::uint32_t& error) override {
    DWORD flags = 0;
    if (options.secure) flags |= WINHTTP_FLAG_SECURE;
    if (options.refresh) flags |= WINHTTP_FLAG_REFRESH;
    const std::wstring object = toUtf16(path);
    HINTERNET request = WinHttpOpenRequest(connection_.get(), L"GET", object.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (request == nullptr) {
      error = GetLastError();
      return nullptr;
    }
    auto owned = std::make_unique<WinHttpRequest>(request);
    if (options.disableRedirects) {
      DWORD feature = WINHTTP_DISABLE_REDIRECTS;
      if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature)) {
        error = GetLastError();
        return nullptr;
      }
    }
    return owned;
  }

 private:
  ScopedInternet connection_;
};

class WinHttpSession : public HttpsSession {
 public:
  explicit WinHttpSession(HINTERNET session) : session_(session) {}

  bool setTimeouts(const HttpsTimeouts& t) override {
    return WinHttpSetTimeouts(session_.get(), t.resolveMs, t.connectMs, t.sendMs, t.receiveMs) !=
           FALSE;
  }

  std::unique_ptr<HttpsConnection> connect(std::string_view host, std::uint16_t port,
                                           std::uint32_t& error) override {
    const std::wstring name = toUtf16(host);
    HINTERNET connection = WinHttpConnect(session_.get(), name.c_str(), port, 0);
    if (connection == nullptr) {
      error = GetLastError();
      return nullptr;
    }
    return std::make_unique<WinHttpConnection>(connection);
  }

 private:
  ScopedInternet session_;
};

}  // namespace

std::unique_ptr<HttpsSession> WinHttpPort::open(std::string_view userAgent, HttpsProxy proxy,
                                                std::uint32_t& error) {
  const std::wstring agent = toUtf16(userAgent);
  const DWORD access = proxy == HttpsProxy::Automatic ? WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
                                                      : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  HINTERNET session =
      WinHttpOpen(agent.c_str(), access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) {
    error = GetLastError();
    return nullptr;
  }
  return std::make_unique<WinHttpSession>(session);
}

}  // namespace tw
