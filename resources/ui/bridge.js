// The page's only way out: the shell's injected window.__VELMORA_NATIVE__.
// Opened outside Velmora the page still renders; every command then fails
// with one plain message instead of throwing.
(function (root) {
  'use strict';

  const NOT_CONNECTED = 'Velmora is not connected: open this page from the Velmora application.';

  function native() {
    const api = root.__VELMORA_NATIVE__;
    return api && typeof api.invoke === 'function' && typeof api.listen === 'function' ? api : null;
  }

  // Rejections carry the shell's or backend's message text; keep it as is.
  function messageOf(reason) {
    if (typeof reason === 'string') return reason;
    if (reason && typeof reason.message === 'string') return reason.message;
    return String(reason);
  }

  function invoke(command, args) {
    const api = native();
    if (!api) return Promise.reject(new Error(NOT_CONNECTED));
    try {
      return Promise.resolve(api.invoke(command, args === undefined ? {} : args))
        .catch((reason) => { throw new Error(messageOf(reason)); });
    } catch (reason) {
      return Promise.reject(new Error(messageOf(reason)));
    }
  }

  // Callbacks get the payload itself; the shell wraps it as {payload}.
  function listen(event, callback) {
    const api = native();
    if (!api) return Promise.resolve(() => {});
    return Promise.resolve(api.listen(event, (message) => {
      callback(message && typeof message === 'object' ? message.payload : undefined);
    }));
  }

  root.VelmoraBridge = Object.freeze({ connected: () => native() !== null, invoke, listen, messageOf });
})(window);
