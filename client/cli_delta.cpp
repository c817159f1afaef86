// velmora-cli apply and call: a JSON change file turned into a delta of the table's current rows,
// and a stored procedure called with typed parameters.
#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "client/cli_commands.h"
#include "client/cli_param_value.h"
#include "client/delta_edit.h"
#include "codec/packets.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "variant/name_fold.h"

namespace velmora::cli {
namespace {

using nlohmann::json;

// --- apply ---

// A key column's value as text for matching (NULL apart from every text).
std::string KeyText(const json& v) {
  if (v.is_null()) return std::string("\0N", 2);
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "True" : "False";
  return v.dump();
}

std::string RowKeyText(TDataSet& rows, const std::vector<int>& keys) {
  std::string text;
  for (int k : keys) {
    text += rows.FieldIsNull(k) ? std::string("\0N", 2) : rows.Fields(k).AsString();
    text += '\x1f';
  }
  return text;
}

std::string ObjectKeyText(const json& object, const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += KeyText(object.at(name)) + '\x1f';
  return text;
}

// "ID=7, CODE=a": the key of a change for messages.
std::string KeyLabel(const json& object, const std::vector<std::string>& names) {
  std::string label;
  for (const std::string& name : names) {
    if (!label.empty()) label += ", ";
    label += name + "=" + object.at(name).dump();
  }
  return label;
}

OleVariant ValueOf(const json& v) {
  if (v.is_null()) return OleVariant::Null();
  if (v.is_boolean()) return OleVariant(v.get<bool>());
  if (v.is_number_integer()) return OleVariant(v.get<int64_t>());
  if (v.is_number_unsigned()) return OleVariant(static_cast<int64_t>(v.get<uint64_t>()));
  if (v.is_number()) return OleVariant(v.get<double>());
  if (v.is_string()) return OleVariant(v.get<std::string>());
  throw ECommandFailed("Column values must be null, booleans, numbers or texts: " + v.dump());
}

// The change file, checked: a non-empty key list; insert, update and delete lists of objects;
// every update and delete object gives every key column.
struct ChangeFile {
  std::vector<std::string> key;
  json inserts = json::array(), updates = json::array(), deletes = json::array();
};

ChangeFile ReadChangeFile(const std::string& file, const std::string& text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    throw ECommandFailed(fmt::format("{}: not a JSON change file: {}", file, e.what()));
  }
  if (!doc.is_object()) throw ECommandFailed(file + ": the change file must be a JSON object");
  ChangeFile c;
  const json& key = doc.contains("key") ? doc["key"] : json();
  if (!key.is_array() || key.empty())
    throw ECommandFailed(file + ": \"key\" must list the key columns");
  for (const json& k : key) {
    if (!k.is_string() || k.get<std::string>().empty())
      throw ECommandFailed(file + ": \"key\" must list column names");
    c.key.push_back(k.get<std::string>());
  }
  for (const char* what : {"insert", "update", "delete"}) {
    if (!doc.contains(what)) continue;
    const json& list = doc[what];
    if (!list.is_array())
      throw ECommandFailed(fmt::format("{}: \"{}\" must be a list", file, what));
    for (size_t i = 0; i < list.size(); ++i) {
      if (!list[i].is_object())
        throw ECommandFailed(fmt::format("{}: {} {} is not an object", file, what, i + 1));
      if (what[0] == 'i') continue;
      for (const std::string& k : c.key) {
        if (!list[i].contains(k))
          throw ECommandFailed(fmt::format("{}: {} {} lacks key column {}", file, what, i + 1, k));
      }
    }
    (what[0] == 'i' ? c.inserts : what[0] == 'u' ? c.updates : c.deletes) = list;
  }
  for (const auto& [name, value] : doc.items()) {
    if (name != "key" && name != "insert" && name != "update" && name != "delete")
      throw ECommandFailed(fmt::format("{}: unknown entry \"{}\"", file, name));
  }
  return c;
}

std::string SqlLiteral(const json& v) {
  if (v.is_null()) return "NULL";
  if (v.is_boolean()) return v.get<bool>() ? "1" : "0";
  if (v.is_number()) return v.dump();
  if (!v.is_string())
    throw ECommandFailed("A key value must be null, a boolean, a number or a text");
  std::string out = "'";
  for (char ch : v.get<std::string>()) {
    if (ch == '\'') out += '\'';
    out += ch;
  }
  return out + "'";
}

// The current rows of the keys the updates and deletes name (none: the table's structure only).
std::string CurrentRowsSql(const std::string& table, const ChangeFile& c) {
  std::string where;
  for (const json* list : {&c.updates, &c.deletes}) {
    for (const json& object : *list) {
      std::string term;
      for (const std::string& k : c.key) {
        if (!term.empty()) term += " AND ";
        const json& v = object.at(k);
        term += v.is_null() ? k + " IS NULL" : k + " = " + SqlLiteral(v);
      }
      where += (where.empty() ? "(" : " OR (") + term + ")";
    }
  }
  return fmt::format("SELECT * FROM {} WHERE {}", table, where.empty() ? "1 = 0" : where);
}

void SetColumns(TDataSet& rows, const json& object) {
  for (const auto& [name, value] : object.items()) rows.FieldByName(name).SetValue(ValueOf(value));
}

// --- call ---

bool IsStringType(TFieldType type) {
  return type == ftString || type == ftWideString || type == ftFixedChar || type == ftFixedWideChar;
}

// The output parameters as a table of one row.
void WriteOutputs(Context& ctx, const TParams& outputs) {
  TFDMemTable table;
  for (int i = 0; i < outputs.Count(); ++i) {
    const TFieldType type = outputs[i].DataType == ftUnknown ? ftWideString : outputs[i].DataType;
    const int32_t size =
        IsStringType(type)
            ? std::max<int32_t>(1, static_cast<int32_t>(outputs[i].Value().AsString().size()))
            : 0;
    table.FieldDefs().Add(outputs[i].Name, type, size);
  }
  table.CreateDataSet();
  table.Append();
  for (int i = 0; i < outputs.Count(); ++i) table.Fields(i).SetValue(outputs[i].Value());
  table.Post();
  WriteDataSet(ctx.format, table, ctx.out);
}

}  // namespace

void RunApply(Context& ctx, const std::string& table, const std::string& file) {
  const ChangeFile c = ReadChangeFile(file == "-" ? "standard input" : file, ReadLocalFile(file));
  std::string err;
  TFDMemTable rows;
  // A SELECT of our own making: safe to send again after a lost reply when reads may retry.
  const OleVariant packet =
      ctx.client.SQL2OleVariant(CurrentRowsSql(table, c), err, TCallSafety::ReadOnly);
  if (!err.empty()) throw ECommandFailed(err);
  LoadForEditing(packet, rows);
  try {
    SetKeyFields(rows, c.key);
  } catch (const std::exception& e) {
    throw ECommandFailed(fmt::format("Key column of {}: {}", table, e.what()));
  }
  std::vector<int> keys;
  for (const std::string& k : c.key) keys.push_back(rows.FieldByName(k).Index());

  // Each update and delete must find exactly one current row, before anything is sent.
  std::map<std::string, int> matches;
  std::map<std::string, const json*> changes;
  for (const json* list : {&c.updates, &c.deletes}) {
    for (const json& object : *list) {
      const std::string key = ObjectKeyText(object, c.key);
      if (!changes.emplace(key, &object).second)
        throw ECommandFailed(
            fmt::format("The change file names the row {} twice", KeyLabel(object, c.key)));
      matches[key] = 0;
    }
  }
  for (rows.First(); !rows.Eof(); rows.Next()) {
    if (auto it = matches.find(RowKeyText(rows, keys)); it != matches.end()) ++it->second;
  }
  std::string problems;
  for (const auto& [key, count] : matches) {
    if (count == 1) continue;
    problems += fmt::format("{}The key {} matches {} of {}", problems.empty() ? "" : "\n",
                            KeyLabel(*changes[key], c.key),
                            count == 0 ? "no current row" : fmt::format("{} rows", count), table);
  }
  if (!problems.empty()) throw ECommandFailed(problems);

  try {
    std::map<std::string, bool> is_delete;
    for (const json& object : c.deletes) is_delete[ObjectKeyText(object, c.key)] = true;
    rows.First();
    while (!rows.Eof()) {
      const auto it = changes.find(RowKeyText(rows, keys));
      if (it == changes.end()) {
        rows.Next();
      } else if (is_delete.count(it->first) != 0) {
        changes.erase(it);
        rows.Delete();  // the next row becomes current
        if (changes.empty()) break;
      } else {
        rows.Edit();
        SetColumns(rows, *it->second);
        rows.Post();
        rows.Next();
      }
    }
    for (const json& object : c.inserts) {
      rows.Append();
      SetColumns(rows, object);
      rows.Post();
    }
  } catch (const EDatabaseError& e) {
    throw ECommandFailed(fmt::format("{}: {}", table, e.what()));
  }
  if (rows.ChangeCount() == 0) return;
  ctx.client.ApplyUpdates(rows, table, err);
  if (!err.empty()) throw ECommandFailed(err);
}

void RunCall(Context& ctx, const std::string& proc, const std::vector<std::string>& args) {
  TParams params;
  bool rows = false;
  std::vector<std::string> out_names;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--rows") {
      rows = true;
      continue;
    }
    std::optional<std::string> declared;  // NAME[:TYPE] of an output parameter
    if (a == "--out") {
      if (i + 1 == args.size()) throw EUsage("--out needs NAME[:TYPE]");
      declared = args[++i];
    } else if (a.rfind("--out=", 0) == 0) {
      declared = a.substr(6);
    }
    if (declared) {
      const size_t colon = declared->find(':');
      const std::string name = declared->substr(0, colon);
      TFieldType type = ftUnknown;
      if (colon != std::string::npos) {
        const auto t = ParamTypeFromName(declared->substr(colon + 1));
        if (!t) throw EUsage(fmt::format("Unknown parameter type in --out {}", *declared));
        type = *t;
      }
      if (name.empty()) throw EUsage("--out needs NAME[:TYPE]");
      params.CreateParam(type, name, ptOutput);
      out_names.push_back(name);
      continue;
    }
    const size_t eq = a.find('=');
    if (a.rfind("--", 0) == 0 || eq == std::string::npos || eq == 0)
      throw EUsage(fmt::format("Expected NAME=VALUE, NAME:TYPE=VALUE, --out or --rows: {}", a));
    std::string name = a.substr(0, eq);
    const std::string value = a.substr(eq + 1);
    if (const size_t colon = name.find(':'); colon != std::string::npos) {
      const auto t = ParamTypeFromName(name.substr(colon + 1));
      if (!t) throw EUsage(fmt::format("Unknown parameter type in {}", a));
      name.resize(colon);
      TParam& p = params.CreateParam(*t, name, ptInput);
      p.SetValue(OleVariant(value));  // the server's parameter converts the text to its type
    } else {
      TParam typed = TypedFromValue(name, value);
      TParam& p = params.CreateParam(typed.DataType, name, ptInput);
      p.SetValue(typed.Value());
    }
  }
  // The server never returns an input-output parameter's value after the call, so a name given
  // both ways could not do what is asked.
  for (const std::string& name : out_names) {
    int seen = 0;
    for (int i = 0; i < params.Count(); ++i) seen += NamesEqual(params[i].Name, name);
    if (seen > 1)
      throw EUsage(fmt::format(
          "{} is given as an input and with --out: the server does not return the value of an "
          "input-output parameter; give it as one or the other",
          name));
  }
  std::string err;
  const OleVariant result = ctx.client.StoredProc(proc, params, err, rows);
  if (!err.empty()) throw ECommandFailed(err);
  TParams outputs;
  for (int i = 0; i < params.Count(); ++i) {
    if (params[i].ParamType != ptOutput) continue;
    outputs.CreateParam(params[i].DataType, params[i].Name, ptOutput).SetValue(params[i].Value());
  }
  const bool json_both = ctx.format == OutputFormat::Json && rows && outputs.Count() > 0;
  if (json_both) ctx.out << "{\"outputs\":";
  if (outputs.Count() > 0) WriteOutputs(ctx, outputs);
  if (rows) {
    TFDMemTable table;
    ReadResultPacket(result, table);
    if (json_both) {
      ctx.out << ",\"rows\":";
    } else if (outputs.Count() > 0) {
      ctx.out << '\n';
    }
    WriteDataSet(ctx.format, table, ctx.out);
  }
  if (json_both) ctx.out << "}\n";
}

}  // namespace velmora::cli
