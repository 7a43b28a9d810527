#include "platform/linux/x11_clipboard_manager.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "core/clipboard/clip_reading.h"
#include "platform/linux/x11_clipboard_types.h"
#include "platform/linux/x11_selection_reader.h"
#include "platform/linux/xcb_connection.h"

namespace vesk {
namespace {

using Types = X11ClipboardTypes;

// The targets a hand-over keeps: text in any form, and images.
bool isTextTarget(std::string_view name) {
  return name.starts_with("text/") || name == "UTF8_STRING" || name == "STRING" || name == "TEXT";
}
bool isImageTarget(std::string_view name) {
  return name.starts_with("image/");
}

bool among(const std::vector<xcb_atom_t>& atoms, xcb_atom_t atom) {
  return std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

// The requestor names no property before ICCCM 2: the target is the property then.
xcb_atom_t propertyOf(const xcb_selection_request_event_t& request) {
  return request.property == XCB_NONE ? request.target : request.property;
}

}  // namespace

X11ClipboardManager::X11ClipboardManager(XcbConnection& connection, xcb_window_t window,
                                         X11SelectionReader& reader, X11SelectionOwner& owner,
                                         std::chrono::milliseconds copyTimeout,
                                         uint64_t handOverBytes, Thread thread)
    : connection_(connection),
      window_(window),
      reader_(reader),
      owner_(owner),
      copyTimeout_(copyTimeout),
      handOverBytes_(handOverBytes),
      thread_(std::move(thread)),
      clipboard_(connection.atom("CLIPBOARD")),
      manager_(connection.atom("CLIPBOARD_MANAGER")),
      targets_(connection.atom("TARGETS")),
      saveTargets_(connection.atom("SAVE_TARGETS")),
      timestamp_(connection.atom("TIMESTAMP")),
      hint_(connection.atom(ClipReading::passwordManagerHint)) {
  for (const std::string_view marker : ClipReading::skipMarkers) {
    markers_.push_back(connection.atom(marker));
  }
  for (const std::string_view name : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE",
                                      "INSERT_SELECTION", "INSERT_PROPERTY"}) {
    unsaved_.push_back(connection.atom(name));
  }
}

void X11ClipboardManager::start() {
  xcb_connection_t* c = connection_.get();
  const XcbReply<xcb_get_selection_owner_reply_t> current(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, manager_), nullptr));
  if (current && current->owner != XCB_NONE) {
    thread_.log(
        "Another clipboard manager is running: it keeps copies after their applications quit");
    return;
  }
  const auto time = reader_.serverTime();
  if (!time) {
    return;
  }
  xcb_set_selection_owner(c, window_, manager_, *time);
  const XcbReply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, manager_), nullptr));
  managing_ = owner && owner->owner == window_;
  managerTime_ = *time;
}

bool X11ClipboardManager::handle(const xcb_generic_event_t* event) {
  if (eventType(event) == XCB_SELECTION_REQUEST) {
    const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
    if (request->owner == window_ && request->selection == manager_) {
      answer(*request);
      return true;
    }
  }
  if (eventType(event) == XCB_SELECTION_CLEAR) {
    const auto* clear = reinterpret_cast<const xcb_selection_clear_event_t*>(event);
    if (clear->owner == window_ && clear->selection == manager_) {
      managing_ = false;
      kept_.clear();
      thread_.log(
          "Another clipboard manager took over: it keeps copies after their applications quit");
      return true;
    }
  }
  return false;
}

// Requests to the clipboard manager: its targets, and SAVE_TARGETS, the hand-over of an
// application about to quit (answered on the clipboard thread's task queue, as it reads).
void X11ClipboardManager::answer(const xcb_selection_request_event_t& request) {
  const xcb_atom_t property = propertyOf(request);
  xcb_connection_t* c = connection_.get();
  if (managing_ && request.target == targets_) {
    const std::array<xcb_atom_t, 3> atoms{targets_, saveTargets_, timestamp_};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                        atoms.size(), atoms.data());
    X11SelectionOwner::notify(connection_, request, property);
  } else if (managing_ && request.target == timestamp_) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_INTEGER, 32,
                        1, &managerTime_);
    X11SelectionOwner::notify(connection_, request, property);
  } else if (managing_ && request.target == saveTargets_) {
    // One hand-over at a time, and only from the application giving up the clipboard.
    if (saving_ || !fromClipboardOwner(request.requestor)) {
      X11SelectionOwner::notify(connection_, request, XCB_NONE);
    } else {
      saving_ = true;
      thread_.post([this, request] {
        // The next hand-over may come however this one ends.
        try {
          save(request);
        } catch (...) {
          saving_ = false;
          throw;
        }
        saving_ = false;
      });
    }
  } else {
    X11SelectionOwner::notify(connection_, request, XCB_NONE);
  }
}

// Whether `window` was made by the X client that owns the clipboard (window ids carry the id
// base of the connection that made them).
bool X11ClipboardManager::fromClipboardOwner(xcb_window_t window) {
  xcb_connection_t* c = connection_.get();
  const XcbReply<xcb_get_selection_owner_reply_t> current(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard_), nullptr));
  const uint32_t base = ~xcb_get_setup(c)->resource_id_mask;
  return current && current->owner != XCB_NONE && current->owner != window_ &&
         (current->owner & base) == (window & base);
}

// Reads the clipboard from the application handing it over (its text types and one image type
// among the targets it names, or among all it offers, within the hand-over budget), takes the
// clipboard with them, then tells it that it may quit. Gives up as soon as Vesk writes.
void X11ClipboardManager::save(const xcb_selection_request_event_t& request) {
  std::vector<xcb_atom_t> wanted;
  if (request.property != XCB_NONE) {
    wanted = connection_.cardinals(request.requestor, request.property);
  }
  const int64_t count = thread_.changeCount();
  thread_.readingHandOver();
  const auto givenWay = [this, count] {
    return thread_.changeCount() != count || thread_.writeWaiting();
  };
  reader_.newCopy(copyTimeout_, givenWay);
  std::vector<xcb_atom_t> offered;
  if (const auto list = reader_.convert(targets_)) {
    offered.resize(list->size() / 4);
    std::copy_n(list->data(), offered.size() * 4, reinterpret_cast<uint8_t*>(offered.data()));
  }
  if (wanted.empty()) {
    wanted = offered;
  }
  // A concealed or transient copy is not kept: it was never meant to outlive its owner.
  const bool marked = std::any_of(offered.begin(), offered.end(),
                                  [&](xcb_atom_t atom) { return among(markers_, atom); });
  const bool keepable =
      !marked && (!among(offered, hint_) || !Types::hintConceals(reader_.convert(hint_)));
  const X11SelectionOwner::SharedOffer offer =
      keepable ? readHandOver(chosenHandOver(wanted)) : X11SelectionOwner::SharedOffer{};
  bool taken = false;
  if (!offer.empty() && !givenWay()) {
    if (const auto time = reader_.serverTime()) {
      taken = owner_.take(offer, *time);
    }
  }
  X11SelectionOwner::notify(connection_, request, taken ? propertyOf(request) : XCB_NONE);
}

// What of the `wanted` targets a hand-over keeps: the text types first, then one image type
// (PNG when offered).
X11ClipboardManager::Chosen X11ClipboardManager::chosenHandOver(
    const std::vector<xcb_atom_t>& wanted) {
  Chosen chosen;
  std::optional<std::pair<xcb_atom_t, std::string>> image;
  for (const xcb_atom_t target : wanted) {
    std::string name = connection_.atomName(target);
    if (among(unsaved_, target) || name.empty() ||
        std::any_of(chosen.begin(), chosen.end(),
                    [&](const auto& c) { return c.first == target; })) {
      continue;
    }
    if (isTextTarget(name)) {
      chosen.emplace_back(target, std::move(name));
    } else if (isImageTarget(name) && (!image || name == "image/png")) {
      image.emplace(target, std::move(name));
    }
  }
  if (image) {
    chosen.push_back(std::move(*image));
  }
  return chosen;
}

// Reads the chosen targets of a hand-over within its budget. Targets with the same bytes share
// one buffer; the budget counts each buffer once.
X11SelectionOwner::SharedOffer X11ClipboardManager::readHandOver(const Chosen& chosen) {
  X11SelectionOwner::SharedOffer offer;
  uint64_t left = handOverBytes_;
  for (const auto& [target, name] : chosen) {
    auto bytes = reader_.convert(target, left);
    if (!bytes) {
      continue;
    }
    const auto same = std::find_if(offer.begin(), offer.end(),
                                   [&](const auto& kept) { return *kept.second == *bytes; });
    if (same != offer.end()) {
      offer.emplace_back(name, same->second);
      continue;
    }
    left -= bytes->size();
    offer.emplace_back(name, std::make_shared<const Bytes>(std::move(*bytes)));
  }
  return offer;
}

void X11ClipboardManager::keep(int64_t changeCount, size_t item, const std::string& type,
                               const Bytes& bytes) {
  if (managing_) {
    kept_.keep(changeCount, item, type, bytes);
  }
}

void X11ClipboardManager::ownerChanged(int64_t before, bool ownerGone) {
  if (ownerGone && managing_ && kept_.holds(before)) {
    thread_.post([this, count = before + 1] { adopt(count); });
  }
}

// The clipboard's owner went away without handing it over: serve the copy kept of it, unless a
// newer copy or owner came meanwhile.
void X11ClipboardManager::adopt(int64_t count) {
  if (thread_.changeCount() != count || kept_.items().empty() || owner_.owns()) {
    return;
  }
  xcb_connection_t* c = connection_.get();
  const XcbReply<xcb_get_selection_owner_reply_t> current(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard_), nullptr));
  if (!current || current->owner != XCB_NONE) {
    return;
  }
  const auto time = reader_.serverTime();
  if (time && thread_.changeCount() == count) {
    owner_.take(Types::offerFor(kept_.items()), *time);
  }
}

}  // namespace vesk
