"use strict";
// The page: interface texts from the program's language files, the patches the page offers
// (index.json, written by scripts/package-web.sh), and the check of a chosen dump in the
// engine's worker. Nothing leaves the device: the dump is read in slices inside the worker.

const $ = (id) => document.getElementById(id);

const page = {
  index: null,
  languages: new Map(), // name -> table
  language: "English",
  patches: [], // { folder, descriptions: Map(file name -> tokens) }
  source: null, // the chosen dump
  identity: null,
  digests: null,
  worker: null,
  engine: null, // { worker, script: blob: addresses, wasm: the engine's code }
  busy: false,
};

// Elements whose text is the language key of their id.
const textKeys = ["WebHeading", "Label0", "WebPrivacy", "Label1", "WebChooseDump", "WebImageKind",
  "WebTitleId", "EncryptedChooseKeys", "WebPatches", "WebInstallLater", "WebLog", "BTNCancel"];

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

// The description in the interface's language, else the first by name, as the program chooses.
function describe(patch) {
  const names = [...patch.descriptions.keys()].sort((a, b) =>
    a.toLowerCase() < b.toLowerCase() ? -1 : a.toLowerCase() > b.toLowerCase() ? 1 : 0);
  const wanted = (page.language + ".dsc").toLowerCase();
  const name = names.find((n) => n.toLowerCase() === wanted) || names[0];
  const tokens = patch.descriptions.get(name);
  const value = (key) => QvtTokens.valueOf(tokens, key) || "";
  return {
    FitKey: patch.folder + "/" + name,
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
      item.classList.add(verdict.fit);
      item.dataset.fit = verdict.fit;
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
}

// ---- language ----

function applyTexts() {
  for (const key of textKeys) $(key).textContent = text(key);
  document.title = text("WebHeading");
  document.documentElement.lang = page.language === "Русский" ? "ru" : "en";
  renderPatches();
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
  $("BTNCancel").disabled = true;
  $("sourceFile").disabled = false;
  $("ProgressBar1").value = 0;
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
}

function onWorker(message) {
  if (message.type === "identity") onIdentity(message.identity);
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
  choose(page.source, keys);
}

function cancel() {
  if (!page.busy) return;
  // The engine runs without a break in the worker: ending the worker is the way to stop it.
  page.worker.terminate();
  startWorker();
  log(text("WebCancelled"));
  setStatus(text("WebCancelled"), true);
  finish();
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
    page.patches.push({ folder: patch.folder, descriptions });
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
  document.body.dataset.ready = "1";
}

start().catch((error) => setStatus(String(error), true));
