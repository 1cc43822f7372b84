// KeyValueText: the "key = value" text of the OAuth 2.0 secrets file and the
// token cache, read and changed line by line so that an administrator's
// comments, blank lines and order survive when the form saves the file.
//
// A line is blank, a comment (its first non-blank character is '#'), or
// "key = value": the key is lower-case letters, digits and '_', the value
// is the rest of the line without the blanks around it ('#' included, as
// secrets may hold one). A key given twice counts with its last value.
#pragma once

#include <string>       // keys, values
#include <string_view>  // inputs
#include <vector>       // lines

namespace postrix::oauth {

class KeyValueText {
 public:
  KeyValueText() = default;
  // Throws OAuthError for a line of another shape, naming source and the
  // line's number but not its text, which may be a secret.
  KeyValueText(std::string_view text, std::string_view source);

  // The value of key; "" when it is not there.
  std::string get(std::string_view key) const;
  // The keys in the order of their lines, each once.
  std::vector<std::string> keys() const;
  // Sets key's line to value, or adds a line at the end; an empty value
  // removes key's lines. Throws OAuthError for a value holding a line break.
  void set(std::string_view key, std::string_view value);
  // The text again, LF line ends, every line ended.
  std::string text() const;

 private:
  struct Line {
    std::string text;  // as written (comments and blank lines), or rebuilt after set
    std::string key;   // empty for comments and blank lines
    std::string value;
  };
  std::vector<Line> lines_;
};

}  // namespace postrix::oauth
