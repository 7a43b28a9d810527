#include "app/clipboard/clip_deliverer.h"

#include <chrono>
#include <thread>
#include <utility>

#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/clipboard/clipboard_history.h"
#include "core/clipboard/clip_reading.h"
#include "core/clipboard/clipboard_store.h"

namespace vesk {

namespace {}  // namespace

ClipDeliverer::ClipDeliverer(Executor& executor, std::shared_ptr<ClipboardStore> store,
                             std::shared_ptr<Paster> paster, ClipboardHistory& history,
                             WallClock now)
    : executor_(executor),
      store_(std::move(store)),
      paster_(std::move(paster)),
      history_(history),
      now_(std::move(now)),
      self_(std::make_shared<ClipDeliverer*>(this)),
      pasteQueue_("launcher.paste") {}

ClipDeliverer::~ClipDeliverer() {
  *self_ = nullptr;
}

std::string ClipDeliverer::failureTitle(ClipDelivery delivery) {
  return isPaste(delivery) ? "Couldn't paste the clip" : "Couldn't copy the clip";
}

void ClipDeliverer::deliver(const Clip& clip, ClipDelivery delivery, PasteTarget target,
                            std::function<void(std::optional<Failure>)> done) {
  const bool press = isPaste(delivery);
  const bool plain = isPlainText(delivery);
  std::weak_ptr<ClipDeliverer*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated,
      [store = store_, paster = paster_, clip, press, plain, target]() -> std::optional<Failure> {
        if (plain) {
          auto text = store->text(clip.id);
          if (!text) {
            return text.failure();
          }
          ClipItems items{{Representation{std::string(ClipReading::utf8Text),
                                          Bytes(text.value().begin(), text.value().end())}}};
          // Transient: the plain copy is not a new clip; the clip moves to the top instead.
          if (auto written = paster->write(std::move(items), clip.source, true); !written) {
            return written.failure();
          }
        } else {
          auto items = store->items(clip.id);
          if (!items) {
            return items.failure();
          }
          // Not transient: the recorder sees the same content and moves the clip to the top.
          if (auto written = paster->write(std::move(items).value(), clip.source, false);
              !written) {
            return written.failure();
          }
        }
        // Only once the clip is on the clipboard: the paste key would paste whatever was there.
        if (press) {
          paster->pressPaste(target);
        }
        return std::nullopt;
      },
      [weak, id = clip.id, plain, delivery,
       done = std::move(done)](std::optional<Failure> failure) {
        const auto self = weak.lock();
        if (failure) {
          Log::app.error("%s: %s", failureTitle(delivery).c_str(), failure->description.c_str());
        } else if (plain && self && *self != nullptr) {
          (*self)->history_.moveToTop(id, (*self)->now_());
        }
        if (done) {
          done(failure);
        }
      });
}

void ClipDeliverer::pasteNext(const Clip& clip, PasteTarget target,
                              std::function<void(bool, std::optional<Failure>)> done) {
  pasteQueue_.async([&executor = executor_, store = store_, paster = paster_, clip, target,
                     done = std::move(done)] {
    auto items = store->items(clip.id);
    bool trusted = false;
    std::optional<Failure> failure;
    if (!items) {
      failure = items.failure();
    } else {
      trusted = paster->isTrusted();
      if (trusted) {
        // Transient: neither a new clip nor a move to the top, so the paste run goes on.
        if (auto written = paster->write(std::move(items).value(), clip.source, true); written) {
          paster->pressPaste(target);
        } else {
          failure = written.failure();
        }
      }
    }
    executor.deliver([done, trusted, failure] {
      if (failure) {
        Log::app.error("Couldn't paste the clip: %s", failure->description.c_str());
      }
      if (done) {
        done(trusted, failure);
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(pasteNextGapMs));
  });
}

}  // namespace vesk
