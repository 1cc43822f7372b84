// The converter's command line: what reaches the program, word by word.
#include "mail/pdf_module.h"

#include <gtest/gtest.h>

namespace postrix::test {
namespace {

using Words = std::vector<std::string>;

TEST(PdfModuleTest, CommandLinesWordByWord) {
  const std::string folder = "/nonexistent/postrix";
  Words landscape = PDF_Module::pdfCommand("a b.html", "/o/a b.pdf", "l", "", "", false, folder);
  ASSERT_FALSE(landscape.empty());
  EXPECT_EQ(Words(landscape.begin() + 1, landscape.end()),
            (Words{"-O", "Landscape", "--header-right", "[page]", "a b.html", "/o/a b.pdf"}))
      << "empty credentials and arguments add no empty words";
  EXPECT_EQ(PDF_Module::pdfCommand("s", "p", "p", "--username bob", "--zoom 1.5", true, folder),
            (Words{folder + "/GeneratePDF/generatepdf", "-O", "Portrait", "s", "p"}))
      << "generatepdf takes neither credentials nor arguments";
  for (const char* kind : {"f", "L", "", "x"})
    EXPECT_TRUE(PDF_Module::pdfCommand("s", "p", kind, "", "", false, folder).empty()) << kind;
}

TEST(PdfModuleTest, WordsAreCutAtBlanksOutsideQuotes) {
  struct Case {
    std::string text;
    Words words;
  } cases[] = {
      {"", {}},
      {"  --username   bob ", {"--username", "bob"}},
      {"--password \"two words\"", {"--password", "two words"}},
      {"--title \"\"", {"--title", ""}},
      {"--cookie a=\"b c\"d", {"--cookie", "a=b cd"}},
      {"; rm -rf / $(id)", {";", "rm", "-rf", "/", "$(id)"}},
  };
  for (const Case& c : cases) EXPECT_EQ(PDF_Module::commandWords(c.text), c.words) << c.text;
}

}  // namespace
}  // namespace postrix::test
