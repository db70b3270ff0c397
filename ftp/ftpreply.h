#pragma once
// Server replies on the control connection: lines cut from the received
// text, multi-line replies collected into one, and the small readers of a
// reply's code and quoted path.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The reply group of a line: '1' to '5' for a line that starts with a
// three-digit code followed by a blank or the end of the line, 0 for any
// other line (a failed reply to whatever waits for one).
char ReplyGroup(std::string_view line);
// True when the line starts with `prefix` and has a valid code.
bool ReplyStartsWith(std::string_view line, std::string_view prefix);

// The number a SIZE reply ("213 5000000000") carries after its code; 0
// when the rest is not a plain decimal number that fits.
int64_t SizeOfReply(std::string_view reply);

// The path in a reply such as 257 "/pub/a ""b""" is current: "" inside
// the quotes is one quote, and a quote that is not followed by a blank or
// the end of the line belongs to the path. Empty when the reply holds no
// quoted path (also for 'Current directory is /q"x', whose only quote is
// part of the name).
std::string QuotedPath(std::string_view reply);

class TFtpReplyReader {
 public:
  // Longest line (and longest text without a line end) accepted; longer
  // ones mean the peer is no FTP server or means harm.
  static constexpr size_t kMaxLineLength = 64 * 1024;
  // Longest multi-line reply collected.
  static constexpr size_t kMaxReplyLength = 1024 * 1024;

  // Adds received text. Zero bytes are dropped one by one; each LF ends a
  // line, and a CR right before it goes with it. False when a line is
  // longer than kMaxLineLength; the reader is then of no further use.
  bool Append(std::string_view text);
  // The next complete line, oldest first.
  bool NextLine(std::string& line);
  // The text after the last line end, as one more line (a CR at its end
  // goes with it), for a peer that stopped sending without ending its last
  // line. False when there is none.
  bool TakeRest(std::string& line);

  enum class Step {
    Pending,          // an empty line or a line of a multi-line reply
    Final,            // `line` ends a reply
    FinalMultiLine,   // `line` ends a multi-line reply (see MultiLineReply)
    TooLong,          // the multi-line reply outgrew kMaxReplyLength
  };
  // Collects one line. Three digits and a hyphen start a multi-line reply,
  // which ends at a line of the same code and a blank (or the code alone).
  Step Collect(const std::string& line);
  // The lines of the last multi-line reply, final line included.
  const std::vector<std::string>& MultiLineReply() const { return multiLine_; }

  // Forgets unfinished text and any reply being collected.
  void Clear();

 private:
  std::string leftover_;
  std::deque<std::string> lines_;
  bool collecting_ = false;
  std::string code_;
  std::vector<std::string> collected_;
  size_t collectedBytes_ = 0;
  std::vector<std::string> multiLine_;
};

}  // namespace kv
