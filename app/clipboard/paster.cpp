#include "app/clipboard/paster.h"

#include <utility>

#include "platform/app_catalog.h"
#include "platform/key_layout.h"
#include "platform/key_synthesizer.h"
#include "platform/pasteboard_writer.h"

namespace vesk {

bool isPaste(ClipDelivery delivery) {
  return delivery == ClipDelivery::paste || delivery == ClipDelivery::pastePlainText ||
         delivery == ClipDelivery::pasteNext;
}

bool isPlainText(ClipDelivery delivery) {
  return delivery == ClipDelivery::pastePlainText || delivery == ClipDelivery::copyPlainText;
}

Paster::Paster(std::shared_ptr<PasteboardWriter> writer, std::shared_ptr<KeySynthesizer> keys,
               std::shared_ptr<const KeyLayout> layout)
    : writer_(std::move(writer)), keys_(std::move(keys)), layout_(std::move(layout)) {}

ClipItems Paster::marked(ClipItems items, const std::optional<std::string>& source,
                         bool transient) {
  if (items.empty()) {
    return items;
  }
  auto& first = items.front();
  if (source) {
    first.push_back(Representation{std::string(sourceType), Bytes(source->begin(), source->end())});
  }
  if (transient) {
    first.push_back(Representation{std::string(transientType), {}});
  }
  return items;
}

Result<int64_t> Paster::write(ClipItems items, const std::optional<std::string>& source,
                              bool transient) {
  return writer_->write(marked(std::move(items), source, transient));
}

PasteTarget PasteTarget::active(Workspace& workspace, const AppCatalog& catalog) {
  const auto front = workspace.frontmostApplication();
  return {workspace.activeWindow(), front && catalog.isTerminalEmulator(front->entryPath)};
}

bool Paster::pressPaste(PasteTarget target) {
  std::optional<uint32_t> key = layout_->keyCode("v");
  if (!key) {
    key = layout_->keyCode(virtualKeyV);
  }
  if (!key) {
    return false;
  }
  return keys_->pressPaste(*key, target.terminal, target.window);
}

bool Paster::isTrusted() {
  return keys_->isTrusted();
}

}  // namespace vesk
