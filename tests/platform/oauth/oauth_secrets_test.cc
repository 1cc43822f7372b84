// The OAuth 2.0 secrets file: what it may look like, who may read it, where
// it is, and that saving it from the form keeps what an administrator wrote.
#include "platform/oauth/oauth_secrets.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/oauth/oauth_error.h"
#include "support/temp_database.h"

namespace postrix::oauth {
namespace {

using test::readFile;
using test::TempDir;

class OAuthSecretsTest : public ::testing::Test {
 protected:
  ~OAuthSecretsTest() override { unsetenv("CREDENTIALS_DIRECTORY"); }

  void write(const std::string& text, mode_t mode = 0600) {
    std::ofstream(path, std::ios::trunc) << text;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  }
  // The error readSecretsFile gives; "" when it reads the file.
  std::string readError() {
    try {
      readSecretsFile(path);
      return "";
    } catch (const OAuthError& e) {
      return e.what();
    }
  }
  static mode_t modeOf(const std::string& file) {
    struct stat info {};
    ::stat(file.c_str(), &info);
    return info.st_mode & 07777;
  }

  TempDir dir;
  std::string path = dir.file("oauth.conf");
};

TEST_F(OAuthSecretsTest, AFileOtherAccountsMayReadOrChangeIsRefused) {
  for (mode_t mode : {0644, 0640, 0604, 0620, 0602, 0660}) {
    SCOPED_TRACE(mode);
    write("provider = google\n", mode);
    std::string error = readError();
    EXPECT_NE(error.find("'" + path + "'"), std::string::npos) << error;
    EXPECT_NE(error.find("chmod 600"), std::string::npos) << error;
  }
  for (mode_t mode : {0600, 0400}) {
    write("provider = google\n", mode);
    EXPECT_EQ(readError(), "") << mode;
  }
  std::filesystem::remove(path);
  EXPECT_EQ(readError(), "the OAuth 2.0 secrets file '" + path + "' is missing");
}

// A line may be a mistyped secret: the error names its number, never its text.
TEST_F(OAuthSecretsTest, AMisshapenLineOrUnknownKeyIsNamedWithoutItsValue) {
  write("provider = microsoft\nclient_secret: s3cr3t\n");
  std::string error = readError();
  EXPECT_NE(error.find("line 2, is not of the form key = value"), std::string::npos) << error;
  EXPECT_EQ(error.find("s3cr3t"), std::string::npos) << error;
  write("provider = microsoft\nclientsecret = s3cr3t\n");
  error = readError();
  EXPECT_NE(error.find("the unknown key 'clientsecret'"), std::string::npos) << error;
  EXPECT_EQ(error.find("s3cr3t"), std::string::npos) << error;
}

TEST_F(OAuthSecretsTest, SavingKeepsCommentsAndHandSetKeysAndIsForTheOwnerOnly) {
  write(
      "# by hand\nprovider = microsoft\nscope = custom/.default\nclient_secret = old\n"
      "token_url = https://t/token\nrefresh_token = stale\n");
  OAuthSecrets form{
      .provider = "microsoft", .tenant = "contoso", .clientId = "id", .clientSecret = "new secret"};
  writeSecretsFile(path, form);
  EXPECT_EQ(readFile(path),
            "# by hand\nprovider = microsoft\nscope = custom/.default\nclient_secret = new secret\n"
            "token_url = https://t/token\ntenant = contoso\nclient_id = id\n");
  EXPECT_EQ(modeOf(path), 0600u);

  std::filesystem::remove(path);
  mode_t before = ::umask(0);  // a new file is owner-only whatever the umask
  writeSecretsFile(dir.file("new.conf"), form);
  ::umask(before);
  EXPECT_EQ(modeOf(dir.file("new.conf")), 0600u);
  OAuthSecrets back = readSecretsFile(dir.file("new.conf"));
  EXPECT_EQ(back.clientSecret, "new secret");
  EXPECT_EQ(back.tenant, "contoso");

  form.clientSecret = "two\nlines";
  EXPECT_THROW(writeSecretsFile(path, form), OAuthError);
  EXPECT_FALSE(std::filesystem::exists(path)) << "nothing half written";
}

}  // namespace
}  // namespace postrix::oauth
