#pragma once
// ConfigStore: owns config.toml ($XDG_CONFIG_HOME, else ~/.config, + "/vesk/config.toml"). It
// writes the commented default file when none exists, reads and parses the file off the main
// thread, keeps the configuration in force with its problems, watches the file's folder (and the
// folder of its link target) so that a saved change applies within a fraction of a second, and
// opens the file in the user's editor.
//
// Main thread only; disk work runs in the background. Loads may overlap: each carries the
// generation it started with, and only the newest one applies.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/base/executor.h"
#include "core/base/serial_queue.h"
#include "core/config/config.h"
#include "core/files/directory_watcher.h"

namespace vesk {

class AppCatalog;

class ConfigStore final {
 public:
  static constexpr std::chrono::milliseconds watchLatency{200};
  // A larger file is refused whole: settings are a few kilobytes, and a runaway file (or a
  // link to a device) must not be read into memory.
  static constexpr size_t maxFileBytes = size_t{1} << 20;  // "1 MiB" in the problem text

  // The standard location of config.toml.
  static std::string defaultFile();

  // `catalog` opens the file (in the background, so the store shares it).
  ConfigStore(Executor& executor, std::string file, std::shared_ptr<const AppCatalog> catalog);
  ~ConfigStore();
  ConfigStore(const ConfigStore&) = delete;
  ConfigStore& operator=(const ConfigStore&) = delete;

  const std::string& file() const { return file_; }
  const Config& config() const { return config_; }
  const std::vector<std::string>& problems() const { return problems_; }
  bool hasLoaded() const { return hasLoaded_; }
  // `start` wrote the default file: this is Vesk's first start with this configuration.
  bool createdFile() const { return createdFile_; }
  int64_t generation() const { return generation_; }

  // Called after every applied load with the configuration in force before it.
  std::function<void(const Config& previous)> onChange;

  // Creates the file if it is missing, then loads it.
  void start();
  // Loads the file again.
  void reload();
  // Creates the file if it is missing and opens it in its editor.
  void open();

  // What a load reads, parses and watches; pure apart from reading the disk.
  struct Loaded {
    Config::Parsed parsed;
    std::vector<std::string> folders;
    std::set<std::string> names;
  };
  static Loaded read(const std::string& file, const std::optional<Config>& previous);
  // Writes the default text when nothing exists at `file`; whether it wrote the whole text.
  // Logs a failure.
  static bool createIfMissing(const std::string& file);

 private:
  Executor& executor_;
  void load();
  void watch(const std::vector<std::string>& folders, const std::set<std::string>& names);
  void apply(Loaded loaded);

  std::string file_;
  std::shared_ptr<const AppCatalog> catalog_;
  Config config_;
  std::vector<std::string> problems_;
  int64_t generation_ = 0;
  bool hasLoaded_ = false;
  bool createdFile_ = false;
  std::optional<std::pair<std::vector<std::string>, std::set<std::string>>> watched_;
  std::shared_ptr<ConfigStore*> self_;
  SerialQueue events_;
  std::unique_ptr<DirectoryWatcher> watcher_;  // after the queue: stops first
};

}  // namespace vesk
