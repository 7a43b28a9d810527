#pragma once
// GSettingsDesktopBindings: the keyboard shortcuts GNOME and Cinnamon keep for themselves, read
// through GIO's GSettings from the schemas that hold them (those installed; the others are
// skipped), the user's custom shortcuts included. Which desktop runs is told by
// XDG_CURRENT_DESKTOP, else by the window manager's name (asked at each call: it may start after
// Vesk). On any other desktop nothing is held here: KDE, Xfce and the rest refuse a taken key's
// grab themselves.
//
// Main thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop_bindings.h"

namespace vesk {

class XcbConnection;

class GSettingsDesktopBindings final : public DesktopBindings {
 public:
  enum class Desktop { other, gnome, cinnamon };

  // `currentDesktop` is XDG_CURRENT_DESKTOP's value; `display` the X server whose window manager
  // names the desktop when that is empty ("" = $DISPLAY; no server: the variable alone decides).
  GSettingsDesktopBindings(std::string currentDesktop, const std::string& display);
  ~GSettingsDesktopBindings() override;
  GSettingsDesktopBindings(const GSettingsDesktopBindings&) = delete;
  GSettingsDesktopBindings& operator=(const GSettingsDesktopBindings&) = delete;

  std::optional<Holder> holder(const Shortcut& shortcut) const override;

  // The desktop of a XDG_CURRENT_DESKTOP value (a list split by ":") or, when it names none of
  // the two, of the window manager's name ("Mutter", "GNOME Shell", "Mutter (Muffin)").
  static Desktop desktopOf(std::string_view currentDesktop, std::string_view windowManager);
  // The schemas a desktop keeps its shortcuts in, each read with its child schemas.
  static std::vector<std::string_view> schemas(Desktop desktop);
  // Whether a GTK accelerator ("<Super>p", "<Primary><Alt>T", "<Shift><Super>Page_Down") is
  // exactly this shortcut: the same key and the same modifiers.
  static bool matches(std::string_view accelerator, const Shortcut& shortcut);

 private:
  std::string windowManager() const;

  std::string currentDesktop_;
  std::unique_ptr<XcbConnection> connection_;  // none without an X server
};

}  // namespace vesk
