"use strict";
// The engine's worker: runs the WebAssembly engine and answers the page. The page hands it the
// engine (its script as a blob: address and its code, both fetched once when the page loaded,
// so a new worker after Cancel asks the network for nothing). The chosen File is read only in
// slices, synchronously (FileReaderSync), when the engine asks for bytes; the page stops a
// check by ending this worker.

let chosen = null;
let readFailed = false;
const reader = new FileReaderSync();
const pending = [];
let ready = false;

// Called by the engine (ReadSlice): `length` bytes of the chosen file at `offset` into the
// engine's memory at `pointer`.
self.qvtReadSlice = (offset, length, pointer) => {
  try {
    const bytes = reader.readAsArrayBuffer(chosen.slice(offset, offset + length));
    if (bytes.byteLength !== length) throw new Error("short read");
    HEAPU8.set(new Uint8Array(bytes), pointer);
    return true;
  } catch (error) {
    readFailed = true;
    return false;
  }
};

self.qvtProgress = (done, total) => {
  postMessage({ type: "progress", done, total });
  return true;
};

function call(name, types, values) {
  return JSON.parse(Module.ccall(name, "string", types, values));
}

// Hands the engine the user's key file and seed database (small files the page read whole);
// answers the engine's {} or {problem}.
function setKeys(keys, seeds) {
  const copy = (bytes) => {
    const pointer = Module._malloc(Math.max(bytes.byteLength, 1));
    HEAPU8.set(new Uint8Array(bytes), pointer);
    return pointer;
  };
  const keyPointer = copy(keys);
  const seedPointer = copy(seeds);
  try {
    return call("QvtSetKeys", ["number", "number", "number", "number"],
      [keyPointer, keys.byteLength, seedPointer, seeds.byteLength]);
  } finally {
    HEAPU8.fill(0, keyPointer, keyPointer + keys.byteLength);
    Module._free(keyPointer);
    Module._free(seedPointer);
  }
}

// The engine's verdict on each of the page's patches for the digests taken, by its key.
function judge(patches, digests, region) {
  const verdicts = {};
  for (const p of patches || [])
    verdicts[p.key] = call("QvtJudgeFit", Array(8).fill("string"), [p.region, p.packDat,
      p.packInc, p.patchedPackDat, p.patchedPackInc, digests.packDat, digests.packInc, region]);
  return verdicts;
}

function check(file, keys, patches) {
  if (keys) {
    const answer = setKeys(keys.keyFile, keys.seedDb);
    if (answer.problem) {
      postMessage({ type: "keys", problem: answer.problem });
      return;
    }
  }
  chosen = file;
  readFailed = false;
  Module.ccall("QvtOpenSource", null, ["number"], [file.size]);
  try {
    const identity = call("QvtIdentify", ["string"], [file.name]);
    identity.readFailed = readFailed;
    postMessage({ type: "identity", identity });
    if (!identity.usable || readFailed) return;
    const digests = call("QvtPackDigests", ["string", "number"],
      [identity.kind, identity.decrypted ? 1 : 0]);
    digests.readFailed = readFailed;
    if (!digests.problem) digests.verdicts = judge(patches, digests, identity.region);
    digests.heapBytes = HEAPU8.length;
    postMessage({ type: "digests", digests });
  } finally {
    Module.ccall("QvtCloseSource", null, [], []);
    chosen = null;
  }
}

function handle(message) {
  if (message.type === "check") check(message.file, message.keys, message.patches);
}

function load(engine) {
  self.Module = {
    wasmBinary: engine.wasm,
    onRuntimeInitialized() {
      ready = true;
      postMessage({ type: "ready" });
      while (pending.length) handle(pending.shift());
    },
  };
  importScripts(engine.script);
}

self.onmessage = (event) => {
  if (event.data.type === "engine") load(event.data);
  else if (ready) handle(event.data);
  else pending.push(event.data);
};
