// Text that reaches a terminal or a line-based reader. Names and paths come
// from policy files, file names, the kernel and the state, and any of them
// may be hostile: an escape sequence must not act, a newline must not forge
// a line.
//
// UTF-8 is read strictly: overlong forms, surrogates, code points above
// U+10FFFF and cut-off sequences are not UTF-8, and neither are the C1
// controls U+0080 to U+009F, which terminals act on as on escapes. Each byte
// of such text is escaped on its own ("\xc2\x9b").
#pragma once

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>

namespace CliCommon {

// `text` with backslash, control characters, DEL and bytes that are not
// UTF-8 (above) written C-style ("\\", "\n", "\t", "\r", "\x1b", "\xff");
// well-formed UTF-8 passes as it is. For one name or path on a line.
std::string EscapeControls(const std::string& text);

// Guards a stream for as long as it lives: what a terminal would act on
// (controls other than newline and tab, DEL, bytes that are not UTF-8) is
// written as EscapeControls writes it; everything else, newlines and
// backslashes included, passes byte for byte. This is for text the tools do
// not build themselves (the library's display): ordinary output is unchanged,
// while a hostile name can no longer clear the screen or set the title. It
// cannot stop a newline inside a name from breaking the line.
//
// Allocates nothing, so an out-of-memory report still gets through. One
// writer at a time, like any stream buffer.
class TerminalGuard : public std::streambuf {
 public:
  explicit TerminalGuard(std::ostream& stream);
  ~TerminalGuard() override;
  TerminalGuard(const TerminalGuard&) = delete;
  TerminalGuard& operator=(const TerminalGuard&) = delete;

  // Passes on what is held, escaping a sequence that was cut off; false
  // when the stream below refused it.
  bool Finish();

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Drain();
  bool Pass(const char* text, std::size_t size);
  bool Escape(unsigned char byte);

  std::ostream& stream_;
  std::streambuf* target_;
  char buffer_[1024];
  char pending_[4];  // the start of a sequence that a later write may complete
  std::size_t pendingSize_ = 0;
};

}  // namespace CliCommon
