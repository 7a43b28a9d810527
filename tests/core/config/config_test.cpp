#include "core/config/config.h"

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/config/toml_reader.h"

namespace vesk {
namespace {

Shortcut parsed(const std::string& text) {
  return Shortcut::parse(text).value();
}

Config::Parsed first(const std::string& text) {
  return Config::parse(text, std::nullopt);
}

std::vector<std::string> problemsOf(const std::string& text) {
  return first(text).problems;
}

using Problems = std::vector<std::string>;

TEST(Config, TemplateParsesToTheDefaultsWithNoProblems) {
  const auto result = first(std::string(Config::templateText()));
  EXPECT_TRUE(result.problems.empty()) << result.problems.front();
  EXPECT_EQ(result.config, Config());
  EXPECT_TRUE(Config::templateText().starts_with("# Vesk settings. Saved changes apply"));
  EXPECT_TRUE(Config::templateText().ends_with("# mailto = \"Thunderbird\"\n"));
  EXPECT_EQ(std::count(Config::templateText().begin(), Config::templateText().end(), '\n'), 75);
}

TEST(Config, CarriageReturnLineFeedFileReadsTheSame) {
  std::string crlf;
  for (const char c : Config::templateText()) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  const auto result = first(crlf);
  EXPECT_TRUE(result.problems.empty());
  EXPECT_EQ(result.config, Config());
  EXPECT_EQ(problemsOf("[launcher]\r\n\r\nmax_depth = 40\r\n"),
            Problems{"line 3: launcher.max_depth is 40, expected 1 to 32"});
}

TEST(Config, KeysLeftOutTakeTheirDefaultsWhateverCameBefore) {
  Config previous;
  previous.maxDepth = 3;
  previous.terminal = "Ghostty";
  previous.clipboardHotkey.reset();
  previous.openWith["md"] = "Editor";
  for (const std::string text : {"", "# nothing\n", "[launcher]\n"}) {
    const auto result = Config::parse(text, previous);
    EXPECT_TRUE(result.problems.empty());
    EXPECT_EQ(result.config, Config()) << text;
  }
}

TEST(Config, WholeFileFailureKeepsThePreviousSettings) {
  Config previous;
  previous.maxDepth = 3;
  const auto later = Config::parse("[launcher]\nmax_depth = 5\nx = \"open\n", previous);
  EXPECT_EQ(later.config, previous);
  EXPECT_EQ(later.problems,
            Problems{"line 3: unterminated string, so the settings stay as they were"});

  const auto firstRead = first("\n\n\n\n\n\n[a]\nb = {}\r\n");
  EXPECT_EQ(firstRead.config, Config::firstReadFallback());
  EXPECT_FALSE(firstRead.config.clipboardMaxSizeGB.has_value());
  EXPECT_FALSE(firstRead.config.clipboardMaxAgeDays.has_value());
  EXPECT_EQ(firstRead.problems,
            Problems{"line 8: inline tables aren't supported, so every setting is at its default "
                     "and no clipboard history is dropped"});

  EXPECT_EQ(first("a = \"\xFF\"\n").problems,
            Problems{"config.toml isn't UTF-8 text, so every setting is at its default and no "
                     "clipboard history is dropped"});
  EXPECT_EQ(Config::unchanged("config.toml is missing", previous).problems,
            Problems{"config.toml is missing, so the settings stay as they were"});
}

TEST(Config, AProblemKeepsThePreviousValueWhileTheRestApplies) {
  Config previous;
  previous.maxDepth = 9;
  previous.clipboardMaxSizeGB = 5;
  previous.emptyState = Config::EmptyState::none;
  const std::string text =
      "[launcher]\nmax_depth = 0\nempty_state = \"Running\"\nlaunch_at_login = false\n"
      "[clipboard]\nmax_size_gb = \"2\"\nmax_age_days = 7\n";
  const auto later = Config::parse(text, previous);
  EXPECT_EQ(later.problems,
            (Problems{"line 2: launcher.max_depth is 0, expected 1 to 32",
                      "line 3: launcher.empty_state is \"Running\", expected \"recent\", "
                      "\"running\" or \"none\"",
                      "line 6: clipboard.max_size_gb should be a number, like 2 or 0.5"}));
  EXPECT_EQ(later.config.maxDepth, 9);
  EXPECT_EQ(later.config.clipboardMaxSizeGB, 5.0);
  EXPECT_EQ(later.config.emptyState, Config::EmptyState::none);
  EXPECT_FALSE(later.config.launchAtLogin);
  EXPECT_EQ(later.config.clipboardMaxAgeDays, 7);

  // On the first read the fallback is the default, without any clipboard limit.
  const auto firstRead = first(text);
  EXPECT_EQ(firstRead.config.maxDepth, 6);
  EXPECT_EQ(firstRead.config.clipboardMaxSizeGB, std::nullopt);
  EXPECT_EQ(firstRead.config.clipboardMaxAgeDays, 7);
}

TEST(Config, EverySettingMessage) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[hotkeys]\nlauncher = 1", "line 2: hotkeys.launcher should be a string in quotes"},
      {"[hotkeys]\nlauncher = \"\"", "line 2: hotkeys.launcher can't be off: it's how Vesk opens"},
      {"[hotkeys]\nclipboard = \"ctrl+c\"",
       "line 2: hotkeys.clipboard \"ctrl+c\" is Copy in every app, so it's left as it was"},
      {"[hotkeys]\npaste_next = \"shift+a\"",
       "line 2: hotkeys.paste_next \"shift+a\" isn't a shortcut like \"ctrl+alt+space\""},
      {"[hotkeys]\nlauncher = \"hyper+k\"",
       "line 2: hotkeys.launcher \"hyper+k\" isn't a shortcut like \"ctrl+alt+space\""},
      {"[launcher]\nempty_state = 2", "line 2: launcher.empty_state should be a string in quotes"},
      {"[launcher]\nclipboard_alias = \"c c\"",
       "line 2: launcher.clipboard_alias \"c c\" should be one word, like \"c\""},
      {"[launcher]\nclipboard_alias = \"c\xC2\xA0\"",
       "line 2: launcher.clipboard_alias \"c\xC2\xA0\" should be one word, like \"c\""},
      {"[actions]\nterminal = []", "line 2: actions.terminal should be a string in quotes"},
      {"[launcher]\nlaunch_at_login = \"yes\"",
       "line 2: launcher.launch_at_login should be true or false"},
      {"[launcher]\nfolders = \"~\"",
       "line 2: launcher.folders should be a list of strings, like [\"~/Documents\"]"},
      {"[launcher]\nignore = [\"a\", 1]",
       "line 2: launcher.ignore should be a list of strings, like [\"~/Documents\"]"},
      {"[launcher]\nmax_depth = 6.0", "line 2: launcher.max_depth should be a number"},
      {"[launcher]\nmax_depth = 33", "line 2: launcher.max_depth is 33, expected 1 to 32"},
      {"[clipboard]\nmax_size_gb = 0",
       "line 2: clipboard.max_size_gb is 0, expected more than 0 and at most 1000"},
      {"[clipboard]\nmax_size_gb = 0.0",
       "line 2: clipboard.max_size_gb is 0.0, expected more than 0 and at most 1000"},
      {"[clipboard]\nmax_size_gb = 1000.5",
       "line 2: clipboard.max_size_gb is 1000.5, expected more than 0 and at most 1000"},
      {"[clipboard]\nmax_size_gb = 1e20",
       "line 2: clipboard.max_size_gb is 1e+20, expected more than 0 and at most 1000"},
      {"[clipboard]\nmax_size_gb = -0.25",
       "line 2: clipboard.max_size_gb is -0.25, expected more than 0 and at most 1000"},
      {"[clipboard]\nmax_age_days = 1.5",
       "line 2: clipboard.max_age_days should be a whole number of days"},
      {"[clipboard]\nmax_age_days = 3651",
       "line 2: clipboard.max_age_days is 3651, expected 1 to 3650"},
      {"[keys]\nup = 1",
       "line 2: keys.up should be a key in quotes, or a list of them like [\"up\", \"ctrl+k\"]"},
      {"[keys]\nup = [\"up\", [\"k\"]]",
       "line 2: keys.up should be a key in quotes, or a list of them like [\"up\", \"ctrl+k\"]"},
      {"[keys]\ndown = [\"down\", \"ctrl+\"]",
       "line 2: keys.down \"ctrl+\" isn't a key like \"ctrl+k\" or \"up\""},
      {"[keys]\nrun = \"cmd+k\"", "line 2: unknown setting \"keys.run\""},
      {"[open_with]\npdf = 1", "line 2: open_with.pdf should be an app name in quotes"},
      {"[open_links]\n\"1http\" = \"x\"",
       "line 2: open_links \"1http\" isn't a URL scheme like \"https\""},
      {"[open_links]\nhttps = true", "line 2: open_links.https should be an app name in quotes"},
      {"[launcher]\ncolour = 1", "line 2: unknown setting \"launcher.colour\""},
      {"max_depth = 3", "line 1: unknown setting \"max_depth\""},
      {"[colours.dark]\nx = 1", "line 2: unknown setting \"colours.dark.x\""},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(problemsOf(text), Problems{message}) << text;
  }
}

TEST(Config, ProblemsAreSortedByLine) {
  const auto problems = problemsOf(
      "[launcher]\nmax_depth = 0\n[clipboard]\nmax_age_days = 0\n[keys]\nup = [\"up\", \"up\"]\n"
      "[actions]\nterminal = 1\n");
  ASSERT_EQ(problems.size(), 4U);
  EXPECT_TRUE(problems[0].starts_with("line 2: "));
  EXPECT_TRUE(problems[1].starts_with("line 4: "));
  EXPECT_TRUE(problems[2].starts_with("line 6: "));
  EXPECT_TRUE(problems[3].starts_with("line 8: "));
}

TEST(Config, AcceptedValues) {
  const auto result = first(
      "[launcher]\nmax_depth = 32\nclipboard_alias = \"\"\nempty_state = \"running\"\n"
      "folders = [\"~\", \"/srv/data\", \"~/Projects\"]\nignore = []\n"
      "[clipboard]\nmax_size_gb = 0.5\nmax_age_days = 3650\n"
      "[open_with]\n\".PDF\" = \"Preview\"\n\"public.image\" = \"Pixelmator\"\n"
      "[open_links]\n\"HTTPS://\" = \"Firefox\"\n\"x-my+app.1\" = \"Mine\"\n");
  EXPECT_TRUE(result.problems.empty()) << result.problems.front();
  EXPECT_EQ(result.config.maxDepth, 32);
  EXPECT_EQ(result.config.clipboardAlias, "");
  EXPECT_EQ(result.config.emptyState, Config::EmptyState::running);
  EXPECT_EQ(result.config.folders, (std::vector<std::string>{"~", "/srv/data", "~/Projects"}));
  EXPECT_TRUE(result.config.ignore.empty());
  EXPECT_EQ(result.config.clipboardMaxSizeGB, 0.5);
  EXPECT_EQ(result.config.openWith, (std::map<std::string, std::string>{
                                        {"pdf", "Preview"}, {"public.image", "Pixelmator"}}));
  EXPECT_EQ(result.config.openLinks,
            (std::map<std::string, std::string>{{"https", "Firefox"}, {"x-my+app.1", "Mine"}}));
}

TEST(Config, BadOpenWithValueKeepsTheEarlierApp) {
  Config previous;
  previous.openWith["pdf"] = "Preview";
  const auto result = Config::parse("[open_with]\nPDF = 3\nmd = \"Editor\"\n", previous);
  EXPECT_EQ(result.problems, Problems{"line 2: open_with.PDF should be an app name in quotes"});
  EXPECT_EQ(result.config.openWith,
            (std::map<std::string, std::string>{{"md", "Editor"}, {"pdf", "Preview"}}));
}

TEST(Config, RelativeFoldersAreRefused) {
  Config previous;
  previous.folders = {"/data"};
  const auto result = Config::parse("[launcher]\nfolders = [\"~\", \"Documents\"]\n", previous);
  EXPECT_EQ(result.problems,
            Problems{"line 2: launcher.folders \"Documents\" isn't a full path, like "
                     "\"~/Documents\" or \"/Volumes\""});
  EXPECT_EQ(result.config.folders, std::vector<std::string>{"/data"});
}

TEST(Config, HotKeys) {
  const auto off = first("[hotkeys]\nclipboard = \"\"\npaste_next = \"\"\n");
  EXPECT_TRUE(off.problems.empty());
  EXPECT_EQ(off.config.clipboardHotkey, std::nullopt);
  EXPECT_EQ(off.config.pasteNextHotkey, std::nullopt);

  const auto set = first("[hotkeys]\nlauncher = \"Alt + Space\"\nclipboard = \"f5\"\n");
  EXPECT_TRUE(set.problems.empty());
  EXPECT_EQ(set.config.launcherHotkey, parsed("alt+space"));
  EXPECT_EQ(set.config.clipboardHotkey, parsed("f5"));

  Config previous;
  previous.launcherHotkey = parsed("ctrl+alt+l");
  const auto kept = Config::parse("[hotkeys]\nlauncher = \"\"\n", previous);
  EXPECT_EQ(kept.config.launcherHotkey, parsed("ctrl+alt+l"));
}

TEST(Config, CollidingHotKeysTurnTheLaterOneOffInEitherLineOrder) {
  const auto below = first("[hotkeys]\nlauncher = \"cmd+p\"\nclipboard = \"cmd+p\"\n");
  EXPECT_EQ(below.problems,
            Problems{"line 3: hotkeys.launcher and hotkeys.clipboard are both \"super+p\", so "
                     "hotkeys.clipboard is off"});
  EXPECT_EQ(below.config.launcherHotkey, parsed("cmd+p"));
  EXPECT_EQ(below.config.clipboardHotkey, std::nullopt);

  const auto above = first("[hotkeys]\npaste_next = \"ctrl+alt+k\"\nlauncher = \"ctrl+alt+k\"\n");
  EXPECT_EQ(above.problems,
            Problems{"line 3: hotkeys.launcher and hotkeys.paste_next are both \"ctrl+alt+k\", "
                     "so hotkeys.paste_next is off"});
  EXPECT_EQ(above.config.launcherHotkey, parsed("ctrl+alt+k"));
  EXPECT_EQ(above.config.pasteNextHotkey, std::nullopt);
  EXPECT_EQ(above.config.clipboardHotkey, parsed("cmd+shift+v"));

  // A written key against a default one: the written line is the later.
  const auto againstDefault = first("\n[hotkeys]\npaste_next = \"shift+cmd+v\"\n");
  EXPECT_EQ(againstDefault.problems,
            Problems{"line 3: hotkeys.clipboard and hotkeys.paste_next are both \"shift+super+v\", "
                     "so hotkeys.paste_next is off"});
}

TEST(Config, PanelKeysAgainstHotKeysAndEachOther) {
  const auto result = first(
      "[hotkeys]\nclipboard = \"ctrl+p\"\n[keys]\nopen = []\nactions = \"cmd+c\"\n"
      "preview = [\"cmd+y\", \"space\"]\nrun_actions = [\"cmd+q\", \"ctrl+c\", \"cmd+e\"]\n");
  EXPECT_EQ(result.problems,
            (Problems{"line 4: keys.open needs a key, so it's \"return\"",
                      "line 7: keys.run_actions \"ctrl+c\" is Copy in the search field, so it's "
                      "left out"}));
  EXPECT_EQ(result.config.keys[PanelKey::open], std::vector<Shortcut>{parsed("return")});
  // cmd+c is Super+C here, free for the panel; ctrl+p went to the clipboard's hot key.
  EXPECT_EQ(result.config.keys[PanelKey::actions], std::vector<Shortcut>{parsed("cmd+c")});
  EXPECT_EQ(result.config.keys[PanelKey::up], std::vector<Shortcut>{parsed("up")});
  EXPECT_EQ(result.config.keys.runActions(),
            (std::vector<std::optional<Shortcut>>{parsed("cmd+q"), std::nullopt, parsed("cmd+e")}));

  const auto stringForms = first("[keys]\nup = \"ctrl+p\"\npreview = \"\"\n");
  EXPECT_TRUE(stringForms.problems.empty());
  EXPECT_EQ(stringForms.config.keys[PanelKey::up], std::vector<Shortcut>{parsed("ctrl+p")});
  EXPECT_TRUE(stringForms.config.keys[PanelKey::preview].empty());
}

TEST(Config, BadPanelKeyKeepsItsPreviousShortcutsAndPositions) {
  const auto earlier = first("[keys]\nrun_actions = [\"cmd+q\", \"ctrl+c\", \"cmd+e\"]\n");
  const auto later = Config::parse("[keys]\nrun_actions = [\"cmd+q\", \"nope\"]\n", earlier.config);
  EXPECT_EQ(later.problems,
            Problems{"line 2: keys.run_actions \"nope\" isn't a key like \"ctrl+k\" or \"up\""});
  EXPECT_EQ(later.config.keys.runActions(), earlier.config.keys.runActions());
}

TEST(Config, ClipboardRetention) {
  Config config;
  config.clipboardMaxSizeGB = 0.5;
  config.clipboardMaxAgeDays = 2;
  EXPECT_EQ(config.clipboardRetention().maxBytes, 500'000'000);
  EXPECT_EQ(config.clipboardRetention().maxAge, 172'800.0);
  config.clipboardMaxSizeGB.reset();
  config.clipboardMaxAgeDays.reset();
  EXPECT_EQ(config.clipboardRetention().maxBytes, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(config.clipboardRetention().maxAge, std::numeric_limits<double>::infinity());
  config.clipboardMaxSizeGB = 1e300;
  EXPECT_EQ(config.clipboardRetention().maxBytes, std::numeric_limits<std::int64_t>::max());
}

TEST(Config, FileRulesExpandAndResolveTheFolders) {
  const auto home = std::filesystem::temp_directory_path() / "vesk-config-test-home";
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home / "real");
  std::filesystem::create_directory_symlink(home / "real", home / "link");
  Config config;
  config.folders = {"~", "~/link/", "~/missing//", "relative"};
  config.ignore = {"node_modules", "~/Library"};
  const FileRules rules = config.fileRules(home.string());
  EXPECT_EQ(rules.roots, (std::vector<std::string>{home.string(), (home / "real").string(),
                                                   (home / "missing").string()}));
  EXPECT_EQ(rules.maxDepth, 6);
  EXPECT_EQ(rules.ignore, IgnoreRules(config.ignore, home.string()));
  EXPECT_EQ(
      rules.protectedPaths,
      (std::vector<std::string>{home.string() + "/Desktop", home.string() + "/Documents",
                                home.string() + "/Downloads",
                                home.string() + "/Library/Mobile Documents/com~apple~CloudDocs"}));
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace vesk
