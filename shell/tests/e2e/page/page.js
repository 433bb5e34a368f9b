"use strict";
// Drives the bridge step by step and reports each outcome as one console line
// ("VELMORA-E2E {json}") that the test reads from the shell's standard output.
(() => {
  const native = window.__VELMORA_NATIVE__;
  const log = document.getElementById("log");

  function report(step, data) {
    console.log("VELMORA-E2E " + JSON.stringify({ step, data }));
    const item = document.createElement("li");
    item.textContent = step + ": " + JSON.stringify(data);
    if (data && data.ok === false) item.className = "bad";
    log.appendChild(item);
  }
  const errorText = (error) => (error && typeof error.message === "string" ? error.message : String(error));
  const settle = (promise) =>
    promise.then((value) => ({ ok: true, value }), (error) => ({ ok: false, error: errorText(error) }));
  const rejection = (promise) => promise.then(() => "fulfilled", (error) => typeof error);
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  async function until(test, ms) {
    for (let waited = 0; !test() && waited < ms; waited += 20) await sleep(20);
    return test();
  }

  async function listeners() {
    let calls = 0;
    const callback = () => { calls += 1; };
    await native.listen("e2e-probe", callback);
    const unsubscribe = await native.listen("e2e-probe", callback);
    window.__VELMORA_EVENT__("e2e-probe", 1);
    const once = calls;
    unsubscribe();
    window.__VELMORA_EVENT__("e2e-probe", 2);
    window.__VELMORA_EVENT__("nobody-listens", 3);
    return { once, after: calls };
  }

  async function processing(moviePath, drops, progress, blocked) {
    const imported = await settle(native.invoke("import_movies", { paths: [moviePath], recursive: false }));
    report("import", imported);
    if (!imported.ok || !imported.value || !Array.isArray(imported.value.files) || imported.value.files.length !== 1) return;
    const id = imported.value.files[0].id;
    const folder = moviePath.slice(0, moviePath.lastIndexOf("/"));
    const args = {
      ids: [id],
      timecodes: { [id]: "01:00:00:00" },
      options: { copy: true, destination: folder + "/out" },
    };
    const first = settle(native.invoke("process_movies", args));
    report("second_process", await settle(native.invoke("process_movies", args)));
    report("processing_started", { id });
    report("close_blocked", { seen: await until(() => blocked.length > 1, 15000), payloads: blocked });
    report("process", { reply: await first, progress });
  }

  // A frame inside the page's own folder posts by itself: the shell must
  // refuse it whatever route it takes to the handler.
  function fromFrame() {
    return new Promise((resolve) => {
      const frame = document.createElement("iframe");
      const timer = setTimeout(() => resolve({ loaded: false }), 10000);
      window.addEventListener("message", function answer(event) {
        if (!event.data || event.data.from !== "velmora-e2e-frame") return;
        window.removeEventListener("message", answer);
        clearTimeout(timer);
        frame.remove();
        resolve(event.data.results);
      });
      frame.src = "frame.html";
      document.body.appendChild(frame);
    });
  }

  async function main() {
    report("api", {
      invoke: typeof native?.invoke,
      listen: typeof native?.listen,
      event: typeof window.__VELMORA_EVENT__,
    });
    const drops = [];
    const progress = [];
    const blocked = [];
    await native.listen("native://drag-drop", (event) => drops.push(event.payload));
    await native.listen("progress", (event) => progress.push(event.payload));
    await native.listen("close-blocked", (event) => blocked.push(event.payload));
    report("listeners", await listeners());

    report("ui_ready", await settle(native.invoke("ui_ready")));
    await until(() => drops.length > 0, 5000);
    report("drops", drops);
    report("ui_ready_again", await settle(native.invoke("ui_ready")));
    await sleep(200);
    report("drops_after_second_ready", drops.length);

    report("load_settings", await settle(native.invoke("load_settings")));
    const direct = await settle(window.webkit.messageHandlers.velmora.postMessage({ command: "load_settings", args: {} }));
    report("direct_post", { ok: direct.ok, kind: typeof direct.value, error: direct.error });
    report("frame", await fromFrame());
    report("unknown", await settle(native.invoke("busy")));
    report("rejection_kind", await rejection(native.invoke("busy")));

    // The test hands a second file to a second launch of Velmora, which
    // passes it to this instance, and then picks About from the menu.
    report("waiting_for_second_file", {});
    report("second_drop", { arrived: await until(() => drops.length > 1, 15000), drops: drops.slice(1) });
    let helpClicks = 0;
    document.getElementById("help").addEventListener("click", () => { helpClicks += 1; });
    report("waiting_for_about", {});
    report("about", { clicked: await until(() => helpClicks > 0, 15000), clicks: helpClicks });
    const reportRequests = [];
    await native.listen("native://save-report", (event) => reportRequests.push(event.payload));
    report("waiting_for_report", {});
    report("report_request", { arrived: await until(() => reportRequests.length > 0, 15000), payloads: reportRequests });

    // Then it drags a file over the window and leaves, and drags it again and drops it.
    const drags = [];
    let entered = 0;
    for (const name of ["native://drag-enter", "native://drag-leave", "native://drag-drop"]) {
      await native.listen(name, (event) => drags.push([name, event.payload]));
    }
    await native.listen("native://drag-enter", () => report(`drag_entered_${++entered}`, {}));
    report("waiting_for_drag", {});
    const dropped = await until(() => drags.some(([name]) => name === "native://drag-drop"), 20000);
    report("drag", { dropped, drags });

    const moviePath = drops[0] && drops[0].paths && drops[0].paths[0];
    if (moviePath) await processing(moviePath, drops, progress, blocked);

    report("window_open", { refused: window.open("about:blank") === null });
    const page = location.href;
    location.href = "https://example.invalid/";
    await sleep(700);
    report("navigation", { stayed: location.href === page });
    report("done", {});
  }

  main().catch((error) => report("failed", errorText(error)));
})();
