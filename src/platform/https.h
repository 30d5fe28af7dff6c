// HTTPS: one GET at a time, step by step as WinHTTP takes it (session, connection, request, send,
// response, headers, read loop). Texts (user agent, host, path, header lines) are UTF-8; only the
// adapter speaks UTF-16. Failures carry the Windows error number; the system turns them into
// words. Windows: WinHTTP. Linux: the simulated update host.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tw {

// Windows error numbers of WinHTTP that the system tells apart.
inline constexpr std::uint32_t HTTPS_ERROR_TIMEOUT = 12002;
inline constexpr std::uint32_t HTTPS_ERROR_NAME_NOT_RESOLVED = 12007;
inline constexpr std::uint32_t HTTPS_ERROR_CANNOT_CONNECT = 12029;
inline constexpr std::uint32_t HTTPS_ERROR_SECURE_FAILURE = 12175;

enum class HttpsProxy {
  Automatic,  // WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
  Default,    // WINHTTP_ACCESS_TYPE_DEFAULT_PROXY
};

struct HttpsTimeouts {
  int resolveMs = 0;
  int connectMs = 0;
  int sendMs = 0;
  int receiveMs = 0;
};

struct HttpsRequestOptions {
  bool secure = false;            // WINHTTP_FLAG_SECURE
  bool refresh = false;           // WINHTTP_FLAG_REFRESH: no cached answer
  bool disableRedirects = false;  // WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS
};

// An open GET request. Destroying it closes the request handle.
class HttpsRequest {
 public:
  virtual ~HttpsRequest() = default;
  // Sends the request with the extra header lines and no body.
  virtual bool send(std::string_view headers, std::uint32_t& error) = 0;
  virtual bool receiveResponse(std::uint32_t& error) = 0;
  // The numeric status; false when it cannot be had.
  virtual bool statusCode(std::uint32_t& status) = 0;
  // The Content-Length header's text as sent; false when the response has none.
  virtual bool contentLength(std::string& text) = 0;
  virtual bool queryDataAvailable(std::uint32_t& bytes, std::uint32_t& error) = 0;
  virtual bool readData(unsigned char* buffer, std::uint32_t size, std::uint32_t& bytesRead,
                        std::uint32_t& error) = 0;
};

// A connection to one host and port. Destroying it closes the connection handle.
class HttpsConnection {
 public:
  virtual ~HttpsConnection() = default;
  // Opens a GET request for `path` and applies the options; nullptr with the Windows error when
  // that fails.
  virtual std::unique_ptr<HttpsRequest> openGet(std::string_view path,
                                                const HttpsRequestOptions& options,
                                                std::uint32_t& error) = 0;
};

// A session with its user agent and proxy setting. Destroying it closes the session handle.
class HttpsSession {
 public:
  virtual ~HttpsSession() = default;
  virtual bool setTimeouts(const HttpsTimeouts& timeouts) = 0;
  virtual std::unique_ptr<HttpsConnection> connect(std::string_view host, std::uint16_t port,
                                                   std::uint32_t& error) = 0;
};

class HttpsPort {
 public:
  virtual ~HttpsPort() = default;
  // nullptr with the Windows error when the session cannot be opened.
  virtual std::unique_ptr<HttpsSession> open(std::string_view userAgent, HttpsProxy proxy,
                                             std::uint32_t& error) = 0;
};

}  // namespace tw
