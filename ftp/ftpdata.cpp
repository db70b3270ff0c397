#include "ftp/ftpdata.h"

#include <limits>
#include <stdexcept>

#include "platform/text.h"

namespace kv {
namespace {

using Field = std::string MFtpFileInfo::*;

Field ColumnField(int column) {
  static constexpr Field kFields[] = {&MFtpFileInfo::attributes, &MFtpFileInfo::date,  &MFtpFileInfo::size,
                                      &MFtpFileInfo::link,       &MFtpFileInfo::description,
                                      &MFtpFileInfo::name,       &MFtpFileInfo::owner, &MFtpFileInfo::group};
  if (column < 0 || column >= static_cast<int>(std::size(kFields)))
    throw std::out_of_range("no listing column " + std::to_string(column));
  return kFields[column];
}

}  // namespace

void TMFtpFileInfoList::Add(std::string name, std::string attributes, std::string date, std::string size,
                            std::string link, std::string owner, std::string group, std::string description) {
  if (items_.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw std::length_error("listing too long");
  items_.push_back({std::move(attributes), std::move(date), std::move(description), std::move(name), std::move(size),
                    std::move(link), std::move(owner), std::move(group)});
  IndexName(Count() - 1);
}

void TMFtpFileInfoList::Clear() {
  items_.clear();
  byName_.clear();
}

void TMFtpFileInfoList::Assign(const TMFtpFileInfoList& other) {
  if (this == &other) return;
  items_ = other.items_;
  byName_ = other.byName_;
}

int32_t TMFtpFileInfoList::IndexOf(std::string_view name) const {
  int32_t exact = -1, folded = -1;
  const auto [first, last] = byName_.equal_range(platform::TextHash(name));
  for (auto it = first; it != last; ++it) {
    const int32_t i = it->second;
    const std::string& candidate = items_[static_cast<size_t>(i)].name;
    if (candidate == name) {
      if (exact < 0 || i < exact) exact = i;
    } else if ((folded < 0 || i < folded) && platform::SameText(candidate, name)) {
      folded = i;
    }
  }
  return exact >= 0 ? exact : folded;
}

size_t TMFtpFileInfoList::CheckedIndex(int32_t index) const {
  if (index < 0 || index >= Count())
    throw std::out_of_range("listing index " + std::to_string(index) + " of " + std::to_string(Count()));
  return static_cast<size_t>(index);
}

const MFtpFileInfo& TMFtpFileInfoList::Item(int32_t index) const { return items_[CheckedIndex(index)]; }

void TMFtpFileInfoList::GetItem(int32_t index, MFtpFileInfo& item) const { item = Item(index); }

void TMFtpFileInfoList::SetColumn(int32_t index, int column, std::string text) {
  const Field field = ColumnField(column);
  MFtpFileInfo& item = items_[CheckedIndex(index)];
  if (field != &MFtpFileInfo::name) {
    item.*field = std::move(text);
    return;
  }
  UnindexName(index);
  item.name = std::move(text);
  IndexName(index);
}

void TMFtpFileInfoList::ClearColumn(int column) {
  const Field field = ColumnField(column);
  for (MFtpFileInfo& item : items_) (item.*field).clear();
  if (field == &MFtpFileInfo::name) {
    byName_.clear();
    for (int32_t i = 0; i < Count(); ++i) IndexName(i);
  }
}

void TMFtpFileInfoList::IndexName(int32_t index) {
  byName_.emplace(platform::TextHash(items_[static_cast<size_t>(index)].name), index);
}

void TMFtpFileInfoList::UnindexName(int32_t index) {
  const auto [first, last] = byName_.equal_range(platform::TextHash(items_[static_cast<size_t>(index)].name));
  for (auto it = first; it != last; ++it) {
    if (it->second == index) {
      byName_.erase(it);
      return;
    }
  }
}

}  // namespace kv
