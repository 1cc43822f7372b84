// Writes the manual page to standard output, for the build to install.
#include <iostream>

#include "run/option_help.h"

int main() {
  std::cout << postrix::manPage();
  return std::cout ? 0 : 1;
}
