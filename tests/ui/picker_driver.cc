// Runs the message picker on whatever terminal it is given, for the picker
// tests: picks from the folder argv[1] and writes the outcome to argv[2].
// The file appears whole (renamed into place) so a test polling for it never
// reads half of it.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ui/message_picker.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: picker_driver FOLDER OUTFILE\n";
    return 2;
  }
  std::string reason;
  std::vector<std::string> choice = postrix::pickMessageFiles(argv[1], reason);
  std::string partial = std::string(argv[2]) + ".part";
  {
    std::ofstream out(partial);
    if (!choice.empty())
      for (const std::string& line : choice) out << line << '\n';
    else if (!reason.empty())
      out << "REASON: " << reason << '\n';
    else
      out << "CANCELLED\n";
    if (!out.flush()) return 1;
  }
  return std::rename(partial.c_str(), argv[2]) == 0 ? 0 : 1;
}
