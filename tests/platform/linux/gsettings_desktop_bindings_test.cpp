// The desktop's own shortcuts read from the schemas installed on this machine (mutter's and
// GNOME's settings daemon's), with the values in GSettings' memory backend.

#include "platform/linux/gsettings_desktop_bindings.h"

#include <cstdlib>
#include <memory>

#include <gio/gio.h>
#include <gtest/gtest.h>

namespace vesk {
namespace {

Shortcut parsed(const char* text) {
  return *Shortcut::parse(text);
}

TEST(GSettingsDesktopBindings, AcceleratorsMatchTheSameKeyWithExactlyTheSameModifiers) {
  using Bindings = GSettingsDesktopBindings;
  EXPECT_TRUE(Bindings::matches("<Super>p", parsed("super+p")));
  EXPECT_TRUE(Bindings::matches("<Super>P", parsed("cmd+p")));
  EXPECT_TRUE(Bindings::matches("<Primary><Alt>t", parsed("ctrl+alt+t")));
  EXPECT_TRUE(Bindings::matches("<Control><Shift>Escape", parsed("ctrl+shift+escape")));
  EXPECT_TRUE(Bindings::matches("<Shift><Super>Up", parsed("super+shift+up")));
  EXPECT_TRUE(Bindings::matches("<Alt>space", parsed("alt+space")));
  EXPECT_TRUE(Bindings::matches("<Super>equal", parsed("super++")));
  EXPECT_TRUE(Bindings::matches("F5", parsed("f5")));
  EXPECT_FALSE(Bindings::matches("<Super>p", parsed("super+shift+p")));
  EXPECT_FALSE(Bindings::matches("<Super><Shift>p", parsed("super+p")));
  EXPECT_FALSE(Bindings::matches("<Super>o", parsed("super+p")));
  EXPECT_FALSE(Bindings::matches("<Mod5>p", parsed("p")));
  EXPECT_FALSE(Bindings::matches("<Super", parsed("super+p")));
  EXPECT_FALSE(Bindings::matches("", parsed("p")));
  EXPECT_FALSE(Bindings::matches("XF86Display", parsed("super+p")));

  EXPECT_EQ(Bindings::desktopOf("ubuntu:GNOME", ""), Bindings::Desktop::gnome);
  EXPECT_EQ(Bindings::desktopOf("X-Cinnamon", "Mutter (Muffin)"), Bindings::Desktop::cinnamon);
  EXPECT_EQ(Bindings::desktopOf("KDE", "Mutter"), Bindings::Desktop::other);
  EXPECT_EQ(Bindings::desktopOf("", "Mutter"), Bindings::Desktop::gnome);
  EXPECT_EQ(Bindings::desktopOf("", "Mutter (Muffin)"), Bindings::Desktop::cinnamon);
  EXPECT_EQ(Bindings::desktopOf("", "Openbox"), Bindings::Desktop::other);
}

TEST(GSettingsDesktopBindings, GnomeHoldsItsWindowManagerKeysAndTheUsersCustomOnes) {
  const std::string mutter = "org.gnome.mutter.keybindings";
  const std::string media = "org.gnome.settings-daemon.plugins.media-keys";
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  for (const std::string& id : {mutter, media, media + ".custom-keybinding"}) {
    GSettingsSchema* schema =
        source != nullptr ? g_settings_schema_source_lookup(source, id.c_str(), TRUE) : nullptr;
    if (schema == nullptr) {
      GTEST_SKIP() << id << " isn't installed";
    }
    g_settings_schema_unref(schema);
  }
  ::setenv("GSETTINGS_BACKEND", "memory", 1);  // NOLINT(concurrency-mt-unsafe): one thread yet

  const std::string path = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/c0/";
  {
    const std::unique_ptr<GSettings, decltype(&g_object_unref)> list(g_settings_new(media.c_str()),
                                                                     &g_object_unref);
    const char* const paths[] = {path.c_str(), nullptr};
    ASSERT_TRUE(g_settings_set_strv(list.get(), "custom-keybindings", paths));
    const std::unique_ptr<GSettings, decltype(&g_object_unref)> custom(
        g_settings_new_with_path((media + ".custom-keybinding").c_str(), path.c_str()),
        &g_object_unref);
    ASSERT_TRUE(g_settings_set_string(custom.get(), "name", "Terminal"));
    ASSERT_TRUE(g_settings_set_string(custom.get(), "binding", "<Primary><Alt>t"));
  }

  const GSettingsDesktopBindings gnome("GNOME", ":none");
  const auto monitor = gnome.holder(parsed("super+p"));
  ASSERT_TRUE(monitor.has_value());
  EXPECT_EQ(monitor->name, "switch-monitor");
  EXPECT_EQ(monitor->source, mutter);
  const auto terminal = gnome.holder(parsed("ctrl+alt+t"));
  ASSERT_TRUE(terminal.has_value());
  EXPECT_EQ(terminal->name, "Terminal");
  EXPECT_EQ(terminal->source, media + ".custom-keybinding");
  // Vesk's own defaults are free on GNOME.
  for (const char* free : {"ctrl+alt+space", "super+shift+v", "ctrl+alt+v"}) {
    EXPECT_EQ(gnome.holder(parsed(free)).has_value(), false) << free;
  }
  // Elsewhere nothing is read: the same key is free on KDE.
  EXPECT_FALSE(GSettingsDesktopBindings("KDE", ":none").holder(parsed("super+p")).has_value());
}

}  // namespace
}  // namespace vesk
