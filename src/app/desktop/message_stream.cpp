#include "app/desktop/message_stream.h"

namespace odefit {

MessageBuffer::int_type MessageBuffer::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) pending_.push_back(traits_type::to_char_type(c));
  return traits_type::not_eof(c);
}

std::streamsize MessageBuffer::xsputn(const char* text, std::streamsize count) {
  pending_.append(text, static_cast<std::size_t>(count));
  return count;
}

int MessageBuffer::sync() {
  if (pending_.empty()) return 0;
  copy_ << pending_;
  copy_.flush();
  last_ = std::move(pending_);
  pending_.clear();
  if (deliver_) deliver_(last_);
  return 0;
}

}  // namespace odefit
