// The client's edit path for UpdateOleVariant: a result packet of SQL2OleVariant loaded into a
// memory table with the change log on, rows edited, inserted and deleted locally, and the table
// with its change log saved into a delta packet (codec's WriteDeltaPacket) to send.
//
//   TFDMemTable rows;
//   LoadForEditing(client.SQL2OleVariant("SELECT * FROM T", err), rows);
//   SetKeyFields(rows, {"ID"});
//   rows.Locate("ID", int64_t{7}); rows.Edit(); rows.FieldByName("NAME") = OleVariant("x");
//   rows.Post();
//   client.ApplyUpdates(rows, "T", err);  // err: the refused rows' messages, back to back
#pragma once

#include <initializer_list>
#include <span>
#include <string>

#include "data/dataset.h"
#include "data/mem_table.h"
#include "variant/ole_variant.h"

namespace velmora {

// Loads a result packet into `table`, open on its first row, every row unmodified and the change
// log on. Raises what ReadResultPacket raises for a packet that is not a result.
void LoadForEditing(const OleVariant& result_packet, TFDMemTable& table);

// Makes exactly the named fields the key fields of the table's structure: the server finds the
// rows of updates and deletions by them. Raises "Field 'X' not found" (no field changes then).
void SetKeyFields(TDataSet& table, std::span<const std::string> names);
void SetKeyFields(TDataSet& table, std::initializer_list<std::string> names);

}  // namespace velmora
