<%@ Language=JScript %>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>vhost example site</title></head>
<body>
<h1>vhost is running</h1>
<p>This page is a script page: the host ran it as JavaScript.</p>
<table>
<tr><th>Server variable</th><th>Value</th></tr>
<% var names = ["REQUEST_METHOD", "SERVER_NAME", "SERVER_PORT", "REMOTE_ADDR", "HTTP_USER_AGENT"];
   for (var i = 0; i < names.length; i++) { %>
<tr><td><%= names[i] %></td><td><%= Server.HTMLEncode("" + Request.ServerVariables(names[i])) %></td></tr>
<% } %>
</table>
<%
  var visits = Session("visits");
  visits = (visits === undefined ? 0 : visits) + 1;
  Session.visits = visits;
%>
<p>You have opened this page <%= visits %> time(s) in this session.</p>
<p>The site folder is <code><%= Server.HTMLEncode(Server.MapPath("/")) %></code>.</p>
<ul>
<li><a href="calc.asp">A registered component called from a page</a></li>
<li><a href="form.asp">A form posted back to its page</a></li>
<li><a href="upload.asp">Upload fields and files</a></li>
<li><a href="db_upload.asp">Store files in a database</a> and <a href="db_list.asp">list them</a></li>
</ul>
</body>
</html>
