#pragma once
// Ownership of what GIO and GLib hand out: objects released with g_object_unref, memory with
// g_free, strings and errors taken over into std::string and Failure.

#include <memory>
#include <string>
#include <string_view>

#include <glib.h>

#include <glib-object.h>

#include "core/base/result.h"

namespace vesk {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct GFree {
  void operator()(gpointer memory) const { g_free(memory); }
};

// The text GLib gave away, freed; empty for none.
inline std::string takeString(gchar* text) {
  const std::unique_ptr<gchar, GFree> owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

// The failure GLib reported, freed; `fallback` when it reported none.
inline Failure failureFrom(GError* error, std::string_view fallback) {
  Failure failure{error != nullptr ? std::string(error->message) : std::string(fallback)};
  if (error != nullptr) {
    g_error_free(error);
  }
  return failure;
}

}  // namespace vesk
