#include "platform/linux/gsettings_desktop_bindings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <utility>

#include <gio/gio.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/linux/gio_owned.h"
#include "platform/linux/x11_key_layout.h"
#include "platform/linux/xcb_connection.h"

namespace vesk {

namespace {

constexpr std::array<std::string_view, 5> kGnomeSchemas = {
    "org.gnome.desktop.wm.keybindings", "org.gnome.mutter.keybindings",
    "org.gnome.mutter.wayland.keybindings", "org.gnome.shell.keybindings",
    "org.gnome.settings-daemon.plugins.media-keys"};
constexpr std::array<std::string_view, 1> kCinnamonSchemas = {"org.cinnamon.desktop.keybindings"};

// The custom shortcuts: the key of a schema that lists them, the schema each one is kept in,
// and how an entry of the list becomes that schema's path.
struct CustomList {
  std::string_view schema;
  std::string_view key;
  std::string_view entrySchema;
  std::string_view pathPrefix;  // empty: the entries are paths themselves
};
constexpr std::array<CustomList, 2> kCustomLists = {{
    {"org.gnome.settings-daemon.plugins.media-keys", "custom-keybindings",
     "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", ""},
    {"org.cinnamon.desktop.keybindings", "custom-list",
     "org.cinnamon.desktop.keybindings.custom-keybinding",
     "/org/cinnamon/desktop/keybindings/custom-keybindings/"},
}};

struct SchemaUnref {
  void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
struct VariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
struct StrvFree {
  void operator()(gchar** list) const { g_strfreev(list); }
};
using Settings = std::unique_ptr<GSettings, ObjectUnref>;
using Schema = std::unique_ptr<GSettingsSchema, SchemaUnref>;
using Variant = std::unique_ptr<GVariant, VariantUnref>;
using Strv = std::unique_ptr<gchar*, StrvFree>;

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::optional<uint32_t> modifierBit(std::string_view name) {
  const std::string token = lower(name);
  if (token == "primary" || token == "control" || token == "ctrl" || token == "ctl") {
    return Shortcut::ctrl;
  }
  if (token == "shift" || token == "shft") {
    return Shortcut::shift;
  }
  // Meta sits on the Alt key (Mod1) in the standard key maps; Super and Hyper on Mod4.
  if (token == "alt" || token == "mod1" || token == "meta") {
    return Shortcut::alt;
  }
  if (token == "super" || token == "hyper" || token == "mod4") {
    return Shortcut::cmd;
  }
  return std::nullopt;
}

Schema lookup(std::string_view id) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (source == nullptr) {
    return nullptr;
  }
  return Schema(g_settings_schema_source_lookup(source, std::string(id).c_str(), TRUE));
}

// The strings of a value of type "s" or "as"; nothing for other types.
std::vector<std::string> strings(GSettings* settings, const char* key) {
  const Variant value(g_settings_get_value(settings, key));
  std::vector<std::string> out;
  if (!value) {
    return out;
  }
  if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING) != FALSE) {
    out.emplace_back(g_variant_get_string(value.get(), nullptr));
  } else if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING_ARRAY) != FALSE) {
    const gsize count = g_variant_n_children(value.get());
    for (gsize i = 0; i < count; ++i) {
      const Variant item(g_variant_get_child_value(value.get(), i));
      out.emplace_back(g_variant_get_string(item.get(), nullptr));
    }
  }
  return out;
}

bool isCustomListKey(std::string_view schema, std::string_view key) {
  return std::any_of(kCustomLists.begin(), kCustomLists.end(), [&](const CustomList& list) {
    return list.schema == schema && list.key == key;
  });
}

// The key of `settings` (of `schema`, named `id`), or of one of its children, that binds
// `shortcut`.
std::optional<DesktopBindings::Holder> heldIn(GSettings* settings, GSettingsSchema* schema,
                                              const std::string& id, const Shortcut& shortcut) {
  const Strv keys(g_settings_schema_list_keys(schema));
  for (gchar** key = keys.get(); key != nullptr && *key != nullptr; ++key) {
    if (isCustomListKey(id, *key)) {
      continue;
    }
    for (const std::string& accelerator : strings(settings, *key)) {
      if (GSettingsDesktopBindings::matches(accelerator, shortcut)) {
        return DesktopBindings::Holder{*key, id};
      }
    }
  }
  const Strv children(g_settings_schema_list_children(schema));
  for (gchar** child = children.get(); child != nullptr && *child != nullptr; ++child) {
    const Settings childSettings(g_settings_get_child(settings, *child));
    GSettingsSchema* raw = nullptr;
    g_object_get(childSettings.get(), "settings-schema", &raw, nullptr);
    const Schema childSchema(raw);
    if (childSchema) {
      if (auto holder = heldIn(childSettings.get(), childSchema.get(),
                               g_settings_schema_get_id(childSchema.get()), shortcut)) {
        return holder;
      }
    }
  }
  return std::nullopt;
}

// A custom shortcut of the list that binds `shortcut`, named by its own name.
std::optional<DesktopBindings::Holder> heldByCustom(GSettings* settings, const CustomList& list,
                                                    const Shortcut& shortcut) {
  const Schema entrySchema = lookup(list.entrySchema);
  if (!entrySchema) {
    return std::nullopt;
  }
  for (const std::string& entry : strings(settings, std::string(list.key).c_str())) {
    std::string path = std::string(list.pathPrefix) + entry;
    if (!path.ends_with('/')) {
      path += '/';
    }
    if (!path.starts_with('/') || path.find("//") != std::string::npos) {
      continue;  // not a path GSettings takes
    }
    const Settings custom(g_settings_new_full(entrySchema.get(), nullptr, path.c_str()));
    for (const std::string& accelerator : strings(custom.get(), "binding")) {
      if (GSettingsDesktopBindings::matches(accelerator, shortcut)) {
        const std::vector<std::string> names = strings(custom.get(), "name");
        const std::string name = names.empty() || names.front().empty() ? entry : names.front();
        return DesktopBindings::Holder{name, std::string(list.entrySchema)};
      }
    }
  }
  return std::nullopt;
}

}  // namespace

GSettingsDesktopBindings::GSettingsDesktopBindings(std::string currentDesktop,
                                                   const std::string& display)
    : currentDesktop_(std::move(currentDesktop)) {
  if (auto opened = XcbConnection::open(display)) {
    connection_ = std::move(opened).value();
  }
}

GSettingsDesktopBindings::~GSettingsDesktopBindings() = default;

GSettingsDesktopBindings::Desktop GSettingsDesktopBindings::desktopOf(
    std::string_view currentDesktop, std::string_view windowManager) {
  const std::string desktops = lower(currentDesktop);
  if (desktops.find("cinnamon") != std::string::npos) {
    return Desktop::cinnamon;
  }
  if (desktops.find("gnome") != std::string::npos) {
    return Desktop::gnome;
  }
  if (!desktops.empty()) {
    return Desktop::other;
  }
  const std::string manager = lower(windowManager);
  if (manager.find("muffin") != std::string::npos) {
    return Desktop::cinnamon;
  }
  if (manager.find("mutter") != std::string::npos || manager == "gnome shell") {
    return Desktop::gnome;
  }
  return Desktop::other;
}

std::vector<std::string_view> GSettingsDesktopBindings::schemas(Desktop desktop) {
  switch (desktop) {
    case Desktop::gnome:
      return {kGnomeSchemas.begin(), kGnomeSchemas.end()};
    case Desktop::cinnamon:
      return {kCinnamonSchemas.begin(), kCinnamonSchemas.end()};
    case Desktop::other:
      break;
  }
  return {};
}

bool GSettingsDesktopBindings::matches(std::string_view accelerator, const Shortcut& shortcut) {
  uint32_t modifiers = 0;
  while (accelerator.starts_with('<')) {
    const size_t close = accelerator.find('>');
    if (close == std::string_view::npos) {
      return false;
    }
    const std::optional<uint32_t> bit = modifierBit(accelerator.substr(1, close - 1));
    if (!bit) {
      return false;  // a modifier no shortcut of Vesk has
    }
    modifiers |= *bit;
    accelerator.remove_prefix(close + 1);
  }
  if (accelerator.empty() || modifiers != shortcut.modifiers) {
    return false;
  }
  const std::string name(accelerator);
  xkb_keysym_t keysym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
  if (keysym == XKB_KEY_NoSymbol) {
    keysym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_CASE_INSENSITIVE);
  }
  const uint32_t wanted = X11KeyLayout::keysymOfVirtualKey(shortcut.keyCode);
  return keysym != XKB_KEY_NoSymbol && wanted != 0 && xkb_keysym_to_lower(keysym) == wanted;
}

std::string GSettingsDesktopBindings::windowManager() const {
  if (!connection_) {
    return {};
  }
  const std::vector<uint32_t> check =
      connection_->cardinals(connection_->root(), connection_->atom("_NET_SUPPORTING_WM_CHECK"));
  if (check.empty()) {
    return {};
  }
  return connection_->text(check.front(), connection_->atom("_NET_WM_NAME"));
}

std::optional<DesktopBindings::Holder> GSettingsDesktopBindings::holder(
    const Shortcut& shortcut) const {
  const Desktop desktop =
      desktopOf(currentDesktop_, currentDesktop_.empty() ? windowManager() : std::string());
  for (const std::string_view id : schemas(desktop)) {
    const Schema schema = lookup(id);
    if (!schema) {
      continue;  // not installed: that part of the desktop isn't there
    }
    const Settings settings(g_settings_new_full(schema.get(), nullptr, nullptr));
    if (auto holder = heldIn(settings.get(), schema.get(), std::string(id), shortcut)) {
      return holder;
    }
    for (const CustomList& list : kCustomLists) {
      if (list.schema == id) {
        if (auto holder = heldByCustom(settings.get(), list, shortcut)) {
          return holder;
        }
      }
    }
  }
  return std::nullopt;
}

}  // namespace vesk
