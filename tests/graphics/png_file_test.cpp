#include "graphics/png_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/png_export.h"
#include "graphics/graphics_layer.h"
#include "graphics/palette.h"

namespace odefit {
namespace {

namespace fs = std::filesystem;

class PngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("odefit-png-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// A surface holding every palette colour in a recognisable pattern.
DrawingSurface AllColours() {
  DrawingSurface s(37, 11, kWhite);
  for (int y = 0; y < s.Height(); ++y) {
    for (int x = 0; x < s.Width(); ++x) s.Set(x, y, (x + 3 * y) % 16);
  }
  return s;
}

// The IHDR colour type byte: 2 RGB, 3 palette.
int ColourTypeOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> head(26);
  in.read(head.data(), 26);
  return static_cast<unsigned char>(head[25]);
}

TEST_F(PngTest, AnIndexedPictureReadsBackPixelForPixel) {
  const DrawingSurface s = AllColours();
  const fs::path path = dir_ / "indexed.png";
  ASSERT_TRUE(WritePng(path.string(), s, PngColourType::Indexed));
  EXPECT_EQ(ColourTypeOf(path), 3);
  const auto back = ReadPng(path.string());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Width(), 37);
  EXPECT_EQ(back->Height(), 11);
  EXPECT_TRUE(std::equal(s.Pixels().begin(), s.Pixels().end(), back->Pixels().begin()));
}

TEST_F(PngTest, AnRgbPictureHoldsThePaletteColoursAndReadsBackToTheirIndices) {
  const DrawingSurface s = AllColours();
  const fs::path path = dir_ / "rgb.png";
  ASSERT_TRUE(WritePng(path.string(), s, PngColourType::Rgb));
  EXPECT_EQ(ColourTypeOf(path), 2);
  const auto back = ReadPng(path.string());
  ASSERT_TRUE(back);
  EXPECT_TRUE(std::equal(s.Pixels().begin(), s.Pixels().end(), back->Pixels().begin()));
}

TEST_F(PngTest, EncodedPicturesHoldTheFilesPixelsInEitherColourType) {
  const DrawingSurface s = AllColours();
  for (const PngColourType type : {PngColourType::Indexed, PngColourType::Rgb}) {
    const std::optional<std::vector<std::uint8_t>> bytes = EncodePng(s, type);
    ASSERT_TRUE(bytes);
    const fs::path path = dir_ / "encoded.png";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes->data()),
                                                static_cast<std::streamsize>(bytes->size()));
    EXPECT_EQ(ColourTypeOf(path), type == PngColourType::Indexed ? 3 : 2);
    const auto back = ReadPng(path.string());
    ASSERT_TRUE(back);
    EXPECT_TRUE(std::equal(s.Pixels().begin(), s.Pixels().end(), back->Pixels().begin()));
  }
}

TEST_F(PngTest, FailuresAreReportedNotThrown) {
  std::string error;
  EXPECT_FALSE(WritePng((dir_ / "no" / "such" / "dir.png").string(), AllColours(), PngColourType::Indexed, &error));
  EXPECT_FALSE(error.empty());
  const fs::path text = dir_ / "text.png";
  std::ofstream(text) << "not a picture";
  error.clear();
  EXPECT_FALSE(ReadPng(text.string(), &error));
  EXPECT_FALSE(error.empty());
  // An index past the palette would make a file other programs refuse: not written, in either way.
  DrawingSurface odd = AllColours();
  odd.Set(3, 2, 16);
  error.clear();
  EXPECT_FALSE(EncodePng(odd, PngColourType::Indexed, &error));
  EXPECT_NE(error.find("palette"), std::string::npos) << error;
  EXPECT_FALSE(WritePng((dir_ / "odd.png").string(), odd, PngColourType::Indexed, &error));
  EXPECT_FALSE(fs::exists(dir_ / "odd.png"));
}

TEST_F(PngTest, TheExporterWritesEachGraphicsWindowWhenItsDrawingIsComplete) {
  GraphicsLayer layer;
  std::vector<std::string> errors;
  PngExporter exporter(layer, dir_, [&](const std::string& e) { errors.push_back(e); });
  layer.AddObserver(&exporter);
  PrepareConsoleWindow(layer);
  layer.OpenGraphicsWindow(DifferentiationWindow, kDifferentiationTitle);
  layer.SetActiveWindow(DifferentiationWindow);
  layer.SetPixel(4, 5);
  EXPECT_FALSE(fs::exists(dir_ / "differentiation.png"));  // not before the drawing is complete
  layer.DrawingComplete(DifferentiationWindow);
  layer.DrawingComplete(ConsoleWindow);
  const auto picture = ReadPng((dir_ / "differentiation.png").string());
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width(), 800);
  EXPECT_EQ(picture->At(4, 5), kBlack);
  EXPECT_EQ(picture->At(5, 5), kWhite);
  EXPECT_FALSE(fs::exists(dir_ / "model-efficiency.png"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  layer.OpenGraphicsWindow(EfficiencyWindow, kEfficiencyTitle);
  layer.DrawingComplete(EfficiencyWindow);
  EXPECT_TRUE(fs::exists(dir_ / "model-efficiency.png"));
  EXPECT_TRUE(errors.empty());
}

TEST_F(PngTest, TheExporterReportsAFileItCannotWriteAndGoesOn) {
  GraphicsLayer layer;
  std::vector<std::string> errors;
  PngExporter exporter(layer, dir_ / "missing", [&](const std::string& e) { errors.push_back(e); });
  layer.OpenGraphicsWindow(DifferentiationWindow, kDifferentiationTitle);
  exporter.DrawingComplete(DifferentiationWindow);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("cannot write " + (dir_ / "missing" / "differentiation.png").string() + ": ", 0), 0u)
      << errors[0];
}

}  // namespace
}  // namespace odefit
