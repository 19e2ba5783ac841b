<%@ Language=JScript %>
<!-- #include file="db_common.asp" -->
<%
  var up = Server.CreateObject("Vantrel.FileUpload");
  var conn = openUploads(up);
  var rs = conn.Execute("SELECT id, name, size, zipped, length(content) AS stored FROM files ORDER BY id");
%>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Files in the database</title></head>
<body>
<h1>Files in the database</h1>
<table border="1" cellpadding="4">
<tr><th>Row</th><th>Name</th><th>Bytes</th><th>Stored as</th><th>Stored bytes</th></tr>
<% while (!rs.EOF) {
     var id = rs("id").Value, zipped = rs("zipped").Value == 1; %>
<tr><td><%= id %></td>
<td><a class="<%= zipped ? "unzip" : "plain" %>" href="db_download.asp?id=<%= id %>"><%= h(rs("name").Value) %></a></td>
<td><%= rs("size").Value %></td><td><%= zipped ? "compressed" : "as sent" %></td><td><%= rs("stored").Value %></td></tr>
<%   rs.MoveNext();
   }
   rs.Close();
   conn.Close(); %>
</table>
<p><a href="db_upload.asp">Store more</a> · <a href="index.asp">Home</a></p>
</body>
</html>
