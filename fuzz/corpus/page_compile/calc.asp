<%@ Language=JScript %>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Component example</title></head>
<body>
<h1>Server.CreateObject("Test.Calc")</h1>
<%
  var calc = Server.CreateObject("Test.Calc");
  calc.Name = "calculator";
%>
<ul>
<li>calc.Add(2, 3) = <%= calc.Add(2, 3) %></li>
<li>calc.Add(2) = <%= calc.Add(2) %> (the second argument is optional, default 10)</li>
<li>calc.Concat("a", 42) = <%= calc.Concat("a", 42) %></li>
<li>calc.Item(2) = <%= calc.Item(2) %>, calc(3) = <%= calc(3) %> (default member)</li>
<li>calc.Name = <%= calc.Name %></li>
<li>calc.Bytes(5) = <%= Array.prototype.join.call(calc.Bytes(5), " ") %> (a byte array)</li>
<li>calc.Fail("on purpose"):
<% try {
     calc.Fail("on purpose");
   } catch (e) {
     Response.Write("error number 0x" + (e.number >>> 0).toString(16) + ", " + Server.HTMLEncode(e.description));
   } %></li>
</ul>
<p><a href="./">Back</a></p>
</body>
</html>
