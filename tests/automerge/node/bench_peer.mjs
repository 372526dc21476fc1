// Benchmark peer: builds an owner history document of N entries with the
// official package the way the history store writes it (owner_history/entries
// maps, each entry the JSON text of its record, one change per entry), writes
// its saved bytes and times the official load and save.
//   node bench_peer.mjs <entries> <out.automerge> <rounds>
// Prints {"load_ms": ..., "save_ms": ...} (medians over the rounds).
import * as A from '@automerge/automerge';
import fs from 'node:fs';

const [entries, out, roundsArg] = process.argv.slice(2);
const n = Number(entries);
const rounds = Number(roundsArg ?? 5);
const owner = 'user:' + '0123456789abcdef'.repeat(4);

const h = A.getBackend(A.init({ actor: '686973746f72792d62656e6368303031' }));
let history = null;
let list = null;
for (let i = 0; i < n; i++) {
  if (history === null) {
    history = h.putObject('_root', 'owner_history', {});
    list = h.putObject(history, 'entries', {});
  }
  const video = 'v' + i.toString(36).padStart(10, '0');
  const ms = 1700000000000 + i * 1000;
  const record = JSON.stringify({ present: true, watched_at_ms: ms, mutation_id: `${owner}:watch:${video}:${ms}` });
  h.put(list, video, record, 'str');
  h.commit(null, Math.floor(ms / 1000));
}
const saved = h.save();
fs.writeFileSync(out, saved);

const median = (xs) => xs.sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const loads = [], saves = [];
for (let r = 0; r < rounds; r++) {
  const t0 = process.hrtime.bigint();
  const loaded = A.getBackend(A.load(saved));
  const t1 = process.hrtime.bigint();
  loaded.save();
  const t2 = process.hrtime.bigint();
  loads.push(Number(t1 - t0) / 1e6);
  saves.push(Number(t2 - t1) / 1e6);
}
console.log(JSON.stringify({ load_ms: median(loads), save_ms: median(saves) }));
