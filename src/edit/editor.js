// The editor's pages. The server sends each page empty but for its data
// attributes; everything shown is made here from what the server answers,
// every text put in as text (textContent, value), never as markup.
"use strict";

const script = document.body.dataset.script;  // undefined on the index

// Talking to the server.

const statusBar = document.createElement("div");
statusBar.id = "status";
statusBar.hidden = true;

function say(message) {
  statusBar.textContent = message;
  statusBar.hidden = !message;
}

async function ask(path, body) {
  const options = body === undefined ? {} : {
    method: "POST",
    headers: {"Content-Type": "application/json"},
    body: JSON.stringify(body),
  };
  const response = await fetch(path, options);  // rejects when the server is gone
  let answer = null;
  if ((response.headers.get("Content-Type") || "").startsWith("application/json")) {
    answer = await response.json();
  }
  return {status: response.status, answer};
}

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) {
    made.className = className;
  }
  if (text !== undefined) {
    made.textContent = text;
  }
  return made;
}

function pageOf(path) {
  return "/" + path.split("/").map(encodeURIComponent).join("/") + ".html";
}

// The index: every script with its progress, and a search over them all.

async function showIndex() {
  document.body.append(element("h1", "", "krscript edit"), statusBar);
  const search = element("input", "search");
  search.type = "search";
  search.placeholder = "Search every source and translation";
  const found = element("div", "found");
  document.body.append(search, found);
  let searching = 0;
  search.addEventListener("input", () => {
    clearTimeout(searching);
    searching = setTimeout(async () => {
      found.replaceChildren();
      if (!search.value) {
        return;
      }
      const {status, answer} = await ask("/api/search?q=" + encodeURIComponent(search.value));
      if (status !== 200) {
        return;
      }
      for (const hit of answer.found) {
        const link = element("a", "hit");
        link.href = pageOf(hit.script) + "#" + hit.offset;
        link.append(element("span", "where", hit.script + " " + hit.offset),
                    element("span", "source", hit.source),
                    element("span", "target", hit.target));
        found.append(link);
      }
      if (answer.total > answer.found.length) {
        found.append(element("p", "more", (answer.total - answer.found.length) + " more"));
      }
    }, 250);
  });
  const {answer} = await ask("/api/scripts");
  const table = element("table", "scripts");
  const head = element("tr");
  for (const name of ["script", "strings", "translated", "fuzzy", "untranslated",
                      "over the box", "problems"]) {
    head.append(element("th", "", name));
  }
  table.append(head);
  for (const entry of answer.scripts) {
    const row = element("tr");
    const name = element("td");
    if (entry.failure) {
      name.append(element("span", "", entry.path), element("div", "failure", entry.failure));
    } else {
      const link = element("a", "", entry.path);
      link.href = pageOf(entry.path);
      name.append(link);
    }
    row.append(name);
    for (const count of [entry.strings, entry.translated, entry.fuzzy, entry.untranslated,
                         entry.over, entry.problems]) {
      row.append(element("td", "count", String(count)));
    }
    table.append(row);
  }
  document.body.append(table);
}

// A script's page: its strings in order, a window of them at a time.

const lines = element("div", "lines");
const earlier = element("button", "earlier", "Earlier strings");
const later = element("div", "later");
let shown = {from: 0, to: 0, total: 0};
let canComment = true;
const entries = new Map();  // by offset: what each element shows and was loaded with

// What was typed and not yet saved, kept in the browser too, so that it
// outlives the page and the server: shown again with its string, and saved
// then when its save had been asked for.
function pendingKey(offset) {
  return "krscript-edit:" + script + ":" + offset;
}

function drawBox(place, box) {
  place.replaceChildren();
  place.hidden = !box;
  if (!box) {
    return;
  }
  place.className = "box box" + box.number;
  for (const line of box.lines) {
    const drawn = element("span", line.over ? "line over" : "line");
    drawn.dataset.width = line.width;
    for (const piece of line.pieces) {
      if (piece.placeholder !== undefined) {
        const mark = element("span", "ph", piece.shows);
        mark.title = piece.placeholder;
        drawn.append(mark);
      } else {
        drawn.append(piece.text);
      }
    }
    place.append(drawn);
  }
}

function drawProblems(place, problems) {
  place.replaceChildren();
  for (const problem of problems) {
    place.append(element("div", "problem " + problem.severity,
                         problem.severity + ": " + problem.check + ": " + problem.message));
  }
}

function makeEntry(line) {
  const view = element("div", "entry");
  view.id = line.offset;
  const who = element("div", "who");
  if (line.name) {
    who.append(element("i", "", "a name, shown where it speaks"));
  } else if (line.who.length) {
    who.append(element("i", "", "speaks "));
    line.who.forEach((name, i) => {
      who.append((i ? ", " : "") + name.name);
      if (name.translation !== undefined) {
        who.append(" ", element("span", "name-translation", name.translation));
      }
    });
  }
  const source = element("div", "source", line.source);
  const changes = element("div", "changes");
  const translation = element("textarea", "translation");
  translation.rows = 2;
  translation.spellcheck = true;
  const comment = element("textarea", "comment");
  comment.rows = 1;
  comment.placeholder = "translators' comment";
  comment.hidden = !canComment;
  const box = element("div", "box");
  const problems = element("div", "problems");
  const suggestions = element("div", "suggestions");
  const message = element("div", "message");
  view.append(who, source, changes, translation, comment, box, problems, suggestions, message);
  const entry = {view, translation, comment, box, problems, suggestions, message, changes,
                 base: null, checking: 0, pending: false, suggested: false};
  entries.set(line.offset, entry);
  showLine(entry, line);
  translation.addEventListener("input", () => typed(entry));
  comment.addEventListener("input", () => typed(entry));
  translation.addEventListener("focus", () => suggest(entry));
  for (const field of [translation, comment]) {
    field.addEventListener("keydown", (event) => keyed(event, entry));
  }
  return view;
}

// Shows a line as the server has it: saved, or as loaded.
function showLine(entry, line) {
  entry.line = line;
  entry.base = {target: line.target, comment: line.comment, fuzzy: line.fuzzy};
  entry.translation.value = line.target;
  entry.comment.value = line.comment;
  entry.view.classList.toggle("fuzzy", line.fuzzy);
  entry.view.classList.toggle("needs-work", line.needsWork);
  entry.changes.replaceChildren();
  if (line.fuzzy && line.changes) {
    entry.changes.append(element("i", "", "source was "));
    for (const [kind, text] of line.changes) {
      entry.changes.append(kind ? element(kind, "", text) : text);
    }
  }
  drawBox(entry.box, line.box);
  drawProblems(entry.problems, line.problems);
}

function typed(entry) {
  entry.view.classList.add("edited");
  entry.view.classList.remove("saved");
  localStorage.setItem(pendingKey(entry.view.id), JSON.stringify({
    target: entry.translation.value, comment: entry.comment.value, base: entry.base,
    saving: entry.pending}));
  clearTimeout(entry.checking);
  entry.checking = setTimeout(async () => {
    try {
      const {status, answer} = await ask("/api/check", {
        script, offset: entry.view.id, target: entry.translation.value});
      if (status === 200) {
        drawBox(entry.box, answer.box);
        drawProblems(entry.problems, answer.problems);
      }
    } catch (gone) {
      serverGone();
    }
  }, 120);
}

async function suggest(entry) {
  if (entry.suggested) {
    return;
  }
  entry.suggested = true;
  let reply;
  try {
    reply = await ask("/api/suggest?script=" + encodeURIComponent(script) + "&offset=" +
                      entry.view.id);
  } catch (gone) {
    entry.suggested = false;
    return serverGone();
  }
  if (reply.status !== 200) {
    return;
  }
  for (const suggestion of reply.answer.suggestions) {
    const choice = element("button", "suggestion");
    choice.type = "button";
    const score = suggestion.score >= 1 ? "same text" : Math.floor(suggestion.score * 100) + "%";
    choice.append(element("span", "score", score), element("span", "text", suggestion.target));
    if (suggestion.score < 1) {
      choice.append(element("span", "for", suggestion.source));
    }
    choice.addEventListener("click", () => {
      entry.translation.value = suggestion.target;
      typed(entry);
      entry.translation.focus();
    });
    entry.suggestions.append(choice);
  }
}

// Saving. A save that cannot reach the server stays pending, and is tried
// again until the server answers.

let retrying = 0;

function serverGone() {
  say("The editor's server does not answer: what you typed is kept in this page and saved " +
      "when it is back.");
  if (!retrying) {
    retrying = setInterval(retryPending, 3000);
  }
}

async function retryPending() {
  for (const entry of entries.values()) {
    if (entry.pending && !(await save(entry))) {
      return;
    }
  }
  clearInterval(retrying);
  retrying = 0;
  say("");
}

// Keeps a save that did not reach the server in the browser, to be made
// when the string is shown again, on this page or the next.
function keepUnsaved(entry, sent) {
  localStorage.setItem(pendingKey(entry.view.id),
                       JSON.stringify({...sent, base: entry.base, saving: true}));
}

// Saves an entry; false when the server could not be reached.
async function save(entry) {
  const offset = entry.view.id;
  const sent = {target: entry.translation.value, comment: entry.comment.value};
  let reply;
  try {
    reply = await ask("/api/save", {script, offset, ...sent, base: entry.base});
  } catch (gone) {
    entry.pending = true;
    keepUnsaved(entry, sent);
    serverGone();
    return false;
  }
  entry.pending = false;
  entry.message.replaceChildren();
  entry.view.classList.remove("conflict", "failed");
  if (reply.status === 403) {
    entry.pending = true;
    keepUnsaved(entry, sent);
    say("This page's key is no longer valid (the editor was started again): open the address " +
        "krscript printed. What you typed is kept in this browser and saved there.");
    return false;
  }
  if (reply.status === 200) {
    const typedSince = entry.translation.value !== sent.target ||
                       entry.comment.value !== sent.comment;
    if (typedSince) {
      // What was typed while the save went stays, to be saved next, on
      // top of what was saved.
      const line = reply.answer.line;
      entry.base = {target: line.target, comment: line.comment, fuzzy: line.fuzzy};
      typed(entry);
      return true;
    }
    localStorage.removeItem(pendingKey(offset));
    showLine(entry, reply.answer.line);
    entry.view.classList.remove("edited");
    entry.view.classList.add("saved");
    return true;
  }
  if (reply.answer && reply.answer.conflict) {
    // Both texts stay: the one typed in the field, the file's beside it.
    const theirs = reply.answer.conflict;
    entry.view.classList.add("conflict");
    const keep = element("button", "keep-mine", "Keep mine");
    const take = element("button", "take-theirs", "Take the file's");
    keep.type = take.type = "button";
    keep.addEventListener("click", () => {
      entry.base = theirs;
      save(entry);
    });
    take.addEventListener("click", () => {
      entry.base = theirs;
      entry.translation.value = theirs.target;
      entry.comment.value = theirs.comment;
      save(entry);
    });
    entry.message.append(element("div", "", reply.answer.error),
                         element("div", "theirs", theirs.target), keep, take);
    return true;
  }
  entry.view.classList.add("failed");
  entry.message.append(element("div", "", reply.answer ? reply.answer.error : "not saved"));
  return true;
}

// Keys: Ctrl+Enter saves and goes on to the next string that needs work;
// Alt+Up and Alt+Down move between strings.

function keyed(event, entry) {
  if (event.key === "Enter" && (event.ctrlKey || event.metaKey)) {
    event.preventDefault();
    save(entry).then((reached) => {
      if (reached && !entry.view.classList.contains("conflict") &&
          !entry.view.classList.contains("failed")) {
        goToNextWork(entry);
      }
    });
  } else if (event.altKey && (event.key === "ArrowDown" || event.key === "ArrowUp")) {
    event.preventDefault();
    const next = event.key === "ArrowDown" ? entry.view.nextElementSibling
                                           : entry.view.previousElementSibling;
    if (next && entries.has(next.id)) {
      focusEntry(entries.get(next.id));
    } else if (event.key === "ArrowDown" && shown.to < shown.total) {
      loadLater().then(() => keyed(event, entry));
    } else if (event.key === "ArrowUp" && shown.from > 0) {
      loadEarlier().then(() => keyed(event, entry));
    }
  }
}

function focusEntry(entry) {
  entry.translation.focus();
  entry.view.scrollIntoView({block: "center"});
}

async function goToNextWork(entry) {
  for (let next = entry.view.nextElementSibling; next; next = next.nextElementSibling) {
    if (next.classList.contains("needs-work")) {
      return focusEntry(entries.get(next.id));
    }
  }
  const {status, answer} = await ask(
      "/api/lines?script=" + encodeURIComponent(script) + "&next=" + entry.view.id);
  if (status !== 200 || !answer.focus) {
    say("No string after this one needs work.");
    setTimeout(() => say(""), 4000);
    return;
  }
  showWindow(answer);
  focusEntry(entries.get(answer.focus));
}

// Windows of lines.

function restorePending(offset) {
  const kept = localStorage.getItem(pendingKey(offset));
  const entry = entries.get(offset);
  if (!kept || !entry) {
    return;
  }
  const typedText = JSON.parse(kept);
  entry.base = typedText.base;
  entry.translation.value = typedText.target;
  entry.comment.value = typedText.comment;
  entry.view.classList.add("edited");
  // A save that was asked for is made; what was only typed waits for one.
  if (typedText.saving) {
    save(entry);
  }
}

function append(answer, before) {
  const made = answer.lines.map(makeEntry);
  if (before) {
    lines.prepend(...made);
  } else {
    lines.append(...made);
  }
  answer.lines.forEach((line) => restorePending(line.offset));
}

function showWindow(answer) {
  // An entry whose save is pending stays, out of the page, until it is
  // saved; its text is also shown again with its string.
  for (const [offset, entry] of entries) {
    if (!entry.pending) {
      entries.delete(offset);
    }
  }
  lines.replaceChildren();
  shown = {from: answer.from, to: answer.from + answer.lines.length, total: answer.total};
  append(answer, false);
  earlier.hidden = shown.from === 0;
}

async function loadLater() {
  if (shown.to >= shown.total) {
    return;
  }
  const {answer} = await ask("/api/lines?script=" + encodeURIComponent(script) + "&from=" +
                             shown.to);
  shown.to = answer.from + answer.lines.length;
  append(answer, false);
}

async function loadEarlier() {
  const from = Math.max(0, shown.from - 100);
  const {answer} = await ask("/api/lines?script=" + encodeURIComponent(script) + "&from=" + from);
  answer.lines = answer.lines.slice(0, shown.from - from);
  shown.from = from;
  append(answer, true);
  earlier.hidden = shown.from === 0;
}

async function showScript() {
  const back = element("a", "back", "All scripts");
  back.href = "/";
  const title = element("h1", "", script);
  document.body.append(back, title, statusBar);
  const at = location.hash.length > 1 ? "&at=" + encodeURIComponent(location.hash.slice(1)) : "";
  const {status, answer} = await ask("/api/lines?script=" + encodeURIComponent(script) + at);
  if (status !== 200) {
    document.body.append(element("p", "failure", answer ? answer.error : "not found"));
    return;
  }
  title.append(element("span", "file", answer.translations));
  if (answer.failure) {
    document.body.append(element("p", "failure", answer.failure));
    return;
  }
  canComment = answer.canComment;
  earlier.type = "button";
  earlier.addEventListener("click", loadEarlier);
  document.body.append(earlier, lines, later);
  showWindow(answer);
  new IntersectionObserver((seen) => {
    if (seen.some((item) => item.isIntersecting)) {
      loadLater();
    }
  }).observe(later);
  const first = entries.get(answer.focus || (location.hash.slice(1) || ""));
  if (first) {
    focusEntry(first);
  }
}

if (script === undefined) {
  showIndex();
} else {
  showScript();
}
