// Quillo desktop page, the dialogs: the file dialog, the options dialog and the translation-
// options editor (with its sample). Loaded after app.js, whose helpers ($, api, state, dialogs,
// message boxes) they use; app.js starts the page once both have run.
'use strict';

// ---- File dialog ---------------------------------------------------------------------------------
const OPEN_FILTERS = [
  ['RTF (*.rtf)', ['rtf']], ['Word (*.doc;*.docx;*.odt)', ['doc', 'docx', 'odt']], ['HTM (*.htm)', ['htm']],
  ['HTML (*.html)', ['html']], ['XML (*.xml)', ['xml']], ['All files (*.*)', null],
];
const TRN_FILTERS = [['TRN files (*.trn)', ['trn']], ['All files (*.*)', null]];
const fd = { mode: 'open', dir: '', entries: [], selected: -1, filters: OPEN_FILTERS, onChoose: null };
function fileDialog(opts) {
  Object.assign(fd, { mode: opts.mode, onChoose: opts.onChoose || null, selected: -1 });
  fd.filters = opts.mode === 'trn' ? TRN_FILTERS : opts.mode === 'save' ? [['RTF (*.rtf)', ['rtf']]] : OPEN_FILTERS;
  $('file-title').textContent = { open: 'Open', save: 'Save As', trn: 'Translation options file' }[opts.mode];
  $('file-ok').textContent = opts.mode === 'open' ? 'Open' : opts.mode === 'save' ? 'Save' : 'Choose';
  $('file-filter').replaceChildren(...fd.filters.map(([label], i) => new Option(label, i)));
  $('file-filter').value = opts.mode === 'open' ? Math.min(state.settings.patternListIndex || 0, fd.filters.length - 1) : 0;
  $('file-name').value = opts.name || '';
  const start = opts.dir || (opts.mode === 'trn' && opts.current ? opts.current.slice(0, opts.current.lastIndexOf('/')) : state.settings.openPath) || '';
  openDialog('file-backdrop', $('file-list'));
  listFolder(start);
}
// Listings can overtake each other (the start folder is still loading when the user types
// another one): only the answer to the latest request is shown.
let listingSerial = 0;
async function listFolder(dir) {
  const serial = ++listingSerial;
  const result = await api('/api/list?dir=' + encodeURIComponent(dir));
  if (serial !== listingSerial) return;
  if (!result.ok) { messageBox(result.message); return; }
  fd.dir = result.dir; fd.parent = result.parent; fd.home = result.home;
  $('file-dir').value = result.dir;
  fd.all = result.entries;
  renderFileList();
}
function renderFileList() {
  const filter = fd.filters[$('file-filter').value]?.[1];
  fd.entries = fd.all.filter((e) => e.dir || !filter || filter.includes(e.name.split('.').pop().toLowerCase()));
  fd.selected = -1;
  const list = $('file-list');
  list.replaceChildren(...fd.entries.map((e, i) => {
    const row = document.createElement('div');
    row.setAttribute('role', 'option');
    row.setAttribute('aria-selected', 'false');
    row.id = 'fd-' + i;
    row.className = e.dir ? 'folder' : 'file';
    const n = document.createElement('span'); n.className = 'n'; n.textContent = e.name;
    const s = document.createElement('span'); s.className = 's'; s.textContent = e.dir ? '' : formatSize(e.size);
    row.append(n, s);
    row.addEventListener('click', () => selectEntry(i));
    row.addEventListener('dblclick', () => { selectEntry(i); chooseEntry(); });
    return row;
  }));
  if (!fd.entries.length) { const p = document.createElement('div'); p.className = 'empty'; p.textContent = 'No matching files in this folder'; list.append(p); }
}
function selectEntry(i) {
  fd.selected = i;
  [...$('file-list').children].forEach((r, k) => r.setAttribute?.('aria-selected', String(k === i)));
  const e = fd.entries[i];
  if (e) {
    $('file-list').setAttribute('aria-activedescendant', 'fd-' + i);
    $('fd-' + i)?.scrollIntoView({ block: 'nearest' });
    if (!e.dir) $('file-name').value = e.name;
  }
}
function chooseEntry() {
  const e = fd.entries[fd.selected];
  if (e && e.dir) { listFolder(fd.dir.replace(/\/$/, '') + '/' + e.name); return; }
  finishFileDialog();
}
function finishFileDialog() {
  let name = $('file-name').value.trim();
  if (!name) { const e = fd.entries[fd.selected]; if (e && !e.dir) name = e.name; }
  if (!name) return;
  const full = name.startsWith('/') ? name : fd.dir.replace(/\/$/, '') + '/' + name;
  closeDialog('file-backdrop');
  if (fd.mode === 'open') {
    api('/api/settings', { patternListIndex: Number($('file-filter').value), openPath: fd.dir });
    openPath(full);
  } else if (fd.onChoose) {
    fd.onChoose(fd.mode === 'save' && !/\.rtf$/i.test(full) ? full + '.rtf' : full);
  }
}
$('file-list').addEventListener('keydown', (e) => {
  if (e.key === 'ArrowDown') { e.preventDefault(); selectEntry(Math.min(fd.entries.length - 1, fd.selected + 1)); }
  else if (e.key === 'ArrowUp') { e.preventDefault(); selectEntry(Math.max(0, fd.selected - 1)); }
  else if (e.key === 'Enter') { e.preventDefault(); chooseEntry(); }
  else if (e.key === 'Backspace') { e.preventDefault(); if (fd.parent) listFolder(fd.parent); }
});
$('file-up').addEventListener('click', () => fd.parent && listFolder(fd.parent));
$('file-home').addEventListener('click', () => listFolder(fd.home || ''));
$('file-dir').addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); listFolder($('file-dir').value.trim()); } });
$('file-filter').addEventListener('change', renderFileList);
$('file-name').addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); finishFileDialog(); } });
$('file-ok').addEventListener('click', () => { const e = fd.entries[fd.selected]; if (e && e.dir && !$('file-name').value.trim()) chooseEntry(); else finishFileDialog(); });
$('file-cancel').addEventListener('click', () => closeDialog('file-backdrop'));

// ---- Options dialog ------------------------------------------------------------------------------
function showOptions() {
  document.querySelectorAll('#options [data-setting]').forEach((el) => {
    const v = state.settings[el.dataset.setting];
    if (el.type === 'checkbox') el.checked = !!v; else el.value = v ?? '';
  });
  $('txtFSThreshold').disabled = !state.settings.useFSThreshold;
  openDialog('options-backdrop');
}
document.querySelectorAll('#options [data-setting]').forEach((el) => {
  el.addEventListener('change', async () => {
    const key = el.dataset.setting;
    const value = el.type === 'checkbox' ? el.checked : el.type === 'number' ? Math.max(0, parseInt(el.value || '0', 10)) : el.value;
    const result = await api('/api/settings', { [key]: value });
    if (report(result)) { state.settings = result.settings; updateWelcome(); }
    else if (el.type !== 'checkbox') el.value = state.settings[key];
    $('txtFSThreshold').disabled = !state.settings.useFSThreshold;
    if (key === 'cmdlineFName') refreshEditor();
  });
});
$('options-ok').addEventListener('click', () => closeDialog('options-backdrop'));
$('cmd-browse').addEventListener('click', () => fileDialog({
  mode: 'trn', current: $('txtCmdFname').value,
  onChoose: (path) => { $('txtCmdFname').value = path; $('txtCmdFname').dispatchEvent(new Event('change')); },
}));

// ---- Translation-options editor -------------------------------------------------------------------
const COLOR_LABELS = ['Background', 'Text', 'Link', 'Visited link', 'Active link'];
function buildColorBoxes() {
  $('color-boxes').replaceChildren(...COLOR_LABELS.map((label, i) => {
    const box = document.createElement('div');
    box.className = 'colorbox';
    const sw = document.createElement('span'); sw.className = 'swatch unset'; sw.id = 'colorSwatch' + i;
    const input = document.createElement('input'); input.type = 'color'; input.id = 'color' + i; input.setAttribute('aria-label', label + ' colour');
    sw.append(input);
    const l = document.createElement('span'); l.textContent = label;
    const clear = document.createElement('button'); clear.type = 'button'; clear.className = 'clear'; clear.textContent = 'None';
    clear.setAttribute('aria-label', 'No ' + label.toLowerCase() + ' colour');
    input.addEventListener('input', () => { setColor(i, input.value.toUpperCase()); editorChanged(); });
    clear.addEventListener('click', () => { setColor(i, ''); editorChanged(); });
    box.append(sw, l, clear);
    return box;
  }));
}
function setColor(i, value) {
  const sw = $('colorSwatch' + i);
  sw.dataset.value = value;
  sw.classList.toggle('unset', !value);
  sw.style.background = value || '';
  sw.title = value || 'not set (no line is written)';
  if (value) $('color' + i).value = value.toLowerCase();
}
function addUserRow(name = '', value = '') {
  const tr = document.createElement('tr');
  const n = document.createElement('input'); n.type = 'text'; n.value = name; n.setAttribute('aria-label', 'Name'); n.className = 'uname'; n.spellcheck = false;
  // A value may span lines (continuation lines in the file), so it is edited in a text area.
  const v = document.createElement('textarea'); v.rows = Math.min(4, value.split('\n').length); v.value = value.replace(/\r\n/g, '\n'); v.setAttribute('aria-label', 'Value'); v.className = 'uvalue'; v.spellcheck = false;
  const del = document.createElement('button'); del.type = 'button'; del.textContent = '✕'; del.setAttribute('aria-label', 'Remove setting');
  del.addEventListener('click', () => { tr.remove(); editorChanged(); });
  const c1 = document.createElement('td'), c2 = document.createElement('td'), c3 = document.createElement('td');
  c1.append(n); c2.append(v); c3.append(del);
  tr.append(c1, c2, c3);
  $('user-rows').append(tr);
  return n;
}
function fillEditor(e) {
  const s = e.state;
  document.querySelectorAll('input[name=outputType]').forEach((r) => (r.checked = r.value === s.outputType));
  ['txtDTD', 'txtFontScale', 'txtImageExt', 'txtSplitDepth', 'txtBackgroundImage', 'txtImageDir'].forEach((k) => ($(k).value = s[k] ?? ''));
  ['chkCreateLogFile', 'chkShortFileNames', 'chkGenIndex'].forEach((k) => ($(k).checked = !!s[k]));
  s.chkTOCOptions.forEach((v, i) => ($('chkTOCOptions' + i).checked = v));
  s.chkFrameOptions.forEach((v, i) => ($('chkFrameOptions' + i).checked = v));
  s.colors.forEach((c, i) => setColor(i, c));
  $('user-rows').replaceChildren();
  s.userStrings.forEach(([n, v]) => addUserRow(n, v));
  $('txtDTD').disabled = s.outputType !== 'user';
  showEditorResult(e);
}
function showEditorResult(e) {
  $('ed-option-string').textContent = e.optionString ? JSON.stringify(e.optionString).slice(1, -1) : '(none: the shipped HTML translation file)';
  $('ed-option-string').dataset.value = e.optionString;
  $('ed-cmdfile-name').textContent = e.cmdFile || 'cmd.trn';
  $('ed-lines').textContent = e.fileText || ('# Cmd line file for quillo\n#\n.Strings\n' + e.pairs.map(([n, v]) => n + ',' + v).join('\n'));
}
function editorState() {
  return {
    outputType: document.querySelector('input[name=outputType]:checked')?.value || 'html5',
    txtDTD: $('txtDTD').value, chkCreateLogFile: $('chkCreateLogFile').checked,
    txtFontScale: $('txtFontScale').value, txtImageExt: $('txtImageExt').value, txtSplitDepth: $('txtSplitDepth').value,
    txtBackgroundImage: $('txtBackgroundImage').value, chkShortFileNames: $('chkShortFileNames').checked,
    chkGenIndex: $('chkGenIndex').checked, txtImageDir: $('txtImageDir').value,
    chkTOCOptions: [0, 1, 2, 3].map((i) => $('chkTOCOptions' + i).checked),
    chkFrameOptions: [0, 1].map((i) => $('chkFrameOptions' + i).checked),
    colors: [0, 1, 2, 3, 4].map((i) => $('colorSwatch' + i).dataset.value || ''),
    userStrings: [...$('user-rows').querySelectorAll('tr')].map((tr) => [tr.querySelector('.uname').value, tr.querySelector('.uvalue').value.replace(/\r?\n/g, '\r\n')]).filter(([n]) => n.trim()),
  };
}
function editorChanged() {
  $('ed-apply').disabled = false;
  $('txtDTD').disabled = editorState().outputType !== 'user';
}
async function refreshEditor() { const e = await api('/api/editor'); if (e.ok) { state.editor = e; fillEditor(e); } }
async function showEditor() {
  await refreshEditor();
  $('ed-apply').disabled = true;
  openDialog('editor-backdrop', document.querySelector('input[name=outputType]:checked'));
}
$('editor-form').addEventListener('input', editorChanged);
$('editor-form').addEventListener('change', editorChanged);
$('editor-form').addEventListener('submit', (e) => e.preventDefault());
$('user-add').addEventListener('click', () => { addUserRow().focus(); editorChanged(); });
$('ed-apply').addEventListener('click', async () => {
  const result = await api('/api/editor/apply', { state: editorState() });
  if (!report(result)) return;
  showEditorResult(result);
  $('ed-apply').disabled = true;
  $('ed-save').disabled = false;
  if ($('ed-sample').getAttribute('aria-pressed') === 'true') runSample();
});
$('ed-save').addEventListener('click', async () => {
  const result = await api('/api/editor/save', { state: editorState() });
  if (!report(result)) return;
  showEditorResult(result);
  $('ed-save').disabled = true;
  setStatus('Saved the translation options to ' + result.saved);
});
$('ed-load').addEventListener('click', async () => {
  const result = await api('/api/editor/load', {});
  if (result.state) fillEditor(result);
  report(result);
  $('ed-apply').disabled = true;
});
$('ed-sample').addEventListener('click', () => {
  const on = $('ed-sample').getAttribute('aria-pressed') !== 'true';
  $('ed-sample').setAttribute('aria-pressed', String(on));
  $('ed-sample-box').hidden = !on;
  if (on) runSample();
});
$('ed-close').addEventListener('click', () => closeDialog('editor-backdrop'));
// One sample conversion at a time: asking again while one runs (Apply, then Sample at once)
// converts again when it ends, with the options shown then.
// The sample box is aria-busy while a conversion for it runs.
const sample = { running: false, again: false };
async function runSample() {
  if (sample.running) { sample.again = true; return; }
  sample.running = true;
  $('ed-sample-box').setAttribute('aria-busy', 'true');
  // Cleared first: the conversion may end before this request's answer arrives.
  $('ed-sample-frame').removeAttribute('src');
  const result = await api('/api/editor/sample', { state: editorState() });
  if (!report(result)) sampleEnded();
}
// True when the sample is converted again (what just ended is out of date).
function sampleEnded() {
  sample.running = false;
  $('ed-sample-box').removeAttribute('aria-busy');
  if (!sample.again) return false;
  sample.again = false;
  if ($('ed-sample').getAttribute('aria-pressed') !== 'true') return false;
  runSample();
  return true;
}
function sampleComplete(d) {
  if (sampleEnded()) return;
  if (d.status !== 0) { if (d.errorFile) $('ed-sample-frame').src = viewUrl(d.errorFile); return; }
  $('ed-sample-frame').src = viewUrl(d.output) + '?r=' + Date.now();
}
