// Reference peer for the automerge engine tests, run on the official package.
//
//   node harness.mjs build <scenarios.json> <outdir>
//       Plays every scenario on the official package and writes, per scenario,
//       <name>.automerge (save), <name>.changes (every change chunk, in
//       history order) and <name>.json (the dump of the resulting document).
//   node harness.mjs verify <dir>
//       Loads every <name>.automerge written by the engine under test, checks
//       that it loads (the official loader recomputes every change hash and
//       checks the heads), that its dump equals <name>.json, and that the
//       official package's save of it loads back with the same dump.
//   node harness.mjs dump <file>
//       Prints the dump of one saved document.
import * as A from '@automerge/automerge';
import fs from 'node:fs';
import path from 'node:path';

const hex = (bytes) => Buffer.from(bytes).toString('hex');

function f64Hex(n) {
  const b = Buffer.alloc(8);
  b.writeDoubleLE(n);
  return b.toString('hex');
}

// A scalar in the dump format shared with the C++ tests.
function dumpScalar(type, value) {
  switch (type) {
    case 'str': return { t: 'str', v: value };
    case 'int': return { t: 'int', v: String(value) };
    case 'uint': return { t: 'uint', v: String(value) };
    case 'f64': return { t: 'f64', v: f64Hex(value) };
    case 'boolean': return { t: 'boolean', v: value };
    case 'timestamp': return { t: 'timestamp', v: String(value.getTime()) };
    case 'counter': return { t: 'counter', v: String(value) };
    case 'bytes': return { t: 'bytes', v: hex(value) };
    case 'null': return { t: 'null' };
    default: return { t: 'unknown', v: hex(value ?? []) };
  }
}

const OBJECT_TYPES = new Set(['map', 'list', 'text', 'table']);

function dumpItems(h, all) {
  return all.map((entry) => {
    const [type] = entry;
    if (OBJECT_TYPES.has(type)) return { t: type, id: entry[1], obj: dumpObject(h, entry[1], type) };
    const item = dumpScalar(type, entry[1]);
    item.id = entry[2];
    return item;
  });
}

function dumpObject(h, obj, type) {
  if (type === 'map' || type === 'table') {
    const keys = h.keys(obj);
    const entries = {};
    for (const k of keys) entries[k] = dumpItems(h, h.getAll(obj, k));
    return { type, keys, entries };
  }
  const n = h.length(obj);
  const items = [];
  for (let i = 0; i < n; i++) items.push(dumpItems(h, h.getAll(obj, i)));
  const out = { type, items };
  if (type === 'text') out.text = h.text(obj);
  return out;
}

export function dump(h) {
  return { heads: [...h.getHeads()].sort(), root: dumpObject(h, '_root', 'map') };
}

// Values in scenarios: {"int": "5"}, {"uint": "5"}, {"f64": 1.5}, {"str": "a"},
// {"bool": true}, {"null": null}, {"bytes": "00ff"}, {"counter": "3"},
// {"timestamp": "1700000000000"}.
function scalar(v) {
  const [[kind, x]] = Object.entries(v);
  switch (kind) {
    case 'int': return [Number(x), 'int'];
    case 'uint': return [Number(x), 'uint'];
    case 'f64': return [Number(x), 'f64'];
    case 'str': return [x, 'str'];
    case 'bool': return [x, 'boolean'];
    case 'null': return [null, 'null'];
    case 'bytes': return [Uint8Array.from(Buffer.from(x, 'hex')), 'bytes'];
    case 'counter': return [Number(x), 'counter'];
    case 'timestamp': return [new Date(Number(x)), 'timestamp'];
    default: throw new Error(`unknown value kind ${kind}`);
  }
}

function resolve(h, p) {
  let obj = '_root';
  for (const step of p) {
    const v = h.getAll(obj, step);
    const last = v[v.length - 1];
    if (!last || !OBJECT_TYPES.has(last[0])) throw new Error(`path ${JSON.stringify(p)} is not an object`);
    obj = last[1];
  }
  return obj;
}

const EMPTY = { map: {}, list: [], text: '' };

function applyOp(h, op) {
  const [kind, p, ...rest] = op;
  const obj = resolve(h, p);
  switch (kind) {
    case 'put': { const [key, v] = rest; const [x, dt] = scalar(v); h.put(obj, key, x, dt); break; }
    case 'obj': { const [key, type] = rest; h.putObject(obj, key, EMPTY[type]); break; }
    case 'del': h.delete(obj, rest[0]); break;
    case 'insert': { const [index, v] = rest; const [x, dt] = scalar(v); h.insert(obj, index, x, dt); break; }
    case 'insert_obj': { const [index, type] = rest; h.insertObject(obj, index, EMPTY[type]); break; }
    case 'splice': { const [index, del, text] = rest; h.splice(obj, index, del, text); break; }
    case 'inc': { const [key, by] = rest; h.increment(obj, key, by); break; }
    case 'mark': { const [start, end, name, v] = rest; const [x] = scalar(v); h.mark(obj, { start, end, expand: 'both' }, name, x); break; }
    default: throw new Error(`unknown op ${kind}`);
  }
}

export function play(scenario) {
  const docs = {};
  for (const step of scenario.steps) {
    if (step.doc) {
      docs[step.doc] = A.getBackend(A.init({ actor: step.actor }));
    } else if (step.fork) {
      docs[step.fork] = docs[step.from].fork(step.actor);
    } else if (step.change) {
      // A repeated change substitutes its index for {i} and adds it to the time.
      const h = docs[step.change];
      const times = step.repeat ?? 1;
      for (let i = 0; i < times; i++) {
        const ops = step.repeat === undefined ? step.ops : JSON.parse(JSON.stringify(step.ops).replaceAll('{i}', String(i)));
        for (const op of ops) applyOp(h, op);
        h.commit(step.message ?? null, step.time + (step.repeat === undefined ? 0 : i));
      }
    } else if (step.merge) {
      docs[step.merge].merge(docs[step.from]);
    } else {
      throw new Error(`unknown step ${JSON.stringify(step)}`);
    }
  }
  return docs[scenario.result];
}

function build(scenarioFile, outdir) {
  const scenarios = JSON.parse(fs.readFileSync(scenarioFile, 'utf8'));
  fs.mkdirSync(outdir, { recursive: true });
  for (const s of scenarios) {
    const h = play(s);
    fs.writeFileSync(path.join(outdir, `${s.name}.automerge`), h.save());
    fs.writeFileSync(path.join(outdir, `${s.name}.changes`), Buffer.concat(h.getChanges([]).map((c) => Buffer.from(c))));
    fs.writeFileSync(path.join(outdir, `${s.name}.json`), JSON.stringify(dump(h)) + '\n');
  }
}

// Compares two dumps; object members may come in any order (arrays keep theirs).
function canonical(v) {
  if (Array.isArray(v)) return v.map(canonical);
  if (v && typeof v === 'object') return Object.fromEntries(Object.keys(v).sort().map((k) => [k, canonical(v[k])]));
  return v;
}
function same(a, b) { return JSON.stringify(canonical(a)) === JSON.stringify(canonical(b)); }
const clip = (v) => { const s = JSON.stringify(v); return s.length > 1500 ? s.slice(0, 1500) + '...' : s; };

function verify(dir) {
  let failed = 0, checked = 0;
  for (const f of fs.readdirSync(dir).sort()) {
    if (!f.endsWith('.automerge')) continue;
    const name = f.slice(0, -'.automerge'.length);
    const expected = JSON.parse(fs.readFileSync(path.join(dir, `${name}.json`), 'utf8'));
    checked++;
    try {
      const h = A.getBackend(A.load(fs.readFileSync(path.join(dir, f))));
      const got = dump(h);
      if (!same(got, expected)) {
        failed++;
        console.error(`${name}: dump differs\n got ${clip(got)}\nwant ${clip(expected)}`);
        continue;
      }
      const again = A.getBackend(A.load(h.save()));
      if (!same(dump(again), expected)) { failed++; console.error(`${name}: official re-save differs`); }
    } catch (e) {
      failed++;
      console.error(`${name}: official load failed: ${e}`);
    }
  }
  console.log(`verified ${checked} documents, ${failed} failed`);
  if (checked === 0 || failed > 0) process.exit(1);
}

const [cmd, ...args] = process.argv.slice(2);
if (cmd === 'build') build(args[0], args[1]);
else if (cmd === 'verify') verify(args[0]);
else if (cmd === 'dump') console.log(JSON.stringify(dump(A.getBackend(A.load(fs.readFileSync(args[0]))))));
else if (cmd !== undefined) { console.error(`unknown command ${cmd}`); process.exit(2); }
