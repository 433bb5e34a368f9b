// Wires the page together: settings, import, the list, processing, events, help.
(function (root) {
  'use strict';

  const { VelmoraBridge: Bridge, VelmoraRefusalHints: H, VelmoraSettings: S, VelmoraTimecode: T, VelmoraReport: R,
    VelmoraFormat: F } = root;

  const CLOSE_BLOCKED = 'Velmora is processing movies. Cancel processing or let it finish before quitting.';
  const APPEND_QUESTION = 'The originals themselves get the timecode; nothing is copied. ' +
    'Restore original gives back the exact bytes.';
  const ONLY_ORIGINALS = 'Only backups that are verifiably the movie\'s original are deleted.';
  const $ = (id) => document.getElementById(id);

  let settings = { ...S.DEFAULTS };
  let list = null;
  let panel = null;
  let header = null;
  let batch = null; // {ids, done} while a process_movies request is outstanding
  let lastBatch = null; // the last batch the backend answered: its settings name the report's folder
  // 'restore' or 'remove' while the page restores all originals or removes
  // backups: the backend holds its batch gate, so nothing else is sent.
  let chore = null;
  // Drops that came meanwhile, imported once it is over.
  let heldDrops = [];
  // How each movie was last sent: the report describes a processed movie as
  // it went out, whatever changed in the list since.
  const sent = new Map();
  // Files the imports refused since the list was last cleared, by name.
  const refused = new Map();
  let importing = 0;

  // ---- messages -----------------------------------------------------------

  function dismissible(container, text, extraClass, hint) {
    const item = document.createElement('li');
    item.className = 'notice' + (extraClass ? ' ' + extraClass : '');
    const body = document.createElement('span');
    body.textContent = text;
    for (const hintText of Array.isArray(hint) ? hint : [hint]) {
      if (!hintText) continue;
      const line = document.createElement('span');
      line.className = 'hint-line';
      line.textContent = hintText;
      body.append(document.createElement('br'), line);
    }
    const close = document.createElement('button');
    close.type = 'button';
    close.className = 'mini';
    close.textContent = 'Dismiss';
    close.setAttribute('aria-label', 'Dismiss: ' + text);
    close.addEventListener('click', () => {
      const next = item.nextElementSibling || item.previousElementSibling;
      item.remove();
      const focusTarget = next ? next.querySelector('button') : null;
      if (focusTarget) focusTarget.focus();
      syncNoticeAreas();
    });
    item.append(body, close);
    container.append(item);
    syncNoticeAreas();
    if (container.scrollHeight > container.clientHeight) container.scrollTop = item.offsetTop - container.offsetTop;
    return item;
  }

  function showError(text) {
    dismissible($('messages'), text, 'bad');
  }

  function showNotice(text, lines) {
    dismissible($('messages'), text, '', lines);
  }

  // A reveal no file manager answered: the path itself, and a Copy button
  // that puts it on the clipboard through the shell.
  function showRevealFailure(file, message) {
    const item = dismissible($('messages'), message + '.', 'bad', file);
    const copy = document.createElement('button');
    copy.type = 'button';
    copy.className = 'mini copy-path';
    copy.textContent = 'Copy';
    copy.setAttribute('aria-label', 'Copy the path ' + file);
    copy.addEventListener('click', () => Bridge.invoke('copy_text', { text: file })
      .then(() => { copy.textContent = 'Copied'; })
      .catch((error) => showError(error.message)));
    item.insertBefore(copy, item.lastElementChild);
  }

  function syncNoticeAreas() {
    $('messages').hidden = $('messages').children.length === 0;
    // The newest says how many came before it, for when it shows alone.
    const notices = [...$('messages').children];
    notices.forEach((item, i) => {
      if (i === notices.length - 1 && i > 0) item.dataset.earlier = String(i);
      else delete item.dataset.earlier;
    });
    const items = $('import-error-list').children.length;
    $('import-errors').hidden = items === 0;
    const files = items - (otherFiles.length > 0 ? 1 : 0) + otherFiles.length;
    $('import-errors-count').textContent = files > 0 ? ' · ' + files + (files === 1 ? ' file' : ' files') : '';
  }

  // ---- panels that fold to one line ---------------------------------------

  // Large text in a short window leaves room for few rows: the settings and
  // the refusals then start folded. What the user chose by hand stays.
  const COMPACT_LINES = 36;
  const folds = { settings: null, imports: null };

  function compactWindow() {
    const rem = parseFloat(getComputedStyle(document.documentElement).fontSize) || 16;
    return window.innerHeight / rem < COMPACT_LINES;
  }

  function settingsLine() {
    const chosen = (name) => {
      const input = document.querySelector('#settings input[name="' + name + '"]:checked');
      return input ? input.parentElement.textContent.trim() : '';
    };
    const mode = $('mode');
    return [chosen('source'), mode.options[mode.selectedIndex] ? mode.options[mode.selectedIndex].text : '',
      chosen('output')].filter(Boolean).join(' · ');
  }

  function paintFolds() {
    const compact = compactWindow();
    const settingsOpen = folds.settings !== null ? folds.settings : !compact;
    const importsOpen = folds.imports !== null ? folds.imports : !compact;
    $('settings').classList.toggle('folded', !settingsOpen);
    document.querySelector('.layout').classList.toggle('settings-folded', !settingsOpen);
    $('settings-toggle').setAttribute('aria-expanded', String(settingsOpen));
    $('settings-line').textContent = settingsOpen ? '' : settingsLine();
    $('import-errors').classList.toggle('folded', !importsOpen);
    $('import-errors-toggle').setAttribute('aria-expanded', String(importsOpen));
    document.body.classList.toggle('compact', compact);
  }

  function toggleFold(which, button) {
    folds[which] = button.getAttribute('aria-expanded') !== 'true';
    paintFolds();
  }

  // Files that are not movies (a card's XML, THM, LRV, JPG…) share one
  // collapsible line at the end, so the real refusals stay in sight.
  let otherFiles = [];

  function paintOtherFiles() {
    const list = $('import-error-list');
    const old = list.querySelector('li.others');
    if (old) old.remove();
    if (otherFiles.length === 0) return syncNoticeAreas();
    const item = document.createElement('li');
    item.className = 'others';
    const details = document.createElement('details');
    const summary = document.createElement('summary');
    summary.textContent = H.otherFilesLine(otherFiles);
    const names = document.createElement('p');
    names.className = 'names';
    names.textContent = otherFiles.join(', ');
    const why = document.createElement('p');
    why.className = 'hint-line';
    why.textContent = H.NOT_A_MOVIE + ' ' + H.hintFor(H.NOT_A_MOVIE);
    details.append(summary, why, names);
    const close = document.createElement('button');
    close.type = 'button';
    close.className = 'mini';
    close.textContent = 'Dismiss';
    close.setAttribute('aria-label', 'Dismiss: ' + summary.textContent);
    close.addEventListener('click', () => {
      otherFiles = [];
      paintOtherFiles();
      const next = list.querySelector('li button');
      (next || $('add-movies')).focus();
    });
    item.append(details, close);
    list.append(item);
    syncNoticeAreas();
  }

  function clearImportErrors() {
    otherFiles = [];
    $('import-error-list').replaceChildren();
    syncNoticeAreas();
  }

  function addImportErrors(errors) {
    for (const error of errors) {
      const name = error && typeof error.name === 'string' && error.name !== '' ? error.name : '(no name)';
      const message = error && typeof error.message === 'string' ? error.message : '';
      refused.set(name, message);
      if (H.isNotAMovie(message)) {
        otherFiles.push(name);
        continue;
      }
      dismissible($('import-error-list'), name + ': ' + message, '', H.hintFor(message));
    }
    paintOtherFiles();
  }

  // ---- settings -----------------------------------------------------------

  let saving = false;
  let pendingSave = null;

  // One save at a time, the newest last: the backend serves requests on
  // separate threads, so two saves in flight could land in either order.
  function save(value) {
    pendingSave = value;
    if (saving) return;
    saving = true;
    const next = pendingSave;
    pendingSave = null;
    Bridge.invoke('save_settings', { value: next })
      .catch((error) => showError(error.message))
      .finally(() => {
        saving = false;
        if (pendingSave) save(pendingSave);
      });
  }

  // The form knows nothing of the list's own settings: they stay as they are.
  function settingsChanged(next) {
    settings = { ...next, movieColumnWidth: settings.movieColumnWidth };
    paintFolds();
    $('created-heading').textContent = F.createdHeading(settings.timezone);
    list.rederive(settings);
    save(settings);
  }

  function fieldMessages() {
    let start = settings.source === 'custom' ? F.fieldMessage(list.problems('start')) : '';
    let offset = F.fieldMessage(list.problems('offset'));
    if (list.size() === 0) {
      // No movie yet to measure against: still catch what no rate would accept.
      const probe = { rate: '30000/1001' };
      if (settings.source === 'custom') {
        const r = T.deriveStart(probe, { ...settings, mode: 'non-drop', offset: '00:00:00:00' });
        if (!r.ok) start = r.error;
      }
      const o = T.deriveStart({ ...probe, timecode: '00:00:00:00' }, { ...settings, source: 'embedded' });
      if (!o.ok && o.field === 'offset') offset = o.error;
    }
    panel.showMessage('start-msg', start);
    panel.showMessage('offset-msg', offset);
    const prefix = settings.copy && settings.rename ? S.prefixProblem(settings.prefix) : null;
    panel.showMessage('prefix-msg', prefix);
    const typed = panel.problems();
    panel.showMessage('zone-offset-msg', typed.zone);
    panel.showMessage('reel-msg', typed.reel);
    panel.showMessage('suffix-msg', settings.copy && !settings.rename ? typed.suffix : null);
    const name = list.firstName() || 'clip.mov';
    panel.setExample(S.outputName(name, settings, 0));
    return prefix || typed.zone || typed.reel || (settings.copy && !settings.rename && typed.suffix);
  }

  // ---- the list and the batch ----------------------------------------------

  function listChanged() {
    const blocked = fieldMessages();
    const c = list.counts();
    const eligible = list.eligible();
    $('empty').hidden = c.total > 0;
    $('no-problems').hidden = c.total === 0 || list.shown() > 0;
    let summary = c.total === 0 ? 'No movies' : c.total + (c.total === 1 ? ' movie' : ' movies');
    if (c.total > 0) {
      summary += ' · ' + eligible.length + ' to process';
      if (c.total - c.valid > 0) summary += ' · ' + (c.total - c.valid) + ' left out';
      if (c.done) summary += ' · ' + c.done + ' done';
      if (c.failed) summary += ' · ' + c.failed + ' failed';
      if (c.cancelled) summary += ' · ' + c.cancelled + ' cancelled';
      if (c.skipped) summary += ' · ' + c.skipped + ' skipped';
    }
    const busy = Boolean(batch) || chore !== null;
    if (!busy) $('summary').textContent = summary;
    $('process').disabled = busy || eligible.length === 0 || Boolean(blocked);
    $('process').textContent = eligible.length > 0 ? 'Process ' + eligible.length : 'Process';
    $('clear-list').disabled = busy || c.total === 0;
    $('save-report').disabled = busy || !lastBatch;
    $('add-movies').disabled = chore !== null;
    $('add-folder').disabled = chore !== null;
    paintBackupActions(busy);
  }

  // "Restore all" while a row can be restored; "Remove backups…" while a row
  // names a backup, usable when one of them would be tried.
  function paintBackupActions(busy) {
    const plan = list.backupPlan();
    $('restore-all').hidden = list.restorable().length === 0;
    $('restore-all').disabled = busy;
    $('remove-backups').hidden = !plan.any;
    $('remove-backups').disabled = busy || plan.count === 0;
  }

  function importPaths(paths) {
    if (!Array.isArray(paths) || paths.length === 0) return Promise.resolve();
    if (chore !== null) {
      heldDrops.push(...paths);
      return Promise.resolve();
    }
    importing += 1;
    document.body.classList.add('importing');
    $('summary').textContent = 'Importing…';
    return Bridge.invoke('import_movies', { paths, recursive: settings.recursive })
      .then((reply) => {
        const known = list.add(reply && Array.isArray(reply.files) ? reply.files : [], settings);
        if (known > 0) showNotice(known + ' already in the list');
        addImportErrors(reply && Array.isArray(reply.errors) ? reply.errors : []);
      })
      .catch((error) => showError(error.message))
      .finally(() => {
        importing -= 1;
        if (importing === 0) document.body.classList.remove('importing');
        listChanged();
      });
  }

  function pick(kind) {
    const args = kind === 'folder' ? { kind: 'folder' } : {};
    return Bridge.invoke('pick', args).then(importPaths).catch((error) => showError(error.message));
  }

  // Questions before anything on disk changes: Cancel has the focus, so
  // Enter and Escape keep everything as it is.
  function confirmAction(text, action) {
    const dialog = $('confirm');
    $('confirm-text').textContent = text;
    $('confirm-ok').textContent = action;
    dialog.returnValue = '';
    dialog.showModal();
    $('confirm-cancel').focus();
    return new Promise((resolve) => {
      dialog.addEventListener('close', () => resolve(dialog.returnValue === 'confirm'), { once: true });
    });
  }

  // In place replaces the originals.
  function confirmInPlace(count) {
    return confirmAction(count === 1
      ? 'Replace 1 movie in place? The original stays beside it as a backup.'
      : 'Replace ' + count + ' movies in place? Each original stays beside it as a backup.', 'Replace');
  }

  // Without a copy the originals themselves change.
  function confirmAppend(count) {
    const what = count === 1 ? '1 movie' : count + ' movies';
    return confirmAction('Stamp ' + what + ' in place without a copy?\n' + APPEND_QUESTION, 'Stamp');
  }

  function processMovies() {
    if (batch || chore !== null || $('confirm').open) return;
    const chosen = list.eligible();
    if (chosen.length === 0) return;
    if (settings.copy === false) {
      const ask = settings.append === true ? confirmAppend : confirmInPlace;
      ask(chosen.length).then((confirmed) => {
        if (confirmed && !batch && chore === null) startBatch(chosen);
      });
      return;
    }
    startBatch(chosen);
  }

  function startBatch(chosen) {
    const ids = chosen.map((m) => m.id);
    const timecodes = {};
    const reels = {};
    const sentWith = { ...settings };
    for (const m of chosen) {
      timecodes[m.id] = m.timecode;
      if (m.reel !== null) reels[m.id] = m.reel;
      sent.set(m.id, { timecode: m.timecode, typed: m.typed, reel: m.reel, settings: sentWith });
    }
    // Sizes by position in the batch: the progress line's speed and time left.
    const sizes = ids.map((id) => {
      const record = list.recordOf(id);
      return record && Number.isFinite(record.size) && record.size > 0 ? record.size : 0;
    });
    batch = { ids, total: ids.length, settings: sentWith, sizes, startedAt: performance.now(), copied: 0, passed: 0,
      measured: !(sentWith.copy === false && sentWith.append === true) };
    panel.setLocked(true);
    list.beginBatch(ids);
    document.body.classList.add('processing');
    $('cancel').disabled = false;
    $('summary').textContent = 'Processing 0 of ' + ids.length;
    listChanged();
    Bridge.invoke('process_movies', { ids, timecodes, reels, options: { ...settings } })
      .then((reply) => {
        const results = reply && Array.isArray(reply.results) ? reply.results : [];
        lastBatch = { settings: batch.settings };
        finishBatch(ids, results, reply && reply.cancelled === true);
      })
      .catch((error) => {
        finishBatch(ids, [], false);
        showError(error.message);
      });
  }

  function finishBatch(ids, results, cancelled) {
    batch = null;
    // Quitting is possible again, so the notice about it is over.
    const noticeFocused = $('close-blocked').contains(document.activeElement);
    $('close-blocked').hidden = true;
    panel.setLocked(false);
    document.body.classList.remove('processing');
    $('cancel').disabled = true;
    list.endBatch(ids, results);
    listChanged();
    if (noticeFocused) ($('process').disabled ? $('add-movies') : $('process')).focus();
    if (cancelled) {
      const c = list.counts();
      $('summary').textContent = F.cancelledSummary(c.total, { done: c.done, cancelled: c.cancelled + c.unreached,
        failed: c.failed, skipped: c.skipped });
    }
  }

  // Every movie of the list, as last sent where a batch took it, then every
  // file not imported.
  function reportOf(zone) {
    const movies = list.reportEntries().map((entry) => {
      const went = entry.result || entry.phase === 'unreached' ? sent.get(entry.id) : null;
      const how = went || { timecode: entry.timecode, typed: entry.typed, reel: entry.reel, settings };
      const timecode = entry.result && typeof entry.result.timecode === 'string' ? entry.result.timecode
        : how.timecode;
      return { ...entry, timecode, typed: how.typed, reel: how.reel, settings: how.settings };
    });
    const notImported = [...refused].map(([name, message]) => ({ name, message }));
    return { settings: lastBatch.settings, zone, movies, notImported };
  }

  function saveReport() {
    if (batch) return;
    if (!lastBatch) {
      showError('Process movies first: the report lists the last batch.');
      return;
    }
    let zone = '';
    try { zone = Intl.DateTimeFormat().resolvedOptions().timeZone || ''; } catch (error) { zone = ''; }
    const report = reportOf(zone);
    const text = R.buildReport(report);
    Bridge.invoke('save_report', { text, folder: R.folder(report), name: R.fileName(new Date()) })
      .then((path) => { if (typeof path === 'string') showNotice('Report saved: ' + path); })
      .catch((error) => showError(error.message));
  }

  function restore(id, control) {
    if (chore !== null) return;
    control.disabled = true;
    Bridge.invoke('restore', { id })
      .then((reply) => {
        list.restored(id, reply);
        showNotice('Original restored: ' + (reply && typeof reply.path === 'string' ? reply.path : id));
      })
      .catch((error) => {
        control.disabled = false;
        showError(error.message);
      });
  }

  let choreFocus = null;

  function beginChore(kind) {
    chore = kind;
    choreFocus = document.activeElement;
    document.body.classList.add('restoring');
    list.setRestoreLocked(true);
    listChanged();
  }

  // Focus the chore took from its button goes back there, or on to the next
  // step where the button is gone; drops held meanwhile are imported now.
  function endChore() {
    chore = null;
    document.body.classList.remove('restoring');
    list.setRestoreLocked(false);
    listChanged();
    const current = document.activeElement;
    if (!current || current === document.body || current === choreFocus) {
      const usable = (node) => node && node.isConnected && !node.disabled && node.closest('[hidden]') === null;
      (usable(choreFocus) ? choreFocus : ($('process').disabled ? $('add-movies') : $('process'))).focus();
    }
    choreFocus = null;
    const held = heldDrops;
    heldDrops = [];
    importPaths(held);
  }

  function nameOf(id) {
    const record = list.recordOf(id);
    if (!record) return id;
    return typeof record.name === 'string' ? record.name : F.baseName(record.path || id);
  }

  // Every restorable row in turn, as one batch of the page: the single
  // restore's flow, then one summary.
  async function restoreAll() {
    if (batch || chore !== null) return;
    const ids = list.restorable();
    if (ids.length === 0) return;
    beginChore('restore');
    let restored = 0;
    const failures = [];
    for (let i = 0; i < ids.length; i += 1) {
      $('summary').textContent = 'Restoring ' + (i + 1) + ' of ' + ids.length;
      try {
        const reply = await Bridge.invoke('restore', { id: ids[i] });
        list.restored(ids[i], reply);
        restored += 1;
      } catch (error) {
        failures.push(nameOf(ids[i]) + ': ' + error.message);
      }
    }
    endChore();
    const text = 'Restored ' + restored + (restored === 1 ? ' original.' : ' originals.');
    dismissible($('messages'), text, failures.length ? 'bad' : '', failures);
  }

  function removeBackups() {
    if (batch || chore !== null || $('confirm').open) return;
    const plan = list.backupPlan();
    if (plan.count === 0) return;
    const what = plan.count === 1 ? '1 backup' : plan.count + ' backups';
    confirmAction('Remove ' + what + ' (' + F.sizeText(plan.bytes) + ')? ' + ONLY_ORIGINALS, 'Remove')
      .then((confirmed) => { if (confirmed && !batch && chore === null) sendRemoveBackups(plan.ids); });
  }

  function sendRemoveBackups(ids) {
    beginChore('remove');
    $('summary').textContent = 'Removing backups…';
    Bridge.invoke('remove_backups', { ids })
      .then((reply) => {
        const removed = reply && Array.isArray(reply.removed) ? reply.removed : [];
        const kept = reply && Array.isArray(reply.kept) ? reply.kept : [];
        list.backupsRemoved(removed);
        const text = 'Removed ' + removed.length + (removed.length === 1 ? ' backup.' : ' backups.');
        showNotice(text, kept.filter((k) => k && typeof k.path === 'string')
          .map((k) => F.baseName(k.path) + ': ' + (typeof k.reason === 'string' ? k.reason : '')));
      })
      .catch((error) => showError(error.message))
      .finally(endChore);
  }

  // Bytes copied so far and bytes still ahead, from the movie at `index`
  // being `share` copied; a movie that ends is counted whole, and only a
  // done one as copied. Under "append" nothing is copied, so nothing is measured.
  function measure(payload, finished) {
    const size = batch.sizes[payload.index] || 0;
    let share = typeof payload.progress === 'number' && Number.isFinite(payload.progress) ? payload.progress : 0;
    if (finished) {
      batch.passed += size;
      if (payload.state === 'done') batch.copied += size;
      share = 0;
    }
    const total = batch.sizes.reduce((sum, n) => sum + n, 0);
    const current = Math.min(1, Math.max(0, share)) * size;
    return { copied: batch.measured ? batch.copied + current : 0, left: total - batch.passed - current,
      elapsedMs: performance.now() - batch.startedAt };
  }

  function onProgress(payload) {
    list.applyProgress(payload);
    if (batch && payload && Number.isInteger(payload.index) && Number.isInteger(payload.total)) {
      const finished = payload.state === 'done' || payload.state === 'error' || payload.state === 'skipped';
      const text = F.progressText({ index: payload.index, total: payload.total, finished,
        ...measure(payload, finished) });
      if ($('summary').textContent !== text) $('summary').textContent = text;
    }
  }

  function cancel() {
    $('cancel').disabled = true;
    Bridge.invoke('cancel').catch((error) => {
      $('cancel').disabled = !batch;
      showError(error.message);
    });
  }

  // ---- drop zone, help ----------------------------------------------------

  function setDragging(on) {
    $('drop-zone').classList.toggle('active', on);
  }

  function openHelp() {
    const dialog = $('help-panel');
    if (!dialog.open) dialog.showModal();
  }

  // ---- zoom ----------------------------------------------------------------

  // Every size is in rem, so the root font size zooms the whole page; the
  // shell's zoom from the desktop's text scale applies on top.
  const ZOOM_STEPS = [0.67, 0.8, 0.9, 1, 1.1, 1.25, 1.5, 1.75, 2];
  let zoomStep = ZOOM_STEPS.indexOf(1);

  function setZoom(step) {
    zoomStep = Math.min(ZOOM_STEPS.length - 1, Math.max(0, step));
    const percent = Math.round(ZOOM_STEPS[zoomStep] * 100);
    document.documentElement.style.fontSize = percent === 100 ? '' : percent + '%';
    paintFolds();
  }

  function onZoomKey(event) {
    if (!(event.ctrlKey || event.metaKey) || event.altKey) return;
    let step = null;
    if (event.key === '+' || event.key === '=') step = zoomStep + 1;
    else if (event.key === '-' || event.key === '_') step = zoomStep - 1;
    else if (event.key === '0') step = ZOOM_STEPS.indexOf(1);
    if (step === null) return;
    event.preventDefault();
    setZoom(step);
  }

  // Escape cancels a running batch unless a field or a dialog used it.
  function onEscape(event) {
    if (event.key !== 'Escape' || event.defaultPrevented || !batch || $('help-panel').open) return;
    if ($('cancel').disabled) return;
    event.preventDefault();
    cancel();
  }

  function wire() {
    document.addEventListener('keydown', onZoomKey);
    document.addEventListener('keydown', onEscape);
    $('add-movies').addEventListener('click', () => pick('movies'));
    $('add-folder').addEventListener('click', () => pick('folder'));
    $('process').addEventListener('click', processMovies);
    $('cancel').addEventListener('click', cancel);
    $('save-report').addEventListener('click', saveReport);
    $('clear-list').addEventListener('click', () => {
      list.clear();
      refused.clear();
      clearImportErrors();
      $('add-movies').focus();
    });
    $('dismiss-import-errors').addEventListener('click', () => {
      clearImportErrors();
      $('add-movies').focus();
    });
    $('sort').addEventListener('change', () => {
      header.setSort($('sort').value);
      list.setView({ sort: $('sort').value, descending: false });
      listChanged();
    });
    $('settings-toggle').addEventListener('click', () => toggleFold('settings', $('settings-toggle')));
    $('import-errors-toggle').addEventListener('click', () => toggleFold('imports', $('import-errors-toggle')));
    window.addEventListener('resize', paintFolds);
    // The bar's height follows the root font size, whoever sets it.
    if (typeof ResizeObserver === 'function') {
      new ResizeObserver(() => requestAnimationFrame(paintFolds)).observe(document.querySelector('.topbar'));
    }
    $('only-problems').addEventListener('change', () => {
      list.setView({ problemsOnly: $('only-problems').checked });
      listChanged();
    });
    $('help').addEventListener('click', openHelp);
    $('help-close').addEventListener('click', () => $('help-panel').close());
    $('confirm-cancel').addEventListener('click', () => $('confirm').close('cancel'));
    $('confirm-ok').addEventListener('click', () => $('confirm').close('confirm'));
    $('restore-all').addEventListener('click', restoreAll);
    $('remove-backups').addEventListener('click', removeBackups);
    $('notices-link').addEventListener('click', (event) => {
      event.preventDefault();
      Bridge.invoke('third_party_notices').catch((error) => showError(error.message));
    });
    $('close-blocked-dismiss').addEventListener('click', () => { $('close-blocked').hidden = true; });
    // The shell turns drops into events; a drop the web view sees itself must
    // not navigate away from the page.
    for (const type of ['dragover', 'drop']) document.addEventListener(type, (event) => event.preventDefault());
  }

  function onCloseBlocked() {
    $('close-blocked-text').textContent = CLOSE_BLOCKED;
    $('close-blocked').hidden = false;
    $('close-blocked-dismiss').focus();
  }

  async function start() {
    panel = root.VelmoraSettingsPanel.create($('settings'), {
      onChange: settingsChanged,
      onChooseDestination: () => Bridge.invoke('destination')
        .then((path) => { if (typeof path === 'string') panel.setDestination(path); })
        .catch((error) => showError(error.message)),
    });
    list = root.VelmoraMovieList.create({
      tbody: $('movie-rows'),
      scroller: document.querySelector('.table-wrap'),
      nameHeader: $('name-heading'),
      tip: $('name-tip'),
      onChange: listChanged,
      onReveal: (file) => Bridge.invoke('reveal', { file }).catch((error) => showRevealFailure(file, error.message)),
      onRestore: restore,
      checkOutputs: (paths) => Bridge.invoke('outputs_exist', { paths }).then((reply) => reply && reply.exists),
    });
    header = root.VelmoraListHeader.create({
      head: document.querySelector('.movies .head'),
      table: document.querySelector('.movies'),
      onSort: (key, descending) => {
        $('sort').value = key;
        list.setView({ sort: key, descending });
        listChanged();
      },
      onWidth: (rem) => {
        settings = { ...settings, movieColumnWidth: rem };
        save(settings);
      },
    });
    wire();
    panel.show(settings);
    paintFolds();
    listChanged();

    if (!Bridge.connected()) showError('Velmora is not connected: open this page from the Velmora application.');
    await Promise.all([
      Bridge.listen('native://drag-enter', () => setDragging(true)),
      Bridge.listen('native://drag-leave', () => setDragging(false)),
      Bridge.listen('native://drag-drop', (payload) => {
        setDragging(false);
        importPaths(payload && Array.isArray(payload.paths) ? payload.paths : []);
      }),
      Bridge.listen('progress', onProgress),
      Bridge.listen('close-blocked', onCloseBlocked),
      Bridge.listen('native://save-report', saveReport),
    ]);
    // Settings first: files held by the shell arrive right after "ui_ready"
    // and are imported with the loaded "recursive" setting.
    try {
      settings = S.normalize(await Bridge.invoke('load_settings'));
    } catch (error) {
      if (Bridge.connected()) showError(error.message);
    }
    panel.show(settings);
    header.setWidth(settings.movieColumnWidth);
    $('created-heading').textContent = F.createdHeading(settings.timezone);
    paintFolds();
    listChanged();
    document.body.dataset.ready = 'true';
    if (Bridge.connected()) Bridge.invoke('ui_ready').catch((error) => showError(error.message));
  }

  root.VelmoraApp = Object.freeze({ start });
  document.addEventListener('DOMContentLoaded', () => { start(); });
})(window);
