"use strict";
// Posts to the shell from inside a frame, directly and through the handler's
// prototype, and tells the page what came back.
(async () => {
  const errorText = (error) => (error && typeof error.message === "string" ? error.message : String(error));
  const settle = (send) => {
    try {
      return Promise.resolve(send()).then((value) => ({ ok: true, value }), (error) => ({ ok: false, error: errorText(error) }));
    } catch (error) {
      return Promise.resolve({ ok: false, error: "threw: " + errorText(error) });
    }
  };
  const handler = window.webkit.messageHandlers.velmora;
  const body = { command: "load_settings", args: {} };
  const results = {
    api: typeof window.__VELMORA_NATIVE__,
    direct: await settle(() => handler.postMessage(body)),
    prototype: await settle(() => Object.getPrototypeOf(handler).postMessage.call(handler, body)),
  };
  parent.postMessage({ from: "velmora-e2e-frame", results }, "*");
})();
