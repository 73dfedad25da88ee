// Prints every row of one table as CSV (binary fields in hex) with the npm
// package mdb-reader, for comparison with the engine's own full scan.
// usage: node mdb_reader_scan.mjs NODE_MODULES_DIR FILE TABLE [PASSWORD]
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

const [modules, file, tableName, password] = process.argv.slice(2);
if (!modules || !file || !tableName) {
  console.error("usage: node mdb_reader_scan.mjs NODE_MODULES_DIR FILE TABLE [PASSWORD]");
  process.exit(2);
}
const dir = join(modules, "mdb-reader");
const pkg = JSON.parse(readFileSync(join(dir, "package.json"), "utf8"));
const entry = pkg.exports?.["."]?.node ?? pkg.main;
const { default: MDBReader } = await import(pathToFileURL(join(dir, entry)).href);

const reader = new MDBReader(readFileSync(file), password ? { password } : {});
const table = reader.getTable(tableName);
const names = table.getColumnNames();

function field(v) {
  if (v === null || v === undefined) return "";
  if (typeof v === "boolean") return v ? "1" : "0";
  if (typeof v === "number" || typeof v === "bigint") return String(v);
  if (v instanceof Date) return '"' + v.toISOString() + '"';
  if (Buffer.isBuffer(v) || v instanceof Uint8Array) return Buffer.from(v).toString("hex").toUpperCase();
  return '"' + String(v).replaceAll('"', '""') + '"';
}

const chunks = [names.join(",") + "\n"];
let size = 0;
let rows = 0;
for (const row of table.getData()) {
  const line = names.map((n) => field(row[n])).join(",") + "\n";
  chunks.push(line);
  size += line.length;
  rows++;
  if (size > 1 << 20) {
    process.stdout.write(chunks.join(""));
    chunks.length = 0;
    size = 0;
  }
}
process.stdout.write(chunks.join(""));
process.stderr.write(`rows ${rows}\n`);
