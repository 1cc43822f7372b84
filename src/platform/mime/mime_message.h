// MimeMessage: one e-mail message, written and read as MIME.
//
// A built message has a sender, To/Cc/Bcc recipients, a subject, an HTML
// body in a character set (or a plain-text body in UTF-8), extra headers and
// attachments. render writes it:
//   - the HTML body as text/html; charset=CHARSET, quoted-printable (no line
//     over 76 characters, so long HTML lines and any text arrive intact); a
//     plain-text body the same way as text/plain; charset=UTF-8;
//   - attachments base64 with their file names and content types; parts
//     with a content id go into a multipart/related beside the body,
//     the others into a multipart/mixed around it;
//   - text attachments (text/csv, ...) with charset=UTF-8;
//   - a subject or display name that is not ASCII, or has a word too long
//     for a folded line, as RFC 2047 words in UTF-8; no line over 998 octets;
//   - no text can add a header: in a subject, display name, extra header or
//     file name each CR, LF and NUL becomes a blank; an address piece holding
//     one is left out whole, from the header and from the envelope; so is an
//     address too long for any line from the header (no mail system takes one);
//   - a Bcc header only when asked (saved copies keep it, sent ones never).
// A message read from a file (importFromFile) keeps its own bytes: render
// gives them back as they were, less the Bcc header when asked, with line
// ends normalised to CRLF; sender and recipients come from its headers.
// One thread uses a message.
#pragma once

#include <cstddef>      // sizes
#include <string>       // texts
#include <string_view>  // inputs
#include <vector>       // recipients, attachments

namespace postrix::mime {

struct Attachment {
  std::string fileName;     // as the recipient sees it
  std::string contentType;  // e.g. "text/csv"; guessed from the name when empty
  std::string contentId;    // without angle brackets; "" for a plain attachment
  std::string bytes;
};

class MimeMessage {
 public:
  // ---- Building ----
  // Address lists are texts as users write them: "a@x.com, B <b@y.com>" or
  // with ";" between addresses.
  void setFrom(std::string_view from) { from_ = from; }
  void setTo(std::string_view to) { to_ = to; }
  void setCc(std::string_view cc) { cc_ = cc; }
  void setBcc(std::string_view bcc) { bcc_ = bcc; }
  void setSubject(std::string_view subject) { subject_ = subject; }
  // Taken by value so that a caller can move a large page in.
  void setHtmlBody(std::string html, std::string_view charset);
  // A text/plain body in UTF-8 instead: for text of our own making that a
  // reader must not take as markup. setHtmlBody makes the body HTML again.
  void setPlainTextBody(std::string text);
  // The body's character set ("UTF-8" when empty).
  void setCharset(std::string_view charset);
  // A header added to the message; a Content-Type given here sets the body's
  // charset instead of adding a second Content-Type.
  void addHeader(std::string_view name, std::string_view value);
  // Reads the file at once (so it may be deleted afterwards); false when it
  // cannot be read.
  bool attachFile(const std::string& path, std::string_view contentType = {},
                  std::string_view contentId = {}, std::string_view fileName = {});
  void attach(Attachment attachment);

  const std::string& from() const { return from_; }
  const std::string& to() const { return to_; }
  const std::string& cc() const { return cc_; }
  const std::string& bcc() const { return bcc_; }
  const std::string& subject() const { return subject_; }

  // The envelope: the sender's address, and every To, Cc and Bcc address
  // (addresses only, without display names, duplicates kept once).
  std::string envelopeFrom() const;
  std::vector<std::string> envelopeRecipients() const;

  // ---- Writing and reading ----
  // The whole message with CRLF line ends; the Bcc header only with withBcc.
  // Its Date and Message-ID are fixed by the first render and kept by every
  // later one, so the sent and the saved copy agree.
  std::string render(bool withBcc) const;
  // render in two pieces, for large messages: the header fields (small, made
  // anew each call) and the entity after them (body and attachments). The
  // entity is made once and kept until the body, its charset or the
  // attachments change; the reference is valid until then.
  std::string headerSection(bool withBcc) const;
  const std::string& entity() const;
  size_t renderedSize(bool withBcc) const;
  // Writes render(true) under a temporary name in the same folder, flushes
  // it to disk and renames it into place. False, with error set, on failure.
  bool saveToFile(const std::string& path, std::string& error) const;
  // Replaces this message by the one in the file. False, with error set,
  // when it cannot be read or has no header section.
  bool importFromFile(const std::string& path, std::string& error);

 private:
  std::string from_, to_, cc_, bcc_, subject_, html_, charset_ = "UTF-8";
  bool plainText_ = false;  // html_ holds plain text, written as UTF-8
  std::vector<std::pair<std::string, std::string>> headers_;
  std::vector<Attachment> attachments_;
  void stamp() const;
  std::string renderEntity() const;

  mutable std::string date_, messageId_;  // fixed by the first render
  mutable std::string entity_;
  mutable bool entityValid_ = false;
  // Set by importFromFile: the message's header section as read, sent as it
  // is (its entity is entity_).
  std::string importedHead_;
  bool isImported_ = false;
};

// The addresses of an address list: "a@x.com, B <b@y.com>; c@z" gives
// a@x.com, b@y.com, c@z. Quoted display names may hold "," and ";".
std::vector<std::string> addressesOf(std::string_view list);

}  // namespace postrix::mime
