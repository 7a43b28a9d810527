#pragma once
// PortalGlobalShortcuts: GlobalShortcuts through the desktop's XDG portal
// (org.freedesktop.portal.GlobalShortcuts on the session bus), which KDE Plasma, GNOME and
// Hyprland serve in Wayland sessions.
//
// Before its first call Vesk names itself to the portal (org.freedesktop.host.portal.Registry,
// where the portal has it). A bind runs one portal session from start to end: CreateSession,
// then BindShortcuts, each
// answered later by the Response signal of its Request object. The portal binds a session's
// shortcuts once only, so a new set closes the session (Session.Close) and creates another.
// Binds never overlap: one asked for while another runs waits, and only the newest of those
// waiting runs. Method calls are asynchronous with a timeout; a Response may take as long as
// the desktop's dialog stays open.
//
// Main thread: created, called and destroyed there; the handlers run there.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/global_shortcuts.h"

namespace vesk {

class PortalGlobalShortcuts final : public QObject, public GlobalShortcuts {
  Q_OBJECT

 public:
  using Log = std::function<void(const std::string&)>;

  // `appId`: the desktop entry's name ("vesk"), under which the desktop lists the shortcuts
  // where its portal lets applications outside a sandbox say who they are; empty: unnamed.
  explicit PortalGlobalShortcuts(QDBusConnection bus = QDBusConnection::sessionBus(), Log log = {},
                                 std::string appId = {});
  // Closes the session, so the desktop releases the keys.
  ~PortalGlobalShortcuts() override;
  PortalGlobalShortcuts(const PortalGlobalShortcuts&) = delete;
  PortalGlobalShortcuts& operator=(const PortalGlobalShortcuts&) = delete;
  PortalGlobalShortcuts(PortalGlobalShortcuts&&) = delete;
  PortalGlobalShortcuts& operator=(PortalGlobalShortcuts&&) = delete;

  void bind(std::vector<Wanted> wanted, BindHandler done) override;
  std::optional<bool> isAvailable() const override { return available_; }
  void setActivationHandler(ActivationHandler handler) override;
  void setChangeHandler(ChangeHandler handler) override;

 private slots:
  void responded(const QDBusMessage& signal);
  void activated(const QDBusMessage& signal);
  void shortcutsChanged(const QDBusMessage& signal);
  void sessionClosed(const QDBusMessage& signal);
  void finishPending();

 private:
  struct Job {
    std::vector<Wanted> wanted;
    BindHandler done;
  };
  using Answered = std::function<void(uint response, const QVariantMap& results)>;
  using Failed = std::function<void(const QDBusError& error)>;

  void start();
  // Runs `finish` with `outcome` from the event loop, unless a newer job started by then.
  void finishLater(Outcome outcome);
  void introduce();
  void createSession();
  void bindShortcuts();
  void finish(const Outcome& outcome);
  // Calls a portal method that answers through a Request named by `token`.
  void request(const QDBusMessage& call, const QString& token, Answered answered, Failed failed);
  void awaitResponse(const QString& path);
  void stopAwaiting();
  void closeSession();
  QString nextToken();
  QString requestPath(const QString& token) const;

  QDBusConnection bus_;
  Log log_;
  std::string appId_;
  bool introduced_ = false;
  std::optional<Job> running_;
  std::optional<Job> waiting_;
  // Told apart from an older job's late answers.
  uint64_t generation_ = 0;
  uint64_t serial_ = 0;
  QString session_;
  QString awaited_;
  Answered answered_;
  std::optional<bool> available_;
  QTimer later_;
  std::optional<Outcome> pending_;  // for `later_`
  ActivationHandler activationHandler_;
  ChangeHandler changeHandler_;
};

}  // namespace vesk
