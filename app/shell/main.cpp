// The process entry of `vesk`: hands a later start's request to the Vesk that runs, else checks
// for an X11 display, creates the application object and idles in the Qt event loop.

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include "app/base/log.h"
#include "app/base/pool_executor.h"
#include "app/shell/app_delegate.h"
#include "app/shell/single_instance.h"
#include "core/base/serial_queue.h"

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): before any thread
  return value == nullptr ? std::string() : std::string(value);
}

// One sentence saying why Vesk can't run here, or empty when an X server answers.
std::string displayProblem(bool wayland) {
  const std::string display = environment("DISPLAY");
  if (display.empty()) {
    return wayland ? "Vesk needs an X11 display, and this Wayland session has none (DISPLAY "
                     "isn't set, so XWayland isn't running)."
                   : "Vesk needs an X11 display, and none is set (DISPLAY is empty).";
  }
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool failed = xcb_connection_has_error(connection) != 0;
  xcb_disconnect(connection);
  if (failed) {
    return "Vesk needs an X11 display and couldn't connect to \"" + display + "\".";
  }
  return {};
}

// SIGTERM and SIGINT end the event loop normally, so pending history saves are written. A
// second later the process ends whatever it is doing: a worker stuck in a read, or the main
// thread waiting on one, must not keep Vesk running after it was asked to quit.
int signalPipe[2] = {-1, -1};
constexpr suseconds_t kQuitGraceMicroseconds = 800'000;

void onSignal(int) {
  const char byte = 1;
  (void)!::write(signalPipe[1], &byte, 1);
  // setitimer is a plain system call on Linux, safe in a handler.
  struct itimerval deadline {};
  deadline.it_value.tv_usec = kQuitGraceMicroseconds;
  (void)::setitimer(ITIMER_REAL, &deadline, nullptr);
}

void onQuitDeadline(int) {
  ::_exit(0);
}

void quitOnSignals(QObject* parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
    return;
  }
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
    char byte = 0;
    (void)!::read(signalPipe[0], &byte, 1);
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  struct sigaction deadline {};
  deadline.sa_handler = onQuitDeadline;
  sigemptyset(&deadline.sa_mask);
  sigaction(SIGALRM, &deadline, nullptr);
}

// What a later start's request asks of the running instance (or of this one, once started).
void handle(vesk::AppDelegate& delegate, vesk::SingleInstance::Request request) {
  using Request = vesk::SingleInstance::Request;
  switch (request) {
    case Request::reopen:
      delegate.applicationShouldHandleReopen();
      break;
    case Request::launcher:
      delegate.toggle(vesk::AppDelegate::Mode::launcher);
      break;
    case Request::clipboard:
      delegate.toggle(vesk::AppDelegate::Mode::clipboard);
      break;
    case Request::pasteNext:
      vesk::Log::app.info("Pasting the next clip, as asked by vesk --paste-next");
      delegate.pasteNextNow();
      break;
  }
}

constexpr const char* kUsage =
    "Usage: vesk [--launcher | --clipboard | --paste-next]\n"
    "Starts Vesk, or asks the one that runs to present its launcher.\n"
    "  --launcher    show or hide the launcher, as its hot key does\n"
    "  --clipboard   show or hide the clipboard history\n"
    "  --paste-next  paste the last clip, then at each further run the one before it\n"
    "Bind these to keys in your desktop's keyboard settings where Vesk's own hot keys can't "
    "reach (Wayland).\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 1 && (arguments.front() == "--help" || arguments.front() == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const auto request = vesk::SingleInstance::requestOf(arguments);
  if (!request) {
    std::fprintf(stderr, "vesk: unknown option \"%s\"\n%s", arguments.front().c_str(), kUsage);
    return 2;
  }

  // A later start hands its request over before anything else, so a key bound to
  // `vesk --launcher` answers at once.
  const auto folder = vesk::SingleInstance::defaultFolder();
  if (!folder) {
    std::fprintf(stderr, "%s\n", folder.failure().description.c_str());
    vesk::Log::app.writeToJournal(vesk::Logger::Level::error, folder.failure().description);
    return 1;
  }
  vesk::SingleInstance instance(folder.value());
  if (!instance.lock()) {
    if (instance.send(*request) == vesk::SingleInstance::Role::notified) {
      return 0;
    }
    std::fprintf(stderr, "%s\n", instance.problem().c_str());
    vesk::Log::app.writeToJournal(vesk::Logger::Level::error, instance.problem());
    return 1;
  }

  const bool wayland =
      !environment("WAYLAND_DISPLAY").empty() || environment("XDG_SESSION_TYPE") == "wayland";
  if (const std::string problem = displayProblem(wayland); !problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    vesk::Log::app.writeToJournal(vesk::Logger::Level::error, problem);
    return 1;
  }
  // Hot keys and the clipboard are X11's; under Wayland Vesk runs as an XWayland client.
  qputenv("QT_QPA_PLATFORM", "xcb");

  QApplication application(argc, argv);
  QApplication::setApplicationName("vesk");
  QApplication::setQuitOnLastWindowClosed(false);

  // Every background job of the application, created after the application object and gone
  // before it.
  vesk::PoolExecutor executor;
  std::unique_ptr<vesk::AppDelegate> delegate;
  instance.listen([&delegate](vesk::SingleInstance::Request later) {
    if (delegate) {
      handle(*delegate, later);
    }
  });
  if (!instance.problem().empty()) {
    vesk::Log::app.write(vesk::Logger::Level::error, instance.problem());
  }

  // Work that failed with an exception on one of the queues: logged with the queue's label.
  vesk::SerialQueue::setFailureHandler([](const std::string& label, const vesk::Failure& failure) {
    vesk::Log::app.error("%s: %s", label.c_str(), failure.description.c_str());
  });

  std::vector<std::string> serviceProblems;
  vesk::AppServices services = vesk::linuxServices(executor, serviceProblems);
  delegate = std::make_unique<vesk::AppDelegate>(executor, std::move(services),
                                                 vesk::AppPaths::standard());
  for (std::string& problem : serviceProblems) {
    delegate->addPlatformProblem(std::move(problem));
  }
  quitOnSignals(&application);
  delegate->applicationDidFinishLaunching();
  if (*request != vesk::SingleInstance::Request::reopen) {
    // Started by a bound key with no Vesk running: do that key's job once the loop runs.
    QTimer::singleShot(0, &application, [&delegate, job = *request] { handle(*delegate, job); });
  }
  const int status = QApplication::exec();
  delegate->applicationWillTerminate();
  delegate.reset();
  // Jobs still running share what they use; let them end before the application object does.
  executor.waitForDone();
  return status;
}
