// Shared by the demo pages: connects to the client's bridge object "webobj"
// and records every signal it sends, so tests can read window.norvaLog
// through runJavaScript.
'use strict';

window.norvaLog = [];        // [{signal, args}], oldest first
window.norvaSent = [];       // [{method, args}] calls this page made on webobj
window.norvaMissing = [];    // signals the client does not expose (helps debugging)
window.norvaConnected = false;
window.webobj = null;

var NORVA_SIGNALS = [
  'recvJsonMsgInHtml', 'recvMsgInHtml', 'recvBoolMsgInHtml',
  'enableWebNotice', 'enableSaveLoginInfoInHtml', 'recvLoginInfoInHtml',
  'showMsgNotificationInHtml', 'receiveScheduleInHtml', 'rejectScheduleInHtml',
  'noticeReadInHtml', 'setClientVersionInHtml', 'logoutWsNoticeCenterInHtml'
];

function norvaFormat(value) {
  var text;
  try { text = JSON.stringify(value); } catch (e) { text = undefined; }
  return text === undefined ? String(value) : text;
}

function norvaAppend(listId, text) {
  var list = document.getElementById(listId);
  if (!list) return;
  var item = document.createElement('li');
  item.textContent = new Date().toLocaleTimeString() + '  ' + text;
  list.appendChild(item);
}

function norvaRecord(signal, args) {
  window.norvaLog.push({ signal: signal, args: args });
  norvaAppend('log', signal + '(' + args.map(norvaFormat).join(', ') + ')');
}

function norvaStatus(text, ok) {
  var el = document.getElementById('status');
  if (!el) return;
  el.textContent = text;
  el.className = ok ? 'ok' : 'warn';
}

function norvaSetText(id, text) {
  var el = document.getElementById(id);
  if (el) el.textContent = text;
}

// Calls a webobj method, keeping a visible trace of what the page sent.
function norvaCall(method) {
  var args = Array.prototype.slice.call(arguments, 1);
  if (!window.webobj || typeof window.webobj[method] !== 'function') {
    norvaStatus('cannot call webobj.' + method + ': not connected to Norva', false);
    return false;
  }
  window.norvaSent.push({ method: method, args: args });
  norvaAppend('sent', method + '(' + args.map(norvaFormat).join(', ') + ')');
  window.webobj[method].apply(window.webobj, args);
  return true;
}

// Signals every page shows the same way, when it has the element.
var NORVA_COMMON_HANDLERS = {
  setClientVersionInHtml: function (version) { norvaSetText('clientVersion', version); },
  enableWebNotice: function (on) { norvaSetText('webNoticeState', on ? 'on' : 'off'); },
  enableSaveLoginInfoInHtml: function (on) { norvaSetText('saveLoginState', on ? 'on' : 'off'); }
};

// handlers: {signalName: function(...args)} for reactions of the page itself.
// onConnected(webobj) runs once the channel is up.
function norvaConnect(handlers, onConnected) {
  if (typeof qt === 'undefined') {
    norvaStatus('not running inside Norva', false);
    return;
  }
  if (typeof QWebChannel === 'undefined') {
    norvaStatus('qwebchannel.js did not load', false);
    return;
  }
  new QWebChannel(qt.webChannelTransport, function (channel) {
    window.webobj = channel.objects.webobj;
    if (!window.webobj) {
      norvaStatus('connected, but the client exposes no "webobj"', false);
      return;
    }
    NORVA_SIGNALS.forEach(function (name) {
      var signal = window.webobj[name];
      if (!signal || typeof signal.connect !== 'function') {
        window.norvaMissing.push(name);
        return;
      }
      signal.connect(function () {
        var args = Array.prototype.slice.call(arguments);
        norvaRecord(name, args);
        var common = NORVA_COMMON_HANDLERS[name];
        if (common) common.apply(null, args);
        if (handlers && handlers[name]) handlers[name].apply(null, args);
      });
    });
    norvaStatus(window.norvaMissing.length
      ? 'connected to Norva (missing signals: ' + window.norvaMissing.join(', ') + ')'
      : 'connected to Norva', true);
    if (onConnected) onConnected(window.webobj);
    window.norvaConnected = true;
    // The client drops signals sent before we connected, and re-sends its
    // state whenever the address changes (same-document changes too). A
    // same-address pushState changes nothing, so step to a fragment and back:
    // the second step restores the address (the login page needs its exact
    // "/login" ending to receive the saved logins).
    const here = location.href.split('#')[0];
    history.pushState(null, '', here + '#norva');
    setTimeout(function () { history.replaceState(null, '', here); }, 50);
  });
}
