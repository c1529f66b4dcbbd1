#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "tests/test_support.h"
#include "ui/app_icon.xpm"

namespace {

const std::string kSourceDir = VARNEL_SOURCE_DIR;

// One ARGB value per pixel, row by row; 0 for a transparent pixel.
using PixelGrid = std::vector<std::vector<QRgb>>;

PixelGrid GridOf(const QImage& image) {
  PixelGrid grid(image.height(), std::vector<QRgb>(image.width(), 0));
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      grid[y][x] = qAlpha(pixel) == 0 ? 0 : pixel;
    }
  }
  return grid;
}

// The scalable icon is one path per colour made of one-row runs, "M x y h w v1 h-w z" each,
// so that it stays the pixel design. Anything else fails the parse.
std::optional<PixelGrid> GridOfPixelSvg(const std::string& path, std::string* why) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) {
    *why = "cannot open " + path;
    return std::nullopt;
  }
  QXmlStreamReader xml(&file);
  PixelGrid grid;
  const QRegularExpression run(QStringLiteral(R"(^M(\d+) (\d+)h(\d+)v1h-(\d+)z)"));
  while (xml.readNextStartElement() || !xml.atEnd()) {
    if (xml.isStartElement() && xml.name() == QLatin1String("svg")) {
      const int width = xml.attributes().value(QStringLiteral("width")).toInt();
      const int height = xml.attributes().value(QStringLiteral("height")).toInt();
      grid.assign(height, std::vector<QRgb>(width, 0));
    } else if (xml.isStartElement() && xml.name() == QLatin1String("path")) {
      const QColor colour(xml.attributes().value(QStringLiteral("fill")).toString());
      QString d = xml.attributes().value(QStringLiteral("d")).toString();
      while (!d.isEmpty()) {
        const auto match = run.match(d);
        if (!match.hasMatch() || match.captured(3) != match.captured(4)) {
          *why = "not a one-row run: " + d.left(40).toStdString();
          return std::nullopt;
        }
        const int x = match.captured(1).toInt();
        const int y = match.captured(2).toInt();
        const int length = match.captured(3).toInt();
        if (y >= static_cast<int>(grid.size()) || x + length > static_cast<int>(grid[y].size())) {
          *why = "a run outside the picture: " + match.captured(0).toStdString();
          return std::nullopt;
        }
        for (int i = x; i < x + length; ++i) grid[y][i] = colour.rgba();
        d.remove(0, match.capturedLength());
      }
    }
    if (xml.hasError()) {
      *why = xml.errorString().toStdString();
      return std::nullopt;
    }
  }
  return grid;
}

TEST(PackagedIcons, ScalableIconAndPngDrawTheXpmPixelForPixel) {
  const PixelGrid design = GridOf(QImage(kAppIconXpm));
  ASSERT_EQ(design.size(), 32u);

  const QImage png(QString::fromStdString(kSourceDir + "/ui/resources/varnel.png"));
  ASSERT_FALSE(png.isNull());
  EXPECT_EQ(GridOf(png.convertToFormat(QImage::Format_ARGB32)), design)
      << "ui/resources/varnel.png differs from ui/app_icon.xpm";

  std::string why;
  const auto svg = GridOfPixelSvg(kSourceDir + "/packaging/varnel.svg", &why);
  ASSERT_TRUE(svg) << why;
  EXPECT_EQ(*svg, design) << "packaging/varnel.svg differs from ui/app_icon.xpm";
}

// The long options that a program's --help lists, and those a man page names.
std::set<std::string> LongOptionsIn(const std::string& text) {
  std::set<std::string> options;
  const QRegularExpression option(QStringLiteral(R"((?<![\w-])--[a-z][a-z-]*[a-z])"));
  for (auto it = option.globalMatch(QString::fromStdString(text)); it.hasNext();) {
    options.insert(it.next().captured(0).toStdString());
  }
  return options;
}

std::string HelpOf(const QString& program) {
  QProcess process;
  process.start(program, {QStringLiteral("--help")});
  if (!process.waitForFinished(30000) || process.exitCode() != 0) return {};
  return process.readAllStandardOutput().toStdString();
}

// The named sections of a man page source (".SH NAME" up to the next ".SH"), joined.
std::string ManSections(const std::string& page, const std::set<std::string>& names) {
  std::string text;
  bool inside = false;
  std::size_t start = 0;
  while (start < page.size()) {
    std::size_t end = page.find('\n', start);
    if (end == std::string::npos) end = page.size();
    const std::string line = page.substr(start, end - start);
    if (line.rfind(".SH ", 0) == 0) inside = names.count(line.substr(4)) > 0;
    if (inside) text += line + "\n";
    start = end + 1;
  }
  return text;
}

struct ManPageCase {
  const char* program;
  const char* page;
};

class ManPages : public ::testing::TestWithParam<ManPageCase> {};

// Synopsis and options; examples elsewhere may name other commands' options.
TEST_P(ManPages, SynopsisAndOptionsNameEveryLongOptionOfTheProgramAndNoOther) {
  const std::string help = HelpOf(QString::fromUtf8(GetParam().program));
  const std::set<std::string> listed = LongOptionsIn(help);
  ASSERT_TRUE(listed.count("--help")) << "no usable --help from " << GetParam().program;

  std::string page = ReadFileText(kSourceDir + "/packaging/man/" + GetParam().page);
  ASSERT_FALSE(page.empty());
  // groff writes a literal hyphen as \-.
  for (std::size_t at = page.find("\\-"); at != std::string::npos; at = page.find("\\-", at)) {
    page.erase(at, 1);
  }
  EXPECT_EQ(LongOptionsIn(ManSections(page, {"SYNOPSIS", "OPTIONS"})), listed);
}

INSTANTIATE_TEST_SUITE_P(Programs, ManPages,
                         ::testing::Values(ManPageCase{VARNEL_SIM_EXECUTABLE, "varnel-sim.1"},
                                           ManPageCase{VARNEL_LOGGER_EXECUTABLE, "varnel-logger.1"},
                                           ManPageCase{VARNEL_VIEW_EXECUTABLE, "varnel-view.1"}),
                         [](const auto& info) {
                           std::string name = info.param.page;
                           for (char& c : name) {
                             if (c == '-' || c == '.') c = '_';
                           }
                           return name;
                         });

TEST(PackagedChangelog, LatestEntryIsTheProjectVersion) {
  const std::string changelog = ReadFileText(kSourceDir + "/packaging/changelog");
  const std::string first = changelog.substr(0, changelog.find('\n'));
  EXPECT_EQ(first.substr(0, first.find(')') + 1),
            std::string("varnel (") + VARNEL_PROJECT_VERSION + ")");
}

TEST(PackagedExampleConfig, PointsAtLoopbackNotTheDefaultController) {
  const MonitorSettings example = SettingsStore::Load(kSourceDir + "/packaging/line1.ini");
  EXPECT_EQ(example.IPAddress, "127.0.0.1");
}

}  // namespace
