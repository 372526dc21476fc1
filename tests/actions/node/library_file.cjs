// Reads a shared library document with the official automerge package,
// installed by the engine's test harness (tests/automerge/node), the way any
// other reader of the file sees it: the winning values only.
//
//   node library_file.cjs read <file>    prints the "sarn" map as JSON
const fs = require('node:fs');
const { A, plain } = require('./official_package.cjs');

const [mode, file] = process.argv.slice(2);
if (mode !== 'read') {
  process.stderr.write('usage: library_file.cjs read <file>\n');
  process.exit(2);
}
const doc = A.load(new Uint8Array(fs.readFileSync(file)));
const conflicts = A.getConflicts(doc, 'sarn');
process.stdout.write(JSON.stringify({
  sarn: plain(doc.sarn ?? null),
  copies: conflicts ? Object.keys(conflicts).length : 0,
}));
