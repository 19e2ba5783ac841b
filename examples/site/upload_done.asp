<%@ Language=JScript %>
<%
  // The upload object reads and cuts the posted body when the page starts.
  var up = Server.CreateObject("Vantrel.FileUpload");
  function h(text) { return Server.HTMLEncode("" + text); }
  // Every file is saved twice: as it came (a taken name gets the next free number) and
  // compressed. The folders are made on first use.
  up.MakeDir("files");
  up.MakeDir("zfiles");
  var saved = [];
  for (var s = new Enumerator(up.Attachments); !s.atEnd(); s.moveNext()) {
    var file = s.item();
    var original = file.FileName;
    if (original == "") continue;
    file.SaveFileByZip("zfiles/" + original + ".gz");
    var zipped = file.FileName, zipSize = file.ZipSize;
    file.SaveFile("files/" + original);
    saved.push({ name: file.FileName, zipped: zipped, zipSize: zipSize, size: file.Size });
  }
%>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>What arrived</title></head>
<body>
<h1>What arrived</h1>
<h2>Fields (<%= up.Items.Count %>)</h2>
<table border="1" cellpadding="4">
<tr><th>#</th><th>Name</th><th>Value</th></tr>
<% var n = 0;
   for (var e = new Enumerator(up.Items); !e.atEnd(); e.moveNext()) { var item = e.item(); n++; %>
<tr><td><%= n %></td><td><%= h(item.Name) %></td><td><%= h(item.Value) %></td></tr>
<% } %>
</table>
<p>Title: <b><%= up.IsItem("title") ? h(up.Items("title").Value) : "(none)" %></b>;
   tags (all values of one name): <%= h(up.MultiVal("tag").join(", ")) %></p>
<h2>Files (<%= up.Attachments.Count %>)</h2>
<table border="1" cellpadding="4">
<tr><th>Field</th><th>File name</th><th>Size</th><th>Content type</th></tr>
<% for (var f = new Enumerator(up.Attachments); !f.atEnd(); f.moveNext()) { var a = f.item(); %>
<tr><td><%= h(a.Name) %></td><td><%= h(a.FileName) %></td><td><%= a.Size %></td><td><%= h(a.MimeType) %></td></tr>
<% } %>
</table>
<h2>Saved</h2>
<table border="1" cellpadding="4">
<tr><th>Saved as</th><th>Bytes</th><th>Compressed copy</th><th>Compressed bytes</th></tr>
<% for (var k = 0; k < saved.length; k++) { var f = saved[k]; %>
<tr><td><a class="plain" href="download.asp?name=<%= Server.URLEncode(f.name) %>"><%= h(f.name) %></a></td>
<td><%= f.size %></td>
<td><a class="unzip" href="download.asp?zip=1&amp;name=<%= Server.URLEncode(f.zipped) %>"><%= h(f.zipped) %></a></td>
<td><%= f.zipSize %></td></tr>
<% } %>
</table>
<h2>Everything that arrived (ViewParam)</h2>
<pre><% up.ViewParam(); %></pre>
<p><a href="upload.asp">Send more</a> · <a href="index.asp">Home</a></p>
</body>
</html>
