// The key of a data source text: what follows "qxdb=" (in any letter case)
// up to the next ";" or the end, lower-cased; "" when there is no "qxdb=".
// For "Server=Main;QXDB=Sales01;Timeout=5" the key is "sales01".
// Also: a data source text with its passwords masked.
#pragma once

#include <string>       // result
#include <string_view>  // input

namespace postrix {

std::string dataSourceKey(std::string_view dataSourceText);

// The data source text fit for a log: the value of every "pwd=" and
// "password=" attribute (any letter case) replaced by "XXXXXX", as -pass is.
std::string withoutPasswords(std::string_view dataSourceText);

}  // namespace postrix
