// The live view's page: plain HTML, CSS and JavaScript, served by the host itself; it loads nothing
// from anywhere else. It polls /status twice a second and shows each channel's /channel/N.mjpg.
namespace quillon::host {

const char* ViewPageHtml() {
    return R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Quillon live view</title>
<style>
  body { font: 14px system-ui, sans-serif; margin: 0; background: #1d2127; color: #e8e8e8; }
  header { padding: 10px 16px; background: #2a3038; display: flex; gap: 16px; align-items: baseline; }
  header h1 { font-size: 18px; margin: 0; }
  main { display: flex; flex-wrap: wrap; gap: 16px; padding: 16px; }
  section { background: #262b32; border-radius: 6px; padding: 12px; }
  .picture { position: relative; display: inline-block; line-height: 0; cursor: crosshair; user-select: none; }
  .picture img { max-width: 640px; width: 100%; background: #000; min-width: 320px; min-height: 240px; }
  .rect { position: absolute; border: 2px dashed #ffd24d; display: none; pointer-events: none; }
  .stats { margin-top: 6px; display: flex; gap: 14px; }
  .state-connected { color: #6fdc6f; } .state-no { color: #ff7070; }
  .pad { display: grid; grid-template-columns: repeat(3, 44px); gap: 4px; margin: 8px 0; }
  button { background: #3a4250; color: #fff; border: 1px solid #566; border-radius: 4px; padding: 6px 8px; cursor: pointer; }
  button:hover { background: #4a5466; }
  ul { list-style: none; padding: 0; margin: 6px 0; } li { margin: 3px 0; display: flex; gap: 6px; align-items: center; }
  .on { color: #6fdc6f; } .off { color: #aaa; }
  input[type=text] { background: #1d2127; color: #fff; border: 1px solid #566; padding: 5px; border-radius: 4px; }
  #message { color: #ffd24d; min-height: 1.2em; }
</style>
</head>
<body>
<header><h1>Quillon live view</h1><span id="camera"></span><span id="message"></span></header>
<main>
  <div id="channels"></div>
  <section id="io"><h2>Inputs</h2><ul id="inputs"></ul><h2>Outputs</h2><ul id="outputs"></ul></section>
</main>
<script>
"use strict";
const built = { channels: -1, outputs: -1, ptz: "" };
function say(text) { document.getElementById("message").textContent = text; }
async function post(path) {
  try {
    const r = await fetch(path, { method: "POST" });
    const j = await r.json();
    if (j.result) say(j.result); else if (j.error) say(j.error);
    return j;
  } catch (e) { say("request failed: " + e); return null; }
}
function el(tag, attrs, text) {
  const e = document.createElement(tag);
  for (const k in attrs || {}) e.setAttribute(k, attrs[k]);
  if (text !== undefined) e.textContent = text;
  return e;
}
// Picture pixels of a point of the shown picture (the driver works in the stream's pixels).
function pixel(img, clientX, clientY) {
  const box = img.getBoundingClientRect();
  const x = Math.round((clientX - box.left) * img.naturalWidth / box.width);
  const y = Math.round((clientY - box.top) * img.naturalHeight / box.height);
  return { x: Math.max(0, Math.min(img.naturalWidth - 1, x)), y: Math.max(0, Math.min(img.naturalHeight - 1, y)) };
}
function buildChannels(status) {
  const root = document.getElementById("channels");
  root.textContent = "";
  for (const ch of status.channels) {
    const s = el("section", { id: "channel" + ch.index });
    s.appendChild(el("h2", {}, "Channel " + ch.index));
    const wrap = el("div", { class: "picture", id: "frame" + ch.index });
    const img = el("img", { id: "picture" + ch.index, src: "/channel/" + ch.index + ".mjpg", alt: "channel " + ch.index, draggable: "false" });
    const rect = el("div", { class: "rect" });
    wrap.appendChild(img); wrap.appendChild(rect);
    s.appendChild(wrap);
    const stats = el("div", { class: "stats" });
    stats.appendChild(el("span", { id: "state" + ch.index }, ""));
    stats.appendChild(el("span", { id: "fps" + ch.index }, ""));
    stats.appendChild(el("span", { id: "kbps" + ch.index }, ""));
    stats.appendChild(el("span", { id: "count" + ch.index }, ""));
    s.appendChild(stats);
    s.appendChild(el("div", { id: "ptz" + ch.index }));
    root.appendChild(s);
    attachPointer(ch.index, img, rect);
  }
}
// A click centres the camera on the point; a drag draws a rectangle and zooms to it.
function attachPointer(index, img, rect) {
  let start = null;
  img.addEventListener("pointerdown", (ev) => { start = { x: ev.clientX, y: ev.clientY }; ev.preventDefault(); });
  img.addEventListener("pointermove", (ev) => {
    if (!start) return;
    const box = img.getBoundingClientRect();
    rect.style.display = "block";
    rect.style.left = (Math.min(start.x, ev.clientX) - box.left) + "px";
    rect.style.top = (Math.min(start.y, ev.clientY) - box.top) + "px";
    rect.style.width = Math.abs(ev.clientX - start.x) + "px";
    rect.style.height = Math.abs(ev.clientY - start.y) + "px";
  });
  img.addEventListener("pointerup", (ev) => {
    if (!start) return;
    const caps = ptzOf(index);
    const a = pixel(img, start.x, start.y), b = pixel(img, ev.clientX, ev.clientY);
    const dragged = Math.abs(ev.clientX - start.x) > 6 || Math.abs(ev.clientY - start.y) > 6;
    start = null;
    rect.style.display = "none";
    if (!caps) { say("this channel has no PTZ"); return; }
    if (!dragged) {
      if (caps.center) post("/ptz?channel=" + index + "&action=center&x=" + b.x + "&y=" + b.y);
      return;
    }
    if (!caps.areaZoom) { say("the camera has no area zoom"); return; }
    const w = Math.max(1, Math.abs(b.x - a.x)), h = Math.max(1, Math.abs(b.y - a.y));
    const zoom = Math.max(100, Math.round(100 * Math.min(img.naturalWidth / w, img.naturalHeight / h)));
    post("/ptz?channel=" + index + "&action=areazoom&x=" + Math.round((a.x + b.x) / 2) + "&y=" + Math.round((a.y + b.y) / 2) + "&zoom=" + zoom);
  });
}
let lastStatus = null;
function ptzOf(index) { return lastStatus ? lastStatus.ptz.find((p) => p.channel === index) : null; }
const directions = [["upleft", 4, "\u2196"], ["up", 2, "\u2191"], ["upright", 5, "\u2197"], ["left", 0, "\u2190"], ["stop", -1, "\u25a0"],
                    ["right", 1, "\u2192"], ["downleft", 6, "\u2199"], ["down", 3, "\u2193"], ["downright", 7, "\u2198"]];
// A motion runs while its button is held; letting go or leaving the button stops it.
function holdToMove(button, start, stop) {
  let held = false;
  button.addEventListener("pointerdown", () => { held = true; post(start); });
  const release = () => { if (held) { held = false; post(stop); } };
  button.addEventListener("pointerup", release);
  button.addEventListener("pointerleave", release);
}
function buildPtz(p) {
  const box = document.getElementById("ptz" + p.channel);
  if (!box) return;
  box.textContent = "";
  const c = p.channel;
  const base = "/ptz?channel=" + c + "&action=";
  if (p.pan || p.tilt) {
    const pad = el("div", { class: "pad" });
    for (const [name, dir, label] of directions) {
      const b = el("button", { id: "ptz-" + name + c, title: name }, label);
      if (dir < 0) b.addEventListener("click", () => post(base + "stop"));
      else holdToMove(b, base + "move&dir=" + dir + "&speed=8", base + "stop");
      pad.appendChild(b);
    }
    box.appendChild(pad);
  }
  const row = el("div", { class: "stats" });
  if (p.zoom) {
    const zin = el("button", { id: "ptz-zoomin" + c }, "Zoom +"), zout = el("button", { id: "ptz-zoomout" + c }, "Zoom \u2212");
    holdToMove(zin, base + "zoomin&speed=8", base + "stop");
    holdToMove(zout, base + "zoomout&speed=8", base + "stop");
    row.appendChild(zin); row.appendChild(zout);
  }
  if (p.unzoom) { const u = el("button", { id: "ptz-unzoom" + c }, "Unzoom"); u.addEventListener("click", () => post(base + "unzoom")); row.appendChild(u); }
  const stop = el("button", { id: "ptz-stopall" + c }, "Stop"); stop.addEventListener("click", () => post(base + "stop")); row.appendChild(stop);
  box.appendChild(row);
  if (p.center || p.areaZoom)
    box.appendChild(el("div", {}, (p.center ? "click the picture to centre" : "") + (p.center && p.areaZoom ? "; " : "") + (p.areaZoom ? "drag a rectangle to zoom to it" : "")));
  box.appendChild(el("h3", {}, "Presets"));
  const list = el("ul", { id: "presets" + c });
  for (const name of p.presets) {
    const li = el("li", {});
    li.appendChild(el("span", { class: "preset-name" }, name));
    const go = el("button", {}, "Go"), rm = el("button", {}, "Remove");
    go.addEventListener("click", () => post(base + "preset-goto&name=" + encodeURIComponent(name)));
    rm.addEventListener("click", () => post(base + "preset-remove&name=" + encodeURIComponent(name)).then(refresh));
    li.appendChild(go); li.appendChild(rm);
    list.appendChild(li);
  }
  box.appendChild(list);
  const name = el("input", { type: "text", id: "preset-name" + c, placeholder: "preset name", maxlength: "64" });
  const add = el("button", { id: "preset-add" + c }, "Add preset here");
  add.addEventListener("click", () => { if (name.value) post(base + "preset-add&name=" + encodeURIComponent(name.value)).then(refresh); });
  box.appendChild(name); box.appendChild(add);
}
// Input states as the driver reports them: 1 when the camera sends 1, 2 for any other value.
function stateText(s) { return s === 1 ? "on (1)" : s === 2 ? "off" : "unknown"; }
function show(status) {
  lastStatus = status;
  document.getElementById("camera").textContent = status.camera + " \u00b7 " + status.stream;
  if (built.channels !== status.channels.length) { buildChannels(status); built.channels = status.channels.length; built.ptz = ""; }
  for (const ch of status.channels) {
    const st = document.getElementById("state" + ch.index);
    st.textContent = ch.state;
    st.className = ch.state === "connected" ? "state-connected" : "state-no";
    document.getElementById("fps" + ch.index).textContent = ch.fps.toFixed(1) + " pictures/s";
    document.getElementById("kbps" + ch.index).textContent = ch.kBps.toFixed(1) + " kB/s";
    document.getElementById("count" + ch.index).textContent = ch.pictures + " pictures" + (ch.width ? ", " + ch.width + "x" + ch.height : "");
  }
  const inputs = document.getElementById("inputs");
  inputs.textContent = "";
  status.inputs.forEach((s, i) => inputs.appendChild(el("li", { id: "input" + i, class: s === 1 ? "on" : "off" }, "Input " + i + ": " + stateText(s))));
  if (!status.inputs.length) inputs.appendChild(el("li", {}, "none"));
  if (built.outputs !== status.outputs.length) {
    const outputs = document.getElementById("outputs");
    outputs.textContent = "";
    status.outputs.forEach((s, i) => {
      const li = el("li", {});
      const box = el("input", { type: "checkbox", id: "output" + i });
      box.addEventListener("change", () => post("/output?index=" + i + "&state=" + (box.checked ? 2 : 1)));
      li.appendChild(box); li.appendChild(el("label", { for: "output" + i }, "Output " + i + " high"));
      outputs.appendChild(li);
    });
    if (!status.outputs.length) outputs.appendChild(el("li", {}, "none"));
    built.outputs = status.outputs.length;
  }
  status.outputs.forEach((s, i) => { const b = document.getElementById("output" + i); if (b && document.activeElement !== b) b.checked = s === 2; });
  const ptzKey = JSON.stringify(status.ptz);
  if (ptzKey !== built.ptz) { for (const p of status.ptz) buildPtz(p); built.ptz = ptzKey; }
}
async function refresh() {
  try { const r = await fetch("/status", { cache: "no-store" }); show(await r.json()); }
  catch (e) { say("the host does not answer: " + e); }
}
refresh();
setInterval(refresh, 500);
</script>
</body>
</html>
)PAGE";
}

}  // namespace quillon::host
