// Prints one table of an MDB file as CSV, read by an independent reader, in
// the conventions of `usermgr-db dump`: header row, texts quoted with doubled
// quotes, yes/no as 1/0, dates as YYYY-MM-DD HH:MM:SS, binary as hex.
// usage: node dump_table.mjs FILE [TABLE] [PASSWORD]   (no TABLE: list tables;
// TABLE --all: every user table, each after a line of a form feed and its name)
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, table, password] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file), password ? { password } : {});
if (!table) {
  for (const name of reader.getTableNames()) console.log(name);
  process.exit(0);
}
const pad = (n, w = 2) => String(n).padStart(w, "0");
function cell(v, type) {
  if (v === null || v === undefined) return "";
  if (typeof v === "boolean") return v ? "1" : "0";
  if (v instanceof Date) {
    return `${pad(v.getUTCFullYear(), 4)}-${pad(v.getUTCMonth() + 1)}-${pad(v.getUTCDate())} ` +
      `${pad(v.getUTCHours())}:${pad(v.getUTCMinutes())}:${pad(v.getUTCSeconds())}`;
  }
  if (Buffer.isBuffer(v) || v instanceof Uint8Array) return Buffer.from(v).toString("hex").toUpperCase();
  if (type === "text" || type === "memo") return '"' + String(v).replaceAll('"', '""') + '"';
  return String(v);
}
function dump(name) {
  const t = reader.getTable(name);
  const columns = t.getColumns();
  const lines = [columns.map((c) => c.name).join(",")];
  for (const row of t.getData()) lines.push(columns.map((c) => cell(row[c.name], c.type)).join(","));
  process.stdout.write(lines.join("\n") + "\n");
}
if (table === "--all") {
  for (const name of reader.getTableNames()) {
    process.stdout.write("\f" + name + "\n");
    dump(name);
  }
} else {
  dump(table);
}
