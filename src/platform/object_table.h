// Numbered objects: the table from the program's numbers to Qt widgets and
// menu actions.
//
// Numbers are chosen by the program; putting a widget under a number that
// already holds one forgets the old entry (the owner widget still deletes
// it). Lookups of unknown numbers answer null. Interface thread only.
#pragma once

#include <QPointer>
#include <QWidget>
#include <map>

namespace pixmoor::platform {

class ObjectTable {
 public:
  void put(int number, QWidget* widget) { widgets_[number] = widget; }
  QWidget* find(int number) const {
    const auto it = widgets_.find(number);
    return it == widgets_.end() ? nullptr : it->second.data();
  }
  template <typename T>
  T* as(int number) const {
    return dynamic_cast<T*>(find(number));
  }
  const std::map<int, QPointer<QWidget>>& all() const { return widgets_; }

 private:
  std::map<int, QPointer<QWidget>> widgets_;
};

}  // namespace pixmoor::platform
