// Checks owner-local history files against the official automerge package,
// installed by the engine's test harness (tests/automerge/node).
//
//   node history_file.cjs read <file>    prints the history as JSON
//   node history_file.cjs write <file>   writes a history made by the package
const fs = require('node:fs');
const { A, plain } = require('./official_package.cjs');

// A scalar string, as the store writes them (a bare JS string would become
// a text object).
const str = (text) => new A.ImmutableString(text);

const [mode, file] = process.argv.slice(2);
if (mode === 'read') {
  const doc = A.load(new Uint8Array(fs.readFileSync(file)));
  const history = doc.owner_history || {};
  const conflicts = {};
  for (const key of Object.keys(history.entries || {})) {
    const all = A.getConflicts(history.entries, key) || {};
    conflicts[key] = Object.keys(all).length;
  }
  process.stdout.write(JSON.stringify({
    heads: A.getHeads(doc).slice().sort(),
    entries: plain(history.entries || {}),
    clears: plain(history.clears || {}),
    marker: history.legacy_shared_migration_v1 === true,
    conflicts,
  }));
} else if (mode === 'write') {
  let left = A.from({ owner_history: { entries: {}, clears: {} } });
  let right = A.clone(left);
  left = A.change(left, (d) => {
    d.owner_history.entries.abc = str('{"present":true,"watched_at_ms":1000,"mutation_id":"left"}');
    d.owner_history.entries['v\u00e9'] = str('{"mutation_id":"m","watched_at_ms":7,"present":true,"extra":1}');
    d.owner_history.clears.c1 = str('500');
  });
  right = A.change(right, (d) => {
    d.owner_history.entries.abc = str('{"present":true,"watched_at_ms":2000,"mutation_id":"right"}');
    d.owner_history.legacy_shared_migration_v1 = true;
  });
  const merged = A.merge(left, right);
  fs.writeFileSync(file, A.save(merged));
  process.stdout.write(JSON.stringify({ heads: A.getHeads(merged).slice().sort() }));
} else {
  process.stderr.write('usage: history_file.cjs read|write <file>\n');
  process.exit(2);
}
