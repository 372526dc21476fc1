'use strict'
// Runs the published Noise_IK_25519_ChaChaPoly_BLAKE2b vector through the npm
// package and shows which of its split ciphers each side must use: the IK
// responder writes the last handshake message, so the package's `tx` of the
// responder is really the initiator-to-responder cipher. Prints one JSON line.

const fs = require('fs')
const path = require('path')
const sodium = require('sodium-native')
const baseDh = require('noise-protocol/dh')()
const cipher = require('noise-protocol/cipher')()
const cipherState = require('noise-protocol/cipher-state')({ cipher })

// The package draws ephemeral keys itself; the vector's are fed in through its
// documented seam for custom algorithms.
const ephemerals = []
const dh = Object.assign({}, baseDh, {
  generateKeypair (pk, sk) {
    const next = ephemerals.shift()
    pk.set(next.publicKey)
    sk.set(next.secretKey)
  }
})
const hash = require('noise-protocol/hash')({ dh })
const symmetricState = require('noise-protocol/symmetric-state')({ hash, cipherState })
const noise = require('noise-protocol/handshake-state')({ dh, hash, cipher, cipherState, symmetricState })

const hex = (s) => Buffer.from(s, 'hex')
function pair (secretHex) {
  const secretKey = hex(secretHex)
  const publicKey = Buffer.alloc(32)
  sodium.crypto_scalarmult_base(publicKey, secretKey)
  return { publicKey, secretKey }
}

const file = process.argv[2] || path.join(__dirname, '..', '..', 'noise', 'cacophony-ik-n.json')
const v = JSON.parse(fs.readFileSync(file)).vectors.find((x) => x.protocol_name === 'Noise_IK_25519_ChaChaPoly_BLAKE2b')
ephemerals.push(pair(v.init_ephemeral), pair(v.resp_ephemeral))
const i = noise.initialize('IK', true, hex(v.init_prologue), pair(v.init_static), null, hex(v.init_remote_static))
const r = noise.initialize('IK', false, hex(v.resp_prologue), pair(v.resp_static))

const m = v.messages
const out = Buffer.alloc(256)
noise.writeMessage(i, hex(m[0].payload), out)
const first = out.subarray(0, noise.writeMessage.bytes).toString('hex')
noise.readMessage(r, hex(m[0].ciphertext), Buffer.alloc(64))
const responderSplit = noise.writeMessage(r, hex(m[1].payload), out)
const second = out.subarray(0, noise.writeMessage.bytes).toString('hex')
const initiatorSplit = noise.readMessage(i, hex(m[1].ciphertext), Buffer.alloc(64))

function seal (state, payload) {
  const copy = Buffer.from(state)
  const sealed = Buffer.alloc(payload.length + 16)
  cipherState.encryptWithAd(copy, sealed, Buffer.alloc(0), payload)
  return sealed.toString('hex')
}
// Message 2 goes initiator -> responder, message 3 responder -> initiator.
const result = {
  handshakeMatches: first === m[0].ciphertext && second === m[1].ciphertext,
  initiatorSendsWithTx: seal(initiatorSplit.tx, hex(m[2].payload)) === m[2].ciphertext,
  initiatorSendsWithRx: seal(initiatorSplit.rx, hex(m[2].payload)) === m[2].ciphertext,
  responderSendsWithTx: seal(responderSplit.tx, hex(m[3].payload)) === m[3].ciphertext,
  responderSendsWithRx: seal(responderSplit.rx, hex(m[3].payload)) === m[3].ciphertext
}
process.stdout.write(JSON.stringify(result) + '\n')
