// The process entry point: the arguments become one command line for Main.
#include <iostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/program_folder.h"
#include "run/command_line.h"
#include "run/option_help.h"
#include "run/postrix_module.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (postrix::asksForHelp(arguments)) {
    std::cout << postrix::usageText();
    return 0;
  }
  if (postrix::asksForVersion(arguments)) {
    std::cout << "postrix " << POSTRIX_VERSION << "\n";
    return 0;
  }
  postrix::SystemClock clock;
  return postrix::Main(postrix::joinArguments(arguments), postrix::defaultRunModes(), clock,
                       postrix::programFolder());
}
