// Whole runs that mail favourites in the PDF formats, made by the real
// converters from the local web application's pages and read back with
// poppler's tools.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "support/mail_reader.h"
#include "support/program_fixture.h"
#include "support/shell_output.h"

namespace postrix::test {
namespace {

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// "portrait" or "landscape", from pdfinfo's page size.
std::string orientation(const std::string& pdf) {
  std::string size = outputOf("pdfinfo '" + pdf + "' | sed -n 's/^Page size: *//p'");
  double width = 0, height = 0;
  if (std::sscanf(size.c_str(), "%lf x %lf", &width, &height) != 2) return "no PDF: " + size;
  return width > height ? "landscape" : "portrait";
}

std::string pdfText(const std::string& pdf) {
  return outputOf("pdftotext -layout '" + pdf + "' -");
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string sha256(const std::string& path) {
  return outputOf("sha256sum '" + path + "' | cut -c1-64 | tr -d '\\n'");
}

class PdfEndToEndTest : public ProgramFixture {
 protected:
  void addReport(int id, const std::string& title, const std::string& page,
                 const std::string& format) const {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES (" +
        std::to_string(id) + ", 7, '" + title + "', 'analysis.asp?" + page + "', '" + format +
        "', 'a@x.com', 'daily', 'on');");
  }
  void addDashboard(const std::string& format) const {
    sql("INSERT INTO Dashboards VALUES (40, 'Board', '', 'board=1', '" + format +
        "', 'g@x.com', '1', 'daily', 'on');");
  }
  std::string file(const std::string& name) const { return programFolder() + "/" + name; }
  // The mailed message holds exactly the PDF left in the program folder.
  void expectMailedPdf(const std::string& view, const std::string& name) const {
    EXPECT_TRUE(has(view, "html 'Please see the attached PDF.'")) << view;
    EXPECT_TRUE(has(view, "part " + name + " None " + sha256(file(name)))) << view;
  }
};

// wkhtmltopdf from PATH: a report from its HTML file, a dashboard from its
// address; a stale PDF of the report's name is replaced, never mailed.
TEST_F(PdfEndToEndTest, WkhtmltopdfMakesReportsAndDashboards) {
  addReport(1, "Sales", "page=sales", "pdfp");
  addDashboard("pdfl");
  writeText(file("Sales.pdf"), "stale");

  ASSERT_EQ(postrix("-reportname -wkarg --page-size Letter"), 0) << logText();
  auto messages = mail.received();
  ASSERT_EQ(messages.size(), 2u) << logText();
  expectMailedPdf(readerView(messages[0].data), "Sales.pdf");
  expectMailedPdf(readerView(messages[1].data), "Board.pdf");

  EXPECT_EQ(orientation(file("Sales.pdf")), "portrait");
  std::string sales = pdfText(file("Sales.pdf"));
  EXPECT_TRUE(has(sales, "K\xC3\xB6ln") && has(sales, "1,234.50") && has(sales, "-3")) << sales;
  EXPECT_TRUE(has(outputOf("pdfinfo " + file("Sales.pdf")), "(letter)")) << "-wkarg passed";
  EXPECT_EQ(orientation(file("Board.pdf")), "landscape");
  EXPECT_TRUE(has(pdfText(file("Board.pdf")), "board=1")) << "the dashboard's own page";
  int asked = 0;
  for (const auto& request : web.requests()) asked += request.path.rfind("/dashboard.asp", 0) == 0;
  EXPECT_EQ(asked, 1) << "asked for by the converter only";

  std::string log = logText();
  EXPECT_TRUE(has(log, "[Making '" + file("Board.pdf") +
                           "' with '/usr/bin/wkhtmltopdf', found on PATH: the program folder has "
                           "no wkhtmltopdf.]"))
      << log;
  EXPECT_EQ(occurrences(log, "[Attachment Added]"), 2) << log;
}

// generatepdf: the page number top right, charts shown; an export run makes
// the PDF in the export folder and mails nothing.
TEST_F(PdfEndToEndTest, GeneratepdfNumbersPagesAndShowsCharts) {
  addReport(1, "Sales", "page=charts&charts=c1,c2", "pdfl");
  std::filesystem::create_directory_symlink(std::filesystem::path(GENERATEPDF_BINARY).parent_path(),
                                            file("GeneratePDF"));

  ASSERT_EQ(postrix("-reportname -generatepdf"), 0) << logText();
  ASSERT_EQ(mail.received().size(), 1u) << logText();
  expectMailedPdf(readerView(mail.received()[0].data), "Sales.pdf");
  EXPECT_TRUE(
      logHas("Making '" + file("Sales.pdf") + "' with '" + file("GeneratePDF/generatepdf") + "'."))
      << logText();
  EXPECT_EQ(orientation(file("Sales.pdf")), "landscape");
  std::string text = pdfText(file("Sales.pdf"));
  EXPECT_EQ(text.substr(0, text.find_first_not_of(" ")), std::string(text.find('1'), ' '))
      << "the first thing on the page is its number:\n"
      << text;
  EXPECT_TRUE(has(text, "page=charts")) << text;
  EXPECT_EQ(outputOf("pdfimages -list " + file("Sales.pdf") + " | tail -n +3 | wc -l"), "2\n")
      << "both charts";

  const std::string exported = programFolder() + "/export";
  ASSERT_EQ(postrix("-reportname -generatepdf -location " + exported), 0) << logText();
  EXPECT_EQ(mail.received().size(), 1u);
  EXPECT_EQ(orientation(exported + "/Sales.pdf"), "landscape") << logText();
  EXPECT_EQ(occurrences(logText(), "[Attachment Added]"), 2);
}

// Converters that fail: one that hangs is ended at -pdftimeout with the
// process it started, and the run goes on; one that writes nothing gives
// no PDF. A report then goes out with its page as the body, as an HTML
// report would; a dashboard, which has no body, not at all.
TEST_F(PdfEndToEndTest, ConvertersThatHangOrWriteNothing) {
  addReport(1, "Hang", "page=charts&charts=c1", "pdfp");
  addDashboard("pdfl");
  writeText(file("Board.pdf"), "stale");
  writeText(file("wkhtmltopdf"),
            "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$(dirname \"$0\")/args.txt\"\n"
            "case \"$*\" in *Hang*) sleep 600 & echo $! > \"$(dirname \"$0\")/child\"; "
            "wait;; esac\necho 'Loading page (1/2)' >&2; echo 'Exit with code 1: no page' >&2\n");
  std::filesystem::permissions(file("wkhtmltopdf"), std::filesystem::perms::owner_all);

  ASSERT_EQ(postrix("-reportname -emaillog -pdftimeout 2 -wkhtmltopdfauth --username bob "
                    "-wkarg --title Quarterly"),
            0);
  std::string log = logText();
  const std::string args =
      "-O\nPortrait\n--header-right\n[page]\n--username\nbob\n--title\n"
      "Quarterly\n" +
      file("Hang.html") + "\n" + file("Hang.pdf") + "\n";
  EXPECT_EQ(readFile(file("args.txt")).substr(0, args.size()), args) << log;
  EXPECT_TRUE(has(log, "[ERROR: The PDF converter '" + file("wkhtmltopdf") +
                           "' ran past 2 seconds (-pdftimeout) and was ended with every process "
                           "it started; '" +
                           file("Hang.pdf") + "' is not made.]"))
      << log;
  pid_t child = std::stoi(readFile(file("child")));
  EXPECT_NE(kill(child, 0), 0) << "the converter's own child is gone too";

  auto messages = mail.received();
  ASSERT_EQ(messages.size(), 1u) << log;
  std::string view = readerView(messages[0].data);
  EXPECT_TRUE(has(view, "page=charts") && has(view, "cid:qx_chart1.jpg") &&
              occurrences(view, "\npart ") == 1 && !has(view, "data:image"))
      << "the page as the body, its chart a part of the message: " << view;
  EXPECT_TRUE(has(log, "[WARNING: Report 1 has no PDF; its page is sent as the body.]")) << log;

  EXPECT_TRUE(has(
      log, "[The PDF converter wrote no '" + file("Board.pdf") + "': Exit with code 1: no page]"))
      << log;
  EXPECT_FALSE(std::filesystem::exists(file("Board.pdf"))) << "a stale file is no PDF of this run";
  EXPECT_EQ(occurrences(log, "[No attachment Added]"), 2) << log;
  EXPECT_EQ(
      query("SELECT report_id, msgstatus FROM Email_Log ORDER BY report_id"),
      (Rows{"1|Message successfully sent.", "40|ERROR: The PDF '" + file("Board.pdf") +
                                                "' was not made. Dashboard 40 is not sent."}));
}

}  // namespace
}  // namespace postrix::test
