// Stored procedures on PostgreSQL: the routine is found in pg_proc by name and by the number of
// inputs declared; functions are called as SELECT * FROM f(...), procedures as CALL p(...) with a
// typed NULL in the place of each OUT argument (docs/pg-types.md has the table).
#include <fmt/core.h>

#include <cstdlib>

#include "data/field_family.h"
#include "data/params.h"
#include "db/core/command_text.h"
#include "db/core/db_error.h"
#include "db/pg/pg_command.h"
#include "db/pg/pg_connection.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

struct TArg {
  Oid type = 0;
  std::string type_name;
  char mode = 'i';  // i in, o out, b in-out, v variadic, t a column of RETURNS TABLE
  std::string name;
  bool Input() const { return mode == 'i' || mode == 'b' || mode == 'v'; }
};

struct TRoutine {
  Oid oid = 0;
  char kind = 'f';  // f function, p procedure, a aggregate, w window function
  int defaults = 0;
  std::vector<TArg> args;
  int Inputs() const {
    int n = 0;
    for (const TArg& a : args) n += a.Input() ? 1 : 0;
    return n;
  }
};

// Splits "schema.name", folding unquoted parts to lower case as the server does.
std::vector<std::string> NameParts(std::string_view name) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '"') {
      for (++i; i < name.size(); ++i) {
        if (name[i] == '"') {
          if (i + 1 < name.size() && name[i + 1] == '"') {
            parts.back() += '"';
            ++i;
            continue;
          }
          break;
        }
        parts.back() += name[i];
      }
    } else if (c == '.') {
      parts.emplace_back();
    } else if (!IsBlank(c)) {
      parts.back() += AsciiLower(c);
    }
  }
  return parts;
}

// The family of an argument's type oid, to choose among overloads.
TFieldFamily FamilyOfOid(Oid oid) {
  switch (oid) {
    case 20:
    case 21:
    case 23:
    case 26:
      return TFieldFamily::kInteger;
    case 700:
    case 701:
      return TFieldFamily::kFloat;
    case 790:
    case 1700:
      return TFieldFamily::kDecimal;
    case 25:
    case 1042:
    case 1043:
    case 19:
    case 18:
      return TFieldFamily::kText;
    case 1082:
    case 1083:
    case 1114:
    case 1184:
    case 1266:
      return TFieldFamily::kDateTime;
    case 16:
      return TFieldFamily::kBoolean;
    case 17:
      return TFieldFamily::kBytes;
    default:
      return TFieldFamily::kOther;
  }
}

bool IsNumber(TFieldFamily family) {
  return family == TFieldFamily::kInteger || family == TFieldFamily::kFloat ||
         family == TFieldFamily::kDecimal;
}

// An input fits an argument of its own family, and a number any numeric argument (the server
// converts among them).
bool Fits(TFieldFamily argument, TFieldType input) {
  const TFieldFamily family = FieldFamilyOf(input);
  return family == argument || (IsNumber(family) && IsNumber(argument));
}

std::vector<TRoutine> FindRoutines(TPgConnection& connection, const std::string& schema,
                                   const std::string& name) {
  static constexpr const char* kSql =
      "SELECT p.oid, p.prokind, p.pronargdefaults, a.t, pg_catalog.format_type(a.t, NULL),"
      " COALESCE(p.proargmodes[a.o], 'i'), COALESCE(p.proargnames[a.o], '')"
      " FROM pg_catalog.pg_proc p JOIN pg_catalog.pg_namespace n ON n.oid = p.pronamespace"
      " LEFT JOIN LATERAL unnest(COALESCE(p.proallargtypes, p.proargtypes::pg_catalog.oid[]))"
      " WITH ORDINALITY AS a(t, o) ON true"
      " WHERE p.proname = $1 AND CASE WHEN $2 = '' THEN pg_catalog.pg_function_is_visible(p.oid)"
      " ELSE n.nspname = $2 END ORDER BY p.oid, a.o";
  TPgSendParams params;
  params.values = {name.c_str(), schema.c_str()};
  params.lengths = {0, 0};
  params.formats = {0, 0};
  params.types = {25, 25};
  const TPgResult result = connection.Exec(kSql, params);
  const TLibPq& pq = connection.Api();
  PGresult* r = result.get();
  std::vector<TRoutine> out;
  for (int row = 0; row < pq.ntuples(r); ++row) {
    const auto oid = static_cast<Oid>(std::strtoul(pq.getvalue(r, row, 0), nullptr, 10));
    if (out.empty() || out.back().oid != oid) {
      TRoutine routine;
      routine.oid = oid;
      routine.kind = pq.getvalue(r, row, 1)[0];
      routine.defaults = std::atoi(pq.getvalue(r, row, 2));
      out.push_back(std::move(routine));
    }
    if (pq.getisnull(r, row, 3) != 0) continue;  // no arguments
    TArg arg;
    arg.type = static_cast<Oid>(std::strtoul(pq.getvalue(r, row, 3), nullptr, 10));
    arg.type_name = pq.getvalue(r, row, 4);
    arg.mode = pq.getvalue(r, row, 5)[0];
    arg.name = pq.getvalue(r, row, 6);
    out.back().args.push_back(std::move(arg));
  }
  return out;
}

// The overload taking this many inputs whose argument types fit the inputs' field types best.
const TRoutine* Choose(const std::vector<TRoutine>& routines, const std::vector<TParam*>& inputs) {
  const TRoutine* best = nullptr;
  int best_score = -1;
  const int n = static_cast<int>(inputs.size());
  for (const TRoutine& routine : routines) {
    if (routine.kind != 'f' && routine.kind != 'p') continue;
    if (n > routine.Inputs() || n < routine.Inputs() - routine.defaults) continue;
    int score = 0;
    size_t k = 0;
    for (const TArg& arg : routine.args) {
      if (!arg.Input() || k >= inputs.size()) continue;
      if (Fits(FamilyOfOid(arg.type), inputs[k++]->DataType)) ++score;
    }
    if (score > best_score) {
      best = &routine;
      best_score = score;
    }
  }
  return best;
}

}  // namespace

std::unique_ptr<TDriverCommand> TPgConnection::CreateStoredProc(std::string_view name,
                                                                std::span<TParam* const> params) {
  std::vector<TParam*> inputs, outputs;
  for (TParam* p : params) {
    if (IsInputParam(p->ParamType)) inputs.push_back(p);
    if (IsOutputParam(p->ParamType)) outputs.push_back(p);
  }
  const std::vector<std::string> parts = NameParts(name);
  if (parts.size() > 2 || parts.back().empty()) {
    throw EFDException(fmt::format("Invalid stored procedure name [{}]", name));
  }
  const std::string schema = parts.size() == 2 ? parts[0] : std::string();
  const std::string& proc = parts.back();
  const std::vector<TRoutine> routines = FindRoutines(*this, schema, proc);
  const TRoutine* routine = Choose(routines, inputs);

  std::string qualified =
      schema.empty() ? QuotedSql(proc) : QuotedSql(schema) + "." + QuotedSql(proc);
  std::vector<Oid> types;
  std::string args;
  const auto add = [&args](std::string_view text) {
    if (!args.empty()) args += ", ";
    args.append(text);
  };
  TPgStatement call;
  if (routine == nullptr) {
    // Unknown here (or no overload takes these inputs): the server's own resolution and
    // message ("function ... does not exist") decide.
    for (size_t k = 0; k < inputs.size(); ++k) add(fmt::format("${}", k + 1));
    call.sql = fmt::format("SELECT * FROM {}({})", qualified, args);
    call.returns_rows = true;
  } else {
    // Inputs in declaration order; once one with a default is left out, the arguments after it
    // are named.
    size_t k = 0;
    bool named = false;
    const bool procedure = routine->kind == 'p';
    for (const TArg& arg : routine->args) {
      const std::string prefix = named ? QuotedSql(arg.name) + " => " : "";
      if (arg.Input()) {
        if (k < inputs.size()) {
          types.push_back(arg.type);
          add(fmt::format("{}${}", prefix, ++k));
        } else {
          named = true;
        }
      } else if (procedure && arg.mode == 'o') {
        if (named && arg.name.empty()) break;
        add(fmt::format("{}NULL::{}", named ? QuotedSql(arg.name) + " => " : "", arg.type_name));
      }
    }
    call.sql = procedure ? fmt::format("CALL {}({})", qualified, args)
                         : fmt::format("SELECT * FROM {}({})", qualified, args);
    call.returns_rows = !procedure;
  }
  call.marker_count = inputs.size();
  return std::make_unique<TPgCommand>(*this, std::move(call), std::move(inputs), std::move(types),
                                      std::move(outputs));
}

}  // namespace velmora
