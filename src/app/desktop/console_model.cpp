#include "app/desktop/console_model.h"

namespace odefit {
namespace {

// Returns the length of the UTF-8 sequence its first byte announces, 0 for a stray byte.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = SequenceLength(lead);
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) valid = IsContinuation(static_cast<unsigned char>(text[i + k]));
    if (!valid) {
      out.push_back(lead);
      ++i;
      continue;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(c);
    i += length;
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

void ConsoleTranscript::Append(std::string_view utf8) {
  std::string bytes = std::move(partial_);
  partial_.clear();
  bytes.append(utf8);
  // Keep back an incomplete sequence at the end for the next call.
  std::size_t cut = bytes.size();
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if (IsContinuation(byte)) continue;
    const std::size_t length = SequenceLength(byte);
    if (length > back) cut = bytes.size() - back;
    break;
  }
  partial_ = bytes.substr(cut);
  bytes.resize(cut);

  for (const char32_t c : DecodeUtf8(bytes)) {
    if (c == U'\n') {
      rows_.emplace_back();
    } else if (c == U'\f') {
      if (!rows_.back().empty()) rows_.emplace_back();
      clearRow_ = static_cast<int>(rows_.size()) - 1;
      ++clears_;
    } else if (c == U'\t') {
      rows_.back().append(8 - rows_.back().size() % 8, U' ');
    } else if (c >= 0x20 && c != 0x7F) {
      rows_.back().push_back(c);
    }
  }
}

std::string ConsoleTranscript::Text() const {
  std::string text;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    if (r != 0) text.push_back('\n');
    text += EncodeUtf8(rows_[r]);
  }
  return text;
}

std::vector<std::u32string> LineEditor::Type(std::u32string_view text) {
  std::vector<std::u32string> entered;
  for (const char32_t c : text) {
    if (c == U'\n') {
      entered.push_back(Enter());
    } else if (c == U'\t') {
      text_.insert(cursor_++, 1, U' ');
    } else if (c >= 0x20 && c != 0x7F) {
      text_.insert(cursor_++, 1, c);
    }
  }
  return entered;
}

std::u32string LineEditor::Enter() {
  std::u32string line = std::move(text_);
  text_.clear();
  cursor_ = 0;
  draft_.clear();
  if (!line.empty() && (history_.empty() || history_.back() != line)) history_.push_back(line);
  browsing_ = history_.size();
  return line;
}

void LineEditor::Left() {
  if (cursor_ > 0) --cursor_;
}

void LineEditor::Right() {
  if (cursor_ < text_.size()) ++cursor_;
}

void LineEditor::Home() { cursor_ = 0; }

void LineEditor::End() { cursor_ = text_.size(); }

void LineEditor::Backspace() {
  if (cursor_ == 0) return;
  text_.erase(--cursor_, 1);
}

void LineEditor::Delete() {
  if (cursor_ < text_.size()) text_.erase(cursor_, 1);
}

void LineEditor::DeleteToStart() {
  text_.erase(0, cursor_);
  cursor_ = 0;
}

void LineEditor::DeleteToEnd() { text_.erase(cursor_); }

void LineEditor::HistoryUp() {
  if (browsing_ > history_.size()) browsing_ = history_.size();
  if (browsing_ == 0) return;
  if (browsing_ == history_.size()) draft_ = text_;
  text_ = history_[--browsing_];
  cursor_ = text_.size();
}

void LineEditor::HistoryDown() {
  if (browsing_ >= history_.size()) return;
  ++browsing_;
  text_ = browsing_ == history_.size() ? draft_ : history_[browsing_];
  cursor_ = text_.size();
}

}  // namespace odefit
