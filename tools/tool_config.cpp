// vesk-tool toml: reads TOML on standard input and prints it as tagged JSON, the encoding of
// the public toml-test suite, or the reader's error.
// vesk-tool config [FILE | --template]: checks a configuration file, or prints the default one.

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <type_traits>
#include <variant>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "core/base/result.h"
#include "core/base/utf8.h"
#include "core/base/xdg_folders.h"
#include "core/config/config.h"
#include "core/config/toml_reader.h"
#include "tools/tool.h"

namespace vesk::tool {

namespace {

std::string floatText(double number) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
  return error == std::errc() ? std::string(buffer, end) : std::to_string(number);
}

nlohmann::json tagged(const TOMLValue& value) {
  if (const auto* text = value.asString()) {
    return {{"type", "string"}, {"value", *text}};
  }
  if (const auto* integer = value.asInteger()) {
    return {{"type", "integer"}, {"value", std::to_string(*integer)}};
  }
  if (const auto* decimal = value.asFloat()) {
    return {{"type", "float"}, {"value", floatText(*decimal)}};
  }
  if (const auto* flag = value.asBoolean()) {
    return {{"type", "bool"}, {"value", *flag ? "true" : "false"}};
  }
  nlohmann::json elements = nlohmann::json::array();
  for (const TOMLValue& element : *value.asArray()) {
    elements.push_back(tagged(element));
  }
  return elements;
}

bool isTaggedValue(const nlohmann::json& node) {
  return node.is_array() || (node.is_object() && node.contains("type") && node["type"].is_string());
}

// The object for a dotted table name, created as needed. A name whose parts run into a value
// (possible only with quoted keys holding dots) is kept whole at the top instead.
nlohmann::json& tableNode(nlohmann::json& root, const std::string& name) {
  if (name.empty()) {
    return root;
  }
  nlohmann::json* node = &root;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = name.find('.', start);
    const std::string part = name.substr(start, dot == std::string::npos ? dot : dot - start);
    nlohmann::json& child = (*node)[part];
    if (child.is_null()) {
      child = nlohmann::json::object();
    }
    if (isTaggedValue(child)) {
      nlohmann::json& whole = root[name];
      if (!whole.is_object()) {
        whole = nlohmann::json::object();
      }
      return whole;
    }
    node = &child;
    if (dot == std::string::npos) {
      return *node;
    }
    start = dot + 1;
  }
}

std::string defaultConfigPath() {
  // The config store's file; read before any thread starts.
  return XDGFolders().configHome() + "/vesk/config.toml";
}

// The file's bytes, or the reason it can't be used, worded as the config store words it.
std::variant<std::string, Failure> readFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return Failure{errno == ENOENT ? "config.toml is missing" : "config.toml can't be read"};
  }
  std::string bytes;
  char buffer[65536];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes.append(buffer, count);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    return Failure{"config.toml can't be read"};
  }
  return bytes;
}

std::string readAll(std::istream& in) {
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int toml(const Args&) {
  const std::string bytes = readAll(std::cin);
  auto text = UTF8::decode(bytes);
  if (!text) {
    std::fputs("the input isn't UTF-8 text\n", stderr);
    return 1;
  }
  auto document = TOMLReader(std::move(*text)).document();
  if (!document) {
    std::fprintf(stderr, "%s\n", document.failure().description().c_str());
    return 1;
  }
  nlohmann::json root = nlohmann::json::object();
  for (const auto& [name, table] : document.value()) {
    nlohmann::json& node = tableNode(root, name);
    for (const auto& [key, entry] : table) {
      node[key] = tagged(entry.value);
    }
  }
  std::cout << root.dump(2) << '\n';
  return 0;
}

int config(const Args& args) {
  if (args.size() == 1 && args[0] == "--template") {
    const std::string_view text = Config::templateText();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  if (args.size() > 1 || (args.size() == 1 && args[0].starts_with("-"))) {
    std::fputs("usage: vesk-tool config [FILE | --template]\n", stderr);
    return 2;
  }
  const std::string path = args.empty() ? defaultConfigPath() : args[0];
  const Config::Parsed parsed = std::visit(
      [](const auto& read) {
        if constexpr (std::is_same_v<std::decay_t<decltype(read)>, std::string>) {
          return Config::parse(read, std::nullopt);
        } else {
          return Config::unchanged(read.description, std::nullopt);
        }
      },
      readFile(path));
  for (const std::string& problem : parsed.problems) {
    std::printf("%s\n", problem.c_str());
  }
  return parsed.problems.empty() ? 0 : 1;
}

}  // namespace vesk::tool
