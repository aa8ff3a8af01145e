#include "dialogue/series_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "derivatives/differentiation.h"
#include "format/fixed_format.h"

namespace odefit {
namespace {
constexpr std::size_t kBufferSize = 1 << 20;
constexpr int kFieldWidth = 20;
constexpr int kFieldDecimals = 10;
// Bytes read at a time while counting: more than the stream's own buffer, so
// the reads go straight into the block, and few enough to stay in cache.
constexpr std::size_t kCountChunk = std::size_t(5) << 18;

// Readable records that may read otherwise than meant are Suspect: the
// counting loop looks at their RecordFlags.
enum class RecordCheck { Readable, Suspect, Unreadable, CarriageReturn };

// What a readable record may have that makes its value differ from the one
// most likely meant.
enum RecordFlag : unsigned {
  kWithoutPoint = 1,  // digits other than 0 and no decimal point
  kPastField = 2,     // characters other than blanks after column 20
  kBlank = 4,         // nothing but blanks
};

// Returns the RecordFlags of a readable record (without its line end).
unsigned RecordFlags(std::string_view record) {
  if (record.find_first_not_of(' ') == std::string_view::npos) return kBlank;
  unsigned flags = 0;
  if (record.size() > kFieldWidth && record.find_first_not_of(" \t", kFieldWidth) != std::string_view::npos) {
    flags |= kPastField;
  }
  // Without a point the mantissa gets implied decimals; only zero reads the same.
  const std::string_view field = record.substr(0, kFieldWidth);
  if (field.find('.') == std::string_view::npos) {
    const std::string_view mantissa = field.substr(0, field.find_first_of("EeDd"));
    if (mantissa.find_first_of("123456789") != std::string_view::npos) flags |= kWithoutPoint;
  }
  return flags;
}

// Whether ReadF reads the field: a quick decision when the field holds
// blanks, at most one sign before any digit or point, at most one point and
// at least one digit (or nothing but blanks), which always reads (twenty
// digits cannot overflow); ReadF itself for anything else.
template <typename Masks>
RecordCheck CheckField(const char* field, std::size_t length, const Masks& m) {
  const unsigned places = (1u << length) - 1u;
  const unsigned digit = m.digit & places, point = m.point & places, sign = m.sign & places;
  const unsigned number = digit | point;
  const bool plain = (digit | point | sign | (m.blank & places)) == places && !(point & (point - 1)) &&
                     !(sign & (sign - 1)) && (!sign || (number != 0 && sign < (number & (0u - number)))) &&
                     (digit || !(point | sign));
  if (plain) return RecordCheck::Readable;
  return fixed::ReadF(std::string_view(field, length), kFieldWidth, kFieldDecimals) ? RecordCheck::Readable
                                                                                    : RecordCheck::Unreadable;
}

// Bit masks of the character classes of 32 bytes (bit i for byte i).
struct ClassMasks {
  unsigned digit = 0, blank = 0, point = 0, sign = 0, cr = 0, lf = 0;

  explicit ClassMasks(const char* bytes) {
#if defined(__SSE2__)
    for (int half = 0; half < 2; ++half) {
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * half));
      const auto mask = [half](__m128i set) { return static_cast<unsigned>(_mm_movemask_epi8(set)) << (16 * half); };
      const auto is = [c](char x) { return _mm_cmpeq_epi8(c, _mm_set1_epi8(x)); };
      digit |= mask(_mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1))));
      blank |= mask(is(' '));
      point |= mask(is('.'));
      sign |= mask(_mm_or_si128(is('+'), is('-')));
      cr |= mask(is('\r'));
      lf |= mask(is('\n'));
    }
#else
    for (unsigned i = 0; i < 32; ++i) {
      const char c = bytes[i];
      digit |= unsigned(c >= '0' && c <= '9') << i;
      blank |= unsigned(c == ' ') << i;
      point |= unsigned(c == '.') << i;
      sign |= unsigned(c == '+' || c == '-') << i;
      cr |= unsigned(c == '\r') << i;
      lf |= unsigned(c == '\n') << i;
    }
#endif
  }
};

// Bytes after the data that the line scan may read (it looks at 32 at once).
constexpr std::size_t kScanPadding = 32;

// Finds the end of the line that starts at `line` (before `stop`, which has
// kScanPadding readable bytes after it) and checks its record: the line
// without its LF, or CR LF. Returns the LF, or nullptr when the data hold no
// LF; `check` is CarriageReturn when a CR inside the line ends a record too.
const char* ScanLine(const char* line, const char* stop, RecordCheck& check) {
  const ClassMasks m(line);
  const std::size_t left = static_cast<std::size_t>(stop - line);
  const unsigned inside = left >= 32 ? ~0u : (1u << left) - 1u;
  const char* lf = nullptr;
  if (m.lf & inside) {
    lf = line + std::countr_zero(m.lf & inside);
  } else if (left > 32) {
    lf = static_cast<const char*>(std::memchr(line + 32, '\n', left - 32));
  }
  if (!lf) return nullptr;
  const char* end = lf != line && lf[-1] == '\r' ? lf - 1 : lf;
  const std::size_t length = static_cast<std::size_t>(end - line);
  const unsigned content = length >= 32 ? ~0u : (1u << length) - 1u;
  if ((m.cr & content) || (length > 32 && std::memchr(line + 32, '\r', length - 32))) {
    check = RecordCheck::CarriageReturn;
  } else {
    const std::size_t field = std::min<std::size_t>(length, kFieldWidth);
    check = CheckField(line, field, m);
    // A short field with a point has nothing to tell, which is the common case.
    const bool plain = length <= kFieldWidth && (m.point & ((1u << field) - 1u)) != 0;
    if (check == RecordCheck::Readable && !plain) check = RecordCheck::Suspect;
  }
  return lf;
}
}  // namespace

bool SeriesFile::Open(const std::string& path, std::string& reason) {
  Close();
  if (!buffer_) buffer_ = std::make_unique<char[]>(kBufferSize);
  in_.rdbuf()->pubsetbuf(buffer_.get(), kBufferSize);
  errno = 0;
  in_.open(path, std::ios::in | std::ios::binary);
  if (!in_.is_open()) {
    reason = errno != 0 ? std::strerror(errno) : "cannot be read";
    return false;
  }
  // A folder opens like a file but cannot be read as one.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    reason = std::strerror(EISDIR);
    in_.close();
    return false;
  }
  path_ = path;
  return true;
}

void SeriesFile::Close() {
  if (in_.is_open()) in_.close();
  in_.clear();
  path_.clear();
}

void SeriesFile::Rewind() {
  in_.clear();
  in_.seekg(0);
}

void RecordTally::Add(std::int64_t line, std::string_view text) {
  if (count++ > 0) return;
  firstLine = line;
  firstText = text.substr(0, kKeptText);
}

// Counts line by line in large blocks read straight from the file; a line
// that ends with LF (or CR LF) is one record. Files with other record ends (a
// lone CR) or a line longer than a block are counted record by record instead.
std::optional<std::int64_t> SeriesFile::CountRecords() {
  Rewind();
  findings_ = SeriesFindings();
  // Notes record `record` (1-based, readable) by its flags, or as the unreadable one.
  const auto tally = [this](std::int64_t record, std::string_view text) {
    const unsigned flags = RecordFlags(text);
    if (flags & kWithoutPoint) findings_.withoutPoint.Add(record, text);
    if (flags & kPastField) findings_.pastField.Add(record, text);
    if (flags & kBlank) findings_.blank.Add(record, text);
  };
  const auto unreadable = [this](std::int64_t record, std::string_view text) {
    findings_.unreadableLine = record;
    findings_.unreadableText = std::string(text.substr(0, RecordTally::kKeptText));
  };
  std::vector<char> storage(kCountChunk + kScanPadding);
  const std::span<char> block(storage.data(), kCountChunk);
  std::size_t kept = 0;  // bytes of an unfinished line at the front of the block
  std::int64_t count = 0;
  bool plain = true;
  while (plain) {
    in_.read(block.data() + kept, static_cast<std::streamsize>(block.size() - kept));
    const std::size_t size = kept + static_cast<std::size_t>(in_.gcount());
    const bool end = size == kept;
    const char* line = block.data();
    char* const stop = block.data() + size;
    if (end) {
      // The last line has no line break: a record when it holds anything.
      if (kept > 0) {
        *stop = '\n';
        RecordCheck check = RecordCheck::Readable;
        ScanLine(line, stop + 1, check);
        if (check == RecordCheck::Unreadable) {
          unreadable(count + 1, std::string_view(line, kept));
          return std::nullopt;
        }
        plain = check != RecordCheck::CarriageReturn;
        ++count;
        if (check == RecordCheck::Suspect) tally(count, std::string_view(line, kept));
      }
      break;
    }
    RecordCheck check = RecordCheck::Readable;
    while (const char* lf = ScanLine(line, stop, check)) {
      if (check != RecordCheck::Readable) {
        const char* end = lf != line && lf[-1] == '\r' ? lf - 1 : lf;
        const std::string_view record(line, static_cast<std::size_t>(end - line));
        if (check == RecordCheck::Unreadable) {
          unreadable(count + 1, record);
          return std::nullopt;
        }
        if (check == RecordCheck::CarriageReturn) {
          plain = false;
          break;
        }
        tally(count + 1, record);
      }
      ++count;
      line = lf + 1;
    }
    kept = static_cast<std::size_t>(stop - line);
    if (kept == block.size()) plain = false;  // a line longer than the block
    std::memmove(block.data(), line, kept);
  }
  if (in_.bad()) throw SeriesFileError("cannot read " + path_ + ": " + std::strerror(errno));
  if (plain) return count;

  Rewind();
  count = 0;
  findings_ = SeriesFindings();
  while (fixed::ReadRecord(in_, line_)) {
    ++count;
    if (!fixed::ReadF(line_, kFieldWidth, kFieldDecimals)) {
      unreadable(count, line_);
      return std::nullopt;
    }
    tally(count, line_);
  }
  if (in_.bad()) throw SeriesFileError("cannot read " + path_ + ": " + std::strerror(errno));
  return count;
}

void SeriesFile::NextRecord() {
  if (!fixed::ReadRecord(in_, line_)) {
    throw SeriesFileError("the series file " + path_ + " ended before the vectors counted in it");
  }
}

double SeriesFile::NextValue() {
  NextRecord();
  const auto value = fixed::ReadF(line_, kFieldWidth, kFieldDecimals);
  if (!value) throw SeriesFileError("the series file " + path_ + " changed: a value became unreadable");
  return *value;
}

void SeriesFile::ReadTrainingSeries(int D, int Ntrain, std::span<double> TimeSeries) {
  Rewind();
  const std::size_t count = static_cast<std::size_t>(D) * static_cast<std::size_t>(Ntrain);
  for (std::size_t k = 0; k < count; ++k) TimeSeries[k] = NextValue();
}

void SeriesFile::ReadTestSeries(int D, int Ntrain, int Nraw, int m, double dt,
                                std::span<double> RawTestSeries, std::span<double> TestSeries,
                                std::span<double> TestDerivatives) {
  Rewind();
  const std::size_t d = static_cast<std::size_t>(D);
  for (std::size_t k = 0, skip = d * static_cast<std::size_t>(Ntrain); k < skip; ++k) NextRecord();
  const std::size_t raw = static_cast<std::size_t>(Nraw);
  for (std::size_t k = 0; k < d * raw; ++k) RawTestSeries[k] = NextValue();

  const std::size_t ntest = raw - static_cast<std::size_t>(m) + 1;
  std::vector<double> component(raw), smoothed(ntest), derivative(ntest);
  for (std::size_t j = 0; j < d; ++j) {
    for (std::size_t i = 0; i < raw; ++i) component[i] = RawTestSeries[j + i * d];
    DifferentiateSeries(component, Nraw, m, 1, dt, smoothed, derivative);
    for (std::size_t i = 0; i < ntest; ++i) {
      TestSeries[j + i * d] = smoothed[i];
      TestDerivatives[j + i * d] = derivative[i];
    }
  }
}

}  // namespace odefit
