// Root classes of the objects the server pools by class: a class reference names the class and
// constructs instances of it.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velmora {

class TPersistent {
 public:
  virtual ~TPersistent() = default;
};

// Objects built through a virtual constructor without owner, loading their design-time contents.
class TComponent : public TPersistent {};

// A class reference: its name and how to construct an instance. Empty when it has no constructor.
struct TPersistentClass {
  std::string ClassName;
  bool IsComponent = false;
  std::function<std::unique_ptr<TPersistent>()> Construct;

  bool Empty() const { return !Construct; }

  template <class T>
  static TPersistentClass Of(std::string name) {
    static_assert(std::is_base_of_v<TPersistent, T>);
    return {std::move(name), std::is_base_of_v<TComponent, T>,
            [] { return std::unique_ptr<TPersistent>(new T()); }};
  }
};

}  // namespace velmora
