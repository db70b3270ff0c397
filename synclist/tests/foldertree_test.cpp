// The folder tree: AVL order and balance, lookups in any case.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "synclist/dirtree.h"

namespace kv {
namespace {

// Height of the subtree, or -1 when balance factors or key order are wrong.
int CheckedHeight(const TDirNode* node, const std::string* low, const std::string* high) {
  if (node == nullptr) return 0;
  if (low && platform::CompareText(*low, node->key) >= 0) return -1;
  if (high && platform::CompareText(node->key, *high) >= 0) return -1;
  int left = CheckedHeight(node->left, low, &node->key);
  int right = CheckedHeight(node->right, &node->key, high);
  if (left < 0 || right < 0 || right - left != node->balance || std::abs(node->balance) > 1) return -1;
  return 1 + std::max(left, right);
}

const TDirNode* TopOf(const TDirTree& tree, const std::vector<std::string>& keys) {
  // The top is the one node that no other node points to.
  std::vector<const TDirNode*> children;
  std::vector<const TDirNode*> all;
  for (const std::string& key : keys) {
    const TDirNode* node = tree.FindFolder(key);
    all.push_back(node);
    if (node->left) children.push_back(node->left);
    if (node->right) children.push_back(node->right);
  }
  for (const TDirNode* node : all) {
    if (std::find(children.begin(), children.end(), node) == children.end()) return node;
  }
  return nullptr;
}

TEST(FolderTree, StaysBalancedAndFindsKeysInAnyCase) {
  std::vector<std::string> keys;
  for (int i = 0; i < 600; ++i) keys.push_back("Folder" + std::to_string(i * 37 % 600) + "\\");
  std::mt19937 random(7);
  std::shuffle(keys.begin(), keys.end(), random);

  TDirTree tree;
  for (const std::string& key : keys) {
    ASSERT_EQ(tree.FindOrAddFolder(key)->key, key);
    EXPECT_EQ(tree.currentFolder(), key);
  }
  EXPECT_EQ(tree.folderCount(), 601);
  // An existing key, in other case, returns its node unchanged.
  TDirNode* node = tree.FindOrAddFolder("FOLDER12\\");
  EXPECT_EQ(node->key, "Folder12\\");
  EXPECT_EQ(tree.folderCount(), 601);
  EXPECT_EQ(tree.currentFolder(), keys.back());
  EXPECT_EQ(tree.FindFolder("folder599\\"), tree.FindFolder("Folder599\\"));
  EXPECT_EQ(tree.FindFolder("Folder600\\"), nullptr);
  EXPECT_EQ(tree.FindOrAddFolder(""), tree.root());  // the root is there from the start
  EXPECT_EQ(tree.folderCount(), 601);

  std::vector<std::string> all = tree.folderList();
  ASSERT_EQ(all.size(), 601u);
  EXPECT_EQ(all[0], "");
  EXPECT_TRUE(std::equal(keys.begin(), keys.end(), all.begin() + 1));  // order of insertion
  const TDirNode* top = TopOf(tree, all);
  ASSERT_NE(top, nullptr);
  int height = CheckedHeight(top, nullptr, nullptr);
  EXPECT_GT(height, 0);
  EXPECT_LE(height, 14);  // 1.44 log2(602)

  tree.SortFolderList();
  EXPECT_TRUE(std::is_sorted(tree.folderList().begin(), tree.folderList().end(), platform::TextLess()));
  EXPECT_EQ(tree.folderList()[0], "");
}

}  // namespace
}  // namespace kv
