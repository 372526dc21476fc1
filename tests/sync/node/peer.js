'use strict'
// A Grayjay-like device built on the npm noise-protocol package, for interop
// tests and the speed comparison. Talks to 127.0.0.1 only.
//
//   node peer.js serve   listens; prints {"port","publicKey"}; then one JSON line per event
//   node peer.js bench [ROUNDS FRAMES SIZES BYTES]
//                        prints {"handshakesPerSecond","cipherBytesPerSecond","transport":{size: bytes/s}}
//
// The package names the split ciphers as if this side wrote the last handshake
// message with the initiator's orientation: in IK the responder writes it, so
// the responder sends with `rx` and receives with `tx`.

const net = require('net')
const zlib = require('zlib')
const crypto = require('crypto')
const { Worker, isMainThread, workerData } = require('worker_threads')
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

// Both ends of one connection's transport phase over 127.0.0.1: a worker
// thread seals and writes Data packets of `size` payload bytes, the main thread
// reads, opens and checks them. Resolves to payload bytes per second.
function transportRun (size, count) {
  const { keys } = benchSplit()
  return new Promise((resolve, reject) => {
    const receive = keys.responderReceive
    const plain = Buffer.allocUnsafe(65535)
    const empty = Buffer.alloc(0)
    let start
    const server = net.createServer((socket) => {
      let chunks = []; let have = 0; let got = 0; let bytes = 0
      socket.on('data', (d) => {
        chunks.push(d); have += d.length
        for (;;) {
          if (have < 4) return
          if (chunks[0].length < 4) chunks = [Buffer.concat(chunks, have)]
          const length = chunks[0].readUInt32LE(0)
          if (have < 4 + length) return
          const all = chunks.length === 1 ? chunks[0] : Buffer.concat(chunks, have)
          cipherState.decryptWithAd(receive, plain, empty, all.subarray(4, 4 + length))
          if (plain.readUInt32LE(0) !== length - 16 - 4 || plain[4] !== 4) { reject(new Error('bad packet')); return }
          bytes += length - 16 - 7
          const rest = all.subarray(4 + length)
          chunks = rest.length ? [rest] : []; have = rest.length
          if (++got === count) {
            const seconds = Number(process.hrtime.bigint() - start) / 1e9
            socket.destroy(); server.close()
            resolve(bytes / seconds)
            return
          }
        }
      })
    })
    server.listen(0, '127.0.0.1', () => {
      start = process.hrtime.bigint()
      const worker = new Worker(__filename, { workerData: { port: server.address().port, send: keys.initiatorSend, size, count } })
      worker.on('error', reject)
    })
  })
}

// The sending end, in its own thread.
function transportSender ({ port, send, size, count }) {
  const sending = Buffer.from(send)
  const empty = Buffer.alloc(0)
  const payload = Buffer.alloc(size, 3)
  const socket = net.connect(port, '127.0.0.1', () => {
    socket.setNoDelay(true)
    let sent = 0
    const pump = () => {
      while (sent < count) {
        const packet = Buffer.allocUnsafe(7 + size)
        packet.writeUInt32LE(3 + size, 0); packet[4] = 4; packet[5] = 202; packet[6] = 0
        payload.copy(packet, 7)
        const frame = Buffer.allocUnsafe(4 + packet.length + 16)
        cipherState.encryptWithAd(sending, frame.subarray(4), empty, packet)
        frame.writeUInt32LE(packet.length + 16, 0)
        sent++
        if (!socket.write(frame)) { socket.once('drain', pump); return }
      }
      socket.end()
    }
    pump()
  })
  socket.on('close', () => process.exit(0))
  socket.on('error', () => process.exit(0))
}

// A finished IK handshake; the transport keys oriented as a peer must use them.
function benchSplit () {
  const server = noise.keygen()
  const client = noise.keygen()
  const a = noise.initialize('IK', true, Buffer.alloc(0), client, null, server.publicKey)
  const b = noise.initialize('IK', false, Buffer.alloc(0), server)
  const m1 = Buffer.alloc(128); const m2 = Buffer.alloc(128)
  noise.writeMessage(a, Buffer.alloc(0), m1)
  noise.readMessage(b, m1.subarray(0, noise.writeMessage.bytes), Buffer.alloc(0))
  const responder = noise.writeMessage(b, Buffer.alloc(0), m2)
  const initiator = noise.readMessage(a, m2.subarray(0, noise.writeMessage.bytes), Buffer.alloc(0))
  const keys = { initiatorSend: Buffer.from(initiator.rx), responderReceive: Buffer.from(responder.tx) }
  noise.destroy(a)
  noise.destroy(b)
  return { keys }
}

async function bench () {
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
  // The bare cipher: one frame's worth of plaintext sealed and opened in one thread.
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
  const cipherSeconds = Number(process.hrtime.bigint() - start) / 1e9
  // The transport phase with the given payload sizes and bytes per size.
  const sizes = (process.argv[5] || '1024,16384,65512').split(',').map(Number)
  const total = Number(process.argv[6] || 64 * 1024 * 1024)
  const transport = {}
  for (const size of sizes) transport[size] = await transportRun(size, Math.max(1, Math.floor(total / size)))
  log({ handshakesPerSecond: rounds / handshakeSeconds, cipherBytesPerSecond: (frames * plain.length) / cipherSeconds, transport })
  process.exit(0)
}

if (!isMainThread) transportSender(workerData)
else if (process.argv[2] === 'bench') bench().catch((e) => { log({ event: 'error', message: String(e) }); process.exit(1) })
else serve()
