#include "app/app_delegate.h"

#include "app/log.h"

namespace vesk {

AppDelegate::Environment AppDelegate::Environment::standard() {
  return {};
}

AppDelegate::AppDelegate(Environment environment) : environment_(environment) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
  Log::app.info("Vesk is running");
}

bool AppDelegate::applicationShouldHandleReopen() {
  Log::app.info("Presenting the launcher");
  return false;
}

void AppDelegate::applicationWillTerminate() {}

void AppDelegate::addPlatformProblem(std::string problem) {
  Log::app.error("%s", problem.c_str());
  platformProblems_.push_back(std::move(problem));
}

}  // namespace vesk
