// A small command-line reader: long options with or without a value
// ("--interval 0.5", "--interval=0.5"), short flags ("-v", "-vv"), and the
// positional words, checked against what a subcommand accepts.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace toldex::cli {

// A bad command line; the message says what is wrong in one line.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  const char* name;       // long name without "--"
  char shortName;         // 0 for none
  const char* valueName;  // null for a flag
  const char* help;
};

class Arguments {
 public:
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  int Count(const std::string& name) const;
  // The last value given, or the fallback.
  std::string Get(const std::string& name, const std::string& fallback = "") const;
  std::vector<std::string> All(const std::string& name) const;
  const std::vector<std::string>& Positionals() const { return positionals_; }

  // Numbers with their range checked; the message names the option.
  long GetInteger(const std::string& name, long fallback, long minimum, long maximum) const;
  double GetSeconds(const std::string& name, double fallback, double minimum, double maximum) const;

 private:
  friend Arguments ReadArguments(const std::vector<std::string>&, const std::vector<OptionSpec>&);
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::string> positionals_;
};

// Throws UsageError for an unknown option or a missing value. "--" ends the
// options; a lone "-" and words such as "$NUMCOMMS:01" are positionals.
Arguments ReadArguments(const std::vector<std::string>& words, const std::vector<OptionSpec>& specs);

// The options' help block, one line each, aligned.
std::string OptionsHelp(const std::vector<OptionSpec>& specs);

// Whole-text number readers; false when the text is not such a number.
bool ReadLong(const std::string& text, long& value);
bool ReadDouble(const std::string& text, double& value);

}  // namespace toldex::cli
