// The operator's console in a browser: polls the server's API once a second with the admin token
// and shows what the window shows. The token comes from the address's fragment (never sent to the
// server), is kept for this tab only, and goes out only as an Authorization header.
'use strict';

const TOKEN_KEY = 'nuvoAdminToken';
const LOG_LINES = 2000;      // as many as the window's log view holds
const WINDOW_SECONDS = 600;

let token = null;
let chart = null;
let logNext = 0;
let resourcesSeen = null;    // "passes/running" when the resource view was last fetched
let polling = null;
let session = 0;             // a new token starts a new one; polls of an older one stop

const $ = (id) => document.getElementById(id);

function takeToken() {
  const match = /(?:^#|&)token=([^&]+)/.exec(location.hash);
  if (match) {
    sessionStorage.setItem(TOKEN_KEY, decodeURIComponent(match[1]));
    // Out of the address bar and the history.
    history.replaceState(null, '', location.pathname + location.search);
  }
  return sessionStorage.getItem(TOKEN_KEY);
}

class Unauthorized extends Error {}

async function api(path, method = 'GET') {
  const response = await fetch(path, {
    method,
    headers: { Authorization: 'Bearer ' + token },
    cache: 'no-store',
    credentials: 'omit',
  });
  if (response.status === 401) throw new Unauthorized();
  if (!response.ok) throw new Error(path + ': ' + response.status);
  return response.json();
}

function showLogin(refused) {
  ++session;
  clearTimeout(polling);
  polling = null;
  token = null;
  sessionStorage.removeItem(TOKEN_KEY);
  $('console').hidden = true;
  $('login').hidden = false;
  $('login-error').textContent = '令牌无效';
  $('login-error').hidden = !refused;
  $('token-input').focus();
}

// Nothing of the console shows before the server has taken the token.
async function enter() {
  const mine = ++session;
  clearTimeout(polling);
  let status;
  try {
    status = await api('api/status');
  } catch (e) {
    if (e instanceof Unauthorized) showLogin(true);
    else { $('login').hidden = false; $('login-error').hidden = false; $('login-error').textContent = '无法连接服务器'; }
    return;
  }
  $('login').hidden = true;
  $('console').hidden = false;
  logNext = 0;
  resourcesSeen = null;
  $('log').textContent = '';
  if (!chart) chart = makeChart();
  showStatus(status);
  pollLoop(mine);
}

// One poll at a time, the next a second after the last ended.
async function pollLoop(mine) {
  if (mine !== session) return;
  await poll();
  if (mine === session && token) polling = setTimeout(() => pollLoop(mine), 1000);
}

function makeChart() {
  const dataset = (label, color, axis) => ({
    label, data: [], borderColor: color, backgroundColor: color, borderWidth: 1.5, pointRadius: 0, yAxisID: axis,
  });
  return new Chart($('traffic-chart'), {
    type: 'line',
    data: {
      datasets: [
        dataset('请求/秒', '#1f6fd0', 'y'),
        dataset('错误/秒', '#d02020', 'y'),
        // Filled beneath the others: its shape follows the requests', and its own axis would hide it.
        { ...dataset('发出 KB/秒', '#20a040', 'y1'), fill: 'origin', backgroundColor: 'rgba(32, 160, 64, 0.2)', order: 1 },
      ],
    },
    options: {
      animation: false,
      maintainAspectRatio: false,
      parsing: false,
      normalized: true,
      interaction: { mode: 'nearest', axis: 'x', intersect: false },
      scales: {
        x: { type: 'linear', min: -WINDOW_SECONDS, max: 0, title: { display: true, text: '秒' } },
        y: { beginAtZero: true, position: 'left', title: { display: true, text: '次/秒' } },
        y1: { beginAtZero: true, position: 'right', grid: { drawOnChartArea: false }, title: { display: true, text: 'KB/秒' } },
      },
    },
  });
}

function uptimeText(seconds) {
  const d = Math.floor(seconds / 86400), h = Math.floor(seconds / 3600) % 24;
  const m = Math.floor(seconds / 60) % 60, s = seconds % 60;
  return (d ? d + '天' : '') + h + '时' + m + '分' + s + '秒';
}

function sizeText(bytes) {
  if (bytes === null) return '';
  if (bytes < 1024) return bytes + ' B';
  if (bytes < 1024 * 1024) return (bytes / 1024).toFixed(1) + ' KB';
  return (bytes / 1024 / 1024).toFixed(2) + ' MB';
}

function showStatus(s) {
  document.title = s.caption;
  $('caption').textContent = s.caption;
  s.panels.forEach((text, i) => { $('panel' + i).textContent = text; });
  $('fact-address').textContent = s.address || '-';
  $('fact-version').textContent = s.version;
  $('fact-uptime').textContent = uptimeText(s.uptimeSeconds);
  $('fact-pass').textContent = s.pass.running
    ? '加载中…'
    : (s.pass.completed ? '上次用时 ' + Number(s.pass.lastSeconds).toFixed(2) + ' 秒（共 ' + s.pass.completed + ' 次）' : '-');
  $('console').dataset.state = s.state;
  $('console').dataset.passRunning = String(s.pass.running);
}

function showTraffic(t) {
  const points = (values) => values.map((v, i) => ({
    x: (t.atMs[i] - t.nowMs) / 1000,
    y: t.spanMs[i] ? v * 1000 / t.spanMs[i] : 0,
  }));
  chart.data.datasets[0].data = points(t.requests);
  chart.data.datasets[1].data = points(t.errors);
  chart.data.datasets[2].data = points(t.bytes.map((b) => b / 1024));
  chart.update('none');
  $('traffic-chart').dataset.samples = String(t.atMs.length);
}

function showResources(r) {
  const body = document.createElement('tbody');
  r.rows.forEach((row, i) => {
    const tr = document.createElement('tr');
    if (!row.ok) tr.className = 'failed';
    else if (row.state !== '正常') tr.className = 'unloaded';
    const cells = [String(i), row.list.toUpperCase(), row.path, row.state, sizeText(row.size), row.hash];
    const classes = ['', '', 'path', 'state', 'size', 'hash'];
    cells.forEach((text, c) => {
      const td = document.createElement('td');
      td.textContent = text;
      if (classes[c]) td.className = classes[c];
      tr.appendChild(td);
    });
    body.appendChild(tr);
  });
  const table = $('resources');
  table.replaceChild(body, table.tBodies[0]);
  $('resources-summary').textContent = r.pass
    ? '已加载 ' + r.stored + '/' + r.listed + (r.complete ? '' : '（加载失败）') + (r.unloaded ? '（已卸载）' : '')
    : '（加载中）';
}

function showLog(l) {
  if (!l.lines.length) return;
  const view = $('log');
  const atEnd = view.scrollTop + view.clientHeight >= view.scrollHeight - 4;
  const lines = (view.textContent ? view.textContent.split('\n') : []).concat(l.lines);
  view.textContent = lines.slice(-LOG_LINES).join('\n');
  if (atEnd) view.scrollTop = view.scrollHeight;
}

async function poll() {
  try {
    const status = await api('api/status');
    showStatus(status);
    const [traffic, log] = await Promise.all([api('api/traffic'), api('api/log?since=' + logNext)]);
    showTraffic(traffic);
    showLog(log);
    logNext = log.next;
    const seen = status.pass.completed + '/' + status.pass.running;
    if (seen !== resourcesSeen) {
      showResources(await api('api/resources'));
      resourcesSeen = seen;
    }
  } catch (e) {
    if (e instanceof Unauthorized) showLogin(true);
    else $('panel3').textContent = '无法连接服务器';
  }
}


function ask(text) {
  return new Promise((resolve) => {
    $('confirm-text').textContent = text;
    $('confirm').hidden = false;
    const done = (answer) => {
      $('confirm').hidden = true;
      $('confirm-ok').onclick = $('confirm-cancel').onclick = null;
      resolve(answer);
    };
    $('confirm-ok').onclick = () => done(true);
    $('confirm-cancel').onclick = () => done(false);
    $('confirm-ok').focus();
  });
}

async function command(button) {
  if (button.dataset.confirm && !(await ask(button.dataset.confirm))) return;
  for (const b of document.querySelectorAll('#menu button')) b.disabled = true;
  try {
    showStatus(await api('api/' + button.dataset.command, 'POST'));
    resourcesSeen = null;
  } catch (e) {
    if (e instanceof Unauthorized) showLogin(true);
    else $('panel3').textContent = '命令失败: ' + e.message;
  } finally {
    for (const b of document.querySelectorAll('#menu button')) b.disabled = false;
  }
}

document.addEventListener('DOMContentLoaded', () => {
  for (const b of document.querySelectorAll('#menu button')) b.addEventListener('click', () => command(b));
  $('log').addEventListener('dblclick', () => { $('log').textContent = ''; });
  $('login-form').addEventListener('submit', (e) => {
    e.preventDefault();
    const given = $('token-input').value.trim();
    if (!given) return;
    sessionStorage.setItem(TOKEN_KEY, given);
    $('token-input').value = '';
    token = given;
    enter();
  });
  // An address with another token pasted into this tab.
  window.addEventListener('hashchange', () => {
    const given = takeToken();
    if (given && given !== token) {
      token = given;
      enter();
    }
  });
  token = takeToken();
  if (token) enter();
  else showLogin(false);
});
