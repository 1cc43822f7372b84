#include "support/shell_output.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace postrix::test {

std::string outputOf(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  bool ok = pipe && pclose(pipe) == 0;
  EXPECT_TRUE(ok) << command << "\n" << out;
  return out;
}

}  // namespace postrix::test
