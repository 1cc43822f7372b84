// The mail-safe form of a report body.
//
// 1. Unless skipUnicode, every character above code point 200 becomes a
//    numeric character reference "&#N;" with its code point in decimal.
//    Codes 0 to 200 (all of ASCII and Latin-1 up to "È") are kept.
// 2. Each suppress string, in order, is removed wherever it occurs.
// 3. Every "€" becomes "&#8364;" (this matters only with skipUnicode).
// 4. CR LF is put after every "</td>", "</TD>", "</tr>" and "</TR>" (those
//    exact spellings only).
// The text is UTF-8; a byte that does not start a valid UTF-8 sequence is
// taken as U+FFFD. Runs of characters that need no change are copied in
// blocks, so long bodies of plain HTML go at memory speed.
#pragma once

#include <string>       // result
#include <string_view>  // input
#include <vector>       // suppress strings

namespace postrix {

std::string formatText(std::string_view text, bool skipUnicode,
                       const std::vector<std::string>& suppressStrings);

}  // namespace postrix
