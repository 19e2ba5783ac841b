<%@ Language=JScript %>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Upload</title>
<style>
#progress { margin: 1em 0; }
#progress progress { width: 24em; height: 1.2em; vertical-align: middle; }
</style>
</head>
<body>
<h1>Send fields and files</h1>
<form id="upload" method="post" action="upload_done.asp" enctype="multipart/form-data">
<p><label>Title <input type="text" name="title"></label></p>
<p><label>Tags <input type="text" name="tag"> <input type="text" name="tag"></label></p>
<p><label>Comment<br><textarea name="comment" rows="3" cols="40"></textarea></label></p>
<p><label>Files <input type="file" name="upfile" multiple></label></p>
<p><label>Another file <input type="file" name="other"></label></p>
<p><button type="submit">Send</button></p>
</form>
<div id="progress" hidden>
<progress id="bar" max="100" value="0"></progress> <span id="percent">0%</span>
<span id="bytes"></span>
</div>
<p><a href="index.asp">Back</a></p>
<script>
// With script, the form is sent in the background and a bar shows how much of the whole post
// has gone: from the browser's upload events, or where it has none, from the host's progress
// report for the post's X-Progress-ID. The page that answers the post then replaces this one.
// Without script the form posts as any form does.
(function () {
  var form = document.getElementById("upload");
  if (!window.XMLHttpRequest || !window.FormData) return;
  var box = document.getElementById("progress"), bar = document.getElementById("bar");
  var percent = document.getElementById("percent"), bytes = document.getElementById("bytes");
  function mb(n) { return (n / 1048576).toFixed(1) + " MB"; }
  function show(received, size) {
    var p = size > 0 ? Math.min(100, Math.floor(received * 100 / size)) : 0;
    bar.value = p;
    percent.textContent = p + "%";
    bytes.textContent = "(" + mb(received) + " of " + mb(size) + ")";
  }
  form.addEventListener("submit", function (event) {
    event.preventDefault();
    var id = Date.now().toString(36) + "-" + Math.random().toString(36).slice(2, 12);
    var xhr = new XMLHttpRequest(), poller = null;
    function report(then) {
      var query = new XMLHttpRequest();
      query.open("GET", "/.progress?X-Progress-ID=" + encodeURIComponent(id));
      query.onloadend = function () {
        var state = {};
        try { state = JSON.parse(query.responseText); } catch (e) { /* no report this time */ }
        then(state);
      };
      query.send();
    }
    function poll() {
      report(function (state) {
        if (state.state == "uploading" || state.state == "done") show(state.received, state.size);
      });
    }
    function stop() { if (poller !== null) clearInterval(poller); poller = null; }
    xhr.open("POST", form.action);
    xhr.setRequestHeader("X-Progress-ID", id);
    if (xhr.upload && "onprogress" in xhr.upload) {
      xhr.upload.onprogress = function (e) { if (e.lengthComputable) show(e.loaded, e.total); };
    } else {
      poller = setInterval(poll, 500);
    }
    xhr.onload = function () {
      stop();
      // An answer below 400 came after the whole post was read; a refusal may come before.
      if (xhr.status < 400) {
        bar.value = 100;
        percent.textContent = "100%";
      }
      history.replaceState(null, "", xhr.responseURL || form.action);
      document.open();
      document.write(xhr.responseText);
      document.close();
    };
    // A host that refuses a post may close the connection while the browser is still sending;
    // its progress report says why.
    xhr.onerror = function () {
      stop();
      report(function (state) {
        percent.textContent = state.status == 413
            ? "The upload failed: it is larger than the server accepts."
            : "The upload failed: the connection was lost.";
        form.querySelector("button").disabled = false;
      });
    };
    form.querySelector("button").disabled = true;
    box.hidden = false;
    show(0, 0);
    xhr.send(new FormData(form));
  });
})();
</script>
</body>
</html>
