// Keys bound in the compositor, as the README tells a sway user to bind them: `vesk --launcher`
// and `vesk --clipboard` pressed over a Wayland app. The compositor, its clients and Vesk run
// as one user, as on a desktop, so the bound commands reach the running instance.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/vesk_process.h"
#include "tests/e2e/wayland/sway_session.h"

namespace vesk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The script a sway binding runs for `vesk <option>`; `writeBoundCommand` writes it.
std::string boundCommand(const Home& home, const std::string& option) {
  return home.root() + "/vesk" + option;
}

// Runs `vesk` with `option` in `home`'s environment as it is now.
void writeBoundCommand(const Home& home, const std::string& option) {
  const std::string path = boundCommand(home, option);
  std::ofstream script(path);
  script << "#!/bin/sh\nexec env -i";
  for (const auto& [name, value] : home.environment()) {
    script << " '" << name << "=" << value << "'";
  }
  script << " '" << VESK_BINARY << "' " << option << "\n";
  script.close();
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

class WaylandKeysE2E : public testing::Test {
 protected:
  void SetUp() override {
    if (!sway->problem().empty()) {
      GTEST_SKIP() << sway->problem();
    }
  }

  // Presses keys on the compositor's virtual keyboard: `commands` are virtual_keys' lines.
  void press(const std::string& commands) {
    ASSERT_EQ(runProgram(home, sway->client({VIRTUAL_KEYS}), commands + "\n"), 0);
  }

  // The window that has the keyboard focus, by sway: its X11 class or Wayland app id, and title.
  std::string focused() {
    const std::string out = home.root() + "/tree.json";
    std::string line;
    for (const std::string& arg : sway->client({"swaymsg", "-t", "get_tree"})) {
      line += " '" + arg + "'";
    }
    runProgram(home, {"sh", "-c", line + " > " + out});
    std::ifstream file(out);
    const std::string json{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::function<std::string(const QJsonObject&)> find = [&](const QJsonObject& node) {
      if (node["focused"].toBool()) {
        const QString klass = node["window_properties"].toObject()["class"].toString();
        return (klass.isEmpty() ? node["app_id"].toString() : klass).toStdString() + ": " +
               node["name"].toString().toStdString();
      }
      for (const char* children : {"nodes", "floating_nodes"}) {
        for (const auto& child : node[children].toArray()) {
          if (std::string found = find(child.toObject()); !found.empty()) {
            return found;
          }
        }
      }
      return std::string();
    };
    return find(QJsonDocument::fromJson(QByteArray::fromStdString(json)).object());
  }

  Home home;
  std::unique_ptr<SwaySession> sway = std::make_unique<SwaySession>(
      std::vector<std::string>{"bindsym Ctrl+Alt+l exec " + boundCommand(home, "--launcher"),
                               "bindsym Ctrl+Alt+h exec " + boundCommand(home, "--clipboard")});
};

TEST_F(WaylandKeysE2E, KeysBoundInSwayOpenAFocusedPanelOverAWaylandAppThatLaunchesAndPastesBack) {
  const std::string launched = home.root() + "/zqx-ran";
  std::ofstream(home.applications() + "/zqx.desktop")
      << "[Desktop Entry]\nType=Application\nName=Zqx Marker\nExec=touch " << launched << "\n";
  home.display = sway->x11Display();
  home.extra["WAYLAND_DISPLAY"] = sway->socket();
  home.extra["XDG_SESSION_TYPE"] = "wayland";
  writeBoundCommand(home, "--launcher");
  writeBoundCommand(home, "--clipboard");
  SwaySession::giveToCompositorUser(home.root());
  VeskProcess vesk(home);
  vesk.runThrough = SwaySession::asCompositorUser();
  ASSERT_TRUE(vesk.start());
  ASSERT_TRUE(vesk.waitForLog("Watching the clipboard", 15s)) << vesk.log();
  for (const char* text : {"older", "newer"}) {
    ASSERT_EQ(runProgram(home, sway->client({"wl-copy", text})), 0);
    ASSERT_TRUE(pumpUntil([&] {
      const auto clips = storedClips(home.database());
      return !clips.empty() && clips.front().text == text;
    })) << vesk.log();
  }

  Child field(sway->client({TEXT_FIELD}, {{"QT_QPA_PLATFORM", "wayland"}}), home.environment());
  ASSERT_TRUE(field.waitForLine("focused", 15s));
  const std::string fieldWindow = "wayland_text_field: vesk paste target";
  ASSERT_EQ(focused(), fieldWindow);

  // The launcher: the panel maps with the focus, takes a query and Enter, and launches.
  press("chord ctrl+alt+l");
  ASSERT_TRUE(vesk.waitForLog("The panel has the focus")) << vesk.log();
  // X11's input focus may come a moment before the compositor's keyboard focus, which decides
  // where typed keys go.
  const auto panelFocused = [&] { return focused().starts_with("vesk:"); };
  ASSERT_TRUE(pumpUntil(panelFocused)) << focused();
  press("type zqx\nkey Return");
  ASSERT_TRUE(pumpUntil([&] { return fs::exists(launched); })) << vesk.log();
  ASSERT_TRUE(pumpUntil([&] { return focused() == fieldWindow; })) << focused();

  // The clipboard history: Down and Enter paste the older clip into the Wayland field.
  press("chord ctrl+alt+h");
  ASSERT_TRUE(pumpUntil([&] { return vesk.count("The panel has the focus") == 2; })) << vesk.log();
  ASSERT_TRUE(pumpUntil(panelFocused)) << focused();
  press("key Down\nkey Return");
  ASSERT_TRUE(pumpUntil([&] { return field.last("text:") == "older"; }))
      << field.last("text:") << vesk.log();
  EXPECT_EQ(focused(), fieldWindow);
}

}  // namespace
}  // namespace vesk::test
