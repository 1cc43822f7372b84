// OptionParser: applies a run's command line to its Settings.
//
// The command line is split into at most 1000 tokens on blanks and tabs.
// Each option has its own pass over every token, in a fixed order, so a
// token used as one option's value is still seen by the other passes, and
// a repeated option is applied once per occurrence (the last one wins).
// A rejected value raises the stop flag and ends parsing at once. A token
// that starts with "-" and is neither an option of the option table nor an
// option's value is rejected right after the log header, before -dsn and
// the System table are read. The one-off maintenance commands end the
// program by throwing ProgramEnd.
#pragma once

#include <cstdint>      // 16-bit settings
#include <functional>   // pass actions
#include <string>       // tokens
#include <string_view>  // inputs
#include <vector>       // token list

namespace postrix {

class Settings;

// Splits a command line on runs of blanks and tabs, keeping at most maxTokens.
std::vector<std::string> splitCommandLine(std::string_view commandLine, size_t maxTokens = 1000);

class OptionParser {
 public:
  OptionParser(Settings& settings, std::string_view commandLine);
  // Returns the stop flag.
  bool run();

 private:
  // An action returns false to stop the run.
  using Action = std::function<bool(const std::string& value)>;

  // One walk over the tokens for one option of the option table, its kind
  // and case rule taken from there.
  bool pass(std::string_view option, const Action& action);
  bool flag(std::string_view option, bool& target);
  bool value(std::string_view option, std::string& target);
  // A number option that must fit 16 bits; anything else is rejected with a
  // line naming the option, the value and the hint.
  bool number16(std::string_view option, std::int16_t& target, std::string_view hint);
  // Logs why the command line is refused, keeps it for the entry point, and
  // returns false.
  bool reject(const std::string& message);
  // The same for a designed text with a line break of its own and a value.
  bool reject(std::string_view designed, const std::string& value);
  bool rejected(const std::string& shown);
  // Rejects every token that starts with "-" and is neither an option nor
  // an option's value; returns whether there was none.
  bool onlyKnownOptions();
  void writeHeader();
  std::string argsText() const;
  // A text written to the log, with every -pass value in it hidden.
  std::string masked(std::string_view text) const;

  void warnOfPlainLogin() const;
  bool maintenancePasses();
  bool connectionPasses();
  bool authentication();
  bool contentPasses();
  bool listPasses();
  bool intervalPasses();
  bool outputPasses();
  bool modePasses();
  bool waitPasses();
  bool dbWaitPass();

  Settings& s_;
  std::vector<std::string> tokens_;
  std::vector<std::string> secrets_;
};

}  // namespace postrix
