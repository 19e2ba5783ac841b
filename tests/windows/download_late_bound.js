// Run by scripts/test-windows.sh under Wine's cscript with VtrlSrv.dll registered: a real script
// engine binds late to the download object through its registered type library. Prints one
// line per call: the failure's number in hexadecimal, or "ok".
function hex(n) {
  return (n < 0 ? n + 0x100000000 : n).toString(16);
}

function attempt(call) {
  try {
    call();
    WScript.Echo("ok");
  } catch (e) {
    WScript.Echo(hex(e.number));
  }
}

var download = new ActiveXObject("Vantrel.FileDownload");
// Bound to no page yet: E_UNEXPECTED.
attempt(function () { download.DownFromFile("C:\\missing.txt"); });
// A name the type library does not know: the engine's "no such member" error.
attempt(function () { download.NoSuchMember(); });
// Ending a page that never started is harmless.
attempt(function () { download.OnEndPage(); });
