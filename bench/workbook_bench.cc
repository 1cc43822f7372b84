// workbook_bench: how fast and how frugally a large report page becomes a
// workbook (.xlsx, .xls) or CSV, beside LibreOffice headless converting the
// same page in the same run (what an administrator would otherwise script).
//
// The page is a 100,000-row x 10-column table (--rows), half text, half
// numbers as reports show them ("1,234.50"). Each measured conversion runs
// in a fresh child process (this program in --child mode), since the peak
// resident memory (VmHWM) only grows within a process: the child reads the
// page, notes its VmHWM, reads the tables into a sheet, writes the file and
// notes the VmHWM again. The sheet's row count and the file's size are
// checked, so a conversion that failed cannot pass as a fast one.
//
//   build/bench/workbook_bench [--rows 100000] [--runs 5] [--libreoffice-runs 1] [--enforce-goals]
//
// Goals (.xlsx): under 2 s and under 300 MB, and at least 10 times faster
// than LibreOffice. A missed goal is reported; --enforce-goals makes it exit 1.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/workbook/csv_text.h"
#include "platform/workbook/html_tables.h"
#include "platform/workbook/xls_file.h"
#include "platform/workbook/xlsx_file.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace wb = postrix::workbook;

long peakResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string page(long rows) {
  std::string html = "<html><body><table>\n";
  char number[32];
  for (long r = 0; r < rows; ++r) {
    html += "<tr>";
    for (int c = 0; c < 10; ++c) {
      if (c % 2 == 0) {
        html += "<td>Region " + std::to_string(c) + "</td>";
      } else {
        long cents = r * 1000 + c * 37;
        std::snprintf(number, sizeof number, "%ld,%03ld.%02ld", cents / 100000, cents / 100 % 1000,
                      cents % 100);
        html += std::string("<td>") + (cents < 100000 ? number + 2 : number) + "</td>";
      }
    }
    html += "</tr>\n";
  }
  return html + "</table></body></html>\n";
}

// Prints "seconds baselineKb peakKb rows".
int runChild(const std::string& kind, const std::string& pagePath, const std::string& out) {
  std::string html = readAll(pagePath);
  long baseline = peakResidentKb();
  auto start = Clock::now();
  wb::Sheet sheet = wb::sheetFromHtml(html);
  if (kind == "xlsx")
    wb::writeXlsx(sheet, out);
  else if (kind == "xls")
    wb::writeXls(sheet, out);
  else
    postrix::files::writeFile(out, wb::csvText(sheet));
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%.4f %ld %ld %zu\n", seconds, baseline, peakResidentKb(), sheet.rows().size());
  return 0;
}

struct Figures {
  double seconds = 0;
  long kb = 0;
  size_t rows = 0;
};

bool measure(const char* self, const std::string& kind, const std::string& pagePath,
             const std::string& out, Figures& f) {
  std::string command = std::string(self) + " --child " + kind + " " + pagePath + " " + out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  long baseline = 0, peak = 0;
  int got = std::fscanf(pipe, "%lf %ld %ld %zu", &f.seconds, &baseline, &peak, &f.rows);
  bool ok = pclose(pipe) == 0 && got == 4;
  f.kb = peak - baseline;
  struct stat info {};
  return ok && stat(out.c_str(), &info) == 0 && info.st_size > 0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double libreOffice(const std::string& folder, const std::string& pagePath) {
  std::string command = "cd " + folder + " && HOME=" + folder +
                        " soffice --headless --infilter='HTML (StarCalc)' --convert-to "
                        "'xlsx:Calc MS Excel 2007 XML' --outdir " +
                        folder + "/lo " + pagePath + " >/dev/null 2>&1";
  auto start = Clock::now();
  int rc = std::system(command.c_str());
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  struct stat info {};
  return rc == 0 && stat((folder + "/lo/page.xlsx").c_str(), &info) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--child") return runChild(argv[2], argv[3], argv[4]);
  long rows = 100000;
  int runs = 5, libreRuns = 1;
  bool enforce = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--rows" && i + 1 < argc)
      rows = std::atol(argv[++i]);
    else if (a == "--runs" && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (a == "--libreoffice-runs" && i + 1 < argc)
      libreRuns = std::atoi(argv[++i]);
    else if (a == "--enforce-goals")
      enforce = true;
    else {
      std::fprintf(stderr,
                   "usage: %s [--rows N] [--runs R] [--libreoffice-runs L] [--enforce-goals]\n",
                   argv[0]);
      return 2;
    }
  }
  char folderTemplate[] = "/tmp/workbook-bench-XXXXXX";
  std::string folder = mkdtemp(folderTemplate);
  std::string pagePath = folder + "/page.html";
  postrix::files::writeFile(pagePath, page(rows));
  std::printf(
      "report page of %ld rows x 10 columns, %.1f MB; medians of %d runs, peak RSS above "
      "the page read\n",
      rows, static_cast<double>(readAll(pagePath).size()) / 1e6, runs);

  bool failed = false, missed = false;
  double xlsxSeconds = 0;
  for (const std::string kind : {"xlsx", "xls", "csv"}) {
    std::vector<double> seconds;
    long kb = 0;
    for (int r = 0; r < runs; ++r) {
      Figures f;
      std::string out = folder + "/report." + kind;
      if (!measure(argv[0], kind, pagePath, out, f) || f.rows != static_cast<size_t>(rows)) {
        std::printf("  %-5s FAILED (rows %zu of %ld)\n", kind.c_str(), f.rows, rows);
        failed = true;
        break;
      }
      seconds.push_back(f.seconds);
      kb = std::max(kb, f.kb);
    }
    if (seconds.empty()) continue;
    double m = median(seconds);
    std::printf("  %-5s %6.2f s  (min %.2f, max %.2f)  peak RSS +%.0f MB\n", kind.c_str(), m,
                *std::min_element(seconds.begin(), seconds.end()),
                *std::max_element(seconds.begin(), seconds.end()), kb / 1024.0);
    if (kind == "xlsx") {
      xlsxSeconds = m;
      if (m >= 2.0 || kb / 1024.0 >= 300) missed = true;
    }
  }

  std::vector<double> libre;
  for (int r = 0; r < libreRuns; ++r) {
    double s = libreOffice(folder, pagePath);
    if (s < 0) break;
    libre.push_back(s);
  }
  if (libreRuns > 0 && libre.empty()) {
    std::printf("  LibreOffice headless: not run (soffice missing or the conversion failed)\n");
  } else if (!libre.empty()) {
    double m = median(libre);
    std::printf(
        "  LibreOffice headless to .xlsx: %.2f s (%zu run%s); .xlsx here is %.1f times "
        "faster\n",
        m, libre.size(), libre.size() == 1 ? "" : "s", m / xlsxSeconds);
    if (m / xlsxSeconds < 10) missed = true;
  }
  std::printf("goals (.xlsx under 2 s and 300 MB, 10 times LibreOffice): %s\n",
              missed ? "MISSED" : "met");
  std::system(("rm -rf " + folder).c_str());
  return failed || (enforce && missed) ? 1 : 0;
}
