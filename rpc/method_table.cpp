#include "rpc/method_table.h"

#include <fmt/format.h>

#include "common/server_metrics.h"
#include "variant/variant_text.h"

namespace velmora {

bool TDSMethodTable::NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  return LessNoCase(a, b);
}

const TDSMethodInfo* TDSMethodTable::Find(std::string_view name) const {
  const auto it = methods_.find(name);
  return it == methods_.end() ? nullptr : &it->second;
}

TDSMethodTable& TDSMethodTable::Add(TDSMethodInfo info) {
  if (!info.Invoke) throw std::invalid_argument(fmt::format("Method {} has no invoker", info.Name));
  auto [it, added] = methods_.try_emplace(info.Name);
  if (!added) {
    throw std::invalid_argument(
        fmt::format("Method {}.{} is published twice", class_name_, info.Name));
  }
  it->second = std::move(info);
  it->second.MetricsSlot = metrics::Metrics().RegisterMethod(it->second.Name);
  return *this;
}

TDSMethodTable& TDSMethodTable::MarkErrorOut(std::initializer_list<std::string_view> names) {
  for (const std::string_view name : names) {
    const auto it = methods_.find(name);
    if (it == methods_.end() || it->second.OutCount == 0) {
      throw std::invalid_argument(
          fmt::format("Method {}.{} has no out-parameter to report errors in", class_name_, name));
    }
    it->second.LastOutIsError = true;
  }
  return *this;
}

}  // namespace velmora
