#pragma once
// X11ClipboardTypes: the mapping between the X11 clipboard's targets (MIME types and the old
// ICCCM names) and the type identifiers Vesk stores. Pure functions, any thread.
//
// On X11 the clipboard holds one item; a URI list (text/uri-list) stands for several items,
// one per URI, file URIs as "public.file-url" and others as "public.url". Marker types
// ("org.nspasteboard.*") are targets of the same name, and KDE's password-manager hint with
// the value "secret" means the copy is concealed. The Wayland clipboard offers the same MIME
// types and markers, and maps them here too.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/clipboard/clip.h"
#include "core/clipboard/clip_reading.h"

namespace vesk {

struct X11ClipboardTypes {
  static constexpr std::string_view kUriList = "text/uri-list";
  static constexpr std::string_view kKdePasswordHint = ClipReading::passwordManagerHint;
  static constexpr std::string_view kConcealed = ClipReading::skipMarkers[0];
  static constexpr std::string_view kFileUrl = ClipReading::fileURL;
  static constexpr std::string_view kUrl = "public.url";
  static constexpr std::string_view kPlainText = ClipReading::utf8Text;

  // The stored types a list of offered targets stands for, in the owner's order, each once.
  // URL types are not among them: they come from reading the URI list.
  static std::vector<std::string> typesOf(const std::vector<std::string>& targets);

  // The targets that can give a stored type, best first.
  static std::vector<std::string> targetsFor(std::string_view type);

  // Whether a target's bytes are Latin-1 text that must become UTF-8.
  static bool isLatin1(std::string_view target) { return target == "STRING"; }
  static std::string latin1ToUtf8(const std::vector<uint8_t>& bytes);

  // Whether a password manager's hint (the value of kKdePasswordHint) conceals the copy: unless
  // it can be read and is a short plain word other than "secret" (in any case), it does.
  static bool hintConceals(const std::optional<Bytes>& value);

  // The URIs of a text/uri-list, comments and blank lines left out.
  static std::vector<std::string> parseUriList(std::string_view list);
  static bool isFileUri(std::string_view uri);

  // An offer as its owner made it: the targets it offers, the URIs of its URI list, and
  // whether a password manager's hint concealed it.
  struct Offer {
    const std::vector<std::string>& targets;
    const std::vector<std::string>& uris;
    bool concealed = false;
  };
  // The stored types of each item of `offer`: the targets' types on the first (with the
  // concealed marker where a hint concealed it), a URL type on each item of the URI list.
  static std::vector<std::vector<std::string>> itemTypesOf(const Offer& offer);
  // Reads the bytes of `target` from the owner; none when it can't give them.
  using Receive = std::function<std::optional<Bytes>(const std::string& target)>;
  // The bytes of `type` on item `item` of `offer`: a URI of its list, the concealed marker's
  // value, or the first of the type's targets that `receive` gets (Latin-1 made UTF-8).
  // `fromOwner` says whether they are the owner's bytes (then they may be kept).
  struct Read {
    Bytes bytes;
    bool fromOwner = true;
  };
  static std::optional<Read> read(const Offer& offer, size_t item, const std::string& type,
                                  const Receive& receive);

  // What Vesk offers for a write of `items`: target name and bytes, in offer order. Text is
  // offered under the UTF-8 names, URLs of every item together as one URI list (and, for
  // files, in the file managers' copied-files form), markers under their own names.
  static std::vector<std::pair<std::string, Bytes>> offerFor(const ClipItems& items);
};

}  // namespace vesk
