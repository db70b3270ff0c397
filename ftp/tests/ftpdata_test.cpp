// The listing model: finding an entry by name, copying, and indexes that do
// not exist.
#include <stdexcept>

#include <gtest/gtest.h>

#include "ftp/ftpdata.h"

namespace kv {
namespace {

void AddNamed(TMFtpFileInfoList& list, const std::string& name, const std::string& size = "1") {
  list.Add(name, "-rw-r--r--", "01/02/2003 04:05", size, "", "owner", "group", "");
}

TEST(ListingModel, AnExactNameWinsOverAnEarlierOneInOtherCase) {
  TMFtpFileInfoList list;
  AddNamed(list, "README.TXT", "100");
  AddNamed(list, "Readme.txt", "200");
  AddNamed(list, "readme.txt", "300");
  AddNamed(list, "Readme.txt", "400");  // a duplicate: the first one counts
  EXPECT_EQ(list.IndexOf("Readme.txt"), 1);
  EXPECT_EQ(list.IndexOf("readme.txt"), 2);
  EXPECT_EQ(list.IndexOf("README.txt"), 0);
  EXPECT_EQ(list.IndexOf("readme"), -1);

  // The comparison folds beyond ASCII: final and medial sigma are one letter.
  AddNamed(list, "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82");                                  // οδος
  EXPECT_EQ(list.IndexOf("\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3"), 4);                      // ΟΔΟΣ
  EXPECT_EQ(list.IndexOf("\xC3\x84rger"), -1);

  list.SetColumn(0, TMFtpFileInfoList::kName, "renamed");
  EXPECT_EQ(list.IndexOf("RENAMED"), 0);
  EXPECT_EQ(list.IndexOf("README.txt"), 1);
}

TEST(ListingModel, CopiesEntriesWithEveryTextInItsPlace) {
  TMFtpFileInfoList list;
  list.Add("name", "attrs", "date", "size", "link", "owner", "group", "description");
  TMFtpFileInfoList copy;
  AddNamed(copy, "gone");
  copy.Assign(list);
  ASSERT_EQ(copy.Count(), 1);
  MFtpFileInfo item;
  copy.GetItem(0, item);
  EXPECT_EQ(item, (MFtpFileInfo{"attrs", "date", "description", "name", "size", "link", "owner", "group"}));
  EXPECT_EQ(copy.IndexOf("gone"), -1);
  EXPECT_EQ(copy.IndexOf("NAME"), 0);

  copy.ClearColumn(TMFtpFileInfoList::kDescription);
  EXPECT_EQ(copy.Item(0).description, "");
  copy.Assign(TMFtpFileInfoList());
  EXPECT_EQ(copy.Count(), 0);
  EXPECT_EQ(copy.IndexOf("name"), -1);
}

TEST(ListingModel, ABadIndexOrColumnIsAnOutOfRangeError) {
  TMFtpFileInfoList list;
  MFtpFileInfo item;
  EXPECT_THROW(list.GetItem(0, item), std::out_of_range);
  AddNamed(list, "only");
  EXPECT_THROW(list.GetItem(-1, item), std::out_of_range);
  EXPECT_THROW(list.GetItem(1, item), std::out_of_range);
  EXPECT_THROW(list.SetColumn(1, TMFtpFileInfoList::kSize, "9"), std::out_of_range);
  EXPECT_THROW(list.SetColumn(0, 8, "9"), std::out_of_range);
  EXPECT_THROW(list.ClearColumn(-1), std::out_of_range);
  EXPECT_EQ(list.Item(0).size, "1");
}

}  // namespace
}  // namespace kv
