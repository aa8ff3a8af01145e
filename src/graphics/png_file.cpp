#include "graphics/png_file.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/palette.h"

namespace odefit {
namespace {

// libpng reports errors by longjmp; the functions that call setjmp below hold
// only trivially destructible locals, so the jump skips no destructor.

// How hard zlib packs the rows: the files the dialogue writes keep the
// library's default (and their bytes); pictures handed to callers are packed
// as runs at the fastest level, nearly as small for plots (long runs of one
// colour) in a fraction of the time.
enum class Packing { Default, Fast };

bool WriteRows(std::FILE* file, int width, int height, const std::uint8_t* rows, PngColourType type,
               Packing packing) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  // Writable has checked the indices at once: libpng's own scan, row by
  // row, costs a twentieth of a plot's time.
  png_set_check_for_invalid_index(png, 0);
  if (packing == Packing::Fast) {
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
  }
  const bool indexed = type == PngColourType::Indexed;
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[16];
  for (int i = 0; i < 16; ++i) {
    palette[i].red = Palette16[static_cast<std::size_t>(i)].red;
    palette[i].green = Palette16[static_cast<std::size_t>(i)].green;
    palette[i].blue = Palette16[static_cast<std::size_t>(i)].blue;
  }
  if (indexed) png_set_PLTE(png, info, palette, 16);
  png_write_info(png, info);
  const std::size_t stride = static_cast<std::size_t>(width) * (indexed ? 1u : 3u);
  for (int y = 0; y < height; ++y) {
    png_write_row(png, const_cast<png_bytep>(rows + static_cast<std::size_t>(y) * stride));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

// An image read as 8-bit RGB; the buffers are malloc'ed. It is reached only
// through a pointer, so its fields are current after a longjmp.
struct RgbImage {
  unsigned char* pixels = nullptr;
  png_bytep* rows = nullptr;
  int width = 0;
  int height = 0;
};

void FreeRgbImage(RgbImage* image) {
  std::free(image->rows);
  std::free(image->pixels);
  image->rows = nullptr;
  image->pixels = nullptr;
}

bool ReadRgb(std::FILE* file, RgbImage* image) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    FreeRgbImage(image);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_strip_alpha(png);
  png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info);
  const png_uint_32 h = png_get_image_height(png, info);
  if (w == 0 || h == 0 || w > 32767 || h > 32767 || png_get_rowbytes(png, info) != w * 3u) {
    png_error(png, "unsupported image");
  }
  image->pixels = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(w) * h * 3u));
  image->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
  if (image->pixels == nullptr || image->rows == nullptr) png_error(png, "out of memory");
  for (png_uint_32 y = 0; y < h; ++y) image->rows[y] = image->pixels + static_cast<std::size_t>(y) * w * 3u;
  png_read_image(png, image->rows);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  image->width = static_cast<int>(w);
  image->height = static_cast<int>(h);
  return true;
}

int NearestPaletteIndex(int r, int g, int b) {
  int best = 0;
  int bestDistance = INT_MAX;
  for (int i = 0; i < 16; ++i) {
    const Rgb& c = Palette16[static_cast<std::size_t>(i)];
    const int dr = r - c.red, dg = g - c.green, db = b - c.blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

}  // namespace

namespace {

// False, with `error` set, for a surface no file can hold: empty, or with an
// index past the palette (checked here at once, not by libpng row by row).
bool Writable(const DrawingSurface& surface, PngColourType type, std::string* error) {
  if (surface.Width() < 1 || surface.Height() < 1) {
    SetError(error, "empty surface");
    return false;
  }
  if (type != PngColourType::Indexed) return true;  // the RGB rows take an index's low four bits
  std::uint8_t bits = 0;
  for (const std::uint8_t index : surface.Pixels()) bits |= index;
  if (bits > 15) {
    SetError(error, "a colour index past the palette's 16");
    return false;
  }
  return true;
}

// Writes the PNG of `surface` to `file`; false with `error` set on failure.
bool WriteSurface(std::FILE* file, const DrawingSurface& surface, PngColourType type, Packing packing,
                  std::string* error) {
  std::vector<std::uint8_t> rgb;
  const std::uint8_t* rows = surface.Pixels().data();
  if (type == PngColourType::Rgb) {
    rgb.reserve(surface.Pixels().size() * 3);
    for (const std::uint8_t index : surface.Pixels()) {
      const Rgb& c = Palette16[index & 15u];
      rgb.insert(rgb.end(), {c.red, c.green, c.blue});
    }
    rows = rgb.data();
  }
  if (!WriteRows(file, surface.Width(), surface.Height(), rows, type, packing)) {
    SetError(error, "PNG encoding failed");
    return false;
  }
  return true;
}

}  // namespace

bool WritePng(const std::string& path, const DrawingSurface& surface, PngColourType type, std::string* error) {
  if (!Writable(surface, type, error)) return false;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    SetError(error, std::strerror(errno));
    return false;
  }
  const bool written = WriteSurface(file, surface, type, Packing::Default, error);
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    if (written) SetError(error, std::strerror(errno));
    return false;
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> EncodePng(const DrawingSurface& surface, PngColourType type,
                                                   std::string* error) {
  if (!Writable(surface, type, error)) return std::nullopt;
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = open_memstream(&buffer, &size);
  if (memory == nullptr) {
    SetError(error, std::strerror(errno));
    return std::nullopt;
  }
  const bool written = WriteSurface(memory, surface, type, Packing::Fast, error);
  const bool closed = std::fclose(memory) == 0;
  std::optional<std::vector<std::uint8_t>> bytes;
  if (written && closed) bytes.emplace(buffer, buffer + size);
  if (written && !closed) SetError(error, std::strerror(errno));
  std::free(buffer);
  return bytes;
}

std::optional<DrawingSurface> ReadPng(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    SetError(error, std::strerror(errno));
    return std::nullopt;
  }
  RgbImage image;
  const bool read = ReadRgb(file, &image);
  std::fclose(file);
  if (!read) {
    SetError(error, "not a readable PNG file");
    return std::nullopt;
  }
  DrawingSurface surface(image.width, image.height, kWhite);
  const unsigned char* p = image.pixels;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x, p += 3) surface.Set(x, y, NearestPaletteIndex(p[0], p[1], p[2]));
  }
  FreeRgbImage(&image);
  return surface;
}

}  // namespace odefit
