#include "host_app/update_host_commands.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/https.h"

namespace tw::host {
namespace {

// The largest file the app downloads, and the unit of a UF2 file.
constexpr std::size_t kLargestRelease = 16u * 1024 * 1024;
constexpr std::size_t kUf2Block = 512;

// A last word that names a file rather than ends a version ("1.2.0 beta" stays one version).
bool namesFile(const std::string& word) {
  if (word.find('/') != std::string::npos) return true;
  if (word.size() < 4) return false;
  std::string end = word.substr(word.size() - 4);
  for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".uf2";
}

// The file's bytes, or false with why it can't be published.
bool readRelease(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "can't read " + path + " (" + std::strerror(errno) + ")";
    return false;
  }
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    why = "can't read " + path + " (not a file)";
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size <= 0 || std::size_t(size) % kUf2Block != 0 || std::size_t(size) > kLargestRelease) {
    why = path + " is " + std::to_string(size) +
          " bytes; a release is whole 512-byte UF2 blocks, at most 16 MiB";
    return false;
  }
  bytes.resize(std::size_t(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    why = "can't read " + path;
    return false;
  }
  return true;
}

}  // namespace

const char* UpdateHostCommands::help() {
  return "Commands (the update host):\n"
         "  publish VERSION    publish a signed build of the stand-in firmware at VERSION (the\n"
         "                     app checks for it at once)\n"
         "  publish VERSION FILE   publish the UF2 file FILE as VERSION, signed the same way\n"
         "                     (FILE has a \"/\" in it or ends in .uf2)\n"
         "  host offline | host online   the update host can't be reached, or can again\n"
         "  host fail CODE     the next request to the host answers status CODE\n"
         "  host badsig        the next published build is signed by another key\n";
}

bool UpdateHostCommands::execute(const std::string& line) {
  std::istringstream words(line);
  std::string command, what;
  words >> command >> what;
  if (command == "publish") {
    std::string version = what.empty() ? what : line.substr(line.find(what));
    while (!version.empty() && (version.back() == ' ' || version.back() == '\r'))
      version.pop_back();
    std::string path;
    const std::size_t lastSpace = version.find_last_of(" \t");
    if (lastSpace != std::string::npos && namesFile(version.substr(lastSpace + 1))) {
      path = version.substr(lastSpace + 1);
      version = version.substr(0, version.find_last_not_of(" \t", lastSpace) + 1);
    } else if (namesFile(version)) {
      path = version;  // a file but no version
      version.clear();
    }
    if (version.empty()) {
      print_("[update host] publish needs a version: publish VERSION [FILE]");
      return true;
    }
    std::string from;
    if (path.empty()) {
      releases_.publish(version, nextWithOtherKey_);
    } else {
      std::vector<std::uint8_t> file;
      std::string why;
      if (!readRelease(path, file, why)) {
        print_("[update host] nothing published: " + why);
        return true;
      }
      from = " (" + path + ", " + std::to_string(file.size()) + " bytes)";
      releases_.publish(version, std::move(file), nextWithOtherKey_);
    }
    print_("[update host] published " + version + from +
           (nextWithOtherKey_ ? " (signed by another key)" : "") + " at " +
           releases_.fileUrl(version));
    nextWithOtherKey_ = false;
    if (published_) published_();
    return true;
  }
  if (command != "host") return false;
  if (what == "offline" || what == "online") {
    sim::SimHttpsFaults faults;
    if (what == "offline") faults.send = HTTPS_ERROR_CANNOT_CONNECT;
    host_.setFaults(faults);
    print_("[update host] " + what);
    return true;
  }
  unsigned status = 0;
  if (what == "fail" && (words >> status) && status >= 100 && status <= 999) {
    host_.answerNextWith(status);
    print_("[update host] the next request answers " + std::to_string(status));
    return true;
  }
  if (what == "badsig") {
    nextWithOtherKey_ = true;
    print_("[update host] the next published build is signed by another key");
    return true;
  }
  return false;
}

}  // namespace tw::host
