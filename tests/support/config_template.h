#pragma once
// The real servers' throwaway configurations are templates beside this file
// (*.in), shared with the scripts, which fill them in the same way
// (scripts/lib.bash): @NAME@ stands for a value, and a line that begins with
// @WITH_NAME@ is kept, without that mark, only when the part NAME is asked for.

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

namespace configtemplate {

// The template `name` (prosody.cfg.lua.in, ...) with `values` filled in and
// the lines of the parts in `parts` kept ("WITH_IPV6", ...). Throws
// std::runtime_error when it cannot be read or names a value not given, so
// that a template and its fillers cannot drift apart unnoticed.
inline std::string Fill(const std::string& name, const std::map<std::string, std::string>& values,
                        const std::set<std::string>& parts = {}) {
  const std::filesystem::path path = std::filesystem::path(TOLVANE_CONFIG_TEMPLATES) / name;
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read the configuration template " + path.string());
  const auto isName = [](const std::string& s) {
    return !s.empty() && s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") == std::string::npos;
  };
  std::string text, line;
  while (std::getline(in, line)) {
    const auto partEnd = line.rfind("@WITH_", 0) == 0 ? line.find('@', 1) : std::string::npos;
    if (partEnd != std::string::npos) {
      if (!parts.count(line.substr(1, partEnd - 1))) continue;
      line.erase(0, partEnd + 1);
    }
    for (std::size_t at = 0;;) {
      const auto open = line.find('@', at);
      const auto close = open == std::string::npos ? open : line.find('@', open + 1);
      if (close == std::string::npos) break;
      const std::string key = line.substr(open + 1, close - open - 1);
      if (!isName(key)) {
        at = open + 1;
        continue;
      }
      const auto value = values.find(key);
      if (value == values.end()) throw std::runtime_error(path.string() + ": no value for @" + key + "@");
      line.replace(open, close + 1 - open, value->second);
      at = open + value->second.size();
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace configtemplate
