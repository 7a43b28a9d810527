#include "platform/linux/portal_global_shortcuts.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QList>
#include <ctime>
#include <utility>

namespace {

// One shortcut as the portal passes it: its id and a dictionary of its properties.
struct PortalShortcut {
  QString id;
  QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.id << shortcut.properties;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.id >> shortcut.properties;
  argument.endStructure();
  return argument;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace vesk {
namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
const QString kRegistry = QStringLiteral("org.freedesktop.host.portal.Registry");
// The first call may start the portal (bus activation), which takes a moment on a cold desktop.
constexpr int kCallTimeoutMs = 10000;

double monotonicNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

QList<PortalShortcut> shortcutsOf(const QVariant& value) {
  if (!value.canConvert<QDBusArgument>()) {
    return {};
  }
  const auto argument = value.value<QDBusArgument>();
  if (argument.currentSignature() != QStringLiteral("a(sa{sv})")) {
    return {};
  }
  return qdbus_cast<QList<PortalShortcut>>(argument);
}

std::vector<GlobalShortcuts::Assigned> assignedOf(const QList<PortalShortcut>& shortcuts) {
  std::vector<GlobalShortcuts::Assigned> assigned;
  for (const PortalShortcut& shortcut : shortcuts) {
    const QVariant trigger = shortcut.properties.value(QStringLiteral("trigger_description"));
    assigned.push_back({shortcut.id.toStdString(), trigger.toString().toStdString()});
  }
  return assigned;
}

// Why a CreateSession call found no portal to talk to.
std::string absence(const QDBusError& error) {
  switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
      return "no portal runs on the session bus";
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownObject:
      return "the desktop's portal offers no global shortcuts";
    case QDBusError::NoReply:
    case QDBusError::Timeout:
      return "the desktop's portal didn't answer";
    default:
      return "the desktop's portal failed: " + error.message().toStdString();
  }
}

std::string refusal(uint response) {
  return response == 1 ? "the request was cancelled in the desktop"
                       : "the desktop ended the request";
}

}  // namespace

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus, Log log, std::string appId)
    : bus_(std::move(bus)), log_(std::move(log)), appId_(std::move(appId)) {
  later_.setSingleShot(true);
  later_.setInterval(0);
  QObject::connect(&later_, &QTimer::timeout, this, &PortalGlobalShortcuts::finishPending);
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<QList<PortalShortcut>>();
  bus_.connect(kPortal, kPortalPath, kShortcuts, QStringLiteral("Activated"), this,
               SLOT(activated(QDBusMessage)));
  bus_.connect(kPortal, kPortalPath, kShortcuts, QStringLiteral("ShortcutsChanged"), this,
               SLOT(shortcutsChanged(QDBusMessage)));
}

PortalGlobalShortcuts::~PortalGlobalShortcuts() {
  stopAwaiting();
  closeSession();
}

void PortalGlobalShortcuts::setActivationHandler(ActivationHandler handler) {
  activationHandler_ = std::move(handler);
}

void PortalGlobalShortcuts::setChangeHandler(ChangeHandler handler) {
  changeHandler_ = std::move(handler);
}

void PortalGlobalShortcuts::bind(std::vector<Wanted> wanted, BindHandler done) {
  waiting_ = Job{std::move(wanted), std::move(done)};
  if (!running_) {
    start();
  }
}

void PortalGlobalShortcuts::start() {
  running_ = std::move(waiting_);
  waiting_.reset();
  ++generation_;
  later_.stop();
  pending_.reset();
  closeSession();
  if (!bus_.isConnected()) {
    available_ = false;
    finishLater({Outcome::Kind::unavailable, {}, "there is no session bus"});
    return;
  }
  if (running_->wanted.empty()) {
    // Nothing to hold: the closed session released every key.
    finishLater({Outcome::Kind::bound, {}, {}});
    return;
  }
  introduce();
}

void PortalGlobalShortcuts::finishLater(Outcome outcome) {
  pending_ = std::move(outcome);
  later_.start();
}

void PortalGlobalShortcuts::finishPending() {
  if (pending_) {
    const Outcome outcome = std::move(*pending_);
    pending_.reset();
    finish(outcome);
  }
}

void PortalGlobalShortcuts::introduce() {
  if (introduced_ || appId_.empty()) {
    createSession();
    return;
  }
  introduced_ = true;
  QDBusMessage call =
      QDBusMessage::createMethodCall(kPortal, kPortalPath, kRegistry, QStringLiteral("Register"));
  call << QString::fromStdString(appId_) << QVariantMap{};
  const uint64_t generation = generation_;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  // Whatever the answer: a portal without the registry lists Vesk without its name.
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                   [this, generation](QDBusPendingCallWatcher* call) {
                     call->deleteLater();
                     if (generation == generation_) {
                       createSession();
                     }
                   });
}

void PortalGlobalShortcuts::createSession() {
  QDBusMessage call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kShortcuts,
                                                     QStringLiteral("CreateSession"));
  const QString token = nextToken();
  call << QVariantMap{{QStringLiteral("handle_token"), token},
                      {QStringLiteral("session_handle_token"), nextToken()}};
  request(
      call, token,
      [this](uint response, const QVariantMap& results) {
        available_ = true;
        const QString session = results.value(QStringLiteral("session_handle")).toString();
        if (response != 0 || session.isEmpty()) {
          finish({Outcome::Kind::refused, {}, response != 0 ? refusal(response) : "no session"});
          return;
        }
        session_ = session;
        bus_.connect(kPortal, session_, kSession, QStringLiteral("Closed"), this,
                     SLOT(sessionClosed(QDBusMessage)));
        bindShortcuts();
      },
      [this](const QDBusError& error) {
        available_ = false;
        finish({Outcome::Kind::unavailable, {}, absence(error)});
      });
}

void PortalGlobalShortcuts::bindShortcuts() {
  QList<PortalShortcut> shortcuts;
  for (const Wanted& wanted : running_->wanted) {
    QVariantMap properties{
        {QStringLiteral("description"), QString::fromStdString(wanted.description)}};
    if (!wanted.preferredTrigger.empty()) {
      properties.insert(QStringLiteral("preferred_trigger"),
                        QString::fromStdString(wanted.preferredTrigger));
    }
    shortcuts.push_back({QString::fromStdString(wanted.id), properties});
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kShortcuts,
                                                     QStringLiteral("BindShortcuts"));
  const QString token = nextToken();
  call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(shortcuts)
       << QString() << QVariantMap{{QStringLiteral("handle_token"), token}};
  request(
      call, token,
      [this](uint response, const QVariantMap& results) {
        if (response != 0) {
          finish({Outcome::Kind::refused, {}, refusal(response)});
          return;
        }
        finish({Outcome::Kind::bound,
                assignedOf(shortcutsOf(results.value(QStringLiteral("shortcuts")))),
                {}});
      },
      [this](const QDBusError& error) {
        finish({Outcome::Kind::refused, {}, error.message().toStdString()});
      });
}

void PortalGlobalShortcuts::finish(const Outcome& outcome) {
  stopAwaiting();
  Job job = std::move(*running_);
  running_.reset();
  if (waiting_) {
    start();  // The newer set replaces this one before anyone heard of it.
    return;
  }
  if (job.done) {
    job.done(outcome);
  }
}

void PortalGlobalShortcuts::request(const QDBusMessage& call, const QString& token,
                                    Answered answered, Failed failed) {
  // Listen before asking: the Response may follow the reply at once.
  const QString expected = requestPath(token);
  awaitResponse(expected);
  answered_ = std::move(answered);
  const uint64_t generation = generation_;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  QObject::connect(
      watcher, &QDBusPendingCallWatcher::finished, this,
      [this, generation, expected, failed = std::move(failed)](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        // Still this request's turn: no newer job started, no Response came first.
        if (generation != generation_ || awaited_ != expected) {
          return;
        }
        const QDBusPendingReply<QDBusObjectPath> reply = *call;
        if (reply.isError()) {
          failed(reply.error());
          return;
        }
        // An older portal names the Request its own way.
        if (const QString path = reply.value().path(); path != expected) {
          awaitResponse(path);
        }
      });
}

void PortalGlobalShortcuts::awaitResponse(const QString& path) {
  if (!awaited_.isEmpty()) {
    bus_.disconnect(kPortal, awaited_, kRequest, QStringLiteral("Response"), this,
                    SLOT(responded(QDBusMessage)));
  }
  awaited_ = path;
  bus_.connect(kPortal, awaited_, kRequest, QStringLiteral("Response"), this,
               SLOT(responded(QDBusMessage)));
}

void PortalGlobalShortcuts::stopAwaiting() {
  if (!awaited_.isEmpty()) {
    bus_.disconnect(kPortal, awaited_, kRequest, QStringLiteral("Response"), this,
                    SLOT(responded(QDBusMessage)));
  }
  awaited_.clear();
  answered_ = nullptr;
}

void PortalGlobalShortcuts::responded(const QDBusMessage& signal) {
  const QList<QVariant> arguments = signal.arguments();
  if (signal.path() != awaited_ || !answered_ || arguments.size() < 2) {
    return;
  }
  QVariantMap results = arguments[1].toMap();
  if (arguments[1].canConvert<QDBusArgument>()) {
    arguments[1].value<QDBusArgument>() >> results;
  }
  const Answered answered = std::move(answered_);
  answered_ = nullptr;
  answered(arguments[0].toUInt(), results);
}

void PortalGlobalShortcuts::activated(const QDBusMessage& signal) {
  const double at = monotonicNow();
  const QList<QVariant> arguments = signal.arguments();
  if (arguments.size() < 2 || session_.isEmpty() ||
      arguments[0].value<QDBusObjectPath>().path() != session_) {
    return;
  }
  // The signal's own time stamp has no defined base, so its arrival is the press time.
  if (activationHandler_) {
    activationHandler_(arguments[1].toString().toStdString(), at);
  }
}

void PortalGlobalShortcuts::shortcutsChanged(const QDBusMessage& signal) {
  const QList<QVariant> arguments = signal.arguments();
  if (arguments.size() < 2 || session_.isEmpty() ||
      arguments[0].value<QDBusObjectPath>().path() != session_) {
    return;
  }
  if (changeHandler_) {
    changeHandler_(assignedOf(shortcutsOf(arguments[1])));
  }
}

void PortalGlobalShortcuts::sessionClosed(const QDBusMessage& signal) {
  if (signal.path() != session_) {
    return;
  }
  bus_.disconnect(kPortal, session_, kSession, QStringLiteral("Closed"), this,
                  SLOT(sessionClosed(QDBusMessage)));
  session_.clear();
  if (log_) {
    log_(
        "The desktop closed Vesk's global shortcuts session; they work again after the next "
        "change to config.toml");
  }
}

void PortalGlobalShortcuts::closeSession() {
  if (session_.isEmpty()) {
    return;
  }
  bus_.disconnect(kPortal, session_, kSession, QStringLiteral("Closed"), this,
                  SLOT(sessionClosed(QDBusMessage)));
  // No answer is awaited: a portal that is gone has closed it already.
  bus_.send(QDBusMessage::createMethodCall(kPortal, session_, kSession, QStringLiteral("Close")));
  session_.clear();
}

QString PortalGlobalShortcuts::nextToken() {
  return QStringLiteral("vesk%1").arg(++serial_);
}

QString PortalGlobalShortcuts::requestPath(const QString& token) const {
  QString sender = bus_.baseService();
  sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
  return kPortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

}  // namespace vesk
