// Benchmark peer: builds a history-shaped document of N entries with the
// official package (one change per entry, as the history store commits),
// writes its saved bytes and times the official load and save.
//   node bench_peer.mjs <entries> <out.automerge> <rounds>
// Prints {"load_ms": ..., "save_ms": ...} (medians over the rounds).
import * as A from '@automerge/automerge';
import fs from 'node:fs';

const [entries, out, roundsArg] = process.argv.slice(2);
const n = Number(entries);
const rounds = Number(roundsArg ?? 5);

const h = A.getBackend(A.init({ actor: '686973746f72792d62656e6368303031' }));
const map = h.putObject('_root', 'entries', {});
h.commit(null, 1700000000);
for (let i = 0; i < n; i++) {
  const e = h.putObject(map, `video-${i.toString().padStart(6, '0')}`, {});
  h.put(e, 'present', true);
  h.put(e, 'watched_at_ms', 1700000000000 + i * 1000, 'uint');
  h.put(e, 'mutation_id', `user:0123456789abcdef0123456789abcdef:${i}`, 'str');
  h.commit(null, 1700000000 + i);
}
const saved = h.save();
fs.writeFileSync(out, saved);

const median = (xs) => xs.sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const loads = [], saves = [];
let loaded;
for (let r = 0; r < rounds; r++) {
  const t0 = process.hrtime.bigint();
  loaded = A.getBackend(A.load(saved));
  const t1 = process.hrtime.bigint();
  loaded.save();
  const t2 = process.hrtime.bigint();
  loads.push(Number(t1 - t0) / 1e6);
  saves.push(Number(t2 - t1) / 1e6);
}
console.log(JSON.stringify({ load_ms: median(loads), save_ms: median(saves) }));
