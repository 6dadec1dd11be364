#include "web/template_engine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "web/result_boxes.h"

namespace voxhall::web {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

class TemplateEngineTest : public ::testing::Test {
 protected:
  TempDir dir_;
  DocumentRoot root_{(dir_.path() / "docs").string()};
  TemplateEngine engine_{root_};

  void SetUp() override { fs::create_directories(dir_.path() / "docs"); }
  void Write(const std::string& name, const std::string& text) {
    WriteFile((dir_.path() / "docs" / name).string(), text);
  }
};

TEST_F(TemplateEngineTest, IncludesAreCapitalsOnlyNestedAndCrLfEnded) {
  Write("a.html", "A1\nA2 %%INCLUDE%b.html%");
  Write("b.html", "B\r\n");
  EXPECT_EQ(engine_.ParseCommands("<%%INCLUDE%a.html%>"), "<A1\r\nA2 B\r\n\r\n>");
  // Only the capital marker is an include; a small one stays as it is.
  EXPECT_EQ(engine_.ParseCommands("%%include%b.html%"), "%%include%b.html%");
  // A missing file, or one outside the root, inserts nothing.
  WriteFile(dir_.File("outside.html"), "secret");
  EXPECT_EQ(engine_.ParseCommands("[%%INCLUDE%missing.html%][%%INCLUDE%../outside.html%]"), "[][]");
  // The first occurrence in any case is replaced, so a small twin before
  // the capital marker is filled as well.
  EXPECT_EQ(engine_.ParseCommands("%%include%B.HTML%|%%INCLUDE%b.html%"), "B\r\n|B\r\n");
}

TEST_F(TemplateEngineTest, IncludeLoopsEnd) {
  // A marker without a closing "%" is plain text.
  EXPECT_EQ(engine_.ParseCommands("x %%INCLUDE%never closed"), "x %%INCLUDE%never closed");
  // Self-inclusion stops after the nesting limit.
  Write("self.html", "s%%INCLUDE%self.html%");
  const std::string self = engine_.ParseCommands("%%INCLUDE%self.html%");
  const std::size_t depth = TemplateEngine::kMaxIncludeDepth;
  EXPECT_EQ(self, std::string(depth, 's') + [depth] {
    std::string line_ends;
    for (std::size_t i = 0; i < depth; ++i) line_ends += "\r\n";
    return line_ends;
  }());
  // Two files including each other end too.
  Write("ping.html", "p%%INCLUDE%pong.html%");
  Write("pong.html", "q%%INCLUDE%ping.html%");
  EXPECT_EQ(engine_.ParseCommands("%%INCLUDE%ping.html%").find("%%INCLUDE%"), std::string::npos);
  // A file that includes itself twice would double with every level: the
  // number of includes and the page size bound it.
  Write("twice.html", "%%INCLUDE%twice.html%%%INCLUDE%twice.html%");
  EXPECT_LE(engine_.ParseCommands("%%INCLUDE%twice.html%").size(), TemplateEngine::kMaxPageSize);
}

TEST_F(TemplateEngineTest, ValuesAreEscapedAndSeenByLaterMarks) {
  WebRequest request;
  request.session = std::make_shared<HttpSession>("id", "127.0.0.1");
  request.session->Set("username", "<b>boss</b>");
  request.params = {{"ERROR_TITLE", "<script>alert('x')</script>"},
                    {"error_text", "a & b \"%%OK_TITLE%%\""},
                    {"ok_title", "ok"}};
  WebResponse response;
  const std::string page = engine_.SetVariables(
      "%%error_title%%|%%ERROR_TEXT%%|%%LOGGEDINUSERNAME%%|%%CHOICE_NO%%|%%SERVERNAME%%|"
      "%!COMMENT_ON_SERVER_SELECTED!%1%!COMMENT_OFF_SERVER_SELECTED!%|"
      "%!COMMENT_ON_SERVER_NOT_SELECTED!%2%!COMMENT_OFF_SERVER_NOT_SELECTED!%|"
      "%!COMMENT_ON_NOT_SUPERSERVERADMIN!%3%!COMMENT_OFF_NOT_SUPERSERVERADMIN!%|%%SERVERID%%",
      request, response);
  EXPECT_EQ(page,
            "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;|a &amp; b &quot;ok&quot;|"
            "&lt;b&gt;boss&lt;/b&gt;|||1|<!--2-->|<!--3-->|%%SERVERID%%");
}

TEST_F(TemplateEngineTest, ValuesThatHoldPlaceholdersCannotMultiplyThePage) {
  // Each box parameter repeats the next one's placeholder: every step would
  // multiply the page by hundreds.
  const char* const chain[] = {"error_title", "error_text", "error_url", "ok_title",
                               "ok_text",     "ok_url",     "choice_title"};
  WebRequest request;
  request.session = std::make_shared<HttpSession>("id", "127.0.0.1");
  for (std::size_t i = 0; i + 1 < std::size(chain); ++i) {
    std::string value;
    for (int n = 0; n < 600; ++n) value += "%%" + std::string(chain[i + 1]) + "%%";
    request.params.emplace_back(chain[i], value);
  }
  WebResponse response;
  const std::string page = engine_.SetVariables("%%ERROR_TITLE%%", request, response);
  EXPECT_LE(page.size(), TemplateEngine::kMaxPageSize);
  EXPECT_GT(page.size(), 600u * 600u);  // the steps that fit were made
}

TEST(HtmlEscapeTest, EscapesTheFiveCharactersOnly) {
  EXPECT_EQ(HtmlEscape("<img src=x onerror=alert(1)>"), "&lt;img src=x onerror=alert(1)&gt;");
  EXPECT_EQ(HtmlEscape("&\"'%%X%%"), "&amp;&quot;&#39;%%X%%");
}

TEST(PercentEncodeTest, KeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(PercentEncode("a-b_c.d~e"), "a-b_c.d~e");
  EXPECT_EQ(PercentEncode("Tom & Jerry #1+2?x=y"), "Tom%20%26%20Jerry%20%231%2B2%3Fx%3Dy");
  EXPECT_EQ(PercentEncode("\xC3\xA4\r\n"), "%C3%A4%0D%0A");
}

TEST(DocumentRootTest, ContainsComparesResolvedPathsWithTheRootAndASeparator) {
  TempDir dir;
  fs::create_directories(dir.path() / "docs" / "sub");
  fs::create_directories(dir.path() / "docs-private");
  WriteFile(dir.File("docs/sub/page.html"), "x");
  WriteFile(dir.File("docs-private/x.html"), "x");
  fs::create_symlink(dir.path() / "docs-private", dir.path() / "docs" / "link");
  fs::create_symlink(dir.path() / "docs" / "sub", dir.path() / "docs" / "inner");
  const DocumentRoot root(dir.File("docs"));

  EXPECT_TRUE(root.Contains(root.Join("/sub/page.html")));
  EXPECT_TRUE(root.Contains(root.Join("/inner/page.html")));
  EXPECT_TRUE(root.Contains(root.Join("/sub/../sub/missing.html")));
  EXPECT_FALSE(root.Contains(root.Join("/../docs-private/x.html")));
  EXPECT_FALSE(root.Contains(root.Join("/link/x.html")));
  EXPECT_FALSE(root.Contains(fs::path(dir.File("docs-private/x.html"))));
  EXPECT_FALSE(root.Contains(root.Join("/")));  // the root itself is no file inside it
  const DocumentRoot other_case((dir.path() / "DOCS").string());
  EXPECT_FALSE(other_case.Contains(root.Join("/sub/page.html")));
}

}  // namespace
}  // namespace voxhall::web
