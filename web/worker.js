"use strict";
// The engine's worker: runs the WebAssembly engine and answers the page. The page hands it the
// engine (its script as a blob: address and its code, both fetched once when the page loaded,
// so a new worker after Cancel asks the network for nothing). The chosen File and the patch's
// files (Blobs the page fetched from its own folder) are read only in slices, synchronously
// (FileReaderSync), when the engine asks for bytes: a difference of hundreds of MiB is never
// copied whole into the engine's memory, which stays bounded whatever the sizes. The archive
// an install writes goes into the origin private file system through a synchronous access
// handle, at the positions the engine gives. The page stops a check or an install by ending
// this worker.

let chosen = null;
let patchBlobs = [];
let output = null; // the archive being written: a FileSystemSyncAccessHandle
let readFailed = false;
const reader = new FileReaderSync();
// Where an install's time went (milliseconds and calls), for the benchmark.
let timing = null;
const timed = (what, since) => {
  if (!timing) return;
  const entry = timing[what] || (timing[what] = { ms: 0, calls: 0 });
  entry.ms += performance.now() - since;
  entry.calls += 1;
};
const pending = [];
let ready = false;

// The chosen file and the patch's files are read ahead: every slice costs the browser a round
// trip whatever its size, so reads of a file that go on where its last slice's bytes began or
// ended take ever larger slices (up to `maxAhead`), and what the engine asks for next is copied
// from the last one. A read elsewhere (the headers, a jump) takes just what it asks for. Each
// file keeps its own last slice (the difference is read between the game's blocks), and a file
// chosen anew starts afresh.
const maxAhead = 64 << 20;
const aheads = new WeakMap();

function sliceBytes(blob, offset, length) {
  let ahead = aheads.get(blob) || { offset: 0, bytes: new Uint8Array(0) };
  const at = offset - ahead.offset;
  const last = ahead.bytes.length;
  if (at >= 0 && offset + length <= ahead.offset + last)
    return ahead.bytes.subarray(at, at + length);
  const size = at >= 0 && at <= last && last > 0
    ? Math.min(Math.max(2 * last, length), maxAhead) : 0;
  const wanted = Math.max(length, Math.min(size, blob.size - offset));
  ahead = null;
  aheads.delete(blob);
  stirCollector(last);
  const since = performance.now();
  const bytes = reader.readAsArrayBuffer(blob.slice(offset, offset + wanted));
  timed("read", since);
  if (bytes.byteLength !== wanted) throw new Error("short read");
  aheads.set(blob, { offset, bytes: new Uint8Array(bytes) });
  return new Uint8Array(bytes, 0, length);
}

// A slice read is a buffer that the browser frees only once the collector has found it dead, and
// during one long call of the engine the collector runs only as new objects fill the young
// heap: old slices would pile up by hundreds of MiB between its runs. Short-lived objects in
// proportion to the last slice's size, made once it is let go and before the next is read, let
// the collector free it while it is still young.
let stirred = [];

function stirCollector(bytes) {
  if (bytes < 1 << 20) return;
  stirred = [];
  for (let i = 0; i < bytes / 256; ++i) stirred.push({ i });
}

// Called by the engine (ReadSlice): `length` bytes of the chosen file at `offset` into the
// engine's memory at `pointer`.
self.qvtReadSlice = (offset, length, pointer) => {
  try {
    HEAPU8.set(sliceBytes(chosen, offset, length), pointer);
    return true;
  } catch (error) {
    readFailed = true;
    return false;
  }
};

self.qvtReadPatchSlice = (index, offset, length, pointer) => {
  try {
    HEAPU8.set(sliceBytes(patchBlobs[index], offset, length), pointer);
    return true;
  } catch (error) {
    return false;
  }
};

// Called by the engine (WriteOutput): `length` bytes of its memory at `pointer` into the
// archive at `offset`.
self.qvtWriteOutput = (offset, pointer, length) => {
  try {
    const since = performance.now();
    const written = output.write(HEAPU8.subarray(pointer, pointer + length), { at: offset });
    timed("write", since);
    return written === length;
  } catch (error) {
    return false;
  }
};

// Called by the engine (ReadOutput): the output's bytes at `offset` back into its memory, as a
// CIA's content is read again for its hash.
self.qvtReadOutput = (offset, length, pointer) => {
  try {
    return output.read(HEAPU8.subarray(pointer, pointer + length), { at: offset }) === length;
  } catch (error) {
    return false;
  }
};

// The card image run's scratch files (the patched pack.dat until the RomFS is written): more
// synchronous access handles, by number, written and read at the engine's positions
// (WriteScratch, ReadScratch) and emptied when the engine lets them go.
let scratches = [];
const scratchName = (index) => "scratch-" + index;

self.qvtWriteScratch = (index, offset, pointer, length) => {
  try {
    const bytes = HEAPU8.subarray(pointer, pointer + length);
    return scratches[index].write(bytes, { at: offset }) === length;
  } catch (error) {
    return false;
  }
};

self.qvtReadScratch = (index, offset, length, pointer) => {
  try {
    const bytes = HEAPU8.subarray(pointer, pointer + length);
    return scratches[index].read(bytes, { at: offset }) === length;
  } catch (error) {
    return false;
  }
};

self.qvtClearScratch = (index) => {
  try {
    scratches[index].truncate(0);
  } catch (error) {
    // removed with its handle after the run
  }
};

self.qvtLog = (key, detail) => postMessage({ type: "log", key, detail });
self.qvtStage = (fraction, stage) => postMessage({ type: "stage", fraction, stage });

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

// Calls `name` with `bytes` copied into the engine's memory (pointer and length first, then
// `types`/`values`); the copy is freed after.
function callWithBytes(name, bytes, types, values) {
  const pointer = Module._malloc(Math.max(bytes.byteLength, 1));
  HEAPU8.set(new Uint8Array(bytes), pointer);
  try {
    return call(name, types.slice(0, 3).concat(["number", "number"], types.slice(3)),
      values.slice(0, 3).concat([pointer, bytes.byteLength], values.slice(3)));
  } finally {
    Module._free(pointer);
  }
}

// The track list and music slots for the page's grid (the patch's list, or the embedded one
// when `message.list` is null).
function music(message) {
  if (message.keys) setKeys(message.keys.keyFile, message.keys.seedDb);
  chosen = message.file;
  Module.ccall("QvtOpenSource", null, ["number"], [chosen.size]);
  try {
    const answer = callWithBytes("QvtMusic", message.list || new ArrayBuffer(0),
      ["string", "number", "number", "number", "number"],
      [message.kind, message.decrypt ? 1 : 0, message.infoPosition, message.list ? 1 : 0,
        message.russian ? 1 : 0]);
    postMessage({ type: "music", serial: message.serial, music: answer });
  } finally {
    Module.ccall("QvtCloseSource", null, [], []);
    chosen = null;
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
    // The images the engine's table of output forms offers for this kind of dump.
    identity.outputs = identity.kind ? ["cia", "cci", "zcci"].filter((output) => Module.ccall(
      "QvtOffersOutput", "number", ["string", "string"], ["." + identity.kind, "." + output])) : [];
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

// The date and time of an archive's entries as MS-DOS writes them, in local time.
function dosDateTime(now) {
  return {
    date: ((now.getFullYear() - 1980) << 9) | ((now.getMonth() + 1) << 5) | now.getDate(),
    time: (now.getHours() << 11) | (now.getMinutes() << 5) | (now.getSeconds() >> 1),
  };
}

// Writes the mod folder archive, with `message.output` "cia" the CIA, or with "cci" or "zcci"
// the card image (plain or compressed), `message.name`
// into the origin private file system. A run that does not succeed leaves no file behind, and
// no run leaves its scratch file; what a run the page ends was writing is removed by the page.
async function install(message) {
  const root = await navigator.storage.getDirectory();
  let result;
  try {
    if (message.keys) {
      const answer = setKeys(message.keys.keyFile, message.keys.seedDb);
      if (answer.problem) throw new Error(answer.problem);
    }
    const handle = await root.getFileHandle(message.name, { create: true });
    output = await handle.createSyncAccessHandle();
    output.truncate(0);
    chosen = message.file;
    readFailed = false;
    Module.ccall("QvtOpenSource", null, ["number"], [chosen.size]);
    patchBlobs = message.patch.map((file) => file.blob);
    for (const file of message.patch)
      Module.ccall("QvtAddPatchFile", null, ["string", "number"], [file.path, file.blob.size]);
    const plan = message.music;
    const answer = plan ? callWithBytes("QvtSetMusic", plan.list || new ArrayBuffer(0),
      ["string", "number", "number", "number", "number", "string"],
      [message.kind, message.decrypt ? 1 : 0, plan.infoPosition, plan.list ? 1 : 0,
        message.russian ? 1 : 0, plan.choices]) : {};
    const types = ["string", "number", "string", "number", "string", "string", "number"];
    const values = [message.kind, message.decrypt ? 1 : 0, message.description,
      message.russian ? 1 : 0, message.packDat || "", message.packInc || "", message.voice || 0];
    if (answer.status) {
      result = { succeeded: false, errorKey: answer.status };
    } else if (message.output !== "zip") {
      // The patched pack.dat; for a compressed image, the card image it is made from too.
      for (let index = 0; index < (message.output === "zcci" ? 2 : 1); ++index) {
        const file = await root.getFileHandle(scratchName(index), { create: true });
        scratches.push(await file.createSyncAccessHandle());
        scratches[index].truncate(0);
      }
      result = message.output === "cia" ? call("QvtInstallCia", types, values)
        : call("QvtInstallCardImage", [...types, "number"],
          [...values, message.output === "zcci" ? 1 : 0]);
    } else {
      const stamp = dosDateTime(new Date());
      timing = {};
      const since = performance.now();
      result = call("QvtInstallModFolder", [...types, "number", "number"],
        [...values, stamp.date, stamp.time]);
      timed("engine", since);
    }
    const since = performance.now();
    output.flush();
    timed("flush", since);
  } catch (error) {
    result = { succeeded: false, errorKey: "WebStorageFailed", detail: String(error.message || error) };
  } finally {
    if (output) output.close();
    output = null;
    for (const scratch of scratches) scratch.close();
    Module.ccall("QvtClearPatch", null, [], []);
    Module.ccall("QvtClearMusic", null, [], []);
    Module.ccall("QvtCloseSource", null, [], []);
    chosen = null;
    patchBlobs = [];
  }
  result.readFailed = readFailed;
  result.heapBytes = HEAPU8.length;
  result.timing = timing;
  timing = null;
  const names = scratches.map((scratch, index) => scratchName(index));
  scratches = [];
  if (!result.succeeded) names.push(message.name);
  for (const name of names) {
    try {
      await root.removeEntry(name);
    } catch (error) {
      // none was made
    }
  }
  postMessage({ type: "installed", result });
}

function handle(message) {
  if (message.type === "check") check(message.file, message.keys, message.patches);
  else if (message.type === "install") install(message);
  else if (message.type === "music") music(message);
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
