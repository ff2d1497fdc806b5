// Settings page: selects show the values the include tags filled in, the
// static fields follow the address mode, and the status updates itself.
(function () {
  "use strict";

  function $(id) { return document.getElementById(id); }

  // The live stream's bit rate steps by 1 Mbit/s from index 0.
  var rate = $("stream-rate");
  for (var i = 0; i < 16; i++) {
    var o = document.createElement("option");
    o.value = String(i);
    o.textContent = (i + 1) + " Mbit/s";
    rate.appendChild(o);
  }
  var current = rate.getAttribute("data-value");
  if (current !== null && !rate.querySelector('option[value="' + current + '"]')) {
    var extra = document.createElement("option");
    extra.value = current;
    extra.textContent = (Number(current) + 1) + " Mbit/s";
    rate.appendChild(extra);
  }

  ["ip-mode", "url-index", "stream-rate"].forEach(function (id) {
    var s = $(id);
    var v = s.getAttribute("data-value");
    if (v !== null) s.value = v;
  });

  function onOff(cell) {
    cell.textContent = cell.getAttribute("data-value") === "1" ? "on" : "off";
  }
  onOff($("stream-status"));
  onOff($("rec-status"));
  $("stream-toggle").textContent =
    $("stream-status").getAttribute("data-value") === "1" ? "Stop streaming" : "Start streaming";

  // With DHCP the fixed fields are not sent.
  var mode = $("ip-mode");
  function followMode() {
    var statics = document.querySelectorAll("#net-form .static");
    for (var i = 0; i < statics.length; i++) statics[i].disabled = mode.value === "1";
  }
  mode.addEventListener("change", followMode);
  followMode();

  function showCpu(v) { $("cpu-load").textContent = v; }

  function getJson(path, done) {
    var r = new XMLHttpRequest();
    r.open("GET", path);
    r.onload = function () {
      try { done(JSON.parse(r.responseText).result); } catch (e) { /* keep the old value */ }
    };
    r.send();
  }

  getJson("/get_cpu_usage", showCpu);
  setInterval(function () {
    getJson("/get_Rec_Status", function (v) {
      var cell = $("rec-status");
      cell.setAttribute("data-value", String(v));
      onOff(cell);
    });
  }, 2000);

  // The server pushes the CPU load once a second.
  function connect() {
    var ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/");
    ws.onmessage = function (ev) { showCpu(ev.data); };
    ws.onclose = function () { setTimeout(connect, 2000); };
  }
  connect();
})();
