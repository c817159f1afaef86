#include "client/file_listing.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>

#include "variant/byte_io.h"
#include "variant/ole_date.h"

namespace velmora {
namespace {

bool ParseNumber(std::string_view s, int64_t& out) {
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && !s.empty();
}

// "YYYYMMDDHHNN" -> a date-time value; nothing when the text is not one.
OleVariant ListingTime(std::string_view s) {
  if (s.size() != 12 ||
      !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return OleVariant::Null();
  auto part = [&](size_t at, size_t len) {
    int v = 0;
    std::from_chars(s.data() + at, s.data() + at + len, v);
    return v;
  };
  const DateTimeParts p{part(0, 4), part(4, 2), part(6, 2), part(8, 2), part(10, 2), 0, 0};
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31 || p.hour > 23 || p.minute > 59)
    return OleVariant::Null();
  return OleVariant::Date(EncodeDateTime(p));
}

}  // namespace

std::vector<std::string> SplitListing(const std::string& text) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  size_t start = 0;
  for (;;) {
    const size_t bar = text.find('|', start);
    items.push_back(text.substr(start, bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return items;
}

void BuildFileListing(const std::string& names, const std::string& times, const std::string& sizes,
                      TFDMemTable& table) {
  const std::vector<std::string> name_items = SplitListing(names);
  const std::vector<std::string> time_items = SplitListing(times);
  const std::vector<std::string> size_items = SplitListing(sizes);
  if (time_items.size() != name_items.size() || size_items.size() != name_items.size())
    throw EFormatError(fmt::format("Inconsistent listing: {} names, {} times, {} sizes",
                                   name_items.size(), time_items.size(), size_items.size()));
  size_t longest = 1;
  for (const auto& n : name_items) longest = std::max(longest, n.size());
  table.Close();
  table.FieldDefs().Clear();
  table.FieldDefs().Add("name", ftWideString, static_cast<int32_t>(longest));
  table.FieldDefs().Add("size", ftLargeint);
  table.FieldDefs().Add("time", ftDateTime);
  table.CreateDataSet();
  for (size_t i = 0; i < name_items.size(); ++i) {
    table.Append();
    table.SetFieldValue(0, OleVariant(name_items[i]));
    int64_t size = 0;
    table.SetFieldValue(1,
                        ParseNumber(size_items[i], size) ? OleVariant(size) : OleVariant::Null());
    table.SetFieldValue(2, ListingTime(time_items[i]));
    table.Post();
  }
  table.First();
}

}  // namespace velmora
