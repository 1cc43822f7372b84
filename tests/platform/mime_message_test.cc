#include "platform/mime/mime_message.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "support/shell_output.h"
#include "support/temp_database.h"

namespace postrix::mime {
namespace {

using Strings = std::vector<std::string>;

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string unhex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

Strings linesOf(const std::string& text) {
  Strings lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t longestLine(const std::string& rendered) {
  size_t longest = 0, start = 0;
  for (size_t end; (end = rendered.find("\r\n", start)) != std::string::npos; start = end + 2)
    longest = std::max(longest, end - start);
  return std::max(longest, rendered.size() - start);
}

// The top-level header named name with its continuation lines, or "".
std::string headerOf(const std::string& rendered, const std::string& name) {
  std::string head = "\r\n" + rendered.substr(0, rendered.find("\r\n\r\n") + 2);
  size_t at = head.find("\r\n" + name + ":");
  if (at == std::string::npos) return "";
  size_t end = at + 2;
  do end = head.find("\r\n", end) + 2;
  while (end < head.size() && (head[end] == ' ' || head[end] == '\t'));
  return head.substr(at + 2, end - at - 2);
}

// What Python's mail parser makes of a message file.
struct PythonPart {
  std::string type, fileName, contentId, bytes, text, charset;
  size_t longestLine = 0;
};
struct PythonView {
  std::string defects, subject;
  std::map<std::string, Strings> addresses;  // "to" -> "name|address" ...
  Strings multiparts;
  std::vector<PythonPart> parts;
};

// Prints one line per message, address header and part: a keyword, then each value hex-encoded.
constexpr char kPythonReader[] = R"(import email, email.policy, sys
def hx(s): return str(s).encode('utf-8', 'surrogateescape').hex() or '-'
for path in sys.argv[1:]:
    with open(path, 'rb') as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    defects = []
    for part in msg.walk():
        defects += [type(d).__name__ for d in part.defects]
        for value in part.values():
            defects += [type(d).__name__ for d in getattr(value, 'defects', ())]
    print('message', hx(','.join(defects)), hx(msg['subject']))
    for name in ('from', 'to', 'cc', 'bcc'):
        if msg[name] is not None:
            print(name, *[hx(a.display_name + '|' + a.addr_spec) for a in msg[name].addresses])
    for part in msg.walk():
        if part.is_multipart():
            print('multipart', hx(part.get_content_type()))
            continue
        text = part.get_content() if part.get_content_type() == 'text/html' else ''
        print('part', hx(part.get_content_type()), hx(part.get_filename() or ''),
              hx(part.get('content-id', '')), part.get_payload(decode=True).hex() or '-',
              hx(text.replace('\r\n', '\n')), hx(part.get_content_charset() or ''),
              hx(max([len(l) for l in part.get_payload().splitlines()] + [0])))
)";

std::vector<PythonView> readWithPython(const test::TempDir& dir, const Strings& messages) {
  std::string command = "/usr/bin/python3 " + dir.file("reader.py");
  writeFile(dir.file("reader.py"), kPythonReader);
  for (size_t i = 0; i < messages.size(); ++i) {
    writeFile(dir.file("m" + std::to_string(i) + ".eml"), messages[i]);
    command += " " + dir.file("m" + std::to_string(i) + ".eml");
  }
  std::string output = test::outputOf(command);
  std::vector<PythonView> views;
  for (const auto& line : linesOf(output)) {
    std::istringstream in(line);
    std::string kind;
    Strings v;
    in >> kind;
    for (std::string word; in >> word;) v.push_back(unhex(word));  // "-" reads as ""
    if (kind == "message")
      views.push_back({v.at(0), v.at(1), {}, {}, {}});
    else if (kind == "multipart")
      views.back().multiparts.push_back(v.at(0));
    else if (kind == "part")
      views.back().parts.push_back(
          {v.at(0), v.at(1), v.at(2), v.at(3), v.at(4), v.at(5), std::stoul(v.at(6))});
    else
      views.back().addresses[kind] = v;
  }
  EXPECT_EQ(views.size(), messages.size()) << output;
  return views;
}

// Every kind of byte an attachment may hold.
std::string binaryBytes() {
  std::string bytes;
  for (int round = 0; round < 3; ++round)
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes + std::string("\0\xFF\r\n.\n", 6);
}

// Long lines, lone LF and CR, "=", trailing blanks, dots and "From " at line starts, and
// characters Latin-1 has (é) and lacks (€, an emoji); as sent, and as a reader gets it back.
std::string html(const std::string& beyondLatin1, const char* cr, const char* crlf) {
  return "<p>Umsätze = 100% é " + beyondLatin1 + "</p>\n.hidden\nFrom me \t" + cr + "<td>" +
         std::string(2000, 'x') + "</td>" + crlf + std::string(300, '=') + "\n";
}
const std::string kHtml = html("€ 😀", "\r", "\r\n");
const std::string kHtmlAsUtf8Reads = html("€ 😀", "\n", "\n");
const std::string kHtmlAsLatin1Reads = html("&#8364; &#128512;", "\n", "\n");

TEST(MimeMessageTest, PythonReadsEveryStructureExactly) {
  test::TempDir dir;
  Strings rendered;
  MimeMessage plain;
  plain.setFrom("Reports <reports@example.com>");
  plain.setBcc("a@example.com");
  plain.setSubject("Monthly report");
  plain.setHtmlBody(kHtml, "ISO-8859-1");
  rendered.push_back(plain.render(false));

  MimeMessage related;  // UTF-8 through a Content-Type header, one inline image
  related.setFrom("reports@example.com");
  related.setTo("a@example.com");
  related.setSubject("Grüße 😀 " + std::string(60, 'y') + " é");
  related.setHtmlBody(kHtml, "ISO-8859-1");
  related.addHeader("Content-Type", "text/html; charset=\"utf8\"");
  related.attach({"logo.png", "", "logo1", binaryBytes()});
  rendered.push_back(related.render(false));

  MimeMessage mixed;  // unknown charset: sent as UTF-8
  mixed.setFrom("reports@example.com");
  mixed.setTo("\"Müller, Jörg\" <j@example.com>; Ann Lee <ann@example.com>");
  mixed.setHtmlBody(kHtml, "x-no-such-charset");
  mixed.attach({"logo.gif", "", "<logo2>", "GIF89a"});
  std::string longName = "Übersicht der Umsätze " + std::string(80, 'z') + " 😀.csv";
  mixed.attach({longName, "", "", "a;b\r\n1;2\r\n"});
  mixed.attach({"a \"quoted\" name.bin", "", "", binaryBytes()});
  rendered.push_back(mixed.render(false));

  std::vector<PythonView> views = readWithPython(dir, rendered);
  ASSERT_EQ(views.size(), 3u);
  for (size_t i = 0; i < views.size(); ++i) {
    EXPECT_EQ(views[i].defects, "") << i;
    EXPECT_LE(longestLine(rendered[i]), 78u) << rendered[i];
    for (const auto& part : views[i].parts) EXPECT_LE(part.longestLine, 76u) << i << part.type;
    for (const auto& line : linesOf(rendered[i])) {
      EXPECT_FALSE(line.starts_with(".") || line.starts_with("From ")) << line;
      EXPECT_FALSE(line.ends_with(" \r") || line.ends_with("\t\r")) << line;
    }
  }
  ASSERT_EQ(views[0].parts.size(), 1u);
  EXPECT_TRUE(views[0].multiparts.empty());
  EXPECT_EQ(views[0].parts[0].charset, "iso-8859-1");
  EXPECT_EQ(views[0].parts[0].text, kHtmlAsLatin1Reads);
  EXPECT_EQ(views[0].addresses["from"], Strings{"Reports|reports@example.com"});
  EXPECT_EQ(views[0].addresses.count("to"), 1u) << "a To header for Bcc-only messages";
  EXPECT_TRUE(views[0].addresses["to"].empty());

  EXPECT_EQ(views[1].subject, "Grüße 😀 " + std::string(60, 'y') + " é");
  EXPECT_EQ(views[1].multiparts, Strings{"multipart/related"});
  ASSERT_EQ(views[1].parts.size(), 2u);
  EXPECT_EQ(views[1].parts[0].charset, "utf-8");
  EXPECT_EQ(views[1].parts[0].text, kHtmlAsUtf8Reads);
  EXPECT_EQ(views[1].parts[1].type, "image/png");
  EXPECT_EQ(views[1].parts[1].contentId, "<logo1>");
  EXPECT_EQ(views[1].parts[1].bytes, binaryBytes());

  EXPECT_EQ(views[2].multiparts, (Strings{"multipart/mixed", "multipart/related"}));
  EXPECT_EQ(views[2].addresses["to"],
            (Strings{"Müller, Jörg|j@example.com", "Ann Lee|ann@example.com"}));
  ASSERT_EQ(views[2].parts.size(), 4u);
  EXPECT_EQ(views[2].parts[0].charset, "utf-8");
  EXPECT_EQ(views[2].parts[0].text, kHtmlAsUtf8Reads);
  EXPECT_EQ(views[2].parts[1].contentId, "<logo2>");
  EXPECT_EQ(views[2].parts[1].type, "image/gif");
  EXPECT_EQ(views[2].parts[2].fileName, longName);
  EXPECT_EQ(views[2].parts[2].type, "text/csv");
  EXPECT_EQ(views[2].parts[2].charset, "utf-8");
  EXPECT_EQ(views[2].parts[2].bytes, "a;b\r\n1;2\r\n");
  EXPECT_EQ(views[2].parts[3].fileName, "a \"quoted\" name.bin");
  EXPECT_EQ(views[2].parts[3].type, "application/octet-stream");
  EXPECT_EQ(views[2].parts[3].bytes, binaryBytes());
}

TEST(MimeMessageTest, HeaderValuesCannotAddHeaders) {
  test::TempDir dir;
  MimeMessage message;
  message.addHeader("Message-ID", "<own@example.com>\r\nBcc: i@evil.example");
  message.setFrom("Reports <reports@example.com>");
  message.setTo("Ann <a@example.com>\nBcc: t@evil.example, ok@example.com");
  message.setSubject("a\r\nBcc: x@evil.example");
  message.addHeader("X-Report", std::string("sales\0Bcc: h@evil.example", 25));
  message.addHeader("Bad\r\nBcc", "n@evil.example");
  message.setHtmlBody("<p>hi</p>", "UTF-8");
  std::string rendered = message.render(false);
  EXPECT_EQ(rendered.find("\nBcc"), std::string::npos) << rendered;
  EXPECT_EQ(rendered.find("t@evil"), std::string::npos) << rendered;
  EXPECT_EQ(rendered.find('\0'), std::string::npos);
  EXPECT_EQ(headerOf(rendered, "X-Report"), "X-Report: sales Bcc: h@evil.example\r\n");
  EXPECT_EQ(headerOf(rendered, "Message-ID").find("own@"), std::string::npos);

  std::vector<PythonView> views = readWithPython(dir, {rendered});
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0].defects, "");
  EXPECT_EQ(views[0].subject, "a Bcc: x@evil.example");
  EXPECT_EQ(views[0].addresses["to"], Strings{"|ok@example.com"});
  EXPECT_EQ(views[0].addresses.count("bcc"), 0u);
}

TEST(MimeMessageTest, NoHeaderLineIsLongerThan998Octets) {
  test::TempDir dir;
  const std::string word(3000, 'w'), name = "Ann " + std::string(1500, 'n') + " Lee";
  MimeMessage message;
  message.setFrom("\"" + name + "\" <reports@example.com>");
  message.setTo(std::string(2000, 'd') + " <d@example.com>, " + std::string(1200, 'l') +
                "@example.com, ok@example.com");
  message.setSubject("Sales " + word);
  message.addHeader("X-Report", word);
  message.setHtmlBody("<p>hi</p>", "UTF-8");
  message.attach({std::string(1500, 'f') + ".csv", "", "", "a;b\r\n"});
  std::string rendered = message.render(false);
  EXPECT_LE(longestLine(rendered), 998u);

  std::vector<PythonView> views = readWithPython(dir, {rendered});
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0].defects, "");
  EXPECT_EQ(views[0].subject, "Sales " + word);
  ASSERT_EQ(views[0].parts.size(), 2u);
  EXPECT_EQ(views[0].parts[1].fileName, std::string(1500, 'f') + ".csv");
  // The over-long address is left out.
  ASSERT_EQ(views[0].addresses["to"].size(), 2u);
  EXPECT_EQ(views[0].addresses["to"][1], "|ok@example.com");

  std::string path = dir.file("long.eml"), error;
  ASSERT_TRUE(message.saveToFile(path, error)) << error;
  MimeMessage imported;
  ASSERT_TRUE(imported.importFromFile(path, error)) << error;
  EXPECT_EQ(imported.from(), name + " <reports@example.com>");
}

TEST(MimeMessageTest, SavedMessageImportsToTheSameBytes) {
  test::TempDir dir;
  writeFile(dir.file("export.tmp"), "a;b\r\n1;2\r\n");
  MimeMessage message;
  message.setFrom("Reports <reports@example.com>");
  message.setTo("\"Müller, Jörg\" <j@example.com>; ann@example.com");
  message.setCc("Chef <cc@example.com>");
  message.setBcc("Boss One <boss1@example.com>, Boss Two <boss2@example.com>, ANN@example.com");
  message.setSubject("Umsätze 😀");
  message.setHtmlBody(kHtml, "ISO-8859-1");
  ASSERT_TRUE(message.attachFile(dir.file("export.tmp"), "", "", "Übersicht.csv"));
  EXPECT_FALSE(message.attachFile(dir.file("missing.csv")));
  message.attach({"data.bin", "", "", binaryBytes()});
  message.attach({"logo.png", "", "logo1", "PNG"});

  std::string path = dir.file("saved.eml"), error;
  ASSERT_TRUE(message.saveToFile(path, error)) << error;
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  Strings names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Strings{"export.tmp", "saved.eml"})) << "no temporary file is left";

  std::string saved = test::readFile(path);
  std::string bcc = headerOf(saved, "Bcc");
  ASSERT_NE(bcc.find("\r\n "), std::string::npos) << "a folded Bcc: " << bcc;
  EXPECT_EQ(headerOf(message.render(false), "Message-ID"), headerOf(saved, "Message-ID"));
  EXPECT_EQ(headerOf(message.render(false), "Bcc"), "");

  MimeMessage imported;
  ASSERT_TRUE(imported.importFromFile(path, error)) << error;
  EXPECT_EQ(imported.render(true), saved);
  std::string withoutBcc = saved;
  withoutBcc.erase(saved.find(bcc), bcc.size());
  EXPECT_EQ(imported.render(false), withoutBcc);
  EXPECT_EQ(imported.subject(), "Umsätze 😀");
  EXPECT_EQ(imported.to(), "\"Müller, Jörg\" <j@example.com>, ann@example.com");
  EXPECT_EQ(imported.envelopeFrom(), "reports@example.com");
  EXPECT_EQ(imported.envelopeRecipients(),
            (Strings{"j@example.com", "ann@example.com", "cc@example.com", "boss1@example.com",
                     "boss2@example.com"}));
}

}  // namespace
}  // namespace postrix::mime
