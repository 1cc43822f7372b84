// -sendmessage as an operator uses it: the program in a terminal (a tmux
// pane on a private tmux server), two saved messages marked and sent.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/run_fixture.h"
#include "support/smtp_peer.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;

class SendMessageTest : public RunFixture {
 protected:
  ~SendMessageTest() override { shell(tmux("kill-server") + " 2>/dev/null"); }

  static int shell(const std::string& command) {
    int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string tmux(const std::string& args) const {
    return "env -u TMUX tmux -S " + home.file("tmux") + " -f /dev/null " + args;
  }
  std::string screen() const {
    std::string text;
    if (FILE* pane = popen(tmux("capture-pane -p -t send 2>/dev/null").c_str(), "r")) {
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, pane)) > 0) text.append(buffer, n);
      pclose(pane);
    }
    return text;
  }
  bool showing(const std::string& text) const {
    for (int i = 0; i < 250; ++i) {
      if (screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};

TEST_F(SendMessageTest, TwoMarkedMessagesAreSent) {
  std::string failed = programFolder() + "/Failed/";
  fs::create_directories(failed);
  for (const char* name : {"12_261205.eml", "13_261205.eml"})
    std::ofstream(failed + name, std::ios::binary)
        << "From: reports@example.com\r\nTo: " << name << "@x.com\r\nSubject: Saved\r\n\r\n"
        << "<p>saved</p>\r\n";
  SmtpPeer peer;
  std::string command = "POSTRIX_HOME=" + programFolder() + " " + POSTRIX_BINARY +
                        " -dsn relativemdb -sendmessage -server 127.0.0.1 -port " +
                        std::to_string(peer.port());
  ASSERT_EQ(shell(tmux("new-session -d -s send -x 100 -y 30 \"" + command + "\"")), 0);
  ASSERT_TRUE(showing("13_261205.eml")) << screen();
  // The list starts with "..": down to the first file, mark it and the next, confirm.
  ASSERT_EQ(shell(tmux("send-keys -t send Down Space Down Space Enter")), 0);
  auto mail = peer.waitForMessages(2);
  ASSERT_EQ(mail.size(), 2u) << screen();
  EXPECT_EQ(mail[0].to, std::vector<std::string>{"12_261205.eml@x.com"});
  EXPECT_EQ(mail[1].to, std::vector<std::string>{"13_261205.eml@x.com"});
  for (int i = 0; i < 100 && !fs::is_empty(failed); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(fs::is_empty(failed));
  EXPECT_TRUE(fs::exists(programFolder() + "/Sent/13_261205.eml"));
}

}  // namespace
}  // namespace postrix::test
