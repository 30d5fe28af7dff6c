// The firmware state document: the whole document when idle, the advice for every row of its
// table, the job's part in every state, string escaping, documents that do not fit, and the two
// readers for the tray. Every document is also read by a strict JSON parser.
#include "flash/firmware_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "built_in_firmware.h"
#include "common/strict_json.h"
#include "firmware/update_host.h"
#include "flash/firmware_state_builder.h"
#include "platform/host/embedded_resources.h"

namespace tw {
namespace {

using test::FirmwareStateBuilder;

constexpr std::uint64_t kNow = 5'000'000;
constexpr char kBuiltInNotes[] =
    "Light bar colours work from the panel, the panel notices the dongle arriving, Repair is a "
    "single button, and updates are never installed on their own.";

const char kIdleDocument[] =
    "{\"seq\":1,\"app\":\"1.2.0\",\"station\":false,"
    "\"running\":{\"present\":false,\"canSwitch\":false,\"version\":\"\"},"
    "\"boot\":{\"present\":false,\"usb\":false,\"read\":0,\"blank\":false,\"ours\":false,"
    "\"drive\":\"\",\"serial\":\"\",\"program\":\"\",\"version\":\"\",\"why\":\"\"},"
    "\"fw\":{\"target\":\"0.9.3\",\"notes\":\"Light bar colours work from the panel, the panel "
    "notices the dongle arriving, Repair is a single button, and updates are never installed on "
    "their own.\",\"source\":\"built-in\",\"builtIn\":\"0.9.3\",\"builtInChecked\":true,"
    "\"online\":{\"state\":\"never\",\"latest\":\"\",\"error\":\"\",\"ago\":0}},"
    "\"advice\":{\"kind\":\"none\",\"primary\":\"\",\"confirm\":false,\"ahead\":false,"
    "\"text\":\"\"},"
    "\"job\":{\"active\":false,\"queued\":false,\"automatic\":false,\"pct\":0,\"cancellable\":"
    "false,"
    "\"needsUser\":false,\"countdown\":0,\"action\":\"\",\"phase\":\"\",\"msg\":\"\",\"detail\":"
    "\"\","
    "\"result\":\"\",\"error\":\"\",\"tech\":\"\",\"refused\":false,\"from\":\"\",\"target\":\"\","
    "\"installed\":\"\",\"ago\":0}}";

// The built-in image, checked as the firmware thread checks it.
void checkBuiltIn(BuiltInImage& image) {
  EmbeddedResources resources;
  resources.add(kResourceBuiltInFirmware, builtInFirmwareImage, builtInFirmwareImageSize);
  loadBuiltInImage(resources, image);
  ASSERT_EQ(image.builtInState, BuiltInState::Verified);
}

// A fresh state with the built-in image verified.
FirmwareStateBuilder verified() {
  BuiltInImage image;
  checkBuiltIn(image);
  FirmwareStateBuilder state;
  state.builtIn(image);
  return state;
}

// A release list that names one build.
ReleaseList listNaming(const char* version, const char* notes) {
  ReleaseList list{};
  list.count = 1;
  std::snprintf(list.latest, sizeof list.latest, "%s", version);
  std::snprintf(list.builds[0].version, sizeof list.builds[0].version, "%s", version);
  std::snprintf(list.builds[0].channel, sizeof list.builds[0].channel, "stable");
  std::snprintf(list.builds[0].notes, sizeof list.builds[0].notes, "%s", notes);
  return list;
}

// A successful check 61.5 s ago whose list names one build.
constexpr std::uint64_t kCheckedAt = kNow - 61'500;

// The document, or "(incomplete)"; always checked to be valid JSON when complete.
std::string document(const FirmwareState& state, std::size_t capacity = FIRMWARE_STATE_CAPACITY) {
  std::vector<char> buffer(capacity + 1, '\x7f');
  if (!writeFirmwareState(state, FirmwareDocumentFacts{"1.2.0"}, kNow, buffer.data(), capacity)) {
    return "(incomplete)";
  }
  std::string text(buffer.data());
  EXPECT_TRUE(test::StrictJson().parse(text)) << text;
  return text;
}

// The object after `"key":` in a document, braces included.
std::string part(const std::string& doc, const std::string& key) {
  const std::size_t start = doc.find("\"" + key + "\":{");
  if (start == std::string::npos) return "(none)";
  const std::size_t open = start + key.size() + 3;
  int depth = 0;
  bool inString = false;
  for (std::size_t at = open; at < doc.size(); ++at) {
    const char c = doc[at];
    if (inString) {
      if (c == '\\') ++at;
      if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}' && --depth == 0) {
      return doc.substr(open, at - open + 1);
    }
  }
  return "(unclosed)";
}

std::string adviceJson(const char* kind, const char* primary, bool confirm, bool ahead,
                       const std::string& text) {
  return std::string("{\"kind\":\"") + kind + "\",\"primary\":\"" + primary +
         "\",\"confirm\":" + (confirm ? "true" : "false") +
         ",\"ahead\":" + (ahead ? "true" : "false") + ",\"text\":\"" + text + "\"}";
}

TEST(FirmwareDocument, IdleWithTheBuiltInImageVerified) {
  const FirmwareState state = verified().build();
  EXPECT_EQ(document(state), kIdleDocument);
  test::StrictJson json;
  ASSERT_TRUE(json.parse(document(state)));
  EXPECT_EQ(json.values().at("fw.notes"), kBuiltInNotes);
  EXPECT_EQ(json.values().at("fw.online.ago"), "0");
  EXPECT_EQ(json.values().at("advice.kind"), "none");
}

TEST(FirmwareDocument, WithoutAnyImageNothingIsOffered) {
  for (BuiltInState builtInState : {BuiltInState::NotExamined, BuiltInState::Unusable}) {
    const FirmwareState state =
        FirmwareStateBuilder().builtInState(builtInState).firmwareSeq(4000000000u).build();
    const std::string doc = document(state);
    EXPECT_EQ(doc.substr(0, 20), "{\"seq\":4000000000,\"a");
    EXPECT_EQ(part(doc, "fw"),
              std::string("{\"target\":\"\",\"notes\":\"\",\"source\":\"\",\"builtIn\":\"\","
                          "\"builtInChecked\":") +
                  (builtInState != BuiltInState::NotExamined ? "true" : "false") +
                  ",\"online\":{\"state\":\"never\",\"latest\":\"\",\"error\":\"\",\"ago\":0}}");
  }
}

struct BoardCase {
  const char* name;
  BoardRead read;
  bool ours;
  bool blank;
  const char* program;
  const char* version;
  bool builtIn;  // false: no target
  std::string advice;
};

TEST(FirmwareDocument, AdviceForABoardInUpdateMode) {
  const std::vector<BoardCase> cases{
      {"reading", BoardRead::NotRead, false, false, "", "", false,
       adviceJson("reading", "", false, false, "Reading what\xE2\x80\x99s on it\xE2\x80\xA6")},
      {"in use", BoardRead::Busy, false, false, "", "", true,
       adviceJson("inuse", "", false, false, "Another program is using it right now.")},
      {"no firmware to install", BoardRead::Read, true, false, "korrinlink", "0.9.1", false,
       adviceJson("nofw", "", false, false,
                  "This app has no firmware to install yet. Check your internet connection.")},
      {"ours and newer", BoardRead::Read, true, false, "korrinlink", "1.0.0", true,
       adviceJson("restart", "restart", false, true,
                  "It has 1.0.0, which is newer than the 0.9.3 release. Restart it to carry on.")},
      {"ours and current", BoardRead::Read, true, false, "korrinlink", "v0.9.3", true,
       adviceJson("restart", "restart", false, false,
                  "It already has v0.9.3, the newest release. Restart it to carry on, or "
                  "reinstall if it has been acting up.")},
      {"ours and older", BoardRead::Read, true, false, "korrinlink", "0.9.1", true,
       adviceJson("update", "update", false, false,
                  "It has firmware 0.9.1. Version 0.9.3 is ready to install.")},
      {"ours, unreadable version", BoardRead::Read, true, false, "korrinlink", "nine", true,
       adviceJson("update", "update", false, false,
                  "It has firmware nine. Version 0.9.3 is ready to install.")},
      {"ours, no version", BoardRead::Read, true, false, "korrinlink", "", true,
       adviceJson("update", "update", false, false,
                  "It has Bridge firmware of an unknown version. Install 0.9.3 to be sure.")},
      {"blank", BoardRead::Read, false, true, "", "", true,
       adviceJson("install", "install", false, false,
                  "It has no firmware yet. Install 0.9.3 to make it a Tarnwick Bridge.")},
      {"foreign", BoardRead::Read, false, false, "blink", "1.0", true,
       adviceJson("replace", "install", true, false,
                  "It\xE2\x80\x99s running something else (\xE2\x80\x9C"
                  "blink\xE2\x80\x9D). "
                  "Installing Tarnwick Bridge 0.9.3 replaces it.")},
      {"foreign without a name", BoardRead::Read, false, false, "", "", true,
       adviceJson("replace", "install", true, false,
                  "It\xE2\x80\x99s running something else (\xE2\x80\x9Cunnamed\xE2\x80\x9D). "
                  "Installing Tarnwick Bridge 0.9.3 replaces it.")},
      {"unreadable", BoardRead::Failed, false, false, "", "", true,
       adviceJson("unknown", "install", true, false,
                  "This app couldn\xE2\x80\x99t read what\xE2\x80\x99s on it. Installing 0.9.3 "
                  "writes the Tarnwick firmware onto it.")},
  };
  for (const BoardCase& c : cases) {
    FirmwareStateBuilder state = c.builtIn ? verified() : FirmwareStateBuilder();
    state.boardSeen("E0C9125B0D9B", "E:");
    if (c.read != BoardRead::NotRead) state.boardRead(c.read, c.program, c.version, c.blank);
    const std::string doc = document(state.build());
    EXPECT_EQ(part(doc, "advice"), c.advice) << c.name;
    EXPECT_EQ(part(doc, "boot"),
              std::string("{\"present\":true,\"usb\":true,\"read\":") +
                  std::to_string(static_cast<int>(c.read)) + ",\"blank\":" +
                  (c.blank ? "true" : "false") + ",\"ours\":" + (c.ours ? "true" : "false") +
                  ",\"drive\":\"E:\",\"serial\":\"E0C9125B0D9B\",\"program\":\"" + c.program +
                  "\",\"version\":\"" + c.version + "\",\"why\":\"\"}")
        << c.name;
  }
}

TEST(FirmwareDocument, BusyAndStationComeBeforeAnyBoard) {
  const auto boardAndStation = [](FirmwareStateBuilder state) {
    return state.boardRead(BoardRead::Failed).station().build();
  };
  FirmwareState state = boardAndStation(verified().jobQueued(FirmwareAction::Install));
  EXPECT_EQ(part(document(state), "advice"), adviceJson("busy", "", false, false, ""));
  state = boardAndStation(verified().jobRunning(FirmwareAction::Install));
  EXPECT_EQ(part(document(state), "advice"), adviceJson("busy", "", false, false, ""));
  state = boardAndStation(verified());
  const std::string doc = document(state);
  EXPECT_EQ(part(doc, "advice"),
            adviceJson("station", "", false, false,
                       "Another Tarnwick flashing tool is at work (the Pellmark Rig or a bench "
                       "script), so this app is leaving boards alone."));
  EXPECT_NE(doc.find(",\"station\":true,"), std::string::npos);
}

TEST(FirmwareAdvice, ALongNameIsCutWithinItsCharacters) {
  BootBoard board;
  board.present = true;
  board.read = BoardRead::Read;
  // "It’s running something else (“" takes 34 bytes; the second ellipsis would end at 401.
  board.program = std::string(361, 'n') + "\xE2\x80\xA6\xE2\x80\xA6";
  AdviceInputs in;
  in.board = &board;
  in.target = "0.9.3";
  FirmwareAdvice advice;
  chooseAdvice(in, advice);
  const std::string text = advice.text;
  EXPECT_LE(text.size(), 399u);
  EXPECT_EQ(text, "It\xE2\x80\x99s running something else (\xE2\x80\x9C" + std::string(361, 'n') +
                      "\xE2\x80\xA6");
}

TEST(FirmwareDocument, TheJobInEachOfItsStates) {
  const std::string rest =
      ",\"refused\":false,\"from\":\"\",\"target\":\"\",\"installed\":\"\",\"ago\":0}";
  // Our board on 0.9.1 in update mode, then the job at the button.
  const auto ourBoard = [](FirmwareStateBuilder state) {
    state.boardRead(BoardRead::Read, "korrinlink", "0.9.1");
    return state;
  };
  const auto atTheButton = [](FirmwareStateBuilder state) {
    return state.jobStep(JobPhase::Button, 10, "Triple-click the button on your dongle.")
        .jobNeedsUser(true)
        .jobDetail("If nothing happens, unplug the dongle, hold its button and plug it back in.")
        .jobTarget("0.9.3")
        .build();
  };
  FirmwareState state = ourBoard(verified()).build();
  std::string message;

  ASSERT_TRUE(queueFirmwareRequest(state, FirmwareAction::Install, false, message));
  EXPECT_EQ(part(document(state), "job"),
            "{\"active\":false,\"queued\":true,\"automatic\":false,\"pct\":0,\"cancellable\":true,"
            "\"needsUser\":false,\"countdown\":0,\"action\":\"install\",\"phase\":\"\","
            "\"msg\":\"Starting\xE2\x80\xA6\",\"detail\":\"\",\"result\":\"\",\"error\":\"\","
            "\"tech\":\"\"" +
                rest);

  FirmwareRequest request;
  ASSERT_TRUE(takeFirmwareRequest(state, request));
  state = atTheButton(FirmwareStateBuilder(state));
  EXPECT_EQ(
      part(document(state), "job"),
      "{\"active\":true,\"queued\":false,\"automatic\":false,\"pct\":10,\"cancellable\":true,"
      "\"needsUser\":true,\"countdown\":0,\"action\":\"install\",\"phase\":\"button\","
      "\"msg\":\"Triple-click the button on your dongle.\",\"detail\":\"If nothing happens, "
      "unplug the dongle, hold its button and plug it back in.\",\"result\":\"\","
      "\"error\":\"\",\"tech\":\"\",\"refused\":false,\"from\":\"0.9.1\",\"target\":\"0.9.3\","
      "\"installed\":\"\",\"ago\":0}");

  struct Ending {
    FirmwareJobEnding ending;
    std::string job;
  };
  const std::string head = "{\"active\":false,\"queued\":false,\"automatic\":false,";
  const std::string tail = "\"from\":\"0.9.1\",\"target\":\"0.9.3\",";
  for (const Ending& e : std::vector<Ending>{
           {FirmwareJobEnding::ok("0.9.3", "Firmware 0.9.3 is on.", true),
            head +
                "\"pct\":100,\"cancellable\":false,\"needsUser\":false,\"countdown\":0,\"action\":"
                "\"install\",\"phase\":\"done\",\"msg\":\"Firmware 0.9.3 is on.\",\"detail\":\"If "
                "nothing happens, unplug the dongle, hold its button and plug it back in.\","
                "\"result\":\"ok\",\"error\":\"\",\"tech\":\"\",\"refused\":false," +
                tail + "\"installed\":\"0.9.3\",\"ago\":12}"},
           {FirmwareJobEnding::cancelled(),
            head +
                "\"pct\":0,\"cancellable\":false,\"needsUser\":false,\"countdown\":0,\"action\":"
                "\"install\",\"phase\":\"done\",\"msg\":\"Cancelled. Nothing was changed.\","
                "\"detail\":\"\",\"result\":\"cancelled\",\"error\":\"\",\"tech\":\"\","
                "\"refused\":false," +
                tail + "\"installed\":\"\",\"ago\":12}"},
           {FirmwareJobEnding::failed("This board runs \xE2\x80\x9C"
                                      "blink\xE2\x80\x9D, not "
                                      "Tarnwick firmware, so this app left it alone.",
                                      "program \"blink\" <1.0>", true),
            head +
                "\"pct\":10,\"cancellable\":false,\"needsUser\":false,\"countdown\":0,\"action\":"
                "\"install\",\"phase\":\"done\",\"msg\":\"This board runs \xE2\x80\x9C"
                "blink"
                "\xE2\x80\x9D, not Tarnwick firmware, so this app left it alone.\",\"detail\":\"If "
                "nothing happens, unplug the dongle, hold its button and plug it back in.\","
                "\"result\":\"failed\",\"error\":\"This board runs \xE2\x80\x9C"
                "blink\xE2\x80\x9D"
                ", not Tarnwick firmware, so this app left it alone.\",\"tech\":\"program "
                "\\\"blink\\\" \\u003c1.0\\u003e\",\"refused\":true," +
                tail + "\"installed\":\"\",\"ago\":12}"},
       }) {
    // The same board and job without the built-in image.
    FirmwareState ended = atTheButton(ourBoard(FirmwareStateBuilder()).jobRunning(request.action));
    endFirmwareJob(ended, e.ending, kNow - 12999);
    const std::string doc = document(ended);
    EXPECT_EQ(part(doc, "job"), e.job);
    EXPECT_NE(doc.find("\"advice\":{\"kind\":\"nofw\""), std::string::npos);
  }
}

TEST(FirmwareDocument, TextsAreEscapedAndTheDocumentStaysValid) {
  const std::string program = std::string("a\"b\\c<d>e\x01\x1f\n\x7f") + "\xC3\xA9\xF0\x9F\x98\x80";
  const FirmwareState state = verified().boardRead(BoardRead::Read, program).build();
  const std::string doc = document(state);
  EXPECT_NE(doc.find("\"program\":\"a\\\"b\\\\c\\u003cd\\u003ee\\u0001\\u001f\\u000a\x7f\xC3\xA9"
                     "\xF0\x9F\x98\x80\""),
            std::string::npos)
      << doc;
  EXPECT_EQ(doc.find('\n'), std::string::npos);
  EXPECT_EQ(doc.find('<'), std::string::npos);
  test::StrictJson json;
  ASSERT_TRUE(json.parse(doc));
  EXPECT_EQ(json.values().at("boot.program"), program);
  // The advice quotes the name, escaped the same way.
  EXPECT_EQ(json.values().at("advice.text"),
            "It\xE2\x80\x99s running something else (\xE2\x80\x9C" + program +
                "\xE2\x80\x9D). Installing Tarnwick Bridge 0.9.3 replaces it.");
}

TEST(FirmwareDocument, BytesThatAreNoUtf8CharacterBecomeReplacementCharacters) {
  for (const auto& [raw, written] : std::vector<std::pair<std::string, std::string>>{
           {"\xFF", "\\ufffd"},
           {"a\xC3", "a\\ufffd"},                      // cut short at the end
           {"\xC3(", "\\ufffd("},                      // a lead byte without its follower
           {"\xC0\xAF", "\\ufffd\\ufffd"},             // overlong
           {"\xED\xA0\x80", "\\ufffd\\ufffd\\ufffd"},  // a surrogate
           {"\xF4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // beyond U+10FFFF
           {"\x80x", "\\ufffdx"},
           {"\xE2\x80\xA6", "\xE2\x80\xA6"},
       }) {
    const std::string doc = document(FirmwareStateBuilder().boardWhy(raw).build());
    EXPECT_NE(doc.find("\"why\":\"" + written + "\""), std::string::npos) << doc;
  }
}

TEST(FirmwareDocument, EveryCutOffDocumentIsReportedIncomplete) {
  const FirmwareState state = verified().build();
  const std::string full = document(state);
  for (std::size_t capacity = 0; capacity <= full.size() + 1; ++capacity) {
    std::vector<char> buffer(capacity + 1, '\x7f');
    const bool complete =
        writeFirmwareState(state, FirmwareDocumentFacts{"1.2.0"}, kNow, buffer.data(), capacity);
    EXPECT_EQ(complete, capacity > full.size()) << capacity;
    if (capacity == 0) {
      EXPECT_EQ(buffer[0], '\x7f');  // nothing written at all
      continue;
    }
    const std::string written(buffer.data());
    EXPECT_LT(written.size(), capacity);
    EXPECT_EQ(full.compare(0, written.size(), written), 0) << capacity;
    EXPECT_EQ(buffer[capacity], '\x7f');  // nothing past the capacity
  }
  EXPECT_EQ(document(state, 100), "(incomplete)");
}

// Every field at its capacity, and for '<' every byte escaped six times over: the largest document
// the firmware side can produce still fits the API's buffer whole.
TEST(FirmwareDocument, FullFieldsOfEscapedBytesFitTheApiBuffer) {
  for (char fill : {'x', '<'}) {
    const std::string text(319, fill);
    const std::string word(63, fill);
    // A listed version may carry a suffix of any printable characters: 47 in all.
    const std::string listed = "9.9.9" + std::string(42, fill);
    const FirmwareState state =
        FirmwareStateBuilder()
            .runningDongle(word)
            .onlineOk(listNaming(listed.c_str(), std::string(479, fill).c_str()), kCheckedAt)
            .boardSeen(std::string(39, fill), std::string(3, fill))
            .boardRead(BoardRead::Read, word, word)
            .boardWhy(std::string(199, fill))
            // The longest word of each.
            .jobRunning(FirmwareAction::Reinstall)
            .jobEnded(FirmwareJobEnding::cancelled(), 0)
            .jobStep(JobPhase::Reconnect, -1, text)
            .jobDetail(text)
            .jobOutcome(JobResult::Cancelled, text, text, word)
            .jobFrom(word)
            .jobTarget(word)
            .build();
    std::vector<char> roomy(65536);
    ASSERT_TRUE(writeFirmwareState(state, FirmwareDocumentFacts{"1.2.0"}, kNow, roomy.data(),
                                   roomy.size()));
    const std::size_t length = std::string_view(roomy.data()).size();
    EXPECT_EQ(document(state).size(), length);
    EXPECT_TRUE(test::StrictJson().parse(roomy.data()));
    if (fill == 'x') {
      EXPECT_LT(length, 4500u);  // about 4 KB: plenty of room
    }
  }
}

TEST(FirmwareDocument, TheRunningDongleAndWhetherItCanSwitchItself) {
  struct Case {
    bool present;
    const char* version;
    bool canSwitch;
    std::string advice;
  };
  for (const Case& c : std::vector<Case>{
           {true, "0.8.5", false,
            adviceJson("update", "update", false, false,
                       "Version 0.9.3 is ready. You have 0.8.5.")},
           {true, "0.9.0", true,
            adviceJson("update", "update", false, false,
                       "Version 0.9.3 is ready. You have 0.9.0.")},
           {true, "0.9.3", true,
            adviceJson("current", "", false, false, "You have 0.9.3, the newest release.")},
           {true, "1.0.0", true,
            adviceJson("ahead", "", false, true, "You have 1.0.0, newer than the 0.9.3 release.")},
           {true, "", false,
            adviceJson("update", "update", false, false, "Version 0.9.3 is ready.")},
           {true, "v1", false,
            adviceJson("update", "update", false, false, "Version 0.9.3 is ready. You have v1.")},
           {false, "", false, adviceJson("none", "", false, false, "")},
       }) {
    FirmwareStateBuilder state = verified();
    if (c.present) state.runningDongle(c.version);
    const std::string doc = document(state.build());
    EXPECT_EQ(part(doc, "running"), std::string("{\"present\":") + (c.present ? "true" : "false") +
                                        ",\"canSwitch\":" + (c.canSwitch ? "true" : "false") +
                                        ",\"version\":\"" + c.version + "\"}")
        << c.version;
    EXPECT_EQ(part(doc, "advice"), c.advice) << c.version;
  }
  // Without anything to install, a running dongle is simply current.
  const FirmwareState state = FirmwareStateBuilder().runningDongle("0.9.1").build();
  EXPECT_EQ(part(document(state), "advice"), adviceJson("current", "", false, false, ""));
}

TEST(FirmwareDocument, TheCheckAndWhereTheTargetComesFrom) {
  FirmwareState state = verified().onlineChecking().build();
  EXPECT_EQ(part(document(state), "online"),
            "{\"state\":\"checking\",\"latest\":\"\",\"error\":\"\",\"ago\":0}");

  // A newer build on the list: the target, its notes, and the host it comes from.
  state = verified().onlineOk(listNaming("1.0.0", "Faster pairing."), kCheckedAt).build();
  std::string doc = document(state);
  EXPECT_EQ(part(doc, "fw"), std::string("{\"target\":\"1.0.0\",\"notes\":\"Faster pairing.\","
                                         "\"source\":\"") +
                                 UpdateHost +
                                 "\",\"builtIn\":\"0.9.3\",\"builtInChecked\":true,\"online\":{"
                                 "\"state\":\"ok\",\"latest\":\"1.0.0\",\"error\":\"\",\"ago\":"
                                 "61}}");

  // An older build on the list: the built-in image stays the target, with its own notes.
  state = verified().onlineOk(listNaming("0.9.1", "Old notes."), kCheckedAt).build();
  doc = document(state);
  EXPECT_NE(doc.find("\"target\":\"0.9.3\",\"notes\":\"" + std::string(kBuiltInNotes) +
                     "\",\"source\":\"built-in\""),
            std::string::npos);
  EXPECT_NE(doc.find("\"latest\":\"0.9.1\""), std::string::npos);

  // The same version on the list and built in: the list's notes, the built-in image's source.
  state = verified().onlineOk(listNaming("0.9.3", "Listed notes."), kCheckedAt).build();
  EXPECT_NE(document(state).find("\"notes\":\"Listed notes.\",\"source\":\"built-in\""),
            std::string::npos);

  // A failed check: its message, and the stored list is not consulted.
  state = verified()
              .onlineOk(listNaming("1.0.0", "Faster pairing."), kCheckedAt)
              .onlineFailed("The update server didn't answer \"in time\"", kNow - 999)
              .build();
  EXPECT_EQ(part(document(state), "online"),
            "{\"state\":\"failed\",\"latest\":\"\",\"error\":\"The update server didn't "
            "answer \\\"in time\\\"\",\"ago\":0}");
  EXPECT_NE(document(state).find("\"target\":\"0.9.3\""), std::string::npos);

  // Only the list: no built-in image.
  const FirmwareState online =
      FirmwareStateBuilder().onlineOk(listNaming("1.0.0", ""), kCheckedAt).build();
  doc = document(online);
  EXPECT_NE(doc.find(std::string("\"source\":\"") + UpdateHost +
                     "\",\"builtIn\":\"\","
                     "\"builtInChecked\":false"),
            std::string::npos);
}

TEST(FirmwareTrayReaders, TheVersionOfferedForTheRunningDongle) {
  struct Case {
    bool present;
    const char* running;
    const char* listed;  // nullptr: only the built-in 0.9.3
    bool active;
    bool queued;
    const char* offered;  // nullptr: none
  };
  for (const Case& c : std::vector<Case>{
           {true, "0.9.1", nullptr, false, false, "0.9.3"},
           {true, "", nullptr, false, false, "0.9.3"},
           {true, "odd", nullptr, false, false, "0.9.3"},
           {true, "0.9.3", nullptr, false, false, nullptr},
           {true, "1.0.0", nullptr, false, false, nullptr},
           {true, "0.9.3", "1.4.0", false, false, "1.4.0"},
           {true, "0.9.1", nullptr, true, false, nullptr},
           {true, "0.9.1", nullptr, false, true, "0.9.3"},
           {false, "", nullptr, false, false, nullptr},
       }) {
    FirmwareStateBuilder built = verified();
    if (c.present) built.runningDongle(c.running);
    if (c.listed != nullptr) built.onlineOk(listNaming(c.listed, ""), kCheckedAt);
    if (c.active) built.jobRunning(FirmwareAction::Update);
    if (c.queued) built.jobQueued(FirmwareAction::Install);
    const FirmwareState state = built.build();
    std::string version = "untouched";
    EXPECT_EQ(offeredUpdate(state, version), c.offered != nullptr) << c.running;
    if (c.offered != nullptr) {
      EXPECT_EQ(version, c.offered);
    }
  }
  const FirmwareState nothing = FirmwareStateBuilder().runningDongle("").build();
  std::string version;
  EXPECT_FALSE(offeredUpdate(nothing, version));
}

TEST(FirmwareTrayReaders, TheJobsLine) {
  FirmwareState state;
  std::string line = "untouched";
  EXPECT_FALSE(jobTrayText(state, line));
  EXPECT_EQ(line, "untouched");
  // A finished job is no line of its own.
  state = FirmwareStateBuilder()
              .jobRunning(FirmwareAction::Install)
              .jobEnded(FirmwareJobEnding::ok("0.9.3", "Firmware 0.9.3 is on.", false), 1)
              .build();
  EXPECT_FALSE(jobTrayText(state, line));
  state = FirmwareStateBuilder().jobQueued(FirmwareAction::Install).build();
  ASSERT_TRUE(jobTrayText(state, line));
  EXPECT_EQ(line, "Getting firmware ready");
  struct Case {
    JobPhase phase;
    int pct;
    bool needsUser;
    const char* line;
  };
  for (const Case& c : std::vector<Case>{
           {JobPhase::Prepare, 1, false, "Getting firmware ready"},
           {JobPhase::Download, 6, false, "Getting firmware ready"},
           {JobPhase::Enter, 10, false, "Getting firmware ready"},
           {JobPhase::Button, 10, true, "Press the button on your dongle"},
           {JobPhase::Write, 10, true, "Press the button on your dongle"},
           {JobPhase::Inspect, 13, false, "Getting firmware ready"},
           {JobPhase::Write, 25, false, "Updating firmware \xE2\x80\x94 25%"},
           {JobPhase::Verify, 40, false, "Updating firmware \xE2\x80\x94 40%"},
           {JobPhase::Copy, 80, false, "Updating firmware \xE2\x80\x94 80%"},
           {JobPhase::Restart, 90, false, "Restarting the dongle"},
           {JobPhase::Reconnect, 97, false, "Restarting the dongle"},
       }) {
    state = FirmwareStateBuilder()
                .jobRunning(FirmwareAction::Install)
                .jobStep(c.phase, c.pct, "")
                .jobNeedsUser(c.needsUser)
                .build();
    ASSERT_TRUE(jobTrayText(state, line));
    EXPECT_EQ(line, c.line) << phaseWord(c.phase);
  }
}

}  // namespace
}  // namespace tw
