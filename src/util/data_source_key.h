// The key of a data source text: what follows "qxdb=" (in any letter case)
// up to the next ";" or the end, lower-cased; "" when there is no "qxdb=".
// For "Server=Main;QXDB=Sales01;Timeout=5" the key is "sales01".
#pragma once

#include <string>       // result
#include <string_view>  // input

namespace postrix {

std::string dataSourceKey(std::string_view dataSourceText);

}  // namespace postrix
