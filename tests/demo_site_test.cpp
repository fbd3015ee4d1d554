// The documentation site `zoka demo` builds: built once, small, into a
// temporary folder; every page's images and links resolve, every effect has
// its page, the commands shown beside the pictures render them again, and
// the commands in the text stay in their sentences (Chromium lays them out).
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>
#include <array>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "images/image_files.h"

namespace zoka_cli {
namespace {

using namespace zoka_images;

namespace fs = std::filesystem;

std::string Shell(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 4096> buffer;
    for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) out.append(buffer.data(), n);
    status = WEXITSTATUS(pclose(pipe));
    return out;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string Unescape(std::string text) {
    const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}};
    for (const auto& [entity, plain] : entities) {
        for (size_t at; (at = text.find(entity)) != std::string::npos;) text.replace(at, std::strlen(entity), plain);
    }
    return text;
}

// The values of every attribute="..." of the page named by attribute.
std::vector<std::string> Attributes(const std::string& page, const std::string& attribute) {
    std::vector<std::string> found;
    const std::string opening = " " + attribute + "=\"";
    for (size_t at = page.find(opening); at != std::string::npos; at = page.find(opening, at + 1)) {
        const size_t start = at + opening.size();
        found.push_back(Unescape(page.substr(start, page.find('"', start) - start)));
    }
    return found;
}

// Each figure's image and the command in its caption, when it has one.
std::vector<std::pair<std::string, std::string>> FiguresWithCommands(const std::string& page) {
    std::vector<std::pair<std::string, std::string>> found;
    for (size_t at = page.find("<figure>"); at != std::string::npos; at = page.find("<figure>", at + 1)) {
        const std::string figure = page.substr(at, page.find("</figure>", at) - at);
        const std::string opening = "<code class=\"command\">";
        const size_t code = figure.find(opening);
        if (code == std::string::npos) continue;
        const size_t start = code + opening.size();
        found.emplace_back(Attributes(figure, "src").at(0),
                           Unescape(figure.substr(start, figure.find("</code>", start) - start)));
    }
    return found;
}

// How Chromium lays out every <code> of a page: for each, its class, its
// display, its font size and its parent's, and whether a piece of it shares
// a line with the text before or after it in its parent. Read back from the
// page's DOM after a script added to a copy of the page has measured it.
nlohmann::json CodeLayout(const fs::path& folder, const std::string& page) {
    constexpr const char* kMeasure = R"js(<script>
const found = [];
const centre = (box) => (box.top + box.bottom) / 2;
const beside = (box, rect) => rect !== undefined && centre(box) > rect.top && centre(box) < rect.bottom;
for (const code of document.querySelectorAll('code')) {
  const parent = code.parentElement, boxes = [...code.getClientRects()].filter((r) => r.width > 0);
  const before = document.createRange(), after = document.createRange();
  before.setStart(parent, 0);
  before.setEndBefore(code);
  after.setStartAfter(code);
  after.setEnd(parent, parent.childNodes.length);
  const b = before.getClientRects(), a = after.getClientRects();
  found.push({text: code.textContent, command: code.classList.contains('command'),
              display: getComputedStyle(code).display, size: getComputedStyle(code).fontSize,
              parentSize: getComputedStyle(parent).fontSize,
              sameLine: boxes.some((box) => beside(box, b[b.length - 1]) || beside(box, a[0]))});
}
document.body.setAttribute('data-code-layout', JSON.stringify(found));
</script>)js";
    std::string html = ReadFile(folder / page);
    html.insert(html.rfind("</body>"), kMeasure);
    const fs::path copy = folder / "code-layout.htm";  // not an .html page of the site
    const fs::path profile = fs::temp_directory_path() / ("zoka-site-chromium-" + std::to_string(getpid()));
    std::ofstream(copy, std::ios::binary) << html;
    int status = 0;
    const std::string dom = Shell("timeout 120 chromium --headless --no-sandbox --disable-gpu --user-data-dir=" +
                                      profile.string() + " --window-size=1200,1600 --dump-dom file://" +
                                      copy.string() + " 2>/dev/null",
                                  status);
    fs::remove(copy);
    fs::remove_all(profile);
    const std::string opening = "data-code-layout=\"";
    const size_t at = dom.find(opening);
    if (at == std::string::npos) return nlohmann::json();
    const size_t start = at + opening.size();
    return nlohmann::json::parse(Unescape(dom.substr(start, dom.find('"', start) - start)));
}

bool Relative(const std::string& reference) {
    return reference.find("://") == std::string::npos && reference.rfind('#', 0) != 0 &&
           reference.rfind("mailto:", 0) != 0;
}

// Built once for the whole suite: 160x120 layers, animations of three frames.
class DemoSite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = fs::temp_directory_path() / ("zoka-site-" + std::to_string(getpid()));
        fs::remove_all(folder);
        int status = 0;
        output = Shell(std::string(ZOKA_CLI_PATH) + " demo -o " + folder.string() +
                         " --size 160x120 --frames 3 2>&1",
                     status);
        built = status == 0;
    }
    static void TearDownTestSuite() { fs::remove_all(folder); }
    void SetUp() override { ASSERT_TRUE(built) << output; }

    static std::string Page(const std::string& name) { return ReadFile(folder / name); }

    static fs::path folder;
    static std::string output;
    static bool built;
};

fs::path DemoSite::folder;
std::string DemoSite::output;
bool DemoSite::built = false;

TEST_F(DemoSite, EveryImageAndLinkOfEveryPageExists) {
    size_t pages = 0, checked = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".html") continue;
        ++pages;
        const std::string page = ReadFile(entry.path());
        std::vector<std::string> targets = Attributes(page, "src");
        for (const std::string& link : Attributes(page, "href")) targets.push_back(link);
        for (const std::string& target : targets) {
            ASSERT_FALSE(target.empty()) << entry.path();
            if (!Relative(target)) continue;
            EXPECT_TRUE(fs::is_regular_file(folder / target)) << entry.path().filename() << " -> " << target;
            ++checked;
        }
    }
    EXPECT_EQ(pages, 25u) << "the index, the features, Python and programs pages and 21 effects";
    EXPECT_GT(checked, 300u);
}

TEST_F(DemoSite, EveryEffectHasItsPageWithItsParametersLinkedFromTheIndex) {
    int status = 0;
    const auto effects = nlohmann::json::parse(Shell(std::string(ZOKA_CLI_PATH) + " list --json", status));
    ASSERT_EQ(effects.size(), 21u);
    const std::string index = Page("index.html");
    for (const auto& effect : effects) {
        const std::string key = effect["key"];
        EXPECT_NE(index.find("href=\"" + key + ".html\""), std::string::npos) << key;
        const std::string page = Page(key + ".html");
        ASSERT_FALSE(page.empty()) << key;
        const auto params =
            nlohmann::json::parse(Shell(std::string(ZOKA_CLI_PATH) + " params " + key + " --json", status));
        for (const auto& param : params) {
            const std::string row = "</td><td>" + param["label"].get<std::string>() + "</td><td>" +
                                    param["kind"].get<std::string>() + "</td><td>" +
                                    param["default"].get<std::string>() + "</td>";
            EXPECT_NE(Unescape(page).find(row), std::string::npos) << key << ": " << param["label"];
        }
        EXPECT_NE(page.find("ms)"), std::string::npos) << key << ": a render time";
    }
    EXPECT_NE(index.find("href=\"features.html\""), std::string::npos);
    EXPECT_NE(index.find("href=\"python.html\""), std::string::npos);
}

// The page on other programs names every effect as each program knows it,
// and gives a command for each program.
TEST_F(DemoSite, TheProgramsPageNamesEveryEffectAsEachProgramKnowsIt) {
    int status = 0;
    const auto effects = nlohmann::json::parse(Shell(std::string(ZOKA_CLI_PATH) + " list --json", status));
    EXPECT_NE(Page("index.html").find("href=\"programs.html\""), std::string::npos);
    const std::string page = Unescape(Page("programs.html"));
    for (const auto& effect : effects) {
        std::string key = effect["key"];
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_NE(page.find("<td>zoka:" + key + "</td><td>zoka_" + key + ", frei0r.zoka_" + key + "</td>"),
                  std::string::npos)
            << key;
    }
    EXPECT_NE(page.find("<td>frei0r-filter-zoka-hsb-noise</td>"), std::string::npos);
    for (const char* command :
         {"<code class=\"command\">gegl -i layer.png -o out.png -- zoka:glow width=20 opacity=100 color=#FFFFFF dropoff-type=fat "
          "draw-everywhere=false</code>",
          "<code class=\"command\">ffmpeg -i in.png -vf \"frei0r=zoka_glow:0.2|1|1/1/1|Fat|n\" -pix_fmt rgba out.png</code>",
          "<code class=\"command\">melt clip.mp4 -filter frei0r.zoka_glow Width=0.2 Opacity=1 Color=#FFFFFF DropoffType=Fat "
          "DrawEverywhere=0 -consumer avformat:out.mp4</code>",
          "! frei0r-filter-zoka-glow !", "Tools &rarr; GEGL Operation", "<img src=\"gimp-gegl.png\""}) {
        EXPECT_NE(page.find(command), std::string::npos) << command;
    }
}

TEST_F(DemoSite, PicturesAreImagesAndAnimationsHaveTheirFrames) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".png") continue;
        ourhost::Image image;
        std::string error;
        ASSERT_TRUE(ReadImage(entry.path().string(), image, error)) << error;
        bool visible = false;
        for (int y = 0; y < image.Height() && !visible; ++y) {
            for (int x = 0; x < image.Width() && !visible; ++x) visible = image.At(x, y).a > 0;
        }
        EXPECT_TRUE(visible) << entry.path() << " is empty";
    }
    const std::string gif = (folder / "HSBNoise-motion.gif").string();
    OIIO::ImageBuf first(gif, 0, 0), last(gif, 2, 0);
    ASSERT_TRUE(first.read(0, 0, true, OIIO::TypeDesc::UINT8));
    ASSERT_TRUE(last.read(2, 0, true, OIIO::TypeDesc::UINT8));
    EXPECT_EQ(first.nsubimages(), 3);
    EXPECT_EQ(first.spec().width, 160);
    std::vector<uint8_t> a(first.spec().image_bytes()), b(last.spec().image_bytes());
    first.get_pixels(first.roi(), OIIO::TypeDesc::UINT8, a.data());
    last.get_pixels(last.roi(), OIIO::TypeDesc::UINT8, b.data());
    EXPECT_NE(a, b) << "the noise moves";
    // Antimatter's default does something on the photo-like sample.
    EXPECT_NE(ReadFile(folder / "photo.png"), ReadFile(folder / "Antimatter-photo.png"));
}

// The commands with a selection layer (Outer Bevel), a colour and a label
// with a number (Chrome), and keyframes and times (the features page), run
// in the site's folder, write the very bytes shown.
TEST_F(DemoSite, TheCommandsShownRenderThePicturesAgain) {
    size_t run = 0;
    for (const char* page : {"OuterBevel.html", "Chrome.html", "features.html"}) {
        for (const auto& [file, command] : FiguresWithCommands(Page(page))) {
            ASSERT_EQ(command.rfind("zoka render ", 0), 0u) << command;
            const std::string shown = ReadFile(folder / file);
            fs::remove(folder / file);
            int status = 0;
            const std::string out =
                Shell("cd " + folder.string() + " && " + ZOKA_CLI_PATH + command.substr(4) + " 2>&1", status);
            ASSERT_EQ(status, 0) << command << "\n" << out;
            EXPECT_EQ(ReadFile(folder / file), shown) << command;
            ++run;
        }
    }
    EXPECT_GE(run, 12u);
}

// The commands named in the text read as part of their sentence ("As zoka
// params Glow --json gives them"), at the text's size, in a real browser's
// layout; only the commands under the pictures stand on lines of their own.
TEST_F(DemoSite, CommandsInTheTextStayInlineAtTheTextsSize) {
    const std::string glow = Page("Glow.html");
    EXPECT_NE(glow.find("<p>As <code>zoka params Glow --json</code> gives them. Set them with "
                        "<code>--set KEY=VALUE</code> (by key, label or number).</p>"),
              std::string::npos);
    EXPECT_NE(Page("index.html").find("<span class=\"time\">drawn by <code>zoka demo</code> itself</span>"),
              std::string::npos);
    size_t inlined = 0, commands = 0;
    for (const char* page : {"Glow.html", "index.html", "features.html", "python.html", "programs.html"}) {
        const nlohmann::json codes = CodeLayout(folder, page);
        ASSERT_TRUE(codes.is_array() && !codes.empty()) << page << ": Chromium measured nothing";
        for (const auto& code : codes) {
            const std::string where = std::string(page) + ": " + code["text"].get<std::string>();
            if (code["command"].get<bool>()) {
                EXPECT_EQ(code["display"], "block") << where;
                ++commands;
                continue;
            }
            EXPECT_EQ(code["display"], "inline") << where;
            EXPECT_EQ(code["size"], code["parentSize"]) << where;
            EXPECT_TRUE(code["sameLine"].get<bool>()) << where << ": on a line of its own";
            ++inlined;
        }
    }
    // Glow's two and its samples', the index's samples', the features, Python and programs pages'.
    EXPECT_GE(inlined, 8u);
    EXPECT_GE(commands, 10u);
}

// Glow's description is the module's own text, typo and all; its page says so.
TEST_F(DemoSite, GlowsDescriptionIsTheModulesOwnTextAndItsPageSaysSo) {
    const std::string glow = Page("Glow.html");
    EXPECT_NE(glow.find("<p>Draws a semi-tranparent halo around the layer or selection</p>"), std::string::npos);
    EXPECT_NE(glow.find("spelt so in the module's own text"), std::string::npos);
    EXPECT_EQ(Page("Chrome.html").find("spelt so"), std::string::npos);
}

}  // namespace
}  // namespace zoka_cli
