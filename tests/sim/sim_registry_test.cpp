#include "sim/sim_registry.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/port_conformance.h"

namespace tw::sim {
namespace {

constexpr RegistryHive kUser = RegistryHive::CurrentUser;
constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

TEST(SimRegistry, MeetsTheChecksWindowsMeets) {
  SimRegistry registry;
  const std::string key = "Software\\Tarnwick Probe";
  const SimRegistryValue number{SimValueType::Dword, std::string("\x07\x00\x00\x00", 4)};
  registry.setValue(kUser, key, "Number", number);
  registry.setValue(kUser, key + "\\Number", "", number);
  conformance::checkRegistry(registry, key,
                             [](bool ok, const std::string& name, const std::string& detail) {
                               EXPECT_TRUE(ok) << name << ": " << detail;
                             });
}

TEST(SimRegistry, KeysAreMadeOnTheWayAndRemovedWithWhatIsBelow) {
  SimRegistry registry;
  std::uint32_t error = 0;
  ASSERT_TRUE(registry.writeText(kUser, "Software\\A\\B\\C", "v", "x", error));
  EXPECT_TRUE(registry.keyExists(kUser, "software\\a"));
  EXPECT_TRUE(registry.keyExists(kUser, "Software\\A\\B"));
  EXPECT_FALSE(registry.keyExists(kMachine, "Software\\A"));
  const auto stored = registry.value(kUser, "Software\\A\\B\\C", "V");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, SimValueType::Sz);
  EXPECT_EQ(stored->data, "x");

  registry.removeKey(kUser, "Software\\A\\B");
  EXPECT_TRUE(registry.keyExists(kUser, "Software\\A"));
  EXPECT_FALSE(registry.keyExists(kUser, "Software\\A\\B\\C"));
  EXPECT_FALSE(registry.deleteValue(kUser, "Software\\A\\B\\C", "v", error));
  EXPECT_EQ(error, REGISTRY_ERROR_FILE_NOT_FOUND);
}

TEST(SimRegistry, APerUserProcessCannotWriteForTheMachine) {
  SimRegistry registry;
  std::uint32_t error = 0;
  EXPECT_FALSE(registry.writeText(kMachine, "Software\\X", "v", "x", error));
  EXPECT_EQ(error, REGISTRY_ERROR_ACCESS_DENIED);
  registry.setValue(kMachine, "Software\\X", "v", SimRegistryValue{SimValueType::Sz, "x"});
  EXPECT_FALSE(registry.deleteValue(kMachine, "Software\\X", "v", error));
  EXPECT_EQ(error, REGISTRY_ERROR_ACCESS_DENIED);
  std::string value;
  EXPECT_TRUE(registry.readText(kMachine, "Software\\X", "v", 100, value, error));
  registry.allowMachineWrites(true);
  EXPECT_TRUE(registry.deleteValue(kMachine, "Software\\X", "v", error));
}

TEST(SimRegistry, ExpandableTextIsReadExpandedButNotAsADefaultText) {
  SimRegistry registry;
  registry.setValue(kUser, "Software\\E", "", SimRegistryValue{SimValueType::ExpandSz, "%X%\\y"});
  registry.setExpander(
      [](const std::string& text) { return text == "%X%\\y" ? std::string("C:\\x\\y") : text; });
  std::string value;
  std::uint32_t error = 0;
  ASSERT_TRUE(registry.readText(kUser, "Software\\E", "", 100, value, error));
  EXPECT_EQ(value, "C:\\x\\y");
  EXPECT_FALSE(registry.readText(kUser, "Software\\E", "", 12, value, error))
      << "the room needed is that of the expanded text";
  EXPECT_EQ(error, REGISTRY_ERROR_MORE_DATA);
  EXPECT_FALSE(registry.readDefaultText(kUser, "Software\\E", 100, value));
}

TEST(SimRegistry, FailuresOnDemandHitTheCallAskedFor) {
  SimRegistry registry;
  std::uint32_t error = 0;
  registry.failCall("writeText", REGISTRY_ERROR_ACCESS_DENIED);
  EXPECT_FALSE(registry.writeText(kUser, "Software\\R", "v", "x", error));
  EXPECT_EQ(error, REGISTRY_ERROR_ACCESS_DENIED);
  EXPECT_FALSE(registry.keyExists(kUser, "Software\\R"));
  EXPECT_TRUE(registry.writeText(kUser, "Software\\R", "v", "x", error));
}

}  // namespace
}  // namespace tw::sim
