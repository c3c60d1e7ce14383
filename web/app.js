"use strict";
// The page: interface texts from the program's language files, the patches the page offers
// (index.json, written by scripts/package-web.sh), the check of a chosen dump and the install
// of a mod folder in the engine's worker. Nothing leaves the device: the dump is read in slices
// inside the worker, and the archive it writes stays in the browser's own storage (the origin
// private file system) until the user downloads it from there.

const $ = (id) => document.getElementById(id);

const page = {
  index: null,
  languages: new Map(), // name -> table
  language: "English",
  patches: [], // { folder, descriptions: Map(file name -> tokens), trackList: bytes or null }
  source: null, // the chosen dump
  identity: null,
  digests: null,
  worker: null,
  engine: null, // { worker, script: blob: addresses, wasm: the engine's code }
  busy: false,
  installing: false,
  selected: null, // the folder of the patch to install
  keys: null, // the user's key file and seed database while the page is open
  patchFiles: new Map(), // folder -> [{ path, blob }], fetched at the first install
  download: null, // the object address of the finished archive
  music: null, // the music grid of the chosen patch (see requestMusic)
  musicSerial: 0,
  // The folder output's folder: the browser's picker, or what a test hands the page instead.
  pickFolder: () => window.showDirectoryPicker({ id: "qvtpatch-mods", mode: "readwrite" }),
  output: "zip", // what the install under way writes: "zip", "cia", "cci" or "zcci"
};

// Elements whose text is the language key of their id.
const textKeys = ["WebHeading", "Label0", "WebPrivacy", "Label1", "WebChooseDump", "WebImageKind",
  "WebTitleId", "EncryptedChooseKeys", "WebPatches", "RadioGroup2", "RadioGroup2BTN1",
  "RadioGroup2BTN2", "RadioGroup2BTN3", "BTNMusicChange", "CBShowSame", "MainMenu", "WebOutput",
  "WebOutputModZip", "WebOutputModFolder",
  "WebOutputImageNote", "WebOutputCiaNote", "WebUnpackHeading", "BTNInstallPatch", "WebLog",
  "BTNCancel"];

function text(key) {
  const table = page.languages.get(page.language);
  return table ? table.lookup(key) : key;
}

function log(entry) {
  const memo = $("MemoLog");
  memo.textContent += entry.replace(/\r\n/g, "\n") + "\n";
  memo.scrollTop = memo.scrollHeight;
}

function setStatus(message, error) {
  $("status").textContent = message;
  $("status").classList.toggle("error", !!error);
}

async function fetchBytes(path) {
  const response = await fetch(path);
  if (!response.ok) throw new Error(path + ": " + response.status);
  return response.arrayBuffer();
}

// ---- patches ----

// The fields of the patch's description the page shows.
function describe(patch) {
  const tokens = patch.descriptions.get(describedFile(patch));
  const value = (key) => QvtTokens.valueOf(tokens, key) || "";
  return {
    FitKey: patch.folder + "/" + describedFile(patch),
    Region: value("Region"), Title: value("Title"), Description: value("Description"),
    Version: value("Version"), Homepage: value("Homepage"),
    OriginalPackDatMD5: value("OriginalPackDatMD5"), OriginalPackIncMD5: value("OriginalPackIncMD5"),
    PatchedPackDatMD5: value("PatchedPackDatMD5"), PatchedPackIncMD5: value("PatchedPackIncMD5"),
  };
}

// What the engine is asked of every description of every patch once the digests are taken,
// so that a change of language needs no new question.
function fitQuestions() {
  const questions = [];
  for (const patch of page.patches)
    for (const [name, tokens] of patch.descriptions) {
      const value = (key) => QvtTokens.valueOf(tokens, key) || "";
      questions.push({ key: patch.folder + "/" + name, region: value("Region"),
        packDat: value("OriginalPackDatMD5"), packInc: value("OriginalPackIncMD5"),
        patchedPackDat: value("PatchedPackDatMD5"), patchedPackInc: value("PatchedPackIncMD5") });
    }
  return questions;
}

// What to tell the user of a patch that does not fit, from the engine's verdict.
function fitExplanation(verdict) {
  if (!verdict.explanation) return "";
  let explanation = text(verdict.explanation);
  if (verdict.explanation !== "PatchDoesNotFit") return explanation;
  explanation = explanation.replace("%1", verdict.region);
  const line = text("PatchDigestLine");
  for (const digest of verdict.lines)
    explanation += "\n" + line.replace("%1", digest.file).replace("%2", digest.found)
      .replace("%3", digest.wanted.toUpperCase());
  return explanation;
}

function renderPatches() {
  const list = $("patchList");
  list.textContent = "";
  let firstFitting = null;
  let selectedShown = false;
  const region = page.identity && page.identity.usable ? page.identity.region : "";
  let shown = 0;
  for (const patch of page.patches) {
    const d = describe(patch);
    if (region && d.Region && d.Region !== region) continue;
    const item = document.createElement("li");
    item.dataset.folder = patch.folder;
    const title = document.createElement("span");
    title.className = "title";
    title.textContent = d.Version ? d.Title + " (" + d.Version + ")" : d.Title;
    item.append(title);
    const verdict = page.digests && page.digests.verdicts && page.digests.verdicts[d.FitKey];
    if (verdict) {
      const fit = verdict.fit;
      item.classList.add(fit);
      item.dataset.fit = fit;
      if (fit === "fits") {
        item.classList.add("selectable");
        item.onclick = () => {
          page.selected = patch.folder;
          renderPatches();
        };
        if (!firstFitting) firstFitting = patch.folder;
        if (page.selected === patch.folder) selectedShown = true;
      }
      const mark = document.createElement("span");
      mark.className = "mark";
      mark.textContent = text(verdict.mark);
      item.append(mark);
      const why = fitExplanation(verdict);
      if (why) {
        const detail = document.createElement("p");
        detail.className = "detail explanation";
        detail.textContent = why;
        item.append(detail);
      }
    }
    const description = document.createElement("p");
    description.className = "detail";
    description.textContent = d.Description;
    item.append(description);
    if (/^https?:\/\//i.test(d.Homepage)) {
      const link = document.createElement("a");
      link.href = d.Homepage;
      link.rel = "noopener noreferrer";
      link.target = "_blank";
      link.textContent = d.Homepage;
      item.append(link);
    }
    list.append(item);
    ++shown;
  }
  if (!shown) {
    const item = document.createElement("li");
    item.textContent = text("WebNoPatches");
    list.append(item);
  }
  // The first fitting patch is chosen unless the user chose another that fits.
  if (!selectedShown) page.selected = firstFitting;
  for (const item of list.children)
    item.classList.toggle("selected", !!page.selected && item.dataset.folder === page.selected);
  // The voices are chosen only for a patch that brings them, as in the program's window.
  $("voices").hidden = !offersVoices(page.selected);
  requestMusic();
  updateInstall();
}

// Whether the patch in `folder` has a voice folder (in any letter case) with files in it.
function offersVoices(folder) {
  const entry = folder && page.index.patches.find((patch) => patch.folder === folder);
  return !!entry && entry.files.some((path) => path.toLowerCase().startsWith("voice/"));
}

// The chosen voice: 0 English, 1 Japanese with gaps filled, 2 Japanese as released.
function chosenVoice() {
  const checked = document.querySelector("input[name=voice]:checked");
  return checked ? Number(checked.value) : 0;
}

// Where the archive goes, per device, with the game's title ID when it is known.
function renderUnpack() {
  const list = $("unpackList");
  list.textContent = "";
  const id = (page.identity && page.identity.titleId) || "<TitleID>";
  for (const key of ["WebUnpackAndroid", "WebUnpackDesktop", "WebUnpackConsole"]) {
    const item = document.createElement("li");
    item.textContent = text(key).replace(/%1/g, id);
    list.append(item);
  }
}

// The output chosen: "zip" (the mod folder), "cia" (from any dump), "cci" or "zcci" (a card
// image, plain or compressed, from a card image only): the images the engine offers.
function chosenOutput() {
  // While a dump is checked the choice stays as it is.
  for (const image of [$("outputCia"), $("outputCci"), $("outputZcci")]) {
    if (!page.identity) break;
    image.disabled = !(page.identity.outputs || []).includes(image.value);
    if (image.disabled && image.checked) $("outputModZip").checked = true;
  }
  const output = document.querySelector("input[name=outputKind]:checked").value;
  $("unpack").hidden = output !== "zip" || $("outputModFolder").checked;
  return output;
}

function updateInstall() {
  chosenOutput();
  $("BTNInstallPatch").disabled = page.busy || !page.digests || !page.selected;
}

// ---- music ----
//
// The grid of the desktop's music window as a list that fits a phone: the game selection menu,
// then each scene's group with its three games, every scene offering the tracks of its group
// (or all of them). It starts from the image's own assignment, read again for each patch (a
// patch may bring its own track list); only an assignment the user changed goes into the run.

const musicGames = ["Veridane 1 (2001)", "Veridane 2 (2002)", "Veridane 3 (2004)"];
const menuSlot = 33;
// Slots 10 and 11 share one place in the sound archive: they always show the same track.
const sharedSlots = [10, 11];

// The patch's own track list file, by its name in any letter case at the folder's top.
function trackListFile(folder) {
  const entry = folder && page.index.patches.find((patch) => patch.folder === folder);
  return entry && entry.files.find((path) => path.toLowerCase() === "tracklist.tls");
}

// Asks the worker for the grid of the selected patch once the dump is checked; an answer for
// an earlier dump or patch is dropped.
function requestMusic() {
  const folder = page.selected;
  if (!page.digests || !folder) {
    page.music = null;
    $("music").hidden = true;
    return;
  }
  if (page.music && page.music.folder === folder) return;
  const serial = ++page.musicSerial;
  const list = page.patches.find((patch) => patch.folder === folder).trackList;
  page.music = { folder, serial, pending: true, list };
  page.worker.postMessage({ type: "music", serial, file: page.source,
    keys: page.identity.decrypted ? page.keys : null, kind: page.identity.kind,
    decrypt: page.identity.decrypted, infoPosition: page.identity.infoPosition ?? -1, list,
    russian: (navigator.language || "").toLowerCase().startsWith("ru") });
}

function onMusic(serial, answer) {
  if (!page.music || serial !== page.music.serial) return;
  const music = page.music;
  music.pending = false;
  music.status = answer.status;
  if (answer.status === "Ok") {
    music.tracks = answer.tracks;
    music.slots = answer.slots;
    music.groups = answer.groups;
    // Each slot's track by its index in the list; -1 keeps what the image holds.
    music.choice = answer.slots.map((slot) => answer.tracks.findIndex((t) => t.title === slot));
    music.changed = false;
  }
  renderMusic();
}

// The options of one scene: the tracks of its group (all for the menu, or when the user asks
// for all), and whatever it holds now even when that is not among them.
function fillSlot(select, slot, group) {
  const music = page.music;
  const showSame = $("showSame").checked && slot !== menuSlot;
  const chosen = music.choice[slot];
  select.textContent = "";
  if (chosen < 0) select.append(new Option(music.slots[slot], "-1"));
  music.tracks.forEach((track, index) => {
    if (!showSame || track.group === group || index === chosen)
      select.append(new Option(track.title, String(index)));
  });
  select.value = String(chosen);
}

function renderMusic() {
  const music = page.music;
  $("music").hidden = !music || music.pending;
  if (!music || music.pending) return;
  const ok = music.status === "Ok";
  $("musicProblem").hidden = ok;
  $("musicProblem").textContent = ok ? "" : text(music.status);
  $("musicGrid").hidden = !ok;
  if (!ok) return;
  fillSlot(document.querySelector("#musicGrid select[data-slot='33']"), menuSlot, 0);
  const rows = $("musicRows");
  rows.textContent = "";
  music.groups.forEach((name, g) => {
    const row = document.createElement("li");
    const heading = document.createElement("h3");
    heading.textContent = name;
    row.append(heading);
    musicGames.forEach((game, column) => {
      const slot = g * 3 + column;
      const label = document.createElement("label");
      label.className = "slot";
      const caption = document.createElement("span");
      caption.textContent = game;
      const select = document.createElement("select");
      select.dataset.slot = slot;
      fillSlot(select, slot, g + 1);
      label.append(caption, select);
      row.append(label);
    });
    rows.append(row);
  });
}

function chooseTrack(select) {
  const music = page.music;
  const slot = Number(select.dataset.slot);
  const index = Number(select.value);
  const slots = sharedSlots.includes(slot) ? sharedSlots : [slot];
  for (const s of slots) music.choice[s] = index;
  music.changed = true;
  if (slots.length > 1) renderMusic();
}

// What the run needs of the user's assignment; null when the music stays as it is.
function musicPlan() {
  const music = page.music;
  if (!music || music.pending || music.status !== "Ok" || !music.changed) return null;
  return { infoPosition: page.identity.infoPosition, list: music.list,
    choices: music.choice.join(",") };
}

// ---- language ----

function applyTexts() {
  for (const key of textKeys) $(key).textContent = text(key);
  // The window's name for the form, with the file's extension.
  $("outputCiaText").textContent = text("Console") + " (CFW) (.cia)";
  $("outputCciText").textContent = text("CardImage") + " (.cci)";
  $("outputZcciText").textContent = text("EmulatorCompressed") + " (.zcci)";
  document.title = text("WebHeading");
  document.documentElement.lang = page.language === "Русский" ? "ru" : "en";
  renderPatches();
  renderUnpack();
  renderMusic();
}

// ---- the check ----

// The worker, its engine script and the engine's code are fetched once, when the page loads;
// a worker started again after Cancel is made from memory.
async function loadEngine() {
  const blob = async (path) =>
    URL.createObjectURL(new Blob([await fetchBytes(path)], { type: "text/javascript" }));
  page.engine = { worker: await blob("worker.js"), script: await blob("engine.js"),
    wasm: await fetchBytes("engine.wasm") };
}

function startWorker() {
  page.worker = new Worker(page.engine.worker);
  page.worker.postMessage({ type: "engine", script: page.engine.script, wasm: page.engine.wasm });
  page.worker.onmessage = (event) => onWorker(event.data);
  page.worker.onerror = (event) => {
    finish();
    log(text("FitCheckFailed") + " " + (event.message || "worker"));
  };
}

function finish() {
  page.busy = false;
  page.installing = false;
  $("BTNCancel").disabled = true;
  $("sourceFile").disabled = false;
  $("ProgressBar1").value = 0;
  updateInstall();
}

function onIdentity(identity) {
  page.identity = identity;
  const shown = $("identity");
  shown.hidden = !identity.kind;
  $("imageKind").textContent = identity.form || "";
  $("titleId").textContent = identity.titleId || "";
  $("productCode").textContent = identity.productCode || "";
  $("region").textContent = identity.region || "";
  if (identity.readFailed) {
    log(text("WebReadFailed"));
    setStatus(text("WebReadFailed"), true);
    return finish();
  }
  if (identity.kind && identity.kindByContent) log(text("LogKindByContent") + " " + identity.form);
  if (identity.errorKey && !identity.productCode) {
    const message = text(identity.errorKey);
    log(identity.problem && identity.errorKey === "ErrorCompressedImage"
      ? message + "\r\n" + identity.problem : message);
    setStatus(message, true);
    renderPatches();
    return finish();
  }
  if (identity.encrypted) {
    if (identity.keyProblem) log(text("LogEncryptedKeyProblem") + " " + identity.keyProblem);
    log(text("WebEncryptedKeyFile"));
    log(text("LogEncryptedGodMode9"));
    setStatus(text("WebEncryptedKeyFile"), true);
    $("keys").hidden = false;
    return finish();
  }
  if (identity.decrypted) log(text("LogEncryptedWillDecrypt"));
  log((identity.kind === "cia" ? "Product Code: " : "ProductCode: ") + identity.productCode);
  if (!identity.usable) {
    log(text(identity.errorKey || "ErrorWrongROM"));
    setStatus(text(identity.errorKey || "ErrorWrongROM"), true);
    renderPatches();
    return finish();
  }
  log("ROM Region: " + identity.region);
  renderPatches();
  renderUnpack();
}

function onWorker(message) {
  if (message.type === "identity") onIdentity(message.identity);
  else if (message.type === "log") {
    if (!message.key) log(message.detail);
    else log(message.detail ? text(message.key) + "\r\n" + message.detail : text(message.key));
  } else if (message.type === "stage") {
    $("ProgressBar1").value = Math.floor(message.fraction * 100);
    setStatus(text(message.stage));
  } else if (message.type === "installed") onInstalled(message.result);
  else if (message.type === "music") onMusic(message.serial, message.music);
  else if (message.type === "keys") {
    log(text("LogEncryptedKeyProblem") + " " + message.problem);
    setStatus(text("LogEncryptedKeyProblem") + " " + message.problem, true);
    $("keys").hidden = false;
    finish();
  }
  else if (message.type === "progress") {
    const percent = message.total ? Math.floor((message.done * 100) / message.total) : 0;
    $("ProgressBar1").value = percent;
    setStatus(text("FitChecking").replace("%1", percent));
  } else if (message.type === "digests") {
    const digests = message.digests;
    if (digests.readFailed) {
      log(text("WebReadFailed"));
      setStatus(text("WebReadFailed"), true);
    } else if (digests.problem) {
      log(text("FitCheckFailed") + " " + digests.problem);
      setStatus(text("FitCheckFailed") + " " + digests.problem, true);
    } else {
      page.digests = digests;
      page.heapBytes = digests.heapBytes; // the engine's memory at the end of the check
      log("pack.dat MD5: " + digests.packDat);
      if (digests.packInc) log("pack.inc MD5: " + digests.packInc);
      log(text("FitChecked"));
      setStatus(text("FitChecked"));
      renderPatches();
    }
    finish();
  }
}

function choose(file, keys) {
  if (!file || page.busy) return;
  if (file !== page.source) page.keys = keys || null;
  page.source = file;
  page.identity = null;
  page.digests = null;
  page.busy = true;
  $("identity").hidden = true;
  $("keys").hidden = true;
  $("BTNCancel").disabled = false;
  $("sourceFile").disabled = true;
  setStatus("");
  renderPatches();
  log(text("Label1") + " " + file.name);
  page.worker.postMessage({ type: "check", file, keys, patches: fitQuestions() });
}

// The user's key file and seed database, read whole (they are small) and handed to the
// worker with the dump again; the page keeps them nowhere.
async function chooseKeys(files) {
  const keys = { keyFile: new ArrayBuffer(0), seedDb: new ArrayBuffer(0) };
  for (const file of files) {
    if (file.size > 1 << 20) continue; // neither is ever this large
    const bytes = await file.arrayBuffer();
    if (file.name.toLowerCase().endsWith(".bin")) keys.seedDb = bytes;
    else keys.keyFile = bytes;
  }
  $("keyFiles").value = "";
  page.keys = keys;
  choose(page.source, keys);
}

function cancel() {
  if (!page.busy) return;
  // The engine runs without a break in the worker: ending the worker is the way to stop it.
  const installing = page.installing;
  page.worker.terminate();
  startWorker();
  if (page.music && page.music.pending) page.music = null;
  requestMusic();
  const key = installing ? "InstallCanceled" : "WebCancelled";
  log(text(key));
  setStatus(text(key), true);
  finish();
  // The archive it was writing is no archive: gone as soon as the ended worker lets it go.
  if (installing) removeOutputs(20);
}

// ---- install ----

// Removes every file this page left in its private storage: an archive downloaded or
// abandoned earlier, or one a run that was ended was writing. An ended worker may hold its
// file a moment longer; then it is tried again, `tries` times in all.
async function removeOutputs(tries = 1) {
  const root = await navigator.storage.getDirectory();
  for (let attempt = 0; attempt < tries; ++attempt) {
    let left = 0;
    for await (const [name, handle] of root.entries()) {
      if (handle.kind !== "file") continue; // the page writes files only
      try {
        await root.removeEntry(name);
      } catch (error) {
        ++left;
      }
    }
    if (!left) return;
    await new Promise((resolve) => setTimeout(resolve, 250));
  }
}

// The patch's files as Blobs of the page's own folder, fetched once: the worker reads them in
// slices as it reads the dump.
async function patchFiles(folder) {
  if (page.patchFiles.has(folder)) return page.patchFiles.get(folder);
  const entry = page.index.patches.find((patch) => patch.folder === folder);
  const files = [];
  for (const path of entry.files) {
    const address = ["patch", folder, ...path.split("/")].map(encodeURIComponent).join("/");
    const response = await fetch(address);
    if (!response.ok) throw new Error(path + ": " + response.status);
    files.push({ path, blob: await response.blob() });
  }
  page.patchFiles.set(folder, files);
  return files;
}

async function install() {
  if (page.busy || !page.digests || !page.selected) return;
  const patch = page.patches.find((p) => p.folder === page.selected);
  const output = chosenOutput();
  const name = page.identity.titleId + "." + output;
  // The folder is asked for first, while the click still counts as the user's.
  page.folder = null;
  if ($("outputModFolder").checked) {
    try {
      page.folder = await page.pickFolder();
    } catch (error) {
      return; // the user closed the picker
    }
    if (await folderEntry(page.folder, page.identity.titleId)) {
      const message = text("WebFolderExists").replace("%1", page.identity.titleId);
      log(message);
      setStatus(message, true);
      return;
    }
  }
  page.busy = true;
  page.installing = true;
  updateInstall();
  $("BTNCancel").disabled = false;
  $("sourceFile").disabled = true;
  $("downloadLine").hidden = true;
  if (page.download) URL.revokeObjectURL(page.download);
  page.download = null;
  setStatus("");
  log(text("StartPatching"));
  let files;
  try {
    await removeOutputs(4);
    files = await patchFiles(patch.folder);
  } catch (error) {
    log(text("WebPatchUnreadable") + "\r\n" + String(error.message || error));
    setStatus(text("WebPatchUnreadable"), true);
    return finish();
  }
  if (!page.installing) return; // cancelled meanwhile
  page.output = output;
  page.worker.postMessage({
    type: "install", file: page.source, keys: page.identity.decrypted ? page.keys : null, name,
    output, kind: page.identity.kind, decrypt: page.identity.decrypted, patch: files,
    description: describedFile(patch), russian: (navigator.language || "").toLowerCase().startsWith("ru"),
    packDat: page.digests.packDat, packInc: page.digests.packInc, voice: chosenVoice(),
    music: musicPlan(),
  });
}

// The description file the page shows for `patch`, by its name in the patch's folder: the one
// in the interface's language, else the first by name, as the program chooses.
function describedFile(patch) {
  const names = [...patch.descriptions.keys()].sort((a, b) =>
    a.toLowerCase() < b.toLowerCase() ? -1 : a.toLowerCase() > b.toLowerCase() ? 1 : 0);
  const wanted = (page.language + ".dsc").toLowerCase();
  return names.find((n) => n.toLowerCase() === wanted) || names[0];
}

async function onInstalled(result) {
  page.heapBytes = result.heapBytes; // the engine's memory at the end of the install
  page.timing = result.timing; // where the install's time went (the benchmark prints it)
  if (result.readFailed) {
    log(text("WebReadFailed"));
    setStatus(text("WebReadFailed"), true);
  } else if (!result.succeeded) {
    const message = text(result.errorKey || "ErrorWritingModFolder");
    log("\r\n" + (result.detail ? message + "\r\n" + result.detail : message));
    setStatus(message, true);
  } else if (page.folder) {
    await writeFolder(result);
  } else {
    const output = page.output;
    const name = result.titleId + "." + output;
    const root = await navigator.storage.getDirectory();
    const file = await (await root.getFileHandle(name)).getFile();
    page.download = URL.createObjectURL(file);
    const link = $("download");
    link.href = page.download;
    link.download = name;
    link.textContent = text("WebDownload").replace("%1", name);
    $("downloadLine").hidden = false;
    const done = output === "zip" ? "ModFolderSuccessful" : "PatchingSuccessful";
    if (output === "zip") $("unpack").open = true;
    log("\r\n" + text(done) + "\r\n[" + name + "]");
    setStatus(text(done));
  }
  finish();
}

// ---- the folder output ----
//
// The run writes its archive into the page's private storage as for the download: the engine
// runs without a break, and only files of that storage can be written without one (a folder
// elsewhere is written through promises). Its files are then copied out of the archive, where
// each lies in one piece, into the chosen folder under the game's title ID (browsers do not
// rename a folder there, so it cannot be written under another name first); what a failure or
// Cancel leaves of it is removed. A folder of the game's name already there is never touched.

// The entry `name` of the folder `directory`, or null.
async function folderEntry(directory, name) {
  for await (const [entryName, handle] of directory.entries())
    if (entryName.toLowerCase() === name.toLowerCase()) return handle;
  return null;
}

async function copyOut(archive, files, target) {
  const chunk = 16 << 20;
  for (const entry of files) {
    const parts = entry.path.split("/").slice(1); // below <TitleID>/
    let folder = target;
    for (const part of parts.slice(0, -1))
      folder = await folder.getDirectoryHandle(part, { create: true });
    const handle = await folder.getFileHandle(parts[parts.length - 1], { create: true });
    const writable = await handle.createWritable();
    try {
      for (let done = 0; done < entry.size; done += chunk) {
        if (!page.installing) throw new Error("cancelled");
        const end = Math.min(entry.size, done + chunk);
        await writable.write(archive.slice(entry.offset + done, entry.offset + end));
      }
      await writable.close();
    } catch (error) {
      await writable.abort().catch(() => {});
      throw error;
    }
  }
}

async function writeFolder(result) {
  const root = await navigator.storage.getDirectory();
  const zip = result.titleId + ".zip";
  const target = page.folder;
  const shown = "[" + target.name + "/" + result.titleId + "]";
  let written = false;
  try {
    const archive = await (await root.getFileHandle(zip)).getFile();
    // Made while the run went on? Then it is not ours.
    if (await folderEntry(target, result.titleId))
      throw new Error(text("WebFolderExists").replace("%1", result.titleId));
    written = true;
    await copyOut(archive, result.files,
      await target.getDirectoryHandle(result.titleId, { create: true }));
    written = false;
    log("\r\n" + text("ModFolderSuccessful") + "\r\n" + shown);
    setStatus(text("ModFolderSuccessful"));
  } catch (error) {
    if (written) await target.removeEntry(result.titleId, { recursive: true }).catch(() => {});
    if (page.installing) {
      const message = text("WebFolderFailed");
      log("\r\n" + message + "\r\n" + String(error.message || error));
      setStatus(message, true);
    }
  }
  await root.removeEntry(zip).catch(() => {});
}

// ---- start ----

async function start() {
  page.index = JSON.parse(new TextDecoder().decode(await fetchBytes("index.json")));
  const russian = (navigator.language || "").toLowerCase().startsWith("ru");
  for (const language of page.index.languages) {
    const bytes = await fetchBytes(language.file);
    page.languages.set(language.name, QvtTokens.table(QvtTokens.read(bytes, "=", russian)));
  }
  for (const patch of page.index.patches) {
    const descriptions = new Map();
    for (const file of patch.descriptions)
      descriptions.set(file.split("/").pop(), QvtTokens.read(await fetchBytes(file), "=", russian));
    // The patch's own track list, fetched now as the descriptions are: a page that has loaded
    // asks the network for nothing more until Install.
    const listFile = trackListFile(patch.folder);
    let trackList = null;
    if (listFile) {
      try {
        trackList = await fetchBytes(["patch", patch.folder, listFile].map(encodeURIComponent)
          .join("/"));
      } catch (error) {
        trackList = new ArrayBuffer(0); // unreadable: the engine finds no track count in it
      }
    }
    page.patches.push({ folder: patch.folder, descriptions, trackList });
  }
  const select = $("CBLang");
  for (const name of page.languages.keys()) select.append(new Option(name, name));
  const wanted = russian && page.languages.has("Русский") ? "Русский" : "English";
  page.language = page.languages.has(wanted) ? wanted : [...page.languages.keys()][0];
  select.value = page.language;
  select.onchange = () => {
    page.language = select.value;
    applyTexts();
  };
  applyTexts();
  await removeOutputs();
  await loadEngine();
  startWorker();
  $("sourceFile").onchange = (event) => choose(event.target.files[0]);
  $("keyFiles").onchange = (event) => chooseKeys([...event.target.files]);
  const drop = $("drop");
  drop.ondragover = (event) => {
    event.preventDefault();
    drop.classList.add("over");
  };
  drop.ondragleave = () => drop.classList.remove("over");
  drop.ondrop = (event) => {
    event.preventDefault();
    drop.classList.remove("over");
    choose(event.dataTransfer.files[0]);
  };
  $("BTNCancel").onclick = cancel;
  $("BTNInstallPatch").onclick = install;
  $("musicGrid").onchange = (event) => {
    if (event.target.tagName === "SELECT") chooseTrack(event.target);
    else renderMusic();
  };
  // Only where the browser lets a page write into a folder of the user's choice.
  $("folderChoice").hidden = !("showDirectoryPicker" in window);
  for (const choice of document.querySelectorAll("input[name=outputKind]"))
    choice.onchange = updateInstall;
  // Leaving the page ends an install: the browser asks first; the file left is removed when the
  // page is opened again.
  window.addEventListener("beforeunload", (event) => {
    if (!page.installing) return;
    event.preventDefault();
    event.returnValue = "";
  });
  document.body.dataset.ready = "1";
}

start().catch((error) => setStatus(String(error), true));
