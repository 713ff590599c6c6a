// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A key of a record file: an ordered list of components, each naming a field of the record by
// its 1-based number, ascending or descending, with or without regard to letter case.

#include <string>
#include <vector>

namespace rt {

struct KeyComponent {
  int field = 0;          // 1-based field number in the file's record layout
  bool ascending = true;  // false: the component sorts descending
  bool noCase = false;    // string component compared without regard to letter case
};

class FileKey {
 public:
  FileKey(int number, std::string name, std::vector<KeyComponent> components, bool unique,
          bool primary)
      : number_(number),
        name_(std::move(name)),
        components_(std::move(components)),
        unique_(unique || primary),
        primary_(primary) {}

  // 1-based number of the key within its file.
  int Number() const { return number_; }
  // The key's label, such as "DEM:ID_Key".
  const std::string& Name() const { return name_; }
  const std::vector<KeyComponent>& Components() const { return components_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // 1-based component access.
  const KeyComponent& Component(int number) const { return components_.at(number - 1); }
  bool Unique() const { return unique_; }
  bool Dups() const { return !unique_; }
  bool Primary() const { return primary_; }
  // True when any component ignores letter case.
  bool NoCase() const {
    for (const auto& c : components_) {
      if (c.noCase) return true;
    }
    return false;
  }

 private:
  int number_;
  std::string name_;
  std::vector<KeyComponent> components_;
  bool unique_;
  bool primary_;
};

}  // namespace rt
