// The real page in the real shell on a desktop with a text scale and a
// colour scheme: the scheme reaches the page and follows a live switch, the
// text scale becomes the web view's zoom, About is a dialog of its own, and
// quitting while processing asks before it stops the batch.
//   node desktop_look.mjs VELMORA RESOURCES_BIN UI_DIR ARTIFACT_DIR
import { spawn, spawnSync } from "node:child_process";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { activate, check, finish, installPrograms, launch, makeMovie, sessionEnv, sleep, stopped } from "./harness.mjs";

const [velmora, binDir, uiDir, artifacts] = process.argv.slice(2);
const here = path.dirname(fileURLToPath(import.meta.url));
const root = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-desktop-look-"));
const home = path.join(root, "home");
const config = path.join(home, ".config");
const resources = path.join(root, "resources");
const movies = path.join(root, "movies");
const notes = [];

function prepare(env) {
  for (const folder of [config, movies, env.XDG_RUNTIME_DIR]) {
    fs.mkdirSync(folder, { recursive: true, mode: 0o700 });
  }
  // Writes wait long enough for the quit questions to be asked and answered.
  installPrograms(resources, binDir, 4);
  fs.cpSync(uiDir, path.join(resources, "ui"), { recursive: true, filter: (source) => path.basename(source) !== "tests" });
  fs.copyFileSync(path.join(here, "look", "look_probe.js"), path.join(resources, "ui", "look_probe.js"));
  const index = path.join(resources, "ui", "index.html");
  fs.writeFileSync(index, fs.readFileSync(index, "utf8").replace("</head>", '<script src="look_probe.js"></script>\n</head>'));
  // A custom start, so the movie (which has no timecode) can be processed.
  const data = path.join(home, "Library", "Application Support", "Velmora");
  fs.mkdirSync(data, { recursive: true });
  fs.writeFileSync(path.join(data, "settings.json"), JSON.stringify({ source: "custom", start: "01:00:00:00" }));
  const movie = path.join(movies, "clip.mov");
  makeMovie(movie);
  return movie;
}

// GTK on X11 takes its text scaling factor from the XSETTINGS manager, as
// GNOME's settings daemon serves it; xsettingsd stands in for that here.
function textScale(file, scale) {
  fs.writeFileSync(file, `Xft/DPI ${Math.round(96 * 1024 * scale)}\n`);
}

function gsettings(env, ...args) {
  return spawnSync("gsettings", args, { env, encoding: "utf8" });
}

// Whether the application's action is enabled, as the desktop's menu sees it.
function enabled(action) {
  const call = spawnSync("gdbus", ["call", "--session", "--dest", "org.velmora.Velmora", "--object-path",
    "/org/velmora/Velmora", "--method", "org.gtk.Actions.Describe", action], { encoding: "utf8" });
  assert.equal(call.status, 0, call.stderr);
  return /^\(\(true,/.test(call.stdout.trim());
}

// Viewable top-level windows with exactly this name.
function windowsNamed(name) {
  const found = spawnSync("xdotool", ["search", "--onlyvisible", "--name", `^${name.replace(/[?]/g, "\\?")}$`],
    { encoding: "utf8" });
  return found.stdout.split(/\s+/).filter(Boolean);
}

async function waitForWindow(name, present, ms = 15000) {
  const deadline = Date.now() + ms;
  while (Date.now() < deadline) {
    const ids = windowsNamed(name);
    if (present ? ids.length > 0 : ids.length === 0) return ids;
    await sleep(200);
  }
  throw new Error(`window "${name}" ${present ? "never appeared" : "stayed"}`);
}

function press(windowId, keys) {
  const focus = spawnSync("xdotool", ["windowfocus", "--sync", windowId], { encoding: "utf8" });
  assert.equal(focus.status, 0, focus.stderr);
  const key = spawnSync("xdotool", ["key", "--clearmodifiers", keys], { encoding: "utf8" });
  assert.equal(key.status, 0, key.stderr);
}

async function screenshot(name) {
  await sleep(800);  // the web process paints on its own time
  const file = path.join(artifacts, name);
  const shot = spawnSync("import", ["-window", "root", file]);
  check(`screenshot saved to ${file}`, () => assert.equal(shot.status, 0, String(shot.stderr)));
}

// A Reveal that no file manager answers (neither gdbus nor xdg-open on PATH):
// the page shows the path with a Copy button, and Copy fills the clipboard.
async function revealWithoutFileManager(env, movie) {
  const bare = path.join(root, "bare-bin");
  fs.mkdirSync(bare);
  fs.symlinkSync(spawnSync("sh", ["-c", "command -v sleep"], { encoding: "utf8" }).stdout.trim(), path.join(bare, "sleep"));
  const app = launch(velmora, ["--resources", resources, "--page-console", movie], { ...env, PATH: bare });
  const { reports } = app;
  const seen = async (step, test, ms, from = 0) => {
    const found = () => reports.slice(from).find((r) => r.step === step && test(r.data));
    if (!(await app.until(() => found() !== undefined, ms))) throw new Error(`the page never reported a matching "${step}"`);
    return found().data;
  };
  try {
    await seen("row", () => true, 60000);
    activate("process");
    await seen("processing", (on) => on === true, 15000);
    const started = reports.findIndex((r) => r.step === "processing" && r.data === true);
    await seen("processing", (on) => on === false, 60000, started);
    const output = path.join(movies, "Velmora Output", "clip_TC.mov");
    const [main] = windowsNamed("Velmora");
    // From the header bar, Shift+Tab reaches the page's last element: the row's Reveal.
    press(main, "F6");
    let mark = reports.length;
    press(main, "shift+Tab");
    const reveal = await seen("focus", () => true, 10000, mark);
    press(main, "Return");
    const notice = await seen("notice", () => true, 20000);
    check("a Reveal no file manager answers shows the path with a Copy button", () => {
      assert.equal(reveal, "Reveal the output of clip.mov");
      assert.deepEqual(notice, { text: `No file manager answered.\n${output}`, copy: `Copy the path ${output}` });
    });
    await screenshot("focus-reveal.png");
    for (let i = 0; i < 60; i += 1) {
      mark = reports.length;
      press(main, "Tab");
      const focused = await seen("focus", () => true, 5000, mark).catch(() => null);
      if (focused === `Copy the path ${output}`) break;
    }
    press(main, "Return");
    await seen("copied", () => true, 10000);
    mark = reports.length;
    press(main, "ctrl+v");
    const pasted = await seen("pasted", () => true, 10000, mark);
    check("Copy puts the path on the desktop's clipboard", () => assert.equal(pasted, output));
  } catch (error) {
    stopped(error);
  } finally {
    activate("quit");
    await app.endWithin(20000);
  }
}

async function main() {
  const env = sessionEnv(home, { XDG_CONFIG_HOME: config, GSETTINGS_BACKEND: "keyfile", XDG_RUNTIME_DIR: path.join(root, "runtime") });
  const movie = prepare(env);
  const gnome = gsettings(env, "set", "org.gnome.desktop.interface", "color-scheme", "default").status === 0;
  if (!gnome) notes.push("GNOME's interface schema is missing: the live colour scheme switch was not exercised");

  const xsettings = path.join(root, "xsettings.conf");
  textScale(xsettings, 1.5);
  const manager = spawnSync("sh", ["-c", "command -v xsettingsd"]).status === 0
    ? spawn("xsettingsd", ["-c", xsettings], { stdio: "ignore" }) : null;
  if (manager) await sleep(500);
  else notes.push("xsettingsd is missing: the text scale was not exercised");

  const app = launch(velmora, ["--resources", resources, "--page-console", movie], env);
  const { shell, reports } = app;
  // The first report of `step` (after `from`) whose data passes `test`.
  const seen = async (step, test, ms, from = 0) => {
    const found = () => reports.slice(from).find((r) => r.step === step && test(r.data));
    if (!(await app.until(() => found() !== undefined, ms))) throw new Error(`the page never reported a matching "${step}"`);
    return found().data;
  };

  try {
    const first = await seen("row", () => true, 60000);
    check("the light scheme reaches the page", () => {
      assert.equal(first.look.dark, false);
      assert.equal(first.look.background, "rgb(246, 247, 246)");
    });
    if (manager) {
      check("the text scale 1.5 zooms the page once: a 1270-pixel view is about 847 CSS pixels wide", () =>
        assert.ok(Math.abs(first.look.width - 1270 / 1.5) < 8, String(first.look.width)));
    }
    check("the row shows its output before Process", () =>
      assert.equal(first.output, path.join(movies, "Velmora Output", "clip_TC.mov")));
    await screenshot("shell-light-large-text.png");

    if (gnome) {
      const mark = reports.length;
      gsettings(env, "set", "org.gnome.desktop.interface", "color-scheme", "prefer-dark");
      const changed = await seen("scheme_changed", (look) => look.dark, 15000, mark);
      check("switching GNOME to dark switches the running page", () =>
        assert.deepEqual([changed.dark, changed.background], [true, "rgb(16, 19, 17)"]));
      await screenshot("shell-dark-large-text.png");
    }

    if (manager) {
      const mark = reports.length;
      textScale(xsettings, 1.25);
      manager.kill("SIGHUP");
      const resized = await seen("resized", (look) => Math.abs(look.width - 1270 / 1.25) < 8, 15000, mark);
      check("a new text scale zooms the running page", () => assert.ok(resized));
    }

    // Ctrl+plus and Ctrl+0 reach the page through the web view.
    const [main] = windowsNamed("Velmora");
    const click = spawnSync("xdotool", ["mousemove", "--window", main, "900", "700", "click", "1"], { encoding: "utf8" });
    assert.equal(click.status, 0, click.stderr);
    let mark = reports.length;
    press(main, "ctrl+equal");
    const larger = await seen("zoom", () => true, 10000, mark);
    mark = reports.length;
    press(main, "ctrl+0");
    const normal = await seen("zoom", () => true, 10000, mark);
    check("Ctrl+plus and Ctrl+0 zoom the page in the shell", () => assert.deepEqual([larger, normal], ["17.6px", "16px"]));

    // The focus chain: Tab past the page's last element lands in the header
    // bar and the next Tab on the page's first; Shift+Tab goes back the same
    // way; F6 moves between the two and the page keeps its element.
    const keyReports = async (key) => {
      const mark = reports.length;
      press(main, key);
      await sleep(400);
      return reports.slice(mark).filter((r) => ["focus", "page_blur", "page_focus"].includes(r.step))
        .map((r) => [r.step, r.data]);
    };
    let last = null;
    for (let i = 0; i < 80 && last === null; i += 1) {
      const moved = await keyReports("Tab");
      if (moved.some(([step]) => step === "page_blur")) last = moved.filter(([step]) => step === "focus");
    }
    last = reports.filter((r) => r.step === "focus").at(-1).data;
    const intoFirst = await keyReports("Tab");
    const backOut = await keyReports("shift+Tab");
    const intoLast = await keyReports("shift+Tab");
    const f6Out = await keyReports("F6");
    const f6In = await keyReports("F6");
    check("Tab past the last row goes to the header bar, the next Tab to the page's first element", () => {
      assert.equal(last, "Start timecode for clip.mov");
      assert.deepEqual(intoFirst.filter(([step]) => step === "focus"), [["focus", "add-movies"]]);
    });
    check("Shift+Tab from the page's first element goes to the header bar, the next to the page's last", () => {
      // The page has let its element go by the time it hears of the blur.
      assert.deepEqual(backOut.map(([step]) => step).filter((step) => step !== "page_blur"), []);
      assert.ok(backOut.length > 0);
      assert.deepEqual(intoLast.filter(([step]) => step === "focus"), [["focus", "Start timecode for clip.mov"]]);
    });
    check("F6 moves to the header bar and back to the element the page had", () => {
      assert.deepEqual(f6Out, [["page_blur", "Start timecode for clip.mov"]]);
      assert.deepEqual(f6In, [["page_focus", "Start timecode for clip.mov"]]);
    });

    // Ctrl+A: the field's own text inside a text field, every row outside.
    mark = reports.length;
    press(main, "ctrl+a");
    const inField = await seen("select_all", () => true, 10000, mark);
    await keyReports("Tab");
    await keyReports("Tab");
    mark = reports.length;
    press(main, "ctrl+a");
    const outside = await seen("select_all", () => true, 10000, mark);
    press(main, "Escape");
    check("Ctrl+A selects every row outside a text field and never the page's text", () => {
      assert.deepEqual(inField, { rows: 1, selected: 0, pageText: false });
      assert.deepEqual(outside, { rows: 1, selected: 1, pageText: false });
    });

    press(main, "ctrl+question");
    const [shortcuts] = await waitForWindow("Keyboard Shortcuts", true);
    check("Ctrl+? opens the Keyboard Shortcuts window", () => assert.ok(shortcuts));
    await screenshot("focus-shortcuts.png");
    press(shortcuts, "Escape");
    await waitForWindow("Keyboard Shortcuts", false);

    activate("about");
    const [about] = await waitForWindow("About Velmora", true);
    check("About Velmora opens an About dialog of its own", () => assert.ok(about));
    await screenshot("shell-about.png");
    press(about, "Escape");
    await waitForWindow("About Velmora", false);

    // Process from the menu, then try to quit twice: keep processing, then stop.
    const idleCancel = enabled("cancel");
    activate("process");
    await seen("processing", (on) => on === true, 15000);
    check("the menu offers Cancel only while a batch runs", () => assert.deepEqual([idleCancel, enabled("cancel")], [false, true]));
    activate("quit");
    await seen("close_blocked", (shown) => shown === true, 10000);
    const [question] = await waitForWindow("Stop processing and quit?", true);
    check("quitting while processing asks \"Stop processing and quit?\"", () => assert.ok(question));
    await screenshot("shell-stop-question.png");
    press(question, "alt+k");
    await waitForWindow("Stop processing and quit?", false);
    await sleep(300);
    check("Keep Processing keeps Velmora and the batch running", () => {
      assert.equal(app.exit, null);
      assert.equal(reports.filter((r) => r.step === "processing").at(-1).data, true);
    });

    activate("quit");
    const [again] = await waitForWindow("Stop processing and quit?", true);
    const asked = Date.now();
    press(again, "alt+s");
    const ended = await app.endWithin(30000);
    check("Stop and Quit cancels the batch and quits once it has answered", () => {
      assert.deepEqual(ended, { code: 0, signal: null });
      assert.ok(Date.now() - asked < 20000);
      const outputs = path.join(movies, "Velmora Output");
      assert.deepEqual(fs.existsSync(outputs) ? fs.readdirSync(outputs) : [], [], "nothing was published");
    });
  } catch (error) {
    stopped(error);
  } finally {
    await app.stop();
  }
  await revealWithoutFileManager(env, movie);
  if (manager) manager.kill();
  finish(root, notes);
}

main();
