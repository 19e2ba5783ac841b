<%@ Language=JScript %>
<%
  // The upload object reads and cuts the posted body when the page starts.
  var up = Server.CreateObject("Vantrel.FileUpload");
  function h(text) { return Server.HTMLEncode("" + text); }
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
<p><a href="upload.asp">Send more</a> · <a href="index.asp">Home</a></p>
</body>
</html>
