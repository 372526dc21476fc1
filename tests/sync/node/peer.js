'use strict'
// A Grayjay-like device built on the npm noise-protocol package, for interop
// tests and the speed comparison. Talks to 127.0.0.1 only.
//
//   node peer.js serve   listens; prints {"port","publicKey"}; then one JSON line per event
//   node peer.js bench   prints {"handshakesPerSecond","transportBytesPerSecond"}
//
// The package names the split ciphers as if this side wrote the last handshake
// message with the initiator's orientation: in IK the responder writes it, so
// the responder sends with `rx` and receives with `tx`.

const net = require('net')
const zlib = require('zlib')
const crypto = require('crypto')
const noise = require('noise-protocol')
const cipher = require('noise-protocol/cipher')()
const cipherState = require('noise-protocol/cipher-state')({ cipher })

const VERSION = 5

function u32 (n) { const b = Buffer.alloc(4); b.writeUInt32LE(n >>> 0); return b }

class Reader {
  constructor (socket) {
    this.buffer = Buffer.alloc(0)
    this.waiters = []
    socket.on('data', (d) => { this.buffer = Buffer.concat([this.buffer, d]); this.pump() })
    socket.on('close', () => { this.closed = true; this.pump() })
  }
  pump () {
    while (this.waiters.length) {
      const [n, resolve, reject] = this.waiters[0]
      if (this.buffer.length >= n) {
        this.waiters.shift()
        const out = this.buffer.subarray(0, n)
        this.buffer = this.buffer.subarray(n)
        resolve(out)
      } else if (this.closed) {
        this.waiters.shift()
        reject(new Error('closed'))
      } else return
    }
  }
  read (n) { return new Promise((resolve, reject) => { this.waiters.push([n, resolve, reject]); this.pump() }) }
}

function log (event) { process.stdout.write(JSON.stringify(event) + '\n') }

async function session (socket, keys) {
  const reader = new Reader(socket)
  const version = (await reader.read(4)).readInt32LE(0)
  socket.write(u32(VERSION))
  const total = (await reader.read(4)).readUInt32LE(0)
  const request = await reader.read(total)
  const p = request.readUInt32LE(4)
  let pairingCode = null
  if (p > 0) {
    const n = noise.initialize('N', false, Buffer.alloc(0), keys)
    const out = Buffer.alloc(p)
    noise.readMessage(n, request.subarray(8, 8 + p), out)
    pairingCode = out.subarray(0, noise.readMessage.bytes).toString()
  }
  const hs = noise.initialize('IK', false, Buffer.alloc(0), keys)
  noise.readMessage(hs, request.subarray(8 + p), Buffer.alloc(0))
  const reply = Buffer.alloc(128)
  const split = noise.writeMessage(hs, Buffer.alloc(0), reply)
  const clientKey = Buffer.from(hs.rs).toString('base64')
  noise.destroy(hs)
  socket.write(Buffer.concat([u32(noise.writeMessage.bytes), reply.subarray(0, noise.writeMessage.bytes)]))
  const send = split.rx
  const receive = split.tx
  log({ event: 'handshake', version, pairingCode, clientKey })

  function sendPacket (op, sub, enc, payload) {
    const plain = Buffer.concat([u32(3 + payload.length), Buffer.from([op, sub, enc]), payload])
    const out = Buffer.alloc(plain.length + 16)
    cipherState.encryptWithAd(send, out, Buffer.alloc(0), plain)
    socket.write(Buffer.concat([u32(out.length), out]))
  }
  function sendData (sub, json) { sendPacket(4, sub, 1, zlib.gzipSync(Buffer.from(json), { level: 6 })) }
  function sendAuthorized () {
    const id = Buffer.from(crypto.randomUUID())
    const name = Buffer.from('Node phone')
    sendPacket(2, 0, 0, Buffer.concat([Buffer.from([id.length]), id, Buffer.from([name.length]), name]))
  }

  for (;;) {
    let length
    try { length = (await reader.read(4)).readUInt32LE(0) } catch (e) { log({ event: 'closed' }); return }
    const frame = await reader.read(length)
    const plain = Buffer.alloc(length - 16)
    cipherState.decryptWithAd(receive, plain, Buffer.alloc(0), frame)
    const op = plain[4]; const sub = plain[5]; const enc = plain[6]
    let payload = plain.subarray(7)
    if (op === 4 && enc === 1) payload = zlib.gunzipSync(payload)
    if (op === 2 && sub === 0) {
      const n = payload[0]
      const name = payload.subarray(2 + n, 2 + n + payload[1 + n]).toString()
      const id = payload.subarray(1, 1 + n).toString()
      log({ event: 'authorized', id, name })
      sendPing()
      sendAuthorized()
    } else if (op === 4 && sub === 150) {
      log({ event: 'state', json: JSON.parse(payload.toString()) })
      sendData(202, JSON.stringify({
        subscriptions: [{ channel: { id: { platform: 'YouTube', value: 'UCnode' }, name: 'Node', url: 'https://www.youtube.com/channel/UCnode', thumbnail: null }, creationTime: 1 }],
        subscriptionRemovals: {}
      }))
      sendData(204, '[]')
      sendData(203, JSON.stringify([{ video: { url: 'https://www.youtube.com/watch?v=node1' } }, { video: { url: 'https://www.youtube.com/watch?v=node2' } }]))
    } else if (op === 4 && sub === 202) {
      log({ event: 'subscriptions', json: JSON.parse(payload.toString()) })
    }
  }
  function sendPing () { sendPacket(0, 0, 0, Buffer.alloc(0)) }
}

function serve () {
  const keys = noise.keygen()
  const server = net.createServer((socket) => {
    session(socket, keys).catch((e) => { log({ event: 'error', message: String(e) }); socket.destroy() })
  })
  server.listen(0, '127.0.0.1', () => {
    log({ port: server.address().port, publicKey: Buffer.from(keys.publicKey).toString('base64') })
  })
  process.stdin.on('end', () => process.exit(0))
  process.stdin.resume()
}

function bench () {
  const server = noise.keygen()
  const client = noise.keygen()
  const rounds = Number(process.argv[3] || 300)
  let start = process.hrtime.bigint()
  let split
  for (let i = 0; i < rounds; i++) {
    const a = noise.initialize('IK', true, Buffer.alloc(0), client, null, server.publicKey)
    const b = noise.initialize('IK', false, Buffer.alloc(0), server)
    const m1 = Buffer.alloc(128); const m2 = Buffer.alloc(128)
    noise.writeMessage(a, Buffer.alloc(0), m1)
    noise.readMessage(b, m1.subarray(0, noise.writeMessage.bytes), Buffer.alloc(0))
    split = noise.writeMessage(b, Buffer.alloc(0), m2)
    noise.readMessage(a, m2.subarray(0, noise.writeMessage.bytes), Buffer.alloc(0))
    // Secure buffers are locked memory: release them as a real peer would.
    noise.destroy(a)
    noise.destroy(b)
  }
  const handshakeSeconds = Number(process.hrtime.bigint() - start) / 1e9
  // One frame's worth of plaintext, sealed by one side and opened by the other.
  const sealing = Buffer.from(split.rx)
  const opening = Buffer.from(split.rx)
  const plain = Buffer.alloc(65519, 7)
  const out = Buffer.alloc(65535)
  const back = Buffer.alloc(65519)
  const empty = Buffer.alloc(0)
  const frames = Number(process.argv[4] || 2000)
  start = process.hrtime.bigint()
  for (let i = 0; i < frames; i++) {
    cipherState.encryptWithAd(sealing, out, empty, plain)
    cipherState.decryptWithAd(opening, back, empty, out)
  }
  const transportSeconds = Number(process.hrtime.bigint() - start) / 1e9
  log({ handshakesPerSecond: rounds / handshakeSeconds, transportBytesPerSecond: (frames * plain.length) / transportSeconds })
}

if (process.argv[2] === 'bench') bench(); else serve()
