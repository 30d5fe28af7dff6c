// The vendor's side of the simulated update host: it publishes builds of the stand-in firmware at
// any version, signed with the development release key, under "/firmware/", and the release list
// that names them, the newest as "latest". It can serve what a broken host or a broken release
// would: no list, a list that cannot be read, a build whose size, digest or signature is wrong, a
// download that is slow or cut short.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/release_signer.h"
#include "sim/update_host_sim.h"

namespace tw::sim {

enum class ReleaseFault {
  None,
  NoList,       // the release list answers 404
  BadList,      // the release list is not JSON
  WrongSize,    // the list names a size other than the file's
  WrongDigest,  // the list names another SHA-256
  NoSignature,  // the list names no signature
  OtherKey,     // the signatures were made with a key nobody trusts
  Slow,         // the files arrive 16 KiB at a time, 50 ms apart
  CutShort,     // the files break off halfway, short of their Content-Length
};

class SimReleases {
 public:
  // Files are published on `host`, whose name is `hostName`; `clock` paces slow downloads.
  SimReleases(SimUpdateHost& host, Clock& clock, std::string hostName);

  // A build of the stand-in firmware (program "korrinlink", 5068 UF2 blocks) declaring `version`.
  static std::vector<std::uint8_t> standInFirmware(const std::string& version);

  // Publishes `file` as `version` and makes it the latest; a version published before is
  // replaced. Signed with the development key, or with a stranger's when `otherKey`.
  void publish(const std::string& version, std::vector<std::uint8_t> file, bool otherKey = false);
  // Publishes the stand-in firmware at `version`.
  void publish(const std::string& version, bool otherKey = false);
  // Takes every build off the list.
  void clear();
  // Serves everything from now on with `fault` (ReleaseFault::None: as published).
  void setFault(ReleaseFault fault);

  // The file's path on the host ("/firmware/tarnwick-bridge-<version>.uf2") and full address.
  static std::string filePath(const std::string& version);
  std::string fileUrl(const std::string& version) const;
  // The file as published.
  std::vector<std::uint8_t> file(const std::string& version) const;
  std::string releaseList() const;

 private:
  struct Build {
    std::string version;
    std::vector<std::uint8_t> file;
    std::string sha256;
    std::string sig;
  };
  void serveLocked();

  SimUpdateHost& host_;
  Clock& clock_;
  const std::string hostName_;
  const ReleaseSigner developmentKey_;
  const ReleaseSigner otherKey_;
  mutable std::mutex mutex_;
  std::vector<Build> builds_;  // newest first
  ReleaseFault fault_ = ReleaseFault::None;
  std::string list_;
};

}  // namespace tw::sim
