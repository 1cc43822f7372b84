#include "support/smtp_peer.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace postrix::test {

namespace {

// Key generation costs a noticeable fraction of a second, so every server in the
// process shares one certificate.
struct Certificate {
  TempDir dir;
  std::string cert = dir.file("cert.pem"), key = dir.file("key.pem");
};

const Certificate& certificateFiles() {
  static Certificate files;
  static std::once_flag once;
  std::call_once(once, [] {
    pid_t pid = spawnProcess(
        {"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout",
         files.key, "-out", files.cert},
        true);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      throw std::runtime_error("openssl could not make the test certificate");
    }
  });
  return files;
}

ReceivedMail readMail(const std::string& base) {
  ReceivedMail mail;
  std::istringstream env(readFile(base + ".env"));
  for (std::string line; std::getline(env, line);) {
    size_t space = line.find(' ');
    std::string key = line.substr(0, space);
    std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "from") {
      mail.from = value;
    } else if (key == "to") {
      mail.to.push_back(value);
    } else if (key == "auth") {
      mail.authUser = value;
    } else if (key == "tls") {
      mail.tls = value == "yes";
    } else if (key == "helo") {
      mail.helo = value;
    }
  }
  mail.data = readFile(base + ".eml");
  return mail;
}

}  // namespace

SmtpPeer::SmtpPeer(SmtpPeerOptions options) : mailDir_(dir_.file("mail")) {
  std::string script = POSTRIX_SOURCE_DIR "/tests/peers/smtp_server.py";
  std::string portFile = dir_.file("port");
  // -I: a developer's PYTHONPATH must not shadow the system's aiosmtpd.
  std::vector<std::string> args = {"/usr/bin/python3", "-I",     script,  "--port-file", portFile,
                                   "--mail-dir",       mailDir_, "--tls", options.tls,   "--auth",
                                   options.auth,       "--user", kUser,   "--password",  kPassword};
  if (options.tls != "none") {
    const Certificate& files = certificateFiles();
    args.insert(args.end(), {"--cert", files.cert, "--key", files.key});
  }
  for (const auto& address : options.refuseRecipients) {
    args.insert(args.end(), {"--refuse-recipient", address});
  }
  if (!options.refuseReply.empty())
    args.insert(args.end(), {"--refuse-reply", options.refuseReply});
  for (const auto& token : options.oauthTokens) args.insert(args.end(), {"--oauth-token", token});
  if (options.refuseSender) args.push_back("--refuse-sender");
  if (options.refuseAuth) args.push_back("--refuse-auth");
  if (options.closeDuringData) args.push_back("--close-during-data");
  if (options.noEhlo) args.push_back("--no-ehlo");
  if (options.stallDuringData) args.push_back("--stall-during-data");
  if (options.maxSize > 0) args.insert(args.end(), {"--max-size", std::to_string(options.maxSize)});
  if (options.delayMs > 0) args.insert(args.end(), {"--delay-ms", std::to_string(options.delayMs)});
  process_ = std::make_unique<PeerProcess>(args, portFile, "the test mail server");
}

std::vector<ReceivedMail> SmtpPeer::received() const {
  std::vector<ReceivedMail> out;
  for (int i = 1;; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "/%04d", i);
    std::string base = mailDir_ + name;
    // The server renames the .eml into place after the .env, so its presence means both are whole.
    if (!std::filesystem::exists(base + ".eml")) return out;
    out.push_back(readMail(base));
  }
}

std::vector<ReceivedMail> SmtpPeer::waitForMessages(size_t n, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<ReceivedMail> mails = received();
    if (mails.size() >= n || std::chrono::steady_clock::now() >= deadline) return mails;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

const std::string& SmtpPeer::certificate() const { return certificateFiles().cert; }

}  // namespace postrix::test
