// Runs the injected page API and the event script, as the shell writes them,
// against a stand-in for WebKit's message handler.
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import vm from "node:vm";

const tool = process.env.VELMORA_PAGE_SCRIPT_TOOL;
const injected = execFileSync(tool, ["inject"], { encoding: "utf8" });
const frameGuard = execFileSync(tool, ["frame-guard"], { encoding: "utf8" });
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

test("invoke posts exactly the command and its arguments, an empty object by default", async () => {
  const { window, posted, replies } = page();
  const promise = window.__VELMORA_NATIVE__.invoke("load_settings");
  assert.equal(promise, replies[0], "the handler's promise is handed back as it is");
  assert.deepEqual(await promise, { echoed: "load_settings" });
  window.__VELMORA_NATIVE__.invoke("import_movies", { paths: ["/m/a.mov"], recursive: true });
  assert.equal(posted.length, 2);
  assert.deepEqual(JSON.parse(JSON.stringify(posted[0])), { command: "load_settings", args: {} });
  assert.deepEqual(JSON.parse(JSON.stringify(posted[1])), { command: "import_movies", args: { paths: ["/m/a.mov"], recursive: true } });
  window.__VELMORA_NATIVE__.invoke("cancel", null);
  assert.deepEqual(JSON.parse(JSON.stringify(posted[2])), { command: "cancel", args: null }, "only a missing object defaults");
});

test("the page API has invoke and listen and cannot be replaced", () => {
  const { window } = page();
  const native = window.__VELMORA_NATIVE__;
  assert.deepEqual(Object.keys(native).sort(), ["invoke", "listen"]);
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

// A frame's window as WebKit gives it: the handlers share one prototype per
// frame, and the frame's own code runs after the guard.
function frame({ top }) {
  const sent = [];
  class UserMessageHandler {
    postMessage(body) {
      sent.push({ handler: this.name, body });
      return Promise.resolve(null);
    }
  }
  const velmora = Object.assign(new UserMessageHandler(), { name: "velmora" });
  const other = Object.assign(new UserMessageHandler(), { name: "velmoraConsole" });
  const window = { webkit: { messageHandlers: { velmora, velmoraConsole: other } } };
  window.top = top ? window : {};
  const context = vm.createContext({ window });
  vm.runInContext(frameGuard, context);
  return { window, sent, velmora, other, UserMessageHandler };
}

test("a sub-frame's messages reach the shell without their command, by every route", () => {
  const { sent, velmora, other, UserMessageHandler } = frame({ top: false });
  const body = { command: "load_settings", args: {} };
  velmora.postMessage(body);
  Object.getPrototypeOf(velmora).postMessage.call(velmora, body);
  UserMessageHandler.prototype.postMessage.call(velmora, body);
  assert.throws(() => { Object.getPrototypeOf(velmora).postMessage = () => {}; }, TypeError);
  assert.throws(() => Object.defineProperty(velmora, "postMessage", { value: () => {} }), TypeError);
  velmora.postMessage(body);
  other.postMessage("a console line");
  assert.equal(sent.length, 5);
  for (const message of sent.slice(0, 4)) {
    assert.equal(message.handler, "velmora");
    assert.equal(Object.hasOwn(message.body, "command"), false, JSON.stringify(message.body));
  }
  assert.deepEqual(sent[4], { handler: "velmoraConsole", body: "a console line" }, "other handlers are left alone");
});

test("the top frame's handler is left as WebKit made it", () => {
  const { sent, velmora, UserMessageHandler } = frame({ top: true });
  velmora.postMessage({ command: "load_settings", args: {} });
  assert.equal(Object.getPrototypeOf(velmora).postMessage, UserMessageHandler.prototype.postMessage);
  assert.deepEqual(sent, [{ handler: "velmora", body: { command: "load_settings", args: {} } }]);
});

test("a listener that throws does not keep the others from their event", async () => {
  const { window, run } = page();
  const calls = [];
  await window.__VELMORA_NATIVE__.listen("progress", () => { calls.push("first"); throw new Error("page bug"); });
  await window.__VELMORA_NATIVE__.listen("progress", (event) => calls.push(["second", event.payload]));
  assert.throws(() => run(emitScript("progress", 1)), /page bug/, "the failure still shows");
  assert.deepEqual(JSON.parse(JSON.stringify(calls)), ["first", ["second", 1]]);
});
