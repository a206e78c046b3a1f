// The page of `vantorel serve`: open a photo, choose the haze thickness and the look while
// looking at the result, save it. While the slider moves it shows quick previews made from
// a reduced copy; once it rests, the full-size result scaled down for the screen, which is
// exactly what Save writes.
'use strict';

const element = (id) => document.getElementById(id);
const ui = {
  file: element('file'),
  info: element('picture-info'),
  thickness: element('thickness'),
  thicknessValue: element('thickness-value'),
  format: element('format'),
  quality: element('quality'),
  qualityLabel: element('quality-label'),
  strip: element('strip'),
  save: element('save'),
  status: element('status'),
  progress: element('progress'),
  progressText: element('progress-text'),
  errorBox: element('error-box'),
  error: element('error'),
  reopen: element('reopen'),
  stage: element('stage'),
  compare: element('compare'),
  dropHint: element('drop-hint'),
  before: element('before'),
  after: element('after'),
  afterCaption: element('after-caption'),
  afterState: element('after-state'),
  divider: element('divider'),
};

// After this long without a slider movement, the exact result is asked for.
const REST_MILLISECONDS = 250;

// The photo on screen; `file` is the one the page opened, kept to open it again if the
// server drops its copy (another tab, --max-pictures).
const picture = { id: null, name: '', width: 0, height: 0, depth: 8, file: null };
let view = 'side';           // side, split or map
let restTimer = null;
let exactRequest = null;     // the AbortController of the exact view being fetched
let previewBusy = false;     // one quick preview at a time; the newest value goes next
let previewAgain = false;
let originalRequest = null;
// The full-size result being computed ({value, look, what}), and a promise settled when
// none is any more.
let exactPending = null;
let exactSettled = Promise.resolve();
let settleExact = () => {};
let shownTiming = '';        // how long the picture on screen took
let saving = false;          // the status line says what Save does until it is done
let dragFromPage = false;    // a drag that started on the page carries no photo to open

function thickness() { return Number(ui.thickness.value).toFixed(2); }
function look() { return document.querySelector('input[name=look]:checked').value; }
function shownKind() { return view === 'map' ? 'map' : 'result'; }

function showError(message, offerReopen = false) {
  ui.error.textContent = message;
  ui.errorBox.hidden = !message;
  ui.reopen.hidden = !offerReopen;
}

// The server answered 404 for the photo on screen: it no longer holds it.
function pictureLost() {
  if (exactRequest) exactRequest.abort();
  finishExact();
  showError(picture.name + ': the server no longer holds this photo (opened in another tab, or dropped ' +
            'to make room).', Boolean(picture.file));
}

// The label on the result and the status line, from what is shown and what is coming.
function describeState() {
  const shown = ui.after.dataset;
  ui.progress.hidden = !exactPending;
  if (exactPending) {
    ui.progressText.textContent = 'Computing the full-size ' + (exactPending.what === 'map' ? 'map' : 'result') +
                                  ' at ' + exactPending.value + ', ' + exactPending.look + ' look…';
  }
  let label = '';
  let status = exactPending ? 'Computing the full-size result…' : '';
  if (shown.kind) {
    const exact = shown.kind === 'exact';
    label = exact ? '· exact' : '· quick preview' + (exactPending ? ', exact result coming' : '');
    const what = shown.view === 'map' ? ' map' : ' result';
    status = (exact ? 'Exact' + what : 'Quick preview') + ' at ' + shown.thickness + ', ' + shown.look + ' look' +
             (shownTiming ? ' (' + shownTiming + ')' : '') + (exactPending ? '; computing the exact result…' : '');
  }
  ui.afterState.textContent = label;
  if (!saving) ui.status.textContent = status;
}

function finishExact() {
  exactPending = null;
  settleExact();
  describeState();
}

// The message of a failed answer: the server sends {"error": "..."}.
async function failure(response) {
  try {
    const body = await response.json();
    if (body && body.error) return body.error;
  } catch (ignored) {
    // not JSON: fall back to the status
  }
  return 'the server answered ' + response.status;
}

function isAbort(error) { return error && error.name === 'AbortError'; }

// The picture in a blob, decoded off screen, as an object URL; several answers may race
// for the same <img>, so each is decoded first and swapped in only if still wanted.
async function decodedUrl(blob) {
  const url = URL.createObjectURL(blob);
  const probe = new Image();
  probe.src = url;
  try {
    await probe.decode();
  } catch (error) {
    URL.revokeObjectURL(url);
    throw new Error('the browser could not show the picture');
  }
  return url;
}

// Shows a decoded picture, freeing the previous one.
function swapIn(img, url) {
  const previous = img.src;
  img.src = url;
  if (previous.startsWith('blob:')) URL.revokeObjectURL(previous);
}

// The panel one picture is shown in (the whole stage in the split view), in device pixels,
// and the size the picture gets there: the server fits it the same way (never enlarged).
function layout() {
  const panel = (view === 'split' ? ui.stage : element('after-panel')).getBoundingClientRect();
  const ratio = window.devicePixelRatio || 1;
  const boxWidth = Math.max(1, Math.floor(panel.width * ratio));
  const boxHeight = Math.max(1, Math.floor(panel.height * ratio));
  let width = picture.width;
  let height = picture.height;
  if (width > boxWidth || height > boxHeight) {
    const factor = Math.min(boxWidth / width, boxHeight / height);
    width = Math.min(boxWidth, Math.max(1, Math.round(width * factor)));
    height = Math.min(boxHeight, Math.max(1, Math.round(height * factor)));
  }
  return { boxWidth, boxHeight, width, height, ratio };
}

function sizeImages() {
  const box = layout();
  for (const img of [ui.before, ui.after]) {
    img.style.width = box.width / box.ratio + 'px';
    img.style.height = box.height / box.ratio + 'px';
  }
  // The split view's comparison takes the picture's own size, so that its divider and
  // labels lie on the picture, not on the empty bands around a letterboxed one.
  ui.compare.style.setProperty('--picture-width', box.width / box.ratio + 'px');
  ui.compare.style.setProperty('--picture-height', box.height / box.ratio + 'px');
  return box;
}

function pictureUrl(what, parameters) {
  return '/api/pictures/' + picture.id + '/' + what + '?' + new URLSearchParams(parameters).toString();
}

async function loadOriginal() {
  const box = sizeImages();
  if (originalRequest) originalRequest.abort();
  const controller = new AbortController();
  originalRequest = controller;
  try {
    const response = await fetch(pictureUrl('original', { width: box.boxWidth, height: box.boxHeight }),
                                 { signal: controller.signal });
    if (response.status === 404) return pictureLost();
    if (!response.ok) throw new Error(await failure(response));
    const url = await decodedUrl(await response.blob());
    if (controller.signal.aborted) URL.revokeObjectURL(url);
    else swapIn(ui.before, url);
  } catch (error) {
    if (!isAbort(error)) showError(error.message);
  }
}

function markShown(kind, value, chosenLook, what, timing) {
  ui.after.dataset.kind = kind;
  ui.after.dataset.thickness = value;
  ui.after.dataset.look = chosenLook;
  ui.after.dataset.view = what;
  ui.afterCaption.textContent = what === 'map' ? 'Transmission map (white: clear, dark: haze)' : 'Result';
  shownTiming = timing;
  describeState();
}

function exactIsShown() {
  return ui.after.dataset.kind === 'exact' && ui.after.dataset.thickness === thickness() &&
         ui.after.dataset.look === look() && ui.after.dataset.view === shownKind();
}

// A quick preview of the current value, unless the exact result is already there.
async function requestPreview() {
  if (!picture.id) return;
  if (previewBusy) {
    previewAgain = true;
    return;
  }
  previewBusy = true;
  const value = thickness();
  const chosenLook = look();
  const what = shownKind();
  const started = performance.now();
  try {
    const response = await fetch(pictureUrl('preview', { thickness: value, look: chosenLook, view: what }));
    if (response.status === 200) {
      const url = await decodedUrl(await response.blob());
      if (exactIsShown() || !picture.id) {
        URL.revokeObjectURL(url);
      } else {
        swapIn(ui.after, url);
        markShown('preview', value, chosenLook, what, 'in ' + Math.round(performance.now() - started) + ' ms');
      }
    } else if (response.status === 404) {
      pictureLost();
    } else if (response.status !== 204) {
      showError(await failure(response));
    }
  } catch (error) {
    showError(error.message);
  } finally {
    previewBusy = false;
  }
  if (previewAgain) {
    previewAgain = false;
    if (thickness() !== value || look() !== chosenLook || shownKind() !== what) requestPreview();
  }
}

// The full-size result of the current value, scaled for the screen; an older request
// still running is abandoned.
async function requestExact() {
  if (!picture.id) return;
  clearTimeout(restTimer);
  if (exactRequest) exactRequest.abort();
  const controller = new AbortController();
  exactRequest = controller;
  const value = thickness();
  const chosenLook = look();
  const what = shownKind();
  const box = sizeImages();
  const started = performance.now();
  if (!exactPending) exactSettled = new Promise((resolve) => { settleExact = resolve; });
  exactPending = { value, look: chosenLook, what };
  describeState();
  // Whether this request still stands for what the page wants: a newer one replaces it.
  const current = () => exactRequest === controller;
  try {
    const response = await fetch(pictureUrl('exact', {
      thickness: value, look: chosenLook, view: what, width: box.boxWidth, height: box.boxHeight,
    }), { signal: controller.signal });
    if (response.status === 204) {  // superseded on the server too
      if (current()) finishExact();
      return;
    }
    if (response.status === 404) return pictureLost();
    if (!response.ok) throw new Error(await failure(response));
    const seconds = response.headers.get('X-Dehaze-Seconds');
    const url = await decodedUrl(await response.blob());
    if (!current() || value !== thickness() || chosenLook !== look() || what !== shownKind()) {
      URL.revokeObjectURL(url);
      return;
    }
    swapIn(ui.after, url);
    showError('');
    exactPending = null;
    const shownAfter = ((performance.now() - started) / 1000).toFixed(2);
    markShown('exact', value, chosenLook, what,
              'the dehaze took ' + Number(seconds).toFixed(2) + ' s, shown after ' + shownAfter + ' s');
    finishExact();
  } catch (error) {
    if (isAbort(error)) return;
    if (current()) finishExact();
    showError(error.message);
  }
}

function thicknessChanged(settled) {
  ui.thicknessValue.value = thickness();
  if (settled) {
    requestExact();
    if (!exactIsShown()) requestPreview();
    return;
  }
  requestPreview();
  clearTimeout(restTimer);
  restTimer = setTimeout(requestExact, REST_MILLISECONDS);
}

async function openFile(file) {
  if (!file) return;
  showError('');
  if (exactRequest) exactRequest.abort();
  finishExact();
  ui.status.textContent = 'Opening ' + file.name + '…';
  try {
    const response = await fetch('/api/pictures?' + new URLSearchParams({ name: file.name }).toString(),
                                 { method: 'POST', body: file });
    if (!response.ok) throw new Error(file.name + ': ' + await failure(response));
    const held = await response.json();
    if (picture.id) fetch('/api/pictures/' + picture.id, { method: 'DELETE' }).catch(() => {});
    Object.assign(picture, { id: held.id, name: file.name, width: held.width, height: held.height,
                             depth: held.depth, file });
  } catch (error) {
    ui.status.textContent = '';
    showError(error.message);
    return;
  }
  ui.info.textContent = picture.name + ' · ' + picture.width + ' × ' + picture.height + ' pixels (' +
                        (picture.width * picture.height / 1e6).toFixed(1) + ' MP' +
                        (picture.depth === 16 ? ', 16 bits' : '') + ')';
  offerDeepFormats(picture.depth === 16);
  ui.dropHint.hidden = true;
  ui.compare.hidden = false;
  for (const control of [ui.thickness, ui.thicknessValue, ui.save]) control.disabled = false;
  delete ui.after.dataset.kind;
  ui.after.removeAttribute('src');
  shownTiming = '';
  await loadOriginal();
  thicknessChanged(true);
}

function setView(next) {
  view = next;
  ui.stage.dataset.view = view === 'split' ? 'split' : 'side';
  if (!picture.id) return;
  loadOriginal();
  requestExact();
  if (!exactIsShown()) requestPreview();
}

function setSplit(percent) {
  const value = Math.min(100, Math.max(0, percent));
  ui.stage.style.setProperty('--split', value + '%');
  ui.divider.setAttribute('aria-valuenow', String(Math.round(value)));
}

function splitFromPointer(event) {
  // In the split view the comparison is the size of the picture itself.
  const rect = ui.compare.getBoundingClientRect();
  setSplit(((event.clientX - rect.left) / rect.width) * 100);
}

const qualityByFormat = {
  jpg: { label: 'Quality', min: 1, max: 100, value: '95', placeholder: '' },
  webp: { label: 'Quality (empty: lossless)', min: 1, max: 100, value: '', placeholder: 'lossless' },
  png: { label: 'Compression (0–9)', min: 0, max: 9, value: '', placeholder: 'default' },
  png16: { label: 'Compression (0–9)', min: 0, max: 9, value: '', placeholder: 'default' },
  tif16: null,  // nothing to choose
};

// What each choice of the list asks of the server: the format and, for the deep
// choices, 16 bits (the page itself shows an 8-bit view).
const savedAs = { png16: { format: 'png', depth: '16' }, tif16: { format: 'tif', depth: '16' } };

// The 16-bit choices are offered for a 16-bit source only.
function offerDeepFormats(deep) {
  for (const option of ui.format.querySelectorAll('option[data-deep]')) option.hidden = !deep;
  if (!deep && ui.format.selectedOptions[0].hidden) {
    ui.format.value = 'jpg';
    formatChanged();
  }
}

function formatChanged() {
  const rule = qualityByFormat[ui.format.value];
  ui.quality.disabled = rule === null;
  ui.qualityLabel.textContent = rule ? rule.label : 'Quality';
  if (rule) Object.assign(ui.quality, { min: rule.min, max: rule.max, value: rule.value, placeholder: rule.placeholder });
  else Object.assign(ui.quality, { value: '', placeholder: '' });
}

async function save() {
  if (!picture.id) return;
  const choice = savedAs[ui.format.value] || { format: ui.format.value };
  const format = choice.format;
  const parameters = { thickness: thickness(), look: look(), format };
  if (choice.depth) parameters.depth = choice.depth;
  const quality = ui.quality.disabled ? '' : ui.quality.value.trim();
  if (quality !== '') {
    parameters[{ jpg: 'jpeg-quality', webp: 'webp-quality', png: 'png-compression' }[format]] = quality;
  }
  if (ui.strip.checked) parameters['strip-metadata'] = '1';
  const name = picture.name.replace(/\.[^.]*$/, '') + '_dehazed.' + format;
  ui.save.disabled = true;
  saving = true;
  try {
    // The full-size result on its way is the one saved: it is shown first, then saved.
    while (exactPending) {
      ui.status.textContent = 'Saving ' + name + ': waiting for the full-size result…';
      await exactSettled;
    }
    ui.status.textContent = 'Saving ' + name + '…';
    const response = await fetch(pictureUrl('result', parameters));
    if (response.status === 404) {
      ui.status.textContent = '';
      return pictureLost();
    }
    if (!response.ok) throw new Error(await failure(response));
    const note = response.headers.get('X-Metadata-Note');
    const blob = await response.blob();
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    showError('');
    ui.status.textContent = 'Saved ' + name + ' (' + (blob.size / 1e6).toFixed(2) + ' MB)' + (note ? ': ' + note : '');
  } catch (error) {
    showError(error.message);
    ui.status.textContent = '';
  } finally {
    saving = false;
    ui.save.disabled = false;
  }
}

ui.file.addEventListener('change', () => openFile(ui.file.files[0]));
ui.thickness.addEventListener('input', () => thicknessChanged(false));
ui.thickness.addEventListener('change', () => thicknessChanged(true));
ui.thicknessValue.addEventListener('change', () => {
  const value = Number(ui.thicknessValue.value);
  if (!Number.isFinite(value) || value < 0.1 || value > 1) {
    showError('The thickness must lie between 0.10 and 1.00.');
    ui.thicknessValue.value = thickness();
    return;
  }
  ui.thickness.value = value.toFixed(2);
  thicknessChanged(true);
});
for (const radio of document.querySelectorAll('input[name=view]')) {
  radio.addEventListener('change', () => { if (radio.checked) setView(radio.value); });
}
for (const radio of document.querySelectorAll('input[name=look]')) {
  radio.addEventListener('change', () => { if (radio.checked) thicknessChanged(true); });
}
ui.format.addEventListener('change', formatChanged);
ui.save.addEventListener('click', save);
ui.reopen.addEventListener('click', () => openFile(picture.file));

ui.divider.addEventListener('pointerdown', (event) => {
  ui.divider.setPointerCapture(event.pointerId);
  splitFromPointer(event);
});
ui.divider.addEventListener('pointermove', (event) => {
  if (ui.divider.hasPointerCapture(event.pointerId)) splitFromPointer(event);
});
ui.divider.addEventListener('keydown', (event) => {
  const now = Number(ui.divider.getAttribute('aria-valuenow'));
  const step = { ArrowLeft: -2, ArrowRight: 2, PageDown: -10, PageUp: 10 }[event.key];
  if (step !== undefined) setSplit(now + step);
  else if (event.key === 'Home') setSplit(0);
  else if (event.key === 'End') setSplit(100);
  else return;
  event.preventDefault();
});

// A photo dropped anywhere on the page is opened; only files from outside the page count.
// The pictures shown cannot be dragged: dropped back on the page, the browser would hand
// over their screen copy as a file, which would replace the photo.
const carriesFiles = (event) => !dragFromPage && Array.from(event.dataTransfer.types).includes('Files');
document.addEventListener('dragstart', (event) => {
  if (event.target instanceof HTMLImageElement) {
    event.preventDefault();
    return;
  }
  dragFromPage = true;
});
document.addEventListener('dragend', () => { dragFromPage = false; });
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  const wanted = carriesFiles(event);
  event.dataTransfer.dropEffect = wanted ? 'copy' : 'none';
  ui.stage.classList.toggle('dragging', wanted);
});
document.addEventListener('dragleave', () => ui.stage.classList.remove('dragging'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  ui.stage.classList.remove('dragging');
  if (carriesFiles(event) && event.dataTransfer.files.length > 0) openFile(event.dataTransfer.files[0]);
});

let resizeTimer = null;
window.addEventListener('resize', () => {
  clearTimeout(resizeTimer);
  resizeTimer = setTimeout(() => {
    if (!picture.id) return;
    delete ui.after.dataset.kind;
    loadOriginal();
    requestExact();
  }, 200);
});

formatChanged();
