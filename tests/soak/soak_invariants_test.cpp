// The soak's invariants against observations made up to break each one: a board left with half
// of each image, settings changed by nobody, a job that claims more than it did, a tray or a
// counter that disagrees with the state document.
#include <gtest/gtest.h>

#include <functional>

#include "sim/dongle_settings.h"
#include "sim/firmware_builder.h"
#include "sim/nor_flash.h"
#include "soak/soak_invariants.h"

namespace tw::soak {
namespace {

const std::string kDash = " \xE2\x80\x94 ";

struct Job {
  bool active = false, queued = false;
  std::string action, msg, result, error, installed, target;
};

std::string document(std::uint32_t seq, const Job& job) {
  auto b = [](bool v) { return v ? "true" : "false"; };
  return "{\"seq\":" + std::to_string(seq) + ",\"job\":{\"active\":" + b(job.active) +
         ",\"queued\":" + b(job.queued) + ",\"action\":\"" + job.action + "\",\"msg\":\"" +
         job.msg + "\",\"result\":\"" + job.result + "\",\"error\":\"" + job.error +
         "\",\"installed\":\"" + job.installed + "\",\"target\":\"" + job.target + "\"}}";
}

std::vector<std::uint8_t> area(const std::vector<std::uint8_t>& uf2) {
  sim::NorFlash flash;
  if (!uf2.empty()) sim::writeUf2(flash, uf2);
  return readImageArea(flash);
}

// One board on 0.9.1 (as the world builds it), a release of 1.0.0, and their mixtures.
struct Images {
  std::vector<std::uint8_t> old = [] {
    sim::NorFlash flash;
    sim::FirmwareRecipe recipe;
    recipe.version = "0.9.1";
    sim::writeImage(flash, sim::makeFirmwareImage(recipe));
    return readImageArea(flash);
  }();
  std::vector<std::uint8_t> fresh = area(sim::makeReleaseUf2("1.0.0"));
  std::vector<std::uint8_t> freshBootOldRest = [this] {
    std::vector<std::uint8_t> mixed = old;
    std::copy(fresh.begin(), fresh.begin() + 4096, mixed.begin());
    return mixed;
  }();
  std::vector<std::uint8_t> bootErased = [this] {
    std::vector<std::uint8_t> mixed = fresh;
    std::fill(mixed.begin(), mixed.begin() + 4096, 0xFF);
    return mixed;
  }();
};

const Images& images() {
  static const Images made;
  return made;
}

Observation idle(std::uint32_t seq, const std::vector<std::uint8_t>& image,
                 std::vector<std::uint8_t> settings = std::vector<std::uint8_t>(16, 0xFF)) {
  Observation seen;
  seen.nowMs = 1000;
  seen.document = document(seq, Job{});
  seen.seq = seq;
  seen.imageArea = image;
  seen.imageAreaRead = true;
  seen.settingsArea = std::move(settings);
  return seen;
}

struct Case {
  const char* name;
  std::function<std::vector<std::string>(Invariants&)> last;  // the failures of the last check
  bool broken;
};

TEST(SoakInvariants, EachRuleCatchesItsFaultAndPassesTheSoundCase) {
  const Images& im = images();
  auto startJob = [](Invariants& inv, const std::string& action) {
    const ActionEffects effects = effectsOf("fw start " + action);
    inv.beforeAction(effects, idle(2, {}));
    inv.afterAction(effects, true);
  };
  auto ended = [](std::uint32_t seq, Job job, const std::vector<std::uint8_t>& image,
                  std::vector<std::uint8_t> settings = std::vector<std::uint8_t>(16, 0xFF)) {
    Observation seen = idle(seq, image, std::move(settings));
    seen.document = document(seq, job);
    return seen;
  };
  const std::vector<Case> cases = {
      {"new boot sector over the old image",
       [&](Invariants& inv) { return inv.check(idle(2, im.freshBootOldRest)); }, true},
      {"the same mix left by a drive copy that broke off",
       [&](Invariants& inv) {
         Observation seen = idle(2, im.freshBootOldRest);
         seen.driveBytes = 32768;
         return inv.check(seen);
       },
       false},
      {"boot sector erased mid-write",
       [&](Invariants& inv) { return inv.check(idle(2, im.bootErased)); }, false},
      {"a whole new image", [&](Invariants& inv) { return inv.check(idle(2, im.fresh)); }, false},
      {"a board swapped by hand",
       [&](Invariants& inv) {
         inv.afterAction(effectsOf("board foreign blink"), false);
         return inv.check(idle(2, im.freshBootOldRest));
       },
       false},
      {"settings changed by nobody",
       [&](Invariants& inv) {
         return inv.check(idle(2, im.old, std::vector<std::uint8_t>(16, 0)));
       },
       true},
      {"settings saved from the panel",
       [&](Invariants& inv) {
         inv.afterAction(effectsOf("panel POST /api/feature id=246&data=AgAAAA"), false);
         return inv.check(idle(2, im.old, std::vector<std::uint8_t>(16, 0)));
       },
       false},
      {"settings cleared by a repair",
       [&](Invariants& inv) {
         startJob(inv, "repair");
         Job job{true, false, "repair", "Writing", "", "", "", "1.0.0"};
         Observation running = ended(2, job, im.bootErased, std::vector<std::uint8_t>(16, 0));
         running.busy = running.hasJobLine = true;
         return inv.check(running);
       },
       false},
      {"ok, but half an image",
       [&](Invariants& inv) {
         startJob(inv, "install");
         return inv.check(ended(3, Job{false, false, "install", "Done", "ok", "", "1.0.0", "1.0.0"},
                                im.bootErased));
       },
       true},
      {"ok with the new image whole",
       [&](Invariants& inv) {
         startJob(inv, "install");
         return inv.check(
             ended(3, Job{false, false, "install", "Done", "ok", "", "1.0.0", "1.0.0"}, im.fresh));
       },
       false},
      {"nothing was changed, but the flash was",
       [&](Invariants& inv) {
         startJob(inv, "install");
         Job job{false, false, "install", "x", "failed", "Nothing was changed.", "", "1.0.0"};
         return inv.check(ended(3, job, im.bootErased));
       },
       true},
      {"cancelled and really unchanged",
       [&](Invariants& inv) {
         startJob(inv, "update");
         Job job{false,       false, "update", "Cancelled. Nothing was changed.",
                 "cancelled", "",    "",       ""};
         return inv.check(ended(3, job, im.old));
       },
       false},
      {"a second job while one runs",
       [&](Invariants& inv) {
         Observation busy = idle(2, im.old);
         busy.busy = true;
         inv.beforeAction(effectsOf("fw start update"), busy);
         inv.afterAction(effectsOf("fw start update"), true);
         return inv.check(idle(3, im.old));
       },
       true},
      {"firmwareSeq goes back",
       [&](Invariants& inv) {
         inv.check(idle(5, im.old));
         return inv.check(idle(4, im.old));
       },
       true},
      {"busy while the document is idle",
       [&](Invariants& inv) {
         Observation seen = idle(2, im.old);
         seen.busy = seen.hasJobLine = true;
         return inv.check(seen);
       },
       true},
      {"the tray shows a job while none runs",
       [&](Invariants& inv) {
         Observation seen = idle(2, im.old);
         seen.trayVisible = true;
         seen.tip = "Tarnwick Bridge" + kDash + "Getting firmware ready";
         return inv.check(seen);
       },
       true},
      {"a job that never ends",
       [&](Invariants& inv) {
         Job job{true, false, "update", "Triple-click", "", "", "", "1.0.0"};
         Observation seen = ended(2, job, im.old);
         seen.busy = seen.hasJobLine = true;
         inv.check(seen);
         seen.nowMs += kJobBoundMs + 1;
         return inv.check(seen);
       },
       true},
  };
  for (const Case& c : cases) {
    Invariants invariants;
    invariants.published("1.0.0");
    ASSERT_TRUE(invariants.check(idle(1, im.old)).empty());
    const std::vector<std::string> failures = c.last(invariants);
    EXPECT_EQ(!failures.empty(), c.broken)
        << c.name << (failures.empty() ? std::string() : ": " + failures.front());
  }
}

}  // namespace
}  // namespace tw::soak
