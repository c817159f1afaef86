// TDSMethodTable: the published methods of one server class, found by name without regard to
// case. Each entry knows its in- and out-parameter counts, whether it has a result, and how to
// invoke it on an instance.
//
// Typed registration turns a member function into an entry:
//   table.Add("SQL2OleVariant", &TServerModule1::SQL2OleVariant);
// In-parameters are values or const references (std::string, int32_t, int64_t, double, bool,
// TDateTime, OleVariant); out-parameters are non-const lvalue references of the same types and
// travel back in declaration order. Text results and outs travel as varOleStr, TDateTime as
// varDate; AddDateTime publishes a method returning a plain double date-time as varDate.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "rpc/arg_convert.h"
#include "rpc/server_module_base.h"
#include "variant/ole_variant.h"

namespace velmora {

// Invokes a method: `args` holds exactly the in-parameters (the invoker may move from them);
// `result` and `outs` receive what goes back.
using TDSInvoker = std::function<void(TDSServerModuleBase& instance, std::span<OleVariant> args,
                                      OleVariant& result, std::vector<OleVariant>& outs)>;

struct TDSMethodInfo {
  std::string Name;
  size_t InCount = 0;
  size_t OutCount = 0;
  bool HasResult = false;
  TDSInvoker Invoke;
  // The method reports a failure as a non-empty text in its last out-parameter (ErrMsg); the
  // call is then counted as failed, like one that raised.
  bool LastOutIsError = false;
  // Where the method's calls are counted (metrics::ServerMetrics); set by Add.
  size_t MetricsSlot = 0;
};

class TDSMethodTable {
 public:
  explicit TDSMethodTable(std::string class_name) : class_name_(std::move(class_name)) {}

  const std::string& ClassName() const { return class_name_; }
  size_t Count() const { return methods_.size(); }
  // The method called `name` (any letter case), or nullptr.
  const TDSMethodInfo* Find(std::string_view name) const;

  // Raises std::invalid_argument when a method of that name (any case) exists.
  TDSMethodTable& Add(TDSMethodInfo info);
  // Marks the named methods as reporting failures in their last out-parameter (LastOutIsError).
  // Raises std::invalid_argument for a name not published.
  TDSMethodTable& MarkErrorOut(std::initializer_list<std::string_view> names);

  template <class F>
  TDSMethodTable& Add(std::string name, F member_function) {
    return Add(MakeTyped<false>(std::move(name), member_function));
  }
  template <class F>
  TDSMethodTable& AddDateTime(std::string name, F member_function) {
    return Add(MakeTyped<true>(std::move(name), member_function));
  }

 private:
  struct NoCaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };

  template <bool kDateResult, class F>
  static TDSMethodInfo MakeTyped(std::string name, F fn);

  std::string class_name_;
  std::map<std::string, TDSMethodInfo, NoCaseLess> methods_;
};

namespace rpc_detail {

template <class P>
inline constexpr bool kIsOut =
    std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;
template <class P>
using Value = std::remove_cvref_t<P>;
// Text and variants taken by const reference are borrowed from the argument, not copied.
template <class P>
inline constexpr bool kBorrow =
    !kIsOut<P> && std::is_reference_v<P> &&
    (std::is_same_v<Value<P>, std::string> || std::is_same_v<Value<P>, OleVariant>);
template <class P>
using Slot = std::conditional_t<kBorrow<P>, const Value<P>*, Value<P>>;

template <class P>
Slot<P> Take(std::span<OleVariant> args, size_t& next) {
  if constexpr (kIsOut<P>) {
    return Slot<P>{};
  } else {
    OleVariant& a = args[next++];
    if constexpr (kBorrow<P> && std::is_same_v<Value<P>, std::string>) {
      return &ArgText(a, next);
    } else if constexpr (kBorrow<P>) {
      return &a;
    } else if constexpr (std::is_same_v<Value<P>, OleVariant>) {
      return std::move(a);
    } else {
      return FromArg<Value<P>>(a, next);
    }
  }
}

template <class P>
decltype(auto) Pass(Slot<P>& slot) {
  if constexpr (kBorrow<P>) {
    return *slot;
  } else if constexpr (kIsOut<P>) {
    return (slot);
  } else {
    return std::move(slot);
  }
}

template <class F>
struct MemberTraits;
template <class C, class R, class... P>
struct MemberTraits<R (C::*)(P...)> {
  using Class = C;
  using Result = R;
  using Params = std::tuple<P...>;
};
template <class C, class R, class... P>
struct MemberTraits<R (C::*)(P...) const> {
  using Class = C;
  using Result = R;
  using Params = std::tuple<P...>;
};

template <class C>
C& CastInstance(TDSServerModuleBase& instance) {
  C* self = dynamic_cast<C*>(&instance);
  if (self == nullptr) throw std::logic_error("Server class instance is of the wrong class");
  return *self;
}

template <bool kDateResult, class F, class C, class R, class... P>
TDSMethodInfo Make(std::string name, F fn, std::tuple<P...>*) {
  static_assert(!std::is_reference_v<R>, "published methods return by value");
  static_assert(!kDateResult || std::is_same_v<R, double>, "a date-time result is a double");
  TDSMethodInfo info;
  info.Name = std::move(name);
  info.OutCount = (size_t{0} + ... + size_t{kIsOut<P>});
  info.InCount = sizeof...(P) - info.OutCount;
  info.HasResult = !std::is_void_v<R>;
  info.Invoke = [fn](TDSServerModuleBase& instance, [[maybe_unused]] std::span<OleVariant> args,
                     OleVariant& result, std::vector<OleVariant>& outs) {
    C& self = CastInstance<C>(instance);
    [[maybe_unused]] size_t next = 0;
    // Braced initialisation evaluates the conversions left to right.
    std::tuple<Slot<P>...> slots{Take<P>(args, next)...};
    [&]<size_t... I>(std::index_sequence<I...>) {
      if constexpr (std::is_void_v<R>) {
        (self.*fn)(Pass<P>(std::get<I>(slots))...);
      } else if constexpr (kDateResult) {
        result = OleVariant::Date((self.*fn)(Pass<P>(std::get<I>(slots))...));
      } else {
        result = ToVariant(Value<R>((self.*fn)(Pass<P>(std::get<I>(slots))...)));
      }
      outs.clear();
      (
          [&] {
            if constexpr (kIsOut<P>) outs.push_back(ToVariant(std::move(std::get<I>(slots))));
          }(),
          ...);
    }
    (std::index_sequence_for<P...>{});
  };
  return info;
}

}  // namespace rpc_detail

template <bool kDateResult, class F>
TDSMethodInfo TDSMethodTable::MakeTyped(std::string name, F fn) {
  using Traits = rpc_detail::MemberTraits<F>;
  return rpc_detail::Make<kDateResult, F, typename Traits::Class, typename Traits::Result>(
      std::move(name), fn, static_cast<typename Traits::Params*>(nullptr));
}

}  // namespace velmora
