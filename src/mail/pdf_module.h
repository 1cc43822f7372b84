// PDF_Module: a report page or a dashboard address made into a PDF file by
// an outside converter program, started and waited for on the run's thread.
//
// The converter is wkhtmltopdf (the program folder's own, else the one on
// PATH) or, with -generatepdf, GeneratePDF/generatepdf of the program
// folder. Neither is run through a shell: credentials and extra arguments
// are cut into words as a command line would be, and nothing else of them
// is interpreted.
#pragma once

#include <string>  // paths, arguments
#include <vector>  // the converter's command line

namespace postrix {

class Utilities;

namespace PDF_Module {

// How a conversion runs: where it logs, how long it may take, where the converters are.
struct ConverterRun {
  const Utilities* log = nullptr;  // where each step is written; nothing when null
  double limitSeconds = 300;       // a converter still running after this is ended; 0: none
  std::string programFolder;       // where the converters are looked for
};

// The converter's command line, program first: "-O Landscape" for kind "l",
// "-O Portrait" for "p" (wkhtmltopdf also asks for the page number in the
// top right header), then for wkhtmltopdf the credentials' and the extra
// arguments' words, then source and pdfPath. Empty for any other kind.
std::vector<std::string> pdfCommand(const std::string& source, const std::string& pdfPath,
                                    const std::string& kind, const std::string& credentials,
                                    const std::string& extraArguments, bool useGeneratePdf,
                                    const std::string& programFolder);

// Text cut into words at blanks, a pair of double quotes keeping blanks
// inside one word, as a program's command line is read.
std::vector<std::string> commandWords(const std::string& text);

// Deletes a PDF left at pdfPath, runs the converter and waits for it (to
// run.limitSeconds), then for its file. True when pdfPath exists at the end.
// A converter that passes the limit is ended with every process it started,
// and whatever it left at pdfPath removed: a half-written PDF is no PDF. A
// stale file that cannot be removed (75) sets the run's fileAccessError.
bool convertToPdf(const std::string& source, const std::string& pdfPath, const std::string& kind,
                  const std::string& credentials, const std::string& extraArguments,
                  bool useGeneratePdf, const ConverterRun& run);

}  // namespace PDF_Module
}  // namespace postrix
