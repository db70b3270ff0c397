#pragma once
// What the digest and cipher registries share: a class as a value (its name,
// its parent and the module that defines it), and the registry list of lines
// "name=value", each carrying one class.
#include <string>
#include <string_view>
#include <vector>

#include "platform/modules.h"

namespace kv::crypto {

// The part of a class value that every kind of class has. Self is the class
// value type itself (THashClass, TCipherClass).
template <typename Self>
class TMetaClass {
 public:
  using ParentOf = const Self* (*)();
  constexpr TMetaClass(std::string_view name, ParentOf parent) : name_(name), parent_(parent) {}
  TMetaClass(const TMetaClass&) = delete;
  TMetaClass& operator=(const TMetaClass&) = delete;

  std::string_view ClassName() const { return name_; }
  const Self* ClassParent() const { return parent_ ? parent_() : nullptr; }
  bool InheritsFrom(const Self* other) const {
    for (const Self* c = static_cast<const Self*>(this); c; c = c->ClassParent()) {
      if (c == other) return true;
    }
    return false;
  }
  // The module (program or shared library) that defines the class.
  platform::ModuleHandle Module() const { return platform::ModuleOfAddress(this); }

 private:
  std::string_view name_;
  ParentOf parent_;
};

// A registry: one line "name=value" per class, the class as the line's
// object, in registration order.
template <typename ClassRef>
class TClassList {
 public:
  struct Line {
    std::string text;
    ClassRef objectClass;
  };
  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& Strings(int index) const { return lines_.at(static_cast<size_t>(index)).text; }
  // The text before and after the first "=".
  std::string Names(int index) const {
    const std::string& line = Strings(index);
    return line.substr(0, line.find('='));
  }
  std::string ValueFromIndex(int index) const {
    const std::string& line = Strings(index);
    const size_t equals = line.find('=');
    return equals == std::string::npos ? std::string() : line.substr(equals + 1);
  }
  ClassRef Objects(int index) const { return lines_.at(static_cast<size_t>(index)).objectClass; }
  int IndexOfObject(ClassRef objectClass) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].objectClass == objectClass) return static_cast<int>(i);
    }
    return -1;
  }
  void Add(std::string text, ClassRef objectClass) { lines_.push_back({std::move(text), objectClass}); }
  void Put(int index, std::string text) { lines_.at(static_cast<size_t>(index)).text = std::move(text); }
  void Delete(int index) { lines_.erase(lines_.begin() + index); }

  // Gives the class the line name=value: in place when it has one, else
  // appended. The name is trimmed of blanks and control characters; a blank
  // one becomes the class name without a leading "T" and up to its first "_".
  void Register(ClassRef objectClass, std::string_view name, std::string_view value) {
    std::string line = RegistryName(objectClass->ClassName(), name) + "=" + std::string(value);
    const int index = IndexOfObject(objectClass);
    if (index < 0)
      Add(std::move(line), objectClass);
    else
      Put(index, std::move(line));
  }
  // Deletes the lines of the classes the module defines, last line first.
  void DropModule(platform::ModuleHandle module) {
    for (int i = Count() - 1; i >= 0; --i) {
      if (Objects(i)->Module() == module) Delete(i);
    }
  }

 private:
  static std::string RegistryName(std::string_view className, std::string_view name) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!name.empty() && blank(name.front())) name.remove_prefix(1);
    while (!name.empty() && blank(name.back())) name.remove_suffix(1);
    if (!name.empty()) return std::string(name);
    if (!className.empty() && className.front() == 'T') className.remove_prefix(1);
    const size_t underscore = className.find('_');
    if (underscore != std::string_view::npos) className.remove_prefix(underscore + 1);
    return std::string(className);
  }

  std::vector<Line> lines_;
};

}  // namespace kv::crypto
