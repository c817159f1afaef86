#include "db/pg/pg_layouts.h"

#include <algorithm>
#include <cstring>

namespace velmora {
namespace {

bool SameShape(const TLibPq& pq, const PGresult* result, const TPgLayout& layout) {
  const int count = pq.nfields(result);
  if (static_cast<size_t>(count) != layout.shapes.size()) return false;
  for (int i = 0; i < count; ++i) {
    const TPgColumnShape& shape = layout.shapes[static_cast<size_t>(i)];
    if (pq.ftype(result, i) != shape.type || pq.fmod(result, i) != shape.typmod ||
        pq.ftable(result, i) != shape.table || pq.ftablecol(result, i) != shape.table_column ||
        std::strcmp(pq.fname(result, i), shape.name.c_str()) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::shared_ptr<const TPgLayout> TPgLayouts::Find(const TLibPq& pq, const PGresult* result) {
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (!SameShape(pq, result, **it)) continue;
    std::rotate(kept_.begin(), it, it + 1);
    return kept_.front();
  }
  return nullptr;
}

void TPgLayouts::Keep(std::shared_ptr<const TPgLayout> layout) {
  if (kept_.size() >= kKeptLayouts) kept_.pop_back();
  kept_.insert(kept_.begin(), std::move(layout));
}

std::vector<TPgColumnShape> PgColumnShapes(const TLibPq& pq, const PGresult* result) {
  const int count = pq.nfields(result);
  std::vector<TPgColumnShape> shapes(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    TPgColumnShape& shape = shapes[static_cast<size_t>(i)];
    shape.type = pq.ftype(result, i);
    shape.typmod = pq.fmod(result, i);
    shape.table = pq.ftable(result, i);
    shape.table_column = pq.ftablecol(result, i);
    shape.name = pq.fname(result, i);
  }
  return shapes;
}

}  // namespace velmora
