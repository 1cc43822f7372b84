// The PDF converter run as the mail server runs it, its PDFs read back with
// poppler: each conversion starts a real Chromium, so the cases are few and
// each checks a whole outcome.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "support/shell_output.h"
#include "support/temp_database.h"
#include "support/web_app.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;

// A 1x1 red PNG.
const char* const kRedPixel =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC";

struct Outcome {
  int status = -1;
  std::string error;  // stderr
};

std::string shellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// Processes whose command line mentions text: Chromium's carry its profile folder.
int processesMentioning(const std::string& text) {
  int count = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    if (readFile(entry.path() / "cmdline").find(text) != std::string::npos) ++count;
  }
  return count;
}

std::string pdfInfo(const std::string& pdf, const std::string& field) {
  std::istringstream info(outputOf("pdfinfo " + shellQuoted(pdf)));
  for (std::string line; std::getline(info, line);) {
    if (line.starts_with(field + ":"))
      return line.substr(line.find_first_not_of(' ', field.size() + 1));
  }
  return "";
}

// The 1x1 images in the PDF, as pdfimages lists them.
int onePixelImages(const std::string& pdf) {
  std::istringstream list(outputOf("pdfimages -list " + shellQuoted(pdf)));
  int count = 0;
  std::string page, number, type, width, height;
  for (std::string line; std::getline(list, line);) {
    std::istringstream(line) >> page >> number >> type >> width >> height;
    count += type == "image" && width == "1" && height == "1";
  }
  return count;
}

class GeneratePdfTest : public ::testing::Test {
 protected:
  // Its profile goes under profiles_, so no other test's Chromium is counted.
  Outcome convert(const std::string& orientation, const std::string& source,
                  const std::string& env = "", std::string pdf = "") {
    std::string errors = scratch_.file("stderr-" + std::to_string(++runs_));
    std::string command = "TMPDIR=" + profiles_.path() + " " + env + " " + GENERATEPDF_BINARY +
                          " -O " + orientation + " " + shellQuoted(source) + " " +
                          shellQuoted(pdf.empty() ? pdf_ : pdf) + " 2>" + errors;
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(errors)};
  }

  TempDir out_, profiles_, scratch_;
  std::string pdf_ = out_.file("report.pdf");
  WebApp app_;
  int runs_ = 0;
};

TEST_F(GeneratePdfTest, ALongFilePrintsPortraitPagesNumberedAtTheTopRightWithTextAndImages) {
  std::string rows;
  for (int i = 0; i < 150; ++i)
    rows += "<tr><td>Row " + std::to_string(i) + " K\xC3\xB6ln</td></tr>";
  std::ofstream(scratch_.file("report.html"))
      << "\xEF\xBB\xBF<html><head><meta charset=\"utf-8\"></head><body>"
      << "<img src=\"data:image/png;base64," << kRedPixel << "\" width=20 height=20>"
      << "<img src=\"" << app_.url("/analysis_chart.asp?name=sales") << "\" width=20 height=20>"
      << "<table>" << rows << "</table></body></html>";

  Outcome made = convert("Portrait", scratch_.file("report.html"));
  ASSERT_EQ(made.status, 0) << made.error;
  EXPECT_EQ(made.error, "");
  EXPECT_EQ(pdfInfo(pdf_, "Page size"), "612 x 792 pts (letter)");
  int pages = std::stoi(pdfInfo(pdf_, "Pages"));
  ASSERT_GE(pages, 2);
  for (int page = 1; page <= pages; ++page) {
    std::string n = std::to_string(page);
    std::istringstream text(outputOf("pdftotext -layout -f " + n + " -l " + n + " " + pdf_ + " -"));
    std::string first;
    while (std::getline(text, first) && first.find_first_not_of(" \f") == std::string::npos) {
    }
    size_t start = first.find_first_not_of(" \f");
    ASSERT_NE(start, std::string::npos) << "page " << n << " is blank";
    EXPECT_EQ(first.substr(start), n) << "page " << n << " begins: " << first;
    EXPECT_GT(start, 10u) << "the number stands at the right: " << first;
  }
  std::string text = outputOf("pdftotext " + pdf_ + " -");
  for (const char* row : {"Row 0 K\xC3\xB6ln\n", "Row 149 K\xC3\xB6ln\n"}) {
    EXPECT_NE(text.find(row), std::string::npos) << row << " in the UTF-8 file, read as such";
  }
  EXPECT_EQ(onePixelImages(pdf_), 2) << "the data image and the web application's";
}

TEST_F(GeneratePdfTest, AWebAddressPrintsLandscapeReplacingTheOldFile) {
  std::ofstream(pdf_) << "old";
  Outcome made = convert("Landscape", app_.url("/report?quarter=Q3&region=North"));
  ASSERT_EQ(made.status, 0) << made.error;
  EXPECT_EQ(pdfInfo(pdf_, "Page size"), "792 x 612 pts (letter)");
  EXPECT_NE(outputOf("pdftotext " + pdf_ + " -").find("quarter=Q3&region=North"),
            std::string::npos);
  EXPECT_EQ(namesIn(out_.path()), std::set<std::string>{"report.pdf"}) << "no temporary file";
}

TEST_F(GeneratePdfTest, AFailedConversionLeavesTheOldFileAndNothingElse) {
  struct Case {
    std::string source, env, says;
  } cases[] = {
      {scratch_.file("missing.html"), "", "cannot read "},
      {"http://127.0.0.1:" + std::to_string(closedPort()) + "/report", "",
       "net::ERR_CONNECTION_REFUSED"},
      {app_.url("/status?code=500"), "", "the server answered 500"},
      {app_.url("/stall"), "GENERATEPDF_TIMEOUT=2", "timed out after 2 s"},
      {app_.url("/report"), "POSTRIX_CHROMIUM=" + scratch_.file("none"), "Chromium not found"},
  };
  for (const Case& c : cases) {
    std::ofstream(pdf_) << "old";
    Outcome failed = convert("Portrait", c.source, c.env);
    EXPECT_EQ(failed.status, 1) << c.source;
    EXPECT_TRUE(failed.error.starts_with("generatepdf: ")) << failed.error;
    EXPECT_NE(failed.error.find(c.says), std::string::npos) << failed.error;
    EXPECT_EQ(failed.error.find('\n'), failed.error.size() - 1) << "one line: " << failed.error;
    EXPECT_EQ(readFile(pdf_), "old") << c.source;
    EXPECT_EQ(namesIn(out_.path()), std::set<std::string>{"report.pdf"}) << c.source;
    EXPECT_EQ(namesIn(profiles_.path()), std::set<std::string>{}) << "profile removed";
    EXPECT_EQ(processesMentioning(profiles_.path()), 0) << "Chromium ended: " << c.source;
  }
  EXPECT_EQ(convert("Sideways", app_.url("/report")).status, 2);
}

}  // namespace
}  // namespace postrix::test
