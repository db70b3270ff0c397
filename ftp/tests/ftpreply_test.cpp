#include "ftp/ftpreply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {
namespace {

TEST(FtpReply, QuotedPathFollowsRfc959Quoting) {
  struct Row {
    const char* reply;
    const char* path;
  };
  const Row rows[] = {
      {"257 \"/pub/a b\" is current", "/pub/a b"},
      {"257 \"/q\"\"x\" is the current directory", "/q\"x"},  // doubled, as most servers write it
      {"257 \"/q\"x\" is your current location", "/q\"x"},    // not doubled
      {"257 \"/a\"\"\" is current", "/a\""},
      {"257 \"/end\"", "/end"},
      {"250 OK. Current directory is /q\"x", ""},  // its only quote belongs to the name
      {"257 no quotes at all", ""},
      {"257 \"\" empty", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(QuotedPath(row.reply), row.path) << row.reply;
}

TEST(FtpReply, ASizeReplyGivesItsNumberOrZero) {
  EXPECT_EQ(SizeOfReply("213 5000000000"), 5'000'000'000);
  EXPECT_EQ(SizeOfReply("213  17 "), 17);
  EXPECT_EQ(SizeOfReply("213 0x10"), 0);
  EXPECT_EQ(SizeOfReply("213 -5"), 0);
  EXPECT_EQ(SizeOfReply("213 99999999999999999999"), 0);
  EXPECT_EQ(SizeOfReply("213"), 0);
}

TEST(FtpReply, OnlyThreeDigitsAndABlankOrTheEndMakeAValidReply) {
  EXPECT_EQ(ReplyGroup("220 ready"), '2');
  EXPECT_EQ(ReplyGroup("331"), '3');
  EXPECT_EQ(ReplyGroup("530-more"), 0);
  EXPECT_EQ(ReplyGroup("2200 ok"), 0);
  EXPECT_EQ(ReplyGroup("hello"), 0);
  EXPECT_EQ(ReplyGroup("22"), 0);
  EXPECT_EQ(ReplyGroup("600 no such group"), 0);
  EXPECT_TRUE(ReplyStartsWith("502 no NOOP", "50"));
  EXPECT_FALSE(ReplyStartsWith("50x", "50"));
}

// Feeds the text in the given chunks and returns each completed reply,
// with "+" marking a multi-line one.
std::vector<std::string> Replies(const std::vector<std::string>& chunks) {
  TFtpReplyReader reader;
  std::vector<std::string> out;
  for (const std::string& chunk : chunks) {
    EXPECT_TRUE(reader.Append(chunk));
    std::string line;
    while (reader.NextLine(line)) {
      switch (reader.Collect(line)) {
        case TFtpReplyReader::Step::Final: out.push_back(line); break;
        case TFtpReplyReader::Step::FinalMultiLine: out.push_back("+" + line); break;
        case TFtpReplyReader::Step::TooLong: out.push_back("too long"); break;
        case TFtpReplyReader::Step::Pending: break;
      }
    }
  }
  return out;
}

TEST(FtpReplyReader, AssemblesRepliesFromAnyCutOfTheText) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Replies({"22", "0 ready\r", "\n331 pass\n"}), (V{"220 ready", "331 pass"}));
  const char withNuls[] = "22\0" "0 a\r\n2\0" "30 b\r\n";
  EXPECT_EQ(Replies({std::string(withNuls, sizeof withNuls - 1)}), (V{"220 a", "230 b"}));
  EXPECT_EQ(Replies({"220-one\r\n220-two\r\n", "not a code\r\n220 last\r\n"}), (V{"+220 last"}));
  EXPECT_EQ(Replies({"230-a\r\n230\r\n"}), (V{"+230"}));
  EXPECT_EQ(Replies({"abc-def\r\n", "220 next\r\n"}), (V{"abc-def", "220 next"}));
  EXPECT_EQ(Replies({"hello\r\n\r\n"}), (V{"hello"}));

  TFtpReplyReader rest;
  std::string line;
  EXPECT_FALSE(rest.TakeRest(line));
  ASSERT_TRUE(rest.Append("a\nlast\r"));
  ASSERT_TRUE(rest.NextLine(line));
  ASSERT_TRUE(rest.TakeRest(line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(rest.TakeRest(line));
}

TEST(FtpReplyReader, RefusesEndlessLinesAndReplies) {
  TFtpReplyReader reader;
  EXPECT_TRUE(reader.Append(std::string(TFtpReplyReader::kMaxLineLength, 'x')));
  EXPECT_FALSE(reader.Append("y"));

  TFtpReplyReader collecting;
  const std::string continuation = "220-" + std::string(60000, 'z') + "\n";
  std::string line;
  TFtpReplyReader::Step last = TFtpReplyReader::Step::Pending;
  for (int i = 0; i < 20 && last == TFtpReplyReader::Step::Pending; ++i) {
    ASSERT_TRUE(collecting.Append(continuation));
    while (collecting.NextLine(line)) last = collecting.Collect(line);
  }
  EXPECT_EQ(last, TFtpReplyReader::Step::TooLong);
}

}  // namespace
}  // namespace kv
