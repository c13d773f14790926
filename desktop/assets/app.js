// Quillo desktop page: menus, panes, documents and message boxes; the dialogs are in dialogs.js.
// The server does the work; this page shows it and sends the user's commands (see API.md).
'use strict';

const $ = (id) => document.getElementById(id);
const state = {
  settings: {}, panes: [], active: null, currentDoc: null, busy: false, z: 10, seq: 0,
  toolbar: true, statusbar: true, clipboard: '', editor: null, editorDirty: false, tipIndex: 0,
};

// ---- Server calls --------------------------------------------------------------------------
async function api(path, body) {
  const options = body === undefined ? {} : {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
  };
  let res;
  try { res = await fetch(path, options); } catch (e) {
    return { ok: false, message: 'Quillo is not running any more (' + e.message + ')' };
  }
  try { return await res.json(); } catch (e) { return { ok: false, message: 'Unexpected answer (' + res.status + ')' }; }
}

// ---- Message boxes ---------------------------------------------------------------------------
const boxQueue = [];
function messageBox(text, title = 'Quillo') {
  return new Promise((resolve) => { boxQueue.push({ text, title, resolve }); if (boxQueue.length === 1) showNextBox(); });
}
function showNextBox() {
  const item = boxQueue[0];
  if (!item) return;
  $('box-title').textContent = item.title;
  $('box-text').textContent = item.text;
  $('box').classList.toggle('fail', item.title !== 'Quillo');
  openDialog('box-backdrop', $('box-ok'));
}
$('box-ok').addEventListener('click', () => {
  closeDialog('box-backdrop');
  const item = boxQueue.shift();
  if (item) item.resolve();
  showNextBox();
});
function report(result) {
  if (result && result.ok === false && result.message) messageBox(result.message, result.title || 'Quillo');
  return result && result.ok !== false;
}

// ---- Dialog plumbing: focus kept inside, Escape closes ---------------------------------------
const dialogStack = [];
function openDialog(id, focus) {
  const el = $(id);
  el.hidden = false;
  dialogStack.push({ id, returnTo: document.activeElement });
  (focus || el.querySelector('input,button,select,textarea,[tabindex]'))?.focus();
}
function closeDialog(id) {
  $(id).hidden = true;
  const i = dialogStack.findIndex((d) => d.id === id);
  if (i >= 0) { const [d] = dialogStack.splice(i, 1); d.returnTo?.focus?.(); }
}
document.addEventListener('keydown', (e) => {
  const top = dialogStack[dialogStack.length - 1];
  if (!top) return;
  const el = $(top.id);
  if (e.key === 'Escape') {
    e.preventDefault();
    const cancel = { 'box-backdrop': 'box-ok', 'file-backdrop': 'file-cancel', 'options-backdrop': 'options-ok',
      'editor-backdrop': 'ed-close', 'tips-backdrop': 'tips-close', 'about-backdrop': 'about-ok' }[top.id];
    $(cancel)?.click();
  } else if (e.key === 'Tab') {
    const items = [...el.querySelectorAll('button:not([disabled]),input:not([disabled]),select,textarea,[tabindex="0"]')].filter((x) => x.offsetParent);
    if (!items.length) return;
    const first = items[0], last = items[items.length - 1];
    if (e.shiftKey && document.activeElement === first) { e.preventDefault(); last.focus(); }
    else if (!e.shiftKey && document.activeElement === last) { e.preventDefault(); first.focus(); }
  }
}, true);

// ---- Status bar and progress ------------------------------------------------------------------
function setStatus(text) { $('status').textContent = text || ''; }
function setProgress(value, visible) {
  const p = $('progress');
  p.hidden = !visible;
  p.value = Math.max(0, Math.min(100, value | 0));
}
function setBusy(busy) {
  state.busy = busy;
  $('busy').hidden = !busy;
  document.querySelectorAll('[data-cmd=translate]').forEach((b) => b.toggleAttribute('aria-busy', busy));
}

// ---- Menus -------------------------------------------------------------------------------------
const MENUS = [
  { label: 'File', items: [
    { label: 'Open…', cmd: 'open', key: 'Ctrl+O', name: 'mnuFileOpen' },
    { label: 'Save', cmd: 'save', key: 'Ctrl+S', name: 'mnuFileSave' },
    { label: 'Save As…', cmd: 'saveAs', name: 'mnuFileSaveAs' },
    { label: 'Close', cmd: 'close', key: 'Ctrl+W', name: 'mnuFileClose' },
    '-',
    { label: 'Print…', cmd: 'print', key: 'Ctrl+P', name: 'mnuFilePrint' },
    { label: 'Page Setup…', cmd: 'pageSetup', name: 'mnuFilePageSetup' },
    '-',
    { mru: true },
    { label: 'Exit', cmd: 'exit', name: 'mnuFileExit' },
  ] },
  { label: 'Edit', items: [
    { label: 'Cut', cmd: 'cut', key: 'Ctrl+X', name: 'mnuEditCut' },
    { label: 'Copy', cmd: 'copy', key: 'Ctrl+C', name: 'mnuEditCopy' },
    { label: 'Paste', cmd: 'paste', key: 'Ctrl+V', name: 'mnuEditPaste' },
  ] },
  { label: 'View', items: [
    { label: 'Toolbar', cmd: 'toggleToolbar', check: () => state.toolbar, name: 'mnuViewToolbar' },
    { label: 'Status Bar', cmd: 'toggleStatusBar', check: () => state.statusbar, name: 'mnuViewStatusBar' },
    { label: 'Web Browser', cmd: 'webBrowser', name: 'mnuViewWebBrowser' },
    '-',
    { label: 'Options…', cmd: 'options', name: 'mnuViewOptions' },
  ] },
  { label: 'Tools', items: [
    { label: 'Translate', cmd: 'translate', key: 'F9', name: 'mnuToolsTranslate' },
    '-',
    { label: 'Show HTML', cmd: 'showHTML', name: 'mnuToolsHTML' },
    { label: 'Show RTF', cmd: 'showRTF', name: 'mnuToolsRTF' },
    { label: 'Show Log', cmd: 'showLog', name: 'mnuToolsLog' },
    { label: 'Show Errors', cmd: 'showError', name: 'mnuToolsError' },
    '-',
    { label: 'Translation Options…', cmd: 'editor', name: 'mnuToolsOptions' },
  ] },
  { label: 'Window', items: [
    { label: 'Cascade', cmd: 'cascade', name: 'mnuWindowCascade' },
    { label: 'Tile Horizontally', cmd: 'tileH', name: 'mnuWindowTileHorizontal' },
    { label: 'Tile Vertically', cmd: 'tileV', name: 'mnuWindowTileVertical' },
    { label: 'Arrange Icons', cmd: 'arrangeIcons', name: 'mnuWindowArrangeIcons' },
    { windows: true },
  ] },
  { label: 'Help', items: [
    { label: 'Contents', cmd: 'helpContents', key: 'F1', name: 'mnuHelpContents' },
    { label: 'Open the Sample Document', cmd: 'sampleDoc' },
    '-',
    { label: 'About Quillo', cmd: 'about', name: 'mnuHelpAbout' },
  ] },
];

let openMenu = null;
function buildMenubar() {
  const bar = $('menubar');
  MENUS.forEach((menu, index) => {
    const top = document.createElement('div');
    top.className = 'menu-top';
    const button = document.createElement('button');
    button.type = 'button';
    button.setAttribute('role', 'menuitem');
    button.setAttribute('aria-haspopup', 'menu');
    button.setAttribute('aria-expanded', 'false');
    button.textContent = menu.label;
    button.tabIndex = index === 0 ? 0 : -1;
    button.id = 'menu-' + menu.label.toLowerCase();
    const list = document.createElement('div');
    list.className = 'menu';
    list.setAttribute('role', 'menu');
    list.setAttribute('aria-label', menu.label);
    list.hidden = true;
    top.append(button, list);
    bar.append(top);
    button.addEventListener('click', () => (openMenu === index ? closeMenus() : showMenu(index, false)));
    button.addEventListener('mouseenter', () => { if (openMenu !== null && openMenu !== index) showMenu(index, false); });
    button.addEventListener('keydown', (e) => {
      if (e.key === 'ArrowDown' || e.key === 'Enter' || e.key === ' ') { e.preventDefault(); showMenu(index, true); }
      else if (e.key === 'ArrowRight') { e.preventDefault(); focusTop(index + 1); }
      else if (e.key === 'ArrowLeft') { e.preventDefault(); focusTop(index - 1); }
      else if (e.key === 'Escape') { closeMenus(); }
    });
    list.addEventListener('keydown', (e) => {
      const items = [...list.querySelectorAll('[role^=menuitem]')];
      const i = items.indexOf(document.activeElement);
      if (e.key === 'ArrowDown') { e.preventDefault(); items[(i + 1) % items.length]?.focus(); }
      else if (e.key === 'ArrowUp') { e.preventDefault(); items[(i - 1 + items.length) % items.length]?.focus(); }
      else if (e.key === 'Home') { e.preventDefault(); items[0]?.focus(); }
      else if (e.key === 'End') { e.preventDefault(); items[items.length - 1]?.focus(); }
      else if (e.key === 'ArrowRight') { e.preventDefault(); showMenu((index + 1) % MENUS.length, true); }
      else if (e.key === 'ArrowLeft') { e.preventDefault(); showMenu((index - 1 + MENUS.length) % MENUS.length, true); }
      else if (e.key === 'Escape') { e.preventDefault(); closeMenus(); button.focus(); }
      else if (e.key === 'Tab') { closeMenus(); }
      else if (e.key === 'Enter' || e.key === ' ') { e.preventDefault(); document.activeElement?.click(); }
    });
  });
  document.addEventListener('mousedown', (e) => { if (openMenu !== null && !bar.contains(e.target)) closeMenus(); });
}
function focusTop(index) {
  const tops = [...$('menubar').querySelectorAll('.menu-top > [role=menuitem]')];
  const n = (index + tops.length) % tops.length;
  tops.forEach((t, i) => (t.tabIndex = i === n ? 0 : -1));
  tops[n].focus();
  if (openMenu !== null) showMenu(n, false);
}
function menuItem(label, cmd, opts = {}) {
  const item = document.createElement('button');
  item.type = 'button';
  item.setAttribute('role', opts.check ? 'menuitemcheckbox' : 'menuitem');
  if (opts.check) item.setAttribute('aria-checked', String(!!opts.check()));
  item.tabIndex = -1;
  if (opts.name) item.dataset.name = opts.name;
  const text = document.createElement('span');
  text.textContent = label;
  item.append(text);
  if (opts.key) {
    const k = document.createElement('span');
    k.className = 'kbd';
    k.setAttribute('aria-hidden', 'true');
    k.textContent = opts.key;
    item.append(k);
  }
  if (opts.disabled) item.setAttribute('aria-disabled', 'true');
  item.addEventListener('click', () => { if (opts.disabled) return; closeMenus(); (typeof cmd === 'function' ? cmd : () => run(cmd))(); });
  return item;
}
function showMenu(index, focusFirst) {
  closeMenus(true);
  const top = $('menubar').children[index];
  const button = top.firstChild, list = top.lastChild;
  list.replaceChildren();
  for (const entry of MENUS[index].items) {
    if (entry === '-') { const s = document.createElement('div'); s.setAttribute('role', 'separator'); list.append(s); continue; }
    if (entry.mru) {
      const mru = state.settings.mru || [];
      mru.forEach((path, i) => list.append(menuItem(`${i + 1} ${path}`, () => openPath(path), { name: `${i + 1}mnuFileMRU` })));
      if (mru.length) { const s = document.createElement('div'); s.setAttribute('role', 'separator'); list.append(s); }
      continue;
    }
    if (entry.windows) {
      if (state.panes.length) { const s = document.createElement('div'); s.setAttribute('role', 'separator'); list.append(s); }
      state.panes.forEach((p, i) => list.append(menuItem(`${i + 1} ${p.title}`, () => activate(p, true), { check: () => p === state.active })));
      continue;
    }
    list.append(menuItem(entry.label, entry.cmd, entry));
  }
  list.hidden = false;
  button.setAttribute('aria-expanded', 'true');
  openMenu = index;
  if (focusFirst) list.querySelector('[role^=menuitem]')?.focus();
}
function closeMenus(keepState) {
  document.querySelectorAll('.menu').forEach((m) => (m.hidden = true));
  document.querySelectorAll('.menu-top > [role=menuitem]').forEach((b) => b.setAttribute('aria-expanded', 'false'));
  if (!keepState) openMenu = null;
}

// ---- Commands ----------------------------------------------------------------------------------
const commands = {
  open: () => fileDialog({ mode: 'open' }),
  save: () => saveSource(false),
  saveAs: () => saveSource(true),
  close: () => state.active && closePane(state.active),
  print: printActive,
  pageSetup: () => messageBox('Paper size, margins and orientation are chosen in the print dialog: use File → Print.'),
  exit: exitApp,
  cut: () => editClipboard('cut'),
  copy: () => editClipboard('copy'),
  paste: () => editClipboard('paste'),
  toggleToolbar: () => { state.toolbar = !state.toolbar; $('toolbar').hidden = !state.toolbar; },
  toggleStatusBar: () => { state.statusbar = !state.statusbar; $('statusbar').hidden = !state.statusbar; },
  webBrowser: webBrowser,
  options: () => showOptions(),
  translate: translateCurrent,
  showHTML: () => toolsView('html'),
  showRTF: showRTF,
  showLog: () => toolsView('log'),
  showError: () => toolsView('error'),
  editor: () => showEditor(),
  cascade: () => arrange('cascade'),
  tileH: () => arrange('tileH'),
  tileV: () => arrange('tileV'),
  arrangeIcons: () => arrange('icons'),
  helpContents: () => openBrowserPane('/help.html', 'Help', 'help'),
  sampleDoc: () => state.sampleFile && openPath(state.sampleFile),
  about: showAbout,
};
function run(cmd) { const f = commands[cmd]; if (f) f(); }
document.addEventListener('click', (e) => {
  const b = e.target.closest('[data-cmd]');
  if (b && !b.closest('[role=menu]')) run(b.dataset.cmd);
});
document.addEventListener('keydown', (e) => {
  if (dialogStack.length) return;
  const k = (e.ctrlKey ? 'Ctrl+' : '') + (e.key.length === 1 ? e.key.toUpperCase() : e.key);
  const map = { 'Ctrl+O': 'open', 'Ctrl+S': 'save', 'Ctrl+P': 'print', 'Ctrl+W': 'close', F9: 'translate', F1: 'helpContents' };
  if (map[k]) { e.preventDefault(); run(map[k]); return; }
  if (e.key === 'F10' || (e.key === 'Alt' && !e.repeat)) { e.preventDefault(); focusTop(0); }
});

// ---- Panes ---------------------------------------------------------------------------------------
function workspaceRect() { const w = $('workspace'); return { w: w.clientWidth, h: w.clientHeight }; }
function createPane(kind, title, opts = {}) {
  const pane = { id: ++state.seq, kind, title, path: opts.path || '', doc: opts.doc || null, url: opts.url || '' };
  const el = document.createElement('section');
  el.className = 'pane';
  el.setAttribute('role', 'region');
  el.setAttribute('aria-label', title);
  el.dataset.kind = kind;
  const head = document.createElement('div');
  head.className = 'pane-head';
  const badge = document.createElement('span');
  badge.className = 'pane-kind ' + kind;
  badge.textContent = { rtf: 'RTF', html: 'Page', files: 'Files', error: 'Errors', help: 'Help' }[kind] || kind;
  const t = document.createElement('span');
  t.className = 'pane-title';
  t.textContent = title;
  t.title = opts.path || title;
  const min = paneButton('–', 'Minimise'), max = paneButton('□', 'Maximise'), close = paneButton('✕', 'Close');
  close.classList.add('close');
  head.append(badge, t, min, max, close);
  const body = document.createElement('div');
  body.className = 'pane-body';
  const resize = document.createElement('div');
  resize.className = 'resize';
  el.append(head, body, resize);
  pane.el = el; pane.body = body; pane.head = head;
  $('workspace').append(el);
  const n = state.panes.length, r = workspaceRect();
  const w = Math.max(420, Math.min(900, r.w * 0.62)), h = Math.max(260, Math.min(640, r.h * 0.75));
  place(pane, 16 + (n % 8) * 28, 12 + (n % 8) * 28, w, h);
  state.panes.push(pane);
  min.addEventListener('click', () => { el.classList.toggle('minimized'); el.classList.remove('maximized'); if (el.classList.contains('minimized')) arrange('icons', true); });
  max.addEventListener('click', () => { el.classList.toggle('maximized'); el.classList.remove('minimized'); });
  close.addEventListener('click', () => closePane(pane));
  head.addEventListener('dblclick', (e) => { if (e.target === head || e.target === t) max.click(); });
  el.addEventListener('mousedown', () => activate(pane), true);
  el.addEventListener('focusin', () => activate(pane));
  dragBehaviour(pane, head, resize);
  activate(pane);
  updateWelcome();
  return pane;
}
function paneButton(text, label) {
  const b = document.createElement('button');
  b.type = 'button'; b.textContent = text; b.title = label; b.setAttribute('aria-label', label);
  return b;
}
function place(pane, x, y, w, h) {
  Object.assign(pane.el.style, { left: x + 'px', top: y + 'px', width: w + 'px', height: h + 'px' });
}
function activate(pane, focus) {
  if (state.active === pane) return;
  state.panes.forEach((p) => p.el.classList.toggle('active', p === pane));
  pane.el.style.zIndex = ++state.z;
  state.active = pane;
  if (pane.doc) setCurrentDoc(pane.doc);
  if (focus) { pane.el.classList.remove('minimized'); pane.head.querySelector('button')?.focus(); }
}
function closePane(pane) {
  if (pane.kind === 'rtf' && pane.dirty && !confirm(`${pane.title} has changes that are not saved. Close it anyway?`)) return;
  pane.el.remove();
  state.panes = state.panes.filter((p) => p !== pane);
  if (state.active === pane) { state.active = null; const last = state.panes[state.panes.length - 1]; if (last) activate(last); }
  updateWelcome();
}
function dragBehaviour(pane, head, grip) {
  const start = (e, mode) => {
    if (e.button !== 0 || (mode === 'move' && e.target.closest('button'))) return;
    if (pane.el.classList.contains('maximized')) return;
    e.preventDefault();
    const sx = e.clientX, sy = e.clientY, r = pane.el.getBoundingClientRect(), ws = $('workspace').getBoundingClientRect();
    const shield = document.createElement('div');
    shield.style.cssText = 'position:fixed;inset:0;z-index:9999;cursor:' + (mode === 'move' ? 'move' : 'nwse-resize');
    document.body.append(shield);
    const move = (ev) => {
      const dx = ev.clientX - sx, dy = ev.clientY - sy;
      if (mode === 'move') {
        pane.el.style.left = Math.max(-r.width + 80, r.left - ws.left + dx) + 'px';
        pane.el.style.top = Math.max(0, r.top - ws.top + dy) + 'px';
      } else {
        pane.el.style.width = Math.max(220, r.width + dx) + 'px';
        pane.el.style.height = Math.max(120, r.height + dy) + 'px';
      }
    };
    const up = () => { shield.remove(); window.removeEventListener('mousemove', move); window.removeEventListener('mouseup', up); };
    window.addEventListener('mousemove', move);
    window.addEventListener('mouseup', up);
  };
  head.addEventListener('mousedown', (e) => start(e, 'move'));
  grip.addEventListener('mousedown', (e) => start(e, 'resize'));
}
function arrange(how, quiet) {
  const r = workspaceRect();
  const open = state.panes.filter((p) => !p.el.classList.contains('minimized'));
  const icons = state.panes.filter((p) => p.el.classList.contains('minimized'));
  const iconRow = icons.length ? 36 : 0;
  const h = r.h - iconRow;
  if (how === 'icons') {
    icons.forEach((p, i) => place(p, 6 + (i * 226) % Math.max(226, r.w - 220), r.h - 34 - Math.floor((i * 226) / Math.max(226, r.w - 220)) * 34, 220, 30));
    if (quiet) return;
  } else {
    open.forEach((p) => p.el.classList.remove('maximized'));
    if (how === 'cascade') {
      const w = Math.max(420, r.w * 0.62), hh = Math.max(260, h * 0.72);
      open.forEach((p, i) => { place(p, 12 + i * 30, 10 + i * 30, w, hh); p.el.style.zIndex = ++state.z; });
    } else if (how === 'tileV') {
      const w = r.w / Math.max(1, open.length);
      open.forEach((p, i) => place(p, i * w + 3, 3, w - 6, h - 6));
    } else if (how === 'tileH') {
      const hh = h / Math.max(1, open.length);
      open.forEach((p, i) => place(p, 3, i * hh + 3, r.w - 6, hh - 6));
    }
    icons.forEach((p, i) => place(p, 6 + i * 226, r.h - 34, 220, 30));
    if (state.active) state.active.el.style.zIndex = ++state.z;
  }
  if (!quiet && how !== 'icons') api('/api/settings', { PaneLayout: how });
}
function updateWelcome() {
  $('welcome').hidden = state.panes.length > 0;
  const mru = state.settings.mru || [];
  $('welcome-recent').hidden = !mru.length;
  $('recent-list').replaceChildren(...mru.map((p) => {
    const li = document.createElement('li');
    const b = document.createElement('button');
    b.type = 'button';
    const n = document.createElement('span'); n.className = 'rname'; n.textContent = p.split('/').pop();
    const d = document.createElement('span'); d.className = 'rpath'; d.textContent = p.slice(0, p.lastIndexOf('/')) || '/';
    b.append(n, d);
    b.addEventListener('click', () => openPath(p));
    li.append(b);
    return li;
  }));
  $('welcome-sample').hidden = !state.settings.showSample;
}
function findPane(kind, path) { return state.panes.find((p) => p.kind === kind && p.path === path); }
function viewUrl(path) { return '/view' + path.split('/').map(encodeURIComponent).join('/'); }

function openBrowserPane(url, title, kind = 'html', path = '') {
  const existing = state.panes.find((p) => p.kind === kind && p.url.split('?')[0] === url.split('?')[0]);
  if (existing) {
    existing.frame.src = url + (url.includes('?') ? '&' : '?') + 'r=' + Date.now();
    existing.el.classList.remove('minimized');
    activate(existing, false);
    return existing;
  }
  const pane = createPane(kind, title, { path, url });
  if (path) {
    const addr = document.createElement('div');
    addr.className = 'addr';
    const s = document.createElement('span'); s.textContent = path;
    addr.append(s);
    pane.el.insertBefore(addr, pane.body);
  }
  const frame = document.createElement('iframe');
  frame.title = title;
  // Produced pages come from untrusted documents: no scripts, no access to this page.
  if (kind !== 'help') frame.setAttribute('sandbox', 'allow-same-origin allow-modals allow-popups');
  frame.src = url;
  pane.frame = frame;
  pane.body.append(frame);
  return pane;
}

// ---- Documents -----------------------------------------------------------------------------------
function setCurrentDoc(doc) {
  state.currentDoc = doc;
  $('docinfo').textContent = doc ? `${doc.name}${doc.size !== undefined ? ' · ' + formatSize(doc.size) : ''}` : '';
}
function formatSize(n) { return n < 1024 ? n + ' bytes' : n < 1048576 ? (n / 1024).toFixed(1) + ' KB' : (n / 1048576).toFixed(1) + ' MB'; }

async function openPath(path, dropped) {
  const result = await api('/api/open', { path });
  if (result.settings) { state.settings = result.settings; updateWelcome(); }
  if (!report(result)) return null;
  showDocument(result.doc);
  return result.doc;
}
function showDocument(doc, forceDisplay) {
  if (doc.status) setStatus(doc.status);
  if (doc.warning) setStatus(doc.warning);
  setCurrentDoc(doc);
  if (doc.kind === 'rtf') {
    const existing = findPane('rtf', doc.path);
    if (existing) { existing.el.classList.remove('minimized'); activate(existing, true); return; }
    if (!doc.displayed && !forceDisplay) return;
    openRtfPane(doc);
  } else {
    const existing = findPane('html', doc.path);
    if (existing) { activate(existing, true); return; }
    openBrowserPane(viewUrl(doc.path), doc.name, 'html', doc.path);
  }
}
async function openRtfPane(doc) {
  const pane = createPane('rtf', doc.name, { path: doc.path, doc });
  const split = document.createElement('div');
  split.className = 'rtf-split';
  const left = document.createElement('section');
  left.setAttribute('aria-label', 'Rendered document');
  const lh = document.createElement('h3'); lh.textContent = 'Document';
  const rendering = document.createElement('div'); rendering.className = 'rendering';
  const wait = document.createElement('div'); wait.className = 'placeholder'; wait.textContent = 'Rendering…';
  rendering.append(wait);
  left.append(lh, rendering);
  const right = document.createElement('section');
  right.setAttribute('aria-label', 'RTF source');
  const rh = document.createElement('h3'); rh.textContent = 'RTF source';
  const dirty = document.createElement('span'); dirty.className = 'dirty'; rh.append(dirty);
  const ta = document.createElement('textarea');
  ta.spellcheck = false;
  ta.setAttribute('aria-label', 'RTF source of ' + doc.name);
  ta.wrap = 'off';
  right.append(rh, ta);
  split.append(left, right);
  pane.body.append(split);
  pane.source = ta; pane.rendering = rendering; pane.dirtyMark = dirty;
  ta.addEventListener('input', () => { pane.dirty = true; dirty.textContent = '● modified'; });
  ta.addEventListener('focus', () => (state.lastSource = pane));
  const src = await api('/api/source?path=' + encodeURIComponent(doc.path));
  if (src.ok) ta.value = src.text; else ta.value = src.message || '';
  api('/api/preview', { path: doc.path });
}
function showPreview(ev) {
  const pane = findPane('rtf', ev.path);
  if (!pane) return;
  pane.rendering.replaceChildren();
  if (!ev.url) {
    const p = document.createElement('div'); p.className = 'placeholder'; p.textContent = 'This document could not be rendered. Translate it to see the messages.';
    pane.rendering.append(p);
    return;
  }
  const frame = document.createElement('iframe');
  frame.title = 'Rendered ' + pane.title;
  frame.setAttribute('sandbox', 'allow-same-origin allow-modals allow-popups');
  frame.src = ev.url.split('/').map((s, i) => (i ? encodeURIComponent(s) : s)).join('/');
  pane.frame = frame;
  pane.rendering.append(frame);
}
function activeDocPath() {
  if (state.active?.doc) return state.active.doc.wordSource || state.active.doc.path;
  if (state.currentDoc) return state.currentDoc.wordSource || state.currentDoc.path;
  return '';
}
async function translateCurrent() {
  const path = (state.active && state.active.kind !== 'rtf' && state.active.path && !state.active.doc) ? state.active.path : activeDocPath();
  if (!path) { messageBox('Please open an RTF file first.'); return; }
  const result = await api('/api/translate', { path });
  report(result);
}
async function toolsView(what) {
  const path = activeDocPath();
  if (!path) { messageBox('Please open an RTF file first.'); return; }
  const result = await api('/api/tools', { what, path });
  if (!report(result)) return;
  const name = result.path.split('/').pop();
  const kind = { html: 'html', log: 'files', error: 'error' }[what];
  openBrowserPane(viewUrl(result.path), name, kind, result.path);
}
function showRTF() {
  const doc = state.currentDoc;
  if (!doc || doc.kind !== 'rtf') { messageBox('Please open an RTF file first.'); return; }
  showDocument(doc, true);
}
function webBrowser() {
  const last = [...state.panes].reverse().find((p) => p.kind === 'html');
  if (last) { activate(last, true); return; }
  if (state.lastOutput) openBrowserPane(viewUrl(state.lastOutput), state.lastOutput.split('/').pop(), 'html', state.lastOutput);
  else openBrowserPane('/help.html#browser', 'Web Browser', 'help');
}
function printActive() {
  const pane = state.active;
  if (!pane) { window.print(); return; }
  try { pane.frame ? pane.frame.contentWindow.print() : window.print(); } catch (e) { window.print(); }
}

async function saveSource(asNew) {
  const pane = state.active?.kind === 'rtf' ? state.active : state.lastSource;
  if (!pane || !pane.source) { messageBox('Only an RTF viewer window can be saved: open an RTF file first.'); return; }
  if (asNew) {
    fileDialog({ mode: 'save', name: pane.title, onChoose: (target) => doSave(pane, target) });
  } else {
    doSave(pane, '');
  }
}
async function doSave(pane, target) {
  const result = await api('/api/save', { path: pane.path, text: pane.source.value, saveAs: target });
  if (!report(result)) return;
  if (result.settings) state.settings = result.settings;
  pane.dirty = false; pane.dirtyMark.textContent = '';
  if (target) {
    pane.path = result.path; pane.title = result.path.split('/').pop();
    pane.el.querySelector('.pane-title').textContent = pane.title;
    pane.doc = { ...pane.doc, path: result.path, name: pane.title };
    setCurrentDoc(pane.doc);
  }
  setStatus('Saved ' + result.path + (result.backup ? ' (the previous version is ' + result.backup.split('/').pop() + ')' : ''));
  api('/api/preview', { path: pane.path });
}

async function editClipboard(action) {
  const pane = state.active?.kind === 'rtf' ? state.active : state.lastSource;
  const ta = pane?.source;
  if (!ta) { messageBox('Cut, Copy and Paste work on the RTF source of a viewer window.'); return; }
  const s = ta.selectionStart, e = ta.selectionEnd;
  if (action === 'paste') {
    let text = state.clipboard;
    try { text = await navigator.clipboard.readText(); } catch (err) { /* the page's own clipboard */ }
    ta.focus();
    ta.setRangeText(text, s, e, 'end');
  } else {
    const text = ta.value.slice(s, e);
    state.clipboard = text;
    try { await navigator.clipboard.writeText(text); } catch (err) { /* kept in the page's own clipboard */ }
    ta.focus();
    if (action === 'cut') ta.setRangeText('', s, e, 'end');
  }
  if (action !== 'copy') ta.dispatchEvent(new Event('input'));
}

// ---- Conversion events -------------------------------------------------------------------------
// The stream starts after `lastEvent` of the state the page started from, so that what happened
// while the page was starting is not missed (the browser resumes from the last id it saw when
// it reconnects).
function connectEvents(lastEvent) {
  const source = new EventSource('/api/events?after=' + encodeURIComponent(lastEvent ?? ''));
  source.addEventListener('status', (e) => setStatus(JSON.parse(e.data).text));
  source.addEventListener('progress', (e) => { const d = JSON.parse(e.data); setProgress(d.value, d.visible); });
  source.addEventListener('busy', (e) => setBusy(JSON.parse(e.data).busy));
  source.addEventListener('box', (e) => { const d = JSON.parse(e.data); messageBox(d.text, d.title); });
  source.addEventListener('preview', (e) => showPreview(JSON.parse(e.data)));
  source.addEventListener('message', (e) => {
    const d = JSON.parse(e.data);
    state.messages = (state.messages || []).concat([d]).slice(-200);
  });
  source.addEventListener('complete', (e) => conversionComplete(JSON.parse(e.data)));
  source.onerror = () => { if (state.exiting) source.close(); };
}
function conversionComplete(d) {
  if (d.kind === 'sample') { sampleComplete(d); return; }
  if (d.status === 0) {
    state.lastOutput = d.output;
    if (d.showHTML && d.output) openBrowserPane(viewUrl(d.output), d.output.split('/').pop(), 'html', d.output);
    if (d.showLog && d.producedPage) openBrowserPane(viewUrl(d.producedPage), 'Produced files: ' + d.name.split('/').pop(), 'files', d.producedPage);
  }
  if (d.showError && d.errorFile) openBrowserPane(viewUrl(d.errorFile), d.errorFile.split('/').pop(), 'error', d.errorFile);
  if (state.panes.length > 1 && state.settings.PaneLayout && state.settings.PaneLayout !== 'cascade') arrange(state.settings.PaneLayout, true);
}

// ---- Drag and drop -------------------------------------------------------------------------------
let dragDepth = 0;
window.addEventListener('dragenter', (e) => { if ([...e.dataTransfer.types].includes('Files')) { dragDepth++; $('drop-overlay').hidden = false; } });
window.addEventListener('dragleave', () => { dragDepth = Math.max(0, dragDepth - 1); if (!dragDepth) $('drop-overlay').hidden = true; });
window.addEventListener('dragover', (e) => { if ([...e.dataTransfer.types].includes('Files')) e.preventDefault(); });
window.addEventListener('drop', (e) => {
  e.preventDefault();
  dragDepth = 0; $('drop-overlay').hidden = true;
  uploadFiles([...e.dataTransfer.files]);
});
async function uploadFiles(files) {
  for (const file of files) {
    if (file.size > 256 * 1024 * 1024) { await messageBox(`${file.name} is too large to open here (the limit is 256 MB)`); continue; }
    setStatus('Reading ' + file.name);
    let result;
    try {
      const res = await fetch('/api/upload?name=' + encodeURIComponent(file.name), { method: 'POST', body: file });
      result = await res.json();
    } catch (err) { result = { ok: false, message: 'Could not read ' + file.name + ': ' + err.message }; }
    setStatus('');
    if (result.settings) { state.settings = result.settings; updateWelcome(); }
    if (!report(result)) continue;
    showDocument(result.doc);
    if (result.translate) report(result.translate);
  }
}

// ---- Tips, About, Exit ------------------------------------------------------------------------------
const TIPS = [
  'Drop RTF or Word files anywhere on this window: they are copied to your working folder and translated at once.',
  'Tools → Translation Options chooses the output: HTML, XHTML, DocBook, OEB, EPUB or your own translation file.',
  'Split long documents into one page per chapter with "Split at heading level" in the translation options.',
  'The RTF source beside each document can be edited and saved; File → Save keeps the previous version as NAME.rtf.bak.',
  'Window → Tile Vertically puts the document, its web page and the produced files side by side.',
  'Files larger than the size threshold (View → Options) are not displayed, but they translate just the same.',
];
function showTips() {
  $('tip-text').textContent = TIPS[state.tipIndex % TIPS.length];
  $('tips-show').checked = !!state.settings.showTips;
  openDialog('tips-backdrop', $('tips-close'));
}
$('tips-next').addEventListener('click', () => { state.tipIndex++; $('tip-text').textContent = TIPS[state.tipIndex % TIPS.length]; });
$('tips-close').addEventListener('click', () => closeDialog('tips-backdrop'));
$('tips-show').addEventListener('change', async () => { const r = await api('/api/settings', { showTips: $('tips-show').checked }); if (r.ok) state.settings = r.settings; });
async function showAbout() {
  const r = await api('/api/about');
  $('about-text').textContent = r.about || '';
  openDialog('about-backdrop', $('about-ok'));
}
$('about-ok').addEventListener('click', () => closeDialog('about-backdrop'));
async function exitApp() {
  const unsaved = state.panes.filter((p) => p.dirty);
  if (unsaved.length && !confirm(`${unsaved.map((p) => p.title).join(', ')} not saved. Exit anyway?`)) return;
  // The geometry is written before the server is asked to stop: a request still on its way
  // when it stops is not answered.
  await saveGeometry();
  state.exiting = true;
  await api('/api/exit', {});
  document.body.innerHTML = '<div class="welcome"><div class="welcome-card"><h1>Quillo has stopped</h1><p class="lead">You can close this tab.</p></div></div>';
  window.close();
}
function saveGeometry() {
  return api('/api/settings', { MainLeft: window.screenX * 15, MainTop: window.screenY * 15, MainWidth: window.outerWidth * 15, MainHeight: window.outerHeight * 15 });
}
let geometryTimer = 0;
window.addEventListener('resize', () => { clearTimeout(geometryTimer); geometryTimer = setTimeout(saveGeometry, 1000); });

// ---- Start ----------------------------------------------------------------------------------------
async function start() {
  buildMenubar();
  buildColorBoxes();
  const s = await api('/api/state');
  if (s.ok === false) { messageBox(s.message); return; }
  state.settings = s.settings;
  state.sampleFile = s.sampleFile;
  state.about = s.about;
  setBusy(s.busy);
  updateWelcome();
  connectEvents(s.lastEvent);
  for (const f of s.startupFiles || []) await openPath(f);
  $('workspace').removeAttribute('aria-busy');
  if (s.settings.showTips) showTips();
}
// dialogs.js runs after this script; the page starts once both have run.
document.addEventListener('DOMContentLoaded', start);
