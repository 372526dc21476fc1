// The official automerge package as the engine's test harness installs it
// (tests/automerge/node), and the plain JSON form of what it reads.
const path = require('node:path');
const { createRequire } = require('node:module');

const harness = path.join(__dirname, '..', '..', 'automerge', 'node', 'package.json');
const A = createRequire(harness)('@automerge/automerge');

// Scalar strings come back as ImmutableString; objects as proxies.
function plain(value) {
  if (value instanceof A.ImmutableString) return value.toString();
  if (value !== null && typeof value === 'object' && !Array.isArray(value)) {
    const out = {};
    for (const key of Object.keys(value)) out[key] = plain(value[key]);
    return out;
  }
  return value;
}

module.exports = { A, plain };
