// The picker as an operator meets it: the driver program runs in a tmux
// pane of its own (a private tmux server, never the user's) and is steered
// with keys while the test reads the pane and the choice the driver writes.
#include "ui/message_picker.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "support/shell_output.h"
#include "support/temp_database.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;

const std::string kHelp = "Up/Down move  Space mark  Enter open/confirm  q cancel";

class MessagePickerTest : public ::testing::Test {
 protected:
  MessagePickerTest() : socket(dir.file("tmux")), out(dir.file("out")) {
    fs::create_directories(dir.file("sub"));
    for (const char* name : {"a.eml", "b.eml", "c.EML", "notes.txt", "sub/d.eml"})
      std::ofstream(dir.file(name)) << "Subject: test\r\n\r\nbody\r\n";
  }
  ~MessagePickerTest() override { shell(tmux("kill-server") + " 2>/dev/null"); }

  void SetUp() override {
    if (shell("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    // A session that outlives the others keeps the server up: a server whose
    // last session has just closed may still be exiting when the next starts.
    ASSERT_EQ(shell(tmux("new-session -d -s keep")), 0);
  }

  std::string tmux(const std::string& args) const {
    return "env -u TMUX tmux -S " + socket + " -f /dev/null " + args;
  }

  // Starts the driver on folder in a 100x30 pane and waits for the form.
  // Each run has a session of its own: the last one may not have closed yet.
  void start(const std::string& folder) {
    session = "picker" + std::to_string(++runs);
    ASSERT_EQ(
        shell(tmux("new-session -d -s " + session + " -x 100 -y 30 " + shellWord(PICKER_DRIVER) +
                   " " + shellWord(folder) + " " + shellWord(out))),
        0);
    ASSERT_TRUE(showing("Choose saved messages to send")) << screen();
  }

  void keys(const std::string& names) {
    ASSERT_EQ(shell(tmux("send-keys -t " + session + " " + names)), 0);
  }

  std::string screen() const {
    return outputOf(tmux("capture-pane -p -t " + session + " 2>/dev/null"), false);
  }

  bool showing(const std::string& text) const {
    return eventually([&] { return screen().find(text) != std::string::npos; });
  }

  // The lines the driver wrote once the picker returned.
  std::vector<std::string> choice() const {
    std::vector<std::string> lines;
    if (!eventually([&] { return fs::exists(out); })) return {"(no choice written)"};
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  TempDir dir;
  std::string socket, out;  // the private tmux server's socket lives and goes with dir
  std::string session;
  int runs = 0;
};

TEST_F(MessagePickerTest, MarkedFilesComeBackAsTheirFolderAndNames) {
  start(dir.path());
  std::string listed = screen();
  EXPECT_NE(listed.find("    sub/"), std::string::npos) << listed;
  EXPECT_NE(listed.find("[ ] c.EML"), std::string::npos) << listed;
  EXPECT_EQ(listed.find("notes.txt"), std::string::npos) << listed;
  EXPECT_NE(listed.find(kHelp), std::string::npos) << listed;

  keys("Down Down Space Down Space");
  ASSERT_TRUE(showing("[x] b.eml")) << screen();
  EXPECT_NE(screen().find("[x] a.eml"), std::string::npos);
  keys("Down Enter");  // on c.EML, which is not marked: the marks win
  EXPECT_EQ(choice(), (std::vector<std::string>{dir.path(), "a.eml", "b.eml"}));
}

TEST_F(MessagePickerTest, QAndEscCancelWithoutAReason) {
  for (const char* key : {"q", "Escape"}) {
    start(dir.path());
    keys(key);
    EXPECT_EQ(choice(), std::vector<std::string>{"CANCELLED"}) << key;
    fs::remove(out);
  }
}

// One file chosen in a subfolder comes back as its full path.
TEST_F(MessagePickerTest, ALongListScrollsAndPagingStopsAtTheLastFile) {
  for (int i = 10; i < 50; ++i) std::ofstream(dir.file("sub/m" + std::to_string(i) + ".eml"));
  start(dir.path());
  keys("j Enter");
  ASSERT_TRUE(showing(dir.file("sub") + "\n")) << screen();
  EXPECT_EQ(screen().find("m49.eml"), std::string::npos);
  keys("NPage NPage NPage");
  ASSERT_TRUE(showing("m49.eml")) << screen();
  EXPECT_EQ(screen().find("m10.eml"), std::string::npos);
  keys("PPage PPage PPage");
  ASSERT_TRUE(showing("[ ] m10.eml")) << screen();
  keys("NPage NPage NPage Up Enter");
  EXPECT_EQ(choice(), std::vector<std::string>{dir.file("sub/m48.eml")});
}

}  // namespace
}  // namespace postrix::test
