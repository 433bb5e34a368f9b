"use strict";
// Added to a copy of the real page by desktop_look.mjs: reports what the page
// sees of the desktop (scheme, width after the shell's zoom), where the
// keyboard focus goes, and its own state as "VELMORA-E2E {json}" console lines.
(() => {
  const report = (step, data) => console.log("VELMORA-E2E " + JSON.stringify({ step, data }));
  const dark = matchMedia("(prefers-color-scheme: dark)");
  const look = () => ({
    dark: dark.matches,
    width: window.innerWidth,
    background: getComputedStyle(document.body).backgroundColor,
  });
  const label = (node) => !node || node === document.body ? "body"
    : node.id || node.getAttribute("aria-label") || node.textContent.trim();
  dark.addEventListener("change", () => report("scheme_changed", look()));
  // The focus within the page, and the page losing and regaining the window's.
  document.addEventListener("focusin", (event) => report("focus", label(event.target)));
  window.addEventListener("blur", () => report("page_blur", label(document.activeElement)));
  window.addEventListener("focus", () => report("page_focus", label(document.activeElement)));
  document.addEventListener("keydown", (event) => {
    if (!event.ctrlKey || event.key.toLowerCase() !== "a") return;
    setTimeout(() => report("select_all", {
      rows: document.querySelectorAll("#movie-rows > .mrow").length,
      selected: document.querySelectorAll('#movie-rows > .mrow[aria-selected="true"]').length,
      pageText: String(getSelection()).includes("Source of the start"),
    }), 100);
  });
  window.addEventListener("resize", () => report("resized", look()));

  document.addEventListener("DOMContentLoaded", () => {
    const rows = document.getElementById("movie-rows");
    const notice = document.getElementById("close-blocked");
    let rowSeen = false;
    new MutationObserver(() => {
      if (!rowSeen && rows.querySelector(".out-path[title]")) {
        rowSeen = true;
        report("row", { look: look(), output: rows.querySelector(".out-path").title });
      }
    }).observe(rows, { subtree: true, childList: true, attributes: true });
    new MutationObserver(() => report("processing", document.body.classList.contains("processing")))
      .observe(document.body, { attributes: true, attributeFilter: ["class"] });
    new MutationObserver(() => report("zoom", getComputedStyle(document.documentElement).fontSize))
      .observe(document.documentElement, { attributes: true, attributeFilter: ["style"] });
    new MutationObserver(() => report("close_blocked", !notice.hidden))
      .observe(notice, { attributes: true, attributeFilter: ["hidden"] });
    // A notice with a Copy button; once copied, a field of the probe's own
    // takes the paste.
    const messages = document.getElementById("messages");
    // Added only then, so that it is not the page's last element before.
    const target = document.createElement("textarea");
    target.setAttribute("aria-label", "Paste target");
    target.addEventListener("input", () => report("pasted", target.value));
    let copied = false;
    new MutationObserver(() => {
      const item = messages.querySelector("li");
      const copy = item && item.querySelector("button.copy-path");
      if (!copy) return;
      if (copy.textContent === "Copied" && !copied) {
        copied = true;
        document.body.append(target);
        target.focus();
        report("copied", true);
      } else if (!copied) {
        report("notice", { text: item.querySelector("span").innerText, copy: copy.getAttribute("aria-label") });
      }
    }).observe(messages, { subtree: true, childList: true, characterData: true });
  });
})();
