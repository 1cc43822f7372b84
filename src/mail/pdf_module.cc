#include "mail/pdf_module.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/file_system.h"
#include "platform/process.h"
#include "run/module_state.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix::PDF_Module {
namespace {

// A converter may still be flushing its file when it ends, and the
// previous one may still hold the old file: the waits give both time.
constexpr auto kSettle = std::chrono::seconds(2);
constexpr int kMostPolls = 10;

void log(const ConverterRun& run, const std::string& message) {
  if (run.log != nullptr) run.log->Debugger(message);
}

bool isExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// The program's full path on PATH, or its bare name when PATH has none.
std::string onPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (end > start && isExecutable(candidate)) return candidate;
    start = end + 1;
  }
  return name;
}

std::string wkhtmltopdfProgram(const std::string& programFolder) {
  std::string own = programFolder + "/wkhtmltopdf";
  return isExecutable(own) ? own : onPath("wkhtmltopdf");
}

void append(std::vector<std::string>& to, const std::vector<std::string>& words) {
  to.insert(to.end(), words.begin(), words.end());
}

void removeStale(const std::string& pdfPath) {
  try {
    files::deleteFile(pdfPath);
  } catch (const Failure& failure) {
    if (failure.number() == err::kPathFileAccess) fileAccessError = true;
    throw;
  }
}

void sayWhichRuns(const std::vector<std::string>& command, const ConverterRun& run) {
  std::string line = "Making '" + command.back() + "' with '" + command.front() + "'";
  if (!startsWith(command.front(), run.programFolder + "/"))
    line += ", found on PATH: the program folder has no wkhtmltopdf";
  log(run, line + ".");
}

// The last line of what the converter wrote to its standard error: where
// it says why it made no PDF. Progress bars redraw their line with CRs.
std::string lastLine(const std::string& text) {
  size_t end = text.find_last_not_of("\r\n \t");
  if (end == std::string::npos) return "";
  size_t start = text.find_last_of("\r\n", end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start + 1));
}

// True when the converter ran to its end (whatever its exit status); said
// is what it said last.
bool runConverter(const std::vector<std::string>& command, const ConverterRun& run,
                  std::string& said) {
  sayWhichRuns(command, run);
  RunOutcome outcome = runWithTimeLimit(
      command.front(), std::vector<std::string>(command.begin() + 1, command.end()),
      run.limitSeconds);
  if (!outcome.started) {
    log(run, "ERROR: The PDF converter could not be started: " + outcome.error);
    return false;
  }
  if (outcome.timedOut) {
    log(run, "ERROR: The PDF converter '" + command.front() + "' ran past " +
                 Variant(run.limitSeconds).toText() +
                 " seconds (-pdftimeout) and was ended with every process it started; '" +
                 command.back() + "' is not made.");
    files::deleteFile(command.back());
    return false;
  }
  said = lastLine(outcome.errorTail);
  if (outcome.exitStatus != 0)
    log(run, "The PDF converter ended with status " + std::to_string(outcome.exitStatus) +
                 (said.empty() ? "." : ": " + said));
  return true;
}

bool waitForFile(const std::string& pdfPath) {
  std::this_thread::sleep_for(kSettle);
  for (int polls = 0; !files::fileExists(pdfPath) && polls <= kMostPolls; ++polls)
    std::this_thread::sleep_for(std::chrono::seconds(1));
  return files::fileExists(pdfPath);
}

}  // namespace

std::vector<std::string> commandWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, inWord = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::vector<std::string> pdfCommand(const std::string& source, const std::string& pdfPath,
                                    const std::string& kind, const std::string& credentials,
                                    const std::string& extraArguments, bool useGeneratePdf,
                                    const std::string& programFolder) {
  if (kind != "l" && kind != "p") return {};
  std::string orientation = kind == "l" ? "Landscape" : "Portrait";
  if (useGeneratePdf)
    return {programFolder + "/GeneratePDF/generatepdf", "-O", orientation, source, pdfPath};
  std::vector<std::string> command = {wkhtmltopdfProgram(programFolder), "-O", orientation,
                                      "--header-right", "[page]"};
  append(command, commandWords(credentials));
  append(command, commandWords(extraArguments));
  command.push_back(source);
  command.push_back(pdfPath);
  return command;
}

bool convertToPdf(const std::string& source, const std::string& pdfPath, const std::string& kind,
                  const std::string& credentials, const std::string& extraArguments,
                  bool useGeneratePdf, const ConverterRun& run) {
  try {
    removeStale(pdfPath);
    std::this_thread::sleep_for(kSettle);
    std::vector<std::string> command = pdfCommand(
        source, pdfPath, kind, credentials, extraArguments, useGeneratePdf, run.programFolder);
    if (command.empty()) {
      log(run, "No PDF converter runs for the kind '" + kind +
                   "': a PDF format ends in l (landscape) or p (portrait).");
      return false;
    }
    std::string said;
    if (!runConverter(command, run, said)) return false;
    if (waitForFile(pdfPath)) return true;
    log(run, "The PDF converter wrote no '" + pdfPath + "'" + (said.empty() ? "." : ": " + said));
    return false;
  } catch (const Failure& failure) {
    log(run, "ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
                 " while making '" + pdfPath + "'.");
    return false;
  }
}

}  // namespace postrix::PDF_Module
