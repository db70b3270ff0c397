#include "ftp/ftpreply.h"

#include "ftp/ftpmisc.h"

namespace kv {
namespace {

bool StartsWithThreeDigits(std::string_view line) {
  return line.size() >= 3 && IsAsciiDigit(line[0]) && IsAsciiDigit(line[1]) && IsAsciiDigit(line[2]);
}

bool StartsMultiLine(std::string_view line) { return StartsWithThreeDigits(line) && line.size() > 3 && line[3] == '-'; }

}  // namespace

char ReplyGroup(std::string_view line) {
  if (!StartsWithThreeDigits(line)) return 0;
  if (line.size() > 3 && line[3] != ' ') return 0;
  if (line[0] < '1' || line[0] > '5') return 0;
  return line[0];
}

bool ReplyStartsWith(std::string_view line, std::string_view prefix) {
  return ReplyGroup(line) != 0 && line.starts_with(prefix);
}

int64_t SizeOfReply(std::string_view reply) {
  std::string_view digits = reply.size() > 4 ? reply.substr(4) : std::string_view();
  while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\r')) digits.remove_suffix(1);
  if (digits.empty() || digits.size() > 18) return 0;
  int64_t value = 0;
  for (const char c : digits) {
    if (!IsAsciiDigit(c)) return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string QuotedPath(std::string_view reply) {
  const size_t open = reply.find('"');
  if (open == std::string_view::npos) return {};
  std::string path;
  for (size_t i = open + 1; i < reply.size(); ++i) {
    const char c = reply[i];
    if (c != '"') {
      path += c;
      continue;
    }
    const bool atEnd = i + 1 == reply.size();
    if (atEnd || reply[i + 1] == ' ') return path;
    if (reply[i + 1] == '"') ++i;  // a doubled quote stands for one
    path += '"';
  }
  return {};  // never closed: the quote was part of something else
}

bool TFtpReplyReader::Append(std::string_view text) {
  for (const char c : text) {
    if (c == '\0') continue;
    if (c != '\n') {
      leftover_ += c;
      if (leftover_.size() > kMaxLineLength) return false;
      continue;
    }
    if (!leftover_.empty() && leftover_.back() == '\r') leftover_.pop_back();
    lines_.push_back(std::move(leftover_));
    leftover_.clear();
  }
  return true;
}

bool TFtpReplyReader::NextLine(std::string& line) {
  if (lines_.empty()) return false;
  line = std::move(lines_.front());
  lines_.pop_front();
  return true;
}

bool TFtpReplyReader::TakeRest(std::string& line) {
  if (leftover_.empty()) return false;
  if (leftover_.back() == '\r') leftover_.pop_back();
  line = std::move(leftover_);
  leftover_.clear();
  return true;
}

TFtpReplyReader::Step TFtpReplyReader::Collect(const std::string& line) {
  if (line.empty()) return Step::Pending;
  if (collecting_) {
    const bool final = line == code_ || (line.size() > 3 && line.starts_with(code_) && line[3] == ' ');
    collectedBytes_ += line.size();
    if (collectedBytes_ > kMaxReplyLength) return Step::TooLong;
    collected_.push_back(line);
    if (!final) return Step::Pending;
    collecting_ = false;
    multiLine_ = std::move(collected_);
    collected_.clear();
    return Step::FinalMultiLine;
  }
  if (StartsMultiLine(line)) {
    collecting_ = true;
    code_ = line.substr(0, 3);
    collected_.assign(1, line);
    collectedBytes_ = line.size();
    return Step::Pending;
  }
  return Step::Final;
}

void TFtpReplyReader::Clear() {
  leftover_.clear();
  lines_.clear();
  collecting_ = false;
  code_.clear();
  collected_.clear();
  collectedBytes_ = 0;
}

}  // namespace kv
