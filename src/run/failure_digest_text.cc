// What the failure digest says: its subject, its head and one entry per
// failure, every value from outside made harmless to show.
#include <cstdio>
#include <string_view>

#include "run/failure_digest.h"
#include "run/run_failures.h"
#include "util/text.h"
#include "util/utf8.h"

namespace postrix {
namespace {

// Characters that would let a value forge lines of the digest or reorder
// how the text around it reads: control characters (C0, DEL, C1), the
// bidirectional marks, embeddings, overrides and isolates, and the line and
// paragraph separators some readers break lines at.
bool isDisguising(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

std::string codeOf(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// As the run log writes them (\r, \n, \0, \xHH), and the Unicode ones as
// \u{HHHH}. A byte that starts no UTF-8 character is shown as \xHH too,
// so the body is UTF-8 whatever the database held.
std::string escaped(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size();) {
    char32_t cp = 0;
    std::size_t length = utf8At(value, i, cp);
    if (length == 0) {
      out += codeOf("\\x%02X", static_cast<unsigned char>(value[i++]));
      continue;
    }
    if (cp == '\r')
      out += "\\r";
    else if (cp == '\n')
      out += "\\n";
    else if (cp == 0)
      out += "\\0";
    else if (cp < 0x80 && isDisguising(cp))
      out += codeOf("\\x%02X", static_cast<unsigned>(cp));
    else if (isDisguising(cp))
      out += codeOf("\\u{%04X}", static_cast<unsigned>(cp));
    else
      out.append(value.substr(i, length));
    i += length;
  }
  return out;
}

bool endsHost(char c) {
  return std::string_view("/?#\\<>\"'()[]{}| \t").find(c) != std::string_view::npos;
}

// Copies the host that starts at text[i], each "." written "[.]"; returns
// where the host ends.
std::size_t copyHostDefanged(std::string_view text, std::size_t i, std::string& out) {
  for (; i < text.size() && !endsHost(text[i]); ++i)
    out += text[i] == '.' ? "[.]" : text.substr(i, 1);
  return i;
}

bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

// Whether text holds prefix (any letter case) at i, at the start of a word.
bool wordStartsAt(std::string_view text, std::size_t i, std::string_view prefix) {
  return (i == 0 || !isWordChar(text[i - 1])) &&
         equalsNoCase(text.substr(i, prefix.size()), prefix);
}

// Mail readers make links of what looks like an address: "scheme://host",
// "www.host", "ftp.host", "mailto:", "\\server\share". A status or reply
// holds what a web or mail server chose to say, and a link in a message the
// administrator trusts is the easiest bait there is; so none may come of
// it. Each is written defanged, "https[:]//evil[.]example/x", which a
// reader still reads and can mend by hand but no mail reader links. Mail
// addresses (the recipients) are left as they are: they are the point.
std::string defanged(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, 3, "://") == 0) {
      out += "[:]//";
      i = copyHostDefanged(text, i + 3, out);
    } else if (wordStartsAt(text, i, "www.") || wordStartsAt(text, i, "ftp.")) {
      i = copyHostDefanged(text, i, out);
    } else if (wordStartsAt(text, i, "mailto:")) {
      out.append(text.substr(i, 6)) += "[:]";
      i += 7;
    } else if (text.compare(i, 2, "\\\\") == 0) {
      out += "\\[\\]";
      i += 2;
    } else {
      out += text[i++];
    }
  }
  return out;
}

// The text cut after kMaxValueChars characters, with a note of how long it was.
std::string bounded(std::string text) {
  std::size_t chars = 0, cut = std::string::npos;
  for (std::size_t i = 0; i < text.size(); ++chars) {
    if (chars == kMaxValueChars) cut = i;
    char32_t cp = 0;
    std::size_t length = utf8At(text, i, cp);
    i += length == 0 ? 1 : length;
  }
  if (cut == std::string::npos) return text;
  text.resize(cut);
  return text + " ... (cut; " + std::to_string(chars) + " characters in all)";
}

std::string orNone(std::string_view value) {
  return value.empty() ? std::string("(none)") : shownValue(value);
}

std::string entry(std::size_t number, const FailedDelivery& failure) {
  return std::to_string(number) + ". " + shownValue(failure.item) +
         "\n   Subject: " + orNone(failure.subject) +
         "\n   Recipients: " + orNone(failure.recipients) +
         "\n   Status: " + orNone(failure.status) +
         "\n   Last server reply: " + orNone(failure.serverReply) + "\n";
}

// What failed, in the subject's words: "report", "dashboard", "saved
// message" when all are of one kind, "item" otherwise.
std::string kindOf(const std::vector<FailedDelivery>& failures) {
  auto kindOfItem = [](const std::string& item) -> std::string {
    for (std::string_view kind : {"Report ", "Dashboard ", "Saved message "})
      if (startsWith(item, kind)) return toLower(kind.substr(0, kind.size() - 1));
    return "item";
  };
  std::string kind = kindOfItem(failures.front().item);
  for (const FailedDelivery& failure : failures)
    if (kindOfItem(failure.item) != kind) kind = "item";
  return kind + (failures.size() == 1 ? "" : "s");
}

std::string head(const RunFailures& failures, const DigestRun& run, const std::string& started) {
  return std::string("Postrix could not send everything in one of its runs.\n\n") +
         "Installation: " + shownValue(run.programFolder) + " on " + shownValue(run.hostName) +
         "\nRun started: " + started + "\nFailed: " + std::to_string(failures.failures().size()) +
         "\nSent: " + std::to_string(failures.sentCount()) +
         "\n\nThe run log, postrix.log in the program folder, has the details of each failure. "
         "Below, values are shown as they were recorded, but with control characters escaped "
         "(\\r, \\n, \\xHH) and web addresses written with \"[:]\" and \"[.]\", so that no mail "
         "reader makes links of them.\n";
}

}  // namespace

std::string shownValue(std::string_view value) { return bounded(defanged(escaped(value))); }

DigestText composeFailureDigest(const RunFailures& failures, const DigestRun& run) {
  const std::vector<FailedDelivery>& all = failures.failures();
  std::string started = shortDate(run.started) + " " + longTime(run.started);
  DigestText text;
  text.subject = "Postrix: " + std::to_string(all.size()) + " " + kindOf(all) +
                 " not sent in the run of " + started;
  text.body = head(failures, run, started);
  std::size_t listed = 0;
  while (listed < all.size() && listed < kMaxListed && text.body.size() < kMaxBodyBytes) {
    text.body += "\n" + entry(listed + 1, all[listed]);
    ++listed;
  }
  if (listed < all.size())
    text.body += "\n... and " + std::to_string(all.size() - listed) +
                 " more, not listed here; the run log has each of them.\n";
  return text;
}

}  // namespace postrix
