// Where the backend will publish a movie, worked out before Process with the
// backend's own rules: the folder (chosen destination, with the movie's
// relative folder when kept, or "Velmora Output" beside the movie), the name
// (the suffix, "_TC" by default, or prefix and running number) and, in place, the backup
// pattern. The backend makes the folder canonical later; symbolic links and
// ".." parts are therefore shown as written. Pure.
const VelmoraOutputNaming = (function (S) {
  'use strict';

  const DEFAULT_FOLDER = 'Velmora Output';
  const BACKUP_MARK = '.velmora-backup-';
  const INVALID_SOURCE = 'Invalid source path';
  const OVERWRITE = 'Output would overwrite the source.';
  const EMPTY_SUFFIX = 'An empty suffix needs an output folder other than the movie\'s own folder.';

  const join = (folder, name) => (folder.endsWith('/') ? folder + name : folder + '/' + name);

  function parentOf(path) {
    const slash = path.lastIndexOf('/');
    if (slash < 0 || slash === path.length - 1) return null;
    return slash === 0 ? '/' : path.slice(0, slash);
  }

  const withSlash = (folder) => (folder.endsWith('/') ? folder : folder + '/');

  function folderFor(source, relativeDir, settings, card) {
    const parent = parentOf(source);
    if (parent === null) return { ok: false, error: INVALID_SOURCE };
    if (!settings.copy) return { ok: true, folder: parent };
    const destination = typeof settings.destination === 'string' ? settings.destination : '';
    if (destination === '') return { ok: true, folder: join(parent, DEFAULT_FOLDER) };
    // The kept structure only applies below a chosen destination: the
    // default folder already sits inside the movie's own folder. A movie
    // found in a given folder goes below that folder's own name.
    if (!settings.retain) return { ok: true, folder: destination };
    let folder = destination;
    if (card) folder = join(folder, card);
    if (relativeDir) folder = join(folder, relativeDir);
    return { ok: true, folder };
  }

  // {ok, folder, name, path, backup} for the movie at 0-based `position` of
  // the batch; `backup` is the backup path without its unique ending (in
  // place with a backup only), else null. {ok: false, error} with the backend's message.
  function preview(record, given, position) {
    // As the backend reads options: only the boolean true counts.
    const settings = { copy: given.copy === true, append: given.copy !== true && given.append === true,
      destination: given.destination, retain: given.retain === true,
      rename: given.rename === true, prefix: typeof given.prefix === 'string' ? given.prefix : '',
      number: given.number === true, suffix: S.isValidSuffix(given.suffix) ? given.suffix : S.DEFAULTS.suffix };
    const source = record && typeof record.path === 'string' ? record.path : '';
    const relativeDir = record && typeof record.relativeDir === 'string' ? record.relativeDir : '';
    const card = record && typeof record.card === 'string' ? record.card : '';
    const folder = folderFor(source, relativeDir, settings, card);
    if (!folder.ok) return folder;
    const name = source.slice(source.lastIndexOf('/') + 1);
    // Stamped where it lies: the movie itself, and no backup.
    if (settings.append) return { ok: true, folder: folder.folder, name, path: source, backup: null };
    if (!settings.copy) {
      return { ok: true, folder: folder.folder, name, path: source, backup: source + BACKUP_MARK };
    }
    if (settings.rename && S.prefixProblem(settings.prefix)) return { ok: false, error: S.PREFIX_MESSAGE };
    if (!settings.rename && settings.suffix === '' && withSlash(folder.folder) === withSlash(parentOf(source))) {
      return { ok: false, error: EMPTY_SUFFIX };
    }
    const outputName = S.outputName(name, settings, position);
    const path = join(folder.folder, outputName);
    if (path === source) return { ok: false, error: OVERWRITE };
    return { ok: true, folder: folder.folder, name: outputName, path, backup: null };
  }

  return Object.freeze({ DEFAULT_FOLDER, BACKUP_MARK, EMPTY_SUFFIX, folderFor, preview });
})(typeof module === 'object' && module.exports ? require('./settings.js') : window.VelmoraSettings);

if (typeof module === 'object' && module.exports) module.exports = VelmoraOutputNaming;
else window.VelmoraOutputNaming = VelmoraOutputNaming;
