#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstdlib>

namespace toldex::cli {
namespace {

const OptionSpec* FindLong(const std::vector<OptionSpec>& specs, const std::string& name) {
  for (const OptionSpec& spec : specs) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

const OptionSpec* FindShort(const std::vector<OptionSpec>& specs, char name) {
  for (const OptionSpec& spec : specs) {
    if (spec.shortName != 0 && spec.shortName == name) return &spec;
  }
  return nullptr;
}

}  // namespace

bool ReadLong(const std::string& text, long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  value = parsed;
  return true;
}

bool ReadDouble(const std::string& text, double& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

int Arguments::Count(const std::string& name) const {
  auto found = values_.find(name);
  return found == values_.end() ? 0 : static_cast<int>(found->second.size());
}

std::string Arguments::Get(const std::string& name, const std::string& fallback) const {
  auto found = values_.find(name);
  if (found == values_.end() || found->second.empty()) return fallback;
  return found->second.back();
}

std::vector<std::string> Arguments::All(const std::string& name) const {
  auto found = values_.find(name);
  return found == values_.end() ? std::vector<std::string>{} : found->second;
}

long Arguments::GetInteger(const std::string& name, long fallback, long minimum, long maximum) const {
  if (!Has(name)) return fallback;
  long value = 0;
  if (!ReadLong(Get(name), value) || value < minimum || value > maximum) {
    throw UsageError("--" + name + " takes a whole number from " + std::to_string(minimum) + " to " +
                     std::to_string(maximum) + ", not '" + Get(name) + "'");
  }
  return value;
}

double Arguments::GetSeconds(const std::string& name, double fallback, double minimum, double maximum) const {
  if (!Has(name)) return fallback;
  double value = 0;
  if (!ReadDouble(Get(name), value) || value < minimum || value > maximum) {
    char range[96];
    std::snprintf(range, sizeof range, "%g to %g", minimum, maximum);
    throw UsageError("--" + name + " takes seconds from " + range + ", not '" + Get(name) + "'");
  }
  return value;
}

Arguments ReadArguments(const std::vector<std::string>& words, const std::vector<OptionSpec>& specs) {
  Arguments arguments;
  bool optionsEnded = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-' ||
        (word[1] != '-' && !std::isalpha(static_cast<unsigned char>(word[1])))) {
      // "-", "-5" (a negative value) and plain words are positionals.
      arguments.positionals_.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word[1] == '-') {
      std::string name = word.substr(2);
      std::string value;
      bool hasInlineValue = false;
      if (auto equals = name.find('='); equals != std::string::npos) {
        value = name.substr(equals + 1);
        name = name.substr(0, equals);
        hasInlineValue = true;
      }
      const OptionSpec* spec = FindLong(specs, name);
      if (spec == nullptr) throw UsageError("unknown option --" + name);
      if (spec->valueName == nullptr) {
        if (hasInlineValue) throw UsageError("--" + name + " takes no value");
        arguments.values_[name].push_back("");
        continue;
      }
      if (!hasInlineValue) {
        if (i + 1 >= words.size()) throw UsageError("--" + name + " needs a value (" + spec->valueName + ")");
        value = words[++i];
      }
      arguments.values_[name].push_back(value);
      continue;
    }
    // Short flags, possibly grouped ("-vv"); a short option with a value takes
    // the rest of the word or the next word.
    for (size_t k = 1; k < word.size(); ++k) {
      const OptionSpec* spec = FindShort(specs, word[k]);
      if (spec == nullptr) throw UsageError(std::string("unknown option -") + word[k]);
      if (spec->valueName == nullptr) {
        arguments.values_[spec->name].push_back("");
        continue;
      }
      std::string value = word.substr(k + 1);
      if (value.empty()) {
        if (i + 1 >= words.size()) {
          throw UsageError(std::string("-") + word[k] + " needs a value (" + spec->valueName + ")");
        }
        value = words[++i];
      }
      arguments.values_[spec->name].push_back(value);
      break;
    }
  }
  return arguments;
}

namespace {

constexpr size_t kHelpWidth = 100;

// The words of a text in lines of at most `width` characters.
std::vector<std::string> Wrapped(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  std::string line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
    start = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

std::string OptionsHelp(const std::vector<OptionSpec>& specs) {
  std::vector<std::string> left;
  size_t width = 0;
  for (const OptionSpec& spec : specs) {
    std::string text = spec.shortName != 0 ? std::string("-") + spec.shortName + ", " : "    ";
    text += "--";
    text += spec.name;
    if (spec.valueName != nullptr) {
      text += ' ';
      text += spec.valueName;
    }
    width = std::max(width, text.size());
    left.push_back(text);
  }
  const size_t indent = width + 4;
  const size_t room = kHelpWidth > indent + 20 ? kHelpWidth - indent : 40;
  std::string help;
  for (size_t i = 0; i < specs.size(); ++i) {
    const auto lines = Wrapped(specs[i].help, room);
    for (size_t k = 0; k < lines.size(); ++k) {
      help += k == 0 ? "  " + left[i] + std::string(width - left[i].size() + 2, ' ') : std::string(indent, ' ');
      help += lines[k] + "\n";
    }
  }
  return help;
}

}  // namespace toldex::cli
