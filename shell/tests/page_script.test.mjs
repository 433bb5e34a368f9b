// Runs the injected page API and the event script, as the shell writes them,
// against a stand-in for WebKit's message handler.
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import vm from "node:vm";

const tool = process.env.VELMORA_PAGE_SCRIPT_TOOL;
const token = "00112233445566778899aabbccddeeff";
const injected = execFileSync(tool, ["inject", token], { encoding: "utf8" });
const emitScript = (name, payload) => execFileSync(tool, ["emit", name, JSON.stringify(payload)], { encoding: "utf8" });

function page() {
  const posted = [];
  const replies = [];
  const window = {
    webkit: {
      messageHandlers: {
        velmora: {
          postMessage(body) {
            posted.push(body);
            const reply = Promise.resolve({ echoed: body.command });
            replies.push(reply);
            return reply;
          },
        },
      },
    },
  };
  const context = vm.createContext({ window });
  vm.runInContext(injected, context);
  return { window, posted, replies, run: (script) => vm.runInContext(script, context) };
}

test("invoke posts the command, an empty argument object by default, and the token", async () => {
  const { window, posted, replies } = page();
  const promise = window.__VELMORA_NATIVE__.invoke("load_settings");
  assert.equal(promise, replies[0], "the handler's promise is handed back as it is");
  assert.deepEqual(await promise, { echoed: "load_settings" });
  window.__VELMORA_NATIVE__.invoke("import_movies", { paths: ["/m/a.mov"], recursive: true });
  assert.equal(posted.length, 2);
  assert.deepEqual(JSON.parse(JSON.stringify(posted[0])), { command: "load_settings", args: {}, token });
  assert.deepEqual(JSON.parse(JSON.stringify(posted[1])), { command: "import_movies", args: { paths: ["/m/a.mov"], recursive: true }, token });
});

test("the token cannot be read from the page API", () => {
  const { window } = page();
  const native = window.__VELMORA_NATIVE__;
  assert.deepEqual(Object.keys(native).sort(), ["invoke", "listen"]);
  for (const text of [JSON.stringify(native), String(native.invoke), String(native.listen), String(window.__VELMORA_EVENT__)]) {
    assert.ok(!text.includes(token), text);
  }
  assert.throws(() => { window.__VELMORA_NATIVE__ = { invoke() {} }; }, TypeError);
  assert.equal(window.__VELMORA_NATIVE__, native, "the page API cannot be replaced");
});

test("listeners: once per function, in the order added, each with {payload}, until unsubscribed", async () => {
  const { window, run } = page();
  const calls = [];
  const first = (event) => calls.push(["first", event]);
  const second = (event) => calls.push(["second", event]);
  const unsubscribeFirst = await window.__VELMORA_NATIVE__.listen("progress", first);
  await window.__VELMORA_NATIVE__.listen("progress", second);
  await window.__VELMORA_NATIVE__.listen("progress", first);
  run(emitScript("progress", { id: "a", index: 0, total: 2 }));
  assert.deepEqual(JSON.parse(JSON.stringify(calls)), [
    ["first", { payload: { id: "a", index: 0, total: 2 } }],
    ["second", { payload: { id: "a", index: 0, total: 2 } }],
  ]);
  unsubscribeFirst();
  run(emitScript("progress", null));
  assert.deepEqual(JSON.parse(JSON.stringify(calls.slice(2))), [["second", { payload: null }]]);
  run(emitScript("native://drag-drop", { paths: ["/a.mov"] }));  // no listener: dropped
  assert.equal(calls.length, 3);
});

test("an event script does nothing on a page without the bridge", () => {
  const context = vm.createContext({ window: {} });
  assert.equal(vm.runInContext(emitScript("close-blocked", null), context), undefined);
});

test("event names and payloads survive quoting", () => {
  const { window, run } = page();
  const seen = [];
  window.__VELMORA_NATIVE__.listen("native://drag-enter", (event) => seen.push(event.payload));
  const paths = ["/a \"b\"/c'd\\e.mov", "/é\u2028x.mp4", "</script>"];
  run(emitScript("native://drag-enter", { paths }));
  assert.deepEqual(JSON.parse(JSON.stringify(seen)), [{ paths }]);
});
