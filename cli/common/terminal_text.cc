#include "cli/common/terminal_text.h"

namespace CliCommon {
namespace {

struct Sequence {
  std::size_t length;  // of the well-formed sequence at the start, 0 if none
  bool cutOff;         // no sequence yet, but the bytes given begin one
};

// The sequence at text[0], by the table of well-formed UTF-8 byte sequences:
// the lead fixes the length and the range of the second byte (which is what
// shuts out overlongs, surrogates and code points above U+10FFFF); every
// later byte is 80..BF. C2 80..C2 9F, the C1 controls, are refused here too.
Sequence ReadSequence(const unsigned char* text, std::size_t size) {
  const unsigned char lead = text[0];
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;
  if (lead == 0xc2) {
    length = 2, low = 0xa0;
  } else if (lead >= 0xc3 && lead <= 0xdf) {
    length = 2;
  } else if (lead == 0xe0) {
    length = 3, low = 0xa0;
  } else if (lead == 0xed) {
    length = 3, high = 0x9f;
  } else if (lead >= 0xe1 && lead <= 0xef) {
    length = 3;
  } else if (lead == 0xf0) {
    length = 4, low = 0x90;
  } else if (lead >= 0xf1 && lead <= 0xf3) {
    length = 4;
  } else if (lead == 0xf4) {
    length = 4, high = 0x8f;
  } else {
    return {0, false};
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (k == size) return {0, true};
    if (text[k] < low || text[k] > high) return {0, false};
    low = 0x80, high = 0xbf;
  }
  return {length, false};
}

// The C-style form of one byte that is not to be shown as it is.
std::size_t EscapedByte(unsigned char byte, char (&out)[4]) {
  static const char kHex[] = "0123456789abcdef";
  out[0] = '\\';
  switch (byte) {
    case '\\': out[1] = '\\'; return 2;
    case '\n': out[1] = 'n'; return 2;
    case '\t': out[1] = 't'; return 2;
    case '\r': out[1] = 'r'; return 2;
    default:
      out[1] = 'x';
      out[2] = kHex[byte >> 4];
      out[3] = kHex[byte & 0xf];
      return 4;
  }
}

bool Printable(unsigned char byte) { return byte >= 0x20 && byte < 0x7f; }

}  // namespace

std::string EscapeControls(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char byte = bytes[i];
    if (byte >= 0x80) {
      if (const std::size_t length = ReadSequence(bytes + i, text.size() - i).length; length > 0) {
        shown.append(text, i, length);
        i += length;
        continue;
      }
    }
    if (Printable(byte) && byte != '\\') {
      shown += static_cast<char>(byte);
    } else {
      char out[4];
      shown.append(out, EscapedByte(byte, out));
    }
    ++i;
  }
  return shown;
}

TerminalGuard::TerminalGuard(std::ostream& stream)
    : stream_(stream), target_(stream.rdbuf(this)) {
  setp(buffer_, buffer_ + sizeof buffer_);
}

TerminalGuard::~TerminalGuard() {
  Finish();
  stream_.rdbuf(target_);
}

bool TerminalGuard::Finish() {
  bool ok = Drain();
  for (std::size_t k = 0; k < pendingSize_; ++k) {
    ok = Escape(static_cast<unsigned char>(pending_[k])) && ok;
  }
  pendingSize_ = 0;
  return target_->pubsync() == 0 && ok;
}

TerminalGuard::int_type TerminalGuard::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

// A sequence cut off by the end of the buffer stays held: the next write may
// complete it.
int TerminalGuard::sync() { return Drain() && target_->pubsync() == 0 ? 0 : -1; }

bool TerminalGuard::Drain() {
  const bool ok = Pass(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  setp(buffer_, buffer_ + sizeof buffer_);
  return ok;
}

bool TerminalGuard::Escape(unsigned char byte) {
  char out[4];
  const std::size_t size = EscapedByte(byte, out);
  return target_->sputn(out, static_cast<std::streamsize>(size)) == static_cast<std::streamsize>(size);
}

bool TerminalGuard::Pass(const char* text, std::size_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::size_t i = 0;
  // First finish the sequence an earlier write began.
  // A UTF-8 sequence is at most four bytes, so a full pending_ is never cut off.
  while (pendingSize_ > 0 && pendingSize_ < sizeof pending_ && i < size) {
    pending_[pendingSize_++] = text[i++];
    const Sequence held = ReadSequence(reinterpret_cast<const unsigned char*>(pending_), pendingSize_);
    if (held.cutOff) continue;
    if (held.length > 0) {
      const auto length = static_cast<std::streamsize>(pendingSize_);
      pendingSize_ = 0;
      if (target_->sputn(pending_, length) != length) return false;
      break;
    }
    // Not UTF-8: the bytes before the one that broke the sequence are
    // escaped; that one is read again on its own.
    for (std::size_t k = 0; k + 1 < pendingSize_; ++k) {
      if (!Escape(static_cast<unsigned char>(pending_[k]))) return false;
    }
    pendingSize_ = 0;
    --i;
  }
  std::size_t run = i;  // start of the bytes that pass as they are
  const auto flushRun = [&](std::size_t end) {
    const auto length = static_cast<std::streamsize>(end - run);
    return length == 0 || target_->sputn(text + run, length) == length;
  };
  while (i < size) {
    const unsigned char byte = bytes[i];
    if (Printable(byte) || byte == '\n' || byte == '\t') {
      ++i;
      continue;
    }
    if (byte >= 0x80) {
      const Sequence sequence = ReadSequence(bytes + i, size - i);
      if (sequence.length > 0) {
        i += sequence.length;
        continue;
      }
      if (sequence.cutOff) {
        if (!flushRun(i)) return false;
        for (pendingSize_ = 0; i < size; ++i) pending_[pendingSize_++] = text[i];
        return true;
      }
    }
    if (!flushRun(i) || !Escape(byte)) return false;
    run = ++i;
  }
  return flushRun(size);
}

}  // namespace CliCommon
