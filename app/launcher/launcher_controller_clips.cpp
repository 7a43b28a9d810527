// LauncherController: opening a clip, what each clip action does, delivering clips and
// paste-next, and the app that opens a link.

#include <utility>

#include "app/base/run_in_background.h"
#include "app/clipboard/clip_deliverer.h"
#include "app/clipboard/clip_text.h"
#include "app/clipboard/clipboard_history.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_view.h"
#include "core/clipboard/url.h"
#include "platform/app_catalog.h"
#include "platform/notifier.h"

namespace vesk {

void LauncherController::activate(const Clip& clip) {
  if (settings_.canPaste) {
    perform(ClipAction::paste, clip);
    return;
  }
  perform(ClipAction::copy, clip);
  if (requests_.askForAccessibility) {
    requests_.askForAccessibility();
  }
}

void LauncherController::perform(ClipAction action, const Clip& target) {
  const Clip clip = target;  // going back or dismissing clears the sublist it may live in
  switch (action) {
    case ClipAction::pin:
    case ClipAction::unpin:
    case ClipAction::remove: {
      if (action == ClipAction::remove && clip.pinned && !confirming_) {
        arm();
        return;
      }
      const size_t position =
          sublist_ && !backStack_.empty() ? backStack_.back().selection : selection_;
      keepSelection_ = KeptClip{clip.id, position};
      if (sublist_) {
        goBack();
      }
      confirming_ = false;
      if (clipboard_ != nullptr) {
        if (action == ClipAction::remove) {
          clipboard_->deleteClip(clip.id);
        } else {
          clipboard_->setPinned(action == ClipAction::pin, clip.id);
        }
      }
      return;
    }
    default:
      break;
  }
  dismiss();
  switch (action) {
    case ClipAction::paste:
      deliver(clip, ClipDelivery::paste);
      break;
    case ClipAction::copy:
      deliver(clip, ClipDelivery::copy);
      break;
    case ClipAction::pastePlainText:
      deliver(clip,
              settings_.canPaste ? ClipDelivery::pastePlainText : ClipDelivery::copyPlainText);
      break;
    case ClipAction::openLink: {
      const std::optional<URL> url = URL::parse(clip.text);
      if (!url) {
        return;
      }
      const std::optional<LinkApp> app = linkApp(clip);
      desktop_.open({clip.text}, app ? app->app : std::nullopt, userTime_);
      break;
    }
    case ClipAction::reveal:
      desktop_.revealExisting(ClipText::paths(clip));
      break;
    case ClipAction::save:
      if (clipboard_ != nullptr) {
        desktop_.save(clip, clipboard_->store(), saveFolder_, services_.now(),
                      [notifier = services_.notifier](const std::string& saved) {
                        if (notifier != nullptr) {
                          notifier->saved(saved);
                        }
                      });
      }
      break;
    default:
      break;
  }
}

PasteTarget LauncherController::pasteTargetFromPanel() const {
  if (openedTarget_) {
    return *openedTarget_;
  }
  return services_.pasteTarget ? services_.pasteTarget() : PasteTarget{};
}

void LauncherController::deliver(const Clip& clip, ClipDelivery delivery) {
  if (clipboard_ == nullptr || services_.deliverer == nullptr) {
    return;
  }
  if (delivery == ClipDelivery::pasteNext) {
    services_.deliverer->pasteNext(clip, pasteTargetFromPanel(), [](bool, auto) {});
    return;
  }
  std::weak_ptr<LauncherController*> weak = self_;
  services_.deliverer->deliver(clip, delivery, pasteTargetFromPanel(),
                               [weak, delivery](const std::optional<Failure>& failure) {
                                 const auto self = weak.lock();
                                 if (failure && self && *self != nullptr) {
                                   (*self)->failed(ClipDeliverer::failureTitle(delivery),
                                                   std::nullopt, failure->description);
                                 }
                               });
}

void LauncherController::pasteNext(double pressedAt) {
  if (clipboard_ == nullptr || services_.deliverer == nullptr) {
    return;
  }
  const int64_t copies = clipboard_->copies();
  if (!pasteRun_ || !pasteRun_->goesOn(copies, pressedAt)) {
    pasteRun_.emplace(clipboard_->index().clips(), copies, pressedAt);
  }
  const std::optional<Clip> clip = pasteRun_->next(clipboard_->index(), pressedAt);
  if (!clip) {
    return;
  }
  PasteTarget target;
  if (view_->isVisible()) {
    target = pasteTargetFromPanel();
    dismiss();
  } else if (services_.pasteTarget) {
    target = services_.pasteTarget();
  }
  std::weak_ptr<LauncherController*> weak = self_;
  services_.deliverer->pasteNext(
      *clip, target, [weak](bool trusted, const std::optional<Failure>& failure) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        LauncherController& controller = **self;
        if (failure) {
          controller.failed("Couldn't paste the clip", std::nullopt, failure->description);
        }
        const bool changed = controller.settings_.canPaste != trusted;
        controller.settings_.canPaste = trusted;
        if (changed && controller.mode_ == Mode::clipboard) {
          controller.refresh();
        }
        if (changed && controller.requests_.onCanPasteChange) {
          controller.requests_.onCanPasteChange(trusted);
        }
        if (!trusted && controller.requests_.askForAccessibility) {
          controller.requests_.askForAccessibility();
        }
      });
}

std::optional<LauncherController::LinkApp> LauncherController::linkApp(const Clip& clip) {
  const std::optional<URL> url = URL::parse(clip.text);
  if (!url || url->scheme.empty()) {
    return std::nullopt;
  }
  if (const auto found = linkApps_.find(url->scheme); found != linkApps_.end()) {
    return found->second;
  }
  linkApps_[url->scheme] = LinkApp{};  // looked up once
  std::optional<std::string> configured;
  if (const auto found = settings_.openLinks.find(url->scheme);
      found != settings_.openLinks.end()) {
    configured = found->second;
  }
  std::weak_ptr<LauncherController*> weak = self_;
  runInBackground(
      services_.executor, QoS::userInitiated,
      [catalog = desktop_.services().catalog, configured, link = clip.text]() -> LinkApp {
        if (!catalog) {
          return {};
        }
        LinkApp app;
        app.app = configured ? configured : catalog->defaultAppToOpen(link);
        if (app.app) {
          app.name = catalog->listedName(*app.app);
        }
        return app;
      },
      [weak, scheme = url->scheme](LinkApp app) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        (*self)->linkApps_[scheme] = std::move(app);
        (*self)->view_->reconfigureVisibleRows();
        (*self)->view_->refreshStage();
      });
  return LinkApp{};
}

}  // namespace vesk
