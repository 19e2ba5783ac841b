<%@ Language=JScript %>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Form example</title></head>
<body>
<h1>A URL-encoded form</h1>
<form method="post" action="form.asp">
<p><label>Name <input name="name" value=""></label></p>
<p><label>Comment <textarea name="comment"></textarea></label></p>
<p><button type="submit">Send</button></p>
</form>
<% if (Request.ServerVariables("REQUEST_METHOD") == "POST") { %>
<h2>Received</h2>
<ul>
<% for (var e = new Enumerator(Request.Form); !e.atEnd(); e.moveNext()) { %>
<li><%= Server.HTMLEncode(e.item()) %> = <%= Server.HTMLEncode("" + Request.Form(e.item())) %></li>
<% } %>
</ul>
<% } %>
<p><a href="./">Back</a></p>
</body>
</html>
