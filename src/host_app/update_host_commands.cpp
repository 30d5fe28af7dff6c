#include "host_app/update_host_commands.h"

#include <sstream>

#include "platform/https.h"

namespace tw::host {

const char* UpdateHostCommands::help() {
  return "Commands (the update host):\n"
         "  publish VERSION    publish a signed build of the stand-in firmware at VERSION (the\n"
         "                     app checks for it at once)\n"
         "  host offline | host online   the update host can't be reached, or can again\n"
         "  host fail CODE     the next request to the host answers status CODE\n"
         "  host badsig        the next published build is signed by another key\n";
}

bool UpdateHostCommands::execute(const std::string& line) {
  std::istringstream words(line);
  std::string command, what;
  words >> command >> what;
  if (command == "publish" && !what.empty()) {
    std::string version = line.substr(line.find(what));
    while (!version.empty() && (version.back() == ' ' || version.back() == '\r'))
      version.pop_back();
    releases_.publish(version, nextWithOtherKey_);
    print_("[update host] published " + version +
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
