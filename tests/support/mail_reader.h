// What a mail reader sees in a message, as tests/peers/mail_parts.py prints
// it with Python's own parser: defects, subject, recipients, HTML body and
// each attachment's name, content id and SHA-256.
#pragma once

#include <string>

namespace postrix::test {

std::string readerView(const std::string& messageData);
// What a reader shows of a message's text: "defects N", "type T" (the body's
// content type), "subject S" on a line each, then the body's text as it is.
std::string textView(const std::string& messageData);

// How often part stands in text (occurrences may overlap).
int occurrences(const std::string& text, const std::string& part);

}  // namespace postrix::test
