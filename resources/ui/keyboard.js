// The page's part of the window's keyboard: its first and last focusable
// element for the shell's focus chain (the shell asks when Tab comes in from
// the header bar) and the element F6 returns to, Ctrl+A over the list's rows outside text fields, and Delete
// for the rows so selected.
(function (root) {
  'use strict';

  const CANDIDATES = 'a[href], button, input, select, textarea, summary, [tabindex]';
  const TEXT_TYPES = new Set(['text', 'search', 'url', 'tel', 'email', 'password', 'number']);

  // The open modal dialog holds the focus while it is shown.
  function scope() {
    const open = document.querySelector('dialog[open]');
    return open && open.matches(':modal') ? open : document.body;
  }

  function shown(node) {
    if (node.getClientRects().length === 0) return false;
    return getComputedStyle(node).visibility !== 'hidden' && node.closest('[inert]') === null;
  }

  // Only the checked radio button of a group takes a Tab stop (or the first
  // one when none is checked).
  function radioStop(node) {
    if (node.type !== 'radio' || !node.name) return true;
    const group = [...document.getElementsByName(node.name)].filter((n) => n.form === node.form);
    const checked = group.find((n) => n.checked);
    return checked ? checked === node : group[0] === node;
  }

  function tabbable(node) {
    return !node.disabled && node.tabIndex >= 0 && shown(node) && radioStop(node);
  }

  // Focuses the page's first (forward) or last element; true when there was one.
  function focusEdge(forward) {
    const stops = [...scope().querySelectorAll(CANDIDATES)].filter(tabbable);
    const target = forward ? stops[0] : stops[stops.length - 1];
    if (!target) return false;
    target.focus();
    return true;
  }

  // The element the page last had focused: the page forgets it when Tab
  // takes the focus out, F6 brings the focus back to it.
  let lastFocused = null;

  function focusBack() {
    const active = document.activeElement;
    if (active && active !== document.body) return true;
    if (lastFocused && lastFocused.isConnected && tabbable(lastFocused) && scope().contains(lastFocused)) {
      lastFocused.focus();
      return true;
    }
    return focusEdge(true);
  }

  function isTextField(node) {
    if (!node) return false;
    if (node.isContentEditable || node.tagName === 'TEXTAREA') return true;
    return node.tagName === 'INPUT' && TEXT_TYPES.has(node.type);
  }

  function rows() {
    return [...document.querySelectorAll('#movie-rows > .mrow')].filter((row) => !row.hidden);
  }

  function selectedRows() {
    return rows().filter((row) => row.getAttribute('aria-selected') === 'true');
  }

  function setSelected(row, on) {
    if (on) row.setAttribute('aria-selected', 'true');
    else row.removeAttribute('aria-selected');
    row.classList.toggle('selected', on);
  }

  function clearSelection() {
    for (const row of selectedRows()) setSelected(row, false);
  }

  // A text field keeps Ctrl+A for its own text; anywhere else it selects the
  // rows, never the page's text.
  function onSelectAll(event) {
    if (!event.ctrlKey || event.altKey || event.metaKey || event.key.toLowerCase() !== 'a') return;
    if (isTextField(document.activeElement)) return;
    event.preventDefault();
    if (scope() !== document.body) return;
    for (const row of rows()) setSelected(row, true);
  }

  // Delete removes the selected rows from the list (never a file), through
  // each row's own remove button, which a batch disables.
  function onDelete(event) {
    if (event.key !== 'Delete' || event.ctrlKey || event.altKey || event.metaKey || event.defaultPrevented) return;
    if (isTextField(document.activeElement) || scope() !== document.body) return;
    const chosen = selectedRows();
    if (chosen.length === 0) return;
    event.preventDefault();
    for (const row of chosen) {
      const remove = row.querySelector('button.remove');
      if (remove && !remove.disabled) remove.click();
    }
  }

  function onEscape(event) {
    if (event.key === 'Escape' && !event.defaultPrevented && scope() === document.body) clearSelection();
  }

  function wire() {
    document.addEventListener('keydown', onSelectAll);
    document.addEventListener('keydown', onDelete);
    document.addEventListener('keydown', onEscape);
    document.addEventListener('pointerdown', clearSelection);
    document.addEventListener('focusin', (event) => { lastFocused = event.target; });
  }

  root.VelmoraKeyboard = Object.freeze({ focusEdge, focusBack, isTextField, selectedRows, clearSelection });
  document.addEventListener('DOMContentLoaded', wire);
})(window);
