#include "config/option_table.h"

#include <algorithm>

#include "util/failure.h"
#include "util/text.h"

namespace postrix {
namespace {

constexpr OptionKind F = OptionKind::kFlag, V = OptionKind::kValue, Q = OptionKind::kQuoted,
                     P = OptionKind::kPair;

// Four options match in any case (the maintenance commands, -multitime and
// -configure); every other name only as written.
const std::vector<OptionEntry> kOptions = {
    {"-nolog", F, false},
    {"-dsn", V, false},
    {"-enablemultitime", F, true},
    {"-convertschedules", V, true},
    {"-multitime", F, true},
    {"-configure", F, true},
    {"-cdo", F, false},
    {"-smtptimeout", V, false},
    {"-server", V, false},
    {"-port", V, false},
    {"-user", V, false},
    {"-url", V, false},
    {"-fromname", Q, false},
    {"-pass", V, false},
    {"-emailsource", V, false},
    {"-auth", V, false},
    {"-ssl", F, false},
    {"-starttls", F, false},
    {"-bcc", V, false},
    {"-ignoremultitime", F, false},
    {"-ignoreschedule", F, false},
    {"-fsend", F, false},
    {"-debug", F, false},
    {"-oemail", V, false},
    {"-alerts", F, false},
    {"-c", V, false},
    {"-nounicode", F, false},
    {"-skip", F, false},
    {"-suppress", Q, false},
    {"-clearxlformatting", F, false},
    {"-excel", F, false},
    {"-imageincluded", F, false},
    {"-emailnow", F, false},
    {"-includedate", F, false},
    {"-includetime", F, false},
    {"-deletefile", F, false},
    {"-sleep", Q, false},
    {"-id", Q, false},
    {"-excludeid", Q, false},
    {"-dashboardid", Q, false},
    {"-reportid", Q, false},
    {"-mappingid", Q, false},
    {"-interval", V, false},
    {"-fileformat", V, false},
    {"-format", V, false},
    {"-location", V, false},
    {"-filename", V, false},
    {"-reportname", F, false},
    {"-archive", F, false},
    {"-date", V, false},
    {"-wkhtmltopdfauth", P, false},
    {"-laststatus", F, false},
    {"-emailcount", F, false},
    {"-attachfile", V, false},
    {"-lastemailed", F, false},
    {"-emaillog", F, false},
    {"-dryrun", F, false},
    {"-insecuretls", F, false},
    {"-issqlserver", F, false},
    {"-connectionstring", Q, false},
    {"-reporttimeout", F, false},
    {"-apppoolname", V, false},
    {"-dashboardsonly", F, false},
    {"-reportsonly", F, false},
    {"-easyxls", F, false},
    {"-excelformat", V, false},
    {"-wkarg", P, false},
    {"-savemessage", F, false},
    {"-sendmessage", F, false},
    {"-delta", F, false},
    {"-sendfailed", F, false},
    {"-generatepdf", F, false},
    {"-heloname", V, false},
    {"-maxpagesize", V, false},
    {"-sendagain", F, false},
    {"-lockwait", V, false},
    {"-dbwait", V, false},
    {"-pdftimeout", V, false},
    {"-failstatus", F, false},
    {"-plainauthok", F, false},
    {"-oauthfile", V, false},
    {"-problemdigest", F, false},
    // Answered by the entry point before the command line is parsed.
    {"-h", F, false},
    {"-help", F, false},
    {"--help", F, false},
    {"--version", F, false},
};

// How many tokens after position i an option takes as its value.
size_t valueTokens(const OptionEntry& entry, const std::vector<std::string>& tokens, size_t i) {
  size_t left = tokens.size() - i - 1;
  switch (entry.kind) {
    case OptionKind::kFlag:
      return 0;
    case OptionKind::kValue:
      return left >= 1 ? 1 : 0;
    case OptionKind::kPair:
      return left >= 2 ? 2 : 0;
    case OptionKind::kQuoted:
      break;
  }
  if (left == 0) return 0;
  // As the quoted reading goes: an opening quote runs to the token that closes it.
  size_t last = i + 1;
  if (startsWith(tokens[last], "\"") && !endsWith(tokens[last], "\""))
    while (last + 1 < tokens.size() && !endsWith(tokens[last], "\"")) ++last;
  return last - i;
}

size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string_view withoutDashes(std::string_view s) {
  return s.substr(std::min(s.find_first_not_of('-'), s.size()));
}

}  // namespace

const std::vector<OptionEntry>& optionTable() { return kOptions; }

const OptionEntry* findOption(std::string_view token) {
  std::string lower = toLower(token);
  for (const auto& entry : kOptions)
    if ((entry.anyCase ? std::string_view(lower) : token) == entry.name) return &entry;
  return nullptr;
}

const OptionEntry& requireOption(std::string_view name) {
  for (const auto& entry : kOptions)
    if (entry.name == name) return entry;
  throw Failure(err::kInvalidCall, "The option " + std::string(name) + " is not in the table.");
}

std::vector<std::string> unknownOptions(const std::vector<std::string>& tokens) {
  std::vector<std::string> unknown;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const OptionEntry* entry = findOption(tokens[i]);
    if (!entry && startsWith(tokens[i], "-")) {
      unknown.push_back(tokens[i]);
      // What follows a mistyped option is most likely its value, not another mistake.
      entry = findOption(closestOption(tokens[i]));
    }
    if (entry) i += valueTokens(*entry, tokens, i);
  }
  return unknown;
}

std::string closestOption(std::string_view token) {
  std::string wanted = toLower(withoutDashes(token));
  if (wanted.empty()) return "";
  std::string_view best;
  size_t bestDistance = 0;
  for (const auto& entry : kOptions) {
    std::string_view name = withoutDashes(entry.name);
    size_t distance = editDistance(wanted, name);
    // Short names are too alike to guess between: only a case or dash slip counts.
    size_t allowed = name.size() <= 3 ? 0 : name.size() <= 6 ? 1 : 2;
    if (distance > allowed || (!best.empty() && distance >= bestDistance)) continue;
    best = entry.name;
    bestDistance = distance;
  }
  return std::string(best);
}

}  // namespace postrix
