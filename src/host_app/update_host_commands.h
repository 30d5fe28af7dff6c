// Console commands for the simulated update host: publish a release, take the host off line, make
// it answer a status, or sign the next release with a key nobody trusts.
#pragma once

#include <functional>
#include <string>

#include "sim/sim_releases.h"
#include "sim/update_host_sim.h"

namespace tw::host {

class UpdateHostCommands {
 public:
  UpdateHostCommands(sim::SimUpdateHost& host, sim::SimReleases& releases,
                     std::function<void(const std::string&)> print)
      : host_(host), releases_(releases), print_(std::move(print)) {}

  // False when the line is none of these commands.
  bool execute(const std::string& line);
  // Called after a release is published, so that the app need not wait for its schedule.
  void onPublished(std::function<void()> published) { published_ = std::move(published); }
  static const char* help();

 private:
  sim::SimUpdateHost& host_;
  sim::SimReleases& releases_;
  std::function<void(const std::string&)> print_;
  std::function<void()> published_;
  bool nextWithOtherKey_ = false;
};

}  // namespace tw::host
